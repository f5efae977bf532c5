// The image's headers and the stack walk on the real API.
#include "platform/Win32.h"

namespace win32 {

IMAGE_NT_HEADERS* ImageNtHeader(LPVOID base) {
  if (base == nullptr) {
    return nullptr;
  }
  auto* dos = static_cast<IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
    return nullptr;
  }
  auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(static_cast<BYTE*>(base) + dos->e_lfanew);
  return headers->Signature == IMAGE_NT_SIGNATURE ? headers : nullptr;
}

// Inlined or not, WalkStack must be a frame of its own: the walk starts
// from its caller.
__attribute__((noinline)) void WalkStack(PSTACK_FRAME_VISITOR visitor, LPVOID context) {
  if (visitor == nullptr) {
    return;
  }
  CONTEXT frame{};
  ::RtlCaptureContext(&frame);
  bool afterLeaf = false;
  for (;;) {
    DWORD64 imageBase = 0;
    RUNTIME_FUNCTION* function = ::RtlLookupFunctionEntry(frame.Rip, &imageBase, nullptr);
    if (function == nullptr) {
      // Code without unwind data is a leaf (the system's call stubs are):
      // its return address is at the stack pointer. Two in a row are no
      // frames any more but words of the stack, where the walk ends.
      if (afterLeaf || frame.Rsp == 0) {
        return;
      }
      afterLeaf = true;
      frame.Rip = *reinterpret_cast<DWORD64*>(frame.Rsp);
      frame.Rsp += 8;
    } else {
      afterLeaf = false;
      PVOID handlerData = nullptr;
      DWORD64 establisher = 0;
      ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, frame.Rip, function, &frame, &handlerData,
                         &establisher, nullptr);
    }
    if (frame.Rip == 0) {
      return;
    }
    if (!visitor(frame.Rip, frame.Rsp, context)) {
      return;
    }
  }
}

}  // namespace win32
