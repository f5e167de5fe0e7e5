// STL reading (binary and ASCII) and writing (binary). Every triangle holds
// its own three float32 corners; the reader welds corners at the same
// position into one point, so that neighbouring triangles share their edge.
// ASCII solids' names become surface names.
#include "meshio/formats.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

const size_t kHeader = 80;
const size_t kTriangleBytes = 50;  // normal, three corners, attribute word

// Adds the triangle of corners v[0..8] unless two corners are at the same
// position: such a triangle is counted as collapsed before its corners make
// points, so that no point is left without a polygon.
void AddTriangle(PointWeld *weld, const float v[9], int surface, MeshReadInfo *info)
{
    auto same = [&](int a, int b) {
        return v[3 * a] == v[3 * b] && v[3 * a + 1] == v[3 * b + 1] && v[3 * a + 2] == v[3 * b + 2];
    };
    if (weld->weld && (same(0, 1) || same(1, 2) || same(2, 0))) {
        info->collapsed++;
        return;
    }
    int corner[3];
    for (int c = 0; c < 3; c++)
        corner[c] = PointWeldAdd(weld, v[3 * c], v[3 * c + 1], v[3 * c + 2]);
    PointWeldTriangle(weld->mesh, corner[0], corner[1], corner[2], surface, info);
}

bool ReadBinary(const std::string &data, const std::string &name, bool weldPoints, MeshData *mesh,
                MeshReadInfo *info, std::string *error, const MeshBudget &budget)
{
    uint32_t count = 0;
    std::memcpy(&count, data.data() + kHeader, 4);
    const std::string fault = BudgetFault(budget, 3LL * count, 3LL * count, count, 0);
    if (!fault.empty()) {
        if (error)
            *error = name + ": byte " + std::to_string(kHeader) + ": " + "its " + std::to_string(count) +
                     " triangles make " + fault;
        return false;
    }
    PointWeld weld;
    weld.mesh = mesh;
    weld.weld = weldPoints;
    mesh->points.reserve(count / 2 + 3);
    MeshReservePolys(mesh, count, 3 * (size_t)count);
    const int surface = MeshInternSurface(mesh, "Default");
    for (uint32_t t = 0; t < count; t++) {
        const size_t at = kHeader + 4 + (size_t)t * kTriangleBytes;
        float v[9];
        std::memcpy(v, data.data() + at + 12, sizeof v);
        for (int c = 0; c < 3; c++) {
            if (!std::isfinite(v[3 * c]) || !std::isfinite(v[3 * c + 1]) || !std::isfinite(v[3 * c + 2])) {
                if (error)
                    *error = name + ": byte " + std::to_string(at + 12 + 12 * (size_t)c) + ": triangle " +
                             std::to_string(t + 1) + " has a corner that is not finite";
                return false;
            }
        }
        AddTriangle(&weld, v, surface, info);
    }
    info->welded = (int)(weld.corners - (long long)mesh->points.size());
    return true;
}

struct Text {
    const std::string &data;
    const std::string &name;
    std::string *error;
    size_t pos = 0;
    int line = 1;
    std::string_view token{};

    bool Fail(const std::string &what)
    {
        if (error)
            *error = name + ":" + std::to_string(line) + ": " + what;
        return false;
    }
    // The next word; false at the end.
    bool Next()
    {
        while (pos < data.size() && std::isspace((unsigned char)data[pos])) {
            if (data[pos] == '\n')
                line++;
            pos++;
        }
        if (pos >= data.size())
            return false;
        const size_t start = pos;
        while (pos < data.size() && !std::isspace((unsigned char)data[pos]))
            pos++;
        token = std::string_view(data.data() + start, pos - start);
        return true;
    }
    bool Expect(const char *word)
    {
        if (!Next())
            return Fail(std::string("the file ends where '") + word + "' was expected");
        if (token != word)
            return Fail(std::string("expected '") + word + "', found '" + std::string(token) + "'");
        return true;
    }
    bool Float(float *out)
    {
        if (!Next())
            return Fail("the file ends inside a facet");
        const char *b = token.data(), *e = token.data() + token.size();
        if (b < e && *b == '+')
            b++;
        const char *s = b + ((b < e && *b == '-') ? 1 : 0);
        auto res = std::from_chars(b, e, *out);
        if (s >= e || !(std::isdigit((unsigned char)*s) || *s == '.') || res.ec != std::errc() ||
            res.ptr != e || !std::isfinite(*out))
            return Fail("not a finite float32 number: '" + std::string(token) + "'");
        return true;
    }
    // The rest of the current line, blanks trimmed.
    std::string RestOfLine()
    {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos)
            end = data.size();
        std::string_view rest(data.data() + pos, end - pos);
        pos = end;
        while (!rest.empty() && std::isspace((unsigned char)rest.front()))
            rest.remove_prefix(1);
        while (!rest.empty() && std::isspace((unsigned char)rest.back()))
            rest.remove_suffix(1);
        return std::string(rest);
    }
};

bool ReadAscii(const std::string &data, const std::string &name, bool weldPoints, MeshData *mesh,
               MeshReadInfo *info, std::string *error, const MeshBudget &budget)
{
    Text in{data, name, error};
    PointWeld weld;
    weld.mesh = mesh;
    weld.weld = weldPoints;
    long long facets = 0, nameBytes = 0;
    while (in.Next()) {
        if (in.token != "solid")
            return in.Fail("expected 'solid', found '" + std::string(in.token) + "'");
        std::string surface = in.RestOfLine();
        if (surface.empty())
            surface = "Default";
        if (!NameFault(budget, surface.size()).empty())
            return in.Fail(NameFault(budget, surface.size()));
        int index = -1;  // the name's in the mesh's table, from the solid's first facet
        for (;;) {
            if (!in.Next())
                return in.Fail("the file ends before 'endsolid'");
            if (in.token == "endsolid") {
                in.RestOfLine();
                break;
            }
            if (in.token != "facet")
                return in.Fail("expected 'facet' or 'endsolid', found '" + std::string(in.token) + "'");
            float normal[3];
            if (!in.Expect("normal") || !in.Float(&normal[0]) || !in.Float(&normal[1]) ||
                !in.Float(&normal[2]) || !in.Expect("outer") || !in.Expect("loop"))
                return false;
            float v[9];
            for (int c = 0; c < 3; c++) {
                if (!in.Expect("vertex") || !in.Float(&v[3 * c]) || !in.Float(&v[3 * c + 1]) ||
                    !in.Float(&v[3 * c + 2]))
                    return false;
            }
            if (!in.Expect("endloop") || !in.Expect("endfacet"))
                return false;
            // The mesh keeps each name once: it counts when it first joins
            // the table.
            facets++;
            if (index < 0) {
                const size_t known = mesh->surfaces.size();
                index = MeshInternSurface(mesh, surface);
                if (mesh->surfaces.size() > known)
                    nameBytes += (long long)surface.size();
            }
            const std::string fault = BudgetFault(budget, 3 * facets, 3 * facets, facets, nameBytes);
            if (!fault.empty())
                return in.Fail("the file makes " + fault);
            AddTriangle(&weld, v, index, info);
        }
    }
    info->welded = (int)(weld.corners - (long long)mesh->points.size());
    return true;
}

void PutFloat(char *at, double value)
{
    const float f = (float)value;
    std::memcpy(at, &f, 4);
}

}  // namespace

bool ReadStl(const std::string &data, const std::string &name, bool weld, MeshData *mesh, MeshReadInfo *info,
             std::string *error, const MeshBudget &budget)
{
    // The size tells a binary file for sure (its header may well start with
    // "solid" too); text that starts with "solid" is read as ASCII.
    uint32_t count = 0;
    if (data.size() >= kHeader + 4) {
        std::memcpy(&count, data.data() + kHeader, 4);
        if (data.size() == kHeader + 4 + (size_t)count * kTriangleBytes)
            return ReadBinary(data, name, weld, mesh, info, error, budget);
    }
    size_t start = 0;
    while (start < data.size() && std::isspace((unsigned char)data[start]))
        start++;
    if (data.compare(start, 5, "solid") == 0 &&
        (start + 5 == data.size() || std::isspace((unsigned char)data[start + 5])))
        return ReadAscii(data, name, weld, mesh, info, error, budget);
    if (error) {
        if (data.size() < kHeader + 4)
            *error = name + ": not an STL file: " + std::to_string(data.size()) +
                     " bytes, too short for a binary one, and no 'solid' line";
        else
            *error = name + ": byte " + std::to_string(kHeader) + ": the binary STL header says " +
                     std::to_string(count) + " triangles, " +
                     std::to_string(kHeader + 4 + (size_t)count * kTriangleBytes) +
                     " bytes, but the file has " + std::to_string(data.size());
    }
    return false;
}

void StlBytes(const MeshData &mesh, std::string *out, long long *cut, long long *triangles)
{
    std::vector<int> tris;
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        const size_t before = tris.size();
        MeshTriangulate(mesh, poly, &tris);
        if (poly.size() > 3) {
            (*cut)++;
            *triangles += (long long)(tris.size() - before) / 3;
        }
    }
    const uint32_t count = (uint32_t)(tris.size() / 3);
    out->assign(kHeader + 4 + (size_t)count * kTriangleBytes, '\0');
    char *p = &(*out)[0];
    // A header that starts with "solid" would pass for ASCII in some readers.
    static const char kTitle[] = "binary STL written by corvane";
    std::memcpy(p, kTitle, sizeof kTitle - 1);
    std::memcpy(p + kHeader, &count, 4);
    for (uint32_t t = 0; t < count; t++) {
        char *at = p + kHeader + 4 + (size_t)t * kTriangleBytes;
        // The corners as written, rounded through RoundToFloat: GCC 12 at
        // -O3 took the facet normal from the unrounded doubles when the
        // rounding was a plain conversion into a float array read back.
        double r[3][3];
        float f[3][3];
        for (int c = 0; c < 3; c++)
            for (int k = 0; k < 3; k++) {
                r[c][k] = RoundToFloat(mesh.points[(size_t)tris[3 * t + (size_t)c]][(size_t)k]);
                f[c][k] = (float)r[c][k];
            }
        // the facet normal of the corners as written
        double e1[3], e2[3];
        for (int k = 0; k < 3; k++) {
            e1[k] = r[1][k] - r[0][k];
            e2[k] = r[2][k] - r[0][k];
        }
        double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                       e1[0] * e2[1] - e1[1] * e2[0]};
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (int k = 0; k < 3; k++)
            PutFloat(at + 4 * k, len > 0 ? n[k] / len : 0.0);
        std::memcpy(at + 12, f, sizeof f);
    }
}
