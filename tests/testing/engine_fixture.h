#pragma once

// Test helpers for engine-level tests: an engine whose print-out is captured,
// and short ways to build ordered facts and rules through the C++ API.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro::testing {

// A term of an ordered pattern or fact.
struct Term {
  enum Kind { kConst, kVar, kMultiVar, kNotConst, kNotVar } kind;
  Ref<IIEValue> value;  // constants
  std::string name;     // variables
};
inline Term C(std::int32_t i) { return {Term::kConst, TIEValue::Integer(i), {}}; }
inline Term C(const char* atom) { return {Term::kConst, TIEValue::Atom(atom), {}}; }
inline Term V(const char* name) { return {Term::kVar, nullptr, name}; }
inline Term MV(const char* name) { return {Term::kMultiVar, nullptr, name}; }
inline Term NotC(std::int32_t i) { return {Term::kNotConst, TIEValue::Integer(i), {}}; }
inline Term NotV(const char* name) { return {Term::kNotVar, nullptr, name}; }

// The message `f` raises, or "" when it raises nothing.
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EBaseException& e) {
    return e.what();
  }
  return std::string();
}

// The texts of `engine`'s facts, in working-memory order.
inline std::vector<std::string> FactTexts(const TInferenceEngine& engine) {
  std::vector<std::string> texts;
  engine.ForEachFact([&](const IFact& f) { texts.push_back(f.ToString()); });
  return texts;
}

class EngineFixture {
 public:
  EngineFixture() : engine_(std::make_unique<TInferenceEngine>(nullptr)) {
    engine_->OnPrintOut = [this](TInferenceEngine&, std::string_view, std::string_view text) {
      output_ += text;
    };
  }

  TInferenceEngine& Engine() { return *engine_; }
  std::string TakeOutput() { return std::exchange(output_, std::string()); }

  // An ordered fact (relation v1 v2 ...), not yet asserted.
  Ref<IFact> Fact(const std::string& relation, const std::vector<Ref<IIEValue>>& values) {
    IFactTemplate& t = engine_->CreateFactTemplate(relation);
    Ref<IFact> f = t.NewFact();
    f->SetValue(SDefaultSlotName,
                MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(values))));
    return f;
  }
  std::int32_t Assert(const std::string& relation, const std::vector<Ref<IIEValue>>& values) {
    return engine_->Assert(Fact(relation, values));
  }

  // A pattern on the ordered relation with the given terms; `negated` counts
  // the enclosing nots.
  std::unique_ptr<TIEPattern> Pattern(TRule& rule, const std::string& relation,
                                      const std::vector<Term>& terms, int negated = 0,
                                      const std::string& bound = {}) {
    IFactTemplate& t = engine_->CreateFactTemplate(relation);
    auto p = std::make_unique<TIEPattern>(&rule, relation, Ref<IFactTemplate>(&t), negated);
    p->BeginUpdate();
    for (std::size_t i = 0; i < terms.size(); ++i) {
      const Term& term = terms[i];
      const auto sub = static_cast<std::int32_t>(i);
      switch (term.kind) {
        case Term::kConst:
          p->AddTest(SDefaultSlotName, TSlotTestType::sttEquals, sub, term.value);
          break;
        case Term::kNotConst:
          p->AddTest(SDefaultSlotName, TSlotTestType::sttNotEquals, sub, term.value);
          break;
        case Term::kVar:
          p->AddTest(SDefaultSlotName, TSlotTestType::sttEquals, sub,
                     MakeRef<TIEValue>(term.name, TIEType::dtVariable));
          break;
        case Term::kNotVar:
          p->AddTest(SDefaultSlotName, TSlotTestType::sttNotEquals, sub,
                     MakeRef<TIEValue>(term.name, TIEType::dtVariable));
          break;
        case Term::kMultiVar:
          p->AddTest(SDefaultSlotName, TSlotTestType::sttEquals, sub,
                     MakeRef<TIEValue>(term.name, TIEType::dtMultiVariable));
          break;
      }
    }
    p->SetSlotLength(0, static_cast<std::int32_t>(terms.size()));
    if (!bound.empty()) {
      p->SetBoundName(bound);
    }
    p->EndUpdate();
    return p;
  }

  struct PatternShape {
    std::string relation;
    std::vector<Term> terms;
    int negated = 0;
  };
  // A rule with the given patterns and no actions, added to the engine.
  TRule& Rule(const std::string& name, const std::vector<PatternShape>& patterns,
              std::int32_t salience = 0) {
    TRule& rule = MakeOwned<TRule>(*engine_);
    rule.BeginUpdate();
    rule.SetRuleName(name);
    for (const PatternShape& p : patterns) {
      rule.AddPattern(Pattern(rule, p.relation, p.terms, p.negated));
    }
    rule.SetSalienceInteger(salience);
    rule.EndUpdate();
    TRule* added = engine_->AddRule(rule);
    return *added;
  }

  // The agenda as "rule: f-1, f-2" lines, in order.
  std::vector<std::string> Agenda() {
    std::vector<std::string> lines;
    for (int i = 0; i < engine_->GetAgendaCount(); ++i) {
      TActivation& a = engine_->GetActivation(i);
      lines.push_back(a.Rule().RuleName() + ": " + a.Token().GetToFactsString());
    }
    return lines;
  }

 private:
  std::unique_ptr<TInferenceEngine> engine_;
  std::string output_;
};

}  // namespace zephro::testing
