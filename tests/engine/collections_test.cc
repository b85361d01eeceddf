// The engine's collections: filing under the duplicate setting, lookup and
// iteration, the user functions and their interpreted count, the fact sets,
// copying collections between engines, and working memory's Insert and
// Assign.

#include "zephro/engine/collections.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/engine_parts.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/facts/fact_template.h"
#include "zephro/functions/context.h"
#include "zephro/functions/user_function.h"
#include "zephro/language/clips_parser.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using testing::FactTexts;
using testing::MessageOf;

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// A host function whose body is `body`.
class TBodyFunction final : public TIEUserFunction {
 public:
  TBodyFunction(std::string_view name, std::function<Ref<IIEValue>()> body)
      : TIEUserFunction(name), body_(std::move(body)) {}

 protected:
  Ref<IIEValue> Run(IFunCall&, TIEContext&) override { return body_(); }

 private:
  std::function<Ref<IIEValue>()> body_;
};

Ref<IUserFunction> HostFunction(std::string_view name) {
  return MakeRef<TBodyFunction>(name, [] { return BoolValue(true); });
}

// The names an iteration visits, in order.
template <class Collection>
std::vector<std::string> Visited(const Collection& collection) {
  std::vector<std::string> names;
  for (const auto& [name, item] : collection) {
    names.push_back(name);
  }
  return names;
}

// The names by position.
template <class Collection>
std::vector<std::string> ByPosition(const Collection& collection) {
  std::vector<std::string> names;
  for (int i = 0; i < collection.Count(); ++i) {
    names.push_back(collection.NameAt(i));
  }
  return names;
}

// --- filing under a name in use ----------------------------------------------------------------

// How one collection files an item named "x": `file` makes a new one (telling
// it apart by `tag`), reports it in `made` and files it; `filed` answers what
// is filed under "x".
struct Filing {
  const char* collection;
  std::function<void(TInferenceEngine& e, int tag, const void*& made)> file;
  std::function<const void*(TInferenceEngine& e)> filed;
  std::function<int(TInferenceEngine& e)> count;
  const char* duplicate;
};

const std::vector<Filing>& Filings() {
  static const std::vector<Filing> kFilings = {
      {"templates",
       [](TInferenceEngine& e, int tag, const void*& made) {
         Ref<IFactTemplate> t = MakeRef<TFactTemplate>(&e, "x", "", nullptr);
         t->AddSlot("s" + std::to_string(tag), TIEValue::Integer(0));
         made = t.get();
         e.FactTemplates().Add(t);
       },
       [](TInferenceEngine& e) -> const void* { return e.FindFactTemplate("x"); },
       [](TInferenceEngine& e) { return e.FactTemplates().Count(); },
       "Fact Template Name already exists: \"x\""},
      {"rules",
       [](TInferenceEngine& e, int tag, const void*& made) {
         std::unique_ptr<TRule> rule =
             ParseRule(e, "(defrule x (a" + std::to_string(tag) + ") => )");
         made = rule.get();
         e.AddRule(std::move(rule));
       },
       [](TInferenceEngine& e) -> const void* { return e.Rules().Get("x"); },
       [](TInferenceEngine& e) { return e.Rules().Count(); },
       "Duplicate Rules defined with same name: \"x\""},
      {"functions",
       [](TInferenceEngine& e, int, const void*& made) {
         Ref<IUserFunction> f = HostFunction("x");
         made = f.get();
         e.UserFunctions().Add(f);
       },
       [](TInferenceEngine& e) -> const void* { return e.UserFunctions().Get("x"); },
       [](TInferenceEngine& e) { return e.UserFunctions().Count(); },
       "Function Name already exists: \"x\""},
      {"defined types",
       [](TInferenceEngine& e, int, const void*& made) {
         Ref<IIEDefinedType> t = MakeRef<TIEDefinedType>("x");
         made = t.get();
         e.DefinedTypes().Add(t);
       },
       [](TInferenceEngine& e) -> const void* { return e.DefinedTypes().Get("x"); },
       [](TInferenceEngine& e) { return e.DefinedTypes().Count(); },
       "Defined Type Name already exists: \"x\""},
      {"streams",
       [](TInferenceEngine& e, int, const void*& made) {
         auto s = std::make_unique<TStringStream>();
         made = s.get();
         e.IOStreams().Add("x", std::move(s));
       },
       [](TInferenceEngine& e) -> const void* { return e.IOStreams().Get("x"); },
       [](TInferenceEngine& e) { return e.IOStreams().Count(); },
       "Duplicate streams defined with same name: \"x\""},
  };
  return kFilings;
}

TEST(CollectionsTest, ANameInUseFollowsTheDuplicateSetting) {
  using enum TDuplicateConstructs;
  for (const Filing& filing : Filings()) {
    for (const TDuplicateConstructs setting : {dcOverwrite, dcIgnore, dcError}) {
      SCOPED_TRACE(std::string(filing.collection) + " " +
                   std::to_string(static_cast<int>(setting)));
      testing::EngineFixture fx;
      TInferenceEngine& e = fx.Engine();
      const void* first = nullptr;
      const void* second = nullptr;
      filing.file(e, 1, first);
      ASSERT_EQ(filing.filed(e), first);
      const int count = filing.count(e);
      e.SetDuplicateConstructs(setting);
      const std::string error = MessageOf([&] { filing.file(e, 2, second); });
      EXPECT_EQ(error, setting == dcError ? filing.duplicate : "");
      EXPECT_EQ(filing.filed(e), setting == dcOverwrite ? second : first);
      EXPECT_EQ(filing.count(e), count);
      // Filing the very item again changes nothing under any setting.
      EXPECT_EQ(MessageOf([&] {
                  if (filing.collection == std::string("templates")) {
                    e.FactTemplates().Add(Ref<IFactTemplate>(e.FindFactTemplate("x")));
                  } else if (filing.collection == std::string("functions")) {
                    e.UserFunctions().Add(Ref<IUserFunction>(e.UserFunctions().Get("x")));
                  } else if (filing.collection == std::string("defined types")) {
                    e.DefinedTypes().Add(Ref<IIEDefinedType>(e.DefinedTypes().Get("x")));
                  }
                }),
                "");
      EXPECT_EQ(filing.filed(e), setting == dcOverwrite ? second : first);
    }
  }
}

TEST(CollectionsTest, AConstructIsFiledUnderItsOwnNameOnly) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  struct Case {
    const char* what;
    std::function<void()> put;
    const char* error;
  };
  const Case kCases[] = {
      {"function under another name", [&] { e.UserFunctions().Put("y", HostFunction("x")); },
       "Function names do not match: y and x"},
      {"function through the engine", [&] { e.PutUserFunction("y", HostFunction("x")); },
       "Function names do not match: y and x"},
      {"no function", [&] { e.UserFunctions().Put("y", nullptr); },
       "Cannot add nil to user functions"},
      {"template",
       [&] { e.FactTemplates().Put("y", MakeRef<TFactTemplate>(&e, "x", "", nullptr)); },
       "Bad Argument: x filed under the name y"},
      {"defined type", [&] { e.DefinedTypes().SetItem("y", MakeRef<TIEDefinedType>("x")); },
       "Bad Argument: x filed under the name y"},
  };
  const int functions = e.UserFunctions().Count();
  const int templates = e.FactTemplates().Count();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MessageOf(c.put), c.error);
  }
  EXPECT_EQ(e.UserFunctions().Count(), functions);
  EXPECT_EQ(e.FactTemplates().Count(), templates);
  EXPECT_EQ(e.DefinedTypes().Count(), 0);
  // Under its own name it is filed.
  e.UserFunctions().Put("y", HostFunction("y"));
  EXPECT_TRUE(e.UserFunctions().ContainsKey("y"));
}

// --- lookup, position and iteration ------------------------------------------------------------

constexpr char kProgram[] =
    "(deftype colour extends (type SYMBOL) (allowed-symbols red green blue))"
    "(deftype shade extends (type colour))"
    "(deftemplate vehicle (slot wheels (default 4)))"
    "(deftemplate car extends vehicle (slot c (type colour)))"
    "(deftemplate plain (slot x))"
    "(defglobal ?*limit* = (+ 1 2) ?*name* = \"z\")"
    "(deffunction twice (?x) (* 2 ?x))"
    "(deffunction quad (?x) (twice (twice ?x)))"
    "(defrule see-car (car (c ?c)) => (printout t \"car \" ?c \" \" (quad ?*limit*) crlf))"
    "(defrule see-plain (plain (x ?x)) => (assert (seen (twice ?x))))"
    "(deffacts start (car (c red)) (plain (x 5)))";

TEST(CollectionsTest, IterationVisitsEveryItemOnceInFilingOrder) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse(kProgram, true);
  e.IOStreams().Add("in", std::make_unique<TStringStream>("a"));
  e.IOStreams().Add("out", std::make_unique<TStringStream>());
  e.EngineVariables().Put("v", TIEValue::Integer(1));
  auto check = [](const auto& collection, const char* what) {
    SCOPED_TRACE(what);
    const std::vector<std::string> visited = Visited(collection);
    EXPECT_EQ(visited, ByPosition(collection));
    EXPECT_EQ(std::set<std::string>(visited.begin(), visited.end()).size(), visited.size());
    EXPECT_EQ(static_cast<int>(visited.size()), collection.Count());
    for (int i = 0; i < collection.Count(); ++i) {
      auto* item = collection.Get(collection.NameAt(i));
      EXPECT_EQ(item, &collection.GetItemByIndex(i));
      decltype(item) found = nullptr;
      EXPECT_TRUE(collection.ContainsKey(collection.NameAt(i), found));
      EXPECT_EQ(found, item);
    }
    decltype(collection.Get("")) none = nullptr;
    EXPECT_FALSE(collection.ContainsKey("no such name", none));
    EXPECT_THAT([&] { collection.GetItemByIndex(collection.Count()); },
                ThrowsMessage<EIEException>(StrEq("Bad Argument: index out of bounds (" +
                                                  std::to_string(collection.Count()) + ")")));
    EXPECT_THROW(collection.GetItemByIndex(-1), EIEException);
  };
  check(e.FactTemplates(), "templates");
  check(e.DefinedTypes(), "types");
  check(e.Rules(), "rules");
  check(e.UserFunctions(), "functions");
  check(e.GlobalVariables(), "globals");
  check(e.EngineVariables(), "variables");
  check(e.IOStreams(), "streams");
  EXPECT_EQ(Visited(e.DefinedTypes()), (std::vector<std::string>{"colour", "shade"}));
  EXPECT_EQ(Visited(e.Rules()), (std::vector<std::string>{"see-car", "see-plain"}));
  EXPECT_EQ(Visited(e.IOStreams()), (std::vector<std::string>{"in", "out"}));
  EXPECT_EQ(Visited(e.GlobalVariables()), (std::vector<std::string>{"*limit*", "*name*"}));

  std::vector<TFactSet*> sets;
  for (TFactSet* fact_set : e.FactSets()) {
    sets.push_back(fact_set);
  }
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0], &e.FactSets()[0]);
  std::vector<std::string> facts;
  for (IFact* fact : sets[0]->Facts()) {
    facts.push_back(fact->ToString());
  }
  EXPECT_EQ(facts, (std::vector<std::string>{"(car (c red) (wheels 4))", "(plain (x 5))"}));
}

// --- user functions ----------------------------------------------------------------------------

// How many functions IsInterpreted, counted one by one.
int CountInterpreted(const TUserFunctions& functions) {
  int n = 0;
  for (const auto& [name, f] : functions) {
    n += f->IsInterpreted() ? 1 : 0;
  }
  return n;
}

TEST(CollectionsTest, TheInterpretedCountFollowsEveryChange) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  TUserFunctions& functions = e.UserFunctions();
  const int base = functions.InterpretedCount();
  EXPECT_EQ(base, CountInterpreted(functions));
  struct Step {
    const char* what;
    std::function<void()> change;
    int interpreted;  // beyond the base
  };
  const Step kSteps[] = {
      {"two deffunctions", [&] { e.Parse("(deffunction a () 1) (deffunction b () 2)"); }, 2},
      {"a host function", [&] { functions.Add(HostFunction("h")); }, 2},
      {"a redefined deffunction", [&] { e.Parse("(deffunction a () 3)"); }, 2},
      {"a host function over a deffunction", [&] { functions.Put("b", HostFunction("b")); }, 1},
      {"a deffunction over a host function", [&] { e.Parse("(deffunction h () 4)"); }, 2},
      {"an ignored deffunction",
       [&] {
         e.SetDuplicateConstructs(TDuplicateConstructs::dcIgnore);
         e.Parse("(deffunction b () 5)");
         e.SetDuplicateConstructs(TDuplicateConstructs::dcOverwrite);
       },
       2},
      {"a deffunction removed", [&] { EXPECT_TRUE(functions.Remove("a")); }, 1},
      {"nothing removed", [&] { EXPECT_FALSE(functions.Remove("a")); }, 1},
      {"the engine cleared", [&] { e.Clear(); }, 0},
      {"one more", [&] { e.Parse("(deffunction c () 1)"); }, 1},
      {"every function removed", [&] { functions.Clear(); }, -base},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(functions.InterpretedCount(), base + step.interpreted);
    EXPECT_EQ(functions.InterpretedCount(), CountInterpreted(functions));
  }
  EXPECT_EQ(functions.Count(), 0);
}

TEST(CollectionsTest, RemovedFunctionsLeaveTheTableAndTheEvents) {
  std::vector<std::string> events;  // outlives the engine, whose packages tell it as it goes
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.OnAddUserFunction = [&](TInferenceEngine&, IUserFunction& f) {
    events.push_back("+" + f.FunctionName());
  };
  e.OnRemoveUserFunction = [&](TInferenceEngine&, IUserFunction& f) {
    events.push_back("-" + f.FunctionName());
  };
  Ref<IUserFunction> f = HostFunction("h");
  e.UserFunctions().Add(f);
  EXPECT_EQ(f->IndexOfReasoner(&e), 0);
  e.UserFunctions().Add(HostFunction("h"));  // dcOverwrite
  EXPECT_EQ(f->IndexOfReasoner(&e), -1);     // the engine let it go
  e.UserFunctions().Remove("h");
  EXPECT_EQ(events, (std::vector<std::string>{"+h", "-h", "+h", "-h"}));
  EXPECT_EQ(e.GetUserFunction("h"), nullptr);
}

TEST(CollectionsTest, InterpretedFunctionsAreMadeAgainForAnotherEngine) {
  auto source = std::make_unique<TInferenceEngine>(nullptr);
  source->Parse(
      "(deffunction twice (?x) (* 2 ?x))"
      "(deffunction quad (?x) \"four times\" (twice (twice ?x)))");
  const std::string text = source->UserFunctions().ToString();
  const std::string names = source->UserFunctions().GetNamesToString();

  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  const int functions = e.UserFunctions().Count();
  e.UserFunctions().AssignInterpretedFunctions(source->UserFunctions());
  EXPECT_EQ(e.UserFunctions().Count(), functions + 2);
  EXPECT_EQ(e.UserFunctions().InterpretedCount(), 2);
  EXPECT_NE(e.GetUserFunction("quad"), source->GetUserFunction("quad"));
  EXPECT_EQ(e.UserFunctions().ToString(), text);
  // The copies call this engine's functions: the source may go.
  source.reset();
  e.Parse("(printout t (quad 5) crlf)");
  EXPECT_EQ(fx.TakeOutput(), "twice\nquad\n20\n");  // the parser names what it reads
  // The names end with the two deffunctions, after the packages' functions.
  EXPECT_TRUE(names.ends_with("\ntwice\nquad\n"));
  EXPECT_TRUE(e.UserFunctions().GetNamesToString().ends_with("\ntwice\nquad\n"));
}

TEST(CollectionsTest, UserFunctionsPrintOnlyTheDeffunctions) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  EXPECT_EQ(e.UserFunctions().ToString(), "");
  e.UserFunctions().Add(HostFunction("h"));
  e.Parse("(deffunction twice (?x) (* 2 ?x)) (deffunction one () 1)");
  const std::string text = e.UserFunctions().ToString();
  EXPECT_EQ(text.find('\n'), 0u);
  EXPECT_EQ(text.find("(deffunction twice"), 1u);
  EXPECT_NE(text.find("\n(deffunction one"), std::string::npos);
  // What it prints reads back as the same functions.
  testing::EngineFixture other;
  other.Engine().Parse(text);
  EXPECT_EQ(other.Engine().UserFunctions().ToString(), text);
}

TEST(CollectionsTest, AssignSharesHostFunctionsAndKeepsOwnOnes) {
  TInferenceEngine source(nullptr);
  Ref<IUserFunction> host = HostFunction("host-only");
  source.UserFunctions().Add(host);
  source.Parse("(deffunction d () 1)");
  TInferenceEngine target(nullptr);
  IUserFunction* own_plus = target.GetUserFunction("+");
  ASSERT_NE(own_plus, nullptr);
  target.SetDuplicateConstructs(TDuplicateConstructs::dcError);  // nothing is refiled
  target.UserFunctions().Assign(source.UserFunctions());
  EXPECT_EQ(target.GetUserFunction("host-only"), host.get());
  EXPECT_EQ(target.GetUserFunction("+"), own_plus);
  EXPECT_EQ(target.GetUserFunction("d"), nullptr);
  EXPECT_EQ(host->ReasonerCount(), 2);
}

// --- fact sets ---------------------------------------------------------------------------------

TEST(CollectionsTest, AFactSetOfANameInUseDetachesTheOldOne) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  auto a = std::make_unique<TFactSet>(nullptr);
  auto b = std::make_unique<TFactSet>(nullptr);
  auto c = std::make_unique<TFactSet>(nullptr);
  a->SetFactSetName("d");
  b->SetFactSetName("D");
  c->SetFactSetName("d");
  EXPECT_EQ(e.FactSets().Add(*a), 0);
  EXPECT_EQ(a->Engine(), &e);
  EXPECT_EQ(e.FactSets().Add(*b), 1);  // names are case-sensitive
  EXPECT_EQ(e.FactSets().Add(*a), 0);  // listed already: stays
  EXPECT_EQ(e.FactSets().IndexOf("d"), 0);
  EXPECT_EQ(e.FactSets().IndexOf("D"), 1);
  EXPECT_EQ(e.FactSets().IndexOf("x"), -1);
  c->SetEngine(&e);
  EXPECT_EQ(a->Engine(), nullptr);
  EXPECT_EQ(e.FactSets().IndexOf(*a), -1);
  EXPECT_EQ(e.FactSets().Count(), 2);
  EXPECT_EQ(&e.FactSets()[e.FactSets().IndexOf("d")], c.get());
  // Insert places, or moves; Remove takes out and detaches.
  e.FactSets().Insert(0, *c);
  EXPECT_EQ(e.FactSets().IndexOf(*c), 0);
  e.FactSets().Insert(99, *a);  // clamped: appended, and detaches c
  EXPECT_EQ(c->Engine(), nullptr);
  EXPECT_EQ(e.FactSets().IndexOf(*a), 1);
  EXPECT_EQ(e.FactSets().Remove(*b), 0);
  EXPECT_EQ(b->Engine(), nullptr);
  EXPECT_EQ(e.FactSets().Remove(*b), -1);
  EXPECT_THROW(e.FactSets().Items(1), EIEException);
  // A set that is destroyed leaves the list.
  a.reset();
  EXPECT_EQ(e.FactSets().Count(), 0);
}

TEST(CollectionsTest, FactSetsAreAssertedInListOrder) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deffacts one (a 1)) (deffacts two (a 2)) (deffacts three (a 3))");
  TFactSet& three = e.FactSets()[2];
  e.FactSets().Insert(0, three);
  e.Reset();
  EXPECT_EQ(FactTexts(e),
            (std::vector<std::string>{"(Initial-Fact)", "(a 3 )", "(a 1 )", "(a 2 )"}));
  EXPECT_EQ(e.FactSets().ToString(),
            "(deffacts three\n  (a 3 )\n)\n(deffacts one\n  (a 1 )\n)\n"
            "(deffacts two\n  (a 2 )\n)\n");
  e.FactSets().Clear();
  EXPECT_EQ(e.FactSets().Count(), 0);
  EXPECT_EQ(three.Engine(), nullptr);
}

TEST(CollectionsTest, AFactSetsFactsCanBeReplacedFoundAndRemoved) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  TFactSet& set = MakeOwned<TFactSet>(e);
  set.SetFacts({"(a 1)", "(a 2)", "(a 3)"});
  IFact* second = set.GetFact(1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(set.IndexOf(*second), 1);
  Ref<IFact> other = e.ParseFact("(b 9)");
  set.SetFact(1, other);
  EXPECT_EQ(set.Text(1), "(b 9 )");
  EXPECT_EQ(set.IndexOf(*other), 1);
  EXPECT_EQ(set.IndexOf(*e.ParseFact("(b 9)")), -1);  // by identity
  EXPECT_EQ(set.Remove(*other), 1);
  EXPECT_EQ(set.Remove(*other), -1);
  EXPECT_EQ(set.Count(), 2);
  EXPECT_EQ(set.Text(1), "(a 3)");
  for (const int bad : {-1, 2}) {
    EXPECT_THROW(set.GetFact(bad), EIEException);
    EXPECT_THROW(set.SetFact(bad, other), EIEException);
  }
}

TEST(CollectionsTest, AFactSetJoinsWithoutParsingOrOnceLoaded) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  auto set = std::make_unique<TFactSet>(nullptr);
  set->SetFacts({"(a 1)"});
  set->SetEngineNoParse(&e);
  EXPECT_EQ(e.FactSets().IndexOf(*set), 0);
  EXPECT_EQ(*set->Facts().begin(), nullptr);  // still text
  EXPECT_NE(set->GetFact(0), nullptr);        // parsed when asked for
  set->SetEngine(nullptr);

  // While loading, the set only remembers its engine; Loaded joins and parses.
  auto loaded = std::make_unique<TFactSet>(nullptr);
  loaded->BeginLoading();
  loaded->SetFacts({"(b 2)"});
  loaded->SetEngine(&e);
  EXPECT_EQ(e.FactSets().Count(), 0);
  loaded->Loaded();
  EXPECT_EQ(e.FactSets().IndexOf(*loaded), 0);
  EXPECT_NE(*loaded->Facts().begin(), nullptr);
}

TEST(CollectionsTest, AFactSetTakesAnothersFactsAsText) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deffacts source \"c\" (a 1) (a 2))");
  TFactSet copy(nullptr);
  copy.Assign(e.FactSets()[0]);
  EXPECT_EQ(copy.FactSetName(), "source");
  EXPECT_EQ(copy.Comment(), "c");
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(*copy.Facts().begin(), nullptr);  // no engine: text only
  copy.SetFactSetName("copy");
  copy.SetEngine(&e);
  EXPECT_NE(copy.GetFact(0), e.FactSets()[0].GetFact(0));
  EXPECT_EQ(copy.GetFact(0)->ToString(), "(a 1 )");
  copy.SetEngine(nullptr);
}

// --- copying between engines -------------------------------------------------------------------

TEST(CollectionsTest, CollectionsCopyIntoAnotherEngine) {
  auto source = std::make_unique<TInferenceEngine>(nullptr);
  source->Parse(kProgram, true);
  source->FactTemplates().Get("vehicle")->SetBackwardChaining(true);
  struct Texts {
    std::string types, templates, functions, rules;
  };
  const Texts before = {source->DefinedTypes().ToString(), source->FactTemplates().ToString(),
                        source->UserFunctions().ToString(), source->Rules().ToString()};

  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  // Dependencies first: types, templates, functions, then what uses them.
  e.UserFunctions().Assign(source->UserFunctions());
  e.DefinedTypes().Assign(source->DefinedTypes());
  e.FactTemplates().Assign(source->FactTemplates());
  e.UserFunctions().AssignInterpretedFunctions(source->UserFunctions());
  e.GlobalVariables().Assign(source->GlobalVariables());
  e.Rules().Assign(source->Rules());
  source.reset();
  fx.TakeOutput();  // the parser names the types and functions it reads

  EXPECT_EQ(e.DefinedTypes().ToString(), before.types);
  EXPECT_EQ(e.FactTemplates().ToString(), before.templates);
  EXPECT_EQ(e.UserFunctions().ToString(), before.functions);
  EXPECT_EQ(e.Rules().ToString(), before.rules);
  EXPECT_TRUE(e.FindFactTemplate("vehicle")->IsBackwardChaining());
  EXPECT_FALSE(e.FindFactTemplate("car")->IsBackwardChaining());
  EXPECT_EQ(e.FindFactTemplate("car")->Parent(), e.FindFactTemplate("vehicle"));
  EXPECT_EQ(e.FindFactTemplate("car")->SlotAt(0)->ExtendedTypeInfo(),
            e.DefinedTypes().Get("colour"));
  // The copies work in their new engine.
  e.Reset();
  e.Assert("(car (c blue))");
  e.Assert("(plain (x 4))");
  e.Run();
  EXPECT_EQ(fx.TakeOutput(), "car blue 12\n");
  EXPECT_EQ(e.Facts().FindFact(*e.ParseFact("(seen 8)")), 3);
  // Copying again changes nothing: every item is there with its text.
  TInferenceEngine again(nullptr);
  again.Parse(kProgram, true);
  again.FactTemplates().Get("vehicle")->SetBackwardChaining(true);
  e.SetDuplicateConstructs(TDuplicateConstructs::dcError);
  e.DefinedTypes().Assign(again.DefinedTypes());
  e.FactTemplates().Assign(again.FactTemplates());
  e.Rules().Assign(again.Rules());
  EXPECT_EQ(e.Rules().ToString(), before.rules);
}

TEST(CollectionsTest, VariablesCopyAsValuesOrAsTheirText) {
  auto source = std::make_unique<TInferenceEngine>(nullptr);
  source->Parse("(defglobal ?*sum* = (+ 1 2) ?*f* = 1.23456 ?*s* = \"t\")");
  source->EngineVariables().Put("v", TIEValue::Float(2.5));
  TInferenceEngine e(nullptr);
  e.GlobalVariables().Assign(source->GlobalVariables());
  e.EngineVariables().Assign(source->EngineVariables());
  EXPECT_NE(e.GlobalVariables().Get("*sum*"), source->GlobalVariables().Get("*sum*"));
  source.reset();
  EXPECT_EQ(e.GlobalVariables().ToString(), "*sum* = (+ 1 2)\n*f* = 1.2346\n*s* = \"t\"\n");
  EXPECT_DOUBLE_EQ(e.GlobalVariables().Get("*f*")->AsFloat(), 1.23456);  // cloned, not read
  // Put binds the globals at once.
  EXPECT_EQ(e.RootContext().FindGlobalBinding("*sum*")->Value()->AsInteger(), 3);
  EXPECT_DOUBLE_EQ(e.EngineVariables().Get("v")->AsFloat(), 2.5);
}

TEST(CollectionsTest, StreamsAreNotCopied) {
  TInferenceEngine a(nullptr);
  TInferenceEngine b(nullptr);
  a.IOStreams().Add("x", std::make_unique<TStringStream>());
  b.IOStreams().Assign(a.IOStreams());
  EXPECT_EQ(b.IOStreams().Count(), 0);
  EXPECT_TRUE(a.IOStreams().ContainsKey("x"));
}

// --- working memory ----------------------------------------------------------------------------

TEST(CollectionsTest, InsertAssertsAndPlacesTheFact) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  int assertions = 0;
  e.OnAssertion = [&](TInferenceEngine&, IFact&) { ++assertions; };
  e.Assert("(a 1)");
  e.Assert("(a 2)");
  Ref<IFact> fact = e.ParseFact("(b 3)");
  e.Facts().Insert(1, fact);
  EXPECT_EQ(assertions, 3);
  EXPECT_EQ(fact->GetID(), 3);
  EXPECT_EQ(FactTexts(e),
            (std::vector<std::string>{"(Initial-Fact)", "(b 3 )", "(a 1 )", "(a 2 )"}));
  EXPECT_EQ(e.Facts().FindFact(3), 1);
  EXPECT_EQ(e.Facts().IndexOf(*fact), 1);
  EXPECT_EQ(e.Facts().FindFact(2), 3);
  // A duplicate is not asserted and nothing moves.
  e.Facts().Insert(0, e.ParseFact("(a 2)"));
  EXPECT_EQ(assertions, 3);
  EXPECT_EQ(e.Facts().Count(), 4);
  // At the end it is an Add.
  e.Facts().Insert(4, e.ParseFact("(c)"));
  EXPECT_EQ(e.Facts().Get(4).ToString(), "(c)");
  for (const int bad : {-1, 6}) {
    EXPECT_THAT([&] { e.Facts().Insert(bad, e.ParseFact("(d)")); },
                ThrowsMessage<EIEException>(
                    StrEq("Bad Argument: fact index out of bounds (" + std::to_string(bad) + ")")));
  }
  // The moved fact retracts as any other.
  e.Facts().Delete(1);
  EXPECT_EQ(e.Facts().GetFactByID(3), nullptr);
  EXPECT_EQ(FactTexts(e), (std::vector<std::string>{"(Initial-Fact)", "(a 1 )", "(a 2 )", "(c)"}));
}

TEST(CollectionsTest, AFreeStandingFactListInsertsInPlace) {
  testing::EngineFixture fx;
  TFacts list(nullptr);
  list.Add(fx.Fact("a", {TIEValue::Integer(1)}));
  list.Add(fx.Fact("a", {TIEValue::Integer(2)}));
  list.Insert(0, fx.Fact("a", {TIEValue::Integer(3)}));
  std::vector<std::string> lines;
  list.AssignTo(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"(a 3 )", "(a 1 )", "(a 2 )"}));
  EXPECT_EQ(list.FindFact(list.Get(0).GetID()), 0);
}

TEST(CollectionsTest, AssignCopiesFactsOntoThisEnginesTemplates) {
  TInferenceEngine source(nullptr);
  source.Parse("(deftemplate p (slot x)) (assert (p (x 1)) (p (x 2)) (q 7))");
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deftemplate p (slot x)) (assert (old))");
  e.Facts().Assign(source.Facts());
  EXPECT_EQ(FactTexts(e), FactTexts(source));
  for (int i = 0; i < e.Facts().Count(); ++i) {
    EXPECT_NE(&e.Facts()[i], &source.Facts()[i]);
    if (i > 0) {
      EXPECT_GT(e.Facts()[i].GetID(), e.Facts()[i - 1].GetID());  // asserted here, in order
    }
  }
  EXPECT_EQ(e.Facts()[1].Template(), e.FindFactTemplate("p"));
  // (q) has no template here: the copy keeps the source's.
  EXPECT_EQ(e.Facts()[3].Template(), source.FindFactTemplate("q"));

  TInferenceEngine different(nullptr);
  different.Parse("(deftemplate p (slot y)) (assert (p (y 1)))");
  const std::vector<std::string> facts = FactTexts(e);
  EXPECT_EQ(MessageOf([&] { e.Facts().Assign(different.Facts()); }),
            "Unable to assign slot values, fact templates are different: "
            "(deftemplate p\n  (slot y )) and (deftemplate p\n  (slot x ))");
  EXPECT_EQ(FactTexts(e), facts);
  TFacts copy(nullptr);
  e.Facts().AssignTo(copy);
  EXPECT_EQ(copy.ToString(), e.Facts().ToString());
}

TEST(CollectionsTest, PendingFactsCanBeRead) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  std::vector<std::string> seen;
  e.UserFunctions().Add(MakeRef<TBodyFunction>("probe", [&] {
    // While a fact is matched, changes wait in the queue.
    e.Assert("(b 1)");
    e.Retract("(a 0)");
    e.Assert("(b 2)");
    seen.push_back(std::to_string(e.PendingAssertionCount()) + " " +
                   std::to_string(e.PendingRetractionCount()));
    seen.push_back(e.GetFactPendingAssertions(0).ToString());
    seen.push_back(e.GetFactPendingAssertions(1).ToString());
    seen.push_back(e.GetFactPendingRetractions(0).ToString());
    seen.push_back(MessageOf([&] { e.GetFactPendingRetractions(1); }));
    return BoolValue(true);
  }));
  e.Parse("(defrule r (a 1) (test (probe)) => )");
  e.Assert("(a 0)");
  e.Assert("(a 1)");
  EXPECT_EQ(seen, (std::vector<std::string>{"2 1", "(b 1 )", "(b 2 )", "(a 0 )",
                                            "Bad Argument: index out of bounds (1)"}));
  EXPECT_EQ(e.PendingFactCount(), 0);
  EXPECT_EQ(FactTexts(e),
            (std::vector<std::string>{"(Initial-Fact)", "(a 1 )", "(b 1 )", "(b 2 )"}));
  EXPECT_THROW(e.GetFactPendingAssertions(0), EIEException);
}

}  // namespace
}  // namespace zephro
