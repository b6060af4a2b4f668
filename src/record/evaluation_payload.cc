#include "record/evaluation_payload.h"

#include "record/schema.h"

namespace quintrel::record {
namespace {

template <class Outcome>
std::string outcome_label(const Outcome& o) {
  if (o.kind != Outcome::Kind::scored) return std::string(base::enum_name(o.kind));
  return "scored " + std::to_string(o.score.value) + "e-" + std::to_string(o.score.scale);
}

template <class Outcome>
bool read_outcome(base::Reader& r, Outcome& v) {
  using Kind = typename Outcome::Kind;
  using Names = base::EnumNames<Kind>;
  return r.enumeration(Names::names, base::enum_count<Kind>(), [&](size_t index, bool in_object) {
    v.kind = static_cast<Kind>(index);
    v.score = {};
    if (v.kind != Kind::scored) return !in_object || r.unit();
    if (!in_object) return r.fail_custom("invalid type: unit variant, expected newtype variant");
    return base::Codec<ScoredValue>::read(r, v.score);
  });
}

template <class Outcome>
void write_outcome(base::JsonOut& o, const Outcome& v) {
  if (v.kind != Outcome::Kind::scored) {
    o.string(base::enum_name(v.kind));
    return;
  }
  o.raw('{');
  o.string("scored");
  o.raw(':');
  base::Codec<ScoredValue>::write(o, v.score);
  o.raw('}');
}

template <class Data>
std::optional<EvaluationSummary> summarise(std::string_view data) {
  auto payload = base::from_json<Data>(data);
  if (!payload) return std::nullopt;
  return EvaluationSummary{payload->candidate, std::move(payload->criterion), payload->outcome.label()};
}

std::optional<std::string> criterion_problem(const std::string& criterion) {
  if (criterion.empty()) return "evaluation criterion must be non-empty";
  return std::nullopt;
}

}  // namespace

std::string EvaluationOutcome::label() const { return outcome_label(*this); }
std::string EvaluationOutcomeV2::label() const { return outcome_label(*this); }

std::optional<EvaluationSummary> evaluation_summary(const base::Id& schema, std::string_view data) {
  if (schema == schema_id(Schema::Evaluation)) return summarise<EvaluationData>(data);
  if (schema == schema_id(Schema::EvaluationV2) || schema == schema_id(Schema::EvaluationAttested))
    return summarise<EvaluationDataV2>(data);
  return std::nullopt;
}

}  // namespace quintrel::record

namespace quintrel::base {

std::optional<std::string> Fields<record::ScoredValue>::check(const record::ScoredValue& v) {
  if (v.value < -kMaxSafeInteger || v.value > kMaxSafeInteger)
    return "score value outside the I-JSON safe range";
  if (v.scale > 12) return "score scale above 12";
  return std::nullopt;
}

bool Codec<record::EvaluationOutcome>::read(Reader& r, record::EvaluationOutcome& v) {
  return record::read_outcome(r, v);
}
void Codec<record::EvaluationOutcome>::write(JsonOut& o, const record::EvaluationOutcome& v) {
  record::write_outcome(o, v);
}
bool Codec<record::EvaluationOutcomeV2>::read(Reader& r, record::EvaluationOutcomeV2& v) {
  return record::read_outcome(r, v);
}
void Codec<record::EvaluationOutcomeV2>::write(JsonOut& o, const record::EvaluationOutcomeV2& v) {
  record::write_outcome(o, v);
}

std::optional<std::string> Fields<record::EvaluationData>::check(const record::EvaluationData& v) {
  return record::criterion_problem(v.criterion);
}
std::optional<std::string> Fields<record::EvaluationDataV2>::check(const record::EvaluationDataV2& v) {
  return record::criterion_problem(v.criterion);
}

}  // namespace quintrel::base
