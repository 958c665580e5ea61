#include "mesh/ReaderInput.hpp"

#include <sys/types.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/Error.hpp"

namespace shapescale::readers {

namespace {

// Large enough for stdio-sized reads, small enough to cost nothing per file.
constexpr std::size_t BUFFER_BYTES = 1 << 16;

std::optional<std::uint64_t> streamSize(std::FILE* in, const std::string& fileName) {
    const off_t start = ftello(in);
    if (start < 0 || fseeko(in, 0, SEEK_END) != 0) return std::nullopt;
    const off_t end = ftello(in);
    if (fseeko(in, start, SEEK_SET) != 0) throw Error(fileName + ": cannot seek back to the start");
    if (end < start) return std::nullopt;
    return static_cast<std::uint64_t>(end - start);
}

}  // namespace

ByteInput::ByteInput(std::FILE* in, const std::string& fileName)
    : in_(in), fileName_(fileName), buffer_(BUFFER_BYTES), size_(streamSize(in, fileName)) {}

bool ByteInput::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) return true;
    errno = 0;
    const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, in_);
    if (got == 0 && std::ferror(in_))
        throw Error(fileName_ + ": cannot read: " + systemReason(errno));
    end_ += got;
    return got > 0;
}

std::size_t ByteInput::read(unsigned char* dst, std::size_t n) {
    std::size_t copied = 0;
    while (copied < n) {
        if (begin_ == end_ && !fill()) break;
        const std::size_t take = std::min(n - copied, end_ - begin_);
        std::memcpy(dst + copied, buffer_.data() + begin_, take);
        begin_ += take;
        copied += take;
    }
    offset_ += copied;
    return copied;
}

std::string_view ByteInput::peek(std::size_t n) {
    n = std::min(n, buffer_.size());
    while (end_ - begin_ < n && fill()) {
    }
    return {reinterpret_cast<const char*>(buffer_.data()) + begin_, std::min(n, end_ - begin_)};
}

bool ByteInput::readLine(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
        if (begin_ == end_ && !fill()) break;
        any = true;
        const unsigned char* from = buffer_.data() + begin_;
        const void* newline = std::memchr(from, '\n', end_ - begin_);
        const std::size_t take =
            newline ? static_cast<std::size_t>(static_cast<const unsigned char*>(newline) - from)
                    : end_ - begin_;
        line.append(reinterpret_cast<const char*>(from), take);
        begin_ += take;
        offset_ += take;
        if (newline) {
            ++begin_;
            ++offset_;
            break;
        }
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++lineNumber_;
    return true;
}

std::optional<std::uint64_t> ByteInput::remaining() const {
    if (!size_ || *size_ < offset_) return std::nullopt;
    return *size_ - offset_;
}

void ByteInput::failAtLine(const std::string& what) const {
    throw Error(fileName_ + ":" + std::to_string(lineNumber_) + ": " + what);
}

void ByteInput::failAtByte(std::uint64_t at, const std::string& what) const {
    throw Error(fileName_ + ": byte " + std::to_string(at) + ": " + what);
}

void ByteInput::failAtEnd(const std::string& what) const {
    throw Error(fileName_ + ": " + what + " (the file ends at line " + std::to_string(lineNumber_) +
                ")");
}

bool TokenStream::next(std::string_view& token) {
    for (;;) {
        std::size_t b = 0;
        while (b < rest_.size() && isBlank(rest_[b])) ++b;
        if (b < rest_.size()) {
            std::size_t e = b;
            while (e < rest_.size() && !isBlank(rest_[e])) ++e;
            token = rest_.substr(b, e - b);
            rest_ = rest_.substr(e);
            return true;
        }
        if (!input_.readLine(line_)) return false;
        rest_ = line_;
        if (comments_) rest_ = rest_.substr(0, rest_.find('#'));
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::vector<std::string_view> splitTokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) ++i;
        std::size_t e = i;
        while (e < line.size() && !isBlank(line[e])) ++e;
        if (e > i) tokens.push_back(line.substr(i, e - i));
        i = e;
    }
    return tokens;
}

std::string quoted(std::string_view token) {
    std::string text(1, '\'');
    text.append(token);
    text.push_back('\'');
    return text;
}

namespace {

/// A token as a C string for strtof and strtoll, on the stack when it is
/// short, as numbers are: no allocation per number.
class CString {
  public:
    explicit CString(std::string_view token) : size_(token.size()) {
        if (size_ < sizeof small_) {
            std::memcpy(small_, token.data(), size_);
            small_[size_] = '\0';
        } else {
            large_.assign(token);
        }
    }
    const char* get() const { return size_ < sizeof small_ ? small_ : large_.c_str(); }
    bool consumedWhole(const char* end) const { return size_ > 0 && end == get() + size_; }

  private:
    std::size_t size_;
    char small_[64];
    std::string large_;
};

}  // namespace

bool parseFloat(std::string_view token, float& value) {
    const CString text(token);
    char* end = nullptr;
    value = std::strtof(text.get(), &end);
    return text.consumedWhole(end) && std::isfinite(value);
}

bool parseNumber(std::string_view token, double& value) {
    const CString text(token);
    char* end = nullptr;
    value = std::strtod(text.get(), &end);
    return text.consumedWhole(end);
}

bool parseInteger(std::string_view token, long long& value) {
    const CString text(token);
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.get(), &end, 10);
    return text.consumedWhole(end) && errno != ERANGE;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace shapescale::readers
