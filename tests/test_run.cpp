// The run layer: one loaded module activated again and again, each run on a
// host of its own, and the safe bevel size of a mesh.
#include <gtest/gtest.h>

#include <cmath>

#include "files.h"
#include "fixtures.h"
#include "meshio/meshio.h"
#include "run/run.h"

namespace {

class Run : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempDir("run");
        std::string error;
        ASSERT_TRUE(RunLoadModule(BuildDir() + "/Corvane.p", &module, &error)) << error;
        loaded = true;
    }
    void TearDown() override
    {
        if (loaded)
            UnloadModule(&module);
        RemoveSettingsDir(dir);
    }
    RunResult Activate(const MeshData &mesh, double size, int a = 0, int b = 0)
    {
        RunOptions options;
        options.bevelSize = size;
        options.angleMode = 0;
        options.settingsDir = dir;
        options.select[0] = a;
        options.select[1] = b;
        RunResult result;
        RunActivate(module, mesh, options, &result);
        return result;
    }
    std::string dir;
    LoadedModule module;
    bool loaded = false;
};

int Count(const std::vector<bool> &marks)
{
    int n = 0;
    for (bool m : marks)
        n += m ? 1 : 0;
    return n;
}

}  // namespace

TEST_F(Run, ObjectModeAgainAndAgainGivesTheSameResult)
{
    const MeshData cube = MakeCube(0.0, 1.0);
    const RunResult first = Activate(cube, 0.125);
    ASSERT_EQ(first.activation, HOST_ACTIVATE_OK);
    EXPECT_TRUE(first.messages.empty());
    EXPECT_FALSE(first.unchanged);
    EXPECT_EQ(first.mode, "Object");
    EXPECT_EQ(first.bevelSize, 0.125);
    ASSERT_EQ(MeshPolyCount(first.output), 26u);
    // 12 strips and 8 corner triangles are new; the 6 faces are only cut back.
    EXPECT_EQ(Count(first.created), 20);
    EXPECT_EQ(ClosedMeshFault(first.output), "");
    // A dyadic size keeps the cut-back face corners exact.
    bool found = false;
    for (const auto &p : first.output.points)
        found = found || (p[0] == 0.125 && p[1] == 0.125 && p[2] == 0.0);
    EXPECT_TRUE(found) << "the -z face's corner at (0.125, 0.125, 0)";
    // A host activates a loaded module many times: a change of options in
    // between must not leak into the run after it.
    EXPECT_EQ(Activate(cube, 0.25).output.points.size(), 24u);
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(MeshDifference(Activate(cube, 0.125).output, first.output), "") << "run " << k;
}

TEST_F(Run, NoSettingsFolderNoRun)
{
    RunOptions options;
    options.bevelSize = 0.1;
    RunResult result;
    RunActivate(module, MakeCube(0.0, 1.0), options, &result);
    EXPECT_EQ(result.activation, HOST_ACTIVATE_BADSERVICE);
    EXPECT_EQ(result.bevelSize, -1.0) << "the module never opened its panel";
}

TEST_F(Run, TwoPolygonModeAndItsRefusal)
{
    const MeshData cube = MakeCube(0.0, 1.0);
    // -z and -y share the edge along x at y = z = 0.
    const RunResult pair = Activate(cube, 0.125, 1, 3);
    ASSERT_EQ(pair.activation, HOST_ACTIVATE_OK);
    EXPECT_EQ(pair.mode, "Line");
    EXPECT_FALSE(pair.unchanged);
    EXPECT_TRUE(pair.messages.empty());
    EXPECT_GT(Count(pair.created), 0);
    // -z and +z share none: the module's own words, and nothing changed.
    const RunResult apart = Activate(cube, 0.125, 1, 2);
    ASSERT_EQ(apart.messages.size(), 1u);
    EXPECT_FALSE(apart.messages[0].error);
    EXPECT_NE(apart.messages[0].text.find("must share an edge"), std::string::npos) << apart.messages[0].text;
    EXPECT_TRUE(apart.unchanged);
    EXPECT_EQ(MeshDifference(apart.output, WithSelected(cube, {0, 1})), "")
        << "the foreground keeps the input";
}

TEST(SafeBevelSize, ATenthOfTheShortestInsetEdgeIsKept)
{
    // Right corners: the 2-unit cube's faces meet themselves at 2 / (1 + 1),
    // the safe size is nine tenths of that.
    EXPECT_EQ(MeshSafeBevelSize(MakeCube(0.0, 2.0)), 0.9);
    // Two unit quads side by side: only the shared edge is chamfered, so the
    // edges that meet it slide from one end only.
    EXPECT_EQ(MeshSafeBevelSize(MakeQuadGrid(2, 1)), 0.9);
    // A lone quad has no chamfered edge.
    EXPECT_TRUE(std::isinf(MeshSafeBevelSize(MakeQuadGrid(1, 1))));
    // The fan's 60-degree corners: a rim edge slides 1 / sin 60 from each
    // end, a spoke 1 / tan 30 at the centre and 1 / tan 60 at the rim.
    EXPECT_NEAR(MeshSafeBevelSize(MakeFan(6)), 0.9 * std::sqrt(3.0) / 4.0, 1e-15);
    // An equilateral triangle chamfered on all three edges (a tetrahedron)
    // closes at its inradius, not where 1 / sin 60 from each end would put it.
    const MeshData tetra = MakeConvexHull({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}});
    EXPECT_NEAR(MeshSafeBevelSize(tetra), 0.9 * std::sqrt(8.0) / (2.0 * std::sqrt(3.0)), 1e-14);
}

TEST_F(Run, OneVerdictForEveryCaller)
{
    const MeshData cube = MakeCube(0.0, 1.0);
    const RunResult done = Activate(cube, 0.125);
    EXPECT_TRUE(done.verdict == RunVerdict::kFinished && !done.partial && !done.chamferedNothing);
    // A size of 0 ends the edit without a word: nothing to write.
    EXPECT_EQ(Activate(cube, 0.0).verdict, RunVerdict::kUnchanged);
    // The module's refusal: faces that share no edge.
    const RunResult apart = Activate(cube, 0.125, 1, 2);
    EXPECT_EQ(apart.verdict, RunVerdict::kFailed);
    EXPECT_EQ(apart.failure, "the module reported a failure");
    // A negative size never reaches the module, nor the settings file.
    const RunResult negative = Activate(cube, -0.125);
    EXPECT_TRUE(negative.verdict == RunVerdict::kFailed && negative.refused);
    EXPECT_EQ(negative.failure,
              "the bevel size must not be negative (it would turn the mesh inside out), not -0.125");
    RunOptions again;
    again.settingsDir = dir;
    RunResult saved;
    RunActivate(module, cube, again, &saved);
    EXPECT_EQ(saved.bevelSize, 0.125) << "the refused size is not saved";

    // A lone quad: the object mode copies it and chamfers nothing.
    const MeshData quad = MakeQuadGrid(1, 1);
    const RunResult copied = Activate(quad, 0.125);
    EXPECT_EQ(copied.verdict, RunVerdict::kFinished);
    EXPECT_EQ(RunNothingChamferedText(quad, copied),
              "no two polygons of the input share an edge, so no edge was chamfered");
}

TEST(RunGuards, EdgesOfTheRanges)
{
    EXPECT_EQ(RunCheckOptions(-0.0, 180.0), "") << "-0 is a size of 0";
    EXPECT_NE(RunCheckOptions(1.0, std::nan("")), "");
    EXPECT_EQ(RunAngleModeNumber("lte"), -1);
    // At the safe size itself the warning is given; below it, at 0, or with
    // no safe size at all, not.
    EXPECT_NE(RunSizeWarning(0.9, 0.9, "x"), "");
    EXPECT_EQ(RunSizeWarning(0.8999, 0.9, "x"), "");
    EXPECT_EQ(RunSizeWarning(0.0, 0.0, "x"), "");
    EXPECT_EQ(RunSizeWarning(1e300, INFINITY, "x"), "");
}
