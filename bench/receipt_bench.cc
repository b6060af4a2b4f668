// Receipt validation, side by side on the same bytes:
// - a realistic unsigned receipt of about 60 MiB: validation, the strict
//   receipt reader alone, and RapidJSON's DOM parse; throughput as the
//   library's bytes per second (in MiB/s) and validation's peak heap against
//   the receipt's size; and validation with the three profiles required;
// - the same log signed: validation, and the signature checks alone;
// - a crafted Replace chain with every other Selection retracted, whose
//   restorations are quadratic by definition, at 25 and 50 MiB: validation's
//   time and peak heap, and the cost of expanding the restorations.
// Every figure is the median of the repetitions.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "heap.h"

#include "base/hash.h"
#include "receipt/receipt.h"
#include "receipt/validate.h"
#include "record/evolution_payloads.h"
#include "record/sign.h"

#include "bench_log.h"
#include "summary.h"

namespace {

using namespace quintrel;
using base::Id;
using record::Kind;
using record::Record;
using record::Ref;
using record::RefType;

constexpr size_t kMiB = 1 << 20;

size_t encoded_size(std::span<const Record> records) {
  size_t n = 0;
  for (const auto& r : records) n += base::canonical_json(r).value().size() + 1;
  return n;
}

std::string hex_digest(const std::string& seed) { return base::hex_encode(base::sha256(seed)); }

// Cycles of a workflow until the receipt reaches `target` bytes: a request
// with two requirements; a candidate continuing the last selection (a root one
// in the first cycle) and a root alternative, both carrying an artifact; a
// version 2 evaluation of the first bound to a requirement and citing the
// artifact, a version 1 evaluation of the second; a selection of the first.
// Every tenth selection is retracted.
std::pair<std::vector<Record>, verify::VerifierRules> workflow_log(size_t target) {
  bench::BenchLog b("bench space", {{"alice", record::AuthorType::User},
                                   {"builder", record::AuthorType::Provider},
                                   {"reviewer", record::AuthorType::Provider}});
  const Id scope = base::sha256("scope");
  std::optional<std::pair<Id, Id>> last;  // (selection, chosen candidate)
  size_t bytes = 0, counted = 0;
  for (size_t cycle = 0; bytes < target; ++cycle) {
    const std::string n = std::to_string(cycle);
    const Id request = b.add(Kind::Request, "alice", "quintrel.request.v1",
                             record::RequestData{"Fix the flaky integration test in module " + n, scope}, {});
    Id requirements[2];
    for (int k = 0; k < 2; ++k)
      requirements[k] = b.add(Kind::Requirement, "alice", "quintrel.requirement.v1",
                              record::RequirementData{"req-" + std::to_string(k), "The suite passes on run " + n,
                                                      true, std::nullopt, record::Provenance::user_authored},
                              {{RefType::Cause, request}});
    Id cands[2];
    for (int k = 0; k < 2; ++k) {
      record::CandidateData c;
      c.source.git.tree = hex_digest(n + "/" + std::to_string(k)).substr(0, 40);
      c.note = "attempt " + std::to_string(k) + " of cycle " + n;
      c.artifacts = std::vector<record::ArtifactRef>{{"sha256-bytes", hex_digest("artifact " + n), "build.tar"}};
      std::vector<Ref> refs;
      if (k == 0 && last) {
        c.basis = record::CandidateBasis::continuation;
        c.parent = last->second;
        refs.push_back({RefType::Cause, last->first});
      } else {
        refs.push_back({RefType::Cause, request});
      }
      cands[k] = b.add(Kind::Candidate, "builder", "quintrel.candidate.v1", c, refs);
    }
    record::EvaluationDataV2 v2;
    v2.candidate = cands[0];
    v2.criterion = "integration tests";
    v2.evaluator = {"ci-runner", "2.1", base::sha256("procedure"), base::sha256("input " + n)};
    v2.evidence = {{"sha256-bytes", hex_digest("artifact " + n), std::nullopt}};
    v2.requirements = {requirements[0]};
    const Id e0 = b.add(Kind::Evaluation, "reviewer", "quintrel.evaluation.v2", v2,
                        {{RefType::Use, cands[0]}, {RefType::Use, requirements[0]}});
    const Id e1 = b.add(Kind::Evaluation, "reviewer", "quintrel.evaluation.v1",
                        record::EvaluationData{cands[1], "integration tests", std::nullopt, {}}, {{RefType::Use, cands[1]}});
    const Id selection =
        b.add(Kind::Selection, "builder", "quintrel.selection.v1",
              record::SelectionData{"ship the fix", {cands[0], cands[1]}, record::SelectionOutcome::choose({cands[0]}),
                                    "passes the integration tests"},
              {{RefType::Require, cands[0]}, {RefType::Use, e0}, {RefType::Use, e1}});
    last = {selection, cands[0]};
    if (cycle % 10 == 9)
      b.add(Kind::Retraction, "builder", "quintrel.retraction.v1", record::RetractionData{selection, "regressed"},
            {{RefType::Cause, selection}});
    bytes += encoded_size(std::span(b.records()).subspan(counted));
    counted = b.size();
  }
  if (b.rejected()) std::fprintf(stderr, "note: %zu subjects rejected\n", b.rejected());
  verify::VerifierRules rules = b.rules();
  return {b.take_records(), std::move(rules)};
}

// Every id written in a payload as an array of 32 integers, mapped through
// `ids` where it has an entry.
void remap_payload_ids(base::Bytes& data, const std::unordered_map<Id, Id, base::IdHash>& ids) {
  const std::string text(base::as_text(data));
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '[') {
      base::Reader r(std::string_view(text).substr(i));
      Id id;
      if (base::Codec<Id>::read(r, id)) {
        auto it = ids.find(id);
        out += base::canonical_json(it == ids.end() ? id : it->second).value();
        i += r.pos();
        continue;
      }
    }
    out += text[i++];
  }
  data = base::to_bytes(out);
}

// The same log with every record of the five evolution kinds signed by its
// author's key and those kinds requiring signatures, the authors pinned; ids,
// refs and the ids inside payloads follow the new ids.
std::pair<std::vector<Record>, verify::VerifierRules> signed_log(std::vector<Record> records,
                                                                 verify::VerifierRules rules) {
  std::map<std::string, record::Ed25519Signer> signers;
  for (const auto& [author, type] : rules.author_roles) {
    auto& s = signers.emplace(author, record::Ed25519Signer::from_secret_bytes(base::sha256(author))).first->second;
    rules.author_keys[author] = {s.public_key()};
  }
  rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection, Kind::Retraction,
                                    Kind::Requirement};
  std::unordered_map<Id, Id, base::IdHash> ids;
  for (Record& r : records) {
    for (auto& ref : r.refs)
      if (auto it = ids.find(ref.target); it != ids.end()) ref.target = it->second;
    record::sort_and_dedup_refs(r.refs);
    remap_payload_ids(r.data, ids);
    if (r.kind != Kind::Verdict) r.author.signature = signers.at(r.author.id).sign(r).value();
    const Id old = r.id;
    r.id = r.compute_id().value();
    ids[old] = r.id;
  }
  return {std::move(records), std::move(rules)};
}

// One request and candidate, then Selections each replacing the one before,
// every other one retracted, until the receipt reaches `target` bytes.
std::pair<std::vector<Record>, verify::VerifierRules> chain_log(size_t target) {
  bench::BenchLog b("chain space", {{"alice", record::AuthorType::User}, {"agent", record::AuthorType::Provider}});
  const Id request =
      b.add(Kind::Request, "alice", "quintrel.request.v1", record::RequestData{"pick", base::sha256("scope")}, {});
  record::CandidateData c;
  c.source.git.tree = std::string(40, 'a');
  const Id cand = b.add(Kind::Candidate, "agent", "quintrel.candidate.v1", c, {{RefType::Cause, request}});
  std::optional<Id> previous;
  size_t bytes = 0, counted = 0;
  for (size_t i = 1; bytes < target; ++i) {
    std::vector<Ref> refs;
    if (previous) refs.push_back({RefType::Replace, *previous});
    previous = b.add(Kind::Selection, "agent", "quintrel.selection.v1",
                     record::SelectionData{"pick", {cand}, record::SelectionOutcome::none(), std::nullopt}, refs);
    if (i % 2)
      b.add(Kind::Retraction, "agent", "quintrel.retraction.v1", record::RetractionData{*previous, "withdrawn"},
            {{RefType::Cause, *previous}});
    bytes += encoded_size(std::span(b.records()).subspan(counted));
    counted = b.size();
  }
  if (b.rejected()) std::fprintf(stderr, "note: %zu subjects rejected\n", b.rejected());
  verify::VerifierRules rules = b.rules();
  return {b.take_records(), std::move(rules)};
}

struct Bytes {
  std::string receipt;
  size_t records = 0;
};

Bytes receipt_bytes(std::pair<std::vector<Record>, verify::VerifierRules> log) {
  auto r = receipt::Receipt::create(log.first, log.second);
  return {r.to_bytes().value(), log.first.size()};
}

const Bytes& unsigned_receipt() {
  static const Bytes b = receipt_bytes(workflow_log(60 * kMiB));
  return b;
}
const Bytes& signed_receipt() {
  // Signatures add about a tenth: about 60 MiB again, within the standard size limit.
  static const Bytes b = [] {
    auto log = workflow_log(54 * kMiB);
    return receipt_bytes(signed_log(std::move(log.first), std::move(log.second)));
  }();
  return b;
}
const Bytes& chain_receipt(size_t mib) {
  static std::map<size_t, Bytes> cache;
  auto it = cache.find(mib);
  if (it == cache.end()) it = cache.emplace(mib, receipt_bytes(chain_log(mib * kMiB))).first;
  return it->second;
}

void throughput(benchmark::State& st, const Bytes& b) {
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * b.receipt.size()));
  st.counters["MiB"] = static_cast<double>(b.receipt.size()) / kMiB;
  st.counters["records"] = static_cast<double>(b.records);
}

void validate(benchmark::State& st, const Bytes& b, std::span<const std::string> required = {}) {
  int64_t peak = 0;
  receipt::Report report;
  for (auto _ : st) {
    const int64_t start = bench::start_peak();
    report = receipt::validate_with_profiles(b.receipt, receipt::kStandardLimits, required);
    peak = std::max(peak, bench::peak_since(start));
    if (report.status == receipt::ValidationStatus::Invalid) st.SkipWithError("the receipt is Invalid");
  }
  throughput(st, b);
  st.counters["peak_heap_MiB"] = static_cast<double>(peak) / kMiB;
  st.counters["peak_per_size"] = static_cast<double>(peak) / static_cast<double>(b.receipt.size());
  st.counters["restoration_keys"] = static_cast<double>(report.standing.restorations.size());
  st.counters["restoration_pairs"] = static_cast<double>(report.standing.restorations.pairs());
  size_t clauses_passed = 0;
  for (const auto& p : report.profiles)
    for (const auto& c : p.clauses) clauses_passed += c.passed;
  if (!required.empty()) st.counters["clauses_passed"] = static_cast<double>(clauses_passed);
}

void Validate(benchmark::State& st) { validate(st, unsigned_receipt()); }
void ValidateAllProfiles(benchmark::State& st) {
  static const std::vector<std::string> all = {"quintrel-core-v1", "quintrel-core-signed-v1", "delivery-receipt-v1"};
  validate(st, unsigned_receipt(), all);
}
void StrictReaderAlone(benchmark::State& st) {
  const Bytes& b = unsigned_receipt();
  int64_t peak = 0;
  for (auto _ : st) {
    const int64_t start = bench::start_peak();
    auto r = receipt::Receipt::from_bytes(b.receipt);
    peak = std::max(peak, bench::peak_since(start));
    if (!r) st.SkipWithError("the receipt does not read");
    benchmark::DoNotOptimize(r);
  }
  throughput(st, b);
  st.counters["peak_heap_MiB"] = static_cast<double>(peak) / kMiB;
}
void RapidJsonDom(benchmark::State& st) {
  const Bytes& b = unsigned_receipt();
  for (auto _ : st) {
    rapidjson::Document d;
    d.Parse(b.receipt.data(), b.receipt.size());
    if (d.HasParseError()) st.SkipWithError("RapidJSON refused the receipt");
    benchmark::DoNotOptimize(d);
  }
  throughput(st, b);
}
void ValidateSigned(benchmark::State& st) { validate(st, signed_receipt()); }
// What validation spends on signatures: every signed record's signature
// checked once, as the replay checks it.
void SignatureChecksAlone(benchmark::State& st) {
  const auto parsed = receipt::Receipt::from_bytes(signed_receipt().receipt).value();
  size_t signed_records = 0;
  for (auto _ : st) {
    signed_records = 0;
    for (const auto& r : parsed.records)
      if (r.author.signature) {
        if (!record::verified_key(r)) st.SkipWithError("a signature does not verify");
        ++signed_records;
      }
  }
  throughput(st, signed_receipt());
  st.counters["signatures"] = static_cast<double>(signed_records);
}
void ValidateCraftedChain(benchmark::State& st) { validate(st, chain_receipt(static_cast<size_t>(st.range(0)))); }
// Expanding every restoration, as the text form or the Python view does.
void ExpandRestorations(benchmark::State& st) {
  const auto report = receipt::validate_with_limits(chain_receipt(static_cast<size_t>(st.range(0))).receipt,
                                                    receipt::kStandardLimits);
  uint64_t pairs = 0;
  for (auto _ : st) {
    pairs = 0;
    report.standing.restorations.for_each([&](const Id&, std::span<const Id> restorers) { pairs += restorers.size(); });
  }
  st.counters["restoration_pairs"] = static_cast<double>(pairs);
}

BENCHMARK(Validate)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(ValidateAllProfiles)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(StrictReaderAlone)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(RapidJsonDom)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(ValidateSigned)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(SignatureChecksAlone)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(ValidateCraftedChain)->Arg(25)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(ExpandRestorations)->Arg(25)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
  return quintrel::bench::run_with_summary(argc, argv, [](quintrel::bench::Times& ns) {
    auto median = [&](const std::string& name) { return ns[name + "/iterations:1/repeats:5_median"]; };
    const double validate = median("Validate"), reader = median("StrictReaderAlone");
    const double signed_total = median("ValidateSigned"), signatures = median("SignatureChecksAlone");
    std::printf("\nvalidation throughput / strict reader alone: %.2f (target at least 0.5)\n", reader / validate);
    std::printf("validation with the three profiles required / with none (time): %.2f (target at most 1.3)\n",
                median("ValidateAllProfiles") / validate);
    std::printf("RapidJSON DOM / strict reader alone (time): %.2f\n", median("RapidJsonDom") / reader);
    std::printf("signed receipt: %.0f ms, of which signature checks %.0f ms (%.0f%%), the rest %.0f ms\n",
                signed_total, signatures, 100 * signatures / signed_total, signed_total - signatures);
    std::printf("crafted chain 50 MiB / 25 MiB validation time: %.2f\n",
                median("ValidateCraftedChain/50") / median("ValidateCraftedChain/25"));
  });
}
