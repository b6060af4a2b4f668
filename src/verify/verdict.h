// The check of Verdict records.
#pragma once

#include "record/activity_payloads.h"
#include "record/record.h"
#include "verify/prior.h"
#include "verify/rules.h"

namespace quintrel::verify {

record::Judgement check_verdict_record(const Record& record, const Prior& prior, const VerifierRules& rules);

}  // namespace quintrel::verify
