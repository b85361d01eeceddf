// The benchmark workloads at their small sizes, run through the engine as the
// shell runs a file: each program asserts its data, runs and prints one line
// that starts with SUMMARY, then calls (exit). The last such line must equal
// the program's .expected file, whatever order activations of equal salience
// fire in. The programs live beside the source tree
// (ZEPHRO_BENCH_PROGRAMS); without them the test is skipped.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/platform/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

// The last line of `text` that starts with "SUMMARY", carriage returns
// removed; "" when there is none.
std::string LastSummary(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::string summary;
  while (std::getline(lines, line)) {
    std::erase(line, '\r');
    if (line.rfind("SUMMARY", 0) == 0) {
      summary = line;
    }
  }
  return summary;
}

class WorkloadsTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WorkloadsTest, PrintsTheExpectedSummary) {
  const std::filesystem::path folder = ZEPHRO_BENCH_PROGRAMS;
  if (!std::filesystem::is_directory(folder)) {
    GTEST_SKIP() << "no benchmark programs at " << folder;
  }
  const std::string name = GetParam();
  std::ifstream program(folder / (name + ".clp"), std::ios::binary);
  std::ifstream expected_file(folder / (name + ".expected"), std::ios::binary);
  ASSERT_TRUE(program.is_open()) << name << ".clp";
  ASSERT_TRUE(expected_file.is_open()) << name << ".expected";
  std::string expected;
  std::getline(expected_file, expected);
  std::erase(expected, '\r');
  ASSERT_EQ(expected.rfind("SUMMARY", 0), 0U) << expected;

  EngineFixture fixture;
  TInferenceEngine& engine = fixture.Engine();
  engine.SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  bool exited = false;
  try {
    Parse(engine, program, true, name + ".clp");
  } catch (const EAbort& abort) {
    // (exit); its message holds the errors met before it, if any.
    exited = true;
    EXPECT_STREQ(abort.what(), "");
  }
  EXPECT_TRUE(exited) << "the program did not reach (exit)";
  EXPECT_EQ(LastSummary(fixture.TakeOutput()), expected);
}

INSTANTIATE_TEST_SUITE_P(Small, WorkloadsTest, ::testing::Values("manners-16", "waltz-12"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           std::string name = p.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace zephro::testing
