#include "base/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/canonical.h"
#include "base/numbers.h"
#include "base/utf8.h"

namespace quintrel::base {
namespace {

std::string_view message_of(ReadCode code) {
  switch (code) {
    case ReadCode::kEofWhileParsingList: return "EOF while parsing a list";
    case ReadCode::kEofWhileParsingObject: return "EOF while parsing an object";
    case ReadCode::kEofWhileParsingString: return "EOF while parsing a string";
    case ReadCode::kEofWhileParsingValue: return "EOF while parsing a value";
    case ReadCode::kExpectedColon: return "expected `:`";
    case ReadCode::kExpectedListCommaOrEnd: return "expected `,` or `]`";
    case ReadCode::kExpectedObjectCommaOrEnd: return "expected `,` or `}`";
    case ReadCode::kExpectedSomeIdent: return "expected ident";
    case ReadCode::kExpectedSomeValue: return "expected value";
    case ReadCode::kInvalidEscape: return "invalid escape";
    case ReadCode::kInvalidNumber: return "invalid number";
    case ReadCode::kNumberOutOfRange: return "number out of range";
    case ReadCode::kInvalidUnicodeCodePoint: return "invalid unicode code point";
    case ReadCode::kControlCharacterWhileParsingString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case ReadCode::kKeyMustBeAString: return "key must be a string";
    case ReadCode::kLoneLeadingSurrogateInHexEscape: return "lone leading surrogate in hex escape";
    case ReadCode::kTrailingComma: return "trailing comma";
    case ReadCode::kTrailingCharacters: return "trailing characters";
    case ReadCode::kUnexpectedEndOfHexEscape: return "unexpected end of hex escape";
    case ReadCode::kRecursionLimitExceeded: return "recursion limit exceeded";
  }
  return "";
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Control characters are escaped, and so are surrogates: a text holding a
// lone one (as a caller's text of no UTF-8 form reaches the core, each
// surrogate in the three bytes UTF-8 would give it) is then written as UTF-8.
// Everything else is written as it is.
bool printable(uint32_t cp) { return !(cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000)); }

}  // namespace

std::string JsonError::to_string() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

std::string debug_quote(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = next_code_point(s, i);
    switch (cp) {
      case 0: out += "\\0"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
    }
    if (printable(cp)) {
      append_utf8(cp, out);
    } else {
      char buf[16];
      auto res = std::to_chars(buf, buf + sizeof buf, cp, 16);
      out += "\\u{";
      out.append(buf, res.ptr);
      out += "}";
    }
  }
  out += "\"";
  return out;
}

std::string one_of(const std::string_view* names, size_t count) {
  std::string out;
  if (count > 2) out = "one of ";
  for (size_t i = 0; i < count; ++i) {
    if (i) out.append(count == 2 ? " or " : ", ");
    out.append("`").append(names[i]).append("`");
  }
  return out;
}

std::string describe_unsigned(uint64_t v) { return "integer `" + std::to_string(v) + "`"; }
std::string describe_signed(int64_t v) { return "integer `" + std::to_string(v) + "`"; }
std::string describe_float(double v) {
  std::string s = "floating point `";
  append_ryu_style(s, v);
  return s + "`";
}
std::string describe_string(std::string_view s) { return "string " + debug_quote(s); }

// --- errors -----------------------------------------------------------------

namespace {
JsonError positioned(std::string_view in, size_t index, std::string message) {
  JsonError e{std::move(message), 1, 0};
  for (size_t i = 0; i < index; ++i) {
    if (in[i] == '\n') {
      ++e.line;
      e.column = 0;
    } else {
      ++e.column;
    }
  }
  return e;
}
}  // namespace

bool Reader::fail(ReadCode code) {
  if (!error_) error_ = positioned(in_, pos_, std::string(message_of(code)));
  return false;
}

bool Reader::fail_peek(ReadCode code) {
  if (!error_) error_ = positioned(in_, std::min(in_.size(), pos_ + 1), std::string(message_of(code)));
  return false;
}

bool Reader::fail_custom(std::string message) {
  if (!error_) error_ = JsonError{std::move(message), 0, 0};
  return false;
}

void Reader::fix_position() {
  if (error_ && error_->line == 0) *error_ = positioned(in_, pos_, std::move(error_->message));
}

JsonError Reader::take_error() {
  JsonError e = error_ ? std::move(*error_) : JsonError{"no error", 0, 0};
  error_.reset();
  return e;
}

bool Reader::invalid_value(const std::string& found, std::string_view expected) {
  return fail_custom("invalid value: " + found + ", expected " + std::string(expected));
}

bool Reader::invalid_type(std::string_view expected) {
  std::string found;
  int c = peek();
  switch (c) {
    case 'n':
      eat();
      if (!parse_ident("ull")) return false;
      found = "null";
      break;
    case 't':
      eat();
      if (!parse_ident("rue")) return false;
      found = "boolean `true`";
      break;
    case 'f':
      eat();
      if (!parse_ident("alse")) return false;
      found = "boolean `false`";
      break;
    case '"': {
      eat();
      std::string_view s;
      if (!parse_str(s)) return false;
      found = describe_string(s);
      break;
    }
    case '[': found = "sequence"; break;
    case '{': found = "map"; break;
    default: {
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n;
        if (!parse_number(n)) return false;
        found = n.form == Number::Form::kUnsigned   ? describe_unsigned(n.u)
                : n.form == Number::Form::kNegative ? describe_signed(n.i)
                                                    : describe_float(n.f);
        break;
      }
      return fail_peek(ReadCode::kExpectedSomeValue);
    }
  }
  fail_custom("invalid type: " + found + ", expected " + std::string(expected));
  fix_position();
  return false;
}

// --- strings ----------------------------------------------------------------

bool Reader::decode_hex_escape(uint16_t& out) {
  if (in_.size() - pos_ < 4) {
    pos_ = in_.size();
    return fail(ReadCode::kEofWhileParsingString);
  }
  int v = 0;
  bool ok = true;
  for (int k = 0; k < 4; ++k) {
    int h = hex_value(in_[pos_ + k]);
    if (h < 0) ok = false;
    v = v * 16 + (h < 0 ? 0 : h);
  }
  pos_ += 4;
  if (!ok) return fail(ReadCode::kInvalidEscape);
  out = static_cast<uint16_t>(v);
  return true;
}

bool Reader::parse_escape(std::string& scratch) {
  if (pos_ >= in_.size()) return fail(ReadCode::kEofWhileParsingString);
  char c = in_[pos_++];
  switch (c) {
    case '"': scratch.push_back('"'); return true;
    case '\\': scratch.push_back('\\'); return true;
    case '/': scratch.push_back('/'); return true;
    case 'b': scratch.push_back('\b'); return true;
    case 'f': scratch.push_back('\f'); return true;
    case 'n': scratch.push_back('\n'); return true;
    case 'r': scratch.push_back('\r'); return true;
    case 't': scratch.push_back('\t'); return true;
    case 'u': return parse_unicode_escape(scratch);
    default: return fail(ReadCode::kInvalidEscape);
  }
}

bool Reader::parse_unicode_escape(std::string& scratch) {
  uint16_t n;
  if (!decode_hex_escape(n)) return false;
  if (n >= 0xDC00 && n <= 0xDFFF) return fail(ReadCode::kLoneLeadingSurrogateInHexEscape);
  if (n < 0xD800 || n > 0xDBFF) {
    append_utf8(n, scratch);
    return true;
  }
  // A leading surrogate must be followed at once by an escaped trailing one.
  for (char expected : {'\\', 'u'}) {
    if (pos_ >= in_.size()) return fail(ReadCode::kEofWhileParsingString);
    bool match = in_[pos_] == expected;
    ++pos_;
    if (!match) return fail(ReadCode::kUnexpectedEndOfHexEscape);
  }
  uint16_t n2;
  if (!decode_hex_escape(n2)) return false;
  if (n2 < 0xDC00 || n2 > 0xDFFF) return fail(ReadCode::kLoneLeadingSurrogateInHexEscape);
  uint32_t cp = ((static_cast<uint32_t>(n - 0xD800) << 10) | (n2 - 0xDC00)) + 0x10000;
  append_utf8(cp, scratch);
  return true;
}

bool Reader::skip_to_escape() {
  pos_ = find_json_special(in_, pos_);
  if (pos_ < in_.size()) return true;
  return fail(ReadCode::kEofWhileParsingString);
}

bool Reader::parse_str(std::string_view& out) {
  scratch_.clear();
  size_t start = pos_;
  bool copied = false;
  for (;;) {
    if (!skip_to_escape()) return false;
    char c = in_[pos_];
    if (c == '"') {
      std::string_view s;
      if (!copied) {
        s = in_.substr(start, pos_ - start);
      } else {
        scratch_.append(in_.substr(start, pos_ - start));
        s = scratch_;
      }
      ++pos_;
      if (!valid_utf8(s)) return fail(ReadCode::kInvalidUnicodeCodePoint);
      out = s;
      return true;
    }
    if (c == '\\') {
      scratch_.append(in_.substr(start, pos_ - start));
      copied = true;
      ++pos_;
      if (!parse_escape(scratch_)) return false;
      start = pos_;
      continue;
    }
    ++pos_;
    return fail(ReadCode::kControlCharacterWhileParsingString);
  }
}

bool Reader::ignore_str() {
  for (;;) {
    if (!skip_to_escape()) return false;
    char c = in_[pos_];
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c != '\\') return fail(ReadCode::kControlCharacterWhileParsingString);
    ++pos_;
    if (pos_ >= in_.size()) return fail(ReadCode::kEofWhileParsingString);
    char e = in_[pos_++];
    switch (e) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
        break;
      case 'u': {
        uint16_t ignored;
        if (!decode_hex_escape(ignored)) return false;
        break;
      }
      default:
        return fail(ReadCode::kInvalidEscape);
    }
  }
}

bool Reader::parse_ident(const char* rest) {
  for (const char* p = rest; *p; ++p) {
    if (pos_ >= in_.size()) return fail(ReadCode::kEofWhileParsingValue);
    if (in_[pos_++] != *p) return fail(ReadCode::kExpectedSomeIdent);
  }
  return true;
}

// --- numbers ----------------------------------------------------------------

bool Reader::parse_number(Number& out) {
  const size_t start = pos_;
  const bool negative = peek() == '-';
  if (negative) eat();
  auto digit = [&] { int c = peek(); return c >= '0' && c <= '9'; };

  if (pos_ >= in_.size()) return fail(ReadCode::kEofWhileParsingValue);
  char first = in_[pos_++];
  if (first < '0' || first > '9') return fail(ReadCode::kInvalidNumber);
  uint64_t significand = static_cast<uint64_t>(first - '0');
  bool overflowed = false;
  bool nonzero = first != '0';
  if (first == '0') {
    if (digit()) return fail_peek(ReadCode::kInvalidNumber);
  } else {
    while (digit()) {
      uint64_t d = static_cast<uint64_t>(in_[pos_] - '0');
      if (!overflowed && significand > (UINT64_MAX - d) / 10) overflowed = true;
      if (!overflowed) significand = significand * 10 + d;
      eat();
    }
  }
  bool is_float = overflowed;
  if (peek() == '.') {
    is_float = true;
    eat();
    bool any = false;
    while (digit()) {
      nonzero |= in_[pos_] != '0';
      eat();
      any = true;
    }
    if (!any) return fail_peek(pos_ < in_.size() ? ReadCode::kInvalidNumber : ReadCode::kEofWhileParsingValue);
  }
  if (peek() == 'e' || peek() == 'E') {
    is_float = true;
    eat();
    bool positive_exp = true;
    if (peek() == '+') {
      eat();
    } else if (peek() == '-') {
      eat();
      positive_exp = false;
    }
    if (pos_ >= in_.size()) return fail(ReadCode::kEofWhileParsingValue);
    char e = in_[pos_++];
    if (e < '0' || e > '9') return fail(ReadCode::kInvalidNumber);
    int64_t exp = e - '0';
    while (digit()) {
      eat();
      exp = exp * 10 + (in_[pos_ - 1] - '0');
      if (exp > INT32_MAX) {
        // An exponent beyond 32 bits: infinity is an error, zero is zero.
        if (nonzero && positive_exp) return fail(ReadCode::kNumberOutOfRange);
        while (digit()) eat();
        out = Number{Number::Form::kFloat, 0, 0, negative ? -0.0 : 0.0};
        return true;
      }
    }
  }

  if (!is_float) {
    if (!negative) {
      out = Number{Number::Form::kUnsigned, significand, 0, 0};
      return true;
    }
    if (significand == 0) {
      out = Number{Number::Form::kFloat, 0, 0, -0.0};
      return true;
    }
    if (significand <= (uint64_t{1} << 63)) {
      out = Number{Number::Form::kNegative, 0, static_cast<int64_t>(0 - significand), 0};
      return true;
    }
  }

  double value = 0;
  auto res = std::from_chars(in_.data() + start, in_.data() + pos_, value);
  if (res.ec == std::errc::result_out_of_range) {
    // Out of range is either an overflow (an error) or an underflow to zero;
    // the decimal exponent of the leading digit tells which.
    const char* p = in_.data() + start + (negative ? 1 : 0);
    const char* end = in_.data() + pos_;
    int64_t lead = 0, seen_point = 0, first_nonzero = -1, index = 0;
    int64_t exp = 0;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
      if (*p == '.') {
        seen_point = 1;
        continue;
      }
      if (first_nonzero < 0 && *p != '0') first_nonzero = index;
      if (!seen_point) ++lead;
      ++index;
    }
    if (p < end) std::from_chars(p + 1 + (p[1] == '+'), end, exp);
    int64_t magnitude = lead - first_nonzero + exp;
    if (magnitude > 0) return fail(ReadCode::kNumberOutOfRange);
    value = 0;
  } else if (res.ec != std::errc() || std::isinf(value)) {
    return fail(ReadCode::kNumberOutOfRange);
  }
  if (negative && value == 0) value = -0.0;
  out = Number{Number::Form::kFloat, 0, 0, value};
  return true;
}

bool Reader::ignore_number() {
  // Skipped numbers are only checked for their grammar, not their range.
  if (peek() == '-') eat();
  auto digit = [&] { int c = peek(); return c >= '0' && c <= '9'; };
  if (pos_ >= in_.size()) return fail(ReadCode::kInvalidNumber);
  char first = in_[pos_++];
  if (first == '0') {
    if (digit()) return fail_peek(ReadCode::kInvalidNumber);
  } else if (first >= '1' && first <= '9') {
    while (digit()) eat();
  } else {
    return fail(ReadCode::kInvalidNumber);
  }
  if (peek() == '.') {
    eat();
    bool any = false;
    while (digit()) eat(), any = true;
    if (!any) return fail_peek(ReadCode::kInvalidNumber);
  }
  if (peek() == 'e' || peek() == 'E') {
    eat();
    if (peek() == '+' || peek() == '-') eat();
    if (pos_ >= in_.size() || !digit()) {
      if (pos_ < in_.size()) eat();
      return fail(ReadCode::kInvalidNumber);
    }
    while (digit()) eat();
  }
  return true;
}

// --- scalar deserializers -----------------------------------------------------

bool Reader::string(std::string_view& out, std::string_view expected) {
  int c = peek_ws();
  if (c < 0) return fail_peek(ReadCode::kEofWhileParsingValue);
  if (c != '"') return invalid_type(expected);
  eat();
  return parse_str(out);
}

bool Reader::unknown_variant(std::string_view name, const std::string_view* names, size_t count) {
  std::string message = "unknown variant `";
  message.append(name).append("`, expected ").append(one_of(names, count));
  fail_custom(std::move(message));
  fix_position();
  return false;
}

bool Reader::variant_index(const std::string_view* names, size_t count, size_t& index) {
  std::string_view name;
  if (!string(name, "variant identifier")) return false;
  for (index = 0; index < count; ++index)
    if (names[index] == name) return true;
  return unknown_variant(name, names, count);
}

bool Reader::boolean(bool& out) {
  int c = peek_ws();
  if (c < 0) return fail_peek(ReadCode::kEofWhileParsingValue);
  if (c == 't') {
    eat();
    out = true;
    return parse_ident("rue");
  }
  if (c == 'f') {
    eat();
    out = false;
    return parse_ident("alse");
  }
  return invalid_type("a boolean");
}

bool Reader::integer(Number& n, std::string_view expected) {
  int c = peek_ws();
  if (c < 0) return fail_peek(ReadCode::kEofWhileParsingValue);
  if (c != '-' && (c < '0' || c > '9')) return invalid_type(expected);
  return parse_number(n);
}

bool Reader::out_of_range(const Number& n, std::string_view expected) {
  if (n.form == Number::Form::kFloat)
    fail_custom("invalid type: " + describe_float(n.f) + ", expected " + std::string(expected));
  else
    invalid_value(n.form == Number::Form::kUnsigned ? describe_unsigned(n.u) : describe_signed(n.i), expected);
  fix_position();
  return false;
}

bool Reader::unsigned_int(uint64_t& out, uint64_t max, std::string_view expected) {
  Number n;
  if (!integer(n, expected)) return false;
  if (n.form != Number::Form::kUnsigned || n.u > max) return out_of_range(n, expected);
  out = n.u;
  return true;
}

bool Reader::signed_int(int64_t& out, int64_t min, int64_t max, std::string_view expected) {
  Number n;
  if (!integer(n, expected)) return false;
  if (n.form == Number::Form::kUnsigned && n.u <= static_cast<uint64_t>(max)) {
    out = static_cast<int64_t>(n.u);
    return true;
  }
  if (n.form == Number::Form::kNegative && n.i >= min) {
    out = n.i;
    return true;
  }
  return out_of_range(n, expected);
}

bool Reader::null_or_value(bool& is_null) {
  is_null = peek_ws() == 'n';
  if (!is_null) return true;
  eat();
  return parse_ident("ull");
}

bool Reader::unit(std::string_view expected) {
  int c = peek_ws();
  if (c < 0) return fail_peek(ReadCode::kEofWhileParsingValue);
  if (c != 'n') return invalid_type(expected);
  eat();
  return parse_ident("ull");
}

// --- containers ---------------------------------------------------------------

bool Reader::next_item(char close, bool& first, ReadCode comma_or_end, ReadCode eof, int& c, bool& has) {
  c = peek_ws();
  has = c != close;
  if (!has) return true;
  if (c == ',' && !first) {
    eat();
    c = peek_ws();
    if (c == close) return fail_peek(ReadCode::kTrailingComma);
  } else if (c < 0) {
    return fail_peek(eof);
  } else if (!first) {
    return fail_peek(comma_or_end);
  }
  first = false;
  if (c < 0) return fail_peek(ReadCode::kEofWhileParsingValue);
  return true;
}

bool Reader::SeqAccess::next(bool& has) {
  int c;
  return r_.next_item(']', first_, ReadCode::kExpectedListCommaOrEnd, ReadCode::kEofWhileParsingList, c, has);
}

size_t Reader::SeqAccess::plain_bytes(uint8_t* out, size_t room) {
  const std::string_view in = r_.in_;
  // An element is a comma (but for the first), at most three digits and the
  // byte after them: four bytes past the cursor are read unchecked, so the
  // last few of the input are left to the general path.
  if (in.size() < 5) return 0;
  const char* p = in.data() + r_.pos_;
  const char* const stop = in.data() + in.size() - 4;
  auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c) - '0'); };
  size_t n = 0;
  bool first = first_;
  while (n < room && p < stop) {
    const char* q = p;
    if (!first) {
      if (*q != ',') break;
      ++q;
    }
    unsigned v = digit(q[0]);
    if (v > 9) break;
    size_t len = 1;
    if (v != 0) {  // a leading zero is a number of one digit: "01" stops at the "1"
      if (unsigned d = digit(q[1]); d <= 9) {
        v = v * 10 + d, len = 2;
        if (unsigned e = digit(q[2]); e <= 9) v = v * 10 + e, len = 3;
      }
    }
    const char after = q[len];
    if ((after != ',' && after != ']') || v > 255) break;
    out[n++] = static_cast<uint8_t>(v);
    p = q + len;
    first = false;
  }
  r_.pos_ = static_cast<size_t>(p - in.data());
  first_ = first;
  return n;
}

size_t Reader::SeqAccess::plain_bytes_bound() const {
  const std::string_view rest = r_.in_.substr(r_.pos_);
  const size_t close = std::min(rest.find(']'), rest.size());
  size_t commas = 0;
  for (size_t i = 0; i < close; ++i) commas += rest[i] == ',';
  return commas + 1;
}

bool Reader::MapAccess::next_key_start(bool& has) {
  int c;
  if (!r_.next_item('}', first_, ReadCode::kExpectedObjectCommaOrEnd, ReadCode::kEofWhileParsingObject, c, has))
    return false;
  if (has && c != '"') return r_.fail_peek(ReadCode::kKeyMustBeAString);
  return true;
}

bool Reader::MapAccess::next_key(std::string_view& key, bool& has) {
  if (!next_key_start(has) || !has) return !r_.failed();
  r_.eat();
  return r_.parse_str(key);
}

bool Reader::MapAccess::colon() {
  int c = r_.peek_ws();
  if (c == ':') {
    r_.eat();
    return true;
  }
  return r_.fail_peek(c < 0 ? ReadCode::kEofWhileParsingObject : ReadCode::kExpectedColon);
}

bool Reader::end_seq() {
  int c = peek_ws();
  if (c == ']') {
    eat();
    return true;
  }
  if (c == ',') {
    eat();
    return fail_peek(peek_ws() == ']' ? ReadCode::kTrailingComma : ReadCode::kTrailingCharacters);
  }
  return fail_peek(c < 0 ? ReadCode::kEofWhileParsingList : ReadCode::kTrailingCharacters);
}

bool Reader::end_map() {
  int c = peek_ws();
  if (c == '}') {
    eat();
    return true;
  }
  if (c == ',') return fail_peek(ReadCode::kTrailingComma);
  return fail_peek(c < 0 ? ReadCode::kEofWhileParsingObject : ReadCode::kTrailingCharacters);
}

bool Reader::end() {
  if (peek_ws() >= 0) return fail_peek(ReadCode::kTrailingCharacters);
  return true;
}

// --- free values --------------------------------------------------------------

bool Reader::any(Json& out) {
  bool ok = any_scalar_or_container(out);
  if (!ok) fix_position();
  return ok;
}

bool Reader::any_scalar_or_container(Json& out) {
  int c = peek_ws();
  switch (c) {
    case -1:
      return fail_peek(ReadCode::kEofWhileParsingValue);
    case 'n':
      eat();
      out = nullptr;
      return parse_ident("ull");
    case 't':
      eat();
      out = true;
      return parse_ident("rue");
    case 'f':
      eat();
      out = false;
      return parse_ident("alse");
    case '"': {
      eat();
      std::string_view s;
      if (!parse_str(s)) return false;
      out = Json(std::string(s));
      return true;
    }
    case '[':
    case '{': {
      auto elements = [&](SeqAccess& access) {
        Json::Array items;
        for (;;) {
          bool has;
          if (!access.next(has)) return false;
          if (!has) break;
          items.emplace_back();
          if (!any(items.back())) return false;
        }
        out = Json(std::move(items));
        return true;
      };
      auto members = [&](MapAccess& access) {
        Json::Object fields;
        for (;;) {
          bool has;
          std::string_view key;
          if (!access.next_key(key, has)) return false;
          if (!has) break;
          std::string name(key);
          Json value;
          if (!access.colon() || !any(value)) return false;
          fields.insert_or_assign(std::move(name), std::move(value));
        }
        out = Json(std::move(fields));
        return true;
      };
      return container("a value", elements, members);
    }
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n;
        if (!parse_number(n)) return false;
        if (n.form == Number::Form::kUnsigned) out = Json(n.u);
        else if (n.form == Number::Form::kNegative) out = Json(n.i);
        else out = Json(n.f);
        return true;
      }
      return fail_peek(ReadCode::kExpectedSomeValue);
  }
}

bool Reader::skip() {
  // Containers are tracked on an explicit stack of their opening brackets.
  std::string stack;
  for (;;) {
    int c = peek_ws();
    bool opened = false;
    switch (c) {
      case -1:
        return fail_peek(ReadCode::kEofWhileParsingValue);
      case 'n': eat(); if (!parse_ident("ull")) return false; break;
      case 't': eat(); if (!parse_ident("rue")) return false; break;
      case 'f': eat(); if (!parse_ident("alse")) return false; break;
      case '"': eat(); if (!ignore_str()) return false; break;
      case '[':
      case '{':
        eat();
        stack.push_back(static_cast<char>(c));
        opened = true;
        break;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) {
          if (!ignore_number()) return false;
          break;
        }
        return fail_peek(ReadCode::kExpectedSomeValue);
    }
    // After a value (or an opening bracket), close whatever ends here.
    bool accept_comma = !opened;
    for (;;) {
      if (stack.empty()) return true;
      char frame = stack.back();
      int d = peek_ws();
      if (d == ',' && accept_comma) {
        eat();
        break;
      }
      if ((d == ']' && frame == '[') || (d == '}' && frame == '{')) {
        eat();
        stack.pop_back();
        accept_comma = true;
        continue;
      }
      if (d < 0)
        return fail_peek(frame == '[' ? ReadCode::kEofWhileParsingList : ReadCode::kEofWhileParsingObject);
      if (accept_comma)
        return fail_peek(frame == '[' ? ReadCode::kExpectedListCommaOrEnd
                                      : ReadCode::kExpectedObjectCommaOrEnd);
      break;
    }
    if (stack.back() == '{') {
      int d = peek_ws();
      if (d != '"')
        return fail_peek(d < 0 ? ReadCode::kEofWhileParsingObject : ReadCode::kKeyMustBeAString);
      eat();
      if (!ignore_str()) return false;
      d = peek_ws();
      if (d != ':')
        return fail_peek(d < 0 ? ReadCode::kEofWhileParsingObject : ReadCode::kExpectedColon);
      eat();
    }
  }
}

}  // namespace quintrel::base
