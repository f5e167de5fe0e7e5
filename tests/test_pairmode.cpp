// The two-polygon mode: the pair analysis on its own, and the chamfer along an
// edge loop through the activation in the emulated host (what is committed,
// which host points are kept, which polygons are removed and which points
// created), and with the meshes the mode was not made for.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bufmodel/bufmodel.h"
#include "fixtures.h"
#include "host/host.h"
#include "meshgen/meshgen.h"
#include "objectmode/objectmode.h"
#include "pairmode/pairmode.h"
#include "plugin/activate.h"
#include "tests/files.h"
#include "tests/hostlog.h"
#include "tests/testcontext.h"

namespace {

using P3 = std::array<double, 3>;

LWPntID PointId(EmuHost *host, int k)
{
    return host->points[static_cast<size_t>(k)]->info.pnt;
}

LWPntID Pnt(uintptr_t k)
{
    return reinterpret_cast<LWPntID>(k);
}

// A cone of k quads about its apex E = point 0 at (0, 0, 1): rim point r_i
// (index 1 + i) on the unit circle in z = 0, outer point s_i (index 1 + k + i)
// at radius 1.5 between r_i and r_i+1; quad i = (E, r_i, s_i, r_i+1), facing
// up. E has k corners and is point 0 of every quad.
MeshData MakeCone(int k, const char *surface = "Cone")
{
    MeshData mesh;
    mesh.points.push_back({0.0, 0.0, 1.0});
    for (int i = 0; i < k; ++i) {
        double a = 2.0 * M_PI * i / k;
        mesh.points.push_back({std::cos(a), std::sin(a), 0.0});
    }
    for (int i = 0; i < k; ++i) {
        double a = 2.0 * M_PI * (i + 0.5) / k;
        mesh.points.push_back({1.5 * std::cos(a), 1.5 * std::sin(a), 0.0});
    }
    for (int i = 0; i < k; ++i) {
        MeshFace p;
        p.points = {0, 1 + i, 1 + k + i, 1 + (i + 1) % k};
        p.surface = surface;
        MeshPutFace(&mesh, p);
    }
    return mesh;
}

std::vector<P3> Coords(const MeshData &mesh, MeshPointSpan poly)
{
    std::vector<P3> out;
    for (int k : poly)
        out.push_back(mesh.points[static_cast<size_t>(k)]);
    return out;
}

// Index of the polygon whose vertices lie exactly at `want`, in this order.
int FindPolyAt(const MeshData &mesh, const std::vector<P3> &want)
{
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k)
        if (Coords(mesh, MeshPolyPoints(mesh, k)) == want)
            return static_cast<int>(k);
    return -1;
}

// The border edges by their ends' positions, to say where a mesh is open.
std::vector<std::pair<P3, P3>> OpenEdges(const MeshData &mesh)
{
    std::vector<std::pair<P3, P3>> open;
    for (const auto &e : BorderEdges(mesh))
        open.push_back(
            {mesh.points[static_cast<size_t>(e.first)], mesh.points[static_cast<size_t>(e.second)]});
    return open;
}

bool Unique(std::vector<LWPolID> ids)
{
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

bool Contains(const std::vector<LWPntID> &ids, LWPntID id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The mode through the activation: `mesh` in foreground layer 1 with
// polygons a and b selected, bevel size 0.25.
struct PairMode : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::string dir = MakeTempDir("pairmode");
    std::vector<LWPolID> ids;

    void TearDown() override { RemoveSettingsDir(dir); }
    int Run(MeshData mesh, int a, int b, double size = 0.25)
    {
        mesh.polySelected.assign(MeshPolyCount(mesh), 0);
        mesh.polySelected[static_cast<size_t>(a)] = 1;
        mesh.polySelected[static_cast<size_t>(b)] = 1;
        ids = EmuHostAddMesh(host.get(), 1, mesh);
        host->script.pluginsDir = dir;
        host->script.bevelSize = size;
        return EmuHostRun(host.get(), Activate);
    }
    MeshData Result() { return EmuHostLayerMesh(host.get(), 1); }
    bool Alive(int k) { return EmuHostPoly(host.get(), ids[static_cast<size_t>(k)])->alive; }
    std::vector<LWPolID> Removed(std::vector<int> which)
    {
        std::vector<LWPolID> out;
        for (int k : which)
            out.push_back(ids[static_cast<size_t>(k)]);
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<LWPolID> SortedRemoved()
    {
        std::vector<LWPolID> r = host->log.removedPolys;
        std::sort(r.begin(), r.end());
        return r;
    }
    void ExpectKept()
    {
        ASSERT_EQ(host->log.doneCodes.size(), 1u);
        EXPECT_EQ(host->log.doneCodes[0], HOST_EDIT_KEEP);
        EXPECT_TRUE(host->log.messages.empty());
    }
    // A cap whose fan cannot be finished: the edit ends without change, and
    // the user is told.
    void ExpectUnfinishedFan()
    {
        ExpectEndedOnce(host.get(), HOST_EDIT_DISCARD);
        ExpectOnlyInfo(host.get(), kMsgInternalFault);
        for (size_t k = 0; k < ids.size(); ++k)
            EXPECT_TRUE(Alive(static_cast<int>(k))) << "polygon " << k;
    }
};

// An edit begun on a host holding `mesh` in layer 1, with an output model bound
// to it, for calling the passes directly. The edit is dropped at the end.
struct Session : EditSession {
    PairWork pair{};

    explicit Session(const MeshData &mesh) { EXPECT_TRUE(Begin(mesh, 1)); }
    // The polygon list as the activation makes it: a and b first.
    std::vector<LWPolID> List(int a, int b)
    {
        std::vector<LWPolID> list = {ids[static_cast<size_t>(a)], ids[static_cast<size_t>(b)]};
        for (size_t k = 0; k < ids.size(); ++k)
            if (static_cast<int>(k) != a && static_cast<int>(k) != b)
                list.push_back(ids[k]);
        return list;
    }
    int Bridge(int a, int b, double size = 0.25)
    {
        std::vector<LWPolID> list = List(a, b);
        return BuildBridge(&ctx, &pair, static_cast<int>(list.size()), list.data(), records.data(), size);
    }
};

// A record with just the host point list that FindSharedEdge reads.
PolyInfo Ring(std::vector<LWPntID> *storage, std::initializer_list<uintptr_t> pts)
{
    storage->clear();
    for (uintptr_t p : pts)
        storage->push_back(Pnt(p));
    storage->push_back(storage->front());
    PolyInfo r{};
    r.count = static_cast<int32_t>(pts.size());
    r.hostPoints = storage->data();
    return r;
}

// ---- pair analysis ------------------------------------------------------

TEST(PairAnalysis, CopyStandsOnTheHostPointsWithAClosingEntry)
{
    MeshData mesh = MakeQuadGrid(1, 1);
    mesh.points.push_back({3.0, 0.0, 0.0});
    MeshPutFace(&mesh, MeshFace{{1, 4, 3}, "Tri", true, false});
    Session s(mesh);
    PolyInfo &quad = s.records[0];
    PolyInfo &tri = s.records[1];
    EXPECT_EQ(MakePairPolyInfo(&s.ctx, s.ids[0], &quad), 4);
    EXPECT_EQ(MakePairPolyInfo(&s.ctx, s.ids[1], &tri), 3);

    const std::vector<LWPntID> wantQuad = {PointId(s.host.get(), 0), PointId(s.host.get(), 1),
                                           PointId(s.host.get(), 3), PointId(s.host.get(), 2),
                                           PointId(s.host.get(), 0)};
    EXPECT_EQ(std::vector<LWPntID>(quad.hostPoints, quad.hostPoints + 5), wantQuad);
    EXPECT_EQ(tri.hostPoints[3], tri.hostPoints[0]);
    EXPECT_STREQ(tri.surface, "Tri");

    // Points 0-3 and polygon 0 are the quad's copy; every vertex and every
    // buffered point stands for its host point.
    EXPECT_EQ(quad.polyIndex, 0);
    EXPECT_EQ(tri.polyIndex, 1);
    const BufPoly *copy = BufModelGetPoly(s.model, quad.polyIndex);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(quad.points[k], k);
        EXPECT_EQ(copy->points[k], k);
        EXPECT_EQ(copy->hostPoints[k], wantQuad[static_cast<size_t>(k)]) << "vertex " << k;
        EXPECT_EQ(BufModelGetPoint(s.model, k)->hostId, wantQuad[static_cast<size_t>(k)]);
    }
    EXPECT_EQ(quad.positions[2].x, 1.0);
    EXPECT_EQ(quad.positions[2].y, 1.0);
    EXPECT_EQ(quad.centroid.x, 0.5);
    EXPECT_EQ(quad.centroid.y, 0.5);
}

TEST(PairAnalysis, PolygonTheHostCannotDescribeIsNotUsed)
{
    Session s(MakeQuadGrid(2, 1));
    s.host->script.hidePolys = {s.ids[1]};
    EXPECT_EQ(MakePairPolyInfo(&s.ctx, s.ids[1], &s.records[0]), 0);
    EXPECT_EQ(s.records[0].count, 0);
    EXPECT_EQ(s.records[0].points, nullptr);
    EXPECT_EQ(s.records[0].hostPoints, nullptr);
    EXPECT_EQ(s.model->pointCount, 0);
    EXPECT_EQ(s.model->polyCount, 0);
}

// A bridge handed a record slot filled before cannot tell its copy from
// another's: it builds nothing and sets the context's fault, which the
// activation turns into the internal fault message.
TEST(PairAnalysis, RecordSlotFilledBeforeSetsTheFault)
{
    Session s(MakeCube());
    s.records[0].points = static_cast<int32_t *>(malloc(sizeof(int32_t)));
    EXPECT_EQ(s.Bridge(1, 3), 0);
    EXPECT_EQ(s.ctx.fault, EDIT_FAULT_INTERNAL);
    EXPECT_EQ(s.model->polyCount, 0);
}

TEST(PairAnalysis, SharedEdgeOnlyInOppositeDirectionsFirstMatchWins)
{
    std::vector<LWPntID> sa, sb;
    int i = -7, j = -7;

    PolyInfo a = Ring(&sa, {1, 2, 3, 4});
    PolyInfo b = Ring(&sb, {3, 2, 5, 6});
    FindSharedEdge(nullptr, &a, &b, &i, &j);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(j, 0);
    FindSharedEdge(nullptr, &b, &a, &i, &j);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(j, 1);

    // The same direction is no sharing: both outputs keep their values.
    b = Ring(&sb, {2, 3, 7, 8});
    i = -7;
    j = -8;
    FindSharedEdge(nullptr, &a, &b, &i, &j);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(j, -8);

    // The closing edges take part through the closing entries.
    b = Ring(&sb, {4, 6, 5, 1});
    FindSharedEdge(nullptr, &a, &b, &i, &j);
    EXPECT_EQ(i, 3);
    EXPECT_EQ(j, 3);

    // Two common edges: the lowest i wins, then the lowest j.
    b = Ring(&sb, {4, 3, 2, 1});
    FindSharedEdge(nullptr, &a, &b, &i, &j);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(j, 2);
}

TEST(PairAnalysis, FindPolyByEdgeWrapsAndStopsAtAPolygonWithoutInfo)
{
    // Points 1-9 as host ids: polygon 0 = (1, 2, 3), polygon 1 = (1, 9, 8, 4)
    // holds 4 -> 1 only through the wrap from its last point to its first,
    // polygon 2 = (4, 1, 6) holds it too but comes later.
    MeshData mesh;
    for (int k = 0; k < 9; ++k)
        mesh.points.push_back({static_cast<double>(k), 0.0, 0.0});
    MeshPutFace(&mesh, MeshFace{{0, 1, 2}, "S", true, false});
    MeshPutFace(&mesh, MeshFace{{0, 8, 7, 3}, "S", true, false});
    MeshPutFace(&mesh, MeshFace{{3, 0, 5}, "S", true, false});
    Session s(mesh);
    std::vector<LWPolID> list = s.List(0, 1);
    const int n = static_cast<int>(list.size());
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), n, Pnt(4), Pnt(1)), s.ids[1]);
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), n, Pnt(1), Pnt(2)), s.ids[0]);
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), n, Pnt(2), Pnt(1)), nullptr);

    // Slot 1 without info: the polygon in slot 2 that holds 1 -> 6 is not
    // looked at, and the corner count covers slot 0 only.
    s.host->script.hidePolys = {s.ids[1]};
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), n, Pnt(1), Pnt(6)), nullptr);
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), n, Pnt(1), Pnt(2)), s.ids[0]);
    EXPECT_EQ(PointValence(&s.ctx, nullptr, n, list.data(), Pnt(1)), 1);
    s.host->script.hidePolys.clear();
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), n, Pnt(1), Pnt(6)), s.ids[2]);
    EXPECT_EQ(PointValence(&s.ctx, nullptr, n, list.data(), Pnt(1)), 3);
}

TEST(PairAnalysis, PointValenceCountsEveryCorner)
{
    Session grid(MakeQuadGrid(3, 3));
    std::vector<LWPolID> list = grid.List(0, 1);
    const int n = static_cast<int>(list.size());
    EXPECT_EQ(PointValence(&grid.ctx, nullptr, n, list.data(), PointId(grid.host.get(), 5)), 4);  // (1, 1)
    EXPECT_EQ(PointValence(&grid.ctx, nullptr, n, list.data(), PointId(grid.host.get(), 1)), 2);  // (1, 0)
    EXPECT_EQ(PointValence(&grid.ctx, nullptr, n, list.data(), PointId(grid.host.get(), 0)), 1);

    Session cube(MakeCube());
    std::vector<LWPolID> cl = cube.List(0, 1);
    EXPECT_EQ(PointValence(&cube.ctx, nullptr, 6, cl.data(), PointId(cube.host.get(), 7)), 3);

    // A polygon holding the point twice counts twice.
    MeshData twice = MakeQuadGrid(1, 1);
    MeshPutFace(&twice, MeshFace{{0, 1, 0, 2}, "S", true, false});
    Session t(twice);
    std::vector<LWPolID> tl = t.List(0, 1);
    EXPECT_EQ(PointValence(&t.ctx, nullptr, 2, tl.data(), PointId(t.host.get(), 0)), 3);
}

TEST(PairAnalysis, DetachEdgeOfTheClosingEdgeUsesVertexZero)
{
    // Unit square (0,0), (1,0), (1,1), (0,1) facing +z; edge 3 runs from
    // vertex 3 to vertex 0, its neighbours are vertex 2 (previous) and 1.
    Session s(MakeQuadGrid(1, 1));
    PolyInfo &x = s.records[0];
    MakePairPolyInfo(&s.ctx, s.ids[0], &x);
    const BufPoly *copy = BufModelGetPoly(s.model, x.polyIndex);
    const std::vector<LWPntID> hostBefore(copy->hostPoints, copy->hostPoints + 4);

    DetachEdge(&s.ctx, &x, 3, 0.25);

    ASSERT_EQ(s.model->pointCount, 6);  // exactly two new points
    EXPECT_EQ(copy->points[1], 1);
    EXPECT_EQ(copy->points[2], 2);
    EXPECT_EQ(copy->points[3], 4);
    EXPECT_EQ(copy->points[0], 5);
    const Vec3 &a = BufModelGetPoint(s.model, 4)->position;
    const Vec3 &b = BufModelGetPoint(s.model, 5)->position;
    EXPECT_EQ(a.x, 0.25);
    EXPECT_EQ(a.y, 1.0);
    EXPECT_EQ(b.x, 0.25);
    EXPECT_EQ(b.y, 0.0);
    EXPECT_EQ(BufModelGetPoint(s.model, 4)->hostId, nullptr);
    EXPECT_EQ(BufModelGetPoint(s.model, 5)->hostId, nullptr);
    // The per-vertex host ids are the caller's to clear.
    EXPECT_EQ(std::vector<LWPntID>(copy->hostPoints, copy->hostPoints + 4), hostBefore);
    // The record still describes the host polygon.
    EXPECT_EQ(x.points[0], 0);
    EXPECT_EQ(x.points[3], 3);
}

// ---- the bridge through the activation -------------------------------------

TEST_F(PairMode, CubeEdgeGetsOneQuadAndTheSideFacesFivePoints)
{
    // +z (4, 5, 7, 6) and +y (2, 6, 7, 3) share the edge from (0,1,1) to (1,1,1);
    // both of its ends have three corners, so both walks end at once.
    ASSERT_EQ(Run(MakeCube(), 1, 3), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_EQ(SortedRemoved(), Removed({1, 3, 4, 5}));

    MeshData m = Result();
    ASSERT_EQ(MeshPolyCount(m), 7u);
    const P3 y0 = {0, 1, 0.75}, y1 = {1, 1, 0.75}, z0 = {0, 0.75, 1}, z1 = {1, 0.75, 1};
    // Bridge quad: B[j+1], B[j], A[i+1], A[i].
    int quad = FindPolyAt(m, {y1, y0, z0, z1});
    ASSERT_GE(quad, 0);
    EXPECT_EQ(MeshPolySurface(m, static_cast<size_t>(quad)), "Default");
    EXPECT_GE(FindPolyAt(m, {{0, 0, 1}, {1, 0, 1}, z1, z0}), 0) << "+z cut back";
    EXPECT_GE(FindPolyAt(m, {{0, 1, 0}, y0, y1, {1, 1, 0}}), 0) << "+y cut back";
    // Side faces: the end point replaced by `in` and `out`, no cap.
    EXPECT_GE(FindPolyAt(m, {{1, 0, 0}, {1, 1, 0}, y1, z1, {1, 0, 1}}), 0) << "+x";
    EXPECT_GE(FindPolyAt(m, {{0, 0, 0}, {0, 0, 1}, z0, y0, {0, 1, 0}}), 0) << "-x";
    EXPECT_EQ(MeshValidityFault(m, true), "") << "the chamfered cube is closed";

    // Only the four moved points are created; the corners that stayed are
    // committed as the host's own points.
    EXPECT_EQ(host->log.addedPoints.size(), 4u);
    std::vector<EmuPoly *> committed = CommittedPolys(host.get());
    ASSERT_EQ(committed.size(), 5u);
    for (EmuPoly *p : committed) {
        for (LWPntID id : p->points) {
            const P3 at = HostPosition(host.get(), id);
            const bool moved = at[1] == 0.75 || at[2] == 0.75;
            EXPECT_EQ(Contains(host->log.addedPoints, id), moved)
                << "point (" << at[0] << ", " << at[1] << ", " << at[2] << ")";
        }
    }
}

TEST_F(PairMode, GridStripRunsFromBorderToBorderWithoutCaps)
{
    // 4 x 3 grid; quads (1, 1) and (1, 2) share the edge at y = 2, x in [1, 2].
    ASSERT_EQ(Run(MakeQuadGrid(4, 3), 5, 9), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_EQ(SortedRemoved(), Removed({4, 5, 6, 7, 8, 9, 10, 11}));

    MeshData m = Result();
    EXPECT_EQ(MeshPolyCount(m), 16u);
    for (size_t pi = 0; pi < MeshPolyCount(m); pi++) {
        const MeshPointSpan p = MeshPolyPoints(m, pi);
        EXPECT_EQ(p.size(), 4u) << "no polygon gains points, no cap";
    }
    // First walk (A in row 1) towards +x, second (A in row 2) towards -x.
    for (double x = 1; x < 4; ++x)
        EXPECT_GE(FindPolyAt(m, {{x + 1, 2.25, 0}, {x, 2.25, 0}, {x, 1.75, 0}, {x + 1, 1.75, 0}}), 0)
            << "strip quad at x = " << x;
    EXPECT_GE(FindPolyAt(m, {{0, 1.75, 0}, {1, 1.75, 0}, {1, 2.25, 0}, {0, 2.25, 0}}), 0);
    EXPECT_GE(FindPolyAt(m, {{0, 1, 0}, {1, 1, 0}, {1, 1.75, 0}, {0, 1.75, 0}}), 0);
    EXPECT_GE(FindPolyAt(m, {{3, 2.25, 0}, {4, 2.25, 0}, {4, 3, 0}, {3, 3, 0}}), 0);

    // One piece: every edge inside the grid is shared, the open ones run
    // along the grid's border.
    const std::vector<std::pair<P3, P3>> open = OpenEdges(m);
    EXPECT_EQ(MeshValidityFault(m, false), "");
    for (const auto &edge : open) {
        const bool border = (edge.first[0] == edge.second[0] && (edge.first[0] == 0 || edge.first[0] == 4)) ||
                            (edge.first[1] == edge.second[1] && (edge.first[1] == 0 || edge.first[1] == 3));
        EXPECT_TRUE(border) << "open edge from (" << edge.first[0] << ", " << edge.first[1] << ") to ("
                            << edge.second[0] << ", " << edge.second[1] << ")";
    }
    EXPECT_EQ(open.size(), 16u);
}

TEST_F(PairMode, TubeLoopClosesIntoARing)
{
    // Quad 0 of row 0 and of row 1 share a ring edge at z = 1.
    ASSERT_EQ(Run(MakeQuadTube(4, 2), 0, 4), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_EQ(host->log.removedPolys.size(), 8u);
    EXPECT_TRUE(Unique(host->log.removedPolys)) << "the selected polygons go once";

    MeshData m = Result();
    EXPECT_EQ(MeshPolyCount(m), 12u);
    int strip = 0;
    for (size_t pi = 0; pi < MeshPolyCount(m); pi++) {
        bool onStrip = true;
        for (const P3 &c : Coords(m, MeshPolyPoints(m, pi)))
            onStrip = onStrip && (c[2] == 0.75 || c[2] == 1.25);
        strip += onStrip ? 1 : 0;
    }
    EXPECT_EQ(strip, 4);
    // The last quad joined to the first: only the tube's end rings are open.
    const std::vector<std::pair<P3, P3>> open = OpenEdges(m);
    EXPECT_EQ(MeshValidityFault(m, false), "");
    for (const auto &edge : open)
        EXPECT_TRUE(edge.first[2] == edge.second[2] && (edge.first[2] == 0 || edge.first[2] == 2))
            << "open edge at z = " << edge.first[2] << " .. " << edge.second[2];
    EXPECT_EQ(open.size(), 8u);
    // Four new points per side of the strip, nothing more.
    EXPECT_EQ(host->log.addedPoints.size(), 8u);
}

TEST(PairModeRing, FirstWalkClosesAndTheSecondIsNotRun)
{
    // Seven around: the ring closes after six steps. Records 0-13 are the
    // selected pair and six stepped pairs; a second walk would fill more.
    Session s(MakeQuadTube(7, 2));
    ASSERT_EQ(s.Bridge(0, 7), 0);
    EXPECT_EQ(s.model->polyCount, 14 + 7);
    EXPECT_NE(s.records[13].hostPoints, nullptr);
    EXPECT_EQ(s.records[14].hostPoints, nullptr);
    // The last polygon is the last quad, joined to the first quad (index 2).
    const BufPoly *first = BufModelGetPoly(s.model, 2);
    const BufPoly *last = BufModelGetPoly(s.model, s.model->polyCount - 1);
    EXPECT_EQ(last->points[0], first->points[1]);
    EXPECT_EQ(last->points[3], first->points[2]);
    EXPECT_EQ(s.host->log.removedPolys.size(), 14u);
    EXPECT_TRUE(Unique(s.host->log.removedPolys));
    EXPECT_TRUE(s.IndicesValid());
}

// ---- caps ---------------------------------------------------------------

// The cone's selected quads 0 and 1 share E -> r1. The walk from r1 ends at
// once (a border point); the walk from E ends at once too, and its cap closes
// the fan of quads k-1, k-2 ... 2. Which walk runs first depends on which
// quad the scan puts in slot 0: quad 0 first makes E the second walk's loop
// point, where the last quad is still the first quad, whose vertices 1 and 2
// stand for that end of the selected edge.
struct ConeCap {
    MeshData mesh;
    EmuPoly *last = nullptr;      // the committed bridge quad
    EmuPoly *cap = nullptr;       // the committed cap, if any
    std::vector<EmuPoly *> fans;  // committed re-shaped fan polygons
};

// Quad 1 listed before quad 0: slot 0 holds quad 1, and E is the first
// walk's loop point, at the last quad's vertices 0 and 3.
MeshData ApexFirst(MeshData mesh)
{
    std::vector<MeshFace> faces = MeshFacesOf(mesh);
    std::swap(faces[0], faces[1]);
    MeshSetFaces(&mesh, faces);
    return mesh;
}

ConeCap RunCone(PairMode *t, MeshData mesh, int k)
{
    ConeCap r;
    EXPECT_EQ(t->Run(mesh, 0, 1), HOST_ACTIVATE_OK);
    r.mesh = t->Result();
    std::vector<EmuPoly *> committed = CommittedPolys(t->host.get());
    // Commit order is the model's: the two copies, then the bridge quad.
    if (committed.size() < 3)
        return r;
    // Then the k - 2 re-shaped fan polygons, then the cap.
    r.last = committed[2];
    for (size_t n = 3; n < committed.size() && n < 3 + static_cast<size_t>(k - 2); ++n)
        r.fans.push_back(committed[n]);
    if (committed.size() == 3 + static_cast<size_t>(k - 2) + 1)
        r.cap = committed.back();
    return r;
}

TEST_F(PairMode, FiveCornersGetACapOfFourPointsInTheLastQuadsPlane)
{
    ConeCap r = RunCone(this, ApexFirst(MakeCone(5)), 5);
    ExpectKept();
    ASSERT_NE(r.last, nullptr);
    ASSERT_NE(r.cap, nullptr);
    EXPECT_EQ(r.fans.size(), 3u);
    EXPECT_EQ(r.cap->surface, "Cone");
    EXPECT_EQ(SortedRemoved(), Removed({0, 1, 2, 3, 4}));

    // The cap's first and last points are the last quad's vertices 3 and 0,
    // so it shares the edge from `in` to the last `out` with the quad.
    EXPECT_EQ(r.cap->points.front(), r.last->points[3]);
    EXPECT_EQ(r.cap->points.back(), r.last->points[0]);
    // In the plane of the last quad: through its vertex 0, normal to its
    // first three vertices. Tolerance: the cut points come from square roots
    // and from differences that snap each component to about 2^-20 of the
    // other two (model size 3).
    const P3 o = HostPosition(host.get(), r.last->points[0]);
    const P3 q1 = HostPosition(host.get(), r.last->points[1]);
    const P3 q2 = HostPosition(host.get(), r.last->points[2]);
    const P3 u = {o[0] - q1[0], o[1] - q1[1], o[2] - q1[2]};
    const P3 w = {q2[0] - q1[0], q2[1] - q1[1], q2[2] - q1[2]};
    const P3 n = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (LWPntID id : r.cap->points) {
        const P3 p = HostPosition(host.get(), id);
        const double d = ((p[0] - o[0]) * n[0] + (p[1] - o[1]) * n[1] + (p[2] - o[2]) * n[2]) / len;
        EXPECT_NEAR(d, 0.0, 1e-6) << "cap point " << id << " off the plane";
    }

    // Every fan quad had E as its point 0: it now starts with `out` and ends
    // with `in`, new points both, and keeps its own three corners.
    for (EmuPoly *f : r.fans) {
        EXPECT_TRUE(Contains(host->log.addedPoints, f->points.front()));
        EXPECT_TRUE(Contains(host->log.addedPoints, f->points.back()));
        for (size_t v = 1; v < 4; ++v)
            EXPECT_FALSE(Contains(host->log.addedPoints, f->points[v])) << "vertex " << v;
        EXPECT_EQ(f->surface, "Cone");
    }
    // The first fan polygon is quad 4 = (E, r4, s4, r0).
    EXPECT_EQ(r.fans[0]->points[1], PointId(host.get(), 5));
    EXPECT_EQ(r.fans[0]->points[2], PointId(host.get(), 10));
    EXPECT_EQ(r.fans[0]->points[3], PointId(host.get(), 1));

    // Around E the result is closed again; the open edges are the rim's.
    EXPECT_EQ(MeshValidityFault(r.mesh, false), "");
    for (const auto &edge : OpenEdges(r.mesh))
        EXPECT_EQ(edge.first[2], 0.0) << "open edge off the rim";
}

TEST_F(PairMode, SixCornersGetACapOfFivePoints)
{
    // The second walk caps E; its last quad is the first quad, which meets E
    // with its vertices 1 and 2.
    ConeCap r = RunCone(this, MakeCone(6), 6);
    ExpectKept();
    ASSERT_NE(r.cap, nullptr);
    EXPECT_EQ(r.cap->points.size(), 5u);
    EXPECT_EQ(r.fans.size(), 4u);
    EXPECT_EQ(r.cap->points.front(), r.last->points[1]);
    EXPECT_EQ(r.cap->points.back(), r.last->points[2]);
    EXPECT_EQ(MeshValidityFault(r.mesh, false), "");
}

TEST_F(PairMode, CapNameFollowsTheLastQuadUnlessAFanPolygonDiffers)
{
    MeshData mesh = MakeCone(5);
    mesh.polySurface[3] = MeshInternSurface(&mesh, "Other");
    ConeCap r = RunCone(this, mesh, 5);
    ASSERT_NE(r.cap, nullptr);
    EXPECT_EQ(r.cap->surface, "Default");
    EXPECT_EQ(r.last->surface, "Cone");
    ASSERT_EQ(r.fans.size(), 3u);
    EXPECT_EQ(r.fans[1]->surface, "Other") << "a fan polygon keeps its own name";
}

TEST_F(PairMode, LastQuadWithoutNameGivesTheCapDefault)
{
    MeshData mesh = MakeCone(5);
    mesh.polySurface[0] = MeshInternSurface(&mesh, "Left");
    mesh.polySurface[1] = MeshInternSurface(&mesh, "Right");
    ConeCap r = RunCone(this, mesh, 5);
    ASSERT_NE(r.cap, nullptr);
    EXPECT_FALSE(r.last->hasSurface);
    EXPECT_EQ(r.cap->surface, "Default");
}

TEST_F(PairMode, NameLongerThanTheCapBufferGivesTheCapDefault)
{
    const std::string longName(300, 'n');
    MeshData mesh = MakeCone(5, longName.c_str());
    ConeCap r = RunCone(this, mesh, 5);
    ExpectKept();
    ASSERT_NE(r.cap, nullptr);
    EXPECT_EQ(r.last->surface, longName);
    EXPECT_EQ(r.cap->surface, "Default");
    for (EmuPoly *f : r.fans)
        EXPECT_EQ(f->surface, longName);
}

// ---- surface names of the strip -------------------------------------------

TEST_F(PairMode, BridgeQuadTakesTheNameOnlyWhenBothPolygonsShareIt)
{
    MeshData grid = MakeQuadGrid(4, 3);
    grid.polySurface[5] = MeshInternSurface(&grid, "Row1");  // the selected pair differs
    grid.polySurface[9] = MeshInternSurface(&grid, "Row2");
    grid.polySurface[6] = MeshInternSurface(&grid, "Same");  // next pair towards +x agrees
    grid.polySurface[10] = MeshInternSurface(&grid, "Same");
    grid.polySurface[11] = kMeshNoSurface;  // pair at x = 3: one has none
    ASSERT_EQ(Run(grid, 5, 9), HOST_ACTIVATE_OK);
    MeshData m = Result();
    auto quadAt = [&](double x) {
        int k = FindPolyAt(m, {{x + 1, 2.25, 0}, {x, 2.25, 0}, {x, 1.75, 0}, {x + 1, 1.75, 0}});
        EXPECT_GE(k, 0) << "strip quad at x = " << x;
        return k < 0 ? MeshFace{} : MeshFacesOf(m)[static_cast<size_t>(k)];
    };
    EXPECT_FALSE(quadAt(1).hasSurface);
    EXPECT_EQ(quadAt(2).surface, "Same");
    EXPECT_FALSE(quadAt(3).hasSurface);
    int west = FindPolyAt(m, {{0, 1.75, 0}, {1, 1.75, 0}, {1, 2.25, 0}, {0, 2.25, 0}});
    ASSERT_GE(west, 0);
    EXPECT_EQ(MeshPolySurface(m, static_cast<size_t>(west)), "Default");
    // Re-shaped polygons keep their own names.
    int row2 = FindPolyAt(m, {{1, 2.25, 0}, {2, 2.25, 0}, {2, 3, 0}, {1, 3, 0}});
    ASSERT_GE(row2, 0);
    EXPECT_EQ(MeshPolySurface(m, static_cast<size_t>(row2)), "Row2");
}

// ---- meshes the mode was not made for -----------------------------------

TEST_F(PairMode, PairWithoutSharedEdgeChangesNothing)
{
    // -z and +z of a cube have no common edge.
    ASSERT_EQ(Run(MakeCube(), 0, 1), HOST_ACTIVATE_OK);
    ASSERT_EQ(host->log.doneCodes.size(), 1u);
    EXPECT_EQ(host->log.doneCodes[0], HOST_EDIT_DISCARD);
    ASSERT_EQ(host->log.messages.size(), 1u);
    EXPECT_EQ(host->log.messages[0].line1, kMsgNoSharedEdge);
    EXPECT_TRUE(host->log.removedPolys.empty());
    EXPECT_TRUE(host->log.addedPoints.empty());
    EXPECT_EQ(MeshPolyCount(Result()), 6u);
}

TEST(PairModeNoSharedEdge, SameDirectionIsRefusedBeforeAnythingIsBuilt)
{
    // Quad 1 of a 2 x 1 grid turned round: it holds the common edge the same
    // way as quad 0.
    MeshData grid = MakeQuadGrid(2, 1);
    std::vector<int> turned = MeshPolyPoints(grid, 1).ToVector();
    std::reverse(turned.begin(), turned.end());
    MeshSetFacePoints(&grid, 1, turned);
    Session s(grid);
    EXPECT_EQ(s.Bridge(0, 1), BRIDGE_NO_SHARED_EDGE);
    EXPECT_EQ(s.model->pointCount, 0);
    EXPECT_EQ(s.model->polyCount, 0);
    EXPECT_TRUE(s.host->log.removedPolys.empty());
    EXPECT_EQ(s.records[0].hostPoints, nullptr);

    // A selected polygon the host cannot describe counts the same.
    Session h(MakeQuadGrid(2, 1));
    h.host->script.hidePolys = {h.ids[1]};
    EXPECT_EQ(h.Bridge(0, 1), BRIDGE_NO_SHARED_EDGE);
    EXPECT_EQ(h.model->pointCount, 0);
}

TEST_F(PairMode, PolygonWithoutInfoEndsTheWalks)
{
    // The first unselected polygon in the list has no info: every neighbour
    // search stops there, so both walks end at once, without caps.
    MeshData grid = MakeQuadGrid(4, 3);
    grid.polySelected[5] = 1;
    grid.polySelected[9] = 1;
    ids = EmuHostAddMesh(host.get(), 1, grid);
    host->script.hidePolys = {ids[0]};
    host->script.pluginsDir = dir;
    host->script.bevelSize = 0.25;
    ASSERT_EQ(EmuHostRun(host.get(), Activate), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_EQ(SortedRemoved(), Removed({5, 9}));
    MeshData m = Result();
    EXPECT_EQ(MeshPolyCount(m), 13u);
    EXPECT_GE(FindPolyAt(m, {{2, 2.25, 0}, {1, 2.25, 0}, {1, 1.75, 0}, {2, 1.75, 0}}), 0);
}

TEST_F(PairMode, NeighbourThatIsTheSteppedPolygonItselfEndsTheWalk)
{
    // 3 x 2 grid without quad (2, 0), and quad (1, 0) made (1, 2, 6, 2, 6, 5):
    // it holds 2 -> 6 and 6 -> 2. The walk steps from the selected pair into
    // it and (1, 1); at the next loop point 6, with four corners, the polygon
    // across its own edge 2 -> 6 is itself.
    MeshData grid = MakeQuadGrid(3, 2);
    MeshSetFacePoints(&grid, 1, {1, 2, 6, 2, 6, 5});
    grid = MakeWithout(grid, {2});
    ASSERT_EQ(Run(grid, 0, 2), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_TRUE(Unique(host->log.removedPolys));
    EXPECT_EQ(SortedRemoved(), Removed({0, 1, 2, 3}));
    EXPECT_TRUE(Alive(4)) << "the walk went no further";
    // The input polygon that passes through 2 and 6 twice stays as it was.
    EXPECT_EQ(EdgeUseFault(Result(), false), "");
}

// A torus of three by three whose quads 0 and 1 are merged into a hexagon:
// the hexagon shares two edges with quad 2, and two of its corners lie on
// one edge loop.
TEST_F(PairMode, LoopsThroughAMergedPolygonCloseWhereTheyComeBack)
{
    const MeshData torus = MakeMerged(MakeTorus(3, 3), 0, 1);
    // Through quads 6 and 7 the loop runs into the hexagon and quad 2 across
    // one of their two shared edges; it must step along the one at the loop
    // point and come round to the selected pair as a ring.
    ASSERT_EQ(Run(torus, 6, 7), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_TRUE(Unique(host->log.removedPolys));
    MeshData ring = Result();
    EXPECT_EQ(MeshValidityFault(ring, true), "");
    EXPECT_EQ(MeshPolyCount(ring), MeshPolyCount(torus) + 3u) << "three strip quads, no cap";
    EXPECT_EQ(host->log.addedPoints.size(), 6u);

    // With the hexagon selected the first walk comes back to it at another
    // of its corners: the hexagon is cut there too, by the cap that waits
    // for the second walk.
    host = EmuHostCreate();
    ASSERT_EQ(Run(torus, 0, 6), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_TRUE(Unique(host->log.removedPolys));
    EXPECT_EQ(MeshValidityFault(Result(), true), "");
}

TEST_F(PairMode, SecondWalkStopsAtPolygonsTheFirstWalksCapTookOver)
{
    // Six around, two rows, the middle ring widened (so that the cap's plane
    // cuts the edges about E); quad 0 of row 0 split by an edge from the
    // ring point E = 6 down to a new border point M: E has five corners.
    // The first walk runs from column 3 through columns 4 and 5 to E, whose
    // cap re-shapes the polygons about E; the second walk runs the other way
    // round and reaches those same polygons from the other side.
    MeshData tube = MakeQuadTube(6, 2);
    for (int k = 6; k < 12; ++k) {
        tube.points[static_cast<size_t>(k)][0] *= 1.5;
        tube.points[static_cast<size_t>(k)][1] *= 1.5;
    }
    const int m = static_cast<int>(tube.points.size());
    tube.points.push_back({0.5 * (1.0 + std::cos(M_PI / 3)), 0.5 * std::sin(M_PI / 3), 0.0});
    MeshSetFacePoints(&tube, 0, {m, 1, 7, 6});
    MeshPutFace(&tube, MeshFace{{0, m, 6}, "Default", true, false});
    ASSERT_EQ(Run(tube, 3, 9), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_TRUE(Unique(host->log.removedPolys)) << "no polygon removed twice";
    MeshData result = Result();
    EXPECT_EQ(MeshValidityFault(result, false), "") << "no polygon committed twice";
    // Every polygon of the tube was replaced once: the two walks' pairs
    // (columns 1 to 5) and the cap's fan (row 1 column 0, both halves of
    // row 0 column 0).
    EXPECT_EQ(host->log.removedPolys.size(), 13u);
    // Each replaced once, five strip quads, the cap at E, and the triangle
    // that caps the second walk where the taken polygons stopped it: had the
    // second walk stepped into them, their copies would be here twice.
    EXPECT_EQ(MeshPolyCount(result), 13u + 5u + 2u);
    // The only open edges are the tube's own borders.
    for (const auto &edge : OpenEdges(result))
        EXPECT_TRUE(edge.first[2] == edge.second[2] && (edge.first[2] == 0.0 || edge.first[2] == 2.0))
            << "open edge from z = " << edge.first[2] << " to z = " << edge.second[2];
}

TEST_F(PairMode, FanPolygonTooLargeForTheCapStorageIsLeftAlone)
{
    // The -x face of a cube (0, 4, 6, 2) with extra points along its edge
    // 2 -> 0: it is the fan polygon at the end point 6 of the second walk.
    auto cubeWithSide = [](int sidePoints) {
        MeshData cube = MakeCube();
        std::vector<int> side = {0, 4, 6, 2};
        for (int k = 1; k <= sidePoints - 4; ++k) {
            side.push_back(static_cast<int>(cube.points.size()));
            cube.points.push_back({0.0, 1.0 - k / double(sidePoints - 3), 0.0});
        }
        MeshSetFacePoints(&cube, 4, side);
        return cube;
    };
    // 254 points with E replaced by two make 255: it fits.
    ASSERT_EQ(Run(cubeWithSide(254), 1, 3), HOST_ACTIVATE_OK);
    ExpectKept();
    EXPECT_FALSE(Alive(4));
    std::vector<EmuPoly *> big = CommittedPolys(host.get());
    EXPECT_TRUE(std::any_of(big.begin(), big.end(), [](EmuPoly *p) { return p->points.size() == 255; }));

    // 255 points do not: the cap cannot close that end, and the run says so
    // rather than leave it open.
    PairMode::TearDown();
    host = EmuHostCreate();
    dir = MakeTempDir("pairmode");
    ASSERT_EQ(Run(cubeWithSide(255), 1, 3), HOST_ACTIVATE_OK);
    ExpectUnfinishedFan();
}

TEST_F(PairMode, FanTooLargeForTheCapStorageChangesNothing)
{
    // 300 corners at the apex: 298 fan polygons, of which 254 fit the cap's
    // list. Cutting those and stopping would leave a hole no cap closes; the
    // fan is planned whole first, so none is cut.
    ASSERT_EQ(Run(MakeCone(300), 0, 1), HOST_ACTIVATE_OK);
    ExpectUnfinishedFan();
}

// ---- a full output model ------------------------------------------------

// Fills the model up to `free` points (or polygons) below its limits, then
// builds the bridge: whatever is refused, no buffered polygon may name a
// point that does not exist, and the refusal must be counted.
void RunNearlyFull(const MeshData &mesh, int a, int b, int freePoints, int freePolys)
{
    Session s(mesh);
    const Vec3 origin = {0.0, 0.0, 0.0};
    while (s.model->pointCount < BUFMODEL_MAX_POINTS - freePoints)
        BufModelAddPoint(s.model, &origin);
    if (freePolys >= 0) {
        const int32_t tri[3] = {0, 1, 2};
        while (s.model->polyCount < BUFMODEL_MAX_POLYS - freePolys)
            BufModelAddPoly(s.model, nullptr, 3, tri);
    }
    const int before = s.model->polyCount;
    ASSERT_EQ(s.Bridge(a, b), 0);
    EXPECT_TRUE(s.IndicesValid()) << freePoints << " points, " << freePolys << " polygons free";
    if (s.model->refusedAdds == 0) {
        EXPECT_GT(s.model->polyCount, before);
    }
}

TEST(PairModeFullModel, RefusedAddsAreNeverUsedAsIndices)
{
    for (int f = 0; f < 90; f += 3)
        RunNearlyFull(MakeCone(5), 0, 1, f, -1);
    for (int f = 0; f < 80; f += 5)
        RunNearlyFull(MakeQuadTube(5, 2), 0, 5, f, -1);
    for (int f = 0; f < 14; ++f) {
        RunNearlyFull(MakeCone(5), 0, 1, 100, f);
        RunNearlyFull(MakeQuadTube(5, 2), 0, 5, 100, f);
    }
}

TEST_F(PairMode, FullModelDiscardsTheEdit)
{
    // Through the activation: two half discs of 40000 points each share
    // their diameter, so their copies alone overflow the model. Each starts
    // with the diameter, which keeps the search for it short.
    MeshData mesh;
    const int n = 40000;
    for (int k = 0; k < n; ++k) {  // upper half, (1, 0) to (-1, 0)
        double a = M_PI * k / (n - 1);
        mesh.points.push_back({std::cos(a), std::sin(a), 0.0});
    }
    for (int k = 1; k < n - 1; ++k) {  // lower half, without the ends
        double a = M_PI + M_PI * k / (n - 1);
        mesh.points.push_back({std::cos(a), std::sin(a), 0.0});
    }
    MeshFace top, bottom;
    top.points.push_back(n - 1);
    for (int k = 0; k < n - 1; ++k)
        top.points.push_back(k);
    bottom.points = {0, n - 1};
    for (int k = 1; k < n - 1; ++k)
        bottom.points.push_back(n - 1 + k);
    top.surface = bottom.surface = "Default";
    MeshSetFaces(&mesh, {top, bottom});
    ASSERT_EQ(Run(mesh, 0, 1), HOST_ACTIVATE_OK);
    ASSERT_EQ(host->log.doneCodes.size(), 1u);
    EXPECT_EQ(host->log.doneCodes[0], HOST_EDIT_DISCARD);
    ASSERT_EQ(host->log.messages.size(), 1u);
    EXPECT_EQ(host->log.messages[0].line1, kMsgModelFull);
    EXPECT_TRUE(Alive(0));
    EXPECT_TRUE(Alive(1));
}

// ---- what the mode relies on from the host --------------------------------

TEST(PairModeHostContract, RemovedPolygonStillAnswersAsItWasAtTheBegin)
{
    Session s(MakeCube());
    double before[3], after[3];
    ASSERT_EQ(s.edit->polyNormal(s.edit->state, s.ids[1], before), 1);
    const HostPolygonInfo *info = s.edit->polyInfo(s.edit->state, s.ids[1]);
    ASSERT_NE(info, nullptr);
    const std::vector<LWPntID> points(info->points, info->points + info->numPnts);

    EXPECT_EQ(s.edit->remPoly(s.edit->state, s.ids[1]), 0);
    info = s.edit->polyInfo(s.edit->state, s.ids[1]);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::vector<LWPntID>(info->points, info->points + info->numPnts), points);
    ASSERT_EQ(s.edit->polyNormal(s.edit->state, s.ids[1], after), 1);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);
    // So the neighbour searches still see it.
    std::vector<LWPolID> list = s.List(1, 3);
    EXPECT_EQ(FindPolyByEdge(&s.ctx, nullptr, list.data(), 6, PointId(s.host.get(), 7),
                             PointId(s.host.get(), 6)),
              s.ids[1]);
}

}  // namespace
