#pragma once
// Wall-clock timing of the stages of a run.

#include <chrono>

namespace shapescale {

/// Seconds on the steady clock since the watch was made or last restarted.
class Stopwatch {
  public:
    /// Seconds elapsed; the watch goes on.
    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    /// Seconds elapsed; the watch starts again from 0.
    double restart() {
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        start_ = now;
        return elapsed;
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_ = Clock::now();
};

}  // namespace shapescale
