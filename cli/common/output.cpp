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

bool CliCheckOutput(const CliArgs &args)
{
    MeshFormat format;
    std::string unknown;
    if (!MeshChooseFormat(args.input, args.inputFormat, &format, &unknown) ||
        !MeshChooseFormat(args.output, args.outputFormat, &format, &unknown)) {
        Error(unknown);
        return false;
    }
    std::error_code ec;
    fs::path out(args.output);
    if (fs::is_directory(out, ec)) {
        Error("cannot write " + args.output + ": it is a folder");
        return false;
    }
    fs::path folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!fs::is_directory(folder, ec)) {
        Error("cannot write " + args.output + ": the folder " + folder.string() + " does not exist");
        return false;
    }
    std::string target, why;
    if (!MeshResolveOutputPath(args.output, &target, nullptr, &why)) {
        Error("cannot write " + why);
        return false;
    }
    if (!args.force && fs::exists(out, ec) && fs::equivalent(args.input, out, ec)) {
        Error("refusing to overwrite the input file " + args.input + " (use --force to allow it)");
        return false;
    }
    return true;
}

std::string CliModulePath(const CliArgs &args)
{
    return args.plugin.empty() ? ProgramDir() + "/Corvane.p" : args.plugin;
}
