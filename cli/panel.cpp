// The options panel in a terminal. The module builds the panel through the
// host's panel service and opens it; here the host shows it: the title, the
// mode text, then one prompt per control with its label as the module wrote
// it and the value it holds. Enter keeps the value; end of input (Ctrl-D) or
// Ctrl-C cancels, as the Cancel button of a host's panel.
#include "cli/cli.h"
#include "hostapi/angles.h"
#include "meshio/meshio.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

void Out(int fd, const std::string &s)
{
    const char *p = s.data();
    size_t left = s.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= (size_t)n;
    }
}

// One line from the terminal, without its end. false on end of input, on an
// error, or when Ctrl-C interrupted the read.
bool ReadLine(int fd, std::string *line)
{
    line->clear();
    for (;;) {
        // A Ctrl-C that comes just before the read would leave it blocked,
        // so the flag is checked first and the wait is cut into short polls.
        if (InterruptRequested())
            return false;
        pollfd ready = {fd, POLLIN, 0};
        int r = poll(&ready, 1, 100);
        if (r == 0 || (r < 0 && errno == EINTR))
            continue;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        if (c != '\r')
            *line += c;
    }
}

std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

bool ParseDouble(const std::string &s, double *out)
{
    const char *b = s.data();
    const char *e = b + s.size();
    if (b != e && *b == '+')
        b++;
    double v = 0.0;
    auto res = std::from_chars(b, e, v, std::chars_format::general);
    if (b == e || res.ec != std::errc() || res.ptr != e || v != v || v - v != 0.0)
        return false;
    *out = v;
    return true;
}

std::string ShortDouble(double v, int digits)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

// Asks until the answer is empty (keep), valid (taken) or the input ends.
// `take` returns an error text for a bad answer, or "" when it took it.
template <typename Take> bool Ask(int inFd, int outFd, const std::string &prompt, Take take)
{
    for (;;) {
        Out(outFd, prompt);
        std::string line;
        if (!ReadLine(inFd, &line))
            return false;
        line = Trim(line);
        if (line.empty())
            return true;
        std::string problem = take(line);
        if (problem.empty())
            return true;
        Out(outFd, "  " + problem + "\n");
    }
}

}  // namespace

int TerminalPanel(EmuPanel &panel, int inFd, int outFd)
{
    Out(outFd, panel.title + "\n");
    Out(outFd, "(Enter keeps the value in brackets; Ctrl-D or Ctrl-C cancels)\n");
    bool ok = true;
    for (auto &cp : panel.controls) {
        EmuPanelControl &c = *cp;
        if (c.typeName == "TextControl") {
            std::string text;
            for (const std::string &s : c.list)
                text += (text.empty() ? "" : " ") + s;
            Out(outFd, c.label + " " + text + "\n");
        } else if (c.typeName == "FloatControl") {
            ok = Ask(inFd, outFd, c.label + "[" + MeshFormatDouble(c.floatValue) + "]: ",
                     [&](const std::string &s) -> std::string {
                         double v;
                         if (!ParseDouble(s, &v))
                             return "a number, please";
                         c.floatValue = v;
                         return "";
                     });
        } else if (c.typeName == "ChoiceControl") {
            std::string items, current = std::to_string(c.intValue);
            for (size_t k = 0; k < c.list.size(); k++) {
                items += (k ? " / " : "") + Trim(c.list[k]);
                if ((int)k == c.intValue)
                    current = Trim(c.list[k]);
            }
            ok = Ask(inFd, outFd, c.label + "(" + items + ") [" + current + "]: ",
                     [&](const std::string &s) -> std::string {
                         for (size_t k = 0; k < c.list.size(); k++)
                             if (Lower(s) == Lower(Trim(c.list[k])) || s == std::to_string(k)) {
                                 c.intValue = (int)k;
                                 return "";
                             }
                         return "one of: " + items;
                     });
        } else if (c.typeName == "AngleControl") {
            // Held in radians, shown and typed in degrees as a host's angle
            // field does; an untouched value keeps its radians exactly.
            ok = Ask(inFd, outFd,
                     c.label + "(degrees) [" + ShortDouble(c.floatValue * kDegreesPerRadian, 10) + "]: ",
                     [&](const std::string &s) -> std::string {
                         double v;
                         if (!ParseDouble(s, &v))
                             return "an angle in degrees, please";
                         if (v < 0.0 || v > 180.0)
                             return "from 0 to 180 degrees, please";
                         c.floatValue = v * kRadiansPerDegree;
                         return "";
                     });
        } else {
            Out(outFd, c.label + "\n");
        }
        if (!ok) {
            Out(outFd, "\ncancelled\n");
            return 0;
        }
    }
    return 1;
}
