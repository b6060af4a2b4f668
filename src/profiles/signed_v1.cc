#include "profiles/signed_v1.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "profiles/registry.h"
#include "record/evolution_payloads.h"
#include "record/schema.h"

namespace quintrel::profiles::signed_v1 {
namespace {

using record::Kind;

constexpr std::string_view kClauseIds[] = {"S0", "S1", "S2", "S3"};

// In the order the S1 detail names them.
constexpr Kind kEvolutionKinds[] = {Kind::Candidate, Kind::Evaluation, Kind::Selection, Kind::Retraction,
                                    Kind::Requirement};

bool evolution(Kind kind) { return std::ranges::find(kEvolutionKinds, kind) != std::end(kEvolutionKinds); }

ClauseResult s1_required_signatures(const verify::VerifierRules& rules) {
  std::vector<std::string_view> missing;
  for (Kind kind : kEvolutionKinds)
    if (!rules.signature_required_kinds.contains(kind)) missing.push_back(base::enum_name(kind));
  if (missing.empty())
    return {"S1", true, "signatures required for Candidate, Evaluation, Selection, Retraction, Requirement"};
  return {"S1", false, "signature not required for " + joined(missing, ", ")};
}

// Whether the records are signed is the replay's to enforce; this reads only
// whether their authors are pinned.
ClauseResult s2_pinned_authors(const Input& input, const state::State& state) {
  std::set<std::string> pinned;
  std::map<std::string, std::set<std::string_view>> unpinned;  // author -> kind names, ascending
  for (const auto& r : input.records()) {
    if (!evolution(r.kind) || !state.accepted_records.contains(r.id)) continue;
    if (input.rules().author_keys.contains(r.author.id)) pinned.insert(r.author.id);
    else unpinned[r.author.id].insert(base::enum_name(r.kind));
  }
  if (unpinned.empty())
    return {"S2", true,
            std::to_string(pinned.size()) + " pinned author(s) of evolution records: [" +
                joined(pinned, ", ", one_line) + "]"};
  return {"S2", false, "unpinned: " + joined(unpinned, ", ", [](const auto& entry) {
                         return quoted(entry.first) + " (" +
                                joined(entry.second, ", ") + ")";
                       })};
}

// Uses are counted; the evaluations that are not attested are named once each.
ClauseResult s3_attested(const Input& input, const state::State& state) {
  const base::Id& attested = record::schema_id(record::Schema::EvaluationAttested);
  uint64_t used = 0;
  std::vector<std::string> not_attested;
  for (const auto& r : input.records()) {
    if (r.kind != Kind::Selection || !state.accepted_records.contains(r.id)) continue;
    const record::SelectionData* selection = input.selection_data(r);
    if (!selection || selection->outcome.is_none()) continue;
    for (const auto& ref : r.refs) {
      if (ref.type != record::RefType::Use) continue;
      const record::Record* e = input.find(ref.target);
      if (!e || e->kind != Kind::Evaluation || !state.accepted_records.contains(e->id)) continue;
      ++used;
      if (e->schema != attested) not_attested.push_back(short_id(e->id));
    }
  }
  std::ranges::sort(not_attested);
  not_attested.erase(std::unique(not_attested.begin(), not_attested.end()), not_attested.end());
  if (not_attested.empty())
    return {"S3", true, std::to_string(used) + " evaluation(s) used by selections, all attested"};
  return {"S3", false,
          "not attested: " + std::to_string(not_attested.size()) + " of " + std::to_string(used) +
              " used evaluation(s): [" + joined(not_attested, ", ") + "]"};
}

}  // namespace

ProfileTable table() {
  return {std::string(kId),
          1,
          {
              {"S0",
               "The receipt conforms to quintrel-core-v1, and if it declares that profile the declaration names the "
               "evaluated table."},
              {"S1",
               "signature_required_kinds includes Candidate, Evaluation, Selection, Retraction, and Requirement."},
              {"S2",
               "author_keys pins every actor that authored an accepted Candidate, Evaluation, Selection, Retraction, "
               "or Requirement."},
              {"S3",
               "Every evaluation Used by an accepted Selection with outcome Selected carries the schema "
               "quintrel.evaluation.attested.v1."},
          }};
}

ProfileResult finish(std::vector<ClauseResult> clauses) { return result_of(table(), std::move(clauses)); }

std::vector<ClauseResult> all_failed(std::span<const std::string_view> ids, std::string_view detail) {
  std::vector<ClauseResult> out;
  for (std::string_view id : ids) out.push_back({std::string(id), false, std::string(detail)});
  return out;
}

// An Invalid receipt is not looked at further, not even for the core profile.
ProfileResult evaluate(const Input& input) {
  if (input.verdict().invalid) return finish(all_failed(kClauseIds, "receipt is Invalid"));
  const state::State* state = input.state();
  if (!state) return finish(all_failed(kClauseIds, "state could not be rebuilt"));
  return finish({core_clause("S0", input), s1_required_signatures(input.rules()), s2_pinned_authors(input, *state),
                 s3_attested(input, *state)});
}

}  // namespace quintrel::profiles::signed_v1
