// Receipt validation on arbitrary bytes, under small limits: it must never
// crash, hang or allocate without bound, and must always return a report that
// keeps the report's own rules. A broken rule aborts, so the fuzzer keeps the
// input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/hash.h"
#include "profiles/registry.h"
#include "receipt/receipt.h"
#include "receipt/validate.h"

namespace {

using namespace quintrel;
using receipt::Report;
using receipt::ValidationStatus;

// Below the longest input the fuzzer makes (scripts/fuzz.sh), so the size
// limit is reached too.
constexpr receipt::ValidationLimits kSmall{30000, 64, 4096, 16};

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

void check_report(const Report& r) {
  require((r.status == ValidationStatus::Invalid) == (r.problem || r.reason), "Invalid exactly with a problem or reason");
  require(!(r.problem && r.reason), "a problem and a reason");
  if (r.problem) {
    require(r.record_count == 0 && r.checked_records == 0 && r.last_time == 0, "counts after a problem");
    require(r.head_hash == base::Id{} && r.rules_hash == base::Id{}, "hashes after a problem");
    require(r.retracted.empty() && r.tainted.empty() && r.profiles.empty(), "sets after a problem");
    require(r.standing == verify::StandingSection{}, "standing after a problem");
  }
  if (r.reason) require(r.retracted.empty() && r.tainted.empty() && r.standing.restorations.empty(), "sets after a failed replay");
  if (r.status == ValidationStatus::Clean) require(r.retracted.empty() && r.tainted.empty(), "a clean report with retractions");
  require(r.checked_records <= r.record_count, "more checked than read");
  for (const auto& p : r.profiles) {
    if (p.status == profiles::ProfileStatus::Unknown) {
      require(p.clauses.empty() && p.hash == base::Id{} && !p.declaration_matches, "an Unknown result with content");
    } else {
      bool all = true;
      for (const auto& c : p.clauses) {
        all = all && c.passed;
        require(c.detail.find('\n') == std::string::npos, "a detail of two lines");
      }
      require(all == (p.status == profiles::ProfileStatus::Conformant), "status against clauses");
      const auto table = profiles::profile_table(p.id);
      require(table && p.hash == profiles::profile_hash(*table), "a known result with another hash");
      require(table->clauses.size() == p.clauses.size(), "a clause missing");
      for (size_t i = 0; i < p.clauses.size(); ++i) require(p.clauses[i].id == table->clauses[i].id, "clause order");
    }
  }
  uint64_t restorers = 0;
  r.standing.restorations.for_each([&](const base::Id& key, auto members) {
    require(r.standing.unsound.contains(key), "a restoration of a sound selection");
    for (size_t i = 1; i < members.size(); ++i) require(base::IdLess{}(members[i - 1], members[i]), "restorers out of order");
    restorers += members.size();
  });
  require(restorers == r.standing.restorations.pairs(), "restorer count");
  // One line per item of the report: no value may break or forge a line.
  auto listed = [](size_t n) { return n ? 1 + n : 0; };
  uint64_t expected = 7 + (r.problem ? 1 : 0) + (r.reason ? 1 : 0) + listed(r.retracted.size()) +
                      listed(r.tainted.size()) + listed(r.standing.compromised.size()) +
                      listed(r.standing.unsound.size()) +
                      (r.standing.restorations.empty() ? 0 : 1 + r.standing.restorations.size() + restorers);
  for (const auto& p : r.profiles)
    expected += 1 + (p.status == profiles::ProfileStatus::Unknown ? 0 : 1 + p.clauses.size());
  const std::string text = receipt::to_text(r);
  uint64_t lines = 0;
  for (char c : text) lines += c == '\n';
  require(lines == expected && text.back() == '\n', "text form");
}

// The receipt with times 1, 2, 3, ... and every id recomputed, refs following
// the new ids. Anyone can make a receipt's ids consistent, so the replay is
// fuzzed past its whole-input checks this way; none when the receipt does
// not encode.
std::optional<std::string> with_consistent_ids(receipt::Receipt r) {
  if (r.records.size() > kSmall.max_records) return std::nullopt;
  std::map<base::Id, base::Id> renamed;
  for (size_t i = 0; i < r.records.size(); ++i) {
    record::Record& rec = r.records[i];
    rec.time = i + 1;
    for (auto& ref : rec.refs)
      if (auto it = renamed.find(ref.target); it != renamed.end()) ref.target = it->second;
    auto id = rec.compute_id();
    if (!id) return std::nullopt;
    renamed[rec.id] = *id;
    rec.id = *id;
  }
  auto bytes = r.to_bytes();
  return bytes ? std::optional(std::move(*bytes)) : std::nullopt;
}

const std::vector<std::string> kRequired = {"quintrel-core-v1", "quintrel-core-signed-v1", "delivery-receipt-v1",
                                            "unknown"};

// Validation hands the profiles its replay's state; the profiles over the
// state rebuilt from the records give the same results.
bool same_when_rebuilt(const receipt::Receipt& parsed, const Report& validated) {
  return profiles::evaluate_profiles(receipt::profile_input(parsed, validated), kRequired) == validated.profiles;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Report report = receipt::validate_with_limits(bytes, kSmall);
  check_report(report);

  if (!report.problem) {
    // Required profiles add results and change nothing else.
    Report with = receipt::validate_with_profiles(bytes, kSmall, kRequired);
    check_report(with);
    require(with.profiles.size() >= report.profiles.size(), "required profiles dropped results");
    auto parsed = receipt::Receipt::from_bytes(bytes);
    require(parsed.has_value(), "validated but does not read");
    require(same_when_rebuilt(*parsed, with), "the replay's state and the rebuilt one differ");
    with.profiles = report.profiles;
    require(with == report, "required profiles changed the verdict");

    // What reads writes back to bytes that read the same and write the same.
    if (auto written = parsed->to_bytes()) {
      auto again = receipt::Receipt::from_bytes(*written);
      require(again && *again == *parsed, "written bytes read differently");
      require(again->to_bytes() == written, "writing is not a fixed point");
    }
    if (auto repaired = with_consistent_ids(*parsed)) {
      const Report again = receipt::validate_with_profiles(*repaired, kSmall, kRequired);
      check_report(again);
      if (!again.problem) require(same_when_rebuilt(*receipt::Receipt::from_bytes(*repaired), again), "rebuilt");
    }
  }
  return 0;
}
