// Mesh files: OBJ reading with the topology kept, exact coordinates, errors
// that name the line, writing, atomic files and mesh counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "meshgen/meshgen.h"
#include "meshio/meshio.h"
#include "tests/files.h"

namespace {

MeshData Read(const std::string &text, MeshReadInfo *info = nullptr)
{
    MeshData mesh;
    std::string error;
    EXPECT_TRUE(MeshReadObjText(text, "t.obj", &mesh, info, &error)) << error;
    return mesh;
}

std::string ReadError(const std::string &text)
{
    MeshData mesh;
    std::string error;
    EXPECT_FALSE(MeshReadObjText(text, "t.obj", &mesh, nullptr, &error)) << text;
    EXPECT_TRUE(mesh.points.empty() && MeshPolyCount(mesh) == 0) << "a failed read leaves no mesh";
    return error;
}

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

// ---- reading ---------------------------------------------------------------

TEST(MeshRead, EveryFaceFormAndNegativeIndices)
{
    MeshReadInfo info;
    MeshData mesh = Read("# four points\n"
                         "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                         "vt 0 0\nvt 1 0\nvt 1 1\n"
                         "vn 0 0 1\n"
                         "f 1 2 3\n"
                         "f 1/1 2/2 3/3\n"
                         "f 1//1 3//1 4//1\n"
                         "f 1/1/1 2/2/1 3/3/1 4/3/1\n"
                         "f -4 -3 -1\n"
                         "f -4/-3/-1 -2/-1/-1 -1//-1\n",
                         &info);
    ASSERT_EQ(mesh.points.size(), 4u);
    ASSERT_EQ(MeshPolyCount(mesh), 6u);
    const std::vector<std::vector<int>> want = {{0, 1, 2},    {0, 1, 2}, {0, 2, 3},
                                                {0, 1, 2, 3}, {0, 1, 3}, {0, 2, 3}};
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(MeshPolyPoints(mesh, i), want[i]) << "polygon " << i;
        EXPECT_EQ(MeshPolySurface(mesh, i), "Default") << "polygon " << i;
        EXPECT_FALSE(MeshPolySelected(mesh, i));
    }
    EXPECT_EQ(info.texcoords, 3);
    EXPECT_EQ(info.normals, 1);
    EXPECT_EQ(info.ignoredElements, 0);
}

TEST(MeshRead, TopologyKeptExactly)
{
    // Two coincident points stay two points, a pentagon stays a pentagon, a
    // repeated vertex and a reversed winding are kept as written.
    MeshData mesh = Read("v 0 0 0\nv 0 0 0\nv 2 0 0\nv 2 2 0\nv 1 3 0\nv 0 2 0\n"
                         "f 1 3 4 5 6\n"
                         "f 6 5 4 3 2\n"
                         "f 1 3 3 4\n"
                         "f 1 2\n");
    ASSERT_EQ(mesh.points.size(), 6u);
    EXPECT_EQ(MeshPolyPoints(mesh, 0), (std::vector<int>{0, 2, 3, 4, 5}));
    EXPECT_EQ(MeshPolyPoints(mesh, 1), (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_EQ(MeshPolyPoints(mesh, 2), (std::vector<int>{0, 2, 2, 3}));
    EXPECT_EQ(MeshPolyPoints(mesh, 3), (std::vector<int>{0, 1}));
    EXPECT_TRUE(SameBits(mesh.points[4][1], 3.0));
}

TEST(MeshRead, SurfacesFromUsemtl)
{
    MeshData mesh = Read("v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                         "f 1 2 3\n"
                         "usemtl Red Paint  \n"
                         "f 3 2 1\n"
                         "g side\no thing\ns 1\nmtllib x.mtl\n"
                         "usemtl\tblue\n"
                         "f 1 2 3\n");
    ASSERT_EQ(MeshPolyCount(mesh), 3u);
    EXPECT_EQ(MeshPolySurface(mesh, 0), "Default");
    EXPECT_EQ(MeshPolySurface(mesh, 1), "Red Paint") << "inner blank kept, trailing blanks dropped";
    EXPECT_EQ(MeshPolySurface(mesh, 2), "blue");
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++)
        EXPECT_TRUE(MeshPolyHasSurface(mesh, pi));
}

// A name is stored once however many polygons use it, and the budget of
// name bytes counts it once: a long name over many faces is no larger than
// over one, while distinct names add up.
TEST(MeshRead, EachSurfaceNameIsStoredOnce)
{
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int k = 0; k < 40; k++)
        text += std::string("usemtl ") + (k % 2 ? "Blue" : "Red") + "\nf 1 2 3\n";
    MeshData mesh = Read(text);
    ASSERT_EQ(MeshPolyCount(mesh), 40u);
    EXPECT_EQ(mesh.surfaces, (std::vector<std::string>{"Red", "Blue"}));
    for (size_t k = 0; k < 40; k++)
        EXPECT_EQ(mesh.polySurface[k], (int)(k % 2)) << "polygon " << k;

    MeshBudget budget;
    budget.nameBytes = 7;
    MeshData within;
    std::string error;
    EXPECT_TRUE(MeshReadObjText(text, "t.obj", &within, nullptr, &error, &budget)) << error;
    budget.nameBytes = 6;
    MeshData past;
    EXPECT_FALSE(MeshReadObjText(text, "t.obj", &past, nullptr, &error, &budget));
    EXPECT_NE(error.find("bytes of surface names"), std::string::npos) << error;
}

TEST(MeshRead, CoordinatesAreCorrectlyRounded)
{
    // Decimal texts whose nearest double a digit-by-digit sum misses; the
    // reference is the C library's correctly rounded strtod.
    const char *texts[] = {"0.1",
                           "0.3",
                           "-2.675",
                           "1.0000000000000002",
                           "123456.789012345678",
                           "2.2250738585072014e-308",
                           "9007199254740993",
                           "1e22",
                           "0.123456789012345678",
                           "-0",
                           "+4.5",
                           ".5",
                           "7.",
                           "3.14159265358979323846",
                           "1E-5"};
    std::string text;
    for (const char *t : texts)
        text += std::string("v ") + t + " " + t + " " + t + "\n";
    MeshData mesh = Read(text);
    ASSERT_EQ(mesh.points.size(), sizeof texts / sizeof texts[0]);
    for (size_t i = 0; i < mesh.points.size(); i++) {
        double want = std::strtod(texts[i], nullptr);
        for (int c = 0; c < 3; c++)
            EXPECT_TRUE(SameBits(mesh.points[i][c], want)) << "point " << i << " " << texts[i];
    }
}

TEST(MeshRead, LineEndingsAndOptionalValues)
{
    // CRLF endings, a last line without an end, a weight and a colour after
    // the coordinates, blank and comment lines, a forward reference.
    MeshData mesh = Read("v 0 0 0 1\r\n\r\n   # note\r\nf 1 2 3\r\nv 1 0 0 0.5 0.5 0.5\r\nv 0 1 0");
    ASSERT_EQ(mesh.points.size(), 3u);
    ASSERT_EQ(MeshPolyCount(mesh), 1u);
    EXPECT_EQ(MeshPolyPoints(mesh, 0), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(SameBits(mesh.points[2][1], 1.0));
}

TEST(MeshRead, OtherElementsAreCountedAndSkipped)
{
    MeshReadInfo info;
    MeshData mesh = Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\np 3\nf 1 2 3\n", &info);
    EXPECT_EQ(MeshPolyCount(mesh), 1u);
    EXPECT_EQ(info.ignoredElements, 2);
}

TEST(MeshRead, MalformedFilesNameTheLine)
{
    struct Case {
        const char *text;
        const char *want;  // the whole message
    };
    const Case cases[] = {
        {"v 1 2\n", "t.obj:1: a 'v' line needs 3 coordinates, found 2 values"},
        {"v 0 0 0\nv 1 x 2\n", "t.obj:2: not a number: 'x'"},
        {"v 1 2 inf\n", "t.obj:1: not a number: 'inf'"},
        {"v 1 2 nan\n", "t.obj:1: not a number: 'nan'"},
        {"v 1 2 1e999\n", "t.obj:1: not a number: '1e999'"},
        {"v\n", "t.obj:1: a 'v' line needs 3 coordinates"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", "t.obj:4: vertex number 4 is out of range (the file has 3)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", "t.obj:4: vertex number 0 is out of range"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf -4 1 2\n",
         "t.obj:4: vertex number -4 reaches before the first vertex (3 read so far)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 x # closing\n", "t.obj:4: bad vertex number 'x'"},
        // a byte-order mark only at the very start
        {"v 0 0 0\n\xEF\xBB\xBFv 1 0 0\n", "t.obj:2: unknown statement '\xEF\xBB\xBFv'"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/1/1/1 2 3\n",
         "t.obj:4: bad face vertex '1/1/1/1': more than three numbers"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/a 2 3\n", "t.obj:4: bad texture coordinate number 'a'"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/1 2/2 3/1\n",
         "t.obj:5: texture coordinate number 2 is out of range (the file has 1)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1//-1 2 3\n",
         "t.obj:4: normal number -1 reaches before the first normal (0 read so far)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1.5 2 3\n", "t.obj:4: bad vertex number '1.5'"},
        {"v 0 0 0\nf \n", "t.obj:2: a face needs at least one vertex"},
        {"v 0 0 0\nusemtl   \n", "t.obj:2: 'usemtl' needs a surface name"},
        {"v 0 0 0\n\n\nbogus 1 2\n", "t.obj:4: unknown statement 'bogus'"},
        {"v 0 0 0\rv 1 0 0\n", "t.obj:1: stray carriage return inside the line"},
        {"v 0 0 0\nvn 0 1\n", "t.obj:2: a 'vn' line needs 3 numbers"},
        {"vt 0 0 0 0\n", "t.obj:1: a 'vt' line needs 1 to 3 numbers"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ReadError(c.text), c.want) << c.text;
}

TEST(MeshRead, WhatOtherToolsWrite)
{
    // A byte-order mark, comments after vertices and faces (with or without a
    // blank before them), a material library, objects, groups and smoothing.
    const std::string text = "\xEF\xBB\xBFmtllib  parts.mtl more.mtl \no box\ng top\ns 1\n"
                             "v 0 0 0 # origin\nv 1 0 0\nv 0 1 0#x\nusemtl Steel # two words\n"
                             "f 1 2 3 # top\nf 3 2 1#under\n";
    MeshReadInfo info;
    MeshData mesh = Read(text, &info);
    EXPECT_EQ(info.groupings, 3);
    // A surface name keeps what follows it, as every earlier read did; the
    // library comes back as it was written, ahead of the points.
    EXPECT_EQ(MeshObjText(mesh), "mtllib  parts.mtl more.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                 "usemtl Steel # two words\nf 1 2 3\nf 3 2 1\n");
}

TEST(MeshRead, FilesOnDisk)
{
    std::string dir = MakeTempDir();
    std::string path = dir + "/m.obj";
    std::ofstream(path) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 x\n";
    MeshData mesh;
    std::string error;
    EXPECT_FALSE(MeshReadObj(path, &mesh, nullptr, &error));
    EXPECT_EQ(error, path + ":5: bad vertex number 'x'");
    EXPECT_FALSE(MeshReadObj(dir + "/missing.obj", &mesh, nullptr, &error));
    EXPECT_EQ(error.rfind(dir + "/missing.obj: cannot open:", 0), 0u) << error;
    EXPECT_FALSE(MeshReadObj(dir, &mesh, nullptr, &error));
    EXPECT_EQ(error, dir + ": is a folder, not a mesh file");
    RemoveTree(dir);
}

// ---- writing ---------------------------------------------------------------

TEST(MeshWrite, TextAndSurfaces)
{
    MeshData mesh;
    mesh.points = {{0.0, 0.5, -1.0}, {0.1, 1e20, -0.0}, {1.0 / 3.0, 2.0, 3.0}};
    MeshFace a;
    a.points = {0, 1, 2};
    a.surface = "Default";
    MeshFace b = a;
    b.points = {2, 1, 0};
    MeshFace c = a;
    c.surface = "Metal";
    MeshFace d = a;
    d.hasSurface = false;  // a polygon the host holds without a surface name
    MeshSetFaces(&mesh, {a, b, c, d});
    EXPECT_EQ(MeshObjText(mesh), "v 0 0.5 -1\n"
                                 "v 0.1 1e+20 -0\n"
                                 "v 0.3333333333333333 2 3\n"
                                 "usemtl Default\n"
                                 "f 1 2 3\n"
                                 "f 3 2 1\n"
                                 "usemtl Metal\n"
                                 "f 1 2 3\n"
                                 "usemtl Default\n"
                                 "f 1 2 3\n");
}

TEST(MeshWrite, RoundTripIsExact)
{
    // Random doubles of every magnitude and generated meshes come back bit
    // for bit, with the same topology and surfaces.
    std::mt19937_64 rng(12345);
    MeshData mesh = MakeTorus(7, 5);
    for (auto &p : mesh.points)
        for (int c = 0; c < 3; c++) {
            uint64_t bits = rng();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            p[c] = std::isfinite(v) ? v : 0.25;
        }
    mesh.polySurface[3] = MeshInternSurface(&mesh, "Other");
    MeshData back = Read(MeshObjText(mesh));
    ASSERT_EQ(back.points.size(), mesh.points.size());
    for (size_t i = 0; i < mesh.points.size(); i++)
        for (int c = 0; c < 3; c++)
            ASSERT_TRUE(SameBits(back.points[i][c], mesh.points[i][c])) << "point " << i;
    ASSERT_EQ(MeshPolyCount(back), MeshPolyCount(mesh));
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        EXPECT_EQ(MeshPolyPoints(back, i), MeshPolyPoints(mesh, i)) << "polygon " << i;
        EXPECT_EQ(MeshPolySurface(back, i), MeshPolySurface(mesh, i)) << "polygon " << i;
    }
    EXPECT_EQ(MeshObjText(back), MeshObjText(mesh));
}

TEST(MeshWrite, AtomicFile)
{
    std::string dir = MakeTempDir();
    std::string path = dir + "/out.obj";
    std::string error;

    // A new file appears whole, with no temporary left beside it.
    ASSERT_TRUE(MeshWriteObj(path, MakeCube(), &error)) << error;
    EXPECT_EQ(Slurp(path), MeshObjText(MakeCube()));
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"out.obj"});
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "the mode of a plain new file";

    // While written, the old file stands; a discarded write leaves it as it was.
    AtomicFile file;
    ASSERT_TRUE(AtomicFileOpen(path, &file, &error)) << error;
    ASSERT_TRUE(AtomicFileWrite(&file, "partial", &error)) << error;
    EXPECT_EQ(ListDir(dir).size(), 2u);
    EXPECT_EQ(Slurp(path), MeshObjText(MakeCube()));
    AtomicFileDiscard(&file);
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"out.obj"});
    EXPECT_EQ(Slurp(path), MeshObjText(MakeCube()));

    // A committed write replaces it.
    ASSERT_TRUE(AtomicFileOpen(path, &file, &error)) << error;
    ASSERT_TRUE(AtomicFileWrite(&file, "new\n", &error)) << error;
    ASSERT_TRUE(AtomicFileCommit(&file, &error)) << error;
    EXPECT_EQ(Slurp(path), "new\n");
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"out.obj"});

    // A folder that does not exist: an error naming the file, nothing made.
    EXPECT_FALSE(MeshWriteObj(dir + "/no/out.obj", MakeCube(), &error));
    EXPECT_EQ(error, dir + "/no/out.obj: the folder " + dir + "/no does not exist");
    RemoveTree(dir);
}

// What stands at the output path already decides what writing may do there:
// a private file stays private, a link keeps pointing at the file it names,
// and nothing but a regular file is ever replaced.
TEST(MeshWrite, WhatStandsThereAlready)
{
    std::string dir = MakeTempDir();
    std::string error;
    int number = -1;
    const std::string priv = dir + "/private.obj";
    std::ofstream(priv) << "old\n";
    ASSERT_EQ(chmod(priv.c_str(), 0600), 0);
    ASSERT_TRUE(MeshWriteObj(priv, MakeCube(), &error, &number)) << error;
    EXPECT_EQ(number, 0);
    struct stat st;
    ASSERT_EQ(stat(priv.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A link, dangling or not, is written through and stays a link.
    ASSERT_EQ(symlink("target.obj", (dir + "/link.obj").c_str()), 0);
    ASSERT_TRUE(MeshWriteObj(dir + "/link.obj", MakeCube(), &error)) << error;
    ASSERT_EQ(lstat((dir + "/link.obj").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Slurp(dir + "/target.obj"), MeshObjText(MakeCube()));

    // A pipe and a device are refused and left as they were.
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(MeshWriteObj(dir + "/fifo", MakeCube(), &error, &number));
    EXPECT_EQ(error, dir + "/fifo: is not a regular file (a device, pipe or socket); it is not replaced");
    EXPECT_EQ(number, EINVAL);
    ASSERT_EQ(lstat((dir + "/fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_FALSE(MeshWriteObj("/dev/null", MakeCube(), &error));
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // Paths that name no file say so, with an errno for callers that raise.
    EXPECT_FALSE(MeshWriteObj("", MakeCube(), &error, &number));
    EXPECT_EQ(error, "an empty path names no file");
    EXPECT_EQ(number, ENOENT);
    EXPECT_FALSE(MeshWriteObj(dir + std::string("/a\0b.obj", 8), MakeCube(), &error, &number));
    EXPECT_EQ(number, EINVAL);

    // An atomic file left without a commit takes its temporary with it.
    {
        AtomicFile file;
        ASSERT_TRUE(AtomicFileOpen(dir + "/gone.obj", &file, &error)) << error;
        ASSERT_TRUE(AtomicFileWrite(&file, "partial", &error));
    }
    std::vector<std::string> names = ListDir(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fifo", "link.obj", "private.obj", "target.obj"}));
    RemoveTree(dir);
}

// The umask belongs to the whole process: clearing it even for a moment lets
// another thread (the Python module's, the viewer's) create world-writable
// files. This test program counts every change of it.
std::atomic<int> g_umaskCalls{0};
extern "C" mode_t umask(mode_t mask)
{
    g_umaskCalls++;
    return (mode_t)syscall(SYS_umask, mask);
}

TEST(MeshWrite, TheUmaskIsNeverChanged)
{
    std::string dir = MakeTempDir();
    std::string error;
    g_umaskCalls = 0;
    ASSERT_TRUE(MeshWriteObj(dir + "/out.obj", MakeCube(), &error)) << error;
    EXPECT_EQ(g_umaskCalls, 0);
    RemoveTree(dir);
}

// ---- counts ----------------------------------------------------------------

TEST(MeshStatsTest, ClosedOpenAndCrowded)
{
    MeshStats cube = MeshComputeStats(MakeCube());
    EXPECT_EQ(cube.points, 8);
    EXPECT_EQ(cube.polygons, 6);
    EXPECT_EQ(cube.quads, 6);
    EXPECT_EQ(cube.edges, 12);
    EXPECT_EQ(cube.borderEdges, 0);
    EXPECT_EQ(cube.crowdedEdges, 0);

    MeshStats cyl = MeshComputeStats(MakeCylinder(6, 2));
    EXPECT_EQ(cyl.quads, 12);
    EXPECT_EQ(cyl.ngons, 2);
    EXPECT_EQ(cyl.borderEdges, 0);

    // A 3 x 2 grid: border = perimeter 10 edges; 17 edges in all.
    MeshStats grid = MeshComputeStats(MakeQuadGrid(3, 2));
    EXPECT_EQ(grid.edges, 17);
    EXPECT_EQ(grid.borderEdges, 10);

    // Three triangles on one edge (a fin), and a two-point polygon.
    MeshData fin = Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nv 0 0 1\n"
                        "f 1 2 3\nf 2 1 4\nf 1 2 5\nf 3 5\n");
    MeshStats f = MeshComputeStats(fin);
    EXPECT_EQ(f.triangles, 3);
    EXPECT_EQ(f.degenerate, 1);
    EXPECT_EQ(f.crowdedEdges, 1);
    EXPECT_EQ(f.edges, 8);
    EXPECT_EQ(f.borderEdges, 7);
    EXPECT_EQ(f.oppositeWindingEdges, 0) << "a crowded edge is counted as crowded only";

    // Two triangles that run along their shared edge the same way are wound
    // opposite ways; the cube's faces all agree.
    EXPECT_EQ(MeshComputeStats(Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nf 1 2 3\nf 1 2 4\n"))
                  .oppositeWindingEdges,
              1);
    EXPECT_EQ(MeshComputeStats(Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nf 1 2 3\nf 2 1 4\n"))
                  .oppositeWindingEdges,
              0);
    EXPECT_EQ(cube.oppositeWindingEdges, 0);

    // A polygon through one point twice (apart, and in a row) and one of no
    // area: counted, and said in words.
    MeshStats bad = MeshComputeStats(Read("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 2 2 0\nv 0 1 0\n"
                                          "f 1 2 3 4 3 5\nf 1 2 2 3\nf 1 3 4\nf 1 2 3\n"));
    EXPECT_EQ(bad.repeatedPointPolys, 2);
    EXPECT_EQ(bad.zeroAreaPolys, 1) << "1 3 4 lies on one line";
    EXPECT_EQ(MeshInvalidPolygonsText(bad),
              "2 polygons pass through one point twice, 1 polygon has zero area");
    EXPECT_EQ(MeshInvalidPolygonsText(cube), "");
}

TEST(MeshStatsTest, PolysWithEdge)
{
    MeshData grid = MakeQuadGrid(3, 2);
    // Point (1, 0) - (1, 1): indices 1 and 5, shared by quads 0 and 1.
    EXPECT_EQ(MeshPolysWithEdge(grid, 1, 5), (std::vector<int>{0, 1}));
    EXPECT_EQ(MeshPolysWithEdge(grid, 5, 1), (std::vector<int>{0, 1}));
    EXPECT_EQ(MeshPolysWithEdge(grid, 0, 1), (std::vector<int>{0}));
    EXPECT_EQ(MeshPolysWithEdge(grid, 0, 5), (std::vector<int>{})) << "a diagonal is no edge";
}
