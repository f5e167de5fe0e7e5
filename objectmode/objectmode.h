// Object mode: the whole background object is rebuilt with its shared edges
// chamfered. The passes run in this order: GetPolyInfo (survey), LineList and
// LineInfo (edge records), MakeLineCorvanePoly (strips), PointCorvane
// (corner patches). OffsetEdgePoints is also used by the two-polygon mode.
#ifndef CORVANE_OBJECTMODE_H
#define CORVANE_OBJECTMODE_H

#include <stdint.h>

#include "bufmodel/bufmodel.h"
#include "context/context.h"
#include "hostapi/hostapi.h"
#include "options/options.h"
#include "records/records.h"
#include "vecmath/vecmath.h"

// ---- survey -------------------------------------------------------------

// Zeroes the first six fields (and the surveyed mark) of the first `count`
// records; centroid, surface and normal are left.
void ClearPolyInfo(int count, PolyInfo *records);
// Copies polygon k of `ids` into the model with points of its own, filling
// records[k]. Stops at a monitor abort; the rest stay unsurveyed.
void GetPolyInfo(EditContext *ctx, int count, LWPolID *ids, PolyInfo *records);
// Releases the three arrays of each of the first `count` records.
void FreePolyInfo(int count, PolyInfo *records);

// ---- edge records -------------------------------------------------------

// Writes info->count edge records for one polygon (count > 2) into `out`.
void LineList(const PolyInfo *info, LineInfo *out);
// What is known of the edge records' runs (see LineInfoPassRuns).
enum {
    EDGE_RUNS_UNKNOWN = 0,
    EDGE_RUNS_WELL_FORMED = 1,  // each polygon's records are one run of its own
    EDGE_RUNS_LINKED = 2        // and already carry their links
};
// The LineList pass: reads the surveyed records; allocates the edge array
// (one record per surveyed corner) into *edges and fills it for every
// surveyed, accepted polygon; returns the edge count m. Tells in *runs (when
// given) what it knows of the runs it wrote; where it can (EDGE_RUNS_LINKED)
// it writes the records with their links. An abort leaves the polygons
// before it listed.
int LineListPassRuns(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges, int *runs);
// The LineInfo pass: links each edge to the vertex before it and after it
// within its polygon, given what LineListPassRuns told of the runs
// (EDGE_RUNS_UNKNOWN for any records). An abort leaves the records before
// it linked.
void LineInfoPassRuns(EditContext *ctx, int m, LineInfo *edges, int runs);

// ---- edge offset --------------------------------------------------------

// The vector along Y that moves the line of X in by `size` (see the .cpp).
Vec3 CornerOffset(const Vec3 &x, const Vec3 &y, const Vec3 &n, double size);
// *alongY = CornerOffset(x, y, n, size) and *alongX = CornerOffset(y, x, n,
// size), bit for bit, for about the cost of one of them.
void CornerOffsetPair(const Vec3 &x, const Vec3 &y, const Vec3 &n, double size, Vec3 *alongY, Vec3 *alongX);
// Moves the copy's points a and b of `edge` so the edge moves into its polygon
// by `size`; both points get host id 0.
void OffsetEdgePoints(EditContext *ctx, const LineInfo *edge, double size);
// The same with end a (pinA) or end b (pinB) kept where it is: the end of an
// edge that runs on along a crowded edge (see the strips), which the copies
// of all its polygons keep, so that the crowded edge stays as it was.
void OffsetEdgePointsPinned(EditContext *ctx, const LineInfo *edge, double size, int pinA, int pinB);
// The parts of OffsetEdgePoints that the strips also use apart: the normal
// the moves are computed against (the host's normal of the polygon, or (0, 0,
// 1) when it gives none), and adding computed moves to the edge's buffered
// ends (both get host id 0). The host answers with the mesh as it was when
// the edit began, so the moves depend on nothing the passes change and may
// be computed ahead.
Vec3 EdgePolyNormal(EditContext *ctx, LWPolID poly);
void MoveEdgePoints(BufModel *model, const LineInfo *edge, const Vec3 &offsetA, const Vec3 &offsetB);

// ---- chamfer strips -----------------------------------------------------

// Reads the m linked edge records and the host's positions; pairs each edge
// with the first later record that runs the other way, cuts both polygons'
// copies back by `size` and adds the strip between them, marking both done.
// An abort leaves the pairs made so far; the rest stay unchamfered. The
// records are found through `shared` (adjacency.h) when it is one of them;
// it may be null.
struct SharedAdjacency;
void MakeLineCorvanePoly(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges, double size);
// The same for the pairs whose angle passes the settings' test only.
void MakeLineCorvanePolyLimited(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges,
                                const Settings *settings);

// ---- corner cut and patches ---------------------------------------------

struct RingPlane {
    int32_t anchor;  // BufModel point index
    Vec3 normal;     // not normalised
};

// Cuts buffered polygon `poly`'s corner at `corner` by the plane: the
// corner's vertex becomes the two points where the polygon's edges cross it.
// Leaves the polygon as it was when it does not cross the plane.
void CutPolyCorner(BufModel *model, const RingPlane *plane, int poly, const Vec3 &corner);
// Adds the patch `ring` (count entries, in its final winding) as one
// polygon, or, where it comes back to a point the weld makes one, as one
// polygon per lobe.
void AddPatchPolygons(BufModel *model, const char *surface, int count, const int32_t *ring);
// The distance within which two buffered positions are one point: the
// flush's weld tolerance, from the box of the points added so far.
double CornerTolerance(const BufModel *model);
// One step of a walk about a source point P: the record by which a polygon
// runs away from P, and its reverse, by which the next polygon arrives.
struct FanStep {
    const LineInfo *leave;
    const LineInfo *back;
};
// Closes the corner at P whose whole fan of n polygons is given, some of its
// edges chamfered and some not, by sharing the copies the strips left (see
// the .cpp). Returns 0, having changed nothing, for a fan it cannot close.
int CloseMixedCorner(EditContext *ctx, const FanStep *fan, int n, LWPntID point);
// The same for a fan that ends at a border: its first polygon arrives at P
// along a border edge, and its last, fan[n - 1] (whose back is null), leaves
// P along one. Returns 0, having changed nothing, for a fan of fewer than
// three polygons, with no chamfered edge, or that it cannot close.
int CloseBorderFan(EditContext *ctx, const FanStep *fan, int n, LWPntID point);
// Closes the corner at P when it is tangled: an edge at P is crowded (three
// or more records run along it), or the polygons about P form two or more
// fans of which one closes on itself and two have chamfered edges (a
// bow-tie). Each fan is closed on its
// own, a crowded edge bounding it as a border does. `leaving` holds the
// records leaving P and `arriving` those arriving at P from the points
// before and after P in those records' polygons, both as indices into
// `edges` in array order. Returns 0, having changed nothing, for a point
// that is not tangled or whose fans it cannot tell (a polygon through P
// twice, an unlinked record): the walks serve it.
int CloseTangledPoint(EditContext *ctx, LWPntID point, const LineInfo *edges, const int32_t *leaving, int nl,
                      const int32_t *arriving, int na);
// Reads the strips' records (done flags, moved copies) and the host point
// list; walks the ring of records about each point and adds the patch that
// closes its corner. An abort leaves the patches of the points before it.
// `shared` as for the strips.
void PointCorvane(EditContext *ctx, SharedAdjacency *shared, const IdList *points, int m, LineInfo *edges);
// The same, trimming with the corner cut where the ring crosses an edge
// left unchamfered by the angle test.
void PointCorvaneLimited(EditContext *ctx, SharedAdjacency *shared, const IdList *points, int m,
                         LineInfo *edges);

#endif
