#include "record/refs.h"

#include <algorithm>

namespace quintrel::record {

void sort_and_dedup_refs(std::vector<Ref>& refs) {
  if (refs.size() < 2) return;
  // Equal refs are identical, so stability cannot be observed.
  std::sort(refs.begin(), refs.end());
  refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
}

}  // namespace quintrel::record
