// The output model's limits: 65,536 points and 65,536 polygons. A result that
// does not fit must end the edit with no change and the message that names
// the limit, whichever pass runs out of room (the copy, the strips, the
// corner patches, the corner cuts, the bridge quads, the caps); one that just
// fits is committed whole. Each case is built to land exactly on the limit
// and one past it.
//
// Through the activation where a mesh can get there; pass by pass, with the
// model filled up beforehand, where no mesh the activation accepts can (the
// strips: see StripsCannotOverflowThroughTheActivation).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "bufmodel/bufmodel.h"
#include "host/host.h"
#include "meshgen/meshgen.h"
#include "objectmode/objectmode.h"
#include "options/options.h"
#include "pairmode/pairmode.h"
#include "plugin/activate.h"
#include "tests/files.h"
#include "tests/fixtures.h"
#include "tests/testcontext.h"

namespace {

const int kLimit = BUFMODEL_MAX_POINTS;
static_assert(BUFMODEL_MAX_POINTS == BUFMODEL_MAX_POLYS, "one limit for both tables");

MeshFace Poly(std::vector<int> points, const char *surface = "Default")
{
    MeshFace p;
    p.points = std::move(points);
    p.surface = surface;
    return p;
}

// n disjoint tetrahedra (4 faces, 6 strips, 4 corner patches each: 14
// polygons from 12 corners, the densest closed mesh there is), then `lone`
// separate triangles (one polygon each, no strip, no patch), then `loose`
// one-point polygons (one buffered point each, no polygon).
MeshData Tetrahedra(int n, int lone, int loose = 0)
{
    MeshData mesh;
    for (int t = 0; t < n; t++) {
        double x = 3.0 * (t % 128), y = 3.0 * (t / 128);
        int b = (int)mesh.points.size();
        mesh.points.push_back({x, y, 0});
        mesh.points.push_back({x + 1, y, 0});
        mesh.points.push_back({x, y + 1, 0});
        mesh.points.push_back({x, y, 1});
        for (std::vector<int> f : std::vector<std::vector<int>>{{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}}) {
            for (int &v : f)
                v += b;
            MeshPutFace(&mesh, Poly(f));
        }
    }
    for (int t = 0; t < lone; t++) {
        int b = (int)mesh.points.size();
        double z = 10.0 + t;
        mesh.points.push_back({0, 0, z});
        mesh.points.push_back({1, 0, z});
        mesh.points.push_back({0, 1, z});
        MeshPutFace(&mesh, Poly({b, b + 1, b + 2}));
    }
    for (int t = 0; t < loose; t++) {
        mesh.points.push_back({-5.0 - t, 0, 0});
        MeshPutFace(&mesh, Poly({(int)mesh.points.size() - 1}));
    }
    return mesh;
}

// Two polygons of n0 and n1 points sharing the edge from (0, 0, 0) to
// (1, 0, 0) (the first holds 0 -> 1, the second 1 -> 0), each closed by an
// arc of points on its own side, both counter-clockwise seen from +z.
// Nothing else touches them, so the two-polygon mode copies them, detaches
// the edge and adds one quad.
MeshData BigPair(int n0, int n1)
{
    MeshData mesh;
    mesh.points.push_back({0, 0, 0});
    mesh.points.push_back({1, 0, 0});
    MeshFace a = Poly({0, 1}), b = Poly({1, 0});
    for (int k = 0; k < n0 - 2; k++) {
        double t = M_PI * (k + 1) / (n0 - 1);
        mesh.points.push_back({0.5 + 0.5 * std::cos(t), 0.5 * std::sin(t), 0});
        a.points.push_back((int)mesh.points.size() - 1);
    }
    for (int k = 0; k < n1 - 2; k++) {
        double t = M_PI * (k + 1) / (n1 - 1);
        mesh.points.push_back({0.5 - 0.5 * std::cos(t), -0.5 * std::sin(t), 0});
        b.points.push_back((int)mesh.points.size() - 1);
    }
    a.selected = b.selected = true;
    MeshSetFaces(&mesh, {a, b});
    return mesh;
}

// ---- through the activation ------------------------------------------------

struct Limits : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::string dir = MakeTempDir("limits");
    size_t polysBefore = 0;

    void TearDown() override { RemoveSettingsDir(dir); }
    void Run(const MeshData &mesh, int layer, double size = 0.125, int angleMode = 0, double limitDeg = 90.0)
    {
        host->script.pluginsDir = dir;
        host->script.bevelSize = size;
        host->script.angleMode = angleMode;
        host->script.limitAngleRad = limitDeg * 0.017453292519943278;
        EmuHostAddMesh(host.get(), layer, mesh);
        polysBefore = host->polys.size();
        ASSERT_EQ(EmuHostRun(host.get(), Activate), HOST_ACTIVATE_OK);
        ASSERT_EQ(host->log.doneCodes.size(), 1u) << "the edit is ended exactly once";
    }
    // Committed whole: kept, no message, `polys` new polygons alive.
    void ExpectCommitted(size_t polys)
    {
        EXPECT_EQ(host->log.doneCodes[0], HOST_EDIT_KEEP);
        EXPECT_TRUE(host->log.messages.empty());
        EXPECT_EQ(host->log.addedPolys.size(), polys);
        EXPECT_EQ(host->log.rejectedFaces, 0);
    }
    // Refused: discarded, the host as it was, and the one message.
    void ExpectRefused(const char *message)
    {
        EXPECT_EQ(host->log.doneCodes[0], HOST_EDIT_DISCARD);
        ASSERT_EQ(host->log.messages.size(), 1u);
        EXPECT_FALSE(host->log.messages[0].error);
        EXPECT_EQ(host->log.messages[0].line1, message);
        EXPECT_EQ(host->polys.size(), polysBefore) << "nothing added survives the discard";
        for (const auto &p : host->polys)
            EXPECT_TRUE(p->alive) << "nothing was removed";
    }
};

TEST_F(Limits, MessagesNameTheLimit)
{
    EXPECT_NE(std::string(kMsgModelFull).find("65536 points\nor 65536 polygons"), std::string::npos);
    EXPECT_NE(std::string(kMsgTooManyCorners).find("more than 65536"), std::string::npos);
    EXPECT_NE(std::string(kMsgModelFull).find("Nothing was changed."), std::string::npos);
}

// The copy: one buffered point per polygon corner. 16384 quads are 65536
// corners, exactly the point table; one more corner is refused after the
// list scan, before anything is added.
TEST_F(Limits, CopyOfExactlyTheCornerLimitFits)
{
    Run(MakeQuadGrid(16384, 1), HOST_LAYER_BACKGROUND);
    // 16384 faces. The strips, 0.25 wide, are within the weld's distance of
    // a grid this long (its diagonal / 65536, 0.25): each is its edge twice
    // and is left out. No inner point has the three polygons a patch needs.
    ExpectCommitted(16384);
}

TEST_F(Limits, CopyOfOneCornerMoreIsRefusedBeforeAnythingIsAdded)
{
    MeshData mesh = MakeQuadGrid(16384, 1);
    mesh.points.push_back({-1, -1, -1});
    MeshPutFace(&mesh, Poly({(int)mesh.points.size() - 1}));
    Run(mesh, HOST_LAYER_BACKGROUND);
    ExpectRefused(kMsgTooManyCorners);
    EXPECT_TRUE(host->log.addedPoints.empty());
}

// The corner patches: 4681 tetrahedra are 65534 polygons with their strips
// and patches; two lone triangles make 65536, three make one too many, and
// the polygon refused is the last corner patch.
TEST_F(Limits, PatchesUpToTheLimitFit)
{
    Run(Tetrahedra(4681, 2), HOST_LAYER_BACKGROUND);
    ExpectCommitted(kLimit);
}

TEST_F(Limits, OnePatchTooManyIsRefusedWhole)
{
    Run(Tetrahedra(4681, 3), HOST_LAYER_BACKGROUND);
    ExpectRefused(kMsgModelFull);
}

// The strips cannot overflow through the activation: a strip needs two edge
// records and a polygon at least three corners, so copies and strips take at
// most 65536 / 3 + 65536 / 2 polygons, well under the table. The most they
// can take, at the corner limit, is committed.
TEST_F(Limits, StripsCannotOverflowThroughTheActivation)
{
    // 5461 tetrahedra: 65532 corners, 21844 faces and 32766 strips fit; the
    // angle-limited corner patches (every angle passes "more than 0", so no
    // corner is cut) add 21844 more than the table holds.
    Run(Tetrahedra(5461, 0), HOST_LAYER_BACKGROUND, 0.125, ANGLE_MODE_GT, 0.0);
    ExpectRefused(kMsgModelFull);
}

// The corner cuts: in the angle-limited mode, where the polygons about a
// point do not close into one fan, a polygon whose corner was not chamfered
// is cut by the patch's plane, two new points per cut. A cube whose -z face
// is a fan of three triangles, with a triangle hanging from the fan's corner
// by that point alone, gets one cut (see the corner patch tests); one-point
// polygons fill the point table up to it.
MeshData CutCube(int loose)
{
    MeshData mesh = HangingFanCube(1.0);
    // Near the cube, so that the box the tolerances come from stays its own.
    for (int t = 0; t < loose; t++) {
        mesh.points.push_back({-5.0 - (t % 4), 0, 0});
        MeshPutFace(&mesh, Poly({(int)mesh.points.size() - 1}));
    }
    return mesh;
}

int Corners(const MeshData &mesh)
{
    int n = 0;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        n += (int)p.size();
    }
    return n;
}

TEST_F(Limits, CutsUpToTheLimitFit)
{
    // Measured on the bare mesh: the buffered points beyond its corners are
    // the cut points.
    auto bare = EmuHostCreate();
    bare->script.pluginsDir = dir;
    bare->script.bevelSize = 0.125;
    bare->script.angleMode = ANGLE_MODE_LT;
    bare->script.limitAngleRad = 135.0 * 0.017453292519943278;
    EmuHostAddMesh(bare.get(), HOST_LAYER_BACKGROUND, CutCube(0));
    EmuHostRun(bare.get(), Activate);
    ASSERT_EQ(bare->log.doneCodes.at(0), HOST_EDIT_KEEP);
    const size_t committed = bare->log.addedPolys.size();

    int corners = Corners(CutCube(0));
    int cutPoints = 2;  // one cut
    Run(CutCube(kLimit - corners - cutPoints), HOST_LAYER_BACKGROUND, 0.125, ANGLE_MODE_LT, 135.0);
    ExpectCommitted(committed);
}

TEST_F(Limits, OneCutPointTooManyIsRefusedWhole)
{
    int corners = Corners(CutCube(0));
    Run(CutCube(kLimit - corners - 1), HOST_LAYER_BACKGROUND, 0.125, ANGLE_MODE_LT, 135.0);
    ExpectRefused(kMsgModelFull);
}

// The two-polygon mode copies both polygons (one point per corner) and
// detaches their shared edge (two new points each): n0 + n1 + 4 points.
TEST_F(Limits, PairUpToTheLimitFits)
{
    Run(BigPair(32766, 32766), HOST_LAYER_FOREGROUND);
    ExpectCommitted(3);
    EXPECT_EQ(host->log.removedPolys.size(), 2u);
}

TEST_F(Limits, PairOnePointOverAtTheDetachIsRefusedWhole)
{
    Run(BigPair(32767, 32766), HOST_LAYER_FOREGROUND);
    ExpectRefused(kMsgModelFull);
}

TEST_F(Limits, PairOverAtTheCopyIsRefusedWhole)
{
    Run(BigPair(32769, 32768), HOST_LAYER_FOREGROUND);
    ExpectRefused(kMsgModelFull);
}

// ---- pass by pass, the model filled up beforehand ------------------------------

// An edit on a host holding `mesh` in `layer`, an output model bound to it,
// filled with `points` ballast points and `polys` ballast triangles first.
struct Filled : EditSession {
    PairWork pair{};

    Filled(const MeshData &mesh, int layer, int points, int polys)
    {
        EXPECT_TRUE(Begin(mesh, layer));
        // The filler stays near the mesh, so that the model's box, and the
        // tolerance within which positions are one point, is about the
        // mesh's own.
        for (int k = 0; k < points; k++) {
            Vec3 p = {-1.0 - (k % 4), 0.0, 0.0};
            BufModelAddPoint(model, &p);
        }
        const int32_t tri[3] = {0, 1, 2};
        for (int k = 0; k < polys; k++)
            BufModelAddPoly(model, nullptr, 3, tri);
    }
    // The object-mode passes up to the strips; returns the edge count.
    int Strips(LineInfo **edges, double size)
    {
        GetPolyInfo(&ctx, (int)ids.size(), ids.data(), records.data());
        int m = LineListPass(&ctx, (int)ids.size(), records.data(), edges);
        LineInfoPass(&ctx, m, *edges);
        MakeLineCorvanePoly(&ctx, nullptr, m, *edges, size);
        return m;
    }
    static int Collect(void *data, const HostPointInfo *info)
    {
        ((std::vector<void *> *)data)->push_back(info->pnt);
        return 0;
    }
    void Patches(int m, LineInfo *edges, bool limited)
    {
        std::vector<void *> pointIds;
        edit->pointScan(edit->state, Collect, &pointIds, HOST_LAYER_BACKGROUND);
        IdList list{(int32_t)pointIds.size(), (int32_t)pointIds.size(), pointIds.data()};
        if (limited)
            PointCorvaneLimited(&ctx, nullptr, &list, m, edges);
        else
            PointCorvane(&ctx, nullptr, &list, m, edges);
    }
};

// Each pass below runs twice: with the model filled so that what it adds
// lands exactly on the limit (nothing refused), and with one more (refused,
// and still no polygon names a point that was never added).
TEST(LimitsByPass, StripsFillThePolygonTableToTheLastOne)
{
    // The cube: 6 copies, then 12 strips.
    for (int extra : {0, 1}) {
        Filled f(MakeCube(), HOST_LAYER_BACKGROUND, 3, kLimit - 6 - 12 + extra);
        LineInfo *edges = nullptr;
        f.Strips(&edges, 0.125);
        EXPECT_EQ(f.model->polyCount, kLimit) << extra;
        EXPECT_EQ(f.model->refusedAdds, extra) << extra;
        EXPECT_TRUE(f.IndicesValid());
        free(edges);
    }
}

TEST(LimitsByPass, PatchesFillThePolygonTableToTheLastOne)
{
    // The cube: 6 copies, 12 strips, then 8 corner patches, plain and limited.
    for (bool limited : {false, true}) {
        for (int extra : {0, 1}) {
            Filled f(MakeCube(), HOST_LAYER_BACKGROUND, 3, kLimit - 26 + extra);
            LineInfo *edges = nullptr;
            int m = f.Strips(&edges, 0.125);
            ASSERT_EQ(f.model->refusedAdds, 0);
            f.Patches(m, edges, limited);
            EXPECT_EQ(f.model->polyCount, kLimit) << extra;
            EXPECT_EQ(f.model->refusedAdds, extra) << limited << " " << extra;
            EXPECT_TRUE(f.IndicesValid());
            free(edges);
        }
    }
}

TEST(LimitsByPass, CutThatDoesNotFitLeavesItsPolygonAlone)
{
    // One cut, two points. With room for one only, the polygon it would
    // have re-shaped keeps its corner.
    const MeshData mesh = CutCube(0);
    const int corners = Corners(mesh);
    std::vector<int> counts;
    for (int room : {2, 1}) {
        Filled f(mesh, HOST_LAYER_BACKGROUND, kLimit - corners - room, 0);
        GetPolyInfo(&f.ctx, (int)f.ids.size(), f.ids.data(), f.records.data());
        LineInfo *edges = nullptr;
        int m = LineListPass(&f.ctx, (int)f.ids.size(), f.records.data(), &edges);
        LineInfoPass(&f.ctx, m, edges);
        Settings settings{SETTINGS_FORMAT_TAG, 0, 0.125, 135.0, ANGLE_MODE_LT, 0};
        MakeLineCorvanePolyLimited(&f.ctx, nullptr, m, edges, &settings);
        const int c2 = 6;  // the middle triangle of the fan: its corner is cut
        const int c2Poly = f.records[c2].polyIndex;
        const int before = f.model->polyTable[c2Poly]->count;
        f.Patches(m, edges, true);
        counts.push_back(f.model->polyTable[c2Poly]->count);
        if (room == 2) {
            EXPECT_EQ(f.model->refusedAdds, 0);
            EXPECT_EQ(f.model->pointCount, kLimit);
            EXPECT_EQ(counts.back(), before + 1) << "the corner became two points";
        } else {
            EXPECT_GE(f.model->refusedAdds, 1);
            EXPECT_EQ(counts.back(), before) << "left as it was";
        }
        EXPECT_TRUE(f.IndicesValid());
        free(edges);
    }
}

TEST(LimitsByPass, BridgeQuadsFillThePolygonTableToTheLastOne)
{
    // A tube of 6 x 3, two quads of its middle row selected: the selected
    // pair and the pairs the walk steps into. Measured on an empty model
    // first.
    MeshData tube = MakeQuadTube(6, 3);
    auto list = [](const Filled &f) {
        std::vector<LWPolID> l = {f.ids[6], f.ids[7]};
        for (size_t k = 0; k < f.ids.size(); ++k)
            if (k != 6 && k != 7)
                l.push_back(f.ids[k]);
        return l;
    };
    int polys = 0, points = 0;
    {
        Filled f(tube, HOST_LAYER_FOREGROUND, 0, 0);
        std::vector<LWPolID> l = list(f);
        BuildBridge(&f.ctx, &f.pair, (int)l.size(), l.data(), f.records.data(), 0.125);
        ASSERT_EQ(f.model->refusedAdds, 0);
        polys = f.model->polyCount;
        points = f.model->pointCount;
        ASSERT_GT(polys, 3) << "the walk went beyond the selected pair";
    }
    // The last quad is the last polygon added: the polygon table full there.
    for (int extra : {0, 1}) {
        Filled f(tube, HOST_LAYER_FOREGROUND, 3, kLimit - polys + extra);
        std::vector<LWPolID> l = list(f);
        BuildBridge(&f.ctx, &f.pair, (int)l.size(), l.data(), f.records.data(), 0.125);
        EXPECT_EQ(f.model->refusedAdds > 0, extra == 1) << extra;
        EXPECT_TRUE(f.IndicesValid());
    }
    // And the points: the last detached edge's second point.
    for (int extra : {0, 1}) {
        Filled f(tube, HOST_LAYER_FOREGROUND, kLimit - points + extra, 1);
        std::vector<LWPolID> l = list(f);
        BuildBridge(&f.ctx, &f.pair, (int)l.size(), l.data(), f.records.data(), 0.125);
        EXPECT_EQ(f.model->refusedAdds > 0, extra == 1) << extra;
        EXPECT_TRUE(f.IndicesValid());
    }
}

}  // namespace
