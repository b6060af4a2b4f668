// Logs of named records and their receipts, shared by the receipt and profile tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "log_fixture.h"
#include "profiles/records.h"
#include "receipt/receipt.h"
#include "record/evolution_payloads.h"

namespace quintrel::fixture {

inline receipt::Receipt receipt_of(const Log& log) { return receipt::Receipt::create(log.records(), log.rules); }
inline std::string bytes_of(const receipt::Receipt& r) { return r.to_bytes().value(); }

// The digest of the artifact `name` in hex, and the artifact itself.
std::string digest(const std::string& name);
record::ArtifactRef artifact(const std::string& name);

struct Eval {
  Id candidate;
  std::vector<Id> requirements;
  record::EvaluationOutcomeV2 outcome{};
  std::vector<record::ArtifactRef> evidence = {artifact("build")};
  std::string author = "system";
  record::Basis basis = record::Basis::recomputed;
  bool bound = true;          // procedure and input hashes given
  std::string_view schema{};  // default: attested in a pinned world, else version 2
};

// Records committed under the test rules with the baseline thresholds and
// max_context_records 200, named for the expected texts:
// "{S}" is the short id of the record named "S", "{build}" and "{x}" the
// digests of those artifacts. A pinned world's rules require signatures on the
// evolution kinds and pin "user", "provider" and "system", who always sign.
struct World {
  Log log;
  bool pinned;
  std::map<std::string, std::string> names;

  explicit World(bool pinned = false);
  Commit commit(Draft d);
  // Commits, expects acceptance and names the record.
  Id add(const std::string& name, Draft d);
  Id request(const std::string& name, std::optional<Id> thread = {});
  Id requirement(const Id& request, const std::string& key, bool required = true);
  Id candidate(const std::string& name, const Id& request,
               std::vector<record::ArtifactRef> artifacts = {artifact("build")});
  Id evaluation(const std::string& name, Eval e);
  Id v1_evaluation(const std::string& name, const Id& candidate, const std::string& author);
  // Chooses `chosen` among `considered` (default: the chosen) using `used`.
  Draft selection(std::vector<Id> chosen, const std::vector<Id>& used, std::vector<Id> considered = {});
  Id select(const std::string& name, std::vector<Id> chosen, const std::vector<Id>& used,
            std::vector<Id> considered = {}) {
    return add(name, selection(std::move(chosen), used, std::move(considered)));
  }
  void retract(const Id& target, const std::string& author);
};

// A request "R" with a required requirement "tests"; a candidate "C" carrying
// "build"; a passed evaluation "E" bound to the requirement, citing "build".
struct Standard {
  Id request, requirement, candidate, evaluation;
  explicit Standard(World& w, const std::string& suffix = "");
};
// The standard records and a selection "S" of the candidate using the evaluation.
inline Id one_claim(World& w) {
  Standard s(w);
  return w.select("S", {s.candidate}, {s.evaluation});
}

}  // namespace quintrel::fixture
