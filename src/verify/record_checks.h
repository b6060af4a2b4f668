// The judgement of one record: the general checks in their fixed order, then
// the checks of its kind. Every check returns accept (no code) or one code.
#pragma once

#include <span>

#include "record/activity_payloads.h"
#include "record/payload.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/prior.h"
#include "verify/rules.h"
#include "verify/verdict.h"

namespace quintrel::verify {

using record::Judgement;
using state::State;

Judgement check_record(const Record& record, const Prior& prior, const VerifierRules& rules,
                       const State& state);

// The same judgement of `payload`'s record, every check reading the payload
// through `payload` (which the caller may go on to fold the record with);
// with IdCheck::kChecked the caller vouches for the record's id.
Judgement check_record(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                       const State& state, IdCheck id_check);

// The commit road: judges `record` against the log's current records, whose
// state is `state`.
record::VerdictData verify_record(const Record& record, std::span<const Record> records,
                                  const VerifierRules& rules, const State& state);

// The same, with an index the caller keeps over `records` (a log writer
// extends one index commit by commit instead of rebuilding it).
record::VerdictData verify_record(const Record& record, std::span<const Record> records,
                                  const PriorIndex& index, const VerifierRules& rules, const State& state);

// The canonical payload check: the schema's payload type decodes the data and
// re-encodes it to the same bytes.
Judgement check_payload_decode(const Record& record);
Judgement check_payload_decode(const record::Payload& payload);

// The identity fields a replacement must keep, per kind; `replaced` is the
// record `prior` found for the Replace ref.
Judgement check_replacement_compatibility(const Record& record, const Record& replaced, const Prior& prior);
Judgement check_replacement_compatibility(const record::Payload& payload, const Record& replaced,
                                          const Prior& prior);

}  // namespace quintrel::verify
