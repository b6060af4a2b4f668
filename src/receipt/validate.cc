#include "receipt/validate.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "base/hash.h"
#include "profiles/registry.h"
#include "verify/replay.h"

namespace quintrel::receipt {
namespace {

using Problem = std::optional<std::string>;

// A failure before the replay: the step's problem and zero values elsewhere.
Report structural(std::string problem, std::string spec_version = {}) {
  Report r;
  r.status = ValidationStatus::Invalid;
  r.problem = std::move(problem);
  r.spec_version = std::move(spec_version);
  return r;
}

// Tested on the parsed receipt: the size limit has already bounded the parse.
Problem record_limits(const Receipt& receipt, const ValidationLimits& limits) {
  if (receipt.records.size() > limits.max_records)
    return "receipt exceeds record limit (" + std::to_string(receipt.records.size()) + " > " +
           std::to_string(limits.max_records) + ")";
  for (size_t i = 0; i < receipt.records.size(); ++i) {
    if (receipt.records[i].data.size() > limits.max_payload_bytes)
      return "record " + std::to_string(i) + " exceeds payload size limit";
    if (receipt.records[i].refs.size() > limits.max_refs)
      return "record " + std::to_string(i) + " exceeds ref-count limit";
  }
  return std::nullopt;
}

Problem spec_version(const Receipt& receipt) {
  if (std::ranges::find(kSpecVersions, receipt.spec_version) != kSpecVersions.end()) return std::nullopt;
  std::string supported;
  for (std::string_view v : kSpecVersions) supported.append(supported.empty() ? "" : ", ").append(v);
  return "unsupported spec version " + base::debug_quote(receipt.spec_version) + " (this validator implements " +
         base::debug_quote(kCurrentSpecVersion) + " and validates " + supported + ")";
}

// The first declaration, in order, whose id is empty or repeats an earlier
// one. The ids are a stranger's: sorted once rather than compared pairwise.
Problem declarations(const Receipt& receipt) {
  const auto& refs = receipt.profiles;
  if (refs.empty()) return std::nullopt;
  if (receipt.spec_version != kCurrentSpecVersion)
    return "profile declarations require spec " + std::string(kCurrentSpecVersion) + " or later (receipt declares " +
           base::debug_quote(receipt.spec_version) + ")";
  std::vector<size_t> order(refs.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const int c = refs[a].id.compare(refs[b].id);
    return c < 0 || (c == 0 && a < b);
  });
  size_t first = refs.size();
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t at = order[k];
    const bool repeat = k > 0 && refs[order[k - 1]].id == refs[at].id;
    if (refs[at].id.empty() || repeat) first = std::min(first, at);
  }
  if (first == refs.size()) return std::nullopt;
  if (refs[first].id.empty()) return "profile declaration " + std::to_string(first) + " has an empty id";
  return "profile " + base::debug_quote(refs[first].id) + " is declared more than once";
}

base::Digest head_hash(const std::vector<record::Record>& records) {
  base::Sha256 hash;
  for (const auto& r : records) hash.update(r.id.data(), r.id.size());
  return hash.finish();
}

struct Validated {
  Report report;
  std::optional<Receipt> receipt;  // kept when no structural problem was found
  state::State state;              // folded by the replay; empty when it failed
};

Validated validate(std::string_view bytes, const ValidationLimits& limits) {
  // The size, before anything is parsed.
  if (bytes.size() > limits.max_bytes)
    return {structural("receipt exceeds size limit (" + std::to_string(bytes.size()) + " > " +
                       std::to_string(limits.max_bytes) + " bytes)")};

  // One strict pass over the bytes, building no document tree.
  auto parsed = Receipt::from_bytes(bytes);
  if (!parsed) return {structural("unparseable receipt: " + parsed.error().to_string())};
  Receipt& receipt = *parsed;

  // The record limits, the `spec_version`, the declarations.
  Problem problem = record_limits(receipt, limits);
  if (!problem) problem = spec_version(receipt);
  if (!problem) problem = declarations(receipt);
  if (problem) return {structural(std::move(*problem), receipt.spec_version)};

  // The rules hash, over the rules as stored.
  auto rules_hash = verify::rules_hash(receipt.rules);
  if (!rules_hash)
    return {structural("rules do not canonicalize: " + rules_hash.error().to_string(), receipt.spec_version)};

  // The replay, under the rules restricted to the version's schemas
  // (restricting cannot fail, so it may come this late). Only the kind-schema
  // map differs from the rules as stored, so that map alone is swapped in for
  // the replay and back again: the rules, of any size, are never copied.
  auto stored_map = std::exchange(receipt.rules.kind_schema_map,
                                  admitted_kind_schemas(receipt.rules.kind_schema_map, receipt.spec_version));
  verify::Replay replay = verify::replay_log(receipt.records, receipt.rules);
  verify::LogVerdict& verdict = replay.verdict;
  receipt.rules.kind_schema_map = std::move(stored_map);

  // The status and what the replay re-derived; the head hash over the ids as stored.
  Report r;
  r.reason = verdict.failure;
  if (verdict.failure) r.status = ValidationStatus::Invalid;
  else if (!verdict.retracted.empty() || !verdict.tainted.empty()) r.status = ValidationStatus::Tainted;
  else r.status = ValidationStatus::Clean;
  r.spec_version = receipt.spec_version;
  r.record_count = receipt.records.size();
  r.checked_records = verdict.checked_records;
  r.last_time = verdict.last_time;
  r.head_hash = head_hash(receipt.records);
  r.rules_hash = *rules_hash;
  r.retracted = std::move(verdict.retracted);
  r.tainted = std::move(verdict.tainted);
  r.standing = std::move(verdict.standing);
  return {std::move(r), std::move(receipt), std::move(replay.state)};
}

}  // namespace

profiles::Input profile_input(const Receipt& receipt, const Report& report, const state::State* replayed) {
  const profiles::Verdict verdict{report.status == ValidationStatus::Invalid, base::enum_name(report.status),
                                  report.retracted, report.tainted, report.standing};
  return profiles::Input(verdict, receipt.rules, receipt.records, receipt.profiles, replayed);
}

Report validate_with_limits(std::string_view bytes, const ValidationLimits& limits) {
  return validate_with_profiles(bytes, limits, {});
}

// Profiles are evaluated beside the verdict and never change it. The receipt
// parsed for validation serves them: parsing the same bytes again could only
// give the same receipt. So does the replay's state, when the replay passed:
// it is the state that rebuilding the records would give.
Report validate_with_profiles(std::string_view bytes, const ValidationLimits& limits,
                              std::span<const std::string> required) {
  Validated v = validate(bytes, limits);
  if (!v.receipt) return std::move(v.report);
  const bool replayed = !v.report.reason;
  v.report.profiles =
      profiles::evaluate_profiles(profile_input(*v.receipt, v.report, replayed ? &v.state : nullptr), required);
  return std::move(v.report);
}

}  // namespace quintrel::receipt
