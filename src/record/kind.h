// The closed vocabularies shared by records, payloads, rules and the verifier.
// Ordinals order every enumeration; the spellings are the JSON form.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/codec.h"

namespace quintrel::record {

enum class Kind : uint8_t {
  Request, Action, Response, Result, Summary, Approval, Capability, Usage,
  Refusal, Verdict, Plan, Retraction, Candidate, Evaluation, Selection, Requirement,
};
enum class AuthorType : uint8_t { User, Provider, System, Executor, Verifier };
enum class RefType : uint8_t { Cause, Use, Require, Replace };
enum class VerdictResult : uint8_t { Accept, Reject };
enum class ReasonCode : uint8_t {
  UnknownSchema, KindSchemaMismatch, SignatureMissing, SignatureInvalid, RefUnresolved,
  RefCrossSpace, RequestMissing, CapabilityMissing, CapabilityDenied, ApprovalMissing,
  ApprovalExpired, ActionClosed, ReplacementInvalid, ExternalReceiptRequired,
  EvidenceBelowThreshold, Refused, InvalidPayload, InvalidCheckpoint, AuthorRoleInvalid,
  AuthorityRefMissing, SourceBindingInvalid, LineageInvalid, PayloadRefUnresolved,
  EvaluationInvalid, SelectionInvalid, ReaffirmationInvalid, ArtifactRefInvalid,
  RequirementInvalid,
};
enum class CapabilityMode : uint8_t { Auto, Ask, Deny };
enum class ExecMode : uint8_t { Internal, External };
enum class ResultStatus : uint8_t { Success, Failure };
enum class SummaryType : uint8_t { Procedure, Pattern, Lesson, StateSnapshot };
enum class UsageOutcome : uint8_t { Done, NotDone, NoChange };
enum class RefusalTarget : uint8_t { Action, Request, VerifiedEffect };

// The author types that may author a record of each kind.
std::span<const AuthorType> allowed_author_types(Kind kind);

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct EnumNames<record::Kind> {
  static constexpr std::string_view names[] = {
      "Request", "Action", "Response", "Result", "Summary", "Approval", "Capability", "Usage",
      "Refusal", "Verdict", "Plan", "Retraction", "Candidate", "Evaluation", "Selection", "Requirement"};
};
template <>
struct EnumNames<record::AuthorType> {
  static constexpr std::string_view names[] = {"User", "Provider", "System", "Executor", "Verifier"};
};
template <>
struct EnumNames<record::RefType> {
  static constexpr std::string_view names[] = {"Cause", "Use", "Require", "Replace"};
};
template <>
struct EnumNames<record::VerdictResult> {
  static constexpr std::string_view names[] = {"Accept", "Reject"};
};
template <>
struct EnumNames<record::ReasonCode> {
  static constexpr std::string_view names[] = {
      "UnknownSchema", "KindSchemaMismatch", "SignatureMissing", "SignatureInvalid", "RefUnresolved",
      "RefCrossSpace", "RequestMissing", "CapabilityMissing", "CapabilityDenied", "ApprovalMissing",
      "ApprovalExpired", "ActionClosed", "ReplacementInvalid", "ExternalReceiptRequired",
      "EvidenceBelowThreshold", "Refused", "InvalidPayload", "InvalidCheckpoint", "AuthorRoleInvalid",
      "AuthorityRefMissing", "SourceBindingInvalid", "LineageInvalid", "PayloadRefUnresolved",
      "EvaluationInvalid", "SelectionInvalid", "ReaffirmationInvalid", "ArtifactRefInvalid",
      "RequirementInvalid"};
};
template <>
struct EnumNames<record::CapabilityMode> {
  static constexpr std::string_view names[] = {"Auto", "Ask", "Deny"};
};
template <>
struct EnumNames<record::ExecMode> {
  static constexpr std::string_view names[] = {"Internal", "External"};
};
template <>
struct EnumNames<record::ResultStatus> {
  static constexpr std::string_view names[] = {"Success", "Failure"};
};
template <>
struct EnumNames<record::SummaryType> {
  static constexpr std::string_view names[] = {"Procedure", "Pattern", "Lesson", "StateSnapshot"};
};
template <>
struct EnumNames<record::UsageOutcome> {
  static constexpr std::string_view names[] = {"Done", "NotDone", "NoChange"};
};
template <>
struct EnumNames<record::RefusalTarget> {
  static constexpr std::string_view names[] = {"Action", "Request", "VerifiedEffect"};
};

}  // namespace quintrel::base
