#pragma once
// Stopping a run cleanly on SIGINT or SIGTERM. The handler only records the
// signal; long loops poll interruptRequested() at points where stopping
// leaves every file whole, and throw Interrupted, which unwinds like any
// Error (temporary files are removed on the way) and which main turns into
// one line and exit status 128 + signal number.

#include <atomic>
#include <csignal>
#include <string>

#include "core/Error.hpp"

namespace shapescale {

/// The run was stopped by a signal. what() is the whole message line.
class Interrupted : public Error {
  public:
    Interrupted(int signal, const std::string& message) : Error(message), signal_(signal) {}
    int signal() const { return signal_; }

  private:
    int signal_;
};

/// Records SIGINT and SIGTERM instead of dying at once (a second one of them
/// ends the process with the default action), and ignores SIGXFSZ so that a
/// write beyond the file-size limit fails with EFBIG and is reported as a
/// write error that names the file. Called once by main, before the run.
void installSignalHandlers();

namespace detail {
extern std::atomic<int> pendingSignal;
}

/// True once SIGINT or SIGTERM has arrived; cheap enough for any loop.
inline bool interruptRequested() {
    return detail::pendingSignal.load(std::memory_order_relaxed) != 0;
}

/// The signal that asked the run to stop, 0 if none.
inline int interruptSignal() {
    return detail::pendingSignal.load(std::memory_order_relaxed);
}

/// Asks the runs in progress to stop as `signal` would (a library caller's
/// own stop request); 0 withdraws the request once they have stopped.
inline void requestInterrupt(int signal) {
    detail::pendingSignal.store(signal, std::memory_order_relaxed);
}

/// "SIGINT", "SIGTERM", or "signal <n>".
std::string signalName(int signal);

/// Throws Interrupted("interrupted by <signal> <where>") if a signal arrived.
/// @param where  the place in the run, e.g. "while reading mesh.off"
void checkInterrupt(const char* where);
void checkInterrupt(const std::string& where);

}  // namespace shapescale
