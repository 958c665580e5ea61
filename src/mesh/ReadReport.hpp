#pragma once
// What a mesh reader tells about a file besides the mesh.

#include <string>
#include <vector>

namespace shapescale {

/// Filled by a reader for readMesh: the file's contents in words, for the
/// refusal of a file that holds no face, and the reader's warnings.
struct ReadReport {
    /// What the file holds, e.g. "8 vertex and 12 edge elements".
    std::string contents;
    /// One line each, naming the file, without the "warning: " prefix.
    std::vector<std::string> warnings;
};

}  // namespace shapescale
