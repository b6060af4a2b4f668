// Records built directly for the state and standing tests: a kind, payload
// bytes, refs in the order given, and an id chosen by the test.
#pragma once

#include <string>
#include <vector>

#include "base/codec.h"
#include "record/activity_payloads.h"
#include "record/record.h"

namespace quintrel::testing {

inline base::Id id_of(uint8_t byte) {
  base::Id id;
  id.fill(byte);
  return id;
}

inline record::Record raw_record(uint8_t id, record::Kind kind, std::string data, std::vector<record::Ref> refs = {}) {
  record::Record r;
  r.id = id_of(id);
  r.kind = kind;
  r.author = {"alice", record::AuthorType::User, std::nullopt};
  r.data = base::to_bytes(data);
  r.refs = std::move(refs);
  return r;
}

// The payload written canonically, as a committed record holds it.
template <class Payload>
record::Record make_record(uint8_t id, record::Kind kind, const Payload& payload, std::vector<record::Ref> refs = {}) {
  return raw_record(id, kind, *base::canonical_json(payload), std::move(refs));
}

inline record::Ref cause(uint8_t t) { return {record::RefType::Cause, id_of(t)}; }
inline record::Ref use(uint8_t t) { return {record::RefType::Use, id_of(t)}; }
inline record::Ref require(uint8_t t) { return {record::RefType::Require, id_of(t)}; }
inline record::Ref replace(uint8_t t) { return {record::RefType::Replace, id_of(t)}; }

inline const record::VerdictData kAccept{record::VerdictResult::Accept, std::nullopt};
inline const record::VerdictData kReject{record::VerdictResult::Reject, record::ReasonCode::InvalidPayload};

}  // namespace quintrel::testing
