// The settings folder a fuzz target gives the module: one of its own under
// $TMPDIR (or /tmp), removed with the settings file in it when the target
// exits normally. A crash leaves it for looking into.
#ifndef CORVANE_FUZZ_SETTINGS_DIR_H
#define CORVANE_FUZZ_SETTINGS_DIR_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace fuzzin {

inline std::string &SettingsDirName()
{
    static std::string dir;
    return dir;
}

inline void RemoveSettingsDir()
{
    const std::string &dir = SettingsDirName();
    if (dir.empty())
        return;
    unlink((dir + "/Corvane.cfg").c_str());
    rmdir(dir.c_str());
}

// Makes the folder, or ends the process with a message naming `target`.
inline const std::string &MakeSettingsDir(const char *target)
{
    const char *tmp = getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-fuzz-XXXXXX";
    if (!mkdtemp(&name[0])) {
        fprintf(stderr, "%s: cannot make a settings folder in %s\n", target, tmp && *tmp ? tmp : "/tmp");
        abort();
    }
    SettingsDirName() = name;
    atexit(RemoveSettingsDir);
    return SettingsDirName();
}

}  // namespace fuzzin

#endif
