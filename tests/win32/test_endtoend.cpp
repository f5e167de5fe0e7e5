// The module end to end as a Windows host runs it: Corvane.p loaded with
// LoadLibrary and GetProcAddress through the host's loader, its descriptor
// checked, and the activation run on the emulated host in both modes and
// down every failure path, with the options kept in the settings file in
// between. Only the C++ standard library and the host are used, so the same
// tests run on every target; under wine they prove the 32-bit build.
//
// The module is CORVANE_MODULE, else Corvane.p in CORVANE_BUILD_DIR, else
// Corvane.p in the current directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/loader.h"
#include "meshgen/meshgen.h"
#include "options/options.h"
#include "tests/hostlog.h"

namespace fs = std::filesystem;

namespace {

const char kNoPolygons[] = "ERROR:\nPlease select 2 polygons\nor\nset polygons to BG layer.";
const char kSettingsFile[] = "Corvane.cfg";

std::string ModulePath()
{
    const char *env = std::getenv("CORVANE_MODULE");
    const char *buildDir = std::getenv("CORVANE_BUILD_DIR");
    std::string path = "Corvane.p";
    if (env != nullptr && *env != '\0')
        path = env;
    else if (buildDir != nullptr && *buildDir != '\0')
        path = std::string(buildDir) + "/Corvane.p";
#ifdef _WIN32
    // A Unix path handed over by the test run names the same file on wine's
    // root drive once its separators are Windows ones.
    for (char &c : path)
        if (c == '/')
            c = '\\';
#endif
    return path;
}

// A directory of its own for each test, removed afterwards.
fs::path MakeTempDir()
{
    static int serial = 0;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path dir = base / ("corvane-e2e-" + std::to_string(std::rand()) + "-" + std::to_string(++serial));
        std::error_code ec;
        if (fs::create_directory(dir, ec))
            return dir;
        if (ec)
            return base;
    }
}

std::vector<unsigned char> ReadBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `mesh` with exactly polygons a and b selected.
MeshData WithSelectedPair(MeshData mesh, int a, int b)
{
    mesh.polySelected.assign(MeshPolyCount(mesh), 0);
    mesh.polySelected[a] = 1;
    mesh.polySelected[b] = 1;
    return mesh;
}

void WriteSettingsFile(const fs::path &path, double bevel, double limit, int32_t mode, int32_t tag = 210)
{
    Settings s{};
    s.formatTag = tag;
    s.bevelSize = bevel;
    s.limitAngle = limit;
    s.angleMode = mode;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(&s), sizeof s);
}

struct EndToEnd : ::testing::Test {
    LoadedModule module;
    std::unique_ptr<EmuHost> host;
    fs::path dir;

    void SetUp() override
    {
        dir = MakeTempDir();
        std::string error;
        ASSERT_TRUE(LoadModule(ModulePath(), "MeshDataEdit", "QX_Corvane", &module, &error)) << error;
        host = NewHost();
    }
    void TearDown() override
    {
        host.reset();
        UnloadModule(&module);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::unique_ptr<EmuHost> NewHost()
    {
        std::unique_ptr<EmuHost> h = EmuHostCreate();
        h->script.pluginsDir = dir.string();
        h->script.bevelSize = 0.125;
        return h;
    }
    int Run() { return EmuHostRun(host.get(), module.activate, module.serverData); }
    // Unloads and reloads the module, as a host restart would.
    void Restart()
    {
        UnloadModule(&module);
        std::string error;
        ASSERT_TRUE(LoadModule(ModulePath(), "MeshDataEdit", "QX_Corvane", &module, &error)) << error;
    }
    void ExpectEndedOnce(int code) { ::ExpectEndedOnce(host.get(), code); }
    void ExpectOnlyInfo(const char *text) { ::ExpectOnlyInfo(host.get(), text); }
    size_t Polys(int layer) { return MeshPolyCount(EmuHostLayerMesh(host.get(), layer)); }
    // The values the panel showed: bevel size, angle mode, limit (radians).
    void ExpectPanelShowed(double bevel, int mode, double limitDeg)
    {
        ASSERT_EQ(host->log.panels.size(), 1u);
        const EmuPanel &panel = *host->log.panels[0];
        ASSERT_GE(panel.controls.size(), 4u);
        EXPECT_EQ(panel.controls[1]->floatValue, bevel);
        EXPECT_EQ(panel.controls[2]->intValue, mode);
        EXPECT_EQ(panel.controls[3]->floatValue, limitDeg * 0.017453292519943278);
    }
};

TEST_F(EndToEnd, LoadsLikeAHost)
{
    EXPECT_EQ(module.descriptor->sysSync, HOST_MODULE_SYNC);
    EXPECT_EQ(module.descriptor->sysVersion, (uint32_t)HOST_MODULE_VERSION);
    EXPECT_EQ(module.descriptor->sysMachine, (uint32_t)HOST_MODULE_MACHINE);
    EXPECT_EQ(module.serverData, (void *)4);
    ASSERT_NE(module.descriptor->serverDefs, nullptr);
    EXPECT_STREQ(module.descriptor->serverDefs[0].className, "MeshDataEdit");
    EXPECT_STREQ(module.descriptor->serverDefs[0].name, "QX_Corvane");
    EXPECT_EQ(module.descriptor->serverDefs[1].className, nullptr) << "one server, then the end";

    // A server the module does not have, and a file that is not there.
    LoadedModule other;
    std::string error;
    EXPECT_FALSE(LoadModule(ModulePath(), "MeshDataEdit", "QX_Other", &other, &error));
    EXPECT_NE(error.find("QX_Other"), std::string::npos) << error;
    EXPECT_FALSE(LoadModule((dir / "Missing.p").string(), "MeshDataEdit", "QX_Corvane", &other, &error));
}

TEST_F(EndToEnd, WrongVersionBeginsNothing)
{
    EmuHostMakeCurrent(host.get());
    EXPECT_EQ(module.activate(2, EmuGlobal, (void *)EmuEditBegin, module.serverData),
              HOST_ACTIVATE_BADVERSION);
    EXPECT_EQ(host->log.editsBegun, 0);
    EXPECT_EQ(host->log.editBeginCalls, 0);
}

TEST_F(EndToEnd, RefusedEditDoesNothingElse)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.refuseEdit = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    EXPECT_TRUE(host->log.doneCodes.empty());
    EXPECT_TRUE(host->log.panels.empty());
}

TEST_F(EndToEnd, MissingServicesGiveResultTwo)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.noMonitorService = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_BADSERVICE);
    EXPECT_TRUE(host->log.panels.empty());
    EXPECT_EQ(Polys(1), 0u);

    host = NewHost();
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.noMessageService = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_BADSERVICE);
    EXPECT_TRUE(host->log.messages.empty());
    EXPECT_EQ(Polys(1), 0u);
}

TEST_F(EndToEnd, EmptyBackgroundAsksForPolygons)
{
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    EXPECT_EQ(host->log.editsBegun, 1);
    EXPECT_EQ(host->log.doneCodes.size(), 1u);
    ExpectOnlyInfo(kNoPolygons);
    EXPECT_TRUE(host->log.panels.empty());
}

TEST_F(EndToEnd, CancelOrZeroSizeChangesNothing)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.panelCancel = true;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    EXPECT_EQ(host->log.doneCodes.size(), 1u);
    EXPECT_EQ(Polys(1), 0u);
    EXPECT_TRUE(host->log.addedPoints.empty());
    EXPECT_TRUE(host->log.messages.empty());

    host = NewHost();
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.bevelSize = 0.0;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    EXPECT_EQ(host->log.doneCodes.size(), 1u);
    EXPECT_TRUE(host->log.addedPolys.empty());
    EXPECT_TRUE(host->log.monitors.empty()) << "no pass ran";
    // The confirmed options are saved even though nothing is done.
    EXPECT_EQ(ReadBytes(dir / kSettingsFile).size(), 32u);
}

TEST_F(EndToEnd, ScanFailuresEndTheEditWithTheScanCode)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.polyScanError = 7;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(7);
    ExpectOnlyInfo("Error:\nCan't 'polyScan'");

    host = NewHost();
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.pointScanError = 9;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(9);
    ExpectOnlyInfo("Error:\nCan't 'pointScan'");
    EXPECT_EQ(Polys(1), 0u) << "the strips already buffered are not committed";

    // The two-polygon mode's scan fails the same way.
    host = NewHost();
    EmuHostAddMesh(host.get(), 1, WithSelectedPair(MakeQuadGrid(3, 1), 0, 1));
    host->script.polyScanError = 5;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(5);
    ExpectOnlyInfo("Error:\nCan't 'polyScan'");
    EXPECT_TRUE(host->log.removedPolys.empty());
}

TEST_F(EndToEnd, ObjectModeChamfersEveryEdgeOfACube)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_KEEP);
    EXPECT_TRUE(host->log.messages.empty());
    EXPECT_EQ(Polys(2), 6u) << "the background object is left as it was";

    // 6 faces cut back, 12 strips, 8 corner triangles on 24 points: every
    // point lies on a face of the cube, 0.125 in from both other faces.
    const MeshData out = EmuHostLayerMesh(host.get(), 1);
    EXPECT_EQ(MeshPolyCount(out), 26u);
    ASSERT_EQ(out.points.size(), 24u);
    for (size_t i = 0; i < out.points.size(); ++i) {
        int onFace = 0, inset = 0;
        for (double c : out.points[i]) {
            onFace += c == 0.0 || c == 1.0;
            inset += c == 0.125 || c == 0.875;
        }
        EXPECT_EQ(onFace, 1) << "point " << i;
        EXPECT_EQ(inset, 2) << "point " << i;
    }
    for (size_t i = 0; i < MeshPolyCount(out); ++i)
        EXPECT_EQ(MeshPolySurface(out, i), "Default") << "polygon " << i;

    // The passes reported their progress in order, each closed.
    const char *titles[] = {"Corvane mode:Object Phase-00", "Corvane mode:Obj",    "Corvane mode:Obj",
                            "Corvane mode:Object",          "Corvane mode:Object", "Corvane"};
    ASSERT_EQ(host->log.monitors.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(host->log.monitors[k].title, titles[k]) << "monitor " << k;
        EXPECT_TRUE(host->log.monitors[k].destroyed) << "monitor " << k;
    }
}

TEST_F(EndToEnd, AngleModesChooseTheEdges)
{
    // The cube's edges are right angles (just under 90): "LT" 100 chamfers
    // all of them, exactly as the plain pass does; "GT" 100 none of them.
    auto run = [&](int mode, double limitDeg) {
        host = NewHost();
        host->script.angleMode = mode;
        host->script.limitAngleRad = limitDeg * 0.017453292519943278;
        EmuHostAddMesh(host.get(), 2, MakeCube());
        EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
        return EmuHostLayerMesh(host.get(), 1);
    };
    const MeshData plain = run(0, 90.0);
    const MeshData below = run(1, 100.0);
    ASSERT_EQ(below.points.size(), plain.points.size());
    ASSERT_EQ(MeshPolyCount(below), MeshPolyCount(plain));
    for (size_t i = 0; i < plain.points.size(); ++i)
        EXPECT_EQ(below.points[i], plain.points[i]) << "point " << i;
    for (size_t i = 0; i < MeshPolyCount(plain); ++i)
        EXPECT_EQ(MeshPolyPoints(below, i), MeshPolyPoints(plain, i)) << "polygon " << i;

    const MeshData above = run(2, 100.0);
    EXPECT_LT(MeshPolyCount(above), MeshPolyCount(plain)) << "no strips";
    for (size_t i = 0; i < above.points.size(); ++i)
        for (double c : above.points[i])
            EXPECT_TRUE(c == 0.0 || c == 1.0) << "point " << i << " was moved";
}

TEST_F(EndToEnd, TwoSelectedPolygonsReshapeTheForeground)
{
    // Two faces of a cube that share an edge: the edge is chamfered, the
    // loop ends at both corners (three polygons meet there).
    const MeshData cube = MakeCube();
    std::vector<LWPolID> ids = EmuHostAddMesh(host.get(), 1, WithSelectedPair(cube, 0, 2));
    EmuHostAddMesh(host.get(), 2, MakeCube(5.0, 6.0));  // ignored in this mode
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);
    ExpectEndedOnce(HOST_EDIT_KEEP);
    EXPECT_TRUE(host->log.messages.empty());
    ASSERT_EQ(host->log.panels.size(), 1u);
    EXPECT_EQ(host->log.panels[0]->controls.at(0)->list.at(0), "Line");

    // Both selected polygons were replaced.
    auto removed = [&](LWPolID id) {
        for (LWPolID r : host->log.removedPolys)
            if (r == id)
                return true;
        return false;
    };
    EXPECT_TRUE(removed(ids[0]));
    EXPECT_TRUE(removed(ids[2]));
    EXPECT_FALSE(host->log.addedPolys.empty());
    // Every new point stays on the cube's surface, within the bevel of the
    // shared edge (y = 0, z = 0).
    for (LWPntID id : host->log.addedPoints) {
        const double *p = EmuHostPoint(host.get(), id)->info.position;
        EXPECT_TRUE(p[1] == 0.0 || p[2] == 0.0) << "point " << (uintptr_t)id;
        EXPECT_LE(p[1] + p[2], 0.125 + 1e-12) << "point " << (uintptr_t)id;
    }
    EXPECT_EQ(Polys(2), 6u);
}

TEST_F(EndToEnd, SettingsPersistAcrossActivationsAndRestarts)
{
    EmuHostAddMesh(host.get(), 2, MakeCube());
    host->script.bevelSize = 0.25;
    host->script.angleMode = 2;
    host->script.limitAngleRad = 45.0 * 0.017453292519943278;
    EXPECT_EQ(Run(), HOST_ACTIVATE_OK);

    // The file is the record byte for byte: 32 little-endian bytes.
    const std::vector<unsigned char> bytes = ReadBytes(dir / kSettingsFile);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes[0], 0xD2);
    EXPECT_EQ(bytes[1], 0);
    double bevel = 0.0, limit = 0.0;
    int32_t mode = -1;
    std::memcpy(&bevel, &bytes[8], 8);
    std::memcpy(&limit, &bytes[16], 8);
    std::memcpy(&mode, &bytes[24], 4);
    EXPECT_EQ(bevel, 0.25);
    EXPECT_EQ(limit, 45.0 * 0.017453292519943278 * 57.29577951308239);
    EXPECT_EQ(mode, 2);

    // A restarted host shows the saved options.
    Restart();
    host = NewHost();
    host->script.bevelSize.reset();
    host->script.panelCancel = true;
    EmuHostAddMesh(host.get(), 2, MakeCube());
    Run();
    ExpectPanelShowed(0.25, 2, limit);

    // A file written elsewhere is taken when valid...
    WriteSettingsFile(dir / kSettingsFile, 2.5, 45.0, 3);
    host = NewHost();
    host->script.bevelSize.reset();
    host->script.panelCancel = true;
    EmuHostAddMesh(host.get(), 2, MakeCube());
    Run();
    ExpectPanelShowed(2.5, 3, 45.0);

    // ...and rejected as a whole when a field is out of range.
    WriteSettingsFile(dir / kSettingsFile, 2.5, 180.5, 1);
    host = NewHost();
    host->script.bevelSize.reset();
    host->script.panelCancel = true;
    EmuHostAddMesh(host.get(), 2, MakeCube());
    Run();
    ExpectPanelShowed(1.0, 0, 90.0);
}

TEST_F(EndToEnd, NoDirectoryServiceMeansDefaultsAndNoFile)
{
    host->script.noDirectoryService = true;
    host->script.bevelSize.reset();
    host->script.panelCancel = true;
    EmuHostAddMesh(host.get(), 2, MakeCube());
    Run();
    ExpectPanelShowed(1.0, 0, 90.0);
    EXPECT_FALSE(fs::exists(dir / kSettingsFile));
}

}  // namespace
