// The emulated host: record layout as the module reads it, the edit
// operation's view of the mesh and its commit/discard, the scripted services,
// the loader's refusals, and the generated meshes the other tests build on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "host/host.h"
#include "host/loader.h"
#include "meshgen/meshgen.h"
#include "tests/fixtures.h"

namespace {

const size_t kWord = sizeof(void *);

// ---- layout ---------------------------------------------------------------

TEST(HostLayout, RecordsPutEveryNamedFieldAtItsWord)
{
    EXPECT_EQ(offsetof(HostPointInfo, pnt), 0 * kWord);
    EXPECT_EQ(offsetof(HostPointInfo, position), 4 * kWord) << "position follows the four leading words";

    EXPECT_EQ(offsetof(HostPolygonInfo, pol), 0 * kWord);
    EXPECT_EQ(offsetof(HostPolygonInfo, flags), 3 * kWord);
    EXPECT_EQ(offsetof(HostPolygonInfo, numPnts), 4 * kWord);
    EXPECT_EQ(offsetof(HostPolygonInfo, points), 5 * kWord);
    EXPECT_EQ(offsetof(HostPolygonInfo, surface), 6 * kWord);

    EXPECT_EQ(offsetof(HostMeshEditOp, state), 0 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, done), 2 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, pointCount), 3 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, polyCount), 4 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, pointScan), 5 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, polyScan), 6 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, pointInfo), 7 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, polyInfo), 8 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, polyNormal), 9 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, addPoint), 10 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, addFace), 11 * kWord);
    EXPECT_EQ(offsetof(HostMeshEditOp, remPoly), 17 * kWord);

    EXPECT_EQ(offsetof(HostMonitor, init), 1 * kWord);
    EXPECT_EQ(offsetof(HostMonitor, step), 2 * kWord);
    EXPECT_EQ(offsetof(HostMonitor, done), 3 * kWord);
    EXPECT_EQ(offsetof(HostMonitorService, destroy), 1 * kWord);
    EXPECT_EQ(offsetof(HostMessageService, error), 1 * kWord);

    EXPECT_EQ(offsetof(HostPanelService, open), 2 * kWord);
    EXPECT_EQ(offsetof(HostPanelService, set), 7 * kWord);
    EXPECT_EQ(offsetof(HostPanelService, addControl), 8 * kWord);
    EXPECT_EQ(offsetof(HostPanelService, globalFun), 12 * kWord);
    EXPECT_EQ(offsetof(HostControl, get), 1 * kWord);
    EXPECT_EQ(offsetof(HostControl, set), 2 * kWord);
    EXPECT_EQ(offsetof(HostControlDesc, list), 1 * kWord);
    EXPECT_EQ(offsetof(HostControlDesc, word3), 3 * kWord);
    EXPECT_EQ(offsetof(HostIntValue, value), 1 * kWord);
    EXPECT_EQ(offsetof(HostFloatValue, value), 2 * kWord);

    EXPECT_EQ(offsetof(HostServerRecord, activate), 2 * kWord);
    EXPECT_EQ(offsetof(HostServerRecord, tagInfo), 3 * kWord);
    if (kWord == 4) {
        // On the 32-bit host the descriptor is six words too.
        EXPECT_EQ(offsetof(HostModuleDescriptor, startup), 3 * kWord);
        EXPECT_EQ(offsetof(HostModuleDescriptor, serverDefs), 5 * kWord);
    }
}

// ---- the edit operation ----------------------------------------------------

struct EditFixture : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::vector<LWPolID> cube, grid;
    HostMeshEditOp *op = nullptr;

    void SetUp() override
    {
        cube = EmuHostAddMesh(host.get(), 1, WithSelected(MakeCube(), {1, 4}));
        grid = EmuHostAddMesh(host.get(), 2, MakeQuadGrid(2, 1));
        EmuHostMakeCurrent(host.get());
    }
    void Begin()
    {
        op = EmuEditBegin(0, 0, 1);
        ASSERT_NE(op, nullptr);
    }
};

std::vector<LWPolID> ScanPolys(HostMeshEditOp *op, int layer, int *rc = nullptr)
{
    std::vector<LWPolID> seen;
    const int r = op->polyScan(
        op->state,
        [](void *data, const HostPolygonInfo *info) {
            static_cast<std::vector<LWPolID> *>(data)->push_back(info->pol);
            return 0;
        },
        &seen, layer);
    if (rc != nullptr)
        *rc = r;
    return seen;
}

std::vector<LWPntID> ScanPoints(HostMeshEditOp *op, int layer, int *rc = nullptr)
{
    std::vector<LWPntID> seen;
    const int r = op->pointScan(
        op->state,
        [](void *data, const HostPointInfo *info) {
            static_cast<std::vector<LWPntID> *>(data)->push_back(info->pnt);
            return 0;
        },
        &seen, layer);
    if (rc != nullptr)
        *rc = r;
    return seen;
}

TEST_F(EditFixture, CountsAndScansFollowLayerAndMode)
{
    host->points[0]->selected = true;  // a selected point of the foreground
    Begin();
    EXPECT_EQ(op->polyCount(op->state, 1, 0), 6);
    EXPECT_EQ(op->polyCount(op->state, 1, 1), 2);
    EXPECT_EQ(op->polyCount(op->state, 2, 0), 2);
    EXPECT_EQ(op->polyCount(op->state, 2, 1), 0);
    EXPECT_EQ(op->pointCount(op->state, 1, 0), 8);
    EXPECT_EQ(op->pointCount(op->state, 1, 1), 1);
    EXPECT_EQ(op->pointCount(op->state, 2, 0), 6);

    EXPECT_EQ(ScanPolys(op, 1), cube) << "foreground polygons in id order";
    EXPECT_EQ(ScanPolys(op, 2), grid);
    const std::vector<LWPntID> bgPoints = ScanPoints(op, 2);
    ASSERT_EQ(bgPoints.size(), 6u);
    EXPECT_EQ(bgPoints[0], reinterpret_cast<LWPntID>(uintptr_t{9})) << "grid points follow the cube's";
    EXPECT_EQ(bgPoints[5], reinterpret_cast<LWPntID>(uintptr_t{14}));
    const HostPolygonInfo *second = op->polyInfo(op->state, cube[1]);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->flags & HOST_POLY_SELECTED, 1);
    EXPECT_STREQ(second->surface, "Default");
    op->done(op->state, 0, 0);
}

TEST_F(EditFixture, SeveralForegroundLayersScanAsOne)
{
    const std::vector<LWPolID> fan = EmuHostAddMesh(host.get(), 3, MakeFan(3));
    host->foreground = {3, 1};
    Begin();
    std::vector<LWPolID> expect = cube;
    expect.insert(expect.end(), fan.begin(), fan.end());
    EXPECT_EQ(ScanPolys(op, 1), expect) << "id order, not layer order";
    EXPECT_EQ(op->pointCount(op->state, 1, 0), 12);
    // New geometry goes into the first foreground layer.
    const double pos[3] = {5, 5, 5};
    const LWPntID p = op->addPoint(op->state, pos);
    op->done(op->state, 0, 0);
    EXPECT_EQ(EmuHostPoint(host.get(), p)->layer, 3);
}

TEST_F(EditFixture, ScanErrorsAndStoppingCallbacks)
{
    host->script.polyScanError = 7;
    host->script.pointScanError = 9;
    Begin();
    int rc = 0;
    EXPECT_TRUE(ScanPolys(op, 1, &rc).empty()) << "a failing scan calls nothing";
    EXPECT_EQ(rc, 7);
    EXPECT_TRUE(ScanPoints(op, 2, &rc).empty());
    EXPECT_EQ(rc, 9);
    host->script.polyScanError = 0;
    int calls = 0;
    rc = op->polyScan(
        op->state,
        [](void *data, const HostPolygonInfo *) { return ++*static_cast<int *>(data) == 2 ? 5 : 0; }, &calls,
        1);
    EXPECT_EQ(rc, 5);
    EXPECT_EQ(calls, 2) << "the scan stops at the callback's code";
    op->done(op->state, 0, 0);
}

TEST_F(EditFixture, DoneZeroAppliesEveryChange)
{
    Begin();
    const double a[3] = {0.5, 0.5, 2.0};
    const LWPntID p = op->addPoint(op->state, a);
    const LWPntID top[3] = {reinterpret_cast<LWPntID>(uintptr_t{5}), reinterpret_cast<LWPntID>(uintptr_t{6}),
                            p};
    const LWPolID f = op->addFace(op->state, "Roof", 3, top);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(op->remPoly(op->state, cube[1]), 0);
    // Until done the edit sees the mesh as it began.
    EXPECT_EQ(op->polyCount(op->state, 1, 0), 6);
    EXPECT_EQ(op->pointCount(op->state, 1, 0), 8);
    EXPECT_EQ(ScanPolys(op, 1), cube);
    const HostPointInfo *pi = op->pointInfo(op->state, p);
    ASSERT_NE(pi, nullptr) << "the host answers for a point it just gave";
    EXPECT_EQ(pi->position[2], 2.0);
    op->done(op->state, 0, 0);

    EXPECT_EQ(host->edit, nullptr);
    const MeshData fg = EmuHostLayerMesh(host.get(), 1);
    ASSERT_EQ(MeshPolyCount(fg), 6u);
    ASSERT_EQ(fg.points.size(), 9u);
    EXPECT_EQ(fg.points[8][2], 2.0);
    EXPECT_EQ(MeshPolySurface(fg, 5), "Roof");
    EXPECT_EQ(MeshPolyPoints(fg, 5), (std::vector<int>{4, 5, 8}));
    EXPECT_FALSE(EmuHostPoly(host.get(), cube[1])->alive);
    EXPECT_EQ(host->log.addedPoints, std::vector<LWPntID>{p});
    EXPECT_EQ(host->log.addedPolys, std::vector<LWPolID>{f});
    EXPECT_EQ(host->log.removedPolys, std::vector<LWPolID>{cube[1]});
    EXPECT_EQ(host->log.doneCodes, std::vector<int>{0});
}

TEST_F(EditFixture, DoneWithAnErrorLeavesTheMeshExactlyAsItWas)
{
    const MeshData fgBefore = EmuHostLayerMesh(host.get(), 1);
    const MeshData bgBefore = EmuHostLayerMesh(host.get(), 2);
    Begin();
    const double a[3] = {9, 9, 9};
    const LWPntID p = op->addPoint(op->state, a);
    const LWPntID pts[3] = {p, reinterpret_cast<LWPntID>(uintptr_t{1}),
                            reinterpret_cast<LWPntID>(uintptr_t{2})};
    op->addFace(op->state, nullptr, 3, pts);
    op->remPoly(op->state, cube[0]);
    op->remPoly(op->state, grid[1]);
    op->done(op->state, 3, 0);

    EXPECT_EQ(MeshDifference(EmuHostLayerMesh(host.get(), 1), fgBefore), "");
    EXPECT_EQ(MeshDifference(EmuHostLayerMesh(host.get(), 2), bgBefore), "");
    EXPECT_EQ(host->points.size(), 14u);
    EXPECT_EQ(host->polys.size(), 8u);
    EXPECT_EQ(host->log.doneCodes, std::vector<int>{3});

    // A second done is recorded and changes nothing; later calls are counted.
    op->done(op->state, 0, 0);
    EXPECT_EQ(host->log.doneCodes, (std::vector<int>{3, 0}));
    EXPECT_EQ(host->polys.size(), 8u);
    EXPECT_EQ(op->polyCount(op->state, 1, 0), 0);
    EXPECT_EQ(host->log.callsAfterDone, 1);
    // And a fresh edit can begin.
    EXPECT_NE(EmuEditBegin(0, 0, 1), nullptr);
    EXPECT_EQ(host->log.editsBegun, 2);
}

TEST_F(EditFixture, OneEditAtATimeAndScriptedRefusal)
{
    Begin();
    EXPECT_EQ(EmuEditBegin(0, 0, 1), nullptr) << "an edit is still open";
    op->done(op->state, 0, 0);
    host->script.refuseEdit = true;
    EXPECT_EQ(EmuEditBegin(0, 0, 1), nullptr);
    EXPECT_EQ(host->log.editsBegun, 1);
    EXPECT_EQ(host->log.editBeginCalls, 3);
}

TEST_F(EditFixture, RemovedPolygonsStillAnswerWithTheirOldData)
{
    Begin();
    double before[3];
    ASSERT_EQ(op->polyNormal(op->state, cube[2], before), 1);
    ASSERT_EQ(op->remPoly(op->state, cube[2]), 0);
    const HostPolygonInfo *info = op->polyInfo(op->state, cube[2]);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->pol, cube[2]);
    ASSERT_EQ(info->numPnts, 4);
    const uintptr_t expect[4] = {1, 2, 6, 5};  // -y face 0, 1, 5, 4 as ids
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(reinterpret_cast<uintptr_t>(info->points[k]), expect[k]) << "vertex " << k;
    double after[3] = {7, 7, 7};
    ASSERT_EQ(op->polyNormal(op->state, cube[2], after), 1);
    EXPECT_EQ(after[0], 0.0);
    EXPECT_EQ(after[1], -1.0);
    EXPECT_EQ(after[2], 0.0);
    EXPECT_EQ(op->remPoly(op->state, cube[2]), 0) << "removing twice is harmless";
    op->done(op->state, 0, 0);
    EXPECT_EQ(host->log.removedPolys.size(), 2u) << "every call is logged";

    // Once committed, the polygon is gone for later edits.
    Begin();
    EXPECT_EQ(op->polyInfo(op->state, cube[2]), nullptr);
    EXPECT_EQ(op->polyNormal(op->state, cube[2], after), 0);
    EXPECT_EQ(op->remPoly(op->state, cube[2]), 1);
    op->done(op->state, 0, 0);
}

TEST_F(EditFixture, InfoAnswersAreCountedAndCanBeWithheld)
{
    host->script.hidePolys = {cube[3]};
    Begin();
    EXPECT_EQ(op->polyInfo(op->state, cube[3]), nullptr);
    EXPECT_NE(op->polyInfo(op->state, cube[4]), nullptr);
    EXPECT_EQ(op->polyInfo(op->state, reinterpret_cast<LWPolID>(uintptr_t{99})), nullptr);
    EXPECT_EQ(op->polyInfo(op->state, nullptr), nullptr);
    EXPECT_EQ(op->pointInfo(op->state, reinterpret_cast<LWPntID>(uintptr_t{15})), nullptr);
    const HostPointInfo *p7 = op->pointInfo(op->state, reinterpret_cast<LWPntID>(uintptr_t{7}));
    ASSERT_NE(p7, nullptr);
    EXPECT_EQ(p7->position[0], 0.0);  // cube point 6 = (0, 1, 1)
    EXPECT_EQ(p7->position[1], 1.0);
    EXPECT_EQ(p7->position[2], 1.0);
    EXPECT_EQ(host->log.polyInfoCalls, 4);
    EXPECT_EQ(host->log.pointInfoCalls, 2);
    // Faces need known points.
    const LWPntID bad[2] = {reinterpret_cast<LWPntID>(uintptr_t{1}),
                            reinterpret_cast<LWPntID>(uintptr_t{77})};
    EXPECT_EQ(op->addFace(op->state, "X", 2, bad), nullptr);
    EXPECT_EQ(op->addFace(op->state, "X", 0, bad), nullptr);
    EXPECT_EQ(host->log.rejectedFaces, 2);
    EXPECT_TRUE(host->log.addedPolys.empty());
    op->done(op->state, 0, 0);
}

TEST(HostNewell, UnitNormalOrNothing)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    MeshData m;
    m.points = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}, {2, 0, 0}, {5, 0, 0}};
    EmuHostAddMesh(host.get(), 1, m);
    auto id = [](uintptr_t k) { return reinterpret_cast<LWPntID>(k); };
    double n[3] = {};
    ASSERT_TRUE(EmuNewellNormal(host.get(), {id(1), id(2), id(3)}, n));
    const double third = 1.0 / std::sqrt(3.0);
    for (int a = 0; a < 3; ++a)
        EXPECT_NEAR(n[a], third, 1e-15) << "axis " << a << " (after a square root)";
    // Reversed winding flips it; a square in the xy plane is exactly +z.
    ASSERT_TRUE(EmuNewellNormal(host.get(), {id(3), id(2), id(1)}, n));
    EXPECT_NEAR(n[0], -third, 1e-15);

    double untouched[3] = {4, 4, 4};
    EXPECT_FALSE(EmuNewellNormal(host.get(), {id(4), id(5), id(6)}, untouched)) << "collinear: zero area";
    EXPECT_FALSE(EmuNewellNormal(host.get(), {id(1), id(2)}, untouched)) << "two points";
    EXPECT_FALSE(EmuNewellNormal(host.get(), {id(1), id(1), id(1)}, untouched)) << "one point thrice";
    EXPECT_EQ(untouched[0], 4.0);
    EXPECT_EQ(untouched[2], 4.0);

    // Through the edit operation, for polygons of the mesh.
    MeshData g = MakeQuadGrid(1, 1);
    MeshFace line;
    line.points = {0, 1};
    MeshPutFace(&g, line);
    const std::vector<LWPolID> ids = EmuHostAddMesh(host.get(), 1, g);
    EmuHostMakeCurrent(host.get());
    HostMeshEditOp *op = EmuEditBegin(0, 0, 1);
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->polyNormal(op->state, ids[0], n), 1);
    EXPECT_EQ(n[0], 0.0);
    EXPECT_EQ(n[1], 0.0);
    EXPECT_EQ(n[2], 1.0);
    EXPECT_EQ(op->polyNormal(op->state, ids[1], untouched), 0);
    EXPECT_EQ(untouched[0], 4.0);
    op->done(op->state, 0, 0);
}

TEST(HostMesh, LayerMeshRoundTripsAndCompacts)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    MeshData grid = WithSelected(MakeQuadGrid(2, 2), {3});
    grid.polySurface[1] = kMeshNoSurface;
    grid.polySurface[2] = MeshInternSurface(&grid, "Other");
    EmuHostAddMesh(host.get(), 2, MakeCube());
    EmuHostAddMesh(host.get(), 1, grid);
    EXPECT_EQ(MeshDifference(EmuHostLayerMesh(host.get(), 1), grid), "");
    EXPECT_EQ(MeshDifference(EmuHostLayerMesh(host.get(), 2), MakeCube()), "");
    EXPECT_EQ(MeshPolyCount(EmuHostLayerMesh(host.get(), 5)), 0u);
    // The host reports a missing surface as none.
    EXPECT_EQ(host->polys[6 + 1]->info.surface, nullptr);
}

// ---- services --------------------------------------------------------------

struct ServiceFixture : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    void SetUp() override { EmuHostMakeCurrent(host.get()); }
    HostMonitorService *Monitors()
    {
        return static_cast<HostMonitorService *>(EmuGlobal(HOST_MONITOR_SERVICE, 0));
    }
    HostPanelService *Panels() { return static_cast<HostPanelService *>(EmuGlobal(HOST_PANEL_SERVICE, 0)); }
};

TEST_F(ServiceFixture, WithheldServicesAreNullAndEveryAskIsLogged)
{
    EXPECT_NE(EmuGlobal("LWM: Dynamic Monitor", 0), nullptr);
    EXPECT_NE(EmuGlobal("Info Messages", 0), nullptr);
    EXPECT_NE(EmuGlobal("LWPanelServices", 0), nullptr);
    EXPECT_NE(EmuGlobal("Directory Info", 0), nullptr);
    EXPECT_EQ(EmuGlobal("Info Messages ", 0), nullptr) << "names match exactly";
    host->script.noMonitorService = true;
    host->script.noMessageService = true;
    host->script.noPanelService = true;
    host->script.noDirectoryService = true;
    EXPECT_EQ(EmuGlobal("LWM: Dynamic Monitor", 0), nullptr);
    EXPECT_EQ(EmuGlobal("Info Messages", 0), nullptr);
    EXPECT_EQ(EmuGlobal("LWPanelServices", 0), nullptr);
    EXPECT_EQ(EmuGlobal("Directory Info", 0), nullptr);
    ASSERT_EQ(host->log.servicesAsked.size(), 9u);
    EXPECT_EQ(host->log.servicesAsked[4], "Info Messages ");
    EXPECT_EQ(host->log.servicesAsked[8], "Directory Info");
}

TEST_F(ServiceFixture, DirectoryInfoAnswersOnlyForPlugins)
{
    auto *dir = reinterpret_cast<HostDirectoryFunc *>(EmuGlobal(HOST_DIRECTORY_SERVICE, 0));
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir("Plugins"), nullptr) << "no directory scripted";
    host->script.pluginsDir = "/tmp/plugs";
    EXPECT_STREQ(dir("Plugins"), "/tmp/plugs");
    EXPECT_EQ(dir("Content"), nullptr);
}

TEST_F(ServiceFixture, MonitorAbortsAtTheScriptedStepOfTheScriptedMonitor)
{
    host->script.abortMonitor = 1;
    host->script.abortStep = 3;
    int opened = 0, closed = 0;
    host->hooks.monitorOpen = [&](const EmuMonitorLog &) { ++opened; };
    host->hooks.monitorClose = [&](const EmuMonitorLog &) { ++closed; };
    HostMonitorService *svc = Monitors();
    HostMonitor *first = svc->create("T0", "x0");
    HostMonitor *second = svc->create("T1", "x1");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    first->init(first->data, 5);
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(first->step(first->data, 1), 0) << "first monitor, step " << k;
    second->init(second->data, 4);
    second->init(second->data, 6);
    EXPECT_EQ(second->step(second->data, 1), 0);
    EXPECT_EQ(second->step(second->data, 1), 0);
    EXPECT_NE(second->step(second->data, 1), 0) << "step 3 aborts";
    EXPECT_EQ(second->step(second->data, 1), 0) << "only step 3";
    first->done(first->data);
    svc->destroy(first);

    const EmuLog &log = host->log;
    ASSERT_EQ(log.monitors.size(), 2u);
    EXPECT_EQ(log.monitors[0].title, "T0");
    EXPECT_EQ(log.monitors[1].text, "x1");
    EXPECT_EQ(log.monitors[0].steps, 5u);
    EXPECT_FALSE(log.monitors[0].aborted);
    EXPECT_TRUE(log.monitors[0].done);
    EXPECT_TRUE(log.monitors[0].destroyed);
    EXPECT_EQ(log.monitors[1].inits, (std::vector<unsigned>{4, 6}));
    EXPECT_EQ(log.monitors[1].steps, 4u);
    EXPECT_TRUE(log.monitors[1].aborted);
    EXPECT_FALSE(log.monitors[1].done);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 1);

    host->hooks.monitorStep = [](const EmuMonitorLog &m) { return m.steps == 2 ? 1 : 0; };
    HostMonitor *third = svc->create("T2", "x2");
    EXPECT_EQ(third->step(third->data, 1), 0);
    EXPECT_NE(third->step(third->data, 1), 0) << "the hook aborts";
    host->script.monitorCreateFails = true;
    EXPECT_EQ(svc->create("T3", "x3"), nullptr);
    EXPECT_EQ(host->log.monitors.size(), 3u);
}

TEST_F(ServiceFixture, MessagesAreLoggedWithTheirKind)
{
    std::vector<std::string> seen;
    host->hooks.message = [&](const EmuMessage &m) { seen.push_back(m.line1); };
    auto *svc = static_cast<HostMessageService *>(EmuGlobal(HOST_MESSAGE_SERVICE, 0));
    svc->info("Error:\nCan't 'polyScan'", nullptr);
    svc->error(" Edge 'Corvane' Error!!!", "");
    ASSERT_EQ(host->log.messages.size(), 2u);
    EXPECT_FALSE(host->log.messages[0].error);
    EXPECT_EQ(host->log.messages[0].line1, "Error:\nCan't 'polyScan'");
    EXPECT_TRUE(host->log.messages[0].line2Null);
    EXPECT_TRUE(host->log.messages[1].error);
    EXPECT_FALSE(host->log.messages[1].line2Null);
    EXPECT_EQ(seen.size(), 2u);
}

// The panel as the options code builds it: one descriptor reused for all
// controls, a hook that focuses the control given as user data.
struct PanelRun {
    HostPanelID panel = nullptr;
    HostControl *text = nullptr, *size = nullptr, *choice = nullptr, *angle = nullptr;
};

void FocusHook(HostPanelID, void *userData)
{
    HostIntValue v = {HOST_VALUE_INT, 0};
    HostControl *c = static_cast<HostControl *>(userData);
    c->set(c, HOST_CTL_TAG_ACTIVATE, &v);
}

PanelRun BuildPanel(HostPanelService *ps)
{
    PanelRun r;
    r.panel = ps->create("Title", nullptr);
    if (r.panel == nullptr)
        return r;
    static const char *modeText[] = {"Object", nullptr};
    static const char *items[] = {" Disable ", " LT ", " GT ", nullptr};
    HostControlDesc desc{};
    desc.type = HOST_CTL_TEXT;
    desc.list = modeText;
    r.text = ps->addControl(r.panel, "TextControl", &desc, "mode:");
    desc.type = HOST_CTL_FLOAT;
    r.size = ps->addControl(r.panel, "FloatControl", &desc, "Bevel size  ");
    desc.type = HOST_CTL_CHOICE;
    desc.list = items;
    desc.word2 = 0;
    r.choice = ps->addControl(r.panel, "ChoiceControl", &desc, "Angle Mode  ");
    desc.type = HOST_CTL_ANGLE;
    desc.word3 = 360;
    r.angle = ps->addControl(r.panel, "AngleControl", &desc, "Limit angle ");
    ps->set(r.panel, HOST_PANEL_TAG_USERDATA, r.size);
    ps->set(r.panel, HOST_PANEL_TAG_HOOK, reinterpret_cast<const void *>(&FocusHook));
    HostFloatValue f = {HOST_VALUE_FLOAT, 0, 1.0};
    r.size->set(r.size, HOST_CTL_TAG_VALUE, &f);
    f.value = 1.5;
    r.angle->set(r.angle, HOST_CTL_TAG_VALUE, &f);
    HostIntValue i = {HOST_VALUE_INT, 2};
    r.choice->set(r.choice, HOST_CTL_TAG_VALUE, &i);
    const int width = 230;
    ps->set(r.panel, HOST_PANEL_TAG_SIZE, &width);
    return r;
}

double GetFloat(HostControl *c)
{
    HostFloatValue v = {HOST_VALUE_FLOAT, 0, -1.0};
    c->get(c, HOST_CTL_TAG_VALUE, &v);
    return v.value;
}

TEST_F(ServiceFixture, PanelTypesTheScriptedValuesAfterTheHook)
{
    host->script.bevelSize = 0.25;
    host->script.limitAngleRad = 0.5;
    HostPanelService *ps = Panels();
    ps->globalFun = EmuGlobal;
    PanelRun r = BuildPanel(ps);
    ASSERT_NE(r.panel, nullptr);
    EXPECT_EQ(Panels()->globalFun, &EmuGlobal) << "the field the module writes is kept";
    EXPECT_EQ(ps->open(r.panel, HOST_PANEL_OPEN_MODAL), 1);

    ASSERT_EQ(host->log.panels.size(), 1u);
    const EmuPanel &p = *host->log.panels[0];
    EXPECT_TRUE(p.opened);
    EXPECT_EQ(p.openFlags, 7);
    EXPECT_EQ(p.width, 230);
    EXPECT_EQ(p.title, "Title");
    ASSERT_EQ(p.controls.size(), 4u);
    EXPECT_EQ(p.controls[1]->activated, 1) << "the hook focused the size control";
    EXPECT_EQ(p.controls[0]->list, std::vector<std::string>{"Object"});
    EXPECT_EQ(p.controls[2]->list.size(), 3u);
    EXPECT_EQ(p.controls[2]->label, "Angle Mode  ");
    EXPECT_EQ(p.controls[3]->desc.word3, 360);
    EXPECT_EQ(p.controls[1]->desc.word3, 0) << "a copy as it was at addControl";

    EXPECT_EQ(GetFloat(r.size), 0.25);
    EXPECT_EQ(GetFloat(r.angle), 0.5);
    HostIntValue i = {HOST_VALUE_INT, -1};
    r.choice->get(r.choice, HOST_CTL_TAG_VALUE, &i);
    EXPECT_EQ(i.value, 2) << "the choice keeps the module's value when the script is silent";
    ps->destroy(r.panel);
    EXPECT_TRUE(p.destroyed);
}

TEST_F(ServiceFixture, PanelCancelCreateFailureAndInteractiveHook)
{
    host->script.panelCancel = true;
    PanelRun r = BuildPanel(Panels());
    EXPECT_EQ(Panels()->open(r.panel, 7), 0);
    EXPECT_EQ(GetFloat(r.size), 1.0);

    int seen = 0;
    host->hooks.panelOpen = [&](EmuPanel &p) {
        ++seen;
        p.controls[1]->floatValue = 3.0;  // the user types 3
        return 1;
    };
    r = BuildPanel(Panels());
    EXPECT_EQ(Panels()->open(r.panel, 7), 1) << "the hook overrides the script";
    EXPECT_EQ(GetFloat(r.size), 3.0);
    EXPECT_EQ(seen, 1);

    host->script.panelCreateFails = true;
    EXPECT_EQ(Panels()->create("T", nullptr), nullptr);
    EXPECT_EQ(host->log.panels.size(), 2u);
}

// ---- running a module -------------------------------------------------------

struct Seen {
    int version = 0;
    HostGlobalFunc *global = nullptr;
    void *local = nullptr;
    void *data = nullptr;
    EmuHost *current = nullptr;
} g_seen;

int RecordingActivate(int version, HostGlobalFunc *global, void *local, void *serverData)
{
    g_seen = {version, global, local, serverData, EmuHostCurrent()};
    return 42;
}

TEST(HostRun, ActivatesLikeAHost)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    int data = 0;
    EmuHostMakeCurrent(nullptr);
    EXPECT_EQ(EmuHostRun(host.get(), RecordingActivate, &data), 42);
    EXPECT_EQ(g_seen.version, 3);
    EXPECT_EQ(g_seen.global, &EmuGlobal);
    EXPECT_EQ(g_seen.local, reinterpret_cast<void *>(&EmuEditBegin));
    EXPECT_EQ(g_seen.data, &data);
    EXPECT_EQ(g_seen.current, host.get());
    host.reset();
    EXPECT_EQ(EmuHostCurrent(), nullptr) << "a destroyed host stops being current";
    EXPECT_EQ(EmuGlobal(HOST_MESSAGE_SERVICE, 0), nullptr);
    EXPECT_EQ(EmuEditBegin(0, 0, 1), nullptr);
}

// The shared helper that runs the module linked into the tests: a cancelled
// panel must leave the mesh alone and end the one edit.
TEST(HostRun, LinkedModuleRunsThroughItsDescriptor)
{
    const MeshData cube = MakeCube();
    std::unique_ptr<EmuHost> host = HostWithMeshes(MakeQuadGrid(1, 1), &cube);
    host->script.panelCancel = true;
    std::string error;
    EXPECT_EQ(RunLinkedModule(host.get(), &error), HOST_ACTIVATE_OK) << error;
    EXPECT_EQ(host->log.editsBegun, 1);
    EXPECT_EQ(host->log.doneCodes.size(), 1u);
    ASSERT_EQ(host->log.panels.size(), 1u);
    EXPECT_TRUE(host->log.panels[0]->opened);
    EXPECT_TRUE(CommittedPolys(host.get()).empty());
    EXPECT_EQ(MeshDifference(EmuHostLayerMesh(host.get(), 2), cube), "");
}

// ---- loader -----------------------------------------------------------------

void *StartOk()
{
    return reinterpret_cast<void *>(uintptr_t{4});
}
void *StartFails()
{
    return nullptr;
}
int g_shutdowns = 0;
void CountShutdown(void *)
{
    ++g_shutdowns;
}

TEST(HostLoader, RefusesMissingFilesAndLibrariesThatAreNoModule)
{
    LoadedModule m;
    std::string error;
    EXPECT_FALSE(LoadModule("/nonexistent/Corvane.p", "MeshDataEdit", "QX_Corvane", &m, &error));
    EXPECT_EQ(error.rfind("/nonexistent/Corvane.p: cannot load", 0), 0u) << error;
    EXPECT_EQ(m.handle, nullptr);
#ifndef _WIN32
    Dl_info info;
    // The math library is a loadable library without a descriptor (and no
    // sanitizer intercepts cos, so the address really lies in it).
    double (*cosine)(double) = &std::cos;
    ASSERT_NE(dladdr(reinterpret_cast<void *>(cosine), &info), 0);
    const std::string libc = info.dli_fname;
#else
    const std::string libc = "kernel32.dll";
#endif
    EXPECT_FALSE(LoadModule(libc, "MeshDataEdit", "QX_Corvane", &m, &error));
    EXPECT_EQ(error, libc + ": not a plug-in module (no _mod_descrip)");
    EXPECT_EQ(m.handle, nullptr);
}

TEST(HostLoader, ChecksTheDescriptorWords)
{
    static const HostServerTag noTags[] = {{0, nullptr}};
    static const HostServerRecord servers[] = {
        {"MeshDataEdit", "Other", RecordingActivate, noTags},
        {"MeshDataEdit", "QX_Corvane", RecordingActivate, noTags},
        {nullptr, nullptr, nullptr, nullptr},
    };
    const HostModuleDescriptor good = {HOST_MODULE_SYNC, 3, 0x300, StartOk, CountShutdown, servers};
    LoadedModule m;
    std::string error;
    ASSERT_TRUE(OpenModuleDescriptor(&good, "m.p", "MeshDataEdit", "QX_Corvane", &m, &error)) << error;
    EXPECT_EQ(m.activate, &RecordingActivate);
    EXPECT_EQ(m.serverData, StartOk());
    g_shutdowns = 0;
    UnloadModule(&m);
    EXPECT_EQ(g_shutdowns, 1);
    EXPECT_EQ(m.descriptor, nullptr);

    struct Case {
        HostModuleDescriptor d;
        const char *server;
        const char *error;
    } cases[] = {
        {{0x04121995u, 3, 0x300, StartOk, nullptr, servers},
         "QX_Corvane",
         "m.p: not a plug-in module (sync word 0x04121995)"},
        {{HOST_MODULE_SYNC, 2, 0x300, StartOk, nullptr, servers},
         "QX_Corvane",
         "m.p: module version 2, this host takes 3"},
        {{HOST_MODULE_SYNC, 3, 0x200, StartOk, nullptr, servers},
         "QX_Corvane",
         "m.p: module built for machine word 0x00000200, expected 0x00000300"},
        {{HOST_MODULE_SYNC, 3, 0x300, StartFails, nullptr, servers},
         "QX_Corvane",
         "m.p: module startup failed"},
        {{HOST_MODULE_SYNC, 3, 0x300, StartOk, nullptr, servers},
         "QX_Other",
         "m.p: no MeshDataEdit server named \"QX_Other\""},
        {{HOST_MODULE_SYNC, 3, 0x300, StartOk, nullptr, nullptr},
         "QX_Corvane",
         "m.p: no MeshDataEdit server named \"QX_Corvane\""},
    };
    for (const Case &c : cases) {
        error.clear();
        EXPECT_FALSE(OpenModuleDescriptor(&c.d, "m.p", "MeshDataEdit", c.server, &m, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(m.activate, nullptr);
    }
}

// ---- generated meshes -------------------------------------------------------

TEST(MeshGen, ClosedMeshesAreClosedAndFaceOutwards)
{
    // Round shapes are inscribed polyhedra: their volume lies a little below
    // the smooth one, never above it.
    const double pi = 3.141592653589793;
    struct Case {
        const char *name;
        MeshData mesh;
        double volume, lowest;  // lowest: share of the volume at least reached
    } cases[] = {
        {"cube", MakeCube(), 1.0, 1.0},
        {"cube -1..1", MakeCube(-1.0, 1.0), 8.0, 1.0},
        {"box", MakeBox(2.0, 3.0, 4.0, 3), 24.0, 1.0 - 1e-12},
        {"sphere", MakeQuadSphere(6), 4.0 / 3.0 * pi, 0.9},
        {"torus", MakeTorus(16, 8), 2.0 * pi * pi * 3.0, 0.85},
        {"cylinder", MakeCylinder(4, 3), 2.0 * 3.0, 1.0 - 1e-12},  // a square of diagonal 2, height 3
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ClosedMeshFault(c.mesh), "") << c.name;
        const double v = SignedVolume(c.mesh);
        EXPECT_GE(v, c.volume * c.lowest) << c.name << " faces outwards and encloses its volume";
        EXPECT_LE(v, c.volume * (1.0 + 1e-12)) << c.name;
        for (size_t k = 0; k < MeshPolyCount(c.mesh); ++k)
            ASSERT_EQ(MeshPolySurface(c.mesh, k), "Default") << c.name << " polygon " << k;
    }
    EXPECT_EQ(MeshPolyCount(MakeBox(1, 1, 1, 3)), 54u);
    EXPECT_EQ(MakeBox(1, 1, 1, 3).points.size(), 56u) << "shared points welded";
    EXPECT_EQ(MeshPolyCount(MakeQuadSphere(2)), 24u);
    EXPECT_EQ(MeshPolyCount(MakeCylinder(5, 2)), 12u);
    EXPECT_EQ(MeshPolyPoints(MakeCylinder(5, 2), 10).size(), 5u);
    // Every point of the sphere lies on it, up to rounding of the square root.
    for (const auto &p : MakeQuadSphere(3).points)
        EXPECT_NEAR(p[0] * p[0] + p[1] * p[1] + p[2] * p[2], 1.0, 4e-15) << "rounding after a square root";
    // Cube faces face their axis exactly.
    const MeshData cube = MakeCube();
    const double axes[6][3] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
    for (size_t k = 0; k < 6; ++k) {
        const auto n = MeshPolyNewell(cube, k);
        for (int a = 0; a < 3; ++a)
            EXPECT_EQ(n[a], 2.0 * axes[k][a]) << "cube face " << k << " (twice its area)";
    }
    EXPECT_EQ(cube.points[6], (std::array<double, 3>{0, 1, 1}));
}

TEST(MeshGen, OpenMeshesFaceTheirSide)
{
    const MeshData grid = MakeQuadGrid(3, 2);
    ASSERT_EQ(MeshPolyCount(grid), 6u);
    ASSERT_EQ(grid.points.size(), 12u);
    EXPECT_EQ(grid.points[5], (std::array<double, 3>{1, 1, 0}));
    for (size_t k = 0; k < MeshPolyCount(grid); ++k)
        EXPECT_EQ(MeshPolyNewell(grid, k), (std::array<double, 3>{0, 0, 2})) << "grid quad " << k;
    EXPECT_EQ(MeshPolyPoints(grid, 4)[0], 5) << "quad (1, 1) starts at point (1, 1)";

    const MeshData fan = MakeFan(5);
    ASSERT_EQ(MeshPolyCount(fan), 5u);
    for (size_t k = 0; k < MeshPolyCount(fan); ++k)
        EXPECT_GT(MeshPolyNewell(fan, k)[2], 0.0) << "fan triangle " << k;
    EXPECT_EQ(MeshPolyPoints(fan, 4), (std::vector<int>{0, 5, 1}));

    const MeshData tube = MakeQuadTube(4, 2);
    ASSERT_EQ(MeshPolyCount(tube), 8u);
    EXPECT_EQ(tube.points[1], (std::array<double, 3>{0, 1, 0})) << "quarter turns are exact";
    for (size_t k = 0; k < MeshPolyCount(tube); ++k) {
        const auto n = MeshPolyNewell(tube, k);
        const auto &a = tube.points[static_cast<size_t>(MeshPolyPoints(tube, k)[0])];
        const auto &b = tube.points[static_cast<size_t>(MeshPolyPoints(tube, k)[1])];
        EXPECT_GT(n[0] * (a[0] + b[0]) + n[1] * (a[1] + b[1]), 0.0) << "tube quad " << k << " faces out";
        EXPECT_EQ(n[2], 0.0);
    }
    // Open meshes have a border: some edge lacks its reverse.
    EXPECT_NE(ClosedMeshFault(tube), "");
    EXPECT_NE(ClosedMeshFault(grid), "");
}

}  // namespace
