#include "io/Analyze.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/Error.hpp"
#include "core/Grid.hpp"
#include "io/LittleEndian.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

namespace {

constexpr std::size_t HEADER_BYTES = 348;

// The specified field values. session_error 16384, hkey_un0 'r' and unused1 1
// differ from most writers on purpose: the headers are specified byte for
// byte, and readers of the format ignore these fields.
void buildHeader(unsigned char* h, const double* voxelSize, const int* dims) {
    std::memset(h, 0, HEADER_BYTES);
    putInt32(h + 0, static_cast<std::int32_t>(HEADER_BYTES));  // sizeof_hdr
    putInt32(h + 32, 16384);                                   // extents
    putInt16(h + 36, 16384);                                   // session_error
    h[38] = 'r';                                               // regular
    h[39] = 'r';                                               // hkey_un0
    putInt16(h + 40, 4);                                       // dim[0]
    for (int a = 0; a < 3; ++a) putInt16(h + 42 + 2 * a, dims[a]);
    for (int k = 0; k < 4; ++k) putInt16(h + 48 + 2 * k, 1);  // dim[4..7]
    putInt16(h + 68, 1);                                      // unused1
    putInt16(h + 70, 16);                                     // datatype: float
    putInt16(h + 72, 32);                                     // bitpix
    for (int a = 0; a < 3; ++a) putFloat(h + 80 + 4 * a, static_cast<float>(voxelSize[a]));
}

}  // namespace

void checkAnalyzeDims(const int* dims) {
    std::int64_t count = 1;
    for (int a = 0; a < 3; ++a) {
        if (dims[a] < 1 || dims[a] > ANALYZE_MAX_DIM)
            throw Error("grid " + gridText(dims) +
                        " cannot be written as Analyze 7.5: each dimension must lie in 1.." +
                        std::to_string(ANALYZE_MAX_DIM));
        count *= dims[a];
    }
    if (count > std::numeric_limits<std::int32_t>::max())
        throw Error("grid " + gridText(dims) + " has " + std::to_string(count) +
                    " voxels, more than an Analyze 7.5 volume holds (2147483647)");
}

void saveAnalyze(const std::string& name, const float* data, const double* voxelSize,
                 const int* dims) {
    checkAnalyzeDims(dims);
    unsigned char header[HEADER_BYTES];
    buildHeader(header, voxelSize, dims);
    // Both files are complete under temporary names before either takes its
    // final name: a failed or interrupted write leaves the earlier pair whole.
    OutputFile headerFile(name + ".hdr");
    headerFile.write(header, HEADER_BYTES);
    headerFile.finish();

    OutputFile dataFile(name + ".img");
    writeLittleEndian(dataFile, data, voxelCount(dims));
    dataFile.finish();
    headerFile.publish();
    dataFile.publish();
}

}  // namespace shapescale
