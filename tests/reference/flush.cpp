// Reference: bufmodel/flush.cpp in its literal form, where the weld compares
// every pair of points and relabels every point's chain for each merged
// pair.
// Built only into the test module CorvaneLiteral.p, against which the indexed
// passes are compared bit for bit and timed (tests/reference/CMakeLists.txt).
// Keep it as it is: it is the definition the fast passes must match.
//
// The flush ends a BufModel's life: it welds coincident points, cuts what
// the weld pinched into lobes (bufmodel/mend.cpp), creates the used points
// in the host, commits every polygon under a progress monitor the user may
// abort, and releases every record.
#include "bufmodel/bufmodel.h"

#include <stdlib.h>

#include "edit/services.h"

// The passes add points freely (one per polygon corner in the survey), so a
// location usually exists several times. Every pair is compared against one
// tolerance, 2^-16 of the box diagonal, lowest j first. A pair within it
// gives k its nearest point j, unless a lower one did, and merges the two
// points' chains, each named by its lowest point. So with 0-1 and 1-2
// within it and 0-2 not:
//
//     0 --- 1 --- 2      nearest: 1 -> 0, 2 -> 1;  chain: 1 and 2 -> 0
//
// BufModelSettleWeld then moves the vertices to one or the other. Records
// are never removed; a point that lost its references is simply not used.
void BufModelWeld(BufModel *model)
{
    double tolerance = VecLength(VecSub(model->boxMin, model->boxMax)) * (1.0 / 65536);
    size_t slots = (size_t)(model->pointCount > 0 ? model->pointCount : 1);
    int32_t *nearest = (int32_t *)malloc(sizeof(int32_t) * slots);
    int32_t *chain = (int32_t *)malloc(sizeof(int32_t) * slots);
    if (!nearest || !chain) {
        free(nearest);
        free(chain);
        return;
    }
    for (int i = 0; i < model->pointCount; i++) {
        nearest[i] = i;
        chain[i] = i;
    }
    for (int j = 0; j < model->pointCount; j++) {
        const Vec3 &pj = model->pointTable[j]->position;
        for (int k = j + 1; k < model->pointCount; k++) {
            const Vec3 &pk = model->pointTable[k]->position;
            double distance = VecLength(VecSub(pj, pk));
            if (!(distance <= tolerance))
                continue;
            if (nearest[k] == k)
                nearest[k] = j;
            int32_t low = chain[j] < chain[k] ? chain[j] : chain[k];
            int32_t high = chain[j] < chain[k] ? chain[k] : chain[j];
            for (int i = 0; i < model->pointCount; i++) {
                if (chain[i] == high)
                    chain[i] = low;
            }
        }
    }
    BufModelSettleWeld(model, nearest, chain);
    free(nearest);
    free(chain);
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
static void CreateUsedPoints(BufModel *model, HostMeshEditOp *edit)
{
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
static void CommitPolygons(BufModel *model, EditServices *services)
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
            if (!poly->hostPoints[v])
                poly->hostPoints[v] = model->pointTable[poly->points[v]]->hostId;
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
    CreateUsedPoints(model, services->edit);
    CommitPolygons(model, services);
    // Every record goes, also after an abort; the counts stay as they are, so
    // the model must be initialised again before further use.
    BufModelRelease(model);
    return 0;
}
