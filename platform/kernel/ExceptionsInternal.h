// Signal stacks and signal contexts behind the exception and control-event stand-ins.
#pragma once

#include <signal.h>

#include "platform/kernel/Exceptions.h"

namespace win32::detail {

// Gives the calling thread, for the object's lifetime, an alternate signal
// stack, so that a fault (a stack overflow too) can reach the filter; the
// thread's previous alternate stack comes back afterwards. CreateThread's
// threads run inside one.
class AlternateSignalStack {
 public:
  AlternateSignalStack();
  ~AlternateSignalStack();
  AlternateSignalStack(const AlternateSignalStack&) = delete;
  AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

 private:
  void* memory_ = nullptr;
  SIZE_T size_ = 0;
  stack_t previous_{};
};

// A signal handler's saved registers (its ucontext_t) as a CONTEXT, and
// back: what the filter and GetThreadContext/SetThreadContext see and change.
void ContextFromSignal(CONTEXT& out, const void* signalContext);
void ContextToSignal(const CONTEXT& in, void* signalContext);

// Starts the thread that receives the console control signals, once. It also
// starts before main; calling this makes sure the module is linked in.
void StartConsoleCtrlThread();

// Delivers a control event as the signal thread would (the console host uses
// it for Ctrl+C typed while it reads the terminal raw).
void RaiseConsoleCtrlEvent(DWORD ctrlType);

// A fault signal that no instruction raised (sent by kill): the signal thread
// ends the program as for a termination signal (the orderly exit, then the
// signal's own default action). Async-signal-safe.
void ForwardSentFaultSignal(int signal);

// Job control: the signal thread calls `stopping` on SIGTSTP before it stops
// the process, and `continued` on every SIGCONT. The console host puts the
// terminal back for the shell there, and takes it again.
void SetJobControlHooks(void (*stopping)(), void (*continued)());
}  // namespace win32::detail
