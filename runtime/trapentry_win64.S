// K2C_TrapFJump on Windows x64: where K2C_xFilter resumes a faulting thread,
// with the same arrival state as on ELF (rax = trap number, rdx = trap
// location, [rsp] = the faulting instruction, [rsp+8] = the stack pointer at
// the fault). Windows unwind data cannot read a stack pointer from memory
// except from a machine frame, so the jump first lays one out below (rip, cs,
// eflags, rsp, ss) and goes on in K2C_TrapFrame, whose unwind data says it
// was entered by the processor from the faulting instruction: a C++
// exception thrown by the trap entry unwinds into the faulting function at
// that instruction. Only r10 and r11, volatile across any call, are spent.

        .text
        .globl  K2C_TrapFJump
        .def    K2C_TrapFJump; .scl 2; .type 32; .endef
        .p2align 4
K2C_TrapFJump:
        movq    (%rsp), %r10
        movq    8(%rsp), %r11
        subq    $40, %rsp
        movq    %r10, (%rsp)
        movq    $0, 8(%rsp)
        movq    $0, 16(%rsp)
        movq    %r11, 24(%rsp)
        movq    $0, 32(%rsp)
        jmp     K2C_TrapFrame

        .def    K2C_TrapFrame; .scl 3; .type 32; .endef
        .p2align 4
        .seh_proc K2C_TrapFrame
K2C_TrapFrame:
        .seh_pushframe
        subq    $40, %rsp
        .seh_stackalloc 40
        .seh_endprologue
        movl    %eax, %ecx
        call    K2C_TrapEntry
        ud2
        .seh_endproc
