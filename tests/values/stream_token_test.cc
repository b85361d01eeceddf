#include "zephro/values/stream_token.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using enum TIEType;

Ref<IStreamToken> Token(std::int32_t type, std::string text, double number = 0,
                        std::int32_t line = 1) {
  return MakeRef<TIEStreamToken>(type, std::move(text), line, number);
}
Ref<IStreamToken> Token(TIEType kind, std::string text, double number = 0,
                        std::int32_t line = 1) {
  return Token(TokenType(kind), std::move(text), number, line);
}

TEST(StreamTokenTest, Value) {
  struct Case {
    Ref<IStreamToken> token;
    const IIEValue* constant;  // the shared constant expected, or null
    TIEType kind = dtNone;     // otherwise a new value of this kind...
    const char* printed = "";  // ...printing as this
  };
  const Case cases[] = {
      {Token(dtAtom, "TRUE"), &FCTrue()},
      {Token(dtAtom, "FALSE"), &FCFalse()},
      {Token(dtAtom, "nil"), &FCNil()},
      {Token(dtAtom, "NIL"), &FCNil()},
      {Token(dtAtom, "Nil"), &FCNil()},
      {Token(kEndToken, "EOF"), &FCEOF()},
      {Token(dtAtom, "true"), nullptr, dtAtom, "true"},
      {Token(dtAtom, "nill"), nullptr, dtAtom, "nill"},
      {Token(dtAtom, "EOF"), nullptr, dtAtom, "EOF"},
      {Token(dtString, "TRUE"), nullptr, dtString, "\"TRUE\""},
      {Token(dtInteger, "+5", 5), nullptr, dtInteger, "5"},
      {Token(dtInteger, "big", 1e12), nullptr, dtInteger, "2147483647"},
      {Token(dtFloat, "1e3", 1000), nullptr, dtFloat, "1000.0000"},
      {Token(dtVariable, "x"), nullptr, dtVariable, "?x"},
      {Token(dtMultiVariable, "x"), nullptr, dtMultiVariable, "$?x"},
      {Token('(', "("), nullptr, dtString, "\"40\""},
      {Token('~', "~"), nullptr, dtString, "\"126\""},
      {Token(kEndToken, "stop"), nullptr, dtString, "\"0\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token->ToString());
    Ref<IIEValue> v = c.token->Value();
    if (c.constant != nullptr) {
      EXPECT_EQ(v.get(), c.constant);
      continue;
    }
    EXPECT_FALSE(IsValueConstant(v.get()));
    EXPECT_EQ(v->DType(), c.kind);
    EXPECT_EQ(v->ToString(), c.printed);
  }
}

TEST(StreamTokenTest, ToStringIsTheEchoForm) {
  struct Case {
    Ref<IStreamToken> token;
    const char* printed;
  };
  const Case cases[] = {
      {Token(dtAtom, "abc"), "abc"},
      {Token(dtInteger, "+007", 7), "7"},
      {Token(dtFloat, "1e3", 1000), "1000.0000"},
      {Token(dtFloat, "-.5", -0.5), "-0.5000"},
      {Token(dtVariable, "x"), "?x"},
      {Token(dtMultiVariable, "rest"), "$?rest"},
      {Token(dtString, R"(say "hi" \ )"), R"("say \"hi\" \\ ")"},
      {Token(dtString, ""), "\"\""},
      {Token('=', "ignored"), "="},
      {Token('|', "|"), "|"},
      {MakeRef<TIEStreamToken>(), "EOF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    EXPECT_EQ(c.token->ToString(), c.printed);
  }
}

TEST(StreamTokenTest, ValueInAContextResolvesVariables) {
  Ref<IIEValue> bound = TIEValue::Integer(42);
  TVariableResolver resolve = [&](std::string_view name) {
    return name == "x" ? bound : Ref<IIEValue>();
  };
  EXPECT_EQ(Token(dtVariable, "x")->Value(resolve), bound);
  EXPECT_EQ(Token(dtMultiVariable, "x")->Value(resolve), bound);
  EXPECT_EQ(Token(dtAtom, "x")->Value(resolve)->ToString(), "x");
  EXPECT_THAT([&] { Token(dtVariable, "y")->Value(resolve); },
              ThrowsMessage<EIEException>(StrEq("Unknown variable name: y")));
  EXPECT_THAT([] { Token(dtVariable, "z")->Value(TVariableResolver()); },
              ThrowsMessage<EIEException>(StrEq("Unknown variable name: z")));
}

TEST(StreamTokenTest, EqualsComparesKindLineAndNumber) {
  struct Case {
    Ref<IStreamToken> a, b;
    bool equal;
  };
  const Case cases[] = {
      {Token(dtAtom, "a"), Token(dtAtom, "b"), true},
      {Token(dtInteger, "1", 1), Token(dtInteger, "+1", 1), true},
      {Token(dtInteger, "1", 1), Token(dtFloat, "1.0", 1), false},
      {Token(dtInteger, "1", 1), Token(dtInteger, "2", 2), false},
      {Token(dtAtom, "a", 0, 1), Token(dtAtom, "a", 0, 2), false},
      {Token('(', "("), Token(')', ")"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a->Text() + " vs " + c.b->Text());
    EXPECT_EQ(c.a->Equals(c.b.get()), c.equal);
    EXPECT_EQ(c.b->Equals(c.a.get()), c.equal);
  }
  EXPECT_FALSE(Token(dtAtom, "a")->Equals(nullptr));
}

TEST(StreamTokenTest, CloneCopiesEveryFieldIntoANewToken) {
  Ref<IStreamToken> original =
      MakeRef<TIEStreamToken>(TokenType(dtFloat), "2.5", 7, 2.5, " ; note\n");
  original->SetTag(9);
  Ref<IStreamToken> copy = original->Clone();
  ASSERT_NE(copy, original);
  for (const Ref<IStreamToken>& t : {original, copy}) {
    EXPECT_EQ(t->DataType(), TokenType(dtFloat));
    EXPECT_EQ(t->Text(), "2.5");
    EXPECT_EQ(t->LineNumber(), 7);
    EXPECT_EQ(t->Number(), 2.5);
    EXPECT_EQ(t->Whitespace(), " ; note\n");
    EXPECT_EQ(t->Tag(), 9);
  }
  copy->SetText("other");
  EXPECT_EQ(original->Text(), "2.5");
}

TEST(StreamTokenTest, SetValueMakesTheTokenOfAValue) {
  struct Case {
    Ref<IIEValue> value;
  };
  const Case cases[] = {
      {TIEValue::Atom("abc")},        {TIEValue::String("a b")},
      {TIEValue::Integer(-3)},        {TIEValue::Float(0.25)},
      {MakeRef<TIEValue>("v", dtVariable)},
      {MakeRef<TIEValue>("m", dtMultiVariable)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value->ToString());
    Ref<IStreamToken> token = MakeRef<TIEStreamToken>();
    token->SetValue(*c.value);
    EXPECT_TRUE(token->Value()->Equals(c.value.get()));
  }
  Ref<IIEValue> list = MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>()));
  EXPECT_THAT([&] { MakeRef<TIEStreamToken>()->SetValue(*list); },
              ThrowsMessage<EIEException>(StrEq("Invalid Token hint for parsing token: 9")));
}

}  // namespace
}  // namespace zephro
