// Payloads of agent activity: actions, capabilities, approvals, responses,
// results, refusals, usage, summaries and verdicts.
//
// None of these is built by the system except VerdictData; the others arrive
// in logs and receipts written elsewhere, and are read with base::from_json<T>
// and re-encoded with base::canonical_json for the verifier's comparison.
// Every field is written, an absent optional one as null, except a result's
// "artifacts", which is left out when absent. The array form must give every
// field, except that a result's array may stop before "artifacts".
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "base/codec.h"
#include "record/artifact_ref.h"
#include "record/kind.h"

namespace quintrel::record {

// --- actions, capabilities, approvals ---------------------------------------

struct ActionData {
  base::Id request_id{};
  std::string action_class;
  base::Id scope{};
  ExecMode exec_mode = ExecMode::Internal;
  // Free parameters, kept exactly as read (a repeated key keeps its last
  // value). Numbers outside the canonical range read but do not re-encode.
  base::Json params;

  bool operator==(const ActionData&) const = default;
};

struct CapabilityData {
  std::string actor_id;
  std::string action_class;
  base::Id scope{};
  CapabilityMode mode = CapabilityMode::Auto;
  std::optional<uint64_t> expiry;  // logical time; absent means no limit

  bool operator==(const CapabilityData&) const = default;
};

// Exact (target_action set) or class-wide; which combinations are valid is
// the verifier's business, not the reader's.
struct ApprovalData {
  std::optional<base::Id> target_action;
  std::optional<std::string> action_class;
  base::Id scope{};
  std::optional<std::string> actor_id;
  std::optional<uint64_t> expiry;

  bool operator==(const ApprovalData&) const = default;
};

// The subject an exact approval names: SHA-256 of the canonical JSON of
// [author_id, action]. Fails when the action cannot be encoded canonically.
std::expected<base::Id, base::JsonError> action_approval_subject_hash(const std::string& author_id,
                                                                      const ActionData& action);

// --- responses, results, refusals, usage -------------------------------------

struct ResponseData {
  base::Id request_id{};
  std::string content;
  uint32_t turn_index = 0;
  bool closes_request = false;

  bool operator==(const ResponseData&) const = default;
};

struct ResultData {
  base::Id action_id{};
  ResultStatus status = ResultStatus::Success;
  std::string output;
  // Absent differs from empty; kept in input order (the verifier checks it).
  std::optional<std::vector<ArtifactRef>> artifacts;

  bool operator==(const ResultData&) const = default;
};

struct RefusalData {
  base::Id target_id{};
  RefusalTarget target_kind = RefusalTarget::Action;
  std::optional<ReasonCode> reason_code;

  bool operator==(const RefusalData&) const = default;
};

struct UsageData {
  std::string actor;
  base::Id used_record{};
  base::Id consuming_record{};
  std::string role;
  UsageOutcome outcome = UsageOutcome::Done;

  bool operator==(const UsageData&) const = default;
};

// The derived state's tally per usage key. Never read or written as JSON.
struct UsageOutcomeCounts {
  uint64_t done = 0;
  uint64_t not_done = 0;
  uint64_t no_change = 0;

  // Adds one to the count the outcome names.
  void add(UsageOutcome outcome);

  bool operator==(const UsageOutcomeCounts&) const = default;
};

// --- summaries and verdicts ------------------------------------------------------

struct SummaryData {
  SummaryType summary_type = SummaryType::Procedure;
  base::Id subject{};
  base::Id scope{};
  std::vector<uint8_t> claim_payload;  // opaque to the system

  bool operator==(const SummaryData&) const = default;
};

// Any combination of result and reason reads; only the two shapes that
// verdict_for builds are ever written by the system.
struct VerdictData {
  VerdictResult result = VerdictResult::Accept;
  std::optional<ReasonCode> reason;

  bool operator==(const VerdictData&) const = default;
};

// A check's judgement: no code means accept.
using Judgement = std::optional<ReasonCode>;

// Accept without a reason, or Reject with the judgement's code.
VerdictData verdict_for(Judgement judgement);

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct Fields<record::ActionData> {
  using T = record::ActionData;
  static constexpr std::string_view name = "ActionData";
  static constexpr auto fields =
      std::make_tuple(field("request_id", &T::request_id), field("action_class", &T::action_class),
                      field("scope", &T::scope), field("exec_mode", &T::exec_mode), field("params", &T::params));
};

template <>
struct Fields<record::CapabilityData> {
  using T = record::CapabilityData;
  static constexpr std::string_view name = "CapabilityData";
  static constexpr auto fields =
      std::make_tuple(field("actor_id", &T::actor_id), field("action_class", &T::action_class),
                      field("scope", &T::scope), field("mode", &T::mode), field("expiry", &T::expiry));
};

template <>
struct Fields<record::ApprovalData> {
  using T = record::ApprovalData;
  static constexpr std::string_view name = "ApprovalData";
  static constexpr auto fields =
      std::make_tuple(field("target_action", &T::target_action), field("action_class", &T::action_class),
                      field("scope", &T::scope), field("actor_id", &T::actor_id), field("expiry", &T::expiry));
};

template <>
struct Fields<record::ResponseData> {
  using T = record::ResponseData;
  static constexpr std::string_view name = "ResponseData";
  static constexpr auto fields =
      std::make_tuple(field("request_id", &T::request_id), field("content", &T::content),
                      field("turn_index", &T::turn_index), field("closes_request", &T::closes_request));
};

template <>
struct Fields<record::ResultData> {
  using T = record::ResultData;
  static constexpr std::string_view name = "ResultData";
  static constexpr auto fields =
      std::make_tuple(field("action_id", &T::action_id), field("status", &T::status),
                      field("output", &T::output), field("artifacts", &T::artifacts, kDefault | kOmitIfAbsent));
};

template <>
struct Fields<record::RefusalData> {
  using T = record::RefusalData;
  static constexpr std::string_view name = "RefusalData";
  static constexpr auto fields = std::make_tuple(
      field("target_id", &T::target_id), field("target_kind", &T::target_kind), field("reason_code", &T::reason_code));
};

template <>
struct Fields<record::UsageData> {
  using T = record::UsageData;
  static constexpr std::string_view name = "UsageData";
  static constexpr auto fields =
      std::make_tuple(field("actor", &T::actor), field("used_record", &T::used_record),
                      field("consuming_record", &T::consuming_record), field("role", &T::role),
                      field("outcome", &T::outcome));
};

template <>
struct Fields<record::SummaryData> {
  using T = record::SummaryData;
  static constexpr std::string_view name = "SummaryData";
  static constexpr auto fields =
      std::make_tuple(field("summary_type", &T::summary_type), field("subject", &T::subject),
                      field("scope", &T::scope), field("claim_payload", &T::claim_payload));
};

template <>
struct Fields<record::VerdictData> {
  using T = record::VerdictData;
  static constexpr std::string_view name = "VerdictData";
  static constexpr auto fields = std::make_tuple(field("result", &T::result), field("reason", &T::reason));
};

}  // namespace quintrel::base
