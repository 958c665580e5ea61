#include "mesh/Orientation.hpp"

#include "mesh/MeshBuilder.hpp"
#include "mesh/MeshStats.hpp"

namespace shapescale {

bool orientOutward(TriMesh& mesh) {
    const MeshStats stats = computeMeshStats(mesh);
    // The sign of the volume says something only about a closed surface whose
    // faces agree with each other.
    if (!stats.isClosed() || !stats.consistentlyOriented()) return false;
    if (!(measureMesh(mesh).volume < 0.0f)) return false;
    for (std::vector<int>& list : mesh.vertexNeighbours) list.clear();
    for (Triangle& t : mesh.faces) {
        t = {t[2], t[1], t[0]};
        readers::appendNeighbours(mesh, t[0], t[1], t[2]);
    }
    if (!mesh.vertexNormals.empty()) refreshVertexNormals(mesh);
    return true;
}

}  // namespace shapescale
