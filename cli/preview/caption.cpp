// The texts around a preview: the caption under each half and the parsing of
// the view and size arguments. Numbers are read and written independently of
// the locale, so that a caption or an argument means the same everywhere.
#include "cli/preview/preview.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The shortest "%g" text of `value` rounded to 10 significant digits, without
// an exponent for the sizes and angles people type: "30", not "3e+01", and
// "120", not the "120.00000000000003" that a trip through radians leaves.
std::string ShortNumber(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    double rounded = value;
    std::from_chars(text, text + std::strlen(text), rounded);
    const bool plain = std::fabs(rounded) >= 1e-4 && std::fabs(rounded) < 1e10;
    for (int precision = 1; precision <= 10; precision++) {
        std::snprintf(text, sizeof text, "%.*g", precision, rounded);
        if (plain && std::strchr(text, 'e') && precision < 10)
            continue;
        double back = 0.0;
        auto result = std::from_chars(text, text + std::strlen(text), back);
        if (result.ec == std::errc() && back == rounded)
            break;
    }
    return text;
}

std::string Count(size_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Trim(const std::string &text)
{
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

// Splits "A<sep>B" at the one separator from `separators`; false when there
// is not exactly one.
bool SplitPair(const std::string &text, const char *separators, std::string *a, std::string *b)
{
    size_t at = text.find_first_of(separators);
    if (at == std::string::npos || text.find_first_of(separators, at + 1) != std::string::npos)
        return false;
    *a = Trim(text.substr(0, at));
    *b = Trim(text.substr(at + 1));
    return true;
}

bool ReadDouble(const std::string &text, double *value)
{
    const char *end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, *value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(*value);
}

bool ReadInt(const std::string &text, int *value)
{
    const char *end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, *value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

}  // namespace

std::string PreviewCaption(const std::string &label, const MeshData &mesh, const PreviewRun *run)
{
    std::string text = label + ": " + Count(mesh.points.size(), "point", "points") + ", " +
                       Count(MeshPolyCount(mesh), "polygon", "polygons");
    if (!run)
        return text;
    // The options in the words and spelling of the program's summary line.
    static const char *const kAngleModes[3] = {"disable", "lt", "gt"};
    text += "; " + run->mode + " mode, size " + ShortNumber(run->bevelSize);
    // The two-polygon mode takes no angle test.
    if (run->mode == "two-polygon")
        return text;
    text += ", angle mode ";
    if (run->angleMode == 1 || run->angleMode == 2)
        text += std::string(kAngleModes[run->angleMode]) + ", limit angle " + ShortNumber(run->limitAngleDeg);
    else
        text += kAngleModes[0];
    return text;
}

bool ParseView(const std::string &text, double *azimuthDeg, double *elevationDeg, std::string *error)
{
    std::string a, b;
    double az = 0.0, el = 0.0;
    if (!SplitPair(text, ",", &a, &b) || !ReadDouble(a, &az) || !ReadDouble(b, &el)) {
        if (error)
            *error = "expected AZIMUTH,ELEVATION in degrees (e.g. 35,25), got '" + text + "'";
        return false;
    }
    if (el < -90.0 || el > 90.0) {
        if (error)
            *error = "the elevation must be from -90 to 90 degrees, got " + b;
        return false;
    }
    *azimuthDeg = az;
    *elevationDeg = el;
    return true;
}

bool ParseSize(const std::string &text, int *width, int *height, std::string *error)
{
    std::string a, b;
    int w = 0, h = 0;
    if (!SplitPair(text, ",xX", &a, &b) || !ReadInt(a, &w) || !ReadInt(b, &h)) {
        if (error)
            *error = "expected W,H in pixels (e.g. 1200,600), got '" + text + "'";
        return false;
    }
    if (w < 64 || w > 4096 || h < 64 || h > 4096) {
        if (error)
            *error = "the width and height must be from 64 to 4096 pixels, got " + a + "," + b;
        return false;
    }
    *width = w;
    *height = h;
    return true;
}
