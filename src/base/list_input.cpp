// Free-format (list-directed) input: values separated by blanks or one comma, read
// across as many records as a read needs, with r*c repeats, quoted or bare texts, and
// a slash that ends the values of a read. Numbers are converted strictly.
#include <string>

#include "base/errors.hpp"
#include "base/format_internal.hpp"

namespace mcspec::fmt {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool ends_bare_value(char c) { return is_blank(c) || c == ',' || c == '/'; }

const char* expected_kind(const InItem& item) {
  switch (item.target().index()) {
    case 0: return "an integer";
    case 1: return "a real number";
    default: return "a text";
  }
}

class ListReader {
 public:
  ListReader(RecordSource& src, std::span<const InItem> items) : src_(src), items_(items) {}

  void read() {
    rec_ = &advance(1);
    for (std::size_t k = 0; k < items_.size(); ++k) {
      if (repeat_left_ == 0) next_value(k + 1);
      store(items_[k], k + 1);
      --repeat_left_;
    }
  }

 private:
  [[noreturn]] void fail(long record, std::size_t item_no, const std::string& message) const {
    throw InputError(src_.source_name(), record, static_cast<int>(item_no), message);
  }

  std::string expectation(std::size_t item_no) const {
    return std::string("expected ") + expected_kind(items_[item_no - 1]) + " (value " + std::to_string(item_no) +
           " of " + std::to_string(items_.size()) + ")";
  }

  const std::string& advance(std::size_t item_no) {
    try {
      return src_.next_record();
    } catch (const EndOfFileError&) {
      throw EndOfFileError(src_.source_name(), 0, static_cast<int>(item_no),
                           "end of file after record " + std::to_string(src_.record_number()) +
                               " while looking for value " + std::to_string(item_no) + " of " +
                               std::to_string(items_.size()));
    }
  }

  // Moves past the separator before the next value and reads it (with its repeat count).
  void next_value(std::size_t item_no) {
    bool comma = false;
    for (;;) {
      if (pos_ >= rec_->size()) {  // the end of a record separates like a blank
        rec_ = &advance(item_no);
        pos_ = 0;
        continue;
      }
      const char c = (*rec_)[pos_];
      if (is_blank(c)) {
        ++pos_;
      } else if (c == ',') {
        if (comma || !after_value_)
          fail(src_.record_number(), item_no, expectation(item_no) + ", found an empty value before a comma");
        comma = true;
        ++pos_;
      } else {
        break;
      }
    }
    const std::string& rec = *rec_;
    record_ = src_.record_number();
    if (rec[pos_] == '/')
      fail(record_, item_no, expectation(item_no) + ", found a slash, which ends the values of the read");
    after_value_ = true;
    repeat_left_ = read_repeat_count(item_no);
    if (rec[pos_] == '\'' || rec[pos_] == '"')
      read_quoted(item_no);
    else
      read_bare();
  }

  // "r*" before a value: the value stands for r items.
  int read_repeat_count(std::size_t item_no) {
    const std::string& rec = *rec_;
    std::size_t p = pos_;
    while (p < rec.size() && is_digit(rec[p])) ++p;
    if (p == pos_ || p >= rec.size() || rec[p] != '*') return 1;
    int r = 0;
    const std::string_view digits(rec.data() + pos_, p - pos_);
    if (parse_integer(digits, false, r) != ParseStatus::Ok || r < 1)
      fail(record_, item_no, expectation(item_no) + ", found the repeat count \"" + std::string(digits) + "*\"");
    pos_ = p + 1;
    if (pos_ >= rec.size() || ends_bare_value(rec[pos_]))
      fail(record_, item_no, expectation(item_no) + ", found \"" + std::string(digits) + "*\" without a value");
    return r;
  }

  void read_bare() {
    const std::string& rec = *rec_;
    const std::size_t start = pos_;
    while (pos_ < rec.size() && !ends_bare_value(rec[pos_])) ++pos_;
    value_ = std::string_view(rec.data() + start, pos_ - start);
    raw_ = value_;
    quoted_ = false;
  }

  // 'text' or "text"; a doubled quote inside stands for one.
  void read_quoted(std::size_t item_no) {
    const std::string& rec = *rec_;
    const char q = rec[pos_];
    const std::size_t start = pos_++;
    unquoted_.clear();
    for (;;) {
      if (pos_ >= rec.size())
        fail(record_, item_no, expectation(item_no) + ", found a quoted text without its closing quote");
      const char c = rec[pos_++];
      if (c == q) {
        if (pos_ < rec.size() && rec[pos_] == q) {
          unquoted_ += q;
          ++pos_;
          continue;
        }
        break;
      }
      unquoted_ += c;
    }
    value_ = unquoted_;
    raw_ = std::string_view(rec.data() + start, pos_ - start);
    quoted_ = true;
  }

  void store(const InItem& item, std::size_t item_no) {
    const auto& target = item.target();
    ParseStatus st = ParseStatus::Ok;
    if (int* const* ip = std::get_if<int*>(&target)) {
      st = quoted_ ? ParseStatus::Bad : parse_integer(value_, false, **ip);
    } else if (double* const* dp = std::get_if<double*>(&target)) {
      st = quoted_ ? ParseStatus::Bad : parse_real(value_, 0, false, **dp);
    } else {
      std::get<std::string*>(target)->assign(value_);
    }
    if (st == ParseStatus::Bad) fail(record_, item_no, expectation(item_no) + ", found \"" + std::string(raw_) + "\"");
    if (st == ParseStatus::Range)
      fail(record_, item_no, expectation(item_no) + " within range, found \"" + std::string(raw_) + "\"");
  }

  RecordSource& src_;
  std::span<const InItem> items_;
  const std::string* rec_ = nullptr;
  std::size_t pos_ = 0;
  bool after_value_ = false;  // a value was read and its separator not yet passed
  long record_ = 0;           // the record of the current value (messages)
  int repeat_left_ = 0;
  std::string_view value_;    // the current value's text, without quotes
  std::string_view raw_;      // as written, for messages
  bool quoted_ = false;
  std::string unquoted_;
};

}  // namespace

void read_list_values(RecordSource& src, std::span<const InItem> items) { ListReader(src, items).read(); }

}  // namespace mcspec::fmt
