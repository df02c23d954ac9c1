// Fuzzing harness: the record formatter. Mode 0 writes one value of any kind and bit
// pattern through one edit descriptor of any width and precision and checks that the
// field has exactly its width, and that a number that was written (not asterisks)
// reads back through the same descriptor to within the precision written. Mode 1
// parses an arbitrary descriptor string and renders values with it: a malformed
// string or a value of the wrong kind is an InternalError, anything else a finding.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.hpp"
#include "base/format.hpp"
#include "base/io.hpp"

namespace {

using mcspec::FmtArg;
using mcspec::Format;

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::abort();
}

struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::uint64_t word() {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 8) | byte();
    return v;
  }
  std::string_view rest(std::size_t most) {
    const std::size_t k = n < most ? n : most;
    std::string_view s(reinterpret_cast<const char*>(p), k);
    p += k;
    n -= k;
    return s;
  }
};

double as_double(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Reads the rendered field back through the same descriptor.
double read_back(const std::string& fmt, const std::string& field) {
  mcspec::InFile f;
  f.open_text("rendered", field);
  double v = 0;
  f.read(fmt, {v});
  return v;
}

void one_descriptor(Bytes& in) {
  const int kind = in.byte() % 6;  // I F E D ES A
  int w = in.byte();               // 0..255
  int d = in.byte() % 101;         // 0..100
  const int e = in.byte() % 10;    // exponent digits of Ew.dEe, ESw.dEe (0: default)
  const bool integer_value = in.byte() & 1;
  const std::uint64_t bits = in.word();
  std::string fmt;
  std::vector<FmtArg> args;
  std::string text;
  switch (kind) {
    case 0:
      fmt = "(I" + std::to_string(w);
      if (d <= w || w == 0) fmt += (d % 3 == 0) ? "" : "." + std::to_string(d);
      fmt += ")";
      args.emplace_back(static_cast<long long>(bits));
      break;
    case 1: fmt = "(F" + std::to_string(w) + "." + std::to_string(d) + ")"; break;
    case 2:
    case 3:
    case 4: {
      if (w == 0) w = 1;
      if (kind != 4 && d == 0) d = 1;
      fmt = std::string("(") + (kind == 2 ? "E" : kind == 3 ? "D" : "ES") + std::to_string(w) + "." + std::to_string(d);
      if (kind != 3 && e > 0) fmt += "E" + std::to_string(e);
      fmt += ")";
      break;
    }
    default:
      text = std::string(in.rest(300));
      for (char& ch : text)
        if (ch == '\n') ch = ' ';  // texts come from records, which hold no line end
      fmt = w == 0 ? "(A)" : "(A" + std::to_string(w) + ")";
      args.emplace_back(std::string_view(text));
  }
  const double value = integer_value ? static_cast<double>(static_cast<long long>(bits)) : as_double(bits);
  if (kind >= 1 && kind <= 4) {
    if (integer_value)
      args.emplace_back(static_cast<long long>(bits));
    else
      args.emplace_back(value);
  }

  const std::string out = mcspec::render_record(fmt, args);
  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1)
    finding(fmt + " wrote not one record: \"" + out + "\"");
  const std::string field = out.substr(0, out.size() - 1);
  const std::size_t expected = kind == 5 ? (w == 0 ? text.size() : static_cast<std::size_t>(w)) : static_cast<std::size_t>(w);
  if ((w > 0 || kind == 5) && field.size() != expected)
    finding(fmt + " wrote " + std::to_string(field.size()) + " characters: \"" + field + "\"");
  if (kind == 5 || field.find('*') != std::string::npos || w == 0) return;

  if (kind == 0) {
    const long long v = static_cast<long long>(bits);
    if (v < -2147483647LL || v > 2147483647LL) return;
    mcspec::InFile f;
    f.open_text("rendered", field);
    int back = 0;
    f.read(fmt, {back});
    if (back != v) finding(fmt + " wrote " + std::to_string(v) + " as \"" + field + "\", read back " + std::to_string(back));
    return;
  }
  if (!std::isfinite(value)) {
    if (field.find_first_not_of(" ") == std::string::npos) finding(fmt + " wrote a non-finite value as blanks");
    return;
  }
  if (field.find_first_of("0123456789") == std::string::npos) {
    // "." or "-." in F1.0 / F2.0: the zero before the point dropped for want of room,
    // which only a value that rounds to zero may lose.
    if (!(kind == 1 && d == 0 && std::fabs(value) < 0.5 + 1e-12)) finding(fmt + " wrote a number without a digit: \"" + field + "\"");
    return;
  }
  double back = 0;
  try {
    back = read_back(fmt, field);
  } catch (const mcspec::InputError&) {
    // Rounded to the digits written, a value next to the largest double can exceed it
    // ("-0.2+309" for -1.8e308): the reader rightly refuses what no double holds.
    if (std::fabs(value) > 0.5 * std::numeric_limits<double>::max()) return;
    throw;
  }
  // Half a unit in the last place written, and a little for the binary rounding.
  double tol;
  if (kind == 1) {
    tol = 0.5 * std::pow(10.0, -d);
  } else {
    const int significant = kind == 4 ? d + 1 : d;
    tol = 0.5 * std::pow(10.0, 1 - significant) * std::fabs(value);
  }
  tol += 4e-16 * std::fabs(value) + 1e-300;
  if (!(std::fabs(back - value) <= tol))
    finding(fmt + " wrote " + std::to_string(value) + " as \"" + field + "\", read back " + std::to_string(back));
}

// Expansion bound for mode 1: the product of every count written in the string.
bool small_expansion(std::string_view s) {
  double product = 1;
  double number = 0;
  bool in_number = false;
  for (const char c : s) {
    if (c >= '0' && c <= '9') {
      number = number * 10 + (c - '0');
      in_number = true;
    } else if (in_number) {
      product *= number < 1 ? 1 : number;
      number = 0;
      in_number = false;
    }
  }
  if (in_number) product *= number < 1 ? 1 : number;
  return product <= 1e5;
}

void any_format(Bytes& in) {
  const std::size_t len = in.byte();
  const std::string text(in.rest(len));
  std::vector<std::string> texts;
  texts.reserve(16);
  std::vector<FmtArg> args;
  const int nargs = in.byte() % 16;
  for (int k = 0; k < nargs; ++k) {
    const int kind = in.byte() % 3;
    if (kind == 0) args.emplace_back(static_cast<long long>(in.word()));
    else if (kind == 1) args.emplace_back(as_double(in.word()));
    else {
      texts.emplace_back(in.rest(in.byte() % 32));
      args.emplace_back(std::string_view(texts.back()));
    }
  }
  try {
    const Format f(text);
    if (small_expansion(text)) (void)f.render(args);
  } catch (const mcspec::InternalError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in{data, size};
  try {
    if (in.byte() & 1)
      any_format(in);
    else
      one_descriptor(in);
  } catch (const std::exception& e) {
    finding(std::string("unexpected exception: ") + e.what());
  }
  return 0;
}
