#include "zephro/language/clips_stream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/values/exceptions.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using enum TIEType;

// What a test expects of one token.
struct Tok {
  std::int32_t type;
  std::string text;
  std::int32_t line;
  double number = 0;
  bool operator==(const Tok&) const = default;
};

void PrintTo(const Tok& t, std::ostream* os) {
  *os << "{" << t.type << ", \"" << t.text << "\", line " << t.line << ", " << t.number << "}";
}

Tok A(std::string text, std::int32_t line = 1) { return {TokenType(dtAtom), std::move(text), line}; }
Tok S(std::string text, std::int32_t line = 1) {
  return {TokenType(dtString), std::move(text), line};
}
Tok I(std::string text, double n, std::int32_t line = 1) {
  return {TokenType(dtInteger), std::move(text), line, n};
}
Tok F(std::string text, double n, std::int32_t line = 1) {
  return {TokenType(dtFloat), std::move(text), line, n};
}
Tok V(std::string name, std::int32_t line = 1) {
  return {TokenType(dtVariable), std::move(name), line};
}
Tok M(std::string name, std::int32_t line = 1) {
  return {TokenType(dtMultiVariable), std::move(name), line};
}
Tok P(char c, std::int32_t line = 1) { return {c, std::string(1, c), line}; }
Tok End(std::int32_t line = 1) { return {kEndToken, "EOF", line}; }

Tok Of(const IStreamToken& t) { return {t.DataType(), t.Text(), t.LineNumber(), t.Number()}; }

// Every token of the stream, the end token included.
std::vector<Tok> LexAll(TIEClipsStream& stream) {
  std::vector<Tok> tokens;
  for (;;) {
    Ref<IStreamToken> t = stream.NextToken();
    tokens.push_back(Of(*t));
    if (t->IsEnd()) {
      return tokens;
    }
  }
}

std::vector<Tok> Lex(const std::string& text) {
  TIEClipsStream stream(text);
  return LexAll(stream);
}

TEST(ClipsStreamTest, Tokens) {
  struct Case {
    std::string text;
    std::vector<Tok> tokens;
  };
  const double kMaxInt = 2147483647;
  const Case cases[] = {
      {"(a b)", {P('('), A("a"), A("b"), P(')'), End()}},
      {"=>", {P('='), A(">"), End()}},
      {"a=b =c", {A("a=b"), P('='), A("c"), End()}},
      {"?f <- (a)", {V("f"), A("<-"), P('('), A("a"), P(')'), End()}},
      {"<= a<b", {A("<="), A("a"), A("<b"), End()}},
      {"? $? ?", {V("_blank_0"), M("_blank_$1"), V("_blank_2"), End()}},
      {"$?rest ?*g* $x", {M("rest"), V("*g*"), A("$x"), End()}},
      {"& | ~ [ ]", {P('&'), P('|'), P('~'), P('['), P(']'), End()}},
      {"- -5 -5. 1e3 +x 3abc",
       {A("-"), I("-5", -5), F("-5.", -5), F("1e3", 1000), A("+x"), A("3abc"), End()}},
      {"+ . +5 .5 -.5 007 +-5 1e 0x10 1.2.3",
       {A("+"), A("."), I("+5", 5), F(".5", .5), F("-.5", -.5), I("007", 7), A("+-5"), A("1e"),
        A("0x10"), A("1.2.3"), End()}},
      {"2147483647 -2147483648 2147483648 1e999 -inf nan",
       {I("2147483647", kMaxInt), I("-2147483648", -kMaxInt - 1),
        F("2147483648", kMaxInt + 1), A("1e999"), A("-inf"), A("nan"), End()}},
      {R"(a\(b a\ b \;c \?x)", {A("a(b"), A("a b"), A(";c"), V("x"), End()}},
      {R"x("a\"b\\c" "" "(;)")x", {S("a\"b\\c"), S(""), S("(;)"), End()}},
      {"a\"b\"c", {A("a"), S("b"), A("c"), End()}},
      {"ab\\", {A("ab"), End()}},
      {"\\", {End()}},
      {"a;comment\nb", {A("a"), A("b", 2), End(2)}},
      {"a\nb\r\nc\rd", {A("a"), A("b", 2), A("c", 3), A("d", 4), End(4)}},
      {"a\n", {A("a"), End(2)}},
      {"\"x\ny\r\nz\" w", {S("x\ny\r\nz", 3), A("w", 3), End(3)}},
      {"a\\\nb c", {A("a\nb", 2), A("c", 2), End(2)}},
      {std::string("a\0b \"c\0d\"", 9), {A("a"), A("b"), S(std::string("c\0d", 3)), End()}},
      {"\xC3\xA9t\xFF \"\x80\xFE\"", {A("\xC3\xA9t\xFF"), S("\x80\xFE"), End()}},
      {"", {End()}},
      {" \t\n ; only a comment", {End(2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Lex(c.text), c.tokens);
    {
      // Borrowed text is read in place and ends where its view ends, even
      // when more bytes follow in memory.
      const std::string longer = c.text + " trailing (bytes \"";
      TIEClipsStream borrowed(TIEClipsStream::BorrowText{},
                              std::string_view(longer).substr(0, c.text.size()));
      EXPECT_EQ(LexAll(borrowed), c.tokens);
    }
    // An istream read in tiny chunks must give the same tokens: runs of a
    // word, string or comment then span several chunks.
    for (std::size_t chunk : {1, 3}) {
      SCOPED_TRACE(chunk);
      std::istringstream in(c.text);
      TIEClipsStream stream(in, {}, chunk);
      EXPECT_EQ(LexAll(stream), c.tokens);
    }
  }
}

TEST(ClipsStreamTest, WhitespaceAndCommentsGoToTheNextToken) {
  struct Case {
    const char* text;
    std::vector<std::string> whitespace;  // per token, the end token last
  };
  const Case cases[] = {
      {"  ; note\n  a\tb ;tail", {"  ; note\n  ", "\t", " ;tail"}},
      {"a\r\n b", {"", "\r\n ", ""}},
      {";x\n;y\r\n(", {";x\n;y\r\n", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TIEClipsStream stream(c.text);
    std::vector<std::string> seen;
    Ref<IStreamToken> t;
    do {
      t = stream.NextToken();
      seen.push_back(t->Whitespace());
    } while (!t->IsEnd());
    EXPECT_EQ(seen, c.whitespace);
  }
}

TEST(ClipsStreamTest, AnonymousVariablesAreNamedByTheGenerator) {
  std::vector<std::string> prefixes;
  TIEClipsStream stream("(? $? ?)", [&](std::string_view prefix) {
    prefixes.emplace_back(prefix);
    return std::string(prefix) + "#" + std::to_string(prefixes.size());
  });
  std::vector<Tok> expected = {P('('), V("_blank_#1"), M("_blank_$#2"), V("_blank_#3"), P(')'),
                               End()};
  EXPECT_EQ(LexAll(stream), expected);
  EXPECT_THAT(prefixes, testing::ElementsAre("_blank_", "_blank_$", "_blank_"));
}

TEST(ClipsStreamTest, NumbersIgnoreTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old != nullptr ? old : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no German locale on this machine";
  }
  std::vector<Tok> tokens = Lex("2.5 2,5");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(tokens, (std::vector<Tok>{F("2.5", 2.5), A("2,5"), End()}));
}

// Reads `count` tokens and returns the echo.
std::string EchoAfter(TIEClipsStream& stream, int count) {
  for (int i = 0; i < count; ++i) {
    stream.NextToken();
  }
  return stream.ToString();
}

TEST(ClipsStreamTest, EchoHoldsTheTokensOfTheCurrentExpression) {
  struct Case {
    const char* text;
    int reads;
    const char* echo;
    int depth;
  };
  const Case cases[] = {
      {"(a b)", 4, "( a b ) ", 0},
      {"(a b)", 2, "( a ", 1},
      {"(a (b", 4, "( a ( b ", 2},
      {"(a\n  b)", 4, "( a \nb ) ", 0},
      {"(a\n\n\n  b)", 3, "( a \nb ", 1},
      {R"((s "x\"y" +5 2.5 ?v $?m & =))", 10, R"(( s "x\"y" 5 2.5000 ?v $?m & = ) )", 0},
      // A new expression starts a new echo, without a leading line break.
      {"(a)\n(b)", 5, "( b ", 1},
      {"(a", 3, "( a EOF ", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TIEClipsStream stream(c.text);
    EXPECT_EQ(EchoAfter(stream, c.reads), c.echo);
    EXPECT_EQ(stream.Depth(), c.depth);
  }
}

TEST(ClipsStreamTest, PutBackTokenRewindsEchoDepthAndCurrentToken) {
  TIEClipsStream stream("(a\n(b c))");
  Ref<IStreamToken> open = stream.NextToken();
  Ref<IStreamToken> a = stream.NextToken();
  Ref<IStreamToken> inner = stream.NextToken();
  Ref<IStreamToken> b = stream.NextToken();
  ASSERT_EQ(stream.ToString(), "( a \n( b ");
  ASSERT_EQ(stream.Depth(), 2);

  stream.PutBackToken(b);
  stream.PutBackToken(inner);
  EXPECT_EQ(stream.ToString(), "( a ");
  EXPECT_EQ(stream.Depth(), 1);
  EXPECT_EQ(stream.GetCurrentToken(), a);

  // Read again, the same objects come back and the echo is as before.
  EXPECT_EQ(stream.NextToken(), inner);
  EXPECT_EQ(stream.NextToken(), b);
  EXPECT_EQ(stream.ToString(), "( a \n( b ");
  EXPECT_EQ(stream.Depth(), 2);

  for (const Ref<IStreamToken>& t : {b, inner, a, open}) {
    stream.PutBackToken(t);
  }
  EXPECT_EQ(stream.ToString(), "");
  EXPECT_EQ(stream.Depth(), 0);
  EXPECT_EQ(stream.NextToken(), open);
}

TEST(ClipsStreamTest, GetCurrentTokenReadsOnlyWhenNothingWasRead) {
  TIEClipsStream stream("a b");
  Ref<IStreamToken> first = stream.GetCurrentToken();
  EXPECT_EQ(first->Text(), "a");
  EXPECT_EQ(stream.GetCurrentToken(), first);
  EXPECT_EQ(stream.NextToken()->Text(), "b");
}

TEST(ClipsStreamTest, HeadLooksAtTheWordAfterTheOpeningParenthesis) {
  struct Case {
    const char* text;
    int reads;  // tokens read before asking
    const char* head;
  };
  const Case cases[] = {
      {"(defrule r)", 0, "defrule"},
      {"(defrule r)", 1, "defrule"},
      {"(= 1 2)", 1, "="},
      {"(?f a)", 1, "f"},
      {"($?f a)", 1, "f"},
      {"(EOF)", 1, "EOF"},
      {"(\"s\")", 1, ""},
      {"(5)", 1, ""},
      {"((a))", 1, ""},
      {"(", 1, ""},
      {"(a (b c))", 2, "b"},
      {"x (a)", 0, ""},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TIEClipsStream stream(c.text);
    TIEClipsStream twin(c.text);
    for (int i = 0; i < c.reads; ++i) {
      stream.NextToken();
      twin.NextToken();
    }
    std::string echo = stream.ToString();
    EXPECT_EQ(stream.Head(), c.head);
    // Nothing was consumed: the stream goes on like its twin.
    EXPECT_EQ(stream.ToString(), echo);
    EXPECT_EQ(LexAll(stream), LexAll(twin));
  }
}

TEST(ClipsStreamTest, MoveToNextConstructSkipsTheRestOfTheExpression) {
  struct Case {
    const char* text;
    int reads;  // tokens read before the error
    Tok next;   // the first token after recovery
  };
  const Case cases[] = {
      {"(a (b c) d)\n(e)", 4, P('(', 2)},
      {"(a (b c) d)\n(e)", 1, P('(', 2)},
      {"(a (b", 2, End()},
      {"x (e)", 1, P('(')},
      {")(e)", 1, P('(')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TIEClipsStream stream(c.text);
    for (int i = 0; i < c.reads; ++i) {
      stream.NextToken();
    }
    stream.MoveToNextConstruct();
    EXPECT_EQ(stream.Depth(), 0);
    EXPECT_EQ(Of(*stream.NextToken()), c.next);
  }
}

TEST(ClipsStreamTest, UnterminatedStringRaisesWithTheLineItStartsOn) {
  struct Case {
    const char* text;
    std::int32_t line;
  };
  const Case cases[] = {
      {"\"abc", 1},
      {"(a\n \"abc\ndef", 2},
      {"\"abc\\", 1},
      {"x\n\n\"", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TIEClipsStream stream(c.text);
    std::int32_t line = -1;
    EXPECT_THAT(
        [&] {
          try {
            LexAll(stream);
          } catch (const EIEParseException& e) {
            line = e.LineNumber();
            throw;
          }
        },
        ThrowsMessage<EIEParseException>(StrEq("Invalid string value, string was not terminated")));
    EXPECT_EQ(line, c.line);
    // The broken expression is gone; the stream is at its end.
    stream.MoveToNextConstruct();
    EXPECT_TRUE(stream.NextToken()->IsEnd());
  }
}

TEST(ClipsStreamTest, LineLevelReading) {
  TIEClipsStream lines("abc def\r\nghi");
  EXPECT_EQ(lines.GetLine(), "abc def");
  EXPECT_EQ(lines.LineNumber(), 2);
  EXPECT_EQ(Of(*lines.NextToken()), A("ghi", 2));
  EXPECT_EQ(lines.GetLine(), "");
  EXPECT_TRUE(lines.IsEof());

  // The rest of the line after a bare token is dropped, but not the next line
  // when the token's own line break was already read.
  TIEClipsStream discard("a b c\nd\ne");
  discard.NextToken();
  discard.DiscardUntilEOL();
  EXPECT_EQ(Of(*discard.NextToken()), A("d", 2));
  discard.DiscardUntilEOL();
  EXPECT_EQ(Of(*discard.NextToken()), A("e", 3));

  TIEClipsStream chars("a\nb(c");
  EXPECT_EQ(chars.GetChar(), 'a');
  EXPECT_EQ(chars.PeekChar(), '\n');
  EXPECT_EQ(chars.GetChar(), '\n');
  EXPECT_EQ(chars.LineNumber(), 2);
  EXPECT_EQ(Of(*chars.BuildNextToken()), A("b", 2));
  EXPECT_EQ(Of(*chars.BuildNextToken()), P('(', 2));
  EXPECT_EQ(chars.ToString(), "");
  EXPECT_EQ(chars.GetChar(), 'c');
  EXPECT_EQ(chars.GetChar(), TIEClipsStream::kEndOfInput);
  EXPECT_EQ(chars.PeekChar(), TIEClipsStream::kEndOfInput);

  TIEClipsStream numbered("x\ny");
  numbered.SetLineNumber(10);
  EXPECT_EQ(LexAll(numbered), (std::vector<Tok>{A("x", 10), A("y", 11), End(11)}));

  TIEClipsStream cleared("(a b) (c)");
  cleared.NextToken();
  cleared.NextToken();
  cleared.Clear();
  EXPECT_EQ(cleared.Depth(), 0);
  EXPECT_EQ(cleared.ToString(), "");
  EXPECT_EQ(LexAll(cleared), (std::vector<Tok>{P('('), A("c"), P(')'), End()}));
}

// Hostile sizes: each must be read in linear time and without recursion.
// The look-ahead keeps an expression's first tokens as objects and packs the
// rest: tokens on either side of the seam come out alike, put back and read
// again across it, and an expression after a long one starts afresh.
TEST(ClipsStreamTest, LongExpressionsReadTheSameOnBothSidesOfTheLookAheadsSeam) {
  constexpr std::size_t kKept = TIEClipsStream::kTokensKeptWhole;
  for (const std::size_t inner : {kKept - 2, kKept - 1, kKept, kKept + 1, 3 * kKept}) {
    SCOPED_TRACE(inner);
    std::string text = "(";
    std::vector<Tok> expected = {P('(')};
    std::int32_t line = 1;
    for (std::size_t i = 0; i < inner; ++i) {
      if (i % 7 == 6) {
        text += "\n ; a comment\n";
        line += 2;
      }
      const std::string n = std::to_string(i);
      switch (i % 4) {
        case 0:
          text += " w" + n;
          expected.push_back(A("w" + n, line));
          break;
        case 1:
          text += " " + n;
          expected.push_back(I(n, static_cast<double>(i), line));
          break;
        case 2:
          text += " \"s" + n + "\"";
          expected.push_back(S("s" + n, line));
          break;
        default:
          text += " ?v" + n;
          expected.push_back(V("v" + n, line));
          break;
      }
    }
    text += ") (next)";
    expected.push_back(P(')', line));

    TIEClipsStream stream(text);
    std::vector<Ref<IStreamToken>> read;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      read.push_back(stream.NextToken());
      ASSERT_EQ(Of(*read.back()), expected[i]) << "token " << i;
      // Around the seam, put the last few back and read them again.
      if (i == kKept + 1) {
        for (int back = 0; back < 4; ++back) {
          stream.PutBackToken(read.back());
          read.pop_back();
        }
        for (int again = 0; again < 4; ++again) {
          read.push_back(stream.NextToken());
          ASSERT_EQ(Of(*read.back()), expected[read.size() - 1]);
        }
      }
    }
    EXPECT_EQ(stream.Depth(), 0);
    EXPECT_EQ(Of(*stream.NextToken()), P('(', line));
    EXPECT_EQ(Of(*stream.NextToken()), A("next", line));
    EXPECT_EQ(stream.ToString(), "( next ");
  }
}

TEST(ClipsStreamTest, DeepNestingAndHugeTokens) {
  auto started = std::chrono::steady_clock::now();

  constexpr int kDepth = 200000;
  TIEClipsStream open(std::string(kDepth, '('));
  int count = 0;
  while (!open.NextToken()->IsEnd()) {
    ++count;
  }
  EXPECT_EQ(count, kDepth);
  EXPECT_EQ(open.Depth(), kDepth);
  open.MoveToNextConstruct();
  EXPECT_EQ(open.Depth(), 0);

  TIEClipsStream balanced(std::string(kDepth, '(') + std::string(kDepth, ')') + " x");
  for (int i = 0; i < 2 * kDepth; ++i) {
    balanced.NextToken();
  }
  EXPECT_EQ(balanced.Depth(), 0);
  EXPECT_EQ(Of(*balanced.NextToken()), A("x"));

  const std::string atom(16 << 20, 'a');
  std::istringstream in(atom + " \"" + atom + "\"");
  TIEClipsStream big(in);
  EXPECT_EQ(big.NextToken()->Text().size(), atom.size());
  EXPECT_EQ(big.NextToken()->Text().size(), atom.size());
  EXPECT_TRUE(big.NextToken()->IsEnd());

  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace zephro
