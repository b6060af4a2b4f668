// UTF-8: the strict validity test, and decoding and encoding of code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quintrel::base {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool valid_utf8(std::string_view s);

// The length in bytes (1 to 4) of the sequence that `lead` starts, in a
// valid text.
constexpr size_t utf8_length(unsigned char lead) { return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2; }

// The code point of the well-formed sequence of `n` bytes at `p`.
inline uint32_t utf8_decode(const unsigned char* p, size_t n) {
  if (n == 1) return p[0];
  uint32_t cp = p[0] & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) cp = (cp << 6) | (p[i] & 0x3F);
  return cp;
}

// Decodes the sequence at s[i] of a valid text and moves i past it.
inline uint32_t next_code_point(std::string_view s, size_t& i) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + i;
  const size_t n = utf8_length(*p);
  i += n;
  return utf8_decode(p, n);
}

// Appends a code point as UTF-8. Lone surrogates never reach here.
void append_utf8(uint32_t cp, std::string& out);

}  // namespace quintrel::base
