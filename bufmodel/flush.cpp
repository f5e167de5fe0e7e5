// The flush ends a BufModel's life: it welds coincident points, cuts what
// the weld pinched into lobes (bufmodel/mend.cpp), creates the used points
// in the host, commits every polygon under a progress monitor the user may
// abort, and releases every record.
#include "bufmodel/bufmodel.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "edit/services.h"
#include "index/keyindex.h"

// Whether points j < k merge: exactly the comparison of the pairwise weld,
// the snapping difference of the lower point minus the higher one, against
// the tolerance.
static int WithinTolerance(const Vec3 &pj, const Vec3 &pk, double tolerance)
{
    double distance = VecLength(VecSub(pj, pk));
    return distance <= tolerance;
}

// Every vertex (of every polygon, in index order) that refers to point `from`
// is moved to point `to`; host ids are left alone, so vertices that carry one
// commit the same whatever their index says.
static void RedirectVertices(BufModel *model, int32_t from, int32_t to)
{
    for (int p = 0; p < model->polyCount; p++) {
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            if (poly->points[v] == from)
                poly->points[v] = to;
        }
    }
}

// Pair by pair, each point to the lowest point near it; used only when
// there is no memory for the targets.
static void PairwiseWeld(BufModel *model, double tolerance)
{
    for (int j = 0; j < model->pointCount; j++) {
        for (int k = j + 1; k < model->pointCount; k++) {
            if (WithinTolerance(model->pointTable[j]->position, model->pointTable[k]->position, tolerance))
                RedirectVertices(model, k, j);
        }
    }
}

// The points merge in groups: a point joins every point within the
// tolerance of it, and the group takes its lowest index. `group` holds a
// forest whose every link goes to a lower index, so the lowest index of a
// group is its root.
static int32_t GroupRoot(int32_t *group, int32_t k)
{
    while (group[k] != k) {
        group[k] = group[group[k]];
        k = group[k];
    }
    return k;
}

static void JoinGroups(int32_t *group, int32_t a, int32_t b)
{
    a = GroupRoot(group, a);
    b = GroupRoot(group, b);
    if (a < b)
        group[b] = a;
    else if (b < a)
        group[a] = b;
}

// Every pair compared: the definition of both targets, used only when there
// is no memory for the grid (see GridTargets).
static void PairTargets(int n, const Vec3 *pos, double tolerance, int32_t *nearest, int32_t *group)
{
    for (int k = 1; k < n; k++) {
        for (int j = 0; j < k; j++) {
            if (!WithinTolerance(pos[j], pos[k], tolerance))
                continue;
            if (nearest[k] == k)
                nearest[k] = j;
            JoinGroups(group, j, k);
        }
    }
}

static int IsFinite(const Vec3 &p)
{
    // NaN fails every comparison; an infinity minus itself is NaN.
    return p.x - p.x == 0.0 && p.y - p.y == 0.0 && p.z - p.z == 0.0;
}

// The grid. A pair that merges under a finite tolerance is at most the
// tolerance apart in the snapping difference; the exact difference is
// longer by less than 2^-18 of it (each component is snapped by less than
// 2^-20 of the other two), or by less than 2^-536 where the squares in the
// length fall below the normal range. An infinite tolerance (a box whose
// diagonal squared overflows) takes every pair whose snapping difference is
// a number: each sum of two differences times the snapping factor 2^32
// stays finite, so the sums stay below 2^992 and each difference below
// 1.5 * 2^992. Either way, per axis, the coordinates of two points that
// merge differ by at most a reach, and a point's candidates are the points
// of the cells its reach touches.
//
// Cells are a power of two wide, so that a coordinate in cells is the
// coordinate scaled exactly (off by less than 2^-1074 where it underflows):
// flooring it, and it plus and minus the reach, gives the cells to look at,
// and since rounding never reorders two numbers, a point within the reach
// of another is never in a cell outside them, however large the numbers.
// From 2^53 cells on a coordinate in cells is an integer and the next one is
// two cells away, so only points with the very same coordinate can merge
// there: such an axis is keyed by the coordinate itself, which also serves
// where the coordinate in cells overflows (a chamfer far larger than the
// mesh throws points out to 1e308 while the tolerance stays that of the
// input's box).
//
// Cells of at least 32 tolerances keep the reach at a 32nd of a cell, so
// that most points look at their own cell alone (each cell looked up is a
// likely cache miss: with cells of 8 tolerances the weld of a chamfered
// 16,000-quad mesh took half as long again); the points of a mesh are much
// farther apart than a cell (at most 2^-10 of the box diagonal), so a cell
// rarely holds more than the copies of one point.
static const double kCellTolerances = 32.0;
static const double kSmallestCell = 0x1p-500;
static const double kUnderflowReach = 0x1p-510;
static const double kExactCells = 0x1p53;
// Under an infinite tolerance: the reach, its cells, and the span within
// which every pair merges (differences below 2^989 keep every sum below
// 2^990, and the snapping far from overflow).
static const double kInfiniteReach = 0x1p993;
static const double kInfiniteCell = 0x1p998;
static const double kSureMerge = 0x1p989;

// Cell numbers below 2^40 on every axis are packed into the two key words,
// the cell's place in its block of 4 x 4 x 4 cells in the lowest six bits,
// so that the cells about a point share the block's run of slots. Larger
// ones (coordinates' own bits) are mixed instead; two cells that then share
// a key only give each other's points as further candidates, which the
// exact comparison turns down.
static const int kBlockBits = 6;
static const uint64_t kPackedCells = 1ull << 40;
static void MixedKey(uint64_t x, uint64_t y, uint64_t z, uint64_t *k1, uint64_t *k2)
{
    *k1 = x;
    *k2 = y ^ KeyScramble(z);
}

static inline void CellKey(uint64_t x, uint64_t y, uint64_t z, uint64_t *k1, uint64_t *k2)
{
    if ((x | y | z) >= kPackedCells)
        return MixedKey(x, y, z, k1, k2);
    uint64_t within = (x & 3) | ((y & 3) << 2) | ((z & 3) << 4);
    x >>= 2;  // block coordinates, each below 2^38
    y >>= 2;
    z >>= 2;
    *k1 = within | (x << 6) | (y << 44);
    *k2 = (y >> 20) | (z << 18);
}

// The cell of a coordinate in cells (below 2^53 in magnitude).
static int64_t CellOf(double q)
{
    int64_t c = (int64_t)q;
    return (double)c > q ? c - 1 : c;
}

// Fills the finite points' extent; 0 when no point is finite.
static int FiniteExtent(int n, const Vec3 *pos, Vec3 *lo, Vec3 *hi)
{
    int any = 0;
    for (int k = 0; k < n; k++) {
        const Vec3 &p = pos[k];
        if (!IsFinite(p))
            continue;
        if (!any) {
            *lo = p;
            *hi = p;
            any = 1;
            continue;
        }
        if (p.x < lo->x)
            lo->x = p.x;
        if (p.y < lo->y)
            lo->y = p.y;
        if (p.z < lo->z)
            lo->z = p.z;
        if (p.x > hi->x)
            hi->x = p.x;
        if (p.y > hi->y)
            hi->y = p.y;
        if (p.z > hi->z)
            hi->z = p.z;
    }
    return any;
}

namespace {

struct WeldGrid {
    double scale;     // 1 / the cell's width, a power of two
    double reach;     // in cells
    int64_t base[3];  // per axis the lowest finite point's cell, -2^53 at least
    KeyIndex cells;
};

}  // namespace

// The smallest power of two at or above w (a positive normal number).
static double PowerOfTwoAtLeast(double w)
{
    int e;
    double m = frexp(w, &e);
    return m == 0.5 ? w : ldexp(1.0, e);
}

// A coordinate's cell: its number from the axis' base, or past 2^53 cells
// the coordinate's bits. Those bits are above 2^61 (the coordinate is at
// least 2^-447, or negative), beyond every cell number.
static inline uint64_t AxisCell(double c, double q, int64_t base)
{
    if (fabs(q) < kExactCells)
        return (uint64_t)(CellOf(q) - base);
    uint64_t bits;
    memcpy(&bits, &c, sizeof bits);
    return bits;
}

// A point's coordinates in cells, and its cell per axis.
static inline void PointCells(const WeldGrid *grid, const Vec3 &p, double q[3], uint64_t cell[3])
{
    q[0] = p.x * grid->scale;
    q[1] = p.y * grid->scale;
    q[2] = p.z * grid->scale;
    cell[0] = AxisCell(p.x, q[0], grid->base[0]);
    cell[1] = AxisCell(p.y, q[1], grid->base[1]);
    cell[2] = AxisCell(p.z, q[2], grid->base[2]);
}

// Joins point k to every lower point within the tolerance of it, among the
// points of the cells k's reach touches, and gives the lowest of them (k
// when there is none). The points of k's own cell start at `ownFirst`.
static int JoinNear(const Vec3 *pos, const WeldGrid *grid, int k, const double q[3], const uint64_t own[3],
                    int ownFirst, double tolerance, int32_t *group)
{
    int lowest = k;
    uint64_t from[3], to[3];
    for (int a = 0; a < 3; a++) {
        from[a] = to[a] = own[a];
        if (!(fabs(q[a]) < kExactCells))
            continue;
        // No finite point lies below the base cell.
        int64_t low = CellOf(q[a] - grid->reach) - grid->base[a];
        from[a] = low < 0 ? 0 : (uint64_t)low;
        to[a] = (uint64_t)(CellOf(q[a] + grid->reach) - grid->base[a]);
    }
    for (uint64_t cx = from[0]; cx <= to[0]; cx++) {
        for (uint64_t cy = from[1]; cy <= to[1]; cy++) {
            for (uint64_t cz = from[2]; cz <= to[2]; cz++) {
                int first = ownFirst;
                if (cx != own[0] || cy != own[1] || cz != own[2]) {
                    uint64_t k1, k2;
                    CellKey(cx, cy, cz, &k1, &k2);
                    first = KeyIndexFirst(&grid->cells, k1, k2);
                }
                // A cell's points come in index order.
                for (int j = first; j >= 0 && j < k; j = KeyIndexNext(&grid->cells, j)) {
                    if (!WithinTolerance(pos[j], pos[k], tolerance))
                        continue;
                    lowest = j < lowest ? j : lowest;
                    JoinGroups(group, j, k);
                }
            }
        }
    }
    return lowest;
}

static int SamePosition(const Vec3 &a, const Vec3 &b)
{
    return memcmp(&a, &b, sizeof(Vec3)) == 0;
}

// Under an infinite tolerance with every finite point within kSureMerge of
// every other on each axis, all of them merge: into the first.
static void MergeIntoFirst(int n, const Vec3 *pos, int32_t *nearest, int32_t *group)
{
    int first = -1;
    for (int k = 0; k < n; k++) {
        if (!IsFinite(pos[k]))
            continue;
        if (first < 0) {
            first = k;
            continue;
        }
        nearest[k] = first;
        group[k] = first;
    }
}

// The cell width and the reach; 0 when every point merges into the first
// finite one (see MergeIntoFirst). Cells of 2^998 under an infinite
// tolerance hold the points of a box past 1e154 in a few cells: where many
// distinct points spread beyond 2^989 share one, they are compared pair by
// pair (no chamfer makes such a set; the copies of a point take one look).
static int GridScale(double tolerance, const Vec3 &lo, const Vec3 &hi, WeldGrid *grid)
{
    if (tolerance - tolerance == 0.0) {
        double cell = tolerance * kCellTolerances;
        cell = PowerOfTwoAtLeast(cell < kSmallestCell ? kSmallestCell : cell);
        grid->scale = 1.0 / cell;
        grid->reach = (tolerance * (1.0 + 1.0 / 1024) + kUnderflowReach) * grid->scale + 1.0 / 2048;
        return 1;
    }
    if (hi.x - lo.x < kSureMerge && hi.y - lo.y < kSureMerge && hi.z - lo.z < kSureMerge)
        return 0;
    grid->scale = 1.0 / kInfiniteCell;
    grid->reach = kInfiniteReach * grid->scale + 1.0 / 2048;
    return 1;
}

// Both readings of the weld (see BufModelWeld) through the grid, the points
// taken in index order and entered into their cells as they come. A point
// at exactly the position of an earlier one (the survey makes one copy of a
// point per polygon corner) has the same distance to every point as the
// lowest such copy j0: its nearest point is j0's, or j0 itself when j0 has
// none below it (a distance of 0 is within any tolerance), and it joins
// j0's group; no further cells are looked at, since the points near it are
// near j0: those below it joined j0 already, those above join j0 when their
// turn comes. A point with a NaN or infinite coordinate has a NaN
// distance to every point (the snapping difference spreads a NaN or an
// infinity to every component), so it never merges and stays out of the
// grid. Returns 0, with nothing written, when there is no memory for the
// grid.
static int GridTargets(int n, const Vec3 *pos, double tolerance, int32_t *nearest, int32_t *group)
{
    WeldGrid grid;
    Vec3 lo = {0.0, 0.0, 0.0}, hi = lo;
    if (!FiniteExtent(n, pos, &lo, &hi))
        return 1;
    if (!GridScale(tolerance, lo, hi, &grid)) {
        MergeIntoFirst(n, pos, nearest, group);
        return 1;
    }
    const double low[3] = {lo.x * grid.scale, lo.y * grid.scale, lo.z * grid.scale};
    for (int a = 0; a < 3; a++)
        grid.base[a] = low[a] > -kExactCells ? (low[a] < kExactCells ? CellOf(low[a]) : 0)
                                             : -(int64_t)kExactCells;

    // Every point's cell first, so that the loop below can fetch the cell
    // of a point some way ahead while it works on the current one.
    // Measured (A/B of the module with and without it in one benchmark run,
    // five runs): without it the activation takes about 15% longer at
    // 16,224 quads in object mode, 3-5% with the angle test.
    uint64_t *keys = (uint64_t *)malloc((size_t)n * 2 * sizeof(uint64_t));
    KeyIndexOpenLocal(&grid.cells, n, kBlockBits);
    if (!keys || grid.cells.slotMask < 0) {
        free(keys);
        KeyIndexClose(&grid.cells);
        return 0;
    }
    for (int k = 0; k < n; k++) {
        double q[3];
        uint64_t cell[3];
        // A point outside the grid is given a key all the same: fetching
        // its slot ahead is harmless, and cheaper than asking again.
        keys[2 * k] = keys[2 * k + 1] = 0;
        if (!IsFinite(pos[k]))
            continue;
        PointCells(&grid, pos[k], q, cell);
        CellKey(cell[0], cell[1], cell[2], &keys[2 * k], &keys[2 * k + 1]);
    }
    const int ahead = 8;
    for (int k = 0; k < n; k++) {
        const Vec3 &p = pos[k];
        if (k + ahead < n)
            KeyIndexPrefetch(&grid.cells, keys[2 * (k + ahead)], keys[2 * (k + ahead) + 1]);
        if (!IsFinite(p))
            continue;
        int ownFirst = KeyIndexAddFirst(&grid.cells, k, keys[2 * k], keys[2 * k + 1]);
        int j0 = ownFirst;
        while (j0 >= 0 && j0 < k && !SamePosition(pos[j0], p))
            j0 = KeyIndexNext(&grid.cells, j0);
        if (j0 >= 0 && j0 < k) {
            nearest[k] = nearest[j0] < j0 ? nearest[j0] : j0;
            group[k] = GroupRoot(group, j0);
        } else {
            double q[3];
            uint64_t cell[3];
            PointCells(&grid, p, q, cell);
            nearest[k] = JoinNear(pos, &grid, k, q, cell, ownFirst, tolerance, group);
        }
    }
    free(keys);
    KeyIndexClose(&grid.cells);
    return 1;
}

void BufModelWeldTargets(int n, const Vec3 *pos, double tolerance, int32_t *nearest, int32_t *chain)
{
    for (int k = 0; k < n; k++) {
        nearest[k] = k;
        chain[k] = k;
    }
    // Nothing is within a NaN tolerance.
    if (n < 2 || tolerance != tolerance)
        return;
    if (!GridTargets(n, pos, tolerance, nearest, chain))
        PairTargets(n, pos, tolerance, nearest, chain);
    // Every link goes to a lower index: the roots come in index order.
    for (int k = 0; k < n; k++)
        chain[k] = chain[chain[k]];
}

// The passes add points freely (one per polygon corner in the survey), so a
// location usually exists several times; the weld makes one point of each
// location. A point is near another within the tolerance (2^-16 of the box
// diagonal), and is merged either into the lowest point near it or into
// the lowest point of its chain of near points (BufModelSettleWeld chooses).
// The two differ only where distinct points lie about the tolerance apart
// (bevels of about that size): the copies of a point, and cut points that
// differ by their rounding, lie much closer. With 0-1 and 1-2 near but 0-2
// not:
//
//     0 --- 1 --- 2      nearest: 1 -> 0, 2 -> 1;  chain: 1 and 2 -> 0
//
// What is computed here, through a grid instead of every pair, is both
// targets of every point.
void BufModelWeld(BufModel *model)
{
    double tolerance = BufModelWeldReach(model->boxMin, model->boxMax);
    int n = model->pointCount;
    if (n < 2 || tolerance != tolerance)
        return;
    // The positions side by side: the grid reads each of them several times.
    int32_t *nearest = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    int32_t *chain = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    Vec3 *pos = (Vec3 *)malloc((size_t)n * sizeof(Vec3));
    if (!nearest || !chain || !pos) {
        free(nearest);
        free(chain);
        free(pos);
        PairwiseWeld(model, tolerance);
        return;
    }
    for (int k = 0; k < n; k++)
        pos[k] = model->pointTable[k]->position;
    BufModelWeldTargets(n, pos, tolerance, nearest, chain);
    free(pos);
    BufModelSettleWeld(model, nearest, chain);
    free(nearest);
    free(chain);
}

// A point is used when some vertex without a host id of its own refers to it.
// The marks are gathered in a byte per point, side by side, since the
// polygons reach their points in no order; the points then take their marks
// in one sweep. Without memory for the bytes, the points are marked where
// they lie.
void BufModelMarkUsed(BufModel *model)
{
    unsigned char *used = (unsigned char *)calloc(model->pointCount > 0 ? (size_t)model->pointCount : 1, 1);
    for (int i = 0; !used && i < model->pointCount; i++)
        model->pointTable[i]->used = 0;
    for (int p = 0; p < model->polyCount; p++) {
        const BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            if (poly->hostPoints[v])
                continue;
            if (used)
                used[poly->points[v]] = 255;
            else
                model->pointTable[poly->points[v]]->used = 255;
        }
    }
    for (int i = 0; used && i < model->pointCount; i++)
        model->pointTable[i]->used = used[i];
    free(used);
}

// Creates the used points that stand for no host point yet, in index order.
// Runs before the monitor opens and cannot be aborted. Fills `hostOf` (when
// given) with every point's host id afterwards.
static void CreateUsedPoints(BufModel *model, HostMeshEditOp *edit, LWPntID *hostOf)
{
    for (int i = 0; i < model->pointCount; i++) {
        BufPoint *point = model->pointTable[i];
        if (!point->hostId && point->used) {
            double position[3] = {point->position.x, point->position.y, point->position.z};
            point->hostId = edit->addPoint(edit->state, position);
        }
        if (hostOf)
            hostOf[i] = point->hostId;
    }
}

// Commits the polygons in index order, one monitor step each; an abort
// leaves this polygon and all later ones uncommitted. The host ids of the
// points come from `hostOf` when there is one: side by side they take a
// fraction of the cache lines of the point records, which the polygons
// reach in no order.
static void CommitPolygons(BufModel *model, EditServices *services, const LWPntID *hostOf)
{
    HostMeshEditOp *edit = services->edit;
    MonitorOpen(services, "Corvane", "BufModel Flush");
    MonitorInit(services, model->polyCount);
    for (int p = 0; p < model->polyCount; p++) {
        if (MonitorStep(services, 1))
            break;
        BufPoly *poly = model->polyTable[p];
        if (poly->count == 0)
            continue;  // nothing of it was left by the mend
        for (int v = 0; v < poly->count; v++) {
            int32_t index = poly->points[v];
            if (!poly->hostPoints[v])
                poly->hostPoints[v] = hostOf ? hostOf[index] : model->pointTable[index]->hostId;
        }
        poly->hostId = edit->addFace(edit->state, poly->surface, poly->count, poly->hostPoints);
    }
    MonitorClose(services);
}

int BufModelFlush(BufModel *model, EditServices *services)
{
    if (!model || !services)
        return -1;
    // Only what the weld pinches is cut into lobes: a polygon that passed
    // through a point twice before it (an input's slit) stays as it was.
    unsigned char *repeats = BufModelMarkRepeats(model);
    int before = model->polyCount;
    BufModelWeld(model);
    BufModelMendKeeping(model, repeats, before);
    free(repeats);
    BufModelMarkUsed(model);
    LWPntID *hostOf =
        (LWPntID *)malloc((model->pointCount > 0 ? (size_t)model->pointCount : 1) * sizeof(LWPntID));
    CreateUsedPoints(model, services->edit, hostOf);
    CommitPolygons(model, services, hostOf);
    free(hostOf);
    // Every record goes, also after an abort; the counts stay as they are, so
    // the model must be initialised again before further use.
    BufModelRelease(model);
    return 0;
}
