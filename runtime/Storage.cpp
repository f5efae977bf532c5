#include "runtime/Storage.h"

#include "runtime/EXCEPTIONS.h"
#include "runtime/ModuleInit.h"

namespace {

bool storageInitialised = false;
EXCEPTIONS::ExceptionSource storageSource = nullptr;

}  // namespace

namespace Storage {

void BEGIN() {
  if (!K2C_EnterBody(storageInitialised)) return;
  EXCEPTIONS::AllocateSource(storageSource);
}

void ALLOCATE(void*& p, std::uint32_t size) {
  K2C_ALLOCATE(p, size);
}

void DEALLOCATE(void*& p, std::uint32_t /*size*/) {
  K2C_DEALLOCATE(p);
}

}  // namespace Storage
