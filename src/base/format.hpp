// Edit-descriptor record formatter and fixed-column reader.
//
// Every fixed-layout record of the program is described by an edit-descriptor string
// written as the record reads, for example
//   "(/ 5X 'Scale:  L =' F7.3 5X 'L+ =' F7.3 / / 15X 'TB1 =' F8.1 10X 'Log EP0 =' F10.6)"
// Descriptors (blanks and commas between them are separators):
//   Iw      integer right-justified in w columns
//   Fw.d    fixed point, d decimals, correctly rounded; "0." when there is room
//   Ew.d    0.ddddE+ee, d significant digits (Dw.d the same with D)
//   ESw.d   d.dddE+ee, one non-zero digit before the point
//   Aw, A   text in w columns (right-justified, or truncated to its first w characters
//           when longer) / text at its own length
//   nX      n blanks;  'text' a literal ('' inside stands for one quote)
//   /       ends the record; a leading one gives an empty line before, a trailing one
//           an empty line after
//   n(...)  repeat counts on descriptors and on parenthesised groups
// A value that does not fit its field is written as w asterisks; a value that is not
// finite is written as "NaN", "Infinity" or "Inf" (signed) when it fits, else asterisks.
// Output stops at the first data descriptor for which no value is left (the literals,
// blanks and slashes before it are written). When values remain at the end of the
// format, the format reverts to its last top-level parenthesised group (or to its
// start) and a new record begins.
//
// Input (Format::read): Iw and Fw.d read w columns with blanks ignored (an all-blank
// field reads as 0; an F field without a decimal point has d implied decimals), Aw
// takes w characters, nX skips n columns, / moves to the next record. A record shorter
// than the format reads as if padded with blanks.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mcspec {

// One output value: an integer, a real or a text.
class FmtArg {
 public:
  FmtArg(int v) : v_(static_cast<long long>(v)) {}
  FmtArg(long v) : v_(static_cast<long long>(v)) {}
  FmtArg(long long v) : v_(v) {}
  FmtArg(unsigned v) : v_(static_cast<long long>(v)) {}
  FmtArg(unsigned long v) : v_(static_cast<long long>(v)) {}
  FmtArg(double v) : v_(v) {}
  // A single-precision value is written exactly as a real; list-directed output shows
  // it in the shortest form that reads back to the same float.
  FmtArg(float v) : v_(static_cast<double>(v)), single_(true) {}
  FmtArg(const char* v) : v_(std::string_view(v)) {}
  FmtArg(const std::string& v) : v_(std::string_view(v)) {}
  FmtArg(std::string_view v) : v_(v) {}
  const std::variant<long long, double, std::string_view>& value() const { return v_; }
  bool single_precision() const { return single_; }

 private:
  std::variant<long long, double, std::string_view> v_;
  bool single_ = false;
};

// One input target: an integer, a real or a text variable.
class InItem {
 public:
  InItem(int& v) : v_(&v) {}
  InItem(double& v) : v_(&v) {}
  InItem(std::string& v) : v_(&v) {}
  const std::variant<int*, double*, std::string*>& target() const { return v_; }

 private:
  std::variant<int*, double*, std::string*> v_;
};

// A sequence of text records that a read consumes one by one (an input file).
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Moves to the next record and returns it; throws EndOfFileError at the end.
  virtual const std::string& next_record() = 0;
  // The path for messages, and the 1-based number of the record last returned.
  virtual const std::string& source_name() const = 0;
  virtual long record_number() const = 0;
};

// A parsed edit-descriptor string. Parse once, use for many records.
class Format {
 public:
  // Throws InternalError when the text is not a valid edit-descriptor string.
  explicit Format(std::string_view text);
  ~Format();
  Format(Format&&) noexcept;
  Format& operator=(Format&&) noexcept;

  const std::string& text() const;

  // The records for these values, each ending with '\n'. Throws InternalError when a
  // value does not suit its descriptor (a real for I, a text for F, ...); an integer
  // for F, E, D or ES is written as a real.
  std::string render(std::span<const FmtArg> args) const;

  // Reads the items from the next record(s) of src. Throws InputError naming the
  // file, record and field when a field cannot be read as its item's type, and
  // EndOfFileError when the file ends.
  void read(RecordSource& src, std::span<const InItem> items) const;

  struct Impl;  // the parsed descriptors; defined by the formatter's sources only

 private:
  std::unique_ptr<Impl> impl_;
};

// The parsed Format for this text, parsed on first use and kept for the run.
const Format& cached_format(std::string_view text);

// Renders with the cached format: render_record("(I5, F8.2)", {3, 1.5}).
std::string render_record(std::string_view fmt, std::span<const FmtArg> args);

// List-directed (free-format) output: one record that begins with one blank, then the
// items separated by one blank; integers in full, reals in the shortest form that reads
// back to the same value (at least one decimal or an exponent), texts as they are.
std::string render_list(std::span<const FmtArg> args);

}  // namespace mcspec
