#pragma once
// An advisory lock on an output directory, so that two runs never write into
// the same directory at once (their "hist.txt" lines would mix).

#include <string>

namespace shapescale {

/// Holds an exclusive flock(2) on the directory itself (its own descriptor,
/// opened read-only), so no file is added to it; the system releases the lock
/// when the process ends, however it ends. Where the system cannot lock (a
/// directory that may not be opened for reading, a file system without
/// flock), the run goes on unlocked: the lock only guards against a mistake.
class DirectoryLock {
  public:
    /// Locks `dir`, which must exist.
    /// @throw Error "output directory <dir> is in use by another run (process
    ///        <pid>): ..." when another process holds the lock
    explicit DirectoryLock(const std::string& dir);
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    ~DirectoryLock();

  private:
    int fd_ = -1;
};

}  // namespace shapescale
