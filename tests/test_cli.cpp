// The corvane program, run as a user runs it: the built binary in its own
// process on files, through a pipe or a pseudo-terminal, with Ctrl-C sent as
// a signal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "meshgen/meshgen.h"
#include "meshio/meshio.h"
#include "options/options.h"
#include "tests/files.h"
#include "tests/runprogram.h"

namespace {

MeshData ReadMesh(const std::string &path)
{
    MeshData mesh;
    std::string error;
    EXPECT_TRUE(MeshReadObj(path, &mesh, nullptr, &error)) << error;
    return mesh;
}

Settings ReadSettings(const std::string &dir)
{
    Settings s;
    std::memset(&s, 0, sizeof s);
    std::string bytes = Slurp(dir + "/Corvane.cfg");
    EXPECT_EQ(bytes.size(), sizeof s) << "the settings file is the 32-byte record";
    std::memcpy(&s, bytes.data(), std::min(bytes.size(), sizeof s));
    return s;
}

bool HasPoint(const MeshData &mesh, double x, double y, double z)
{
    for (const auto &p : mesh.points)
        if (p[0] == x && p[1] == y && p[2] == z)
            return true;
    return false;
}

// Each test works in a folder of its own, with its own settings folder.
class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempDir("cli");
        cfg = dir + "/cfg";
    }
    void TearDown() override { EXPECT_TRUE(RemoveTree(dir)); }
    std::string Path(const char *name) const { return dir + "/" + name; }
    // Options every run takes: a private settings folder.
    std::vector<std::string> With(std::vector<std::string> args) const
    {
        args.push_back("--plugins-dir");
        args.push_back(cfg);
        return args;
    }
    void WriteFile(const char *name, const std::string &text) const
    {
        std::ofstream(Path(name), std::ios::binary) << text;
    }

    std::string dir, cfg;
};

// ---- object mode -----------------------------------------------------------

// The program's own module and the host module are one set of passes: under
// the host's limit they write the same bytes, in every mode; past it only
// the program's takes the mesh, and its result is a closed, valid mesh.
TEST_F(Cli, ProgramModuleMatchesTheHostModule)
{
    const std::vector<std::vector<std::string>> runs = {
        {Example("cube.obj"), "--size", "0.25", "--angle-mode", "disable"},
        {Example("cylinder.obj"), "--size", "0.1", "--angle-mode", "lt", "--limit-angle", "120"},
        {Example("lgrid.obj"), "--size", "0.1", "--angle-mode", "gt", "--limit-angle", "170"},
        {Example("torus.obj"), "--size", "0.1", "--edge", "1,2"},
    };
    for (const auto &run : runs) {
        std::vector<std::string> own = run, host = run;
        own.insert(own.end(), {"-o", Path("own.ply"), "-q"});
        host.insert(host.end(), {"-o", Path("host.ply"), "-q", "--plugin", BuildDir() + "/Corvane.p"});
        Result a = RunProgram(With(own)), b = RunProgram(With(host));
        ASSERT_EQ(a.status, 0) << a.err;
        ASSERT_EQ(b.status, 0) << b.err;
        EXPECT_EQ(Slurp(Path("own.ply")), Slurp(Path("host.ply"))) << run[0] << " " << run[2];
    }

    std::string error;
    ASSERT_TRUE(
        MeshWriteFile(Path("big.ply"), MeshFormat::Ply, MakeTriangulated(MakeTorus(160, 80), 1), &error))
        << error;
    for (const char *mode : {"disable", "lt", "gt"}) {
        Result r = RunProgram(With({Path("big.ply"), "-o", Path("big-out.ply"), "--size", "0.01",
                                    "--angle-mode", mode, "--limit-angle", "179", "--stats"}));
        ASSERT_EQ(r.status, 0) << mode << "\n" << r.err;
        MeshData out;
        ASSERT_TRUE(MeshReadFile(Path("big-out.ply"), MeshFormat::Ply, &out, nullptr, &error)) << error;
        MeshStats s = MeshComputeStats(out);
        EXPECT_GT(s.points, std::string(mode) == "disable" ? 65536 : 0) << mode;
        EXPECT_EQ(s.borderEdges + s.crowdedEdges + s.oppositeWindingEdges, 0) << mode;
        EXPECT_EQ(s.repeatedPointPolys + s.zeroAreaPolys, 0) << mode;
    }
    Result refused = RunProgram(With({Path("big.ply"), "-o", Path("refused.ply"), "--size", "0.01",
                                      "--plugin", BuildDir() + "/Corvane.p"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("65536"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::ifstream(Path("refused.ply")).good());
}

TEST_F(Cli, ObjectModeOnEveryExample)
{
    struct Case {
        const char *file;
        int points, polygons, triangles, quads, ngons;
    };
    // Closed inputs give closed outputs: every shared edge becomes a strip
    // and every corner a patch.
    const Case cases[] = {
        {"cube.obj", 24, 26, 8, 18, 0},
        {"cylinder.obj", 120, 122, 24, 96, 2},
        {"torus.obj", 512, 512, 0, 512, 0},
    };
    for (const Case &c : cases) {
        std::string out = Path(c.file);
        Result r = RunProgram(With({Example(c.file), "-o", out, "--size", "0.25", "-q"}));
        ASSERT_EQ(r.status, 0) << c.file << "\n" << r.err;
        EXPECT_EQ(r.err, "") << "quiet run of " << c.file;
        MeshData mesh = ReadMesh(out);
        MeshStats s = MeshComputeStats(mesh);
        EXPECT_EQ(s.points, c.points) << c.file;
        EXPECT_EQ(s.polygons, c.polygons) << c.file;
        EXPECT_EQ(s.triangles, c.triangles) << c.file;
        EXPECT_EQ(s.quads, c.quads) << c.file;
        EXPECT_EQ(s.ngons, c.ngons) << c.file;
        EXPECT_EQ(s.borderEdges, 0) << c.file << " stays closed";
        EXPECT_EQ(s.crowdedEdges, 0) << c.file;
    }
    // The cube [-1, 1]^3 cut back by 0.25: its -z face keeps the corner
    // (-0.75, -0.75, -1), exactly.
    EXPECT_TRUE(HasPoint(ReadMesh(Path("cube.obj")), -0.75, -0.75, -1.0));
    // The cylinder's surfaces come through to the output.
    std::string cyl = Slurp(Path("cylinder.obj"));
    EXPECT_NE(cyl.find("usemtl Side\n"), std::string::npos);
    EXPECT_NE(cyl.find("usemtl Cap\n"), std::string::npos);
}

TEST_F(Cli, ZeroBevelSizeLeavesAnEarlierOutputAlone)
{
    // The module changes nothing; an earlier result must not be replaced by
    // the empty edit layer, and the summary says that nothing was written.
    WriteFile("out.obj", "old result\n");
    Result r = RunProgram(With({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote nothing: a bevel size of 0 changes nothing; " + Path("out.obj") +
                         " not written (object mode, size 0, angle mode disable)\n");
    EXPECT_EQ(Slurp(Path("out.obj")), "old result\n");
}

TEST_F(Cli, AngleModesChooseTheEdges)
{
    // The cylinder's caps meet the sides at 90 degrees, the sides meet each
    // other at 150: "lt 120" takes only the cap rims, "gt 120" only the sides.
    Result lt = RunProgram(With({Example("cylinder.obj"), "-o", Path("lt.obj"), "--size", "0.1",
                                 "--angle-mode", "lt", "--limit-angle", "120", "-q"}));
    ASSERT_EQ(lt.status, 0) << lt.err;
    Result all = RunProgram(With(
        {Example("cylinder.obj"), "-o", Path("all.obj"), "--size", "0.1", "--angle-mode", "disable", "-q"}));
    ASSERT_EQ(all.status, 0) << all.err;
    MeshStats a = MeshComputeStats(ReadMesh(Path("lt.obj")));
    MeshStats b = MeshComputeStats(ReadMesh(Path("all.obj")));
    // At a rim point the two side quads slide their copies up their shared
    // edge by the same size, to one point: the two rim strips' ends meet
    // there and no patch is needed.
    EXPECT_EQ(a.polygons, 26 + 24);
    EXPECT_EQ(a.borderEdges, 0);
    EXPECT_EQ(a.crowdedEdges, 0);
    EXPECT_EQ(b.polygons, 122);
}

TEST_F(Cli, StatsAndDeterministicOutput)
{
    Result r1 =
        RunProgram(With({Example("cube.obj"), "-o", Path("a.obj"), "--size", "0.1", "--stats", "-q"}));
    ASSERT_EQ(r1.status, 0) << r1.err;
    Result r2 = RunProgram(With({Example("cube.obj"), "-o", Path("b.obj"), "--size", "0.1", "-q"}));
    ASSERT_EQ(r2.status, 0) << r2.err;
    EXPECT_EQ(Slurp(Path("a.obj")), Slurp(Path("b.obj"))) << "the same run gives the same bytes";
    // One row per count, input then output.
    EXPECT_NE(r1.out.find("\npoints                                8         24\n"), std::string::npos)
        << r1.out;
    EXPECT_NE(r1.out.find("\npolygons                              6         26\n"), std::string::npos)
        << r1.out;
    EXPECT_NE(r1.out.find("\n  triangles                           0          8\n"), std::string::npos)
        << r1.out;
    EXPECT_NE(r1.out.find("\nborder edges                          0          0\n"), std::string::npos)
        << r1.out;
    EXPECT_NE(r1.out.find("\nedges on 3 or more polygons           0          0\n"), std::string::npos)
        << r1.out;
    EXPECT_NE(r1.out.find("activation time: "), std::string::npos) << r1.out;
    EXPECT_EQ(r2.out, "") << "no stats unless asked";
}

TEST_F(Cli, SummaryLineAfterASuccessfulRun)
{
    // One line on standard output; none with --quiet, and the table after
    // it with --stats.
    Result r = RunProgram(With({Example("cube.obj"), "-o", Path("a.obj"), "--size", "0.25"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + Path("a.obj") +
                         ": 8 -> 24 points, 6 -> 26 polygons (object mode, size 0.25, angle "
                         "mode disable)\n");
    // The two-polygon mode takes no angle test.
    Result pair =
        RunProgram(With({Example("torus.obj"), "-o", Path("b.obj"), "--size", "0.1", "--edge", "1,2"}));
    ASSERT_EQ(pair.status, 0) << pair.err;
    EXPECT_NE(pair.out.find("(two-polygon mode, size 0.1)\n"), std::string::npos) << pair.out;
    Result stats = RunProgram(With({Example("cube.obj"), "-o", Path("c.obj"), "--size", "0.25", "--stats"}));
    EXPECT_EQ(stats.out.rfind("wrote " + Path("c.obj") + ": 8 -> 24 points", 0), 0u) << "names the output\n"
                                                                                     << stats.out;
    EXPECT_NE(stats.out.find("\npoints                                8         24\n"), std::string::npos)
        << stats.out;

    // Thousands are grouped: a 30 x 30 grid has 961 points, and its copy
    // 3,600 corners.
    MeshData grid = MakeQuadGrid(30, 30);
    std::string error;
    ASSERT_TRUE(MeshWriteObj(Path("grid.obj"), grid, &error)) << error;
    Result big = RunProgram(With({Path("grid.obj"), "-o", Path("d.obj"), "--size", "0.1"}));
    ASSERT_EQ(big.status, 0) << big.err;
    EXPECT_EQ(big.out.rfind("wrote " + Path("d.obj") + ": 961 -> 3,600 points, 900 -> ", 0), 0u) << big.out;
}

TEST_F(Cli, InconsistentWindingIsWarnedOnceBeforeTheRun)
{
    // The cube with its -z face turned: its four edges run the same way in
    // both of their polygons. Three triangles on one edge make it crowded.
    WriteFile("flip.obj",
              "v -1 -1 -1\nv 1 -1 -1\nv -1 1 -1\nv 1 1 -1\nv -1 -1 1\nv 1 -1 1\nv -1 1 1\nv 1 1 1\n"
              "f 1 2 4 3\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n");
    WriteFile("fin.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nv 0 0 1\nf 1 2 3\nf 2 1 4\nf 1 2 5\n");
    Result flip = RunProgram(With({Path("flip.obj"), "-o", Path("a.obj"), "--size", "0.25"}));
    ASSERT_EQ(flip.status, 0) << flip.err;
    EXPECT_EQ(flip.err, "corvane: warning: 4 edges join polygons of opposite winding; the chamfer needs "
                        "consistently wound polygons (the result will have holes)\n");
    Result fin = RunProgram(With({Path("fin.obj"), "-o", Path("b.obj"), "--size", "0.1"}));
    EXPECT_EQ(
        fin.err.rfind("corvane: warning: 1 edge is shared by 3 or more polygons (points 1-2); the chamfer "
                      "leaves it as it is, as it leaves an open border\n",
                      0),
        0u)
        << fin.err;
    WriteFile("fins.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nv 0 0 1\nv 2 0 0\nv 3 0 0\nv 2 1 0\n"
                          "v 2 -1 0\nv 2 0 1\nf 1 2 3\nf 2 1 4\nf 1 2 5\nf 1 3 5\nf 3 1 4\n"
                          "f 6 7 8\nf 7 6 9\nf 6 7 10\nf 6 8 10\nf 8 6 9\n");
    Result fins = RunProgram(With({Path("fins.obj"), "-o", Path("e.obj"), "--size", "0.1"}));
    EXPECT_NE(fins.err.find("corvane: warning: 4 edges are shared by 3 or more polygons (points 1-2, 1-3, "
                            "6-7, ...); the chamfer leaves them as they are"),
              std::string::npos)
        << fins.err;
    // The run and its result are as without the warning; --quiet drops it.
    Result quiet = RunProgram(With({Path("flip.obj"), "-o", Path("c.obj"), "--size", "0.25", "-q"}));
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(Slurp(Path("a.obj")), Slurp(Path("c.obj")));
}

TEST_F(Cli, ClampKeepsToTheSafeSizeAndInvalidResultsAreWarned)
{
    // Far past its safe size the L-shaped grid's polygons turn inside out,
    // four of them into lines of zero area: the run goes on, and says so
    // after it.
    Result past = RunProgram(With({Example("lgrid.obj"), "-o", Path("past.obj"), "--size", "2"}));
    ASSERT_EQ(past.status, 0) << past.err;
    EXPECT_EQ(past.err,
              "corvane: warning: the bevel size 2 is at or above the safe size 0.45, past which the result "
              "may hold polygons other tools refuse; --clamp keeps to it\n"
              "corvane: warning: in the result 4 polygons have zero area; other tools may refuse it\n");

    // --clamp runs with the safe size itself, byte for byte, and says so.
    const double safe = MeshSafeBevelSize(ReadMesh(Example("cube.obj")));
    Result clamped =
        RunProgram(With({Example("cube.obj"), "-o", Path("clamped.obj"), "--size", "5", "--clamp"}));
    ASSERT_EQ(clamped.status, 0) << clamped.err;
    char note[96];
    std::snprintf(note, sizeof note, "corvane: note: bevel size 5 clamped to the safe size %.3g\n", safe);
    EXPECT_NE(clamped.err.find(note), std::string::npos) << clamped.err;
    EXPECT_EQ(clamped.err.find("warning"), std::string::npos) << clamped.err;
    EXPECT_NE(clamped.out.find("(object mode, size " + MeshFormatDouble(safe) + ", "), std::string::npos)
        << clamped.out;
    Result exact = RunProgram(
        With({Example("cube.obj"), "-o", Path("exact.obj"), "--size", MeshFormatDouble(safe), "-q"}));
    ASSERT_EQ(exact.status, 0) << exact.err;
    EXPECT_EQ(Slurp(Path("clamped.obj")), Slurp(Path("exact.obj")));
    EXPECT_EQ(MeshComputeStats(ReadMesh(Path("clamped.obj"))).repeatedPointPolys, 0);

    // Below the safe size the clamp changes nothing and says nothing.
    Result below =
        RunProgram(With({Example("cube.obj"), "-o", Path("below.obj"), "--size", "0.25", "--clamp"}));
    EXPECT_EQ(below.err.find("clamped"), std::string::npos) << below.err;
    EXPECT_NE(below.out.find("(object mode, size 0.25, "), std::string::npos) << below.out;
}

TEST_F(Cli, ProgressLinesAndNotes)
{
    // Not a terminal: with --progress one plain line per phase; a note for
    // the dropped texture coordinates and normals, once.
    WriteFile("uv.obj", "v -1 -1 -1\nv 1 -1 -1\nv -1 1 -1\nv 1 1 -1\nv -1 -1 1\nv 1 -1 1\nv -1 1 1\nv 1 1 1\n"
                        "vt 0 0\nvn 0 0 1\n"
                        "f 1/1/1 3/1/1 4/1/1 2/1/1\nf 5/1 6/1 8/1 7/1\nf 1//1 2//1 6//1 5//1\n"
                        "f 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n");
    Result r = RunProgram(With(
        {Path("uv.obj"), "-o", Path("out.obj"), "--size", "0.25", "--angle-mode", "disable", "--progress"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "corvane: note: " + Path("uv.obj") +
                         " has texture coordinates and normals; they are not carried over\n"
                         "Corvane mode:Object Phase-00: Phase: GetPolyInfo\n"
                         "Corvane mode:Obj: Phase: LineList\n"
                         "Corvane mode:Obj: Phase: LineInfo\n"
                         "Corvane mode:Object: Phase: MakeLineCorvanePoly\n"
                         "Corvane mode:Object: Phase: PointCorvane\n"
                         "Corvane: BufModel Flush\n");
    EXPECT_EQ(Slurp(Path("out.obj")).find("vt"), std::string::npos);
    Result q =
        RunProgram(With({Path("uv.obj"), "-o", Path("out.obj"), "--size", "0.25", "--quiet", "--progress"}));
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.err, "");
    // Without --progress a pipe gets no phase lines.
    Result plain = RunProgram(
        With({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", "--angle-mode", "disable"}));
    EXPECT_EQ(plain.err, "");
}

// ---- two-polygon mode --------------------------------------------------------

TEST_F(Cli, TwoPolygonModeBySelectionOrEdge)
{
    // Cube quads 1 (-z) and 3 (-y) share the edge between points 1 and 2.
    Result sel = RunProgram(
        With({Example("cube.obj"), "-o", Path("sel.obj"), "--size", "0.25", "--select", "1,3", "-q"}));
    ASSERT_EQ(sel.status, 0) << sel.err;
    Result edge = RunProgram(
        With({Example("cube.obj"), "-o", Path("edge.obj"), "--size", "0.25", "--edge", "2,1", "-q"}));
    ASSERT_EQ(edge.status, 0) << edge.err;
    EXPECT_EQ(Slurp(Path("sel.obj")), Slurp(Path("edge.obj")));
    MeshData mesh = ReadMesh(Path("sel.obj"));
    MeshStats s = MeshComputeStats(mesh);
    EXPECT_EQ(s.polygons, 7) << "two faces cut back, one strip, two side faces widened";
    EXPECT_EQ(s.ngons, 2);
    EXPECT_TRUE(HasPoint(mesh, 1.0, -0.75, -1.0)) << "the -z face cut back by 0.25 along the edge";

    // On the torus the chamfer runs round the whole tube ring.
    Result torus =
        RunProgram(With({Example("torus.obj"), "-o", Path("t.obj"), "--size", "0.1", "--edge", "1,2", "-q"}));
    ASSERT_EQ(torus.status, 0) << torus.err;
    MeshStats t = MeshComputeStats(ReadMesh(Path("t.obj")));
    EXPECT_EQ(t.polygons, 136);
    EXPECT_EQ(t.borderEdges, 0);
}

// The two-polygon mode leaves the points it replaced in the host's layer:
// the file holds only the points its polygons use, and the summary counts
// those (the README's own example).
TEST_F(Cli, WrittenResultsHoldOnlyThePointsTheirPolygonsUse)
{
    Result r =
        RunProgram(With({Example("torus.obj"), "-o", Path("t.obj"), "--size", "0.1", "--edge", "1,2"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const MeshData out = ReadMesh(Path("t.obj"));
    std::vector<bool> used(out.points.size(), false);
    for (size_t pi = 0; pi < MeshPolyCount(out); pi++) {
        const MeshPointSpan p = MeshPolyPoints(out, pi);
        for (int k : p)
            used[(size_t)k] = true;
    }
    EXPECT_EQ(std::find(used.begin(), used.end(), false) - used.begin(), (long)used.size())
        << "a loose point";
    EXPECT_EQ(r.out.rfind("wrote " + Path("t.obj") + ": 128 -> " + std::to_string(out.points.size()) +
                              " points",
                          0),
              0u)
        << r.out;
}

TEST_F(Cli, TwoPolygonModeErrors)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *says;
    };
    const Case cases[] = {
        // a diagonal of a face is no edge
        {{Example("cube.obj"), "--edge", "1,4"}, 2, "--edge 1,4: no polygon of "},
        // a border edge of the grid has one polygon
        {{Example("lgrid.obj"), "--edge", "1,2"}, 2, "--edge 1,2: the edge is shared by 1 polygon(s), not 2"},
        {{Example("cube.obj"), "--edge", "1,99"}, 2, "has 8 point(s)"},
        {{Example("cube.obj"), "--select", "1,7"}, 2, "has 6 polygon(s)"},
        {{Example("cube.obj"), "--select", "2,2"}, 2, "--select needs two different polygon numbers"},
        {{Example("cube.obj"), "--select", "1;2"}, 2, "--select needs two different polygon numbers"},
        // opposite faces share no edge: the module says so and changes nothing
        {{Example("cube.obj"), "--select", "1,2"},
         1,
         "corvane: the module says: The two selected polygons must share an edge. Nothing was changed.\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", Path("out.obj"), "--size", "0.25", "-q"});
        Result r = RunProgram(With(args));
        EXPECT_EQ(r.status, c.status) << c.args.back() << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(Path("out.obj")));
    }
}

// ---- files ---------------------------------------------------------------------

// Every error in the program's voice and counting from 1, the safe size in
// four digits that are themselves safe.
TEST_F(Cli, ErrorsAndFiguresInOneVoice)
{
    WriteFile("two.ply",
              "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
              "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
              "0 0 0\n1 0 0\n0 1 0\n2 0 1\n");
    WriteFile("short.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n");
    WriteFile("empty.gltf", "");
    WriteFile("cut.gltf", "{\"asset\": {\"version\": ");
    WriteFile("huge.gltf", "{\"asset\": {\"version\": \"2.0\"}, \"x\": -0.8660e253882408142}");
    const struct {
        const char *file;
        std::string says;
    } cases[] = {
        {"two.ply", ":13: face 1 has 2 points (at least 3 needed)"},
        {"short.off", ":4: the file ends after 2 of 3 vertices"},
        {"empty.gltf", ": byte 0: the JSON text ends too early"},
        {"cut.gltf", ": byte 22: the JSON text ends too early"},
        {"huge.gltf", ": byte 0: the JSON text holds a number too large for a double"},
    };
    for (const auto &c : cases) {
        Result r = RunProgram(With({Path(c.file), "-o", Path("out.obj"), "--size", "0.1"}));
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_EQ(r.err, "corvane: " + Path(c.file) + c.says + "\n");
    }

    Result stats =
        RunProgram(With({Example("cylinder.obj"), "-o", Path("c.obj"), "--size", "0.01", "--stats"}));
    const size_t at = stats.out.find("safe bevel size: ");
    ASSERT_NE(at, std::string::npos) << stats.out;
    const std::string shown = stats.out.substr(at + 17, stats.out.find('\n', at) - at - 17);
    const double safe = MeshSafeBevelSize(ReadMesh(Example("cylinder.obj")));
    EXPECT_TRUE(std::stod(shown) <= safe && std::stod(shown) > safe * (1 - 1e-3) && shown.size() <= 6)
        << "four digits, rounded down: " << shown << " for " << safe;
}

TEST_F(Cli, MalformedInputNamesTheLine)
{
    WriteFile("bad.obj", "v 0 0 0\nv 1 0 0\nf 1 2 3\n");
    Result r = RunProgram(With({Path("bad.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "corvane: " + Path("bad.obj") + ":3: vertex number 3 is out of range (the file has 2)\n");
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"bad.obj"}) << "nothing written, no temporary left";

    Result missing = RunProgram(With({Path("none.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("corvane: " + Path("none.obj") + ": cannot open:", 0), 0u) << missing.err;

    // No polygons: said in the file's terms, not the module's, before it runs.
    WriteFile("points.obj", "v 0 0 0\nv 1 0 0\n");
    Result empty = RunProgram(With({Path("points.obj"), "-o", Path("out.obj"), "--size", "0.25", "-q"}));
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err,
              "corvane: " + Path("points.obj") + " has no polygons; there is nothing to chamfer\n");
    EXPECT_FALSE(Exists(Path("out.obj")));
}

TEST_F(Cli, OutputIsReplacedWholeAndNeverTheInput)
{
    std::string cube = Slurp(Example("cube.obj"));
    WriteFile("in.obj", cube);
    WriteFile("out.obj", "old\n");

    // An existing output is replaced, with no temporary file left beside it.
    Result r = RunProgram(With({Path("in.obj"), "-o", Path("out.obj"), "--size", "0.25", "-q"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(Path("out.obj")).rfind("v -0.75 -0.75 -1\n", 0), 0u);
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"cfg", "in.obj", "out.obj"}));

    // The input itself, under any spelling, only with --force.
    for (std::string same : {Path("in.obj"), dir + "/./in.obj"}) {
        Result refused = RunProgram(With({Path("in.obj"), "-o", same, "--size", "0.25", "-q"}));
        EXPECT_EQ(refused.status, 2) << same;
        EXPECT_NE(refused.err.find("refusing to overwrite the input file"), std::string::npos) << refused.err;
        EXPECT_EQ(Slurp(Path("in.obj")), cube);
    }
    Result forced =
        RunProgram(With({Path("in.obj"), "-o", Path("in.obj"), "--size", "0.25", "-q", "--force"}));
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(Slurp(Path("in.obj")), Slurp(Path("out.obj")));

    // A folder that does not exist, or a folder as the output.
    Result nofolder = RunProgram(With({Example("cube.obj"), "-o", Path("no/out.obj"), "--size", "0.25"}));
    EXPECT_EQ(nofolder.status, 2);
    EXPECT_NE(nofolder.err.find("does not exist"), std::string::npos) << nofolder.err;
    Result folder = RunProgram(With({Example("cube.obj"), "-o", dir, "--size", "0.25"}));
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find("it is a folder"), std::string::npos) << folder.err;

    // A pipe is refused before the run, and stays a pipe.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    Result pipe = RunProgram(With({Example("cube.obj"), "-o", Path("pipe"), "--size", "0.25"}));
    EXPECT_EQ(pipe.status, 2);
    EXPECT_EQ(pipe.err, "corvane: cannot write " + Path("pipe") +
                            ": is not a regular file (a device, pipe or socket); it is not replaced\n");
    struct stat st;
    ASSERT_EQ(lstat(Path("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- the module ------------------------------------------------------------------

TEST_F(Cli, ModuleThatIsMissingOrForeign)
{
    WriteFile("text.p", "not a library\n");
    const std::string tests = BuildDir() + "/tests/";
    struct Case {
        std::string plugin;
        const char *says;
    };
    const Case cases[] = {
        {Path("missing.p"), ": cannot load"},
        {Path("text.p"), ": cannot load"},
        {tests + "cli_foreign_module_0.p", ": not a plug-in module (no _mod_descrip)"},
        {tests + "cli_foreign_module_1.p", ": not a plug-in module (sync word"},
        {tests + "cli_foreign_module_2.p", ": no MeshDataEdit server named \"QX_Corvane\""},
    };
    for (const Case &c : cases) {
        Result r = RunProgram(
            With({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", "--plugin", c.plugin}));
        EXPECT_EQ(r.status, 2) << c.plugin << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("corvane: " + c.plugin + c.says, 0), 0u) << r.err;
        EXPECT_FALSE(Exists(Path("out.obj")));
    }
    // The real module named explicitly works as the one beside the program.
    Result ok = RunProgram(With({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", "-q",
                                 "--plugin", BuildDir() + "/Corvane.p"}));
    EXPECT_EQ(ok.status, 0) << ok.err;
}

TEST_F(Cli, SavedOptionsAndRunsThatChamferNothingAreSaid)
{
    // The README's order: the cylinder run saves lt 120; the grid after it
    // without options chamfers nothing, and says where the options came from
    // and why nothing was done.
    Result cylinder = RunProgram(With({Example("cylinder.obj"), "-o", Path("c.obj"), "--size", "0.1",
                                       "--angle-mode", "lt", "--limit-angle", "120"}));
    ASSERT_EQ(cylinder.status, 0) << cylinder.err;
    EXPECT_EQ(cylinder.err, "");
    Result grid = RunProgram(With({Example("lgrid.obj"), "-o", Path("g.obj")}));
    ASSERT_EQ(grid.status, 0) << grid.err;
    EXPECT_EQ(grid.err,
              "corvane: note: size 0.1, angle mode lt, limit angle 120 from the settings file " + cfg +
                  "/Corvane.cfg (an earlier run's; give them on the command line to change them)\n"
                  "corvane: warning: no edge passed the angle test (angle mode lt, limit angle 120), so no "
                  "edge was chamfered\n");
    EXPECT_NE(grid.out.find(
                  ": 49 -> 49 points, 31 -> 31 polygons (object mode, size 0.1, angle mode lt, limit "
                  "angle 120)\n"),
              std::string::npos)
        << grid.out;

    // A fresh settings folder and no --size: the module's default size 1 on
    // the 2-unit cube, past its safe size 0.9; the warning says whose size it
    // is and what to give instead.
    Result fresh = RunProgram({Example("cube.obj"), "-o", Path("d.obj"), "--plugins-dir", dir + "/fresh"});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_EQ(fresh.err,
              "corvane: warning: the bevel size 1 is at or above the safe size 0.9, past which the result "
              "may hold polygons other tools refuse; the size 1 is the module's default, as no --size was "
              "given and no settings file was found: give --size, at most the safe size 0.9, or --clamp\n");
}

TEST_F(Cli, GuardsBeforeTheRun)
{
    WriteFile("out.obj", "old\n");
    struct Case {
        std::vector<std::string> args;
        const char *says;
    };
    const Case refused[] = {
        {{"--size", "-0.1"},
         "corvane: the bevel size must not be negative (it would turn the mesh inside out), not -0.1\n"},
        {{"--size", "0.1", "--limit-angle", "200"},
         "corvane: the limit angle must be from 0 to 180 degrees, not 200\n"},
        // The picture's path is checked before the run writes OUTPUT.
        {{"--size", "0.1", "--preview", dir + "/"}, "corvane: cannot write the picture "},
        {{"--size", "0.1", "--preview", dir + "/no/p.png"}, " does not exist\n"},
    };
    for (const Case &c : refused) {
        std::vector<std::string> args = {Example("cube.obj"), "-o", Path("out.obj")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = RunProgram(With(args));
        EXPECT_EQ(r.status, 2) << c.args.back();
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(Slurp(Path("out.obj")), "old\n") << c.args.back();
    }
    // The angle mode in any case, as the viewer shows it; a material library
    // read is written back.
    WriteFile("lib.obj", "mtllib cube.mtl\n" + Slurp(Example("cube.obj")));
    Result lib = RunProgram(With({Path("lib.obj"), "-o", Path("lib-out.obj"), "--size", "0.1", "--angle-mode",
                                  "LT", "--limit-angle", "100"}));
    EXPECT_NE(lib.out.find("angle mode lt, limit angle 100)"), std::string::npos) << lib.err;
    EXPECT_EQ(Slurp(Path("lib-out.obj")).rfind("mtllib cube.mtl\nv ", 0), 0u);

    // The viewer takes the --force its refusal names.
    Result view = RunProgram({"view", Example("cube.obj"), "-o", Example("cube.obj")});
    EXPECT_EQ(view.status, 2);
    EXPECT_NE(view.err.find("(use --force to allow it)"), std::string::npos) << view.err;
    Result viewHelp = RunProgram({"view", "--help"});
    EXPECT_NE(viewHelp.out.find("--force"), std::string::npos) << viewHelp.out;
}

TEST_F(Cli, UsageVersionAndHelp)
{
    Result version = RunProgram({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "corvane 2.14\n");
    Result help = RunProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Examples:\n  corvane examples/cube.obj -o out/cube.obj"), std::string::npos);
    EXPECT_NE(help.out.find("\ncorvane view INPUT serves a page"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("python3 -m corvane\nbatch INPUT... -o OUTDIR"), std::string::npos) << help.out;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {Example("cube.obj")},
        {Example("cube.obj"), "-o", Path("o.obj"), "--angle-mode", "sideways"},
        {Example("cube.obj"), "-o", Path("o.obj"), "--limit-angle", "181"},
        {Example("cube.obj"), "-o", Path("o.obj"), "--size", "wide"},
        {Example("cube.obj"), "-o", Path("o.obj"), "--select", "1,3", "--edge", "1,2"},
        {Example("cube.obj"), "-o", Path("o.obj"), "--no-such-option"},
    };
    for (const auto &args : bad) {
        Result r = RunProgram(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(r.err.rfind("corvane: ", 0), 0u) << "in the program's voice\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(Exists(Path("o.obj")));
}

// ---- options and the settings file -------------------------------------------------

TEST_F(Cli, LimitAngleOf180KeepsTheSettings)
{
    // The panel's round trip stores 180 a little above it; the next run must
    // still find size 0.3 and the GT mode.
    Result first = RunProgram(With({Example("cube.obj"), "-o", Path("a.obj"), "--size", "0.3", "--angle-mode",
                                    "gt", "--limit-angle", "180", "-q"}));
    ASSERT_EQ(first.status, 0) << first.err;
    Result second = RunProgram(With({Example("cube.obj"), "-o", Path("b.obj"), "-q"}));
    ASSERT_EQ(second.status, 0) << second.err;
    Settings s = ReadSettings(cfg);
    EXPECT_EQ(s.bevelSize, 0.3);
    EXPECT_EQ(s.angleMode, 2);
    EXPECT_EQ(Slurp(Path("a.obj")), Slurp(Path("b.obj")));
}

TEST_F(Cli, OptionsPersistThroughTheSettingsFile)
{
    // The first run creates the settings folder and saves what the panel
    // confirmed; the angle went into the panel in radians and came back.
    std::string nested = dir + "/a/b";
    Result first = RunProgram({Example("cylinder.obj"), "-o", Path("first.obj"), "--size", "0.125",
                               "--angle-mode", "lt", "--limit-angle", "120", "-q", "--plugins-dir", nested});
    ASSERT_EQ(first.status, 0) << first.err;
    Settings s = ReadSettings(nested);
    EXPECT_EQ(s.formatTag, 210);
    EXPECT_EQ(s.bevelSize, 0.125);
    EXPECT_EQ(s.angleMode, 1);
    volatile double deg = 120.0;
    EXPECT_EQ(s.limitAngle, deg * 0.017453292519943278 * 57.29577951308239);

    // Without options and without a terminal the loaded values are confirmed
    // as they stand: the same output as the first run.
    Result second =
        RunProgram({Example("cylinder.obj"), "-o", Path("second.obj"), "-q", "--plugins-dir", nested});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(Slurp(Path("first.obj")), Slurp(Path("second.obj")));

    // One option replaces one value; the others stay as loaded.
    Result third = RunProgram({Example("cylinder.obj"), "-o", Path("third.obj"), "-q", "--plugins-dir",
                               nested, "--angle-mode", "disable"});
    ASSERT_EQ(third.status, 0) << third.err;
    Settings t = ReadSettings(nested);
    EXPECT_EQ(t.bevelSize, 0.125);
    EXPECT_EQ(t.angleMode, 0);

    // The default folder follows XDG_CONFIG_HOME.
    Result xdg = RunProgram({Example("cube.obj"), "-o", Path("x.obj"), "--size", "0.5", "-q"},
                            {"XDG_CONFIG_HOME=" + dir + "/xdg"});
    ASSERT_EQ(xdg.status, 0) << xdg.err;
    EXPECT_EQ(ReadSettings(dir + "/xdg/corvane").bevelSize, 0.5);
}

// ---- the panel in a terminal -------------------------------------------------------

// corvane on a pseudo-terminal as its controlling terminal and all three
// standard streams, as when a user runs it in a terminal window.
struct PtyRun {
    pid_t pid = -1;
    int master = -1;
    std::string seen;

    void Start(const std::vector<std::string> &args)
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        std::string slaveName = ptsname(master);
        pid = fork();
        if (pid == 0) {
            setsid();
            int slave = open(slaveName.c_str(), O_RDWR);
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(slave, 2);
            close(master);
            ExecProgram(args, {});
        }
    }
    // Reads until `text` has been seen (after what was already matched).
    bool WaitFor(const std::string &text)
    {
        size_t from = matched;
        // Up to a minute: sanitizer builds on a loaded machine are slow.
        for (int i = 0; i < 1200; i++) {
            size_t at = seen.find(text, from);
            if (at != std::string::npos) {
                matched = at + text.size();
                return true;
            }
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buf[4096];
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    return seen.find(text, from) != std::string::npos;
                seen.append(buf, (size_t)n);
            }
        }
        return false;
    }
    void Type(const std::string &text)
    {
        ASSERT_EQ(write(master, text.data(), text.size()), (ssize_t)text.size());
    }
    // Reads to the end of the output and returns the exit status; -1 when
    // the program has not ended within ten seconds.
    int Finish()
    {
        for (int i = 0; i < 1200; i++) {
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buf[4096];
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    break;  // the terminal's last holder has gone
                seen.append(buf, (size_t)n);
            }
        }
        int wstatus = 0;
        for (int i = 0; i < 1200; i++) {
            if (waitpid(pid, &wstatus, WNOHANG) == pid) {
                close(master);
                return StatusOf(wstatus);
            }
            usleep(50000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        close(master);
        return -1;
    }
    size_t matched = 0;
};

TEST_F(Cli, TerminalPanelShowsDefaultsAndTakesTypedValues)
{
    PtyRun run;
    run.Start(With({Example("cube.obj"), "-o", Path("typed.obj")}));
    ASSERT_TRUE(run.WaitFor("Corvane...      Ver. 2.14\r\n")) << run.seen;
    ASSERT_TRUE(run.WaitFor("mode: Object\r\n")) << run.seen;
    ASSERT_TRUE(run.WaitFor("Bevel size  [1]: ")) << run.seen;
    run.Type("wide\n");
    ASSERT_TRUE(run.WaitFor("a number, please")) << run.seen;
    ASSERT_TRUE(run.WaitFor("Bevel size  [1]: ")) << run.seen;
    run.Type("0.25\n");
    ASSERT_TRUE(run.WaitFor("Angle Mode  (Disable / LT / GT) [Disable]: ")) << run.seen;
    run.Type("\n");
    ASSERT_TRUE(run.WaitFor("Limit angle (degrees) [90]: ")) << run.seen;
    run.Type("\n");
    EXPECT_EQ(run.Finish(), 0) << run.seen;

    // The typed size was used and saved; the kept values are the loaded ones.
    Result same = RunProgram(With({Example("cube.obj"), "-o", Path("given.obj"), "--size", "0.25", "-q"}));
    ASSERT_EQ(same.status, 0);
    EXPECT_EQ(Slurp(Path("typed.obj")), Slurp(Path("given.obj")));
    Settings s = ReadSettings(cfg);
    EXPECT_EQ(s.bevelSize, 0.25);
    EXPECT_EQ(s.angleMode, 0);

    // The next showing offers the saved values; a command-line value is
    // typed in before the user sees the panel.
    PtyRun again;
    again.Start(With({Example("cube.obj"), "-o", Path("again.obj"), "--angle-mode", "gt"}));
    ASSERT_TRUE(again.WaitFor("Bevel size  [0.25]: ")) << again.seen;
    again.Type("\n");
    ASSERT_TRUE(again.WaitFor("[GT]: ")) << again.seen;
    again.Type("lt\n");
    ASSERT_TRUE(again.WaitFor("Limit angle (degrees) [90]: ")) << again.seen;
    again.Type("45\n");
    EXPECT_EQ(again.Finish(), 0) << again.seen;
    Settings t = ReadSettings(cfg);
    EXPECT_EQ(t.angleMode, 1);
    volatile double deg = 45.0;
    EXPECT_EQ(t.limitAngle, deg * 0.017453292519943278 * 57.29577951308239);
}

TEST_F(Cli, TerminalPanelCancelChangesNothing)
{
    Result seed = RunProgram(With({Example("cube.obj"), "-o", Path("seed.obj"), "--size", "0.5", "-q"}));
    ASSERT_EQ(seed.status, 0);
    std::string saved = Slurp(cfg + "/Corvane.cfg");

    PtyRun run;
    run.Start(With({Example("cube.obj"), "-o", Path("out.obj")}));
    ASSERT_TRUE(run.WaitFor("Bevel size  [0.5]: ")) << run.seen;
    run.Type("0.75\n");
    ASSERT_TRUE(run.WaitFor("[Disable]: ")) << run.seen;
    // Ctrl-D at the start of a line: the end of input.
    termios tio;
    ASSERT_EQ(tcgetattr(run.master, &tio), 0);
    run.Type(std::string(1, (char)tio.c_cc[VEOF]));
    EXPECT_EQ(run.Finish(), 130) << run.seen;
    EXPECT_NE(run.seen.find("cancelled"), std::string::npos) << run.seen;
    EXPECT_FALSE(Exists(Path("out.obj")));
    EXPECT_EQ(Slurp(cfg + "/Corvane.cfg"), saved) << "a cancelled panel saves nothing";

    // Ctrl-C at a prompt cancels the same way.
    PtyRun interrupted;
    interrupted.Start(With({Example("cube.obj"), "-o", Path("out.obj")}));
    ASSERT_TRUE(interrupted.WaitFor("Bevel size  [0.5]: ")) << interrupted.seen;
    interrupted.Type("0.75\n");
    ASSERT_TRUE(interrupted.WaitFor("[Disable]: ")) << interrupted.seen;
    interrupted.Type(std::string(1, (char)tio.c_cc[VINTR]));
    EXPECT_EQ(interrupted.Finish(), 130) << interrupted.seen;
    EXPECT_NE(interrupted.seen.find("cancelled"), std::string::npos) << interrupted.seen;
    EXPECT_FALSE(Exists(Path("out.obj")));
    EXPECT_EQ(Slurp(cfg + "/Corvane.cfg"), saved);
}

// ---- Ctrl-C --------------------------------------------------------------------------

// Starts corvane with stderr on a pipe and sends SIGINT once each of the
// phase lines in `phases` has come, in turn; collects the rest, and gives
// the milliseconds from the last signal to the end in `endMs`.
Result InterruptDuring(const std::vector<std::string> &args, const std::vector<std::string> &phases,
                       const char *stepDelayUs = "4000", double *endMs = nullptr)
{
    // Every monitor step takes 4 ms, so each phase of the small grids below
    // lasts long enough for the signal to land in it, however fast the
    // passes are and however loaded the machine.
    int errPipe[2];
    EXPECT_EQ(pipe(errPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        std::vector<std::string> withLines = args;
        withLines.push_back("--progress");  // stderr is a pipe here
        ExecProgram(withLines, {std::string("CORVANE_STEP_DELAY_US=") + stepDelayUs});
    }
    close(errPipe[1]);
    Result r;
    size_t sent = 0;
    char buf[4096];
    ssize_t n;
    auto signalled = std::chrono::steady_clock::now();
    while ((n = read(errPipe[0], buf, sizeof buf)) > 0) {
        r.err.append(buf, (size_t)n);
        if (sent < phases.size() && r.err.find(phases[sent]) != std::string::npos) {
            kill(pid, SIGINT);
            signalled = std::chrono::steady_clock::now();
            sent++;
        }
    }
    close(errPipe[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (endMs)
        *endMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - signalled).count();
    r.status = StatusOf(wstatus);
    EXPECT_EQ(sent, phases.size()) << "a phase line never came:\n" << r.err;
    return r;
}

TEST_F(Cli, CtrlCAbortsThePhaseAndWritesNothing)
{
    std::string error;
    ASSERT_TRUE(MeshWriteObj(Path("grid.obj"), MakeQuadGrid(6, 6), &error)) << error;
    Result r = InterruptDuring(With({Path("grid.obj"), "-o", Path("out.obj"), "--size", "0.125"}),
                               {"Phase: LineInfo\n"});
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("Corvane mode:Obj: Phase: LineInfo: aborted at "), std::string::npos)
        << "the monitor reported the abort\n"
        << r.err;
    EXPECT_EQ(r.err.find("BufModel Flush: aborted"), std::string::npos)
        << "one Ctrl-C aborts one phase; the module goes on with the next\n"
        << r.err;
    EXPECT_NE(r.err.find("aborted; " + Path("out.obj") + " not written"), std::string::npos) << r.err;
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"cfg", "grid.obj"})) << "no output, no temporary";

    // With --keep-partial what the module built is written all the same.
    Result keep =
        InterruptDuring(With({Path("grid.obj"), "-o", Path("out.obj"), "--size", "0.125", "--keep-partial"}),
                        {"Phase: LineInfo\n"});
    EXPECT_EQ(keep.status, 130) << keep.err;
    EXPECT_GT(MeshPolyCount(ReadMesh(Path("out.obj"))), 0u);
}

TEST_F(Cli, CtrlCEndsALargeRunSoon)
{
    // Points thrown out to 1e308 once made the weld before the flush, which
    // steps no monitor, take seconds; nothing is written, so Ctrl-C need
    // not wait for the module. A grid large enough for the signal to land.
    std::string error;
    ASSERT_TRUE(MeshWriteObj(Path("grid.obj"), MakeQuadGrid(200, 200), &error)) << error;
    double endMs = 0;
    Result r = InterruptDuring(With({Path("grid.obj"), "-o", Path("out.obj"), "--size", "1e308"}),
                               {" Phase: PointCorvane\n"}, "0", &endMs);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_LT(endMs, 1000.0) << "a bound for a loaded 2-core machine: it took seconds\n" << r.err;
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"cfg", "grid.obj"})) << "no output, no temporary";
}

TEST_F(Cli, SecondCtrlCEndsAtOnce)
{
    // The first Ctrl-C aborts the edge linking, the second lands in the
    // chamfer strips that follow.
    std::string error;
    ASSERT_TRUE(MeshWriteObj(Path("grid.obj"), MakeQuadGrid(6, 6), &error)) << error;
    Result r = InterruptDuring(With({Path("grid.obj"), "-o", Path("out.obj"), "--size", "0.125"}),
                               {"Phase: LineInfo\n", " Phase: MakeLineCorvanePoly\n"});
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("Phase: LineInfo: aborted at "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("corvane: interrupted\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("BufModel Flush"), std::string::npos) << "ended before the flush\n" << r.err;
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"cfg", "grid.obj"}));
}

}  // namespace
