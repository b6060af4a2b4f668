#include "log/error.h"

#include "base/codec.h"

namespace quintrel::log {

std::string LogError::message() const {
  switch (kind) {
    case Kind::Locked:
      return "log is already locked by another writer";
    case Kind::Io:
      return "I/O error: " + io.message;
    case Kind::CorruptIntent:
      return "corrupted commit intent during recovery";
    case Kind::Poisoned:
      return "a commit entered its durable phase but did not finish; drop and reopen the writer";
    case Kind::TimeExhausted:
      return "logical time counter exhausted; log accepts no further commits";
    case Kind::FrameTooLarge:
      return "record frame of " + std::to_string(size) + " bytes exceeds the u32 length prefix; refusing to corrupt the log";
    case Kind::LogTooLarge:
      return "log size of " + std::to_string(size) + " bytes exceeds configured limit of " + std::to_string(limit) +
             " bytes";
    case Kind::ReplayFailed: {
      std::string text = "existing log failed replay verification";
      if (reason) text += ": " + std::string(base::EnumNames<record::ReasonCode>::names[static_cast<size_t>(*reason)]);
      return text;
    }
    case Kind::StateMismatch:
      return "derived state does not match the current log; rebuild it before committing";
    case Kind::RulesMismatch:
      return "commit rules differ from the rules used to open this writer";
    case Kind::Json:
      return "JSON error: " + json.to_string();
  }
  return {};
}

}  // namespace quintrel::log
