#include "receipt_fixture.h"

#include <algorithm>

#include "receipt/validate.h"
#include "record/evolution_payloads.h"

namespace quintrel::fixture {

verify::VerifierRules workflow_rules() {
  verify::VerifierRules rules = test_rules().with_baseline_thresholds();
  rules.max_context_records = 200;
  return rules;
}

Workflow workflow(bool with_requirement) {
  Workflow w;
  w.log.rules = workflow_rules();
  w.request = w.log.accept(draft(Kind::Request, "user", record::RequestData{"ship it", base::sha256("scope")}));
  if (with_requirement)
    w.requirement = w.log.accept(draft(Kind::Requirement, "user",
                                       record::RequirementData{"tests", "the tests pass", true, std::nullopt,
                                                               record::Provenance::user_authored},
                                       {cause(w.request)}));
  record::CandidateData c;
  c.source.git.tree = std::string(40, 'a');
  c.source.manifest_hash = base::sha256("manifest");
  c.source.binding = record::BindingMode::manifest;
  w.manifest_candidate = w.log.accept(draft(Kind::Candidate, "provider", c, {cause(w.request)}));
  c.source.manifest_hash.reset();
  c.source.binding = record::BindingMode::reported;
  w.reported_candidate = w.log.accept(draft(Kind::Candidate, "provider", c, {cause(w.request)}));
  const Id picked = w.manifest_candidate;
  w.evaluation = w.log.accept(draft(Kind::Evaluation, "provider", record::EvaluationData{picked, "tests"}, {use(picked)}));
  w.selection = w.log.accept(draft(Kind::Selection, "provider",
                                   record::SelectionData{"ship", {picked}, record::SelectionOutcome::choose({picked}), {}},
                                   {require(picked), use(w.evaluation)}));
  return w;
}

std::vector<std::string> clause_lines(const profiles::ProfileResult& result) {
  std::vector<std::string> out;
  for (const auto& c : result.clauses) out.push_back((c.passed ? "ok " : "FAIL ") + c.id + ": " + c.detail);
  return out;
}

std::vector<std::string> failing(char letter, int first, int last, const std::string& detail) {
  std::vector<std::string> out;
  for (int i = first; i <= last; ++i) out.push_back("FAIL " + std::string(1, letter) + std::to_string(i) + ": " + detail);
  return out;
}

std::vector<std::string> expected_rows(std::vector<std::string> rows, const std::vector<std::string>& changes,
                                       const std::map<std::string, std::string>& names) {
  auto clause = [](const std::string& row) { return row.substr(row.find(' ') + 1, 2); };
  for (const auto& change : changes)
    for (auto& row : rows)
      if (clause(row) == clause(change)) row = change;
  for (auto& row : rows)
    for (const auto& [name, value] : names)
      for (size_t at; (at = row.find("{" + name + "}")) != std::string::npos;) row.replace(at, name.size() + 2, value);
  return rows;
}

void expect_rows(const profiles::ProfileResult& result, const std::vector<std::string>& rows,
                 const profiles::ProfileTable& table, const std::string& name) {
  EXPECT_EQ(clause_lines(result), rows) << name;
  const bool met = std::ranges::all_of(rows, [](const std::string& row) { return row.starts_with("ok"); });
  EXPECT_EQ(result.status, met ? profiles::ProfileStatus::Conformant : profiles::ProfileStatus::NonConformant)
      << name;
  EXPECT_EQ(result.hash, profiles::profile_hash(table)) << name;
}

profiles::ProfileResult validated_profile(const receipt::Receipt& receipt, const std::string& id) {
  const std::vector<std::string> required = {id};
  const auto report = receipt::validate_with_profiles(bytes_of(receipt), receipt::kStandardLimits, required);
  for (const auto& p : report.profiles)
    if (p.id == id) return p;
  ADD_FAILURE() << "no result for " << id;
  return {};
}

}  // namespace quintrel::fixture
