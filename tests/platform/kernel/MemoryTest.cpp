#include "platform/kernel/Memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/kernel/Errors.h"

namespace {

using namespace win32;

bool allZero(const void* memory, SIZE_T size) {
  const auto* bytes = static_cast<const unsigned char*>(memory);
  for (SIZE_T i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(MemoryTest, ProcessHeapAllocatesZeroedBlocksWhenAsked) {
  HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(GetProcessHeap(), heap);
  void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(allZero(block, 4096));
  std::memset(block, 0xAB, 4096);
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
  EXPECT_FALSE(HeapDestroy(heap));  // the process heap stays
}

TEST(MemoryTest, ZeroByteAllocationsAreDistinctBlocks) {
  void* first = HeapAlloc(GetProcessHeap(), 0, 0);
  void* second = HeapAlloc(GetProcessHeap(), 0, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, second);
  HeapFree(GetProcessHeap(), 0, first);
  HeapFree(GetProcessHeap(), 0, second);
}

TEST(MemoryTest, PrivateHeapFreesEverythingWhenDestroyed) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  ASSERT_NE(heap, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_NE(HeapAlloc(heap, 0, 100 + i), nullptr);
  void* kept = HeapAlloc(heap, HEAP_ZERO_MEMORY, 64);
  EXPECT_TRUE(allZero(kept, 64));
  EXPECT_TRUE(HeapFree(heap, 0, kept));
  EXPECT_FALSE(HeapFree(heap, 0, kept));  // not a block of this heap any more
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(HeapDestroy(heap));
  EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(HeapDestroy(heap));
}

TEST(MemoryTest, BlocksBelongToTheirOwnHeap) {
  HANDLE heap = HeapCreate(0, 0, 0);
  void* block = HeapAlloc(GetProcessHeap(), 0, 16);
  EXPECT_FALSE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
  HeapDestroy(heap);
}

TEST(MemoryTest, HeapWithAMaximumSizeRefusesMore) {
  HANDLE heap = HeapCreate(0, 0, 1000);
  void* first = HeapAlloc(heap, 0, 600);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(HeapAlloc(heap, 0, 600), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_TRUE(HeapFree(heap, 0, first));
  EXPECT_NE(HeapAlloc(heap, 0, 600), nullptr);
  HeapDestroy(heap);
}

TEST(MemoryTest, ReserveCommitDecommitRelease) {
  constexpr SIZE_T kBlock = 64 * 1024;
  char* base = static_cast<char*>(VirtualAlloc(nullptr, 8 * kBlock, MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);

  char* block =
      static_cast<char*>(VirtualAlloc(base + 2 * kBlock, kBlock, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_EQ(block, base + 2 * kBlock);
  EXPECT_TRUE(allZero(block, kBlock));
  std::memset(block, 0x5A, kBlock);

  EXPECT_TRUE(VirtualFree(block, kBlock, MEM_DECOMMIT));
  ASSERT_EQ(VirtualAlloc(block, kBlock, MEM_COMMIT, PAGE_READWRITE), block);
  EXPECT_TRUE(allZero(block, kBlock));  // committed again: fresh zero pages

  EXPECT_EQ(VirtualAlloc(base + 7 * kBlock, 2 * kBlock, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);

  EXPECT_FALSE(VirtualFree(base, 8 * kBlock, MEM_RELEASE));  // release takes size 0
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(base, 0, MEM_RELEASE));
  EXPECT_EQ(VirtualAlloc(block, kBlock, MEM_COMMIT, PAGE_READWRITE), nullptr);
}

TEST(MemoryTest, ReserveAndCommitAtOnce) {
  auto* memory =
      static_cast<char*>(VirtualAlloc(nullptr, 10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(memory, nullptr);
  EXPECT_TRUE(allZero(memory, 10000));
  memory[9999] = 1;
  EXPECT_TRUE(VirtualFree(memory, 0, MEM_RELEASE));
}

TEST(MemoryTest, VirtualAllocRejectsBadArguments) {
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_RESERVE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_RESERVE, 0x40), nullptr);
  EXPECT_EQ(VirtualAlloc(nullptr, 4096, 0, PAGE_READWRITE), nullptr);
  EXPECT_FALSE(VirtualFree(nullptr, 0, 0));
}

// Reservations start on 64 KiB boundaries, whatever their size, so that the
// base of a region is found by masking an address inside its first 64 KiB.
class ReservationBase : public testing::TestWithParam<SIZE_T> {};

TEST_P(ReservationBase, IsAMultipleOf64KiB) {
  constexpr UINT_PTR kGranularity = 64 * 1024;
  const SIZE_T size = GetParam();
  void* regions[4] = {};
  for (void*& region : regions) {
    region = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(region) % kGranularity, 0u) << size << " bytes";
  }
  auto* committed =
      static_cast<char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(committed, nullptr);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(committed) % kGranularity, 0u);
  committed[size - 1] = 1;  // the whole size is usable
  EXPECT_TRUE(VirtualFree(committed, 0, MEM_RELEASE));
  for (void* region : regions) EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
}

INSTANTIATE_TEST_SUITE_P(MemoryTest, ReservationBase,
                         testing::Values(SIZE_T{1}, SIZE_T{4096}, SIZE_T{10000}, SIZE_T{64 * 1024},
                                         SIZE_T{64 * 1024 + 1}, SIZE_T{512} * 1024 * 1024));

TEST(MemoryTest, ReservationsOfTheWholeAddressSpaceFailCleanly) {
  EXPECT_EQ(VirtualAlloc(nullptr, ~SIZE_T{0}, MEM_RESERVE, PAGE_NOACCESS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(VirtualAlloc(nullptr, ~SIZE_T{0} - 70000, MEM_RESERVE, PAGE_NOACCESS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

}  // namespace
