// The shape descriptor: how it depends on the tessellation (in memory), and a
// batch of generated meshes through scripts/parallel-example.sh,
// scripts/gather-descriptors and examples/retrieval.py.

#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "mapt/Defaults.hpp"
#include "mapt/Descriptor.hpp"
#include "mapt/Transform.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::PolyMesh;
using test::shell;

// The descriptor of a run with the derived lengths, in memory.
std::vector<double> descriptorOf(const PolyMesh& poly, int radii, bool even, std::uint32_t seed) {
    TriMesh mesh = test::withNormals(poly);
    const RunSettings derived = deriveRunSettings({.radiusCount = radii}, measureMesh(mesh), true);
    const TransformSettings settings = withLengths(
        {.evenSampling = even, .seeded = true, .seed = seed, .inMemory = true}, derived);
    const TransformResult r = runTransformKeeping(mesh, settings);
    return shapeDescriptor(r.histograms, r.atLeastOne, r.radii, r.grid.h(), derived.baseScale,
                           countNotOutside(r.labels.data(), r.labels.size()))
        .values;
}

double l1(const std::vector<double>& a, const std::vector<double>& b) {
    double d = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) d += std::abs(a[i] - b[i]);
    return d;
}

// A sphere and its copy split once by edge midpoints, at the first radius
// (before any smoothing): by default every triangle's first sample sits at
// its centroid and the others gather near its first corner, so the votes
// differ far more than those of two seeds; spread evenly over the area, they
// differ about as much as two seeds.
TEST(Tessellation, EvenSamplingMakesTheVotesIndependentOfTheTriangles) {
    const PolyMesh sphere = shapes::icosphere(5), split = shapes::subdivided(sphere, 1);
    double splitDistance[2], seedDistance[2];
    for (int even = 0; even < 2; ++even) {
        const std::vector<double> a = descriptorOf(sphere, 1, even, 1);
        splitDistance[even] = l1(a, descriptorOf(split, 1, even, 1));
        seedDistance[even] = l1(a, descriptorOf(sphere, 1, even, 2));
        std::printf("even sampling %d: split copy %.6f, other seed %.6f\n", even,
                    splitDistance[even], seedDistance[even]);
    }
    EXPECT_GT(splitDistance[0], 10 * splitDistance[1]);
    EXPECT_GT(splitDistance[0], 10 * seedDistance[0]);
    EXPECT_LT(splitDistance[1], 3 * seedDistance[1]);
}

// Seven generated shapes, a copy of one turned, scaled by 3.7 and moved, and
// a copy of another split by edge midpoints, run by scripts/parallel-example.sh
// and gathered by scripts/gather-descriptors: each copy's nearest original by
// L1 is its own, and examples/retrieval.py lists it first.
TEST(DescriptorBatch, CopiesFindTheirOriginals) {
    if (shell("command -v parallel > /dev/null") != 0) GTEST_SKIP() << "GNU parallel is missing";
    // Rotation by 0.7 radians about (1, 2, 3) / |(1, 2, 3)|.
    const double angle = 0.7,
                 axis[3] = {1 / std::sqrt(14.0), 2 / std::sqrt(14.0), 3 / std::sqrt(14.0)};
    auto turned = [&](PolyMesh mesh) {
        const double c = std::cos(angle), s = std::sin(angle);
        for (auto& p : mesh.vertices) {
            const double dot = axis[0] * p[0] + axis[1] * p[1] + axis[2] * p[2];
            const double cross[3] = {axis[1] * p[2] - axis[2] * p[1],
                                     axis[2] * p[0] - axis[0] * p[2],
                                     axis[0] * p[1] - axis[1] * p[0]};
            const double shift[3] = {5, -3, 12};
            for (int a = 0; a < 3; ++a)
                p[a] = 3.7 * (p[a] * c + cross[a] * s + axis[a] * dot * (1 - c)) + shift[a];
        }
        return mesh;
    };
    const std::map<std::string, PolyMesh> originals = {
        {"sphere", shapes::icosphere(3)},
        {"ring", shapes::torus(1.0, 0.4, 48, 24)},
        {"thin-ring", shapes::torus(1.0, 0.2, 64, 16)},
        {"rod", shapes::cylinder(0.4, 3.0, 32, 24)},
        {"dumbbell", shapes::dumbbell(48, 48)},
        {"lumpy", shapes::lumpySphere(48, 48)},
        {"slab", shapes::subdivided(shapes::box({0, 0, 0}, {2, 1, 0.5}), 2)},
    };
    const std::map<std::string, std::string> copies = {{"turned", "lumpy"}, {"split", "dumbbell"}};
    test::TempDir dir;
    mkdir(dir.file("meshes").c_str(), 0775);
    for (const auto& [name, mesh] : originals)
        shapes::writeOff(mesh, dir.file("meshes/" + name + ".off"));
    shapes::writeOff(turned(originals.at("lumpy")), dir.file("meshes/turned.off"));
    shapes::writeOff(shapes::subdivided(originals.at("dumbbell"), 1), dir.file("meshes/split.off"));

    const std::string source = SHAPESCALE_SOURCE_DIR;
    const std::string command =
        "cd " + dir.path() + " && SHAPESCALE=" + SHAPESCALE_BINARY + " " + source +
        "/scripts/parallel-example.sh -j 2 results meshes/*.off -- --seed 1 -n 4 > log.txt 2>&1 "
        "&& " +
        "python3 " + source + "/scripts/gather-descriptors results >> log.txt 2>&1 && python3 " +
        source + "/examples/retrieval.py -k 1 results/descriptors.csv > retrieval.txt";
    ASSERT_EQ(shell(command), 0) << test::readText(dir.file("log.txt"));

    std::map<std::string, std::vector<double>> table;
    const std::vector<std::string> rows =
        test::lines(test::readText(dir.file("results/descriptors.csv")));
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0].substr(0, 30), "name,mesh,r0b0,r0b1,r0b2,r0b3,");
    for (std::size_t n = 1; n < rows.size(); ++n) {
        std::stringstream line(rows[n]);
        std::string name, field;
        std::getline(line, name, ',');
        std::getline(line, field, ',');  // the mesh file
        while (std::getline(line, field, ',')) table[name].push_back(std::stod(field));
        EXPECT_EQ(table[name].size(), 4u * DESCRIPTOR_COLUMNS) << name;
    }
    const std::string retrieval = test::readText(dir.file("retrieval.txt"));
    for (const auto& [copy, original] : copies) {
        const double own = l1(table.at(copy), table.at(original));
        double other = HUGE_VAL;
        for (const auto& [name, values] : originals)
            if (name != original) other = std::min(other, l1(table.at(copy), table.at(name)));
        std::printf("%s: distance to %s %.4f, to the nearest other %.4f\n", copy.c_str(),
                    original.c_str(), own, other);
        EXPECT_LT(own, other) << copy;
        EXPECT_NE(retrieval.find(copy + ": " + original + " "), std::string::npos) << retrieval;
    }
    // With numpy the values also go to a .npy file, one row per mesh.
    if (test::fileExists(dir.file("results/descriptors.npy"))) {
        EXPECT_NE(test::readText(dir.file("results/descriptors.npy")).find("'shape': (9, 52)"),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace shapescale
