// Where the program writes and which module it loads.
#include "cli/common/common.h"

#include <cstdio>
#include <filesystem>
#include <limits.h>
#include <unistd.h>

#include "meshio/meshio.h"

namespace fs = std::filesystem;

namespace {

void Error(const std::string &what)
{
    std::fprintf(stderr, "corvane: %s\n", what.c_str());
}

std::string ProgramDir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    buf[n] = '\0';
    return fs::path(buf).parent_path().string();
}

}  // namespace

bool CliCheckWritable(const std::string &path, const char *what)
{
    std::error_code ec;
    fs::path out(path);
    if (fs::is_directory(out, ec)) {
        Error(std::string("cannot write ") + what + path + ": it is a folder");
        return false;
    }
    fs::path folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!fs::is_directory(folder, ec)) {
        Error(std::string("cannot write ") + what + path + ": the folder " + folder.string() +
              " does not exist");
        return false;
    }
    std::string target, why;
    if (!MeshResolveOutputPath(path, &target, nullptr, &why)) {
        Error(std::string("cannot write ") + what + why);
        return false;
    }
    return true;
}

bool CliCheckOutput(const CliArgs &args)
{
    MeshFormat format;
    std::string unknown;
    if (!MeshChooseFormat(args.input, args.inputFormat, &format, &unknown) ||
        !MeshChooseFormat(args.output, args.outputFormat, &format, &unknown)) {
        Error(unknown);
        return false;
    }
    if (!CliCheckWritable(args.output, ""))
        return false;
    std::error_code ec;
    if (!args.force && fs::exists(args.output, ec) && fs::equivalent(args.input, args.output, ec)) {
        Error("refusing to overwrite the input file " + args.input + " (use --force to allow it)");
        return false;
    }
    return true;
}

std::string CliModulePath(const CliArgs &args)
{
    return args.plugin.empty() ? ProgramDir() + "/CorvaneLarge.p" : args.plugin;
}
