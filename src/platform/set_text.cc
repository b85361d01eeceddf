#include "zephro/platform/set_text.h"

#include <algorithm>
#include <string>

#include "zephro/platform/errors.h"

#include "platform/ascii.h"

namespace zephro {
namespace {

bool IsSetSeparator(char c) {
  return c == '[' || c == ']' || c == ',' || static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::string SetToString(std::uint64_t bits, TElementNames names, std::string_view separator,
                        bool brackets, std::size_t prefix_length) {
  std::string text;
  if (brackets) {
    text += '[';
  }
  bool first = true;
  for (std::size_t ordinal = 0; ordinal < 64; ++ordinal) {
    if ((bits & (std::uint64_t{1} << ordinal)) == 0) {
      continue;
    }
    if (!first) {
      text += separator;
    }
    first = false;
    if (ordinal < names.size()) {
      const std::string_view name = names[ordinal];
      text += name.substr(std::min(prefix_length, name.size()));
    } else {
      text += std::to_string(ordinal);
    }
  }
  if (brackets) {
    text += ']';
  }
  return text;
}

void ForEachSetItem(std::string_view text, const std::function<void(std::string_view)>& visit) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (IsSetSeparator(text[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !IsSetSeparator(text[end])) {
      ++end;
    }
    visit(text.substr(at, end - at));
    at = end;
  }
}

void RaiseInvalidSetItem(std::string_view item) {
  const std::string text(item);
  RaisePlatformError(kInvalidSetItemMessage, text.c_str());
}

std::uint64_t StringToSetBits(std::string_view text, TElementNames names, std::string_view prefix) {
  std::uint64_t bits = 0;
  ForEachSetItem(text, [&](std::string_view item) {
    std::string name(prefix);
    name += item;
    for (std::size_t ordinal = 0; ordinal < names.size() && ordinal < 64; ++ordinal) {
      if (SameText(names[ordinal], name)) {
        bits |= std::uint64_t{1} << ordinal;
        return;
      }
    }
    RaiseInvalidSetItem(name);
  });
  return bits;
}

}  // namespace zephro
