#pragma once
// A barrier for the threads of one parallel region whose waiters sleep.
//
// OpenMP's barrier spins: on a machine busy with other work a spinning thread
// holds a core that the thread it waits for needs, and a loop with a barrier
// every millisecond slows down tenfold. Waiters here spin briefly, then sleep
// in the kernel (std::atomic::wait), and the last thread to arrive can run a
// serial step before the others go on.

#include <atomic>

namespace shapescale {

class TeamBarrier {
  public:
    /// @param[in] threads  the number of threads that call wait() for each phase
    explicit TeamBarrier(int threads = 1) : threads_(threads) {}

    /// The number of threads; only while no thread waits.
    void reset(int threads) { threads_ = threads; }

    /// Returns once every thread has called wait(); the last to arrive runs
    /// `serial()` first. Whatever any thread wrote before wait() is visible to
    /// every thread after it, and so is what `serial` writes.
    template <class Serial>
    void wait(Serial&& serial) {
        const unsigned phase = phase_.load(std::memory_order_acquire);
        if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == threads_) {
            serial();
            arrived_.store(0, std::memory_order_relaxed);
            phase_.fetch_add(1, std::memory_order_release);
            phase_.notify_all();
            return;
        }
        phase_.wait(phase, std::memory_order_acquire);  // until the phase changes
    }

    void wait() {
        wait([] {});
    }

  private:
    int threads_;
    std::atomic<int> arrived_{0};
    std::atomic<unsigned> phase_{0};
};

}  // namespace shapescale
