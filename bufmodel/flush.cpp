// The flush ends a BufModel's life: it welds coincident points, creates the
// used ones in the host, commits every polygon under a progress monitor the
// user may abort, and releases every record.
#include "bufmodel/bufmodel.h"

#include <stdlib.h>

#include "bufmodel/keyindex.h"
#include "plugin/services.h"

// Whether points j < k merge: exactly the comparison of the pairwise weld,
// the snapping difference of the lower point minus the higher one, against
// the tolerance.
static int WithinTolerance(const BufModel *model, int j, int k, double tolerance)
{
    const Vec3 &pj = model->pointTable[j]->position;
    const Vec3 &pk = model->pointTable[k]->position;
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

// The weld as it is defined, pair by pair; used only when there is no
// memory for the target table.
static void PairwiseWeld(BufModel *model, double tolerance)
{
    for (int j = 0; j < model->pointCount; j++) {
        for (int k = j + 1; k < model->pointCount; k++) {
            if (WithinTolerance(model, j, k, tolerance))
                RedirectVertices(model, k, j);
        }
    }
}

// Every pair compared, for the cases the grid cannot take (see GridTargets).
static void PairTargets(const BufModel *model, double tolerance, int32_t *target)
{
    for (int k = 1; k < model->pointCount; k++) {
        for (int j = 0; j < k; j++) {
            if (WithinTolerance(model, j, k, tolerance)) {
                target[k] = j;
                break;
            }
        }
    }
}

static int IsFinite(const Vec3 &p)
{
    // NaN fails every comparison; an infinity minus itself is NaN.
    return p.x - p.x == 0.0 && p.y - p.y == 0.0 && p.z - p.z == 0.0;
}

// Cells a little larger than the tolerance, so that two points that merge
// are never more than one cell apart on any axis. The snapping difference can
// make a distance shorter than the exact one, but by less than 2^-18 of it,
// and the cell coordinates below are exact to within 2^-12 of a cell. Below
// 2^-500 the squares in the length lose precision, so cells are never made
// smaller than that.
static const double kCellMargin = 1.0 + 1.0 / 256;
static const double kSmallestCell = 3.054936363499605e-151;  // 2^-500
// Cell coordinates up to 2^39 stay that exact and fit the packed key.
static const double kMostCells = 549755813888.0;  // 2^39

// Cell coordinates (each below 2^40) packed into the two key words.
static void CellKey(int64_t cx, int64_t cy, int64_t cz, uint64_t *k1, uint64_t *k2)
{
    *k1 = (uint64_t)cx | ((uint64_t)cy << 40);
    *k2 = ((uint64_t)cy >> 24) | ((uint64_t)cz << 16);
}

// Fills the finite points' extent; 0 when no point is finite.
static int FiniteExtent(const BufModel *model, Vec3 *lo, Vec3 *hi)
{
    int any = 0;
    for (int k = 0; k < model->pointCount; k++) {
        const Vec3 &p = model->pointTable[k]->position;
        if (!IsFinite(p))
            continue;
        if (!any) {
            *lo = p;
            *hi = p;
            any = 1;
            continue;
        }
        if (p.x < lo->x) lo->x = p.x;
        if (p.y < lo->y) lo->y = p.y;
        if (p.z < lo->z) lo->z = p.z;
        if (p.x > hi->x) hi->x = p.x;
        if (p.y > hi->y) hi->y = p.y;
        if (p.z > hi->z) hi->z = p.z;
    }
    return any;
}

// The lowest earlier point within the tolerance of each point, looked for
// among the points of the 27 cells about it. A point with a NaN or infinite
// coordinate has a NaN distance to every point (the snapping difference
// spreads a NaN or an infinity to every component), so it never merges and
// stays out of the grid. Returns 0, with nothing written, when the tolerance
// is infinite or the points span too many cells: every pair is compared then.
static int GridTargets(const BufModel *model, double tolerance, int32_t *target)
{
    if (!(tolerance - tolerance == 0.0))
        return 0;
    double cell = tolerance * kCellMargin;
    if (cell < kSmallestCell)
        cell = kSmallestCell;
    Vec3 lo = {0.0, 0.0, 0.0}, hi = {0.0, 0.0, 0.0};
    if (!FiniteExtent(model, &lo, &hi))
        return 1;
    if (!((hi.x - lo.x) / cell <= kMostCells && (hi.y - lo.y) / cell <= kMostCells &&
          (hi.z - lo.z) / cell <= kMostCells))
        return 0;

    int n = model->pointCount;
    int64_t *cells = (int64_t *)malloc((size_t)n * 3 * sizeof(int64_t));
    KeyIndex grid;
    KeyIndexOpen(&grid, n);
    if (!cells || grid.slotMask < 0) {
        free(cells);
        KeyIndexClose(&grid);
        return 0;
    }
    for (int k = 0; k < n; k++) {
        const Vec3 &p = model->pointTable[k]->position;
        if (!IsFinite(p))
            continue;
        int64_t *c = &cells[3 * k];
        c[0] = (int64_t)((p.x - lo.x) / cell);
        c[1] = (int64_t)((p.y - lo.y) / cell);
        c[2] = (int64_t)((p.z - lo.z) / cell);
        uint64_t k1, k2;
        CellKey(c[0], c[1], c[2], &k1, &k2);
        KeyIndexAdd(&grid, k, k1, k2);
    }

    for (int k = 0; k < n; k++) {
        if (!IsFinite(model->pointTable[k]->position))
            continue;
        const int64_t *c = &cells[3 * k];
        int best = k;
        for (int dx = -1; dx <= 1; dx++) {
            for (int dy = -1; dy <= 1; dy++) {
                for (int dz = -1; dz <= 1; dz++) {
                    if (c[0] + dx < 0 || c[1] + dy < 0 || c[2] + dz < 0)
                        continue;
                    uint64_t k1, k2;
                    CellKey(c[0] + dx, c[1] + dy, c[2] + dz, &k1, &k2);
                    // A cell's points come in index order: the first one
                    // within the tolerance is the cell's lowest.
                    for (int j = KeyIndexFirst(&grid, k1, k2); j >= 0 && j < best;
                         j = KeyIndexNext(&grid, j)) {
                        if (WithinTolerance(model, j, k, tolerance)) {
                            best = j;
                            break;
                        }
                    }
                }
            }
        }
        target[k] = best;
    }
    free(cells);
    KeyIndexClose(&grid);
    return 1;
}

// The passes add points freely (one per polygon corner in the survey), so a
// location usually exists several times. The weld is defined pair by pair:
// for j from 0 up and each k > j, if k lies within the tolerance (2^-16 of
// the box diagonal) of j, every vertex referring to k is moved to j. A vertex
// moved to j is never moved again (the pairs (j', j) came before, and later
// pairs look for points above j), and the vertices of k move at the first j
// that merges with k. So every vertex of point k goes to the lowest j < k
// within the tolerance of k, or stays; that target is what is computed here,
// through a grid instead of every pair. The merge is not transitive; with
// 0-1 and 1-2 close but 0-2 not, 1 goes to 0 and 2 goes to 1:
//
//     0 --- 1 --- 2      vertices of 1 -> 0, vertices of 2 -> 1
//
// so point 1 is referenced again and is created on its own. Records are
// never removed; a point that lost its references is simply not used.
void BufModelWeld(BufModel *model)
{
    double tolerance = VecLength(VecSub(model->boxMin, model->boxMax)) * (1.0 / 65536);
    int n = model->pointCount;
    // Nothing is within a NaN tolerance.
    if (n < 2 || tolerance != tolerance)
        return;
    int32_t *target = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    if (!target) {
        PairwiseWeld(model, tolerance);
        return;
    }
    for (int k = 0; k < n; k++)
        target[k] = k;
    if (!GridTargets(model, tolerance, target))
        PairTargets(model, tolerance, target);

    // Host ids are left alone, so vertices that carry one commit the same
    // whatever their index says.
    for (int p = 0; p < model->polyCount; p++) {
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            int32_t index = poly->points[v];
            if (index >= 0 && index < n)
                poly->points[v] = target[index];
        }
    }
    free(target);
}

// A point is used when some vertex without a host id of its own refers to it.
void BufModelMarkUsed(BufModel *model)
{
    for (int i = 0; i < model->pointCount; i++)
        model->pointTable[i]->used = 0;
    for (int p = 0; p < model->polyCount; p++) {
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            if (!poly->hostPoints[v])
                model->pointTable[poly->points[v]]->used = 255;
        }
    }
}

// Creates the used points that stand for no host point yet, in index order.
// Runs before the monitor opens and cannot be aborted.
static void CreateUsedPoints(BufModel *model)
{
    HostMeshEditOp *edit = model->edit;
    for (int i = 0; i < model->pointCount; i++) {
        BufPoint *point = model->pointTable[i];
        if (point->hostId || !point->used)
            continue;
        double position[3] = {point->position.x, point->position.y, point->position.z};
        point->hostId = edit->addPoint(edit->state, position);
    }
}

// Commits the polygons in index order, one monitor step each; an abort
// leaves this polygon and all later ones uncommitted.
static void CommitPolygons(BufModel *model)
{
    HostMeshEditOp *edit = model->edit;
    MonitorOpen(model, "Corvane", "BufModel Flush");
    MonitorInit(model, model->polyCount);
    for (int p = 0; p < model->polyCount; p++) {
        if (MonitorStep(model, 1))
            break;
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            if (!poly->hostPoints[v])
                poly->hostPoints[v] = model->pointTable[poly->points[v]]->hostId;
        }
        poly->hostId = edit->addFace(edit->state, poly->surface, poly->count, poly->hostPoints);
    }
    MonitorClose(model);
}

// Releases every record, also after an abort. Counts and slots are left as
// they are: the model must be initialised again before further use.
static void ReleaseRecords(BufModel *model)
{
    for (int i = 0; i < model->pointCount; i++)
        free(model->pointTable[i]);
    for (int p = 0; p < model->polyCount; p++) {
        BufPoly *poly = model->polyTable[p];
        free(poly->hostPoints);
        free(poly->points);
        free(poly->surface);
        free(poly);
    }
}

int BufModelFlush(BufModel *model)
{
    if (!model)
        return -1;
    BufModelWeld(model);
    BufModelMarkUsed(model);
    CreateUsedPoints(model);
    CommitPolygons(model);
    ReleaseRecords(model);
    return 0;
}
