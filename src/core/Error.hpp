#pragma once
// The one error type of the tool. Every failure that ends a run (bad input,
// invalid settings, an output that cannot be written, a grid too large) is
// thrown as an Error and turned into one line on standard error and exit
// status 2 by main; nothing below main decides an exit status.

#include <stdexcept>
#include <string>

namespace shapescale {

/// A failure that ends the run. what() is the whole message line, without a
/// trailing newline, naming what failed and where (file, line, value).
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// A run that would not fit into the memory or the address space it may use:
/// the Python module raises MemoryError for it, ValueError for other Errors.
class OutOfMemory : public Error {
  public:
    using Error::Error;
};

/// Exit status of every run that ends with an Error.
inline constexpr int EXIT_RUN_FAILED = 2;

/// "path: reason" from errno, for messages about files.
std::string systemReason(int errnum);

}  // namespace shapescale
