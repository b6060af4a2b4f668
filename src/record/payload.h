// A record's payload, read on demand and kept: each payload type is read at
// most once, so the checks that judge a record, the canonical check and the
// state fold that applies it share one read instead of each reading the bytes.
#pragma once

#include <expected>
#include <optional>
#include <tuple>
#include <type_traits>

#include "record/activity_payloads.h"
#include "record/candidate_payload.h"
#include "record/evaluation_payload.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "record/record.h"

namespace quintrel::record {

class Payload {
 public:
  // Borrows `record`, which must outlive this.
  explicit Payload(const Record& record) : record_(record) {}
  Payload(const Payload&) = delete;
  Payload& operator=(const Payload&) = delete;

  const Record& record() const { return record_; }

  // The payload read as T, or the reader's error: what decode_payload<T>
  // gives, read the first time it is asked for.
  template <class T>
  const std::expected<T, base::JsonError>& read() const {
    Read<T>& slot = slot_of<T>();
    return *slot.value;
  }

  // The same, null when the payload does not read as T.
  template <class T>
  const T* as() const {
    const auto& read = this->read<T>();
    return read ? &*read : nullptr;
  }

  // Whether the payload reads as T and writes back canonically to the same
  // bytes (the canonical test of a schema whose payload type is T), tested
  // the first time it is asked for.
  template <class T>
  bool canonical() const {
    Read<T>& slot = slot_of<T>();
    if (!slot.canonical)
      slot.canonical = *slot.value && base::canonical_equals(**slot.value, base::as_text(record_.data));
    return *slot.canonical;
  }

  // Takes over what `other` has read and tested, when its record carries the
  // same payload bytes: a payload that repeats (Verdicts repeat a few) is not
  // read again.
  void adopt(const Payload& other) {
    if (other.record_.data == record_.data) slots_ = other.slots_;
  }

 private:
  template <class T>
  struct Read {
    // Provided, so that a tuple of these (kilobytes) is not zero-filled
    // before it is constructed: only the optionals' flags are set.
    Read() {}
    std::optional<std::expected<T, base::JsonError>> value;  // empty until read
    std::optional<bool> canonical;                           // empty until tested
  };

  template <class T>
  Read<T>& slot_of() const {
    Read<T>& slot = std::get<Read<T>>(slots_);
    if (!slot.value) slot.value.emplace(decode_payload<T>(record_));
    return slot;
  }

  const Record& record_;
  mutable std::tuple<Read<RequestData>, Read<ActionData>, Read<ResponseData>, Read<ResultData>,
                     Read<CapabilityData>, Read<ApprovalData>, Read<SummaryData>, Read<RefusalData>,
                     Read<UsageData>, Read<VerdictData>, Read<PlanData>, Read<RetractionData>,
                     Read<CandidateData>, Read<EvaluationData>, Read<EvaluationDataV2>, Read<SelectionData>,
                     Read<RequirementData>>
      slots_;
};

}  // namespace quintrel::record
