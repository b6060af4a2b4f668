#include "queries/reports.h"

#include "base/hash.h"

namespace quintrel::queries {
namespace {

using base::Json;

// Declared ahead: array_of finds them by ordinary lookup.
Json to_value(const base::Id& id);
Json to_value(const record::ArtifactRef& a);
Json to_value(const DescentStep& s);
Json to_value(const FrontierEntry& e);
Json to_value(const EvidenceEntry& e);
Json to_value(const SelectionEvidence& s);
Json to_value(const SelectedEntry& s);

// An object from keys and values, the values moved in: an initializer list
// would copy every nested tree once per level. Keys come in ascending order.
void put(Json::Object&) {}
template <class... Rest>
void put(Json::Object& o, const char* key, Json value, Rest&&... rest) {
  o.emplace_hint(o.end(), key, std::move(value));
  put(o, std::forward<Rest>(rest)...);
}
template <class... Args>
Json object(Args&&... args) {
  Json::Object o;
  put(o, std::forward<Args>(args)...);
  return o;
}

template <class T>
Json array_of(const std::vector<T>& items) {
  Json::Array out;
  out.reserve(items.size());
  for (const T& item : items) out.push_back(to_value(item));
  return out;
}

Json to_value(const base::Id& id) { return base::hex_encode(id); }

Json to_value(const record::ArtifactRef& a) {
  return object("digest", a.digest, "name", a.name ? Json(*a.name) : Json(), "scheme", a.scheme);
}

Json to_value(const DescentStep& s) { return object("node", to_value(s.node), "via", s.via); }

Json to_value(const FrontierEntry& e) { return object("node", to_value(e.node), "reason", e.reason); }

Json to_value(const EvidenceEntry& e) {
  return object("criterion", e.criterion, "node", to_value(e.node), "outcome", e.outcome);
}

Json to_value(const SelectionEvidence& s) {
  return object("evidence", array_of(s.evidence), "selection", to_value(s.selection));
}

Json to_value(const SelectedEntry& s) {
  return object("chosen", array_of(s.chosen), "evidence", array_of(s.evidence), "selection", to_value(s.selection));
}

}  // namespace

Json to_value(const Node& n) {
  Json::Object o;
  if (!n.artifacts.empty()) put(o, "artifacts", array_of(n.artifacts));
  put(o, "id", base::hex_encode(n.id), "kind", base::EnumNames<record::Kind>::names[static_cast<size_t>(n.kind)]);
  if (!n.requirements.empty()) put(o, "requirements", array_of(n.requirements));
  put(o, "retracted", n.retracted, "standing", n.standing, "tainted", n.tainted);
  return o;
}

Json to_value(const DescentReport& r) { return object("line", array_of(r.line), "target", to_value(r.target)); }

Json to_value(const DescendantsReport& r) {
  return object("descendants", array_of(r.descendants), "target", to_value(r.target));
}

Json to_value(const SiblingsReport& r) { return object("siblings", array_of(r.siblings), "target", to_value(r.target)); }

Json to_value(const FrontierReport& r) { return object("frontier", array_of(r.frontier)); }

Json to_value(const StandingReport& r) {
  return object("node", to_value(r.node), "restorations", array_of(r.restorations));
}

Json to_value(const EvidenceReport& r) { return object("rests_on", array_of(r.rests_on), "target", to_value(r.target)); }

Json to_value(const SelectedReport& r) { return object("objective", r.objective, "selections", array_of(r.selections)); }

}  // namespace quintrel::queries
