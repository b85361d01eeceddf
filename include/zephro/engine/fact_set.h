#pragma once

// TFactSet: a `deffacts`: a named list of facts that the engine asserts on
// every Reset, in list order.
//
// A fact set is a component. Without an engine its facts exist only as text;
// attached to an engine, each text is parsed into a fact. Reset resolves each
// fact's slot expressions in the engine's context and asserts the result,
// leaving the stored facts unchanged.
//
// Thread safety: none.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/platform/component.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TInferenceEngine;

class TFactSet : public TComponent {
  ZEPHRO_DECLARE_CLASS(TFactSet, TComponent)

 public:
  // A set named "FactSet"; an engine owner becomes its engine.
  explicit TFactSet(TComponent* owner);
  ~TFactSet() override;

  const std::string& FactSetName() const noexcept { return name_; }
  void SetFactSetName(std::string_view name) { name_ = name; }
  const std::string& Comment() const noexcept { return comment_; }
  void SetComment(std::string_view comment) { comment_ = comment; }
  TInferenceEngine* Engine() const noexcept { return engine_; }
  // Leaves the old engine's fact sets, joins the new one's and parses the texts.
  void SetEngine(TInferenceEngine* engine);

  int Count() const noexcept { return static_cast<int>(entries_.size()); }
  // Appends `fact` (and its text); returns its index.
  int AddFact(Ref<IFact> fact);
  // The fact at `index`, parsed from its text when needed (null without engine).
  IFact* GetFact(int index);
  const std::string& Text(int index) const { return entries_[static_cast<std::size_t>(index)].text; }
  // Replaces the lines: kept as text, parsed when there is an engine.
  void SetFacts(const std::vector<std::string>& lines);
  // Rebuilds every fact of `fact_template` from its text with `rebuild`, and
  // its text from the new fact; an entry for which `rebuild` gives null is
  // removed, text and all.
  void RebuildFactsOf(const IFactTemplate& fact_template,
                      const std::function<Ref<IFact>(const std::string& text)>& rebuild);

  // Asserts every fact, in order, through the engine.
  void Reset();
  std::string ToString() const;

 protected:
  void Notification(TComponent& component, TOperation operation) override;

 private:
  struct Entry {
    std::string text;
    Ref<IFact> fact;
  };
  void ParseEntries();

  std::string name_ = "FactSet";
  std::string comment_;
  TInferenceEngine* engine_ = nullptr;  // not owned
  std::vector<Entry> entries_;
};

// "(deffacts name ...)" with one fact per indented line.
std::string PrettyPrintFactSet(const TFactSet& fact_set);

}  // namespace zephro
