// libFuzzer entry for one mesh reader, chosen at build time:
// SHAPESCALE_FUZZ_READER names the function, SHAPESCALE_FUZZ_HEADER its header.
// Any input may be refused with an Error; every input that loads must give a
// mesh without defects (MeshDefects.hpp). A crash, a sanitizer report, a leak
// or an abort here is a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "MeshDefects.hpp"
#include "core/Error.hpp"
#include SHAPESCALE_FUZZ_HEADER

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // fmemopen reads the bytes in place; an empty input still needs a buffer.
    static char empty[1];
    void* bytes = size != 0 ? const_cast<std::uint8_t*>(data) : static_cast<void*>(empty);
    std::FILE* in = fmemopen(bytes, size, "r");
    if (in == nullptr) return 0;
    try {
        shapescale::TriMesh mesh = shapescale::SHAPESCALE_FUZZ_READER(in, "fuzz-input");
        const std::string defect = shapescale::meshDefect(mesh);
        if (!defect.empty()) {
            std::fprintf(stderr, "mesh defect: %s\n", defect.c_str());
            std::abort();
        }
    } catch (const shapescale::Error&) {
        // A refused input is a correct answer.
    }
    std::fclose(in);
    return 0;
}
