// Facts as JSON: every kind of value there and back, the texts written for
// values whose form is fixed by hand, the errors a document can hold (and
// that a bad document asserts nothing), and working memory carried from one
// engine to another.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/facts_json.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

namespace zephro::testing {
namespace {

constexpr char kConstructs[] = R"(
  (deftemplate person (slot name) (slot age (type INTEGER) (default 0)) (multislot tags))
  (deftemplate box (slot v))
  (deftemplate bag (multislot v))
  (deftemplate reading (slot at (type FLOAT) (default 0.0))))";

std::unique_ptr<TInferenceEngine> MakeEngine() {
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  engine->Parse(kConstructs);
  return engine;
}

// The fact with `id` of `engine`.
IFact& Fact(TInferenceEngine& engine, std::int32_t id) {
  IFact* fact = engine.Facts().GetFactByID(id);
  EXPECT_NE(fact, nullptr) << id;
  return *fact;
}

// Same template name and strictly equal values slot by slot (kinds included:
// the integer 2 and the float 2.0 differ, so do the atom a and the string "a").
::testing::AssertionResult SameFact(const IFact& a, const IFact& b) {
  if (a.Template()->TemplateName() != b.Template()->TemplateName()) {
    return ::testing::AssertionFailure() << "templates differ";
  }
  for (int i = 0; i < a.Template()->SlotCount(); ++i) {
    if (!a.ValueAt(i)->Equals(b.ValueAt(i))) {
      return ::testing::AssertionFailure()
             << "slot " << i << ": " << a.ValueAt(i)->ToString() << " and "
             << b.ValueAt(i)->ToString() << " (kinds " << IETypeName(a.ValueAt(i)->DType())
             << ", " << IETypeName(b.ValueAt(i)->DType()) << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// Each fact is asserted from its text in one engine, written as JSON, read
// into a second engine, and must come back equal.
TEST(FactsJsonTest, EveryValueKindComesBackEqual) {
  const std::vector<std::string> facts = {
      "(box (v 42))",
      "(box (v -2147483648))",
      "(box (v 2.0))",
      "(box (v 0.1))",
      "(box (v -1.5e300))",
      "(box (v \"text with \\\"quotes\\\" and \\\\ backslash\"))",
      "(box (v \"\"))",
      "(box (v red))",
      "(box (v TRUE))",
      "(box (v nil))",
      "(bag (v 1 2.5 \"s\" a))",
      "(bag)",
      "(box (v (assert (other))))",
      "(person (name \"Al\") (age 30) (tags a \"b\" 3))",
      "(person)",
      "(colour red \"red\" 1 1.0)",
      "(empty)",
  };
  for (const std::string& text : facts) {
    SCOPED_TRACE(text);
    auto from = MakeEngine();
    auto to = MakeEngine();
    const std::int32_t id = from->Assert(text);
    const std::string json = FactToJson(Fact(*from, id));
    SCOPED_TRACE(json);
    std::int32_t new_id = -1;
    EXPECT_NO_THROW(new_id = FactFromJson(*to, json));
    ASSERT_GE(new_id, 0);
    EXPECT_TRUE(SameFact(Fact(*from, id), Fact(*to, new_id)));
  }
}

// The JSON forms of values, written out by hand from the documented table.
TEST(FactsJsonTest, ValuesHaveTheirDocumentedForms) {
  struct Case {
    const char* fact;
    const char* json;
  };
  const Case cases[] = {
      {"(box (v 42))", R"({"template": "box", "id": 1, "slots": {"v": 42}})"},
      {"(box (v 2.0))", R"({"template": "box", "id": 1, "slots": {"v": 2.0}})"},
      {"(box (v 1e20))", R"({"template": "box", "id": 1, "slots": {"v": 1e+20}})"},
      {"(box (v \"red\"))", R"({"template": "box", "id": 1, "slots": {"v": "red"}})"},
      {"(box (v red))", R"({"template": "box", "id": 1, "slots": {"v": {"atom": "red"}}})"},
      {"(box (v nil))", R"({"template": "box", "id": 1, "slots": {"v": null}})"},
      {"(box)", R"({"template": "box", "id": 1, "slots": {"v": null}})"},  // no value: nil
      {"(box (v (assert (other))))",
       R"({"template": "box", "id": 2, "slots": {"v": {"fact": 1}}})"},
      {"(box (v \"a\nb\"))", R"({"template": "box", "id": 1, "slots": {"v": "a\nb"}})"},
      {"(person (name Al) (age 30) (tags a 1))",
       R"({"template": "person", "id": 1, "slots": {"age": 30, "name": {"atom": "Al"}, )"
       R"("tags": [{"atom": "a"}, 1]}})"},
      {"(colour red 2)", R"({"template": "colour", "id": 1, "values": [{"atom": "red"}, 2]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fact);
    auto engine = MakeEngine();
    EXPECT_EQ(FactToJson(Fact(*engine, engine->Assert(c.fact))), c.json);
  }
}

TEST(FactsJsonTest, ReadingTakesEveryFormAndGivesNewIds) {
  struct Case {
    const char* json;
    const char* fact;  // the same fact as the engine reads it from text
  };
  const Case cases[] = {
      // "id" is ignored: the engine numbers the fact itself.
      {R"({"template": "box", "id": 99, "slots": {"v": 1}})", "(box (v 1))"},
      {R"({"template": "box", "slots": {"v": 1.0}})", "(box (v 1.0))"},
      {R"({"template": "box", "slots": {"v": 15e-1}})", "(box (v 1.5))"},
      {R"({"template": "box", "slots": {"v": true}})", "(box (v TRUE))"},
      {R"({"template": "box", "slots": {"v": false}})", "(box (v FALSE))"},
      {R"({"template": "box", "slots": {"v": "\u00e9\ud83d\ude00"}})",
       "(box (v \"\xc3\xa9\xf0\x9f\x98\x80\"))"},
      {R"({"template": "person", "slots": {"name": "Al"}})", "(person (name \"Al\"))"},
      // An integer for a slot of floats is the same float, as in the language.
      {R"({"template": "reading", "slots": {"at": 3}})", "(reading (at 3))"},
      {R"(  {"values": [{"atom": "x"}], "template": "pair"}  )", "(pair x)"},
      // A byte order mark before the text is skipped.
      {"\xEF\xBB\xBF"
       R"({"template": "box", "slots": {"v": 1}})",
       "(box (v 1))"},
      // Past the 64-bit integers (2^63 - 1 = 9223372036854775807), a number
      // without fraction reads as a float.
      {R"({"template": "box", "slots": {"v": 10000000000000000000}})", "(box (v 1e19))"},
      {R"({"template": "box", "slots": {"v": -9223372036854775809}})",
       "(box (v -9.223372036854775809e18))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    auto engine = MakeEngine();
    const std::int32_t filler = engine->Assert("(filler)");
    const std::int32_t id = FactFromJson(*engine, c.json);
    EXPECT_EQ(id, filler + 1);
    auto reference = MakeEngine();
    EXPECT_TRUE(SameFact(Fact(*engine, id), Fact(*reference, reference->Assert(c.fact))));
  }
}

TEST(FactsJsonTest, AtomAndStringOfOneTextStayApart) {
  auto engine = MakeEngine();
  const std::int32_t atom = FactFromJson(*engine, R"({"template": "box", "slots": {"v": {"atom": "a"}}})");
  const std::int32_t string = FactFromJson(*engine, R"({"template": "box", "slots": {"v": "a"}})");
  ASSERT_GE(atom, 0);
  ASSERT_GE(string, 0);  // not a duplicate of the first
  EXPECT_EQ(Fact(*engine, atom).GetValue("v")->DType(), TIEType::dtAtom);
  EXPECT_EQ(Fact(*engine, string).GetValue("v")->DType(), TIEType::dtString);
}

TEST(FactsJsonTest, NestedArraysAreNestedMultifields) {
  auto engine = MakeEngine();
  const std::int32_t id =
      FactFromJson(*engine, R"({"template": "bag", "slots": {"v": [1, [2, [3]], []]}})");
  const IIEValue* v = Fact(*engine, id).GetValue("v");
  ASSERT_EQ(v->DType(), TIEType::dtList);
  ASSERT_EQ(v->AsList()->ValueCount(), 3);
  EXPECT_EQ(v->AsList()->Get(1)->DType(), TIEType::dtList);
  EXPECT_EQ(FactToJson(Fact(*engine, id)),
            R"({"template": "bag", "id": 1, "slots": {"v": [1, [2, [3]], []]}})");
}

// JSON text is UTF-8 (reading refuses anything else, see the errors below).
// A string or atom of the engine may hold any bytes: each sequence that is
// not UTF-8 is written as U+FFFD, one for each maximal part of a character
// that cannot be completed (the Unicode standard's practice for conversion),
// so what is written always reads back. A NUL byte is written as \u0000
// (JSON escapes every control character) and reads back as the same byte.
TEST(FactsJsonTest, ValuesAreWrittenAsUtf8) {
  struct Case {
    bool atom;          // the slot holds an atom, else a string
    std::string bytes;  // its text
    std::string json;   // the string as written
    std::string read;   // the text read back
  };
  const std::string fffd = "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER in UTF-8
  const Case cases[] = {
      {false, "a\xFFz", "\"a" + fffd + "z\"", "a" + fffd + "z"},
      {true, "\xFF", "\"" + fffd + "\"", fffd},
      // The euro sign E2 82 AC cut short: at the end, and before a letter.
      {false, "\xE2\x82", "\"" + fffd + "\"", fffd},
      {false, "\xE2\x82x", "\"" + fffd + "x\"", fffd + "x"},
      // An overlong form of '/': neither byte begins a character.
      {false, "\xC0\xAF", "\"" + fffd + fffd + "\"", fffd + fffd},
      {false, "\xE2\x82\xAC", "\"\xE2\x82\xAC\"", "\xE2\x82\xAC"},
      {false, std::string("a\0b", 3), R"("a\u0000b")", std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    auto engine = MakeEngine();
    Ref<TFact> fact = TFact::Make(Ref<IFactTemplate>(engine->FindFactTemplate("box")));
    fact->SetValue("v", c.atom ? TIEValue::Atom(c.bytes) : TIEValue::String(c.bytes));
    const std::int32_t id = engine->Assert(std::move(fact));
    const std::string json = FactToJson(Fact(*engine, id));
    EXPECT_EQ(json, R"({"template": "box", "id": 1, "slots": {"v": )" +
                        (c.atom ? R"({"atom": )" + c.json + "}" : c.json) + "}}");
    auto other = MakeEngine();
    const IIEValue* back = Fact(*other, FactFromJson(*other, json)).GetValue("v");
    EXPECT_EQ(back->DType(), c.atom ? TIEType::dtAtom : TIEType::dtString);
    EXPECT_EQ(back->AsString(), c.read);
  }
}

// Each bad document raises its message and leaves working memory as it was.
TEST(FactsJsonTest, ErrorsNameTheFaultAndAssertNothing) {
  struct Case {
    std::string json;
    bool list;            // read with LoadFactsJson, else FactFromJson
    const char* message;  // the start of the message
  };
  // A list nested 200,000 deep, and the same depth of objects ({"a": ...
  // takes five bytes a level): reading stops at the bracket that would be
  // level 1001, without exhausting the stack.
  const std::string deep_list(200000, '[');
  std::string deep_objects;
  for (int i = 0; i < 200000; ++i) {
    deep_objects += R"({"a":)";
  }
  const Case cases[] = {
      {R"({"template": "box", "slots": {"v": 1})", false,
       "Bad JSON at byte 37: ',' or '}' is expected"},
      {R"({"template": "box", "slots": {"v": 01}})", false,
       "Bad JSON at byte 36: ',' or '}' is expected"},
      {R"({"template": "box", "slots": {"v": 1}} x)", false,
       "Bad JSON at byte 39: unexpected text after the value"},
      {R"({"template": "box", "template": "box"})", false,
       "Bad JSON at byte 20: a member name is repeated"},
      {R"({"a\"": 1, "a\"": 2})", false, "Bad JSON at byte 11: a member name is repeated"},
      {R"({"template": "box", "slots": {"v": "\q"}})", false,
       "Bad JSON at byte 37: unknown escape in a string"},
      {"", false, "Bad JSON at byte 0: a value is missing"},
      // The byte named is the one at which the text stopped being JSON (for
      // a misplaced string or number, the token's last byte).
      {R"({"template": "box",})", false,
       "Bad JSON at byte 19: a member name (a string) is expected"},
      {R"({"template" 1})", false, "Bad JSON at byte 12: ':' is expected after a member name"},
      {"[1 2]", true, "Bad JSON at byte 3: ',' or ']' is expected"},
      {"[1,]", true, "Bad JSON at byte 3: not the start of a value"},
      {"[nul]", true, "Bad JSON at byte 4: not a value"},
      {"[1.]", true, "Bad JSON at byte 3: a digit is expected after the decimal point"},
      {"[1e]", true, "Bad JSON at byte 3: a digit is expected in the exponent"},
      {"[-x]", true, "Bad JSON at byte 2: a digit is expected"},
      {R"(["abc)", true, "Bad JSON at byte 5: the text ends inside a string"},
      {"[\"a\tb\"]", true, "Bad JSON at byte 3: a control character must be escaped in a string"},
      {R"(["\u12"])", true, "Bad JSON at byte 6: \\u needs four hexadecimal digits"},
      {R"(["\ud800x"])", true,
       "Bad JSON at byte 8: a high surrogate must be followed by a low one"},
      {R"(["\udc00"])", true, "Bad JSON at byte 7: a low surrogate without a high one"},
      {R"({"template": "box", "slots": {"v": 1e999}})", false,
       "Bad JSON at byte 35: a number out of range"},
      // Strings must be UTF-8 (RFC 3629): the byte named is the first that
      // cannot continue a character.
      {"{\"template\": \"box\", \"slots\": {\"v\": \"a\xFF\"}}", false,
       "Bad JSON at byte 37: a string is not valid UTF-8"},
      {"{\"template\": \"b\xC3x\"}", false, "Bad JSON at byte 16: a string is not valid UTF-8"},
      // An overlong form of '/', and a surrogate written as UTF-8.
      {"[\"\xC0\xAF\"]", true, "Bad JSON at byte 2: a string is not valid UTF-8"},
      {"[\"\xED\xA0\x80\"]", true, "Bad JSON at byte 3: a string is not valid UTF-8"},
      {deep_list, true, "Bad JSON at byte 1000: nested too deeply"},
      {deep_objects, false, "Bad JSON at byte 5000: nested too deeply"},
      {R"({"template": "car", "slots": {}})", false, "Unknown fact template: car"},
      {R"({"template": "box", "slots": {"w": 1}})", false,
       "No such slot in fact template: w"},
      {R"({"template": "person", "slots": {"age": "old"}})", false, ""},
      {R"({"template": "reading", "slots": {"at": [2]}})", false, ""},
      {R"({"template": "box", "slots": {"v": 2147483648}})", false,
       "No value is written as the integer 2147483648 (at byte 35)"},
      {R"({"template": "box", "slots": {"v": {"colour": "red"}}})", false,
       "No value is written as this object (at byte 35)"},
      {R"({"template": "box", "slots": {"v": 9223372036854775807}})", false,
       "No value is written as the integer 9223372036854775807 (at byte 35)"},
      {R"({"template": "bag", "slots": {"v": ["a\"b", -2147483649]}})", false,
       "No value is written as the integer -2147483649 (at byte 44)"},
      {R"({"template": "bag", "slots": {"v": [{"fact": -1}]}})", false,
       "No value is written as this object (at byte 36)"},
      {R"({"template": "box", "slots": {"v": 1}, "when": 3})", false,
       "Unknown member of a JSON fact: \"when\""},
      {R"({"template": "box"})", false, "A JSON fact must be an object"},
      {R"({"template": "box", "slots": {}, "values": []})", false,
       "A JSON fact must be an object"},
      {R"({"template": "box", "values": [1]})", false,
       "Fact template box has named slots: they are given as \"slots\""},
      {R"({"template": "box", "slots": {}})", true, "A JSON fact list must be an array"},
      // Valid facts around a bad one: none is asserted.
      {R"([{"template": "box", "slots": {"v": 1}},
           {"template": "colour", "values": [{"atom": "red"}]},
           {"template": "car", "slots": {}},
           {"template": "box", "slots": {"v": 2}}])",
       true, "JSON fact 2: Unknown fact template: car"},
      {R"([{"template": "box", "slots": {"v": 1}}, {"template": "box", "slots": {"v": 2}])", true,
       "Bad JSON at byte 78: ',' or '}' is expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json.substr(0, 100));
    auto engine = MakeEngine();
    engine->Assert("(before)");
    const int count = engine->Facts().Count();
    try {
      if (c.list) {
        LoadFactsJson(*engine, c.json);
      } else {
        FactFromJson(*engine, c.json);
      }
      ADD_FAILURE() << "no error";
    } catch (const EIEException& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, std::string(c.message).size()), c.message);
    }
    EXPECT_EQ(engine->Facts().Count(), count);
    // A template of an ordered fact is only made once the document is valid.
    EXPECT_EQ(engine->FindFactTemplate("colour"), nullptr);
  }
}

TEST(FactsJsonTest, WorkingMemoryGoesToAnotherEngineInOrder) {
  auto from = MakeEngine();
  from->Assert("(person (name \"Al\") (age 30) (tags a b))");
  from->Assert("(box (v 1.25))");
  from->Assert("(colour red)");
  from->Assert("(bag (v x \"y\" 3))");
  from->Retract(1);
  from->Assert("(person (name Bo))");
  const std::string json = FactsToJson(*from);

  // A new engine may hold facts of its own already (the initial fact), the
  // same as `from` holds first: those are duplicates.
  auto to = MakeEngine();
  const int own = to->Facts().Count();
  EXPECT_EQ(LoadFactsJson(*to, json), from->Facts().Count() - own);
  ASSERT_EQ(to->Facts().Count(), from->Facts().Count());
  std::vector<const IFact*> before;
  from->ForEachFact([&](IFact& fact) { before.push_back(&fact); });
  int i = 0;
  to->ForEachFact([&](IFact& fact) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(SameFact(*before[static_cast<std::size_t>(i++)], fact));
  });
  // Read again into the same engine, every fact is a duplicate.
  EXPECT_EQ(LoadFactsJson(*to, json), 0);
  auto empty = MakeEngine();
  EXPECT_EQ(LoadFactsJson(*empty, "[]"), 0);
}

}  // namespace
}  // namespace zephro::testing
