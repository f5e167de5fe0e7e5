// The corvane program: its command line, the terminal side of the host's
// services (progress, messages, the options panel) and the run itself.
#ifndef CORVANE_CLI_H
#define CORVANE_CLI_H

#include "cli/common/common.h"
#include "host/host.h"

// Parses the command line into *args. Returns -1 to go on, or the status to
// exit with (0 after --help or --version, kExitUsage after an error, both
// already printed).
int CliParse(int argc, char **argv, CliArgs *args);
// Runs the module on the input as the arguments say; returns the exit status.
int CliRun(const CliArgs &args);

// ---- terminal ------------------------------------------------------------

// Progress display of the host's monitors on stderr: a redrawn bar when
// stderr is a terminal; otherwise plain phase lines with `lines`, else only
// the phases aborted; nothing when quiet.
struct ProgressDisplay;
ProgressDisplay *ProgressCreate(bool quiet, bool lines);
void ProgressDestroy(ProgressDisplay *display);
// Binds the display to the host's monitor hooks, and the module's messages to
// stderr, each on one line after "corvane: ".
void ProgressAttach(ProgressDisplay *display, EmuHost *host);
// Clears a bar still on the screen before other output.
void ProgressClear(ProgressDisplay *display);

// The options panel shown in the terminal: the title and mode text, then each
// control with its label and value, read from stdin with Enter keeping the
// value. Returns 1 when confirmed, 0 when cancelled (end of input or Ctrl-C).
// The angle control holds radians and is shown and typed in degrees.
int TerminalPanel(EmuPanel &panel, int inFd, int outFd);

#endif
