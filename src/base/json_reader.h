// The strict JSON pull reader that every typed reader of the system stands on.
//
// It reads one document from bytes, without building a tree: the typed codecs
// (base/codec.h) ask it for the value they expect next, so the first problem in
// document order decides. Errors carry the reader's fixed texts and the line and
// column where reading stopped; an error raised by a typed reader (an unknown or
// missing field, a failed check) starts without a position and takes the
// position at which its enclosing value ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/json_error.h"
#include "base/utf8.h"

namespace quintrel::base {

class Json;

enum class ReadCode {
  kEofWhileParsingList,
  kEofWhileParsingObject,
  kEofWhileParsingString,
  kEofWhileParsingValue,
  kExpectedColon,
  kExpectedListCommaOrEnd,
  kExpectedObjectCommaOrEnd,
  kExpectedSomeIdent,
  kExpectedSomeValue,
  kInvalidEscape,
  kInvalidNumber,
  kNumberOutOfRange,
  kInvalidUnicodeCodePoint,
  kControlCharacterWhileParsingString,
  kKeyMustBeAString,
  kLoneLeadingSurrogateInHexEscape,
  kTrailingComma,
  kTrailingCharacters,
  kUnexpectedEndOfHexEscape,
  kRecursionLimitExceeded,
};

// A number as read: non-negative integers are unsigned, negative ones signed,
// everything else (fraction, exponent, too large, -0) is a double.
struct Number {
  enum class Form { kUnsigned, kNegative, kFloat } form;
  uint64_t u = 0;
  int64_t i = 0;
  double f = 0;
};

// What a value turned out to be, for "invalid type" and "invalid value" texts.
std::string describe_unsigned(uint64_t v);
std::string describe_signed(int64_t v);
std::string describe_float(double v);
std::string describe_string(std::string_view s);

// A text in double quotes with quotes, backslashes, control characters and
// surrogates escaped (\0 \t \r \n, others as \u{hex}), everything else as it is.
std::string debug_quote(std::string_view s);

// "`A`", "`A` or `B`", "one of `A`, `B`, `C`".
std::string one_of(const std::string_view* names, size_t count);

class Reader {
 public:
  explicit Reader(std::string_view input) : in_(input) {}

  // --- errors --------------------------------------------------------------
  // A typed reader's own failure: returns false, so a failing reader can
  // `return r.fail_custom(...)`. Only the first error is kept: later ones come
  // from clean-up reading after a failure.
  bool fail_custom(std::string message);
  JsonError take_error();

  // --- scalars -------------------------------------------------------------
  // The view lives until the next string is read.
  bool string(std::string_view& out, std::string_view expected = "a string");
  bool boolean(bool& out);
  bool unsigned_int(uint64_t& out, uint64_t max, std::string_view expected);
  bool signed_int(int64_t& out, int64_t min, int64_t max, std::string_view expected);
  // True in `is_null` when the value is null, which is then consumed.
  bool null_or_value(bool& is_null);
  bool unit(std::string_view expected = "unit");
  bool any(Json& out);
  bool skip();  // an ignored value: no depth limit, no recursion

  // Containers: the access objects walk the elements and members between the
  // brackets; `seq`, `map` and `seq_or_map` wrap a visit with the opening
  // bracket, the closing one and the error position.
  class SeqAccess {
   public:
    explicit SeqAccess(Reader& r) : r_(r) {}
    // Positions the reader on the next element; false in `has` at the end.
    bool next(bool& has);

    // The fast path of byte arrays: reads elements written plainly, as
    // canonical JSON writes them (an integer 0 to 255 without a leading zero,
    // each followed at once by "," or "]", no white space), at most `room` of
    // them, into `out`, and returns how many. It stops before anything else,
    // where `next` and the general number reader go on with their exact
    // errors.
    size_t plain_bytes(uint8_t* out, size_t room);
    // At least as many as plain_bytes could read from here: the commas before
    // the next "]", plus one.
    size_t plain_bytes_bound() const;

   private:
    Reader& r_;
    bool first_ = true;
  };

  class MapAccess {
   public:
    explicit MapAccess(Reader& r) : r_(r) {}
    // Reads the next key; false in `has` at the end of the object.
    bool next_key(std::string_view& key, bool& has);
    bool colon();

   private:
    // Positions the reader on the key's opening quote without reading it.
    bool next_key_start(bool& has);

    Reader& r_;
    bool first_ = true;
  };

  // A value that must be an array: `visit` walks its elements.
  template <class Visit>
  bool seq(std::string_view expected, Visit&& visit) {
    return container(expected, visit, kNotAccepted);
  }

  // A value that must be an object: `visit` walks its members.
  template <class Visit>
  bool map(std::string_view expected, Visit&& visit) {
    return container(expected, kNotAccepted, visit);
  }

  // A structure: an object, or an array of its field values.
  template <class VisitSeq, class VisitMap>
  bool seq_or_map(std::string_view expected, VisitSeq&& visit_seq, VisitMap&& visit_map) {
    return container(expected, visit_seq, visit_map);
  }

  // An enumeration: a string naming the variant, or an object of one member
  // named after it. The name is looked up in `names` (an unknown one fails at
  // once, after the name); then `content(index, in_object)` reads the
  // variant's data, which follows the colon in the object form.
  template <class Content>
  bool enumeration(const std::string_view* names, size_t count, Content&& content) {
    int c = peek_ws();
    size_t index;
    if (c == '{') {
      if (!enter()) return false;
      eat();
      bool ok = variant_index(names, count, index);
      if (ok) {
        c = peek_ws();
        if (c == ':') {
          eat();
          ok = content(index, true);
        } else {
          ok = fail_peek(c < 0 ? ReadCode::kEofWhileParsingObject : ReadCode::kExpectedColon);
        }
      }
      leave();
      if (!ok) return false;
      c = peek_ws();
      if (c == '}') {
        eat();
        return true;
      }
      return fail(c < 0 ? ReadCode::kEofWhileParsingObject : ReadCode::kExpectedSomeValue);
    }
    if (c == '"') return variant_index(names, count, index) && content(index, false);
    return fail_peek(c < 0 ? ReadCode::kEofWhileParsingValue : ReadCode::kExpectedSomeValue);
  }

  // Fails with "unknown variant `{name}`, expected {names}", positioned where
  // reading stopped.
  bool unknown_variant(std::string_view name, const std::string_view* names, size_t count);

  // After a whole document: only white space may follow.
  bool end();

  // The number of input bytes read so far.
  size_t pos() const { return pos_; }

 private:
  static constexpr int kDepthLimit = 128;

  struct NotAccepted {};
  static constexpr NotAccepted kNotAccepted{};

  // --- bytes ---------------------------------------------------------------
  int peek() const { return pos_ < in_.size() ? static_cast<unsigned char>(in_[pos_]) : -1; }
  // Skips JSON white space; the next byte, or -1 at the end of the input.
  int peek_ws() {
    while (pos_ < in_.size()) {
      char c = in_[pos_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
      ++pos_;
    }
    return -1;
  }
  void eat() { ++pos_; }

  // --- errors --------------------------------------------------------------
  bool fail(ReadCode code);       // at the bytes consumed so far
  bool fail_peek(ReadCode code);  // also counting the byte looked at
  // An error without a position takes the position where reading stopped.
  void fix_position();
  bool failed() const { return error_.has_value(); }
  // Reads the value at the cursor to name it, then fails with
  // "invalid type: {found}, expected {expected}".
  bool invalid_type(std::string_view expected);
  bool invalid_value(const std::string& found, std::string_view expected);

  // --- depth ---------------------------------------------------------------
  bool enter() {
    if (--depth_left_ == 0) return fail_peek(ReadCode::kRecursionLimitExceeded);
    return true;
  }
  void leave() { ++depth_left_; }

  // --- scalars -------------------------------------------------------------
  // Reads a string whose opening quote has been eaten.
  bool parse_str(std::string_view& out);
  bool parse_ident(const char* rest);  // "ull", "rue", "alse"
  // Reads a number; the cursor is on its first digit or its minus sign.
  bool parse_number(Number& out);
  // Reads a variant name and finds it among `names`; fails with
  // "unknown variant `{}`, expected {}" positioned after the name.
  bool variant_index(const std::string_view* names, size_t count, size_t& index);

  bool end_seq();
  bool end_map();

  // The opening bracket, the visit between the brackets and the closing
  // bracket; the closing bracket is read even after a failed visit, and an
  // error without a position takes the position where reading stopped.
  template <class VisitSeq, class VisitMap>
  bool container(std::string_view expected, VisitSeq& visit_seq, VisitMap& visit_map) {
    int c = peek_ws();
    if (c < 0) return fail_peek(ReadCode::kEofWhileParsingValue);
    bool ok;
    if (c == '[' && !std::is_same_v<std::decay_t<VisitSeq>, NotAccepted>) {
      ok = nested<SeqAccess>(visit_seq) && end_seq();
    } else if (c == '{' && !std::is_same_v<std::decay_t<VisitMap>, NotAccepted>) {
      ok = nested<MapAccess>(visit_map) && end_map();
    } else {
      ok = invalid_type(expected);
    }
    if (!ok) fix_position();
    return ok;
  }

  template <class Access, class Visit>
  bool nested(Visit& visit) {
    if constexpr (std::is_same_v<std::decay_t<Visit>, NotAccepted>) {
      return false;
    } else {
      if (!enter()) return false;
      eat();
      Access access(*this);
      bool ok = visit(access);
      leave();
      if (!ok) {
        if constexpr (std::is_same_v<Access, SeqAccess>) end_seq();
        else end_map();
      }
      return ok;
    }
  }

  // Moves to the next element or member: false in `has` at `close`.
  bool next_item(char close, bool& first, ReadCode comma_or_end, ReadCode eof, int& c, bool& has);

  // A number where an integer is expected, and the failure when it does not fit.
  bool integer(Number& n, std::string_view expected);
  bool out_of_range(const Number& n, std::string_view expected);
  // Moves to the next quote, backslash or control character of a string.
  bool skip_to_escape();
  bool decode_hex_escape(uint16_t& out);
  bool parse_escape(std::string& scratch);
  bool parse_unicode_escape(std::string& scratch);
  bool ignore_str();
  bool ignore_number();
  bool any_scalar_or_container(Json& out);

  std::string_view in_;
  size_t pos_ = 0;
  int depth_left_ = kDepthLimit;
  std::string scratch_;
  std::optional<JsonError> error_;
};

}  // namespace quintrel::base
