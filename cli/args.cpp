// The command line.
#include "cli/cli.h"
#include "cli/preview/preview.h"
#include "run/run.h"

#include <charconv>
#include <cstdio>

#include <CLI/CLI.hpp>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

namespace {

const char kDescription[] = "Chamfers the edges of a polygon mesh with the Corvane module, loaded and run\n"
                            "the way a host runs it.\n"
                            "\n"
                            "Object mode (default): the input goes into the background layer and every\n"
                            "shared edge is chamfered (or, with an angle mode, the edges whose angle passes\n"
                            "the test against the limit angle); OUTPUT is the rebuilt object.\n"
                            "Two-polygon mode (--select or --edge): the input goes into the foreground\n"
                            "layer with two polygons selected, and the edge they share is chamfered along\n"
                            "its edge loop; OUTPUT is the edited mesh.\n"
                            "\n"
                            "The options go through the module's options panel. Values given here replace\n"
                            "what the panel loads from the settings file; without --size, on a terminal,\n"
                            "the panel is shown there. Confirmed options are saved for the next run.\n"
                            "\n"
                            "corvane view INPUT serves a page on 127.0.0.1 that shows the chamfer live and\n"
                            "saves it (corvane view --help).\n"
                            "Whole libraries of files, on one machine or a Dask cluster: python3 -m corvane\n"
                            "batch INPUT... -o OUTDIR --size S (python3 -m corvane batch --help).";

const char kFooter[] =
    "Examples:\n"
    "  corvane examples/cube.obj -o out/cube.obj --size 0.1 --angle-mode disable --stats\n"
    "  corvane examples/cylinder.obj -o out/cylinder.obj --size 0.1 --angle-mode lt --limit-angle 120\n"
    "  corvane examples/torus.obj -o out/torus.obj --size 0.1 --edge 1,2\n"
    "  corvane examples/cube.obj -o out/cube-edge.obj --size 0.2 --select 1,3\n"
    "  corvane examples/lgrid.obj -o out/lgrid.obj --size 0.1 --angle-mode disable\n"
    "  corvane view examples/torus.obj -o out/torus.obj   (in a browser)\n"
    "  corvane scan.ply -o out/scan.glb --size 0.05   (any format in, any out)\n"
    "\n"
    "Exit status: 0 done; 1 bad input, or a failure the module reported;\n"
    "2 usage error, or the module cannot be loaded; 130 aborted (Ctrl-C, or the\n"
    "panel cancelled).";

// "I,J": two positive numbers.
bool ParsePair(const std::string &text, int out[2])
{
    size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    const std::string parts[2] = {text.substr(0, comma), text.substr(comma + 1)};
    for (int k = 0; k < 2; k++) {
        const std::string &s = parts[k];
        int value = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), value);
        if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size() || value < 1)
            return false;
        out[k] = value;
    }
    return true;
}

// What the command line gave as text or as a value not yet checked, and
// which of those options were given at all.
struct RawOptions {
    std::string select, edge, angleMode, view, previewSize;
    double size = 0.0, limitAngle = 0.0;
    CLI::Option *sizeOpt, *modeOpt, *limitOpt, *selectOpt, *edgeOpt, *viewOpt, *previewSizeOpt;
};

// Declares every option: those CLI11 checks itself go straight into args,
// the others into raw for CheckOptions.
void AddOptions(CLI::App &app, CliArgs *args, RawOptions *raw)
{
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("corvane ") + CORVANE_VERSION);
    app.get_formatter()->column_width(30);

    app.add_option("INPUT", args->input, "Mesh to read (OBJ, PLY, OFF, STL, glTF or GLB, by its extension)")
        ->required()
        ->type_name("");
    app.add_option("-o,--output", args->output,
                   "Mesh to write (format by its extension); the input only with --force")
        ->required()
        ->type_name("OUTPUT");
    const auto formats = CLI::IsMember({"obj", "ply", "off", "stl", "gltf", "glb"}, CLI::ignore_case);
    app.add_option("--input-format", args->inputFormat, "Read INPUT as this format, whatever its extension")
        ->transform(formats)
        ->type_name("FMT");
    app.add_option("--output-format", args->outputFormat,
                   "Write OUTPUT as this format, whatever its extension")
        ->transform(formats)
        ->type_name("FMT");
    app.add_option("--max-corners", args->maxCorners,
                   "Refuse an input that makes more polygon corners, points or polygons than this "
                   "(default 134217728)")
        ->check(CLI::Range(1LL, 1LL << 40))
        ->type_name("N");
    raw->sizeOpt = app.add_option("--size", raw->size, "Bevel size, in model units")->type_name("S");
    raw->modeOpt = app.add_option("--angle-mode", raw->angleMode,
                                  "Which edges: disable (all shared edges), lt or gt (angle test against the "
                                  "limit), in any case")
                       ->type_name("MODE");
    raw->limitOpt = app.add_option("--limit-angle", raw->limitAngle,
                                   "Limit angle in degrees between two polygons, 0 to 180 (180: flat, "
                                   "90: a cube's edge)")
                        ->type_name("DEG");
    raw->selectOpt =
        app.add_option("--select", raw->select, "Two-polygon mode: the polygons I,J (1-based, in file order)")
            ->type_name("I,J");
    raw->edgeOpt = app.add_option("--edge", raw->edge,
                                  "Two-polygon mode: the two polygons that share the edge between points A,B "
                                  "(1-based, as in the file)")
                       ->type_name("A,B");
    raw->selectOpt->excludes(raw->edgeOpt);
    CliAddModuleOptions(&app, &args->plugin, &args->pluginsDir);
    app.add_flag("--clamp", args->clamp,
                 "Run with the smaller of the bevel size and the safe size, where no strip crosses another");
    app.add_flag("--no-weld", args->noWeld,
                 "Keep every point the input gives, also where STL, glTF or a PLY with texture "
                 "coordinates, normals or colours split one point into several at one position");
    app.add_flag("--stats", args->stats, "Print counts of the input and the output, and the time taken");
    app.add_flag("-q,--quiet", args->quiet, "No progress, notes or warnings; errors only");
    app.add_flag("--progress", args->progress,
                 "Show the module's phases on stderr also when it is not a terminal (a pipe, a log)");
    app.add_flag("-f,--force", args->force, "Allow OUTPUT to be the input file");
    app.add_flag("--keep-partial", args->keepPartial,
                 "Write OUTPUT even when a phase was aborted or the module reported an error");

    CLI::Option *previewOpt =
        app.add_option("--preview", args->preview,
                       "Also write a PNG picture: the input and the output side by side, new and "
                       "re-shaped polygons tinted, back faces in magenta")
            ->type_name("FILE.png");
    raw->viewOpt = app.add_option("--view", raw->view,
                                  "Camera of the picture: azimuth and elevation in degrees "
                                  "(default 35,25; --view=-30,20 for a negative azimuth); Y is up, "
                                  "0,90 looks straight down")
                       ->type_name("AZ,EL");
    raw->previewSizeOpt =
        app.add_option("--preview-size", raw->previewSize, "Size of the picture in pixels (default 1200,600)")
            ->type_name("W,H");
    raw->viewOpt->needs(previewOpt);
    raw->previewSizeOpt->needs(previewOpt);
}

// Takes the values CLI11 cannot check into args; kExitUsage, with the
// reason on stderr, for the first one refused.
int CheckOptions(const RawOptions &raw, CliArgs *args)
{
    if (*raw.sizeOpt)
        args->size = raw.size;
    if (*raw.limitOpt)
        args->limitAngle = raw.limitAngle;
    const std::string refused = RunCheckOptions(args->size, args->limitAngle);
    if (!refused.empty()) {
        std::fprintf(stderr, "corvane: %s\n", refused.c_str());
        return kExitUsage;
    }
    if (*raw.modeOpt) {
        args->angleMode = RunAngleModeNumber(raw.angleMode);
        if (*args->angleMode < 0) {
            std::fprintf(stderr, "corvane: --angle-mode must be disable, lt or gt, not '%s'\n",
                         raw.angleMode.c_str());
            return kExitUsage;
        }
    }
    if (*raw.selectOpt && (!ParsePair(raw.select, args->select) || args->select[0] == args->select[1])) {
        std::fprintf(stderr, "corvane: --select needs two different polygon numbers I,J (from 1), not '%s'\n",
                     raw.select.c_str());
        return kExitUsage;
    }
    if (*raw.edgeOpt && (!ParsePair(raw.edge, args->edge) || args->edge[0] == args->edge[1])) {
        std::fprintf(stderr, "corvane: --edge needs two different point numbers A,B (from 1), not '%s'\n",
                     raw.edge.c_str());
        return kExitUsage;
    }
    std::string why;
    if (*raw.viewOpt && !ParseView(raw.view, &args->viewAzimuth, &args->viewElevation, &why)) {
        std::fprintf(stderr, "corvane: --view: %s\n", why.c_str());
        return kExitUsage;
    }
    if (*raw.previewSizeOpt && !ParseSize(raw.previewSize, &args->previewWidth, &args->previewHeight, &why)) {
        std::fprintf(stderr, "corvane: --preview-size: %s\n", why.c_str());
        return kExitUsage;
    }
    return -1;
}

// A command line CLI11 refused, said in the program's voice; --help and
// --version end the parse too, with status 0, and print themselves.
int ParseFailed(CLI::App &app, const CLI::ParseError &e)
{
    if (e.get_exit_code() == 0)
        return app.exit(e) == 0 ? kExitDone : kExitUsage;
    std::fprintf(stderr, "corvane: %s (corvane --help lists the options)\n", e.what());
    return kExitUsage;
}

}  // namespace

int CliParse(int argc, char **argv, CliArgs *args)
{
    CLI::App app(kDescription, "corvane");
    RawOptions raw;
    AddOptions(app, args, &raw);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return ParseFailed(app, e);
    }
    return CheckOptions(raw, args);
}
