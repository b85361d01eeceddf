// The file functions of the standard package: logical names (open, close),
// command files (batch, load), the knowledge base and fact files (save,
// load-facts, save-facts), output capture (dribble-on, dribble-off) and file
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
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
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

// The version the knowledge-base header names.
constexpr double kKnowledgeBaseVersion = 2.7;
constexpr std::string_view kStars = "; *************************";

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

// The file at `path`, open for reading from its start.
std::ifstream OpenForReading(const std::string& path) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    RaisePlatformError("Cannot open file %s: %s", path.c_str(),
                       errno != 0 ? std::strerror(errno) : "unknown reason");
  }
  return file;
}

// Each fact's text on a line of its own; only those of `template_name` unless
// it is null.
std::string FactsText(const TInferenceEngine& engine, const std::string* template_name) {
  std::string text;
  engine.ForEachFact([&](IFact& fact) {
    if (template_name == nullptr ||
        (fact.Template() != nullptr && fact.Template()->TemplateName() == *template_name)) {
      text += SavedFactText(fact);
      text += kLineBreak;
    }
  });
  return text;
}

std::string CreationTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, n);
}

void AppendSection(std::string& text, std::string_view title) {
  text += kLineBreak;
  text += kStars;
  text += kLineBreak;
  text += "; ";
  text += title;
  text += ' ';
  text += kLineBreak;
}

// The engine's deffunctions, in the order they were defined.
std::vector<const TInterpretedFunction*> DefFunctions(const TInferenceEngine& engine) {
  std::vector<const TInterpretedFunction*> functions;
  for (const auto& [name, function] : engine.UserFunctions()) {
    if (function && function->IsInterpreted()) {
      functions.push_back(static_cast<const TInterpretedFunction*>(function.get()));
    }
  }
  std::stable_sort(functions.begin(), functions.end(),
                   [](const auto* a, const auto* b) { return a->Order() < b->Order(); });
  return functions;
}

// The knowledge base as one text that load reads back: a comment header with
// the counts, the fact-duplication setting, then the globals, types, templates,
// deffunctions, rules, fact sets and facts, each section only when it has
// something in it.
std::string KnowledgeBaseText(TInferenceEngine& engine) {
  const std::string nl(kLineBreak);
  std::string text;
  text += std::string(kStars) + nl;
  text += "; Inference Engine v" + FormatFloat(kKnowledgeBaseVersion) + " Output" + nl;
  text += "; Created: " + CreationTime() + nl;
  text += "; Number of Global Variables: " + std::to_string(engine.GlobalVariables().Count()) + nl;
  text += "; Number of Defined Types:    " + std::to_string(engine.DefinedTypes().Count()) + nl;
  text += "; Number of Fact Templates:   " + std::to_string(engine.FactTemplates().Count()) + nl;
  text += "; Number of Rules:            " + std::to_string(engine.Rules().Count()) + nl;
  text += "; Number of Fact Sets:        " + std::to_string(engine.FactSets().Count()) + nl;
  text += "; Number of Facts:            " + std::to_string(engine.Facts().Count()) + nl;
  // The language's setting says whether duplicates are refused.
  text += engine.FactDuplication() ? "(set-fact-duplication FALSE)" : "(set-fact-duplication TRUE)";
  text += nl;
  if (engine.GlobalVariables().Count() > 0) {
    AppendSection(text, "Global Variables");
    text += nl + "(defglobal";
    for (int i = 0; i < engine.GlobalVariables().Count(); ++i) {
      const auto& [name, value] = engine.GlobalVariables().At(i);
      text += ' ';
      text += value ? PrettyPrintGlobal(name, *value) : name;
    }
    text += ")" + nl;
  }
  if (engine.DefinedTypes().Count() > 0) {
    AppendSection(text, "Defined Types");
    text += nl + engine.DefinedTypes().ToString();
  }
  if (engine.FactTemplates().Count() > 0) {
    AppendSection(text, "Fact Templates");
    text += nl + engine.FactTemplates().ToString();
    // The templates that chain backward say so again (their goal templates
    // are written above).
    std::string chaining;
    for (int i = 0; i < engine.FactTemplates().Count(); ++i) {
      const IFactTemplate& t = engine.FactTemplates().At(i);
      if (t.IsBackwardChaining()) {
        chaining += " " + WordText(t.TemplateName());
      }
    }
    if (!chaining.empty()) {
      text += nl + "(" + std::string(DoBackwardChainingFunctionName) + chaining + ")" + nl;
    }
  }
  if (engine.UserFunctions().Count() > 0) {
    // Package functions are not written; their section is there all the same.
    AppendSection(text, "Deffunctions");
    for (const TInterpretedFunction* function : DefFunctions(engine)) {
      text += nl + function->PrettyPrint();
    }
  }
  if (engine.Rules().Count() > 0) {
    AppendSection(text, "Rules");
    text += nl + engine.Rules().ToString();
  }
  if (engine.FactSets().Count() > 0) {
    AppendSection(text, "Fact Sets");
    text += nl;
    for (const TFactSet* fact_set : engine.FactSets()) {
      text += fact_set->ToString() + nl;
    }
  }
  if (engine.Facts().Count() > 0) {
    AppendSection(text, "Facts");
    text += nl + "(assert" + nl;
    engine.ForEachFact(
        [&](IFact& fact) { text += std::string(kIndent) + SavedFactText(fact) + nl; });
    text += ")" + nl;
  }
  return text;
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
    std::ifstream file = OpenForReading(path);
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
    ReplaceFile(path, KnowledgeBaseText(EngineOf(context)));
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
    std::ifstream file = OpenForReading(path);
    LoadFacts(EngineOf(context), file, path);
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
    std::string text;
    if (call.ArgumentCount() == 1) {
      text = FactsText(engine, nullptr);
    }
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      const std::string template_name = EvalText(call, i, context);
      if (engine.FindFactTemplate(template_name) == nullptr) {
        RaiseIE(SUnknownFactTemplate, template_name.c_str());
      }
      text += FactsText(engine, &template_name);
    }
    ReplaceFile(path, text);
    return True();
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
  package.AddFunction<TDribbleOnFunction>();
  package.AddFunction<TDribbleOffFunction>();
  package.AddFunction<TRemoveFunction>();
  package.AddFunction<TRenameFunction>();
}

}  // namespace zephro
