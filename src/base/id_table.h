// Hash tables of 32-byte ids in one flat array: no allocation per element and
// one probe sequence per lookup, for the sets and indexes that a replay fills
// with every record. Elements are only ever added. The hash is keyed (see
// IdHash), so ids chosen by a stranger cannot make lookups slow.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <utility>
#include <vector>

#include "base/id.h"

namespace quintrel::base {

template <class V>
class IdTable {
 public:
  IdTable() = default;
  IdTable(std::initializer_list<std::pair<Id, V>> elements) {
    for (const auto& [id, value] : elements) try_emplace(id, value);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Room for `n` elements without growing.
  void reserve(size_t n) {
    size_t want = 16;
    while (3 * want < 4 * n) want *= 2;
    if (want > slots_.size()) rehash(want);
  }

  // The element's value and whether it was added; an existing one is kept.
  std::pair<V*, bool> try_emplace(const Id& id, V value = V{}) {
    // At most three quarters full: short probe sequences, little slack.
    if (4 * (size_ + 1) > 3 * slots_.size()) rehash(slots_.empty() ? 16 : 2 * slots_.size());
    Slot& s = slots_[probe(id)];
    if (s.used) return {&s.value, false};
    s.id = id;
    s.value = std::move(value);
    s.used = true;
    ++size_;
    return {&s.value, true};
  }

  const V* find(const Id& id) const {
    if (slots_.empty()) return nullptr;
    const Slot& s = slots_[probe(id)];
    return s.used ? &s.value : nullptr;
  }
  V* find(const Id& id) { return const_cast<V*>(std::as_const(*this).find(id)); }
  bool contains(const Id& id) const { return find(id) != nullptr; }

  // Calls f(id, value) for every element, in no particular order.
  template <class F>
  void for_each(F&& f) const {
    for (const Slot& s : slots_)
      if (s.used) f(s.id, s.value);
  }

  // The same elements with equal values, however they were added.
  bool operator==(const IdTable& o) const {
    if (size_ != o.size_) return false;
    for (const Slot& s : slots_)
      if (s.used) {
        const V* v = o.find(s.id);
        if (!v || !(*v == s.value)) return false;
      }
    return true;
  }

 private:
  struct Slot {
    Id id{};
    bool used = false;
    V value{};
  };

  // The slot holding `id`, or the empty slot where it would go.
  size_t probe(const Id& id) const {
    const size_t mask = slots_.size() - 1;
    size_t i = IdHash{}(id) & mask;
    while (slots_[i].used && slots_[i].id != id) i = (i + 1) & mask;
    return i;
  }

  void rehash(size_t capacity) {
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(capacity));
    for (Slot& s : old)
      if (s.used) {
        Slot& to = slots_[probe(s.id)];
        to.id = s.id;
        to.value = std::move(s.value);
        to.used = true;
      }
  }

  std::vector<Slot> slots_;
  size_t size_ = 0;
};

// A set of ids on the same table.
class IdTableSet {
 public:
  IdTableSet() = default;
  IdTableSet(std::initializer_list<Id> ids) {
    for (const Id& id : ids) insert(id);
  }
  size_t size() const { return table_.size(); }
  bool empty() const { return table_.empty(); }
  void reserve(size_t n) { table_.reserve(n); }
  bool insert(const Id& id) { return table_.try_emplace(id).second; }
  bool contains(const Id& id) const { return table_.contains(id); }
  template <class F>
  void for_each(F&& f) const {
    table_.for_each([&](const Id& id, const Unit&) { f(id); });
  }
  bool operator==(const IdTableSet&) const = default;

 private:
  struct Unit {
    bool operator==(const Unit&) const = default;
  };
  IdTable<Unit> table_;
};

}  // namespace quintrel::base
