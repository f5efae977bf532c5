// The process entry: the run-time starts and calls the application's body.
#include "app/Shapeboard.h"
#include "runtime/krnStart.h"

int main() {
  kStart(&Shapeboard::Main);
}
