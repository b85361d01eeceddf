#include "zephro/values/type_set_text.h"

namespace zephro {

std::string SetToString(TIETypes kinds, std::string_view separator, bool brackets) {
  constexpr std::string_view kPrefix = "dt";
  std::string text;
  if (brackets) {
    text += '[';
  }
  bool first = true;
  kinds.ForEach([&](TIEType kind) {
    if (!first) {
      text += separator;
    }
    first = false;
    std::string_view name = IETypeName(kind);
    if (name.starts_with(kPrefix)) {
      name.remove_prefix(kPrefix.size());
    }
    text += name;
  });
  if (brackets) {
    text += ']';
  }
  return text;
}

}  // namespace zephro
