// How a Candidate's source is bound: shared by the candidate payload and the
// verifier rules' minimum binding.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/codec.h"

namespace quintrel::record {

enum class BindingMode : uint8_t { reported, manifest };

}  // namespace quintrel::record

namespace quintrel::base {
template <>
struct EnumNames<record::BindingMode> {
  static constexpr std::string_view names[] = {"reported", "manifest"};
};
}  // namespace quintrel::base
