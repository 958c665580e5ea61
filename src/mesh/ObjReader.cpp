#include "mesh/ObjReader.hpp"

#include <climits>

#include "core/Error.hpp"
#include "mesh/MeshBuilder.hpp"
#include "mesh/ReaderInput.hpp"

namespace shapescale {

namespace {

using readers::ByteInput;
using readers::MeshBuilder;
using readers::quoted;

/// The next statement: a line with its continuation lines joined and its
/// comment removed; the line number is that of its last line. The view stays
/// valid until the next call; `joined` holds the lines of a continued one.
bool nextStatement(ByteInput& input, std::string_view& statement, std::string& joined) {
    std::string_view line;
    if (!input.readLine(line)) return false;
    statement = line;
    if (!line.empty() && line.back() == '\\') {
        joined.clear();
        do {
            const bool continues = !line.empty() && line.back() == '\\';
            joined.append(line.substr(0, line.size() - (continues ? 1 : 0)));
            if (!continues) break;
            joined.push_back(' ');
        } while (input.readLine(line));
        statement = joined;
    }
    statement = statement.substr(0, statement.find('#'));
    return true;
}

void readVertex(ByteInput& input, const std::vector<std::string_view>& words,
                MeshBuilder& builder) {
    if (words.size() < 4) input.failAtLine("a vertex needs three coordinates");
    Vec3f p;
    for (std::size_t a = 0; a < 3; ++a)
        if (!readers::parseFloat(words[a + 1], p[a]))
            input.failAtLine("vertex " + std::to_string(builder.vertexCount() + 1) +
                             ": coordinate " + quoted(words[a + 1]) + " is not a finite number");
    builder.addVertex(p);
}

/// The vertex number of a corner "v", "v/vt", "v//vn" or "v/vt/vn", from 0.
int cornerVertex(const ByteInput& input, std::string_view corner, std::size_t vertexCount) {
    const std::string_view number = corner.substr(0, corner.find('/'));
    long long n = 0;
    if (!readers::parseInteger(number, n))
        input.failAtLine("face corner " + quoted(corner) + " does not begin with a vertex number");
    if (n == 0) input.failAtLine("vertex number 0 in " + quoted(corner) + "; numbers start at 1");
    const long long count = static_cast<long long>(vertexCount);
    // Relative numbers count back from the vertices read so far.
    const long long index = n < 0 ? count + n : n - 1;
    if (index < 0)
        input.failAtLine("relative vertex number " + std::to_string(n) + " reaches before the " +
                         "first vertex (" + std::to_string(count) + " read so far)");
    if (index > INT_MAX) input.failAtLine("vertex number " + std::to_string(n) + " is too large");
    return static_cast<int>(index);
}

/// "8 vertices ('v') and 7 lines ('l')", for messages.
std::string statementCounts(std::size_t vertices, long lines, long points) {
    std::string counts = readers::counted(vertices, "vertex", "vertices") + " ('v')";
    if (lines > 0)
        counts += (points > 0 ? ", " : " and ") +
                  readers::counted(static_cast<std::uint64_t>(lines), "line", "lines") + " ('l')";
    if (points > 0)
        counts += " and " +
                  readers::counted(static_cast<std::uint64_t>(points), "point", "points") +
                  " ('p')";
    return counts;
}

}  // namespace

TriMesh readObjMesh(std::FILE* in, const std::string& name, ReadReport* report) {
    ByteInput input(in, name);
    MeshBuilder builder(name, MeshBuilder::Place::line, 1);
    std::string_view statement;
    std::string joined;
    std::vector<std::string_view> words;
    std::vector<int> polygon;
    long lines = 0, points = 0;
    while (nextStatement(input, statement, joined)) {
        readers::splitTokens(statement, words);
        if (words.empty()) continue;
        if (words[0] == "v") {
            readVertex(input, words, builder);
        } else if (words[0] == "l") {
            ++lines;
        } else if (words[0] == "p") {
            ++points;
        } else if (words[0] == "f") {
            if (words.size() < 4)
                input.failAtLine("a face has " + std::to_string(words.size() - 1) +
                                 " corners; it needs at least 3");
            polygon.clear();
            for (std::size_t k = 1; k < words.size(); ++k)
                polygon.push_back(cornerVertex(input, words[k], builder.vertexCount()));
            builder.addPolygon(polygon, static_cast<std::uint64_t>(input.lineNumber()));
        }
    }
    if (builder.vertexCount() == 0) input.failIfUtf16();
    if (report != nullptr) report->contents = statementCounts(builder.vertexCount(), lines, points);
    return builder.build();
}

}  // namespace shapescale
