// The emulated host's mesh: layers of points and polygons, the current host,
// and the activation call a host makes.
#include "host/host.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The services reach the mesh through this: they are plain C functions
// without a context argument.
EmuHost *g_current = nullptr;

LWPntID PointIdOf(size_t index) { return reinterpret_cast<LWPntID>(static_cast<uintptr_t>(index + 1)); }
LWPolID PolyIdOf(size_t index) { return reinterpret_cast<LWPolID>(static_cast<uintptr_t>(index + 1)); }

} // namespace

EmuHost::~EmuHost()
{
    if (g_current == this)
        g_current = nullptr;
}

std::unique_ptr<EmuHost> EmuHostCreate()
{
    return std::make_unique<EmuHost>();
}

std::vector<LWPolID> EmuHostAddMesh(EmuHost *host, int layer, const MeshData &mesh)
{
    // Ids of the mesh's points: its point k becomes host point first + k.
    const size_t first = host->points.size();
    host->points.reserve(first + mesh.points.size());
    for (const auto &p : mesh.points) {
        auto pt = std::make_unique<EmuPoint>();
        std::memset(&pt->info, 0, sizeof pt->info);
        pt->info.pnt = PointIdOf(host->points.size());
        pt->info.position[0] = p[0];
        pt->info.position[1] = p[1];
        pt->info.position[2] = p[2];
        pt->layer = layer;
        host->points.push_back(std::move(pt));
    }
    std::vector<LWPolID> ids;
    ids.reserve(mesh.polys.size());
    host->polys.reserve(host->polys.size() + mesh.polys.size());
    std::vector<LWPntID> corners;
    for (const MeshPoly &mp : mesh.polys) {
        auto poly = std::make_unique<EmuPoly>();
        corners.clear();
        for (int k : mp.points) {
            assert(k >= 0 && static_cast<size_t>(k) < mesh.points.size());
            corners.push_back(PointIdOf(first + static_cast<size_t>(k)));
        }
        std::memset(&poly->info, 0, sizeof poly->info);
        poly->info.pol = PolyIdOf(host->polys.size());
        poly->info.flags = mp.selected ? HOST_POLY_SELECTED : 0;
        EmuPolySetPoints(host, poly.get(), corners.data(), corners.size());
        EmuPolySetSurface(host, poly.get(), mp.hasSurface ? mp.surface.data() : nullptr, mp.surface.size());
        poly->layer = layer;
        ids.push_back(poly->info.pol);
        host->polys.push_back(std::move(poly));
    }
    return ids;
}

void EmuPolySetPoints(EmuHost *host, EmuPoly *poly, const LWPntID *points, size_t count)
{
    EmuCornerStore &store = host->corners;
    if (count > store.left) {
        const size_t room = count > 65536 ? count : 65536;
        store.blocks.push_back(std::make_unique<LWPntID[]>(room));
        store.cursor = store.blocks.back().get();
        store.left = room;
    }
    LWPntID *copy = store.cursor;
    std::copy(points, points + count, copy);
    store.cursor += count;
    store.left -= count;
    poly->points = EmuPointList{copy, count};
    poly->info.numPnts = static_cast<HostWord>(count);
    poly->info.points = copy;
}

void EmuPolySetSurface(EmuHost *host, EmuPoly *poly, const char *surface, size_t length)
{
    poly->hasSurface = surface != nullptr;
    if (surface == nullptr) {
        poly->surface = std::string_view();
        poly->info.surface = nullptr;
        return;
    }
    // Looked up before it is inserted: an insertion makes its node first, an
    // allocation per polygon for a name the table almost always has.
    std::string key(surface, length);
    auto found = host->names.find(key);
    if (found == host->names.end())
        found = host->names.insert(std::move(key)).first;
    const std::string &name = *found;
    poly->surface = name;
    poly->info.surface = name.c_str();
}

void EmuHostMakeCurrent(EmuHost *host)
{
    g_current = host;
}

EmuHost *EmuHostCurrent()
{
    return g_current;
}

int EmuHostRun(EmuHost *host, HostActivateFunc *activate, void *serverData)
{
    EmuHostMakeCurrent(host);
    // The local argument is the edit begin function itself, handed over as a
    // plain pointer the way the host passes it.
    return activate(HOST_INTERFACE_VERSION, EmuGlobal, reinterpret_cast<void *>(&EmuEditBegin),
                    serverData);
}

MeshData EmuHostLayerMesh(const EmuHost *host, int layer)
{
    // A point belongs to the result when it lies in the layer or when a
    // polygon of the layer uses it (a face may stand on points of another
    // layer); either way the points keep their id order.
    std::vector<int> index(host->points.size(), -1);
    for (size_t k = 0; k < host->points.size(); ++k) {
        const EmuPoint &p = *host->points[k];
        if (p.alive && p.layer == layer)
            index[k] = 0;
    }
    for (const auto &poly : host->polys) {
        if (!poly->alive || poly->layer != layer)
            continue;
        for (LWPntID id : poly->points)
            index[reinterpret_cast<uintptr_t>(id) - 1] = 0;
    }
    MeshData mesh;
    size_t points = 0, polys = 0;
    for (size_t k = 0; k < host->points.size(); ++k)
        points += index[k] < 0 ? 0 : 1;
    for (const auto &poly : host->polys)
        polys += poly->alive && poly->layer == layer ? 1 : 0;
    mesh.points.reserve(points);
    mesh.polys.reserve(polys);
    for (size_t k = 0; k < host->points.size(); ++k) {
        if (index[k] < 0)
            continue;
        index[k] = static_cast<int>(mesh.points.size());
        const double *pos = host->points[k]->info.position;
        mesh.points.push_back({pos[0], pos[1], pos[2]});
    }
    for (const auto &poly : host->polys) {
        if (!poly->alive || poly->layer != layer)
            continue;
        MeshPoly mp;
        mp.points.reserve(poly->points.size());
        for (LWPntID id : poly->points)
            mp.points.push_back(index[reinterpret_cast<uintptr_t>(id) - 1]);
        mp.surface = poly->surface;
        mp.hasSurface = poly->hasSurface;
        mp.selected = (poly->info.flags & HOST_POLY_SELECTED) != 0;
        mesh.polys.push_back(std::move(mp));
    }
    return mesh;
}

bool EmuNewellNormal(const EmuHost *host, const LWPntID *points, size_t count, double out[3])
{
    const size_t n = count;
    if (n < 3)
        return false;
    // Newell's sums over the closed outline, edge i -> i + 1 in vertex order.
    double nx = 0.0, ny = 0.0, nz = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(points[i]);
        const uintptr_t b = reinterpret_cast<uintptr_t>(points[(i + 1) % n]);
        if (a == 0 || a > host->points.size() || b == 0 || b > host->points.size())
            return false;
        const double *p = host->points[a - 1]->info.position;
        const double *q = host->points[b - 1]->info.position;
        nx += (p[1] - q[1]) * (p[2] + q[2]);
        ny += (p[2] - q[2]) * (p[0] + q[0]);
        nz += (p[0] - q[0]) * (p[1] + q[1]);
    }
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(len > 0.0))
        return false;
    out[0] = nx / len;
    out[1] = ny / len;
    out[2] = nz / len;
    return true;
}
