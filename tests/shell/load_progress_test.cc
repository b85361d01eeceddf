#include "load_progress.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/engine_events.h"

namespace zephro::shell {
namespace {

struct Step {
  double at;             // seconds on the fake clock
  std::int64_t facts;    // reported so far
  bool asserting;
  const char* expected;  // the line printed, or "" for none
};

TEST(LoadProgressTest, QuietForASecondThenALineASecond) {
  constexpr std::int64_t k = kFactsLoadProgressStep;
  const std::vector<Step> steps = {
      {10.0, k, false, ""},  // a load begins
      {10.5, 2 * k, false, ""},
      {11.0, 3 * k, false, "load-facts: 150000 facts read\n"},
      {11.5, 4 * k, false, ""},
      {12.1, 5 * k, false, "load-facts: 250000 facts read\n"},
      {12.6, k, true, ""},
      {13.2, 2 * k, true, "load-facts: 100000 facts asserted\n"},
      {20.0, k, false, ""},  // the next load starts quiet again
      {20.9, 2 * k, false, ""},
  };
  double now = 0;
  std::ostringstream err;
  LoadProgress progress(err, [&] { return now; });
  for (const Step& step : steps) {
    err.str("");
    now = step.at;
    progress.Report(step.facts, step.asserting);
    EXPECT_EQ(err.str(), step.expected) << "at " << step.at;
  }
}

}  // namespace
}  // namespace zephro::shell
