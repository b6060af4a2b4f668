#include "base/sodium.h"

#include <sodium.h>

namespace quintrel::base {

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace quintrel::base
