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
  // Leaves the old engine's fact sets, joins the new one's (see TFactSets:
  // a set of the same name there is detached) and parses the texts. While
  // the set is being loaded it only remembers the engine: Loaded joins.
  void SetEngine(TInferenceEngine* engine);
  // As SetEngine, without parsing the texts.
  void SetEngineNoParse(TInferenceEngine* engine);

  int Count() const noexcept { return static_cast<int>(entries_.size()); }
  // Appends `fact` (and its text); returns its index.
  int AddFact(Ref<IFact> fact);
  // The fact at `index`, parsed from its text when needed (null without
  // engine). Raises EIEException ("Bad Argument: %s") for an index out of
  // range, as do the other operations by index.
  IFact* GetFact(int index);
  // Replaces entry `index` with `fact` and its text.
  void SetFact(int index, Ref<IFact> fact);
  // The index of the entry holding `fact` itself, or -1.
  int IndexOf(const IFact& fact) const;
  // Removes the entry holding `fact` itself; returns its former index, or -1.
  int Remove(const IFact& fact);
  const std::string& Text(int index) const { return entries_[CheckedIndex(index)].text; }
  // The entries' facts in order, as they stand (null for an entry not
  // parsed yet): `for (IFact* fact : fact_set.Facts())`.
  std::vector<IFact*> Facts() const {
    std::vector<IFact*> facts;
    facts.reserve(entries_.size());
    for (const Entry& e : entries_) {
      facts.push_back(e.fact.get());
    }
    return facts;
  }
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

  // From another fact set: its name, comment and facts, taken as text (and
  // parsed when this set has an engine). Other sources as TComponent.
  void Assign(const TPersistent& source) override;
  // After loading, outside design time, joins the engine it remembers.
  void Loaded() override;

 protected:
  void Notification(TComponent& component, TOperation operation) override;

 private:
  friend class TFactSets;
  struct Entry {
    std::string text;
    Ref<IFact> fact;
  };
  void ParseEntries();
  void ChangeEngine(TInferenceEngine* engine, bool parse);
  // Forgets the engine and leaves its list.
  void LeaveEngine() noexcept;
  std::size_t CheckedIndex(int index) const;

  std::string name_ = "FactSet";
  std::string comment_;
  TInferenceEngine* engine_ = nullptr;  // not owned
  std::vector<Entry> entries_;
};

// "(deffacts name ...)" with one fact per indented line.
std::string PrettyPrintFactSet(const TFactSet& fact_set);

}  // namespace zephro
