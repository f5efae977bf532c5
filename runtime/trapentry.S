// K2C_TrapFJump: where K2C_xFilter resumes a faulting thread. On arrival
//   rax = trap number, rdx = trap location,
//   [rsp]   = the faulting instruction's address,
//   [rsp+8] = the stack pointer at the fault,
// and every other register holds its value at the fault. The unwind rules
// below describe this frame as a signal frame called from the faulting
// instruction, so a C++ exception thrown by the trap entry unwinds into the
// faulting function at exactly that instruction (its own call-site entry,
// thanks to -fnon-call-exceptions), restoring the callee-saved registers
// that the trap entry saved.

        .text
        .globl  K2C_TrapFJump
        .type   K2C_TrapFJump, @function
        .p2align 4
K2C_TrapFJump:
        .cfi_startproc
        .cfi_signal_frame
        // CFA = *(rsp + 8): DW_CFA_def_cfa_expression { DW_OP_breg7 8; DW_OP_deref }
        .cfi_escape 0x0f, 0x03, 0x77, 0x08, 0x06
        // return address (r16) at rsp + 0: DW_CFA_expression r16 { DW_OP_breg7 0 }
        .cfi_escape 0x10, 0x10, 0x02, 0x77, 0x00
        movl    %eax, %edi
        movq    %rdx, %rsi
        call    K2C_TrapEntry
        ud2
        .cfi_endproc
        .size   K2C_TrapFJump, .-K2C_TrapFJump

        .section .note.GNU-stack,"",@progbits
