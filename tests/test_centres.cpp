// The centres of the round parts: plateaus, threshold, outside voxels and
// suppression on hand-made volumes; through the binary, disjoint spheres
// (moved and turned) and the demo dumbbell.

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "mapt/Centres.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using Ijk = std::array<int, 3>;

// An 8 x 8 x 8 grid, h 0.5 from (1, 2, 3): every voxel inside, jmapt 0,
// scale 2 voxels, then the case's own values.
struct Volumes {
    Grid grid;
    std::vector<unsigned char> labels;
    std::vector<float> jmapt, scale;

    Volumes() {
        grid.dims[0] = grid.dims[1] = grid.dims[2] = 8;
        for (int a = 0; a < 3; ++a) grid.origin[a] = 1 + a;
        for (double& h : grid.voxelSize) h = 0.5;
        labels.assign(grid.voxels(), 0);
        jmapt.assign(grid.voxels(), 0.0f);
        scale.assign(grid.voxels(), 2.0f);
    }
    std::size_t at(const Ijk& v) const {
        return grid.index(std::size_t(v[0]), std::size_t(v[1]), std::size_t(v[2]));
    }
    std::vector<Centre> centres(float threshold = 0.5f) const {
        return findCentres(grid, labels.data(), jmapt.data(), scale.data(), threshold);
    }
};

TEST(Centres, OnePerPlateauStrongestFirstAndSuppressedWithinTheLargerRadius) {
    struct Value {
        Ijk voxel;
        float jmapt;
        float scale = 2;  // voxel units
        bool outside = false;
    };
    struct Expected {
        Ijk voxel;
        double position[3];  // world units
        float jmapt;
        std::int64_t voxels;
    };
    struct Case {
        const char* name;
        std::vector<Value> values;
        std::vector<Expected> centres;
    };
    // Voxel (i, j, k) has its centre at (1.25 + i/2, 2.25 + j/2, 3.25 + k/2).
    const std::vector<Case> cases = {
        {"one voxel", {{{3, 4, 5}, 0.9f}}, {{{3, 4, 5}, {2.75, 4.25, 5.75}, 0.9f, 1}}},
        {"below the threshold", {{{3, 4, 5}, 0.4f}}, {}},
        {"a plateau of four: its centroid, the member nearest it of lowest index",
         {{{2, 2, 2}, 0.8f}, {{3, 2, 2}, 0.8f}, {{2, 3, 2}, 0.8f}, {{3, 3, 2}, 0.8f}},
         {{{2, 2, 2}, {2.5, 3.5, 4.25}, 0.8f, 4}}},
        {"a plateau joined diagonally, next to a higher voxel: no centre of its own",
         {{{2, 2, 2}, 0.8f}, {{3, 3, 3}, 0.8f}, {{4, 4, 4}, 0.9f, 3}},
         {{{4, 4, 4}, {3.25, 4.25, 5.25}, 0.9f, 1}}},
        {"a higher voxel outside the shape does not count",
         {{{2, 2, 2}, 0.8f}, {{3, 2, 2}, 0.95f, 2, true}},
         {{{2, 2, 2}, {2.25, 3.25, 4.25}, 0.8f, 1}}},
        {"closer than the larger radius (2 voxels): the weaker goes; farther: both stay",
         {{{1, 1, 1}, 0.9f, 1}, {{1, 1, 3}, 0.7f, 4}, {{6, 6, 6}, 0.7f, 1}},
         {{{1, 1, 1}, {1.75, 2.75, 3.75}, 0.9f, 1}, {{6, 6, 6}, {4.25, 5.25, 6.25}, 0.7f, 1}}},
        {"equal values, apart: the lower index first",
         {{{6, 6, 6}, 0.7f}, {{1, 1, 1}, 0.7f}},
         {{{1, 1, 1}, {1.75, 2.75, 3.75}, 0.7f, 1}, {{6, 6, 6}, {4.25, 5.25, 6.25}, 0.7f, 1}}},
        {"the grid's corner", {{{7, 7, 0}, 0.6f}}, {{{7, 7, 0}, {4.75, 5.75, 3.25}, 0.6f, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Volumes v;
        for (const Value& value : c.values) {
            v.jmapt[v.at(value.voxel)] = value.jmapt;
            v.scale[v.at(value.voxel)] = value.scale;
            if (value.outside) v.labels[v.at(value.voxel)] = LABEL_OUTSIDE;
        }
        const std::vector<Centre> found = v.centres();
        ASSERT_EQ(found.size(), c.centres.size());
        for (std::size_t k = 0; k < found.size(); ++k) {
            const Centre& f = found[k];
            const Expected& e = c.centres[k];
            EXPECT_EQ((Ijk{f.voxel[0], f.voxel[1], f.voxel[2]}), e.voxel) << k;
            for (int a = 0; a < 3; ++a) EXPECT_DOUBLE_EQ(f.position[a], e.position[a]) << k;
            EXPECT_EQ(f.jmapt, e.jmapt) << k;
            EXPECT_EQ(f.voxels, e.voxels) << k;
            EXPECT_EQ(f.radius, v.scale[v.at(e.voxel)] * 0.5) << k;
        }
    }
    // A threshold must be a number above 0.
    Volumes v;
    for (float bad : {0.0f, -1.0f, NAN, INFINITY})
        EXPECT_NE(test::errorOf([&] { v.centres(bad); }).find("above 0"), std::string::npos);
}

TEST(Centres, SameListForAnyThreadCount) {
    // Values of a few levels, so that plateaus of every shape and size occur.
    Volumes v;
    std::mt19937 random(42);
    for (std::size_t i = 0; i < v.grid.voxels(); ++i) {
        v.jmapt[i] = float(random() % 4) * 0.25f;
        v.scale[i] = float(random() % 3);
        v.labels[i] = random() % 9 == 0 ? LABEL_OUTSIDE : 0;
    }
    const auto one = test::withThreads(1, [&] { return v.centres(0.25f); });
    const auto two = test::withThreads(2, [&] { return v.centres(0.25f); });
    ASSERT_GT(one.size(), 3u);
    EXPECT_EQ(centresCsv(one), centresCsv(two));
}

// ---- through the binary ---------------------------------------------------

// Rows of a --centres file, each with its nine numbers; the header checked.
std::vector<std::vector<double>> readCentres(const std::string& path) {
    std::vector<std::vector<double>> rows;
    const std::vector<std::string> l = test::lines(test::readText(path));
    EXPECT_FALSE(l.empty());
    if (l.empty()) return rows;
    EXPECT_EQ(l[0], "x,y,z,radius,jmapt,i,j,k,voxels");
    for (std::size_t n = 1; n < l.size(); ++n) {
        std::stringstream line(l[n]);
        std::vector<double> row;
        for (std::string field; std::getline(line, field, ',');) row.push_back(std::stod(field));
        EXPECT_EQ(row.size(), 9u) << l[n];
        rows.push_back(row);
    }
    return rows;
}

// Runs in dir/cwd writing c.csv and s.json there.
class CentresRun : public test::BinaryRuns {
  protected:
    void runWithCentres(const std::string& cwd, const std::string& mesh,
                        std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", mesh, "-o", "out", "--seed", "1", "--centres", "c.csv",
                                   "--summary", "s.json"});
        const test::RunResult r = run(args, cwd);
        ASSERT_EQ(r.status, 1) << r.err;
    }
};

// Three spheres of radii 1, 0.6 and 0.4: one centre each, within one voxel of
// the true centre, with the scale volume's radius there; the same centres,
// moved and turned with the mesh, after a quarter turn about z and a shift.
TEST_F(CentresRun, ThreeSpheresMovedAndTurned) {
    const std::vector<std::array<double, 3>> truth = {{0, 0, 0}, {2, 0, 0}, {3.2, 0.3, 0}};
    const shapes::PolyMesh spheres = shapes::merged(
        shapes::merged(shapes::icosphere(4, 1.0, truth[0]), shapes::icosphere(4, 0.6, truth[1])),
        shapes::icosphere(4, 0.4, truth[2]));
    const std::array<double, 3> shift = {0.3, -1.7, 2.2};
    auto turned = [&](const std::array<double, 3>& p) {
        return std::array<double, 3>{-p[1] + shift[0], p[0] + shift[1], p[2] + shift[2]};
    };
    shapes::PolyMesh moved = spheres;
    for (auto& p : moved.vertices) p = turned(p);

    const std::vector<std::string> settings = {"-r",  "0.05", "-s", "0.2", "-p",
                                               "0.1", "-n",   "10", "-g",  "0.08"};
    runWithCentres("plain", mesh(spheres, "plain.off"), settings);
    runWithCentres("turned", mesh(moved, "turned.off"), settings);
    const auto rows = readCentres(dir.file("plain/c.csv")),
               rowsMoved = readCentres(dir.file("turned/c.csv"));
    const nlohmann::json summary = nlohmann::json::parse(test::readText(dir.file("plain/s.json")));
    const double h = summary["grid"]["h"];
    const std::vector<float> scale = test::readFloats(dir.file("plain/out/scale.img"));
    const auto dims = test::analyzeDims(dir.file("plain/out/scale.hdr"));
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(rowsMoved.size(), 3u);
    ASSERT_EQ(summary["centres"].size(), 3u);
    std::vector<bool> met(3, false);
    for (std::size_t n = 0; n < 3; ++n) {
        const std::vector<double>& c = rows[n];
        std::size_t sphere = 0;
        while (sphere < 3 && std::hypot(c[0] - truth[sphere][0], c[1] - truth[sphere][1],
                                        c[2] - truth[sphere][2]) > 0.5)
            ++sphere;
        ASSERT_LT(sphere, 3u) << "centre " << n << " near no sphere";
        EXPECT_FALSE(met[sphere]) << "two centres in sphere " << sphere;
        met[sphere] = true;
        for (int a = 0; a < 3; ++a) EXPECT_LE(std::abs(c[a] - truth[sphere][a]), h) << n;
        const std::size_t voxel = std::size_t(c[5] + dims[0] * (c[6] + dims[1] * c[7]));
        EXPECT_EQ(c[3], scale[voxel] * h) << n;  // the radius of the scale volume
        const std::array<double, 3> expected = turned({c[0], c[1], c[2]});
        for (int a = 0; a < 3; ++a) EXPECT_LE(std::abs(rowsMoved[n][a] - expected[a]), h) << n;
        EXPECT_NEAR(rowsMoved[n][3], c[3], 1e-6) << n;  // the same radius step, h in float
        // The summary lists the same rows.
        const nlohmann::json& s = summary["centres"][n];
        const char* keys[] = {"x", "y", "z", "radius", "jmapt", "i", "j", "k", "voxels"};
        for (int k = 0; k < 9; ++k)
            EXPECT_EQ(s[keys[k]].get<double>(), c[std::size_t(k)]) << keys[k];
    }
}

// The demo's settings: the two bulbs are the two strongest centres, the large
// one first, both on the axis.
TEST_F(CentresRun, DemoDumbbellGivesItsTwoBulbsFirst) {
    runWithCentres("", std::string(SHAPESCALE_SOURCE_DIR) + "/examples/dumbbell.off",
                   {"-s", "0.15", "-p", "0.1", "-n", "12", "-g", "0.03"});
    const auto rows = readCentres(dir.file("c.csv"));
    ASSERT_GE(rows.size(), 2u);
    // The profile pinches to its neck at z = 0.26; the large bulb lies below.
    EXPECT_LT(rows[0][2], 0.0);
    EXPECT_GT(rows[1][2], 0.5);
    EXPECT_GT(rows[0][3], rows[1][3]);
    for (int n = 0; n < 2; ++n) EXPECT_LT(std::hypot(rows[n][0], rows[n][1]), 0.1) << n;
}

}  // namespace
}  // namespace shapescale
