#pragma once
// The thread that writes a run's result files while the run goes on.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace shapescale {

/// Runs one writing job at a time on a thread of its own, so that the files
/// of radius k are written while radius k + 1 is computed. A job lists the
/// files it completes; the run takes that list on its own thread and tells
/// its observer, which is never called from the writer. A job's failure (a
/// write error, an interruption) is kept and rethrown to the run by its next
/// wait() or rethrowFailure(). The thread starts with the first job.
class ResultWriter {
  public:
    /// Writes files, appending the path of each one it completes.
    using Job = std::function<void(std::vector<std::string>& files)>;

    ResultWriter() = default;
    ResultWriter(const ResultWriter&) = delete;
    ResultWriter& operator=(const ResultWriter&) = delete;
    /// Waits for the job in hand, whatever its outcome, and ends the thread:
    /// nothing the job reads may go before it.
    ~ResultWriter();

    /// Hands over `job`; the writer must be idle (after wait()).
    void start(Job job);
    /// Returns once no job is in hand; rethrows the failure of a job.
    void wait();
    /// Rethrows the failure of a finished job, without waiting.
    void rethrowFailure();
    /// Waits for the job in hand and forgets its failure: for a run that is
    /// ending anyway and reports what is complete.
    void settle();
    /// The files completed since the last call, in the order written.
    std::vector<std::string> takeFiles();

  private:
    void serve();

    std::mutex mutex_;
    std::condition_variable changed_;
    Job job_;
    bool busy_ = false;
    bool quit_ = false;
    std::exception_ptr failure_;
    std::vector<std::string> files_;
    std::thread thread_;
};

}  // namespace shapescale
