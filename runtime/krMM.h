// Objects, blocks and accounting of the run-time heap.
//
// Every object has an 8-byte header before the address handed out: a 32-bit
// type-descriptor number and the 32-bit info word. Small objects (up to 160
// bytes with header) come from per-size slots in 16 KB blocks, medium ones
// (up to 16168) from split and merged chunks in 16 KB blocks, large ones each
// from a block of their own. The heap takes no locks: it is used from the
// main thread and from module bodies at start-up.
#pragma once

#include <cstdint>

extern std::uint32_t K2C_busymem;    // bytes of the blocks in use, each size + 48
extern std::uint32_t K2C_usedmem;    // bytes of the objects handed out, headers included
extern std::uint32_t K2C_objects;    // objects handed out
extern std::uint32_t K2C_maxmem;     // heap limit; FFFFFFFF: none
extern std::uint32_t K2C_threshold;  // collection threshold; FFFFFFFF: none

// Set-up by K2C_BEGIN. A threshold or limit of 0 or less means none. The
// first call builds the heap; a later one while no object is handed out
// starts it afresh with the new limits, otherwise only sets the limits.
void K2C_GC_INIT(bool gcAuto, std::int32_t threshold, std::int32_t heapLimit);
void K2C_GC_INCREASE(bool gcAuto, std::int32_t threshold, std::int32_t heapLimit);

namespace krMM {

inline constexpr std::uint32_t kHeaderSize = 8;
inline constexpr std::uint32_t kBlockHeaderSize = 40;
inline constexpr std::uint32_t kBlockOverhead = 48;    // header and 8 spare bytes
inline constexpr std::uint32_t kBlockObjects = 16336;  // object bytes of a 16 KB block
inline constexpr std::uint32_t kSmallLimit = 160;      // largest small object
inline constexpr std::uint32_t kMediumLimit = 16168;   // largest medium object
inline constexpr std::uint32_t kKindMedium = 0;
inline constexpr std::uint32_t kKindLarge = 21;

inline constexpr std::uint32_t kInfoSizeMask = 0x3FF8;
inline constexpr std::uint32_t kInfoGcBit = 1u << 14;
inline constexpr std::uint32_t kInfoAllocated = 1u << 15;
inline constexpr std::uint32_t kInfoFree = 1u << 17;
inline constexpr std::uint32_t kInfoDistanceShift = 21;

inline constexpr std::uint32_t kBlockMagic = 0x12345678;
inline constexpr std::uint32_t kTypeMagic = 0x93678150;

struct ObjectHeader {
  std::uint32_t type;  // descriptor number; a free slot keeps its link here
  std::uint32_t info;
};

struct BlockHeader {
  std::uint32_t size;  // object bytes
  std::uint32_t free;  // small blocks: bytes not in use; large blocks: the object size
  BlockHeader* next;
  BlockHeader* prev;
  std::uint32_t freeSlots;  // offset of the first released slot from the header; 0: none
  std::uint32_t nextSlot;   // offset of the first never-used slot
  std::uint32_t magic;
  std::uint8_t kind;  // 0 medium, 1 to 20 small (slot units), 21 large
  std::uint8_t spare[3];
};
static_assert(sizeof(ObjectHeader) == kHeaderSize);
static_assert(sizeof(BlockHeader) == kBlockHeaderSize);

struct TypeDesc {
  std::uint32_t size;
  std::uint32_t magic;
  char* name;  // a copy on the private system heap
  TypeDesc* prev;
};

// A new type descriptor's number; trap 18 when its memory can't be had.
std::uint32_t ini_type_desc(const char* name, std::uint32_t size);
const TypeDesc* typeDesc(std::uint32_t number);  // NIL for an unknown number
extern std::uint32_t k2c_td_null;
extern std::uint32_t k2c_td_ptr;

// The object size for a request: the request and the header rounded up to 8;
// more than 32 bits for requests near 4 GB.
inline std::uint64_t objectSize(std::uint32_t size) {
  return (static_cast<std::uint64_t>(size) + 15) & ~std::uint64_t{7};
}

// p := the address after the header of a new object of s bytes (from
// objectSize) with its allocated bit and type set, or NIL; NIL without a
// trace for objectSize(0). Calls the collector hook (p NIL meanwhile) and
// retries once when it can't be had.
void newObject(void*& p, std::uint64_t s);
// Releases the object at p handed out by newObject and sets p to NIL
// (assertions 100 and 101 for a header or block that isn't the heap's, p
// kept); the header is cleared instead when it wasn't handed out. NIL does
// nothing.
void releaseObject(void*& p);

using Collector = void (*)();
void setCollector(Collector collector);  // NIL: the empty one
bool gcAuto();

// For checks: the object bytes counted for an object (its real size).
std::uint32_t countedSize(const ObjectHeader* object);

}  // namespace krMM
