// Placeholder for the formatter and files, replaced as they are built.
#include "common/format.hpp"
#include "common/io.hpp"

namespace mcspec {
struct Format::Impl { std::string text; };
Format::Format(std::string_view text) : impl_(std::make_unique<Impl>()) { impl_->text = std::string(text); }
Format::~Format() = default;
Format::Format(Format&&) noexcept = default;
Format& Format::operator=(Format&&) noexcept = default;
const std::string& Format::text() const { return impl_->text; }
std::string Format::render(std::span<const FmtArg>) const { return {}; }
void Format::read(RecordSource&, std::span<const InItem>) const {}
const Format& cached_format(std::string_view) { static Format f(""); return f; }
std::string render_record(std::string_view, std::span<const FmtArg>) { return {}; }
std::string render_list(std::span<const FmtArg>) { return {}; }

void InFile::open(const std::string&, const std::string&) {}
void InFile::open_text(const std::string&, std::string_view) {}
void InFile::close() {}
const std::string& InFile::next_record() { static std::string s; return s; }
bool InFile::at_end() const { return true; }
void InFile::skip(int) {}
void InFile::read_list(std::span<const InItem>) {}
bool InFile::read_list_or_end(std::span<const InItem>) { return false; }
void InFile::read(std::string_view, std::initializer_list<InItem>) {}
void InFile::read(std::string_view, std::span<const InItem>) {}

OutFile::~OutFile() = default;
OutFile::OutFile(OutFile&&) noexcept = default;
OutFile& OutFile::operator=(OutFile&&) noexcept = default;
OutFile OutFile::standard_output() { return {}; }
void OutFile::create_new(const std::string&) {}
OutFile OutFile::memory(const std::string&) { return {}; }
void OutFile::close() {}
void OutFile::write_text(std::string_view) {}
}  // namespace mcspec
