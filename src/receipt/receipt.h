// The receipt: the portable form of a whole log (`spec_version`, declared
// profiles, the rules, every record), written as canonical JSON and read
// strictly. Reading only parses; validate.h judges.
#pragma once

#include <array>
#include <expected>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "profiles/records.h"
#include "record/record.h"
#include "record/schema.h"
#include "verify/rules.h"

namespace quintrel::receipt {

// The versions a receipt may be written to, oldest first; new receipts are
// written to the current one, the only one that admits profile declarations.
inline constexpr std::array<std::string_view, 2> kSpecVersions = {"0.3", "0.4"};
inline constexpr std::string_view kCurrentSpecVersion = "0.4";

// The schemas a `spec_version` admits (none for an unknown version).
std::span<const record::SchemaInfo> admitted_schemas(std::string_view spec_version);

// The entries of a kind-schema map whose schema the `spec_version` admits.
std::map<base::Id, record::Kind> admitted_kind_schemas(const std::map<base::Id, record::Kind>& kind_schema_map,
                                                       std::string_view spec_version);
// A copy of the rules with only those entries in their kind-schema map.
verify::VerifierRules rules_for_epoch(const verify::VerifierRules& rules, std::string_view spec_version);

struct Receipt {
  std::string spec_version;
  std::vector<profiles::ProfileRef> profiles;  // in declaration order
  verify::VerifierRules rules;                 // as the writer held them
  std::vector<record::Record> records;         // log order, Verdicts included

  // Written to the current version, declaring nothing.
  static Receipt create(std::span<const record::Record> records, const verify::VerifierRules& rules);

  // Appends the declaration of each profile named, in order. Fails with
  // "profile {:?} declared more than once" or "unknown profile {:?}".
  static std::expected<Receipt, std::string> with_declared_profiles(Receipt receipt,
                                                                    std::span<const std::string> ids);

  // Canonical JSON; "profiles" is left out when nothing is declared.
  std::expected<std::string, base::JsonError> to_bytes() const;
  // The strict reader: one JSON value, an object of the four fields or an
  // array of them in order. No limit or content check.
  static std::expected<Receipt, base::JsonError> from_bytes(std::string_view bytes);

  bool operator==(const Receipt&) const = default;
};

}  // namespace quintrel::receipt

namespace quintrel::base {

template <>
struct Fields<receipt::Receipt> {
  using R = receipt::Receipt;
  static constexpr std::string_view name = "Receipt";
  static constexpr auto fields = std::make_tuple(field("spec_version", &R::spec_version),
                                                 field("profiles", &R::profiles, kDefault),
                                                 field("rules", &R::rules), field("records", &R::records));
};

// Read as a structure; written by hand, since an empty "profiles" is left out.
template <>
struct Codec<receipt::Receipt> {
  static bool read(Reader& r, receipt::Receipt& v) { return StructCodec<receipt::Receipt>::read(r, v); }
  static void write(JsonOut& o, const receipt::Receipt& v);
};

}  // namespace quintrel::base
