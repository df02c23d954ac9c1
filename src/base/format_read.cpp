// Fixed-column input: numbers read from card-image fields, where blanks are not
// significant, a field without a decimal point carries implied decimals and the
// exponent may be written E, D or as a bare sign ("1.5-3" = 1.5E-3).
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "base/errors.hpp"
#include "base/format_internal.hpp"

namespace mcspec::fmt {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Copies s without blanks into buf (capacity cap); false when it does not fit.
bool squeeze_blanks(std::string_view s, char* buf, std::size_t cap, std::size_t& n) {
  n = 0;
  for (const char c : s) {
    if (is_blank(c)) continue;
    if (n >= cap) return false;
    buf[n++] = c;
  }
  return true;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

ParseStatus parse_integer(std::string_view s, bool blank_is_zero, int& out) {
  char buf[kMaxWidth + 1];
  std::size_t n = 0;
  if (!squeeze_blanks(s, buf, sizeof buf, n)) return ParseStatus::Bad;
  if (n == 0) {
    if (!blank_is_zero) return ParseStatus::Bad;
    out = 0;
    return ParseStatus::Ok;
  }
  const char* b = buf;
  const char* e = buf + n;
  if (*b == '+') ++b;
  if (b == e || !(is_digit(*b) || (*b == '-' && b == buf))) return ParseStatus::Bad;
  int v = 0;
  const auto res = std::from_chars(b, e, v);
  if (res.ec == std::errc::result_out_of_range) return ParseStatus::Range;
  if (res.ec != std::errc() || res.ptr != e) return ParseStatus::Bad;
  out = v;
  return ParseStatus::Ok;
}

ParseStatus parse_real(std::string_view s, int implied, bool blank_is_zero, double& out) {
  char in[kMaxWidth + 1];
  std::size_t n = 0;
  if (!squeeze_blanks(s, in, sizeof in, n)) return ParseStatus::Bad;
  if (n == 0) {
    if (!blank_is_zero) return ParseStatus::Bad;
    out = 0.0;
    return ParseStatus::Ok;
  }
  // Rewrite as [-]mantissa e exponent, which from_chars converts with one rounding.
  char buf[kMaxWidth + 32];
  std::size_t len = 0;
  std::size_t i = 0;
  if (in[i] == '+' || in[i] == '-') {
    if (in[i] == '-') buf[len++] = '-';
    ++i;
  }
  int mantissa_digits = 0;
  bool point = false;
  for (; i < n; ++i) {
    if (is_digit(in[i])) {
      ++mantissa_digits;
    } else if (in[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
    buf[len++] = in[i];
  }
  if (mantissa_digits == 0) return ParseStatus::Bad;
  long exponent = 0;
  if (i < n) {
    const char c = in[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') ++i;
    else if (c != '+' && c != '-') return ParseStatus::Bad;
    bool negative = false;
    if (i < n && (in[i] == '+' || in[i] == '-')) negative = (in[i++] == '-');
    if (i == n) return ParseStatus::Bad;
    for (; i < n; ++i) {
      if (!is_digit(in[i])) return ParseStatus::Bad;
      if (exponent < 100000) exponent = exponent * 10 + (in[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  if (!point) exponent -= implied;
  buf[len++] = 'e';
  const auto ex = std::to_chars(buf + len, buf + sizeof buf - 1, exponent);
  len = static_cast<std::size_t>(ex.ptr - buf);
  buf[len] = '\0';

  double v = 0.0;
  const auto res = std::from_chars(buf, buf + len, v);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow to a subnormal or zero is a value; overflow is not.
    v = std::strtod(buf, nullptr);
    if (!std::isfinite(v) || std::fabs(v) >= 1.0) return ParseStatus::Range;
  } else if (res.ec != std::errc() || res.ptr != buf + len) {
    return ParseStatus::Bad;
  }
  out = v;
  return ParseStatus::Ok;
}

namespace {

const std::string& next_record_for(RecordSource& src, std::size_t item_no, std::size_t n_items) {
  try {
    return src.next_record();
  } catch (const EndOfFileError&) {
    throw EndOfFileError(src.source_name(), 0, static_cast<int>(item_no),
                         "end of file after record " + std::to_string(src.record_number()) + " while reading item " +
                             std::to_string(item_no) + " of " + std::to_string(n_items));
  }
}

std::string columns(std::size_t first, std::size_t width) {
  if (width <= 1) return "column " + std::to_string(first + 1);
  return "columns " + std::to_string(first + 1) + "-" + std::to_string(first + width);
}

[[noreturn]] void bad_field(const RecordSource& src, std::size_t item_no, const std::string& expected,
                            std::size_t first, std::size_t width, std::string_view field) {
  throw InputError(src.source_name(), src.record_number(), static_cast<int>(item_no),
                   "expected " + expected + " in " + columns(first, width) + ", found \"" +
                       std::string(trimmed(field)) + "\"");
}

[[noreturn]] void wrong_target(const Format::Impl& f, const Item& it, std::size_t item_no) {
  throw InternalError("format \"" + f.text + "\": descriptor " + describe(it) + " cannot read item " +
                      std::to_string(item_no) + " (wrong variable type)");
}

// Reads one field starting at column pos (0-based) into the item; a record shorter
// than the field reads as if padded with blanks.
void read_field(const Format::Impl& f, const Item& it, const RecordSource& src, const std::string& rec,
                std::size_t& pos, const InItem& item, std::size_t item_no) {
  const std::size_t first = pos;
  const std::size_t width =
      it.w >= 0 ? static_cast<std::size_t>(it.w) : (pos < rec.size() ? rec.size() - pos : 0);
  const std::string_view field = pos < rec.size() ? std::string_view(rec).substr(pos, width) : std::string_view();
  pos += width;
  const auto& target = item.target();
  if (int* const* ip = std::get_if<int*>(&target)) {
    if (it.op != Op::Int) wrong_target(f, it, item_no);
    const ParseStatus st = parse_integer(field, true, **ip);
    if (st == ParseStatus::Bad) bad_field(src, item_no, "an integer", first, width, field);
    if (st == ParseStatus::Range) bad_field(src, item_no, "an integer within +-2147483647", first, width, field);
  } else if (double* const* dp = std::get_if<double*>(&target)) {
    if (it.op != Op::Fixed && it.op != Op::Exp && it.op != Op::DExp && it.op != Op::Sci) wrong_target(f, it, item_no);
    const ParseStatus st = parse_real(field, it.d, true, **dp);
    if (st == ParseStatus::Bad) bad_field(src, item_no, "a real number", first, width, field);
    if (st == ParseStatus::Range) bad_field(src, item_no, "a real number within the double range", first, width, field);
  } else {
    if (it.op != Op::Text) wrong_target(f, it, item_no);
    std::string& s = *std::get<std::string*>(target);
    s.assign(field);
    if (it.w > 0 && s.size() < width) s.append(width - s.size(), ' ');
  }
}

}  // namespace
}  // namespace mcspec::fmt

namespace mcspec {

using fmt::Item;
using fmt::Op;

void Format::read(RecordSource& src, std::span<const InItem> items) const {
  const Impl& f = *impl_;
  const std::size_t n = items.size();
  std::size_t next_item = 0;
  const std::string* rec = &fmt::next_record_for(src, 1, n);
  std::size_t pos = 0;
  fmt::Walker walk(f);
  for (;;) {
    const int k = walk.next();
    if (k < 0) {
      if (next_item == n) return;
      if (!f.reversion_has_data)
        throw InternalError("format \"" + f.text + "\" has no descriptor for item " + std::to_string(next_item + 1));
      rec = &fmt::next_record_for(src, next_item + 1, n);
      pos = 0;
      walk.revert();
      continue;
    }
    const Item& it = f.ops[static_cast<std::size_t>(k)];
    switch (it.op) {
      case Op::Skip: pos += static_cast<std::size_t>(it.w); break;
      case Op::Slash:
        for (int r = 0; r < it.repeat; ++r) rec = &fmt::next_record_for(src, next_item + 1, n);
        pos = 0;
        break;
      case Op::Literal: throw InternalError("format \"" + f.text + "\": a quoted text cannot be read");
      default:
        for (int r = 0; r < it.repeat; ++r) {
          if (next_item == n) return;
          fmt::read_field(f, it, src, *rec, pos, items[next_item], next_item + 1);
          ++next_item;
        }
    }
  }
}

}  // namespace mcspec
