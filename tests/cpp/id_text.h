// The JSON text of test ids, written out by hand so that tests of the codec
// do not take their expectations from the code under test.
#pragma once

#include <string>

namespace quintrel::fixture {

// An id whose first byte is `first` and whose other 31 bytes are `rest`.
inline std::string id_text(int first, int rest) {
  std::string s = "[" + std::to_string(first);
  for (int i = 1; i < 32; ++i) s += "," + std::to_string(rest);
  return s + "]";
}
// An id of 32 bytes `byte`.
inline std::string id_text(int byte) { return id_text(byte, byte); }

}  // namespace quintrel::fixture
