// Small helpers shared by the record checks; private to src/verify.
#pragma once

#include <optional>
#include <vector>

#include "base/codec.h"
#include "record/activity_payloads.h"
#include "record/candidate_payload.h"
#include "record/record.h"
#include "record/refs.h"

namespace quintrel::verify {

using base::Id;
using record::Record;
using record::ReasonCode;
using record::RefType;

using record::decode_payload;
using record::first_ref;
using record::has_sorted_ref;
using record::targets_of;

inline bool same_thread(const Record& a, const Record& b) { return a.thread == b.thread; }
inline bool same_space(const Record& a, const Record& b) { return a.space == b.space; }

}  // namespace quintrel::verify
