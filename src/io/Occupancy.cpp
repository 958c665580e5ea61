#include "io/Occupancy.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/Error.hpp"
#include "core/Grid.hpp"
#include "core/Interrupt.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

bool writeOccupancy(const std::string& path, const unsigned char* labels, const int* dims,
                    float h) {
    const std::size_t count = voxelCount(dims);
    try {
        OutputFile file(path);
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
            checkInterrupt("while writing " + path);
        }
        file.close();
        return true;
    } catch (const Interrupted&) {
        throw;  // the run stops; the temporary file is already gone
    } catch (const Error& e) {
        // The file is written under a temporary name, so a failure leaves an
        // earlier complete "volume.vol" as it was and no partial one.
        std::fprintf(stderr, "shapescale: warning: %s\n", e.what());
    }
    return false;
}

}  // namespace shapescale
