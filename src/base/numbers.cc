#include "base/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quintrel::base {
namespace {

// The shortest digits that read back to |x|, and the decimal exponent n such
// that |x| = 0.d1d2...dk * 10^n.
struct Shortest {
  char digits[24];
  int count;
  int n;
};

Shortest shortest(double x) {
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
  Shortest s{};
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p != '.') s.digits[s.count++] = *p;
  }
  int e = 0;
  std::from_chars(p + 1 + (p[1] == '+'), res.ptr, e);
  s.n = e + 1;
  return s;
}

void append_exponent(std::string& out, int e, bool plus) {
  out.push_back('e');
  if (e < 0) {
    out.push_back('-');
    e = -e;
  } else if (plus) {
    out.push_back('+');
  }
  char buf[8];
  auto res = std::to_chars(buf, buf + sizeof buf, e);
  out.append(buf, res.ptr);
}


// The two styles differ only in their thresholds and decorations: whole
// numbers are written plainly while the decimal exponent n is at most
// `max_plain`, small ones plainly while n is above `min_plain`.
struct Style {
  int max_plain;
  int min_plain;
  const char* whole_suffix;
  bool exponent_plus;
};

void append_in_style(std::string& out, double x, const Style& style) {
  Shortest s = shortest(x);
  const int k = s.count, n = s.n;
  if (k <= n && n <= style.max_plain) {
    out.append(s.digits, k);
    out.append(n - k, '0');
    out.append(style.whole_suffix);
  } else if (0 < n && n <= style.max_plain) {
    out.append(s.digits, n);
    out.push_back('.');
    out.append(s.digits + n, k - n);
  } else if (style.min_plain < n && n <= 0) {
    out.append("0.");
    out.append(-n, '0');
    out.append(s.digits, k);
  } else {
    out.push_back(s.digits[0]);
    if (k > 1) {
      out.push_back('.');
      out.append(s.digits + 1, k - 1);
    }
    append_exponent(out, n - 1, style.exponent_plus);
  }
}

}  // namespace

void append_ecmascript(std::string& out, double x) {
  if (x == 0) {
    out.push_back('0');
    return;
  }
  if (x < 0) out.push_back('-');
  append_in_style(out, x, Style{21, -6, "", true});
}

void append_ryu_style(std::string& out, double x) {
  if (std::isnan(x)) {
    out.append("NaN");
    return;
  }
  if (std::signbit(x)) out.push_back('-');
  if (std::isinf(x)) {
    out.append("inf");
    return;
  }
  if (x == 0) {
    out.append("0.0");
    return;
  }
  append_in_style(out, x, Style{16, -5, ".0", false});
}

void append_plain_integer(std::string& out, double x) {
  if (x == 0) {
    out.push_back('0');
    return;
  }
  if (x < 0) out.push_back('-');
  Shortest s = shortest(x);
  if (s.n <= 0) {
    out.push_back('0');
    return;
  }
  if (s.n >= s.count) {
    out.append(s.digits, s.count);
    out.append(s.n - s.count, '0');
  } else {
    out.append(s.digits, s.n);  // not whole; callers pass whole numbers only
  }
}

}  // namespace quintrel::base
