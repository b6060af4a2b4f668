// Canonical JSON (RFC 8785): the only producer of the bytes the system hashes,
// signs, stores and compares. Also the JSON value tree and the compact writer.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/json_error.h"

namespace quintrel::base {

using Bytes = std::vector<uint8_t>;

// A JSON value. Numbers keep the form they were read or made in: unsigned for
// non-negative integers, signed (always below zero) for negative ones, double
// otherwise. Byte strings have a compact node of their own, written as an
// array of integers 0 to 255.
class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::map<std::string, Json, std::less<>>;  // a repeated key keeps the last value
  struct ByteArray {
    Bytes bytes;
    bool operator==(const ByteArray&) const = default;
  };

  Json() : v_(nullptr) {}
  Json(std::nullptr_t) : v_(nullptr) {}
  Json(bool b) : v_(b) {}
  Json(uint64_t n) : v_(n) {}
  Json(int64_t n) {
    if (n >= 0) v_ = static_cast<uint64_t>(n);
    else v_ = n;
  }
  Json(int n) : Json(static_cast<int64_t>(n)) {}
  Json(double x) : v_(x) {}
  Json(std::string s) : v_(std::move(s)) {}
  Json(std::string_view s) : v_(std::string(s)) {}
  Json(const char* s) : v_(std::string(s)) {}
  Json(Array a) : v_(std::move(a)) {}
  Json(Object o) : v_(std::move(o)) {}
  Json(ByteArray b) : v_(std::move(b)) {}

  bool is_null() const { return std::holds_alternative<std::nullptr_t>(v_); }
  template <class T>
  bool is() const { return std::holds_alternative<T>(v_); }
  template <class T>
  const T& as() const { return std::get<T>(v_); }
  template <class T>
  T& as() { return std::get<T>(v_); }

  using Variant = std::variant<std::nullptr_t, bool, uint64_t, int64_t, double, std::string, Array,
                               Object, ByteArray>;
  const Variant& variant() const { return v_; }

  bool operator==(const Json&) const = default;

 private:
  Variant v_;
};

// The largest integer canonical JSON writes as an integer (2^53 - 1); its
// negation is the smallest.
inline constexpr int64_t kMaxSafeInteger = 9007199254740991;

// The size of the pieces in which canonical JSON is streamed to a consumer.
inline constexpr size_t kStreamChunk = 64 * 1024;

// Lends this thread's streaming buffer for one write (or a buffer of its own
// when the thread's is lent out already): hashing and comparing canonical
// JSON record after record then allocates nothing once the buffer has grown.
class ScratchBuffer {
 public:
  ScratchBuffer();
  ~ScratchBuffer();
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  std::string& get() { return *buffer_; }

 private:
  std::string* buffer_;
  std::string own_;
  bool lent_;
};

// JSON text output. Canonical mode is RFC 8785: keys by UTF-16 code units,
// integers within +-(2^53 - 1), ECMAScript numbers; it can fail. Compact mode
// is declaration order for structures, maps in their own order, floats in the
// shortest round-trip form with ".0" kept; it cannot fail.
class JsonOut {
 public:
  enum class Mode { kCanonical, kCompact };

  explicit JsonOut(Mode mode, std::string& buffer) : mode_(mode), out_(buffer) {}

  Mode mode() const { return mode_; }
  bool canonical() const { return mode_ == Mode::kCanonical; }

  void raw(char c) { out_.push_back(c); }
  void raw(std::string_view s) { out_.append(s); }
  void null() { out_.append("null"); }
  void boolean(bool b) { out_.append(b ? "true" : "false"); }
  void string(std::string_view s);
  void unsigned_int(uint64_t n);
  void signed_int(int64_t n);
  void floating(double x);
  void bytes(const uint8_t* data, size_t size);
  void value(const Json& v);

  // Streaming: with a sink, the buffer is handed over and emptied whenever it
  // holds `threshold` bytes or more (checked after byte arrays and strings,
  // the only values that grow large), so a large value never sits in memory
  // whole. `flush` hands over what is left.
  using SinkFn = void (*)(void* context, std::string_view bytes);
  void set_sink(SinkFn sink, void* context, size_t threshold) {
    sink_ = sink, sink_context_ = context, threshold_ = threshold;
  }
  void flush() {
    if (sink_ && !out_.empty()) sink_(sink_context_, out_);
    out_.clear();
  }

  // The first failure is kept; writing goes on, but its bytes are discarded.
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  void fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
  }

 private:
  void object(const Json::Object& o);
  template <class Int>
  void integer(Int n, bool in_range);

  void maybe_flush() {
    if (sink_ && out_.size() >= threshold_) flush();
  }

  Mode mode_;
  std::string& out_;
  std::string error_;
  SinkFn sink_ = nullptr;
  void* sink_context_ = nullptr;
  size_t threshold_ = 0;
};

// The position of the first quote, backslash or control character (below
// 0x20) in `text` from `from` on, or its size: what a JSON string escapes, and
// where reading one stops to look.
size_t find_json_special(std::string_view text, size_t from);

// Appends one JSON string literal with the canonical escaping. Never fails.
void write_string(std::string_view text, std::string& buffer);

// Appends the canonical form of a value tree.
std::expected<void, JsonError> write_jcs(const Json& tree, std::string& buffer);

// Compact text of a value tree (members in the tree's key order).
std::string write_compact(const Json& tree);

// True when a sorts before b by UTF-16 code units (a and b are UTF-8).
bool utf16_less(std::string_view a, std::string_view b);

}  // namespace quintrel::base
