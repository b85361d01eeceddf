// The file functions of the standard package: logical names (open, close),
// command files (batch, load), the knowledge base and fact files (save,
// load-facts, save-facts, and as JSON save-facts-json, load-facts-json, with
// fact-to-json for one fact's text), output capture (dribble-on, dribble-off) and file
// removal and renaming.
//
// Failing to open a file raises the platform's file error, which reaches the
// caller as "<function> error: Cannot open file <name>: <reason>". remove and
// rename report failure as FALSE instead. A file name holding a NUL character
// is an error for all of them (CheckFileName).
//
// save and save-facts build the whole text first (a fact that would not read
// back stops them there) and then replace the file in one step (ReplaceFile):
// a failed save leaves the old file as it was. Errors met reading a file
// (load, load-facts) name it and the line.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/facts_json.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/functions/user_function.h"
#include "zephro/functions/user_package.h"
#include "zephro/language/clips_parser.h"
#include "zephro/packages/standard_control.h"
#include "zephro/packages/standard_io.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/text_stream.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

#include "packages/logical_file_stream.h"
#include "packages/standard_control_internal.h"
#include "packages/standard_io_internal.h"

namespace zephro {

namespace {


Ref<IIEValue> True() {
  return Ref<IIEValue>(&FCTrue());
}

// Raises SFileAccessDisabled, naming `function`, when the engine's FileAccess
// is off: the file functions call it before they name a file to the system.
void CheckFileAccess(const TIEContext& context, const TIEUserFunction& function) {
  if (!EngineOf(context).FileAccess()) {
    RaiseIE(SFileAccessDisabled, function.FunctionName().c_str());
  }
}

TSymbolGenerator SymbolGenerator(TInferenceEngine& engine) {
  return [engine = &engine](std::string_view prefix) { return engine->GenerateSymbol(prefix); };
}

// `path`, which a function was given as a file name; raises when it cannot be one.
std::string FileName(std::string path) {
  CheckFileName(path);
  return path;
}

}  // namespace

class TOpenFunction final : public TIEUserFunction {
 public:
  TOpenFunction() : TIEUserFunction(OpenFunctionName, OpenComment, OpenSyntax, 2, 3) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    Ref<IIEValue> name = Eval(call, 1, context);
    const std::string mode_text = call.ArgumentCount() > 2 ? EvalText(call, 2, context) : "r";
    TFileMode mode;
    if (mode_text == "r") {
      mode = TFileMode::kRead;
    } else if (mode_text == "r+") {
      mode = TFileMode::kReadWrite;
    } else if (mode_text == "w") {
      mode = TFileMode::kCreate;
    } else if (mode_text == "a") {
      mode = TFileMode::kAppend;
    } else {
      RaiseIE(SInvalidFileAccess, mode_text.c_str());
    }
    TInferenceEngine& engine = EngineOf(context);
    engine.IOStreams().Add(name->AsString(), std::make_unique<TLogicalFileStream>(
                                                 path, mode, SymbolGenerator(engine)));
    InstallTokenReader(engine);
    return name->Clone();
  }
};

class TCloseFunction final : public TIEUserFunction {
 public:
  TCloseFunction()
      : TIEUserFunction(CloseFunctionName, CloseComment, CloseSyntax, 0, kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TIOStreams& streams = EngineOf(context).IOStreams();
    if (call.ArgumentCount() == 0) {
      streams.Clear();
    }
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      streams.Remove(EvalText(call, i, context));
    }
    return True();
  }
};

class TBatchFunction final : public TIEUserFunction {
 public:
  TBatchFunction() : TIEUserFunction(BatchFunctionName, BatchComment, BatchSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    return BoolValue(EngineOf(context).Batch(path));
  }
};

class TLoadFunction final : public TIEUserFunction {
 public:
  TLoadFunction() : TIEUserFunction(LoadFunctionName, LoadComment, LoadSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    // Constructs do not wait: a file loaded by a predicate while a fact is
    // being matched would compile rules in the middle of the match.
    EngineOf(context).CheckNotMatching("load constructs");
    const TNestingGuard nesting(TNesting::nLoad);
    nesting.Check();
    const std::string path = FileName(EvalText(call, 0, context));
    std::ifstream file = OpenFileForReading(path);
    Parse(EngineOf(context), file, true, path);
    return True();
  }
};

class TSaveFunction final : public TIEUserFunction {
 public:
  TSaveFunction() : TIEUserFunction(SaveFunctionName, SaveComment, SaveSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    EngineOf(context).SaveToFile(path);
    return True();
  }
};

class TLoadFactsFunction final : public TIEUserFunction {
 public:
  TLoadFactsFunction()
      : TIEUserFunction(LoadFactsFunctionName, LoadFactsComment, LoadFactsSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    EngineOf(context).LoadFacts(path);
    return True();
  }
};

class TSaveFactsFunction final : public TIEUserFunction {
 public:
  TSaveFactsFunction()
      : TIEUserFunction(SaveFactsFunctionName, SaveFactsComment, SaveFactsSyntax, 1,
                        kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    const TInferenceEngine& engine = EngineOf(context);
    std::ostringstream text;
    if (call.ArgumentCount() == 1) {
      engine.SaveFacts(text);
    }
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      const std::string template_name = EvalText(call, i, context);
      if (engine.FindFactTemplate(template_name) == nullptr) {
        RaiseIE(SUnknownFactTemplate, template_name.c_str());
      }
      engine.SaveFacts(text, template_name);
    }
    ReplaceFile(path, text.view());
    return True();
  }
};

// The JSON forms are those of engine/facts_json.h.
class TSaveFactsJsonFunction final : public TIEUserFunction {
 public:
  TSaveFactsJsonFunction()
      : TIEUserFunction(SaveFactsJsonFunctionName, SaveFactsJsonComment, SaveFactsJsonSyntax, 1,
                        1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    SaveFactsJsonFile(EngineOf(context), path);
    return True();
  }
};

class TLoadFactsJsonFunction final : public TIEUserFunction {
 public:
  TLoadFactsJsonFunction()
      : TIEUserFunction(LoadFactsJsonFunctionName, LoadFactsJsonComment, LoadFactsJsonSyntax, 1,
                        1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    LoadFactsJsonFile(EngineOf(context), path);
    return True();
  }
};

class TFactToJsonFunction final : public TIEUserFunction {
 public:
  TFactToJsonFunction()
      : TIEUserFunction(FactToJsonFunctionName, FactToJsonComment, FactToJsonSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = Eval(call, 0, context);
    Ref<IFact> fact = value->DType() == TIEType::dtFact && value->AsFact() != nullptr
                          ? Ref<IFact>(value->AsFact())
                          : FactWithId(EngineOf(context), value->AsFactId());
    return TIEValue::String(FactToJson(*fact));
  }
};

class TDribbleOnFunction final : public TIEUserFunction {
 public:
  TDribbleOnFunction()
      : TIEUserFunction(DribbleOnFunctionName, DribbleOnComment, DribbleOnSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::string path = FileName(EvalText(call, 0, context));
    return BoolValue(EngineOf(context).StartCapture(path));
  }
};

class TDribbleOffFunction final : public TIEUserFunction {
 public:
  TDribbleOffFunction()
      : TIEUserFunction(DribbleOffFunctionName, DribbleOffComment, DribbleOffSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    return BoolValue(EngineOf(context).StopCapture());
  }
};

class TRemoveFunction final : public TIEUserFunction {
 public:
  TRemoveFunction() : TIEUserFunction(RemoveFunctionName, RemoveComment, RemoveSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    std::error_code error;
    return BoolValue(std::filesystem::remove(FileName(EvalText(call, 0, context)), error));
  }
};

class TRenameFunction final : public TIEUserFunction {
 public:
  TRenameFunction() : TIEUserFunction(RenameFunctionName, RenameComment, RenameSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    CheckFileAccess(context, *this);
    const std::filesystem::path from = FileName(EvalText(call, 0, context));
    const std::filesystem::path to = FileName(EvalText(call, 1, context));
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(to, error))) {
      return BoolValue(false);
    }
    std::filesystem::rename(from, to, error);
    return BoolValue(!error);
  }
};

void AddFileFunctions(TUserPackage& package) {
  package.AddFunction<TOpenFunction>();
  package.AddFunction<TCloseFunction>();
  package.AddFunction<TBatchFunction>();
  package.AddFunction<TLoadFunction>();
  package.AddFunction<TSaveFunction>();
  package.AddFunction<TLoadFactsFunction>();
  package.AddFunction<TSaveFactsFunction>();
  package.AddFunction<TSaveFactsJsonFunction>();
  package.AddFunction<TLoadFactsJsonFunction>();
  package.AddFunction<TFactToJsonFunction>();
  package.AddFunction<TDribbleOnFunction>();
  package.AddFunction<TDribbleOffFunction>();
  package.AddFunction<TRemoveFunction>();
  package.AddFunction<TRenameFunction>();
}

}  // namespace zephro
