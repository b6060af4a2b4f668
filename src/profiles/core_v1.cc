#include "profiles/core_v1.h"

#include <set>
#include <string>

#include "record/evolution_payloads.h"

namespace quintrel::profiles {
namespace {

using record::Evidence;
using record::Kind;

ClauseResult b1_status(const Verdict& verdict) {
  return {"B1", !verdict.invalid, "status " + std::string(verdict.status)};
}

// Membership is enforced per record by the replay; only the count is read.
ClauseResult b2_author_roles(const verify::VerifierRules& rules) {
  const size_t n = rules.author_roles.size();
  return {"B2", n != 0, std::to_string(n) + " registered author role(s)"};
}

ClauseResult b3_thresholds(const verify::VerifierRules& rules) {
  constexpr std::pair<Kind, Evidence> kBases[] = {
      {Kind::Candidate, Evidence::Reported}, {Kind::Evaluation, Evidence::Reported}, {Kind::Selection, Evidence::Inferred}};
  ClauseResult out{"B3", true, ""};
  for (auto [kind, base] : kBases) {
    if (!out.detail.empty()) out.detail += ", ";
    out.detail.append(base::enum_name(kind)).append("=");
    auto it = rules.evidence_thresholds.find(kind);
    if (it == rules.evidence_thresholds.end()) {
      out.detail += "missing";
      out.passed = false;
      continue;
    }
    out.detail.append(base::enum_name(it->second));
    // A larger ordinal is a weaker class.
    if (it->second > base) {
      out.detail.append(" (weaker than ").append(base::enum_name(base)).append(")");
      out.passed = false;
    }
  }
  return out;
}

ClauseResult b4_context_limit(const verify::VerifierRules& rules) {
  const uint32_t m = rules.max_context_records;
  return {"B4", m >= 1 && m <= 100000, "max_context_records " + std::to_string(m)};
}

ClauseResult b5_authority(const verify::VerifierRules& rules) {
  return {"B5", true,
          "admin_retraction_actors [" + joined(rules.admin_retraction_actors, ", ", one_line) +
              "], reaffirmation_actors [" + joined(rules.reaffirmation_actors, ", ", one_line) + "]"};
}

// Counted only for a receipt that is not Invalid and whose state rebuilds.
ClauseResult b6_bindings(const Input& input) {
  uint64_t manifest = 0, reported = 0;
  if (!input.verdict().invalid) {
    if (const state::State* state = input.state()) {
      for (const auto& r : input.records()) {
        if (r.kind != Kind::Candidate || !state->accepted_records.contains(r.id)) continue;
        const record::CandidateData* c = input.candidate_data(r);
        if (!c) continue;
        ++(c->source.binding == record::BindingMode::manifest ? manifest : reported);
      }
    }
  }
  return {"B6", true,
          "candidates: " + std::to_string(manifest) + " manifest-bound, " + std::to_string(reported) + " reported"};
}

}  // namespace

ProfileTable core_v1_table() {
  return {std::string(kCoreV1),
          1,
          {
              {"B1", "The receipt validates Clean or Tainted; an Invalid receipt never conforms."},
              {"B2", "author_roles is non-empty, and every accepted record's author is registered in it."},
              {"B3",
               "evidence_thresholds carries entries for Candidate, Evaluation, and Selection, each no weaker than "
               "the schema base class (Reported, Reported, Inferred)."},
              {"B4", "max_context_records is declared within 1..=100000."},
              {"B5",
               "Retraction and reaffirmation authority are readable from the rules: admin_retraction_actors and "
               "reaffirmation_actors are reported."},
              {"B6",
               "The source binding mode of every accepted Candidate (Manifest or Reported) is reported; neither is "
               "required."},
          }};
}

ProfileResult evaluate_core_v1(const Input& input) {
  const verify::VerifierRules& rules = input.rules();
  return result_of(core_v1_table(), {b1_status(input.verdict()), b2_author_roles(rules), b3_thresholds(rules),
                                     b4_context_limit(rules), b5_authority(rules), b6_bindings(input)});
}

}  // namespace quintrel::profiles
