// The error value of JSON reading and canonical writing.
#pragma once

#include <cstdint>
#include <string>

namespace quintrel::base {

// A reading error carries the position where reading stopped (lines from 1,
// columns in bytes since the last line feed). A writing error, and a reading
// error raised by a check that runs after a value was read, has line 0: no
// position.
struct JsonError {
  std::string message;
  uint64_t line = 0;
  uint64_t column = 0;

  bool has_position() const { return line != 0; }
  // The message, followed by " at line {} column {}" when there is a position.
  std::string to_string() const;
  bool operator==(const JsonError&) const = default;
};

}  // namespace quintrel::base
