#include "zephro/values/type_set_text.h"

namespace zephro {

std::string GetIETypeName(TIEType kind) {
  return std::string(IETypeName(kind));
}

std::string SetToString(TIETypes kinds, std::string_view separator, bool brackets) {
  constexpr std::size_t kPrefixLength = 2;  // "dt"
  return SetToString(kinds.Bits(), kIETypeNames, separator, brackets, kPrefixLength);
}

}  // namespace zephro
