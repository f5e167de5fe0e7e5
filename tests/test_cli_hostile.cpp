// The corvane program given what it must refuse or survive: malformed,
// truncated, binary and huge OBJ files, face numbers out of range, 1- and
// 2-point faces, selections that name nothing, bevel sizes that are no
// numbers, an output folder it cannot write, a disk that fills up, a
// settings folder it cannot make. Every file is treated the same way: a
// clear message, the documented exit status, and no output file (or the old
// one untouched), with no temporary file left behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "meshgen/meshgen.h"
#include "meshio/meshio.h"
#include "tests/files.h"
#include "tests/runprogram.h"

namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int c : list)
        s.push_back((char)c);
    return s;
}

// Each test works in a folder of its own, with its own settings folder.
class CliHostile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempDir("clih");
        cfg = dir + "/cfg";
    }
    void TearDown() override
    {
        for (const std::string &m : mounts)
            umount2(m.c_str(), MNT_DETACH);
        EXPECT_TRUE(RemoveTree(dir));
    }
    std::string Path(const std::string &name) const { return dir + "/" + name; }
    std::vector<std::string> With(std::vector<std::string> args) const
    {
        args.push_back("--plugins-dir");
        args.push_back(cfg);
        args.push_back("-q");
        return args;
    }
    void WriteFile(const std::string &name, const std::string &text) const
    {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    // A size-limited tmpfs at `name` (read-only when asked); false when this
    // process may not mount one.
    bool MountTmpfs(const std::string &name, const char *size, bool readOnly)
    {
        std::string at = Path(name);
        mkdir(at.c_str(), 0755);
        std::string options = std::string("size=") + size;
        if (mount("tmpfs", at.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0)
            return false;
        mounts.push_back(at);
        return true;
    }
    // The run failed as `status` with `says` in its messages, and wrote
    // nothing: no output, no temporary file, only what was there before.
    void ExpectRefused(const Result &r, int status, const std::string &says, const std::string &what)
    {
        EXPECT_EQ(r.status, status) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << what << "\n" << r.err;
        EXPECT_FALSE(Exists(Path("out.obj"))) << what;
        for (const std::string &name : ListDir(dir))
            EXPECT_NE(name[0], '.') << what << ": a temporary file is left: " << name;
    }

    std::string dir, cfg;
    std::vector<std::string> mounts;
};

// ---- malformed, truncated and binary files ------------------------------------

TEST_F(CliHostile, MalformedFilesNameTheLineAndWriteNothing)
{
    struct Case {
        const char *name;
        std::string text;
        const char *says;
    };
    const std::string cube = Slurp(Example("cube.obj"));
    const Case cases[] = {
        {"garbage", "hello world\n", ":1: unknown statement 'hello'"},
        {"number", "v 1 2 x\n", ":1: not a number: 'x'"},
        {"nan", "v nan 0 0\n", ":1: not a number: 'nan'"},
        {"inf", "v 0 inf 0\n", ":1: not a number: 'inf'"},
        {"overflow", "v 1e999 0 0\n", ":1: not a number: '1e999'"},
        {"two", "v 1 2\n", ":1: a 'v' line needs 3 coordinates"},
        // cut off in the middle of a line and of a number
        {"truncated-vertex", cube.substr(0, 15), ":2: a 'v' line needs 3 coordinates"},
        {"truncated-face", cube.substr(0, cube.size() - 4) + "/", ":15: bad vertex number ''"},
        {"stray-cr", "v 0 0 0\rv 1 1 1\n", ":1: stray carriage return"},
        {"nul", Bytes({'v', ' ', '0', 0, '0', ' ', '0', '\n'}), ":1:"},
        {"binary", Bytes({0x7f, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0xff, 0xfe, '\n', 0x89, 'P', 'N', 'G'}),
         ":1: unknown statement"},
        {"utf16", Bytes({0xff, 0xfe, 'v', 0, ' ', 0, '0', 0, '\n', 0}), ":1: unknown statement"},
        {"empty-face", "v 0 0 0\nf\n", ":2: a face needs at least one vertex"},
        {"usemtl", "usemtl\n", ":1: 'usemtl' needs a surface name"},
        {"slashes", "v 0 0 0\nf 1/1/1/1\n", ":2: bad face vertex '1/1/1/1': more than three numbers"},
    };
    for (const Case &c : cases) {
        WriteFile(c.name, c.text);
        Result r = RunProgram(With({Path(c.name), "-o", Path("out.obj"), "--size", "0.25"}));
        ExpectRefused(r, 1, Path(c.name) + c.says, c.name);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": one line\n" << r.err;
        unlink(Path(c.name).c_str());
    }
}

TEST_F(CliHostile, FaceNumbersOutOfRange)
{
    struct Case {
        const char *text;
        const char *says;
    };
    const Case cases[] = {
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", ":4: vertex number 4 is out of range (the file has 3)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", ":4: vertex number 0 is out of range"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf -1 -2 -4\n", ":4: vertex number -4 reaches before the first vertex"},
        {"v 0 0 0\nf 1 1 2147483648\n", ":2: vertex number 2147483648 is out of range"},
        {"v 0 0 0\nf 1 1 99999999999999999999\n", ":2: bad vertex number '99999999999999999999'"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/5 2/5 3/5\n", "texture coordinate number 5 is out of range"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//2 2//1 3//1\n", "normal number 2 is out of range"},
        {"f 1 2 3\n", ":1: vertex number 1 is out of range (the file has 0)"},
    };
    for (const Case &c : cases) {
        WriteFile("in.obj", c.text);
        Result r = RunProgram(With({Path("in.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
        ExpectRefused(r, 1, c.says, c.text);
    }
}

// A file past what the host module holds is read, handed to it and refused
// by it, whole, while the program's own module takes it; a file without a
// single polygon is refused either way.
// Short of memory at any point of a large run, the program either writes a
// valid result or fails with its words and writes nothing: never a crash,
// never a hang in a fallback that scans, never the input passed off as the
// result.
TEST_F(CliHostile, ShortOfMemoryFailsCleanly)
{
    if (kSanitized)
        GTEST_SKIP() << "address space limits and the sanitizer do not mix";
    std::string error;
    ASSERT_TRUE(
        MeshWriteFile(Path("torus.ply"), MeshFormat::Ply, MakeTriangulated(MakeTorus(240, 120), 1), &error))
        << error;
    int failed = 0, written = 0;
    for (rlim_t megabytes = 60; megabytes <= 300; megabytes += 20) {
        std::remove(Path("out.ply").c_str());
        Result r = RunProgram(With({Path("torus.ply"), "-o", Path("out.ply"), "--size", "0.005"}), {}, 0, 0,
                              megabytes << 20);
        if (r.status == 0) {
            written++;
            MeshData out;
            ASSERT_TRUE(MeshReadFile(Path("out.ply"), MeshFormat::Ply, &out, nullptr, &error)) << error;
            MeshStats s = MeshComputeStats(out);
            EXPECT_EQ(s.points, 172800) << megabytes << " MB: " << r.out;
            EXPECT_EQ(s.borderEdges + s.crowdedEdges, 0) << megabytes << " MB";
            continue;
        }
        failed++;
        EXPECT_EQ(r.status, 1) << megabytes << " MB: " << r.err;
        EXPECT_EQ(r.err.rfind("corvane: ", 0), 0u) << megabytes << " MB: " << r.err;
        EXPECT_FALSE(Exists(Path("out.ply"))) << megabytes << " MB";
    }
    EXPECT_GT(failed, 0) << "no limit was low enough to fail";
    EXPECT_GT(written, 0) << "no limit was high enough to succeed";
}

TEST_F(CliHostile, HugeAndEmptyFiles)
{
    std::string error;
    ASSERT_TRUE(MeshWriteObj(Path("huge.obj"), MakeQuadGrid(200, 90), &error)) << error;
    ASSERT_GT(Slurp(Path("huge.obj")).size(), 500000u);
    Result huge = RunProgram(With(
        {Path("huge.obj"), "-o", Path("out.obj"), "--size", "0.25", "--plugin", BuildDir() + "/Corvane.p"}));
    ExpectRefused(huge, 1,
                  "corvane: the module says: The background object has more than 65536 polygon corners, more "
                  "than the tool can hold. Nothing was changed.\n",
                  "72000 corners");
    EXPECT_NE(huge.err.find("huge.obj has 72,000 polygon corners, more than the 65,536 the module takes"),
              std::string::npos)
        << huge.err;
    EXPECT_NE(huge.err.find("out.obj not written"), std::string::npos) << huge.err;
    Result taken = RunProgram(With({Path("huge.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    EXPECT_EQ(taken.status, 0) << taken.err;
    EXPECT_TRUE(Exists(Path("out.obj")));
    std::remove(Path("out.obj").c_str());

    // One line of ten million digits: a number past the largest double.
    WriteFile("long.obj", "v 1 2 " + std::string(10000000, '7') + "\n");
    Result longLine = RunProgram(With({Path("long.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    ExpectRefused(longLine, 1, Path("long.obj") + ":1: not a number: '777", "ten million digits");
    EXPECT_LT(longLine.err.size(), 10100000u);

    for (const char *name : {"empty.obj", "comments.obj"}) {
        WriteFile(name, std::string(name) == "empty.obj" ? "" : "# nothing\n\n   \n");
        Result r = RunProgram(With({Path(name), "-o", Path("out.obj"), "--size", "0.25"}));
        ExpectRefused(r, 1, Path(name) + " has no polygons; there is nothing to chamfer", name);
    }
    // A device is no mesh file: /dev/zero would be read until memory ran out.
    for (const char *device : {"/dev/null", "/dev/zero"}) {
        Result r =
            RunProgram(With({device, "-o", Path("out.obj"), "--size", "0.25", "--input-format", "ply"}));
        ExpectRefused(r, 1, std::string(device) + ": is not a regular file or a pipe", device);
    }
    // A pipe is read as it comes, its writer waited for.
    ASSERT_EQ(mkfifo(Path("pipe.obj").c_str(), 0600), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        std::ofstream(Path("pipe.obj")) << Slurp(Example("cube.obj"));
        _exit(0);
    }
    Result piped = RunProgram(With({Path("pipe.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(piped.status, 0) << piped.err;
    unlink(Path("pipe.obj").c_str());
    unlink(Path("out.obj").c_str());
    Result folder = RunProgram(With({dir, "-o", Path("out.obj"), "--size", "0.25"}));
    ExpectRefused(folder, 1, "is a folder, not a mesh file", "a folder");
}

// 1- and 2-point faces: the object mode leaves them out (they have no edge to
// chamfer) and says so; the two-polygon mode cannot select one.
TEST_F(CliHostile, OneAndTwoPointFaces)
{
    WriteFile("deg.obj", Slurp(Example("cube.obj")) + "f 1\nf 1 2\nf 3 3\n");
    Result r = RunProgram({Path("deg.obj"), "-o", Path("out.obj"), "--size", "0.25", "--plugins-dir", cfg});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 polygon(s) of fewer than 3 points are left out"), std::string::npos) << r.err;
    MeshData out;
    std::string error;
    ASSERT_TRUE(MeshReadObj(Path("out.obj"), &out, nullptr, &error)) << error;
    EXPECT_EQ(MeshComputeStats(out).polygons, 26) << "the cube, chamfered";
    EXPECT_EQ(MeshComputeStats(out).degenerate, 0);
    unlink(Path("out.obj").c_str());

    // The cube's faces are 1 to 6: 7 is the one-point face, 8 the two-point.
    for (const char *sel : {"1,7", "8,1", "7,8"}) {
        Result s =
            RunProgram(With({Path("deg.obj"), "-o", Path("out.obj"), "--size", "0.25", "--select", sel}));
        ExpectRefused(s, 1, "must share an edge", sel);
    }
    // The edge 1-2 is held by two cube faces and by the two-point face.
    Result e = RunProgram(With({Path("deg.obj"), "-o", Path("out.obj"), "--size", "0.25", "--edge", "1,2"}));
    ExpectRefused(e, 2, "--edge 1,2: the edge is shared by 3 polygon(s), not 2", "edge 1,2");
}

// ---- files that ask for far more than they hold ------------------------------------

// A glTF of one triangle strip of `vertices` positions (embedded), used by
// `nodes` nodes each moved along z, its mesh listing the strip `repeats`
// times, its material named `material` (none when empty).
std::string InstancedGltf(int vertices, int nodes, int repeats, const std::string &material = "")
{
    std::string positions;
    for (int i = 0; i < vertices; i++) {
        const float p[3] = {(float)i, (float)(i % 2), 0.0f};
        positions.append(reinterpret_cast<const char *>(p), sizeof p);
    }
    static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string uri = "data:application/octet-stream;base64,";
    for (size_t i = 0; i < positions.size(); i += 3) {
        // 12 bytes a position: the length is always a multiple of 3
        const uint32_t v = (uint8_t)positions[i] << 16 | (uint8_t)positions[i + 1] << 8 |
                           (uint8_t)positions[i + 2];
        for (int k = 3; k >= 0; k--)
            uri += kBase64[(v >> (6 * k)) & 63];
    }
    std::string prims;
    for (int k = 0; k < repeats; k++)
        prims += std::string(k ? "," : "") + "{\"attributes\":{\"POSITION\":0},\"mode\":5" +
                 (material.empty() ? "" : ",\"material\":0") + "}";
    std::string nodeList, roots;
    for (int k = 0; k < nodes; k++) {
        nodeList += std::string(k ? "," : "") + "{\"mesh\":0,\"translation\":[0,0," + std::to_string(k) +
                    "]}";
        roots += std::string(k ? "," : "") + std::to_string(k);
    }
    return "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":" +
           std::to_string(positions.size()) + ",\"uri\":\"" + uri +
           "\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":" + std::to_string(positions.size()) +
           "}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" +
           std::to_string(vertices) + ",\"type\":\"VEC3\"}]," +
           (material.empty() ? "" : "\"materials\":[{\"name\":\"" + material + "\"}],") +
           "\"meshes\":[{\"primitives\":[" + prims + "]}],\"nodes\":[" + nodeList +
           "],\"scenes\":[{\"nodes\":[" + roots + "]}],\"scene\":0}";
}

// The review's files, each a few hundred kilobytes that once asked for tens
// of gigabytes or a stack past its end: refused before the reader builds
// anything, the program's peak memory a small multiple of the file.
TEST_F(CliHostile, SmallFilesThatAskForMuchAreRefusedWithinTheirMemory)
{
    const std::string name(1 << 20, 'n');
    std::string stl = "solid " + name + "\n";
    for (int k = 0; k < 2000; k++)
        stl += "facet normal 0 0 1\nouter loop\nvertex 0 0 " + std::to_string(k) +
               "\nvertex 1 0 0\nvertex 0 1 0\n"
               "endloop\nendfacet\n";
    stl += "endsolid\n";
    std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl " + name + "\n";
    for (int k = 0; k < 1000; k++)
        obj += "f 1 2 3\n";
    std::string materials = "{\"asset\":{\"version\":\"2.0\"},\"materials\":[{}";
    for (int k = 0; k < 200000; k++)
        materials += ",{}";
    materials += "]}";
    const int depth = 16000;
    const struct {
        const char *file;
        std::string bytes;
        const char *says;
    } cases[] = {
        {"deep.gltf",
         "{\"asset\":{\"version\":\"2.0\",\"extras\":" + std::string(depth, '[') + std::string(depth, ']') +
             "}}",
         "deep.gltf: byte 97: the JSON nests deeper than 64 levels"},
        // 100 million triangles: one strip in 5,000 nodes, or 5,000 times in one mesh
        {"nodes.gltf", InstancedGltf(20000, 5000, 1),
         "nodes.gltf: its nodes and meshes make more than the 134217728 polygon corners"},
        {"prims.gltf", InstancedGltf(20000, 1, 5000),
         "prims.gltf: its nodes and meshes make more than the 134217728 polygon corners"},
        {"materials.gltf", materials, "materials.gltf: byte 393250: the JSON holds more than 131072 objects"},
        {"named.stl", stl, "named.stl:1: a surface name of 1048576 bytes is longer than the 4096 allowed"},
        {"named.obj", obj, "named.obj:4: a surface name of 1048576 bytes is longer than the 4096 allowed"},
        {"named.gltf", InstancedGltf(20000, 1, 1, name), "named.gltf: a surface name of 1048576 bytes"},
    };
    for (const auto &c : cases) {
        WriteFile(c.file, c.bytes);
        Result r = RunProgram(With({Path(c.file), "-o", Path("out.obj"), "--size", "0.01"}));
        ExpectRefused(r, 1, c.says, c.file);
        const long boundKb = (long)(64 * c.bytes.size() / 1024) + 64 * 1024;
        EXPECT_LT(r.peakKb, boundKb) << c.file << ": peak memory past 64 times the file and 64 MiB";
        unlink(Path(c.file).c_str());
    }
}

// --max-corners holds every reader to the corners, points and polygons a
// file may make: the cube's 24 corners pass at 24 and are refused at 23.
TEST_F(CliHostile, MaxCornersHoldsEveryFormat)
{
    std::string error;
    const MeshData cube = MakeCube();
    for (const char *ext : {"obj", "ply", "off", "stl", "gltf", "glb"}) {
        const std::string in = Path(std::string("cube.") + ext);
        ASSERT_TRUE(MeshWriteFile(in, MeshFormatFromPath(in), cube, &error)) << error;
        // STL and glTF hold the cube as 12 triangles: 36 corners
        const bool triangles = std::string(ext) != "obj" && std::string(ext) != "ply" &&
                               std::string(ext) != "off";
        const int corners = triangles ? 36 : 24;
        Result over = RunProgram(
            With({in, "-o", Path("out.obj"), "--size", "0.1", "--max-corners", std::to_string(corners - 1)}));
        ExpectRefused(over, 1,
                      "more than the " + std::to_string(corners - 1) + " polygon corners a file may make",
                      ext);
        Result fits = RunProgram(
            With({in, "-o", Path("out.obj"), "--size", "0.1", "--max-corners", std::to_string(corners)}));
        EXPECT_EQ(fits.status, 0) << ext << ": " << fits.err;
        unlink(Path("out.obj").c_str());
    }
}

// A glTF's buffer file is read whole before its size is compared with the
// buffer's length: a file past what the budget could use is refused unread.
TEST_F(CliHostile, GltfBufferFilePastTheBudgetIsNotRead)
{
    WriteFile("big.gltf", R"({"asset":{"version":"2.0"},"buffers":[{"uri":"big.bin","byteLength":48}]})");
    WriteFile("big.bin", "");
    ASSERT_EQ(truncate(Path("big.bin").c_str(), 200 << 20), 0);  // sparse: no disk taken
    Result r =
        RunProgram(With({Path("big.gltf"), "-o", Path("out.obj"), "--size", "0.1", "--max-corners", "1000"}));
    ExpectRefused(r, 1, "big.bin (209715200 bytes) is larger than", "a 200 MB buffer file");
    EXPECT_LT(r.peakKb, 100 * 1024) << "the file was read";
}

// A PLY whose header names an element with a name of 400 KB over 100,000
// items: the reader names an item only in a message, so this reads at once.
TEST_F(CliHostile, PlyElementWithALongNameReadsInLinearTime)
{
    std::string error, bytes;
    ASSERT_TRUE(MeshFileBytes(MakeCube(), MeshFormat::Ply, "cube", &bytes, &error)) << error;
    const std::string element = "element " + std::string(400000, 'e') + " 100000\nproperty uchar v\n";
    bytes.insert(bytes.find("end_header\n"), element);
    bytes += std::string(100000, '\1');
    WriteFile("long.ply", bytes);
    const auto start = std::chrono::steady_clock::now();
    Result r = RunProgram(With({Path("long.ply"), "-o", Path("out.obj"), "--size", "0.1"}));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(seconds, 5.0) << "quadratic in the element's name";
}

// ---- selections ----------------------------------------------------------------

TEST_F(CliHostile, SelectionsThatNameNothingOrSomethingOdd)
{
    struct Case {
        const char *option;
        const char *value;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {"--select", "0,1", 2, "--select needs two different polygon numbers"},
        {"--select", "-1,2", 2, "--select needs two different polygon numbers"},
        {"--select", "1,2,3", 2, "--select needs two different polygon numbers"},
        {"--select", "1", 2, "--select needs two different polygon numbers"},
        {"--select", "a,b", 2, "--select needs two different polygon numbers"},
        {"--select", " 1,2", 2, "--select needs two different polygon numbers"},
        {"--select", "", 2, "--select needs two different polygon numbers"},
        {"--select", "2147483648,1", 2, "--select needs two different polygon numbers"},
        {"--select", "6,7", 2, "has 6 polygon(s)"},
        {"--select", "2147483647,1", 2, "has 6 polygon(s)"},
        {"--edge", "1,1", 2, "--edge needs two different point numbers"},
        {"--edge", "0,3", 2, "--edge needs two different point numbers"},
        {"--edge", "9,1", 2, "has 8 point(s)"},
        {"--edge", "1,8", 2, "no polygon of "},  // opposite corners
        {"--edge", "1,4", 2, "no polygon of "},  // a face diagonal
        // faces that share no edge, or two that hold it the same way round
        {"--select", "1,2", 1, "must share an edge"},
    };
    for (const Case &c : cases) {
        Result r = RunProgram(
            With({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", c.option, c.value}));
        ExpectRefused(r, c.status, c.says, std::string(c.option) + " '" + c.value + "'");
    }
    WriteFile("same.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nf 1 2 3\nf 1 2 4\n");
    Result same =
        RunProgram(With({Path("same.obj"), "-o", Path("out.obj"), "--size", "0.25", "--edge", "1,2"}));
    ExpectRefused(same, 1, "must share an edge", "same direction");
}

TEST_F(CliHostile, BevelSizesThatAreNoNumbers)
{
    // Refused before the module runs, as a usage error, like a negative size.
    for (const char *size : {"nan", "inf", "1e999", "-inf"}) {
        Result r = RunProgram(With({Example("cube.obj"), "-o", Path("out.obj"), "--size", size}));
        ExpectRefused(r, 2, "corvane: the bevel size must be a finite number, not ", size);
    }
    // One that makes the points overflow.
    Result over = RunProgram(With({Example("cylinder.obj"), "-o", Path("out.obj"), "--size", "1.7e308"}));
    ExpectRefused(over, 1, "too large or not finite", "1.7e308");
}

// ---- where the files go -----------------------------------------------------------

TEST_F(CliHostile, OutputFolderThatCannotBeWritten)
{
    WriteFile("file", "x");
    Result inFile = RunProgram(With({Example("cube.obj"), "-o", Path("file/out.obj"), "--size", "0.25"}));
    ExpectRefused(inFile, 2, "does not exist", "a file as the folder");

    // Read-only: a read-only file system (root writes anywhere else), or a
    // folder without write permission for anyone else.
    std::string target;
    if (geteuid() == 0) {
        if (!MountTmpfs("ro", "64k", true))
            GTEST_SKIP() << "cannot mount a read-only file system here";
    } else {
        mkdir(Path("ro").c_str(), 0555);
    }
    Result ro = RunProgram(With({Example("cube.obj"), "-o", Path("ro/out.obj"), "--size", "0.25"}));
    EXPECT_EQ(ro.status, 1) << ro.err;
    EXPECT_NE(ro.err.find("ro/out.obj: cannot create a temporary file in"), std::string::npos) << ro.err;
    EXPECT_TRUE(ListDir(Path("ro")).empty());
}

// An output written over loses its set-user-ID and set-group-ID bits; a name
// as long as a folder entry allows is written (its temporary name is cut);
// and a link another user planted in a sticky folder anyone may write to is
// not followed, as the kernel itself would not follow it.
TEST_F(CliHostile, OutputsThatAreNotWhatTheySeem)
{
    WriteFile("suid.obj", "old\n");
    ASSERT_EQ(chmod(Path("suid.obj").c_str(), 06755), 0);
    Result suid = RunProgram(With({Example("cube.obj"), "-o", Path("suid.obj"), "--size", "0.1"}));
    EXPECT_EQ(suid.status, 0) << suid.err;
    struct stat st;
    ASSERT_EQ(stat(Path("suid.obj").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    const std::string longName = std::string(251, 'l') + ".obj";
    Result longer = RunProgram(With({Example("cube.obj"), "-o", Path(longName), "--size", "0.1"}));
    EXPECT_EQ(longer.status, 0) << longer.err;
    EXPECT_TRUE(Exists(Path(longName)));

    if (geteuid() != 0)
        GTEST_SKIP() << "a link of another user's needs root to make";
    WriteFile("victim.obj", "root's\n");
    mkdir(Path("shared").c_str(), 0777);
    ASSERT_EQ(chmod(Path("shared").c_str(), 01777), 0);
    ASSERT_EQ(symlink(Path("victim.obj").c_str(), Path("shared/planted.obj").c_str()), 0);
    ASSERT_EQ(lchown(Path("shared/planted.obj").c_str(), 65534, 65534), 0);
    Result planted =
        RunProgram(With({Example("cube.obj"), "-o", Path("shared/planted.obj"), "--size", "0.1"}));
    EXPECT_NE(planted.status, 0);
    EXPECT_NE(planted.err.find("belongs to another user; it is not followed"), std::string::npos)
        << planted.err;
    EXPECT_EQ(Slurp(Path("victim.obj")), "root's\n");
    ASSERT_EQ(lchown(Path("shared/planted.obj").c_str(), 0, 0), 0);
    Result ours = RunProgram(With({Example("cube.obj"), "-o", Path("shared/planted.obj"), "--size", "0.1"}));
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_NE(Slurp(Path("victim.obj")), "root's\n") << "a link of our own is written through";
}

TEST_F(CliHostile, FullDiskLeavesTheOldOutputUntouched)
{
    // A 64 KiB file system with an old output in it and the rest filled up
    // but for a little; else a limit on the size of any file written.
    const std::string old = "old output\n";
    std::string out;
    rlim_t fileLimit = 0;
    if (MountTmpfs("full", "64k", false)) {
        out = Path("full/out.obj");
        std::ofstream(out) << old;
        std::ofstream filler(Path("full/filler"), std::ios::binary);
        filler << std::string(48 * 1024, 'x');
    } else {
        out = Path("out.obj");
        std::ofstream(out) << old;
        fileLimit = 16 * 1024;
    }
    // The torus's result is about 40 KiB of text.
    Result r = RunProgram(With({Example("torus.obj"), "-o", out, "--size", "0.1"}), {}, fileLimit);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("out.obj: cannot write: "), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(out), old);
    std::string folder = out.substr(0, out.rfind('/'));
    for (const std::string &name : ListDir(folder))
        EXPECT_NE(name[0], '.') << "a temporary file is left: " << name;
}

TEST_F(CliHostile, SettingsFolderThatCannotBeMade)
{
    WriteFile("file", "x");
    // Not quiet: the note says the options are not kept; the run goes on.
    Result r = RunProgram(
        {Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", "--plugins-dir", Path("file/cfg")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cannot create the settings folder " + Path("file/cfg") +
                         " (Not a directory); options will not be kept"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(Exists(Path("out.obj")));
    unlink(Path("out.obj").c_str());

    // A settings file that is a folder, or garbage: read as the defaults,
    // written over (or not) without a word.
    mkdir(cfg.c_str(), 0755);
    mkdir((cfg + "/Corvane.cfg").c_str(), 0755);
    Result folder = RunProgram(With({Example("cube.obj"), "-o", Path("out.obj")}));
    EXPECT_EQ(folder.status, 0) << folder.err;
    EXPECT_TRUE(Exists(Path("out.obj")));
    unlink(Path("out.obj").c_str());
    rmdir((cfg + "/Corvane.cfg").c_str());
    std::ofstream(cfg + "/Corvane.cfg", std::ios::binary) << std::string(32, '\xff');
    Result garbage = RunProgram(With({Example("cube.obj"), "-o", Path("out.obj")}));
    EXPECT_EQ(garbage.status, 0) << garbage.err;
    EXPECT_EQ(Slurp(cfg + "/Corvane.cfg").substr(0, 4), Bytes({0xd2, 0, 0, 0})) << "saved anew";

    // A settings folder too long for the module's path.
    std::string deep = dir;
    while (deep.size() < 300)
        deep += "/abcdefghijklmnopqrstuvwxyz";
    Result tooLong =
        RunProgram({Example("cube.obj"), "-o", Path("out2.obj"), "--size", "0.25", "--plugins-dir", deep});
    EXPECT_EQ(tooLong.status, 0) << tooLong.err;
    EXPECT_NE(tooLong.err.find("is too long for the module; options will not be kept"), std::string::npos)
        << tooLong.err;
}

// A user without a home folder (no HOME, no passwd entry) once had the
// settings kept in /tmp/.config/corvane, where any other user could plant
// them first. The run now keeps them in a folder of its own, and says so.
TEST_F(CliHostile, NoHomeFolderKeepsNoSettingsInASharedPlace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "running as a user without a passwd entry needs root";
    const uid_t nobody = 54321;
    ASSERT_EQ(getpwuid(nobody), nullptr) << "uid " << nobody << " has a passwd entry here";
    mkdir(Path("tmp").c_str(), 0700);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    ASSERT_EQ(chown(Path("tmp").c_str(), nobody, nobody), 0);
    Result r = RunProgram({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.1"},
                          {"HOME", "XDG_CONFIG_HOME", "TMPDIR=" + Path("tmp")}, 0, nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("no home folder to keep the options in"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(Path("out.obj")));
    EXPECT_TRUE(ListDir(Path("tmp")).empty()) << "the run's own folder goes with it";
}

// Every input the fuzzers kept, read with the default budget in a process
// of its own: the peak memory stays within 64 times the largest file and
// 64 MiB, so that no small file makes a reader hold much.
TEST(ReaderMemory, FuzzCorporaReadWithinMemory)
{
    if (kSanitized)
        GTEST_SKIP() << "the sanitizer's own memory would be measured";
    const struct {
        const char *target;
        MeshFormat format;
    } corpora[] = {{"objread", MeshFormat::Obj},   {"plyread", MeshFormat::Ply},
                   {"offread", MeshFormat::Off},   {"stlread", MeshFormat::Stl},
                   {"gltfread", MeshFormat::Gltf}, {"glbread", MeshFormat::Glb}};
    size_t largest = 0, files = 0;
    for (const auto &c : corpora)
        for (const std::string &name :
             ListDir(std::string(CORVANE_SOURCE_DIR) + "/fuzz/corpus/" + c.target)) {
            largest = std::max(
                largest,
                Slurp(std::string(CORVANE_SOURCE_DIR) + "/fuzz/corpus/" + c.target + "/" + name).size());
            files++;
        }
    ASSERT_GT(files, 100u);
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto &c : corpora) {
            const std::string dir = std::string(CORVANE_SOURCE_DIR) + "/fuzz/corpus/" + c.target;
            for (const std::string &name : ListDir(dir)) {
                MeshData mesh;
                std::string error;
                MeshReadBytes(Slurp(dir + "/" + name), "/nonexistent-corvane/in", c.format, &mesh, nullptr,
                              &error);
            }
        }
        _exit(0);
    }
    int wstatus = 0;
    struct rusage usage = {};
    wait4(pid, &wstatus, 0, &usage);
    EXPECT_EQ(StatusOf(wstatus), 0);
    EXPECT_LT(usage.ru_maxrss, (long)(64 * largest / 1024) + 64 * 1024)
        << "peak kilobytes reading " << files << " files, the largest " << largest << " bytes";
}

}  // namespace
