// Sequential text files of a run: input files read record by record (free format or
// fixed columns), and output files that are created new and never overwrite anything.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.hpp"

namespace mcspec {

// An input file. Records are the lines of the file without their line end ("\r\n" and
// "\n" are both accepted).
class InFile : public RecordSource {
 public:
  InFile() = default;
  // Opens an existing file; throws InputError "cannot open ..." naming the path and
  // the role of the file when it is missing or unreadable.
  void open(const std::string& path, const std::string& role);
  // Reads records from a string instead of a file (tests and generated inputs).
  void open_text(const std::string& name, std::string_view text);
  bool is_open() const { return open_; }
  void close();

  const std::string& next_record() override;
  const std::string& source_name() const override { return name_; }
  long record_number() const override { return record_; }
  // True when no record is left.
  bool at_end() const;

  // Skips n records (comment records); throws EndOfFileError at the end.
  void skip(int n = 1);

  // Free-format read. Starts at a new record; values are separated by blanks or
  // commas (a run of blanks with at most one comma between two values); when a record
  // holds too few values the read continues on the following records; values beyond
  // those needed are ignored. Integers must be integers; reals may be written with or
  // without a point or exponent (E or D); a text stands without quotes when it holds
  // no blank, comma or slash, else in single or double quotes. A slash ends the values
  // of the read: the items still unread are then an error. r*c repeats c r times.
  // An empty value (two commas in a row, a leading comma, "r*" alone) is an error: a
  // silently unchanged parameter would hide a typing mistake.
  // Throws InputError (file, record, item number, what was expected and found), or
  // EndOfFileError when the file ends before all items are read.
  void read_list(std::span<const InItem> items);
  // As read_list, but returns false (reading nothing) when the file has no further
  // record, or only blank records, before the first value.
  bool read_list_or_end(std::span<const InItem> items);
  template <class... T>
  void list(T&... items) {
    const InItem a[] = {InItem(items)...};
    read_list(a);
  }

  // Fixed-column read of the next record(s) with an edit-descriptor string, e.g.
  // read("(I3, A3, 9F8.3)", {z, sym, chi1, ...}).
  void read(std::string_view fmt, std::initializer_list<InItem> items);
  void read(std::string_view fmt, std::span<const InItem> items);

 private:
  std::string name_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  long record_ = 0;
  bool open_ = false;
};

// An output file created new, or standard output.
class OutFile {
 public:
  OutFile() = default;
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  OutFile(OutFile&& o) noexcept;
  OutFile& operator=(OutFile&& o) noexcept;

  // Standard output; flushed after every write so that progress is visible at once.
  static OutFile standard_output();
  // Creates a new file; throws InputError when it already exists or cannot be made.
  void create_new(const std::string& path);
  // Captures everything written in memory (tests); text() returns it.
  static OutFile memory(const std::string& name = "memory");
  const std::string& text() const { return mem_; }

  bool is_open() const { return f_ != nullptr || memory_; }
  const std::string& name() const { return name_; }
  // Whether create_new made this file (it stays true after closing).
  bool created() const { return created_; }
  // Flushes and closes; throws WriteError when the data could not be written
  // (for example a full disk).
  void close();
  static constexpr long kFailAtClose = -1;  // the test hook's "NAME:close"

  // Writes the records of an edit-descriptor string with these values:
  //   stst.write("(/ 5X 'Day =' F6.2 5X 'Log Taug =' F7.3)", day, logtaug);
  template <class... T>
  void write(std::string_view fmt, const T&... v) {
    const FmtArg a[] = {FmtArg(v)...};
    write_text(render_record(fmt, std::span<const FmtArg>(a, sizeof...(T))));
  }
  void write(std::string_view fmt) { write_text(render_record(fmt, {})); }
  void write_args(std::string_view fmt, std::span<const FmtArg> args) { write_text(render_record(fmt, args)); }
  // A list-directed record: out.list("  TEMP ITER  ", iter).
  template <class... T>
  void list(const T&... v) {
    const FmtArg a[] = {FmtArg(v)...};
    write_text(render_list(std::span<const FmtArg>(a, sizeof...(T))));
  }
  // Writing to a file that is not open is a fault of the program (InternalError); a
  // failed write is a WriteError naming the file and the system's reason.
  void write_text(std::string_view text);

 private:
  std::FILE* f_ = nullptr;
  bool owned_ = false;
  bool flush_each_ = false;
  bool memory_ = false;
  bool created_ = false;
  long writes_ = 0, fail_at_ = 0;  // the test hook (io.cpp)
  std::string name_;
  std::string mem_;
  std::unique_ptr<char[]> buf_;  // stdio buffer of a created file (moves with the file)
};

}  // namespace mcspec
