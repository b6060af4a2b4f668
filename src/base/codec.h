// The codec engine: every JSON-carried type of the system is declared once,
// as a specialisation of Codec<T> (usually through Fields<T> or EnumNames<T>),
// and is read strictly and written canonically or compactly by the same code.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/canonical.h"
#include "base/id.h"
#include "base/json_error.h"
#include "base/json_reader.h"

namespace quintrel::base {

// Codec<T> offers `static bool read(Reader&, T&)` and
// `static void write(JsonOut&, const T&)`.
template <class T, class = void>
struct Codec;

// --- top level -----------------------------------------------------------------

inline std::string_view as_text(const Bytes& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}
inline Bytes to_bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Reads exactly one value of type T from the whole input.
template <class T>
std::expected<T, JsonError> from_json(std::string_view input) {
  Reader r(input);
  T value{};
  if (!Codec<T>::read(r, value) || !r.end()) return std::unexpected(r.take_error());
  return value;
}

// The canonical (RFC 8785) bytes of a value, or the writer's error.
template <class T>
std::expected<std::string, JsonError> canonical_json(const T& value) {
  std::string buffer;
  JsonOut out(JsonOut::Mode::kCanonical, buffer);
  Codec<T>::write(out, value);
  if (out.failed()) return std::unexpected(JsonError{out.error(), 0, 0});
  return buffer;
}

// True when the canonical JSON of `value` is exactly `expected`; compared as
// it is written, without holding the encoding whole.
template <class T>
bool canonical_equals(const T& value, std::string_view expected) {
  struct Compare {
    std::string_view rest;
    bool equal = true;
  } compare{expected};
  ScratchBuffer buffer;
  JsonOut out(JsonOut::Mode::kCanonical, buffer.get());
  out.set_sink(
      [](void* context, std::string_view bytes) {
        auto* c = static_cast<Compare*>(context);
        c->equal = c->equal && c->rest.starts_with(bytes);
        if (c->equal) c->rest.remove_prefix(bytes.size());
      },
      &compare, kStreamChunk);
  Codec<T>::write(out, value);
  if (out.failed()) return false;
  out.flush();
  return compare.equal && compare.rest.empty();
}

// True when `data` reads as T and writes back canonically to the same bytes.
template <class T>
bool decodes_canonically(std::string_view data) {
  auto value = from_json<T>(data);
  return value && canonical_equals(*value, data);
}

// Compact JSON text: structures in declaration order, no white space.
template <class T>
std::string compact_json(const T& value) {
  std::string buffer;
  buffer.reserve(128);
  JsonOut out(JsonOut::Mode::kCompact, buffer);
  Codec<T>::write(out, value);
  return buffer;
}

// --- scalars -------------------------------------------------------------------

template <>
struct Codec<bool> {
  static bool read(Reader& r, bool& v) { return r.boolean(v); }
  static void write(JsonOut& o, bool v) { o.boolean(v); }
};

template <>
struct Codec<std::string> {
  static bool read(Reader& r, std::string& v) {
    std::string_view s;
    if (!r.string(s)) return false;
    v.assign(s);
    return true;
  }
  static void write(JsonOut& o, const std::string& v) { o.string(v); }
};

template <class T>
constexpr std::string_view int_name() {
  if constexpr (std::is_same_v<T, uint8_t>) return "u8";
  else if constexpr (std::is_same_v<T, uint16_t>) return "u16";
  else if constexpr (std::is_same_v<T, uint32_t>) return "u32";
  else if constexpr (std::is_same_v<T, uint64_t>) return "u64";
  else if constexpr (std::is_same_v<T, int8_t>) return "i8";
  else if constexpr (std::is_same_v<T, int16_t>) return "i16";
  else if constexpr (std::is_same_v<T, int32_t>) return "i32";
  else return "i64";
}

template <class T>
struct Codec<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static bool read(Reader& r, T& v) {
    if constexpr (std::is_unsigned_v<T>) {
      uint64_t x;
      if (!r.unsigned_int(x, std::numeric_limits<T>::max(), int_name<T>())) return false;
      v = static_cast<T>(x);
    } else {
      int64_t x;
      if (!r.signed_int(x, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), int_name<T>()))
        return false;
      v = static_cast<T>(x);
    }
    return true;
  }
  static void write(JsonOut& o, T v) {
    if constexpr (std::is_unsigned_v<T>) o.unsigned_int(v);
    else if (v >= 0) o.unsigned_int(static_cast<uint64_t>(v));
    else o.signed_int(v);
  }
};

template <>
struct Codec<Json> {
  static bool read(Reader& r, Json& v) { return r.any(v); }
  static void write(JsonOut& o, const Json& v) { o.value(v); }
};

template <class T>
struct Codec<std::optional<T>> {
  static bool read(Reader& r, std::optional<T>& v) {
    bool is_null;
    if (!r.null_or_value(is_null)) return false;
    if (is_null) {
      v.reset();
      return true;
    }
    v.emplace();
    return Codec<T>::read(r, *v);
  }
  static void write(JsonOut& o, const std::optional<T>& v) {
    if (v) Codec<T>::write(o, *v);
    else o.null();
  }
};

// --- sequences -------------------------------------------------------------------

template <class T>
struct Codec<std::vector<T>> {
  static bool read(Reader& r, std::vector<T>& v) {
    if constexpr (std::is_same_v<T, uint8_t>) {
      const size_t before = v.size();
      if (r.compact_bytes([&](uint8_t b) { v.push_back(b); })) return true;
      v.resize(before);
    }
    return r.seq("a sequence", [&](Reader::SeqAccess& s) {
      for (;;) {
        bool has;
        if (!s.next(has)) return false;
        if (!has) return true;
        if constexpr (std::is_same_v<T, uint8_t>) {
          uint8_t b;
          if (r.small_uint(b)) {  // the common case, without the general path
            v.push_back(b);
            continue;
          }
        }
        v.emplace_back();
        if (!Codec<T>::read(r, v.back())) return false;
      }
    });
  }
  static void write(JsonOut& o, const std::vector<T>& v) {
    if constexpr (std::is_same_v<T, uint8_t>) {
      o.bytes(v.data(), v.size());
    } else {
      o.raw('[');
      for (size_t i = 0; i < v.size(); ++i) {
        if (i) o.raw(',');
        Codec<T>::write(o, v[i]);
      }
      o.raw(']');
    }
  }
};

inline std::string invalid_length(size_t index, std::string_view expected) {
  return "invalid length " + std::to_string(index) + ", expected " + std::string(expected);
}

template <size_t N>
struct Codec<std::array<uint8_t, N>> {
  static constexpr std::string_view expecting() {
    static_assert(N == 32 || N == 64);
    return N == 32 ? "an array of length 32" : "an array of length 64";
  }
  static bool read(Reader& r, std::array<uint8_t, N>& v) {
    size_t i = 0;
    if (r.compact_bytes([&](uint8_t b) { v[i++] = b; }, N)) return true;
    return r.seq(expecting(), [&](Reader::SeqAccess& s) {
      for (size_t i = 0; i < N; ++i) {
        bool has;
        if (!s.next(has)) return false;
        if (!has) return r.fail_custom(invalid_length(i, expecting()));
        if (!r.small_uint(v[i]) && !Codec<uint8_t>::read(r, v[i])) return false;
      }
      return true;
    });
  }
  static void write(JsonOut& o, const std::array<uint8_t, N>& v) { o.bytes(v.data(), N); }
};

// Tuples are written as arrays and read as sequences of exactly their size.
template <class... Ts>
struct Codec<std::tuple<Ts...>> {
  static constexpr size_t kSize = sizeof...(Ts);
  static std::string expecting() { return "a tuple of size " + std::to_string(kSize); }
  static bool read(Reader& r, std::tuple<Ts...>& v) {
    return r.seq(expecting(), [&](Reader::SeqAccess& s) {
      return [&]<size_t... I>(std::index_sequence<I...>) {
        auto one = [&]<size_t K>(std::integral_constant<size_t, K>) {
          bool has;
          if (!s.next(has)) return false;
          if (!has) return r.fail_custom(invalid_length(K, expecting()));
          return Codec<std::tuple_element_t<K, std::tuple<Ts...>>>::read(r, std::get<K>(v));
        };
        return (one(std::integral_constant<size_t, I>{}) && ...);
      }(std::index_sequence_for<Ts...>{});
    });
  }
  static void write(JsonOut& o, const std::tuple<Ts...>& v) {
    o.raw('[');
    [&]<size_t... I>(std::index_sequence<I...>) {
      ((I ? o.raw(',') : void(), Codec<Ts>::write(o, std::get<I>(v))), ...);
    }(std::index_sequence_for<Ts...>{});
    o.raw(']');
  }
};

// --- enumerations ------------------------------------------------------------------

// A closed enumeration without data: specialise EnumNames<E> with
// `static constexpr std::string_view names[]`, the spellings in ordinal order.
template <class E>
struct EnumNames;

template <class E>
concept NamedEnum = std::is_enum_v<E> && requires { EnumNames<E>::names; };

template <NamedEnum E>
constexpr size_t enum_count() {
  return std::size(EnumNames<E>::names);
}

template <NamedEnum E>
constexpr std::string_view enum_name(E e) {
  return EnumNames<E>::names[static_cast<size_t>(e)];
}

template <NamedEnum E>
std::optional<E> enum_from_name(std::string_view name) {
  for (size_t i = 0; i < enum_count<E>(); ++i)
    if (EnumNames<E>::names[i] == name) return static_cast<E>(i);
  return std::nullopt;
}

template <NamedEnum E>
struct Codec<E> {
  static bool read(Reader& r, E& v) {
    return r.enumeration(EnumNames<E>::names, enum_count<E>(), [&](size_t index, bool in_object) {
      v = static_cast<E>(index);
      return !in_object || r.unit();
    });
  }
  static void write(JsonOut& o, E v) { o.string(enum_name(v)); }
};

// --- strict collections ---------------------------------------------------------

// Keys of maps and members of sets are ordered by unsigned bytes (texts) or by
// ordinal (enumerations), which std::less gives for both.
template <class K>
bool read_key(Reader& r, std::string_view text, K& key) {
  if constexpr (std::is_same_v<K, std::string>) {
    key.assign(text);
    return true;
  } else {
    auto e = enum_from_name<K>(text);
    if (!e) return r.unknown_variant(text, EnumNames<K>::names, enum_count<K>());
    key = *e;
    return true;
  }
}

template <class K>
std::string_view key_text(const K& key) {
  if constexpr (std::is_same_v<K, std::string>) return key;
  else return enum_name(key);
}

// An object into an ordered map; a repeated key fails after its value is read.
template <class K, class V>
  requires(std::is_same_v<K, std::string> || NamedEnum<K>)
struct Codec<std::map<K, V>> {
  static bool read(Reader& r, std::map<K, V>& m) {
    return r.map("a JSON object with unique keys", [&](Reader::MapAccess& a) {
      for (;;) {
        bool has;
        std::string_view text;
        if (!a.next_key(text, has)) return false;
        if (!has) return true;
        K key{};
        if (!read_key(r, text, key)) return false;
        V value{};
        if (!a.colon() || !Codec<V>::read(r, value)) return false;
        if (!m.emplace(std::move(key), std::move(value)).second) return r.fail_custom("duplicate map key");
      }
    });
  }
  static void write(JsonOut& o, const std::map<K, V>& m) {
    std::vector<const typename std::map<K, V>::value_type*> order;
    order.reserve(m.size());
    for (const auto& kv : m) order.push_back(&kv);
    if (o.canonical())
      std::sort(order.begin(), order.end(),
                [](auto* a, auto* b) { return utf16_less(key_text(a->first), key_text(b->first)); });
    o.raw('{');
    for (size_t i = 0; i < order.size(); ++i) {
      if (i) o.raw(',');
      o.string(key_text(order[i]->first));
      o.raw(':');
      Codec<V>::write(o, order[i]->second);
    }
    o.raw('}');
  }
};

// An array into an ordered set; a repeated member fails.
template <class T, class Less>
struct Codec<std::set<T, Less>> {
  static bool read(Reader& r, std::set<T, Less>& v) {
    return r.seq("a sequence with unique members", [&](Reader::SeqAccess& s) {
      for (;;) {
        bool has;
        if (!s.next(has)) return false;
        if (!has) return true;
        T member{};
        if (!Codec<T>::read(r, member)) return false;
        if (!v.insert(std::move(member)).second) return r.fail_custom("duplicate set member");
      }
    });
  }
  static void write(JsonOut& o, const std::set<T, Less>& v) {
    o.raw('[');
    bool first = true;
    for (const auto& m : v) {
      if (!first) o.raw(',');
      first = false;
      Codec<T>::write(o, m);
    }
    o.raw(']');
  }
};

// Maps keyed by 32-byte ids travel as arrays of [key, value] pairs.
template <class V, class Less>
struct Codec<std::map<Id, V, Less>> {
  static bool read(Reader& r, std::map<Id, V, Less>& m) {
    return r.seq("a sequence of unique [key, value] pairs", [&](Reader::SeqAccess& s) {
      for (;;) {
        bool has;
        if (!s.next(has)) return false;
        if (!has) return true;
        std::tuple<Id, V> pair{};
        if (!Codec<std::tuple<Id, V>>::read(r, pair)) return false;
        if (!m.emplace(std::get<0>(pair), std::move(std::get<1>(pair))).second)
          return r.fail_custom("duplicate key in pair-encoded map");
      }
    });
  }
  static void write(JsonOut& o, const std::map<Id, V, Less>& m) {
    o.raw('[');
    bool first = true;
    for (const auto& [k, v] : m) {
      if (!first) o.raw(',');
      first = false;
      o.raw('[');
      o.bytes(k.data(), k.size());
      o.raw(',');
      Codec<V>::write(o, v);
      o.raw(']');
    }
    o.raw(']');
  }
};

// --- structures ------------------------------------------------------------------

enum FieldFlags : unsigned {
  kRequired = 0,
  // Missing from an object: the default (or absent, for an optional field);
  // may also be left off the end of the array form.
  kDefault = 1,
  // An absent optional field is left out of the output instead of written as null.
  kOmitIfAbsent = 2,
};

struct ValueInit {
  template <class M>
  void operator()(M& m) const { m = M{}; }
};

template <class C, class M, class D, class FieldCodec>
struct Field {
  using Owner = C;
  using Member = M;
  using Codec = FieldCodec;
  std::string_view name;
  M C::*member;
  unsigned flags;
  D make_default;
};

template <class C, class M, class D = ValueInit>
constexpr auto field(std::string_view name, M C::*member, unsigned flags = kRequired, D d = {}) {
  return Field<C, M, D, Codec<M>>{name, member, flags, d};
}

// A field read and written by a codec other than its type's own.
template <class FieldCodec, class C, class M, class D = ValueInit>
constexpr auto field_with(std::string_view name, M C::*member, unsigned flags = kRequired, D d = {}) {
  return Field<C, M, D, FieldCodec>{name, member, flags, d};
}

// Specialise Fields<T> with:
//   static constexpr std::string_view name = "Record";   // as named in messages
//   static constexpr auto fields = std::make_tuple(field("id", &Record::id), ...);
// and optionally:
//   static constexpr std::string_view expecting = "struct variant X::Y";
//   static constexpr bool skip_unknown = true;            // ignore other keys
//   static std::optional<std::string> check(const T&);    // runs after reading
template <class T>
struct Fields;

template <class T>
concept Described = requires { Fields<T>::fields; };

template <class M>
struct is_optional : std::false_type {};
template <class M>
struct is_optional<std::optional<M>> : std::true_type {};

bool unknown_field(Reader& r, std::string_view name, const std::string_view* names, size_t count);

template <class T>
struct StructCodec {
  using F = Fields<T>;
  static constexpr size_t N = std::tuple_size_v<std::remove_cvref_t<decltype(F::fields)>>;

  static constexpr std::array<std::string_view, N> names() {
    std::array<std::string_view, N> out{};
    [&]<size_t... I>(std::index_sequence<I...>) {
      ((out[I] = std::get<I>(F::fields).name), ...);
    }(std::make_index_sequence<N>{});
    return out;
  }
  static constexpr std::array<std::string_view, N> kNames = names();

  // Canonical member order: names by UTF-16 code units (ASCII names here, so
  // by bytes; checked at compile time).
  static constexpr std::array<size_t, N> canonical_order() {
    std::array<size_t, N> order{};
    for (size_t i = 0; i < N; ++i) order[i] = i;
    for (size_t i = 1; i < N; ++i)
      for (size_t j = i; j > 0 && kNames[order[j]] < kNames[order[j - 1]]; --j)
        std::swap(order[j], order[j - 1]);
    for (auto n : kNames)
      for (char c : n)
        if (static_cast<unsigned char>(c) >= 0x80) throw "field names must be ASCII";
    return order;
  }
  static constexpr std::array<size_t, N> kCanonical = canonical_order();

  static std::string expecting() {
    if constexpr (requires { F::expecting; }) return std::string(F::expecting);
    else return "struct " + std::string(F::name);
  }
  static std::string expecting_length() {
    return expecting() + " with " + std::to_string(N) + (N == 1 ? " element" : " elements");
  }

  template <size_t I>
  static bool read_field(Reader& r, T& v) {
    const auto& f = std::get<I>(F::fields);
    using FC = typename std::remove_cvref_t<decltype(f)>::Codec;
    return FC::read(r, v.*(f.member));
  }

  template <size_t I>
  static void set_default(T& v) {
    const auto& f = std::get<I>(F::fields);
    f.make_default(v.*(f.member));
  }

  template <size_t I>
  static constexpr bool may_be_missing() {
    const auto& f = std::get<I>(F::fields);
    using M = typename std::remove_cvref_t<decltype(f)>::Member;
    return (f.flags & kDefault) || is_optional<M>::value;
  }

  static bool read_by_index(size_t index, Reader& r, T& v) {
    bool ok = false;
    [&]<size_t... I>(std::index_sequence<I...>) {
      (void)((index == I ? (ok = read_field<I>(r, v), true) : false) || ...);
    }(std::make_index_sequence<N>{});
    return ok;
  }

  static size_t find(std::string_view key) {
    for (size_t i = 0; i < N; ++i)
      if (kNames[i] == key) return i;
    return N;
  }

  static bool visit_map(Reader& r, Reader::MapAccess& a, T& v) {
    std::array<bool, N> seen{};
    for (;;) {
      bool has;
      std::string_view key;
      if (!a.next_key(key, has)) return false;
      if (!has) break;
      size_t i = find(key);
      if (i == N) {
        if constexpr (requires { F::skip_unknown; }) {
          if (!a.colon() || !r.skip()) return false;
          continue;
        } else {
          return unknown_field(r, key, kNames.data(), N);
        }
      }
      if (seen[i]) return r.fail_custom("duplicate field `" + std::string(kNames[i]) + "`");
      seen[i] = true;
      if (!a.colon() || !read_by_index(i, r, v)) return false;
    }
    bool ok = true;
    [&]<size_t... I>(std::index_sequence<I...>) {
      auto one = [&]<size_t K>(std::integral_constant<size_t, K>) {
        if (seen[K]) return true;
        const auto& f = std::get<K>(F::fields);
        using M = typename std::remove_cvref_t<decltype(f)>::Member;
        if (f.flags & kDefault) set_default<K>(v);
        else if constexpr (!is_optional<M>::value)
          return r.fail_custom("missing field `" + std::string(kNames[K]) + "`");
        return true;
      };
      ok = (one(std::integral_constant<size_t, I>{}) && ...);
    }(std::make_index_sequence<N>{});
    return ok;
  }

  static bool visit_seq(Reader& r, Reader::SeqAccess& s, T& v) {
    bool ok = true;
    [&]<size_t... I>(std::index_sequence<I...>) {
      auto one = [&]<size_t K>(std::integral_constant<size_t, K>) {
        bool has;
        if (!s.next(has)) return false;
        if (has) return read_field<K>(r, v);
        if (std::get<K>(F::fields).flags & kDefault) {
          set_default<K>(v);
          return true;
        }
        return r.fail_custom(invalid_length(K, expecting_length()));
      };
      ok = (one(std::integral_constant<size_t, I>{}) && ...);
    }(std::make_index_sequence<N>{});
    return ok;
  }

  static bool read(Reader& r, T& v) {
    bool ok = r.seq_or_map(
        expecting(), [&](Reader::SeqAccess& s) { return visit_seq(r, s, v); },
        [&](Reader::MapAccess& a) { return visit_map(r, a, v); });
    if (!ok) return false;
    if constexpr (requires { F::check(v); }) {
      if (auto problem = F::check(v)) return r.fail_custom(std::move(*problem));
    }
    return true;
  }

  template <size_t I>
  static void write_field(JsonOut& o, const T& v, bool& first) {
    const auto& f = std::get<I>(F::fields);
    using M = typename std::remove_cvref_t<decltype(f)>::Member;
    using FC = typename std::remove_cvref_t<decltype(f)>::Codec;
    const M& m = v.*(f.member);
    if constexpr (is_optional<M>::value) {
      if ((f.flags & kOmitIfAbsent) && !m) return;
    }
    if (!first) o.raw(',');
    first = false;
    o.string(f.name);
    o.raw(':');
    FC::write(o, m);
  }

  static void write(JsonOut& o, const T& v) {
    o.raw('{');
    bool first = true;
    if (o.canonical()) {
      [&]<size_t... I>(std::index_sequence<I...>) {
        (write_field<kCanonical[I]>(o, v, first), ...);
      }(std::make_index_sequence<N>{});
    } else {
      [&]<size_t... I>(std::index_sequence<I...>) {
        (write_field<I>(o, v, first), ...);
      }(std::make_index_sequence<N>{});
    }
    o.raw('}');
  }
};

template <Described T>
struct Codec<T> : StructCodec<T> {};

}  // namespace quintrel::base
