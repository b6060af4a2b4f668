// libsodium, initialised once for the process.
#pragma once

namespace quintrel::base {

// Initialises libsodium on first use (safe from any thread); false when it
// cannot be initialised, and then on every later call too.
bool sodium_ready();

}  // namespace quintrel::base
