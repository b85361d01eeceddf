#include "zephro/packages/typed_function.h"

#include <string>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {

TTypedFunction::TTypedFunction(std::span<const TFunctionTypeInfo> types, int type) : types_(types) {
  SetTypeIndex(type);
}

void TTypedFunction::SetTypeIndex(int type) {
  if (type < 0 || static_cast<std::size_t>(type) >= types_.size()) {
    RaiseError("no function type " + std::to_string(type));
  }
  const TFunctionTypeInfo& info = types_[static_cast<std::size_t>(type)];
  type_ = type;
  TIEUserFunction::SetFunctionName(info.name);
  SetComment(FormatMessage(CommentFormat, std::string(info.comment).c_str()));
  SetArgumentString(info.syntax);
  SetMinArgumentCount(info.min_arguments);
  SetMaxArgumentCount(info.max_arguments);
}

void TTypedFunction::SetFunctionName(std::string_view name) {
  for (std::size_t i = 0; i < types_.size(); ++i) {
    if (types_[i].name == name) {
      SetTypeIndex(static_cast<int>(i));
      return;
    }
  }
  TIEUserFunction::SetFunctionName(name);
}

}  // namespace zephro
