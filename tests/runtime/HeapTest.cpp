// The run-time heap: size classes, blocks, limits and release, and a long
// random sequence checked against a model after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "runtime/Storage.h"
#include "runtime/kosMalloc.h"
#include "runtime/krBlockManager.h"
#include "runtime/krDTree.h"
#include "runtime/krExceptions.h"
#include "runtime/krMM.h"
#include "tests/runtime/HeapModel.h"

namespace {

constexpr std::uint32_t kBlock = 16384;

class Heap : public ::testing::Test {
 protected:
  void SetUp() override {
    K2C_init_exceptions();
    K2C_GC_INIT(false, 0, 0);
    ASSERT_EQ(K2C_objects, 0u);
  }
  void TearDown() override {
    for (void*& p : kept_) K2C_DEALLOCATE(p);
    krMM::setCollector(nullptr);
    EXPECT_EQ(K2C_busymem, 0u);
  }
  void* take(std::uint32_t size) {
    void* p = nullptr;
    K2C_ALLOCATE(p, size);
    if (p != nullptr) kept_.push_back(p);
    return p;
  }
  void drop(void* p) {
    for (void*& q : kept_) {
      if (q == p) K2C_DEALLOCATE(q);
    }
    std::erase(kept_, nullptr);
  }
  std::vector<void*> kept_;
};

struct SizeRow {
  std::uint32_t request;
  std::uint32_t counted;
  std::uint32_t busy;    // K2C_busymem for the one object
  std::uint32_t blocks;  // 16 KB blocks in use for it
};

void PrintTo(const SizeRow& row, std::ostream* os) {
  *os << row.request << " bytes";
}

class HeapSizes : public Heap, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(HeapSizes, OneObjectCountsItsSizeAndItsBlock) {
  const SizeRow row = GetParam();
  void* p = take(row.request);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(K2C_usedmem, row.counted);
  EXPECT_EQ(K2C_objects, 1u);
  EXPECT_EQ(K2C_busymem, row.busy);
  EXPECT_EQ(krBlockManager::blocksInUse(), row.blocks);
  drop(p);
  EXPECT_EQ(K2C_usedmem, 0u);
  EXPECT_EQ(K2C_objects, 0u);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_EQ(krBlockManager::blocksInUse(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Classes, HeapSizes,
                         ::testing::Values(SizeRow{1, 16, kBlock, 1},  // kind 2
                                           SizeRow{8, 16, kBlock, 1}, SizeRow{9, 24, kBlock, 1},
                                           SizeRow{152, 160, kBlock, 1},  // largest small
                                           SizeRow{153, 168, kBlock, 1},  // medium
                                           SizeRow{16160, 16168, kBlock, 1},
                                           SizeRow{16161, 16176, 16176 + 48, 0},  // large
                                           SizeRow{16328, 16336, kBlock, 1},
                                           SizeRow{100000, 100008, 100056, 0}));

TEST_F(Heap, SizeZeroYieldsNilAndChangesNoCounter) {
  void* p = &p;
  K2C_ALLOCATE(p, 0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(K2C_objects, 0u);
  EXPECT_EQ(K2C_busymem, 0u);
  take(992);
  drop(take(992));  // waits to merge with the block's rest
  p = &p;
  K2C_ALLOCATE(p, 0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(K2C_objects, 1u);
  EXPECT_EQ(K2C_usedmem, 1000u);
  EXPECT_EQ(K2C_busymem, kBlock);
}

TEST_F(Heap, RequestsNearFourGigabytesAreRefusedNotWrapped) {
  for (std::uint32_t request : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFD0u}) {
    void* p = &p;
    K2C_ALLOCATE(p, request);
    EXPECT_EQ(p, nullptr) << request;
  }
  EXPECT_EQ(K2C_objects, 0u);
}

TEST_F(Heap, DeallocateSetsTheVariableToNilAndNilDoesNothing) {
  void* p = nullptr;
  K2C_ALLOCATE(p, 40);
  K2C_DEALLOCATE(p);
  EXPECT_EQ(p, nullptr);
  K2C_DEALLOCATE(p);
  EXPECT_EQ(K2C_objects, 0u);
}

TEST_F(Heap, SmallSlotsOfOneKindShareABlockAndReleasedSlotsAreUsedFirst) {
  void* a = take(20);
  void* b = take(20);
  EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 32);
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
  drop(a);
  EXPECT_EQ(take(17), a);
}

TEST_F(Heap, AnEmptiedSmallBlockStartsAgainAtItsFirstSlot) {
  void* a = take(40);
  void* b = take(40);
  drop(b);  // b's slot waits on the released list
  drop(a);  // and the block is empty
  EXPECT_EQ(take(40), a);
  EXPECT_EQ(take(40), b);
  EXPECT_EQ(K2C_busymem, kBlock);
}

TEST_F(Heap, AFullSmallBlockServesNoMoreUntilItsLastSlotIsReleased) {
  const std::uint32_t slots = krMM::kBlockObjects / 16;
  std::vector<void*> all;
  for (std::uint32_t i = 0; i < slots; ++i) all.push_back(take(8));
  ASSERT_EQ(krBlockManager::blocksInUse(), 1u);
  drop(all[500]);
  EXPECT_NE(take(8), all[500]);
  EXPECT_EQ(krBlockManager::blocksInUse(), 2u);
  EXPECT_EQ(K2C_busymem, 2 * kBlock);
}

// A full block's released slots wait until it is empty: the threshold is met
// by the new block the next request needs, and the block's last release
// still gives it back.
struct FullBlockRow {
  const char* name;
  std::uint32_t request;  // small: 16-byte or 160-byte slots
  std::uint32_t released;
};

void PrintTo(const FullBlockRow& row, std::ostream* os) {
  *os << row.name;
}

class HeapFullBlocks : public Heap, public ::testing::WithParamInterface<FullBlockRow> {};

TEST_P(HeapFullBlocks, ReleasedSlotsOfAFullBlockWaitForTheWholeBlock) {
  const FullBlockRow row = GetParam();
  K2C_GC_INIT(false, static_cast<std::int32_t>(kBlock + 100), 0);
  const auto s = static_cast<std::uint32_t>(krMM::objectSize(row.request));
  std::vector<void*> all;
  for (std::uint32_t i = 0; i < krMM::kBlockObjects / s; ++i) all.push_back(take(row.request));
  ASSERT_EQ(take(row.request), nullptr);  // full, and no second block under the threshold
  for (std::uint32_t i = 0; i < row.released; ++i) drop(all[i]);
  EXPECT_EQ(take(row.request), nullptr);
  EXPECT_EQ(K2C_busymem, kBlock);
  for (std::uint32_t i = row.released; i < all.size(); ++i) drop(all[i]);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_NE(take(row.request), nullptr);
  K2C_GC_INIT(false, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, HeapFullBlocks,
                         ::testing::Values(FullBlockRow{"OneOf16Released", 8, 1},
                                           FullBlockRow{"AllBut1Of16Released", 8, 1020},
                                           FullBlockRow{"OneOf160Released", 152, 1},
                                           FullBlockRow{"HalfOf160Released", 152, 51}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Heap, MediumChunkAtMostThreeUnitsLargerIsTakenWhole) {
  void* a = take(192);  // 200 bytes
  take(400);            // keeps a from merging with the rest
  drop(a);
  EXPECT_EQ(take(168), a);  // 176 bytes wanted, 200 counted
  EXPECT_EQ(K2C_usedmem, 200u + 408u);
}

TEST_F(Heap, MediumChunkFourUnitsLargerIsSplit) {
  void* a = take(192);  // 200 bytes
  take(400);
  drop(a);
  EXPECT_EQ(take(160), a);  // 168 bytes: the rest (32) stays free
  EXPECT_EQ(K2C_usedmem, 168u + 408u);
}

TEST_F(Heap, NeighbouringMediumObjectsReleasedInAddressOrderMerge) {
  void* a = take(992);  // 1000 bytes
  void* b = take(992);
  take(992);
  drop(a);
  drop(b);
  EXPECT_EQ(take(1992), a);  // 2000 bytes: both chunks as one
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
}

// An object released in front of the block's free rest and asked for again
// at once: the merged chunk is split at the object only when no smaller free
// chunk would be found first.
struct ReleaseAndAskAgainRow {
  const char* name;
  bool freeChunkBetween;  // a 2000-byte chunk free elsewhere in the block
  std::uint32_t request;
  bool takenBackBefore = false;  // released and taken back once before the chunk is freed
  // Rounds of p released and asked for in another size, released and asked
  // for again, before it all: waits that ended in a merge.
  int missedRounds = 0;
};

void PrintTo(const ReleaseAndAskAgainRow& row, std::ostream* os) {
  *os << row.name;
}

// The header words of an object of `size` bytes and of the chunk after it.
std::vector<std::uint32_t> headerWords(void* p, std::uint32_t size) {
  const auto* object = static_cast<const std::uint32_t*>(p) - 2;
  const auto* next = object + size / 4;
  return {object[0], object[1], next[0], next[1]};
}

class HeapReleaseAndAskAgain : public Heap,
                               public ::testing::WithParamInterface<ReleaseAndAskAgainRow> {};

TEST_P(HeapReleaseAndAskAgain, TheRequestGetsTheChunkTheMergeAndTheSearchGive) {
  const ReleaseAndAskAgainRow row = GetParam();
  take(992);             // 1000 bytes, the block's first object
  void* x = take(1992);  // 2000 bytes
  take(992);             // keeps x from merging with p
  void* p = take(992);
  const std::vector<std::uint32_t> split = headerWords(p, 1000);
  for (int round = 0; round < row.missedRounds; ++round) {
    drop(p);
    void* q = take(912);
    ASSERT_EQ(q, p);
    drop(q);
    ASSERT_EQ(take(992), p);
    ASSERT_EQ(headerWords(p, 1000), split);
  }
  if (row.takenBackBefore) {
    drop(p);
    ASSERT_EQ(take(992), p);
  }
  if (row.freeChunkBetween) drop(x);
  drop(p);
  void* again = take(row.request);
  EXPECT_EQ(again, row.freeChunkBetween ? x : p);
  if (again == p && row.request == 992) {
    EXPECT_EQ(headerWords(p, 1000), split);  // as the merge and the split leave them
  }
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
  drop(again);
  EXPECT_EQ(take(16336 - 4000 - 8), p);  // all from p on is one free chunk again
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, HeapReleaseAndAskAgain,
    ::testing::Values(
        ReleaseAndAskAgainRow{"SameSizeNothingBetween", false, 992},
        ReleaseAndAskAgainRow{"SameSizeFreeChunkBetween", true, 992},
        ReleaseAndAskAgainRow{"SmallerNothingBetween", false, 900},
        ReleaseAndAskAgainRow{"SmallerFreeChunkBetween", true, 900},
        ReleaseAndAskAgainRow{"LargerNothingBetween", false, 1100},
        ReleaseAndAskAgainRow{"LargerFreeChunkBetween", true, 1100},
        ReleaseAndAskAgainRow{"SameSizeTakenBackBefore", false, 992, true},
        ReleaseAndAskAgainRow{"SameSizeFreeChunkAfterATakeBack", true, 992, true},
        ReleaseAndAskAgainRow{"SameSizeAfterMissedWaits", false, 992, false, 3},
        ReleaseAndAskAgainRow{"SmallerAfterMissedWaits", false, 900, false, 3},
        ReleaseAndAskAgainRow{"SameSizeFreeChunkAfterMissedWaits", true, 992, false, 3},
        ReleaseAndAskAgainRow{"SameSizeTakenBackAfterMissedWaits", false, 992, true, 3}),
    [](const auto& info) { return std::string(info.param.name); });

std::uint32_t assertionOf(void* p);

// An object alone in its block, released and asked for again: the block is
// counted released at once and the next request, whatever its class, is
// served as from a block just handed out again, the same block.
struct EmptiedBlockRow {
  const char* name;
  std::uint32_t request;
  bool countBetween;          // the block manager's counts looked at in between
  std::uint32_t first = 992;  // the object that empties the block
};

void PrintTo(const EmptiedBlockRow& row, std::ostream* os) {
  *os << row.name;
}

class HeapEmptiedBlock : public Heap, public ::testing::WithParamInterface<EmptiedBlockRow> {};

TEST_P(HeapEmptiedBlock, TheReleasedBlockServesTheNextRequestAsANewOne) {
  const EmptiedBlockRow row = GetParam();
  void* p = take(row.first);
  drop(p);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_EQ(K2C_usedmem, 0u);
  EXPECT_EQ(K2C_objects, 0u);
  if (row.countBetween) {
    EXPECT_EQ(krBlockManager::blocksInUse(), 0u);
    EXPECT_EQ(krBlockManager::blocksMarkedInUse(), 0u);
  }
  void* again = take(row.request);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again, p);  // every class starts right after the block header
  EXPECT_EQ(krBlockManager::blockIndex(again), krBlockManager::blockIndex(p));
  EXPECT_EQ(K2C_busymem, 16384u);
  EXPECT_EQ(K2C_usedmem, krMM::countedSize(static_cast<krMM::ObjectHeader*>(again) - 1));
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
  EXPECT_EQ(krBlockManager::blocksMarkedInUse(), 1u);
  void* next = take(992);  // the rest of a medium block is one free chunk
  if (row.request > 160 && krMM::objectSize(row.request) <= krMM::kMediumLimit) {
    EXPECT_EQ(next, static_cast<char*>(again) + krMM::objectSize(row.request));
  }
  drop(again);
  drop(next);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_EQ(krBlockManager::blocksInUse(), 0u);
  if (row.request > 160) {
    EXPECT_EQ(assertionOf(p), 100u);  // released, whichever way it went
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HeapEmptiedBlock,
    ::testing::Values(EmptiedBlockRow{"SameSize", 992, false},
                      EmptiedBlockRow{"SameSizeCountedBetween", 992, true},
                      EmptiedBlockRow{"OtherMediumSize", 1992, false},
                      EmptiedBlockRow{"Small", 40, false},
                      EmptiedBlockRow{"SmallAfterSmall", 40, false, 40},
                      EmptiedBlockRow{"SmallCountedBetween", 40, true, 40},
                      EmptiedBlockRow{"OtherSmallKind", 100, false, 40},
                      EmptiedBlockRow{"MediumAfterSmall", 992, false, 40},
                      EmptiedBlockRow{"SmallAfterBlockSized", 40, false, 16328},
                      EmptiedBlockRow{"BlockSizedAfterSmall", 16328, true, 40}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Heap, MediumBlockGoesBackWhenItsLastObjectIsReleasedInAnyOrder) {
  std::vector<void*> all;
  for (int i = 0; i < 10; ++i) all.push_back(take(1000));
  for (int i : {3, 1, 2, 9, 0, 7, 8, 5, 6, 4}) drop(all[i]);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_EQ(krBlockManager::blocksInUse(), 0u);
}

TEST_F(Heap, BlocksAreTakenLowestFirstAndEmptyOnesBeyondTheKeptFewAreDecommitted) {
  std::vector<void*> all;
  for (std::uint32_t i = 0; i < 4 * krBlockManager::kMinKept; ++i) all.push_back(take(16328));
  for (std::uint32_t i = 1; i < all.size(); ++i) {
    EXPECT_EQ(krBlockManager::blockIndex(all[i]), krBlockManager::blockIndex(all[0]) + int(i));
  }
  EXPECT_EQ(krBlockManager::blocksMarkedInUse(), all.size());
  for (void* p : std::vector<void*>(all)) drop(p);
  EXPECT_EQ(krBlockManager::blocksMarkedInUse(), 0u);
  EXPECT_LE(krBlockManager::blocksKeptCommitted(), krBlockManager::kMinKept);
  void* again = take(16328);
  EXPECT_NE(std::find(all.begin(), all.end(), again), all.end());
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
}

// Released blocks stay committed, but the next block is still the lowest
// one not in use, whatever the order of release.
struct ReleaseOrderRow {
  const char* name;
  std::vector<int> released;  // of the blocks, in this order
  int next;                   // the block handed out next
  int blocks = 5;             // 32 to a bitmap word
};

void PrintTo(const ReleaseOrderRow& row, std::ostream* os) {
  *os << row.name;
}

class HeapBlockOrder : public Heap, public ::testing::WithParamInterface<ReleaseOrderRow> {};

TEST_P(HeapBlockOrder, TheLowestBlockNotInUseIsHandedOut) {
  const ReleaseOrderRow row = GetParam();
  std::vector<void*> all;
  for (int i = 0; i < row.blocks; ++i) all.push_back(take(16328));
  const std::int32_t first = krBlockManager::blockIndex(all[0]);
  for (int i : row.released) drop(all[static_cast<std::size_t>(i)]);
  void* next = take(16328);
  EXPECT_EQ(krBlockManager::blockIndex(next), first + row.next);
  void* small = take(8);
  std::vector<int> left = row.released;
  std::sort(left.begin(), left.end());
  EXPECT_EQ(krBlockManager::blockIndex(small), first + (left.size() > 1 ? left[1] : row.blocks));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, HeapBlockOrder,
    ::testing::Values(ReleaseOrderRow{"LowerFirst", {1, 3}, 1},
                      ReleaseOrderRow{"HigherFirst", {3, 1}, 1},
                      ReleaseOrderRow{"NewestIsHighest", {0, 2, 4}, 0},
                      ReleaseOrderRow{"OnlyTheLast", {4}, 4},
                      ReleaseOrderRow{"AcrossWords", {40, 100, 70}, 40, 130},
                      ReleaseOrderRow{"PastFullWords", {128, 64, 127}, 64, 130},
                      ReleaseOrderRow{"OnlyPastFullWords", {100}, 100, 130},
                      ReleaseOrderRow{"WordsOfTwoSummaryWords", {2100, 2047}, 2047, 2101}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Heap, EveryBlockOfTheReservationInUseMakesAllocationYieldNil) {
  std::uint32_t taken = 0;
  while (take(16328) != nullptr) ++taken;
  EXPECT_EQ(taken, krBlockManager::kBlockCount);
  EXPECT_EQ(krBlockManager::blocksInUse(), krBlockManager::kBlockCount);
  EXPECT_EQ(take(100), nullptr);
  EXPECT_EQ(take(1000), nullptr);
  EXPECT_NE(take(20000), nullptr);  // a large block of its own still can be had
}

// Released large blocks wait for reuse below the accounting, within a
// bounded share, and the last released size finds room among them.
TEST_F(Heap, ReleasedLargeBlocksServeTheNextRequestOfTheirSizeWithinABound) {
  std::vector<void*> many;
  for (int i = 0; i < 100; ++i) many.push_back(take(60000));
  for (void* p : std::vector<void*>(many)) drop(p);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_GT(K2C_CachedBytes(), 0u);
  EXPECT_LE(K2C_CachedBytes(), std::size_t{1} << 20);
  for (int i = 0; i < 3; ++i) {
    void* a = take(20000);
    EXPECT_EQ(K2C_busymem, 20008u + 48);
    drop(a);
    const std::size_t cachedAfterOne = K2C_CachedBytes();
    EXPECT_EQ(take(20000), a) << "round " << i;
    EXPECT_LT(K2C_CachedBytes(), cachedAfterOne);
    drop(a);
  }
  EXPECT_LE(K2C_CachedBytes(), std::size_t{1} << 20);
}

// The emptied block, kept for the next request of its kind, is a new block
// to the limits: a threshold lowered meanwhile refuses it, and once another
// block goes the next request gets the lowest one.
TEST_F(Heap, AnEmptiedSmallBlockTakenAgainMeetsTheLimitsAsANewOne) {
  void* medium = take(992);
  const std::int32_t mediumBlock = krBlockManager::blockIndex(medium);
  void* small = take(40);
  drop(small);
  ASSERT_EQ(K2C_busymem, kBlock);
  K2C_threshold = kBlock + 100;
  EXPECT_EQ(take(40), nullptr);
  EXPECT_EQ(take(100), nullptr);
  EXPECT_EQ(K2C_busymem, kBlock);
  EXPECT_EQ(krBlockManager::blocksMarkedInUse(), 1u);
  drop(medium);
  void* again = take(40);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(krBlockManager::blockIndex(again), mediumBlock);
  EXPECT_EQ(K2C_busymem, kBlock);
  K2C_GC_INIT(false, 0, 0);
}

// Likewise a medium object that emptied its block: asked for again past a
// lowered threshold it is refused, and the block goes back to the manager.
TEST_F(Heap, AMediumObjectThatEmptiedItsBlockIsNotTakenBackPastTheThreshold) {
  take(40);
  void* p = take(992);
  drop(p);
  K2C_threshold = kBlock + 100;
  EXPECT_EQ(take(992), nullptr);
  EXPECT_EQ(K2C_busymem, kBlock);
  EXPECT_EQ(K2C_objects, 1u);
  EXPECT_EQ(krBlockManager::blocksMarkedInUse(), 1u);
  K2C_threshold = 0xFFFFFFFF;
  EXPECT_EQ(take(992), p);  // its block is the lowest free one again
  EXPECT_EQ(K2C_busymem, 2 * kBlock);
  drop(p);
  ASSERT_EQ(take(992), p);  // taken back once: the threshold is asked again all the same
  drop(p);
  K2C_threshold = kBlock + 100;
  EXPECT_EQ(take(992), nullptr);
  EXPECT_EQ(K2C_busymem, kBlock);
  K2C_GC_INIT(false, 0, 0);
}

TEST_F(Heap, ThresholdRefusesTheBlockThatWouldExceedIt) {
  K2C_GC_INIT(false, 2000000, 4000000);
  std::uint32_t count = 0;
  while (take(1000) != nullptr) ++count;
  EXPECT_LE(K2C_busymem, 2000000u);
  EXPECT_GT(K2C_busymem + kBlock, 2000000u);
  EXPECT_EQ(K2C_busymem, kBlock * (2000000 / kBlock));
  drop(kept_.back());
  EXPECT_NE(take(1000), nullptr);
  K2C_GC_INIT(false, 0, 0);
}

TEST_F(Heap, RaisedLimitLetsBlocksOfBothHeapsGoBackWhereTheyCameFrom) {
  K2C_GC_INIT(false, 0, 100000);
  void* before = take(50000);
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(take(50000), nullptr);
  K2C_GC_INCREASE(false, 0, 200000);
  EXPECT_EQ(K2C_maxmem, 200000u);
  void* after = take(50000);
  ASSERT_NE(after, nullptr);
  drop(before);
  drop(after);
  EXPECT_EQ(K2C_busymem, 0u);
  K2C_GC_INIT(false, 0, 0);
}

int collections = 0;
std::vector<void*>* collectable = nullptr;
void releasingCollector() {
  ++collections;
  for (void*& p : *collectable) K2C_DEALLOCATE(p);
  std::erase(*collectable, nullptr);
}

TEST_F(Heap, WithAutomaticCollectionTheHookRunsAndTheRequestIsTriedOnceMore) {
  K2C_GC_INIT(true, 0, kBlock + 100);
  collections = 0;
  collectable = &kept_;
  krMM::setCollector(&releasingCollector);
  ASSERT_NE(take(5000), nullptr);
  ASSERT_NE(take(5000), nullptr);
  ASSERT_NE(take(5000), nullptr);
  EXPECT_NE(take(16000), nullptr);  // only after the collector emptied the block
  EXPECT_EQ(collections, 1);
  K2C_GC_INIT(false, 0, 0);
}

// The collector empties the only block while a request waits for one: the
// retried request gets that block, counted once, whatever the classes.
struct CollectedBlockRow {
  const char* name;
  std::uint32_t resident;  // released by the collector
  std::uint32_t request;
};

void PrintTo(const CollectedBlockRow& row, std::ostream* os) {
  *os << row.name;
}

class HeapCollectedBlock : public Heap, public ::testing::WithParamInterface<CollectedBlockRow> {};

std::int32_t blockSeenByTheCollector = -2;
void countingReleasingCollector() {
  releasingCollector();
  blockSeenByTheCollector = static_cast<std::int32_t>(krBlockManager::blocksMarkedInUse());
}

TEST_P(HeapCollectedBlock, TheRetriedRequestGetsTheBlockTheCollectorEmptied) {
  const CollectedBlockRow row = GetParam();
  K2C_GC_INIT(true, static_cast<std::int32_t>(kBlock + 100), 0);
  collections = 0;
  collectable = &kept_;
  krMM::setCollector(&countingReleasingCollector);
  void* resident = take(row.resident);
  ASSERT_NE(resident, nullptr);
  const std::int32_t block = krBlockManager::blockIndex(resident);
  void* p = take(row.request);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(collections, 1);
  EXPECT_EQ(blockSeenByTheCollector, 0);
  EXPECT_EQ(p, resident);
  EXPECT_EQ(krBlockManager::blockIndex(p), block);
  EXPECT_EQ(K2C_busymem, kBlock);
  EXPECT_EQ(K2C_objects, 1u);
  EXPECT_EQ(krBlockManager::blocksInUse(), 1u);
  drop(p);
  EXPECT_EQ(K2C_busymem, 0u);
  EXPECT_EQ(krBlockManager::blocksMarkedInUse(), 0u);
  K2C_GC_INIT(false, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Classes, HeapCollectedBlock,
                         ::testing::Values(CollectedBlockRow{"SmallForMedium", 40, 992},
                                           CollectedBlockRow{"SmallForOtherSmall", 40, 100},
                                           CollectedBlockRow{"MediumForSmall", 992, 40},
                                           CollectedBlockRow{"MediumForOtherMedium", 16000, 992},
                                           CollectedBlockRow{"SmallForBlockSized", 40, 16328},
                                           CollectedBlockRow{"BlockSizedForMedium", 16328, 992}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Heap, WithoutAutomaticCollectionTheHookIsNotCalled) {
  K2C_GC_INIT(false, 0, kBlock + 100);
  collections = 0;
  collectable = &kept_;
  krMM::setCollector(&releasingCollector);
  ASSERT_NE(take(5000), nullptr);
  EXPECT_EQ(take(16000), nullptr);
  EXPECT_EQ(collections, 0);
  K2C_GC_INIT(false, 0, 0);
}

// Blocks of 16 KB taken until the limits refuse one, before and after a
// K2C_GC_INCREASE: the blocks in use are what the smaller limit holds.
struct RaisedLimitsRow {
  const char* name;
  std::int32_t threshold, limit;            // K2C_GC_INIT's
  std::int32_t newThreshold, newLimit;      // K2C_GC_INCREASE's
  std::uint32_t blocksBefore, blocksAfter;  // in use once refused
};

void PrintTo(const RaisedLimitsRow& row, std::ostream* os) {
  *os << row.name;
}

class HeapRaisedLimits : public Heap, public ::testing::WithParamInterface<RaisedLimitsRow> {
 protected:
  std::uint32_t takeBlocksUntilRefused() {
    while (take(16328) != nullptr) {
    }
    return K2C_busymem / kBlock;
  }
};

TEST_P(HeapRaisedLimits, ABlockIsLetInWhileBothLimitsHoldIt) {
  const RaisedLimitsRow row = GetParam();
  K2C_GC_INIT(false, row.threshold, row.limit);
  EXPECT_EQ(takeBlocksUntilRefused(), row.blocksBefore);
  K2C_GC_INCREASE(false, row.newThreshold, row.newLimit);
  EXPECT_EQ(takeBlocksUntilRefused(), row.blocksAfter);
  K2C_GC_INIT(false, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, HeapRaisedLimits,
    ::testing::Values(RaisedLimitsRow{"ThresholdRaised", 100000, 400000, 200000, 0, 6, 12},
                      RaisedLimitsRow{"LimitRaised", 0, 100000, 0, 200000, 6, 12},
                      RaisedLimitsRow{"LowerOnesKept", 200000, 200000, 100000, 100000, 12, 12},
                      RaisedLimitsRow{"ThresholdOfNone", 100000, 300000, 0, 0, 6, 18}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Heap, IncreaseKeepsHigherLimitsAndTurnsNonPositiveThresholdIntoNone) {
  K2C_GC_INIT(false, 2000000, 4000000);
  K2C_GC_INCREASE(true, 1000000, 3000000);
  EXPECT_EQ(K2C_threshold, 2000000u);
  EXPECT_EQ(K2C_maxmem, 4000000u);
  EXPECT_TRUE(krMM::gcAuto());
  K2C_GC_INCREASE(false, 0, 0);
  EXPECT_EQ(K2C_threshold, 0xFFFFFFFFu);
  EXPECT_TRUE(krMM::gcAuto());
  K2C_GC_INIT(false, 0, 0);
}

TEST_F(Heap, TypeDescriptorsNameTheirTypesWithTheMagicWord) {
  const krMM::TypeDesc* null = krMM::typeDesc(krMM::k2c_td_null);
  const krMM::TypeDesc* ptr = krMM::typeDesc(krMM::k2c_td_ptr);
  ASSERT_NE(null, nullptr);
  ASSERT_NE(ptr, nullptr);
  EXPECT_STREQ(null->name, "$NULL");
  EXPECT_EQ(null->size, 1u);
  EXPECT_STREQ(ptr->name, "$PTR");
  EXPECT_EQ(ptr->size, 4u);
  EXPECT_EQ(null->prev, ptr);
  EXPECT_EQ(null->magic, krMM::kTypeMagic);
}

// A release that the heap must refuse: the assertion number it raises.
std::uint32_t assertionOf(void* p) {
  void* const given = p;
  std::uint32_t number = 0;
  K2C_Protect([&] { K2C_DEALLOCATE(p); },
              [&](K2C_HandlerFrame& frame) { number = frame.source->number; });
  if (number != 0) {
    EXPECT_EQ(p, given);  // an assertion leaves the variable as it was
  }
  return number;
}

TEST_F(Heap, ReleasingTwiceIsAssertion100ForSmallAndMediumObjects) {
  for (std::uint32_t size : {24u, 1000u}) {
    void* keep = take(size);
    void* p = take(size);
    void* again = p;
    drop(p);
    EXPECT_EQ(assertionOf(again), 100u) << size;
    drop(keep);
  }
}

TEST_F(Heap, HeaderWithoutTypeIsAssertion100AndForeignBlockIs101) {
  alignas(8) std::uint32_t fake[16] = {};
  EXPECT_EQ(assertionOf(&fake[2]), 100u);
  fake[10] = krMM::k2c_td_null;  // a large object's header whose block is not the heap's
  fake[11] = krMM::kInfoAllocated;
  EXPECT_EQ(assertionOf(&fake[12]), 101u);
  fake[11] = krMM::kInfoAllocated | 5u << krMM::kInfoDistanceShift | 24;  // a small one's
  EXPECT_EQ(assertionOf(&fake[12]), 101u);
}

TEST_F(Heap, DynamicArrayDescriptorCountsFromTheInnermostDimension) {
  const std::uint32_t lengths[] = {2, 3, 5};  // outermost first
  K2C_DynArray* a = nullptr;
  K2C_DYNALLOCATE(a, 4, lengths, 3);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->words[0], 5u);
  EXPECT_EQ(a->words[1], 20u);
  EXPECT_EQ(a->words[2], 3u);
  EXPECT_EQ(a->words[3], 60u);
  EXPECT_EQ(a->words[4], 2u);
  EXPECT_EQ(K2C_usedmem, krMM::objectSize(32) + krMM::objectSize(120));
  kept_.push_back(a->data);
  kept_.push_back(a);
}

TEST_F(Heap, DynamicArrayWhoseSizeDoesNotFitIn32BitsIsNil) {
  const std::uint32_t lengths[] = {0x10000, 0x10000};
  K2C_DynArray* a = reinterpret_cast<K2C_DynArray*>(&a);
  K2C_DYNALLOCATE(a, 1, lengths, 2);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(K2C_objects, 0u);
}

TEST_F(Heap, DynamicArrayWhoseDataIsRefusedReleasesItsDescriptor) {
  K2C_GC_INIT(false, 0, 100000);
  const std::uint32_t lengths[] = {200000};
  K2C_DynArray* a = nullptr;
  K2C_DYNALLOCATE(a, 1, lengths, 1);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(K2C_objects, 0u);
  K2C_GC_INIT(false, 0, 0);
}

TEST_F(Heap, StorageAllocateServesFromTheHeap) {
  void* p = nullptr;
  Storage::ALLOCATE(p, 100);
  EXPECT_EQ(K2C_objects, 1u);
  Storage::DEALLOCATE(p, 100);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(K2C_objects, 0u);
}

// ---- the free-size index ----

// The counting tree as the allocator's description gives it, for comparison:
// leaf 2048 + k, the search from an odd leaf rightwards, counts lowered on
// the way down.
class ReferenceTree {
 public:
  void ins(int k) { adjust(k, 1); }
  void del(int k) { adjust(k, -1); }
  int find(int k) {
    int n = 2048 + k + (k % 2 == 0 ? 1 : 0);
    if (n >= 4096) return -1;
    while (counts_[n] == 0) {
      while (n % 2 != 0) n /= 2;
      if (n == 0) return -1;
      ++n;
    }
    for (int a = n; a >= 1; a /= 2) --counts_[a];
    while (n < 2048) {
      n = counts_[2 * n] != 0 ? 2 * n : 2 * n + 1;
      --counts_[n];
    }
    return n - 2048;
  }

 private:
  void adjust(int k, int delta) {
    for (int n = 2048 + k; n >= 1; n /= 2) counts_[n] += delta;
  }
  std::vector<int> counts_ = std::vector<int>(4096, 0);
};

// The smallest key from `key` on whose count stays above 0 with one chunk of
// `without` taken off, read from the counts one by one.
int firstCountedWithout(int key, int without) {
  for (int k = key; k < krDTree::kKeys; ++k) {
    if (krDTree::count(k) > (k == without ? 1u : 0u)) return k;
  }
  return -1;
}

TEST(HeapFreeSizeIndex, FindsWhatTheCountingTreeFindsAndLowersTheSameCount) {
  krDTree::init();
  ReferenceTree tree;
  std::mt19937 random(5);
  std::vector<int> present;
  for (int step = 0; step < 200000; ++step) {
    const auto r = static_cast<std::uint32_t>(random());
    // Keys crowd into a few regions, so that searches cross words and miss.
    const int k = static_cast<int>((r >> 8) % 4 == 0 ? (r >> 12) % 2048 : 1900 + (r >> 12) % 148);
    if (r % 3 == 0 && !present.empty()) {
      const std::size_t at = (r >> 4) % present.size();
      krDTree::del(present[at]);
      tree.del(present[at]);
      present.erase(present.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (r % 3 == 1) {
      if (!present.empty()) {
        const int without = present[(r >> 4) % present.size()];
        ASSERT_EQ(krDTree::firstFromWithout(k, without), firstCountedWithout(k, without))
            << "step " << step << " key " << k << " without " << without;
      }
      const int found = krDTree::find(k);
      ASSERT_EQ(found, tree.find(k)) << "step " << step << " key " << k;
      if (found >= 0) present.erase(std::find(present.begin(), present.end(), found));
    } else {
      krDTree::ins(k);
      tree.ins(k);
      present.push_back(k);
    }
  }
  for (int k : {0, 1, 2046, 2047}) EXPECT_EQ(krDTree::find(k), tree.find(k)) << k;
  K2C_GC_INIT(false, 0, 0);
}

// ---- the random sequence ----

struct SequenceRow {
  const char* name;
  std::uint32_t seed;
  std::int32_t threshold;
  std::int32_t limit;
  std::uint32_t steps;
};

void PrintTo(const SequenceRow& row, std::ostream* os) {
  *os << row.name;
}

class HeapSequence : public ::testing::TestWithParam<SequenceRow> {};

TEST_P(HeapSequence, EveryStepAgreesWithTheModel) {
  const SequenceRow row = GetParam();
  K2C_init_exceptions();
  K2C_GC_INIT(false, row.threshold, row.limit);
  heap_model::Model model(row.threshold, row.limit);
  std::mt19937 random(row.seed);
  for (std::uint32_t step = 0; step < row.steps; ++step) {
    const std::uint32_t r = random();
    // Phases of growth and of shrinking, so that blocks fill and empty.
    const bool growing = (step / 4000) % 2 == 0;
    const bool allocates = (r % 100) < (growing ? 65u : 35u);
    const std::string bad =
        allocates ? model.allocate(heap_model::RequestSize(random())) : model.release(random());
    ASSERT_EQ(bad, "") << "step " << step;
    if (step % 1024 == 0) {
      ASSERT_EQ(model.checkAllContents(), "") << "step " << step;
    }
  }
  ASSERT_EQ(model.releaseAll(), "");
  if (row.limit > 0) {
    EXPECT_GT(model.refusals(), 0u);
  }
  K2C_GC_INIT(false, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, HeapSequence,
                         ::testing::Values(SequenceRow{"NoLimit", 1, 0, 0, 60000},
                                           SequenceRow{"NoLimitOtherSeed", 77, 0, 0, 60000},
                                           SequenceRow{"ThisProgramsLimits", 2, 2000000, 4000000,
                                                       60000},
                                           SequenceRow{"TightLimit", 3, 0, 300000, 60000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
