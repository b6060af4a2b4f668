#include "receipt/receipt.h"

#include <set>

#include "profiles/registry.h"

namespace quintrel::receipt {

std::span<const record::SchemaInfo> admitted_schemas(std::string_view spec_version) {
  // "0.4" added the last three known schemas to the seventeen of "0.3".
  static_assert(static_cast<size_t>(record::Schema::Requirement) == 17);
  if (spec_version == "0.3") return record::schemas().first(17);
  if (spec_version == "0.4") return record::schemas();
  return {};
}

std::map<base::Id, record::Kind> admitted_kind_schemas(const std::map<base::Id, record::Kind>& kind_schema_map,
                                                       std::string_view spec_version) {
  base::IdSet admitted;
  for (const record::SchemaInfo& s : admitted_schemas(spec_version)) admitted.insert(record::schema_id(s.schema));
  std::map<base::Id, record::Kind> out;
  for (const auto& entry : kind_schema_map)
    if (admitted.contains(entry.first)) out.insert(out.end(), entry);
  return out;
}

verify::VerifierRules rules_for_epoch(const verify::VerifierRules& rules, std::string_view spec_version) {
  verify::VerifierRules out = rules;
  out.kind_schema_map = admitted_kind_schemas(rules.kind_schema_map, spec_version);
  return out;
}

Receipt Receipt::create(std::span<const record::Record> records, const verify::VerifierRules& rules) {
  return Receipt{std::string(kCurrentSpecVersion), {}, rules, {records.begin(), records.end()}};
}

std::expected<Receipt, std::string> Receipt::with_declared_profiles(Receipt receipt,
                                                                    std::span<const std::string> ids) {
  std::set<std::string, std::less<>> declared;
  for (const auto& p : receipt.profiles) declared.insert(p.id);
  for (const std::string& id : ids) {
    if (declared.contains(id)) return std::unexpected("profile " + base::debug_quote(id) + " declared more than once");
    auto ref = profiles::profile_ref(id);
    if (!ref) return std::unexpected("unknown profile " + base::debug_quote(id));
    declared.insert(id);
    receipt.profiles.push_back(std::move(*ref));
  }
  return receipt;
}

std::expected<std::string, base::JsonError> Receipt::to_bytes() const { return base::canonical_json(*this); }

std::expected<Receipt, base::JsonError> Receipt::from_bytes(std::string_view bytes) {
  return base::from_json<Receipt>(bytes);
}

}  // namespace quintrel::receipt

namespace quintrel::base {

void Codec<receipt::Receipt>::write(JsonOut& o, const receipt::Receipt& v) {
  auto spec_version = [&] {
    o.string("spec_version");
    o.raw(':');
    o.string(v.spec_version);
  };
  auto profiles = [&] {
    if (v.profiles.empty()) return;
    o.string("profiles");
    o.raw(':');
    Codec<std::vector<profiles::ProfileRef>>::write(o, v.profiles);
    o.raw(',');
  };
  auto rules = [&] {
    o.string("rules");
    o.raw(':');
    Codec<verify::VerifierRules>::write(o, v.rules);
  };
  auto records = [&] {
    o.string("records");
    o.raw(':');
    Codec<std::vector<record::Record>>::write(o, v.records);
  };
  o.raw('{');
  if (o.canonical()) {
    profiles(), records(), o.raw(','), rules(), o.raw(','), spec_version();
  } else {
    spec_version(), o.raw(','), profiles(), rules(), o.raw(','), records();
  }
  o.raw('}');
}

}  // namespace quintrel::base
