#include "zephro/platform/text_stream.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

std::vector<std::string> ReadLines(TTextStream& stream) {
  std::vector<std::string> lines;
  std::string line;
  while (stream.GetLine(line)) {
    lines.push_back(line);
  }
  return lines;
}

// A file in the test's temporary directory, removed afterwards.
class TempFile {
 public:
  explicit TempFile(const std::string& name) : path_(::testing::TempDir() + name) {}
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }
  void Write(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

TEST(TextStreamTest, BytesPassThroughUntouched) {
  const std::string text("a\0\xC3\xA9\xFF", 5);
  TTextStringStream stream(text);
  std::vector<int> read;
  for (int c = stream.GetChar(); c != TTextStream::kEof; c = stream.GetChar()) {
    read.push_back(c);
  }
  EXPECT_THAT(read, ElementsAre('a', 0, 0xC3, 0xA9, 0xFF));
  EXPECT_TRUE(stream.IsEof());
  EXPECT_EQ(stream.GetChar(), TTextStream::kEof);
  EXPECT_EQ(stream.PeekChar(), TTextStream::kEof);

  TTextStringStream lines(std::string("x\0y\nz", 5));
  EXPECT_THAT(ReadLines(lines), ElementsAre(std::string("x\0y", 3), "z"));
}

TEST(TextStreamTest, CountsLinesAndPutsBack) {
  TTextStringStream stream("ab\ncd");
  EXPECT_EQ(stream.LineNumber(), 1);
  EXPECT_EQ(stream.GetChar(), 'a');
  EXPECT_EQ(stream.GetChar(), 'b');
  EXPECT_EQ(stream.GetChar(), '\n');
  EXPECT_EQ(stream.LineNumber(), 2);
  stream.PutBack('\n');
  stream.PutBack('b');
  EXPECT_EQ(stream.LineNumber(), 1);
  EXPECT_EQ(stream.PeekChar(), 'b');
  std::string line;
  ASSERT_TRUE(stream.GetLine(line));
  EXPECT_EQ(line, "b");
  EXPECT_EQ(stream.LineNumber(), 2);
  EXPECT_EQ(stream.GetChar(), 'c');
  EXPECT_EQ(stream.GetChar(), 'd');
  EXPECT_EQ(stream.GetChar(), TTextStream::kEof);
  stream.PutBack(TTextStream::kEof);
  stream.PutBack('d');
  EXPECT_EQ(stream.GetChar(), 'd');
  EXPECT_FALSE(stream.GetLine(line));
  EXPECT_EQ(line, "");
}

TEST(TextStreamTest, GetLineDropsTheLineBreak) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
    int line_number;
  };
  const Case cases[] = {
      {"", {}, 1},
      {"one", {"one"}, 1},
      {"one\n", {"one"}, 2},
      {"one\r\ntwo\r\n", {"one", "two"}, 3},
      {"\n\nthree", {"", "", "three"}, 3},
      {"cr\ralone\n", {"cr\ralone"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TTextStringStream stream(c.text);
    EXPECT_EQ(ReadLines(stream), c.lines);
    EXPECT_EQ(stream.LineNumber(), c.line_number);
  }
}

TEST(TextStreamTest, SkipInLineSpacesStopsAtLineBreaksAndText) {
  struct Case {
    std::string text;
    bool at_line_break;
    int next;
  };
  const Case cases[] = {
      {" \t x", false, 'x'},
      {"   \n y", true, '\n'},
      {"\r\n", true, '\r'},
      {std::string("\0\x01 y", 4), false, 'y'},
      {"  ", false, TTextStream::kEof},
      {"z", false, 'z'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TTextStringStream stream(c.text);
    EXPECT_EQ(stream.SkipInLineSpaces(), c.at_line_break);
    EXPECT_EQ(stream.PeekChar(), c.next);
  }
}

TEST(TextStreamTest, ReadsLongInputAndPutsBackAcrossRefills) {
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text += "line " + std::to_string(i) + "\n";
  }
  std::istringstream in(text);
  TTextStream stream(in);
  std::string read;
  // Just past each refill of the 8 KiB buffer, undo the deepest guaranteed run of reads
  // (reaching back into the previous fill) and read it again.
  std::size_t checkpoint = 8192 + 10;
  for (int c = stream.GetChar(); c != TTextStream::kEof; c = stream.GetChar()) {
    read += static_cast<char>(c);
    if (read.size() == checkpoint) {
      for (std::size_t i = 0; i < TTextStream::kPutBackDepth; ++i) {
        stream.PutBack(static_cast<unsigned char>(read.back()));
        read.pop_back();
      }
      checkpoint += 8192;
    }
  }
  EXPECT_EQ(read, text);
  EXPECT_EQ(stream.LineNumber(), 3001);
}

TEST(TextStreamTest, WritesReachTheStreamOnFlush) {
  std::ostringstream out;
  {
    TTextStream stream(out);
    stream.PutLine("first");
    stream.Put('x');
    stream.PutEOL();
    EXPECT_EQ(out.str(), "");
    stream.Flush();
    EXPECT_EQ(out.str(), "first\nx\n");
    stream.Put("tail");
  }
  EXPECT_EQ(out.str(), "first\nx\ntail");

  std::istringstream in("read only");
  TTextStream reader(in);
  EXPECT_THAT(
      [&] { reader.Put("x"); },
      ThrowsMessage<EBaseException>(::testing::StrEq("The stream is not open for writing")));
}

TEST(TextStreamTest, StringStreamReadsWhatIsWrittenToIt) {
  TTextStringStream stream("(a)");
  EXPECT_EQ(stream.GetChar(), '(');
  stream.PutLine(" (b)");
  EXPECT_EQ(stream.DataString(), "(a) (b)\n");
  std::string rest;
  ASSERT_TRUE(stream.GetLine(rest));
  EXPECT_EQ(rest, "a) (b)");
  EXPECT_TRUE(stream.IsEof());
}

TEST(TextStreamTest, FileModes) {
  TempFile file("text_stream_modes.txt");
  {
    TTextStream created(file.Path(), TFileMode::kCreate);
    created.PutLine("abc");
    created.PutLine("def");
  }
  {
    TTextStream appended(file.Path(), TFileMode::kAppend);
    EXPECT_TRUE(appended.IsEof());
    appended.PutLine("ghi");
  }
  {
    TTextStream read(file.Path(), TFileMode::kRead);
    EXPECT_THAT(ReadLines(read), ElementsAre("abc", "def", "ghi"));
    EXPECT_THROW(read.Put("x"), EBaseException);
  }
  {
    // Reading and writing share one position: the write lands where reading stopped,
    // and reading goes on after it.
    TTextStream both(file.Path(), TFileMode::kReadWrite);
    std::string line;
    ASSERT_TRUE(both.GetLine(line));
    EXPECT_EQ(line, "abc");
    both.Put("DEF");
    ASSERT_TRUE(both.GetLine(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(both.GetLine(line));
    EXPECT_EQ(line, "ghi");
  }
  EXPECT_EQ(file.Read(), "abc\nDEF\nghi\n");

  const std::string missing = ::testing::TempDir() + "no/such/file.txt";
  EXPECT_THAT([&] { TTextStream(missing, TFileMode::kRead); },
              ThrowsMessage<EBaseException>(StartsWith("Cannot open file " + missing + ": ")));
}

}  // namespace
}  // namespace zephro
