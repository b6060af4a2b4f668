// The verifier rules: the fifteen-field object every record is judged under.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <set>
#include <string>

#include "base/codec.h"
#include "base/hash.h"
#include "record/binding_mode.h"
#include "record/evidence.h"
#include "record/kind.h"

namespace quintrel::verify {

using base::Id;

struct VerifierRules {
  Id space{};
  std::map<Id, record::Kind> kind_schema_map;
  std::set<record::Kind> signature_required_kinds;
  std::map<std::string, std::set<Id>> author_keys;
  std::map<std::string, record::AuthorType> author_roles;
  std::set<std::string> admin_retraction_actors;
  std::set<record::SummaryType> allowed_summary_types;
  std::map<record::Kind, record::Evidence> evidence_thresholds;
  uint32_t max_context_records = 0;
  record::BindingMode min_binding = record::BindingMode::reported;
  bool selection_requires_evaluation = true;
  std::set<std::string> reaffirmation_actors;
  uint32_t max_considered = 4096;
  bool selection_requires_approval = false;
  bool reject_compromised_continuation = false;

  // The starter value: the frozen schema table, all summary types, the
  // defaults above and everything else empty.
  static VerifierRules create(const Id& space, uint32_t max_context_records);

  // Candidate and Evaluation need Reported evidence, Selection Inferred.
  VerifierRules with_baseline_thresholds() &&;

  bool operator==(const VerifierRules&) const = default;
};

// The twenty known schema ids and their kinds, computed once.
const std::map<Id, record::Kind>& frozen_kind_schema_map();

// SHA-256 of the rules' canonical JSON.
std::expected<Id, base::JsonError> rules_hash(const VerifierRules& rules);

// The reader of `author_keys`: an object of authors to arrays of keys that
// refuses a key repeated for one author and an author repeated.
struct StrictAuthorKeys {
  static bool read(base::Reader& r, std::map<std::string, std::set<Id>>& out);
  static void write(base::JsonOut& o, const std::map<std::string, std::set<Id>>& v) {
    base::Codec<std::map<std::string, std::set<Id>>>::write(o, v);
  }
};

}  // namespace quintrel::verify

namespace quintrel::base {
template <>
struct Fields<verify::VerifierRules> {
  using R = verify::VerifierRules;
  static constexpr std::string_view name = "VerifierRules";
  static constexpr auto fields = std::make_tuple(
      field("space", &R::space),
      field("kind_schema_map", &R::kind_schema_map),
      field("signature_required_kinds", &R::signature_required_kinds),
      field_with<verify::StrictAuthorKeys>("author_keys", &R::author_keys),
      field("author_roles", &R::author_roles),
      field("admin_retraction_actors", &R::admin_retraction_actors),
      field("allowed_summary_types", &R::allowed_summary_types),
      field("evidence_thresholds", &R::evidence_thresholds),
      field("max_context_records", &R::max_context_records),
      field("min_binding", &R::min_binding, kDefault),
      field("selection_requires_evaluation", &R::selection_requires_evaluation, kDefault,
            [](bool& b) { b = true; }),
      field("reaffirmation_actors", &R::reaffirmation_actors, kDefault),
      field("max_considered", &R::max_considered, kDefault, [](uint32_t& n) { n = 4096; }),
      field("selection_requires_approval", &R::selection_requires_approval, kDefault),
      field("reject_compromised_continuation", &R::reject_compromised_continuation, kDefault));
};
}  // namespace quintrel::base
