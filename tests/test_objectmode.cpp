// The object-mode passes: edge records and their links, the edge offset, the
// chamfer strips with seams and the angle test, the corner cut and the corner
// patches. Pass by pass on small meshes (the output model inspected before
// the flush), and end to end through the activation.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bufmodel/bufmodel.h"
#include "host/host.h"
#include "meshgen/meshgen.h"
#include "objectmode/objectmode.h"
#include "options/options.h"
#include "plugin/activate.h"
#include "tests/files.h"
#include "tests/fixtures.h"
#include "tests/reference/reference.h"
#include "tests/testcontext.h"

namespace {

const double kS = 0.125;  // dyadic bevel size: the cube stays exact

Vec3 V(double x, double y, double z)
{
    return Vec3{x, y, z};
}

bool Equal(const Vec3 &a, const Vec3 &b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

std::string Str(const Vec3 &v)
{
    char text[96];
    snprintf(text, sizeof text, "(%.17g, %.17g, %.17g)", v.x, v.y, v.z);
    return text;
}

MeshData Mesh(std::vector<std::array<double, 3>> points, std::vector<std::vector<int>> polys,
              const char *surface = "Default")
{
    MeshData mesh;
    mesh.points = std::move(points);
    for (auto &p : polys) {
        MeshFace poly;
        poly.points = p;
        poly.surface = surface;
        MeshPutFace(&mesh, poly);
    }
    return mesh;
}

// Two unit squares side by side in z = 0, both facing +z, sharing the edge
// x = 1 (run 1-4 by the left one and 4-1 by the right one).
MeshData TwoSquares()
{
    return Mesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}},
                {{0, 1, 4, 3}, {1, 2, 5, 4}});
}

// Inserts point `k` between the consecutive vertices a and b (either order)
// of every polygon that has that edge.
void SplitEdge(MeshData *mesh, int a, int b, int k)
{
    std::vector<MeshFace> faces = MeshFacesOf(*mesh);
    for (MeshFace &poly : faces) {
        size_t n = poly.points.size();
        for (size_t v = 0; v < n; ++v) {
            int p = poly.points[v], q = poly.points[(v + 1) % n];
            if ((p == a && q == b) || (p == b && q == a)) {
                poly.points.insert(poly.points.begin() + (long)v + 1, k);
                break;
            }
        }
    }
    MeshSetFaces(mesh, faces);
}

// ---- properties of output meshes ---------------------------------------

size_t EdgeCount(const MeshData &closed)
{
    size_t corners = 0;
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(closed); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(closed, polyIndex);
        corners += poly.size();
    }
    return corners / 2;
}

// Newell normal of a list of positions (not normalised).
Vec3 Newell(const std::vector<Vec3> &p)
{
    Vec3 n = {0, 0, 0};
    for (size_t i = 0; i < p.size(); ++i) {
        const Vec3 &a = p[i];
        const Vec3 &b = p[(i + 1) % p.size()];
        n.x += (a.y - b.y) * (a.z + b.z);
        n.y += (a.z - b.z) * (a.x + b.x);
        n.z += (a.x - b.x) * (a.y + b.y);
    }
    return n;
}

// Distance of q from the line through a and b.
double LineDistance(const std::array<double, 3> &q, const std::array<double, 3> &a,
                    const std::array<double, 3> &b)
{
    double d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    double w[3] = {q[0] - a[0], q[1] - a[1], q[2] - a[2]};
    double c[3] = {w[1] * d[2] - w[2] * d[1], w[2] * d[0] - w[0] * d[2], w[0] * d[1] - w[1] * d[0]};
    return sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]) / sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

// Distance of q from the plane through a spanned by u and v.
double PlaneDistance(const std::array<double, 3> &q, const std::array<double, 3> &a,
                     const std::array<double, 3> &b, const std::array<double, 3> &c)
{
    double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    double w[3] = {q[0] - a[0], q[1] - a[1], q[2] - a[2]};
    return fabs(w[0] * n[0] + w[1] * n[1] + w[2] * n[2]) / sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

// ---- the passes one by one ---------------------------------------------

struct PassFixture : ::testing::Test, EditSession {
    LineInfo *edges = nullptr;
    int m = 0;
    int faces = 0;   // polygons the survey copied
    int strips = 0;  // polygons the strip pass added
    std::vector<void *> pointIds;
    IdList points{0, 0, nullptr};

    void Begin(const MeshData &mesh) { ASSERT_TRUE(EditSession::Begin(mesh, 2)); }
    void Survey()
    {
        EditSession::Survey();
        faces = model->polyCount;
    }
    void Edges()
    {
        m = LineListPass(&ctx, (int)ids.size(), records.data(), &edges);
        LineInfoPass(&ctx, m, edges);
    }
    void Strips(double size)
    {
        MakeLineCorvanePoly(&ctx, nullptr, m, edges, size);
        strips = model->polyCount - faces;
    }
    void StripsLimited(int mode, double limit, double size)
    {
        Settings settings{};
        settings.bevelSize = size;
        settings.limitAngle = limit;
        settings.angleMode = mode;
        MakeLineCorvanePolyLimited(&ctx, nullptr, m, edges, &settings);
        strips = model->polyCount - faces;
    }
    static int Collect(void *data, const HostPointInfo *info)
    {
        ((std::vector<void *> *)data)->push_back(info->pnt);
        return 0;
    }
    void ScanPoints()
    {
        pointIds.clear();
        ASSERT_EQ(edit->pointScan(edit->state, Collect, &pointIds, 2), 0);
        points = IdList{(int32_t)pointIds.size(), (int32_t)pointIds.size(), pointIds.data()};
    }
    void Patches(bool limited)
    {
        if (limited)
            PointCorvaneLimited(&ctx, nullptr, &points, m, edges);
        else
            PointCorvane(&ctx, nullptr, &points, m, edges);
    }
    void Plain(const MeshData &mesh, double size)
    {
        Begin(mesh);
        Survey();
        Edges();
        Strips(size);
        ScanPoints();
        Patches(false);
    }
    void Limited(const MeshData &mesh, int mode, double limit, double size)
    {
        Begin(mesh);
        Survey();
        Edges();
        StripsLimited(mode, limit, size);
        ScanPoints();
        Patches(true);
    }

    LWPntID HostPoint(int meshIndex) { return host->points.at(meshIndex)->info.pnt; }
    Vec3 Pos(int point) { return model->pointTable[point]->position; }
    const BufPoly *Poly(int k) { return model->polyTable[k]; }
    std::vector<Vec3> PolyPositions(int k)
    {
        std::vector<Vec3> out;
        for (int v = 0; v < Poly(k)->count; ++v)
            out.push_back(Pos(Poly(k)->points[v]));
        return out;
    }
    // The patch (added after the strips) with a vertex at q, or -1.
    int PatchAt(const Vec3 &q)
    {
        for (int k = faces + strips; k < model->polyCount; ++k) {
            for (const Vec3 &p : PolyPositions(k)) {
                if (Equal(p, q))
                    return k;
            }
        }
        return -1;
    }
    int Done()
    {
        int n = 0;
        for (int i = 0; i < m; ++i)
            n += edges[i].done;
        return n;
    }

    void TearDown() override { free(edges); }
};

// ---- edge records and links --------------------------------------------

using EdgeRecords = PassFixture;

TEST_F(EdgeRecords, QuadRecordsRunRoundThePolygonAndLinkToTheirNeighbours)
{
    Begin(Mesh({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}, {{0, 1, 2, 3}}, "Q"));
    Survey();
    Edges();
    ASSERT_EQ(m, 4);
    const int ab[4][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};
    const int links[4][2] = {{3, 2}, {0, 3}, {1, 0}, {2, 1}};
    for (int k = 0; k < 4; ++k) {
        const LineInfo &e = edges[k];
        EXPECT_EQ(e.vertexA, ab[k][0]) << "edge " << k;
        EXPECT_EQ(e.vertexB, ab[k][1]) << "edge " << k;
        EXPECT_EQ(e.pointA, records[0].points[ab[k][0]]) << "edge " << k;
        EXPECT_EQ(e.pointB, records[0].points[ab[k][1]]) << "edge " << k;
        EXPECT_EQ(e.hostA, HostPoint(ab[k][0])) << "edge " << k;
        EXPECT_EQ(e.hostB, HostPoint(ab[k][1])) << "edge " << k;
        EXPECT_EQ(e.prevVertex, links[k][0]) << "edge " << k;
        EXPECT_EQ(e.nextVertex, links[k][1]) << "edge " << k;
        EXPECT_EQ(e.hostPrev, HostPoint(links[k][0])) << "edge " << k;
        EXPECT_EQ(e.hostNext, HostPoint(links[k][1])) << "edge " << k;
        EXPECT_EQ(e.polyIndex, 0);
        EXPECT_EQ(e.hostPoly, ids[0]);
        EXPECT_STREQ(e.surface, "Q");
        EXPECT_EQ(e.normal.z, 1.0);
        EXPECT_EQ(e.done, 0);
    }
    // The closing edge's midpoint lies halfway back to the first vertex.
    EXPECT_TRUE(Equal(edges[3].midpoint, V(0, 1, 0))) << Str(edges[3].midpoint);
    EXPECT_TRUE(Equal(edges[0].midpoint, V(1, 0, 0))) << Str(edges[0].midpoint);

    const auto &mons = host->log.monitors;
    ASSERT_EQ(mons.size(), 3u);
    EXPECT_EQ(mons[1].title, "Corvane mode:Obj");
    EXPECT_EQ(mons[1].text, "Phase: LineList");
    EXPECT_EQ(mons[1].inits, std::vector<unsigned>{1});
    EXPECT_EQ(mons[2].title, "Corvane mode:Obj");
    EXPECT_EQ(mons[2].text, "Phase: LineInfo");
    EXPECT_EQ(mons[2].inits, std::vector<unsigned>{4});
    EXPECT_TRUE(mons[2].done && mons[2].destroyed);
}

TEST_F(EdgeRecords, TriangleEdgesHaveOneVertexBeforeAndAfter)
{
    Begin(Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}));
    Survey();
    m = LineListPass(&ctx, (int)ids.size(), records.data(), &edges);
    ASSERT_EQ(m, 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(edges[k].prevVertex, -1) << "unlinked after LineList, edge " << k;
        EXPECT_EQ(edges[k].nextVertex, -1) << "edge " << k;
    }
    LineInfoPass(&ctx, m, edges);
    for (int k = 0; k < 3; ++k) {
        int other = (k + 2) % 3;
        EXPECT_EQ(edges[k].prevVertex, other) << "edge " << k;
        EXPECT_EQ(edges[k].nextVertex, other) << "edge " << k;
        EXPECT_EQ(edges[k].hostPrev, edges[k].hostNext) << "edge " << k;
    }
}

// The records the survey, LineList and LineInfo leave on `mesh`: through the
// passes told about the runs (runs filled in) or through the plain ones,
// the LineInfo monitor aborting at `abortStep` (0: never).
std::vector<LineInfo> LinkedEdges(const MeshData &mesh, bool told, unsigned abortStep, int *runs = nullptr,
                                  int32_t sharedIndex = -1)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::vector<LWPolID> ids = EmuHostAddMesh(host.get(), 2, mesh);
    if (abortStep) {
        host->script.abortMonitor = 2;  // survey, LineList, LineInfo
        host->script.abortStep = abortStep;
    }
    EmuHostMakeCurrent(host.get());
    HostMeshEditOp *edit = EmuEditBegin(0, 0, 1);
    BufModel *model = (BufModel *)calloc(1, sizeof(BufModel));
    EditContext ctx{};
    InitTestContext(&ctx, model, edit, (HostMonitorService *)EmuGlobal("LWM: Dynamic Monitor", 0),
                    (HostMessageService *)EmuGlobal("Info Messages", 0));
    std::vector<PolyInfo> records(ids.size() + 1);
    ClearPolyInfo((int)records.size(), records.data());
    GetPolyInfo(&ctx, (int)ids.size(), ids.data(), records.data());
    if (sharedIndex >= 0)
        records[2].polyIndex = sharedIndex;
    LineInfo *edges = nullptr;
    int m = 0;
    if (told) {
        m = LineListPassRuns(&ctx, (int)ids.size(), records.data(), &edges, runs);
        LineInfoPassRuns(&ctx, m, edges, *runs);
    } else {
        m = LineListPass(&ctx, (int)ids.size(), records.data(), &edges);
        LineInfoPass(&ctx, m, edges);
    }
    std::vector<LineInfo> out(edges, edges + m);
    for (LineInfo &e : out)
        e.surface = nullptr;  // the host's own string, elsewhere in each host
    free(edges);
    FreePolyInfo((int)records.size(), records.data());
    BufModelRelease(model);
    free(model);
    edit->done(edit->state, 0, 0);
    return out;
}

void ExpectSameRecords(const std::vector<LineInfo> &got, const std::vector<LineInfo> &want,
                       const std::string &what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t k = 0; k < got.size(); ++k)
        EXPECT_EQ(memcmp(&got[k], &want[k], sizeof(LineInfo)), 0) << what << ", record " << k;
}

// The survey's records make runs whose links are known as LineList writes
// them; the links, and what an abort of LineInfo at any step leaves, are
// those of the plain passes. Records whose polygon indices do not rise are
// written unlinked and linked the general way.
TEST(EdgeRuns, LinkedAsWrittenAndAbortsLeaveWhatTheScansLeave)
{
    MeshData mesh =
        Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}, {3, 0.5, 0}, {1.5, 2, 0}},
             {{0, 1, 2, 3}, {1, 4, 5, 2}, {4, 6, 5}, {3, 2, 5, 7, 0}});
    int runs = -1;
    std::vector<LineInfo> want = LinkedEdges(mesh, false, 0);
    ASSERT_EQ(want.size(), 16u);
    ExpectSameRecords(LinkedEdges(mesh, true, 0, &runs), want, "no abort");
    EXPECT_EQ(runs, EDGE_RUNS_LINKED);
    for (unsigned step = 1; step <= want.size() + 1; ++step) {
        ExpectSameRecords(LinkedEdges(mesh, true, step, &runs), LinkedEdges(mesh, false, step),
                          "abort at step " + std::to_string(step));
    }

    // The third polygon under the first one's index: no longer a run of its
    // own, so nothing is taken as given.
    std::vector<LineInfo> shared = LinkedEdges(mesh, false, 0, nullptr, 0);
    ExpectSameRecords(LinkedEdges(mesh, true, 0, &runs, 0), shared, "shared index");
    EXPECT_EQ(runs, EDGE_RUNS_UNKNOWN);
    ExpectSameRecords(LinkedEdges(mesh, true, 5, &runs, 0), LinkedEdges(mesh, false, 5, nullptr, 0),
                      "shared index, abort at step 5");
}

TEST_F(EdgeRecords, ShortRefusedAndUnsurveyedPolygonsMakeNoEdges)
{
    // quad, two-point polygon, quad: the quads' records are consecutive.
    MeshData mesh = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}},
                         {{0, 1, 2, 3}, {1, 2}, {1, 4, 5, 2}});
    Begin(mesh);
    Survey();
    ASSERT_EQ(records[1].polyIndex, -1);
    m = LineListPass(&ctx, (int)ids.size(), records.data(), &edges);
    ASSERT_EQ(m, 8);
    EXPECT_EQ(edges[3].polyIndex, 0);
    EXPECT_EQ(edges[4].polyIndex, 1) << "second quad is the output model's polygon 1";
    EXPECT_EQ(edges[4].hostPoly, ids[2]);
    EXPECT_EQ(host->log.monitors[1].steps, 3u) << "the short polygon still takes its step";

    // A record whose copy was refused, and one the survey never reached,
    // are skipped without reading their vertex data.
    free(edges);
    edges = nullptr;
    records[0].polyIndex = -1;
    records[2].surveyed = 0;
    m = LineListPass(&ctx, (int)ids.size(), records.data(), &edges);
    EXPECT_EQ(m, 0);
    ASSERT_NE(edges, nullptr) << "at least one record is allocated";
}

TEST_F(EdgeRecords, AbortInLineListKeepsTheEdgesGathered)
{
    Begin(MakeCube());
    host->script.abortMonitor = 1;
    host->script.abortStep = 3;
    Survey();
    Edges();
    EXPECT_EQ(m, 8) << "two faces handled before the abort";
    for (int k = 0; k < m; ++k)
        EXPECT_NE(edges[k].nextVertex, -1) << "edge " << k;
}

TEST_F(EdgeRecords, RecordsLeftUnlinkedByAnAbortAreNeverChamfered)
{
    Begin(TwoSquares());
    host->script.abortMonitor = 2;
    host->script.abortStep = 6;  // records 0 to 4 linked by then, 5 to 7 not all
    Survey();
    Edges();
    ASSERT_EQ(m, 8);
    // Record 6 (right square, 5 -> 4) was never i; 5 set its previous
    // vertex only.
    EXPECT_EQ(edges[7].prevVertex, -1);
    Strips(kS);
    ScanPoints();
    Patches(false);
    // The shared edge is left square 1 -> 4 (record 1) and right square
    // 4 -> 1 (record 7): record 7 is unlinked, so no strip.
    EXPECT_EQ(strips, 0);
    EXPECT_EQ(Done(), 0);
    EXPECT_EQ(model->polyCount, 2);
}

// ---- edge offset -------------------------------------------------------

TEST(CornerOffsetTest, UnitSquareCornersSlideAlongTheirNeighbours)
{
    const Vec3 n = V(0, 0, 1);
    const Vec3 x = V(1, 0, 0);  // edge (0,0,0) -> (1,0,0)
    // End a: previous point (0,1,0), Y = A - P; a convex corner moves A
    // towards P.
    Vec3 oa = CornerOffset(x, V(0, -1, 0), n, 0.1);
    EXPECT_TRUE(oa.x == 0.0 && oa.y == 0.1 && oa.z == 0.0) << Str(oa);
    // End b: next point (1,1,0), Y = Q - B.
    Vec3 ob = CornerOffset(x, V(0, 1, 0), n, 0.1);
    EXPECT_TRUE(ob.x == 0.0 && ob.y == 0.1 && ob.z == 0.0) << Str(ob);
    // A slanted neighbour: the slide is longer, the distance from the edge
    // line still the bevel size.
    Vec3 os = CornerOffset(x, V(1, 1, 0), n, 0.125);
    EXPECT_DOUBLE_EQ(os.y, 0.125) << Str(os);
    EXPECT_DOUBLE_EQ(os.x, 0.125) << Str(os);
    // End b at a reflex corner (Q = (1,-1,0) below B): the point moves
    // against Y, onto the neighbour's extension beyond the corner, still to
    // the polygon's side of the edge.
    Vec3 orx = CornerOffset(x, V(0, -1, 0), n, 0.125);
    EXPECT_TRUE(orx.x == 0.0 && orx.y == 0.125) << Str(orx);
    // The same corner seen by a polygon facing -z moves the edge outwards.
    Vec3 flipped = CornerOffset(x, V(0, -1, 0), V(0, 0, -1), 0.125);
    EXPECT_EQ(flipped.y, -0.125) << Str(flipped);
}

TEST(CornerOffsetTest, NearlyStraightAndDegenerateCornersDoNotMove)
{
    const Vec3 n = V(0, 0, 1);
    // Within half a degree of a straight line.
    double a = 0.5 * 0.017453292519943278;
    Vec3 o = CornerOffset(V(1, 0, 0), V(cos(a), sin(a), 0), n, 0.125);
    EXPECT_TRUE(o.x == 0.0 && o.y == 0.0 && o.z == 0.0) << Str(o);
    // Zero-length neighbouring edge or edge: the zero vector, no NaN.
    o = CornerOffset(V(1, 0, 0), V(0, 0, 0), n, 0.125);
    EXPECT_TRUE(o.x == 0.0 && o.y == 0.0 && o.z == 0.0) << Str(o);
    o = CornerOffset(V(0, 0, 0), V(0, 1, 0), n, 0.125);
    EXPECT_TRUE(o.x == 0.0 && o.y == 0.0 && o.z == 0.0) << Str(o);
}

// The paired form must give both calls' bits exactly: every sign, every
// flip of the side test, every zero and NaN, on corners of every kind.
TEST(CornerOffsetTest, PairGivesBothCallsBitForBit)
{
    auto same = [](const Vec3 &a, const Vec3 &b) { return memcmp(&a, &b, sizeof(Vec3)) == 0; };
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    std::vector<Vec3> pool = {V(1, 0, 0),  V(0, 1, 0),   V(0, 0, 1),    V(-1, 0, 0),     V(1, 1, 0),
                              V(1, -1, 0), V(0, 0, 0),   V(-0.0, 0, 0), V(1e-300, 0, 0), V(1e300, 1, 0),
                              V(3, 4, 5),  V(nan, 0, 0), V(inf, 1, 0),  V(1, 1e-17, 0),  V(0, -0.0, -0.0),
                              V(2, 2, 2),  V(-2, -2, -2)};
    std::vector<Vec3> normals = {V(0, 0, 1),   V(0, 0, -1),    V(1, 0, 0),   V(0, 0, 0),
                                 V(nan, 0, 0), V(0.6, 0, 0.8), V(inf, 0, 0), V(0, 0.5, 0.8660254037844386)};
    // Corners whose (-Y) x X lies about 60 degrees off the normal, where the
    // side test stops being decided by the sign of the dot product alone.
    for (int k = 0; k < 400; k++) {
        double t = 1.0471975511965976 + (k - 200) * 1e-9;
        pool.push_back(V(1, 0, 0));
        pool.push_back(V(0, cos(t), -sin(t)));
    }
    srand(7);
    auto random = [] { return (rand() / (double)RAND_MAX - 0.5) * pow(2.0, rand() % 40 - 20); };
    for (int k = 0; k < 4000; k++)
        pool.push_back(V(random(), random(), k % 3 ? random() : 0.0));
    int cases = 0;
    for (size_t i = 0; i < pool.size(); i++) {
        // Every special vector against every other; random ones against a
        // few neighbours.
        size_t span = i < 17 ? pool.size() : 8;
        for (size_t d = 1; d <= span && d < pool.size(); d++) {
            const Vec3 &x = pool[i];
            const Vec3 &y = pool[(i + d) % pool.size()];
            const Vec3 &n = normals[(i + d) % normals.size()];
            for (double size : {0.125, 1e-3}) {
                Vec3 alongY, alongX;
                CornerOffsetPair(x, y, n, size, &alongY, &alongX);
                ASSERT_TRUE(same(alongY, CornerOffset(x, y, n, size)))
                    << "x " << Str(x) << " y " << Str(y) << " n " << Str(n);
                ASSERT_TRUE(same(alongX, CornerOffset(y, x, n, size)))
                    << "x " << Str(x) << " y " << Str(y) << " n " << Str(n);
                cases++;
            }
        }
    }
    EXPECT_GT(cases, 60000);
}

using EdgeOffset = PassFixture;

TEST_F(EdgeOffset, TwoEdgesOfASquareMeetWhereTheInsetLinesCross)
{
    Begin(Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}));
    Survey();
    Edges();
    const int32_t *pts = records[0].points;
    model->pointTable[pts[0]]->hostId = HostPoint(0);
    OffsetEdgePoints(&ctx, &edges[0], 0.1);
    EXPECT_TRUE(Equal(Pos(pts[0]), V(0, 0.1, 0))) << Str(Pos(pts[0]));
    EXPECT_TRUE(Equal(Pos(pts[1]), V(1, 0.1, 0))) << Str(Pos(pts[1]));
    EXPECT_EQ(model->pointTable[pts[0]]->hostId, nullptr);
    OffsetEdgePoints(&ctx, &edges[1], 0.1);
    EXPECT_TRUE(Equal(Pos(pts[1]), V(0.9, 0.1, 0))) << Str(Pos(pts[1]));
    EXPECT_TRUE(Equal(Pos(pts[2]), V(0.9, 1, 0))) << Str(Pos(pts[2]));
    EXPECT_TRUE(Equal(Pos(pts[3]), V(0, 1, 0))) << "untouched corner";
}

// ---- chamfer strips ----------------------------------------------------

using ChamferStrips = PassFixture;

TEST_F(ChamferStrips, TwoCoplanarSquaresGetOneFlatStrip)
{
    Begin(TwoSquares());
    Survey();
    Edges();
    Strips(kS);
    ASSERT_EQ(strips, 1);
    EXPECT_EQ(Done(), 2);
    EXPECT_EQ(edges[1].done, 1) << "left square 1 -> 4";
    EXPECT_EQ(edges[7].done, 1) << "right square 4 -> 1";
    // Strip: right's copy of 1, right's copy of 4, left's copy of 4, left's
    // copy of 1; 0.25 wide, flat.
    std::vector<Vec3> strip = PolyPositions(2);
    ASSERT_EQ(strip.size(), 4u);
    const Vec3 want[4] = {V(1 + kS, 0, 0), V(1 + kS, 1, 0), V(1 - kS, 1, 0), V(1 - kS, 0, 0)};
    for (int v = 0; v < 4; ++v)
        EXPECT_TRUE(Equal(strip[v], want[v])) << "strip vertex " << v << " " << Str(strip[v]);
    EXPECT_STREQ(Poly(2)->surface, "Default");
    EXPECT_GT(Newell(strip).z, 0.0) << "wound like the squares";
    // The left copy lost a band along the edge; its far side stays.
    std::vector<Vec3> left = PolyPositions(0);
    EXPECT_TRUE(Equal(left[0], V(0, 0, 0)));
    EXPECT_TRUE(Equal(left[1], V(1 - kS, 0, 0)));
    EXPECT_TRUE(Equal(left[2], V(1 - kS, 1, 0)));
    EXPECT_TRUE(Equal(left[3], V(0, 1, 0)));
    // Border edges found no partner.
    EXPECT_EQ(edges[0].done, 0);

    const auto &mon = host->log.monitors.at(3);
    EXPECT_EQ(mon.title, "Corvane mode:Object");
    EXPECT_EQ(mon.text, " Phase: MakeLineCorvanePoly");
    EXPECT_EQ(mon.inits, (std::vector<unsigned>{8, 8}));
    EXPECT_EQ(mon.steps, 16u);
}

TEST_F(ChamferStrips, CubeFacesBecomeInsetSquaresJoinedByTwelveStrips)
{
    Begin(MakeCube());
    Survey();
    Edges();
    Strips(kS);
    ASSERT_EQ(strips, 12);
    EXPECT_EQ(Done(), 24);
    for (int f = 0; f < 6; ++f) {
        for (const Vec3 &p : PolyPositions(f)) {
            // One coordinate on the face's plane (0 or 1), the other two
            // inset to s or 1 - s.
            int onFace = 0, inset = 0;
            for (double c : {p.x, p.y, p.z}) {
                onFace += (c == 0.0 || c == 1.0);
                inset += (c == kS || c == 1 - kS);
            }
            EXPECT_TRUE(onFace == 1 && inset == 2) << "face " << f << " " << Str(p);
        }
    }
    for (int k = faces; k < faces + strips; ++k) {
        std::vector<Vec3> q = PolyPositions(k);
        ASSERT_EQ(q.size(), 4u);
        // Across the strip (its vertices 0 and 3 are the two copies of one
        // end): s along each of the two faces, so s * sqrt(2) wide at 45
        // degrees.
        Vec3 d = V(q[3].x - q[0].x, q[3].y - q[0].y, q[3].z - q[0].z);
        int zero = 0, s = 0;
        for (double c : {d.x, d.y, d.z}) {
            zero += (c == 0.0);
            s += (fabs(c) == kS);
        }
        EXPECT_TRUE(zero == 1 && s == 2) << "strip " << k << " across " << Str(d);
        EXPECT_STREQ(Poly(k)->surface, "Default");
    }
}

TEST_F(ChamferStrips, SurfaceNamesPassOnlyWhenBothSidesAgree)
{
    MeshData mesh = TwoSquares();
    MeshPutFace(&mesh, MeshFacesOf(mesh)[0]);  // a third square under the first two
    mesh.points.push_back({0, -1, 0});
    mesh.points.push_back({1, -1, 0});
    MeshSetFacePoints(&mesh, 2, {6, 7, 1, 0});
    mesh.polySurface[0] = MeshInternSurface(&mesh, "A");
    mesh.polySurface[1] = MeshInternSurface(&mesh, "B");
    mesh.polySurface[2] = kMeshNoSurface;  // the host reports none
    Begin(mesh);
    Survey();
    Edges();
    Strips(kS);
    ASSERT_EQ(strips, 2);
    EXPECT_EQ(Poly(3)->surface, nullptr) << "A against B";
    EXPECT_EQ(Poly(4)->surface, nullptr) << "A against no name";
}

TEST_F(ChamferStrips, SameDirectionAndOpenEdgesGetNoStrip)
{
    // The right square is wound the other way: both run the edge 1 -> 4.
    MeshData mesh = TwoSquares();
    MeshSetFacePoints(&mesh, 1, {1, 4, 5, 2});
    Plain(mesh, kS);
    EXPECT_EQ(strips, 0);
    EXPECT_EQ(Done(), 0);
    EXPECT_EQ(model->polyCount, 2) << "no strips, no patches";
    for (int f = 0; f < 2; ++f) {
        for (int v = 0; v < 4; ++v)
            EXPECT_TRUE(Equal(PolyPositions(f)[v], records[f].positions[v])) << "face " << f;
    }
}

// A polygon with a slit: it runs 1 -> 2 and back 2 -> 1. The edges on either
// side of the slit (0 -> 1 and 1 -> 3) are chamfered against the polygon
// below, and their shared corner 1 must be treated as if the slit were not
// there.
//
//     5 ----------------- 4
//     |                   |
//     |        2          |
//     |        |          3
//     0 ------ 1 ------/
//     |                  |
//     6 ---------------- 7
TEST_F(ChamferStrips, SlitSeamIsJoinedAndGetsNoStrip)
{
    MeshData mesh =
        Mesh({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {4, 1, 0}, {4, 4, 0}, {0, 4, 0}, {0, -4, 0}, {4, -4, 0}},
             {{0, 1, 2, 1, 3, 4, 5}, {6, 7, 3, 1, 0}});
    Begin(mesh);
    Survey();
    Edges();
    Strips(kS);
    EXPECT_EQ(strips, 2) << "one strip each for 0-1 and 1-3, none for the slit";
    EXPECT_EQ(edges[1].done, 0);
    EXPECT_EQ(edges[2].done, 0);
    // The slit's second traversal now runs over the first one's points.
    EXPECT_EQ(edges[2].pointA, edges[1].pointB);
    EXPECT_EQ(edges[2].pointB, edges[1].pointA);
    EXPECT_EQ(Poly(0)->points[3], Poly(0)->points[1]);
    // The edges beside the slit are linked across it.
    EXPECT_EQ(edges[0].hostNext, HostPoint(3));
    EXPECT_EQ(edges[0].nextVertex, 4);
    EXPECT_EQ(edges[3].hostPrev, HostPoint(0));
    EXPECT_EQ(edges[3].prevVertex, 0);
    EXPECT_EQ(edges[3].pointA, edges[0].pointB);
    // Corner 1 of the slit polygon ends where the two inset edge lines
    // cross: y = s, and s in from the line 1 -> 3.
    Vec3 c = Pos(Poly(0)->points[1]);
    EXPECT_NEAR(c.y, kS, 1e-15) << Str(c);
    EXPECT_NEAR(c.x, 2 + kS * (2 - sqrt(5.0)), 1e-15) << Str(c);
}

// The angle test: a cube's faces meet at (just under) 90 degrees, coplanar
// faces at 180.
struct AngleCase {
    const char *name;
    bool cube;
    int mode;
    double limit;
    int strips;
};

class AngleTest : public PassFixture, public ::testing::WithParamInterface<AngleCase> {};

TEST_P(AngleTest, ChamfersOnlyThePairsThatPass)
{
    const AngleCase &c = GetParam();
    Begin(c.cube ? MakeCube() : TwoSquares());
    Survey();
    Edges();
    StripsLimited(c.mode, c.limit, kS);
    EXPECT_EQ(strips, c.strips);
    EXPECT_EQ(Done(), 2 * c.strips);
    if (c.strips == 0) {
        for (int v = 0; v < 4; ++v)
            EXPECT_TRUE(Equal(PolyPositions(0)[v], records[0].positions[v])) << "nothing moved";
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, AngleTest,
                         ::testing::Values(AngleCase{"CubeLT100", true, ANGLE_MODE_LT, 100.0, 12},
                                           AngleCase{"CubeLT80", true, ANGLE_MODE_LT, 80.0, 0},
                                           // 89.9999999999999 < 90: the factor is a little over 180/pi
                                           AngleCase{"CubeLT90", true, ANGLE_MODE_LT, 90.0, 12},
                                           AngleCase{"CubeGT90", true, ANGLE_MODE_GT, 90.0, 0},
                                           AngleCase{"CubeGT100", true, ANGLE_MODE_GT, 100.0, 0},
                                           AngleCase{"CubeGT80", true, ANGLE_MODE_GT, 80.0, 12},
                                           AngleCase{"CoplanarGT100", false, ANGLE_MODE_GT, 100.0, 1},
                                           AngleCase{"CoplanarLT100", false, ANGLE_MODE_LT, 100.0, 0},
                                           // 180 is not below 180; a clamped dot product keeps
                                           // coplanar faces at exactly 180
                                           AngleCase{"CoplanarLT180", false, ANGLE_MODE_LT, 180.0, 0},
                                           AngleCase{"CoplanarGT179", false, ANGLE_MODE_GT, 179.999, 1}),
                         [](const ::testing::TestParamInfo<AngleCase> &info) {
                             return std::string(info.param.name);
                         });

// Three squares share the edge 1-4: the left one runs 1 -> 4, the two
// others 4 -> 1 (the right one coplanar, the third folded up to 90
// degrees). No pair of them is the edge's, so none gets a strip there,
// whichever would pass the angle test.
MeshData ThreeSquaresOnAnEdge()
{
    MeshData mesh = TwoSquares();
    mesh.points.push_back({1, 0, 1});
    mesh.points.push_back({1, 1, 1});
    MeshPutFace(&mesh, MeshFacesOf(mesh)[0]);
    MeshSetFacePoints(&mesh, 2, {1, 6, 7, 4});
    return mesh;
}

TEST_F(ChamferStrips, ACrowdedEdgeGetsNoStripWhateverTheAngle)
{
    Begin(ThreeSquaresOnAnEdge());
    Survey();
    Edges();
    StripsLimited(ANGLE_MODE_LT, 100.0, kS);
    EXPECT_EQ(strips, 0);
    EXPECT_EQ(edges[1].done + edges[7].done + edges[11].done, 0);
}

// ---- corner cut --------------------------------------------------------

using CornerCut = PassFixture;

// The square (1,1,0) - (2,2,0).
struct CutSquare {
    int first;  // point index of vertex 0
    int poly;
};

CutSquare AddSquare(BufModel *model)
{
    CutSquare sq;
    const Vec3 corners[4] = {V(1, 1, 0), V(2, 1, 0), V(2, 2, 0), V(1, 2, 0)};
    sq.first = BufModelAddPoint(model, &corners[0]);
    for (int v = 1; v < 4; ++v)
        BufModelAddPoint(model, &corners[v]);
    int32_t pts[4] = {sq.first, sq.first + 1, sq.first + 2, sq.first + 3};
    sq.poly = BufModelAddPoly(model, "Sq", 4, pts);
    return sq;
}

RingPlane PlaneThrough(BufModel *model, Vec3 anchor, Vec3 normal)
{
    return RingPlane{BufModelAddPoint(model, &anchor), normal};
}

TEST_F(CornerCut, CutSpanningTheEndOfTheListOpensIt)
{
    Begin(MeshData{});
    CutSquare sq = AddSquare(model);
    RingPlane plane = PlaneThrough(model, V(1.25, 1.25, 0), V(1, 1, 0));
    int before = model->pointCount;
    CutPolyCorner(model, &plane, sq.poly, V(1, 1, 0));
    ASSERT_EQ(model->pointCount, before + 2);
    const BufPoly *p = Poly(sq.poly);
    ASSERT_EQ(p->count, 5);
    // (H1, H2, v1, v2, v3): H1 on the edge 3 -> 0, H2 on 0 -> 1.
    const int32_t want[5] = {before, before + 1, sq.first + 1, sq.first + 2, sq.first + 3};
    for (int v = 0; v < 5; ++v)
        EXPECT_EQ(p->points[v], want[v]) << "vertex " << v;
    Vec3 h1 = Pos(before), h2 = Pos(before + 1);
    EXPECT_EQ(h1.x, 1.0) << Str(h1);
    EXPECT_NEAR(h1.y, 1.5, 1e-15) << Str(h1);
    EXPECT_NEAR(h2.x, 1.5, 1e-15) << Str(h2);
    EXPECT_EQ(h2.y, 1.0) << Str(h2);
    EXPECT_STREQ(p->surface, "Sq") << "the name stays";
    EXPECT_NEAR(p->centroid.x, (h1.x + h2.x + 2 + 2 + 1) / 5, 1e-15) << "centroid recomputed";
}

TEST_F(CornerCut, CutInsideTheListKeepsTheVerticesAroundIt)
{
    Begin(MeshData{});
    CutSquare sq = AddSquare(model);
    RingPlane plane = PlaneThrough(model, V(1.75, 1.75, 0), V(1, 1, 0));
    int before = model->pointCount;
    CutPolyCorner(model, &plane, sq.poly, V(2, 2, 0));
    const BufPoly *p = Poly(sq.poly);
    ASSERT_EQ(p->count, 5);
    const int32_t want[5] = {sq.first, sq.first + 1, before, before + 1, sq.first + 3};
    for (int v = 0; v < 5; ++v)
        EXPECT_EQ(p->points[v], want[v]) << "vertex " << v;
    EXPECT_NEAR(Pos(before).y, 1.5, 1e-15) << "H1 on 1 -> 2";
    EXPECT_NEAR(Pos(before + 1).x, 1.5, 1e-15) << "H2 on 2 -> 3";
}

TEST_F(CornerCut, NothingAtTheCornerOrNoCrossingLeavesThePolygonAlone)
{
    Begin(MeshData{});
    CutSquare sq = AddSquare(model);
    RingPlane plane = PlaneThrough(model, V(1.25, 1.25, 0), V(1, 1, 0));
    int before = model->pointCount;
    // No vertex at the corner position.
    CutPolyCorner(model, &plane, sq.poly, V(1.5, 1.5, 0));
    EXPECT_EQ(model->pointCount, before);
    EXPECT_EQ(Poly(sq.poly)->count, 4);
    // The plane x + y = 3 passes exactly through vertices 1 and 3: no edge
    // is crossed strictly between its ends, so vertex 0 stays.
    RingPlane diagonal = PlaneThrough(model, V(1.5, 1.5, 0), V(1, 1, 0));
    before = model->pointCount;
    CutPolyCorner(model, &diagonal, sq.poly, V(1, 1, 0));
    EXPECT_EQ(model->pointCount, before);
    EXPECT_EQ(Poly(sq.poly)->count, 4);
    // A zero normal (collinear ring entries) crosses nothing either.
    RingPlane flat{plane.anchor, V(0, 0, 0)};
    CutPolyCorner(model, &flat, sq.poly, V(1, 1, 0));
    EXPECT_EQ(model->pointCount, before);
    for (int v = 0; v < 4; ++v)
        EXPECT_EQ(Poly(sq.poly)->points[v], sq.first + v);
}

// Whether a vertex still sits at the corner is a question of distance
// (within the weld's tolerance), the same wherever the polygon lies: a
// corner at the origin is cut, and far from it a vertex moved off the corner
// by a fraction of the polygon is not.
TEST_F(CornerCut, TheCornerTestIsTheSameAtTheOriginAndFarFromIt)
{
    Begin(MeshData{});
    for (double at : {0.0, 100000.0}) {
        // A model of its own: its box gives the tolerance.
        BufModelRelease(model);
        memset(model, 0, sizeof *model);
        ASSERT_EQ(BufModelInit(model), 0);
        const Vec3 corners[4] = {V(at, at, 0), V(at + 1, at, 0), V(at + 1, at + 1, 0), V(at, at + 1, 0)};
        int first = BufModelAddPoint(model, &corners[0]);
        for (int v = 1; v < 4; ++v)
            BufModelAddPoint(model, &corners[v]);
        int32_t pts[4] = {first, first + 1, first + 2, first + 3};
        int poly = BufModelAddPoly(model, "Sq", 4, pts);
        RingPlane plane = PlaneThrough(model, V(at + 0.25, at + 0.25, 0), V(1, 1, 0));
        int before = model->pointCount;
        CutPolyCorner(model, &plane, poly, V(at, at, 0));
        EXPECT_EQ(Poly(poly)->count, 5) << at;
        EXPECT_EQ(model->pointCount, before + 2) << at;
        // Vertex 2 moved a hundredth off the corner (at + 1, at + 1): not
        // cut.
        model->pointTable[first + 2]->position = V(at + 0.99, at + 0.99, 0);
        RingPlane other = PlaneThrough(model, V(at + 0.75, at + 0.75, 0), V(1, 1, 0));
        before = model->pointCount;
        CutPolyCorner(model, &other, poly, V(at + 1, at + 1, 0));
        EXPECT_EQ(model->pointCount, before) << at;
        EXPECT_EQ(Poly(poly)->count, 5) << at;
    }
}

// ---- corner patches ----------------------------------------------------

TEST(ReverseSearch, SeamTraversalsAndUndoneRecordsAreSkippedAsAsked)
{
    LineInfo e[4] = {};
    LWPntID a = (LWPntID)1, b = (LWPntID)2;
    e[0].hostA = a, e[0].hostB = b, e[0].pointA = 10, e[0].pointB = 11;
    // A seam traversal that shares e[0]'s points.
    e[1].hostA = b, e[1].hostB = a, e[1].pointA = 11, e[1].pointB = 10, e[1].done = 1;
    e[2].hostA = b, e[2].hostB = a, e[2].pointA = 20, e[2].pointB = 21;
    e[3].hostA = b, e[3].hostB = a, e[3].pointA = 30, e[3].pointB = 31, e[3].done = 1;
    EXPECT_EQ(RefFindReverse(e, 4, &e[0]), &e[2]);
    EXPECT_EQ(RefFindDoneReverse(e, 4, &e[0]), &e[1]);
    EXPECT_EQ(RefFindReverse(e, 1, &e[0]), nullptr);
    EXPECT_EQ(RefFindDoneReverse(e, 3, &e[2]), nullptr);
}

using CornerPatches = PassFixture;

TEST_F(CornerPatches, CubeCornersGetTrianglesOfTheInsetCopies)
{
    Plain(MakeCube(), kS);
    ASSERT_EQ(model->polyCount, 6 + 12 + 8);
    int k = PatchAt(V(kS, kS, 0));
    ASSERT_GE(k, 0);
    std::vector<Vec3> tri = PolyPositions(k);
    ASSERT_EQ(tri.size(), 3u);
    std::set<std::vector<double>> got;
    for (const Vec3 &p : tri)
        got.insert({p.x, p.y, p.z});
    std::set<std::vector<double>> want = {{kS, kS, 0}, {kS, 0, kS}, {0, kS, kS}};
    EXPECT_EQ(got, want);
    // Wound like the faces: its normal points out of the cube.
    Vec3 n = Newell(tri);
    EXPECT_TRUE(n.x < 0 && n.y < 0 && n.z < 0) << Str(n);
    EXPECT_STREQ(Poly(k)->surface, "Default");
    for (int p = faces + strips; p < model->polyCount; ++p)
        EXPECT_EQ(Poly(p)->count, 3) << "patch " << p;

    const auto &mon = host->log.monitors.at(4);
    EXPECT_EQ(mon.title, "Corvane mode:Object");
    EXPECT_EQ(mon.text, "Phase: PointCorvane");
    EXPECT_EQ(mon.inits, std::vector<unsigned>{8});
    EXPECT_TRUE(host->log.messages.empty());
}

TEST_F(CornerPatches, PatchNamedOnlyWhenEveryFaceAboutThePointAgrees)
{
    // Faces -z, -y, -x meet at the origin, +z, +y, +x at (1, 1, 1).
    MeshData mesh = MakeCube();
    const char *names[6] = {"A", "Top", "B", "Top", "C", "Top"};
    for (int f = 0; f < 6; ++f)
        mesh.polySurface[f] = MeshInternSurface(&mesh, names[f]);
    Plain(mesh, kS);
    int origin = PatchAt(V(kS, kS, 0));
    int far = PatchAt(V(1 - kS, 1 - kS, 1));
    ASSERT_GE(origin, 0);
    ASSERT_GE(far, 0);
    EXPECT_EQ(Poly(origin)->surface, nullptr);
    EXPECT_STREQ(Poly(far)->surface, "Top");
}

TEST_F(CornerPatches, MissingSurfaceNamesAreNeverEqual)
{
    MeshData mesh = MakeCube();
    mesh.polySurface.assign(MeshPolyCount(mesh), kMeshNoSurface);
    Plain(mesh, kS);
    ASSERT_EQ(model->polyCount, 26);
    for (int p = faces; p < model->polyCount; ++p)
        EXPECT_EQ(Poly(p)->surface, nullptr) << "strip or patch " << p;
}

TEST_F(CornerPatches, OpenGridPatchesOnlyItsInnerPoints)
{
    Plain(MakeQuadGrid(3, 3), kS);
    EXPECT_EQ(strips, 12);
    ASSERT_EQ(model->polyCount, 9 + 12 + 4);
    // The patch at the inner point (1, 1) is the square of the four copies.
    int k = PatchAt(V(1 - kS, 1 - kS, 0));
    ASSERT_GE(k, 0);
    std::vector<Vec3> quad = PolyPositions(k);
    ASSERT_EQ(quad.size(), 4u);
    for (const Vec3 &p : quad) {
        EXPECT_EQ(fabs(p.x - 1), kS) << Str(p);
        EXPECT_EQ(fabs(p.y - 1), kS) << Str(p);
    }
    EXPECT_GT(Newell(quad).z, 0.0) << "faces +z like the grid";
}

TEST_F(CornerPatches, UnusedPointAndTwoPolygonFoldGetNoPatch)
{
    // Two squares folded along 1-4, open elsewhere; point 6 is used by none.
    MeshData mesh = TwoSquares();
    mesh.points[2] = {1, 0, 1};
    mesh.points[5] = {1, 1, 1};
    mesh.points.push_back({5, 5, 5});
    Plain(mesh, kS);
    EXPECT_EQ(strips, 1);
    EXPECT_EQ(model->polyCount, 3);
}

TEST_F(CornerPatches, FullRingShowsTheErrorOncePerPass)
{
    Begin(MakeCube());
    Survey();
    Edges();
    Strips(kS);
    // A point list of three: every corner's ring fills at three entries.
    ScanPoints();
    points.count = 3;
    Patches(false);
    ASSERT_EQ(host->log.messages.size(), 1u);
    const EmuMessage &msg = host->log.messages[0];
    EXPECT_TRUE(msg.error);
    EXPECT_EQ(msg.line1, " Edge 'Corvane' Error!!!");
    EXPECT_TRUE(msg.line2Null);
    ASSERT_EQ(model->polyCount, faces + strips + 3) << "full rings still close";
    for (int p = faces + strips; p < model->polyCount; ++p)
        EXPECT_EQ(Poly(p)->surface, nullptr) << "a full ring gets no name";
}

TEST_F(CornerPatches, LimitedVariantWithEveryEdgeChamferedMatchesThePlainOne)
{
    Limited(MakeCube(), ANGLE_MODE_LT, 100.0, kS);
    ASSERT_EQ(model->polyCount, 26);
    int k = PatchAt(V(kS, kS, 0));
    ASSERT_GE(k, 0);
    std::vector<Vec3> tri = PolyPositions(k);
    ASSERT_EQ(tri.size(), 3u);
    Vec3 n = Newell(tri);
    EXPECT_TRUE(n.x < 0 && n.y < 0 && n.z < 0) << Str(n);
    EXPECT_STREQ(Poly(k)->surface, "Default");
}

TEST_F(CornerPatches, LimitedVariantWithoutChamfersNeitherPatchesNorCuts)
{
    Limited(MakeCube(), ANGLE_MODE_LT, 80.0, kS);
    EXPECT_EQ(model->polyCount, 6);
    EXPECT_EQ(model->pointCount, 24) << "no cut point added";
    for (int f = 0; f < 6; ++f)
        EXPECT_EQ(Poly(f)->count, 4);
}

// The bottom of the cube [1, 2]^3 fanned from its corner (1, 1, 1) into three
// triangles (C1, C2, C3; point 8 at (2, 1.5, 1) also splits the +x face).
// With " LT " 135 the folds are chamfered and the two fan edges are not. C1
// and C3 each have one fold at the corner, so the strips slide their copies
// of it along the fan edges, onto C2's two edges; C2 has no chamfered edge
// there and keeps its corner. The corner gives way to those two copies (the
// cut along the strips' ends), and the patch closes the rest of the hole:
// no point is added, every polygon shares its neighbours' points.
//
//   (1,2,1) ------- (2,2,1)
//      |  C1      /    |
//      |       /   C2  |
//      |    /  ___---(2,1.5,1)
//      | /__---    C3  |
//   (1,1,1) ------- (2,1,1)
TEST_F(CornerPatches, CornerBetweenUnchamferedEdgesGivesWayToItsNeighboursCopies)
{
    MeshData mesh = MakeCube(1.0, 2.0);
    mesh.points.push_back({2, 1.5, 1});
    SplitEdge(&mesh, 1, 3, 8);
    // Face -z (0, 2, 3, 1 from below) becomes the fan.
    MeshSetFacePoints(&mesh, 0, {0, 2, 3});
    MeshFace c2 = MeshFacesOf(mesh)[0], c3 = MeshFacesOf(mesh)[0];
    c2.points = {0, 3, 8};
    c3.points = {0, 8, 1};
    MeshPutFace(&mesh, c2);
    MeshPutFace(&mesh, c3);
    int corners = 0;
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        corners += (int)poly.size();
    }
    Limited(mesh, ANGLE_MODE_LT, 135.0, kS);
    EXPECT_EQ(model->pointCount, corners) << "the survey's copies only";
    const int c1Index = 0, c2Index = 6, c3Index = 7;
    const int32_t fromC1 = records[c1Index].points[0], fromC3 = records[c3Index].points[0];
    // C1's copy slid along the diagonal, C3's along the edge to (2, 1.5, 1),
    // each until it lies kS from the fold its polygon was cut back from.
    Vec3 onDiagonal = Pos(fromC1), onFan = Pos(fromC3);
    EXPECT_EQ(onDiagonal.z, 1.0);
    EXPECT_NEAR(onDiagonal.x, 1 + kS, 1e-15) << Str(onDiagonal);
    EXPECT_NEAR(onDiagonal.y, 1 + kS, 1e-15) << Str(onDiagonal);
    EXPECT_EQ(onFan.z, 1.0);
    EXPECT_NEAR(onFan.x, 1 + 2 * kS, 1e-15) << Str(onFan);
    EXPECT_NEAR(onFan.y, 1 + kS, 1e-15) << Str(onFan);
    // C2 (0, 3, 8): its corner replaced by C3's copy (on 8 -> 0) and C1's
    // (on 0 -> 3), in its own order.
    const BufPoly *cut = Poly(c2Index);
    ASSERT_EQ(cut->count, 4);
    EXPECT_EQ(cut->points[0], fromC3);
    EXPECT_EQ(cut->points[1], fromC1);
    EXPECT_EQ(cut->points[2], records[c2Index].points[1]);
    EXPECT_EQ(cut->points[3], records[c2Index].points[2]);
    // The patch: C3's, -y's, -x's and C1's copies, facing out of the corner.
    int patch = PatchAt(onDiagonal);
    ASSERT_GE(patch, 0);
    ASSERT_EQ(Poly(patch)->count, 4);
    EXPECT_EQ(Poly(patch)->points[0], fromC3);
    EXPECT_EQ(Poly(patch)->points[3], fromC1);
    Vec3 n = Newell(PolyPositions(patch));
    EXPECT_TRUE(n.x < 0 && n.y < 0 && n.z < 0) << Str(n);
}

TEST_F(CornerPatches, AbortStopsBeforeTheNextPoint)
{
    host->script.abortMonitor = 4;
    host->script.abortStep = 11;
    Plain(MakeBox(1, 1, 1, 2), kS);
    EXPECT_EQ(model->polyCount - faces - strips, 10) << "points 0 to 9 patched";
    EXPECT_TRUE(host->log.monitors.at(4).done);
}

// ---- end to end through the activation ---------------------------------

struct ObjectModeRun : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::string dir = MakeTempDir("objmode");

    void SetUp() override
    {
        host->script.pluginsDir = dir;
        host->script.bevelSize = kS;
        host->script.angleMode = ANGLE_MODE_DISABLE;
    }
    void TearDown() override
    {
        unlink((dir + "/Corvane.cfg").c_str());
        rmdir(dir.c_str());
    }
    MeshData Run(const MeshData &mesh)
    {
        EmuHostAddMesh(host.get(), 2, mesh);
        EXPECT_EQ(EmuHostRun(host.get(), Activate), HOST_ACTIVATE_OK);
        return EmuHostLayerMesh(host.get(), 1);
    }
    void Limit(int mode, double degrees)
    {
        host->script.angleMode = mode;
        host->script.limitAngleRad = RadiansFor(degrees);
        ASSERT_EQ(*host->script.limitAngleRad * 57.29577951308239, degrees);
    }
};

bool HasPoint(const MeshData &mesh, int index, double x, double y, double z)
{
    const auto &p = mesh.points[index];
    return p[0] == x && p[1] == y && p[2] == z;
}

TEST_F(ObjectModeRun, CubeBecomesAClosedChamferedCube)
{
    MeshData out = Run(MakeCube());
    ASSERT_EQ(MeshPolyCount(out), 26u);
    EXPECT_EQ(out.points.size(), 24u) << "the weld merges the copies the strips share";
    EXPECT_EQ(MeshValidityFault(out, true), "");
    EXPECT_GT(SignedVolume(out), 0.0) << "wound like the input";
    // The corner patch at the origin.
    int found = 0;
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(out); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(out, polyIndex);
        if (poly.size() != 3)
            continue;
        std::set<std::array<double, 3>> pts;
        for (int p : poly)
            pts.insert(out.points[p]);
        std::set<std::array<double, 3>> want = {{kS, kS, 0}, {kS, 0, kS}, {0, kS, kS}};
        found += (pts == want);
    }
    EXPECT_EQ(found, 1);
    EXPECT_EQ(host->log.doneCodes, std::vector<int>{HOST_EDIT_KEEP});
    EXPECT_TRUE(HasPoint(out, MeshPolyPoints(out, 0)[0], kS, kS, 0)) << "the -z face's first corner";
}

TEST_F(ObjectModeRun, CubeWithLimitsChamfersOrKeepsItsEdges)
{
    Limit(ANGLE_MODE_LT, 90.0);
    MeshData out = Run(MakeCube());
    EXPECT_EQ(MeshPolyCount(out), 26u) << "just under 90 passes \" LT \" 90";
    EXPECT_EQ(MeshValidityFault(out, true), "");
}

TEST_F(ObjectModeRun, CubeGreaterThanNinetyStaysACube)
{
    Limit(ANGLE_MODE_GT, 90.0);
    MeshData out = Run(MakeCube());
    EXPECT_EQ(MeshPolyCount(out), 6u);
    EXPECT_EQ(out.points.size(), 8u);
    EXPECT_EQ(MeshValidityFault(out, true), "");
}

TEST_F(ObjectModeRun, SplitBoxChamfersOnlyItsOwnEdges)
{
    Limit(ANGLE_MODE_LT, 135.0);
    MeshData out = Run(MakeBox(1, 1, 1, 2));
    int strips = 0;
    for (size_t k = 24; k < MeshPolyCount(out); ++k)
        strips += (MeshPolyPoints(out, k).size() == 4);
    EXPECT_EQ(strips, 24) << "two strip segments along each of the twelve box edges";
    // At the middle of a box edge the two quads on either side slide their
    // copies along the edge to one point, which the weld makes one: the two
    // strip segments meet there end to end and no patch is needed.
    EXPECT_EQ(MeshPolyCount(out), 24u + 24 + 8) << "faces, strips, corners";
    EXPECT_EQ(MeshValidityFault(out, true), "");
    EXPECT_GT(SignedVolume(out), 0.0);
    // The split lines stay: a face centre is still a point of four quads.
    int centre = -1;
    for (size_t p = 0; p < out.points.size(); ++p) {
        if (HasPoint(out, (int)p, 0.5, 0.5, 0))
            centre = (int)p;
    }
    ASSERT_GE(centre, 0);
    int around = 0;
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(out); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(out, polyIndex);
        around += std::count(poly.begin(), poly.end(), centre) > 0;
    }
    EXPECT_EQ(around, 4);
}

// Abort each monitored phase at one step: the later phases and the flush
// still run, and the edit ends once.
struct AbortCase {
    const char *name;
    int monitor;
    unsigned step;
    size_t polys;  // output polygons
};

class AbortTest : public ObjectModeRun, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortTest, LaterPhasesAndTheFlushStillRun)
{
    const AbortCase &c = GetParam();
    host->script.abortMonitor = c.monitor;
    host->script.abortStep = c.step;
    MeshData out = Run(MakeCube());
    const auto &mons = host->log.monitors;
    ASSERT_EQ(mons.size(), 6u);
    EXPECT_TRUE(mons[c.monitor].aborted);
    EXPECT_EQ(mons[5].text, "BufModel Flush");
    for (const auto &mon : mons)
        EXPECT_TRUE(mon.done && mon.destroyed) << mon.text;
    EXPECT_EQ(host->log.doneCodes.size(), 1u);
    EXPECT_EQ(MeshPolyCount(out), c.polys);
}

INSTANTIATE_TEST_SUITE_P(Phases, AbortTest,
                         ::testing::Values(
                             // two faces copied (-z and +z share no edge)
                             AbortCase{"Survey", 0, 3, 2},
                             // edges of faces -z and +z only: nothing to pair
                             AbortCase{"LineList", 1, 3, 6},
                             // only face -z's first two records linked: no pair has both sides
                             // linked
                             AbortCase{"LineInfo", 2, 3, 6},
                             // in the seam sweep: the pairing still runs in full
                             AbortCase{"SeamSweep", 3, 5, 26},
                             // pairing stopped at record 4: face -z's four edges chamfered, no
                             // corner has all three
                             AbortCase{"Pairing", 3, 24 + 5, 6 + 4}, AbortCase{"Patches", 4, 4, 6 + 12 + 3}),
                         [](const ::testing::TestParamInfo<AbortCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- properties over generated closed meshes ----------------------------

struct GeneratedCase {
    const char *name;
    MeshData (*make)();
};

class GeneratedTest : public ObjectModeRun, public ::testing::WithParamInterface<GeneratedCase> {};

TEST_P(GeneratedTest, PlainChamferIsClosedWithEveryInsetEdgeAtTheBevelSize)
{
    MeshData in = GetParam().make();
    ASSERT_EQ(MeshValidityFault(in, true), "") << "input";
    const double s = 0.0625;
    host->script.bevelSize = s;
    MeshData out = Run(in);
    const size_t faces = MeshPolyCount(in);
    EXPECT_EQ(MeshPolyCount(out), faces + EdgeCount(in) + in.points.size());
    EXPECT_EQ(MeshValidityFault(out, true), "");
    EXPECT_GT(SignedVolume(out), 0.0);
    // Output polygon f is input polygon f inset: corner v lies s from the
    // lines of both edges at that corner and in their plane. The snapping
    // difference rounds each component of an edge vector to about 2^-20 of
    // the other two, which tilts the slide directions by up to about 1e-6:
    // the offsets, of length about s, inherit that relative error.
    const double tolerance = 8.0 * s / 1048576.0;
    for (size_t f = 0; f < faces; ++f) {
        const auto &src = MeshPolyPoints(in, f);
        const auto &dst = MeshPolyPoints(out, f);
        ASSERT_EQ(src.size(), dst.size()) << "face " << f;
        size_t n = src.size();
        for (size_t v = 0; v < n; ++v) {
            const auto &q = out.points[dst[v]];
            const auto &a = in.points[src[v]];
            const auto &prev = in.points[src[(v + n - 1) % n]];
            const auto &next = in.points[src[(v + 1) % n]];
            EXPECT_NEAR(LineDistance(q, prev, a), s, tolerance) << "face " << f << " corner " << v;
            EXPECT_NEAR(LineDistance(q, a, next), s, tolerance) << "face " << f << " corner " << v;
            EXPECT_NEAR(PlaneDistance(q, a, prev, next), 0.0, tolerance) << "face " << f << " corner " << v;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Meshes, GeneratedTest,
                         ::testing::Values(GeneratedCase{"QuadSphere3", [] { return MakeQuadSphere(3); }},
                                           GeneratedCase{"QuadSphere4", [] { return MakeQuadSphere(4); }},
                                           GeneratedCase{"Cylinder6x2", [] { return MakeCylinder(6, 2); }},
                                           GeneratedCase{"Cylinder9x1", [] { return MakeCylinder(9, 1); }},
                                           GeneratedCase{"Torus8x6", [] { return MakeTorus(8, 6); }}),
                         [](const ::testing::TestParamInfo<GeneratedCase> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
