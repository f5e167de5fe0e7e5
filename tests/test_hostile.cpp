// The activation given what a host or a user may hand it at worst: meshes
// with NaN, infinite, huge or coincident coordinates, polygons of 0 to 300
// points, repeated points, crowded edges, bevel sizes of every kind, broken
// settings files and aborts in every phase. Whatever comes in, the edit ends
// once, with either a complete result or no change and a message.
//
// Every case goes through the fuzz target's own run and checks
// (fuzz/activate_check.h); the inputs the fuzzer found are replayed from
// fuzz/regressions/activate, and its seed corpus too, each held to a second.
#include <gtest/gtest.h>

#include <dirent.h>
#include <float.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/activate_check.h"
#include "fuzz/activate_input.h"
#include "meshgen/meshgen.h"
#include "plugin/activate.h"
#include "tests/files.h"

namespace {

using fuzzin::EncodeOptions;
using fuzzin::RunResult;

std::vector<std::string> FilesIn(const std::string &dir)
{
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] != '.')
                out.push_back(dir + "/" + e->d_name);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

MeshData Selected(MeshData mesh, int a, int b)
{
    mesh.polySelected[(size_t)a] = 1;
    mesh.polySelected[(size_t)b] = 1;
    return mesh;
}

MeshData WithPoint(MeshData mesh, size_t k, double x, double y, double z)
{
    mesh.points[k] = {x, y, z};
    return mesh;
}

MeshData Scaled(MeshData mesh, double s)
{
    for (auto &p : mesh.points)
        p = {p[0] * s, p[1] * s, p[2] * s};
    return mesh;
}

bool SaysOnly(const RunResult &r, const char *text)
{
    return r.messages.size() == 1 && !r.messages[0].error && r.messages[0].line1 == text;
}

struct Hostile : ::testing::Test {
    std::string dir = MakeTempDir("hostile");
    const MeshData none{};

    void TearDown() override { RemoveSettingsDir(dir); }
    // Object mode over `bg` (pair mode when `fg` has two selected), checked;
    // a fault fails the test where it was asked for.
    RunResult Run(const EncodeOptions &o, const MeshData &bg, const MeshData &fg)
    {
        std::vector<uint8_t> bytes = fuzzin::Encode(o, bg, fg);
        RunResult r = fuzzin::RunAndCheck(bytes.data(), bytes.size(), dir, 1.0);
        EXPECT_EQ(r.fault, "");
        return r;
    }
    RunResult Run(double bevel, const MeshData &bg, const MeshData &fg)
    {
        EncodeOptions o;
        o.bevel = bevel;
        return Run(o, bg, fg);
    }
};

// ---- bevel sizes ---------------------------------------------------------

TEST_F(Hostile, BevelSizeThatIsNotFiniteChangesNothingAndSaysWhy)
{
    const MeshData pair = Selected(MakeQuadTube(6, 3), 6, 7);
    for (double size : {(double)NAN, (double)INFINITY, -(double)INFINITY}) {
        RunResult obj = Run(size, MakeCube(), none);
        EXPECT_NE(obj.doneCode, HOST_EDIT_KEEP) << size;
        EXPECT_TRUE(SaysOnly(obj, kMsgBevelNotFinite)) << size;
        RunResult line = Run(size, none, pair);
        EXPECT_NE(line.doneCode, HOST_EDIT_KEEP) << size;
        EXPECT_TRUE(SaysOnly(line, kMsgBevelNotFinite)) << size;
    }
    // The file keeps whatever the panel confirmed; a NaN found there the next
    // time is refused the same way when the user takes it unchanged.
    EncodeOptions fromFile;
    fromFile.flags1 = 0;
    std::string bytes(32, '\0');
    int32_t tag = 210;
    double bevel = NAN, limit = 90.0;
    memcpy(&bytes[0], &tag, 4);
    memcpy(&bytes[8], &bevel, 8);
    memcpy(&bytes[16], &limit, 8);
    fromFile.settingsFile = bytes;
    RunResult r = Run(fromFile, MakeCube(), none);
    EXPECT_TRUE(SaysOnly(r, kMsgBevelNotFinite));
}

TEST_F(Hostile, ZeroNegativeTinyAndHugeBevelSizes)
{
    // 0 is a cancel: nothing, silently.
    RunResult zero = Run(0.0, MakeCube(), none);
    EXPECT_EQ(zero.doneCode, HOST_EDIT_DISCARD);
    EXPECT_TRUE(zero.messages.empty());
    // Negative and tiny sizes are taken as they are: a complete result.
    for (double size : {-0.25, 1e-300, 4.9e-324}) {
        RunResult r = Run(size, MakeCube(), none);
        EXPECT_EQ(r.doneCode, HOST_EDIT_KEEP) << size;
        // Below the weld's distance a corner's three copies are one point: a
        // patch would be that point three times, and a strip its edge
        // twice; both are left out, and the faces meet at the cube's edges.
        EXPECT_EQ(r.polysAdded, size < 0.0 ? 26u : 6u)
            << size << ": 6 faces, and 12 strips and 8 corner patches when they have area";
        RunResult line = Run(size, none, Selected(MakeCube(), 0, 2));
        EXPECT_EQ(line.doneCode, HOST_EDIT_KEEP) << size;
    }
    // A size whose offsets overflow is refused as a whole; one that stays
    // finite is carried out, however far the points go. The hexagonal caps'
    // corners slide by the size over sin 60 degrees, past the largest double.
    RunResult over = Run(DBL_MAX, MakeCylinder(6, 1), none);
    EXPECT_NE(over.doneCode, HOST_EDIT_KEEP);
    EXPECT_TRUE(SaysOnly(over, kMsgNotFinite));
    RunResult overLine = Run(DBL_MAX, none, Selected(MakeCylinder(6, 1), 0, 6));
    EXPECT_TRUE(SaysOnly(overLine, kMsgNotFinite));
    for (double size : {1e300, 1e308, DBL_MAX}) {
        RunResult far = Run(size, MakeCube(), none);
        EXPECT_TRUE(far.doneCode == HOST_EDIT_KEEP || SaysOnly(far, kMsgNotFinite)) << size;
    }
}

// ---- coordinates -----------------------------------------------------------

TEST_F(Hostile, CoordinatesThatAreNotFiniteOrOverflowAreRefused)
{
    const MeshData cases[] = {
        WithPoint(MakeCube(), 7, NAN, 1.0, 1.0),
        WithPoint(MakeCube(), 0, 0.0, INFINITY, 0.0),
        WithPoint(MakeCube(), 3, -INFINITY, 1.0, 0.0),
        // Finite, but the box diagonal (and every difference across the
        // cube) overflows: the weld would merge every point into one.
        Scaled(MakeCube(-1.0, 1.0), 1e308),
    };
    for (const MeshData &mesh : cases) {
        RunResult obj = Run(0.125, mesh, none);
        EXPECT_NE(obj.doneCode, HOST_EDIT_KEEP);
        EXPECT_TRUE(SaysOnly(obj, kMsgNotFinite));
        // Faces 0 (-z) and 2 (-y) hold all the odd points above except 7,
        // which face 1 (+z) and 3 (+y) share with the ring round the cube.
        RunResult line = Run(0.125, none, Selected(mesh, 0, 2));
        EXPECT_TRUE(line.doneCode != HOST_EDIT_KEEP || line.messages.empty());
    }
    // A NaN point that no polygon uses is no part of the result.
    MeshData loose = MakeCube();
    loose.points.push_back({NAN, NAN, NAN});
    RunResult r = Run(0.125, loose, none);
    EXPECT_EQ(r.doneCode, HOST_EDIT_KEEP);
    EXPECT_EQ(r.polysAdded, 26u);
}

TEST_F(Hostile, HugeTinyAndCoincidentCoordinates)
{
    // Huge but with room to spare, and tiny: the run completes. The squares
    // in the lengths of the offsets' cross products (and of the host's
    // normal) overflow at 1e150 and underflow at 1e-150, so the copies do
    // not move apart: the faces alone, as a strip would be its edge twice
    // and a corner patch one point three times.
    for (double s : {1e150, 1e-150}) {
        RunResult r = Run(0.125 * s, Scaled(MakeCube(), s), none);
        EXPECT_EQ(r.doneCode, HOST_EDIT_KEEP) << s;
        EXPECT_EQ(r.polysAdded, 6u) << s;
    }
    // Every point in one place: no direction anywhere, and no crash.
    MeshData flat = MakeCube();
    for (auto &p : flat.points)
        p = {2.0, 2.0, 2.0};
    Run(0.125, flat, none);
    Run(0.125, none, Selected(flat, 0, 2));
}

// ---- polygons ----------------------------------------------------------------

TEST_F(Hostile, DegeneratePolygonsBesideACube)
{
    // Polygons of 0, 1 and 2 points, one that repeats a point, and one that
    // is a point three times: the cube beside them is chamfered as ever.
    MeshData mesh = MakeCube();
    mesh.points.push_back({5, 5, 5});
    mesh.points.push_back({6, 5, 5});
    for (std::vector<int> pts : std::vector<std::vector<int>>{{}, {8}, {8, 9}, {8, 9, 9, 8}, {9, 9, 9}}) {
        MeshFace p;
        p.points = pts;
        p.surface = "Default";
        MeshPutFace(&mesh, p);
    }
    RunResult r = Run(0.125, mesh, none);
    EXPECT_EQ(r.doneCode, HOST_EDIT_KEEP);
    EXPECT_GE(r.polysAdded, 26u);
}

TEST_F(Hostile, BigPolygonsCrowdedEdgesAndSlits)
{
    // A 300-point polygon running over 150 points twice, three and four
    // polygons on one edge, a slit: both modes, plain and angle-limited.
    MeshData big;
    for (int k = 0; k < 150; k++)
        big.points.push_back({std::cos(k * 0.0419), std::sin(k * 0.0419), 0.0});
    MeshFace loop;
    for (int k = 0; k < 300; k++)
        loop.points.push_back(k % 150);
    loop.surface = "Default";
    MeshPutFace(&big, loop);
    MeshFace back = loop;
    std::reverse(back.points.begin(), back.points.end());
    MeshPutFace(&big, back);

    MeshData crowd;
    crowd.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (std::vector<int> pts : std::vector<std::vector<int>>{{0, 1, 2}, {1, 0, 3}, {1, 0, 4}, {0, 1, 5}}) {
        MeshFace p;
        p.points = pts;
        p.surface = "Default";
        MeshPutFace(&crowd, p);
    }
    MeshData slit;
    slit.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 0}};
    MeshFace s;
    s.points = {0, 1, 2, 4, 2, 3};
    s.surface = "Default";
    MeshPutFace(&slit, s);

    EncodeOptions limited;
    limited.flags1 |= fuzzin::kTypeAngleMode | fuzzin::kTypeLimit;
    limited.angleMode = 1;
    limited.limitDeg = 170.0;
    for (const MeshData *mesh : {&big, &crowd, &slit}) {
        Run(0.0625, *mesh, none);
        Run(limited, *mesh, none);
        if (MeshPolyCount(*mesh) >= 2)
            Run(0.0625, none, Selected(*mesh, 0, 1));
    }
}

TEST_F(Hostile, PairThatIsNoPairChangesNothing)
{
    // Opposite faces, the same face twice in one direction, and two
    // polygons holding their common edge the same way round.
    RunResult opposite = Run(0.125, none, Selected(MakeCube(), 0, 1));
    EXPECT_TRUE(SaysOnly(opposite, kMsgNoSharedEdge));
    MeshData same;
    same.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    MeshFace a, b;
    a.points = {0, 1, 2};
    b.points = {0, 1, 3};
    a.surface = b.surface = "Default";
    MeshSetFaces(&same, {a, b});
    RunResult sameWay = Run(0.125, none, Selected(same, 0, 1));
    EXPECT_TRUE(SaysOnly(sameWay, kMsgNoSharedEdge));
    EXPECT_NE(sameWay.doneCode, HOST_EDIT_KEEP);
}

// ---- the host and the user ---------------------------------------------------

TEST_F(Hostile, AbortAtEveryStepOfEveryPhaseEndsTheEditOnce)
{
    // Each phase's monitor, aborted at its first steps and further in.
    for (int monitor = 0; monitor < 6; monitor++) {
        for (int step : {1, 2, 5, 40}) {
            EncodeOptions o;
            o.abortMonitor = monitor;
            o.abortStep = step;
            RunResult r = Run(o, MakeQuadSphere(2), none);
            ASSERT_EQ(r.fault, "") << "monitor " << monitor << " step " << step;
            RunResult line = Run(o, none, Selected(MakeQuadSphere(2), 0, 1));
            ASSERT_EQ(line.fault, "") << "monitor " << monitor << " step " << step;
        }
    }
}

TEST_F(Hostile, BrokenSettingsFilesFallBackToTheDefaults)
{
    EncodeOptions o;
    o.flags1 = 0;  // nothing typed: the panel's values are what was loaded
    for (std::string bytes :
         {std::string("\xd2"), std::string(27, '\xd2'), std::string(40, '\xff'), std::string(32, '\0')}) {
        o.settingsFile = bytes;
        RunResult r = Run(o, MakeCube(), none);
        EXPECT_EQ(r.doneCode, HOST_EDIT_KEEP) << bytes.size() << " bytes: the default size 1.0";
    }
}

// ---- what the fuzzer found, and its seeds --------------------------------------

TEST_F(Hostile, FuzzRegressionsAndSeedsRunCleanlyWithinASecond)
{
    std::vector<std::string> files = FilesIn(std::string(CORVANE_SOURCE_DIR) + "/fuzz/regressions/activate");
    ASSERT_FALSE(files.empty());
    std::vector<std::string> seeds = FilesIn(std::string(CORVANE_SOURCE_DIR) + "/fuzz/corpus/activate");
    files.insert(files.end(), seeds.begin(), seeds.end());
    for (const std::string &path : files) {
        const std::string bytes = Slurp(path);
        RunResult r =
            fuzzin::RunAndCheck(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), dir, 1.0);
        EXPECT_EQ(r.fault, "") << path << " (" << r.seconds << " s)";
    }
}

}  // namespace
