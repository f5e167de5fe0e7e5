// Files and folders as the tests of the program and of mesh files look at
// them: whole contents, existence, the names in a folder, and where the
// built program and the bundled examples are.
#ifndef CORVANE_TESTS_FILES_H
#define CORVANE_TESTS_FILES_H

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

#endif
