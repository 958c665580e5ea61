#include "io/OutputFile.hpp"

#include <cerrno>
#include <cstdarg>

#include "core/Error.hpp"

namespace shapescale {

OutputFile::OutputFile(std::string path, Incomplete incomplete)
    : path_(std::move(path)), incomplete_(incomplete) {
    errno = 0;
    file_ = std::fopen(path_.c_str(), "wb");
    if (file_ == nullptr) fail("create", errno);
}

OutputFile::~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!complete_ && incomplete_ == Incomplete::remove) std::remove(path_.c_str());
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

void OutputFile::close() {
    std::FILE* f = file_;
    file_ = nullptr;
    errno = 0;
    const bool failedBefore = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failedBefore) fail("write", errno);
    complete_ = true;
}

}  // namespace shapescale
