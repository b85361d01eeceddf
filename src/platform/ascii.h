#pragma once

// Case-insensitive comparison of names (class, property and component names), in the
// ASCII range only: bytes above 127 compare as they are.

#include <string>
#include <string_view>

namespace zephro {

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

inline std::string AsciiLowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = AsciiLower(c);
  }
  return result;
}

}  // namespace zephro
