#include "mesh/ReaderInput.hpp"

#include <sys/mman.h>
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"

namespace shapescale::readers {

namespace {

// A block of 1 MiB reads a large file at the disk cache's speed; a small file
// gets a buffer of its own size, so that a reader costs nothing per small file.
constexpr std::size_t LARGEST_BLOCK = 1 << 20;
constexpr std::size_t SMALLEST_BLOCK = 1 << 12;
// The bytes that failIfUtf16 looks at.
constexpr std::size_t HEAD_BYTES = 64;
// A signal is looked at every 65,536 lines at least.
constexpr long LINES_PER_POLL = 1 << 16;

std::size_t blockFor(const std::optional<std::uint64_t>& size) {
    if (!size) return LARGEST_BLOCK;
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(*size + 1, SMALLEST_BLOCK, LARGEST_BLOCK));
}

void pollInterrupt(const std::string& fileName) {
    if (interruptRequested()) checkInterrupt("while reading " + fileName);
}

constexpr std::array<bool, 256> BLANKS = [] {
    std::array<bool, 256> blank{};
    for (unsigned char c : {' ', '\t', '\r', '\n', '\v', '\f'}) blank[c] = true;
    return blank;
}();

}  // namespace

void* allocateLarge(std::size_t bytes) {
    constexpr std::size_t HUGE_PAGE = 1 << 21;
    void* p = nullptr;
    if (bytes >= HUGE_PAGE) {
        p = std::aligned_alloc(HUGE_PAGE, (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE);
        // A hint: where huge pages are off, the array takes ordinary pages.
        if (p != nullptr) madvise(p, bytes, MADV_HUGEPAGE);
    } else {
        p = std::malloc(bytes == 0 ? 1 : bytes);
    }
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void freeLarge(void* p) noexcept {
    std::free(p);
}

bool isBlank(char c) {
    return BLANKS[static_cast<unsigned char>(c)];
}

ByteInput::ByteInput(std::FILE* in, const std::string& fileName) : in_(in), fileName_(fileName) {
    const off_t start = ftello(in);
    if (start >= 0 && fseeko(in, 0, SEEK_END) == 0) {
        const off_t end = ftello(in);
        if (fseeko(in, start, SEEK_SET) != 0)
            throw Error(fileName + ": cannot seek back to the start");
        startPosition_ = start;
        if (end >= start) size_ = static_cast<std::uint64_t>(end - start);
    }
    capacity_ = blockFor(size_);
    buffer_ = std::make_unique_for_overwrite<unsigned char[]>(capacity_);
    const std::string_view head = peek(HEAD_BYTES);
    head_.assign(head);
}

bool ByteInput::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (atEnd_) return false;
    if (end_ == capacity_) return true;
    pollInterrupt(fileName_);
    errno = 0;
    const std::size_t wanted = capacity_ - end_;
    const std::size_t got = std::fread(buffer_.get() + end_, 1, wanted, in_);
    if (got < wanted) {
        if (std::ferror(in_)) throw Error(fileName_ + ": cannot read: " + systemReason(errno));
        atEnd_ = true;
    }
    end_ += got;
    return got > 0;
}

std::size_t ByteInput::ensureSlow(std::size_t n) {
    n = std::min(n, capacity_);
    while (end_ - begin_ < n && fill()) {
    }
    return end_ - begin_;
}

std::uint64_t ByteInput::skip(std::uint64_t n) {
    std::uint64_t done = 0;
    while (done < n) {
        if (begin_ == end_ && !fill()) break;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(n - done, end_ - begin_));
        consume(take);
        done += take;
    }
    return done;
}

std::size_t ByteInput::read(unsigned char* dst, std::size_t n) {
    std::size_t copied = 0;
    while (copied < n) {
        if (begin_ == end_ && !fill()) break;
        const std::size_t take = std::min(n - copied, end_ - begin_);
        std::memcpy(dst + copied, data(), take);
        consume(take);
        copied += take;
    }
    return copied;
}

std::string_view ByteInput::peek(std::size_t n) {
    const std::size_t got = std::min(ensure(n), n);
    return {reinterpret_cast<const char*>(data()), got};
}

bool ByteInput::readLine(std::string_view& line) {
    longLine_.clear();
    bool isLong = false;
    std::size_t scanned = 0;  // bytes after begin_ known to hold no '\n'
    for (;;) {
        const void* newline = std::memchr(data() + scanned, '\n', available() - scanned);
        if (newline != nullptr) {
            const auto length =
                static_cast<std::size_t>(static_cast<const unsigned char*>(newline) - data());
            line = {reinterpret_cast<const char*>(data()), length};
            consume(length + 1);
            break;
        }
        scanned = available();
        if (scanned == capacity_) {
            // A line longer than the buffer goes on in a string of its own.
            longLine_.append(reinterpret_cast<const char*>(data()), scanned);
            consume(scanned);
            scanned = 0;
            isLong = true;
        }
        if (!fill()) {
            if (!isLong && available() == 0) return false;
            line = {reinterpret_cast<const char*>(data()), available()};
            consume(available());
            break;
        }
    }
    if (isLong) {
        longLine_.append(line);
        line = longLine_;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (++lineNumber_ % LINES_PER_POLL == 0) pollInterrupt(fileName_);
    return true;
}

bool ByteInput::rewind() {
    if (startPosition_ < 0 || fseeko(in_, static_cast<off_t>(startPosition_), SEEK_SET) != 0)
        return false;
    std::clearerr(in_);
    begin_ = end_ = 0;
    atEnd_ = false;
    offset_ = 0;
    lineNumber_ = 0;
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

void ByteInput::failIfUtf16() const {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head_[i]); };
    std::string how;
    if (head_.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        how = "byte-order mark FF FE";
    } else if (head_.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
        how = "byte-order mark FE FF";
    } else if (head_.size() >= 4) {
        // Text of ASCII characters in UTF-16: a zero in every other byte, no other.
        bool zeroOdd = true, zeroEven = true;
        for (std::size_t i = 0; i + 1 < head_.size(); i += 2) {
            zeroEven = zeroEven && byte(i) == 0 && byte(i + 1) != 0;
            zeroOdd = zeroOdd && byte(i) != 0 && byte(i + 1) == 0;
        }
        if (zeroOdd || zeroEven) how = "every other byte is 0";
    }
    if (!how.empty())
        throw Error(fileName_ + ": the file is UTF-16 text (" + how + "), not ASCII or UTF-8");
}

bool TokenStream::nextOnLine(std::string_view& token) {
    std::size_t b = 0;
    while (b < rest_.size() && isBlank(rest_[b])) ++b;
    if (b == rest_.size()) {
        rest_ = {};
        return false;
    }
    std::size_t e = b;
    while (e < rest_.size() && !isBlank(rest_[e])) ++e;
    token = rest_.substr(b, e - b);
    rest_ = rest_.substr(e);
    return true;
}

bool TokenStream::next(std::string_view& token) {
    while (!nextOnLine(token)) {
        std::string_view line;
        if (!input_.readLine(line)) return false;
        if (comments_) line = line.substr(0, line.find('#'));
        rest_ = line;
    }
    return true;
}

void splitTokens(std::string_view line, std::vector<std::string_view>& tokens) {
    tokens.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) ++i;
        std::size_t e = i;
        while (e < line.size() && !isBlank(line[e])) ++e;
        if (e > i) tokens.push_back(line.substr(i, e - i));
        i = e;
    }
}

std::vector<std::string_view> splitTokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    splitTokens(line, tokens);
    return tokens;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
            continue;
        }
        constexpr char HEX[] = "0123456789abcdef";
        out += "\\x";
        out.push_back(HEX[byte >> 4]);
        out.push_back(HEX[byte & 0xF]);
    }
    return out;
}

std::string counted(std::uint64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string quoted(std::string_view token) {
    return "'" + printable(token) + "'";
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

// std::from_chars reads the decimal numbers and the "inf" and "nan" spellings
// that strtof and strtoll read, to the same correctly rounded value, several
// times faster. What it leaves to them: a leading '+', hexadecimal, values
// beyond the type's range (strtof's infinity or underflow, strtoll's ERANGE)
// and every token that is not read whole, so that each token is accepted or
// refused with exactly the strto* result.
bool hasFastForm(std::string_view token) {
    return !token.empty() && token[0] != '+';
}

}  // namespace

bool parseFloat(std::string_view token, float& value) {
    if (hasFastForm(token)) {
        const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
        if (error == std::errc() && end == token.data() + token.size()) return std::isfinite(value);
    }
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
    if (hasFastForm(token)) {
        const auto [end, error] =
            std::from_chars(token.data(), token.data() + token.size(), value, 10);
        if (error == std::errc() && end == token.data() + token.size()) return true;
    }
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
