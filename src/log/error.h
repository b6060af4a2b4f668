// The one error of opening a log directory and committing to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/file.h"
#include "base/json_error.h"
#include "record/kind.h"

namespace quintrel::log {

struct LogError {
  enum class Kind : uint8_t {
    Locked,
    Io,
    CorruptIntent,
    Poisoned,
    TimeExhausted,
    FrameTooLarge,
    LogTooLarge,
    ReplayFailed,
    StateMismatch,
    RulesMismatch,
    Json,
  };
  Kind kind = Kind::Io;
  base::IoError io;                          // Io
  base::JsonError json;                      // Json
  uint64_t size = 0;                         // FrameTooLarge (body length), LogTooLarge
  uint64_t limit = 0;                        // LogTooLarge
  std::optional<record::ReasonCode> reason;  // ReplayFailed, when the replay named one

  static LogError of(Kind kind) { return LogError{kind}; }
  static LogError io_error(base::IoError e) { return LogError{Kind::Io, std::move(e)}; }
  static LogError json_error(base::JsonError e) { return LogError{Kind::Json, {}, std::move(e)}; }
  static LogError frame_too_large(uint64_t length) { return LogError{Kind::FrameTooLarge, {}, {}, length}; }
  static LogError log_too_large(uint64_t size, uint64_t limit) {
    return LogError{Kind::LogTooLarge, {}, {}, size, limit};
  }
  static LogError replay_failed(std::optional<record::ReasonCode> reason) {
    return LogError{Kind::ReplayFailed, {}, {}, 0, 0, reason};
  }

  // The fixed text of the case, filled with what it carries.
  std::string message() const;

  bool operator==(const LogError&) const = default;
};

}  // namespace quintrel::log
