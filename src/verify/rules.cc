#include "verify/rules.h"

#include <vector>

#include "record/schema.h"

namespace quintrel::verify {

using record::Kind;

const std::map<Id, Kind>& frozen_kind_schema_map() {
  static const std::map<Id, Kind> table = [] {
    std::map<Id, Kind> m;
    for (const auto& s : record::schemas()) m.emplace(record::schema_id(s.schema), s.kind);
    return m;
  }();
  return table;
}

VerifierRules VerifierRules::create(const Id& space, uint32_t max_context_records) {
  VerifierRules r;
  r.space = space;
  r.max_context_records = max_context_records;
  r.kind_schema_map = frozen_kind_schema_map();
  r.allowed_summary_types = {record::SummaryType::Procedure, record::SummaryType::Pattern,
                             record::SummaryType::Lesson, record::SummaryType::StateSnapshot};
  return r;
}

VerifierRules VerifierRules::with_baseline_thresholds() && {
  evidence_thresholds[Kind::Candidate] = record::Evidence::Reported;
  evidence_thresholds[Kind::Evaluation] = record::Evidence::Reported;
  evidence_thresholds[Kind::Selection] = record::Evidence::Inferred;
  return std::move(*this);
}

std::expected<Id, base::JsonError> rules_hash(const VerifierRules& rules) {
  return base::sha256_canonical(rules);
}

bool StrictAuthorKeys::read(base::Reader& r, std::map<std::string, std::set<Id>>& out) {
  return r.map("an actor-key object with unique actors and keys", [&](base::Reader::MapAccess& a) {
    for (;;) {
      bool has;
      std::string_view key;
      if (!a.next_key(key, has)) return false;
      if (!has) return true;
      std::string author(key);
      std::vector<Id> keys;
      if (!a.colon() || !base::Codec<std::vector<Id>>::read(r, keys)) return false;
      std::set<Id> set;
      for (const Id& k : keys)
        if (!set.insert(k).second) return r.fail_custom("duplicate key for author");
      if (!out.emplace(std::move(author), std::move(set)).second)
        return r.fail_custom("duplicate author in author_keys");
    }
  });
}

}  // namespace quintrel::verify
