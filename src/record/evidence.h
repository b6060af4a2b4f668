// Evidence classes: how strongly a record's statement is backed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/codec.h"

namespace quintrel::record {

// Strongest first: a weaker class has a larger ordinal.
enum class Evidence : uint8_t { Deterministic, Verified, Reported, Inferred, Assumed };

// The class a schema gives a record by itself (Assumed for unknown schemas).
Evidence base_evidence(const base::Id& schema);

// The weakest of the schema's base class and the inputs' classes.
Evidence derive_evidence(const base::Id& schema, std::span<const Evidence> inputs);

}  // namespace quintrel::record

namespace quintrel::base {
template <>
struct EnumNames<record::Evidence> {
  static constexpr std::string_view names[] = {"Deterministic", "Verified", "Reported", "Inferred",
                                               "Assumed"};
};
}  // namespace quintrel::base
