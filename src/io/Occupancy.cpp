#include "io/Occupancy.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/Error.hpp"
#include "core/Grid.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

void writeOccupancy(const std::string& path, const unsigned char* labels, const int* dims,
                    float h) {
    const std::size_t count = voxelCount(dims);
    bool created = false;
    try {
        OutputFile file(path);
        created = true;
        const std::uint32_t hBits = std::bit_cast<std::uint32_t>(h);
        const std::uint32_t words[6] = {static_cast<std::uint32_t>(dims[0]),
                                        static_cast<std::uint32_t>(dims[1]),
                                        static_cast<std::uint32_t>(dims[2]),
                                        hBits,
                                        hBits,
                                        hBits};
        unsigned char header[24];  // little-endian whatever the host
        for (int w = 0; w < 6; ++w)
            for (int b = 0; b < 4; ++b)
                header[4 * w + b] = static_cast<unsigned char>(words[w] >> (8 * b));
        file.write(header, sizeof header);

        constexpr std::size_t CHUNK = std::size_t{1} << 20;
        std::vector<unsigned char> chunk(std::min(count, CHUNK));
        for (std::size_t start = 0; start < count; start += CHUNK) {
            const std::size_t n = std::min(CHUNK, count - start);
            for (std::size_t i = 0; i < n; ++i)
                chunk[i] = labels[start + i] == LABEL_OUTSIDE ? 0 : 255;
            file.write(chunk.data(), n);
        }
        file.close();
    } catch (const Error& e) {
        std::fprintf(stderr, "shapescale: warning: %s\n", e.what());
        // Only a regular file is removed: the path may name a device.
        std::error_code ignored;
        if (created && std::filesystem::is_regular_file(path, ignored))
            std::filesystem::remove(path, ignored);
    }
}

}  // namespace shapescale
