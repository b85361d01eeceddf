#include "testing/call_reader.h"

#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/functions/function_call.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/functions/user_function.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro::testing {
namespace {

class Reader {
 public:
  Reader(TInferenceEngine& engine, std::string_view text) : engine_(engine), text_(text) {}

  Ref<IIEValue> Expression() {
    SkipBlanks();
    if (AtEnd()) {
      return Fail("unexpected end");
    }
    if (text_[pos_] == '(') {
      ++pos_;
      return Call();
    }
    if (text_[pos_] == '"') {
      return String();
    }
    return Word(Symbol());
  }

  Ref<IFact> FactOnly() {
    if (!Next('(')) {
      Fail("missing (");
      return nullptr;
    }
    Ref<IIEValue> fact = Fact();
    return fact->DType() == TIEType::dtFact ? Ref<IFact>(fact->AsFact()) : nullptr;
  }

  void ExpectEnd() {
    SkipBlanks();
    if (!AtEnd()) {
      Fail("text after the expression");
    }
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      ++pos_;
    }
  }
  // True, consuming it, when the next character is `c`.
  bool Next(char c) {
    SkipBlanks();
    if (!AtEnd() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  Ref<IIEValue> Fail(const std::string& what) {
    ADD_FAILURE() << "cannot read \"" << text_ << "\": " << what << " at " << pos_;
    pos_ = text_.size();
    return Ref<IIEValue>(&FCNil());
  }

  std::string Symbol() {
    SkipBlanks();
    const std::size_t start = pos_;
    while (!AtEnd() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
           text_[pos_] != '(' && text_[pos_] != ')' && text_[pos_] != '"') {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  Ref<IIEValue> String() {
    std::string s;
    for (++pos_; !AtEnd() && text_[pos_] != '"'; ++pos_) {
      if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) {
        ++pos_;
      }
      s += text_[pos_];
    }
    if (AtEnd()) {
      return Fail("unterminated string");
    }
    ++pos_;
    return TIEValue::String(s);
  }

  static Ref<IIEValue> Word(const std::string& word) {
    if (word.starts_with("$?") && word.size() > 2) {
      return MakeRef<TIEValue>(word.substr(2), TIEType::dtMultiVariable);
    }
    if (word.starts_with("?") && word.size() > 1) {
      return MakeRef<TIEValue>(word.substr(1), TIEType::dtVariable);
    }
    std::size_t digits = word.find_first_not_of("+-") == 1 ? 1 : 0;
    const bool numeric = word.size() > digits &&
                         word.find_first_not_of("0123456789.", digits) == std::string::npos &&
                         std::isdigit(static_cast<unsigned char>(word[digits]));
    if (numeric && word.find('.') != std::string::npos) {
      return TIEValue::Float(std::stod(word));
    }
    if (numeric) {
      return TIEValue::Integer(static_cast<std::int32_t>(std::stol(word)));
    }
    if (word == "TRUE" || word == "FALSE") {
      return BoolValue(word == "TRUE");
    }
    if (word.size() == 3 && std::tolower(static_cast<unsigned char>(word[0])) == 'n' &&
        std::tolower(static_cast<unsigned char>(word[1])) == 'i' &&
        std::tolower(static_cast<unsigned char>(word[2])) == 'l') {
      return Ref<IIEValue>(&FCNil());
    }
    return TIEValue::Atom(word);
  }

  // What follows "(": a call, or a deffunction.
  Ref<IIEValue> Call() {
    const std::string name = Symbol();
    if (name == "deffunction") {
      return DefFunction();
    }
    Ref<IFunCall> call = MakeRef<TFunctionCall>(&engine_, name);
    while (!Next(')')) {
      if (AtEnd()) {
        return Fail("missing )");
      }
      const bool fact = name == "assert";
      const bool change = (name == "modify" || name == "duplicate") && call->ArgumentCount() > 0;
      if ((fact || change) && Next('(')) {
        call->AddArgument(fact ? Fact() : Change());
      } else {
        call->AddArgument(Expression());
      }
    }
    return MakeRef<TIEValue>(std::move(call));
  }

  // The expressions up to ")" as a list, behind `head` when it is given.
  Ref<TValueVector> ListUntilClose(Ref<IIEValue> head) {
    Ref<TValueVector> list = MakeRef<TValueVector>();
    if (head) {
      list->Add(std::move(head));
    }
    while (!Next(')') && !AtEnd()) {
      list->Add(Expression());
    }
    return list;
  }

  Ref<IIEValue> Fact() {
    IFactTemplate& t = engine_.CreateFactTemplate(Symbol());
    Ref<IFact> fact = t.NewFact();
    if (t.ContainsSlot(SDefaultSlotName)) {
      fact->SetValue(SDefaultSlotName,
                     MakeRef<TIEValue>(Ref<IValueVector>(ListUntilClose(nullptr))));
      return MakeRef<TIEValue>(std::move(fact));
    }
    while (Next('(')) {
      const std::string slot = Symbol();
      Ref<TValueVector> values = ListUntilClose(nullptr);
      if (t.GetSlot(slot)->IsMultiSlot()) {
        fact->SetValue(slot, MakeRef<TIEValue>(Ref<IValueVector>(std::move(values))));
      } else if (values->ValueCount() == 1) {
        fact->SetValue(slot, Ref<IIEValue>(values->Get(0)));
      } else {
        return Fail("a single slot takes one value");
      }
    }
    if (!Next(')')) {
      return Fail("missing ) after a fact");
    }
    return MakeRef<TIEValue>(std::move(fact));
  }

  // "(slot value...)" as the parser pairs it: the name, then the one value or
  // a list of the values.
  Ref<IIEValue> Change() {
    Ref<TValueVector> pair = MakeRef<TValueVector>();
    pair->Add(TIEValue::Atom(Symbol()));
    Ref<TValueVector> values = ListUntilClose(nullptr);
    if (values->ValueCount() == 1) {
      pair->Add(Ref<IIEValue>(values->Get(0)));
    } else {
      pair->Add(MakeRef<TIEValue>(Ref<IValueVector>(std::move(values))));
    }
    return MakeRef<TIEValue>(Ref<IValueVector>(std::move(pair)));
  }

  Ref<IIEValue> DefFunction() {
    const std::string name = Symbol();
    if (!Next('(')) {
      return Fail("missing parameter list");
    }
    std::vector<Ref<IIEValue>> parameters;
    while (!Next(')') && !AtEnd()) {
      parameters.push_back(Word(Symbol()));
    }
    std::string comment;
    SkipBlanks();
    if (!AtEnd() && text_[pos_] == '"') {
      comment = String()->AsString();
    }
    std::vector<Ref<IIEValue>> actions;
    while (!Next(')') && !AtEnd()) {
      actions.push_back(Expression());
    }
    engine_.PutUserFunction(
        name, MakeInterpretedFunction(name, comment, std::move(parameters), std::move(actions)));
    return Ref<IIEValue>(&FCNil());
  }

  TInferenceEngine& engine_;
  std::string_view text_;
  std::size_t pos_ = 0;
};

class TEmitFunction final : public TIEUserFunction {
 public:
  TEmitFunction() : TIEUserFunction("emit", "Prints its arguments", " <expression>*") {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::string text;
    Ref<IIEValue> last(&FCNil());
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      last = Eval(call, i, context);
      const bool plain = IEStringTypes.Contains(last->DType());
      text += plain ? std::string(last->Text()) : last->ToString();
      text += ' ';
    }
    context.Engine()->PrintOut("t", text);
    return last;
  }
};

class TItemsFunction final : public TIEUserFunction {
 public:
  TItemsFunction() : TIEUserFunction("items", "A multifield of the arguments", " <expression>*") {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<TValueVector> list = MakeRef<TValueVector>();
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      list->Add(Eval(call, i, context));
    }
    return MakeRef<TIEValue>(Ref<IValueVector>(std::move(list)));
  }
};

}  // namespace

Ref<IFact> ReadFact(TInferenceEngine& engine, std::string_view text) {
  Reader reader(engine, text);
  Ref<IFact> fact = reader.FactOnly();
  reader.ExpectEnd();
  return fact;
}

Ref<IIEValue> ReadExpression(TInferenceEngine& engine, std::string_view text) {
  Reader reader(engine, text);
  Ref<IIEValue> value = reader.Expression();
  reader.ExpectEnd();
  return value;
}

std::string EvalToString(TInferenceEngine& engine, std::string_view text) {
  Ref<IIEValue> expression = ReadExpression(engine, text);
  TIEContext& root = engine.RootContext();
  root.ClearReturnValue();
  try {
    Ref<IIEValue> result = expression->Resolve(&root);
    root.ClearReturnValue();
    return result ? result->ToString() : "<null>";
  } catch (const EBaseException& e) {
    root.ClearReturnValue();
    return "error: " + e.Message();
  }
}

void RunEvalSteps(EngineFixture& fixture, const std::vector<EvalStep>& steps) {
  for (const EvalStep& step : steps) {
    SCOPED_TRACE(step.expression);
    EXPECT_EQ(EvalToString(fixture.Engine(), step.expression), step.result);
    EXPECT_EQ(fixture.TakeOutput(), step.printed);
  }
}

void AddTestFunctions(TInferenceEngine& engine) {
  engine.PutUserFunction("emit", TIEUserFunction::Make<TEmitFunction>());
  engine.PutUserFunction("items", TIEUserFunction::Make<TItemsFunction>());
}

}  // namespace zephro::testing
