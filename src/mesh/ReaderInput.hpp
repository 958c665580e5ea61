#pragma once
// The input layer that the PLY, STL and OBJ readers share: a buffered byte
// stream that knows its byte offset, its line number and (when the stream can
// seek) its size, whitespace tokens across lines, and the number conversions
// with the precision rules of the OFF reader. Internal to the readers.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shapescale::readers {

/// A buffered reader over an open stream; the caller opens and closes it.
/// Errors name the file and either the line (text) or the byte offset (binary).
class ByteInput {
  public:
    /// @param[in] in        stream positioned where reading starts
    /// @param[in] fileName  used in error messages only; must outlive this object
    ByteInput(std::FILE* in, const std::string& fileName);
    ByteInput(const ByteInput&) = delete;
    ByteInput& operator=(const ByteInput&) = delete;

    /// Copies up to n bytes to dst and consumes them; the number copied.
    std::size_t read(unsigned char* dst, std::size_t n);
    /// The next n bytes without consuming them (fewer at the end of the file).
    std::string_view peek(std::size_t n);
    /// The next line without its '\n' and a '\r' before it; false at the end.
    bool readLine(std::string& line);

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

  private:
    bool fill();

    std::FILE* in_;
    const std::string& fileName_;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    std::uint64_t offset_ = 0;
    long lineNumber_ = 0;
    std::optional<std::uint64_t> size_;  // from the start position to the end
};

/// Whitespace-separated tokens over the lines of a ByteInput; '#' comments
/// are cut when `hashComments` is set.
class TokenStream {
  public:
    TokenStream(ByteInput& input, bool hashComments) : input_(input), comments_(hashComments) {}
    /// The next token, across line ends; false at the end of the file. The
    /// view stays valid until the next call.
    bool next(std::string_view& token);
    /// Drops what is left of the current line.
    void skipRestOfLine() { rest_ = {}; }
    ByteInput& input() { return input_; }

  private:
    ByteInput& input_;
    bool comments_;
    std::string line_;
    std::string_view rest_;
};

bool isBlank(char c);
/// Splits `line` into whitespace-separated tokens.
std::vector<std::string_view> splitTokens(std::string_view line);
/// 'token' in single quotes, for messages.
std::string quoted(std::string_view token);
/// The whole token as a finite float, correctly rounded as "%f" reads it,
/// so that a coordinate written as text gives the float the OFF reader gives.
bool parseFloat(std::string_view token, float& value);
/// The whole token as a double of any value, infinities and NaN included.
bool parseNumber(std::string_view token, double& value);
/// The whole token as a decimal integer.
bool parseInteger(std::string_view token, long long& value);
/// ASCII case-insensitive equality.
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace shapescale::readers
