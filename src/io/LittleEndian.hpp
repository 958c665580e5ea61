#pragma once
// Little-endian fields and value blocks, as the Analyze, NIfTI and VTK files
// store them whatever the host's byte order.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Interrupt.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

inline void putInt16(unsigned char* at, int value) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    at[0] = static_cast<unsigned char>(v & 0xFFu);
    at[1] = static_cast<unsigned char>(v >> 8);
}

inline void putInt32(unsigned char* at, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k) at[k] = static_cast<unsigned char>((v >> (8 * k)) & 0xFFu);
}

inline void putUInt64(unsigned char* at, std::uint64_t value) {
    for (int k = 0; k < 8; ++k) at[k] = static_cast<unsigned char>((value >> (8 * k)) & 0xFFu);
}

inline void putFloat(unsigned char* at, float value) {
    putInt32(at, std::bit_cast<std::int32_t>(value));
}

/// Hands `count` values of 4 bytes (float, int32) to
/// `sink(const unsigned char* bytes, std::size_t n)` as little-endian bytes:
/// in one block on a little-endian host, in converted chunks of 64 Ki values
/// otherwise (no copy of the whole volume).
template <class T, class Sink>
void forEachLittleEndianBlock(const T* data, std::size_t count, Sink&& sink) {
    static_assert(sizeof(T) == 4);
    if constexpr (std::endian::native == std::endian::little) {
        sink(reinterpret_cast<const unsigned char*>(data), count * sizeof(T));
    } else {
        std::vector<unsigned char> chunk;
        constexpr std::size_t CHUNK = 1 << 16;
        for (std::size_t start = 0; start < count; start += CHUNK) {
            const std::size_t n = std::min(CHUNK, count - start);
            chunk.resize(n * 4);
            for (std::size_t i = 0; i < n; ++i)
                putInt32(chunk.data() + 4 * i, std::bit_cast<std::int32_t>(data[start + i]));
            sink(chunk.data(), chunk.size());
        }
    }
}

/// Writes `size` bytes to `file` in blocks of 16 MiB, so that a signal stops
/// even the largest volume quickly.
/// @throw Error as OutputFile::write; Interrupted "... while writing <path>"
inline void writeInBlocks(OutputFile& file, const unsigned char* bytes, std::size_t size) {
    constexpr std::size_t BLOCK = std::size_t{1} << 24;
    for (std::size_t start = 0; start < size; start += BLOCK) {
        file.write(bytes + start, std::min(BLOCK, size - start));
        checkInterrupt("while writing " + file.path());
    }
}

/// `count` values of 4 bytes as little-endian bytes, through writeInBlocks.
template <class T>
void writeLittleEndian(OutputFile& file, const T* data, std::size_t count) {
    forEachLittleEndianBlock(data, count, [&](const unsigned char* bytes, std::size_t n) {
        writeInBlocks(file, bytes, n);
    });
}

}  // namespace shapescale
