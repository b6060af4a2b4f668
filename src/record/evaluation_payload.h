// Evaluation payloads (one candidate judged against one criterion): version 1,
// and version 2, which the attested schema shares.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "record/candidate_payload.h"

namespace quintrel::record {

// The decimal number value * 10^-scale. Read only with |value| <= 2^53 - 1
// and scale <= 12 (value checked first).
struct ScoredValue {
  int64_t value = 0;
  uint8_t scale = 0;
  bool operator==(const ScoredValue&) const = default;
};

// Outcomes. `score` is the data of `scored` and ignored for every other kind.
struct EvaluationOutcome {
  enum class Kind : uint8_t { passed, failed, scored };
  Kind kind = Kind::passed;
  ScoredValue score;

  static EvaluationOutcome scored(ScoredValue s) { return {Kind::scored, s}; }
  bool passes() const { return kind == Kind::passed; }
  // "passed", "failed" or "scored {value}e-{scale}".
  std::string label() const;
  bool operator==(const EvaluationOutcome& o) const {
    return kind == o.kind && (kind != Kind::scored || score == o.score);
  }
};

struct EvaluationOutcomeV2 {
  enum class Kind : uint8_t { passed, failed, scored, blocked, insufficient, stale, not_run };
  Kind kind = Kind::passed;
  ScoredValue score;

  static EvaluationOutcomeV2 scored(ScoredValue s) { return {Kind::scored, s}; }
  bool passes() const { return kind == Kind::passed; }
  // The value's own name, or "scored {value}e-{scale}".
  std::string label() const;
  bool operator==(const EvaluationOutcomeV2& o) const {
    return kind == o.kind && (kind != Kind::scored || score == o.score);
  }
};

enum class Basis : uint8_t { recomputed, declared };

// Who decided an evaluation.
struct DeciderBinding {
  std::string id;
  std::optional<std::string> version;
  std::optional<base::Id> procedure_hash;
  std::optional<base::Id> input_hash;
  bool operator==(const DeciderBinding&) const = default;
};

// Schema "quintrel.evaluation.v1". The reader refuses an empty criterion.
struct EvaluationData {
  base::Id candidate{};
  std::string criterion;
  std::optional<std::string> procedure;
  EvaluationOutcome outcome;
  bool operator==(const EvaluationData&) const = default;
};

// Schemas "quintrel.evaluation.v2" and "quintrel.evaluation.attested.v1".
struct EvaluationDataV2 {
  base::Id candidate{};
  std::string criterion;
  std::optional<std::string> procedure;
  EvaluationOutcomeV2 outcome;
  DeciderBinding evaluator;
  Basis basis = Basis::recomputed;
  std::vector<ArtifactRef> evidence;
  std::vector<base::Id> requirements;  // Requirement records
  bool operator==(const EvaluationDataV2&) const = default;
};

inline std::string label(const EvaluationOutcome& o) { return o.label(); }
inline std::string label(const EvaluationOutcomeV2& o) { return o.label(); }

struct EvaluationSummary {
  base::Id candidate{};
  std::string criterion;
  std::string label;
  bool operator==(const EvaluationSummary&) const = default;
};

// Candidate, criterion and outcome label of an evaluation payload read under
// the given schema id; none for any other schema or a payload that fails to read.
std::optional<EvaluationSummary> evaluation_summary(const base::Id& schema, std::string_view data);

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct EnumNames<record::EvaluationOutcome::Kind> {
  static constexpr std::string_view names[] = {"passed", "failed", "scored"};
};
template <>
struct EnumNames<record::EvaluationOutcomeV2::Kind> {
  static constexpr std::string_view names[] = {"passed", "failed",       "scored", "blocked",
                                               "insufficient", "stale", "not_run"};
};
template <>
struct EnumNames<record::Basis> {
  static constexpr std::string_view names[] = {"recomputed", "declared"};
};

template <>
struct Fields<record::ScoredValue> {
  using T = record::ScoredValue;
  static constexpr std::string_view name = "ScoredValueRaw";
  static constexpr auto fields = std::make_tuple(field("value", &T::value), field("scale", &T::scale));
  static std::optional<std::string> check(const T& v);
};

// A unit value as its name (or {"name":null}); `scored` as {"scored":{...}}.
template <>
struct Codec<record::EvaluationOutcome> {
  static bool read(Reader& r, record::EvaluationOutcome& v);
  static void write(JsonOut& o, const record::EvaluationOutcome& v);
};
template <>
struct Codec<record::EvaluationOutcomeV2> {
  static bool read(Reader& r, record::EvaluationOutcomeV2& v);
  static void write(JsonOut& o, const record::EvaluationOutcomeV2& v);
};

template <>
struct Fields<record::DeciderBinding> {
  using T = record::DeciderBinding;
  static constexpr std::string_view name = "DeciderBinding";
  static constexpr auto fields =
      std::make_tuple(field("id", &T::id), field("version", &T::version, kDefault),
                      field("procedure_hash", &T::procedure_hash, kDefault),
                      field("input_hash", &T::input_hash, kDefault));
};
template <>
struct Fields<record::EvaluationData> {
  using T = record::EvaluationData;
  static constexpr std::string_view name = "EvaluationDataRaw";
  static constexpr auto fields =
      std::make_tuple(field("candidate", &T::candidate), field("criterion", &T::criterion),
                      field("procedure", &T::procedure, kDefault), field("outcome", &T::outcome));
  static std::optional<std::string> check(const T& v);
};
template <>
struct Fields<record::EvaluationDataV2> {
  using T = record::EvaluationDataV2;
  static constexpr std::string_view name = "EvaluationDataV2Raw";
  static constexpr auto fields = std::make_tuple(
      field("candidate", &T::candidate), field("criterion", &T::criterion),
      field("procedure", &T::procedure, kDefault), field("outcome", &T::outcome),
      field("evaluator", &T::evaluator), field("basis", &T::basis), field("evidence", &T::evidence),
      field("requirements", &T::requirements));
  static std::optional<std::string> check(const T& v);
};

}  // namespace quintrel::base
