// What the viewer's server reads from a request and writes into a response.
// Everything a client controls is checked here, without trusting its length,
// its numbers or its names.
#include "cli/view/view.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/random.h>

namespace {

const size_t kMaxValueLength = 64;

bool ParseNumber(const std::string &text, double *value)
{
    if (text.empty() || text.size() > kMaxValueLength)
        return false;
    // strtod takes leading blanks and hex; the page sends plain decimals.
    for (char c : text)
        if (!std::strchr("0123456789+-.eE", c))
            return false;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool ParsePolygonNumber(const std::string &text, int polygons, int *value)
{
    int v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size() || v < 1 ||
        v > polygons)
        return false;
    *value = v;
    return true;
}

}  // namespace

bool ViewParseRequest(const std::multimap<std::string, std::string> &params, int polygons,
                      ViewRequest *request, std::string *error)
{
    ViewRequest r;
    bool haveSize = false, haveMode = false, haveLimit = false, haveSelect = false, haveClamp = false;
    for (const auto &[name, value] : params) {
        if (value.size() > kMaxValueLength) {
            *error = name.substr(0, kMaxValueLength) + ": value too long";
            return false;
        }
        bool *seen = name == "size"     ? &haveSize
                     : name == "mode"   ? &haveMode
                     : name == "limit"  ? &haveLimit
                     : name == "select" ? &haveSelect
                     : name == "clamp"  ? &haveClamp
                                        : nullptr;
        if (!seen) {
            *error = "unknown parameter '" + name.substr(0, kMaxValueLength) + "'";
            return false;
        }
        if (*seen) {
            *error = name + " given twice";
            return false;
        }
        *seen = true;
        if (name == "size" && !ParseNumber(value, &r.size)) {
            *error = "size must be a finite number";
            return false;
        }
        if (name == "mode") {
            if (value == "disable")
                r.angleMode = 0;
            else if (value == "lt")
                r.angleMode = 1;
            else if (value == "gt")
                r.angleMode = 2;
            else {
                *error = "mode must be disable, lt or gt";
                return false;
            }
        }
        if (name == "limit" && (!ParseNumber(value, &r.limitDeg) || r.limitDeg < 0.0 || r.limitDeg > 180.0)) {
            *error = "limit must be a number of degrees from 0 to 180";
            return false;
        }
        if (name == "clamp") {
            if (value != "0" && value != "1") {
                *error = "clamp must be 0 or 1";
                return false;
            }
            r.clamp = value == "1";
        }
        if (name == "select") {
            const size_t comma = value.find(',');
            if (comma == std::string::npos ||
                !ParsePolygonNumber(value.substr(0, comma), polygons, &r.select[0]) ||
                !ParsePolygonNumber(value.substr(comma + 1), polygons, &r.select[1]) ||
                r.select[0] == r.select[1]) {
                *error = "select must be two different polygon numbers I,J from 1 to " +
                         std::to_string(polygons);
                return false;
            }
        }
    }
    if (!haveSize || !haveMode || !haveLimit) {
        *error = "size, mode and limit are needed";
        return false;
    }
    *request = r;
    return true;
}

bool ViewHostAllowed(const std::string &host, int port)
{
    const std::string suffix = ":" + std::to_string(port);
    return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

bool ViewTokenEquals(const std::string &given, const std::string &token)
{
    if (token.empty() || given.size() != token.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < token.size(); i++)
        diff |= (unsigned char)(given[i] ^ token[i]);
    return diff == 0;
}

std::string ViewNewToken()
{
    unsigned char bytes[32];
    size_t have = 0;
    while (have < sizeof bytes) {
        const ssize_t n = getrandom(bytes + have, sizeof bytes - have, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "";
        have += (size_t)n;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

std::string ViewJsonText(const nlohmann::json &value)
{
    // File names need not be UTF-8: a broken sequence becomes a replacement
    // character rather than an exception.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

long ViewHeadLength(const std::string &bytes, size_t maxBytes, int maxLines)
{
    int lines = 0;
    const size_t scan = std::min(bytes.size(), maxBytes);
    for (size_t i = 0; i < scan; i++) {
        if (bytes[i] != '\n')
            continue;
        if (++lines > maxLines)
            return -1;
        if (i >= 3 && bytes.compare(i - 3, 4, "\r\n\r\n") == 0)
            return (long)i + 1;
    }
    return bytes.size() > maxBytes ? -1 : 0;
}

bool ViewHeadRefused(const std::string &head, std::string *status, std::string *why)
{
    int hosts = 0;
    size_t at = head.find('\n');  // past the request line
    while (at != std::string::npos && at + 1 < head.size()) {
        const size_t start = at + 1;
        at = head.find('\n', start);
        const size_t colon = head.find(':', start);
        if (colon == std::string::npos || (at != std::string::npos && colon > at))
            continue;
        std::string name = head.substr(start, colon - start);
        for (char &c : name)
            c = (char)std::tolower((unsigned char)c);
        if (name == "range") {
            *status = "416 Range Not Satisfiable";
            *why = "parts of a file are not served";
            return true;
        }
        if (name == "host" && ++hosts > 1) {
            *status = "400 Bad Request";
            *why = "a request names its host once";
            return true;
        }
    }
    return false;
}

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the page reads the arrays little-endian");

void PutU32(std::string *out, uint32_t v)
{
    out->append(reinterpret_cast<const char *>(&v), 4);
}

}  // namespace

std::string ViewEncodeMesh(const std::string &json, const MeshData &mesh, const std::vector<bool> *created,
                           const std::vector<bool> *reshaped)
{
    const size_t corners = mesh.polyPoints.size();
    std::string padded = json;
    padded.append((4 - padded.size() % 4) % 4, ' ');
    std::string out;
    out.reserve(24 + padded.size() + mesh.points.size() * 12 + MeshPolyCount(mesh) * 5 + corners * 4 + 4);
    out += "CVM1";
    PutU32(&out, (uint32_t)padded.size());
    out += padded;
    PutU32(&out, (uint32_t)mesh.points.size());
    PutU32(&out, (uint32_t)MeshPolyCount(mesh));
    PutU32(&out, (uint32_t)corners);
    for (const auto &p : mesh.points)
        for (int c = 0; c < 3; c++) {
            const float f = (float)p[c];
            out.append(reinterpret_cast<const char *>(&f), 4);
        }
    for (size_t i = 0; i < MeshPolyCount(mesh); i++)
        PutU32(&out, (uint32_t)MeshPolyPoints(mesh, i).size());
    for (int k : mesh.polyPoints)
        PutU32(&out, (uint32_t)k);
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const bool isNew = created && i < created->size() && (*created)[i];
        const bool isCut = reshaped && i < reshaped->size() && (*reshaped)[i];
        out += isNew ? '\2' : isCut ? '\1' : '\0';
    }
    out.append((4 - out.size() % 4) % 4, '\0');
    return out;
}
