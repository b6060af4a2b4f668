// The record: the unit of the log and of every receipt, with its stored form,
// its content-address id and the forms its id and signature are computed over.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "record/author.h"
#include "record/evidence.h"
#include "record/kind.h"
#include "record/refs.h"

namespace quintrel::record {

struct Record {
  base::Id id{};
  base::Id space{};
  base::Id thread{};
  uint64_t time = 0;  // reads up to 2^64 - 1; only up to 2^53 - 1 encodes
  Author author;
  Kind kind = Kind::Request;
  base::Id schema{};
  base::Bytes data;  // the canonical JSON bytes of the kind's payload
  std::vector<Ref> refs;
  Evidence evidence = Evidence::Deterministic;

  bool operator==(const Record&) const = default;

  // SHA-256 of the canonical id form; `id` itself is not covered. Fails only
  // where canonical encoding fails (a time above 2^53 - 1).
  std::expected<base::Id, base::JsonError> compute_id() const;
  // This record with `id` set to compute_id(); on failure the record is gone.
  std::expected<Record, base::JsonError> with_computed_id() &&;
};

// Forms written only to be hashed or signed, never read back. Each is a view
// over a record and is written in canonical key order in every mode.

// The author as its record's id covers it: the signature only when present.
struct CanonicalIdAuthor {
  const Author& author;
};
// The record without `id`, its author as CanonicalIdAuthor.
struct CanonicalIdForm {
  const Record& record;
};
// The author as signed: `id` and `type` only.
struct CanonicalAuthor {
  const Author& author;
};
// The record without `id`, its author as CanonicalAuthor.
struct CanonicalSigningForm {
  const Record& record;
};

// The record's payload read as T.
template <class T>
std::expected<T, base::JsonError> decode_payload(const Record& r) {
  return base::from_json<T>(base::as_text(r.data));
}

inline constexpr std::string_view kSignatureDomain = "quintrel.record-signature.v0.3";

// {"domain": kSignatureDomain, "record": CanonicalSigningForm}: its canonical
// bytes are the signed message.
struct DomainSeparatedSigningForm {
  const Record& record;
};

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct Fields<record::Record> {
  using R = record::Record;
  static constexpr std::string_view name = "Record";
  static constexpr auto fields = std::make_tuple(
      field("id", &R::id), field("space", &R::space), field("thread", &R::thread), field("time", &R::time),
      field("author", &R::author), field("kind", &R::kind), field("schema", &R::schema),
      field("data", &R::data), field("refs", &R::refs), field("evidence", &R::evidence));
};

template <>
struct Codec<record::CanonicalIdAuthor> {
  static void write(JsonOut& o, const record::CanonicalIdAuthor& v);
};
template <>
struct Codec<record::CanonicalIdForm> {
  static void write(JsonOut& o, const record::CanonicalIdForm& v);
};
template <>
struct Codec<record::CanonicalAuthor> {
  static void write(JsonOut& o, const record::CanonicalAuthor& v);
};
template <>
struct Codec<record::CanonicalSigningForm> {
  static void write(JsonOut& o, const record::CanonicalSigningForm& v);
};
template <>
struct Codec<record::DomainSeparatedSigningForm> {
  static void write(JsonOut& o, const record::DomainSeparatedSigningForm& v);
};

}  // namespace quintrel::base
