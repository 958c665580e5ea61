#include "io/NIfTI.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/Error.hpp"
#include "io/Analyze.hpp"
#include "io/LittleEndian.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

namespace {

using Header = std::array<unsigned char, NIFTI_VOX_OFFSET>;

// NIfTI-1 codes used here.
constexpr int DT_FLOAT32 = 16;
constexpr int XFORM_SCANNER_ANAT = 1;
constexpr int UNITS_UNKNOWN = 0;

// Field offsets are those of the NIfTI-1 header (nifti1.h); every field not
// set here is zero.
Header buildHeader(const Grid& grid, const std::string& description) {
    Header h{};
    putInt32(&h[0], 348);  // sizeof_hdr
    h[38] = 'r';           // regular, as Analyze readers expect
    putInt16(&h[40], 3);   // dim[0]: three dimensions
    for (int a = 0; a < 3; ++a) putInt16(&h[42 + 2 * a], grid.dims[a]);
    for (int k = 4; k < 8; ++k) putInt16(&h[40 + 2 * k], 1);
    putInt16(&h[70], DT_FLOAT32);  // datatype
    putInt16(&h[72], 32);          // bitpix
    putFloat(&h[76], 1.0f);        // pixdim[0] = qfac: right-handed voxel axes
    for (int a = 0; a < 3; ++a) putFloat(&h[80 + 4 * a], static_cast<float>(grid.voxelSize[a]));
    putFloat(&h[108], static_cast<float>(NIFTI_VOX_OFFSET));  // vox_offset
    putFloat(&h[112], 1.0f);  // scl_slope: the stored floats are the values
    h[123] = UNITS_UNKNOWN;   // xyzt_units
    std::memcpy(&h[148], description.data(), std::min<std::size_t>(description.size(), 79));
    putInt16(&h[252], XFORM_SCANNER_ANAT);  // qform_code
    putInt16(&h[254], XFORM_SCANNER_ANAT);  // sform_code
    // Identity rotation (quatern_b, c, d = 0); the offset moves voxel 0's
    // centre onto the low corner of the grid plus half a voxel, in double
    // precision rounded once to float.
    for (int a = 0; a < 3; ++a) {
        const double edge = grid.voxelSize[a];  // world units
        const double centre0 = static_cast<double>(grid.origin[a]) + 0.5 * edge;
        putFloat(&h[268 + 4 * a], static_cast<float>(centre0));        // qoffset
        putFloat(&h[280 + 16 * a + 4 * a], static_cast<float>(edge));  // srow diagonal
        putFloat(&h[280 + 16 * a + 12], static_cast<float>(centre0));  // srow offset
    }
    std::memcpy(&h[344], "n+1", 4);  // magic, single file
    return h;                        // bytes 348..351: no extension
}

/// gzip stream (RFC 1952) through zlib's deflate into an OutputFile, so the
/// checked writes and the whole-or-absent rule of OutputFile hold for it too.
class GzipWriter {
  public:
    explicit GzipWriter(OutputFile& file) : file_(file) {
        // windowBits 15 + 16 selects the gzip wrapper. Level 1 takes half the
        // time of gzip's default level 6 (bench_volume_files); APT volumes come
        // out 1 to 6 % larger, the small scale volume about twice as large.
        if (deflateInit2(&stream_, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
            Z_OK)
            throw Error("cannot compress " + file_.path() + ": zlib could not start");
    }
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;
    ~GzipWriter() { deflateEnd(&stream_); }

    void write(const unsigned char* data, std::size_t size) {
        // zlib counts in 32-bit units: feed at most 1 GiB at a time.
        while (size > 0) {
            const std::size_t n = std::min<std::size_t>(size, 1u << 30);
            stream_.next_in = const_cast<unsigned char*>(data);
            stream_.avail_in = static_cast<uInt>(n);
            run(Z_NO_FLUSH);
            data += n;
            size -= n;
        }
    }
    void finish() { run(Z_FINISH); }

  private:
    void run(int flush) {
        unsigned char out[1 << 16];
        int status = Z_OK;
        do {
            stream_.next_out = out;
            stream_.avail_out = sizeof out;
            status = deflate(&stream_, flush);
            if (status == Z_STREAM_ERROR)
                throw Error("cannot compress " + file_.path() + ": zlib stream error");
            file_.write(out, sizeof out - stream_.avail_out);
        } while (stream_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }

    OutputFile& file_;
    z_stream stream_{};
};

}  // namespace

void saveNifti(const std::string& path, const float* data, const Grid& grid,
               NiftiCompression compression, const std::string& description) {
    // The header holds the same 16-bit dims as Analyze's.
    checkAnalyzeDims(grid.dims);
    const Header header = buildHeader(grid, description);
    OutputFile file(path);
    if (compression == NiftiCompression::gzip) {
        GzipWriter gzip(file);
        gzip.write(header.data(), header.size());
        forEachLittleEndianBlock(
            data, grid.voxels(),
            [&](const unsigned char* bytes, std::size_t n) { gzip.write(bytes, n); });
        gzip.finish();
    } else {
        file.write(header.data(), header.size());
        forEachLittleEndianBlock(
            data, grid.voxels(),
            [&](const unsigned char* bytes, std::size_t n) { file.write(bytes, n); });
    }
    file.close();
}

}  // namespace shapescale
