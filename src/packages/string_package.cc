#include "zephro/packages/string_package.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "zephro/packages/standard_io.h"
#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

#include "platform/ascii.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TStringPackage);

namespace {

// A text length or position as a language integer. Texts longer than the
// 32-bit range cannot come from the language; clamp rather than wrap.
std::int32_t TextInteger(std::size_t n) {
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(n < kMax ? n : kMax);
}

// str-cat and sym-cat: the texts of every argument, in order.
class TConcatenateFunction : public TIEUserFunction {
 protected:
  TConcatenateFunction(const char* name, const char* comment, const char* syntax, TIEType kind)
      : TIEUserFunction(name, comment, syntax), kind_(kind) {}
  ~TConcatenateFunction() override = default;

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::string text;
    for (int index = 0; index < call.ArgumentCount(); ++index) {
      text += EvalText(call, index, context);
    }
    return MakeRef<TIEValue>(text, kind_);
  }

 private:
  TIEType kind_;
};

class TStrCatFunction final : public TConcatenateFunction {
 public:
  TStrCatFunction()
      : TConcatenateFunction(StrCatFunctionName, StrCatComment, StrCatSyntax, TIEType::dtString) {}
};

class TSymCatFunction final : public TConcatenateFunction {
 public:
  TSymCatFunction()
      : TConcatenateFunction(SymCatFunctionName, SymCatComment, SymCatSyntax, TIEType::dtAtom) {}
};

class TStrCompFunction final : public TIEUserFunction {
 public:
  TStrCompFunction() : TIEUserFunction(StrCompFunctionName, StrCompComment, StrCompSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string a = EvalText(call, 0, context);
    const std::string b = EvalText(call, 1, context);
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) {
        return TIEValue::Integer(static_cast<unsigned char>(a[i]) -
                                 static_cast<unsigned char>(b[i]));
      }
    }
    return TIEValue::Integer(TextInteger(a.size()) - TextInteger(b.size()));
  }
};

class TStrIndexFunction final : public TIEUserFunction {
 public:
  TStrIndexFunction()
      : TIEUserFunction(StrIndexFunctionName, StrIndexComment, StrIndexSyntax, 2, 2) {}

 protected:
  // The empty text occurs nowhere, as with the platform's position search.
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string needle = EvalText(call, 0, context);
    const std::string haystack = EvalText(call, 1, context);
    const std::size_t at = needle.empty() ? std::string::npos : haystack.find(needle);
    if (at == std::string::npos) {
      return BoolValue(false);
    }
    return TIEValue::Integer(TextInteger(at + 1));
  }
};

class TStrLengthFunction final : public TIEUserFunction {
 public:
  TStrLengthFunction()
      : TIEUserFunction(StrLengthFunctionName, StrLengthComment, StrLengthSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return TIEValue::Integer(TextInteger(EvalText(call, 0, context).size()));
  }
};

class TSubStringFunction final : public TIEUserFunction {
 public:
  TSubStringFunction()
      : TIEUserFunction(SubStringFunctionName, SubStringComment, SubStringSyntax, 3, 3) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::int32_t start = EvalInteger(call, 0, context);
    const std::int32_t end = EvalInteger(call, 1, context);
    const std::string text = EvalText(call, 2, context);
    // In 64 bits, so that end = start - 1 cannot overflow.
    if (start < 1 || start > TextInteger(text.size()) ||
        std::int64_t{end} < std::int64_t{start} - 1) {
      RaiseIE(SInvalidSubstrParameters, start, end);
    }
    const auto first = static_cast<std::size_t>(start - 1);
    const std::size_t count = end < start ? 0 : static_cast<std::size_t>(end) - first;
    return TIEValue::String(std::string_view(text).substr(first, count));
  }
};

// upcase and lowcase: `Convert` maps one byte.
template <char (*Convert)(char)>
class TCaseFunction : public TIEUserFunction {
 protected:
  TCaseFunction(const char* name, const char* comment, const char* syntax)
      : TIEUserFunction(name, comment, syntax, 1, 1) {}
  ~TCaseFunction() override = default;

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = Eval(call, 0, context);
    std::string text = value->AsString();
    for (char& c : text) {
      c = Convert(c);
    }
    const TIEType kind =
        IEStringTypes.Contains(value->DType()) ? value->DType() : TIEType::dtString;
    return MakeRef<TIEValue>(text, kind);
  }
};

// The counterpart of AsciiLower (platform/ascii.h).
char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

class TUpperCaseFunction final : public TCaseFunction<AsciiUpper> {
 public:
  TUpperCaseFunction() : TCaseFunction(UpperCaseFunctionName, UpperCaseComment, UpperCaseSyntax) {}
};

class TLowerCaseFunction final : public TCaseFunction<AsciiLower> {
 public:
  TLowerCaseFunction() : TCaseFunction(LowerCaseFunctionName, LowerCaseComment, LowerCaseSyntax) {}
};

class TStrFormatFunction final : public TIEUserFunction {
 public:
  TStrFormatFunction()
      : TIEUserFunction(StrFormatFunctionName, StrFormatComment, StrFormatSyntax, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::vector<Ref<IIEValue>> values;
    values.reserve(static_cast<std::size_t>(call.ArgumentCount() - 1));
    for (int index = 1; index < call.ArgumentCount(); ++index) {
      values.push_back(Eval(call, index, context));
    }
    return TIEValue::String(CLIPSFormat(call.Argument(0)->AsString(), values));
  }
};

}  // namespace

TStringPackage::TStringPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TStringPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  AddFunction<TStrCatFunction>();
  AddFunction<TSymCatFunction>();
  AddFunction<TStrCompFunction>();
  AddFunction<TStrIndexFunction>();
  AddFunction<TStrLengthFunction>();
  AddFunction<TSubStringFunction>();
  AddFunction<TUpperCaseFunction>();
  AddFunction<TLowerCaseFunction>();
  AddFunction<TStrFormatFunction>();
}

}  // namespace zephro
