// The program's error types. Every error is caught only in main, which prints the
// message and ends the run with a non-zero exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace mcspec {

// A problem with the user's input: a file that is missing or already exists, a record
// that cannot be read, a value outside the program's limits. The message names the
// file, the record and the field where there is one, and says what was expected.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
  // file: the path as opened; record: 1-based record number (0: none); field: 1-based
  // item or field number within the read (0: none).
  InputError(const std::string& file, long record, int field, const std::string& message)
      : std::runtime_error(compose(file, record, field, message)), file_(file), record_(record), field_(field) {}
  const std::string& file() const { return file_; }
  long record() const { return record_; }
  int field() const { return field_; }

  static std::string compose(const std::string& file, long record, int field, const std::string& message) {
    std::string s = "\"" + file + "\"";
    if (record > 0) s += ", record " + std::to_string(record);
    if (field > 0) s += ", field " + std::to_string(field);
    return s + ": " + message;
  }

 private:
  std::string file_;
  long record_ = 0;
  int field_ = 0;
};

// The end of a file was reached where the read needed another record.
class EndOfFileError : public InputError {
 public:
  using InputError::InputError;
};

// A condition found during the computation that makes going on meaningless (for
// example branching ratios that do not sum to one). The message says what and where.
class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& message) : std::runtime_error(message) {}
};

// An output could not be written, flushed or closed (a full disk, a broken pipe on
// standard output): the run stops as a run error, never as an input error. The message
// names the file and the system's reason.
class WriteError : public RunError {
 public:
  using RunError::RunError;
};

// A fault of the program itself (a malformed edit-descriptor string, a value of the
// wrong kind for its descriptor).
class InternalError : public std::logic_error {
 public:
  explicit InternalError(const std::string& message) : std::logic_error(message) {}
};

}  // namespace mcspec
