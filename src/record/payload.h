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
    Slot<T>& slot = std::get<Slot<T>>(slots_);
    if (!slot) slot.emplace(decode_payload<T>(record_));
    return *slot;
  }

  // The same, null when the payload does not read as T.
  template <class T>
  const T* as() const {
    const auto& read = this->read<T>();
    return read ? &*read : nullptr;
  }

 private:
  // Empty until read.
  template <class T>
  using Slot = std::optional<std::expected<T, base::JsonError>>;

  const Record& record_;
  mutable std::tuple<Slot<RequestData>, Slot<ActionData>, Slot<ResponseData>, Slot<ResultData>,
                     Slot<CapabilityData>, Slot<ApprovalData>, Slot<SummaryData>, Slot<RefusalData>,
                     Slot<UsageData>, Slot<VerdictData>, Slot<PlanData>, Slot<RetractionData>,
                     Slot<CandidateData>, Slot<EvaluationData>, Slot<EvaluationDataV2>, Slot<SelectionData>,
                     Slot<RequirementData>>
      slots_;
};

}  // namespace quintrel::record
