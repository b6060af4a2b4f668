// A small workflow log and its receipt, shared by the receipt and profile tests.
#pragma once

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

// Under the test rules with the baseline thresholds and max_context_records
// 200: a request (with a Requirement unless `with_requirement` is false), a
// candidate bound to a manifest and one reported, an evaluation of the first
// and a selection of it.
Workflow workflow(bool with_requirement = true);

inline receipt::Receipt receipt_of(const Log& log) { return receipt::Receipt::create(log.records(), log.rules); }
inline std::string bytes_of(const receipt::Receipt& r) { return r.to_bytes().value(); }

// Each clause result as "ok D0: detail" or "FAIL D0: detail".
std::vector<std::string> clause_lines(const profiles::ProfileResult& result);
// The result of the profile when the receipt is validated under the standard
// limits with it required (declared or not).
profiles::ProfileResult validated_profile(const receipt::Receipt& receipt, const std::string& id);

}  // namespace quintrel::fixture
