#include "core/Interrupt.hpp"

namespace shapescale {

namespace detail {
// Written by the signal handler: a lock-free atomic is async-signal-safe.
std::atomic<int> pendingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace detail

namespace {

extern "C" void recordSignal(int signal) {
    detail::pendingSignal.store(signal, std::memory_order_relaxed);
}

}  // namespace

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESTART: reads and writes in progress go on instead of failing with
    // EINTR, so the run stops only where it polls. SA_RESETHAND: a second
    // signal, when the first is not honoured quickly enough, kills at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

std::string signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "signal " + std::to_string(signal);
    }
}

void checkInterrupt(const char* where) {
    const int signal = interruptSignal();
    if (signal != 0)
        throw Interrupted(signal, "interrupted by " + signalName(signal) + " " + where);
}

void checkInterrupt(const std::string& where) {
    checkInterrupt(where.c_str());
}

}  // namespace shapescale
