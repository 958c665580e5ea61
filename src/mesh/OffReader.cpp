#include "mesh/OffReader.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/Error.hpp"
#include "mesh/MeshBuilder.hpp"
#include "mesh/ReaderInput.hpp"

namespace shapescale {

namespace {

using readers::ByteInput;
using readers::isBlank;
using readers::MeshBuilder;
using readers::quoted;
using readers::TokenStream;

/// The next line with its '#' comment cut; false at the end of the file.
bool nextLine(ByteInput& input, std::string_view& line) {
    if (!input.readLine(line)) return false;
    line = line.substr(0, line.find('#'));
    return true;
}

bool hasContent(std::string_view line) {
    for (char c : line)
        if (!isBlank(c)) return true;
    return false;
}

/// The whole token as a decimal int.
bool parseInt(std::string_view token, int& value) {
    long long v = 0;
    if (!readers::parseInteger(token, v) || v < INT_MIN || v > INT_MAX) return false;
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
CountsFound parseCounts(std::string_view text, const ByteInput& input, int& nVertices,
                        int& nFaces) {
    long first = 0, second = 0;
    const std::size_t used = leadingInt(text, first);
    if (used == 0) return CountsFound::none;
    const std::size_t usedSecond = leadingInt(text.substr(used), second);
    if (usedSecond == 0)
        input.failAtLine("the counts line holds only one integer; expected vertex and face counts");
    if (first == LONG_MAX || second == LONG_MAX) input.failAtLine("a count is too large");
    if (first < 0 || second < 0)
        input.failAtLine("negative count (" + std::to_string(first) + " vertices, " +
                         std::to_string(second) + " faces)");
    nVertices = static_cast<int>(first);
    nFaces = static_cast<int>(second);
    return CountsFound::both;
}

/// Three integers and nothing else: the counts line of a file that starts
/// without the keyword.
bool isBareCountsLine(std::string_view line) {
    const std::vector<std::string_view> tokens = readers::splitTokens(line);
    int unused = 0;
    for (std::string_view token : tokens)
        if (!parseInt(token, unused)) return false;
    return tokens.size() == 3;
}

/// 4OFF, homogeneous coordinates: the keyword's prefix in the order [ST][C][N]4.
bool isHomogeneous(std::string_view prefix) {
    if (prefix.empty() || prefix.back() != '4') return false;
    prefix.remove_suffix(1);
    for (std::string_view part : {"ST", "C", "N"})
        if (prefix.substr(0, part.size()) == part) prefix.remove_prefix(part.size());
    return prefix.empty();
}

struct Header {
    bool oneVertexPerLine = false;  // prefixed keywords: COFF, NOFF, STOFF, ...
    bool homogeneous = false;       // 4OFF: x y z w per vertex
    bool countsRead = false;        // on the header line, or a file without keyword
};

Header headerOf(const ByteInput& input, std::string_view line, std::size_t at, int& nVertices,
                int& nFaces) {
    std::size_t keywordStart = at;
    while (keywordStart > 0 && !isBlank(line[keywordStart - 1])) --keywordStart;
    const std::string_view prefix = line.substr(keywordStart, at - keywordStart);
    if (prefix.find('n') != std::string_view::npos)
        input.failAtLine("the header " + quoted(line.substr(keywordStart, at + 3 - keywordStart)) +
                         " (OFF of n dimensions) is not supported");
    Header header;
    header.oneVertexPerLine = !prefix.empty();
    header.homogeneous = isHomogeneous(prefix);
    const std::string_view rest = line.substr(at + 3);
    const std::vector<std::string_view> words = readers::splitTokens(rest);
    if (!words.empty() && words[0] == "BINARY")
        input.failAtLine("binary OFF files are not supported");
    header.countsRead = parseCounts(rest, input, nVertices, nFaces) == CountsFound::both;
    return header;
}

// The keyword "OFF" anywhere in a line, after any number of skipped lines.
// A file without it whose first line of content is three integers starts
// with its counts; it is read from them only when no line of the whole file
// holds the keyword, so that a file with lines before its header is read
// from the header as before. That takes a second pass over a file without
// keyword, which must therefore be able to seek.
Header readHeader(ByteInput& input, int& nVertices, int& nFaces) {
    std::string_view line;
    bool seenContent = false;
    long countsLine = 0;
    while (nextLine(input, line)) {
        const std::size_t at = line.find("OFF");
        if (at != std::string_view::npos) return headerOf(input, line, at, nVertices, nFaces);
        if (seenContent || !hasContent(line)) continue;
        seenContent = true;
        if (isBareCountsLine(line)) countsLine = input.lineNumber();
    }
    if (countsLine > 0 && input.rewind()) {
        while (input.lineNumber() < countsLine)
            if (!nextLine(input, line)) input.failAtEnd("the file changed while it was read");
        parseCounts(line, input, nVertices, nFaces);
        Header header;
        header.countsRead = true;
        return header;
    }
    input.failIfUtf16();
    input.failAtEnd("no OFF header found");
}

void readCounts(ByteInput& input, int& nVertices, int& nFaces) {
    std::string_view line;
    while (nextLine(input, line)) {
        if (parseCounts(line, input, nVertices, nFaces) == CountsFound::both) return;
    }
    input.failAtEnd("no vertex and face counts after the OFF header");
}

[[noreturn]] void failNumber(const ByteInput& input, int vertex, const char* what,
                             std::string_view token) {
    input.failAtLine("vertex " + std::to_string(vertex) + ": " + what + " " + quoted(token) +
                     " is not a finite number");
}

// Plain OFF: three numbers per vertex from the stream of tokens, across line
// ends. Prefixed OFF (COFF, NOFF, 4OFF, ...): one vertex per line, its first
// three numbers (four with 4); colours, normals and texture coordinates after
// them are skipped. The rest of the line of the last vertex is discarded.
void readVertices(TokenStream& tokens, const Header& header, int nVertices, MeshBuilder& builder) {
    ByteInput& input = tokens.input();
    const int numbers = header.homogeneous ? 4 : 3;
    for (int i = 0; i < nVertices; ++i) {
        float x[4];
        std::string_view text[4];
        for (int a = 0; a < numbers; ++a) {
            const bool onSameLine = header.oneVertexPerLine && a > 0;
            if (!(onSameLine ? tokens.nextOnLine(text[a]) : tokens.next(text[a]))) {
                if (onSameLine)
                    input.failAtLine("vertex " + std::to_string(i) +
                                     (header.homogeneous ? ": fewer than four numbers (x, y, z, w)"
                                                         : ": fewer than three coordinates"));
                input.failAtEnd("vertex " + std::to_string(i) + " of " + std::to_string(nVertices) +
                                " is missing");
            }
            if (!readers::parseFloat(text[a], x[a]))
                failNumber(input, i, a < 3 ? "coordinate" : "weight", text[a]);
        }
        if (header.oneVertexPerLine) tokens.skipRestOfLine();
        if (header.homogeneous) {
            if (x[3] == 0.0f)
                input.failAtLine("vertex " + std::to_string(i) + ": weight " + quoted(text[3]) +
                                 " is 0, which puts the vertex at infinity");
            // Each quotient correctly rounded to float: a weight of 1 reads as
            // the same file without weights.
            for (int a = 0; a < 3; ++a) {
                x[a] /= x[3];
                if (!std::isfinite(x[a]))
                    input.failAtLine("vertex " + std::to_string(i) + ": coordinate " +
                                     quoted(text[a]) + " divided by the weight " + quoted(text[3]) +
                                     " is not a finite number in single " + "precision");
            }
        }
        builder.addVertex({x[0], x[1], x[2]});
    }
    tokens.skipRestOfLine();
}

// A face is its vertex count n, then n vertex numbers read across line ends;
// what follows the last of them on its line (a colour) is skipped.
// Returns the number of faces of fewer than three vertices.
int readFaces(TokenStream& tokens, int nFaces, int nVertices, MeshBuilder& builder) {
    ByteInput& input = tokens.input();
    int shortFaces = 0;
    std::vector<int> w;
    for (int j = 0; j < nFaces; ++j) {
        const std::string face = "face " + std::to_string(j);
        std::string_view token;
        if (!tokens.next(token))
            input.failAtEnd(face + " of " + std::to_string(nFaces) + " is missing");
        int n = 0;
        if (!parseInt(token, n))
            input.failAtLine(face + ": vertex count " + quoted(token) + " is not an integer");
        if (n < 3) {
            // The specified report, on standard output, which scripts read; loading goes on.
            std::printf("errore %d %d \n", j, n);
            tokens.skipRestOfLine();
            ++shortFaces;
            continue;
        }
        // Only the numbers that stand in the file: no allocation from n.
        w.clear();
        while (static_cast<int>(w.size()) < n) {
            if (!tokens.next(token))
                input.failAtEnd(face + ": " + std::to_string(n) + " vertices announced, " +
                                std::to_string(w.size()) + " found before the end of the file");
            int index = 0;
            if (!parseInt(token, index))
                input.failAtLine(face + ": vertex number " + quoted(token) + " is not an integer");
            if (index < 0 || index >= nVertices)
                input.failAtLine(face + ": vertex number " + std::to_string(index) +
                                 " is outside 0.." + std::to_string(nVertices - 1));
            w.push_back(index);
        }
        tokens.skipRestOfLine();
        builder.addPolygon(w, static_cast<std::uint64_t>(input.lineNumber()));
    }
    return shortFaces;
}

/// Room for the faces announced, as far as the file's size can hold them:
/// a triangle's line takes at least 8 bytes ("3 0 1 2\n").
void reserveFaces(const ByteInput& input, int nFaces, MeshBuilder& builder) {
    const std::optional<std::uint64_t> remaining = input.remaining();
    if (!remaining) return;
    const std::size_t faces = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(nFaces), *remaining / 8));
    builder.reservePolygons(faces, 3 * faces);
}

}  // namespace

TriMesh loadOffMesh(std::FILE* in, const std::string& fileName, ReadReport* report) {
    ByteInput input(in, fileName);
    int nVertices = 0, nFaces = 0;
    const Header header = readHeader(input, nVertices, nFaces);
    if (!header.countsRead) readCounts(input, nVertices, nFaces);
    MeshBuilder builder(fileName, MeshBuilder::Place::line);
    TokenStream tokens(input, true);
    readVertices(tokens, header, nVertices, builder);
    reserveFaces(input, nFaces, builder);
    const int shortFaces = readFaces(tokens, nFaces, nVertices, builder);
    TriMesh mesh = builder.build();
    mesh.nFaces = nFaces;  // face lines, those of fewer than three vertices included
    if (report != nullptr)
        report->contents =
            readers::counted(static_cast<std::uint64_t>(nVertices), "vertex", "vertices") +
            " and " + readers::counted(static_cast<std::uint64_t>(nFaces), "face", "faces") +
            (shortFaces > 0 && shortFaces == nFaces ? " of fewer than three vertices" : "");
    return mesh;
}

}  // namespace shapescale
