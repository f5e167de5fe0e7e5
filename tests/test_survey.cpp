// The polygon survey: unshared copies, the record invariants, the refused
// polygons and an abort.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <vector>

#include "bufmodel/bufmodel.h"
#include "host/host.h"
#include "meshgen/meshgen.h"
#include "objectmode/objectmode.h"
#include "tests/testcontext.h"

namespace {

struct SurveyFixture : ::testing::Test, EditSession {
    void Begin(const MeshData &mesh) { ASSERT_TRUE(EditSession::Begin(mesh, 2)); }
};

MeshData Quads(std::vector<std::array<double, 3>> points, std::vector<std::vector<int>> polys)
{
    MeshData mesh;
    mesh.points = points;
    for (auto &p : polys) {
        MeshFace poly;
        poly.points = p;
        poly.surface = "S" + std::to_string(MeshPolyCount(mesh));
        MeshPutFace(&mesh, poly);
    }
    return mesh;
}

TEST_F(SurveyFixture, OneQuadIsCopiedWithPointsOfItsOwn)
{
    Begin(Quads({{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}));
    Survey();
    ASSERT_EQ(model->pointCount, 4);
    ASSERT_EQ(model->polyCount, 1);
    const PolyInfo &r = records[0];
    EXPECT_EQ(r.polyIndex, 0);
    EXPECT_EQ(r.count, 4);
    for (int v = 0; v < 4; ++v) {
        EXPECT_EQ(r.points[v], v);
        EXPECT_EQ(r.positions[v].x, model->pointTable[v]->position.x) << "vertex " << v;
    }
    EXPECT_EQ(r.centroid.x, 1.0);
    EXPECT_EQ(r.centroid.y, 0.5);
    EXPECT_EQ(r.normal.z, 1.0);
    EXPECT_STREQ(r.surface, "S0");
    EXPECT_STREQ(model->polyTable[0]->surface, "S0");
    EXPECT_EQ(host->log.monitors.at(0).title, "Corvane mode:Object Phase-00");
    EXPECT_EQ(host->log.monitors.at(0).text, "Phase: GetPolyInfo");
    EXPECT_EQ(host->log.monitors.at(0).inits, std::vector<unsigned>{1});
}

TEST_F(SurveyFixture, SharedCornersAreCopiedTwice)
{
    Begin(Quads({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}},
                {{0, 1, 2, 3}, {1, 4, 5, 2}}));
    Survey();
    EXPECT_EQ(model->pointCount, 8);
    // Polygon 1's first vertex is the shared corner (1,0,0), a second copy.
    EXPECT_EQ(records[1].points[0], 4);
    EXPECT_EQ(model->pointTable[4]->position.x, model->pointTable[1]->position.x);
    EXPECT_EQ(records[1].hostPoints[0], records[0].hostPoints[1]);
}

TEST_F(SurveyFixture, ShortAndDegeneratePolygons)
{
    // A two-point polygon gets its points but no copy; the next polygon takes
    // the next free polygon index. A zero-area triangle has no host normal.
    Begin(Quads({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}}, {{0, 1}, {0, 1, 2}, {0, 1, 3}}));
    Survey();
    EXPECT_EQ(records[0].polyIndex, -1);
    EXPECT_EQ(records[1].polyIndex, 0);
    EXPECT_EQ(records[2].polyIndex, 1);
    EXPECT_EQ(model->pointCount, 8);
    EXPECT_EQ(records[1].normal.x, 0.0);
    EXPECT_EQ(records[1].normal.y, 0.0);
    EXPECT_EQ(records[1].normal.z, 1.0);
    EXPECT_EQ(model->refusedAdds, 0) << "a short polygon is not a full model";
}

TEST_F(SurveyFixture, AbortAtTheFirstStepLeavesRecordsUnsurveyed)
{
    host->script.abortMonitor = 0;
    host->script.abortStep = 1;
    Begin(Quads({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}, {3, 2, 1, 0}}));
    Survey();
    EXPECT_EQ(model->pointCount, 0);
    EXPECT_EQ(model->polyCount, 0);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(records[k].count, 4) << "record " << k << " is allocated";
        EXPECT_EQ(records[k].surveyed, 0) << "record " << k;
        EXPECT_EQ(records[k].polyIndex, 0) << "record " << k;
    }
    EXPECT_TRUE(host->log.monitors.at(0).done);
}

TEST(ClearPolyInfo, ClearsOnlyTheFirstFieldsOfCountRecords)
{
    PolyInfo records[4];
    for (PolyInfo &r : records) {
        r.polyIndex = 7;
        r.count = 9;
        r.centroid = Vec3{1, 2, 3};
        r.surface = "keep";
    }
    ClearPolyInfo(3, records);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(records[k].polyIndex, 0);
        EXPECT_EQ(records[k].count, 0);
        EXPECT_EQ(records[k].points, nullptr);
        EXPECT_EQ(records[k].centroid.y, 2.0) << "record " << k;
        EXPECT_STREQ(records[k].surface, "keep");
    }
    EXPECT_EQ(records[3].polyIndex, 7);
    ClearPolyInfo(0, records);
    ClearPolyInfo(-1, records);
}

}  // namespace
