// Mesh files: reading and writing Wavefront OBJ with the polygon topology kept
// exactly (one point per `v` line, polygons in file order with their own
// vertex order, n-gons kept, nothing triangulated or merged), writing files
// atomically, and the counts the command-line program reports.
#ifndef CORVANE_MESHIO_H
#define CORVANE_MESHIO_H

#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "meshdata/meshdata.h"

// What a read found besides the mesh.
struct MeshReadInfo {
    int texcoords = 0;        // `vt` lines read (not carried into the mesh)
    int normals = 0;          // `vn` lines read (not carried into the mesh)
    int ignoredElements = 0;  // `l`, `p` and free-form statements skipped
    int welded = 0;           // corners merged into a point at the same position
    int collapsed = 0;        // polygons (STL and glTF: triangles) dropped
                              // because welding left them fewer than three points
    int groupings = 0;        // `o`, `g` and `s` statements skipped
};

// What one file may make at most. Every reader checks the counts a file
// gives (and what it makes while reading) against it before it allocates
// for them, so that a small file cannot ask for much memory: a glTF whose
// nodes use one mesh many times, a PLY or OFF that announces many faces, a
// surface name repeated over every polygon. The defaults take a mesh of
// over 100 million corners; a count past one refuses the file with a
// message naming it.
struct MeshBudget {
    long long corners = 1LL << 27;  // polygon corners, over all polygons
    long long points = 1LL << 27;   // points (STL and glTF: corners before the weld)
    long long polygons = 1LL << 27;
    long long nameBytes = 1LL << 30;  // surface name bytes, each distinct name counted once
    long long nameLength = 4096;      // the longest surface name, in bytes
};
// The default budget with at most `corners` corners, points and polygons.
MeshBudget MeshBudgetForCorners(long long corners);

// Reads the OBJ file at `path` into *mesh. Polygons take the name of the last
// `usemtl` before them as their surface, "Default" before any; `mtllib`
// statements are kept as they are written. A UTF-8 byte-order mark is
// skipped, and a comment may end a `v`, `vt`, `vn` or `f` line. Coordinates
// read back exactly what the text says (correctly rounded). On failure
// returns false, leaves *mesh empty and sets *error to "FILE:LINE: what is
// wrong" (or "FILE: what is wrong" when the file cannot be read at all).
// Counts past `budget` (the default one when null) are refused.
bool MeshReadObj(const std::string &path, MeshData *mesh, MeshReadInfo *info, std::string *error,
                 const MeshBudget *budget = nullptr);
// The whole file at `path` into `bytes`, in one piece the size of the file
// when the file tells its size (no growing copies of a large mesh file);
// false with an error naming the path otherwise.
bool MeshReadWholeFile(const std::string &path, std::string *bytes, std::string *error);
// The same on text held in memory; `name` stands for the file in messages.
bool MeshReadObjText(const std::string &text, const std::string &name, MeshData *mesh, MeshReadInfo *info,
                     std::string *error, const MeshBudget *budget = nullptr);

// The shortest text that reads back to the same double ("0.1", "-2", "1e+20").
std::string MeshFormatDouble(double value);
// Appends a point's three coordinates as MeshFormatDouble writes them,
// separated by spaces, and a line break.
void MeshAppendPointLine(std::string *out, const std::array<double, 3> &p);
// The OBJ text of *mesh: its `mtllib` statements, every point as `v`, then the polygons as `f` with
// 1-based point numbers, a `usemtl` before the first polygon and wherever the
// surface changes. A polygon without a surface name is written as "Default".
std::string MeshObjText(const MeshData &mesh);

// A file written under a temporary name in the target's folder and renamed
// into place, so that readers never see it half-written. An existing regular
// file keeps its mode; a symbolic link is written through to the file it
// names; a folder, device, pipe or socket is refused. Whatever is left open
// is discarded when the record goes.
struct AtomicFile {
    std::string path;      // the name asked for
    std::string target;    // the file finally written: `path` with links followed
    std::string tempPath;  // the name while it is being written
    int fd = -1;
    int errorNumber = 0;  // errno of the last failure, 0 when none applies
    AtomicFile() = default;
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    ~AtomicFile();
};
// Creates the temporary file beside `path`'s target. false with *error on
// failure (an empty path, a NUL in it, a missing folder, a file that is not
// regular).
bool AtomicFileOpen(const std::string &path, AtomicFile *file, std::string *error);
// Appends `data`. false with *error on failure (the file is then discarded).
bool AtomicFileWrite(AtomicFile *file, const std::string &data, std::string *error);
// Flushes to disk and renames into place. false with *error on failure (the
// temporary file is then removed and `path` is left as it was).
bool AtomicFileCommit(AtomicFile *file, std::string *error);
// Closes and removes the temporary file; nothing when none is open.
void AtomicFileDiscard(AtomicFile *file);
// The file writing `path` would replace or create (links followed), with its
// lstat in *existing (st_mode 0 when there is none yet). false with a message
// and errno when it may not be written: see AtomicFile. Programs call it
// before long work so that a bad OUTPUT fails first.
bool MeshResolveOutputPath(const std::string &path, std::string *target, struct stat *existing,
                           std::string *error, int *errorNumber = nullptr);
// The `mtllib` statements of *mesh, read from the file `from`, rewritten to
// name each library by its path from the folder of `to`, the OBJ file about
// to be written, so that it is found from there. Returns a note for the
// user when a library cannot be named so (it is not found beside `from`),
// else "". Absolute paths and libraries that are not found stay as written.
std::string MeshMoveMaterialLibraries(MeshData *mesh, const std::string &from, const std::string &to);
// Writes MeshObjText(mesh) to `path` atomically. false with *error (and the
// errno in *errorNumber) on failure; nothing is left behind then.
bool MeshWriteObj(const std::string &path, const MeshData &mesh, std::string *error,
                  int *errorNumber = nullptr);

// Counts over a mesh. Edges are unordered pairs of point indices that follow
// each other in some polygon (the last point closes to the first).
struct MeshStats {
    int points = 0;
    int polygons = 0;
    int triangles = 0;
    int quads = 0;
    int ngons = 0;       // five or more points
    int degenerate = 0;  // fewer than three points
    int edges = 0;
    int borderEdges = 0;                            // used by exactly one polygon
    int crowdedEdges = 0;                           // used by more than two polygons
    std::vector<std::pair<int, int>> firstCrowded;  // the first three of them,
                                                    // by point numbers (from 0)
    int oppositeWindingEdges = 0;                   // used twice in the same direction: the
                                                    // two polygons are wound opposite ways
    int repeatedPointPolys = 0;                     // polygons that hold one point twice, in a
                                                    // row or apart
    int zeroAreaPolys = 0;                          // polygons of three or more points whose Newell
                                                    // normal is the zero vector
};
MeshStats MeshComputeStats(const MeshData &mesh);
// The counts of polygons alone (the edge counts stay 0): a tenth of the cost,
// for a check after every run.
MeshStats MeshComputePolygonStats(const MeshData &mesh);

// The sentence that says what makes a mesh's polygons invalid, e.g. "3
// polygons pass through one point twice, 1 polygon has zero area"; empty
// when every polygon is valid. The program, the viewer and the Python
// module warn in these words.
std::string MeshInvalidPolygonsText(const MeshStats &stats);

// A bevel size up to which every mode leaves each polygon edge a length of
// its own. Chamfering shortens the inset copy of an edge at each end, per
// unit of size: by 1 / sin a where only the neighbouring edge is chamfered
// (the point slides along this edge), by 1 / tan(a / 2) where both are (the
// inset lines cross), by 1 / tan a where only this one is (its end slides
// along the neighbour); a border edge is never chamfered, an angle mode may
// leave any shared edge unchamfered, so each end takes the largest case that
// can occur. An edge of length L meets itself at L over the sum of its two
// ends' shortenings; the safe size is 0.9 times the smallest such size, so
// that at the safe size itself the shortest inset edge keeps a tenth of its
// length. +infinity when no edge is shortened.
double MeshSafeBevelSize(const MeshData &mesh);

// The 0-based indices of the polygons that hold the edge between points `a`
// and `b` (0-based), in either direction, in polygon order.
std::vector<int> MeshPolysWithEdge(const MeshData &mesh, int a, int b);

// ---- other mesh formats ---------------------------------------------------
// PLY (ASCII and binary in either byte order), OFF, STL (ASCII and binary)
// and glTF 2.0 (.gltf with its buffers, .glb) besides OBJ. PLY and OFF keep
// polygons and double coordinates as OBJ does; STL and glTF hold float32
// triangles with every corner its own vertex (STL) or vertices split where
// normals or UVs differ (glTF), so their readers weld corners at bit-equal
// positions into one point (+0 and -0 alike), in first-use order.
enum class MeshFormat { Unknown, Obj, Ply, Off, Stl, Gltf, Glb };

// The format a name gives ("obj", "ply", "off", "stl", "gltf", "glb", any
// case); Unknown for any other.
MeshFormat MeshFormatFromName(const std::string &name);
// The format of `path`'s extension; OBJ for a name without one (as every
// file was read before the other formats came); Unknown for another.
MeshFormat MeshFormatFromPath(const std::string &path);
// The upper-case name: "OBJ", "PLY", "OFF", "STL", "glTF", "GLB".
const char *MeshFormatLabel(MeshFormat format);
// The format for `path`: `given` (a name, as --input-format takes) when not
// empty, else the extension's. false with *error ("PATH: unknown mesh
// format ...") when neither names one.
bool MeshChooseFormat(const std::string &path, const std::string &given, MeshFormat *format,
                      std::string *error);

// Reads a file of `format` held in `data`; `name` stands for the file in
// messages and gives the folder a .gltf's buffer files are looked up in.
// Errors as MeshReadObj's: "NAME:LINE: what" for text, "NAME: byte N: what"
// for binary data, "NAME: what" where no place applies; *mesh is left empty.
// Things are counted from 1 in them, as the writers and the program count;
// an index that is the file's own keeps the file's count and says so.
// A file that would make more than `budget` allows (the default budget when
// null) is refused. With `weld` (the default) STL and glTF corners at one
// position become one point, and so do a PLY's points where its vertex
// element carries per-corner properties (texture coordinates, normals,
// colours), which exporters split points at; without it every point or
// corner the file gives is a point.
bool MeshReadBytes(const std::string &data, const std::string &name, MeshFormat format, MeshData *mesh,
                   MeshReadInfo *info, std::string *error, const MeshBudget *budget = nullptr,
                   bool weld = true);
// Reads the file at `path` (see MeshReadBytes).
bool MeshReadFile(const std::string &path, MeshFormat format, MeshData *mesh, MeshReadInfo *info,
                  std::string *error, const MeshBudget *budget = nullptr, bool weld = true);
// What a read found that the user should know besides the mesh, e.g.
// "in.stl: 36 corners welded into 8 points at equal positions"; empty when
// nothing. The OBJ-only counts (texture coordinates, normals) are not in it.
std::string MeshReadNote(const std::string &name, const MeshReadInfo &info);

// The bytes of *mesh as a file of `format`, in *out. OBJ as MeshObjText;
// PLY binary little-endian with double coordinates; OFF as text with the
// shortest exact numbers; STL binary and glTF with float32 positions, every
// polygon cut into triangles (glTF: one primitive per surface, the surface
// names as material names, each written whole where MeshData::materials
// holds one of that name from a glTF file). *note says when polygons were cut ("6 polygons
// of 4 or more points written as 12 triangles"), else is cleared. false
// with *error ("NAME: what") when the mesh cannot be written so.
bool MeshFileBytes(const MeshData &mesh, MeshFormat format, const std::string &name, std::string *out,
                   std::string *error, std::string *note = nullptr);
// Writes MeshFileBytes(...) to `path` atomically, as MeshWriteObj does.
bool MeshWriteFile(const std::string &path, MeshFormat format, const MeshData &mesh, std::string *error,
                   int *errorNumber = nullptr, std::string *note = nullptr);

#endif
