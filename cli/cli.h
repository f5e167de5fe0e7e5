// The corvane program: its command line, the terminal side of the host's
// services (progress, messages, the options panel) and the run itself.
#ifndef CORVANE_CLI_H
#define CORVANE_CLI_H

#include <optional>
#include <string>

#include "host/host.h"

// Exit statuses.
enum {
    kExitDone = 0,
    kExitBadInput = 1,     // a malformed file, or a failure the module reported
    kExitUsage = 2,         // bad arguments, or the module cannot be loaded or run
    kExitAborted = 130,     // Ctrl-C, or the options panel cancelled
};

// What the command line asks for.
struct CliArgs {
    std::string input;
    std::string output;
    std::string plugin;                 // empty: Corvane.p beside the program
    std::string pluginsDir;             // empty: the user's config folder
    std::optional<double> size;
    std::optional<int> angleMode;       // 0 disable, 1 lt, 2 gt
    std::optional<double> limitAngle;   // degrees
    int select[2] = {0, 0};             // 1-based polygon numbers; 0: not given
    int edge[2] = {0, 0};               // 1-based point numbers; 0: not given
    bool quiet = false;
    bool stats = false;
    bool force = false;
    bool keepPartial = false;
    bool clamp = false;                 // run with at most the safe size
    bool progress = false;              // phase lines even when stderr is not a terminal
    std::string preview;                // --preview FILE.png; empty: no picture
    double viewAzimuth = 35.0;          // --view, degrees
    double viewElevation = 25.0;
    int previewWidth = 1200;            // --preview-size, pixels
    int previewHeight = 600;
};

// Parses the command line into *args. Returns -1 to go on, or the status to
// exit with (0 after --help or --version, kExitUsage after an error, both
// already printed).
int CliParse(int argc, char **argv, CliArgs *args);
// Runs the module on the input as the arguments say; returns the exit status.
int CliRun(const CliArgs &args);
// Whether OUTPUT may be written: a file in an existing folder, and not the
// input unless forced. false after printing why.
bool CliCheckOutput(const CliArgs &args);
// The module to load: --plugin, else Corvane.p beside the program.
std::string CliModulePath(const CliArgs &args);

// ---- interruption --------------------------------------------------------

// Installs the Ctrl-C handler: the first Ctrl-C is recorded (and aborts the
// one monitored phase that polls next); the second ends the program at once with
// status 130, removing the temporary output file if one is being written.
void InterruptInstall();
bool InterruptRequested();
// How many Ctrl-C have come so far.
int InterruptCount();
// The temporary file the handler removes on a second Ctrl-C; null for none.
void InterruptSetTempFile(const char *path);

// ---- terminal ------------------------------------------------------------

// Progress display of the host's monitors on stderr: a redrawn bar when
// stderr is a terminal; otherwise plain phase lines with `lines`, else only
// the phases aborted; nothing when quiet.
struct ProgressDisplay;
ProgressDisplay *ProgressCreate(bool quiet, bool lines);
void ProgressDestroy(ProgressDisplay *display);
// Binds the display to the host's monitor hooks, and messages to stderr.
void ProgressAttach(ProgressDisplay *display, EmuHost *host);
// Clears a bar still on the screen before other output.
void ProgressClear(ProgressDisplay *display);

// The options panel shown in the terminal: the title and mode text, then each
// control with its label and value, read from stdin with Enter keeping the
// value. Returns 1 when confirmed, 0 when cancelled (end of input or Ctrl-C).
// The angle control holds radians and is shown and typed in degrees.
int TerminalPanel(EmuPanel &panel, int inFd, int outFd);

#endif
