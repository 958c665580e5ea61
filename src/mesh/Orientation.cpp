#include "mesh/Orientation.hpp"

#include <cstdio>

#include "mesh/MeshStats.hpp"

namespace shapescale {

bool orientOutward(TriMesh& mesh) {
    const MeshStats stats = computeMeshStats(mesh);
    // The sign of the volume says something only about a closed surface whose
    // faces agree with each other.
    if (!stats.isClosed() || !stats.consistentlyOriented()) return false;
    if (!(measureMesh(mesh).volume < 0.0f)) return false;
    for (Triangle& t : mesh.faces) t = {t[2], t[1], t[0]};
    mesh.vertexNeighbours =
        NeighbourLists::ofTriangles(mesh.vertices.size(), {mesh.faces.data(), mesh.faces.size()});
    if (!mesh.vertexNormals.empty()) refreshVertexNormals(mesh);
    return true;
}

std::string unorientedText(const TriMesh& mesh, const char* request) {
    const MeshStats stats = computeMeshStats(mesh);
    char text[400];
    std::snprintf(
        text, sizeof text,
        "%s: the mesh has a negative volume (%g) but is open (%lld boundary edges) or "
        "not consistently oriented (%lld edges), so its outside is unknown; left as it is",
        request, static_cast<double>(measureMesh(mesh).volume),
        static_cast<long long>(stats.boundaryEdges),
        static_cast<long long>(stats.misorientedEdges));
    return text;
}

}  // namespace shapescale
