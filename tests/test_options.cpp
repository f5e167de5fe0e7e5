// Options: the settings file's layout and validation, and the panel as the
// host sees it (controls, labels, value conversions, confirm and cancel).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmath>
#include <iomanip>
#include <limits>
#include <string>
#include <vector>

#include "host/host.h"
#include "options/options.h"
#include "tests/files.h"

namespace {

struct OptionsFixture : ::testing::Test {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::string dir = MakeTempDir("options");
    std::string file = dir + "/Corvane.cfg";

    void SetUp() override
    {
        host->script.pluginsDir = dir;
        EmuHostMakeCurrent(host.get());
        g_settings = Settings{SETTINGS_FORMAT_TAG, 0, 1.0, 90.0, 0, 0};
    }
    void TearDown() override
    {
        unlink(file.c_str());
        rmdir(dir.c_str());
    }

    void WriteBytes(const void *bytes, size_t size)
    {
        FILE *f = fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes, 1, size, f);
        fclose(f);
    }
    void WriteRecord(int32_t tag, double bevel, double limit, int32_t mode, size_t size = 32)
    {
        Settings s{tag, 0, bevel, limit, mode, 0};
        WriteBytes(&s, size);
    }
    std::vector<unsigned char> ReadBytes()
    {
        std::vector<unsigned char> bytes;
        FILE *f = fopen(file.c_str(), "rb");
        if (!f)
            return bytes;
        int c;
        while ((c = fgetc(f)) != EOF)
            bytes.push_back((unsigned char)c);
        fclose(f);
        return bytes;
    }
    Settings Load(int *result)
    {
        Settings s{0, 0, -1.0, -1.0, -1, 0};
        *result = SettingsFile(EmuGlobal, 0, &s);
        return s;
    }
    double RunPanel(int mode = 0)
    {
        HostMeshEditOp *edit = EmuEditBegin(0, 0, 1);
        double size = OptionsPanel(edit, EmuGlobal, mode);
        edit->done(edit->state, HOST_EDIT_DISCARD, 0);
        return size;
    }
    const EmuPanel &Panel() { return *host->log.panels.back(); }
};

using SettingsFileTest = OptionsFixture;

TEST_F(SettingsFileTest, ValidFileLoadsItsValues)
{
    WriteRecord(210, 2.5, 45.0, 2);
    int result = 0;
    Settings s = Load(&result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(s.bevelSize, 2.5);
    EXPECT_EQ(s.limitAngle, 45.0);
    EXPECT_EQ(s.angleMode, 2);
}

TEST_F(SettingsFileTest, ValidationRejectsTheWholeRecord)
{
    struct Case {
        int32_t tag;
        double limit;
        int32_t mode;
        int accepted;
    } cases[] = {
        {210, 180.0, 0, 1},
        {210, 0.0, 3, 1},
        {210, 180.5, 0, 0},
        {210, -0.5, 0, 0},
        {211, 45.0, 0, 0},
        {210, 45.0, 4, 0},
        {210, 45.0, -1, 0},
        {210, std::numeric_limits<double>::quiet_NaN(), 0, 0},
        // 180 with the drift of the panel's round trip, and the next double.
        {210, 180.00000000000057, 0, 1},
        {210, 180.0000000000006, 0, 0},
    };
    for (const Case &c : cases) {
        WriteRecord(c.tag, 7.0, c.limit, c.mode);
        int result = -1;
        Settings s = Load(&result);
        EXPECT_EQ(result, c.accepted) << "tag " << c.tag << " limit " << c.limit << " mode " << c.mode;
        // A rejected file leaves every default, the bevel size included.
        EXPECT_EQ(s.bevelSize, c.accepted ? 7.0 : 1.0) << "limit " << c.limit;
        EXPECT_EQ(s.formatTag, 210);
    }
}

TEST_F(SettingsFileTest, ShortFilesAreAcceptedFrom28Bytes)
{
    for (size_t size : {31u, 28u}) {
        WriteRecord(210, 3.0, 60.0, 1, size);
        int result = 0;
        Settings s = Load(&result);
        EXPECT_EQ(result, 1) << size << " bytes";
        EXPECT_EQ(s.limitAngle, 60.0);
        EXPECT_EQ(s.angleMode, 1);
    }
    // 27 bytes cannot supply the whole angle mode.
    WriteRecord(210, 3.0, 60.0, 1, 27);
    int result = 1;
    Settings s = Load(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(s.bevelSize, 1.0);
}

TEST_F(SettingsFileTest, ZeroBevelSizeIsNotValidated)
{
    WriteRecord(210, 0.0, 90.0, 0);
    int result = 0;
    EXPECT_EQ(Load(&result).bevelSize, 0.0);
    EXPECT_EQ(result, 1);
}

TEST_F(SettingsFileTest, MissingFileOrServiceGivesDefaults)
{
    int result = 1;
    Settings s = Load(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(s.bevelSize, 1.0);
    EXPECT_EQ(s.limitAngle, 90.0);
    EXPECT_EQ(s.angleMode, 0);

    host->script.noDirectoryService = true;
    Settings w{210, 0, 5.0, 10.0, 1, 0};
    EXPECT_EQ(SettingsFile(EmuGlobal, 1, &w), 0);
    EXPECT_TRUE(ReadBytes().empty()) << "nothing may be written without the directory service";
    s = Load(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(s.limitAngle, 90.0);
}

TEST_F(SettingsFileTest, NoFolderMeansNoFileAnywhere)
{
    // A directory service that names no folder, or an empty one: the
    // options are not kept, and nothing is read or written at the root.
    struct stat before {
    }, after{};
    const bool existed = stat("/Corvane.cfg", &before) == 0;
    for (const char *folder : {static_cast<const char *>(""), static_cast<const char *>(nullptr)}) {
        if (folder)
            host->script.pluginsDir = std::string(folder);
        else
            host->script.pluginsDir.reset();
        Settings w{210, 0, 5.0, 10.0, 1, 0};
        EXPECT_EQ(SettingsFile(EmuGlobal, 1, &w), 0);
        int result = 1;
        EXPECT_EQ(Load(&result).bevelSize, 1.0);
        EXPECT_EQ(result, 0);
    }
    ASSERT_EQ(stat("/Corvane.cfg", &after) == 0, existed) << "a settings file appeared at the root";
    if (existed) {
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

TEST_F(SettingsFileTest, WriteIsTheRecordByteForByte)
{
    Settings w{210, 0, 2.5, 45.0, 2, 0};
    EXPECT_EQ(SettingsFile(EmuGlobal, 1, &w), 1);
    std::vector<unsigned char> bytes = ReadBytes();
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes[0], 0xD2);
    EXPECT_EQ(bytes[1], 0x00);
    double bevel;
    memcpy(&bevel, &bytes[8], 8);
    EXPECT_EQ(bevel, 2.5);
    int32_t mode;
    memcpy(&mode, &bytes[24], 4);
    EXPECT_EQ(mode, 2);
}

TEST_F(SettingsFileTest, PathJoinsTheDirectoryWithTheSeparator)
{
    char path[256];
    ASSERT_EQ(SettingsFilePath("/a/b", path, sizeof path), 1);
    EXPECT_STREQ(path, "/a/b/Corvane.cfg");
    ASSERT_EQ(SettingsFilePath(nullptr, path, sizeof path), 1);
    EXPECT_STREQ(path, "/Corvane.cfg");
    // 243 characters + "/Corvane.cfg" (12) + NUL = 256 fits; one more does not.
    std::string dir(243, 'd');
    EXPECT_EQ(SettingsFilePath(dir.c_str(), path, sizeof path), 1);
    dir += 'd';
    EXPECT_EQ(SettingsFilePath(dir.c_str(), path, sizeof path), 0);
}

TEST_F(SettingsFileTest, TooLongDirectoryIsNeverOpened)
{
    host->script.pluginsDir = dir + "/" + std::string(300, 'x');
    Settings w{210, 0, 5.0, 10.0, 1, 0};
    EXPECT_EQ(SettingsFile(EmuGlobal, 1, &w), 0);
    int result = 1;
    EXPECT_EQ(Load(&result).bevelSize, 1.0);
    EXPECT_EQ(result, 0);
}

using PanelTest = OptionsFixture;

TEST_F(PanelTest, ControlsLabelsAndDescriptorWords)
{
    host->script.bevelSize = 0.25;
    EXPECT_EQ(RunPanel(1), 0.25);
    const EmuPanel &panel = Panel();
    EXPECT_EQ(panel.title, "Corvane...      Ver. 2.14");
    ASSERT_EQ(panel.controls.size(), 4u);
    const char *types[] = {"TextControl", "FloatControl", "ChoiceControl", "AngleControl"};
    const char *labels[] = {"mode:", "Bevel size  ", "Angle Mode  ", "Limit angle "};
    int descTypes[] = {12, 4, 9, 15};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(panel.controls[k]->typeName, types[k]);
        EXPECT_EQ(panel.controls[k]->label, labels[k]);
        EXPECT_EQ(panel.controls[k]->desc.type, descTypes[k]);
    }
    EXPECT_EQ(panel.controls[0]->list, std::vector<std::string>{"Line"});
    EXPECT_EQ(panel.controls[2]->list, (std::vector<std::string>{" Disable ", " LT ", " GT "}));
    EXPECT_EQ(panel.controls[2]->desc.word2, 0);
    EXPECT_EQ(panel.controls[3]->desc.word2, 0);
    EXPECT_EQ(panel.controls[3]->desc.word3, 360);
    EXPECT_EQ(panel.width, 230);
    // The hook gives the bevel size control the focus.
    EXPECT_EQ(panel.controls[1]->activated, 1);
    EXPECT_TRUE(panel.destroyed);

    RunPanel(0);
    EXPECT_EQ(Panel().controls[0]->list, std::vector<std::string>{"Object"});
}

TEST_F(PanelTest, AngleGoesOutInRadiansAndComesBackInDegrees)
{
    RunPanel();
    EXPECT_EQ(Panel().controls[3]->floatValue, 1.570796326794895);
    EXPECT_EQ(g_settings.limitAngle, 90.00000000000001);
    int result = 0;
    EXPECT_EQ(Load(&result).limitAngle, 90.00000000000001);
    EXPECT_EQ(result, 1);
}

// The degree/radian round trip drifts upwards; at 180 the drift used to take
// the stored limit out of the reader's range, and the file with every other
// setting was lost. Confirmed again and again, from the file's 180 and from a
// control that holds pi (a host converting a typed 180 with the exact
// factor), the limit must keep reading back.
TEST_F(PanelTest, LimitOf180SurvivesEveryConfirmation)
{
    for (bool typedPi : {false, true}) {
        WriteRecord(210, 0.3, 180.0, 2);
        if (typedPi)
            host->script.limitAngleRad = 3.141592653589793;
        for (int k = 0; k < 20; ++k) {
            EXPECT_EQ(RunPanel(), 0.3) << "confirmation " << k << (typedPi ? " from pi" : "");
            host->script.limitAngleRad = std::nullopt;
            int result = 0;
            Settings s = Load(&result);
            ASSERT_EQ(result, 1) << "confirmation " << k << (typedPi ? " from pi" : "") << " stored "
                                 << std::setprecision(17) << g_settings.limitAngle;
            EXPECT_EQ(s.bevelSize, 0.3);
            EXPECT_EQ(s.angleMode, 2);
            EXPECT_GE(s.limitAngle, 180.0);
        }
        EXPECT_EQ(g_settings.limitAngle, typedPi ? 180.00000000000057 : 180.00000000000009)
            << "where the drift settles";
    }
}

TEST_F(PanelTest, ConfirmedValuesAreSavedAndReturned)
{
    host->script.bevelSize = -0.5;
    host->script.angleMode = 1;
    EXPECT_EQ(RunPanel(), -0.5);
    int result = 0;
    Settings s = Load(&result);
    EXPECT_EQ(s.bevelSize, -0.5);
    EXPECT_EQ(s.angleMode, 1);

    host->script.bevelSize = 0.0;
    host->script.angleMode = 2;
    EXPECT_EQ(RunPanel(), 0.0);
    s = Load(&result);
    EXPECT_EQ(s.bevelSize, 0.0) << "a confirmed size of 0 is still saved";
    EXPECT_EQ(s.angleMode, 2);
}

TEST_F(PanelTest, SettingsReachTheNextShowingThroughTheFile)
{
    host->script.bevelSize = 0.75;
    RunPanel();
    g_settings.bevelSize = 99.0;  // the file, not memory, carries it over
    host->script.bevelSize = std::nullopt;
    EXPECT_EQ(RunPanel(), 0.75);
    EXPECT_EQ(Panel().controls[1]->floatValue, 0.75);
}

TEST_F(PanelTest, CancelReturnsZeroAndSavesNothing)
{
    WriteRecord(210, 2.0, 30.0, 1);
    host->script.bevelSize = 5.0;
    host->script.panelCancel = true;
    EXPECT_EQ(RunPanel(), 0.0);
    int result = 0;
    EXPECT_EQ(Load(&result).bevelSize, 2.0);
    EXPECT_EQ(g_settings.bevelSize, 2.0) << "the settings hold what was loaded";
    EXPECT_TRUE(Panel().destroyed);
}

TEST_F(PanelTest, UnavailablePanelReturnsZeroWithoutTouchingTheFile)
{
    host->script.noPanelService = true;
    EXPECT_EQ(RunPanel(), 0.0);
    host->script.noPanelService = false;
    host->script.panelCreateFails = true;
    EXPECT_EQ(RunPanel(), 0.0);
    EXPECT_TRUE(ReadBytes().empty());
    EXPECT_EQ(OptionsPanel(nullptr, EmuGlobal, 0), 0.0);
}

}  // namespace
