// The activation end to end through the emulated host: its result codes,
// every failure path with its message, the mode choice, the edit ended
// exactly once, and the module loaded the way a host loads it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/loader.h"
#include "meshgen/meshgen.h"
#include "options/options.h"
#include "plugin/activate.h"
#include "tests/files.h"
#include "tests/hostlog.h"

namespace {

struct ActivateFixture : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::string dir = MakeTempDir("activate");

    void SetUp() override
    {
        host->script.pluginsDir = dir;
        host->script.bevelSize = 0.125;
    }
    void TearDown() override { RemoveSettingsDir(dir); }
    int Run() { return EmuHostRun(host.get(), Activate); }
    void ExpectEndedOnce(int code) { ::ExpectEndedOnce(host.get(), code); }
    void ExpectOnlyInfo(const char *text) { ::ExpectOnlyInfo(host.get(), text); }
    size_t Polys(int layer) { return MeshPolyCount(EmuHostLayerMesh(host.get(), layer)); }
};

TEST_F(ActivateFixture, WrongVersionBeginsNothing)
{
    EmuHostMakeCurrent(host.get());
    EXPECT_EQ(Activate(2, EmuGlobal, (void *)EmuEditBegin, nullptr), HOST_ACTIVATE_BADVERSION);
    EXPECT_EQ(host->log.editsBegun, 0);
}

TEST_F(ActivateFixture, RefusedEditDoesNothingElse)
{
    host->script.refuseEdit = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    EXPECT_TRUE(host->log.doneCodes.empty());
    EXPECT_TRUE(host->log.panels.empty());
}

TEST_F(ActivateFixture, MissingServiceIsResultTwoAndEndsTheEdit)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.noMonitorService = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_BADSERVICE);
    ExpectEndedOnce(HOST_EDIT_DISCARD);

    host = EmuHostCreate();
    host->script.noMessageService = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_BADSERVICE);
    EXPECT_TRUE(host->log.messages.empty());
}

TEST_F(ActivateFixture, EmptyBackgroundAsksForPolygons)
{
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_DISCARD);
    ExpectOnlyInfo("ERROR:\nPlease select 2 polygons\nor\nset polygons to BG layer.");
    EXPECT_TRUE(host->log.panels.empty());
}

TEST_F(ActivateFixture, CancelOrZeroSizeChangesNothing)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.panelCancel = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_DISCARD);
    EXPECT_EQ(Polys(1), 0u);
    EXPECT_TRUE(host->log.messages.empty());

    host->log = EmuLog{};
    host->script.panelCancel = false;
    host->script.bevelSize = 0.0;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_DISCARD);
    EXPECT_EQ(Polys(1), 0u);
    EXPECT_TRUE(host->log.addedPolys.empty());
}

TEST_F(ActivateFixture, ScanFailuresEndTheEditWithTheScanCode)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.polyScanError = 7;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(7);
    ExpectOnlyInfo("Error:\nCan't 'polyScan'");
    EXPECT_EQ(host->log.panels.size(), 1u) << "the panel comes before the scan";

    host->log = EmuLog{};
    host->script.polyScanError = 0;
    host->script.pointScanError = 9;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(9);
    ExpectOnlyInfo("Error:\nCan't 'pointScan'");
    EXPECT_EQ(Polys(1), 0u) << "the strips already buffered are not committed";
}

// A host service that throws: the exception stops at the module's boundary,
// and the edit is still ended once, without change, whether it was open (the
// panel throws) or already ended (the message after it throws).
TEST_F(ActivateFixture, HostExceptionStillEndsTheEditOnce)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->hooks.panelOpen = [](EmuPanel &) -> int { throw std::runtime_error("panel failed"); };
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_DISCARD);
    EXPECT_TRUE(host->log.addedPoints.empty());
    EXPECT_EQ(Polys(1), 0u);

    host = EmuHostCreate();
    host->script.pluginsDir = dir;
    host->hooks.message = [](const EmuMessage &) { throw std::runtime_error("message failed"); };
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_DISCARD);
    EXPECT_EQ(host->log.callsAfterDone, 0);
}

TEST_F(ActivateFixture, TwoSelectedPolygonsChooseTheLineMode)
{
    // One, two and three selected foreground polygons, background filled.
    for (int selected : {1, 2, 3}) {
        host = EmuHostCreate();
        host->script.pluginsDir = dir;
        host->script.panelCancel = true;
        EmuHostAddMesh(host.get(), 2, MakeCube());
        MeshData grid = MakeQuadGrid(3, 1);
        for (int k = 0; k < selected; ++k)
            grid.polySelected[k] = 1;
        EmuHostAddMesh(host.get(), 1, grid);
        Run();
        ASSERT_EQ(host->log.panels.size(), 1u);
        EXPECT_EQ(host->log.panels[0]->controls.at(0)->list.at(0), selected == 2 ? "Line" : "Object")
            << selected << " selected";
    }
}

TEST_F(ActivateFixture, TooManyCornersIsRefusedAfterThePanelAndTheScan)
{
    // 16385 quads hold 65540 corners, four more than the output model. The
    // activation's order holds: the panel, then the one list scan, then the
    // refusal, before anything is added; what the user confirmed is kept.
    MeshData grid = MakeQuadGrid(16385, 1);
    EmuHostAddMesh(host.get(), 2, grid);
    host->script.bevelSize = 0.375;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_DISCARD);
    ExpectOnlyInfo(kMsgTooManyCorners);
    EXPECT_EQ(host->log.panels.size(), 1u);
    EXPECT_TRUE(host->log.addedPoints.empty());
    EXPECT_EQ(host->log.polyInfoCalls, 0) << "the survey never started";
    EXPECT_EQ(Polys(1), 0u);
    Settings saved{0, 0, 0.0, 0.0, 0, 0};
    EXPECT_EQ(SettingsFile(EmuGlobal, 0, &saved), 1);
    EXPECT_EQ(saved.bevelSize, 0.375);
}

TEST_F(ActivateFixture, SettingsPersistFromOneActivationToTheNext)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.bevelSize = 0.25;
    host->script.angleMode = 1;
    Run();
    g_settings = Settings{SETTINGS_FORMAT_TAG, 0, 1.0, 90.0, 0, 0};

    auto next = EmuHostCreate();
    next->script.pluginsDir = dir;
    next->script.panelCancel = true;
    EmuHostAddMesh(next.get(), 2, MakeCube());
    EmuHostRun(next.get(), Activate);
    ASSERT_EQ(next->log.panels.size(), 1u);
    EXPECT_EQ(next->log.panels[0]->controls.at(1)->floatValue, 0.25);
    EXPECT_EQ(next->log.panels[0]->controls.at(2)->intValue, 1);
}

TEST_F(ActivateFixture, ObjectModeCommitsIntoTheEditLayerOnly)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_KEEP);
    EXPECT_GE(Polys(1), 6u);
    EXPECT_EQ(Polys(2), 6u) << "the background object is left as it was";
    EXPECT_TRUE(host->log.messages.empty());
    // Every committed polygon refers to points that exist in the edit layer.
    MeshData out = EmuHostLayerMesh(host.get(), 1);
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(out); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(out, polyIndex);
        for (int v : poly)
            EXPECT_LT((size_t)v, out.points.size());
    }
}

TEST(ModuleLoading, LoadedModuleGivesTheSameMeshAsTheLinkedOne)
{
    const char *buildDir = getenv("CORVANE_BUILD_DIR");
    ASSERT_NE(buildDir, nullptr);
    LoadedModule module;
    std::string error;
    ASSERT_TRUE(
        LoadModule(std::string(buildDir) + "/Corvane.p", "MeshDataEdit", "QX_Corvane", &module, &error))
        << error;
    EXPECT_EQ(module.descriptor->sysSync, HOST_MODULE_SYNC);
    EXPECT_EQ(module.serverData, (void *)4);

    std::string dir = MakeTempDir("activate");
    MeshData results[2];
    for (int k = 0; k < 2; ++k) {
        auto host = EmuHostCreate();
        host->script.pluginsDir = dir;
        host->script.bevelSize = 0.1;
        EmuHostAddMesh(host.get(), 2, MakeCylinder(7, 2));
        EXPECT_EQ(EmuHostRun(host.get(), k == 0 ? Activate : module.activate), HOST_ACTIVATE_OK);
        results[k] = EmuHostLayerMesh(host.get(), 1);
    }
    UnloadModule(&module);
    RemoveSettingsDir(dir);
    ASSERT_EQ(results[0].points.size(), results[1].points.size());
    ASSERT_EQ(MeshPolyCount(results[0]), MeshPolyCount(results[1]));
    for (size_t i = 0; i < results[0].points.size(); ++i)
        EXPECT_EQ(results[0].points[i], results[1].points[i]) << "point " << i;
    for (size_t i = 0; i < MeshPolyCount(results[0]); ++i) {
        EXPECT_EQ(MeshPolyPoints(results[0], i), MeshPolyPoints(results[1], i)) << "polygon " << i;
        EXPECT_EQ(MeshPolySurface(results[0], i), MeshPolySurface(results[1], i)) << "polygon " << i;
    }
}

}  // namespace
