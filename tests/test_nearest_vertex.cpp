#include <limits>

#include "support/RandomVolume.hpp"
#include "support/TestFiles.hpp"
#include "voxel/NearestVertex.hpp"

namespace shapescale {
namespace {

using shapes::loadMesh;
using test::withNormals;

struct Volume {
    int dims[3];
    float origin[3];
    std::vector<unsigned char> labels;

    Volume(const TriMesh& mesh, float h) : labels(mesh2Volume(mesh, h, dims, origin)) {}
    unsigned char at(int x, int y, int z) const {
        return labels[static_cast<std::size_t>(x + dims[0] * (y + dims[1] * z))];
    }
};

// Voxel centre in the tool's mixed precision: first centre in double, index * h in float.
double centreOf(float origin, float h, int index) {
    return (static_cast<double>(origin) + static_cast<double>(h) * 0.5) +
           static_cast<double>(static_cast<float>(index) * h);
}

TEST(NearestVertex, SingleVertexGivesAnAllInsideGridAndWhatCannotBeLabelledIsRefused) {
    const Volume v(withNormals({{{0.0, 0.0, 0.0}}, {}}), 1.0f);
    EXPECT_EQ(std::vector<int>(v.dims, v.dims + 3), std::vector<int>(3, 5));
    EXPECT_EQ(std::vector<float>(v.origin, v.origin + 3), std::vector<float>(3, -2.0f));
    EXPECT_EQ(v.labels, std::vector<unsigned char>(125, 0));
    int dims[3];
    float origin[3];
    EXPECT_THROW(mesh2Volume(TriMesh{}, 1.0f, dims, origin), Error);  // no vertex
    EXPECT_THROW(mesh2Volume(loadMesh({{{0.0, 0.0, 0.0}}, {}}), 1.0f, dims, origin), Error);
    EXPECT_THROW(mesh2Volume(withNormals(shapes::unitCube()), 0.0f, dims, origin), Error);
}

// Column i holds a vertex with normal +z exactly at the centre of layer k_i: p = 0 there
// and p > 0 one layer up only with the mixed-precision centres (far from the world origin
// the double sum's rounding decides, near it the float step).
TEST(NearestVertex, TangentPlaneAndZeroNormalAreInside) {
    for (const float h : {0.1f, 0.07f}) {
        for (const std::array<float, 3> anchor :
             {std::array{1000.25f, 2000.5f, 3000.75f}, std::array{0.013f, -0.31f, 0.77f}}) {
            SCOPED_TRACE("h " + std::to_string(h) + ", anchor x " + std::to_string(anchor[0]));
            // The anchor, the box's low corner, has a zero normal.
            float origin[3];
            for (std::size_t a = 0; a < 3; ++a) origin[a] = anchor[a] - (h + h);
            auto centre = [&](int a, int i) {
                return static_cast<float>(centreOf(origin[a], h, i));
            };
            auto layerOf = [](int i) { return 2 + (7 * i) % 20; };
            shapes::PolyMesh poly{{{anchor[0], anchor[1], anchor[2]}}, {}};
            for (int i = 2; i < 40; ++i)
                poly.vertices.push_back(
                    {centre(0, i), centre(1, 2 + i % 2), centre(2, layerOf(i))});
            TriMesh mesh = loadMesh(poly);
            for (std::size_t k = 0; k < poly.vertices.size(); ++k)
                mesh.vertexNormals.push_back({0, 0, k == 0 ? 0.0f : 1.0f});
            const Volume v(mesh, h);
            for (int a = 0; a < 3; ++a) ASSERT_EQ(v.origin[a], origin[a]);
            EXPECT_EQ(v.at(0, 0, 0), 0);  // nearest to the anchor: p = 0 for the zero normal
            for (int i = 2; i < 40; ++i) {
                EXPECT_EQ(v.at(i, 2 + i % 2, layerOf(i)), 0) << i;
                EXPECT_EQ(v.at(i, 2 + i % 2, layerOf(i) + 1), 255) << i;
            }
        }
    }
}

// Each label is the side of some vertex at the smallest single-precision distance (the tree
// picks among ties). Normals are within ~0.1 rad of radial, so |c| < 0.85 is inside, also
// below the open hemisphere's rim, and well beyond the surface is outside.
TEST(NearestVertex, SpheresMatchABruteForceOracleWithOneOrTwoThreads) {
    const float h = 0.1f;
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "hemisphere" : "icosphere");
        const TriMesh mesh = withNormals(open ? shapes::hemisphere(3) : shapes::icosphere(3));
        const Volume v = test::withThreads(2, [&] { return Volume(mesh, h); });
        EXPECT_EQ(v.labels, test::withThreads(1, [&] { return Volume(mesh, h).labels; }))
            << "one and two threads differ";
        int inside = 0, outside = 0, insideBelowRim = 0;
        test::forEachVoxel(v.dims, [&](const int* index, std::size_t voxel) {
            std::array<double, 3> c;
            for (int a = 0; a < 3; ++a) c[a] = centreOf(v.origin[a], h, index[a]);
            double best = std::numeric_limits<double>::infinity();
            bool canBeOutside = false, canBeInside = false;
            for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
                const Vec3f& p = mesh.vertices[i];
                double d = 0.0;
                for (std::size_t a = 0; a < 3; ++a) d += (c[a] - p[a]) * (c[a] - p[a]);
                d = static_cast<double>(static_cast<float>(d));
                if (d > best) continue;
                if (d < best) canBeOutside = canBeInside = false;
                best = d;
                float side = 0.0f;  // single precision, summed x, y, z
                for (std::size_t a = 0; a < 3; ++a)
                    side += (static_cast<float>(c[a]) - p[a]) * mesh.vertexNormals[i][a];
                (side > 0.0f ? canBeOutside : canBeInside) = true;
            }
            const unsigned char label = v.labels[voxel];
            EXPECT_TRUE(label == 255 ? canBeOutside : (label == 0 && canBeInside)) << voxel;
            const double r = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
            if (r > 1.15 && (!open || c[2] > 0.15)) {
                EXPECT_EQ(label, 255) << voxel;
                ++outside;
            } else if (r < 0.85) {
                EXPECT_EQ(label, 0) << voxel;
                ++inside;
                insideBelowRim += c[2] < 0.0;
            }
        });
        EXPECT_TRUE(inside > 500 && outside > 500 && insideBelowRim > 100)
            << inside << " inside, " << outside << " outside, " << insideBelowRim
            << " below the rim";
    }
}

}  // namespace
}  // namespace shapescale
