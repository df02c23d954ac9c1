// Internals of the edit-descriptor formatter shared by its source files: the parsed
// descriptor program, the walker that steps through it with group repeats and format
// reversion, and the text <-> number conversions of single fields.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.hpp"

namespace mcspec::fmt {

enum class Op : std::uint8_t {
  Int,         // Iw[.m]
  Fixed,       // Fw.d
  Exp,         // Ew.d[Ee]
  DExp,        // Dw.d
  Sci,         // ESw.d[Ee]
  Text,        // Aw or A
  Skip,        // nX
  Literal,     // 'text'
  Slash,       // r/
  GroupBegin,  // r(
  GroupEnd,    // )
};

// Field widths and decimals are bounded so that every conversion fits a stack buffer.
inline constexpr int kMaxWidth = 255;
inline constexpr int kMaxDecimals = 100;
inline constexpr int kMaxDepth = 16;

struct Item {
  Op op = Op::Literal;
  int repeat = 1;  // data descriptors, slashes and groups
  int w = 0;       // width; -1 for A without width; n for nX
  int d = -1;      // decimals (F, E, D, ES); minimum digits for I (-1: none)
  int e = 0;       // exponent digits of Ew.dEe / ESw.dEe (0: the default form)
  int jump = 0;    // GroupBegin: index of its GroupEnd; GroupEnd: index of its GroupBegin
  int column = 0;  // 1-based position in the format text (messages)
  bool counted = false;  // GroupBegin: a repeat count was written before the '('
  std::string text;  // Literal

  bool is_data() const { return op <= Op::Text; }
};

// The descriptor name as written, for messages ("F8.3", "A", "I5").
std::string describe(const Item& it);

}  // namespace mcspec::fmt

namespace mcspec {

struct Format::Impl {
  std::string text;
  std::vector<fmt::Item> ops;
  int reversion = 0;               // op index where a reverted format restarts
  bool reversion_has_data = false;  // whether the restart segment can take a value
};

}  // namespace mcspec

namespace mcspec::fmt {

// Steps through the ops, expanding group repeats; data descriptor repeats are left to
// the caller because output and input stop in the middle of one.
class Walker {
 public:
  explicit Walker(const Format::Impl& f) : f_(f) {}
  // Index of the next op that is not a group bracket, or -1 at the end of the format.
  int next() {
    const int n = static_cast<int>(f_.ops.size());
    while (pc_ < n) {
      const Item& it = f_.ops[static_cast<std::size_t>(pc_)];
      if (it.op == Op::GroupBegin) {
        count_[static_cast<std::size_t>(depth_++)] = it.repeat;
        ++pc_;
      } else if (it.op == Op::GroupEnd) {
        if (--count_[static_cast<std::size_t>(depth_ - 1)] > 0) {
          pc_ = it.jump + 1;
        } else {
          --depth_;
          ++pc_;
        }
      } else {
        return pc_++;
      }
    }
    return -1;
  }
  // Format reversion: restart at the last top-level group (with its repeat count).
  void revert() {
    pc_ = f_.reversion;
    depth_ = 0;
  }

 private:
  const Format::Impl& f_;
  int pc_ = 0;
  int depth_ = 0;
  std::array<int, kMaxDepth> count_{};
};

// ---- output fields (format_fields.cpp) ----
// Each appends exactly one field to out; the value must suit the descriptor.
void put_integer(std::string& out, const Item& it, long long v);
void put_real(std::string& out, const Item& it, double v);
void put_text(std::string& out, const Item& it, std::string_view v);

// ---- input conversions (format_read.cpp) ----
enum class ParseStatus { Ok, Bad, Range };
// An integer: optional sign and digits; blanks anywhere are ignored and an all-blank
// text reads as 0 when blank_is_zero is set.
ParseStatus parse_integer(std::string_view s, bool blank_is_zero, int& out);
// A real in any of the forms 1, 1., .5, 1.5E3, 1.5D3, 1.5+3, 1.5E+3; blanks ignored.
// Without a decimal point the mantissa has `implied` decimals (fixed-column input).
ParseStatus parse_real(std::string_view s, int implied, bool blank_is_zero, double& out);

// ---- free-format input (list_input.cpp) ----
// One list-directed read starting at the next record of src (see InFile::read_list).
void read_list_values(RecordSource& src, std::span<const InItem> items);

}  // namespace mcspec::fmt
