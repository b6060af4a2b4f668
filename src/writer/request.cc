// The simplest verbs: a Request, and a Retraction of a committed record.
// Neither checks more than its arguments' form; who may request or retract
// what is the verifier's to judge inside the commit.
#include "record/schema.h"
#include "writer/writer.h"

namespace quintrel::writer {

Result<log::CommitOutcome> Writer::request(RequestArgs args) {
  auto author = resolve_author(args.author);
  if (!author) return std::unexpected(std::move(author.error()));
  // One writer works in one thread, so a request's scope is the space and it
  // has no parent request.
  record::RequestData payload{std::move(args.objective), rules().space, {}, std::nullopt};
  auto bytes = checked_encode(payload);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return do_commit(std::move(*author), record::schema_id(record::Schema::Request), std::move(*bytes), record::Kind::Request, {});
}

Result<log::CommitOutcome> Writer::retract(RetractArgs args) {
  auto author = resolve_author(args.author);
  if (!author) return std::unexpected(std::move(author.error()));
  auto target = parse_id(args.target);
  if (!target) return std::unexpected(std::move(target.error()));
  record::RetractionData payload{*target, std::move(args.reason)};
  auto bytes = checked_encode(payload);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return do_commit(std::move(*author), record::schema_id(record::Schema::Retraction), std::move(*bytes), record::Kind::Retraction,
                   {{record::RefType::Cause, *target}});
}

}  // namespace quintrel::writer
