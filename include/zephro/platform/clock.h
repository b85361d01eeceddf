#pragma once

// A monotonic millisecond clock for measuring intervals (run statistics). The origin
// is arbitrary; only differences mean anything. Thread-safe.

#include <chrono>

namespace zephro {

inline double MilliSeconds() {
  using Milliseconds = std::chrono::duration<double, std::milli>;
  return std::chrono::duration_cast<Milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace zephro
