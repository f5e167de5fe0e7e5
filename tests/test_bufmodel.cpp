// The output model: the store's records and limits, and the flush through the
// emulated host (weld, used points, commit under the monitor, abort).
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <float.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "bufmodel/bufmodel.h"
#include "host/host.h"
#include "meshgen/meshgen.h"
#include "tests/testcontext.h"

namespace {

// ---- store tests: handles only need to be non-null ----------------------

HostMeshEditOp g_dummyEdit;
HostMonitorService g_dummyMonitors;
HostMessageService g_dummyMessages;

struct ModelFree {
    void operator()(BufModel *m) const { free(m); }
};
using ModelPtr = std::unique_ptr<BufModel, ModelFree>;

// The model is large: always on the heap, zeroed so that no monitor is open.
ModelPtr NewModel()
{
    return ModelPtr(static_cast<BufModel *>(calloc(1, sizeof(BufModel))));
}

// An initialised store that releases its records when the test ends.
struct Store {
    ModelPtr model = NewModel();
    EditContext ctx{};
    Store()
    {
        EXPECT_EQ(InitTestContext(&ctx, model.get(), &g_dummyEdit, &g_dummyMonitors, &g_dummyMessages), 0);
    }
    ~Store() { BufModelRelease(model.get()); }
    BufModel *operator->() { return model.get(); }
    BufModel *get() { return model.get(); }
};

int AddPoint(BufModel *m, double x, double y, double z)
{
    Vec3 p = {x, y, z};
    return BufModelAddPoint(m, &p);
}

int AddPoly(BufModel *m, std::vector<int32_t> points, const char *surface = nullptr)
{
    return BufModelAddPoly(m, surface, static_cast<int>(points.size()), points.data());
}

void ExpectVec(const Vec3 &v, double x, double y, double z, const char *what)
{
    EXPECT_EQ(v.x, x) << what;
    EXPECT_EQ(v.y, y) << what;
    EXPECT_EQ(v.z, z) << what;
}

// ---- flush tests: a model bound to an emulated host's edit -------------

struct Flush {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    ModelPtr model = NewModel();
    EditContext ctx{};
    bool flushed = false;

    // Script changes (monitor failures, aborts) must be made before Bind.
    void Bind()
    {
        EmuHostMakeCurrent(host.get());
        HostMeshEditOp *edit = EmuEditBegin(0, 0, HOST_MODE_ALL);
        ASSERT_NE(edit, nullptr);
        auto *monitors = static_cast<HostMonitorService *>(EmuGlobal(HOST_MONITOR_SERVICE, 0));
        auto *messages = static_cast<HostMessageService *>(EmuGlobal(HOST_MESSAGE_SERVICE, 0));
        ASSERT_EQ(InitTestContext(&ctx, model.get(), edit, monitors, messages), 0);
    }
    int Run()
    {
        flushed = true;
        return BufModelFlush(ctx.model, &ctx.services);
    }
    ~Flush()
    {
        if (!flushed)
            BufModelRelease(model.get());
    }
    BufModel *get() { return model.get(); }

    // Host ids of the committed polygon `n` (in commit order).
    std::vector<LWPntID> FacePoints(size_t n)
    {
        EXPECT_LT(n, host->log.addedPolys.size());
        if (n >= host->log.addedPolys.size())
            return {};
        return EmuHostPoly(host.get(), host->log.addedPolys[n])->points;
    }
    double HostX(LWPntID id) { return EmuHostPoint(host.get(), id)->info.position[0]; }
    LWPntID Created(size_t n) { return host->log.addedPoints.at(n); }
};

// An existing host point (in the background layer) for host id tests.
LWPntID ExistingHostPoint(EmuHost *host)
{
    MeshData mesh;
    mesh.points = {{100, 0, 0}, {101, 0, 0}, {100, 1, 0}};
    MeshPutFace(&mesh, MeshFace{{0, 1, 2}, "bg", true, false});
    EmuHostAddMesh(host, 2, mesh);
    return host->points[0]->info.pnt;
}

}  // namespace

// ---- store ---------------------------------------------------------------

TEST(BufModelStore, InitRefusesMissingHandlesAndEmptiesTables)
{
    ModelPtr m = NewModel();
    m->pointCount = 7;
    m->refusedAdds = 3;
    EditContext ctx{};
    EXPECT_EQ(BufModelInit(nullptr), -1);
    EXPECT_EQ(EditContextInit(nullptr, &g_dummyEdit, &g_dummyMonitors, &g_dummyMessages, m.get()), -1);
    EXPECT_EQ(EditContextInit(&ctx, nullptr, &g_dummyMonitors, &g_dummyMessages, m.get()), -1);
    EXPECT_EQ(EditContextInit(&ctx, &g_dummyEdit, nullptr, &g_dummyMessages, m.get()), -1);
    EXPECT_EQ(EditContextInit(&ctx, &g_dummyEdit, &g_dummyMonitors, nullptr, m.get()), -1);
    EXPECT_EQ(m->pointCount, 7) << "a refused init changes nothing";
    EXPECT_EQ(ctx.services.edit, nullptr);

    EXPECT_EQ(InitTestContext(&ctx, m.get(), &g_dummyEdit, &g_dummyMonitors, &g_dummyMessages), 0);
    EXPECT_EQ(m->pointCount, 0);
    EXPECT_EQ(m->polyCount, 0);
    EXPECT_EQ(m->refusedAdds, 0);
    EXPECT_EQ(m->recordLimit, BUFMODEL_MAX_POINTS) << "the host's limit unless one is set";
    EXPECT_EQ(ctx.services.edit, &g_dummyEdit);
    EXPECT_EQ(ctx.model, m.get());
    EXPECT_EQ(BufModelGetPoint(m.get(), 0), nullptr);
    EXPECT_EQ(BufModelGetPoint(nullptr, 0), nullptr);
    EXPECT_EQ(BufModelGetPoly(nullptr, 0), nullptr);
}

TEST(BufModelStore, BoundingBoxGrowsStrictlyFromTheFirstPoint)
{
    Store s;
    // The box is left from before init; the first point overrides both corners.
    s->boxMax = {-100, -100, -100};
    s->boxMin = {100, 100, 100};
    EXPECT_EQ(AddPoint(s.get(), 5, 0, -2), 0);
    ExpectVec(s->boxMax, 5, 0, -2, "first max");
    ExpectVec(s->boxMin, 5, 0, -2, "first min");
    EXPECT_EQ(AddPoint(s.get(), 1, 3, -2), 1);
    EXPECT_EQ(AddPoint(s.get(), 7, -1, -4), 2);
    ExpectVec(s->boxMax, 7, 3, -2, "widened max");
    ExpectVec(s->boxMin, 1, -1, -4, "widened min");

    // Strict tests: -0.0 equals 0.0, so it must not replace the stored +0.0.
    Store z;
    AddPoint(z.get(), 0, 0, 0);
    AddPoint(z.get(), -0.0, -0.0, -0.0);
    EXPECT_FALSE(signbit(z->boxMin.x) || signbit(z->boxMin.y) || signbit(z->boxMin.z));
    EXPECT_FALSE(signbit(z->boxMax.x) || signbit(z->boxMax.y) || signbit(z->boxMax.z));

    // Moving a point in place does not touch the box.
    BufModelGetPoint(s.get(), 0)->position = {50, 50, 50};
    ExpectVec(s->boxMax, 7, 3, -2, "after move");

    BufPoint *p = BufModelGetPoint(s.get(), 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->hostId, nullptr);
    ExpectVec(p->position, 1, 3, -2, "stored position");
    EXPECT_EQ(BufModelGetPoint(s.get(), 3), nullptr) << "index equal to the count";
    EXPECT_EQ(BufModelAddPoint(s.get(), nullptr), -1);
    EXPECT_EQ(s->pointCount, 3);
}

TEST(BufModelStore, TablesHold65536AndCountRefusals)
{
    Store s;
    for (int i = 0; i < BUFMODEL_MAX_POINTS; i++)
        ASSERT_EQ(AddPoint(s.get(), i, 0, 0), i);
    EXPECT_EQ(BufModelGetPoint(s.get(), 0xFFFF)->position.x, 65535.0);
    EXPECT_EQ(AddPoint(s.get(), 1, 1, 1), -1);
    EXPECT_EQ(s->pointCount, 65536);
    EXPECT_EQ(s->refusedAdds, 1);
    EXPECT_EQ(s->boxMax.y, 0.0) << "a refused point does not widen the box";

    // Refusals for bad arguments are not table refusals.
    EXPECT_EQ(AddPoly(s.get(), {0, 1}), -1);
    EXPECT_EQ(BufModelAddPoly(s.get(), nullptr, 3, nullptr), -1);
    EXPECT_EQ(BufModelAddPoly(nullptr, nullptr, 3, std::vector<int32_t>{0, 1, 2}.data()), -1);
    EXPECT_EQ(s->polyCount, 0);
    EXPECT_EQ(s->refusedAdds, 1);

    for (int i = 0; i < BUFMODEL_MAX_POLYS; i++)
        ASSERT_EQ(AddPoly(s.get(), {i, (i + 1) & 0xFFFF, (i + 2) & 0xFFFF}), i);
    EXPECT_EQ(AddPoly(s.get(), {0, 1, 2}), -1);
    EXPECT_EQ(AddPoly(s.get(), {3, 4, 5}, "full"), -1);
    EXPECT_EQ(s->polyCount, 65536);
    EXPECT_EQ(s->refusedAdds, 3);
    EXPECT_EQ(BufModelGetPoly(s.get(), 0xFFFF)->points[2], 1);
}

TEST(BufModelStore, AddPolyCopiesVerticesAndComputesCentroidAndNormal)
{
    Store s;
    AddPoint(s.get(), 1, 0, 0);
    AddPoint(s.get(), 0, 0, 0);
    AddPoint(s.get(), 0, 1, 0);
    // Vertices summed in vertex order: 1 + 2^-53 + 2^-53 stays 1.
    AddPoint(s.get(), ldexp(1.0, -53), 0, 5);
    AddPoint(s.get(), ldexp(1.0, -53), 2, 5);

    std::vector<int32_t> tri = {0, 1, 2};
    char name[] = "Skin";
    EXPECT_EQ(BufModelAddPoly(s.get(), name, 3, tri.data()), 0);
    tri[0] = 4;
    name[0] = 'X';
    BufPoly *p = BufModelGetPoly(s.get(), 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->hostId, nullptr);
    EXPECT_EQ(p->count, 3);
    EXPECT_EQ(p->points[0], 0) << "indices are copied";
    EXPECT_STREQ(p->surface, "Skin") << "the name is copied";
    EXPECT_EQ(p->hostPoints[0], nullptr);
    EXPECT_EQ(p->hostPoints[2], nullptr);
    ExpectVec(p->normal, 0, 0, 1, "(p0 - p1) x (p2 - p1)");
    ExpectVec(p->centroid, 1.0 / 3, 1.0 / 3, 0, "triangle centroid");

    // Only the first three vertices give the normal; the winding flips it.
    EXPECT_EQ(AddPoly(s.get(), {2, 1, 0, 3}), 1);
    p = BufModelGetPoly(s.get(), 1);
    EXPECT_EQ(p->surface, nullptr);
    ExpectVec(p->normal, 0, 0, -1, "reversed winding, off-plane fourth vertex");
    EXPECT_EQ(p->centroid.x, 1.0 / 4) << "(1 + 2^-53) rounds to 1 before the next term";
    EXPECT_EQ(p->centroid.z, 5.0 / 4);
    EXPECT_EQ(AddPoly(s.get(), {0, 3, 4}), 2);
    EXPECT_EQ(BufModelGetPoly(s.get(), 2)->centroid.x, 1.0 / 3)
        << "summed in vertex order: 1 first, the two half-ulps vanish";

    // Collinear first vertices: zero cross product, stored as a zero normal.
    AddPoint(s.get(), 2, 0, 0);
    EXPECT_EQ(AddPoly(s.get(), {1, 0, 5, 2}), 3);
    ExpectVec(BufModelGetPoly(s.get(), 3)->normal, 0, 0, 0, "collinear");
    EXPECT_EQ(BufModelGetPoly(s.get(), 4), nullptr) << "index equal to the count";
}

// The passes' faces: the same record as BufModelAddPoly's but for the
// shape, which stays zero however the points lie, and the same refusals.
// Points 0 to 3: (1, 0, 0), the origin, (0, 1, 0), (0, 0, 1).
static void AddCorners(BufModel *model)
{
    AddPoint(model, 1, 0, 0);
    AddPoint(model, 0, 0, 0);
    AddPoint(model, 0, 1, 0);
    AddPoint(model, 0, 0, 1);
}

TEST(BufModelStore, AddFaceKeepsVerticesAndNameButNoShape)
{
    Store s;
    AddCorners(s.get());
    std::vector<int32_t> quad = {0, 1, 2, 3};
    char name[] = "Rim";
    EXPECT_EQ(BufModelAddPoly(s.get(), name, 4, quad.data()), 0);
    EXPECT_EQ(BufModelAddFace(s.get(), name, 4, quad.data()), 1);
    quad[0] = 3;
    name[0] = 'X';
    const BufPoly *shaped = BufModelGetPoly(s.get(), 0);
    const BufPoly *face = BufModelGetPoly(s.get(), 1);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->hostId, nullptr);
    ASSERT_EQ(face->count, 4);
    for (int v = 0; v < 4; v++) {
        EXPECT_EQ(face->points[v], shaped->points[v]) << "vertex " << v << " is copied";
        EXPECT_EQ(face->hostPoints[v], nullptr) << "vertex " << v;
    }
    EXPECT_STREQ(face->surface, "Rim") << "the name is copied";
    ExpectVec(face->normal, 0, 0, 0, "no normal");
    ExpectVec(face->centroid, 0, 0, 0, "no centroid");
    EXPECT_NE(shaped->normal.z, 0.0) << "the shaped twin has one";

    EXPECT_EQ(BufModelAddFace(s.get(), nullptr, 2, quad.data()), -1);
    EXPECT_EQ(BufModelAddFace(s.get(), nullptr, 3, nullptr), -1);
    EXPECT_EQ(BufModelAddFace(nullptr, nullptr, 3, quad.data()), -1);
    EXPECT_EQ(s->refusedAdds, 0) << "bad arguments are not table refusals";
    for (int i = 2; i < BUFMODEL_MAX_POLYS; i++)
        ASSERT_EQ(BufModelAddFace(s.get(), nullptr, 3, quad.data()), i);
    EXPECT_EQ(BufModelAddFace(s.get(), "full", 3, quad.data()), -1);
    EXPECT_EQ(s->refusedAdds, 1);
    EXPECT_EQ(s->polyCount, BUFMODEL_MAX_POLYS);
}

TEST(BufModelStore, SetPolyReplacesVerticesKeepsIdAndName)
{
    Store s;
    AddCorners(s.get());
    ASSERT_EQ(AddPoly(s.get(), {0, 1, 2}, "Old"), 0);
    ASSERT_EQ(AddPoly(s.get(), {0, 1, 2}), 1);
    BufPoly *p = BufModelGetPoly(s.get(), 0);
    LWPolID fakeId = reinterpret_cast<LWPolID>(uintptr_t{42});
    LWPntID fakePoint = reinterpret_cast<LWPntID>(uintptr_t{7});
    p->hostId = fakeId;
    p->hostPoints[1] = fakePoint;

    std::vector<int32_t> quad = {3, 1, 0, 2};
    EXPECT_EQ(BufModelSetPoly(s.get(), nullptr, 4, quad.data(), 0), 0);
    EXPECT_EQ(p->hostId, fakeId);
    EXPECT_STREQ(p->surface, "Old");
    EXPECT_EQ(p->count, 4);
    for (int v = 0; v < 4; v++) {
        EXPECT_EQ(p->points[v], quad[v]) << "vertex " << v;
        EXPECT_EQ(p->hostPoints[v], nullptr) << "vertex " << v;
    }
    ExpectVec(p->centroid, 0.25, 0.25, 0.25, "new centroid");
    ExpectVec(p->normal, 0, 1, 0, "(p3 - p1) x (p0 - p1)");

    // A name alone replaces the name; neither changes nothing.
    EXPECT_EQ(BufModelSetPoly(s.get(), "New", 0, nullptr, 0), 0);
    EXPECT_STREQ(p->surface, "New");
    EXPECT_EQ(p->count, 4);
    EXPECT_EQ(BufModelSetPoly(s.get(), nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(p->count, 4);
    // A nameless polygon stays nameless.
    EXPECT_EQ(BufModelSetPoly(s.get(), nullptr, 3, quad.data(), 1), 1);
    EXPECT_EQ(BufModelGetPoly(s.get(), 1)->surface, nullptr);
    EXPECT_EQ(BufModelSetPoly(nullptr, nullptr, 3, quad.data(), 1), -1);
}

// Records share blocks of memory: a polygon too large for a block, one
// re-shaped many times, and the records around them must all keep their own
// contents (the address sanitizer build also catches any overlap).
TEST(BufModelStore, LargeAndReshapedPolygonsKeepTheirNeighboursIntact)
{
    Store s;
    const int n = 40000;  // vertex arrays of 480 kB, more than a block
    for (int k = 0; k < n; k++)
        AddPoint(s.get(), k, k % 7, 0);
    std::vector<int32_t> big(n);
    for (int k = 0; k < n; k++)
        big[k] = n - 1 - k;
    ASSERT_EQ(AddPoly(s.get(), {0, 1, 2}, "Before"), 0);
    ASSERT_EQ(AddPoly(s.get(), big, "Big"), 1);
    ASSERT_EQ(AddPoly(s.get(), {3, 4, 5}, "After"), 2);
    for (int round = 0; round < 2000; round++) {
        std::vector<int32_t> shape = {round % n, (round + 1) % n, (round + 2) % n, (round + 3) % n};
        ASSERT_EQ(BufModelSetPoly(s.get(), round % 2 ? "Odd" : "Even", 4, shape.data(), 2), 2);
    }
    BufPoly *before = BufModelGetPoly(s.get(), 0);
    BufPoly *bigPoly = BufModelGetPoly(s.get(), 1);
    BufPoly *after = BufModelGetPoly(s.get(), 2);
    EXPECT_STREQ(before->surface, "Before");
    EXPECT_EQ(before->points[2], 2);
    EXPECT_STREQ(bigPoly->surface, "Big");
    ASSERT_EQ(bigPoly->count, n);
    for (int k = 0; k < n; k++) {
        ASSERT_EQ(bigPoly->points[k], n - 1 - k) << "vertex " << k;
        ASSERT_EQ(bigPoly->hostPoints[k], nullptr) << "vertex " << k;
    }
    EXPECT_STREQ(after->surface, "Odd");
    EXPECT_EQ(after->points[0], 1999);
    EXPECT_EQ(after->points[3], 2002);
    // Fewer than three vertices, or a polygon not held: nothing changes.
    EXPECT_EQ(BufModelSetPoly(s.get(), nullptr, -5, big.data(), 0), -1);
    EXPECT_EQ(BufModelSetPoly(s.get(), nullptr, 2, big.data(), 0), -1);
    EXPECT_EQ(BufModelSetPoly(s.get(), "X", 3, big.data(), 3), -1);
    EXPECT_EQ(BufModelSetPoly(s.get(), "X", 3, big.data(), -1), -1);
    EXPECT_EQ(before->count, 3);
    EXPECT_STREQ(before->surface, "Before");
}
// ---- flush ---------------------------------------------------------------

TEST(BufModelFlush, EmptyModelAndNullModel)
{
    Flush f;
    f.Bind();
    EXPECT_EQ(BufModelFlush(nullptr, &f.ctx.services), -1);
    EXPECT_EQ(BufModelFlush(f.get(), nullptr), -1);
    EXPECT_EQ(f.Run(), 0);
    EXPECT_TRUE(f.host->log.addedPoints.empty());
    EXPECT_TRUE(f.host->log.addedPolys.empty());
    ASSERT_EQ(f.host->log.monitors.size(), 1u);
    const EmuMonitorLog &mon = f.host->log.monitors[0];
    EXPECT_EQ(mon.title, "Corvane");
    EXPECT_EQ(mon.text, "BufModel Flush");
    EXPECT_EQ(mon.inits, std::vector<unsigned>{0});
    EXPECT_EQ(mon.steps, 0u);
    EXPECT_TRUE(mon.done && mon.destroyed);
    EXPECT_EQ(f.ctx.services.monitor, nullptr);
}

TEST(BufModelFlush, WeldsEqualPointsAndCommitsNames)
{
    Flush f;
    f.Bind();
    BufModel *m = f.get();
    AddPoint(m, 0, 0, 0);
    AddPoint(m, 1, 0, 0);
    AddPoint(m, 0, 1, 0);
    AddPoint(m, 1, 0, 0);  // 3 = 1
    AddPoint(m, 0, 1, 0);  // 4 = 2
    AddPoint(m, 1, 1, 0);
    AddPoint(m, 9, 9, 9);  // referenced by nobody
    AddPoly(m, {0, 1, 2}, "Front");
    AddPoly(m, {3, 5, 4});
    EXPECT_EQ(f.Run(), 0);

    // Points 0, 1, 2, 5 in index order; 3 and 4 welded away, 6 unused.
    ASSERT_EQ(f.host->log.addedPoints.size(), 4u);
    EXPECT_EQ(EmuHostPoint(f.host.get(), f.Created(3))->info.position[1], 1.0);
    EXPECT_EQ(f.HostX(f.Created(3)), 1.0);
    ASSERT_EQ(f.host->log.addedPolys.size(), 2u);
    EXPECT_EQ(f.FacePoints(0), (std::vector<LWPntID>{f.Created(0), f.Created(1), f.Created(2)}));
    EXPECT_EQ(f.FacePoints(1), (std::vector<LWPntID>{f.Created(1), f.Created(3), f.Created(2)}));
    EmuPoly *named = EmuHostPoly(f.host.get(), f.host->log.addedPolys[0]);
    EmuPoly *nameless = EmuHostPoly(f.host.get(), f.host->log.addedPolys[1]);
    EXPECT_TRUE(named->hasSurface);
    EXPECT_EQ(named->surface, "Front");
    EXPECT_FALSE(nameless->hasSurface) << "a polygon without a name is committed without one";
    EXPECT_EQ(f.host->log.monitors.at(0).inits, std::vector<unsigned>{2});
    EXPECT_EQ(f.host->log.monitors.at(0).steps, 2u);
}

TEST(BufModelFlush, ZeroToleranceStillMergesEqualPositions)
{
    // All points at one place: the diagonal and the tolerance are 0, and a
    // distance of 0 is not greater than 0. What is left of the polygons is
    // a point, which is no polygon: nothing reaches the host.
    for (bool flush : {false, true}) {
        Flush f;
        f.Bind();
        for (int i = 0; i < 4; i++)
            AddPoint(f.get(), 3, -2, 0.5);
        AddPoly(f.get(), {1, 2, 3});
        AddPoly(f.get(), {3, 2, 1, 0});
        if (flush) {
            EXPECT_EQ(f.Run(), 0);
            EXPECT_TRUE(f.host->log.addedPoints.empty());
            EXPECT_TRUE(f.host->log.addedPolys.empty());
            continue;
        }
        BufModelWeld(f.get());
        for (int p = 0; p < 2; p++)
            for (int v = 0; v < BufModelGetPoly(f.get(), p)->count; v++)
                EXPECT_EQ(BufModelGetPoly(f.get(), p)->points[v], 0);
    }
}

// Corners 0 and 65536 on x give a tolerance of exactly 1; each of points
// 2..9 is the third vertex of one triangle with the corners.
static void AddWeldCase(BufModel *m)
{
    AddPoint(m, 0, 0, 0);      // 0
    AddPoint(m, 65536, 0, 0);  // 1
    AddPoint(m, 10, 0, 0);     // 2  chain: 2-3 and 3-4 within 1, 2-4 not
    AddPoint(m, 10.75, 0, 0);  // 3
    AddPoint(m, 11.5, 0, 0);   // 4
    AddPoint(m, 20, 0, 0);     // 5  fan: 7 is near both 5 and 6, 5-6 not
    AddPoint(m, 21.5, 0, 0);   // 6
    AddPoint(m, 20.75, 0, 0);  // 7
    AddPoint(m, 30, 0, 0);     // 8  exactly at the tolerance from 9
    AddPoint(m, 31, 0, 0);     // 9
    for (int32_t k = 2; k <= 9; k++)
        AddPoly(m, {0, 1, k});
}

TEST(BufModelWeld, FreeTrianglesMergeWholeChains)
{
    // The triangles share no edge that merging each point into the lowest
    // point near it would match; merging whole chains matches more (the
    // triangles of 2, 3 and 4 then lie on one another).
    Flush w;
    w.Bind();
    AddWeldCase(w.get());
    BufModelWeld(w.get());
    std::vector<int32_t> expect = {2, 2, 2, 5, 5, 5, 8, 8};
    for (int32_t k = 2; k <= 9; k++)
        EXPECT_EQ(BufModelGetPoly(w.get(), k - 2)->points[2], expect[k - 2]) << "point " << k;
    EXPECT_EQ(BufModelGetPoint(w.get(), 4)->position.x, 11.5) << "merged records stay as they were";

    Flush f;
    f.Bind();
    AddWeldCase(f.get());
    EXPECT_EQ(f.Run(), 0);
    std::vector<double> xs;
    for (LWPntID id : f.host->log.addedPoints)
        xs.push_back(f.HostX(id));
    EXPECT_EQ(xs, (std::vector<double>{0, 65536, 10, 20, 30}));
}

// A tetrahedron apex at a chain of three points 0.75 apart (tolerance 1):
// 2-3 and 3-4 near, 2-4 not. `apex[f]` is the point face f takes.
static void AddChainTetrahedron(BufModel *m, const int32_t apex[3])
{
    AddPoint(m, 0, 0, 0);
    AddPoint(m, 65536, 0, 0);
    AddPoint(m, 10, 0, 0);     // 2
    AddPoint(m, 10.75, 0, 0);  // 3
    AddPoint(m, 11.5, 0, 0);   // 4
    AddPoint(m, 50, 10, 0);    // 5
    AddPoint(m, 50, -10, 0);   // 6
    AddPoint(m, 50, 0, 10);    // 7
    AddPoly(m, {apex[0], 5, 6});
    AddPoly(m, {apex[1], 6, 7});
    AddPoly(m, {apex[2], 7, 5});
    AddPoly(m, {5, 7, 6});
}

TEST(BufModelWeld, WholeChainsMergeOnlyWhereTheyCloseTheMesh)
{
    // Faces at 2, 3 and 4: merged into the lowest point near each, face 3
    // keeps point 3 where the others have 2, and the mesh opens; merged
    // whole, the apex is one point.
    {
        Flush f;
        f.Bind();
        const int32_t apex[3] = {2, 3, 4};
        AddChainTetrahedron(f.get(), apex);
        BufModelWeld(f.get());
        for (int p = 0; p < 3; p++)
            EXPECT_EQ(BufModelGetPoly(f.get(), p)->points[0], 2) << "face " << p;
    }
    // A closed mesh of points 2 and 4 alone (faces 0 and 1 at 2, face 2 at
    // a copy of 4 through a triangle of its own at 4 and 2): each point
    // into the lowest near it keeps both, and so does the flush. Merged
    // whole, faces would collapse for nothing.
    {
        Flush f;
        f.Bind();
        BufModel *m = f.get();
        AddPoint(m, 0, 0, 0);
        AddPoint(m, 65536, 0, 0);
        AddPoint(m, 10, 0, 0);     // 2: A
        AddPoint(m, 10.75, 0, 0);  // 3: used by nobody
        AddPoint(m, 11.5, 0, 0);   // 4: B
        AddPoint(m, 50, 10, 0);    // 5: X
        AddPoint(m, 50, -10, 0);   // 6: Y
        AddPoly(m, {2, 4, 5});
        AddPoly(m, {2, 6, 4});
        AddPoly(m, {2, 5, 6});
        AddPoly(m, {4, 6, 5});
        EXPECT_EQ(f.Run(), 0);
        std::vector<double> xs;
        for (LWPntID id : f.host->log.addedPoints)
            xs.push_back(f.HostX(id));
        EXPECT_EQ(xs, (std::vector<double>{10, 10.75, 50, 50})) << "B is at point 3, which 4 went to";
        EXPECT_EQ(f.host->log.addedPolys.size(), 4u);
    }
}

TEST(BufModelFlush, PolygonsThroughAPointTwiceAreCutIntoLobes)
{
    // Far-apart points: the weld merges nothing, the vertex lists alone
    // repeat points.
    auto run = [](Flush &f, const std::vector<std::vector<int32_t>> &polys) {
        f.Bind();
        for (int i = 0; i < 6; i++)
            AddPoint(f.get(), i, i * i, 0);
        for (const auto &p : polys)
            AddPoly(f.get(), p, "Skin");
    };
    {
        // In a row, also across the ring's end; and a pinch, whose second
        // lobe follows the last polygon under the same name.
        Flush f;
        run(f, {{0, 1, 1, 2}, {3, 1, 2, 3}, {0, 1, 2, 0, 3, 4}, {5, 4, 3}});
        EXPECT_EQ(f.Run(), 0);
        ASSERT_EQ(f.host->log.addedPolys.size(), 5u);
        auto c = [&](int i) { return f.Created(static_cast<size_t>(i)); };
        EXPECT_EQ(f.FacePoints(0), (std::vector<LWPntID>{c(0), c(1), c(2)}));
        EXPECT_EQ(f.FacePoints(1), (std::vector<LWPntID>{c(3), c(1), c(2)}));
        EXPECT_EQ(f.FacePoints(2), (std::vector<LWPntID>{c(0), c(3), c(4)}));
        EXPECT_EQ(f.FacePoints(4), (std::vector<LWPntID>{c(0), c(1), c(2)}));
        EXPECT_EQ(EmuHostPoly(f.host.get(), f.host->log.addedPolys[4])->surface, "Skin");
        EXPECT_EQ(f.host->log.monitors.at(0).steps, 5u);
    }
    {
        // A strip collapsed to two points and a spike leave nothing; the
        // points only they used are not created.
        Flush f;
        run(f, {{0, 1, 1, 0}, {2, 3, 4, 3}, {0, 1, 5}});
        EXPECT_EQ(f.Run(), 0);
        ASSERT_EQ(f.host->log.addedPolys.size(), 1u);
        EXPECT_EQ(f.host->log.addedPoints.size(), 3u);
        EXPECT_EQ(f.HostX(f.Created(2)), 5.0);
    }
    {
        // A point met once by its host id and once by a point standing for
        // it is met twice.
        Flush f;
        LWPntID existing = ExistingHostPoint(f.host.get());
        run(f, {{0, 1, 2, 3, 4}});
        BufModelGetPoint(f.get(), 0)->hostId = existing;
        BufModelGetPoly(f.get(), 0)->hostPoints[3] = existing;
        EXPECT_EQ(f.Run(), 0);
        ASSERT_EQ(f.host->log.addedPolys.size(), 1u);
        EXPECT_EQ(f.FacePoints(0), (std::vector<LWPntID>{existing, f.Created(0), f.Created(1)}));
    }
}

TEST(BufModelFlush, SliversAndFoldsGoWhereTheWeldPinched)
{
    // Tolerance 1 (corners 0 and 65536 on x, unused); each case has a
    // polygon with a point in a row, as the weld leaves one where it
    // reaches across a bevel.
    auto corners = [](BufModel *m) {
        AddPoint(m, 0, 0, 0);
        AddPoint(m, 65536, 0, 0);
    };
    {
        // The sliver 2-3-4 (3 midway) goes; 3 goes into 2-4's polygon across.
        Flush f;
        f.Bind();
        BufModel *m = f.get();
        corners(m);
        AddPoint(m, 10, 0, 0);  // 2
        AddPoint(m, 20, 0, 0);  // 3
        AddPoint(m, 30, 0, 0);  // 4
        AddPoint(m, 20, 9, 0);  // 5
        AddPoly(m, {2, 4, 3});
        AddPoly(m, {4, 2, 5});
        AddPoly(m, {5, 5, 2});
        EXPECT_EQ(f.Run(), 0);
        ASSERT_EQ(f.host->log.addedPolys.size(), 1u);
        std::vector<double> xs;
        for (LWPntID id : f.FacePoints(0))
            xs.push_back(f.HostX(id));
        EXPECT_EQ(xs, (std::vector<double>{30, 20, 10, 20}));
    }
    {
        // Four quads fold over the edge 2-3, 1.5 long: it becomes point 2.
        Flush f;
        f.Bind();
        BufModel *m = f.get();
        corners(m);
        AddPoint(m, 10, 0, 0);    // 2
        AddPoint(m, 11.5, 0, 0);  // 3
        for (int k = 0; k < 4; k++)
            AddPoint(m, 20 + k, 10 * k, 5);  // 4..7
        AddPoly(m, {2, 3, 4, 5});
        AddPoly(m, {3, 2, 5, 6});
        AddPoly(m, {2, 3, 6, 7});
        AddPoly(m, {3, 2, 7, 4});
        AddPoly(m, {4, 4, 6});
        EXPECT_EQ(f.Run(), 0);
        ASSERT_EQ(f.host->log.addedPolys.size(), 4u);
        for (size_t k = 0; k < 4; k++) {
            EXPECT_EQ(f.FacePoints(k).size(), 3u) << k;
            EXPECT_EQ(f.HostX(f.FacePoints(k)[0]), 10.0) << k;
        }
    }
}

TEST(BufModelWeld, UsesTheGatheredBoxAndCurrentPositions)
{
    // The tolerance (1) comes from the box gathered at the adds; the move
    // brings point 1 to within 0.5 of point 2. A box taken from the current
    // positions would give a tolerance below 1e-4 and merge nothing.
    Flush f;
    f.Bind();
    BufModel *m = f.get();
    AddPoint(m, 0, 0, 0);
    AddPoint(m, 65536, 0, 0);
    AddPoint(m, 5, 0, 0);
    BufModelGetPoint(m, 1)->position = {5, 0.5, 0};
    AddPoly(m, {0, 1, 2});
    BufModelWeld(m);
    BufPoly *p = BufModelGetPoly(m, 0);
    EXPECT_EQ(p->points[0], 0);
    EXPECT_EQ(p->points[1], 1);
    EXPECT_EQ(p->points[2], 1);
    BufModelMarkUsed(m);
    EXPECT_EQ(BufModelGetPoint(m, 1)->used, 255);
    EXPECT_EQ(BufModelGetPoint(m, 2)->used, 0) << "lost its only reference";
}

TEST(BufModelFlush, HostIdsAreNeverCreatedAndCommittedAsIs)
{
    Flush f;
    LWPntID existing = ExistingHostPoint(f.host.get());
    LWPntID other = f.host->points[1]->info.pnt;
    f.Bind();
    BufModel *m = f.get();
    AddPoint(m, 0, 0, 0);  // stands for `existing`
    AddPoint(m, 1, 0, 0);
    AddPoint(m, 0, 1, 0);
    AddPoint(m, 5, 5, 0);  // used only by a vertex with a host id
    AddPoint(m, 7, 7, 0);  // stands for a host point, used by nobody
    BufModelGetPoint(m, 0)->hostId = existing;
    BufModelGetPoint(m, 4)->hostId = other;
    AddPoly(m, {0, 1, 2});
    AddPoly(m, {3, 2, 1});
    BufModelGetPoly(m, 1)->hostPoints[0] = other;
    EXPECT_EQ(f.Run(), 0);

    ASSERT_EQ(f.host->log.addedPoints.size(), 2u) << "only points 1 and 2";
    EXPECT_EQ(f.HostX(f.Created(0)), 1.0);
    EXPECT_EQ(f.FacePoints(0), (std::vector<LWPntID>{existing, f.Created(0), f.Created(1)}));
    EXPECT_EQ(f.FacePoints(1), (std::vector<LWPntID>{other, f.Created(1), f.Created(0)}));
}

TEST(BufModelFlush, AbortAtPolygonFiveCommitsTheFirstFive)
{
    Flush f;
    f.host->script.abortMonitor = 0;
    f.host->script.abortStep = 6;  // the step before polygon 5
    f.Bind();
    BufModel *m = f.get();
    for (int i = 0; i < 10; i++)
        AddPoint(m, i, i * i, 0);
    for (int32_t p = 0; p < 8; p++)
        AddPoly(m, {p, p + 1, p + 2}, "S");
    EXPECT_EQ(f.Run(), 0);
    EXPECT_EQ(f.host->log.addedPoints.size(), 10u) << "every used point, also of uncommitted polygons";
    ASSERT_EQ(f.host->log.addedPolys.size(), 5u);
    EXPECT_EQ(f.FacePoints(4), (std::vector<LWPntID>{f.Created(4), f.Created(5), f.Created(6)}));
    const EmuMonitorLog &mon = f.host->log.monitors.at(0);
    EXPECT_EQ(mon.inits, std::vector<unsigned>{8});
    EXPECT_EQ(mon.steps, 6u);
    EXPECT_TRUE(mon.aborted && mon.done && mon.destroyed);
}

TEST(BufModelFlush, NoMonitorCommitsNoPolygon)
{
    Flush f;
    f.host->script.monitorCreateFails = true;
    f.Bind();
    AddPoint(f.get(), 0, 0, 0);
    AddPoint(f.get(), 1, 0, 0);
    AddPoint(f.get(), 0, 1, 0);
    AddPoly(f.get(), {0, 1, 2});
    EXPECT_EQ(f.Run(), 0);
    EXPECT_EQ(f.host->log.addedPoints.size(), 3u) << "points come before the monitor";
    EXPECT_TRUE(f.host->log.addedPolys.empty());
}

// ---- the weld's targets against every pair ------------------------------

// Clouds at the anchors' coordinates and chains of neighbours a step times
// a factor at or about 1 apart, with copies, the next doubles over, and
// points that are no numbers or infinite, against the weld as defined.
TEST(BufModelWeld, TargetsAreThoseOfEveryPair)
{
    struct Case {
        const char *name;
        double tol, step;
        std::vector<double> anchors;
    } cases[] = {
        {"an ordinary box", 0x1p-16, 0x1p-16, {0, 1, -0.75, 0.3}},
        {"points thrown far out", 0.01, 0.01, {0, 1, 1e300, -1e308, DBL_MAX, 4.5e15}},
        {"a tolerance above the spacing of doubles", 1e292, 1e292, {1e308, -1e308, DBL_MAX, 0, 1e300}},
        {"a zero tolerance", 0, 1e-300, {0, 1, 1e-310}},
        {"a subnormal tolerance", 1e-300, 1e-300, {0, 5e-324, 1e-310, 1}},
        {"cells numbered about 2^53", 1.0 / 32, 1.0 / 32, {0x1p53, -0x1p53, 0x1p52, 0x1p53 - 1, 0x1p54}},
        {"an infinite tolerance near overflow", HUGE_VAL, 0x1p990, {0, 1e300, -1e308, 0x1p992, DBL_MAX}},
        {"an infinite tolerance, small span", HUGE_VAL, 1e150, {0, 1e200, -1e200}},
        {"an infinite tolerance, span about overflow", HUGE_VAL, 0x1p988, {0, 0x1p991, -0x1p990, 0x1p989}},
    };
    static const double factors[] = {0.0, 0.5, 1.0 - 1e-15, 1.0, 1.0 + 1e-15, 1.0000001, 1.5, 2.0};
    static const Vec3 dirs[] = {{1, 0, 0}, {0, -1, 0}, {0.6, 0, 0.8}, {-0.48, 0.6, 0.64}};
    std::mt19937_64 rng(20261208);
    auto pick = [&rng](size_t count) { return static_cast<size_t>(rng() % count); };
    for (const Case &c : cases) {
        for (int cloud = 0; cloud < 40; cloud++) {
            std::vector<Vec3> pos;
            for (size_t n = 2 + pick(400); pos.size() < n;) {
                const size_t kind = pos.empty() ? 0 : pick(10);
                Vec3 p = pos.empty() ? Vec3{0, 0, 0} : pos[pick(pos.size())];
                const Vec3 &d = dirs[pick(4)];
                const double f = c.step * factors[pick(8)];
                if (kind < 2)
                    p = {c.anchors[pick(c.anchors.size())], c.anchors[pick(c.anchors.size())],
                         c.anchors[pick(c.anchors.size())]};
                else if (kind < 7)
                    p = {p.x + d.x * f, p.y + d.y * f, p.z + d.z * f};
                else if (kind == 7)
                    p.y = nextafter(p.y, rng() % 2 ? HUGE_VAL : -HUGE_VAL);
                else if (kind == 9)
                    p.z = rng() % 2 ? NAN : -HUGE_VAL;
                pos.push_back(p);
            }
            const int n = static_cast<int>(pos.size());
            std::vector<int32_t> nearest(n), chain(n), label(n);
            BufModelWeldTargets(n, pos.data(), c.tol, nearest.data(), chain.data());
            for (int k = 0; k < n; k++) {
                // Pair by pair: the first point near k, and k's group named
                // by its lowest point.
                int32_t first = label[k] = k;
                for (int j = 0; j < k; j++) {
                    if (!(VecLength(VecSub(pos[j], pos[k])) <= c.tol))
                        continue;
                    first = first == k ? j : first;
                    const int32_t low = std::min(label[j], label[k]), high = std::max(label[j], label[k]);
                    for (int i = 0; i <= k; i++)
                        label[i] = label[i] == high ? low : label[i];
                }
                ASSERT_EQ(nearest[k], first) << c.name << ", cloud " << cloud << ", point " << k;
            }
            EXPECT_EQ(chain, label) << c.name << ", cloud " << cloud;
        }
    }
}
