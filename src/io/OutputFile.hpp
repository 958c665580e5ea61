#pragma once
// A file being written, owned by RAII, whose every failure is an Error that
// names the path and the system's reason.

#include <cstddef>
#include <cstdio>
#include <string>

namespace shapescale {

/// Start of the hidden name under which a file is written until complete.
inline constexpr const char* TEMPORARY_PREFIX = ".ss-";

class OutputFile {
  public:
    /// How the file reaches its name.
    enum class Incomplete {
        /// Whole or absent: written under a temporary name in the same
        /// directory (".ss-XXXXXX", TEMPORARY_PREFIX) and renamed over `path` by close(),
        /// so no reader sees a partial file under the final name and a failed
        /// or interrupted write leaves an earlier file at `path` untouched.
        /// A device or FIFO at `path` is written in place; a symbolic link is
        /// followed and its target replaced.
        remove,
        /// Written in place and kept whatever happens: a log that grows line
        /// by line ("hist.txt") and must keep the lines already flushed.
        keep,
    };

    /// Creates the file (under its temporary name, or `path` truncated).
    /// @throw Error "cannot create <path>: <reason>"
    explicit OutputFile(std::string path, Incomplete incomplete = Incomplete::remove);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    /// Closes a file that close() did not (an error is being handled) and
    /// removes its temporary name; a file written in place stays.
    ~OutputFile();

    /// Writes `size` bytes. @throw Error "cannot write <path>: <reason>"
    void write(const void* data, std::size_t size);
    /// printf-style text. @throw Error as write
    [[gnu::format(printf, 2, 3)]] void print(const char* format, ...);
    /// Pushes buffered bytes to the system. @throw Error as write
    void flush();
    /// finish() then publish().
    void close();
    /// Flushes and closes the stream; a failure here (disk full) is an Error
    /// too. The file still has its temporary name.
    void finish();
    /// Renames the finished file over `path` (nothing for a file written in
    /// place). @throw Error "cannot write <path>: <reason>"
    void publish();

    const std::string& path() const { return path_; }

  private:
    [[noreturn]] void fail(const char* verb, int errnum);

    std::string path_;       ///< the final name, as the caller gave it
    std::string target_;     ///< what is replaced: path_, or the target of a link
    std::string temporary_;  ///< empty when written in place
    std::FILE* file_ = nullptr;
    bool published_ = false;
};

/// Creates the directory `path` (mode 0775 before the umask) unless it exists;
/// its parent must exist.
/// @throw Error "cannot create output directory <path>: <reason>"
void createOutputDirectory(const std::string& path);

/// Writes `text` to `path`, whole or absent (OutputFile::Incomplete::remove).
/// @throw Error as OutputFile
void writeWholeFile(const std::string& path, const std::string& text);

/// Refuses, before anything is written, an output directory that a run could
/// not write into: an existing `path` must be a directory this process may
/// write into; a missing one must have a parent directory it may write into
/// (createOutputDirectory makes no parents).
/// @throw Error "cannot write into output directory <path>: <reason>" or
///        "cannot create output directory <path>: <reason>"
void checkOutputDirectory(const std::string& path);

/// Refuses, before anything is written, a file that OutputFile could not
/// create: its directory must exist and be writable, its name at most
/// NAME_MAX bytes, and `path` must not be a directory.
/// @throw Error "cannot create <path>: <reason>"
void checkFileCanBeCreated(const std::string& path);

}  // namespace shapescale
