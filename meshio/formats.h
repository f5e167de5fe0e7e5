// What the readers and writers of the formats other than OBJ share: the
// weld of float32 corners into points, the cut of polygons into triangles,
// and each format's own entry points, which meshio/format.cpp dispatches to.
// Private to meshio.
#ifndef CORVANE_MESHIO_FORMATS_H
#define CORVANE_MESHIO_FORMATS_H

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "meshio/meshio.h"

// Points by exact position: the first corner at a position makes its point,
// later ones there get the same index. +0 and -0 are one position.
struct PointWeld {
    struct Key {
        uint64_t bits[3];
        bool operator==(const Key &o) const
        {
            return bits[0] == o.bits[0] && bits[1] == o.bits[1] && bits[2] == o.bits[2];
        }
    };
    struct KeyHash {
        size_t operator()(const Key &k) const;
    };
    MeshData *mesh = nullptr;
    bool weld = true;  // false: every position given makes a point of its own
    std::unordered_map<Key, int, KeyHash> index;
    long long corners = 0;  // positions given to PointWeldAdd
};
// The point at (x, y, z), appended to the mesh when it is new.
int PointWeldAdd(PointWeld *weld, double x, double y, double z);
// Appends the triangle a b c to the mesh with surface index `surface`, unless two of its
// corners were welded into one point: then it is counted in info->collapsed.
void PointWeldTriangle(MeshData *mesh, int a, int b, int c, int surface, MeshReadInfo *info);

// `value` rounded to the nearest float32. Out of line on purpose: GCC 12.2 at
// -O2 vectorizes a loop of `q[k] = (float)x[k]` into double storage
// without the rounding (seen with three coordinates into a std::array).
double RoundToFloat(double value);
// Whether `value` rounds to a finite float32 (a little past FLT_MAX is
// refused too, which no mesh misses).
inline bool FitsFloat32(double value)
{
    return std::fabs(value) <= FLT_MAX;
}

// Cuts `poly` into triangles of the same winding, appended to *triangles as
// point index triples: ears cut in the polygon's own plane, so that concave
// polygons keep their outline; a polygon whose points leave no ear (folded
// or degenerate) is fanned from its first point.
void MeshTriangulate(const MeshData &mesh, MeshPointSpan poly, std::vector<int> *triangles);
// The sentence MeshFileBytes leaves in its note for `cut` polygons written
// as `triangles` triangles; empty when none was cut.
std::string CutNote(long long cut, long long triangles);

// What a file would make past `budget`, as the end of a message ("more than
// the 1000 polygon corners a file may make ..."); empty while within it.
std::string BudgetFault(const MeshBudget &budget, long long corners, long long points, long long polygons,
                        long long nameBytes);
// The same for one surface name of `length` bytes.
std::string NameFault(const MeshBudget &budget, size_t length);

// `weld`: whether points at one position are welded (see MeshReadBytes).
bool ReadPly(const std::string &data, const std::string &name, bool weld, MeshData *mesh, MeshReadInfo *info,
             std::string *error, const MeshBudget &budget);
bool ReadOff(const std::string &data, const std::string &name, MeshData *mesh, MeshReadInfo *info,
             std::string *error, const MeshBudget &budget);
bool ReadStl(const std::string &data, const std::string &name, bool weld, MeshData *mesh, MeshReadInfo *info,
             std::string *error, const MeshBudget &budget);
bool ReadGltf(const std::string &data, const std::string &name, bool binary, bool weld, MeshData *mesh,
              MeshReadInfo *info, std::string *error, const MeshBudget &budget);

bool PlyBytes(const MeshData &mesh, const std::string &name, std::string *out, std::string *error);
std::string OffText(const MeshData &mesh);
// The triangles written and the polygons cut are counted in *cut/*triangles.
void StlBytes(const MeshData &mesh, std::string *out, long long *cut, long long *triangles);
bool GltfBytes(const MeshData &mesh, bool binary, const std::string &name, std::string *out,
               std::string *error, long long *cut, long long *triangles);

#endif
