#include "mesh/StlReader.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "core/Error.hpp"
#include "mesh/MeshBuilder.hpp"
#include "mesh/ReaderInput.hpp"

namespace shapescale {

namespace {

using readers::ByteInput;
using readers::equalsNoCase;
using readers::MeshBuilder;
using readers::quoted;
using readers::TokenStream;

constexpr std::uint64_t HEADER_BYTES = 80;
constexpr std::uint64_t TRIANGLE_BYTES = 50;  // normal, three corners, attribute count

/// Corners merged by position: the bits of x, y, z with -0 read as +0.
class VertexMerger {
  public:
    explicit VertexMerger(MeshBuilder& builder) : builder_(builder) {}

    int vertexAt(const Vec3f& p) {
        Key key;
        for (std::size_t a = 0; a < 3; ++a) {
            const float value = p[a] == 0.0f ? 0.0f : p[a];
            std::memcpy(&key[a], &value, sizeof value);
        }
        const auto [it, isNew] = numbers_.try_emplace(key, static_cast<int>(numbers_.size()));
        if (isNew) builder_.addVertex(p);
        return it->second;
    }

  private:
    using Key = std::array<std::uint32_t, 3>;
    struct KeyHash {
        std::size_t operator()(const Key& k) const {
            std::uint64_t h = 1469598103934665603ull;
            for (std::uint32_t v : k) h = (h ^ v) * 1099511628211ull;
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
    };
    MeshBuilder& builder_;
    std::unordered_map<Key, int, KeyHash> numbers_;
};

std::uint32_t littleEndian32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

float littleEndianFloat(const unsigned char* b) {
    const std::uint32_t bits = littleEndian32(b);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TriMesh readBinary(ByteInput& input, const std::string& name) {
    unsigned char header[HEADER_BYTES + 4];
    if (input.read(header, sizeof header) != sizeof header)
        input.failAtByte(input.offset(), "a binary STL file needs 84 bytes of header and count");
    const std::uint32_t count = littleEndian32(header + HEADER_BYTES);
    const std::optional<std::uint64_t> remaining = input.remaining();
    if (remaining && *remaining / TRIANGLE_BYTES < count)
        input.failAtByte(HEADER_BYTES, "the header announces " + std::to_string(count) +
                                           " triangles, the file holds " +
                                           std::to_string(*remaining / TRIANGLE_BYTES));
    MeshBuilder builder(name, MeshBuilder::Place::byte);
    VertexMerger merger(builder);
    std::vector<int> corners(3);
    for (std::uint32_t t = 0; t < count; ++t) {
        const std::uint64_t start = input.offset();
        unsigned char record[TRIANGLE_BYTES];
        if (input.read(record, sizeof record) != sizeof record)
            input.failAtByte(input.offset(), "triangle " + std::to_string(t) + " of " +
                                                 std::to_string(count) + " is cut short");
        for (std::size_t c = 0; c < 3; ++c) {
            Vec3f p;
            for (std::size_t a = 0; a < 3; ++a) {
                // The facet normal (12 bytes) comes first; it is not read.
                p[a] = littleEndianFloat(record + 12 + 12 * c + 4 * a);
                if (!std::isfinite(p[a]))
                    input.failAtByte(start, "triangle " + std::to_string(t) +
                                                ": a coordinate is not a finite number");
            }
            corners[c] = merger.vertexAt(p);
        }
        builder.addPolygon(corners, start);
    }
    return builder.build();
}

class AsciiParser {
  public:
    AsciiParser(ByteInput& input, const std::string& name)
        : input_(input),
          tokens_(input, false),
          builder_(name, MeshBuilder::Place::line),
          merger_(builder_) {}

    TriMesh parse() {
        std::string_view word;
        if (!tokens_.next(word) || !equalsNoCase(word, "solid"))
            input_.failAtLine("an ASCII STL file begins with 'solid'");
        for (;;) {
            tokens_.skipRestOfLine();  // the solid's name
            readFacets();
            tokens_.skipRestOfLine();  // "endsolid" and the name again
            if (!tokens_.next(word)) break;
            if (!equalsNoCase(word, "solid"))
                input_.failAtLine("expected 'solid' after 'endsolid', found " + quoted(word));
        }
        return builder_.build();
    }

  private:
    std::string_view nextWord(const char* expected) {
        std::string_view word;
        if (!tokens_.next(word))
            input_.failAtEnd(std::string("'") + expected + "' is missing after facet " +
                             std::to_string(facets_));
        return word;
    }

    void expect(const char* keyword) {
        const std::string_view word = nextWord(keyword);
        if (!equalsNoCase(word, keyword))
            input_.failAtLine("facet " + std::to_string(facets_) + ": expected " + quoted(keyword) +
                              ", found " + quoted(word));
    }

    // Facets up to and including the "endsolid" keyword.
    void readFacets() {
        for (;;) {
            const std::string_view word = nextWord("endsolid");
            if (equalsNoCase(word, "endsolid")) return;
            if (!equalsNoCase(word, "facet"))
                input_.failAtLine("expected 'facet' or 'endsolid', found " + quoted(word));
            readFacet();
            ++facets_;
        }
    }

    void readFacet() {
        expect("normal");
        for (int a = 0; a < 3; ++a) nextWord("normal");  // not used
        expect("outer");
        expect("loop");
        corners_.clear();
        std::string_view word = nextWord("endloop");
        while (equalsNoCase(word, "vertex")) {
            Vec3f p;
            for (std::size_t a = 0; a < 3; ++a) {
                const std::string_view token = nextWord("vertex");
                if (!readers::parseFloat(token, p[a]))
                    input_.failAtLine("facet " + std::to_string(facets_) + ": coordinate " +
                                      quoted(token) + " is not a finite number");
            }
            corners_.push_back(merger_.vertexAt(p));
            word = nextWord("endloop");
        }
        if (!equalsNoCase(word, "endloop"))
            input_.failAtLine("facet " + std::to_string(facets_) + ": expected 'vertex' or " +
                              "'endloop', found " + quoted(word));
        if (corners_.size() < 3)
            input_.failAtLine("facet " + std::to_string(facets_) + " has " +
                              std::to_string(corners_.size()) +
                              " vertices; a facet needs at least 3");
        builder_.addPolygon(corners_, static_cast<std::uint64_t>(input_.lineNumber()));
        expect("endfacet");
    }

    ByteInput& input_;
    TokenStream tokens_;
    MeshBuilder builder_;
    VertexMerger merger_;
    std::vector<int> corners_;
    long facets_ = 0;
};

/// ASCII STL: "solid" at the start and no byte of a binary header (a NUL
/// or another control character) among the first bytes, so that a cut
/// binary file whose header says "solid" is reported as binary.
bool looksAscii(std::string_view head) {
    std::size_t i = 0;
    while (i < head.size() && readers::isBlank(head[i])) ++i;
    if (head.size() - i < 5 || !equalsNoCase(head.substr(i, 5), "solid")) return false;
    for (char c : head)
        if (static_cast<unsigned char>(c) < 0x20 && !readers::isBlank(c)) return false;
    return true;
}

}  // namespace

TriMesh readStlMesh(std::FILE* in, const std::string& name) {
    ByteInput input(in, name);
    const std::string_view head = input.peek(HEADER_BYTES + 4);
    const bool solid = looksAscii(head);
    const std::optional<std::uint64_t> size = input.remaining();
    if (size && head.size() == HEADER_BYTES + 4) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
        const std::uint64_t count = littleEndian32(bytes + HEADER_BYTES);
        if (*size == HEADER_BYTES + 4 + TRIANGLE_BYTES * count) return readBinary(input, name);
        if (!solid)
            input.failAtByte(HEADER_BYTES,
                             "not ASCII STL (no 'solid' at the start of a text) and not binary "
                             "STL (" +
                                 std::to_string(count) + " triangles need " +
                                 std::to_string(HEADER_BYTES + 4 + TRIANGLE_BYTES * count) +
                                 " bytes, the file has " + std::to_string(*size) + ")");
    }
    if (solid) return AsciiParser(input, name).parse();
    return readBinary(input, name);
}

}  // namespace shapescale
