// Output fields of the record formatter: integers, fixed-point and exponent forms of
// reals with one correct decimal rounding (done by the C library, then laid out in the
// field), texts, and the shortest round-trip form used by list-directed records.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/format_internal.hpp"

namespace mcspec::fmt {
namespace {

void put_asterisks(std::string& out, int w) { out.append(static_cast<std::size_t>(w), '*'); }

// Right-justifies s in w columns, or writes w asterisks when it does not fit; w = 0
// is the minimal width.
void put_justified(std::string& out, int w, std::string_view s) {
  if (w == 0) {
    out += s;
  } else if (s.size() > static_cast<std::size_t>(w)) {
    put_asterisks(out, w);
  } else {
    out.append(static_cast<std::size_t>(w) - s.size(), ' ');
    out += s;
  }
}

// "NaN", "Infinity" or, in a narrow field, "Inf"; signed for negative infinity.
void put_nonfinite(std::string& out, int w, double v) {
  std::string_view s;
  if (std::isnan(v))
    s = "NaN";
  else if (v > 0)
    s = (w == 0 || w >= 8) ? "Infinity" : "Inf";
  else
    s = (w == 0 || w >= 9) ? "-Infinity" : "-Inf";
  put_justified(out, w, s);
}

// Fw.d. The C library rounds the binary value exactly once; the "0" before the point
// is dropped only when the field has no room for it.
void put_fixed(std::string& out, const Item& it, double v) {
  char buf[512];
  const int n = std::snprintf(buf, sizeof buf - 1, "%.*f", it.d, v);
  if (n < 0 || n >= static_cast<int>(sizeof buf) - 1) return put_asterisks(out, it.w);
  std::size_t len = static_cast<std::size_t>(n);
  if (it.d == 0) buf[len++] = '.';  // the point is always written
  std::string_view s(buf, len);
  if (it.w > 0 && s.size() > static_cast<std::size_t>(it.w)) {
    if (s.starts_with("0.")) {
      s.remove_prefix(1);
    } else if (s.starts_with("-0.")) {
      buf[1] = '-';
      s = std::string_view(buf + 1, len - 1);
    }
  }
  put_justified(out, it.w, s);
}

// The exponent part: "E+05", "D-12", and above 99 Fortran's form without the letter,
// "+100"; with an explicit digit count e (Ew.dEe) always the letter and e digits.
bool put_exponent_part(char* p, std::size_t& len, char letter, int digits, int exponent) {
  const int mag = exponent < 0 ? -exponent : exponent;
  int ndig = digits;
  bool with_letter = true;
  if (digits == 0) {
    if (mag <= 99) {
      ndig = 2;
    } else if (mag <= 999) {
      ndig = 3;
      with_letter = false;
    } else {
      return false;
    }
  } else {
    int limit = 1;
    for (int k = 0; k < digits; ++k) limit *= 10;
    if (mag >= limit) return false;
  }
  if (with_letter) p[len++] = letter;
  p[len++] = exponent < 0 ? '-' : '+';
  int div = 1;
  for (int k = 1; k < ndig; ++k) div *= 10;
  for (; div > 0; div /= 10) p[len++] = static_cast<char>('0' + (mag / div) % 10);
  return true;
}

// Ew.d / Dw.d (0.ddddE+ee, d significant digits) and ESw.d (d.dddE+ee). The digits
// come from one "%.*e" conversion, so the decimal rounding is exact and done once.
void put_exponent_form(std::string& out, const Item& it, double v, char letter, bool scientific) {
  const int significant = scientific ? it.d + 1 : it.d;
  char digits_buf[kMaxDecimals + 32];
  std::snprintf(digits_buf, sizeof digits_buf, "%.*e", significant - 1, v);
  const char* p = digits_buf;
  const bool negative = (*p == '-');
  if (negative) ++p;
  char digits[kMaxDecimals + 2];
  int nd = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[nd++] = *p;
  int exponent = std::atoi(p + 1);
  if (!scientific && v != 0.0) ++exponent;  // 0.d1d2... x 10^(e+1) = d1.d2... x 10^e

  char field[2 * kMaxDecimals + 32];
  std::size_t len = 0;
  if (negative) field[len++] = '-';
  const std::size_t zero_at = len;
  if (scientific) {
    field[len++] = digits[0];
    field[len++] = '.';
    for (int k = 1; k < nd; ++k) field[len++] = digits[k];
  } else {
    field[len++] = '0';
    field[len++] = '.';
    for (int k = 0; k < nd; ++k) field[len++] = digits[k];
  }
  if (!put_exponent_part(field, len, letter, it.e, exponent)) return put_asterisks(out, it.w);
  std::string_view s(field, len);
  if (!scientific && s.size() > static_cast<std::size_t>(it.w)) {
    // No room for the optional zero: "-.1235E+05".
    for (std::size_t k = zero_at; k + 1 < len; ++k) field[k] = field[k + 1];
    s = std::string_view(field, len - 1);
  }
  put_justified(out, it.w, s);
}

}  // namespace

void put_integer(std::string& out, const Item& it, long long v) {
  const bool negative = v < 0;
  const unsigned long long mag = negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  char digits[24];
  std::size_t nd = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, mag).ptr - digits);
  if (it.d == 0 && mag == 0) nd = 0;  // Iw.0 writes zero as blanks
  char field[kMaxWidth + 32];
  std::size_t len = 0;
  if (negative) field[len++] = '-';
  const std::size_t min_digits = it.d > 0 ? static_cast<std::size_t>(it.d) : 0;
  for (std::size_t k = nd; k < min_digits; ++k) field[len++] = '0';
  for (std::size_t k = 0; k < nd; ++k) field[len++] = digits[k];
  put_justified(out, it.w, std::string_view(field, len));
}

void put_real(std::string& out, const Item& it, double v) {
  if (!std::isfinite(v)) return put_nonfinite(out, it.w, v);
  switch (it.op) {
    case Op::Fixed: return put_fixed(out, it, v);
    case Op::Exp: return put_exponent_form(out, it, v, 'E', false);
    case Op::DExp: return put_exponent_form(out, it, v, 'D', false);
    default: return put_exponent_form(out, it, v, 'E', true);
  }
}

// Aw: the first w characters of a longer text, a shorter one right-justified.
void put_text(std::string& out, const Item& it, std::string_view v) {
  if (it.w < 0) {
    out += v;
  } else if (v.size() >= static_cast<std::size_t>(it.w)) {
    out += v.substr(0, static_cast<std::size_t>(it.w));
  } else {
    out.append(static_cast<std::size_t>(it.w) - v.size(), ' ');
    out += v;
  }
}

namespace {

// The shortest text that reads back to the same value, always recognisable as a real.
void put_list_real(std::string& out, double v, bool single) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v > 0 ? "Infinity" : "-Infinity";
    return;
  }
  char buf[64];
  const auto res = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                          : std::to_chars(buf, buf + sizeof buf, v);
  const std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
  out += s;
  if (s.find_first_of(".e") == std::string_view::npos) out += ".0";
}

}  // namespace
}  // namespace mcspec::fmt

namespace mcspec {

std::string render_list(std::span<const FmtArg> args) {
  std::string out;
  out.reserve(16 * args.size() + 2);
  for (const FmtArg& a : args) {
    out += ' ';
    const auto& v = a.value();
    if (const long long* i = std::get_if<long long>(&v)) {
      char buf[24];
      out.append(buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, *i).ptr - buf));
    } else if (const double* x = std::get_if<double>(&v)) {
      fmt::put_list_real(out, *x, a.single_precision());
    } else {
      out += std::get<std::string_view>(v);
    }
  }
  out += '\n';
  return out;
}

}  // namespace mcspec
