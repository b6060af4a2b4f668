// A small workflow log and its receipt, shared by the receipt and profile tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "log_fixture.h"
#include "profiles/records.h"
#include "receipt/receipt.h"

namespace quintrel::fixture {

struct Workflow {
  Log log;
  Id request, requirement, manifest_candidate, reported_candidate, evaluation, selection;
};

// The test rules with the baseline thresholds and max_context_records 200.
verify::VerifierRules workflow_rules();

// Under the workflow rules: a request (with a Requirement unless `with_requirement` is false), a
// candidate bound to a manifest and one reported, an evaluation of the first
// and a selection of it.
Workflow workflow(bool with_requirement = true);

inline receipt::Receipt receipt_of(const Log& log) { return receipt::Receipt::create(log.records(), log.rules); }
inline std::string bytes_of(const receipt::Receipt& r) { return r.to_bytes().value(); }

// Each clause result as "ok D0: detail" or "FAIL D0: detail".
std::vector<std::string> clause_lines(const profiles::ProfileResult& result);
// Clause lines "FAIL L<first>: detail" to "FAIL L<last>: detail".
std::vector<std::string> failing(char letter, int first, int last, const std::string& detail);
// `rows` (clause lines as above) with each of `changes` in place of the row
// of its clause id, and every "{name}" replaced by the value of `name`.
std::vector<std::string> expected_rows(std::vector<std::string> rows, const std::vector<std::string>& changes,
                                       const std::map<std::string, std::string>& names = {});
// Expects the result's clause lines to be `rows`, its status to follow them
// and its hash to be the table's.
void expect_rows(const profiles::ProfileResult& result, const std::vector<std::string>& rows,
                 const profiles::ProfileTable& table, const std::string& name);
// The result of the profile when the receipt is validated under the standard
// limits with it required (declared or not).
profiles::ProfileResult validated_profile(const receipt::Receipt& receipt, const std::string& id);

}  // namespace quintrel::fixture
