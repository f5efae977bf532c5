#include "runtime/krMM.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "runtime/kosMalloc.h"
#include "runtime/krBlockManager.h"
#include "runtime/krDTree.h"
#include "runtime/krExceptions.h"

std::uint32_t K2C_busymem = 0;
std::uint32_t K2C_usedmem = 0;
std::uint32_t K2C_objects = 0;
std::uint32_t K2C_maxmem = 0xFFFFFFFF;
std::uint32_t K2C_threshold = 0xFFFFFFFF;

namespace krMM {

std::uint32_t k2c_td_null = 0;
std::uint32_t k2c_td_ptr = 0;

namespace {

constexpr std::uint32_t kKinds = 22;
constexpr std::uint32_t kUnit = 8;
constexpr std::uint32_t kFirstObject = kBlockHeaderSize;
constexpr std::uint32_t kFirstDistance = kFirstObject / kUnit;
constexpr std::uint32_t kTypeTableSize = 64;

// A free medium chunk keeps its list links in the two words after its header.
struct FreeLinks {
  FreeLinks* prev;
  FreeLinks* next;
};

// The heap takes no lock: one thread at a time uses it (the main thread,
// or the thread that runs the exit once the main thread has stopped).
// initialised goes false -> true once, by K2C_GC_INIT (K2C_BEGIN on the main
// thread, or the first request), and is never cleared. Its release store
// comes after the whole set-up and the request paths load it with acquire,
// so a thread that takes over the heap sees the set-up done.
std::atomic<bool> initialised{false};
bool collectAutomatically = false;
void emptyCollector() {}
Collector collector = &emptyCollector;

// A list's sentinel, empty from the start, so that the quick request needs
// no set-up check of its own.
struct BlockList : BlockHeader {
  constexpr BlockList() : BlockHeader{0, 0, this, this, 0, 0, 0, 0, {}} {}
};
static_assert(sizeof(BlockList) == sizeof(BlockHeader));

constinit BlockList fBlocks[kKinds];  // blocks that can still serve objects
constinit BlockList bBlocks[kKinds];  // small blocks full when last used
FreeLinks mediumLists[krDTree::kKeys];
std::uint32_t parts[kKinds];

TypeDesc* typeTable[kTypeTableSize];  // number 0 names none
std::uint32_t typeCount = 0;

// The object a take-back handed out last, while no free list has changed
// since: the free lists, the counts and the medium headers are as they were
// before its release, so its release waits again and a request of its size
// gets it back again without asking either question anew. Only what does not
// lie in medium blocks (the limits, the warm and the newest block) is asked
// again. NIL: none.
ObjectHeader* takenBack = nullptr;
bool takenBackWhole = false;  // it emptied its block when released

// ---- lists ----

void makeEmpty(BlockHeader& sentinel) {
  sentinel.next = sentinel.prev = &sentinel;
}

// The links are read once: a store through one may alias the other.
void unlink(BlockHeader* b) {
  BlockHeader* prev = b->prev;
  BlockHeader* next = b->next;
  prev->next = next;
  next->prev = prev;
}

// The sentinel's links need not be read.
void pushIntoEmpty(BlockHeader& sentinel, BlockHeader* b) {
  b->next = b->prev = &sentinel;
  sentinel.next = sentinel.prev = b;
}

void pushFront(BlockHeader& sentinel, BlockHeader* b) {
  BlockHeader* first = sentinel.next;
  b->next = first;
  b->prev = &sentinel;
  first->prev = b;
  sentinel.next = b;
}

FreeLinks* linksOf(ObjectHeader* chunk) {
  return reinterpret_cast<FreeLinks*>(chunk + 1);
}

ObjectHeader* chunkOf(FreeLinks* links) {
  return reinterpret_cast<ObjectHeader*>(links) - 1;
}

void unlinkChunk(ObjectHeader* chunk) {
  takenBack = nullptr;
  FreeLinks* l = linksOf(chunk);
  l->prev->next = l->next;
  l->next->prev = l->prev;
}

std::int32_t keyOf(std::uint32_t size) {
  return static_cast<std::int32_t>((size - 1) / kUnit);
}

std::uint32_t sizeOf(const ObjectHeader* object) {
  return object->info & kInfoSizeMask;
}

std::uint32_t distanceOf(const ObjectHeader* object) {
  return object->info >> kInfoDistanceShift;
}

bool isFree(const ObjectHeader* object) {
  return (object->info & kInfoFree) != 0;
}

// A free chunk: into the front of its list and onto the tree.
void insertChunk(ObjectHeader* chunk) {
  takenBack = nullptr;
  const std::int32_t key = keyOf(sizeOf(chunk));
  FreeLinks& sentinel = mediumLists[key];
  FreeLinks* l = linksOf(chunk);
  l->next = sentinel.next;
  l->prev = &sentinel;
  sentinel.next->prev = l;
  sentinel.next = l;
  krDTree::ins(key);
}

void removeChunk(ObjectHeader* chunk) {
  unlinkChunk(chunk);
  krDTree::del(keyOf(sizeOf(chunk)));
}

char* base(BlockHeader* b) {
  return reinterpret_cast<char*>(b);
}

ObjectHeader* at(BlockHeader* b, std::uint32_t offset) {
  return reinterpret_cast<ObjectHeader*>(base(b) + offset);
}

BlockHeader* blockOf(ObjectHeader* object) {
  return reinterpret_cast<BlockHeader*>(reinterpret_cast<char*>(object) -
                                        distanceOf(object) * kUnit);
}

// ---- blocks ----

// The 16 KB block the block manager handed out last, while krMM has asked
// nothing else of it since: every block below is in use, so once released it
// is the very block the manager would hand out next. NIL: not known.
BlockHeader* newestBlock = nullptr;
// That block after its release, counted released at once (K2C_busymem, out
// of its list, magic cleared) but kept back from the manager: the next
// request for a 16 KB block, of any kind, takes it again with no call, as
// the release and the manager's search would have given it. Every other use
// of the manager gives it back first. NIL: none.
BlockHeader* warmBlock = nullptr;

void settle();

// A merge waiting on the warm block reads the block: it is done first.
void giveBackWarm() {
  if (warmBlock == nullptr) return;
  settle();
  BlockHeader* b = warmBlock;
  warmBlock = nullptr;
  newestBlock = nullptr;
  krBlockManager::free(b);
}

void* takeBlock() {
  if (warmBlock != nullptr) {
    BlockHeader* b = warmBlock;
    warmBlock = nullptr;
    return b;
  }
  void* memory = krBlockManager::alloc();
  newestBlock = static_cast<BlockHeader*>(memory);
  return memory;
}

[[gnu::noinline]] void giveBlockBack(BlockHeader* b) {
  giveBackWarm();
  newestBlock = nullptr;
  krBlockManager::free(b);
}

// A block's header as a new block has it, counted and at the front of its
// list.
// firstSlot: the bytes of a small block's first slot, taken at once.
// warmIntoEmpty: the warm block, whose header holds n as its size already,
// for a kind whose list is empty.
[[gnu::always_inline]] inline void startBlock(BlockHeader* b, std::uint32_t n, std::uint32_t kind,
                                              std::uint32_t firstSlot = 0,
                                              bool warmIntoEmpty = false) {
  if (!warmIntoEmpty) b->size = n;
  b->free = n - firstSlot;
  b->freeSlots = 0;
  b->nextSlot = kFirstObject + firstSlot;
  b->magic = kBlockMagic;
  b->kind = static_cast<std::uint8_t>(kind);
  K2C_busymem += n + kBlockOverhead;
  if (warmIntoEmpty) {
    pushIntoEmpty(fBlocks[kind], b);
  } else {
    pushFront(fBlocks[kind], b);
  }
}

// The limits let a new 16 KB block in.
bool limitsLetABlockIn() {
  const std::uint64_t afterwards = std::uint64_t{K2C_busymem} + kBlockObjects + kBlockOverhead;
  return afterwards <= K2C_maxmem && afterwards <= K2C_threshold;
}

// Inline at every use: the large class pays no call for it.
[[gnu::always_inline]] inline BlockHeader* newBlock(std::uint64_t n, std::uint32_t kind) {
  const std::uint64_t need = n + kBlockOverhead;
  const std::uint64_t afterwards = K2C_busymem + need;
  if (afterwards > K2C_maxmem || afterwards > K2C_threshold) return nullptr;
  void* memory = n == kBlockObjects ? takeBlock() : K2C_malloc(static_cast<std::size_t>(need));
  if (memory == nullptr) return nullptr;
  auto* b = static_cast<BlockHeader*>(memory);
  startBlock(b, static_cast<std::uint32_t>(n), kind);
  return b;
}

// The warm block taken again with no call, once the limits let it in, for a
// small kind whose list is empty. Only a 16 KB block waits warm, and its
// release left its size.
[[gnu::always_inline]] inline BlockHeader* warmBlockAgain(std::uint32_t kind,
                                                          std::uint32_t firstSlot = 0) {
  BlockHeader* b = warmBlock;
  warmBlock = nullptr;
  startBlock(b, kBlockObjects, kind, firstSlot, true);
  return b;
}

// The same for a 16 KB block, whose size is known.
void count16KBlockReleased(BlockHeader* b) {
  unlink(b);
  K2C_busymem -= kBlockObjects + kBlockOverhead;
  b->magic = 0;
}

void countReleased(BlockHeader* b) {
  unlink(b);
  K2C_busymem -= b->size + kBlockOverhead;
  b->magic = 0;
}

// The newest block never waits beside a warm one: that one is the newest.
inline void release16KBlock(BlockHeader* b) {
  count16KBlockReleased(b);
  if (b == newestBlock && warmBlock == nullptr) {
    warmBlock = b;
  } else {
    giveBlockBack(b);
  }
}

inline void releaseBlock(BlockHeader* b) {
  if (b->size != kBlockObjects) {
    countReleased(b);
    K2C_free(b, b->size + kBlockOverhead);
    return;
  }
  release16KBlock(b);
}

// ---- small objects ----

[[gnu::noinline]] void moveToFull(BlockHeader* b, std::uint32_t kind) {
  unlink(b);
  pushFront(bBlocks[kind], b);
}

// f_blocks of the kind of slots of s bytes: the list s / 8, as a byte
// offset from s at once.
inline BlockHeader& blocksOfSize(std::uint32_t s) {
  static_assert(sizeof(BlockList) % kUnit == 0);
  return *reinterpret_cast<BlockList*>(reinterpret_cast<char*>(fBlocks) +
                                       std::size_t{s} * (sizeof(BlockList) / kUnit));
}

// A slot from the block at the front of its kind's list, which stays there.
// Slots lie a multiple of 8 bytes from the block header.
inline ObjectHeader* slotOf(BlockHeader* b, std::uint32_t s) {
  std::uint32_t offset = b->freeSlots;
  if (offset != 0) {
    b->freeSlots = at(b, offset)->type;
  } else {
    offset = b->nextSlot;
    b->nextSlot += s;
  }
  if (offset % kUnit != 0) __builtin_unreachable();
  b->free -= s;
  ObjectHeader* slot = at(b, offset);
  static_assert(kUnit == 1u << 3);
  slot->info = offset << (kInfoDistanceShift - 3) | s;  // (offset / 8) << 21
  return slot;
}

inline bool isFull(const BlockHeader* b, std::uint32_t s) {
  return b->free < s && b->freeSlots == 0;
}

// A slot from the block at the front of its kind's list.
inline ObjectHeader* takeSlot(BlockHeader* b, std::uint32_t kind) {
  ObjectHeader* slot = slotOf(b, kind * kUnit);
  if (isFull(b, kind * kUnit)) [[unlikely]]
    moveToFull(b, kind);
  return slot;
}

ObjectHeader* smallObject(std::uint32_t kind) {
  BlockHeader* b = fBlocks[kind].next;
  if (b == &fBlocks[kind]) {
    b = newBlock(kBlockObjects, kind);
    if (b == nullptr) return nullptr;
  }
  return takeSlot(b, kind);
}

// A block in the full list stays there until its last object goes: the
// slots released meanwhile wait on its freeSlots list.
void releaseSmall(BlockHeader* b, ObjectHeader* slot, std::uint32_t size) {
  b->free += size;
  if (b->free == b->size) {
    releaseBlock(b);
    return;
  }
  slot->type = b->freeSlots;
  slot->info = (slot->info & ~kInfoAllocated) | kInfoFree;
  b->freeSlots = static_cast<std::uint32_t>(reinterpret_cast<char*>(slot) - base(b));
}

// ---- medium objects ----

// Cuts s bytes off the front of a chunk; the rest goes to its free list.
ObjectHeader* split(ObjectHeader* chunk, std::uint32_t s) {
  const std::uint32_t c = sizeOf(chunk);
  auto* rest = reinterpret_cast<ObjectHeader*>(reinterpret_cast<char*>(chunk) + s);
  const std::uint32_t moved = chunk->info + ((s / kUnit) << kInfoDistanceShift);
  rest->info = (moved & ~kInfoSizeMask) | (c - s);
  rest->type = 0;
  insertChunk(rest);
  chunk->info = (chunk->info & ~kInfoSizeMask) | s;
  return chunk;
}

ObjectHeader* mediumObject(std::uint32_t s) {
  const std::int32_t k = keyOf(s);
  if (mediumLists[k].next != &mediumLists[k]) {
    ObjectHeader* chunk = chunkOf(mediumLists[k].next);
    removeChunk(chunk);
    return chunk;
  }
  const std::int32_t k2 = krDTree::find(k);
  ObjectHeader* chunk = nullptr;
  if (k2 != -1) {
    chunk = chunkOf(mediumLists[k2].next);
    unlinkChunk(chunk);  // find has taken it off the counts
    if (k2 - k <= 3) return chunk;
  } else {
    BlockHeader* b = newBlock(kBlockObjects, kKindMedium);
    if (b == nullptr) return nullptr;
    chunk = at(b, kFirstObject);
    chunk->type = 0;
    chunk->info = kFirstDistance << kInfoDistanceShift | kInfoFree | kBlockObjects;
  }
  return split(chunk, s);
}

// The object merges with the block's first chunk when that is free and ends
// where the object starts, then with every free chunk that follows it.
// A released header names no type, so that releasing it again is assertion 100
// even when it has been absorbed into the chunk before it.
// The questions are asked together, not one after the other, where their
// answers are chance and every header asked about can be read: the first
// chunk's lies beside the block header, and the header at the end of the
// object area lies in the block's spare bytes.
void mergeAndFree(BlockHeader* b, ObjectHeader* object) {
  ObjectHeader* start = object;
  std::uint32_t size = sizeOf(object);
  ObjectHeader* first = at(b, kFirstObject);
  const bool mergesWithTheFirst =
      (first != object) & isFree(first) &
      (reinterpret_cast<char*>(first) + sizeOf(first) == reinterpret_cast<char*>(object));
  if (mergesWithTheFirst) {
    removeChunk(first);
    size += sizeOf(first);
    start = first;
  }
  const char* end = base(b) + kFirstObject + kBlockObjects;
  static_assert(kBlockOverhead - kBlockHeaderSize >= kHeaderSize);  // the spare bytes
  for (;;) {
    auto* following = reinterpret_cast<ObjectHeader*>(reinterpret_cast<char*>(start) + size);
    if (!((reinterpret_cast<char*>(following) < end) & isFree(following))) break;
    removeChunk(following);
    size += sizeOf(following);
  }
  if (size == kBlockObjects) {
    releaseBlock(b);
    return;
  }
  start->type = 0;
  start->info = (start->info & ~(kInfoSizeMask | kInfoAllocated)) | kInfoFree | size;
  insertChunk(start);
}

// ---- the waiting merge ----
//
// An object released in front of a free chunk, the first in its list, with
// nothing else to merge, waits to be merged until the heap is next used. When
// that use is a request of the object's very size that the merged chunk
// would serve, split off at the object, the request gets the object back and
// the heap is as the merge and the split would leave it: the free chunk
// where it was, the first in its list, and the same counts. Every other use
// merges first.

ObjectHeader* waitingObject = nullptr;
BlockHeader* waitingBlock = nullptr;

// The same holds for the object at the front of a block whose merge would
// empty the block, when the block manager would hand the block out next:
// the block is released at once, with its counts, and kept warm; only the
// rest's removal from its list waits. A request of the object's size that
// no list serves takes the block again, split as before.
bool waitingWhole = false;

// Waiting changes nothing the heap shows, so a release may as well merge at
// once; it does so while waits do not pay: in a heap of mixed sizes the next
// request is hardly ever of the released object's size, and the questions
// whether to wait cost more than the merge. After kMissedWaits waits in a
// row that ended in a merge, only every kProbe-th release that could wait
// asks; a take-back makes every release ask again.
constexpr std::uint32_t kMissedWaits = 4;
constexpr std::uint32_t kProbe = 16;
std::uint32_t missedWaits = 0;
std::uint32_t releasesNotAsked = 0;

bool asksWhetherToWait() {
  if (missedWaits < kMissedWaits) return true;
  return ++releasesNotAsked % kProbe == 0;
}

ObjectHeader* following(ObjectHeader* object) {
  return reinterpret_cast<ObjectHeader*>(reinterpret_cast<char*>(object) + sizeOf(object));
}

void settle() {
  if (waitingObject == nullptr) return;
  ObjectHeader* object = waitingObject;
  waitingObject = nullptr;
  if (missedWaits < kMissedWaits) ++missedWaits;
  if (waitingWhole) {
    removeChunk(following(object));
    return;
  }
  mergeAndFree(waitingBlock, object);
}

bool emptiesTheBlockBesideTheFirstOfAList(BlockHeader* b, ObjectHeader* object) {
  if (object != at(b, kFirstObject)) return false;
  ObjectHeader* rest = following(object);
  if (!isFree(rest) || sizeOf(object) + sizeOf(rest) != kBlockObjects) return false;
  return mediumLists[keyOf(sizeOf(rest))].next == linksOf(rest);
}

// No list serves s bytes once the rest has left its list, the limits let a
// new block in, and that block would be the waiting one.
bool wholeBlockServes(std::uint32_t s) {
  if (sizeOf(waitingObject) != s) return false;
  const std::int32_t k = keyOf(s);
  if (mediumLists[k].next != &mediumLists[k]) return false;
  if (!limitsLetABlockIn()) return false;
  const std::int32_t rest = keyOf(sizeOf(following(waitingObject)));
  return krDTree::firstFromWithout(k | 1, rest) == -1 && warmBlock == waitingBlock;
}

// The block taken again and the object split off its front, with the
// headers a new block and the split write.
ObjectHeader* splitTheWholeBlock();

ObjectHeader* takeBackWholeBlock() {
  newBlock(kBlockObjects, kKindMedium);  // the waiting block: nothing can refuse it
  return splitTheWholeBlock();
}

inline ObjectHeader* splitTheWholeBlock() {
  ObjectHeader* object = waitingObject;
  waitingObject = nullptr;
  takenBack = object;
  takenBackWhole = true;
  missedWaits = 0;
  const std::uint32_t s = sizeOf(object);
  ObjectHeader* rest = following(object);
  rest->info = (kFirstDistance + s / kUnit) << kInfoDistanceShift | kInfoFree | (kBlockObjects - s);
  rest->type = 0;
  object->type = 0;
  object->info = kFirstDistance << kInfoDistanceShift | kInfoFree | s;
  return object;
}

bool mergesOnlyWithTheFirstOfAList(BlockHeader* b, ObjectHeader* object) {
  ObjectHeader* first = at(b, kFirstObject);
  if (first != object && isFree(first) &&
      reinterpret_cast<char*>(first) + sizeOf(first) == reinterpret_cast<char*>(object)) {
    return false;
  }
  const char* end = base(b) + kFirstObject + kBlockObjects;
  ObjectHeader* rest = following(object);
  if (reinterpret_cast<char*>(rest) >= end || !isFree(rest)) return false;
  if (sizeOf(object) + sizeOf(rest) == kBlockObjects) return false;
  ObjectHeader* after = following(rest);
  if (reinterpret_cast<char*>(after) < end && isFree(after)) return false;
  return mediumLists[keyOf(sizeOf(rest))].next == linksOf(rest);
}

// The merged chunk is what a request of s bytes would get: no list of its
// key or between would hold a chunk once the rest has left its list.
bool mergedChunkServes(std::uint32_t s) {
  ObjectHeader* rest = following(waitingObject);
  if (sizeOf(waitingObject) != s) return false;
  const std::int32_t k = keyOf(s);
  if (mediumLists[k].next != &mediumLists[k]) return false;
  const std::int32_t merged = keyOf(s + sizeOf(rest));
  if (merged - k <= 3) return false;  // taken whole, not split
  const std::int32_t found = krDTree::firstFromWithout(k | 1, keyOf(sizeOf(rest)));
  return found == -1 || found >= merged;
}

// The waiting object handed out again, with the headers the merge and the
// split would have written.
ObjectHeader* takeBackWaiting() {
  ObjectHeader* object = waitingObject;
  waitingObject = nullptr;
  takenBack = object;
  takenBackWhole = false;
  missedWaits = 0;
  ObjectHeader* rest = following(object);
  const std::uint32_t s = sizeOf(object);
  const std::uint32_t merged = (object->info & ~(kInfoSizeMask | kInfoAllocated)) | kInfoFree;
  rest->info = ((merged + ((s / kUnit) << kInfoDistanceShift)) & ~kInfoSizeMask) | sizeOf(rest);
  rest->type = 0;
  object->info = merged | s;
  return object;
}

// The object taken back last released again, as its first release went:
// the block it empties waits warm only while it is the newest and no other
// one is warm, or else merges at once.
[[gnu::always_inline]] inline void waitAgain(BlockHeader* b, ObjectHeader* object) {
  waitingObject = object;
  waitingBlock = b;
  waitingWhole = takenBackWhole;
  if (!waitingWhole) return;
  if (b == newestBlock && warmBlock == nullptr) {
    count16KBlockReleased(b);
    warmBlock = b;
    return;
  }
  waitingObject = nullptr;
  mergeAndFree(b, object);
}

// The two waits exclude each other; the one that empties the block is the
// quicker to rule out.
void releaseMedium(BlockHeader* b, ObjectHeader* object) {
  object->type = 0;
  if (object == takenBack) {
    waitAgain(b, object);
    return;
  }
  if (b == newestBlock && warmBlock == nullptr && emptiesTheBlockBesideTheFirstOfAList(b, object)) {
    count16KBlockReleased(b);
    warmBlock = b;
    waitingObject = object;
    waitingBlock = b;
    waitingWhole = true;
    return;
  }
  if (asksWhetherToWait() && mergesOnlyWithTheFirstOfAList(b, object)) {
    waitingObject = object;
    waitingBlock = b;
    waitingWhole = false;
    return;
  }
  mergeAndFree(b, object);
}

// ---- large objects ----

ObjectHeader* largeObject(std::uint64_t s) {
  BlockHeader* b = newBlock(s, kKindLarge);
  if (b == nullptr) return nullptr;
  ObjectHeader* object = at(b, kFirstObject);
  object->info = 0;
  return object;
}

ObjectHeader* objectOfClass(std::uint64_t s) {
  if (s <= kSmallLimit) return smallObject(static_cast<std::uint32_t>(s / kUnit));
  if (s <= kMediumLimit) return mediumObject(static_cast<std::uint32_t>(s));
  return largeObject(s);
}

// ---- set-up ----

void buildTypeDescriptors() {
  static std::once_flag built;
  std::call_once(built, [] {
    k2c_td_ptr = ini_type_desc("$PTR", 4);
    k2c_td_null = ini_type_desc("$NULL", 1);
  });
}

void startAfresh() {
  krDTree::init();
  for (auto& sentinel : mediumLists) sentinel.next = sentinel.prev = &sentinel;
  for (std::uint32_t kind = 0; kind < kKinds; ++kind) {
    makeEmpty(fBlocks[kind]);
    makeEmpty(bBlocks[kind]);
    parts[kind] = kind == 0 ? 0 : kBlockObjects / (kUnit * kind);
  }
  K2C_objects = K2C_usedmem = K2C_busymem = 0;
  newestBlock = nullptr;
  takenBack = nullptr;
  missedWaits = releasesNotAsked = 0;
  krBlockManager::setGiveBack(&giveBackWarm);
}

std::uint32_t limitOrNone(std::int32_t value) {
  return value > 0 ? static_cast<std::uint32_t>(value) : 0xFFFFFFFF;
}

}  // namespace

std::uint32_t ini_type_desc(const char* name, std::uint32_t size) {
  static std::mutex typeLock;
  std::lock_guard guard(typeLock);
  if (typeCount + 1 >= kTypeTableSize) K2C_TRAP_F(K2C_TRAP_NR_HEAP);
  auto* desc = static_cast<TypeDesc*>(K2C_malloc(sizeof(TypeDesc)));
  const std::size_t length = std::strlen(name) + 1;
  char* copy = static_cast<char*>(K2C_malloc(length));
  if (desc == nullptr || copy == nullptr) K2C_TRAP_F(K2C_TRAP_NR_HEAP);
  std::memcpy(copy, name, length);
  *desc = TypeDesc{size, kTypeMagic, copy, typeCount == 0 ? nullptr : typeTable[typeCount]};
  typeTable[++typeCount] = desc;
  return typeCount;
}

const TypeDesc* typeDesc(std::uint32_t number) {
  if (number - 1 >= typeCount) return nullptr;  // 0 wraps round
  return typeTable[number];
}

namespace {

[[gnu::always_inline]] inline ObjectHeader* handOut(std::uint64_t s) {
  ObjectHeader* object = nullptr;
  if (waitingObject != nullptr) {
    const bool medium = s > kSmallLimit && s <= kMediumLimit;
    const auto size = static_cast<std::uint32_t>(s);
    if (medium && waitingWhole && wholeBlockServes(size)) {
      object = takeBackWholeBlock();
    } else if (medium && !waitingWhole && mergedChunkServes(size)) {
      object = takeBackWaiting();
    } else {
      settle();
    }
  }
  if (object == nullptr) object = objectOfClass(s);
  if (object == nullptr) return nullptr;
  object->info = (object->info & ~kInfoFree) | kInfoAllocated;
  object->type = k2c_td_null;
  K2C_usedmem += s <= kSmallLimit ? static_cast<std::uint32_t>(s) : countedSize(object);
  ++K2C_objects;
  return object;
}

}  // namespace

namespace {

[[gnu::always_inline]] inline ObjectHeader* handedOutSmall(ObjectHeader* object, std::uint64_t s) {
  object->info |= kInfoAllocated;
  object->type = k2c_td_null;
  K2C_usedmem += static_cast<std::uint32_t>(s);
  ++K2C_objects;
  return object;
}

ObjectHeader* newObjectSlowly(std::uint64_t s);
void newObjectOtherwise(void*& p, std::uint64_t s);

// A new block's first slot, as takeSlot takes it, handed out; `counted`:
// the block's free and nextSlot fields count it already.
[[gnu::always_inline]] inline void handOutFirstSlot(void*& p, BlockHeader* b, std::uint64_t s,
                                                    bool counted) {
  const auto size = static_cast<std::uint32_t>(s);
  if (!counted) {
    b->free = kBlockObjects - size;
    b->nextSlot = kFirstObject + size;
  }
  ObjectHeader* slot = at(b, kFirstObject);
  slot->info = kFirstDistance << kInfoDistanceShift | size;
  p = handedOutSmall(slot, s) + 1;
}

// A small request whose kind has no block while no release waits and no
// warm block serves it. A request that fails here, or comes before the
// set-up, fails without a trace and takes the whole way, the collector hook
// included (p NIL meanwhile).
[[gnu::noinline]] void smallInBlockFromTheManager(void*& p, std::uint64_t s) {
  if (!initialised.load(std::memory_order_acquire)) [[unlikely]] {
    newObjectOtherwise(p, s);
    return;
  }
  BlockHeader* b = newBlock(kBlockObjects, static_cast<std::uint32_t>(s / kUnit));
  if (b == nullptr) [[unlikely]] {
    newObjectOtherwise(p, s);
    return;
  }
  handOutFirstSlot(p, b, s, false);
}

// A small request whose kind has no block while no release waits. A warm
// block is there only once the heap is set up. Inline: a pair in an empty
// heap comes here every time.
[[gnu::always_inline]] inline void smallInNewBlock(void*& p, std::uint64_t s) {
  if (warmBlock == nullptr || !limitsLetABlockIn()) [[unlikely]] {
    smallInBlockFromTheManager(p, s);
    return;
  }
  const auto size = static_cast<std::uint32_t>(s);
  handOutFirstSlot(p, warmBlockAgain(size / kUnit, size), s, true);
}

// A request of the size of the object taken back last, waiting again: the
// answers of the merge and the search hold as they were; for a whole block
// the limits and the warm block are asked again.
// Its release has changed no header but its type, nor the whole block's
// header but the magic word, so the take-back's headers are there already,
// the allocated bit included.
[[gnu::noinline]] void takenBackAgain(void*& p, std::uint64_t s) {
  if (waitingWhole) {
    if (!limitsLetABlockIn() || warmBlock != waitingBlock) [[unlikely]] {
      newObjectOtherwise(p, s);
      return;
    }
    warmBlock = nullptr;
    waitingBlock->magic = kBlockMagic;
    K2C_busymem += kBlockObjects + kBlockOverhead;
    pushFront(fBlocks[kKindMedium], waitingBlock);
  }
  ObjectHeader* object = waitingObject;
  waitingObject = nullptr;
  object->type = k2c_td_null;
  K2C_usedmem += static_cast<std::uint32_t>(s);
  ++K2C_objects;
  p = object + 1;
}

// A medium chunk handed out to p and counted with its real size.
[[gnu::always_inline]] inline void handOutMedium(void*& p, ObjectHeader* object,
                                                 std::uint32_t size) {
  object->info = (object->info & ~kInfoFree) | kInfoAllocated;
  object->type = k2c_td_null;
  K2C_usedmem += size;
  ++K2C_objects;
  p = object + 1;
}

// A request of the waiting object's size: the object itself when the merge
// and the search would hand it out, counted as handOut counts it. The
// waiting object is medium, so the request is too.
[[gnu::noinline]] void waitingObjectAgain(void*& p, std::uint64_t s) {
  const auto size = static_cast<std::uint32_t>(s);
  ObjectHeader* object = nullptr;
  if (waitingWhole) {
    if (wholeBlockServes(size)) object = takeBackWholeBlock();
  } else if (mergedChunkServes(size)) {
    object = takeBackWaiting();
  }
  if (object == nullptr) {
    p = nullptr;
    object = newObjectSlowly(s);
    p = object != nullptr ? object + 1 : nullptr;
    return;
  }
  handOutMedium(p, object, size);
}

// The second try of a request the first try could not serve.
ObjectHeader* afterCollecting(std::uint64_t s) {
  giveBackWarm();  // the collector finds the block manager as the releases left it
  if (collectAutomatically) collector();
  return handOut(s);
}

[[gnu::noinline]] ObjectHeader* newObjectSlowly(std::uint64_t s) {
  if (!initialised.load(std::memory_order_acquire)) K2C_GC_INIT(false, 0, 0);
  ObjectHeader* object = handOut(s);
  if (object == nullptr) object = afterCollecting(s);
  return object;
}

// A medium request while no release waits, once the heap is set up: the
// first try of handOut without its questions about a waiting release.
inline void mediumWhileNothingWaits(void*& p, std::uint64_t s) {
  ObjectHeader* object = mediumObject(static_cast<std::uint32_t>(s));
  if (object == nullptr) [[unlikely]] {
    p = nullptr;
    object = afterCollecting(s);
    p = object != nullptr ? object + 1 : nullptr;
    return;
  }
  handOutMedium(p, object, sizeOf(object));
}

[[gnu::noinline]] void mediumRequest(void*& p, std::uint64_t s) {
  if (!initialised.load(std::memory_order_acquire)) [[unlikely]] {
    newObjectOtherwise(p, s);
    return;
  }
  mediumWhileNothingWaits(p, s);
}

// A medium request beside a waiting release of another size, which no
// take-back serves: the merge is done first, as handOut does it.
[[gnu::noinline]] void mediumOfAnotherSize(void*& p, std::uint64_t s) {
  settle();
  mediumWhileNothingWaits(p, s);
}

// p is cleared only once the object is released.
[[gnu::noinline]] void releaseObjectSlowly(void*& p);

// The common release: a small object, or a medium one with no release
// waiting, of the type K2C_ALLOCATE gives (a known descriptor once built).
// A small slot's release does not touch what a waiting release will, and a
// block it empties gives the warm one back, which settles first, as the whole
// way does. Everything else, the faults included, takes the whole way; past
// the checks nothing asserts, so p is cleared there.
[[gnu::always_inline]] inline void releaseQuickly(void*& p) {
  ObjectHeader* object = static_cast<ObjectHeader*>(p) - 1;
  const std::uint32_t number = object->type;
  const std::uint32_t info = object->info;
  if (number != k2c_td_null || number == 0) [[unlikely]] {
    releaseObjectSlowly(p);
    return;
  }
  if ((info & kInfoAllocated) == 0 || (info >> kInfoDistanceShift) == 0) [[unlikely]] {
    releaseObjectSlowly(p);
    return;
  }
  BlockHeader* b = blockOf(object);
  const std::uint32_t size = info & kInfoSizeMask;
  if (b->magic != kBlockMagic) [[unlikely]] {
    releaseObjectSlowly(p);
    return;
  }
  if (b->kind == kKindMedium) {
    if (waitingObject != nullptr) {
      releaseObjectSlowly(p);
      return;
    }
    p = nullptr;
    K2C_usedmem -= size;
    --K2C_objects;
    if (object == takenBack) {
      object->type = 0;
      waitAgain(b, object);
      return;
    }
    releaseMedium(b, object);
    return;
  }
  p = nullptr;
  K2C_usedmem -= size;
  --K2C_objects;
  b->free += size;
  if (b->free == kBlockObjects) [[unlikely]] {  // a small block is a 16 KB one
    release16KBlock(b);
    return;
  }
  object->type = b->freeSlots;
  object->info = (info & ~kInfoAllocated) | kInfoFree;
  b->freeSlots = static_cast<std::uint32_t>(reinterpret_cast<char*>(object) - base(b));
}

}  // namespace

namespace {

// Every other request. Every way that may call out (the collector hook)
// finds p NIL.
[[gnu::noinline]] void newObjectOtherwise(void*& p, std::uint64_t s) {
  p = nullptr;
  ObjectHeader* object = newObjectSlowly(s);
  if (object != nullptr) p = object + 1;
}

}  // namespace

// The common small request takes a short way: a slot of a block it has,
// which a waiting release cannot change. A request of 0 bytes comes as an
// object of the header's size alone, of kind 1, whose list nothing fills.
void newObject(void*& p, std::uint64_t s) {
  if (s % kUnit != 0) __builtin_unreachable();  // objectSize's
  if (s <= kSmallLimit) [[likely]] {
    const auto size = static_cast<std::uint32_t>(s);
    BlockHeader& list = blocksOfSize(size);
    BlockHeader* b = list.next;
    if (b != &list) [[likely]] {
      p = handedOutSmall(slotOf(b, size), s) + 1;
      if (isFull(b, size)) [[unlikely]]
        moveToFull(b, size / kUnit);
      return;
    }
    if (s == kHeaderSize) {
      p = nullptr;
      return;
    }
    if (waitingObject == nullptr) {
      smallInNewBlock(p, s);
      return;
    }
  } else if (waitingObject != nullptr) {
    if (s == sizeOf(waitingObject)) {
      if (waitingObject == takenBack) {
        takenBackAgain(p, s);
      } else {
        waitingObjectAgain(p, s);
      }
      return;
    }
    if (s <= kMediumLimit) {
      mediumOfAnotherSize(p, s);
      return;
    }
  } else if (s <= kMediumLimit) {
    mediumRequest(p, s);
    return;
  }
  newObjectOtherwise(p, s);
}

namespace {

void releasedSlowly(ObjectHeader* object) {
  settle();
  const TypeDesc* desc = typeDesc(object->type);
  if (desc == nullptr || desc->magic != kTypeMagic) K2C_ASSERT_F(100);
  if ((object->info & kInfoAllocated) == 0) {
    object->info &= ~kInfoGcBit;
    return;
  }
  // The block of a small or medium object is checked as well as a large one's.
  const bool isLarge = distanceOf(object) == 0;
  BlockHeader* b =
      isLarge ? reinterpret_cast<BlockHeader*>(reinterpret_cast<char*>(object) - kBlockHeaderSize)
              : blockOf(object);
  if (b->magic != kBlockMagic) K2C_ASSERT_F(101);
  std::uint32_t size;
  if (!isLarge) {
    size = sizeOf(object);
    if (b->kind == kKindMedium) {
      releaseMedium(b, object);
    } else {
      releaseSmall(b, object, size);
    }
  } else {
    size = b->free;
    object->type = 0;
    releaseBlock(b);
  }
  K2C_usedmem -= size;
  --K2C_objects;
}

[[gnu::noinline]] void releaseObjectSlowly(void*& p) {
  releasedSlowly(static_cast<ObjectHeader*>(p) - 1);
  p = nullptr;
}

}  // namespace

// p stays as it was when an assertion leaves. K2C_DEALLOCATE leaves NIL
// here too, so that p is read once.
void releaseObject(void*& p) {
  if (p == nullptr) return;
  releaseQuickly(p);
}

void setCollector(Collector hook) {
  collector = hook != nullptr ? hook : &emptyCollector;
}

bool gcAuto() {
  return collectAutomatically;
}

std::uint32_t countedSize(const ObjectHeader* object) {
  if (distanceOf(object) != 0) return sizeOf(object);
  return reinterpret_cast<const BlockHeader*>(reinterpret_cast<const char*>(object) -
                                              kBlockHeaderSize)
      ->free;
}

}  // namespace krMM

// The type descriptors are made outside the lock: trap 18 may leave from there.
void K2C_GC_INIT(bool gcAuto, std::int32_t threshold, std::int32_t heapLimit) {
  using namespace krMM;
  buildTypeDescriptors();
  settle();
  giveBackWarm();
  if (!initialised.load(std::memory_order_relaxed) || (K2C_objects == 0 && K2C_busymem == 0)) {
    K2C_InitHeap(0, 0);
    krBlockManager::init(16384);
    startAfresh();
  }
  K2C_threshold = limitOrNone(threshold);
  K2C_maxmem = limitOrNone(heapLimit);
  collector = &emptyCollector;
  collectAutomatically = gcAuto;
  initialised.store(true, std::memory_order_release);
}

void K2C_GC_INCREASE(bool gcAuto, std::int32_t threshold, std::int32_t heapLimit) {
  using namespace krMM;
  if (threshold <= 0) {
    K2C_threshold = 0xFFFFFFFF;
  } else if (static_cast<std::uint32_t>(threshold) > K2C_threshold) {
    K2C_threshold = static_cast<std::uint32_t>(threshold);
  }
  collectAutomatically = collectAutomatically || gcAuto;
  if (heapLimit > 0 && static_cast<std::uint32_t>(heapLimit) > K2C_maxmem) {
    K2C_maxmem = static_cast<std::uint32_t>(heapLimit);
    K2C_InitHeap(0, 0);
  }
}
