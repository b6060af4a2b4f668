#include "queries/error.h"

#include "base/hash.h"

namespace quintrel::queries {

std::string QueryError::to_string() const {
  switch (what) {
    case Case::LogInvalid:
      // The reason in its debug form: present or not is part of the text.
      if (!reason) return "log does not verify: None";
      return "log does not verify: Some(" +
             std::string(base::EnumNames<record::ReasonCode>::names[static_cast<size_t>(*reason)]) + ")";
    case Case::NotFound: return "record " + base::hex_encode(id) + " not found";
    case Case::Rejected: return "record " + base::hex_encode(id) + " was rejected at commit";
    case Case::WrongKind: return "record " + base::hex_encode(id) + " is not a " + std::string(expected);
  }
  return {};
}

}  // namespace quintrel::queries
