#include "profiles/input.h"

#include "state/build.h"

namespace quintrel::profiles {

const state::State* Input::state() const {
  if (replayed_) return replayed_;
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

const ProfileResult& Input::evaluated(std::string_view id, ProfileResult (*evaluate)(const Input&)) const {
  if (auto it = results_.find(id); it != results_.end()) return it->second;
  // Not emplaced before evaluating: an evaluation may ask for other profiles.
  ProfileResult result = evaluate(*this);
  return results_.emplace(id, std::move(result)).first->second;
}

}  // namespace quintrel::profiles
