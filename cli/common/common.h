// What the corvane program's run and its viewer share: the exit statuses,
// the command line's record, the checks both make before they read the
// input, and the Ctrl-C state the signal handler keeps for both.
#ifndef CORVANE_CLI_COMMON_H
#define CORVANE_CLI_COMMON_H

#include <optional>
#include <string>

namespace CLI {
class App;
}

// Exit statuses.
enum {
    kExitDone = 0,
    kExitBadInput = 1,   // a malformed file, or a failure the module reported
    kExitUsage = 2,      // bad arguments, or the module cannot be loaded or run
    kExitAborted = 130,  // Ctrl-C, or the options panel cancelled
};

// What the command line asks for.
struct CliArgs {
    std::string input;
    std::string output;
    std::string inputFormat;   // --input-format; empty: by INPUT's extension
    std::string outputFormat;  // --output-format; empty: by OUTPUT's extension
    std::string plugin;        // empty: CorvaneLarge.p beside the program
    std::string pluginsDir;    // empty: the user's config folder
    std::optional<double> size;
    std::optional<int> angleMode;      // 0 disable, 1 lt, 2 gt
    std::optional<double> limitAngle;  // degrees
    int select[2] = {0, 0};            // 1-based polygon numbers; 0: not given
    int edge[2] = {0, 0};              // 1-based point numbers; 0: not given
    bool quiet = false;
    bool stats = false;
    bool force = false;
    bool keepPartial = false;
    bool clamp = false;         // run with at most the safe size
    bool progress = false;      // phase lines even when stderr is not a terminal
    bool noWeld = false;        // --no-weld: points at one position stay apart
    std::string preview;        // --preview FILE.png; empty: no picture
    double viewAzimuth = 35.0;  // --view, degrees
    double viewElevation = 25.0;
    int previewWidth = 1200;  // --preview-size, pixels
    int previewHeight = 600;
    long long maxCorners = 0;  // --max-corners; 0: the readers' default budget
};

// Whether OUTPUT may be written: both files in a known format, OUTPUT a file
// in an existing folder, and not the input unless forced. false after printing why.
bool CliCheckOutput(const CliArgs &args);
// Whether a file may be written at `path`: not a folder, in an existing
// folder. false after printing why, naming the file as `what` ("the picture ").
bool CliCheckWritable(const std::string &path, const char *what);
// The module to load: --plugin, else CorvaneLarge.p beside the program.
std::string CliModulePath(const CliArgs &args);

// ---- interruption --------------------------------------------------------

// Installs the Ctrl-C handler: the first Ctrl-C is recorded (and aborts the
// one monitored phase that polls next); the second ends the program at once with
// status 130, removing the temporary output file if one is being written.
void InterruptInstall();
// The same handler for SIGTERM and SIGHUP, for a program that must clean up
// however it is asked to stop (the viewer's private folder holds its token).
void InterruptOnTermination();
bool InterruptRequested();
// How many Ctrl-C have come so far.
int InterruptCount();
// The temporary file the handler removes on a second Ctrl-C; null for none.
void InterruptSetTempFile(const char *path);
// For a run that writes nothing once interrupted: from now on the first
// Ctrl-C ends the program about 60 ms after it, with status 130 and
// `message` (say "corvane: aborted; ...") on stderr, removing the temporary
// output file, unless the program has ended by then. Null disarms it (while
// the panel takes its own Ctrl-C, and once the output is in place).
void InterruptEndsRun(const char *message);

// The options that name the module and its settings folder, the same in
// the program and its viewer.
void CliAddModuleOptions(CLI::App *app, std::string *plugin, std::string *pluginsDir);

#endif
