// A model of the heap's objects for checking it after every step: what was
// handed out, with its contents and its block, and the counters those imply.
// Used by the heap tests and the heap fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "runtime/krBlockManager.h"
#include "runtime/krM2MM.h"
#include "runtime/krMM.h"

namespace heap_model {

struct Object {
  std::uint32_t request;
  std::uint32_t counted;  // object bytes the heap counts for it
  std::uint8_t fill;
};

class Model {
 public:
  // The heap's limits as K2C_GC_INIT was given them (0: none).
  Model(std::int32_t threshold, std::int32_t limit) {
    const auto none = [](std::int32_t v) {
      return v > 0 ? static_cast<std::uint64_t>(v) : 0xFFFFFFFFull;
    };
    ceiling_ = std::min(none(threshold), none(limit));
  }

  // Allocates and checks; returns the failure text or "".
  std::string allocate(std::uint32_t request) {
    const std::uint32_t usedBefore = K2C_usedmem;
    const std::uint32_t busyBefore = K2C_busymem;
    void* p = nullptr;
    K2C_ALLOCATE(p, request);
    if (p == nullptr) return refused(request, usedBefore, busyBefore);
    const auto s = static_cast<std::uint32_t>(krMM::objectSize(request));
    auto* header = static_cast<krMM::ObjectHeader*>(p) - 1;
    const std::uint32_t counted = krMM::countedSize(header);
    if (counted < s || (s > krMM::kSmallLimit && s <= krMM::kMediumLimit && counted > s + 24) ||
        ((s <= krMM::kSmallLimit || s > krMM::kMediumLimit) && counted != s)) {
      return "counted size " + std::to_string(counted) + " for object size " + std::to_string(s);
    }
    if (reinterpret_cast<std::uintptr_t>(p) % 8 != 0) return "object not 8-byte aligned";
    auto* at = static_cast<std::uint8_t*>(p);
    if (overlaps(at - krMM::kHeaderSize, counted)) return "object overlaps another";
    const auto fill = static_cast<std::uint8_t>(++serial_ * 37 + 1);
    std::memset(p, fill, request);
    objects_.emplace(at, Object{request, counted, fill});
    noteBlock(at, s, +1);
    used_ += counted;
    return counters();
  }

  // Releases the n-th live object (in address order) after checking it.
  std::string release(std::size_t n) {
    if (objects_.empty()) return "";
    auto it = objects_.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(n % objects_.size()));
    std::string bad = contents(it->first, it->second);
    if (!bad.empty()) return bad;
    void* p = it->first;
    noteBlock(it->first, static_cast<std::uint32_t>(krMM::objectSize(it->second.request)), -1);
    used_ -= it->second.counted;
    objects_.erase(it);
    K2C_DEALLOCATE(p);
    if (p != nullptr) return "K2C_DEALLOCATE left the variable set";
    return counters();
  }

  std::string checkAllContents() const {
    for (const auto& [at, object] : objects_) {
      std::string bad = contents(at, object);
      if (!bad.empty()) return bad;
    }
    return "";
  }

  std::string releaseAll() {
    while (!objects_.empty()) {
      std::string bad = release(0);
      if (!bad.empty()) return bad;
    }
    if (K2C_busymem != 0 || krBlockManager::blocksInUse() != 0 ||
        krBlockManager::blocksMarkedInUse() != 0) {
      return "blocks left after all";
    }
    return "";
  }

  std::size_t live() const { return objects_.size(); }
  std::uint32_t refusals() const { return refusals_; }

 private:
  // A refusal is right only when the block it would need does not fit under
  // the limits (or the reservation is full), and it changes no counter.
  std::string refused(std::uint32_t request, std::uint32_t usedBefore, std::uint32_t busyBefore) {
    if (request == 0) return usedBefore == K2C_usedmem ? counters() : "size 0 changed a counter";
    ++refusals_;
    if (K2C_usedmem != usedBefore || K2C_busymem != busyBefore) return "a refusal changed counters";
    const std::uint64_t s = krMM::objectSize(request);
    const std::uint64_t need = s <= krMM::kMediumLimit ? 16384 : s + krMM::kBlockOverhead;
    const bool full = krBlockManager::blocksInUse() == krBlockManager::kBlockCount;
    if (K2C_busymem + need <= ceiling_ && !(full && need == 16384)) {
      return "refused " + std::to_string(request) + " bytes with room under the limits";
    }
    return counters();
  }

  std::string counters() const {
    if (K2C_objects != objects_.size()) return "K2C_objects " + std::to_string(K2C_objects);
    if (K2C_usedmem != used_) return "K2C_usedmem " + std::to_string(K2C_usedmem);
    if (K2C_busymem != busy_) {
      return "K2C_busymem " + std::to_string(K2C_busymem) + " expected " + std::to_string(busy_);
    }
    if (K2C_busymem > ceiling_) return "K2C_busymem above the limits";
    if (krBlockManager::blocksInUse() != blockCounts_.size()) {
      return "blocks in use " + std::to_string(krBlockManager::blocksInUse()) + " expected " +
             std::to_string(blockCounts_.size());
    }
    return "";
  }

  // Every 16 KB block in use must hold a live object; large objects of other
  // sizes have blocks of their own.
  void noteBlock(const std::uint8_t* at, std::uint32_t s, int delta) {
    const std::int32_t block = krBlockManager::blockIndex(at);
    if (block < 0) {
      busy_ += delta > 0 ? s + krMM::kBlockOverhead : -(s + krMM::kBlockOverhead);
      return;
    }
    if (delta > 0) {
      if (blockCounts_[block]++ == 0) busy_ += 16384;
    } else if (--blockCounts_[block] == 0) {
      blockCounts_.erase(block);
      busy_ -= 16384;
    }
  }

  bool overlaps(const std::uint8_t* start, std::uint32_t size) const {
    auto after = objects_.lower_bound(start);
    if (after != objects_.end() && after->first - krMM::kHeaderSize < start + size) return true;
    if (after == objects_.begin()) return false;
    auto before = std::prev(after);
    return before->first - krMM::kHeaderSize + before->second.counted > start;
  }

  // Compared in pieces against a filled buffer: memcmp, not a loop the
  // fuzzer's instrumentation would trace byte by byte.
  static std::string contents(const std::uint8_t* at, const Object& object) {
    std::uint8_t expected[4096];
    std::memset(expected, object.fill, sizeof expected);
    for (std::uint32_t from = 0; from < object.request; from += sizeof expected) {
      const std::uint32_t n = std::min<std::uint32_t>(sizeof expected, object.request - from);
      if (std::memcmp(at + from, expected, n) != 0) {
        return "contents of an object changed after byte " + std::to_string(from);
      }
    }
    return "";
  }

  std::uint64_t ceiling_;
  std::map<std::uint8_t*, Object, std::less<>> objects_;
  std::map<std::int32_t, std::uint32_t> blockCounts_;
  std::uint32_t used_ = 0;
  std::uint32_t busy_ = 0;
  std::uint32_t serial_ = 0;
  std::uint32_t refusals_ = 0;
};

// Request sizes from every class, with their edges more often than chance
// would give them.
inline std::uint32_t RequestSize(std::uint32_t r) {
  static constexpr std::uint32_t kEdges[] = {0,   1,     8,     9,     152,   153,  160,
                                             200, 16152, 16160, 16161, 16328, 16329};
  switch (r % 8) {
    case 0:
      return kEdges[(r >> 3) % std::size(kEdges)];
    case 1:
    case 2:
    case 3:
      return 1 + (r >> 3) % 152;
    case 4:
    case 5:
      return 153 + (r >> 3) % (16160 - 152);
    case 6:
      return 153 + (r >> 3) % 2000;
    default:
      return 16161 + (r >> 3) % 60000;
  }
}

}  // namespace heap_model
