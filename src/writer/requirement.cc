// A Requirement under an accepted Request. Everything that can be refused
// before the write is: the request, the emptiness of key and description, the
// author's role and the provenance that role may state. Key uniqueness is the
// verifier's to judge inside the commit.
#include "base/json_reader.h"
#include "record/schema.h"
#include "writer/writer.h"

namespace quintrel::writer {

namespace {

using record::AuthorType;
using record::Provenance;

// The provenance the author's role states: the given one, or the role's own.
Result<Provenance> provenance_for(const record::Author& author, const std::optional<std::string>& given) {
  const bool user = author.type == AuthorType::User;
  if (!user && author.type != AuthorType::Provider && author.type != AuthorType::System)
    return std::unexpected(Refusal::value("author " + base::debug_quote(author.id) + " has role " +
                                          std::string(base::enum_name(author.type)) +
                                          ", which cannot author a Requirement"));
  const Provenance own = user ? Provenance::user_authored : Provenance::derived;
  if (!given) return own;

  Provenance stated;
  if (*given == "user_authored" || *given == "user-authored") stated = Provenance::user_authored;
  else if (*given == "derived") stated = Provenance::derived;
  else
    return std::unexpected(
        Refusal::value("invalid provenance " + base::debug_quote(*given) + " (expected user_authored or derived)"));
  if (stated != own)
    return std::unexpected(Refusal::value(
        "provenance " + base::debug_quote(base::enum_name(stated)) + " cannot be authored by " +
        base::debug_quote(author.id) + " (role " + std::string(base::enum_name(author.type)) +
        "): provenance is bound to the author's role"));
  return stated;
}

}  // namespace

Result<log::CommitOutcome> Writer::requirement(RequirementArgs args) {
  auto author = resolve_author(args.author);
  if (!author) return std::unexpected(std::move(author.error()));

  auto request = parse_id(args.request);
  if (!request) return std::unexpected(std::move(request.error()));
  const record::Record* found = find(*request);
  if (!log().state().accepted_records.contains(*request) || !found || found->kind != record::Kind::Request)
    return std::unexpected(
        Refusal::value("request " + base::debug_quote(args.request) + " is not an accepted Request in this log"));

  // Blanks count as content.
  if (args.key.empty() || args.description.empty())
    return std::unexpected(Refusal::value("key and description must be non-empty"));

  auto provenance = provenance_for(*author, args.provenance);
  if (!provenance) return std::unexpected(std::move(provenance.error()));

  record::RequirementData payload{std::move(args.key), std::move(args.description), args.required,
                                  std::move(args.expected_evidence), *provenance};
  auto bytes = checked_encode(payload);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return do_commit(std::move(*author), record::schema_id(record::Schema::Requirement), std::move(*bytes), record::Kind::Requirement,
                   {{record::RefType::Cause, *request}});
}

}  // namespace quintrel::writer
