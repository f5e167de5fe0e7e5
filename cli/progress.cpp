// What the user sees of the host's progress monitor and message services.
#include "cli/cli.h"
#include "run/run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

struct ProgressDisplay {
    bool quiet = false;
    bool tty = false;
    bool lines = false;      // not a terminal: a line per phase
    bool lineShown = false;  // a bar is on the screen, not ended
    // the count restarts when the module sets a new total on the same monitor
    size_t initsSeen = 0;
    unsigned stepBase = 0;
    int lastPercent = -1;
    int interruptsReported = 0;  // Ctrl-C already turned into an abort
    // CORVANE_STEP_DELAY_US slows every monitor step down, so that tests can
    // land a Ctrl-C inside a phase that would otherwise be over in a moment.
    unsigned stepDelayUs = 0;
    std::chrono::steady_clock::time_point lastDraw;
};

namespace {

void Put(const std::string &s)
{
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
}

std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

int TerminalWidth()
{
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20)
        return ws.ws_col;
    return 80;
}

unsigned TotalOf(const EmuMonitorLog &log)
{
    return log.inits.empty() ? 0 : log.inits.back();
}

// A new total restarts the count. `stepping`: the host has already counted
// the step being reported, which is the first of the new run.
void TrackInits(ProgressDisplay *d, const EmuMonitorLog &log, bool stepping)
{
    if (log.inits.size() != d->initsSeen) {
        d->initsSeen = log.inits.size();
        d->stepBase = stepping && log.steps > 0 ? log.steps - 1 : log.steps;
        d->lastPercent = -1;
    }
}

// "Corvane mode:Obj - Phase: LineList [#######.........] 120/300  40%"
void DrawBar(ProgressDisplay *d, const EmuMonitorLog &log, const char *suffix)
{
    unsigned total = TotalOf(log);
    unsigned count = log.steps - d->stepBase;
    std::string head = Trim(log.title) + " - " + Trim(log.text);
    std::string tail;
    if (total > 0) {
        unsigned shown = count > total ? total : count;
        int percent = (int)((unsigned long long)shown * 100 / total);
        const int width = 20;
        int filled = (int)((unsigned long long)shown * width / total);
        tail = " [" + std::string(filled, '#') + std::string(width - filled, '.') + "] " +
               std::to_string(count) + "/" + std::to_string(total) + " " + std::to_string(percent) + "%";
    } else if (count > 0) {
        tail = " " + std::to_string(count);
    }
    tail += suffix;
    int room = TerminalWidth() - 1 - (int)tail.size();
    if (room < 8)
        room = 8;
    if ((int)head.size() > room)
        head = head.substr(0, room - 3) + "...";
    Put("\r\033[K" + head + tail);
    d->lineShown = true;
    d->lastDraw = std::chrono::steady_clock::now();
}

void OnOpen(ProgressDisplay *d, const EmuMonitorLog &log)
{
    d->initsSeen = 0;
    d->stepBase = 0;
    d->lastPercent = -1;
    if (d->quiet)
        return;
    if (d->tty)
        DrawBar(d, log, "");
    else if (d->lines)
        Put(Trim(log.title) + ": " + Trim(log.text) + "\n");
}

int OnStep(ProgressDisplay *d, const EmuMonitorLog &log)
{
    if (d->stepDelayUs > 0)
        usleep(d->stepDelayUs);
    // Each Ctrl-C aborts one phase: the module goes on with the next ones.
    int abort = 0;
    if (InterruptCount() > d->interruptsReported) {
        d->interruptsReported = InterruptCount();
        abort = 1;
    }
    TrackInits(d, log, true);
    if (d->quiet || !d->tty)
        return abort;
    unsigned total = TotalOf(log);
    unsigned count = log.steps - d->stepBase;
    int percent = total > 0 ? (int)((unsigned long long)(count > total ? total : count) * 100 / total) : -1;
    // Redraw when the percentage moves, at most every 40 ms so that a
    // terminal is not flooded; the close draws the final count.
    auto now = std::chrono::steady_clock::now();
    if (percent != d->lastPercent && now - d->lastDraw >= std::chrono::milliseconds(40)) {
        d->lastPercent = percent;
        DrawBar(d, log, "");
    }
    return abort;
}

void OnClose(ProgressDisplay *d, const EmuMonitorLog &log)
{
    if (d->quiet)
        return;
    TrackInits(d, log, false);
    if (d->tty) {
        // The bar of a finished phase is drawn over by the next; an aborted
        // one stays on the screen.
        DrawBar(d, log, log.aborted ? "  aborted" : "");
        if (log.aborted) {
            Put("\n");
            d->lineShown = false;
        }
    } else if (log.aborted) {
        unsigned count = log.steps - d->stepBase;
        Put(Trim(log.title) + ": " + Trim(log.text) + ": aborted at " + std::to_string(count) + "/" +
            std::to_string(TotalOf(log)) + "\n");
    }
}

void OnMessage(ProgressDisplay *d, const EmuMessage &msg)
{
    // The module's own words, on one line in the program's voice: it wraps
    // them for a host's message box.
    ProgressClear(d);
    std::string text = msg.line1;
    if (!msg.line2Null && !msg.line2.empty())
        text += "\n" + msg.line2;
    Put(std::string("corvane: ") + (msg.error ? "the module reported an error: " : "the module says: ") +
        RunMessageLine(text) + "\n");
}

}  // namespace

ProgressDisplay *ProgressCreate(bool quiet, bool lines)
{
    ProgressDisplay *d = new ProgressDisplay;
    d->quiet = quiet;
    d->lines = lines;
    d->tty = isatty(STDERR_FILENO) != 0;
    if (const char *delay = getenv("CORVANE_STEP_DELAY_US"))
        d->stepDelayUs = (unsigned)strtoul(delay, nullptr, 10) % 1000000u;
    return d;
}

void ProgressDestroy(ProgressDisplay *display)
{
    if (display)
        ProgressClear(display);
    delete display;
}

void ProgressAttach(ProgressDisplay *d, EmuHost *host)
{
    host->hooks.monitorOpen = [d](const EmuMonitorLog &log) { OnOpen(d, log); };
    host->hooks.monitorStep = [d](const EmuMonitorLog &log) { return OnStep(d, log); };
    host->hooks.monitorClose = [d](const EmuMonitorLog &log) { OnClose(d, log); };
    host->hooks.message = [d](const EmuMessage &msg) { OnMessage(d, msg); };
}

void ProgressClear(ProgressDisplay *d)
{
    if (d->lineShown) {
        Put("\r\033[K");
        d->lineShown = false;
    }
}
