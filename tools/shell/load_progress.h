#pragma once

// Tells the user, on standard error, how a long load of facts goes: nothing
// for the first second, then one line a second ("load-facts: 300000 facts
// read"), so that piped output stays clean and a slow load is not mistaken
// for a hang. Installed as the engine's OnLoadProgress.

#include <cstdint>
#include <functional>
#include <ostream>

namespace zephro::shell {

class LoadProgress {
 public:
  // Seconds from any fixed point.
  using Clock = std::function<double()>;

  explicit LoadProgress(std::ostream& err, Clock clock = SteadySeconds);

  // One report of the engine's: `facts` read (or asserted) so far.
  void Report(std::int64_t facts, bool asserting);

  static double SteadySeconds();

 private:
  std::ostream& err_;
  Clock clock_;
  double start_ = 0;
  double last_line_ = 0;
};

}  // namespace zephro::shell
