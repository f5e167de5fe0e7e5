// The output model: every point and polygon an activation makes is gathered
// here by index and committed to the host once, by BufModelFlush, which also
// welds coincident points. The host's side, the edit operation the flush
// commits through and its monitor, comes with the services of
// edit/services.h.
//
// A model holds at most `recordLimit` points and as many polygons: the host
// module keeps the 65536 its hosts were written for, and a build for the
// programs around it sets a larger one. The tables of record pointers grow
// with the records they hold.
#ifndef CORVANE_BUFMODEL_H
#define CORVANE_BUFMODEL_H

#include <stddef.h>
#include <stdint.h>

#include "edit/services.h"
#include "hostapi/hostapi.h"
#include "vecmath/vecmath.h"

// The host module's limit, and the one a model takes when none is set.
enum { BUFMODEL_MAX_POINTS = 65536, BUFMODEL_MAX_POLYS = 65536 };

struct BufPoint {
    LWPntID hostId;  // 0: not in the host yet; the flush creates it if used
    Vec3 position;
    uint8_t used;  // 0 or 255, meaningful only during the flush
};

struct BufPoly {
    LWPolID hostId;       // 0 until the flush commits the polygon
    int32_t count;        // vertex count, at least 3 (0 once the flush dropped it)
    LWPntID *hostPoints;  // per vertex; 0 takes the buffered point's host id
    int32_t *points;      // per vertex BufModel point index
    char *surface;        // owned copy, or null
    Vec3 centroid;        // mean of the vertex positions when last given
    Vec3 normal;          // unit normal from the first three vertices
};

// A run of record memory; the records, vertex arrays and names of a model
// are carved from a chain of these and all go back together.
struct BufBlock;

struct BufModel {
    int32_t pointCount;
    int32_t pointRoom;  // slots the point table has
    BufPoint **pointTable;
    int32_t polyCount;
    int32_t polyRoom;
    BufPoly **polyTable;
    // Points and polygons a model may hold; 0 until BufModelInit sets the
    // default, and the activation may then set another.
    int32_t recordLimit;
    Vec3 boxMax;
    Vec3 boxMin;
    // Number of adds refused because a table was full. The activation reads
    // it to end the edit without change instead of committing a part-built
    // mesh; the passes themselves never test their adds.
    int32_t refusedAdds;
    // Of those, the adds refused for want of memory rather than room: the
    // activation tells the user which of the two it was.
    int32_t refusedForMemory;
    // Record memory: the blocks handed out so far, and the free tail of the
    // newest block of each lane (0: points, 1: polygons and their arrays).
    // A polygon is re-shaped by carving new arrays; the old ones stay in
    // their block until the model is flushed or released.
    BufBlock *blocks;
    char *blockCursor[2];
    size_t blockLeft[2];
};

// Empties both tables and zeroes refusedAdds; -1 for a null model. The box
// is not touched. The model is zeroed memory or one released before; a limit
// of 0 becomes BUFMODEL_MAX_POINTS, a limit already set stays.
int BufModelInit(BufModel *model);
// Adds a point (host id 0) and widens the bounding box. New index, or -1 when
// the model is null, allocation fails or the limit is held.
int BufModelAddPoint(BufModel *model, const Vec3 *position);
// Adds a polygon over existing point indices; copies the name. New index, or
// -1 for count < 3, null indices, allocation failure or the limit held.
int BufModelAddPoly(BufModel *model, const char *surface, int count, const int32_t *points);
// BufModelAddPoly without the centroid and normal (both left (0, 0, 0)), for
// polygons whose shape nothing reads again.
int BufModelAddFace(BufModel *model, const char *surface, int count, const int32_t *points);
// Re-shapes polygon `poly`: new vertex list (host ids 0, centroid and normal
// recomputed) when `points` is given, new name when `surface` is given.
// Returns poly, or -1: for a polygon index not held, a vertex list of fewer
// than three, or no memory (see the .cpp for partial application).
int BufModelSetPoly(BufModel *model, const char *surface, int count, const int32_t *points, int poly);
// Puts one more vertex (point index and host id) into polygon `poly` before
// its vertex `at` (at its end for `at` = count); centroid and normal stay
// as they were. Returns poly, or -1 for a polygon or place not held, or no
// memory (nothing changes then).
int BufModelInsertVertex(BufModel *model, int poly, int at, int32_t point, LWPntID host);
// Record references, or null when the model is null or the index out of range.
BufPoint *BufModelGetPoint(BufModel *model, int index);
BufPoly *BufModelGetPoly(BufModel *model, int index);
// The position of point `index`; (0, 0, 0) where BufModelGetPoint gives
// null, so that a bad index cannot reach memory.
Vec3 BufModelPointPosition(BufModel *model, int index);
// Welds the model, creates the used points with the services' addPoint,
// commits every polygon with addFace under the "BufModel Flush" monitor and
// releases every record. 0, also after an abort; -1 for a null model or
// services record.
int BufModelFlush(BufModel *model, EditServices *services);

// Releases every record and both tables without committing anything (the
// model is then spent, as after a flush). Used when a result must not reach the host.
void BufModelRelease(BufModel *model);
// Gives back the blocks the records were carved from (BufModelRelease and
// the flush do it; the slots are left as they are).
void BufModelFreeBlocks(BufModel *model);

// How far the weld reaches in a model whose box runs from boxMin to
// boxMax: points nearer than this become one. Passes that must keep points
// apart (the caps' cuts) judge with the same figure.
inline double BufModelWeldReach(const Vec3 &boxMin, const Vec3 &boxMax)
{
    return VecLength(VecSub(boxMin, boxMax)) * (1.0 / 65536);
}

// Inner steps of the flush, exposed for tests only. BufModelSettleWeld ends
// the weld: given each point's nearest lower point within the tolerance and
// the lowest point of its chain of such points (the point itself when
// there is none), it moves the vertices to one or the other (see
// bufmodel/mend.cpp). BufModelMend, between
// the weld and the marks, splits a polygon that passes through one point
// twice into its lobes (further lobes are added after the last polygon)
// and leaves a polygon with no lobe of three points empty (count 0), which
// the flush does not commit.
void BufModelWeld(BufModel *model);
// The weld's two targets for points pos[0 .. n - 1] under `tolerance`:
// nearest[k] the lowest j < k within it (k when none), chain[k] the lowest
// point of k's chain; the arrays are the caller's, n long.
void BufModelWeldTargets(int n, const Vec3 *pos, double tolerance, int32_t *nearest, int32_t *chain);
void BufModelSettleWeld(BufModel *model, const int32_t *nearest, const int32_t *chain);
void BufModelMend(BufModel *model);
// The polygons that pass through points twice before the weld, and only
// along slits (an edge run both ways, no point twice in a row), one byte
// each (1: it does), for BufModelMendKeeping; null without memory.
// BufModelMendKeeping is BufModelMend leaving alone the first `kept`
// polygons that `keep` marks (it may be null): a polygon the input gave
// with a slit is written as it was, and only what the weld pinched is cut.
unsigned char *BufModelMarkRepeats(const BufModel *model);
void BufModelMendKeeping(BufModel *model, const unsigned char *keep, int kept);
void BufModelMarkUsed(BufModel *model);

// Reverses points[0 .. count - 1] in place: the same ring wound the other
// way, as the patches and caps are wound against the walk that found them.
void BufModelReverseRing(int32_t *points, int count);

#endif
