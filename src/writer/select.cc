// A Selection over considered candidates: the chosen ones, backed by the
// evaluations that justify the choice, or none; with `replaces`, a
// reaffirmation of a prior Selection. Only the form of the ids and the
// arguments the outcome needs are checked here; what the ids name is the
// verifier's to judge inside the commit.
#include "record/schema.h"
#include "writer/writer.h"

namespace quintrel::writer {

namespace {

using record::RefType;

// The chosen candidates, each Required, and the evaluations, each Used.
Result<record::SelectionOutcome> chosen(const SelectArgs& args, std::vector<record::Ref>& refs) {
  auto candidates = parse_ids(*args.choose);
  if (!candidates) return std::unexpected(std::move(candidates.error()));
  for (const base::Id& id : *candidates) refs.push_back({RefType::Require, id});
  if (!args.uses_eval)
    return std::unexpected(Refusal::value("choose requires uses_eval with at least one evaluation"));
  if (args.uses_eval->empty()) return std::unexpected(Refusal::value("uses_eval requires at least one evaluation"));
  auto evaluations = parse_ids(*args.uses_eval);
  if (!evaluations) return std::unexpected(std::move(evaluations.error()));
  for (const base::Id& id : *evaluations) refs.push_back({RefType::Use, id});
  return record::SelectionOutcome::choose(std::move(*candidates));
}

}  // namespace

Result<log::CommitOutcome> Writer::select(SelectArgs args) {
  auto author = resolve_author(args.author);
  if (!author) return std::unexpected(std::move(author.error()));
  if (args.consider.empty()) return std::unexpected(Refusal::value("consider requires at least one candidate id"));
  auto considered = parse_ids(args.consider);
  if (!considered) return std::unexpected(std::move(considered.error()));
  if (args.choose.has_value() == args.none)
    return std::unexpected(Refusal::value("exactly one of choose or none=True is required"));

  // With none, uses_eval is not read at all.
  std::vector<record::Ref> refs;
  auto outcome = args.none ? Result<record::SelectionOutcome>(record::SelectionOutcome::none()) : chosen(args, refs);
  if (!outcome) return std::unexpected(std::move(outcome.error()));
  if (args.replaces) {
    auto replaced = parse_id(*args.replaces);
    if (!replaced) return std::unexpected(std::move(replaced.error()));
    refs.push_back({RefType::Replace, *replaced});
  }

  record::SelectionData payload{std::move(args.objective), std::move(*considered), std::move(*outcome),
                                std::move(args.rationale)};
  auto bytes = checked_encode(payload);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return do_commit(std::move(*author), record::schema_id(record::Schema::Selection), std::move(*bytes), record::Kind::Selection, std::move(refs));
}

}  // namespace quintrel::writer
