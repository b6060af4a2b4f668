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

const record::Record* Input::find(const base::Id& id) const {
  if (!positions_) {
    positions_.emplace();
    positions_->reserve(records_.size());
    for (size_t i = 0; i < records_.size(); ++i) *positions_->try_emplace(records_[i].id).first = i;
  }
  const size_t* at = positions_->find(id);
  return at ? &records_[*at] : nullptr;
}

}  // namespace quintrel::profiles
