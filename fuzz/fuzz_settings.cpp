// Fuzz target: the settings file reader on arbitrary file contents, and the
// settings path on arbitrary folder names. A read takes the file's record
// only when it is valid (tag 210, angle mode 0 to 3, limit angle 0 to 180
// give or take the panel's drift) and otherwise leaves exactly the defaults;
// a valid record written back reads back the same.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#define FUZZ_TARGET_NAME "fuzz_settings"
#include "fuzz/check.h"
#include "fuzz/settings_dir.h"
#include "options/options.h"

namespace {

std::string g_dir;

const char *Directory(const char *type)
{
    return strcmp(type, "Plugins") == 0 ? g_dir.c_str() : nullptr;
}

void *Global(const char *name, int)
{
    return strcmp(name, HOST_DIRECTORY_SERVICE) == 0 ? reinterpret_cast<void *>(&Directory) : nullptr;
}

bool IsDefaults(const Settings &s)
{
    return s.formatTag == SETTINGS_FORMAT_TAG && s.bevelSize == 1.0 && s.limitAngle == 90.0 &&
           s.angleMode == ANGLE_MODE_DISABLE;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_dir = fuzzin::MakeSettingsDir("fuzz_settings");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte chooses: 0 to 127 the file's contents follow; else the
    // rest is a folder name for the path builder, with room for `size` bytes.
    if (size > 0 && data[0] >= 128) {
        std::string folder(reinterpret_cast<const char *>(data + 1), size - 1);
        folder = folder.substr(0, folder.find('\0'));
        int room = (data[0] & 0x7f) * 4;
        char out[600];
        memset(out, 'X', sizeof out);
        int ok = SettingsFilePath(folder.c_str(), out, room);
        std::string expect = folder + "/Corvane.cfg";
        if (ok) {
            CHECK(expect.size() + 1 <= (size_t)room);
            CHECK(memcmp(out, expect.c_str(), expect.size() + 1) == 0);
        } else {
            CHECK(expect.size() + 1 > (size_t)room);
            CHECK(out[0] == 'X');
        }
        return 0;
    }
    std::string path = g_dir + "/Corvane.cfg";
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        Fail("cannot write the settings file");
    if (size > 1)
        fwrite(data + 1, 1, size - 1, file);
    fclose(file);

    Settings s;
    memset(&s, 0x5A, sizeof s);
    int taken = SettingsFile(Global, 0, &s);
    if (!taken) {
        CHECK(IsDefaults(s));
        return 0;
    }
    CHECK(size - 1 >= 28);
    CHECK(s.formatTag == SETTINGS_FORMAT_TAG);
    CHECK(s.angleMode >= 0 && s.angleMode <= 3);
    CHECK(s.limitAngle >= 0.0 && s.limitAngle <= kSettingsLimitAngleMax);
    CHECK(memcmp(&s, data + 1, 28) == 0);
    // Written back and read again: the same 32 bytes.
    CHECK(SettingsFile(Global, 1, &s) == 1);
    Settings again;
    memset(&again, 0, sizeof again);
    CHECK(SettingsFile(Global, 0, &again) == 1);
    CHECK(memcmp(&s, &again, sizeof s) == 0);
    return 0;
}
