#include "load_progress.h"

#include <chrono>
#include <utility>

#include "zephro/engine/engine_events.h"

namespace zephro::shell {

LoadProgress::LoadProgress(std::ostream& err, Clock clock) : err_(err), clock_(std::move(clock)) {}

double LoadProgress::SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void LoadProgress::Report(std::int64_t facts, bool asserting) {
  const double now = clock_();
  if (!asserting && facts == kFactsLoadProgressStep) {
    start_ = now;  // the first report of a new load
    last_line_ = now;
    return;
  }
  if (now - start_ < 1.0 || now - last_line_ < 1.0) {
    return;
  }
  last_line_ = now;
  err_ << "load-facts: " << facts << (asserting ? " facts asserted" : " facts read") << std::endl;
}

}  // namespace zephro::shell
