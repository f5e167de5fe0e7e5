// Oracle for the output model's flush (bufmodel/flush.cpp), written from
// what it must leave, with plain scans over every pair of points.
//
// The flush welds points that lie within the weld's reach of each other,
// mends what the weld pinched (the lobe cut of bufmodel/mend.cpp, shared
// with the module), creates in the host every point a new vertex refers
// to, then commits the polygons one monitor step each, and releases the
// model.
//
// The weld, stated as two facts per point k:
// - its nearest target is the lowest point j < k within reach of it (k
//   itself when there is none);
// - its chain target is the lowest point of the set of points joined to k
//   through steps within reach (k itself when alone). The module's chain
//   weld moves a vertex there rather than one step down: with 0-1 and 1-2
//   within reach and 0-2 not, 2's nearest target is 1 and its chain target
//   0, and BufModelSettleWeld chooses between the two.
// Both are found here from their definitions: a scan of the lower points,
// and a flood from each not yet reached point, lowest first.
#include "bufmodel/bufmodel.h"

#include <math.h>
#include <stdlib.h>

#include "edit/services.h"
#include "tests/reference/reference.h"

// Points a and b are one point for the weld. The difference is always the
// lower point's minus the higher one's, as the weld's comparison is defined.
static int InReach(const BufModel *model, int a, int b, double reach)
{
    int low = a < b ? a : b;
    int high = a < b ? b : a;
    Vec3 gap = VecSub(model->pointTable[low]->position, model->pointTable[high]->position);
    return VecLength(gap) <= reach;
}

static void NearestTargets(const BufModel *model, double reach, int32_t *nearest)
{
    for (int k = 0; k < model->pointCount; k++) {
        int j = 0;
        while (j < k && !InReach(model, j, k, reach))
            j++;
        nearest[k] = j;
    }
}

// Floods each group of joined points from its lowest member; `pending`
// holds the members found but not yet searched from.
static void ChainTargets(const BufModel *model, double reach, int32_t *chain, int32_t *pending)
{
    int n = model->pointCount;
    for (int k = 0; k < n; k++)
        chain[k] = -1;
    for (int seed = 0; seed < n; seed++) {
        if (chain[seed] >= 0)
            continue;
        chain[seed] = seed;
        int waiting = 0;
        pending[waiting++] = seed;
        while (waiting > 0) {
            int from = pending[--waiting];
            for (int other = seed + 1; other < n; other++) {
                if (chain[other] < 0 && InReach(model, from, other, reach)) {
                    chain[other] = seed;
                    pending[waiting++] = other;
                }
            }
        }
    }
}

void BufModelWeld(BufModel *model)
{
    double reach = BufModelWeldReach(model->boxMin, model->boxMax);
    if (RefMutant("flush-reach-ulp"))
        reach = nextafter(reach, 0.0);
    size_t n = model->pointCount > 0 ? (size_t)model->pointCount : 1;
    int32_t *targets = (int32_t *)malloc(3 * n * sizeof(int32_t));
    if (!targets)
        return;
    int32_t *nearest = targets;
    int32_t *chain = targets + n;
    NearestTargets(model, reach, nearest);
    ChainTargets(model, reach, chain, targets + 2 * n);
    // The deliberate fault: the plain weld to the nearest lower point.
    if (RefMutant("flush-nearest-only")) {
        for (int k = 0; k < model->pointCount; k++)
            chain[k] = nearest[k];
    }
    BufModelSettleWeld(model, nearest, chain);
    free(targets);
}

// Used: some vertex that has no host id of its own refers to the point.
void BufModelMarkUsed(BufModel *model)
{
    for (int i = 0; i < model->pointCount; i++)
        model->pointTable[i]->used = 0;
    for (int p = 0; p < model->polyCount; p++) {
        const BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            BufPoint *point = model->pointTable[poly->points[v]];
            if (poly->hostPoints[v] == nullptr)
                point->used = 255;
        }
    }
}

// Every used point without a host id is created, lowest index first, before
// the commit's monitor opens (nothing here can be aborted); then each
// polygon the mend left points in is added, its new vertices taking their
// points' host ids, until the monitor says stop.
static void CommitToHost(BufModel *model, EditServices *services)
{
    HostMeshEditOp *edit = services->edit;
    for (int i = 0; i < model->pointCount; i++) {
        BufPoint *point = model->pointTable[i];
        if (point->used && point->hostId == nullptr) {
            double xyz[3] = {point->position.x, point->position.y, point->position.z};
            point->hostId = edit->addPoint(edit->state, xyz);
        }
    }
    MonitorOpen(services, "Corvane", "BufModel Flush");
    MonitorInit(services, model->polyCount);
    int p = 0;
    while (p < model->polyCount && !MonitorStep(services, 1)) {
        BufPoly *poly = model->polyTable[p++];
        if (poly->count < 1)
            continue;
        for (int v = 0; v < poly->count; v++) {
            if (poly->hostPoints[v] == nullptr)
                poly->hostPoints[v] = model->pointTable[poly->points[v]]->hostId;
        }
        poly->hostId = edit->addFace(edit->state, poly->surface, poly->count, poly->hostPoints);
    }
    MonitorClose(services);
}

int BufModelFlush(BufModel *model, EditServices *services)
{
    if (model == nullptr || services == nullptr)
        return -1;
    // A polygon that already ran through a point twice (an input's slit) is
    // kept as it came; only what the weld pinches is cut into lobes.
    int given = model->polyCount;
    unsigned char *slits = BufModelMarkRepeats(model);
    BufModelWeld(model);
    BufModelMendKeeping(model, slits, given);
    free(slits);
    BufModelMarkUsed(model);
    CommitToHost(model, services);
    // The records go also after an abort; the model must be set up afresh.
    BufModelRelease(model);
    return 0;
}
