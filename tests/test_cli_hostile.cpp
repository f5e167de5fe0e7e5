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
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Runs corvane with stdin from /dev/null and stdout and stderr on pipes;
// `fileLimit` > 0 caps the size of any file it writes (see RunProgram).
Result RunCorvane(const std::vector<std::string> &args, rlim_t fileLimit = 0)
{
    return RunProgram(args, {}, fileLimit);
}

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
        Result r = RunCorvane(With({Path(c.name), "-o", Path("out.obj"), "--size", "0.25"}));
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
        Result r = RunCorvane(With({Path("in.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
        ExpectRefused(r, 1, c.says, c.text);
    }
}

// A file past what the host module holds is read, handed to it and refused
// by it, whole, while the program's own module takes it; a file without a
// single polygon is refused either way.
TEST_F(CliHostile, HugeAndEmptyFiles)
{
    std::string error;
    ASSERT_TRUE(MeshWriteObj(Path("huge.obj"), MakeQuadGrid(200, 90), &error)) << error;
    ASSERT_GT(Slurp(Path("huge.obj")).size(), 500000u);
    Result huge = RunCorvane(With({Path("huge.obj"), "-o", Path("out.obj"), "--size", "0.25",
                                   "--plugin", BuildDir() + "/Corvane.p"}));
    ExpectRefused(huge, 1,
                  "corvane: the module says: The background object has more than 65536 polygon corners, more "
                  "than the tool can hold. Nothing was changed.\n",
                  "72000 corners");
    EXPECT_NE(huge.err.find("huge.obj has 72,000 polygon corners, more than the 65,536 the module takes"),
              std::string::npos)
        << huge.err;
    EXPECT_NE(huge.err.find("out.obj not written"), std::string::npos) << huge.err;
    Result taken = RunCorvane(With({Path("huge.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    EXPECT_EQ(taken.status, 0) << taken.err;
    EXPECT_TRUE(Exists(Path("out.obj")));
    std::remove(Path("out.obj").c_str());

    // One line of ten million digits: a number past the largest double.
    WriteFile("long.obj", "v 1 2 " + std::string(10000000, '7') + "\n");
    Result longLine = RunCorvane(With({Path("long.obj"), "-o", Path("out.obj"), "--size", "0.25"}));
    ExpectRefused(longLine, 1, Path("long.obj") + ":1: not a number: '777", "ten million digits");
    EXPECT_LT(longLine.err.size(), 10100000u);

    for (const char *name : {"empty.obj", "comments.obj"}) {
        WriteFile(name, std::string(name) == "empty.obj" ? "" : "# nothing\n\n   \n");
        Result r = RunCorvane(With({Path(name), "-o", Path("out.obj"), "--size", "0.25"}));
        ExpectRefused(r, 1, Path(name) + " has no polygons; there is nothing to chamfer", name);
    }
    Result devnull = RunCorvane(With({"/dev/null", "-o", Path("out.obj"), "--size", "0.25"}));
    ExpectRefused(devnull, 1, "/dev/null has no polygons", "/dev/null");
    Result folder = RunCorvane(With({dir, "-o", Path("out.obj"), "--size", "0.25"}));
    ExpectRefused(folder, 1, "is a folder, not a mesh file", "a folder");
}

// 1- and 2-point faces: the object mode leaves them out (they have no edge to
// chamfer) and says so; the two-polygon mode cannot select one.
TEST_F(CliHostile, OneAndTwoPointFaces)
{
    WriteFile("deg.obj", Slurp(Example("cube.obj")) + "f 1\nf 1 2\nf 3 3\n");
    Result r = RunCorvane({Path("deg.obj"), "-o", Path("out.obj"), "--size", "0.25", "--plugins-dir", cfg});
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
        Result s = RunCorvane(With({Path("deg.obj"), "-o", Path("out.obj"), "--size", "0.25", "--select", sel}));
        ExpectRefused(s, 1, "must share an edge", sel);
    }
    // The edge 1-2 is held by two cube faces and by the two-point face.
    Result e = RunCorvane(With({Path("deg.obj"), "-o", Path("out.obj"), "--size", "0.25", "--edge", "1,2"}));
    ExpectRefused(e, 2, "--edge 1,2: the edge is shared by 3 polygon(s), not 2", "edge 1,2");
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
        {"--edge", "1,8", 2, "no polygon of "},       // opposite corners
        {"--edge", "1,4", 2, "no polygon of "},       // a face diagonal
        // faces that share no edge, or two that hold it the same way round
        {"--select", "1,2", 1, "must share an edge"},
    };
    for (const Case &c : cases) {
        Result r = RunCorvane(
            With({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", c.option, c.value}));
        ExpectRefused(r, c.status, c.says, std::string(c.option) + " '" + c.value + "'");
    }
    WriteFile("same.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nf 1 2 3\nf 1 2 4\n");
    Result same = RunCorvane(With({Path("same.obj"), "-o", Path("out.obj"), "--size", "0.25", "--edge", "1,2"}));
    ExpectRefused(same, 1, "must share an edge", "same direction");
}

TEST_F(CliHostile, BevelSizesThatAreNoNumbers)
{
    // Refused before the module runs, as a usage error, like a negative size.
    for (const char *size : {"nan", "inf", "1e999", "-inf"}) {
        Result r = RunCorvane(With({Example("cube.obj"), "-o", Path("out.obj"), "--size", size}));
        ExpectRefused(r, 2, "corvane: the bevel size must be a finite number, not ", size);
    }
    // One that makes the points overflow.
    Result over = RunCorvane(With({Example("cylinder.obj"), "-o", Path("out.obj"), "--size", "1.7e308"}));
    ExpectRefused(over, 1, "too large or not finite", "1.7e308");
}

// ---- where the files go -----------------------------------------------------------

TEST_F(CliHostile, OutputFolderThatCannotBeWritten)
{
    WriteFile("file", "x");
    Result inFile = RunCorvane(With({Example("cube.obj"), "-o", Path("file/out.obj"), "--size", "0.25"}));
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
    Result ro = RunCorvane(With({Example("cube.obj"), "-o", Path("ro/out.obj"), "--size", "0.25"}));
    EXPECT_EQ(ro.status, 1) << ro.err;
    EXPECT_NE(ro.err.find("ro/out.obj: cannot create a temporary file in"), std::string::npos) << ro.err;
    EXPECT_TRUE(ListDir(Path("ro")).empty());
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
    Result r = RunCorvane(With({Example("torus.obj"), "-o", out, "--size", "0.1"}), fileLimit);
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
    Result r = RunCorvane({Example("cube.obj"), "-o", Path("out.obj"), "--size", "0.25", "--plugins-dir",
                           Path("file/cfg")});
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
    Result folder = RunCorvane(With({Example("cube.obj"), "-o", Path("out.obj")}));
    EXPECT_EQ(folder.status, 0) << folder.err;
    EXPECT_TRUE(Exists(Path("out.obj")));
    unlink(Path("out.obj").c_str());
    rmdir((cfg + "/Corvane.cfg").c_str());
    std::ofstream(cfg + "/Corvane.cfg", std::ios::binary) << std::string(32, '\xff');
    Result garbage = RunCorvane(With({Example("cube.obj"), "-o", Path("out.obj")}));
    EXPECT_EQ(garbage.status, 0) << garbage.err;
    EXPECT_EQ(Slurp(cfg + "/Corvane.cfg").substr(0, 4), Bytes({0xd2, 0, 0, 0})) << "saved anew";

    // A settings folder too long for the module's path.
    std::string deep = dir;
    while (deep.size() < 300)
        deep += "/abcdefghijklmnopqrstuvwxyz";
    Result tooLong = RunCorvane({Example("cube.obj"), "-o", Path("out2.obj"), "--size", "0.25", "--plugins-dir", deep});
    EXPECT_EQ(tooLong.status, 0) << tooLong.err;
    EXPECT_NE(tooLong.err.find("is too long for the module; options will not be kept"), std::string::npos)
        << tooLong.err;
}

}  // namespace
