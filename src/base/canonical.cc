#include "base/canonical.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/numbers.h"

namespace quintrel::base {
namespace {

constexpr uint64_t kMaxSafe = kMaxSafeInteger;

// The decimal text of every byte value, for writing byte arrays quickly.
// Built at compile time: other files' static initialisers may write ids.
struct ByteTexts {
  char text[256][4];
  uint8_t size[256];
};
constexpr ByteTexts make_byte_texts() {
  ByteTexts t{};
  for (int b = 0; b < 256; ++b) {
    int n = 0;
    if (b >= 100) t.text[b][n++] = static_cast<char>('0' + b / 100);
    if (b >= 10) t.text[b][n++] = static_cast<char>('0' + b / 10 % 10);
    t.text[b][n++] = static_cast<char>('0' + b % 10);
    t.size[b] = static_cast<uint8_t>(n);
  }
  return t;
}
constexpr ByteTexts kByteTexts = make_byte_texts();

// A table of which bytes need escaping in a JSON string.
constexpr bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

}  // namespace

size_t find_json_special(std::string_view text, size_t from) {
  // Eight bytes at a time: a lane is flagged when it is a quote, a backslash
  // or below 0x20. A lane above a flagged one may be flagged falsely (borrows
  // run upwards), so only the lowest flag is used, and it is exact.
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  auto zero_lanes = [](uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  size_t i = from;
  for (; text.size() - i >= 8; i += 8) {
    uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    if constexpr (std::endian::native == std::endian::big) w = std::byteswap(w);
    const uint64_t flags =
        zero_lanes(w ^ (kOnes * '"')) | zero_lanes(w ^ (kOnes * '\\')) | ((w - kOnes * 0x20) & ~w & kHighs);
    if (flags) return i + static_cast<size_t>(std::countr_zero(flags)) / 8;
  }
  for (; i < text.size(); ++i)
    if (needs_escape(static_cast<unsigned char>(text[i]))) return i;
  return text.size();
}

void write_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t start = 0;
  for (size_t i = find_json_special(text, 0); i < text.size(); i = find_json_special(text, i + 1)) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    out.append(text.data() + start, i - start);
    start = i + 1;
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      default: {
        char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        out.append(esc, 6);
      }
    }
  }
  out.append(text.data() + start, text.size() - start);
  out.push_back('"');
}

bool utf16_less(std::string_view a, std::string_view b) {
  // UTF-8 byte order is code point order, which differs from UTF-16 order only
  // where a supplementary character (lead byte F0 to F4, surrogates in UTF-16)
  // meets one from U+E000 to U+FFFF (lead byte EE or EF).
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return a.size() < b.size();
  unsigned char ca = static_cast<unsigned char>(a[i]);
  unsigned char cb = static_cast<unsigned char>(b[i]);
  if ((ca & 0xC0) != 0x80 && (cb & 0xC0) != 0x80) {  // both are lead bytes
    if (ca >= 0xF0 && (cb == 0xEE || cb == 0xEF)) return true;
    if (cb >= 0xF0 && (ca == 0xEE || ca == 0xEF)) return false;
  }
  return ca < cb;
}

namespace {
thread_local std::string t_scratch;
thread_local bool t_scratch_lent = false;
}  // namespace

ScratchBuffer::ScratchBuffer() : buffer_(&own_), lent_(!t_scratch_lent) {
  if (lent_) {
    t_scratch_lent = true;
    buffer_ = &t_scratch;
    buffer_->clear();
  }
}

ScratchBuffer::~ScratchBuffer() {
  if (!lent_) return;
  // A buffer grown by one huge value is not kept.
  if (t_scratch.capacity() > 4 * kStreamChunk) std::string().swap(t_scratch);
  t_scratch_lent = false;
}

void JsonOut::string(std::string_view s) {
  write_string(s, out_);
  maybe_flush();
}

template <class Int>
void JsonOut::integer(Int n, bool in_range) {
  if (canonical() && !in_range) {
    fail("integer " + std::to_string(n) + " exceeds the I-JSON safe range required by JCS");
    return;
  }
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, n);
  out_.append(buf, res.ptr);
}

void JsonOut::unsigned_int(uint64_t n) { integer(n, n <= kMaxSafe); }
void JsonOut::signed_int(int64_t n) { integer(n, n >= -static_cast<int64_t>(kMaxSafe)); }

void JsonOut::floating(double x) {
  if (!canonical()) {
    if (!std::isfinite(x)) {
      out_.append("null");  // compact JSON has no spelling for these
      return;
    }
    append_ryu_style(out_, x);
    return;
  }
  if (!std::isfinite(x)) {
    fail("non-finite number in JCS input");
    return;
  }
  double m = std::fabs(x);
  if (m > static_cast<double>(kMaxSafe) && m < 1e21) {
    std::string digits;
    append_plain_integer(digits, x);
    fail("number " + digits + " would serialize as an integer outside the I-JSON safe range required by JCS");
    return;
  }
  append_ecmascript(out_, x);
}

void JsonOut::bytes(const uint8_t* data, size_t size) {
  out_.push_back('[');
  // In pieces, so that a sink receives a large array a little at a time.
  constexpr size_t kPiece = 16384;
  for (size_t start = 0; start < size; start += kPiece) {
    const size_t n = std::min(kPiece, size - start);
    // At most three digits and a comma per byte.
    const size_t used = out_.size();
    out_.resize_and_overwrite(used + n * 4, [&](char* buf, size_t) {
      char* p = buf + used;
      for (size_t i = start; i < start + n; ++i) {
        const uint8_t b = data[i];
        std::memcpy(p, kByteTexts.text[b], 4);
        p += kByteTexts.size[b];
        *p++ = ',';
      }
      return static_cast<size_t>(p - buf);
    });
    if (start + n < size) maybe_flush();  // the last piece stays: its comma becomes the bracket
  }
  if (size) out_.back() = ']';
  else out_.push_back(']');
}

void JsonOut::object(const Json::Object& o) {
  out_.push_back('{');
  bool first = true;
  auto member = [&](const std::string& key, const Json& value) {
    if (!first) out_.push_back(',');
    first = false;
    write_string(key, out_);
    out_.push_back(':');
    this->value(value);
  };
  if (canonical()) {
    std::vector<const Json::Object::value_type*> order;
    order.reserve(o.size());
    for (const auto& kv : o) order.push_back(&kv);
    std::sort(order.begin(), order.end(),
              [](auto* a, auto* b) { return utf16_less(a->first, b->first); });
    for (auto* kv : order) member(kv->first, kv->second);
  } else {
    for (const auto& kv : o) member(kv.first, kv.second);
  }
  out_.push_back('}');
}

void JsonOut::value(const Json& v) {
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
          null();
        } else if constexpr (std::is_same_v<T, bool>) {
          boolean(x);
        } else if constexpr (std::is_same_v<T, uint64_t>) {
          unsigned_int(x);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          signed_int(x);
        } else if constexpr (std::is_same_v<T, double>) {
          floating(x);
        } else if constexpr (std::is_same_v<T, std::string>) {
          string(x);
        } else if constexpr (std::is_same_v<T, Json::Array>) {
          out_.push_back('[');
          for (size_t i = 0; i < x.size(); ++i) {
            if (i) out_.push_back(',');
            value(x[i]);
          }
          out_.push_back(']');
        } else if constexpr (std::is_same_v<T, Json::Object>) {
          object(x);
        } else {
          bytes(x.bytes.data(), x.bytes.size());
        }
      },
      v.variant());
}

std::expected<void, JsonError> write_jcs(const Json& tree, std::string& buffer) {
  size_t mark = buffer.size();
  JsonOut out(JsonOut::Mode::kCanonical, buffer);
  out.value(tree);
  if (out.failed()) {
    buffer.resize(mark);
    return std::unexpected(JsonError{out.error(), 0, 0});
  }
  return {};
}

std::string write_compact(const Json& tree) {
  std::string s;
  s.reserve(128);
  JsonOut out(JsonOut::Mode::kCompact, s);
  out.value(tree);
  return s;
}

}  // namespace quintrel::base
