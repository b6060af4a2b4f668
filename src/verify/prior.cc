#include "verify/prior.h"

#include <sodium.h>

#include <cstring>
#include <stdexcept>

namespace quintrel::verify {
namespace {

struct HashKey {
  unsigned char key[crypto_shorthash_KEYBYTES];
  HashKey() {
    if (sodium_init() < 0) throw std::runtime_error("cannot initialise libsodium");
    randombytes_buf(key, sizeof key);
  }
};

}  // namespace

size_t IdHash::operator()(const Id& id) const noexcept {
  static const HashKey key;
  unsigned char out[crypto_shorthash_BYTES];
  crypto_shorthash(out, id.data(), id.size(), key.key);
  size_t h;
  std::memcpy(&h, out, sizeof h);
  return h;
}

PriorIndex PriorIndex::of(std::span<const Record> records) {
  PriorIndex index;
  index.by_id_.reserve(records.size());
  for (size_t i = 0; i < records.size(); ++i) index.insert(i, records[i]);
  return index;
}

void PriorIndex::insert(size_t position, const Record& record) {
  by_id_.try_emplace(record.id, position);
  if (record.kind != record::Kind::Verdict) return;
  for (const auto& ref : record.refs)
    if (ref.type == record::RefType::Cause) verdicted_.insert(ref.target);
}

}  // namespace quintrel::verify
