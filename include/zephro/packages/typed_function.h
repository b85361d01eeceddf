#pragma once

// Functions that come in families: one class serves several functions that
// share a body, each function of the family a "type" chosen when it is
// created. The type fixes the function's name, help text, syntax and argument
// limits (an entry of the family's table), and renaming the function to
// another name of its family switches it to that type.
//
// A family is an enumeration E, a table of its types in the enumeration's
// order, returned by an overload FunctionTypes(E) in the namespace of E, and a
// body, TFamilyFunction<E>::Run, specialised for E:
//
//   enum class TColourFunctionType : std::uint8_t { cfRed, cfGreen };
//   std::span<const TFunctionTypeInfo> FunctionTypes(TColourFunctionType);
//   using TColourFunction = TFamilyFunction<TColourFunctionType>;
//   template <>
//   Ref<IIEValue> TColourFunction::Run(IFunCall& call, TIEContext& context);
//
//   package.AddFunction<TColourFunction>(TColourFunctionType::cfGreen);
//   AddFamily<TColourFunction>(package);  // or every function of the family
//
// Thread safety: as for any function; use it on the engine's thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "zephro/functions/user_function.h"
#include "zephro/functions/user_package.h"

namespace zephro {

// What one value of a function type gives its function.
struct TFunctionTypeInfo {
  std::string_view name;
  std::string_view comment;
  std::string_view syntax;
  std::int32_t min_arguments;
  std::int32_t max_arguments;
};

// A function of a family: its name, help text, syntax and argument limits
// are those of its type, an entry of the family's table.
class TTypedFunction : public TIEUserFunction {
 public:
  // A name of the family selects that type (and its metadata); any other
  // name only renames the function.
  void SetFunctionName(std::string_view name) override;

 protected:
  TTypedFunction(std::span<const TFunctionTypeInfo> types, int type);
  int TypeIndex() const noexcept { return type_; }
  void SetTypeIndex(int type);

 private:
  std::span<const TFunctionTypeInfo> types_;
  int type_ = 0;
};

// The function of family E; its type defaults to E's first value. Each
// family has a body of its own (Run, specialised for E).
template <class E>
class TFamilyFunction final : public TTypedFunction {
 public:
  using TType = E;
  explicit TFamilyFunction(E type = E{})
      : TTypedFunction(FunctionTypes(type), static_cast<int>(type)) {}

  E FunctionType() const noexcept { return static_cast<E>(TypeIndex()); }
  void SetFunctionType(E type) { SetTypeIndex(static_cast<int>(type)); }

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;
};

// One function of family F for each entry of its table, in table order.
template <class F>
void AddFamily(TUserPackage& package) {
  using TType = typename F::TType;
  const std::size_t count = FunctionTypes(TType{}).size();
  for (std::size_t i = 0; i < count; ++i) {
    package.AddFunction<F>(static_cast<TType>(i));
  }
}

}  // namespace zephro
