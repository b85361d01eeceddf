#include "options.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"

namespace zephro::shell {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

struct Case {
  std::vector<const char*> args;  // after the program name
  int status;                     // what ParseCommandLine returns
  std::vector<std::string> files;
  bool interactive;
  bool echo;
  const char* out;  // a part of what is written to the output stream
  const char* err;  // a part of what is written to the error stream
};

// What ParseCommandLine makes of `args` (after the program name).
struct Parsed {
  int status = 0;
  ShellOptions options;
  std::string out;
  std::string err;
};

Parsed Parse(const std::vector<const char*>& args) {
  std::vector<const char*> argv = {"zephro"};
  argv.insert(argv.end(), args.begin(), args.end());
  Parsed parsed;
  std::ostringstream out;
  std::ostringstream err;
  parsed.status =
      ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(ShellOptionsTest, ReadsTheJsonFactOptions) {
  struct JsonCase {
    std::vector<const char*> args;
    int status;
    std::vector<std::string> facts_json;
    std::string dump;
    bool interactive;
    const char* err;
  };
  const JsonCase kCases[] = {
      {{"r.clp", "--facts-json", "in.json", "--dump-facts-json", "out.json"},
       -1, {"in.json"}, "out.json", false, ""},
      // Loading facts is work enough: no prompt without -i.
      {{"--facts-json", "a.json", "--facts-json", "b.json"}, -1, {"a.json", "b.json"}, "", false,
       ""},
      {{"--facts-json", "a.json", "-i"}, -1, {"a.json"}, "", true, ""},
      {{"--dump-facts-json", "out.json"}, -1, {}, "out.json", true, ""},
      {{"r.clp", "--facts-json"}, 2, {}, "", false, "--facts-json needs a value"},
      {{"--dump-facts-json"}, 2, {}, "", false, "--dump-facts-json needs a value"},
  };
  for (const JsonCase& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Parsed parsed = Parse(c.args);
    EXPECT_EQ(parsed.status, c.status);
    EXPECT_THAT(parsed.err, HasSubstr(c.err));
    if (c.status < 0) {
      EXPECT_THAT(parsed.options.facts_json, ElementsAreArray(c.facts_json));
      EXPECT_EQ(parsed.options.dump_facts_json, c.dump);
      EXPECT_EQ(parsed.options.interactive, c.interactive);
    }
  }
  const Parsed help = Parse({"--help"});
  EXPECT_THAT(help.out, HasSubstr("--facts-json FILE"));
  EXPECT_THAT(help.out, HasSubstr("--dump-facts-json FILE"));
}

TEST(ShellOptionsTest, ReadsTheCommandLine) {
  const Case kCases[] = {
      {{}, -1, {}, true, false, "", ""},
      {{"a.clp", "b.clp"}, -1, {"a.clp", "b.clp"}, false, false, "", ""},
      {{"a.clp", "-i"}, -1, {"a.clp"}, true, false, "", ""},
      {{"-f", "kb.clp"}, -1, {"kb.clp"}, true, false, "", ""},
      {{"--watch", "rules", "x.clp"}, -1, {"x.clp"}, false, false, "", ""},
      {{"--", "-i", "-"}, -1, {"-i", "-"}, false, false, "", ""},
      {{"--echo", "a.clp"}, -1, {"a.clp"}, false, true, "", ""},
      {{"a.clp", "-e", "-i"}, -1, {"a.clp"}, true, true, "", ""},
      {{"-h"}, 0, {}, true, false, "--echo", ""},
      {{"--help", "a.clp"}, 0, {}, true, false, "usage: zephro", ""},
      {{"-h"}, 0, {}, true, false, "no prompt is shown", ""},
      {{"--version"}, 0, {}, true, false, kVersion, ""},
      {{"--bogus"}, 2, {}, true, false, "", "unknown option --bogus"},
      {{"-f"}, 2, {}, true, false, "", "-f needs a value"},
      {{"a.clp", "--strategy"}, 2, {"a.clp"}, false, false, "", "--strategy needs a value"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Parsed parsed = Parse(c.args);
    EXPECT_EQ(parsed.status, c.status);
    if (c.status < 0) {
      EXPECT_THAT(parsed.options.files, ElementsAreArray(c.files));
      EXPECT_EQ(parsed.options.interactive, c.interactive);
      EXPECT_EQ(parsed.options.echo, c.echo);
    }
    EXPECT_THAT(parsed.out, HasSubstr(c.out));
    EXPECT_THAT(parsed.err, HasSubstr(c.err));
    if (*c.err == '\0') {
      EXPECT_EQ(parsed.err, "");
    }
  }
}

TEST(ShellOptionsTest, ConfiguresTheEngine) {
  struct {
    const char* watch;
    const char* strategy;
    bool ok;
    TConstructWatches watches;
    TSearchStrategy result;
    const char* err;
  } const kCases[] = {
      {"", "", true, {}, TSearchStrategy::ssDepthFirst, ""},
      {"facts,rules",
       "breadth",
       true,
       {TConstructWatch::cwFact, TConstructWatch::cwRule},
       TSearchStrategy::ssBreadthFirst,
       ""},
      {"activations,statistics,compilations",
       "depth",
       true,
       {TConstructWatch::cwActivation, TConstructWatch::cwStatistics,
        TConstructWatch::cwCompilation},
       TSearchStrategy::ssDepthFirst,
       ""},
      {"facts,bogus", "", false, {}, TSearchStrategy::ssDepthFirst, "unknown watch item: bogus"},
      {"", "sideways", false, {}, TSearchStrategy::ssDepthFirst, "unknown strategy sideways"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.watch) + " / " + c.strategy);
    auto engine = std::make_unique<TInferenceEngine>(nullptr);
    ShellOptions options;
    options.watch = c.watch;
    options.strategy = c.strategy;
    std::ostringstream err;
    EXPECT_EQ(ConfigureEngine(options, *engine, err), c.ok);
    EXPECT_THAT(err.str(), HasSubstr(c.err));
    if (c.ok) {
      EXPECT_EQ(engine->Watch(), c.watches);
      EXPECT_EQ(engine->Strategy(), c.result);
    }
  }
}

}  // namespace
}  // namespace zephro::shell
