// The settings file: the 32-byte Settings record, byte for byte, in the
// host's "Plugins" directory.
#include <stdio.h>
#include <string.h>

#include "options/options.h"

static_assert(sizeof(Settings) == 32, "the settings file is the record, 32 bytes");
static_assert(offsetof(Settings, formatTag) == 0, "settings layout");
static_assert(offsetof(Settings, bevelSize) == 8, "settings layout");
static_assert(offsetof(Settings, limitAngle) == 16, "settings layout");
static_assert(offsetof(Settings, angleMode) == 24, "settings layout");

Settings g_settings = {SETTINGS_FORMAT_TAG, 0, 1.0, 90.0, ANGLE_MODE_DISABLE, 0};

enum { SETTINGS_PATH_MAX = 256 };

// The panel's degree and radian factors multiply to a little more than 1, so
// every confirmation may raise the limit angle by an ulp or so until it
// settles: a confirmed 180 is stored as 180.00000000000003 and settles at
// 180.00000000000009; a host whose angle field turns a typed 180 into pi
// gives 180.0000000000002, which settles here. This bound is itself a value
// the round trip keeps, so whatever the panel stores from a limit the reader
// took reads back; 180.5 is still out of range.
const double kSettingsLimitAngleMax = 180.00000000000057;

#if defined(_WIN32)
static const char kFileName[] = "\\Corvane.cfg";
#else
// On POSIX systems a backslash is an ordinary file name character; the file
// must go into the directory, so the separator is the platform's.
static const char kFileName[] = "/Corvane.cfg";
#endif

void SettingsDefaults(Settings *settings)
{
    settings->formatTag = SETTINGS_FORMAT_TAG;
    settings->bevelSize = 1.0;
    settings->limitAngle = 90.0;
    settings->angleMode = ANGLE_MODE_DISABLE;
}

int SettingsFilePath(const char *directory, char *out, int size)
{
    if (!directory)
        directory = "";
    size_t need = strlen(directory) + sizeof(kFileName);  // includes the NUL
    if (size <= 0 || need > (size_t)size)
        return 0;
    memcpy(out, directory, strlen(directory));
    memcpy(out + strlen(directory), kFileName, sizeof(kFileName));
    return 1;
}

static int ReadSettings(const char *path, Settings *settings)
{
    SettingsDefaults(settings);
    FILE *file = fopen(path, "rb");
    if (!file)
        return 0;
    // Fields a short file does not reach keep values that fail validation,
    // so a file of fewer than 28 bytes is rejected.
    Settings buffer;
    memset(&buffer, 0, sizeof buffer);
    buffer.formatTag = 0;
    buffer.limitAngle = -90.0;
    buffer.angleMode = -1;
    size_t got = fread(&buffer, 1, sizeof buffer, file);
    (void)got;
    fclose(file);
    bool valid = buffer.formatTag == SETTINGS_FORMAT_TAG && buffer.angleMode >= 0 && buffer.angleMode <= 3 &&
                 buffer.limitAngle >= 0.0 && buffer.limitAngle <= kSettingsLimitAngleMax;
    if (!valid)
        return 0;
    memcpy(settings, &buffer, sizeof buffer);
    return 1;
}

static int WriteSettings(const char *path, const Settings *settings)
{
    FILE *file = fopen(path, "wb");
    if (!file)
        return 0;
    fwrite(settings, sizeof *settings, 1, file);
    fclose(file);
    return 1;
}

int SettingsFile(HostGlobalFunc *global, int write, Settings *settings)
{
    HostDirectoryFunc *directory = global ? (HostDirectoryFunc *)global(HOST_DIRECTORY_SERVICE, 0) : nullptr;
    if (!directory) {
        if (!write)
            SettingsDefaults(settings);
        return 0;
    }
    // A host that names no plug-ins folder gives the file no place: joined
    // to an empty folder its name would be a file at the root of the file
    // system (or of the current drive), which is no place for it and which
    // a user running as an administrator would find rewritten at every run.
    const char *folder = directory("Plugins");
    if (!folder || !folder[0]) {
        if (!write)
            SettingsDefaults(settings);
        return 0;
    }
    char path[SETTINGS_PATH_MAX];
    if (!SettingsFilePath(folder, path, sizeof path)) {
        // A directory too long for the path is not opened at all: a cut
        // path could name another file.
        if (!write)
            SettingsDefaults(settings);
        return 0;
    }
    return write ? WriteSettings(path, settings) : ReadSettings(path, settings);
}
