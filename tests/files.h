// Files and folders as the tests of the program and of mesh files look at
// them: whole contents, existence, the names in a folder, and where the
// built program and the bundled examples are.
#ifndef CORVANE_TESTS_FILES_H
#define CORVANE_TESTS_FILES_H

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The whole file, or "" when it cannot be read.
inline std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The names in a folder, sorted, without "." and "..".
inline std::vector<std::string> ListDir(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder /tmp/corvane-<name>-XXXXXX. Without one a test has nowhere
// to write, and a fallback such as /tmp would let RemoveTree reach files
// that are not the test's: the program stops instead.
inline std::string MakeTempDir(const char *name = "test")
{
    std::string pattern = std::string("/tmp/corvane-") + name + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char *dir = mkdtemp(buffer.data());
    if (dir == nullptr) {
        std::perror(pattern.c_str());
        std::abort();
    }
    return dir;
}

// Removes a folder a test made and everything in it. false when something
// stayed.
inline bool RemoveTree(const std::string &dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return !ec;
}

// Removes a plug-ins folder a test gave the host: the settings file the
// module may have written there, then the folder.
inline void RemoveSettingsDir(const std::string &dir)
{
    unlink((dir + "/Corvane.cfg").c_str());
    rmdir(dir.c_str());
}

// The build tree (ctest sets CORVANE_BUILD_DIR), the corvane program in it
// and a bundled example.
inline std::string BuildDir()
{
    const char *dir = std::getenv("CORVANE_BUILD_DIR");
    return dir ? dir : ".";
}

inline std::string Program()
{
    return BuildDir() + "/corvane";
}

#ifdef CORVANE_SOURCE_DIR
inline std::string Example(const char *name)
{
    return std::string(CORVANE_SOURCE_DIR) + "/examples/" + name;
}
#endif

// Whether this build runs under AddressSanitizer, which reserves address
// space and holds freed memory of its own: a limit on either, or a measure
// of the resident set, would be the sanitizer's, not the program's.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

#endif
