#include "profiles/input.h"

#include "state/build.h"

namespace quintrel::profiles {

const state::State* Input::state() const {
  if (!state_) {
    auto built = state::build_state_unchecked(records_);
    state_.emplace(built ? std::optional(std::move(*built)) : std::nullopt);
  }
  return *state_ ? &**state_ : nullptr;
}

}  // namespace quintrel::profiles
