// Boolean logic and comparison. Every function here evaluates its arguments
// from left to right and stops at the first that decides the result, so the
// arguments after it are never evaluated: (and FALSE (printout t "x")) prints
// nothing.

#include <functional>
#include <span>

#include "zephro/functions/user_package.h"
#include "zephro/packages/standard_control.h"

#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

// and: FALSE at the first argument equal to FALSE; any other value, 5 say,
// does not make it false.
class TAndFunction final : public TIEUserFunction {
 public:
  TAndFunction() : TIEUserFunction(AndFunctionName, AndComment, AndSyntax) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      if (IsFalse(*Eval(call, i, context))) {
        return BoolValue(false);
      }
    }
    return BoolValue(true);
  }
};

// or: TRUE at the first argument equal to TRUE; any other value, 5 say, does
// not make it true.
class TOrFunction final : public TIEUserFunction {
 public:
  TOrFunction() : TIEUserFunction(OrFunctionName, OrComment, OrSyntax) {}

  TLogicalForm LogicalForm() const noexcept override { return TLogicalForm::lfAnyTrue; }

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      if (Eval(call, i, context)->Equals(&FCTrue())) {
        return BoolValue(true);
      }
    }
    return BoolValue(false);
  }
};

class TNotFunction final : public TIEUserFunction {
 public:
  TNotFunction() : TIEUserFunction(NotFunctionName, NotComment, NotSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return BoolValue(IsFalse(*Eval(call, 0, context)));
  }
};

// The comparisons of each further argument with the first, which is evaluated
// once: FALSE at the first further argument for which Stops holds.
class TFirstArgumentTest : public TIEUserFunction {
 protected:
  using TIEUserFunction::TIEUserFunction;
  virtual bool Stops(const IIEValue& first, const IIEValue& other) const = 0;

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) final {
    Ref<IIEValue> first_holder;
    Ref<IIEValue> other_holder;
    const IIEValue& first = EvalBorrowed(call, 0, context, first_holder);
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      if (Stops(first, EvalBorrowed(call, i, context, other_holder))) {
        return BoolValue(false);
      }
    }
    return BoolValue(true);
  }
};

class TEqFunction final : public TFirstArgumentTest {
 public:
  TEqFunction() : TFirstArgumentTest(EqFunctionName, EqComment, EqSyntax, 1) {}

  TLogicalForm LogicalForm() const noexcept override { return TLogicalForm::lfAllEqual; }

 protected:
  bool Stops(const IIEValue& first, const IIEValue& other) const override {
    return !first.Equals(&other);
  }
};

class TEqStarFunction final : public TFirstArgumentTest {
 public:
  TEqStarFunction() : TFirstArgumentTest(EqStarFunctionName, EqStarComment, EqStarSyntax, 1) {}

 protected:
  bool Stops(const IIEValue& first, const IIEValue& other) const override {
    return !first.EqualsStar(&other);
  }
};

class TNeqFunction final : public TFirstArgumentTest {
 public:
  TNeqFunction() : TFirstArgumentTest(NeqFunctionName, NeqComment, NeqSyntax, 1) {}

  TLogicalForm LogicalForm() const noexcept override { return TLogicalForm::lfNoneEqual; }

 protected:
  bool Stops(const IIEValue& first, const IIEValue& other) const override {
    return first.Equals(&other);
  }
};

// = and <> compare numbers, so 3 and 3.0 are equal; a value without a number
// raises the value model's conversion error.
class TEqualsFunction final : public TFirstArgumentTest {
 public:
  TEqualsFunction() : TFirstArgumentTest(EqualsFunctionName, EqualsComment, EqualsSyntax, 1) {}

  TNumberRelation NumberRelation() const noexcept override { return TNumberRelation::nrEqual; }

 protected:
  bool Stops(const IIEValue& first, const IIEValue& other) const override {
    return first.AsNumeric() != other.AsNumeric();
  }
};

class TNotEqualsFunction final : public TFirstArgumentTest {
 public:
  TNotEqualsFunction()
      : TFirstArgumentTest(NotEqualsFunctionName, NotEqualsComment, NotEqualsSyntax, 1) {}

  TNumberRelation NumberRelation() const noexcept override { return TNumberRelation::nrNotEqual; }

 protected:
  bool Stops(const IIEValue& first, const IIEValue& other) const override {
    return first.AsNumeric() == other.AsNumeric();
  }
};

// The orderings, which unlike = compare neighbours: (> 3 2 1) asks 3 > 2 and
// 2 > 1. FALSE at the first pair for which Relation fails.
template <class Relation, TNumberRelation kRelation>
class TNeighbourTest : public TIEUserFunction {
 public:
  TNumberRelation NumberRelation() const noexcept final { return kRelation; }

 protected:
  TNeighbourTest(const char* name, const char* comment, const char* syntax)
      : TIEUserFunction(name, comment, syntax, 2) {}

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) final {
    Ref<IIEValue> holder;
    double previous = EvalBorrowed(call, 0, context, holder).AsNumeric();
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      const double current = EvalBorrowed(call, i, context, holder).AsNumeric();
      if (!Relation()(previous, current)) {
        return BoolValue(false);
      }
      previous = current;
    }
    return BoolValue(true);
  }

  // The same verdict read in place when every argument it needs is a number
  // at hand (a constant or a matched slot); otherwise the ordinary call, which
  // also reports the errors.
  bool Holds(IFunCall& call, TIEContext& context) final {
    std::span<const Ref<IIEValue>> arguments = call.Arguments();
    const auto count = static_cast<std::int32_t>(arguments.size());
    double previous = 0;
    if (count > 0 && count >= MinArgumentCount() && count <= MaxArgumentCount() &&
        PeekNumber(*arguments[0], context, previous)) {
      std::int32_t i = 1;
      for (; i < count; ++i) {
        double current = 0;
        if (!PeekNumber(*arguments[static_cast<std::size_t>(i)], context, current)) {
          break;
        }
        if (!Relation()(previous, current)) {
          return false;
        }
        previous = current;
      }
      if (i == count) {
        return true;
      }
    }
    return TIEUserFunction::Holds(call, context);
  }
};

class TGtFunction final : public TNeighbourTest<std::greater<double>, TNumberRelation::nrGreater> {
 public:
  TGtFunction() : TNeighbourTest(GtFunctionName, GtComment, GtSyntax) {}
};

class TGtOrEqFunction final
    : public TNeighbourTest<std::greater_equal<double>, TNumberRelation::nrGreaterOrEqual> {
 public:
  TGtOrEqFunction() : TNeighbourTest(GtOrEqFunctionName, GtOrEqComment, GtOrEqSyntax) {}
};

class TLtFunction final : public TNeighbourTest<std::less<double>, TNumberRelation::nrLess> {
 public:
  TLtFunction() : TNeighbourTest(LtFunctionName, LtComment, LtSyntax) {}
};

class TLtOrEqFunction final
    : public TNeighbourTest<std::less_equal<double>, TNumberRelation::nrLessOrEqual> {
 public:
  TLtOrEqFunction() : TNeighbourTest(LtOrEqFunctionName, LtOrEqComment, LtOrEqSyntax) {}
};

}  // namespace

void AddStandardLogicFunctions(TUserPackage& package) {
  package.AddFunction<TAndFunction>();
  package.AddFunction<TOrFunction>();
  package.AddFunction<TNotFunction>();
  package.AddFunction<TEqFunction>();
  package.AddFunction<TEqStarFunction>();
  package.AddFunction<TNeqFunction>();
  package.AddFunction<TEqualsFunction>();
  package.AddFunction<TNotEqualsFunction>();
  package.AddFunction<TGtFunction>();
  package.AddFunction<TGtOrEqFunction>();
  package.AddFunction<TLtFunction>();
  package.AddFunction<TLtOrEqFunction>();
}

}  // namespace zephro
