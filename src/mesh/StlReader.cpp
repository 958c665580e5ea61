#include "mesh/StlReader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

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

/// Corners merged by position: the bits of x, y, z with -0 read as +0, in
/// an open-addressing table (linear probing, at most half full).
class VertexMerger {
  public:
    /// @param[in] expected  vertices the caller expects, to size the table once
    VertexMerger(MeshBuilder& builder, std::size_t expected) : builder_(builder) {
        std::size_t slots = 64;
        while (slots < 2 * expected) slots *= 2;
        slots_.resize(slots);
    }

    int vertexAt(const Vec3f& p) {
        const Key key = keyOf(p);
        if (2 * static_cast<std::size_t>(count_ + 1) > slots_.size()) grow();
        Slot& slot = find(key);
        if (slot.number < 0) {
            slot.key = key;
            slot.number = count_++;
            builder_.addVertex(p);
        }
        return slot.number;
    }

  private:
    using Key = std::array<std::uint32_t, 3>;

    static Key keyOf(const Vec3f& p) {
        Key key;
        for (std::size_t a = 0; a < 3; ++a) {
            const float value = p[a] == 0.0f ? 0.0f : p[a];
            std::memcpy(&key[a], &value, sizeof value);
        }
        return key;
    }

    struct Slot {
        Key key{};
        int number = -1;  // -1: empty
    };

    static std::size_t hash(const Key& k) {
        std::uint64_t h = (k[0] | static_cast<std::uint64_t>(k[1]) << 32) * 0x9E3779B97F4A7C15ull;
        h ^= (h >> 29) ^ k[2] * 0xC2B2AE3D27D4EB4Full;
        h *= 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }

    /// The slot that holds the key, or the empty slot where it goes.
    Slot& find(const Key& key) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.number < 0 ||
                (slot.key[0] == key[0] && slot.key[1] == key[1] && slot.key[2] == key[2]))
                return slot;
        }
    }

    void grow() {
        readers::LargeVector<Slot> old(2 * slots_.size());
        old.swap(slots_);
        for (const Slot& slot : old)
            if (slot.number >= 0) find(slot.key) = slot;
    }

    MeshBuilder& builder_;
    readers::LargeVector<Slot> slots_;
    int count_ = 0;
};

float littleEndianFloat(const unsigned char* b) {
    std::uint32_t bits;
    std::memcpy(&bits, b, sizeof bits);
    if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap32(bits);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t littleEndian32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

/// The corner c (0 to 2) of a 50-byte triangle record.
Vec3f cornerOf(const unsigned char* record, std::size_t c) {
    // The facet normal (12 bytes) comes first; it is not read.
    const unsigned char* at = record + 12 + 12 * c;
    return {littleEndianFloat(at), littleEndianFloat(at + 4), littleEndianFloat(at + 8)};
}

/// Adds one 50-byte triangle record that starts at byte `start`.
void addTriangle(const unsigned char* record, std::uint64_t start, std::uint32_t t,
                 const ByteInput& input, VertexMerger& merger, MeshBuilder& builder) {
    int corners[3];
    for (std::size_t c = 0; c < 3; ++c) {
        const Vec3f p = cornerOf(record, c);
        for (std::size_t a = 0; a < 3; ++a)
            if (!std::isfinite(p[a]))
                input.failAtByte(start, "triangle " + std::to_string(t) +
                                            ": a coordinate is not a finite number");
        corners[c] = merger.vertexAt(p);
    }
    builder.addPolygon(corners, 3, start);
}

TriMesh readBinary(ByteInput& input, const std::string& name, ReadReport* report) {
    unsigned char header[HEADER_BYTES + 4];
    if (input.read(header, sizeof header) != sizeof header)
        input.failAtByte(input.offset(), "a binary STL file needs 84 bytes of header and count");
    const std::uint32_t count = littleEndian32(header + HEADER_BYTES);
    const std::optional<std::uint64_t> remaining = input.remaining();
    if (remaining && *remaining / TRIANGLE_BYTES < count)
        input.failAtByte(HEADER_BYTES, "the header announces " + std::to_string(count) +
                                           " triangles, the file holds " +
                                           std::to_string(*remaining / TRIANGLE_BYTES));
    // A closed mesh has about half as many vertices as triangles.
    const std::size_t expected = remaining ? count : 0;
    MeshBuilder builder(name, MeshBuilder::Place::byte);
    builder.reservePolygons(expected, 3 * expected);
    VertexMerger merger(builder, expected / 2);
    std::uint32_t t = 0;
    while (t < count) {
        if (input.ensure(TRIANGLE_BYTES) < TRIANGLE_BYTES) {
            input.consume(input.available());
            input.failAtByte(input.offset(), "triangle " + std::to_string(t) + " of " +
                                                 std::to_string(count) + " is cut short");
        }
        const auto records = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(count - t, input.available() / TRIANGLE_BYTES));
        const unsigned char* block = input.data();
        for (std::uint32_t r = 0; r < records; ++r)
            addTriangle(block + r * TRIANGLE_BYTES, input.offset() + r * TRIANGLE_BYTES, t + r,
                        input, merger, builder);
        input.consume(records * TRIANGLE_BYTES);
        t += records;
    }
    if (report != nullptr) report->contents = std::to_string(count) + " triangles";
    return builder.build();
}

class AsciiParser {
  public:
    AsciiParser(ByteInput& input, const std::string& name)
        : input_(input),
          tokens_(input, false),
          builder_(name, MeshBuilder::Place::line),
          merger_(builder_, 0) {}

    TriMesh parse(ReadReport* report) {
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
        if (report != nullptr) report->contents = std::to_string(facets_) + " facets";
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

bool beginsWithSolid(std::string_view head) {
    std::size_t i = 0;
    while (i < head.size() && readers::isBlank(head[i])) ++i;
    return head.size() - i >= 5 && equalsNoCase(head.substr(i, 5), "solid");
}

/// ASCII STL: "solid" at the start and no byte of a binary header (a NUL
/// or another control character) among the first bytes, so that a cut
/// binary file whose header says "solid" is reported as binary.
bool looksAscii(std::string_view head) {
    if (!beginsWithSolid(head)) return false;
    for (char c : head)
        if (static_cast<unsigned char>(c) < 0x20 && !readers::isBlank(c)) return false;
    return true;
}

}  // namespace

TriMesh readStlMesh(std::FILE* in, const std::string& name, ReadReport* report) {
    ByteInput input(in, name);
    const std::string_view head = input.peek(HEADER_BYTES + 4);
    const bool solid = looksAscii(head);
    const std::optional<std::uint64_t> size = input.remaining();
    if (size && head.size() == HEADER_BYTES + 4) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
        const std::uint64_t count = littleEndian32(bytes + HEADER_BYTES);
        const std::uint64_t expected = HEADER_BYTES + 4 + TRIANGLE_BYTES * count;
        if (*size == expected) return readBinary(input, name, report);
        // Fewer bytes after the last triangle than a triangle takes (a
        // newline, padding to a block): the count and the size agree on the
        // triangles, and the rest is no part of them.
        if (!solid && *size > expected && *size - expected < TRIANGLE_BYTES) {
            const std::uint64_t extra = *size - expected;
            if (report != nullptr)
                report->warnings.push_back(name + ": " + std::to_string(extra) + " trailing " +
                                           (extra == 1 ? "byte" : "bytes") + " after the " +
                                           std::to_string(count) + " triangles ignored");
            return readBinary(input, name, report);
        }
        if (!solid) {
            input.failIfUtf16();
            input.failAtByte(
                HEADER_BYTES,
                std::string("not ASCII STL (") +
                    (beginsWithSolid(head)
                         ? "it begins with 'solid' but has control bytes in its first 84"
                         : "no 'solid' at the start of a text") +
                    ") and not binary STL (" + std::to_string(count) + " triangles need " +
                    std::to_string(expected) + " bytes, the file has " + std::to_string(*size) +
                    ")");
        }
    }
    if (solid) return AsciiParser(input, name).parse(report);
    if (head.size() < HEADER_BYTES + 4) input.failIfUtf16();
    return readBinary(input, name, report);
}

}  // namespace shapescale
