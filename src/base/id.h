// The 32-byte id of records, schemas, spaces and keys, and its ordered
// collections.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>

namespace quintrel::base {

using Id = std::array<uint8_t, 32>;

// Orders ids by their bytes, as std::less does, with four word comparisons
// in place of a library call: ordered sets of ids are the verifier's hot path.
struct IdLess {
  bool operator()(const Id& a, const Id& b) const noexcept {
    for (size_t i = 0; i < 32; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x != y) {
        if constexpr (std::endian::native == std::endian::little) x = std::byteswap(x), y = std::byteswap(y);
        return x < y;
      }
    }
    return false;
  }
};
using IdSet = std::set<Id, IdLess>;
template <class V>
using IdMap = std::map<Id, V, IdLess>;

// A keyed hash of ids: ids in a receipt are chosen by whoever wrote it, so the
// bucket of an id must not be predictable. The key is drawn once per process.
struct IdHash {
  size_t operator()(const Id& id) const noexcept;
};

}  // namespace quintrel::base
