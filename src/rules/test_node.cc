// Test nodes (TTestNode): a `test` element's predicate, evaluated on each
// partial match that reaches it.

#include "rules/rete_nodes.h"

#include <algorithm>

#include "zephro/rules/rule_environment.h"

namespace zephro {

// --- TTestNode --------------------------------------------------------------------------------

TTestNode::~TTestNode() {
  for (TIESlotTest* test : tests_) {
    delete test;
  }
}

bool TTestNode::Equals(const TTestNode& other) const {
  if (typeid(*this) != typeid(other) || tests_.size() != other.tests_.size() ||
      has_function_tests_ || other.has_function_tests_) {
    return false;
  }
  for (const auto& t : tests_) {
    bool found = false;
    for (const auto& u : other.tests_) {
      if (t->Equals(*u)) {
        found = true;
        break;
      }
    }
    if (!found) {
      return false;
    }
  }
  return true;
}

bool TTestNode::RunTests(const TIEToken& left, const TIEToken* right, IFact* right_fact,
                         std::size_t first) {
  PrepareProgram();
  TIEContext* context = nullptr;
  for (std::size_t i = first; i < tests_.size(); ++i) {
    switch (program_.Decide(i, left, right_fact)) {
      case TTestProgram::TVerdict::vFail:
        return false;
      case TTestProgram::TVerdict::vPass:
        continue;
      case TTestProgram::TVerdict::vAsk:
        break;
    }
    const TIESlotTest* test = tests_[i];
    if (const TIEJoinTest* join = test->AsJoinTest()) {
      if (right_fact == nullptr || !join->Test(left, *right_fact)) {
        return false;
      }
      continue;
    }
    if (context == nullptr) {
      context = &rete_->Engine()->NetworkContext();
    }
    bool passed = false;
    try {
      const TFocus focus(*context, &left, right_fact);
      passed = test->PerformTest(*context);
    } catch (...) {
      if (!rete_->DeferFailure()) {
        throw;
      }
      return false;  // a predicate that fails does not match
    }
    if (!passed) {
      return false;
    }
  }
  (void)right;
  return true;
}

bool TTestNode::VerdictsStand() {
  PrepareProgram();
  for (std::size_t i = 0; i < tests_.size(); ++i) {
    const TIEJoinTest* join = tests_[i]->AsJoinTest();
    if (join != nullptr ? join->ByDegree() : !program_.DecidesFromValues(i)) {
      return false;
    }
  }
  return true;
}

bool TTestNode::CallNode(const Ref<TIEToken>& token, TCallType /*call_type*/) {
  if (token->Tag() == TTokenAction::taClear) {
    CallChildren(token);
    return true;
  }
  IFact& null_fact = rete_->NullFact();
  if (token->Tag() == TTokenAction::taRemove && !token->IsProbe()) {
    WithdrawChildren(*token);
    return true;
  }
  // A probe passes on its extension, whatever the tests say now: it only
  // finds what the tests let through before.
  if (token->Tag() != TTokenAction::taRemove && !RunTests(*token, nullptr, &null_fact)) {
    return false;
  }
  Ref<TIEToken> passed = MakeRef<TIEToken>(token, &null_fact);
  if (!token->IsProbe()) {
    token->AdoptChild(*passed, id_);
  }
  CallChildren(passed);
  return true;
}

std::string TTestNode::ToString() const {
  std::string text = TReteNode::ToString() + " NumTests: " + std::to_string(tests_.size());
  for (const auto& t : tests_) {
    text += " (" + t->ToString() + ")";
  }
  return text;
}

}  // namespace zephro
