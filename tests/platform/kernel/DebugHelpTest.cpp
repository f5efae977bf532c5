// The executable's section table as image headers, and the stack walk.
#include "platform/kernel/DebugHelp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel/Process.h"

namespace {

using namespace win32;

int initializedData = 1;
int uninitializedData;

__attribute__((noinline)) int codeInThisImage(int x) {
  return x * 3 + 1;
}

// The section of the executable that holds the address, or null.
const IMAGE_SECTION_HEADER* sectionHolding(const void* address) {
  HMODULE module = GetModuleHandleA(nullptr);
  IMAGE_NT_HEADERS* headers = ImageNtHeader(module);
  if (headers == nullptr) return nullptr;
  const auto wanted = reinterpret_cast<std::uintptr_t>(address);
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const IMAGE_SECTION_HEADER* table = IMAGE_FIRST_SECTION(headers);
  for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i) {
    const std::uintptr_t first = base + table[i].VirtualAddress;
    if (table[i].Misc.VirtualSize != 0 && wanted >= first &&
        wanted < first + table[i].Misc.VirtualSize) {
      return &table[i];
    }
  }
  return nullptr;
}

std::string nameOf(const IMAGE_SECTION_HEADER& section) {
  return std::string(reinterpret_cast<const char*>(section.Name),
                     strnlen(reinterpret_cast<const char*>(section.Name), IMAGE_SIZEOF_SHORT_NAME));
}

TEST(DebugHelpTest, TheExecutableHasNtHeadersOfAnAmd64Image) {
  HMODULE module = GetModuleHandleA(nullptr);
  IMAGE_NT_HEADERS* headers = ImageNtHeader(module);
  ASSERT_NE(headers, nullptr);
  EXPECT_EQ(headers->Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(headers->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_EQ(headers->OptionalHeader.ImageBase, reinterpret_cast<ULONGLONG>(module));
  EXPECT_GT(headers->FileHeader.NumberOfSections, 3);
  EXPECT_EQ(ImageNtHeader(module), headers) << "built once";
  // The file format's empty first entry is kept, so indexes match the file's.
  EXPECT_EQ(IMAGE_FIRST_SECTION(headers)[0].Misc.VirtualSize, 0u);
}

TEST(DebugHelpTest, OnlyAModuleBaseHasHeaders) {
  char local = 0;
  for (void* base : {static_cast<void*>(nullptr), static_cast<void*>(&local),
                     reinterpret_cast<void*>(&codeInThisImage)}) {
    EXPECT_EQ(ImageNtHeader(base), nullptr);
  }
}

TEST(DebugHelpTest, CodeAndDataLieInSectionsOfTheirKind) {
  struct Row {
    const char* what;
    const void* address;
    const char* section;
    DWORD wanted;
    DWORD absent;
  };
  const Row rows[] = {
      {"code", reinterpret_cast<const void*>(&codeInThisImage), ".text",
       IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ, IMAGE_SCN_MEM_WRITE},
      {"initialized data", &initializedData, ".data",
       IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE,
       IMAGE_SCN_MEM_EXECUTE},
      {"uninitialized data", &uninitializedData, ".bss",
       IMAGE_SCN_CNT_UNINITIALIZED_DATA | IMAGE_SCN_MEM_WRITE, IMAGE_SCN_MEM_EXECUTE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const IMAGE_SECTION_HEADER* section = sectionHolding(row.address);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(nameOf(*section), row.section);
    EXPECT_EQ(section->Characteristics & row.wanted, row.wanted);
    EXPECT_EQ(section->Characteristics & row.absent, 0u);
  }
  char onTheStack = 0;
  EXPECT_EQ(sectionHolding(&onTheStack), nullptr);
}

struct Frame {
  DWORD64 rip;
  DWORD64 rsp;
  DWORD64 slot;  // the word below Rsp, read while the frames are alive
};

BOOL collect(DWORD64 rip, DWORD64 rsp, LPVOID context) {
  const DWORD64 slot = *reinterpret_cast<const DWORD64*>(rsp - 8);
  static_cast<std::vector<Frame>*>(context)->push_back({rip, rsp, slot});
  return TRUE;
}

struct Limited {
  std::vector<Frame> frames;
  std::size_t limit;
};

BOOL collectUpTo(DWORD64 rip, DWORD64 rsp, LPVOID context) {
  auto& limited = *static_cast<Limited*>(context);
  limited.frames.push_back({rip, rsp, 0});
  return limited.frames.size() < limited.limit ? TRUE : FALSE;
}

__attribute__((noinline)) void recurse(int depth, std::vector<Frame>& frames) {
  if (depth > 0) {
    recurse(depth - 1, frames);
  } else {
    WalkStack(&collect, &frames);
  }
  asm volatile("" ::: "memory");  // keeps the calls from becoming jumps
}

TEST(DebugHelpTest, TheWalkSeesEveryFrameWithTheSlotOfItsReturnAddress) {
  std::vector<Frame> frames;
  recurse(5, frames);
  ASSERT_GT(frames.size(), 7u);
  // The first frame is the caller of WalkStack; then five returns into
  // recurse itself, each from a frame further up the stack.
  const IMAGE_SECTION_HEADER* text = sectionHolding(reinterpret_cast<const void*>(&recurse));
  ASSERT_NE(text, nullptr);
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    EXPECT_LT(frames[i].rsp, frames[i + 1].rsp) << "frame " << i;
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (sectionHolding(reinterpret_cast<const void*>(frames[i].rip)) != text) break;
    EXPECT_EQ(frames[i].slot, frames[i].rip) << "frame " << i;
  }
  const auto recurseAt = reinterpret_cast<DWORD64>(&recurse);
  int insideRecurse = 0;
  for (std::size_t i = 0; i < 7; ++i) {
    if (frames[i].rip > recurseAt && frames[i].rip < recurseAt + 256) ++insideRecurse;
  }
  EXPECT_EQ(insideRecurse, 6) << "the caller of WalkStack and five returns into recurse";

  Limited limited{{}, 3};
  WalkStack(&collectUpTo, &limited);
  EXPECT_EQ(limited.frames.size(), 3u) << "the visitor ends the walk";
  WalkStack(nullptr, nullptr);
}

}  // namespace
