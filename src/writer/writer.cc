#include "writer/writer.h"

#include <algorithm>

#include "base/hash.h"
#include "base/json_reader.h"
#include "receipt/receipt.h"

namespace quintrel::writer {

namespace {

using record::Ed25519Signer;

// The 32 bytes of a signer's secret, or the refusal naming the signer.
Result<std::array<uint8_t, 32>> secret_of(const std::string& name, const SignerKey& key) {
  std::array<uint8_t, 32> seed{};
  switch (key.form) {
    case SignerKey::Form::Text: {
      auto decoded = base::hex_decode(key.text);
      if (!decoded)
        return std::unexpected(
            Refusal::value("signer for " + base::debug_quote(name) + ": expected 64 hex characters or 32 bytes"));
      return *decoded;
    }
    case SignerKey::Form::Bytes:
      if (key.bytes.size() != seed.size())
        return std::unexpected(Refusal::value("signer for " + base::debug_quote(name) + ": expected exactly 32 bytes"));
      std::copy(key.bytes.begin(), key.bytes.end(), seed.begin());
      return seed;
    case SignerKey::Form::Other:
      break;
  }
  return std::unexpected(Refusal::value("signer for " + base::debug_quote(name) + ": expected a hex string or bytes"));
}

}  // namespace

Result<base::Id> parse_id(std::string_view text) {
  auto id = base::hex_decode(text);
  if (!id) return std::unexpected(Refusal::value("invalid record id " + base::debug_quote(text)));
  return *id;
}

Result<base::Id> parse_hash(std::string_view name, std::string_view text) {
  auto id = base::hex_decode(text);
  if (!id) {
    std::string message = "invalid ";
    message.append(name).append(" ").append(base::debug_quote(text)).append(" (expected 64 hex chars)");
    return std::unexpected(Refusal::value(std::move(message)));
  }
  return *id;
}

Result<std::vector<base::Id>> parse_ids(std::span<const std::string> texts) {
  std::vector<base::Id> ids;
  ids.reserve(texts.size());
  for (const std::string& text : texts) {
    auto id = parse_id(text);
    if (!id) return std::unexpected(std::move(id.error()));
    ids.push_back(*id);
  }
  return ids;
}

std::expected<queries::Queries, queries::QueryError> query_index(const log::LogWriter& log,
                                                                 const verify::VerifierRules& rules) {
  // The kept state spares the replay only while it holds every record, which
  // it does unless a commit failed midway (the writer is then poisoned); the
  // records such a commit left must answer as any other holder sees them.
  if (log.poisoned()) return queries::Queries::create(log.records(), rules);
  return queries::Queries::of_replayed(log.records(), log.state(), log.prior_index());
}

Result<Writer> Writer::open(const std::string& dir, std::string_view rules_json, const SignerKeys& keys) {
  auto rules = base::from_json<verify::VerifierRules>(rules_json);
  if (!rules) return std::unexpected(Refusal::value("invalid rules JSON: " + rules.error().to_string()));

  // A signer's name is checked before its key is looked at.
  Signers signers;
  for (const auto& [name, key] : keys) {
    if (!rules->author_roles.contains(name))
      return std::unexpected(
          Refusal::value("signer " + base::debug_quote(name) + " is not registered in the rules' author_roles"));
    auto seed = secret_of(name, key);
    if (!seed) return std::unexpected(std::move(seed.error()));
    signers.emplace(name, Ed25519Signer::from_secret_bytes(*seed));
    seed->fill(0);
  }

  // The open replays the log under the rules and refuses one that does not
  // verify; the state it derives is the one every commit is checked against.
  auto log = log::LogWriter::open(dir, *rules);
  if (!log) return std::unexpected(Refusal::runtime("cannot open log: " + log.error().message()));
  return Writer(std::move(*log), std::move(*rules), std::move(signers));
}

base::Id Writer::head() const {
  const auto& records = log_.records();
  return records.empty() ? base::Id{} : records.back().id;
}

const record::Ed25519Signer* Writer::signer(std::string_view author) const {
  auto it = signers_.find(author);
  return it == signers_.end() ? nullptr : &it->second;
}

const record::Record* Writer::find(const base::Id& id) const {
  auto position = log_.first_position(id);
  return position ? &log_.records()[*position] : nullptr;
}

Result<record::Author> Writer::resolve_author(std::string_view author) const {
  auto it = rules_.author_roles.find(std::string(author));
  if (it == rules_.author_roles.end())
    return std::unexpected(
        Refusal::value("author " + base::debug_quote(author) + " is not registered in the rules' author_roles"));
  return record::Author{std::string(author), it->second, std::nullopt};
}

Result<log::CommitOutcome> Writer::do_commit(record::Author author, const base::Id& schema, std::string payload,
                                             record::Kind kind, std::vector<record::Ref> refs) {
  // The index borrows the records that the commit is about to change.
  queries_.clear();
  const Ed25519Signer* key = signer(author.id);
  log::RecordInput input{std::move(author), base::to_bytes(payload), std::move(refs),
                         rules_.space,      rules_.space,            schema,
                         kind};
  // The writer's own state: the log writer checks it in constant time.
  auto outcome = key ? log_.commit_signed(std::move(input), rules_, log_.state(), *key)
                     : log_.commit(std::move(input), rules_, log_.state());
  if (!outcome) return std::unexpected(Refusal::runtime("commit failed: " + outcome.error().message()));
  return *outcome;
}

Result<std::string> Writer::receipt(std::span<const std::string> profiles) const {
  auto declared = receipt::Receipt::with_declared_profiles(receipt::Receipt::create(records(), rules_), profiles);
  if (!declared) return std::unexpected(Refusal::value(std::move(declared.error())));
  auto bytes = declared->to_bytes();
  if (!bytes) return std::unexpected(Refusal::runtime("cannot serialize receipt: " + bytes.error().to_string()));
  return std::move(*bytes);
}

}  // namespace quintrel::writer
