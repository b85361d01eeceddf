// Fuzzy values on their own: equality by degree against crisp and fuzzy
// values, the threshold that decides it, the text a value prints, and what
// a fuzzy defined type admits.

#include "zephro/types/fuzzy_value.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

// temperature 0..100: cold falls from 1 at 0 to 0 at 50, hot rises from 0 at
// 50 to 1 at 100.
class FuzzyValueTest : public ::testing::Test {
 protected:
  FuzzyValueTest() {
    temp_->SetUniverse(0, 100, "C");
    temp_->AddTerm("cold", TMembershipSet({{0, 1}, {50, 0}}));
    temp_->AddTerm("hot", TMembershipSet({{50, 0}, {100, 1}}));
  }
  static Ref<IIEValue> Value(Ref<TIEFuzzySet> set) {
    return MakeRef<TIEValue>(Ref<IMembershipSet>(std::move(set)));
  }
  Ref<TIEFuzzySet> Set(std::vector<TFuzzyPoint> points) {
    return temp_->NewSet(TMembershipSet(std::move(points)));
  }

  Ref<TIEFuzzyVariable> temp_ = MakeRef<TIEFuzzyVariable>("temp");
};

TEST_F(FuzzyValueTest, DegreesOfEqualityWithFuzzyAndCrispValues) {
  const Ref<TIEFuzzySet> cold = temp_->Term("cold");
  const struct {
    const char* what;
    Ref<IIEValue> other;
    double degree;
  } kCases[] = {
      {"itself", Value(temp_->Term("cold")), 1},
      {"a set it crosses at 0.5", Value(Set({{0, 0}, {50, 1}})), 0.5},
      {"a set it only touches at 0", Value(temp_->Term("hot")), 0},
      {"a lower plateau", Value(Set({{0, 0.3}, {100, 0.3}})), 0.3},
      {"an integer inside", TIEValue::Integer(10), 0.8},
      {"a float inside", TIEValue::Float(37.5), 0.25},
      {"a number beyond the points", TIEValue::Integer(80), 0},
      {"an atom", TIEValue::Atom("cold"), 0},
      {"a string", TIEValue::String("0.5"), 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_DOUBLE_EQ(cold->FuzzyEquals(*c.other), c.degree);
    EXPECT_DOUBLE_EQ(cold->Degree(), c.degree);
    EXPECT_EQ(cold->Equals(*c.other), c.degree > 0.01);
    // Through the value model, from either side.
    EXPECT_EQ(Value(cold)->Equals(c.other.get()), c.degree > 0.01);
    if (c.other->DType() != TIEType::dtFuzzy) {
      EXPECT_EQ(c.other->Equals(Value(cold).get()), c.degree > 0.01);
    }
  }
}

TEST_F(FuzzyValueTest, TheVariablesThresholdDecidesEquality) {
  const Ref<TIEFuzzySet> cold = temp_->Term("cold");
  const Ref<IIEValue> half = Value(Set({{0, 0}, {50, 1}}));  // degree 0.5
  const Ref<IIEValue> hot = Value(temp_->Term("hot"));       // degree 0
  temp_->SetEqualsThreshold(0.49f);
  EXPECT_TRUE(cold->Equals(*half));
  temp_->SetEqualsThreshold(0.5f);
  EXPECT_FALSE(cold->Equals(*half));  // above, not at
  temp_->SetEqualsThreshold(0);
  EXPECT_FALSE(cold->Equals(*hot));  // sets that only touch never are
  temp_->SetEqualsThreshold(-3);
  EXPECT_FLOAT_EQ(temp_->EqualsThreshold(), 0);
  temp_->SetEqualsThreshold(2);
  EXPECT_FLOAT_EQ(temp_->EqualsThreshold(), 1);
  // A set of no variable compares against the default threshold.
  const Ref<TIEFuzzySet> loose = MakeRef<TIEFuzzySet>(TMembershipSet({{0, 0.005}, {1, 0.005}}));
  EXPECT_FLOAT_EQ(loose->Threshold(), kDefaultFuzzyEqualsThreshold);
  EXPECT_FALSE(loose->Equals(*TIEValue::Float(0.5)));
}

TEST_F(FuzzyValueTest, ASetPrintsHowItWasWrittenUntilItChanges) {
  Ref<TIEFuzzySet> cold = temp_->Term("cold");
  EXPECT_EQ(cold->ToString(), "cold");
  EXPECT_EQ(Value(cold)->ToString(), "cold");
  const Ref<TIEFuzzySet> copy = cold->Copy();
  EXPECT_EQ(copy->ToString(), "cold");
  EXPECT_TRUE(copy->SameSet(*cold));
  cold->SetPoints(cold->Correlate(0.5, TFuzzyCorrelationKind::fcMinimum));
  EXPECT_EQ(cold->ToString(), "((0.0000 0.5000) (25.0000 0.5000) (50.0000 0.0000) )");
  EXPECT_FALSE(copy->SameSet(*cold));
  EXPECT_EQ(temp_->Term("warm"), nullptr);
  // The same points of another variable are another set.
  const Ref<TIEFuzzyVariable> other = MakeRef<TIEFuzzyVariable>("other");
  EXPECT_FALSE(other->NewSet(TMembershipSet({{0, 1}, {50, 0}}))->SameSet(*temp_->Term("cold")));
  // A value's number is its centre of gravity.
  EXPECT_NEAR(Value(Set({{0, 0}, {10, 1}, {20, 0}}))->AsFloat(), 10, 1e-12);
  EXPECT_EQ(Value(Set({{0, 0}, {10, 1}, {20, 0}}))->AsInteger(), 10);
}

TEST_F(FuzzyValueTest, SingletonsResolveToAFuzzyValue) {
  const auto singletons = [](std::vector<std::pair<Ref<IIEValue>, Ref<IIEValue>>> pairs) {
    Ref<TSingletonsVector> vector = MakeRef<TSingletonsVector>();
    for (auto& [x, y] : pairs) {
      vector->Add(std::move(x), std::move(y));
    }
    return MakeRef<TIEValue>(Ref<ISingletonsVector>(vector));
  };
  const Ref<IIEValue> resolved =
      singletons({{TIEValue::Integer(10), TIEValue::Float(0)},
                  {TIEValue::Integer(0), TIEValue::Integer(1)}})
          ->Resolve(nullptr);
  ASSERT_EQ(resolved->DType(), TIEType::dtFuzzy);
  const TIEFuzzySet& set = *FuzzySetOf(*resolved);
  EXPECT_EQ(set.Variable(), nullptr);
  EXPECT_DOUBLE_EQ(set.DegreeOfMembership(2.5), 0.75);  // sorted by x
  EXPECT_EQ(set.Expression(), "");
  // Memberships lie in [0, 1], and coordinates are numbers.
  const auto error_of = [](const Ref<IIEValue>& value) {
    try {
      value->Resolve(nullptr);
    } catch (const EIEException& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(error_of(singletons({{TIEValue::Integer(0), TIEValue::Float(1.5)}})),
            "invalid fuzzy value");
  EXPECT_EQ(error_of(singletons({{TIEValue::Atom("x"), TIEValue::Float(1)}})),
            "Expected number, variable, or function call");
}

TEST_F(FuzzyValueTest, AFuzzyTypeAdmitsSetsOfItsVariableWithinItsUniverse) {
  Ref<TIEDefinedType> type = MakeRef<TIEDefinedType>("temp");
  type->SetBaseTypes({TIEType::dtFuzzy});
  TIEFuzzyVariable& variable = type->EditFuzzyVariable();
  variable.SetUniverse(0, 100, "C");
  variable.AddTerm("cold", TMembershipSet({{0, 1}, {50, 0}}));
  EXPECT_EQ(variable.Name(), "temp");

  const Ref<TIEFuzzyVariable> other = MakeRef<TIEFuzzyVariable>("other");
  other->SetUniverse(0, 100, "");
  const struct {
    const char* what;
    Ref<IIEValue> value;
    bool valid;
  } kCases[] = {
      {"a term", Value(variable.Term("cold")), true},
      {"a set of no variable", Value(MakeRef<TIEFuzzySet>(TMembershipSet({{0, 1}}))), true},
      {"a set of another variable", Value(other->NewSet(TMembershipSet({{0, 1}}))), false},
      {"a set beyond the universe", Value(variable.NewSet(TMembershipSet({{0, 1}, {150, 0}}))),
       false},
      {"a word to read later", TIEValue::Atom("cold"), true},
      {"a fact id", MakeRef<TIEValue>(3, TIEType::dtFactId), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(type->IsValid(c.value.get()), c.valid);
  }

  // A child type without a variable of its own reads by its ancestor's.
  Ref<TIEDefinedType> child = MakeRef<TIEDefinedType>("cool");
  child->SetBaseTypes({TIEType::dtFuzzy});
  child->SetAncestor(type);
  EXPECT_EQ(child->FuzzyVariable(), &variable);
  EXPECT_EQ(child->OwnFuzzyVariable(), nullptr);
  // Renaming the type renames its variable.
  type->SetName("heat");
  EXPECT_EQ(variable.Name(), "heat");
}

}  // namespace
}  // namespace zephro
