// The guards the programs around the module share, and the words they warn in.
#include "run/run.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "meshio/meshio.h"

std::string RunShortNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

std::string RunModeName(const RunResult &result)
{
    return result.mode == "Line" ? "two-polygon" : result.mode == "Object" ? "object" : "";
}

std::string RunAngleText(double degrees)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", degrees);
    return text;
}

std::string RunCheckOptions(std::optional<double> bevelSize, std::optional<double> limitAngleDeg)
{
    // The module refuses a size that is no number only after the panel; said
    // here, it is the caller's mistake, as a negative size is.
    if (bevelSize && !std::isfinite(*bevelSize))
        return "the bevel size must be a finite number, not " + MeshFormatDouble(*bevelSize);
    // -0.0 is a size of 0, which changes nothing.
    if (bevelSize && *bevelSize < 0.0)
        return "the bevel size must not be negative (it would turn the mesh inside out), not " +
               MeshFormatDouble(*bevelSize);
    if (limitAngleDeg && !(*limitAngleDeg >= 0.0 && *limitAngleDeg <= 180.0))
        return "the limit angle must be from 0 to 180 degrees, not " + MeshFormatDouble(*limitAngleDeg);
    return "";
}

int RunAngleModeNumber(const std::string &name)
{
    static const char *const kNames[3] = {"disable", "lt", "gt"};
    for (int k = 0; k < 3; k++) {
        const std::string want = kNames[k];
        bool same = name.size() == want.size();
        for (size_t i = 0; same && i < name.size(); i++)
            same = std::tolower((unsigned char)name[i]) == want[i];
        if (same)
            return k;
    }
    return -1;
}

std::string RunAngleModeName(int angleMode)
{
    return angleMode == 1 ? "lt" : angleMode == 2 ? "gt" : "disable";
}

std::string RunSizeWarning(double bevelSize, double safe, const std::string &remedy)
{
    // A size of 0 changes nothing, however small the safe size.
    if (!std::isfinite(safe) || !(bevelSize > 0.0 && bevelSize >= safe))
        return "";
    return "the bevel size " + MeshFormatDouble(bevelSize) + " is at or above the safe size " +
           RunSafeSizeText(safe) + ", past which the result may hold polygons other tools refuse; " + remedy;
}

std::string RunNothingChamferedText(const MeshData &input, const RunResult &result)
{
    if (!result.chamferedNothing)
        return "";
    const MeshStats s = MeshComputeStats(input);
    if (s.edges == s.borderEdges)
        return "no two polygons of the input share an edge, so no edge was chamfered";
    if (result.angleMode == 1 || result.angleMode == 2)
        return "no edge passed the angle test (angle mode " + RunAngleModeName(result.angleMode) +
               ", limit angle " + RunAngleText(result.limitAngleDeg) + "), so no edge was chamfered";
    return "no edge was chamfered";
}

std::string RunSafeSizeText(double safe)
{
    if (!std::isfinite(safe) || safe <= 0.0)
        return MeshFormatDouble(safe);
    // Rounded down, so that the size shown is one the user may type and
    // still be within the safe size.
    const double step = std::pow(10.0, std::floor(std::log10(safe)) - 3);
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", std::floor(safe / step) * step);
    // The division may land a unit above where the decimal digits say.
    if (std::strtod(text, nullptr) > safe)
        std::snprintf(text, sizeof text, "%.4g", (std::floor(safe / step) - 1) * step);
    return text;
}

std::string RunMessageLine(const std::string &text)
{
    // The module words a message for a host's message box: a title line
    // ("ERROR:") over text hard-wrapped to the box's width. On a terminal or
    // a status line it reads as one sentence.
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const size_t a = line.find_first_not_of(" \t\r");
        const size_t b = line.find_last_not_of(" \t\r");
        if (a != std::string::npos)
            lines.push_back(line.substr(a, b - a + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (lines.size() > 1 && (lines[0] == "ERROR:" || lines[0] == "Error:"))
        lines.erase(lines.begin());
    std::string out;
    for (const std::string &line : lines)
        out += (out.empty() ? "" : " ") + line;
    return out;
}
