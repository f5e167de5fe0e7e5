// The formats by name and extension, the dispatch to each reader and writer,
// and what the readers and writers of the float32 formats share: the weld of
// corners into points and the cut of polygons into triangles.
#include "meshio/formats.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = (char)std::tolower((unsigned char)c);
    return s;
}

}  // namespace

MeshFormat MeshFormatFromName(const std::string &name)
{
    const std::string n = Lower(name);
    if (n == "obj")
        return MeshFormat::Obj;
    if (n == "ply")
        return MeshFormat::Ply;
    if (n == "off")
        return MeshFormat::Off;
    if (n == "stl")
        return MeshFormat::Stl;
    if (n == "gltf")
        return MeshFormat::Gltf;
    if (n == "glb")
        return MeshFormat::Glb;
    return MeshFormat::Unknown;
}

MeshFormat MeshFormatFromPath(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    // ".hidden" names no extension either
    if (dot == std::string::npos || dot == 0)
        return MeshFormat::Obj;
    return MeshFormatFromName(base.substr(dot + 1));
}

const char *MeshFormatLabel(MeshFormat format)
{
    switch (format) {
    case MeshFormat::Obj: return "OBJ";
    case MeshFormat::Ply: return "PLY";
    case MeshFormat::Off: return "OFF";
    case MeshFormat::Stl: return "STL";
    case MeshFormat::Gltf: return "glTF";
    case MeshFormat::Glb: return "GLB";
    case MeshFormat::Unknown: break;
    }
    return "unknown";
}

bool MeshChooseFormat(const std::string &path, const std::string &given, MeshFormat *format,
                      std::string *error)
{
    static const char kKnown[] = "obj, ply, off, stl, gltf or glb";
    if (!given.empty()) {
        *format = MeshFormatFromName(given);
        if (*format == MeshFormat::Unknown && error)
            *error = path + ": unknown mesh format '" + given + "' (known: " + kKnown + ")";
    } else {
        *format = MeshFormatFromPath(path);
        if (*format == MeshFormat::Unknown && error)
            *error = path + ": unknown mesh format: the extension is none of " + kKnown +
                     "; name the format with --input-format or --output-format";
    }
    return *format != MeshFormat::Unknown;
}

MeshBudget MeshBudgetForCorners(long long corners)
{
    MeshBudget budget;
    budget.corners = budget.points = budget.polygons = corners;
    return budget;
}

std::string BudgetFault(const MeshBudget &budget, long long corners, long long points, long long polygons,
                        long long nameBytes)
{
    auto past = [](long long limit, const char *what) {
        return "more than the " + std::to_string(limit) + " " + what +
               " a file may make (--max-corners sets the limit)";
    };
    if (corners > budget.corners)
        return past(budget.corners, "polygon corners");
    if (points > budget.points)
        return past(budget.points, "points");
    if (polygons > budget.polygons)
        return past(budget.polygons, "polygons");
    if (nameBytes > budget.nameBytes)
        return "more than the " + std::to_string(budget.nameBytes) +
               " bytes of surface names a file may make (each distinct name counted once)";
    return std::string();
}

std::string NameFault(const MeshBudget &budget, size_t length)
{
    if ((long long)length <= budget.nameLength)
        return std::string();
    return "a surface name of " + std::to_string(length) + " bytes is longer than the " +
           std::to_string(budget.nameLength) + " allowed";
}

bool MeshReadBytes(const std::string &data, const std::string &name, MeshFormat format, MeshData *mesh,
                   MeshReadInfo *info, std::string *error, const MeshBudget *budget, bool weld)
{
    const MeshBudget defaults;
    const MeshBudget &limits = budget ? *budget : defaults;
    MeshReadInfo localInfo;
    if (!info)
        info = &localInfo;
    *info = MeshReadInfo();
    *mesh = MeshData();
    std::string localError;
    if (!error)
        error = &localError;
    bool ok = false;
    switch (format) {
    case MeshFormat::Obj: return MeshReadObjText(data, name, mesh, info, error, &limits);
    case MeshFormat::Ply: ok = ReadPly(data, name, weld, mesh, info, error, limits); break;
    case MeshFormat::Off: ok = ReadOff(data, name, mesh, info, error, limits); break;
    case MeshFormat::Stl: ok = ReadStl(data, name, weld, mesh, info, error, limits); break;
    case MeshFormat::Gltf: ok = ReadGltf(data, name, false, weld, mesh, info, error, limits); break;
    case MeshFormat::Glb: ok = ReadGltf(data, name, true, weld, mesh, info, error, limits); break;
    case MeshFormat::Unknown: *error = name + ": unknown mesh format"; break;
    }
    if (!ok)
        *mesh = MeshData();
    return ok;
}

bool MeshReadFile(const std::string &path, MeshFormat format, MeshData *mesh, MeshReadInfo *info,
                  std::string *error, const MeshBudget *budget, bool weld)
{
    if (format == MeshFormat::Obj)
        return MeshReadObj(path, mesh, info, error, budget);
    *mesh = MeshData();
    auto fail = [&](const std::string &what) {
        if (error)
            *error = what;
        return false;
    };
    if (format == MeshFormat::Unknown)
        return fail(path + ": unknown mesh format");
    std::string bytes;
    if (!MeshReadWholeFile(path, &bytes, error))
        return false;
    return MeshReadBytes(bytes, path, format, mesh, info, error, budget, weld);
}

std::string MeshReadNote(const std::string &name, const MeshReadInfo &info)
{
    std::string note;
    if (info.welded > 0)
        note = name + ": " + std::to_string(info.welded) +
               " corners at the position of an earlier one welded to it";
    if (info.collapsed > 0)
        note += std::string(note.empty() ? name + ": " : "; ") + std::to_string(info.collapsed) +
                (info.collapsed == 1 ? " polygon" : " polygons") +
                " left with fewer than three points by the weld dropped";
    return note;
}

bool MeshFileBytes(const MeshData &mesh, MeshFormat format, const std::string &name, std::string *out,
                   std::string *error, std::string *note)
{
    long long cut = 0, triangles = 0;
    bool ok = true;
    out->clear();
    // STL and glTF hold float32: a coordinate past its range would be written
    // as an infinity no reader takes back.
    if (format == MeshFormat::Stl || format == MeshFormat::Gltf || format == MeshFormat::Glb) {
        for (size_t i = 0; i < mesh.points.size(); i++) {
            const auto &p = mesh.points[i];
            if (!FitsFloat32(p[0]) || !FitsFloat32(p[1]) || !FitsFloat32(p[2])) {
                if (error)
                    *error = name + ": point " + std::to_string(i + 1) + " has a coordinate that " +
                             MeshFormatLabel(format) + "'s float32 numbers cannot hold";
                return false;
            }
        }
    }
    switch (format) {
    case MeshFormat::Obj: *out = MeshObjText(mesh); break;
    case MeshFormat::Ply: ok = PlyBytes(mesh, name, out, error); break;
    case MeshFormat::Off: *out = OffText(mesh); break;
    case MeshFormat::Stl: StlBytes(mesh, out, &cut, &triangles); break;
    case MeshFormat::Gltf: ok = GltfBytes(mesh, false, name, out, error, &cut, &triangles); break;
    case MeshFormat::Glb: ok = GltfBytes(mesh, true, name, out, error, &cut, &triangles); break;
    case MeshFormat::Unknown:
        ok = false;
        if (error)
            *error = name + ": unknown mesh format";
        break;
    }
    if (note)
        *note = ok ? CutNote(cut, triangles) : std::string();
    if (!ok)
        out->clear();
    return ok;
}

bool MeshWriteFile(const std::string &path, MeshFormat format, const MeshData &mesh, std::string *error,
                   int *errorNumber, std::string *note)
{
    if (errorNumber)
        *errorNumber = 0;
    std::string bytes;
    // Made before the file is opened, so that a mesh the format cannot hold
    // leaves nothing behind.
    if (!MeshFileBytes(mesh, format, path, &bytes, error, note)) {
        if (errorNumber)
            *errorNumber = EINVAL;
        return false;
    }
    AtomicFile file;
    const bool ok = AtomicFileOpen(path, &file, error) && AtomicFileWrite(&file, bytes, error) &&
                    AtomicFileCommit(&file, error);
    if (errorNumber)
        *errorNumber = ok ? 0 : file.errorNumber;
    return ok;
}

// ---- weld -------------------------------------------------------------------

size_t PointWeld::KeyHash::operator()(const Key &k) const
{
    uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (uint64_t b : k.bits) {
        h ^= b + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h *= 0xff51afd7ed558ccdULL;
    }
    return (size_t)(h ^ (h >> 33));
}

int PointWeldAdd(PointWeld *weld, double x, double y, double z)
{
    PointWeld::Key key;
    const double v[3] = {x + 0.0, y + 0.0, z + 0.0};  // -0 + 0 is +0
    for (int k = 0; k < 3; k++)
        std::memcpy(&key.bits[k], &v[k], sizeof(double));
    weld->corners++;
    if (!weld->weld) {
        weld->mesh->points.push_back({v[0], v[1], v[2]});
        return (int)weld->mesh->points.size() - 1;
    }
    auto it = weld->index.emplace(key, (int)weld->mesh->points.size());
    if (it.second)
        weld->mesh->points.push_back({v[0], v[1], v[2]});
    return it.first->second;
}

void PointWeldTriangle(MeshData *mesh, int a, int b, int c, int surface, MeshReadInfo *info)
{
    if (a == b || b == c || c == a) {
        info->collapsed++;
        return;
    }
    MeshAddPoly(mesh, {a, b, c}, surface);
}

double RoundToFloat(double value)
{
    return (float)value;
}

// ---- triangulation ------------------------------------------------------------

namespace {

// Twice the signed area of a b c in the projection plane.
double Cross2(const double a[2], const double b[2], const double c[2])
{
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

// The Newell normal of the triangle a b c as STL and glTF write it, with
// float32 corners.
void WrittenNormal(const MeshData &mesh, int a, int b, int c, double n[3])
{
    const int v[3] = {a, b, c};
    double corner[3][3];
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 3; k++)
            corner[i][k] = RoundToFloat(mesh.points[(size_t)v[i]][(size_t)k]);
    n[0] = n[1] = n[2] = 0.0;
    for (int i = 0; i < 3; i++) {
        const double *p = corner[i];
        const double *q = corner[(i + 1) % 3];
        n[0] += (p[1] - q[1]) * (p[2] + q[2]);
        n[1] += (p[2] - q[2]) * (p[0] + q[0]);
        n[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
}

bool FlatTriangle(const MeshData &mesh, int a, int b, int c)
{
    double n[3];
    WrittenNormal(mesh, a, b, c, n);
    return n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0;
}

double SquaredLength(const MeshData &mesh, int a, int b)
{
    const auto &p = mesh.points[(size_t)a];
    const auto &q = mesh.points[(size_t)b];
    return (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) + (p[2] - q[2]) * (p[2] - q[2]);
}

// Turns the triangle at i (flat) and the one at j across its edge from
// x to y: x y m and y x d, whose union runs x d y m, become y m d and m x d,
// which split it along m-d instead, with the same outline and so the same
// area between them. Only when neither new triangle is flat.
bool Turn(const MeshData &mesh, std::vector<int> &t, size_t i, size_t j, int x, int y, int m, int d)
{
    if (FlatTriangle(mesh, y, m, d) || FlatTriangle(mesh, m, x, d))
        return false;
    t[i] = y, t[i + 1] = m, t[i + 2] = d;
    t[j] = m, t[j + 1] = x, t[j + 2] = d;
    return true;
}

// A polygon with area can still be cut into a triangle of none, as written:
// a point on (or, in float32, at) the line between two others, as in a
// folded polygon past the safe size. Such a triangle is turned with a
// neighbour of the same polygon across one of its edges, the longest first:
//
//          d                 d
//         / \               /|\   .
//        /   \     ->      / | \  .
//       x--m--y           x--m--y
//
// The turns stop when no flat triangle can be turned, or after as many as
// there are triangles.
void TurnFlatTriangles(const MeshData &mesh, std::vector<int> *triangles, size_t start)
{
    std::vector<int> &t = *triangles;
    const size_t count = (t.size() - start) / 3;
    for (size_t round = 0; round < count; round++) {
        bool turned = false;
        for (size_t i = start; i < t.size() && !turned; i += 3) {
            if (!FlatTriangle(mesh, t[i], t[i + 1], t[i + 2]))
                continue;
            // Its edges, longest first.
            int order[3] = {0, 1, 2};
            double length[3];
            for (int k = 0; k < 3; k++)
                length[k] = SquaredLength(mesh, t[i + (size_t)k], t[i + (size_t)(k + 1) % 3]);
            std::sort(order, order + 3, [&](int p, int q) { return length[p] > length[q]; });
            for (int o = 0; o < 3 && !turned; o++) {
                const int e = order[o];
                const int x = t[i + (size_t)e], y = t[i + (size_t)(e + 1) % 3],
                          m = t[i + (size_t)(e + 2) % 3];
                for (size_t j = start; j < t.size() && !turned; j += 3) {
                    for (int k = 0; k < 3 && !turned; k++) {
                        if (j != i && t[j + (size_t)k] == y && t[j + (size_t)(k + 1) % 3] == x)
                            turned = Turn(mesh, t, i, j, x, y, m, t[j + (size_t)(k + 2) % 3]);
                    }
                }
            }
        }
        if (!turned)
            return;
    }
}

void EarClip(const MeshData &mesh, MeshPointSpan poly, std::vector<int> *triangles);

}  // namespace

void MeshTriangulate(const MeshData &mesh, MeshPointSpan poly, std::vector<int> *triangles)
{
    const size_t n = poly.size();
    if (n < 3)
        return;
    if (n == 3) {
        triangles->insert(triangles->end(), poly.begin(), poly.end());
        return;
    }
    const size_t start = triangles->size();
    EarClip(mesh, poly, triangles);
    TurnFlatTriangles(mesh, triangles, start);
}

namespace {

// Ears cut in the polygon's own plane (see MeshTriangulate).
void EarClip(const MeshData &mesh, MeshPointSpan poly, std::vector<int> *triangles)
{
    const size_t n = poly.size();
    // Project onto the axis plane the Newell normal is closest to, oriented
    // so that the polygon winds counter-clockwise there.
    double normal[3] = {0, 0, 0};
    for (size_t i = 0; i < n; i++) {
        const auto &p = mesh.points[(size_t)poly[i]];
        const auto &q = mesh.points[(size_t)poly[(i + 1) % n]];
        normal[0] += (p[1] - q[1]) * (p[2] + q[2]);
        normal[1] += (p[2] - q[2]) * (p[0] + q[0]);
        normal[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    int drop = 0;
    for (int k = 1; k < 3; k++)
        if (std::fabs(normal[k]) > std::fabs(normal[drop]))
            drop = k;
    const int u = (drop + 1) % 3, v = (drop + 2) % 3;
    const double flip = normal[drop] < 0 ? -1.0 : 1.0;
    std::vector<std::array<double, 2>> flat(n);
    for (size_t i = 0; i < n; i++) {
        const auto &p = mesh.points[(size_t)poly[i]];
        flat[i] = {p[(size_t)u], p[(size_t)v] * flip};
    }

    std::vector<size_t> left(n);
    for (size_t i = 0; i < n; i++)
        left[i] = i;
    auto emit = [&](size_t a, size_t b, size_t c) {
        triangles->push_back(poly[a]);
        triangles->push_back(poly[b]);
        triangles->push_back(poly[c]);
    };
    // The search for the next ear goes on from the last one cut, so that a
    // polygon of n points takes about n^2 tests rather than n^3.
    size_t from = 0;
    while (left.size() > 3) {
        const size_t m = left.size();
        bool cut = false;
        for (size_t step = 0; step < m && !cut; step++) {
            const size_t i = (from + step) % m;
            const size_t a = left[(i + m - 1) % m], b = left[i], c = left[(i + 1) % m];
            if (Cross2(flat[a].data(), flat[b].data(), flat[c].data()) <= 0.0)
                continue;  // reflex or flat: not an ear
            bool empty = true;
            for (size_t j = 0; j < m && empty; j++) {
                const size_t p = left[j];
                if (p == a || p == b || p == c)
                    continue;
                // on the boundary counts as inside: a point there would be
                // left on the new edge
                if (Cross2(flat[a].data(), flat[b].data(), flat[p].data()) >= 0.0 &&
                    Cross2(flat[b].data(), flat[c].data(), flat[p].data()) >= 0.0 &&
                    Cross2(flat[c].data(), flat[a].data(), flat[p].data()) >= 0.0)
                    empty = false;
            }
            if (!empty)
                continue;
            emit(a, b, c);
            left.erase(left.begin() + (long)i);
            from = i == 0 ? 0 : i - 1;
            cut = true;
        }
        if (!cut) {
            // No ear: the rest is folded or has no area. A fan keeps every
            // edge of the outline.
            for (size_t i = 1; i + 1 < left.size(); i++)
                emit(left[0], left[i], left[i + 1]);
            return;
        }
    }
    emit(left[0], left[1], left[2]);
}

}  // namespace

std::string CutNote(long long cut, long long triangles)
{
    if (cut == 0)
        return std::string();
    return std::to_string(cut) + (cut == 1 ? " polygon" : " polygons") + " of 4 or more points written as " +
           std::to_string(triangles) + " triangles";
}
