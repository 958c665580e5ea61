#pragma once
// A file being written, owned by RAII, whose every failure is an Error that
// names the path and the system's reason.

#include <cstddef>
#include <cstdio>
#include <string>

namespace shapescale {

class OutputFile {
  public:
    /// What becomes of a file that is dropped before close() succeeded.
    enum class Incomplete { remove, keep };

    /// Creates or truncates `path` for writing.
    /// @throw Error "cannot create <path>: <reason>"
    explicit OutputFile(std::string path, Incomplete incomplete = Incomplete::remove);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    /// Closes a file that close() did not (an error is being handled) and,
    /// unless told to keep it, removes it: a half-written file must not be
    /// taken for a result.
    ~OutputFile();

    /// Writes `size` bytes. @throw Error "cannot write <path>: <reason>"
    void write(const void* data, std::size_t size);
    /// printf-style text. @throw Error as write
    [[gnu::format(printf, 2, 3)]] void print(const char* format, ...);
    /// Pushes buffered bytes to the system. @throw Error as write
    void flush();
    /// Flushes and closes; a failure here (disk full) is an Error too.
    void close();

    const std::string& path() const { return path_; }

  private:
    [[noreturn]] void fail(const char* verb, int errnum);

    std::string path_;
    std::FILE* file_ = nullptr;
    Incomplete incomplete_;
    bool complete_ = false;
};

}  // namespace shapescale
