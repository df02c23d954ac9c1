// Edit-descriptor strings: parsing into a descriptor program, rendering records from
// values (with repeat counts, nested groups and format reversion), and the per-text
// cache that lets every call site write its format inline yet parse it only once.
#include <cctype>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/errors.hpp"
#include "base/format_internal.hpp"

namespace mcspec {
namespace fmt {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::vector<Item> parse() {
    parse_list(0);
    if (i_ < s_.size()) fail(i_, "')' without a matching '('");
    strip_outer_parentheses();
    return std::move(ops_);
  }

 private:
  [[noreturn]] void fail(std::size_t pos, const std::string& what) const {
    throw InternalError("edit-descriptor string \"" + std::string(s_) + "\", column " + std::to_string(pos + 1) +
                        ": " + what);
  }

  bool at_end() const { return i_ >= s_.size(); }
  char peek() const { return at_end() ? '\0' : s_[i_]; }
  char peek_upper() const { return static_cast<char>(std::toupper(static_cast<unsigned char>(peek()))); }
  bool digit_next() const { return !at_end() && std::isdigit(static_cast<unsigned char>(s_[i_])); }

  void skip_separators() {
    while (!at_end() && (s_[i_] == ' ' || s_[i_] == ',' || s_[i_] == '\t')) ++i_;
  }

  int read_number() {
    long v = 0;
    const std::size_t start = i_;
    while (digit_next()) {
      v = v * 10 + (s_[i_] - '0');
      if (v > 100000) fail(start, "number too large");
      ++i_;
    }
    return static_cast<int>(v);
  }

  int required_number(const char* what, int lo, int hi) {
    if (!digit_next()) fail(i_, std::string("missing ") + what);
    const std::size_t start = i_;
    const int v = read_number();
    if (v < lo || v > hi)
      fail(start, std::string(what) + " " + std::to_string(v) + " outside " + std::to_string(lo) + ".." +
                      std::to_string(hi));
    return v;
  }

  // Parses items up to the ')' that closes the current group (not consumed) or the end.
  void parse_list(int depth) {
    for (;;) {
      skip_separators();
      if (at_end()) {
        if (depth > 0) fail(i_, "missing ')'");
        return;
      }
      if (peek() == ')') return;  // closes this group; at depth 0 parse() reports it
      parse_item(depth);
    }
  }

  void parse_item(int depth) {
    const std::size_t start = i_;
    int repeat = -1;
    if (digit_next()) {
      repeat = read_number();
      if (repeat < 1) fail(start, "a repeat count must be at least 1");
    }
    if (at_end()) fail(start, "a count without a descriptor");
    Item it;
    it.column = static_cast<int>(start) + 1;
    const char c = peek_upper();
    switch (c) {
      case '(': parse_group(depth, repeat, start); return;
      case '\'':
      case '"':
        if (repeat > 0) fail(start, "a repeat count before a quoted text");
        it.op = Op::Literal;
        it.text = read_literal();
        break;
      case '/':
        ++i_;
        it.op = Op::Slash;
        break;
      case 'X':
        ++i_;
        it.op = Op::Skip;
        it.w = repeat > 0 ? repeat : 1;
        repeat = 1;
        break;
      case 'I':
        ++i_;
        it.op = Op::Int;
        it.w = required_number("field width", 0, kMaxWidth);
        if (peek() == '.') {
          ++i_;
          it.d = required_number("minimum digits", 0, kMaxWidth);
          if (it.w > 0 && it.d > it.w) fail(start, "more minimum digits than the field width");
        }
        break;
      case 'F':
        ++i_;
        it.op = Op::Fixed;
        read_width_and_decimals(it, 0);
        break;
      case 'D':
        ++i_;
        it.op = Op::DExp;
        read_width_and_decimals(it, 1);
        break;
      case 'E':
        ++i_;
        if (peek_upper() == 'S') {
          ++i_;
          it.op = Op::Sci;
          read_width_and_decimals(it, 1);
        } else {
          it.op = Op::Exp;
          read_width_and_decimals(it, 1);
        }
        if (peek_upper() == 'E' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1]))) {
          ++i_;
          it.e = required_number("exponent digits", 1, 9);
        }
        break;
      case 'A':
        ++i_;
        it.op = Op::Text;
        it.w = digit_next() ? required_number("field width", 1, kMaxWidth) : -1;
        break;
      default: fail(i_, std::string("unknown edit descriptor '") + peek() + "'");
    }
    it.repeat = repeat > 0 ? repeat : 1;
    ops_.push_back(std::move(it));
  }

  // w.d of F, E, D and ES. E and D need one significant digit at least (0.dE+ee). A d
  // as large as w is legal: on input it places the point before the field.
  void read_width_and_decimals(Item& it, int min_width) {
    it.w = required_number("field width", min_width, kMaxWidth);
    if (peek() != '.') fail(i_, "missing '.d' after the field width");
    ++i_;
    const int min_d = (it.op == Op::Exp || it.op == Op::DExp) ? 1 : 0;
    it.d = required_number("number of decimals", min_d, kMaxDecimals);
  }

  std::string read_literal() {
    const char q = s_[i_];
    const std::size_t start = i_;
    ++i_;
    std::string text;
    for (;;) {
      if (at_end()) fail(start, "quoted text without its closing quote");
      const char c = s_[i_++];
      if (c == q) {
        if (peek() == q) {  // a doubled quote stands for one
          text += q;
          ++i_;
          continue;
        }
        return text;
      }
      text += c;
    }
  }

  void parse_group(int depth, int repeat, std::size_t start) {
    if (depth + 1 >= kMaxDepth) fail(start, "groups nested too deeply");
    ++i_;  // '('
    const std::size_t begin = ops_.size();
    Item open;
    open.op = Op::GroupBegin;
    open.repeat = repeat > 0 ? repeat : 1;
    open.column = static_cast<int>(start) + 1;
    open.counted = repeat > 0;
    ops_.push_back(open);
    parse_list(depth + 1);
    if (peek() != ')') fail(i_, "missing ')'");
    ++i_;
    Item close;
    close.op = Op::GroupEnd;
    close.column = static_cast<int>(i_);
    close.jump = static_cast<int>(begin);
    ops_[begin].jump = static_cast<int>(ops_.size());
    ops_.push_back(close);
  }

  // "(I5, F8.2)" and "I5, F8.2" are the same format: a single unrepeated group that
  // spans the whole text is the format's own pair of parentheses.
  void strip_outer_parentheses() {
    if (ops_.size() >= 2 && ops_.front().op == Op::GroupBegin && !ops_.front().counted &&
        ops_.front().jump == static_cast<int>(ops_.size()) - 1) {
      ops_.erase(ops_.end() - 1);
      ops_.erase(ops_.begin());
      for (Item& it : ops_)
        if (it.op == Op::GroupBegin || it.op == Op::GroupEnd) it.jump -= 1;
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::vector<Item> ops_;
};

// Reversion restarts at the last group that is not inside another group, or at the
// start when there is none.
int reversion_point(const std::vector<Item>& ops) {
  int depth = 0;
  int point = 0;
  for (std::size_t k = 0; k < ops.size(); ++k) {
    if (ops[k].op == Op::GroupBegin) {
      if (depth == 0) point = static_cast<int>(k);
      ++depth;
    } else if (ops[k].op == Op::GroupEnd) {
      --depth;
    }
  }
  return point;
}

const char* kind_name(const FmtArg& a) {
  switch (a.value().index()) {
    case 0: return "an integer";
    case 1: return "a real";
    default: return "a text";
  }
}

[[noreturn]] void wrong_kind(const std::string& text, const Item& it, const FmtArg& a, std::size_t value_no) {
  throw InternalError("format \"" + text + "\": value " + std::to_string(value_no) + " is " + kind_name(a) +
                      ", which descriptor " + describe(it) + " cannot write");
}

void put_value(std::string& out, const std::string& text, const Item& it, const FmtArg& a, std::size_t value_no) {
  const auto& v = a.value();
  switch (it.op) {
    case Op::Int:
      if (const long long* i = std::get_if<long long>(&v)) return put_integer(out, it, *i);
      break;
    case Op::Fixed:
    case Op::Exp:
    case Op::DExp:
    case Op::Sci:
      if (const double* x = std::get_if<double>(&v)) return put_real(out, it, *x);
      if (const long long* i = std::get_if<long long>(&v)) return put_real(out, it, static_cast<double>(*i));
      break;
    case Op::Text:
      if (const std::string_view* s = std::get_if<std::string_view>(&v)) return put_text(out, it, *s);
      break;
    default: break;
  }
  wrong_kind(text, it, a, value_no);
}

}  // namespace

std::string describe(const Item& it) {
  std::string s;
  auto number = [&s](int v) { s.append(std::to_string(v)); };
  auto width_and_decimals = [&](const char* name) {
    s.append(name);
    number(it.w);
    s.push_back('.');
    number(it.d);
  };
  switch (it.op) {
    case Op::Int:
      s.push_back('I');
      number(it.w);
      if (it.d >= 0) {
        s.push_back('.');
        number(it.d);
      }
      break;
    case Op::Fixed: width_and_decimals("F"); break;
    case Op::Exp: width_and_decimals("E"); break;
    case Op::DExp: width_and_decimals("D"); break;
    case Op::Sci: width_and_decimals("ES"); break;
    case Op::Text:
      s.push_back('A');
      if (it.w >= 0) number(it.w);
      break;
    case Op::Skip:
      number(it.w);
      s.push_back('X');
      break;
    case Op::Slash: s.push_back('/'); break;
    case Op::Literal:
      s.push_back('\'');
      s.append(it.text);
      s.push_back('\'');
      break;
    default: s.append("()"); break;
  }
  if ((it.op == Op::Exp || it.op == Op::Sci) && it.e > 0) {
    s.push_back('E');
    number(it.e);
  }
  return s;
}

}  // namespace fmt

using fmt::Item;
using fmt::Op;

Format::Format(std::string_view text) : impl_(std::make_unique<Impl>()) {
  impl_->text = std::string(text);
  impl_->ops = fmt::Parser(text).parse();
  impl_->reversion = fmt::reversion_point(impl_->ops);
  for (std::size_t k = static_cast<std::size_t>(impl_->reversion); k < impl_->ops.size(); ++k)
    if (impl_->ops[k].is_data()) impl_->reversion_has_data = true;
}

Format::~Format() = default;
Format::Format(Format&&) noexcept = default;
Format& Format::operator=(Format&&) noexcept = default;

const std::string& Format::text() const { return impl_->text; }

std::string Format::render(std::span<const FmtArg> args) const {
  const Impl& f = *impl_;
  std::string out;
  out.reserve(96);
  fmt::Walker walk(f);
  std::size_t next_value = 0;
  for (;;) {
    const int k = walk.next();
    if (k < 0) {
      if (next_value == args.size()) break;
      if (!f.reversion_has_data)
        throw InternalError("format \"" + f.text + "\" has no descriptor for value " + std::to_string(next_value + 1) +
                            " of " + std::to_string(args.size()));
      out += '\n';
      walk.revert();
      continue;
    }
    const Item& it = f.ops[static_cast<std::size_t>(k)];
    switch (it.op) {
      case Op::Skip: out.append(static_cast<std::size_t>(it.w), ' '); break;
      case Op::Literal: out += it.text; break;
      case Op::Slash: out.append(static_cast<std::size_t>(it.repeat), '\n'); break;
      default:
        for (int r = 0; r < it.repeat; ++r) {
          // The first data descriptor without a value ends the output.
          if (next_value == args.size()) {
            out += '\n';
            return out;
          }
          fmt::put_value(out, f.text, it, args[next_value], next_value + 1);
          ++next_value;
        }
    }
  }
  out += '\n';
  return out;
}

namespace {

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

}  // namespace

const Format& cached_format(std::string_view text) {
  // One cache per thread: worker threads (the formal integral's bins, the Monte Carlo's
  // packet blocks) write records into their own buffers, so each thread parses the
  // formats it uses once and no entry is shared or locked. A reference returned here is
  // valid on the calling thread only, until that thread ends.
  thread_local std::unordered_map<std::string, std::unique_ptr<Format>, TextHash, std::equal_to<>> cache;
  auto found = cache.find(text);
  if (found != cache.end()) return *found->second;
  auto parsed = std::make_unique<Format>(text);
  const Format& ref = *parsed;
  cache.emplace(std::string(text), std::move(parsed));
  return ref;
}

std::string render_record(std::string_view fmt, std::span<const FmtArg> args) {
  return cached_format(fmt).render(args);
}

}  // namespace mcspec
