// Halting and the finaliser list. The finalisers run newest first from one
// exit procedure, each under a handler frame of its own.
#include "runtime/TERMINATION.h"

#include <atomic>

#include "runtime/Storage.h"
#include "runtime/krExceptions.h"

namespace {

struct FinaliserNode {
  K2C_PROC finaliser;
  FinaliserNode* next;
};

// Registered by module bodies on the main thread; an exit on another thread
// (a halt, a break reported by the control thread) takes them from there.
std::atomic<FinaliserNode*> finalisers{nullptr};
bool runnerRegistered = false;

// The profiler's report; profiling is off in this system.
void K2C_show_profile() {}

// An exception in a finaliser is dropped while older finalisers remain, so
// they still run; from the last one it travels on to the next outer frame.
void runGuarded(K2C_PROC finaliser) {
  K2C_Protect([finaliser] { finaliser(); },
              [](K2C_HandlerFrame&) {
                if (finalisers.load() == nullptr) K2C_XON();
              });
}

void runFinalisers() {
  FinaliserNode* node = finalisers.load();
  while (node != nullptr) {
    if (!finalisers.compare_exchange_weak(node, node->next)) continue;
    runGuarded(node->finaliser);
    node = finalisers.load();
  }
  K2C_show_profile();
}

}  // namespace

void K2C_HALT(std::uint32_t code) {
  K2C_doexit(code);
}

void K2C_ABORT() {
  K2C_HALT(9);
}

void K2C_EXIT() {
  K2C_doexit(0);
}

void K2C_FINALEXE(K2C_PROC proc) {
  auto* node = static_cast<FinaliserNode*>(K2C_AllocMem(sizeof(FinaliserNode)));
  if (node == nullptr) K2C_TRAP_F(K2C_TRAP_NR_HEAP);
  node->finaliser = proc;
  node->next = finalisers.load();
  while (!finalisers.compare_exchange_weak(node->next, node)) {
  }
}

void K2C_FINALLY(K2C_PROC proc) {
  K2C_FINALEXE(proc);
}

// Every K2C_BEGIN ends here; the runner needs one slot only, however many
// times the run-time is entered.
void K2C_ini_termination() {
  if (runnerRegistered) return;
  runnerRegistered = true;
  K2C_atexit(&runFinalisers);
}
