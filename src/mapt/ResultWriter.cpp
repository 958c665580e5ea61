#include "mapt/ResultWriter.hpp"

#include <utility>

namespace shapescale {

ResultWriter::~ResultWriter() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !busy_; });
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ResultWriter::start(Job job) {
    {
        const std::lock_guard lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { serve(); });
    changed_.notify_all();
}

void ResultWriter::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return quit_ || busy_; });
        if (!busy_) return;
        Job job = std::move(job_);
        lock.unlock();
        std::vector<std::string> files;
        std::exception_ptr failure;
        try {
            job(files);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        files_.insert(files_.end(), files.begin(), files.end());
        if (failure && !failure_) failure_ = failure;
        busy_ = false;
        changed_.notify_all();
    }
}

void ResultWriter::wait() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !busy_; });
    }
    rethrowFailure();
}

void ResultWriter::rethrowFailure() {
    std::exception_ptr failure;
    {
        const std::lock_guard lock(mutex_);
        failure = std::exchange(failure_, nullptr);
    }
    if (failure) std::rethrow_exception(failure);
}

void ResultWriter::settle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !busy_; });
    failure_ = nullptr;
}

std::vector<std::string> ResultWriter::takeFiles() {
    const std::lock_guard lock(mutex_);
    return std::exchange(files_, {});
}

}  // namespace shapescale
