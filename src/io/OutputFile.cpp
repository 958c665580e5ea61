#include "io/OutputFile.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#include "core/Error.hpp"

namespace shapescale {

namespace {

// The permission bits a file created by fopen would get; mkstemp makes 0600.
mode_t creationMode() {
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return static_cast<mode_t>(0666 & ~mask);
}

// The file that a rename must replace: the target of a symbolic link, so the
// link stays a link.
std::string replacedFile(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;  // a dangling link is replaced itself
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// The directory a relative or absolute path names its entry in: "." for a
// bare name, "/" for an entry of the root.
std::string parentOf(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// 0 when `dir` is a directory in which this process may create entries,
// else the errno that says why not.
int writableDirectoryError(const std::string& dir) {
    struct stat info {};
    if (stat(dir.c_str(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    // The effective ids decide, as they do for the files created later; a
    // read-only file system says EROFS even to root.
    if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

bool isSpecialFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

}  // namespace

OutputFile::OutputFile(std::string path, Incomplete incomplete) : path_(std::move(path)) {
    errno = 0;
    if (incomplete == Incomplete::keep || isSpecialFile(path_)) {
        file_ = std::fopen(path_.c_str(), "wb");
        if (file_ == nullptr) fail("create", errno);
        return;
    }
    target_ = replacedFile(path_);
    const std::size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash);
    // A short fixed pattern: any legal final name (up to NAME_MAX) has a
    // legal temporary name beside it.
    std::string pattern = dir + "/" + TEMPORARY_PREFIX + "XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) fail("create", errno);
    temporary_ = pattern;
    if (fchmod(fd, creationMode()) != 0 || (file_ = fdopen(fd, "wb")) == nullptr) {
        const int errnum = errno;
        ::close(fd);
        unlink(temporary_.c_str());
        temporary_.clear();
        fail("create", errnum);
    }
}

OutputFile::~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!published_ && !temporary_.empty()) unlink(temporary_.c_str());
}

void OutputFile::fail(const char* verb, int errnum) {
    // A stream error without errno (rare) still gets a reason.
    const std::string reason = errnum != 0 ? systemReason(errnum) : "input/output error";
    throw Error(std::string("cannot ") + verb + " " + path_ + ": " + reason);
}

void OutputFile::write(const void* data, std::size_t size) {
    errno = 0;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) fail("write", errno);
}

void OutputFile::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    errno = 0;
    const int written = std::vfprintf(file_, format, args);
    va_end(args);
    if (written < 0) fail("write", errno);
}

void OutputFile::flush() {
    errno = 0;
    if (std::fflush(file_) != 0) fail("write", errno);
}

void OutputFile::finish() {
    std::FILE* f = file_;
    file_ = nullptr;
    errno = 0;
    const bool failedBefore = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failedBefore) fail("write", errno);
}

void OutputFile::publish() {
    if (!temporary_.empty()) {
        errno = 0;
        if (std::rename(temporary_.c_str(), target_.c_str()) != 0) fail("write", errno);
    }
    published_ = true;
}

void OutputFile::close() {
    finish();
    publish();
}

void checkOutputDirectory(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        const int errnum = writableDirectoryError(path);
        if (errnum != 0)
            throw Error("cannot write into output directory " + path + ": " + systemReason(errnum));
        return;
    }
    int errnum = errno;
    if (errnum == ENOENT) errnum = writableDirectoryError(parentOf(path));
    if (errnum != 0)
        throw Error("cannot create output directory " + path + ": " + systemReason(errnum));
}

void checkFileCanBeCreated(const std::string& path) {
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    name = name.substr(name.rfind('/') + 1);  // npos + 1 is 0
    int errnum = name.size() > NAME_MAX ? ENAMETOOLONG : writableDirectoryError(parentOf(path));
    struct stat info {};
    if (errnum == 0 && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) errnum = EISDIR;
    if (errnum != 0) throw Error("cannot create " + path + ": " + systemReason(errnum));
}

void createOutputDirectory(const std::string& path) {
    errno = 0;
    if (mkdir(path.c_str(), 0775) != 0 && errno != EEXIST)
        throw Error("cannot create output directory " + path + ": " + systemReason(errno));
}

void writeWholeFile(const std::string& path, const std::string& text) {
    OutputFile out(path);
    out.write(text.data(), text.size());
    out.close();
}

}  // namespace shapescale
