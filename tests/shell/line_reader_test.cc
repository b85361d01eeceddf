#include "line_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace zephro::shell {
namespace {

// A shell built with line editing loads the library itself when the first
// line is edited: the names it looks for must be found where it was built.
TEST(LineReaderTest, ALineEditingBuildLoadsItsLibrary) {
  EXPECT_EQ(LineEditingLoads(), HasLineEditing());
}

TEST(LineReaderTest, StreamReaderReadsLinesAndShowsPromptsOnlyWhenAsked) {
  std::istringstream in("(facts)\n(run)");
  std::ostringstream prompts;
  auto reader = MakeStreamReader(in, &prompts);
  std::string line;
  ASSERT_EQ(reader->ReadLine("z> ", line), LineReader::Result::kLine);
  EXPECT_EQ(line, "(facts)");
  ASSERT_EQ(reader->ReadLine("z> ", line), LineReader::Result::kLine);
  EXPECT_EQ(line, "(run)");  // the last line needs no line break
  EXPECT_EQ(reader->ReadLine("z> ", line), LineReader::Result::kEnd);
  EXPECT_EQ(prompts.str(), "z> z> z> ");

  std::istringstream quiet_in("(reset)\n");
  auto quiet = MakeStreamReader(quiet_in, nullptr);
  ASSERT_EQ(quiet->ReadLine("z> ", line), LineReader::Result::kLine);
  EXPECT_EQ(line, "(reset)");
}

}  // namespace
}  // namespace zephro::shell
