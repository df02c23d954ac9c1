// Sequential text files of a run. Inputs are small and read whole at open, then handed
// out record by record; outputs are created exclusively (an existing result is never
// truncated) and buffered, with write failures such as a full disk reported.
#include "base/io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "base/errors.hpp"
#include "base/format_internal.hpp"

namespace mcspec {

namespace {

constexpr std::size_t kOutputBufferSize = 256 * 1024;
constexpr const char* kStandardOutput = "standard output";

std::string system_message(int err) { return std::strerror(err); }

std::string role_and_path(const std::string& role, const std::string& path) {
  return (role.empty() ? "" : role + " ") + "\"" + path + "\"";
}

// Failures of the storage rather than of the name asked for.
bool is_storage_failure(int err) { return err == ENOSPC || err == EDQUOT || err == EIO || err == EFBIG; }

std::string write_failure(const std::string& name, int err) {
  const std::string what = name == kStandardOutput ? "cannot write to standard output" : "cannot write output file \"" + name + "\"";
  return what + ": " + system_message(err);
}

// The test hook MCSPEC_FAIL_WRITE=NAME:N makes the N-th write of the output NAME fail
// as on a full disk (NAME:close: its closing flush); inert unless set.
long injected_failure(const std::string& name) {
  const char* spec = std::getenv("MCSPEC_FAIL_WRITE");
  if (spec == nullptr) return 0;
  const std::string_view s(spec);
  const std::size_t colon = s.rfind(':');
  if (colon == std::string_view::npos || s.substr(0, colon) != name) return 0;
  const std::string_view n = s.substr(colon + 1);
  if (n == "close") return OutFile::kFailAtClose;
  long v = 0;
  const auto r = std::from_chars(n.data(), n.data() + n.size(), v);
  return r.ec == std::errc() && r.ptr == n.data() + n.size() && v > 0 ? v : 0;
}

bool is_blank_record(const std::string& rec) { return rec.find_first_not_of(" \t\r") == std::string::npos; }

}  // namespace

// ---------------------------------------------------------------- InFile

void InFile::open(const std::string& path, const std::string& role) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw InputError("cannot open " + role_and_path(role, path) + ": " + system_message(errno));
  std::string text;
  struct stat st{};
  if (::fstat(::fileno(f), &st) == 0 && st.st_size > 0) text.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) throw InputError("cannot read " + role_and_path(role, path) + ": " + system_message(err));
  open_text(path, text);
}

void InFile::open_text(const std::string& name, std::string_view text) {
  name_ = name;
  lines_.clear();
  std::size_t count = 0;
  for (const char c : text) count += (c == '\n');
  lines_.reserve(count + 1);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const std::size_t next = (end == std::string_view::npos) ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') --end;
    lines_.emplace_back(text.substr(start, end - start));
    start = next;
  }
  next_ = 0;
  record_ = 0;
  open_ = true;
}

void InFile::close() {
  lines_.clear();
  lines_.shrink_to_fit();
  next_ = 0;
  record_ = 0;
  open_ = false;
}

const std::string& InFile::next_record() {
  if (!open_) throw InternalError("read from input file \"" + name_ + "\", which is not open");
  if (next_ >= lines_.size())
    throw EndOfFileError(name_, 0, 0, "end of file after record " + std::to_string(lines_.size()));
  record_ = static_cast<long>(++next_);
  return lines_[next_ - 1];
}

bool InFile::at_end() const { return next_ >= lines_.size(); }

void InFile::skip(int n) {
  for (int k = 0; k < n; ++k) next_record();
}

void InFile::read_list(std::span<const InItem> items) { fmt::read_list_values(*this, items); }

bool InFile::read_list_or_end(std::span<const InItem> items) {
  for (std::size_t k = next_; k < lines_.size(); ++k) {
    if (!is_blank_record(lines_[k])) {
      read_list(items);
      return true;
    }
  }
  return false;
}

void InFile::read(std::string_view fmt, std::initializer_list<InItem> items) {
  cached_format(fmt).read(*this, std::span<const InItem>(items.begin(), items.size()));
}

void InFile::read(std::string_view fmt, std::span<const InItem> items) { cached_format(fmt).read(*this, items); }

// ---------------------------------------------------------------- OutFile

OutFile::~OutFile() {
  if (f_ != nullptr && owned_) std::fclose(f_);
}

OutFile::OutFile(OutFile&& o) noexcept
    : f_(o.f_),
      owned_(o.owned_),
      flush_each_(o.flush_each_),
      memory_(o.memory_),
      created_(o.created_),
      writes_(o.writes_),
      fail_at_(o.fail_at_),
      name_(std::move(o.name_)),
      mem_(std::move(o.mem_)),
      buf_(std::move(o.buf_)) {
  o.f_ = nullptr;
  o.owned_ = false;
  o.memory_ = false;
}

OutFile& OutFile::operator=(OutFile&& o) noexcept {
  if (this != &o) {
    if (f_ != nullptr && owned_) std::fclose(f_);
    f_ = o.f_;
    owned_ = o.owned_;
    flush_each_ = o.flush_each_;
    memory_ = o.memory_;
    created_ = o.created_;
    writes_ = o.writes_;
    fail_at_ = o.fail_at_;
    name_ = std::move(o.name_);
    mem_ = std::move(o.mem_);
    buf_ = std::move(o.buf_);
    o.f_ = nullptr;
    o.owned_ = false;
    o.memory_ = false;
  }
  return *this;
}

OutFile OutFile::standard_output() {
  OutFile o;
  o.f_ = stdout;
  o.flush_each_ = true;
  o.name_ = kStandardOutput;
  o.fail_at_ = injected_failure(kStandardOutput);
  return o;
}

OutFile OutFile::memory(const std::string& name) {
  OutFile o;
  o.memory_ = true;
  o.name_ = name;
  return o;
}

void OutFile::create_new(const std::string& path) {
  if (is_open()) close();
  // O_EXCL makes "does it exist?" and "create it" one step: a result file already
  // there is reported, never truncated.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    if (err == EEXIST) throw InputError("output file \"" + path + "\" already exists");
    const std::string message = "cannot create output file \"" + path + "\": " + system_message(err);
    if (is_storage_failure(err)) throw WriteError(message);
    throw InputError(message);
  }
  std::FILE* f = ::fdopen(fd, "w");
  if (f == nullptr) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    throw WriteError("cannot create output file \"" + path + "\": " + system_message(err));
  }
  buf_ = std::make_unique<char[]>(kOutputBufferSize);
  std::setvbuf(f, buf_.get(), _IOFBF, kOutputBufferSize);
  f_ = f;
  owned_ = true;
  flush_each_ = false;
  memory_ = false;
  name_ = path;
  mem_.clear();
  created_ = true;
  writes_ = 0;
  fail_at_ = injected_failure(path);
}

void OutFile::close() {
  if (memory_) {
    memory_ = false;  // the captured text stays readable
    return;
  }
  if (f_ == nullptr) return;
  std::FILE* f = f_;
  f_ = nullptr;
  int err = 0;
  if (fail_at_ == kFailAtClose) err = ENOSPC;
  if (std::fflush(f) != 0 && err == 0) err = errno;
  if (err == 0 && std::ferror(f) != 0) err = EIO;
  if (owned_ && std::fclose(f) != 0 && err == 0) err = errno;
  owned_ = false;
  buf_.reset();
  if (err != 0) throw WriteError(write_failure(name_, err));
}

void OutFile::write_text(std::string_view text) {
  if (memory_) {
    mem_ += text;
    return;
  }
  if (f_ == nullptr)
    throw InternalError("write to output file \"" + name_ + "\", which is not open");
  if (fail_at_ > 0 && ++writes_ == fail_at_) throw WriteError(write_failure(name_, ENOSPC));
  if (std::fwrite(text.data(), 1, text.size(), f_) != text.size() || (flush_each_ && std::fflush(f_) != 0)) {
    const int err = errno != 0 ? errno : EIO;
    std::clearerr(f_);
    throw WriteError(write_failure(name_, err));
  }
}

}  // namespace mcspec
