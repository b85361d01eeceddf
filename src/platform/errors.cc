#include "zephro/platform/errors.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "zephro/platform/exceptions.h"

namespace zephro {

std::string FormatPlatformText(const char* tmpl, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, tmpl, args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  // vsnprintf writes a terminating NUL, which std::string keeps room for past size().
  std::vsnprintf(text.data(), text.size() + 1, tmpl, again);
  va_end(again);
  return text;
}

void RaisePlatformError(const char* tmpl, ...) {
  std::va_list args;
  va_start(args, tmpl);
  std::string text = FormatPlatformText(tmpl, args);
  va_end(args);
  throw EBaseException(std::move(text));
}

void RaiseListIndexError(int index, int count) {
  RaisePlatformError("List index %d out of range (count %d)", index, count);
}

}  // namespace zephro
