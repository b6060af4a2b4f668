#include "record/record.h"

#include "base/hash.h"

namespace quintrel::record {
namespace {

using base::Codec;
using base::JsonOut;

// Every field but `id`, keys already in canonical order, so that the id and
// the signed message each take a single pass over the payload bytes.
template <class AuthorForm>
void write_without_id(JsonOut& o, const Record& r) {
  o.raw("{\"author\":");
  Codec<AuthorForm>::write(o, AuthorForm{r.author});
  o.raw(",\"data\":");
  o.bytes(r.data.data(), r.data.size());
  o.raw(",\"evidence\":");
  Codec<Evidence>::write(o, r.evidence);
  o.raw(",\"kind\":");
  Codec<Kind>::write(o, r.kind);
  o.raw(",\"refs\":");
  Codec<std::vector<Ref>>::write(o, r.refs);
  o.raw(",\"schema\":");
  Codec<base::Id>::write(o, r.schema);
  o.raw(",\"space\":");
  Codec<base::Id>::write(o, r.space);
  o.raw(",\"thread\":");
  Codec<base::Id>::write(o, r.thread);
  o.raw(",\"time\":");
  o.unsigned_int(r.time);
  o.raw('}');
}

}  // namespace

std::expected<base::Id, base::JsonError> Record::compute_id() const {
  return base::sha256_canonical(CanonicalIdForm{*this});
}

std::expected<Record, base::JsonError> Record::with_computed_id() && {
  auto computed = compute_id();
  if (!computed) return std::unexpected(std::move(computed.error()));
  id = *computed;
  return std::move(*this);
}

}  // namespace quintrel::record

namespace quintrel::base {

void Codec<record::CanonicalIdAuthor>::write(JsonOut& o, const record::CanonicalIdAuthor& v) {
  o.raw("{\"id\":");
  o.string(v.author.id);
  if (v.author.signature) {
    o.raw(",\"signature\":");
    Codec<record::Signature>::write(o, *v.author.signature);
  }
  o.raw(",\"type\":");
  Codec<record::AuthorType>::write(o, v.author.type);
  o.raw('}');
}

void Codec<record::CanonicalIdForm>::write(JsonOut& o, const record::CanonicalIdForm& v) {
  record::write_without_id<record::CanonicalIdAuthor>(o, v.record);
}

void Codec<record::CanonicalAuthor>::write(JsonOut& o, const record::CanonicalAuthor& v) {
  o.raw("{\"id\":");
  o.string(v.author.id);
  o.raw(",\"type\":");
  Codec<record::AuthorType>::write(o, v.author.type);
  o.raw('}');
}

void Codec<record::CanonicalSigningForm>::write(JsonOut& o, const record::CanonicalSigningForm& v) {
  record::write_without_id<record::CanonicalAuthor>(o, v.record);
}

void Codec<record::DomainSeparatedSigningForm>::write(JsonOut& o,
                                                      const record::DomainSeparatedSigningForm& v) {
  o.raw("{\"domain\":");
  o.string(record::kSignatureDomain);
  o.raw(",\"record\":");
  record::write_without_id<record::CanonicalAuthor>(o, v.record);
  o.raw('}');
}

}  // namespace quintrel::base
