#include "verify/prior.h"

namespace quintrel::verify {
PriorIndex PriorIndex::of(std::span<const Record> records) {
  PriorIndex index;
  index.reserve(records.size());
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
