// Oracle for the chamfer strips (objectmode/strips.cpp), from what the pass
// must leave, by plain scans over all records:
//
// - seams: two linked records of one host polygon that run between the
//   same two host points in opposite directions are one slit; the polygon
//   is stitched shut along it (StitchSlit), pairs taken in array order;
// - crowded edges: three or more records between the same two host points
//   (either way) are never chamfered, and a polygon end that runs on along
//   one keeps its point;
// - pairs: each record still free takes the first later free record that
//   runs along its edge the other way in another polygon; with an angle
//   test, a pair that fails it is set aside for good while the earlier
//   record goes on looking;
// - strips: each pair gets one four-sided strip and both copies move back.
//
// The monitor counts the records once for the seams and once for the
// pairs, on the one monitor.
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "hostapi/angles.h"
#include "objectmode/objectmode.h"
#include "tests/reference/reference.h"

// An aborted link pass leaves records without neighbours: nothing to slide
// along, so they are never chamfered.
static int BothNeighbours(const LineInfo *r)
{
    return r->prevVertex != -1 && r->nextVertex != -1;
}

// r runs from host point u to host point v.
static int Runs(const LineInfo *r, LWPntID u, LWPntID v)
{
    return r->hostA == u && r->hostB == v;
}

// The module's angle between the polygons: 180 when flat, less the sharper
// the fold. The cosine is clamped to [-1, 1] first, where rounding can push
// two unit normals' dot product, and VecAcos gives the same bits on every
// target.
static double FoldAngle(const LineInfo *a, const LineInfo *b)
{
    double cosine = VecDot(a->normal, b->normal);
    cosine = cosine < -1.0 ? -1.0 : (cosine > 1.0 ? 1.0 : cosine);
    return 180.0 - VecAcos(cosine) * kDegreesPerRadian;
}

static int AngleAllows(const Settings *settings, const LineInfo *a, const LineInfo *b)
{
    if (!settings)
        return 1;
    switch (settings->angleMode) {
    case ANGLE_MODE_LT: return !(FoldAngle(a, b) >= settings->limitAngle);
    case ANGLE_MODE_GT: return FoldAngle(a, b) > settings->limitAngle;
    default: return 1;
    }
}

static int Crowded(int m, const LineInfo *edges, LWPntID u, LWPntID v)
{
    int along = 0;
    for (int r = 0; r < m; r++)
        along += Runs(&edges[r], u, v) || Runs(&edges[r], v, u);
    return along > 2;
}

// Record k of the slit's polygon enters the edge u -> v: it arrives at u and
// v comes after it.
static int Enters(const LineInfo *k, LWPntID u, LWPntID v)
{
    return k->hostB == u && k->hostNext == v;
}

// Record k leaves the edge u -> v: it starts at v and u comes before it.
static int Leaves(const LineInfo *k, LWPntID u, LWPntID v)
{
    return k->hostA == v && k->hostPrev == u;
}

// The slit: `fwd` runs A -> B and `back` B -> A in one polygon.
//
//        before      fwd: A --> B      after
//     ---------> A ================> B --------->
//     <--------- A <================ B <---------
//        out_back    back: B --> A     into_back
//
// Stitched, `back` lies on fwd's copies, and the polygon's other records
// see past the slit: the one entering `back` continues as fwd does, the
// one leaving `back` starts from what precedes fwd, and those entering or
// leaving fwd take back's neighbours. A record is asked about `back` first
// and then, as it now is, about fwd.
static void StitchSlit(BufModel *model, int m, LineInfo *edges, int fwd, int back)
{
    LineInfo *f = &edges[fwd];
    LineInfo *b = &edges[back];
    for (int k = 0; k < m; k++) {
        LineInfo *r = &edges[k];
        if (k == fwd || k == back || r->hostPoly != f->hostPoly)
            continue;
        if (Enters(r, b->hostA, b->hostB)) {
            r->vertexB = f->vertexB;
            r->pointB = f->pointB;
            r->nextVertex = f->nextVertex;
            r->hostNext = f->hostNext;
        } else if (Leaves(r, b->hostA, b->hostB)) {
            r->vertexA = f->vertexA;
            r->pointA = f->pointA;
            r->prevVertex = f->prevVertex;
            r->hostPrev = f->hostPrev;
        }
        if (Enters(r, f->hostA, f->hostB)) {
            r->nextVertex = b->nextVertex;
            r->hostNext = b->hostNext;
        } else if (Leaves(r, f->hostA, f->hostB)) {
            r->prevVertex = b->prevVertex;
            r->hostPrev = b->hostPrev;
        }
    }
    // The copy's vertices of `back` take fwd's points, crossed; only where
    // all four vertices lie in the copy, as a record may name a polygon its
    // vertices are not of.
    BufPoly *copy = f->polyIndex < 0 ? nullptr : BufModelGetPoly(model, f->polyIndex);
    int inside = copy != nullptr;
    const int corners[4] = {f->vertexA, f->vertexB, b->vertexA, b->vertexB};
    for (int c = 0; inside && c < 4; c++)
        inside = corners[c] >= 0 && corners[c] < copy->count;
    if (inside) {
        copy->points[b->vertexA] = copy->points[f->vertexB];
        copy->points[b->vertexB] = copy->points[f->vertexA];
    }
    b->pointA = f->pointB;
    b->vertexA = f->vertexB;
    b->pointB = f->pointA;
    b->vertexB = f->vertexA;
}

// The seams, one monitor step per record; an abort ends them but not the
// pass.
static void StitchSlits(EditContext *ctx, int m, LineInfo *edges)
{
    for (int i = 0; i < m && !MonitorStep(ctx, 1); i++) {
        if (!BothNeighbours(&edges[i]))
            continue;
        for (int j = i + 1; j < m; j++) {
            const LineInfo *a = &edges[i];
            const LineInfo *b = &edges[j];
            if (a->hostPoly == b->hostPoly && Runs(b, a->hostB, a->hostA) && BothNeighbours(b))
                StitchSlit(ctx->model, m, edges, i, j);
        }
    }
}

// The strip runs against each neighbour along the shared edge: `lo` (A -> B)
// gives its copies of B and A after `hi`'s (B -> A) of A and B. Then both
// copies move back, but for an end that runs on along a crowded edge.
static void AddStrip(EditContext *ctx, int m, LineInfo *edges, LineInfo *lo, LineInfo *hi, double size)
{
    int32_t ring[4] = {hi->pointB, hi->pointA, lo->pointB, lo->pointA};
    if (RefMutant("strips-winding")) {
        int32_t t = ring[1];
        ring[1] = ring[3];
        ring[3] = t;
    }
    int alike = lo->surface && hi->surface && strcmp(lo->surface, hi->surface) == 0;
    BufModelAddPoly(ctx->model, alike ? lo->surface : nullptr, 4, ring);
    const LineInfo *sides[2] = {lo, hi};
    for (int s = 0; s < 2; s++) {
        const LineInfo *r = sides[s];
        OffsetEdgePointsPinned(ctx, r, size, Crowded(m, edges, r->hostPrev, r->hostA),
                               Crowded(m, edges, r->hostB, r->hostNext));
    }
}

// The crowded edges, the pairs and their strips. `unpaired` marks the records
// that may still be paired.
static void PairAndStrip(EditContext *ctx, int m, LineInfo *edges, unsigned char *unpaired, double size,
                         const Settings *settings)
{
    int skipFirst = RefMutant("strips-skip-first");
    for (int i = 0; i < m; i++)
        unpaired[i] = BothNeighbours(&edges[i]) && !Crowded(m, edges, edges[i].hostA, edges[i].hostB);
    MonitorInit(ctx, m);
    for (int i = 0; i < m && !MonitorStep(ctx, 1); i++) {
        if (!unpaired[i])
            continue;
        LineInfo *lo = &edges[i];
        int partner = -1;
        for (int j = i + 1; j < m && partner < 0; j++) {
            LineInfo *hi = &edges[j];
            if (!unpaired[j] || hi->hostPoly == lo->hostPoly || !Runs(hi, lo->hostB, lo->hostA))
                continue;
            if (AngleAllows(settings, lo, hi))
                partner = j;
            unpaired[i] = 0;
            unpaired[j] = 0;
        }
        if (partner < 0)
            continue;
        if (skipFirst) {
            // The deliberate fault: the first pair found gets no strip.
            skipFirst = 0;
            continue;
        }
        AddStrip(ctx, m, edges, lo, &edges[partner], size);
        lo->done = 1;
        edges[partner].done = 1;
    }
}

static void Chamfer(EditContext *ctx, int m, LineInfo *edges, double size, const Settings *settings)
{
    MonitorOpen(ctx, "Corvane mode:Object", " Phase: MakeLineCorvanePoly");
    MonitorInit(ctx, m);
    unsigned char *unpaired = (unsigned char *)malloc(m > 0 ? (size_t)m : 1);
    if (unpaired) {
        StitchSlits(ctx, m, edges);
        PairAndStrip(ctx, m, edges, unpaired, size, settings);
        free(unpaired);
    }
    MonitorClose(ctx);
}

void MakeLineCorvanePoly(EditContext *ctx, SharedAdjacency *, int m, LineInfo *edges, double size)
{
    Chamfer(ctx, m, edges, size, nullptr);
}

void MakeLineCorvanePolyLimited(EditContext *ctx, SharedAdjacency *, int m, LineInfo *edges,
                                const Settings *settings)
{
    Chamfer(ctx, m, edges, settings->bevelSize, settings);
}
