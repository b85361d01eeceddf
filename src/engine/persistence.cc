// Saving and loading an engine's knowledge, and copying one engine into
// another.
//
// Everything is saved as text in the engine's own language: each construct
// prints itself and the parser reads it back. Facts are saved in the form the
// parser promises to read back as equal facts (IEngineParser::SavedFactText),
// which is not always their printed form: nil prints as nothing, a float
// prints rounded.

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <istream>
#include <map>
#include <set>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/engine_parts.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/platform/component_stream.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/scope_exit.h"
#include "zephro/platform/text_stream.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/values/nesting.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {

namespace {

// The version the knowledge-base header names.
constexpr double kKnowledgeBaseVersion = 2.7;
constexpr std::string_view kStars = "; *************************";
// The language's command that marks templates as chaining backward.
constexpr std::string_view kDoBackwardChaining = "do-backward-chaining";

// Now, in the locale's short date and time.
std::string CreationTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::ostringstream text;
  text << std::put_time(&local, "%x %X");
  return text.str();
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

// Writes `text` to `stream`, raising when the stream fails.
void Write(std::ostream& stream, std::string_view text) {
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!stream) {
    RaisePlatformError("Cannot write to the stream");
  }
}

// What `save` writes to `stream`, built whole first, into the file at
// `file_name`, replacing it in one step.
template <class Save>
void SaveToFileWith(const std::string& file_name, Save save) {
  CheckFileName(file_name);
  std::ostringstream text;
  save(text);
  ReplaceFile(file_name, text.view());
}

// Opens the file at `file_name` for reading and hands it to `read`.
template <class Read>
auto WithFile(const std::string& file_name, Read read) {
  CheckFileName(file_name);
  std::ifstream file = OpenFileForReading(file_name);
  return read(file);
}

// Each item's text, every item after its parent when the parent is one of
// them (templates, types).
template <class T, class ParentOf>
std::vector<std::string> ParentsFirstTexts(const std::vector<const T*>& items, ParentOf parent_of) {
  std::vector<std::string> texts;
  std::set<const T*> done;
  const std::set<const T*> all(items.begin(), items.end());
  std::vector<const T*> line;
  for (const T* item : items) {
    // The item's ancestors not yet written, nearest last; a cycle stops at
    // an item already on the line.
    line.clear();
    for (const T* at = item; at != nullptr && all.contains(at) && !done.contains(at) &&
                             std::find(line.begin(), line.end(), at) == line.end();
         at = parent_of(*at)) {
      line.push_back(at);
    }
    for (auto it = line.rbegin(); it != line.rend(); ++it) {
      texts.push_back((*it)->ToString());
      done.insert(*it);
    }
  }
  return texts;
}

}  // namespace

// --- per kind ------------------------------------------------------------------------------------

void TInferenceEngine::SaveFacts(std::ostream& stream) const {
  SaveFacts(stream, std::string_view());
}

void TInferenceEngine::SaveFacts(std::ostream& stream, std::string_view template_name) const {
  // Built whole first: a fact that would not read back writes nothing.
  std::string text;
  ForEachFact([&](IFact& fact) {
    if (template_name.empty() ||
        (fact.Template() != nullptr && fact.Template()->TemplateName() == template_name)) {
      text += parser_->SavedFactText(fact);
      text += kLineBreak;
    }
  });
  Write(stream, text);
}

void TInferenceEngine::SaveFacts(const std::string& file_name) const {
  SaveToFileWith(file_name, [&](std::ostream& s) { SaveFacts(s); });
}

void TInferenceEngine::SaveFacts(const std::string& file_name,
                                 std::string_view template_name) const {
  SaveToFileWith(file_name, [&](std::ostream& s) { SaveFacts(s, template_name); });
}

int TInferenceEngine::LoadFacts(std::istream& stream) {
  return parser_->LoadFactsInput(stream, {});
}

int TInferenceEngine::LoadFacts(const std::string& file_name) {
  return WithFile(file_name, [&](std::istream& file) {
    return parser_->LoadFactsInput(file, file_name);
  });
}

void TInferenceEngine::SaveFactTemplates(std::ostream& stream) const {
  Write(stream, fact_templates_->ToString());
}

void TInferenceEngine::SaveFactTemplates(const std::string& file_name) const {
  SaveToFileWith(file_name, [&](std::ostream& s) { SaveFactTemplates(s); });
}

void TInferenceEngine::LoadFactTemplates(std::istream& stream) {
  LoadInput(stream, {}, [this] { fact_templates_->Clear(); });
}

void TInferenceEngine::LoadFactTemplates(const std::string& file_name) {
  WithFile(file_name, [&](std::istream& file) {
    LoadInput(file, file_name, [this] { fact_templates_->Clear(); });
  });
}

void TInferenceEngine::SaveRules(std::ostream& stream) const { Write(stream, rules_->ToString()); }

void TInferenceEngine::SaveRules(const std::string& file_name) const {
  SaveToFileWith(file_name, [&](std::ostream& s) { SaveRules(s); });
}

void TInferenceEngine::LoadRules(std::istream& stream) {
  LoadInput(stream, {}, [this] { rules_->Clear(); });
}

void TInferenceEngine::LoadRules(const std::string& file_name) {
  WithFile(file_name,
           [&](std::istream& file) { LoadInput(file, file_name, [this] { rules_->Clear(); }); });
}

void TInferenceEngine::SaveDefinedTypes(std::ostream& stream) const {
  Write(stream, defined_types_->ToString());
}

void TInferenceEngine::SaveDefinedTypes(const std::string& file_name) const {
  SaveToFileWith(file_name, [&](std::ostream& s) { SaveDefinedTypes(s); });
}

void TInferenceEngine::LoadDefinedTypes(std::istream& stream) {
  LoadInput(stream, {}, [this] { defined_types_->Clear(); });
}

void TInferenceEngine::LoadDefinedTypes(const std::string& file_name) {
  WithFile(file_name, [&](std::istream& file) {
    LoadInput(file, file_name, [this] { defined_types_->Clear(); });
  });
}

void TInferenceEngine::LoadInput(std::istream& stream, std::string_view source_name,
                                 const std::function<void()>& clear) {
  CheckNotMatching("load constructs");
  const TNestingGuard nesting(TNesting::nLoad);
  nesting.Check();
  if (clear) {
    clear();
  }
  parser_->ParseInput(stream, true, source_name);
}

// --- the whole knowledge base -------------------------------------------------------------------

std::string TInferenceEngine::GetExpertSystem() const {
  const std::string nl(kLineBreak);
  std::string text;
  text += std::string(kStars) + nl;
  text += "; Inference Engine v" + FormatFloat(kKnowledgeBaseVersion) + " Output" + nl;
  text += "; Created: " + CreationTime() + nl;
  text += "; Number of Global Variables: " + std::to_string(global_variables_->Count()) + nl;
  text += "; Number of Defined Types:    " + std::to_string(defined_types_->Count()) + nl;
  text += "; Number of Fact Templates:   " + std::to_string(fact_templates_->Count()) + nl;
  text += "; Number of Rules:            " + std::to_string(rules_->Count()) + nl;
  text += "; Number of Fact Sets:        " + std::to_string(fact_sets_->Count()) + nl;
  text += "; Number of Facts:            " + std::to_string(facts_->Count()) + nl;
  // The language's setting says whether duplicates are refused.
  text += fact_duplication_ ? "(set-fact-duplication FALSE)" : "(set-fact-duplication TRUE)";
  text += nl;
  if (global_variables_->Count() > 0) {
    AppendSection(text, "Global Variables");
    text += nl + PrettyPrintGlobalVariables(*global_variables_) + nl;
  }
  if (defined_types_->Count() > 0) {
    AppendSection(text, "Defined Types");
    text += nl + defined_types_->ToString();
  }
  if (fact_templates_->Count() > 0) {
    AppendSection(text, "Fact Templates");
    text += nl + fact_templates_->ToString();
    // The templates that chain backward say so again (their goal templates
    // are written above).
    std::string chaining;
    for (int i = 0; i < fact_templates_->Count(); ++i) {
      const IFactTemplate& t = fact_templates_->At(i);
      if (t.IsBackwardChaining()) {
        chaining += " " + WordText(t.TemplateName());
      }
    }
    if (!chaining.empty()) {
      text += nl + "(" + std::string(kDoBackwardChaining) + chaining + ")" + nl;
    }
  }
  if (user_functions_->Count() > 0) {
    // Package functions are not written; their section is there all the same.
    AppendSection(text, "Deffunctions");
    for (const TInterpretedFunction* function : user_functions_->DefFunctions()) {
      text += nl + function->PrettyPrint();
    }
  }
  if (rules_->Count() > 0) {
    AppendSection(text, "Rules");
    text += nl + rules_->ToString();
  }
  if (fact_sets_->Count() > 0) {
    AppendSection(text, "Fact Sets");
    text += nl;
    for (const TFactSet* fact_set : *fact_sets_) {
      text += SavedFactSetText(*fact_set) + nl;
    }
  }
  if (facts_->Count() > 0) {
    AppendSection(text, "Facts");
    text += nl + "(assert" + nl;
    ForEachFact([&](IFact& fact) {
      text += std::string(kIndent) + parser_->SavedFactText(fact) + nl;
    });
    text += ")" + nl;
  }
  return text;
}

std::string TInferenceEngine::SavedFactSetText(const TFactSet& fact_set) const {
  std::string text = "(deffacts " + fact_set.FactSetName();
  if (!fact_set.Comment().empty()) {
    text += " " + TIEValue::String(fact_set.Comment())->ToString();
  }
  text += kLineBreak;
  int i = 0;
  for (const IFact* fact : fact_set.Facts()) {
    // A fact whose values are all constants is written as it is saved (nil
    // stays nil); one that holds expressions (which do not save) as it was
    // read.
    std::string line = fact_set.Text(i++);
    if (fact != nullptr) {
      try {
        line = parser_->SavedFactText(*fact);
      } catch (const EBaseException&) {
      }
    }
    text += std::string(kPrintIndent) + line + std::string(kLineBreak);
  }
  return text + ")";
}

void TInferenceEngine::SetExpertSystem(std::string_view text) {
  Clear();
  Parse(text, true);
  Reset();
}

void TInferenceEngine::SaveToStream(std::ostream& stream) const { Write(stream, GetExpertSystem()); }

void TInferenceEngine::LoadFromStream(std::istream& stream) { LoadInput(stream, {}, {}); }

void TInferenceEngine::SaveToFile(const std::string& file_name) const {
  CheckFileName(file_name);
  ReplaceFile(file_name, GetExpertSystem());
}

void TInferenceEngine::LoadFromFile(const std::string& file_name) {
  WithFile(file_name, [&](std::istream& file) { LoadInput(file, file_name, {}); });
}

// --- the component stream ----------------------------------------------------------------------

void TInferenceEngine::GetChildren(const std::function<void(TComponent&)>& /*proc*/) const {}

void TInferenceEngine::DefineProperties(TFiler& filer) {
  TComponent::DefineProperties(filer);
  // Each text of a list, parsed and acted on (constructs are added).
  auto parse_each = [this](TReader& reader) {
    for (const std::string& text : reader.ReadStrings()) {
      Parse(text, true);
    }
  };

  std::vector<const IIEDefinedType*> types;
  for (int i = 0; i < defined_types_->Count(); ++i) {
    types.push_back(&defined_types_->At(i));
  }
  filer.DefineProperty(
      "DefTypes",
      [&](TReader& reader) {
        defined_types_->Clear();
        parse_each(reader);
      },
      [&](TWriter& writer) {
        writer.WriteStrings(
            ParentsFirstTexts(types, [](const IIEDefinedType& t) { return t.Ancestor(); }));
      },
      !types.empty());

  std::vector<const IFactTemplate*> templates;
  for (int i = 0; i < fact_templates_->Count(); ++i) {
    templates.push_back(&fact_templates_->At(i));
  }
  filer.DefineProperty(
      "Templates",
      [&](TReader& reader) {
        fact_templates_->Clear();
        parse_each(reader);
      },
      [&](TWriter& writer) {
        std::vector<std::string> texts =
            ParentsFirstTexts(templates, [](const IFactTemplate& t) { return t.Parent(); });
        // The templates that chain backward say so after them.
        for (const IFactTemplate* t : templates) {
          if (t->IsBackwardChaining()) {
            texts.push_back("(" + std::string(kDoBackwardChaining) + " " +
                            WordText(t->TemplateName()) + ")");
          }
        }
        writer.WriteStrings(texts);
      },
      !templates.empty());

  const std::vector<const TInterpretedFunction*> functions = user_functions_->DefFunctions();
  filer.DefineProperty(
      "Functions", parse_each,
      [&](TWriter& writer) {
        std::vector<std::string> texts;
        for (const TInterpretedFunction* function : functions) {
          texts.push_back(function->PrettyPrint());
        }
        writer.WriteStrings(texts);
      },
      !functions.empty());

  filer.DefineProperty(
      "Variables",
      [&](TReader& reader) {
        global_variables_->Clear();
        for (const std::string& text : reader.ReadStrings()) {
          Parse("(defglobal " + text + ")", true);
        }
      },
      [&](TWriter& writer) {
        std::vector<std::string> texts;
        for (int i = 0; i < global_variables_->Count(); ++i) {
          const auto& [name, value] = global_variables_->At(i);
          texts.push_back(PrettyPrintGlobal(name, *value));
        }
        writer.WriteStrings(texts);
      },
      global_variables_->Count() > 0);

  filer.DefineProperty(
      "Rules",
      [&](TReader& reader) {
        rules_->Clear();
        parse_each(reader);
      },
      [&](TWriter& writer) {
        std::vector<std::string> texts;
        for (int i = 0; i < rules_->Count(); ++i) {
          texts.push_back(PrettyPrint(rules_->At(i)));
        }
        writer.WriteStrings(texts);
      },
      rules_->Count() > 0);

  filer.DefineProperty(
      "FactSets",
      [&](TReader& reader) {
        fact_sets_->Clear();
        parse_each(reader);
      },
      [&](TWriter& writer) {
        std::vector<std::string> texts;
        for (const TFactSet* fact_set : *fact_sets_) {
          texts.push_back(SavedFactSetText(*fact_set));
        }
        writer.WriteStrings(texts);
      },
      fact_sets_->Count() > 0);

  filer.DefineProperty(
      "FactsList",
      [&](TReader& reader) {
        for (const std::string& text : reader.ReadStrings()) {
          Assert(text);
        }
      },
      [&](TWriter& writer) {
        std::vector<std::string> texts;
        ForEachFact([&](IFact& fact) { texts.push_back(parser_->SavedFactText(fact)); });
        writer.WriteStrings(texts);
      },
      facts_->Count() > 0);
}

// --- copying an engine --------------------------------------------------------------------------

void TInferenceEngine::Assign(const TPersistent& source) {
  const auto* from = dynamic_cast<const TInferenceEngine*>(&source);
  if (from == nullptr) {
    TComponent::Assign(source);
    return;
  }
  if (from == this) {
    return;
  }
  Clear();
  // Copying prints nothing: neither what loading echoes nor traces (the
  // watch is copied last).
  auto print_out = std::exchange(OnPrintOut, nullptr);
  const TScopeExit restore([&] { OnPrintOut = std::move(print_out); });
  // Settings first, with no type checks while the source's constructs come
  // over: they passed its checks.
  const TTypeChecks checks = from->TypeChecks();
  SetTypeChecks({});
  salience_evaluation_ = from->salience_evaluation_;
  SetStrategy(from->Strategy());
  fact_duplication_ = from->fact_duplication_;
  duplicate_constructs_ = TDuplicateConstructs::dcOverwrite;
  SetParserMaxErrors(from->ParserMaxErrors());
  SetParserErrorHandling(TErrorHandling::ehRaiseImmediate);
  reset_globals_ = from->reset_globals_;
  echo_results_ = from->echo_results_;
  fuzzy_auto_terms_ = from->fuzzy_auto_terms_;
  SetFuzzyEqualsThreshold(from->fuzzy_equals_threshold_);
  fuzzy_correlation_ = from->fuzzy_correlation_;
  fuzzy_inference_ = from->fuzzy_inference_;
  SetMinActivationStrength(from->MinActivationStrength());
  SetWatch({});

  // Host functions the source has and this engine lacks are shared.
  user_functions_->Assign(*from->user_functions_);
  // Types, templates, deffunctions, globals and fact sets as their text.
  std::string text = from->defined_types_->ToString();
  for (int i = 0; i < from->fact_templates_->Count(); ++i) {
    const IFactTemplate& t = from->fact_templates_->At(i);
    const IFactTemplate* mine = FindFactTemplate(t.TemplateName());
    if (mine == nullptr || PrintTemplate(*mine) != PrintTemplate(t)) {
      text += PrintTemplate(t) + std::string(kLineBreak);
    }
  }
  for (const TInterpretedFunction* function : from->user_functions_->DefFunctions()) {
    text += function->PrettyPrint() + std::string(kLineBreak);
  }
  if (from->global_variables_->Count() > 0) {
    text += PrettyPrintGlobalVariables(*from->global_variables_) + std::string(kLineBreak);
  }
  for (const TFactSet* fact_set : *from->fact_sets_) {
    text += from->SavedFactSetText(*fact_set) + std::string(kLineBreak);
  }
  Parse(text, true);
  for (int i = 0; i < from->fact_templates_->Count(); ++i) {
    const IFactTemplate& t = from->fact_templates_->At(i);
    if (t.IsBackwardChaining()) {
      if (IFactTemplate* mine = FindFactTemplate(t.TemplateName())) {
        mine->SetBackwardChaining(true);
      }
    }
  }
  // The globals' current values, which the source's run may have changed.
  for (int i = 0; i < from->global_variables_->Count(); ++i) {
    const std::string& name = from->global_variables_->At(i).first;
    const TBinding* binding = from->context_->FindGlobalBinding(name);
    if (binding != nullptr && binding->Value() != nullptr) {
      context_->AddGlobalBinding(name, binding->Value()->Clone());
    }
  }
  // Working memory, with the source's ids, in its order; then the rules,
  // which match it as they are added.
  facts_->Clear();
  from->ForEachFact([&](IFact& fact) {
    next_fact_id_ = fact.GetID();
    Assert(ParseFact(from->parser_->SavedFactText(fact)));
  });
  next_fact_id_ = from->next_fact_id_;
  std::string rules;
  for (int i = 0; i < from->rules_->Count(); ++i) {
    rules += from->PrettyPrint(from->rules_->At(i)) + std::string(kLineBreak);
  }
  Parse(rules, true);
  KeepActivationsOf(*from);

  duplicate_constructs_ = from->duplicate_constructs_;
  SetParserErrorHandling(from->ParserErrorHandling());
  symbol_index_ = from->symbol_index_;
  SetWatch(from->Watch());
  SetTypeChecks(checks);
}

void TInferenceEngine::KeepActivationsOf(const TInferenceEngine& source) {
  // An activation is known by its rule and its facts; the same rule may be
  // activated twice by the same facts (through different patterns), so
  // activations of one identity are taken in order.
  auto identity = [](const TActivation& a) {
    return a.Rule().RuleName() + " " + a.Token().GetToFactsString();
  };
  std::multimap<std::string, std::unique_ptr<TActivation>> mine;
  for (std::unique_ptr<TActivation>& a : agenda_->TakeAll()) {
    std::string key = identity(*a);
    mine.emplace(std::move(key), std::move(a));
  }
  std::vector<std::unique_ptr<TActivation>> kept;
  for (int i = 0; i < source.agenda_->Count(); ++i) {
    const TActivation& a = source.agenda_->Activations(i);
    auto found = mine.find(identity(a));
    if (found != mine.end()) {
      found->second->SetStrength(a.Strength());
      kept.push_back(std::move(found->second));
      mine.erase(found);
    }
  }
  // Those the source has fired (or never had) go, as if fired: their nodes
  // forget them.
  for (auto& [key, activation] : mine) {
    rete_->Withdraw(std::move(activation));
  }
  // Placed as the source placed them: depth first puts each new activation
  // at the front of its salience, breadth first at the back.
  if (strategy_ == TSearchStrategy::ssDepthFirst) {
    std::reverse(kept.begin(), kept.end());
  }
  for (std::unique_ptr<TActivation>& a : kept) {
    agenda_->Add(std::move(a));
  }
}

}  // namespace zephro
