// Reference: bufmodel/flush.cpp in its literal form, where the weld compares
// every pair of points and rescans every polygon for each merged pair.
// Built only into the test module CorvaneLiteral.p, against which the indexed
// passes are compared bit for bit and timed (tests/reference/CMakeLists.txt).
// Keep it as it is: it is the definition the fast passes must match.
//
// The flush ends a BufModel's life: it welds coincident points, creates the
// used ones in the host, commits every polygon under a progress monitor the
// user may abort, and releases every record.
#include "bufmodel/bufmodel.h"

#include <stdlib.h>

#include "edit/services.h"

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

// The passes add points freely (one per polygon corner in the survey), so a
// location usually exists several times. Every pair is compared against one
// tolerance, 2^-16 of the box diagonal, lowest j first: a point near several
// lower ones goes to the lowest of them. The merge is not transitive; with
// 0-1 and 1-2 close but 0-2 not, 1 goes to 0 and 2 goes to 1:
//
//     0 --- 1 --- 2      vertices of 1 -> 0, vertices of 2 -> 1
//
// so point 1 is referenced again and is created on its own. Records are
// never removed; a point that lost its references is simply not used.
void BufModelWeld(BufModel *model)
{
    double tolerance = VecLength(VecSub(model->boxMin, model->boxMax)) * (1.0 / 65536);
    for (int j = 0; j < model->pointCount; j++) {
        const Vec3 &pj = model->pointTable[j]->position;
        for (int k = j + 1; k < model->pointCount; k++) {
            const Vec3 &pk = model->pointTable[k]->position;
            double distance = VecLength(VecSub(pj, pk));
            if (distance <= tolerance)
                RedirectVertices(model, k, j);
        }
    }
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
static void CreateUsedPoints(EditContext *ctx)
{
    BufModel *model = ctx->model;
    HostMeshEditOp *edit = ctx->edit;
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
static void CommitPolygons(EditContext *ctx)
{
    BufModel *model = ctx->model;
    HostMeshEditOp *edit = ctx->edit;
    MonitorOpen(ctx, "Corvane", "BufModel Flush");
    MonitorInit(ctx, model->polyCount);
    for (int p = 0; p < model->polyCount; p++) {
        if (MonitorStep(ctx, 1))
            break;
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            if (!poly->hostPoints[v])
                poly->hostPoints[v] = model->pointTable[poly->points[v]]->hostId;
        }
        poly->hostId = edit->addFace(edit->state, poly->surface, poly->count, poly->hostPoints);
    }
    MonitorClose(ctx);
}

int BufModelFlush(EditContext *ctx)
{
    if (!ctx || !ctx->model)
        return -1;
    BufModel *model = ctx->model;
    BufModelWeld(model);
    BufModelMarkUsed(model);
    CreateUsedPoints(ctx);
    CommitPolygons(ctx);
    // Every record goes, also after an abort; the counts stay as they are, so
    // the model must be initialised again before further use.
    BufModelRelease(model);
    return 0;
}
