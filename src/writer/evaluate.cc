// An Evaluation of one candidate against one criterion, in one of three
// shapes: plain (version 1), extended (version 2: who decided, on what basis,
// the artifacts judged and the requirements spoken to) and attested (the
// extended payload under a schema that demands a signature). The shape
// follows from the arguments given; the verb refuses what cannot make a
// well-formed record of its shape before anything is written.
#include <algorithm>

#include "base/hash.h"
#include "base/json_reader.h"
#include "record/schema.h"
#include "writer/writer.h"

namespace quintrel::writer {

namespace {

using Outcome = record::EvaluationOutcomeV2;
using record::RefType;

// The plain shape's outcomes are the first three of the extended shape's.
using PlainKind = record::EvaluationOutcome::Kind;
static_assert(PlainKind(Outcome::Kind::passed) == PlainKind::passed &&
              PlainKind(Outcome::Kind::failed) == PlainKind::failed &&
              PlainKind(Outcome::Kind::scored) == PlainKind::scored);

// Exactly one outcome argument set.
Result<Outcome> outcome_of(const EvaluateArgs& a) {
  if (a.score && !a.scale) return std::unexpected(Refusal::value("score requires scale (the denominator)"));
  const std::pair<bool, Outcome::Kind> flags[] = {
      {a.passed, Outcome::Kind::passed},   {a.failed, Outcome::Kind::failed},
      {a.score.has_value(), Outcome::Kind::scored}, {a.blocked, Outcome::Kind::blocked},
      {a.insufficient, Outcome::Kind::insufficient}, {a.stale, Outcome::Kind::stale},
      {a.not_run, Outcome::Kind::not_run},
  };
  std::optional<Outcome> outcome;
  int set = 0;
  for (const auto& [on, kind] : flags) {
    if (!on) continue;
    ++set;
    outcome = kind == Outcome::Kind::scored ? Outcome::scored({*a.score, *a.scale}) : Outcome{kind, {}};
  }
  if (set != 1)
    return std::unexpected(Refusal::value(
        "exactly one of passed, failed, score, blocked, insufficient, stale, or not_run is required"));
  return *outcome;
}

// The names of the arguments that ask for the extended shape, in a fixed
// order; an empty list given still asks for it.
std::string extended_triggers(const EvaluateArgs& a) {
  const std::pair<bool, const char*> triggers[] = {
      {a.evaluator.has_value(), "evaluator"},
      {a.evaluator_version.has_value(), "evaluator_version"},
      {a.procedure_hash.has_value(), "procedure_hash"},
      {a.input_hash.has_value(), "input_hash"},
      {a.basis.has_value(), "basis"},
      {a.requirements.has_value(), "requirements"},
      {a.artifacts.has_value(), "artifacts"},
      {a.blocked, "blocked"},
      {a.insufficient, "insufficient"},
      {a.stale, "stale"},
      {a.not_run, "not_run"},
  };
  std::string names;
  for (const auto& [counted, name] : triggers) {
    if (!counted) continue;
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names;
}

// The requirement ids, ascending and unique, each an accepted Requirement of
// this log; malformed texts are reported before any lookup.
Result<std::vector<base::Id>> requirements_of(const Writer& w, const std::vector<std::string>& texts) {
  auto ids = parse_ids(texts);
  if (!ids) return ids;
  std::sort(ids->begin(), ids->end());
  ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
  for (const base::Id& id : *ids) {
    const record::Record* found = w.find(id);
    if (!found || found->kind != record::Kind::Requirement || !w.log().state().accepted_records.contains(id))
      return std::unexpected(
          Refusal::value("requirement " + base::hex_encode(id) + " is not an accepted Requirement in this log"));
  }
  return ids;
}

Result<record::Basis> basis_of(const std::string& basis) {
  if (basis == "recomputed") return record::Basis::recomputed;
  if (basis == "declared") return record::Basis::declared;
  return std::unexpected(
      Refusal::value("invalid basis " + base::debug_quote(basis) + " (expected 'recomputed' or 'declared')"));
}

Result<std::optional<base::Id>> optional_hash(const char* name, const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  auto hash = parse_hash(name, *text);
  if (!hash) return std::unexpected(std::move(hash.error()));
  return *hash;
}

// The extended payload's own checks, in order, then its encoding.
Result<std::string> extended_payload(EvaluateArgs& a, const base::Id& candidate, const Outcome& outcome,
                                     std::vector<base::Id> requirements) {
  if (a.evaluator->empty()) return std::unexpected(Refusal::value("evaluator must be non-empty"));
  auto basis = basis_of(*a.basis);
  if (!basis) return std::unexpected(std::move(basis.error()));
  auto procedure_hash = optional_hash("procedure_hash", a.procedure_hash);
  if (!procedure_hash) return std::unexpected(std::move(procedure_hash.error()));
  auto input_hash = optional_hash("input_hash", a.input_hash);
  if (!input_hash) return std::unexpected(std::move(input_hash.error()));
  std::vector<record::ArtifactRef> evidence;
  if (a.artifacts) {
    auto parsed = parse_artifacts(*a.artifacts);
    if (!parsed) return std::unexpected(std::move(parsed.error()));
    evidence = std::move(*parsed);
  }
  record::EvaluationDataV2 payload{
      candidate,
      std::move(a.criterion),
      std::move(a.procedure),
      outcome,
      {std::move(*a.evaluator), std::move(a.evaluator_version), *procedure_hash, *input_hash},
      *basis,
      std::move(evidence),
      std::move(requirements)};
  return Writer::checked_encode(payload);
}

}  // namespace

Result<log::CommitOutcome> Writer::evaluate(EvaluateArgs args) {
  auto author = resolve_author(args.author);
  if (!author) return std::unexpected(std::move(author.error()));
  auto candidate = parse_id(args.candidate);
  if (!candidate) return std::unexpected(std::move(candidate.error()));
  if (args.attested && !signer(author->id))
    return std::unexpected(Refusal::value("attested=True requires a signer for " + base::debug_quote(author->id) +
                                          ": pass signers={...} to Writer"));
  auto outcome = outcome_of(args);
  if (!outcome) return std::unexpected(std::move(outcome.error()));
  const std::string triggers = extended_triggers(args);
  if (!triggers.empty() && (!args.evaluator || !args.basis))
    return std::unexpected(Refusal::value("the extended evaluation (" + triggers +
                                          ") requires both evaluator and basis ('recomputed' or 'declared')"));

  std::vector<record::Ref> refs{{RefType::Use, *candidate}};
  std::vector<base::Id> requirements;
  if (args.requirements) {
    auto ids = requirements_of(*this, *args.requirements);
    if (!ids) return std::unexpected(std::move(ids.error()));
    requirements = std::move(*ids);
    for (const base::Id& id : requirements) refs.push_back({RefType::Use, id});
  }
  if (args.uses) {
    auto ids = parse_ids(*args.uses);
    if (!ids) return std::unexpected(std::move(ids.error()));
    for (const base::Id& id : *ids) refs.push_back({RefType::Use, id});
  }

  Result<std::string> bytes;
  record::Schema schema = record::Schema::Evaluation;
  if (triggers.empty()) {
    if (args.attested)
      return std::unexpected(Refusal::value("attested=True requires the extended shape: give evaluator and basis"));
    // Without a trigger the outcome is passed, failed or scored.
    record::EvaluationOutcome plain{PlainKind(outcome->kind), outcome->score};
    bytes = checked_encode(
        record::EvaluationData{*candidate, std::move(args.criterion), std::move(args.procedure), plain});
  } else {
    bytes = extended_payload(args, *candidate, *outcome, std::move(requirements));
    schema = args.attested ? record::Schema::EvaluationAttested : record::Schema::EvaluationV2;
  }
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return do_commit(std::move(*author), record::schema_id(schema), std::move(*bytes), record::Kind::Evaluation, std::move(refs));
}

}  // namespace quintrel::writer
