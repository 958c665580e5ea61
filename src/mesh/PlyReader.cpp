#include "mesh/PlyReader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/Error.hpp"
#include "mesh/MeshBuilder.hpp"
#include "mesh/ReaderInput.hpp"

namespace shapescale {

namespace {

using readers::ByteInput;
using readers::MeshBuilder;
using readers::quoted;

enum class Encoding { ascii, littleEndian, bigEndian };
enum class Type { i8, u8, i16, u16, i32, u32, f32, f64 };

struct TypeName {
    const char* name;
    Type type;
};
constexpr std::array<TypeName, 16> TYPE_NAMES = {{{"char", Type::i8},
                                                  {"int8", Type::i8},
                                                  {"uchar", Type::u8},
                                                  {"uint8", Type::u8},
                                                  {"short", Type::i16},
                                                  {"int16", Type::i16},
                                                  {"ushort", Type::u16},
                                                  {"uint16", Type::u16},
                                                  {"int", Type::i32},
                                                  {"int32", Type::i32},
                                                  {"uint", Type::u32},
                                                  {"uint32", Type::u32},
                                                  {"float", Type::f32},
                                                  {"float32", Type::f32},
                                                  {"double", Type::f64},
                                                  {"float64", Type::f64}}};

std::size_t sizeOf(Type t) {
    switch (t) {
        case Type::i8:
        case Type::u8:
            return 1;
        case Type::i16:
        case Type::u16:
            return 2;
        case Type::i32:
        case Type::u32:
        case Type::f32:
            return 4;
        case Type::f64:
            return 8;
    }
    return 0;
}

bool isInteger(Type t) {
    return t != Type::f32 && t != Type::f64;
}

const char* nameOf(Type t) {
    for (const TypeName& n : TYPE_NAMES)
        if (n.type == t) return n.name;
    return "?";
}

/// The range of an integer type, to check numbers written as text.
bool fitsInteger(Type t, long long v) {
    switch (t) {
        case Type::i8:
            return v >= INT8_MIN && v <= INT8_MAX;
        case Type::u8:
            return v >= 0 && v <= UINT8_MAX;
        case Type::i16:
            return v >= INT16_MIN && v <= INT16_MAX;
        case Type::u16:
            return v >= 0 && v <= UINT16_MAX;
        case Type::i32:
            return v >= INT32_MIN && v <= INT32_MAX;
        case Type::u32:
            return v >= 0 && v <= static_cast<long long>(UINT32_MAX);
        default:
            return false;
    }
}

struct Property {
    std::string name;
    Type type = Type::f32;  // of the items, for a list
    bool isList = false;
    Type countType = Type::u8;
};

// Triangle strips: a list of vertex numbers per element, -1 restarting a strip.
enum class Role { vertex, face, tristrips, other };

struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;
    Role role = Role::other;
    std::array<int, 3> xyz = {-1, -1, -1};  // vertex: property numbers of x, y, z
    int indices = -1;                       // face, tristrips: property number of the index list
    std::size_t recordBytes = 0;            // binary size of an element without lists, else 0
};

struct Header {
    Encoding encoding = Encoding::ascii;
    std::vector<Element> elements;
};

Type parseType(const ByteInput& input, std::string_view word) {
    for (const TypeName& n : TYPE_NAMES)
        if (word == n.name) return n.type;
    input.failAtLine("unknown property type " + quoted(word));
}

void finishElement(const ByteInput& input, Element& e) {
    const auto find = [&](std::string_view name) {
        for (std::size_t i = 0; i < e.properties.size(); ++i)
            if (e.properties[i].name == name) return static_cast<int>(i);
        return -1;
    };
    if (e.role == Role::vertex) {
        const char* const axes[3] = {"x", "y", "z"};
        for (int a = 0; a < 3; ++a) {
            e.xyz[static_cast<std::size_t>(a)] = find(axes[a]);
            if (e.xyz[static_cast<std::size_t>(a)] < 0)
                input.failAtLine("the vertex element has no property '" + std::string(axes[a]) +
                                 "'");
            if (e.properties[static_cast<std::size_t>(e.xyz[static_cast<std::size_t>(a)])].isList)
                input.failAtLine("the vertex property '" + std::string(axes[a]) + "' is a list");
        }
    } else if (e.role == Role::face || e.role == Role::tristrips) {
        e.indices = find("vertex_indices");
        if (e.indices < 0) e.indices = find("vertex_index");
        if (e.indices < 0)
            input.failAtLine("the " + e.name + " element has no list property 'vertex_indices'");
        const Property& p = e.properties[static_cast<std::size_t>(e.indices)];
        if (!p.isList || !isInteger(p.type))
            input.failAtLine("the " + e.name + " property " + quoted(p.name) +
                             " is not a list of integers");
    }
    for (const Property& p : e.properties) {
        if (p.isList) {
            e.recordBytes = 0;
            break;
        }
        e.recordBytes += sizeOf(p.type);
    }
}

Role roleOf(const std::string& name) {
    if (name == "vertex") return Role::vertex;
    if (name == "face") return Role::face;
    if (name == "tristrips") return Role::tristrips;
    return Role::other;
}

Header readHeader(ByteInput& input) {
    std::string_view line;
    if (!input.readLine(line)) input.failAtEnd("not a PLY file: it is empty");
    if (line != "ply") {
        input.failIfUtf16();
        input.failAtLine("not a PLY file: the first line is not 'ply'");
    }
    Header header;
    bool hasFormat = false;
    std::array<bool, 3> seen = {false, false, false};  // vertex, face, tristrips
    std::vector<std::string_view> words;
    while (input.readLine(line)) {
        readers::splitTokens(line, words);
        if (words.empty()) continue;
        const std::string_view key = words[0];
        if (key == "comment" || key == "obj_info") continue;
        if (key == "end_header") {
            if (!hasFormat) input.failAtLine("no 'format' line before 'end_header'");
            if (!header.elements.empty()) finishElement(input, header.elements.back());
            return header;
        }
        if (key == "format") {
            if (words.size() != 3) input.failAtLine("expected 'format <encoding> 1.0'");
            if (words[1] == "ascii")
                header.encoding = Encoding::ascii;
            else if (words[1] == "binary_little_endian")
                header.encoding = Encoding::littleEndian;
            else if (words[1] == "binary_big_endian")
                header.encoding = Encoding::bigEndian;
            else
                input.failAtLine("unknown encoding " + quoted(words[1]));
            hasFormat = true;
        } else if (key == "element") {
            long long count = 0;
            if (words.size() != 3 || !readers::parseInteger(words[2], count) || count < 0)
                input.failAtLine("expected 'element <name> <count>'");
            if (!header.elements.empty()) finishElement(input, header.elements.back());
            Element e;
            e.name = std::string(words[1]);
            e.count = static_cast<std::uint64_t>(count);
            e.role = roleOf(e.name);
            if (e.role != Role::other) {
                bool& isSeen = seen[static_cast<std::size_t>(e.role)];
                if (isSeen) input.failAtLine("a second " + quoted(e.name) + " element");
                isSeen = true;
                if (count > INT_MAX)
                    input.failAtLine(std::to_string(count) + " " + e.name +
                                     " elements are more than this reader holds");
            }
            header.elements.push_back(e);
        } else if (key == "property") {
            if (header.elements.empty()) input.failAtLine("a property before any element");
            Property p;
            if (words.size() == 5 && words[1] == "list") {
                p.isList = true;
                p.countType = parseType(input, words[2]);
                if (!isInteger(p.countType))
                    input.failAtLine("the list count type " + quoted(words[2]) +
                                     " is not an integer type");
                p.type = parseType(input, words[3]);
                p.name = std::string(words[4]);
            } else if (words.size() == 3 && words[1] != "list") {
                p.type = parseType(input, words[1]);
                p.name = std::string(words[2]);
            } else {
                input.failAtLine(
                    "expected 'property <type> <name>' or 'property list "
                    "<count type> <type> <name>'");
            }
            header.elements.back().properties.push_back(p);
        } else {
            input.failAtLine("unknown header line " + quoted(key));
        }
    }
    input.failAtEnd("no 'end_header' line");
}

/// Least number of data bytes an element can take: binary sizes, or for text
/// one character and one separator per value.
std::uint64_t leastBytes(const Element& e, Encoding encoding) {
    std::uint64_t bytes = 0;
    for (const Property& p : e.properties)
        bytes += encoding == Encoding::ascii ? 2 : sizeOf(p.isList ? p.countType : p.type);
    return bytes;
}

/// "8 vertex and 12 edge elements", for messages.
std::string elementCounts(const Header& header) {
    std::string counts;
    for (std::size_t i = 0; i < header.elements.size(); ++i) {
        const Element& e = header.elements[i];
        if (i > 0) counts += i + 1 == header.elements.size() ? " and " : ", ";
        counts += std::to_string(e.count) + " " + readers::printable(e.name);
    }
    const bool one = header.elements.size() == 1 && header.elements[0].count == 1;
    return counts + (one ? " element" : " elements");
}

/// A short file announcing large counts fails here, before any reading.
void checkCountsAgainstSize(ByteInput& input, const Header& header) {
    const std::optional<std::uint64_t> remaining = input.remaining();
    if (!remaining) return;
    constexpr std::uint64_t CAP = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t needed = 0;
    for (const Element& e : header.elements) {
        const std::uint64_t each = leastBytes(e, header.encoding);
        const std::uint64_t bytes = each == 0 ? 0 : e.count > CAP / each ? CAP : e.count * each;
        needed = needed > CAP - bytes ? CAP : needed + bytes;
    }
    // The last value of a text file needs no separator.
    if (header.encoding == Encoding::ascii && needed > 0) --needed;
    if (needed > *remaining) {
        std::string counts;
        for (const Element& e : header.elements)
            counts += (counts.empty() ? "" : ", ") + std::to_string(e.count) + " " +
                      readers::printable(e.name);
        input.failAtLine("the header announces " + counts + " elements, which need at least " +
                         std::to_string(needed) + " bytes; the file holds " +
                         std::to_string(*remaining) + " after the header");
    }
}

/// Room in the builder for the face element's polygons, as many as the
/// file's size can hold with three vertex numbers each.
void reserveFaces(const ByteInput& input, const Header& header, MeshBuilder& builder) {
    const std::optional<std::uint64_t> remaining = input.remaining();
    if (!remaining) return;
    for (const Element& e : header.elements) {
        if (e.role != Role::face) continue;
        const Property& list = e.properties[static_cast<std::size_t>(e.indices)];
        const std::uint64_t triangleBytes =
            header.encoding == Encoding::ascii ? 8 : sizeOf(list.countType) + 3 * sizeOf(list.type);
        const auto faces =
            static_cast<std::size_t>(std::min<std::uint64_t>(e.count, *remaining / triangleBytes));
        builder.reservePolygons(faces, 3 * faces);
    }
}

/// One value as read from the data: an integer exactly, any value as the
/// coordinate it gives in single precision.
struct Value {
    long long integer = 0;
    float single = 0;
};

template <class Bits>
Bits loadBits(const unsigned char* p, bool swap) {
    Bits bits;
    std::memcpy(&bits, p, sizeof bits);
    if (!swap) return bits;
    if constexpr (sizeof(Bits) == 2) return static_cast<Bits>(__builtin_bswap16(bits));
    if constexpr (sizeof(Bits) == 4) return __builtin_bswap32(bits);
    if constexpr (sizeof(Bits) == 8) return __builtin_bswap64(bits);
    return bits;
}

/// The value of type t stored at p, its bytes swapped when the file's byte
/// order is not the machine's.
Value decode(Type t, const unsigned char* p, bool swap) {
    Value v;
    switch (t) {
        case Type::i8:
            v.integer = static_cast<std::int8_t>(p[0]);
            break;
        case Type::u8:
            v.integer = p[0];
            break;
        case Type::i16:
            v.integer = static_cast<std::int16_t>(loadBits<std::uint16_t>(p, swap));
            break;
        case Type::u16:
            v.integer = loadBits<std::uint16_t>(p, swap);
            break;
        case Type::i32:
            v.integer = static_cast<std::int32_t>(loadBits<std::uint32_t>(p, swap));
            break;
        case Type::u32:
            v.integer = loadBits<std::uint32_t>(p, swap);
            break;
        case Type::f32: {
            const std::uint32_t bits = loadBits<std::uint32_t>(p, swap);
            std::memcpy(&v.single, &bits, sizeof bits);
            return v;
        }
        case Type::f64: {
            const std::uint64_t bits = loadBits<std::uint64_t>(p, swap);
            double real;
            std::memcpy(&real, &bits, sizeof real);
            // Round to nearest; beyond the float range the value is no coordinate.
            v.single = std::fabs(real) <= FLT_MAX ? static_cast<float>(real) : NAN;
            return v;
        }
    }
    v.single = static_cast<float>(v.integer);
    return v;
}

/// The element a value belongs to, put into words only for a message.
struct Item {
    const std::string& element;
    std::uint64_t index;
    std::string text() const { return readers::printable(element) + " " + std::to_string(index); }
};

/// Reads values of the header's types from the data section: text token by
/// token, binary in place from the input's blocks.
class DataReader {
  public:
    DataReader(ByteInput& input, Encoding encoding)
        : input_(input),
          encoding_(encoding),
          swap_((encoding == Encoding::bigEndian) != (std::endian::native == std::endian::big)),
          tokens_(input, false) {}

    /// Line (text) or byte offset (binary), for messages about the current element.
    std::uint64_t place() const {
        return encoding_ == Encoding::ascii ? static_cast<std::uint64_t>(input_.lineNumber())
                                            : input_.offset();
    }

    [[noreturn]] void fail(const std::string& what) const {
        if (encoding_ == Encoding::ascii) input_.failAtLine(what);
        input_.failAtByte(input_.offset(), what);
    }

    Value read(Type t, const Item& what) {
        return encoding_ == Encoding::ascii ? readText(t, what) : readBinary(t, what);
    }

    bool isText() const { return encoding_ == Encoding::ascii; }
    bool swapsBytes() const { return swap_; }
    ByteInput& input() { return input_; }

    /// Fails at once when a binary file is too short for n values of type t,
    /// so that a list length read from the file costs no loop.
    void expectValues(Type t, std::uint64_t n, const Item& what) {
        if (encoding_ == Encoding::ascii) return;
        const std::optional<std::uint64_t> remaining = input_.remaining();
        if (remaining && n > *remaining / sizeOf(t))
            fail(what.text() + ": a list of " + std::to_string(n) + " " + nameOf(t) +
                 " values, the file ends before");
    }

    /// Reads n vertex numbers of integer type t into `corners` (cleared
    /// first), each checked against [lowest, INT_MAX] as it is read.
    void readIndices(Type t, std::uint64_t n, long long lowest, const Item& what,
                     std::vector<int>& corners) {
        corners.clear();
        const std::uint64_t bytes = n * sizeOf(t);
        // Binary lists that lie in the input's block are decoded in place.
        const bool inPlace = encoding_ != Encoding::ascii && bytes <= input_.blockBytes() &&
                             input_.ensure(static_cast<std::size_t>(bytes)) >= bytes;
        if (!inPlace) expectValues(t, n, what);
        for (std::uint64_t c = 0; c < n; ++c) {
            long long index = 0;
            if (inPlace) {
                index = decode(t, input_.data() + c * sizeOf(t), swap_).integer;
                if (index < lowest || index > INT_MAX) input_.consume((c + 1) * sizeOf(t));
            } else {
                index = read(t, what).integer;
            }
            if (index < lowest || index > INT_MAX)
                fail(what.text() + ": vertex number " + std::to_string(index) +
                     " is outside the vertices");
            corners.push_back(static_cast<int>(index));
        }
        if (inPlace) input_.consume(static_cast<std::size_t>(bytes));
    }

    /// Reads past n values of type t.
    void skip(Type t, std::uint64_t n, const Item& what) {
        expectValues(t, n, what);
        if (encoding_ == Encoding::ascii) {
            for (std::uint64_t i = 0; i < n; ++i) readText(t, what);
        } else if (input_.skip(n * sizeOf(t)) < n * sizeOf(t)) {
            fail(what.text() + ": the file ends inside it");
        }
    }

  private:
    Value readText(Type t, const Item& what) {
        std::string_view token;
        if (!tokens_.next(token)) input_.failAtEnd(what.text() + " is missing");
        Value v;
        if (isInteger(t)) {
            if (!readers::parseInteger(token, v.integer) || !fitsInteger(t, v.integer))
                fail(what.text() + ": " + quoted(token) + " is not an integer of type " +
                     nameOf(t));
            // Rounded to nearest, as strtof rounds the same digits.
            v.single = static_cast<float>(v.integer);
            return v;
        }
        // Text to float in one rounding, the OFF reader's; a number that is not
        // finite in single precision shows as NaN.
        if (readers::parseFloat(token, v.single)) return v;
        double any = 0;
        if (!readers::parseNumber(token, any))
            fail(what.text() + ": " + quoted(token) + " is not a number");
        v.single = NAN;
        return v;
    }

    Value readBinary(Type t, const Item& what) {
        const std::size_t n = sizeOf(t);
        if (input_.ensure(n) < n) {
            input_.consume(input_.available());
            fail(what.text() + ": the file ends inside it");
        }
        const Value v = decode(t, input_.data(), swap_);
        input_.consume(n);
        return v;
    }

    ByteInput& input_;
    Encoding encoding_;
    bool swap_;
    readers::TokenStream tokens_;
};

[[noreturn]] void failCoordinate(DataReader& data, const Item& what, const Property& p) {
    data.fail(what.text() + ": coordinate " + p.name +
              " is not a finite number in single precision");
}

/// The triangles of a list of strips: -1 ends a strip; every second
/// triangle of a strip has its first two corners swapped, so that all keep
/// the strip's orientation; a triangle that repeats a vertex (strips use
/// them to join) is left out.
void addStripTriangles(const std::vector<int>& strips, std::uint64_t where, MeshBuilder& builder) {
    std::size_t stripStart = 0;
    for (std::size_t k = 0; k < strips.size(); ++k) {
        if (strips[k] < 0) {
            stripStart = k + 1;
            continue;
        }
        if (k < stripStart + 2) continue;
        int t[3] = {strips[k - 2], strips[k - 1], strips[k]};
        if ((k - stripStart) % 2 == 1) std::swap(t[0], t[1]);
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) continue;
        builder.addPolygon(t, 3, where);
    }
}

/// Reads the index list of a face or strip element into `corners`.
void readIndexList(DataReader& data, const Element& e, const Property& p, const Item& what,
                   std::vector<int>& corners) {
    const long long n = data.read(p.countType, what).integer;
    if (n < 0) data.fail(what.text() + ": negative list length " + std::to_string(n));
    // A strip restarts at -1; a face needs three vertices.
    const long long lowest = e.role == Role::tristrips ? -1 : 0;
    if (e.role == Role::face && n < 3)
        data.fail(what.text() + " has " + std::to_string(n) + " vertices; a face needs at least 3");
    data.readIndices(p.type, static_cast<std::uint64_t>(n), lowest, what, corners);
}

/// Each element value by value, in property order.
void readElement(DataReader& data, const Element& e, std::uint64_t first, MeshBuilder& builder) {
    std::vector<int> corners;
    for (std::uint64_t i = first; i < e.count; ++i) {
        const Item what{e.name, i};
        const std::uint64_t start = data.place();
        Vec3f v = {0, 0, 0};
        for (std::size_t k = 0; k < e.properties.size(); ++k) {
            const Property& p = e.properties[k];
            if (static_cast<int>(k) == e.indices) {
                readIndexList(data, e, p, what, corners);
                continue;
            }
            if (p.isList) {
                const long long n = data.read(p.countType, what).integer;
                if (n < 0) data.fail(what.text() + ": negative list length " + std::to_string(n));
                data.skip(p.type, static_cast<std::uint64_t>(n), what);
                continue;
            }
            const Value value = data.read(p.type, what);
            for (int a = 0; a < 3; ++a) {
                if (e.xyz[static_cast<std::size_t>(a)] != static_cast<int>(k)) continue;
                if (!std::isfinite(value.single)) failCoordinate(data, what, p);
                v[static_cast<std::size_t>(a)] = value.single;
            }
        }
        // Text names the line the face ends on, binary the byte it starts at.
        const std::uint64_t where = data.isText() ? data.place() : start;
        if (e.role == Role::vertex) builder.addVertex(v);
        if (e.role == Role::face) builder.addPolygon(corners, where);
        if (e.role == Role::tristrips) addStripTriangles(corners, where, builder);
    }
}

/// Binary elements without lists, whole blocks of records at a time: the
/// vertices decoded in place, other elements stepped over. The records of a
/// block's end that the file cuts short are left to readElement, which
/// reports them as it reports every other element.
std::uint64_t readFixedRecords(DataReader& data, const Element& e, MeshBuilder& builder) {
    ByteInput& input = data.input();
    const std::size_t size = e.recordBytes;
    if (data.isText() || size == 0 || size > input.blockBytes() ||
        e.count > std::numeric_limits<std::uint64_t>::max() / size)
        return 0;
    if (e.role != Role::vertex) {
        const std::uint64_t whole = input.skip(e.count * size) / size;
        if (whole == e.count) return whole;
        // Back to the start of the record that the file cuts short is not
        // possible; the message names it at the file's end as readElement would.
        data.fail(Item{e.name, whole}.text() + ": the file ends inside it");
    }
    // Coordinates in property order, as readElement checks them.
    std::array<std::size_t, 3> at{}, end{};
    std::array<Type, 3> type{};
    std::array<int, 3> property = e.xyz;
    std::sort(property.begin(), property.end());
    std::array<int, 3> axis{};
    for (std::size_t c = 0; c < 3; ++c) {
        std::size_t offset = 0;
        for (int k = 0; k < property[c]; ++k)
            offset += sizeOf(e.properties[static_cast<std::size_t>(k)].type);
        const Property& p = e.properties[static_cast<std::size_t>(property[c])];
        at[c] = offset;
        type[c] = p.type;
        end[c] = offset + sizeOf(p.type);
        for (int a = 0; a < 3; ++a)
            if (e.xyz[static_cast<std::size_t>(a)] == property[c]) axis[c] = a;
    }
    std::uint64_t i = 0;
    while (i < e.count && input.ensure(size) >= size) {
        const std::uint64_t records =
            std::min<std::uint64_t>(e.count - i, input.available() / size);
        const unsigned char* record = input.data();
        for (std::uint64_t r = 0; r < records; ++r, record += size) {
            Vec3f v;
            for (std::size_t c = 0; c < 3; ++c) {
                const float value = decode(type[c], record + at[c], data.swapsBytes()).single;
                if (!std::isfinite(value)) {
                    input.consume(static_cast<std::size_t>(r * size + end[c]));
                    failCoordinate(data, Item{e.name, i + r},
                                   e.properties[static_cast<std::size_t>(property[c])]);
                }
                v[static_cast<std::size_t>(axis[c])] = value;
            }
            builder.addVertex(v);
        }
        input.consume(static_cast<std::size_t>(records * size));
        i += records;
    }
    return i;
}

}  // namespace

TriMesh readPlyMesh(std::FILE* in, const std::string& name, ReadReport* report) {
    ByteInput input(in, name);
    const Header header = readHeader(input);
    checkCountsAgainstSize(input, header);
    MeshBuilder builder(name, header.encoding == Encoding::ascii ? MeshBuilder::Place::line
                                                                 : MeshBuilder::Place::byte);
    reserveFaces(input, header, builder);
    DataReader data(input, header.encoding);
    for (const Element& e : header.elements) {
        // An element without properties takes no data, whatever its count.
        if (!e.properties.empty())
            readElement(data, e, readFixedRecords(data, e, builder), builder);
    }
    if (report != nullptr) report->contents = elementCounts(header);
    return builder.build();
}

}  // namespace shapescale
