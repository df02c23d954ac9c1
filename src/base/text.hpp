// Small text helpers for the messages of the model stages.
#pragma once

#include <charconv>
#include <string>

namespace mcspec {

// The shortest text that reads back as v (for error messages, not for records).
inline std::string text_of(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// s without its leading and trailing blanks.
inline std::string trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace mcspec
