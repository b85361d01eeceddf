#pragma once

// Test doubles for what templates, slots and facts ask of the world around
// them (an engine, a defined type, a function call), and short builders.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zephro/facts/fact_printer.h"
#include "zephro/facts/fact_template.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

// An engine as templates see it. Printing marks its output so tests can tell
// that the engine printed; fuzzy parsing records its requests and returns
// `fuzzy_result`.
class FakeFactEnvironment final : public IFactEnvironment {
 public:
  TTypeChecks checks;
  std::int32_t next_fact_id = 0;
  Ref<IIEValue> fuzzy_result = TIEValue::Atom("parsed");
  std::vector<std::pair<std::string, std::string>> fuzzy_requests;  // slot, text

  TTypeChecks TypeChecks() const noexcept override { return checks; }
  // The fakes never look inside the context, so no real one is needed.
  TIEContext& RootContext() override { return *reinterpret_cast<TIEContext*>(&context_); }
  std::int32_t NextFactId() const noexcept override { return next_fact_id; }
  std::string PrintFact(const IFact& fact) const override {
    return "engine:" + PrettyPrintFact(fact);
  }
  std::string PrintTemplate(const IFactTemplate& t) const override {
    return "engine:" + PrettyPrintTemplate(t);
  }
  std::string PrintSlot(const IFactSlot& slot) const override {
    return "engine:" + PrettyPrintSlot(slot);
  }
  Ref<IIEValue> ParseFuzzyValue(const IFactSlot& slot, std::string_view text) override {
    fuzzy_requests.emplace_back(slot.Name(), std::string(text));
    return fuzzy_result;
  }

 private:
  alignas(std::max_align_t) char context_[8] = {};
};

// A named type admitting `kinds` and, when `allowed` is not empty, only atoms
// among those texts.
class FakeDefinedType final : public IIEDefinedType {
 public:
  FakeDefinedType(std::string name, TIETypes kinds, std::vector<std::string> allowed = {})
      : name_(std::move(name)), kinds_(kinds), allowed_(std::move(allowed)) {}

  std::vector<TIETypes> told;  // every SetPrimitiveTypes argument

  const std::string& TypeName() const noexcept override { return name_; }
  TIETypes PrimitiveTypes() const override { return kinds_; }
  void SetPrimitiveTypes(TIETypes types) override { told.push_back(types); }
  bool IsValid(const IIEValue* value) const override {
    if (value == nullptr || !kinds_.Contains(value->DType())) {
      return value == nullptr;
    }
    if (allowed_.empty() || value->DType() != TIEType::dtAtom) {
      return true;
    }
    for (const std::string& a : allowed_) {
      if (a == value->Text()) {
        return true;
      }
    }
    return false;
  }
  std::string GetInvalidValueString(const IIEValue& value) const override {
    return "not a " + name_ + ": " + value.ToString();
  }
  Ref<IIEValue> CreateValidDefault(bool multislot) const override {
    if (multislot) {
      return FCNilList().Clone();
    }
    return TIEValue::Atom(allowed_.empty() ? "" : allowed_.front());
  }

 private:
  std::string name_;
  TIETypes kinds_;
  std::vector<std::string> allowed_;
};

// A call without arguments that yields 1, 2, 3... on successive executions.
class CountingCall final : public IFunCall {
 public:
  explicit CountingCall(std::string name) : name_(std::move(name)) {}
  int executions = 0;

  const std::string& Name() const noexcept override { return name_; }
  const std::string& Comment() const noexcept override { return comment_; }
  void SetComment(std::string_view comment) override { comment_ = comment; }
  std::int32_t Tag() const noexcept override { return 0; }
  void SetTag(std::int32_t) override {}
  IReasoner* Reasoner() const noexcept override { return nullptr; }
  int ArgumentCount() const noexcept override { return 0; }
  IIEValue* Argument(int) const override { return nullptr; }
  std::span<const Ref<IIEValue>> Arguments() const noexcept override { return {}; }
  void SetArgument(int, Ref<IIEValue>) override {}
  int AddArgument(Ref<IIEValue>) override { return -1; }
  void Delete(int) override {}
  void Clear() override {}
  IUserFunction* UserFunction() const noexcept override { return nullptr; }
  void SetUserFunction(IUserFunction*) override {}
  Ref<IIEValue> Execute(TIEContext&) override { return TIEValue::Integer(++executions); }
  void SimpleExecute(TIEContext&) override { ++executions; }
  bool Equals(const IFunCall* other) const override { return other == this; }
  std::int32_t GetHashCode() const override { return 0; }
  std::string ToString() const override { return "(" + name_ + ")"; }
  Ref<IFunCall> Clone() const override { return MakeRef<CountingCall>(name_); }

 private:
  std::string name_;
  std::string comment_;
};

// A template with single-field slots (default FCNil) named `slots`, declared
// in that order; "__Data" becomes a multislot.
inline Ref<TFactTemplate> MakeTemplate(std::string_view name, std::vector<std::string> slots,
                                       IFactEnvironment* owner = nullptr) {
  auto t = MakeRef<TFactTemplate>(owner);
  t->SetTemplateName(name);
  for (const std::string& s : slots) {
    if (s == SDefaultSlotName) {
      t->AddMultiSlot(s, &FCNilList());
    } else {
      t->AddSlot(s, &FCNil());
    }
  }
  return t;
}

// A multifield value of `items`.
inline Ref<IIEValue> ListValue(std::vector<Ref<IIEValue>> items) {
  return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(items))));
}

}  // namespace zephro
