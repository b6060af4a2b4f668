#include "record/evolution_payloads.h"

#include "base/hash.h"

namespace quintrel::record {

std::expected<base::Id, base::JsonError> selection_approval_subject_hash(
    std::string_view author, const std::optional<base::Id>& prior, const SelectionData& selection) {
  // The array written in place, as the tuple codec writes it (elements in
  // order; only the payload object's keys are sorted), without copying the
  // selection.
  std::string bytes;
  base::JsonOut out(base::JsonOut::Mode::kCanonical, bytes);
  out.raw('[');
  out.string("quintrel.selection-approval.v0.3");
  out.raw(',');
  out.string(author);
  out.raw(',');
  base::Codec<std::optional<base::Id>>::write(out, prior);
  out.raw(',');
  base::Codec<SelectionData>::write(out, selection);
  out.raw(']');
  if (out.failed()) return std::unexpected(base::JsonError{out.error(), 0, 0});
  return base::sha256(bytes);
}

}  // namespace quintrel::record

namespace quintrel::base {
namespace {
constexpr std::string_view kOutcomeNames[] = {"selected", "none"};
}  // namespace

bool Codec<record::SelectionOutcome>::read(Reader& r, record::SelectionOutcome& v) {
  return r.enumeration(kOutcomeNames, std::size(kOutcomeNames), [&](size_t index, bool in_object) {
    if (index == 1) {
      v.selected.reset();
      return !in_object || r.unit();
    }
    if (!in_object) return r.fail_custom("invalid type: unit variant, expected struct variant");
    v.selected.emplace();
    return Codec<record::SelectionOutcome::Selected>::read(r, *v.selected);
  });
}

void Codec<record::SelectionOutcome>::write(JsonOut& o, const record::SelectionOutcome& v) {
  if (!v.selected) {
    o.string("none");
    return;
  }
  o.raw('{');
  o.string("selected");
  o.raw(':');
  Codec<record::SelectionOutcome::Selected>::write(o, *v.selected);
  o.raw('}');
}

std::optional<std::string> Fields<record::SelectionData>::check(const record::SelectionData& v) {
  if (v.objective.empty()) return "selection objective must be non-empty";
  return std::nullopt;
}

}  // namespace quintrel::base
