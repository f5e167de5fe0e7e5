// The emulated host's mesh: layers of points and polygons, the current host,
// and the activation call a host makes.
#include "host/host.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

// The services reach the mesh through this: they are plain C functions
// without a context argument.
EmuHost *g_current = nullptr;

LWPntID PointIdOf(size_t index)
{
    return reinterpret_cast<LWPntID>(static_cast<uintptr_t>(index + 1));
}
LWPolID PolyIdOf(size_t index)
{
    return reinterpret_cast<LWPolID>(static_cast<uintptr_t>(index + 1));
}

// The name in the host's table, added when it is new.
const std::string *InternName(EmuHost *host, std::string_view text)
{
    // Looked up before it is inserted: an insertion makes its node first, an
    // allocation for a name the table almost always has.
    std::string key(text);
    auto found = host->names.find(key);
    if (found == host->names.end())
        found = host->names.insert(std::move(key)).first;
    return &*found;
}

// Gives `poly` the surface `name` (in the host's table), or none for null.
void PointAtName(EmuPoly *poly, const std::string *name)
{
    poly->hasSurface = name != nullptr;
    poly->surface = name ? std::string_view(*name) : std::string_view();
    poly->info.surface = name ? name->c_str() : nullptr;
}

}  // namespace

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
    // The mesh's names go into the host's table once each, not once for
    // each polygon.
    std::vector<const std::string *> names(mesh.surfaces.size());
    for (size_t s = 0; s < names.size(); ++s)
        names[s] = InternName(host, mesh.surfaces[s]);
    const size_t count = MeshPolyCount(mesh);
    std::vector<LWPolID> ids;
    ids.reserve(count);
    host->polys.reserve(host->polys.size() + count);
    std::vector<LWPntID> corners;
    for (size_t i = 0; i < count; ++i) {
        auto poly = std::make_unique<EmuPoly>();
        corners.clear();
        for (int k : MeshPolyPoints(mesh, i)) {
            assert(k >= 0 && static_cast<size_t>(k) < mesh.points.size());
            corners.push_back(PointIdOf(first + static_cast<size_t>(k)));
        }
        std::memset(&poly->info, 0, sizeof poly->info);
        poly->info.pol = PolyIdOf(host->polys.size());
        poly->info.flags = MeshPolySelected(mesh, i) ? HOST_POLY_SELECTED : 0;
        EmuPolySetPoints(host, poly.get(), corners.data(), corners.size());
        const int s = mesh.polySurface[i];
        PointAtName(poly.get(), s == kMeshNoSurface ? nullptr : names[static_cast<size_t>(s)]);
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
    PointAtName(poly, surface ? InternName(host, std::string_view(surface, length)) : nullptr);
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
    return activate(HOST_INTERFACE_VERSION, EmuGlobal, reinterpret_cast<void *>(&EmuEditBegin), serverData);
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
    size_t corners = 0;
    for (const auto &poly : host->polys)
        corners += poly->alive && poly->layer == layer ? poly->points.size() : 0;
    MeshReservePolys(&mesh, polys, corners);
    for (size_t k = 0; k < host->points.size(); ++k) {
        if (index[k] < 0)
            continue;
        index[k] = static_cast<int>(mesh.points.size());
        const double *pos = host->points[k]->info.position;
        mesh.points.push_back({pos[0], pos[1], pos[2]});
    }
    std::unordered_map<const char *, int> surfaceOf;
    for (const auto &poly : host->polys) {
        if (!poly->alive || poly->layer != layer)
            continue;
        for (LWPntID id : poly->points)
            mesh.polyPoints.push_back(index[reinterpret_cast<uintptr_t>(id) - 1]);
        mesh.polyStart.push_back(mesh.polyPoints.size());
        // The host's names are stored once each, so the same name is the
        // same address: the mesh's table is found by address, not by text.
        int surface = kMeshNoSurface;
        if (poly->hasSurface) {
            auto slot = surfaceOf.emplace(poly->surface.data(), static_cast<int>(mesh.surfaces.size()));
            if (slot.second)
                mesh.surfaces.emplace_back(poly->surface);
            surface = slot.first->second;
        }
        mesh.polySurface.push_back(surface);
        mesh.polySelected.push_back((poly->info.flags & HOST_POLY_SELECTED) != 0 ? 1 : 0);
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
