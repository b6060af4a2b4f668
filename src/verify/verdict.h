// The check of Verdict records.
#pragma once

#include "record/activity_payloads.h"
#include "record/payload.h"
#include "record/record.h"
#include "verify/prior.h"
#include "verify/rules.h"

namespace quintrel::verify {

// How a judgement treats the record's id: computed and compared with the id
// it carries, or taken as right because the caller has checked it already (a
// replay checks every id before it judges any record).
enum class IdCheck { kCompute, kChecked };

record::Judgement check_verdict_record(const Record& record, const Prior& prior, const VerifierRules& rules);

// The same check, reading the Verdict's payload through `payload` (which the
// caller may go on to use).
record::Judgement check_verdict_record(const record::Payload& payload, const Prior& prior,
                                       const VerifierRules& rules, IdCheck id_check);

}  // namespace quintrel::verify
