#include "mesh/OffReader.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"

namespace shapescale {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

/// Whole lines of any length, numbered from 1, with '#' comments and the
/// carriage return of Windows line ends removed.
class LineReader {
  public:
    LineReader(std::FILE* in, const std::string& fileName) : in_(in), fileName_(fileName) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() { std::free(buffer_); }

    /// Next line without its comment; false at the end of the file.
    bool next(std::string_view& line) {
        errno = 0;
        const ssize_t length = getline(&buffer_, &capacity_, in_);
        if (length < 0) {
            if (std::ferror(in_)) fail("cannot read: " + systemReason(errno));
            return false;
        }
        // A signal stops the reading of a large file within a few milliseconds.
        if ((++lineNumber_ & 0xFFFF) == 0) checkInterrupt("while reading " + fileName_);
        line = std::string_view(buffer_, static_cast<std::size_t>(length));
        const std::size_t hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        return true;
    }

    /// Next line that holds anything but blanks and comments.
    bool nextContent(std::string_view& line) {
        while (next(line)) {
            for (char c : line)
                if (!isBlank(c)) return true;
        }
        return false;
    }

    long lineNumber() const { return lineNumber_; }

    [[noreturn]] void fail(const std::string& what) const {
        throw Error(fileName_ + ":" + std::to_string(lineNumber_) + ": " + what);
    }

    [[noreturn]] void failAtEnd(const std::string& what) const {
        throw Error(fileName_ + ": " + what + " (the file ends at line " +
                    std::to_string(lineNumber_) + ")");
    }

  private:
    std::FILE* in_;
    const std::string& fileName_;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    long lineNumber_ = 0;
};

/// Splits a line into whitespace-separated tokens.
class Tokens {
  public:
    explicit Tokens(std::string_view line) : rest_(line) {}
    bool next(std::string_view& token) {
        std::size_t b = 0;
        while (b < rest_.size() && isBlank(rest_[b])) ++b;
        if (b == rest_.size()) return false;
        std::size_t e = b;
        while (e < rest_.size() && !isBlank(rest_[e])) ++e;
        token = rest_.substr(b, e - b);
        rest_ = rest_.substr(e);
        return true;
    }
    std::string_view rest() const { return rest_; }

  private:
    std::string_view rest_;
};

std::string quoted(std::string_view token) {
    std::string text(1, '\'');
    text.append(token);
    text.push_back('\'');
    return text;
}

/// The whole token as a finite float, correctly rounded as "%f" reads it.
bool parseCoordinate(std::string_view token, float& value) {
    const std::string text(token);
    char* end = nullptr;
    value = std::strtof(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

/// The whole token as a decimal int.
bool parseInt(std::string_view token, int& value) {
    const std::string text(token);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || text.empty() || errno == ERANGE || v < INT_MIN ||
        v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

/// The leading decimal integer of text, as "%d" reads it after blanks; the
/// number of characters consumed, 0 when there is none.
std::size_t leadingInt(std::string_view text, long& value) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    std::size_t digits = i;
    if (digits < text.size() && (text[digits] == '+' || text[digits] == '-')) ++digits;
    std::size_t end = digits;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == digits) return 0;
    errno = 0;
    value = std::strtol(std::string(text.substr(i, end - i)).c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) value = LONG_MAX;
    return end;
}

enum class CountsFound { none, both };

/// Reads "%d %d" at the start of text. Throws for a single integer or for
/// counts out of range; the edge count after them is ignored.
CountsFound parseCounts(std::string_view text, const LineReader& lines, int& nVertices,
                        int& nFaces) {
    long first = 0, second = 0;
    const std::size_t used = leadingInt(text, first);
    if (used == 0) return CountsFound::none;
    const std::size_t usedSecond = leadingInt(text.substr(used), second);
    if (usedSecond == 0)
        lines.fail("the counts line holds only one integer; expected vertex and face counts");
    if (first == LONG_MAX || second == LONG_MAX) lines.fail("a count is too large");
    if (first < 0 || second < 0)
        lines.fail("negative count (" + std::to_string(first) + " vertices, " +
                   std::to_string(second) + " faces)");
    nVertices = static_cast<int>(first);
    nFaces = static_cast<int>(second);
    return CountsFound::both;
}

struct Header {
    bool oneVertexPerLine = false;  // prefixed keywords: COFF, NOFF, STOFF, ...
    bool countsOnHeaderLine = false;
};

Header readHeader(LineReader& lines, int& nVertices, int& nFaces) {
    std::string_view line;
    while (lines.next(line)) {
        const std::size_t at = line.find("OFF");
        if (at == std::string_view::npos) continue;
        std::size_t keywordStart = at;
        while (keywordStart > 0 && !isBlank(line[keywordStart - 1])) --keywordStart;
        const std::string_view prefix = line.substr(keywordStart, at - keywordStart);
        if (prefix.find('n') != std::string_view::npos)
            lines.fail("the header " + quoted(line.substr(keywordStart, at + 3 - keywordStart)) +
                       " (OFF of n dimensions) is not supported");
        Header header;
        header.oneVertexPerLine = !prefix.empty();
        const std::string_view rest = line.substr(at + 3);
        Tokens restTokens(rest);
        std::string_view word;
        if (restTokens.next(word) && word == "BINARY")
            lines.fail("binary OFF files are not supported");
        header.countsOnHeaderLine =
            parseCounts(rest, lines, nVertices, nFaces) == CountsFound::both;
        return header;
    }
    lines.failAtEnd("no OFF header found");
}

void readCounts(LineReader& lines, int& nVertices, int& nFaces) {
    std::string_view line;
    while (lines.next(line)) {
        if (parseCounts(line, lines, nVertices, nFaces) == CountsFound::both) return;
    }
    lines.failAtEnd("no vertex and face counts after the OFF header");
}

[[noreturn]] void failCoordinate(const LineReader& lines, int vertex, std::string_view token) {
    lines.fail("vertex " + std::to_string(vertex) + ": coordinate " + quoted(token) +
               " is not a finite number");
}

// Plain OFF: three numbers per vertex from the stream of tokens, across line
// ends; the rest of the line of the last vertex is discarded.
void readVerticesAsStream(LineReader& lines, TriMesh& mesh, int nVertices) {
    std::string_view line;
    Tokens tokens(line);
    for (int i = 0; i < nVertices; ++i) {
        Vec3f v;
        for (int a = 0; a < 3; ++a) {
            std::string_view token;
            while (!tokens.next(token)) {
                if (!lines.next(line))
                    lines.failAtEnd("vertex " + std::to_string(i) + " of " +
                                    std::to_string(nVertices) + " is missing");
                tokens = Tokens(line);
            }
            if (!parseCoordinate(token, v[a])) failCoordinate(lines, i, token);
        }
        appendVertex(mesh, v);
    }
}

// Prefixed OFF (COFF, NOFF, ...): one vertex per line, its first three
// numbers; colours, normals and texture coordinates after them are skipped.
void readVerticesAsLines(LineReader& lines, TriMesh& mesh, int nVertices) {
    std::string_view line;
    for (int i = 0; i < nVertices; ++i) {
        if (!lines.nextContent(line))
            lines.failAtEnd("vertex " + std::to_string(i) + " of " + std::to_string(nVertices) +
                            " is missing");
        Tokens tokens(line);
        Vec3f v;
        for (int a = 0; a < 3; ++a) {
            std::string_view token;
            if (!tokens.next(token))
                lines.fail("vertex " + std::to_string(i) + ": fewer than three coordinates");
            if (!parseCoordinate(token, v[a])) failCoordinate(lines, i, token);
        }
        appendVertex(mesh, v);
    }
}

void readFaces(LineReader& lines, TriMesh& mesh, int nFaces) {
    std::string_view line;
    std::vector<int> w;
    std::vector<std::size_t> firstTriangles;  // of each polygon, for the neighbour lists
    for (int j = 0; j < nFaces; ++j) {
        if (!lines.nextContent(line))
            lines.failAtEnd("face " + std::to_string(j) + " of " + std::to_string(nFaces) +
                            " is missing");
        Tokens tokens(line);
        std::string_view token;
        tokens.next(token);
        int n = 0;
        if (!parseInt(token, n))
            lines.fail("face " + std::to_string(j) + ": vertex count " + quoted(token) +
                       " is not an integer");
        if (n < 3) {
            // The specified report, on standard output, which scripts read; loading goes on.
            std::printf("errore %d %d \n", j, n);
            continue;
        }
        // Only the numbers that stand on the line: no allocation from n.
        w.clear();
        while (static_cast<int>(w.size()) < n && tokens.next(token)) {
            int index = 0;
            if (!parseInt(token, index))
                lines.fail("face " + std::to_string(j) + ": vertex number " + quoted(token) +
                           " is not an integer");
            if (index < 0 || index >= mesh.nVertices)
                lines.fail("face " + std::to_string(j) + ": vertex number " +
                           std::to_string(index) + " is outside 0.." +
                           std::to_string(mesh.nVertices - 1));
            w.push_back(index);
        }
        if (static_cast<int>(w.size()) < n)
            lines.fail("face " + std::to_string(j) + ": " + std::to_string(n) +
                       " vertices announced, " + std::to_string(w.size()) + " on the line");
        firstTriangles.push_back(mesh.faces.size());
        for (int k = 1; k + 1 < n; ++k)
            mesh.faces.push_back(
                {w[0], w[static_cast<std::size_t>(k)], w[static_cast<std::size_t>(k) + 1]});
    }
    mesh.vertexNeighbours = NeighbourLists::ofFans(
        mesh.vertices.size(), {mesh.faces.data(), mesh.faces.size()}, firstTriangles);
}

}  // namespace

TriMesh loadOffMesh(std::FILE* in, const std::string& fileName) {
    LineReader lines(in, fileName);
    TriMesh mesh;
    const Header header = readHeader(lines, mesh.nVertices, mesh.nFaces);
    if (!header.countsOnHeaderLine) readCounts(lines, mesh.nVertices, mesh.nFaces);
    if (header.oneVertexPerLine)
        readVerticesAsLines(lines, mesh, mesh.nVertices);
    else
        readVerticesAsStream(lines, mesh, mesh.nVertices);
    readFaces(lines, mesh, mesh.nFaces);
    return mesh;
}

}  // namespace shapescale
