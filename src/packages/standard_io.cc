// printout, format, read and readline, and the registration of the standard
// package's I/O, file and multifield functions.

#include "zephro/packages/standard_io.h"

#include <string>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/functions/user_function.h"
#include "zephro/functions/user_package.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

#include "packages/logical_file_stream.h"
#include "packages/standard_control_internal.h"
#include "packages/standard_functions.h"
#include "packages/standard_io_internal.h"

namespace zephro {

namespace {

// What printout writes for one argument.
std::string PrintedText(const IIEValue& value) {
  switch (value.DType()) {
    case TIEType::dtAtom:
      return value.Text() == "crlf" ? std::string(kLineBreak) : value.AsString();
    case TIEType::dtString:
    case TIEType::dtInteger:
    case TIEType::dtFloat:
      return value.AsString();
    case TIEType::dtList:
      return value.AsList() != nullptr ? ListText(*value.AsList()) : "()";
    default:
      return value.ToString();
  }
}

// The logical name in argument 0, the empty name when there is none.
std::string LogicalName(IFunCall& call, TIEContext& context) {
  return call.ArgumentCount() > 0 ? call.Argument(0)->Resolve(&context)->AsString() : std::string();
}

}  // namespace

class TPrintOutFunction final : public TIEUserFunction {
 public:
  TPrintOutFunction()
      : TIEUserFunction(PrintOutFunctionName, PrintOutComment, PrintOutSyntax, 0,
                        kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::string text;
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      text += PrintedText(*Eval(call, i, context));
    }
    EngineOf(context).PrintOut(LogicalName(call, context), text);
    return Ref<IIEValue>(&FCNil());
  }
};

class TFormatFunction final : public TIEUserFunction {
 public:
  TFormatFunction()
      : TIEUserFunction(FormatFunctionName, FormatComment, FormatSyntax, 2, kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::vector<Ref<IIEValue>> values;
    values.reserve(static_cast<std::size_t>(call.ArgumentCount()));
    for (int i = 2; i < call.ArgumentCount(); ++i) {
      values.push_back(Eval(call, i, context));
    }
    // The control string is taken as written.
    const std::string text = CLIPSFormat(call.Argument(1)->AsString(), values);
    EngineOf(context).PrintOut(LogicalName(call, context), text);
    return Ref<IIEValue>(&FCNil());
  }
};

class TReadFunction final : public TIEUserFunction {
 public:
  TReadFunction() : TIEUserFunction(ReadFunctionName, ReadComment, ReadSyntax, 0, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string name = LogicalName(call, context);
    TInferenceEngine& engine = EngineOf(context);
    InstallTokenReader(engine);
    Ref<IStreamToken> token = engine.ReadToken(name);
    // A host's read event that supplies no token ends the input.
    return token ? token->Value() : Ref<IIEValue>(&FCEOF());
  }
};

class TReadLineFunction final : public TIEUserFunction {
 public:
  TReadLineFunction()
      : TIEUserFunction(ReadLineFunctionName, ReadLineComment, ReadLineSyntax, 0, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string name = LogicalName(call, context);
    const std::string line = EngineOf(context).ReadLine(name);
    return line.empty() ? Ref<IIEValue>(&FCEOF()) : TIEValue::String(line);
  }
};

void AddPrintAndReadFunctions(TUserPackage& package) {
  package.AddFunction<TPrintOutFunction>();
  package.AddFunction<TFormatFunction>();
  package.AddFunction<TReadFunction>();
  package.AddFunction<TReadLineFunction>();
}

void AddStandardIoFunctions(TUserPackage& package) {
  AddPrintAndReadFunctions(package);
  AddFileFunctions(package);
  AddMultifieldFunctions(package);
}

}  // namespace zephro
