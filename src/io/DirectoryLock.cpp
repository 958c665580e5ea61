#include "io/DirectoryLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/Error.hpp"

namespace shapescale {

namespace {

// The process holding the flock on the file behind `fd`, from /proc/locks
// ("1: FLOCK  ADVISORY  WRITE 4242 08:01:1835011 0 EOF": device as hex
// major:minor, then the inode); 0 when it is not listed. flock(2) itself
// cannot say who holds a lock, and fcntl's F_GETLK only sees fcntl locks.
long lockHolder(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return 0;
    std::FILE* locks = std::fopen("/proc/locks", "r");
    if (locks == nullptr) return 0;
    char line[256];
    long holder = 0;
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16], mode[16];
        long pid = 0;
        unsigned devMajor = 0, devMinor = 0;
        unsigned long long inode = 0;
        // Waiting requests are listed as "1: -> FLOCK ..." and do not match.
        if (std::sscanf(line, "%*d: %15s %*s %15s %ld %x:%x:%llu", kind, mode, &pid, &devMajor,
                        &devMinor, &inode) == 6 &&
            std::string(kind) == "FLOCK" && devMajor == major(info.st_dev) &&
            devMinor == minor(info.st_dev) && inode == info.st_ino)
            holder = pid;
    }
    std::fclose(locks);
    return holder;
}

}  // namespace

DirectoryLock::DirectoryLock(const std::string& dir) {
    fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    const bool taken = errno == EWOULDBLOCK;
    const long holder = taken ? lockHolder(fd_) : 0;
    ::close(fd_);
    fd_ = -1;
    if (!taken) return;
    const std::string who = holder > 0 ? " (process " + std::to_string(holder) + ")" : "";
    throw Error("output directory " + dir + " is in use by another run" + who +
                ": give each run its own output directory (-o)");
}

DirectoryLock::~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace shapescale
