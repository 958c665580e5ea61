#pragma once
// The input layer that every mesh reader shares: a buffered byte stream that
// knows its byte offset, its line number and (when the stream can seek) its
// size, gives binary records and text lines in place without copying, and
// polls the interruption flag; whitespace tokens across lines; the number
// conversions with the precision rules of the OFF reader; the text of file
// content in messages. Internal to the readers.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shapescale::readers {

/// Allocates large arrays on transparent huge pages where the system allows
/// it: a reader's arrays of a large mesh are touched once, and 2 MiB pages
/// take a 512th of the page faults, which on a virtual machine cost several
/// microseconds each. Small arrays come from malloc.
void* allocateLarge(std::size_t bytes);
void freeLarge(void* p) noexcept;

template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocateLarge(n * sizeof(T))); }
    void deallocate(T* p, std::size_t) noexcept { freeLarge(p); }
    template <class U>
    bool operator==(const LargeAllocator<U>&) const noexcept {
        return true;
    }
};

/// A growable array on LargeAllocator.
template <class T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

/// A buffered reader over an open stream; the caller opens and closes it.
/// Errors name the file and either the line (text) or the byte offset (binary).
/// A signal (SIGINT, SIGTERM) stops the reading with Interrupted at the next
/// block of the file or the next 65,536 lines, whichever comes first.
class ByteInput {
  public:
    /// @param[in] in        stream positioned where reading starts
    /// @param[in] fileName  used in error messages only; must outlive this object
    ByteInput(std::FILE* in, const std::string& fileName);
    ByteInput(const ByteInput&) = delete;
    ByteInput& operator=(const ByteInput&) = delete;

    /// Makes up to n bytes contiguous at data() (n at most blockBytes());
    /// the number available there, fewer than n only at the end of the file.
    std::size_t ensure(std::size_t n) { return end_ - begin_ >= n ? end_ - begin_ : ensureSlow(n); }
    /// The bytes from the current position that are already in memory.
    const unsigned char* data() const { return buffer_.get() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    /// Consumes n bytes of the available() ones.
    void consume(std::size_t n) {
        begin_ += n;
        offset_ += n;
    }
    /// Consumes up to n bytes, across blocks; the number consumed.
    std::uint64_t skip(std::uint64_t n);
    /// Copies up to n bytes to dst and consumes them; the number copied.
    std::size_t read(unsigned char* dst, std::size_t n);
    /// The next n bytes without consuming them (fewer at the end of the file).
    std::string_view peek(std::size_t n);
    /// The largest record ensure() can make contiguous.
    std::size_t blockBytes() const { return capacity_; }

    /// The next line without its '\n' and a '\r' before it; false at the end.
    /// The view stays valid until the next call of any reading method.
    bool readLine(std::string_view& line);

    /// Back to the start position, line 0; false when the stream cannot seek.
    bool rewind();

    /// Bytes consumed since the start position.
    std::uint64_t offset() const { return offset_; }
    /// Lines consumed with readLine, the current one included.
    long lineNumber() const { return lineNumber_; }
    /// Bytes from the current position to the end, when the stream can tell.
    std::optional<std::uint64_t> remaining() const;
    const std::string& fileName() const { return fileName_; }

    [[noreturn]] void failAtLine(const std::string& what) const;
    [[noreturn]] void failAtByte(std::uint64_t at, const std::string& what) const;
    /// For the end of the file in text: names the last line.
    [[noreturn]] void failAtEnd(const std::string& what) const;
    /// Throws an Error that names UTF-16 text when the file begins as UTF-16
    /// does (a byte-order mark, or a zero in every other byte); returns
    /// otherwise. For a text reader that is about to refuse its input.
    void failIfUtf16() const;

  private:
    std::size_t ensureSlow(std::size_t n);
    bool fill();

    std::FILE* in_;
    const std::string& fileName_;
    std::optional<std::uint64_t> size_;  // from the start position to the end
    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool atEnd_ = false;
    std::uint64_t offset_ = 0;
    long lineNumber_ = 0;
    std::int64_t startPosition_ = -1;  // of the stream; -1 when it cannot tell
    std::string head_;                 // the first bytes, for failIfUtf16
    std::string longLine_;             // a line longer than the buffer
};

/// Whitespace-separated tokens over the lines of a ByteInput; '#' comments
/// are cut when `hashComments` is set.
class TokenStream {
  public:
    TokenStream(ByteInput& input, bool hashComments) : input_(input), comments_(hashComments) {}
    /// The next token, across line ends; false at the end of the file. The
    /// view stays valid until the next call.
    bool next(std::string_view& token);
    /// The next token of the current line; false at its end.
    bool nextOnLine(std::string_view& token);
    /// Drops what is left of the current line.
    void skipRestOfLine() { rest_ = {}; }
    ByteInput& input() { return input_; }

  private:
    ByteInput& input_;
    bool comments_;
    std::string_view rest_;
};

bool isBlank(char c);
/// Splits `line` into whitespace-separated tokens, into `tokens` (cleared
/// first, so that a caller can reuse its capacity).
void splitTokens(std::string_view line, std::vector<std::string_view>& tokens);
std::vector<std::string_view> splitTokens(std::string_view line);
/// File content for a message: bytes below 0x20, 0x7f and NUL written as
/// \xHH, so that the line is whole and prints no control character.
std::string printable(std::string_view text);
/// "1 vertex", "8 vertices": n and the noun for its number, for messages.
std::string counted(std::uint64_t n, std::string_view one, std::string_view many);
/// 'token' in single quotes, printable(), for messages.
std::string quoted(std::string_view token);
/// The whole token as a finite float, correctly rounded as "%f" reads it,
/// so that a coordinate written as text gives the float the OFF reader gives.
/// Every token strtof reads whole (a leading '+', hexadecimal, "inf" and
/// "nan" spellings) gives strtof's result.
bool parseFloat(std::string_view token, float& value);
/// The whole token as a double of any value, infinities and NaN included.
bool parseNumber(std::string_view token, double& value);
/// The whole token as a decimal integer, as strtoll reads it.
bool parseInteger(std::string_view token, long long& value);
/// ASCII case-insensitive equality.
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace shapescale::readers
