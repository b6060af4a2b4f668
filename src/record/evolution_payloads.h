// Payloads of the evolution records: requests, requirements, retractions and
// selections here; candidates and evaluations in their own headers, included
// so that this one header offers them all.
//
// Every payload reads with base::from_json<T>(bytes) (strict keys, the array
// form, unit enumerations also as {"name":null}) and writes its stored bytes
// with base::canonical_json(value).
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "record/candidate_payload.h"
#include "record/evaluation_payload.h"

namespace quintrel::record {

struct Attachment {
  std::string path;
  std::string content;
  bool operator==(const Attachment&) const = default;
};

// Schema "quintrel.request.v1".
struct RequestData {
  std::string objective;
  base::Id scope{};
  std::vector<Attachment> attachments;
  std::optional<base::Id> parent_request_id;
  bool operator==(const RequestData&) const = default;
};

enum class Provenance : uint8_t { user_authored, derived };

// Schema "quintrel.requirement.v1".
struct RequirementData {
  std::string key;
  std::string description;
  bool required = true;
  std::optional<std::string> expected_evidence;
  Provenance provenance = Provenance::user_authored;
  bool operator==(const RequirementData&) const = default;
};

// Schema "quintrel.retraction.v1".
struct RetractionData {
  base::Id target_id{};
  std::string reason;
  bool operator==(const RetractionData&) const = default;
};

// Either the chosen candidates or "none".
struct SelectionOutcome {
  struct Selected {
    std::vector<base::Id> candidates;
    bool operator==(const Selected&) const = default;
  };
  std::optional<Selected> selected;  // absent: none was chosen

  static SelectionOutcome none() { return {}; }
  static SelectionOutcome choose(std::vector<base::Id> candidates) {
    return {Selected{std::move(candidates)}};
  }
  bool is_none() const { return !selected; }
  bool operator==(const SelectionOutcome&) const = default;
};

// Schema "quintrel.selection.v1". The reader refuses an empty objective.
struct SelectionData {
  std::string objective;
  std::vector<base::Id> considered;  // Candidate records
  SelectionOutcome outcome;
  std::optional<std::string> rationale;
  bool operator==(const SelectionData&) const = default;
};

// The value an exact Approval names for one selection decision: SHA-256 of the
// canonical ["quintrel.selection-approval.v0.3", author, prior or null, selection].
std::expected<base::Id, base::JsonError> selection_approval_subject_hash(
    std::string_view author, const std::optional<base::Id>& prior, const SelectionData& selection);

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct EnumNames<record::Provenance> {
  static constexpr std::string_view names[] = {"user_authored", "derived"};
};

template <>
struct Fields<record::Attachment> {
  using T = record::Attachment;
  static constexpr std::string_view name = "Attachment";
  static constexpr auto fields = std::make_tuple(field("path", &T::path), field("content", &T::content));
};
template <>
struct Fields<record::RequestData> {
  using T = record::RequestData;
  static constexpr std::string_view name = "RequestData";
  static constexpr auto fields =
      std::make_tuple(field("objective", &T::objective), field("scope", &T::scope),
                      field("attachments", &T::attachments, kDefault),
                      field("parent_request_id", &T::parent_request_id, kDefault));
};
template <>
struct Fields<record::RequirementData> {
  using T = record::RequirementData;
  static constexpr std::string_view name = "RequirementData";
  static constexpr auto fields =
      std::make_tuple(field("key", &T::key), field("description", &T::description),
                      field("required", &T::required),
                      field("expected_evidence", &T::expected_evidence, kDefault),
                      field("provenance", &T::provenance));
};
template <>
struct Fields<record::RetractionData> {
  using T = record::RetractionData;
  static constexpr std::string_view name = "RetractionData";
  static constexpr auto fields = std::make_tuple(field("target_id", &T::target_id), field("reason", &T::reason));
};

// The object under "selected" skips keys other than `candidates`.
template <>
struct Fields<record::SelectionOutcome::Selected> {
  using T = record::SelectionOutcome::Selected;
  static constexpr std::string_view name = "SelectionOutcome::Selected";
  static constexpr std::string_view expecting = "struct variant SelectionOutcome::Selected";
  static constexpr bool skip_unknown = true;
  static constexpr auto fields = std::make_tuple(field("candidates", &T::candidates));
};

// {"selected":{"candidates":[...]}} or "none" (also {"none":null}).
template <>
struct Codec<record::SelectionOutcome> {
  static bool read(Reader& r, record::SelectionOutcome& v);
  static void write(JsonOut& o, const record::SelectionOutcome& v);
};

template <>
struct Fields<record::SelectionData> {
  using T = record::SelectionData;
  static constexpr std::string_view name = "SelectionDataRaw";
  static constexpr auto fields =
      std::make_tuple(field("objective", &T::objective), field("considered", &T::considered),
                      field("outcome", &T::outcome), field("rationale", &T::rationale, kDefault));
  static std::optional<std::string> check(const T& v);
};

}  // namespace quintrel::base
