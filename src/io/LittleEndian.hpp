#pragma once
// Little-endian fields and float blocks, as the Analyze and NIfTI files store
// them whatever the host's byte order.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

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

inline void putFloat(unsigned char* at, float value) {
    putInt32(at, std::bit_cast<std::int32_t>(value));
}

/// Hands `count` floats to `sink(const unsigned char* bytes, std::size_t n)`
/// as little-endian bytes: in one block on a little-endian host, in converted
/// chunks of 64 Ki floats otherwise (no copy of the whole volume).
template <class Sink>
void forEachLittleEndianBlock(const float* data, std::size_t count, Sink&& sink) {
    if constexpr (std::endian::native == std::endian::little) {
        sink(reinterpret_cast<const unsigned char*>(data), count * sizeof(float));
    } else {
        std::vector<unsigned char> chunk;
        constexpr std::size_t CHUNK = 1 << 16;
        for (std::size_t start = 0; start < count; start += CHUNK) {
            const std::size_t n = std::min(CHUNK, count - start);
            chunk.resize(n * 4);
            for (std::size_t i = 0; i < n; ++i) putFloat(chunk.data() + 4 * i, data[start + i]);
            sink(chunk.data(), chunk.size());
        }
    }
}

}  // namespace shapescale
