// Chamfer strips: every edge that two polygons share (running along it in
// opposite directions) is cut away. Both polygons' copies are moved back
// from it by the bevel size, and a four-sided strip spans the gap between
// them. Seams, where one polygon runs along an edge twice, are joined first.
//
// Both sweeps visit, for each record, only the later records that run along
// its edge the other way: the records leaving its host point b and arriving
// at its host point a, in array order (objectmode/adjacency.h). The host
// points of a record never change in this pass (the seam joining rewrites
// points, vertices and links only), so one index serves both sweeps.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "hostapi/angles.h"
#include "objectmode/adjacency.h"
#include "objectmode/objectmode.h"
#include "objectmode/seams.h"

// Records that an aborted LineInfo pass left without both neighbours have no
// host previous/next point to slide along, so they are never chamfered.
static int IsLinked(const LineInfo *edge)
{
    return edge->prevVertex != -1 && edge->nextVertex != -1;
}

// Two names match only when both exist and agree byte for byte.
static int SameSurface(const char *a, const char *b)
{
    return a && b && (a == b || strcmp(a, b) == 0);
}

// The angle between the two polygons, 180 for coplanar ones, smaller the
// sharper the fold. The dot product of two nearly parallel unit normals can
// land just outside [-1, 1] by rounding; clamping keeps such a pair at 180
// (or 0) instead of turning its angle into NaN.
static int PassesAngleTest(const Settings *settings, const LineInfo *a, const LineInfo *b)
{
    double d = VecDot(a->normal, b->normal);
    if (d > 1.0)
        d = 1.0;
    else if (d < -1.0)
        d = -1.0;
    // VecAcos, not the C library's acos: the result decides which edges are
    // chamfered, so it must be the same bits on every target.
    double angle = 180.0 - VecAcos(d) * kDegreesPerRadian;
    if (settings->angleMode == ANGLE_MODE_LT)
        return !(angle >= settings->limitAngle);
    if (settings->angleMode == ANGLE_MODE_GT)
        return angle > settings->limitAngle;
    return 1;
}

namespace {

// The records of the pass with the index of the records leaving each host
// point.
struct StripPass {
    EditContext *ctx;
    BufModel *model;
    int m;
    LineInfo *edges;
    EdgeAdjacency adjacency;
    // The moves of each record's ends, computed ahead (see PlanMoves), or
    // null: then each strip computes its two records' moves itself.
    Vec3 *moves;            // per record: end a, end b
    unsigned char *placed;  // per record: 1 when the host placed all four points
    // Per record, side by side and filled in one sweep (all null when there
    // was no memory for them): its host polygon, by which most candidates
    // are ruled out without reading their record, which lies anywhere in the
    // array; whether it is linked (taken again after the seam joining, see
    // JoinSeams); and its first candidate, the first later record that may
    // run along its edge the other way (or -1), for fetching ahead.
    LWPolID *polyOf;
    int32_t *firstCandidate;
    unsigned char *linked;
    // 0 when no record has a later candidate of its own polygon, so that no
    // seam can be joined (found in the sweep that fills the arrays above).
    int seamCandidates;
    // Planned moves applied after the pairing (see BeginDeferral), or all null:
    // per buffered point, the record whose point a (moverA) and whose point
    // b (moverB) it is, or -1; per record, its place in the order in which
    // the pairing moves records, or -1 while it is not moved.
    int32_t *moverA;
    int32_t *moverB;
    int32_t *movedAt;
    int32_t movesMade;
};

}  // namespace

// The candidates that may run along record i's edge the other way: the
// records after i leaving i's host point b for its host point a, in array
// order.
static EdgeCursor Opposite(const StripPass *pass, int i)
{
    return EdgesLeavingAfter(&pass->adjacency, EdgeTo(&pass->adjacency, i), EdgeFrom(&pass->adjacency, i), i);
}

// Whether record r is linked, from the side-by-side copy when there is one.
static int RecordLinked(const StripPass *pass, int r)
{
    return pass->linked ? pass->linked[r] : IsLinked(&pass->edges[r]);
}

// Whether j may be ruled out by its polygon: a seam needs the same polygon
// (same 1), a strip another one (same 0).
static int RuledOutByPolygon(const StripPass *pass, int i, int j, int same)
{
    if (!pass->polyOf)
        return 0;
    return (pass->polyOf[i] == pass->polyOf[j]) != same;
}

// Fetches what the pairing reads of the partners it will meet a few records
// on, which lie anywhere in the array: the record and planned moves of the
// first candidate of record r + 8, and the buffered points of that of r + 4
// (whose record was fetched four records ago); only the record when the
// moves are deferred.
// Inlined by force: on its own, a function whose only effect is a prefetch
// counts as free of effects, and optimising compilers drop its calls.
// Measured with the deferral below: without both, the activation takes about
// an eighth longer at 6,144 and 16,224 quads.
__attribute__((always_inline)) static inline void PrefetchPartner(const StripPass *pass, int r)
{
    if (!pass->firstCandidate)
        return;
    if (r + 8 < pass->m) {
        int j = pass->firstCandidate[r + 8];
        if (j >= 0) {
            const char *record = (const char *)&pass->edges[j];
            __builtin_prefetch(record);
            __builtin_prefetch(record + sizeof(LineInfo) - 1);
            if (pass->moves && !pass->movedAt)
                __builtin_prefetch(&pass->moves[2 * j]);
        }
    }
    // Deferred moves read no partner's points here.
    if (r + 4 < pass->m && !pass->movedAt) {
        int j = pass->firstCandidate[r + 4];
        if (j >= 0) {
            const BufModel *model = pass->model;
            int32_t a = pass->edges[j].pointA, b = pass->edges[j].pointB;
            if (a >= 0 && a < model->pointCount)
                __builtin_prefetch(model->pointTable[a]);
            if (b >= 0 && b < model->pointCount)
                __builtin_prefetch(model->pointTable[b]);
        }
    }
}

// The first word of a record's key among the seam partners: its polygon
// with one of its host points. Keys of different polygons may meet; the
// callers test each candidate's full condition.
static uint64_t PartnerKey(const LineInfo *edge, LWPntID point)
{
    return KeyScramble(KeyOf(edge->hostPoly)) ^ KeyOf(point);
}

// Joins every seam: two linked records of one host polygon that run along
// the same two host points in opposite directions. Returns non-zero on abort.
//
// A join hands a record links from linked ones; where a host gave null point
// ids, a record left unlinked at one end can match and become linked. So
// the sweep tests the records themselves, and once a seam is joined the
// side-by-side copy is taken again.
// Kept out of ChamferEdges: inlined there, with the joining's record on its
// frame, it left the pairing's loop about 5% slower at 16,224 quads (A/B in
// one benchmark run), though no sphere has a seam.
__attribute__((noinline)) static int JoinSeams(StripPass *pass)
{
    LineInfo *edges = pass->edges;
    int joined = 0;
    int aborted = 0;
    SeamJoin seams;
    SeamJoinOpen(&seams, pass->model, edges, pass->m);
    // The records of each polygon by their host points a and b: a record's
    // partners are those of its polygon under (b, a). Where a polygon walks
    // a few points back and forth, the records leaving one point are mostly
    // not its partners.
    KeyIndex partners;
    KeyIndexOpen(&partners, pass->seamCandidates ? pass->m : 0);
    for (int r = 0; pass->seamCandidates && r < pass->m; r++)
        KeyIndexAdd(&partners, r, PartnerKey(&edges[r], edges[r].hostA), KeyOf(edges[r].hostB));
    for (int i = 0; i < pass->m; i++) {
        if (MonitorStep(pass->ctx, 1)) {
            aborted = 1;
            break;
        }
        if (!pass->seamCandidates || !SeamJoinLinked(&seams, i))
            continue;
        for (int j = KeyIndexFirst(&partners, PartnerKey(&edges[i], edges[i].hostB), KeyOf(edges[i].hostA));
             j >= 0; j = KeyIndexNext(&partners, j)) {
            if (j <= i)
                continue;
            if (edges[i].hostA == edges[j].hostB && edges[i].hostB == edges[j].hostA &&
                edges[i].hostPoly == edges[j].hostPoly && SeamJoinLinked(&seams, j)) {
                SeamJoinEdges(&seams, i, j);
                joined = 1;
            }
        }
    }
    KeyIndexClose(&partners);
    SeamJoinClose(&seams);
    for (int r = 0; joined && pass->linked && r < pass->m; r++)
        pass->linked[r] = (unsigned char)IsLinked(&edges[r]);
    return aborted;
}

// The pairing moves both ends of each record of a strip, one record after
// the other, so a buffered point moves once for each record that has it as
// an end, in the pairing's order: its position plus the first move, plus the
// second. Where each point is the end a of at most one record and the end b
// of at most one other (every polygon has copies of its points of its own,
// and no seam made two records share them), the pairing need only note the
// order, and the points can be moved afterwards in one sweep over them, in
// the same order and so to the same positions. The pairing then reads no
// partner's points or moves. Without memory, or where points are shared
// otherwise, nothing is deferred. PlanMoves begins the tables and notes
// each record it places. Together with the prefetching above it buys about
// an eighth of the activation at 6,144 and 16,224 quads.
static void DropDeferral(StripPass *pass)
{
    free(pass->moverA);
    free(pass->moverB);
    free(pass->movedAt);
    pass->moverA = pass->moverB = pass->movedAt = nullptr;
}

static void BeginDeferral(StripPass *pass)
{
    int n = pass->model->pointCount;
    size_t points = n > 0 ? (size_t)n : 1;
    size_t records = pass->m > 0 ? (size_t)pass->m : 1;
    pass->moverA = (int32_t *)malloc(points * sizeof(int32_t));
    pass->moverB = (int32_t *)malloc(points * sizeof(int32_t));
    pass->movedAt = (int32_t *)malloc(records * sizeof(int32_t));
    pass->movesMade = 0;
    if (!pass->moverA || !pass->moverB || !pass->movedAt) {
        DropDeferral(pass);
        return;
    }
    // All bits set: -1 in every entry.
    memset(pass->moverA, 0xFF, points * sizeof(int32_t));
    memset(pass->moverB, 0xFF, points * sizeof(int32_t));
    memset(pass->movedAt, 0xFF, records * sizeof(int32_t));
}

// Notes placed record r as the mover of its two ends; ends it shares with
// another record, ends that coincide or lie outside the model end the
// deferral.
static void NoteMovers(StripPass *pass, int r)
{
    int n = pass->model->pointCount;
    int32_t a = pass->edges[r].pointA, b = pass->edges[r].pointB;
    if (a < 0 || a >= n || b < 0 || b >= n || a == b || pass->moverA[a] >= 0 || pass->moverB[b] >= 0) {
        DropDeferral(pass);
        return;
    }
    pass->moverA[a] = r;
    pass->moverB[b] = r;
}

// When every edge is chamfered, nearly every linked record's ends are moved,
// and the moves depend only on what the host answers (see EdgePolyNormal).
// Computing them all in one sweep over the records, in array order, lets
// the records of one polygon share the polygon's normal and keeps the
// arithmetic out of the pairing, whose partner records lie anywhere in the
// array. The pairing then adds each move exactly where the record's own
// OffsetEdgePoints would have. Without memory for the table nothing is
// planned.
//
// Two records of a polygon that meet at a corner, q (P -> A, then B) and r
// (A -> B, after P), slide their ends at A along each other's edge:
// q's end b is CornerOffset(A - P, B - A) and r's end a is CornerOffset(B -
// A, A - P), which CornerOffsetPair gives together. A corner met first as
// the far end of a record is kept for the next record; one met first as the
// near end (the first record of a polygon) is kept until the polygon's
// closing record. Each is taken only by a record whose host points and
// polygon say it is that partner; any other record computes its own.
namespace {

struct KeptCorner {
    int valid;
    LWPntID from, at, to;  // the partner record's host points a, b and next (or
                           // previous, a and b: see the two uses below)
    LWPolID poly;
    Vec3 offset;
};

}  // namespace

static void Keep(KeptCorner *kept, LWPntID from, LWPntID at, LWPntID to, LWPolID poly, const Vec3 &offset)
{
    kept->valid = 1;
    kept->from = from;
    kept->at = at;
    kept->to = to;
    kept->poly = poly;
    kept->offset = offset;
}

static int Matches(const KeptCorner *kept, LWPntID from, LWPntID at, LWPntID to, LWPolID poly)
{
    return kept->valid && kept->from == from && kept->at == at && kept->to == to && kept->poly == poly;
}

// The host positions of the last record's four points. The next record of
// a polygon shares three of them (its previous point, a and b are the last
// one's a, b and next), so it asks the host for one point instead of four;
// the host gives the same position for a point throughout the edit.
namespace {

struct KnownPoints {
    int count;
    LWPntID id[4];
    Vec3 position[4];
};

}  // namespace

static int Position(EditContext *ctx, const KnownPoints *known, LWPntID id, Vec3 *out)
{
    for (int k = 0; k < known->count; k++) {
        if (known->id[k] == id) {
            *out = known->position[k];
            return 1;
        }
    }
    return HostPointPosition(ctx, id, out);
}

// The host positions of the record's points a, b, previous and next,
// through the last record's points; keeps this record's.
static int KnownPositions(EditContext *ctx, KnownPoints *known, const LineInfo *edge, Vec3 *a, Vec3 *b,
                          Vec3 *prev, Vec3 *next)
{
    if (!Position(ctx, known, edge->hostA, a) || !Position(ctx, known, edge->hostB, b) ||
        !Position(ctx, known, edge->hostPrev, prev) || !Position(ctx, known, edge->hostNext, next)) {
        known->count = 0;
        return 0;
    }
    known->count = 4;
    known->id[0] = edge->hostA;
    known->id[1] = edge->hostB;
    known->id[2] = edge->hostPrev;
    known->id[3] = edge->hostNext;
    known->position[0] = *a;
    known->position[1] = *b;
    known->position[2] = *prev;
    known->position[3] = *next;
    return 1;
}

static void PlanMoves(StripPass *pass, double size)
{
    pass->moves = (Vec3 *)malloc((pass->m > 0 ? (size_t)pass->m : 1) * 2 * sizeof(Vec3));
    pass->placed = (unsigned char *)malloc(pass->m > 0 ? (size_t)pass->m : 1);
    if (!pass->moves || !pass->placed) {
        free(pass->moves);
        free(pass->placed);
        pass->moves = nullptr;
        pass->placed = nullptr;
        return;
    }
    // Only linked records are ever paired, and only placed ones move; no
    // seam may have made records share their points.
    if (!pass->seamCandidates)
        BeginDeferral(pass);
    LWPolID normalOf = nullptr;
    Vec3 n = {0.0, 0.0, 1.0};
    // The end a of the record after the last one: (prev, a, b) of that record.
    KeptCorner nextStart = {0, nullptr, nullptr, nullptr, nullptr, {0.0, 0.0, 0.0}};
    // The end b of a polygon's closing record: (a, b, next) of that record.
    KeptCorner closingEnd = nextStart;
    KnownPoints known;
    known.count = 0;
    for (int r = 0; r < pass->m; r++) {
        const LineInfo *edge = &pass->edges[r];
        pass->placed[r] = 0;
        if (!IsLinked(edge))
            continue;
        if (r == 0 || edge->hostPoly != normalOf) {
            Vec3 normal = EdgePolyNormal(pass->ctx, edge->hostPoly);
            n = VecDiv(normal, VecLength(normal));
            normalOf = edge->hostPoly;
        }
        Vec3 a, b, prev, next;
        if (!KnownPositions(pass->ctx, &known, edge, &a, &b, &prev, &next))
            continue;
        Vec3 x = VecSub(b, a);
        Vec3 *offsetA = &pass->moves[2 * r];
        Vec3 *offsetB = &pass->moves[2 * r + 1];
        Vec3 other;
        if (Matches(&nextStart, edge->hostPrev, edge->hostA, edge->hostB, edge->hostPoly)) {
            *offsetA = nextStart.offset;
        } else {
            Vec3 y = VecSub(a, prev);
            CornerOffsetPair(x, y, n, size, offsetA, &other);
            Keep(&closingEnd, edge->hostPrev, edge->hostA, edge->hostB, edge->hostPoly, other);
        }
        if (Matches(&closingEnd, edge->hostA, edge->hostB, edge->hostNext, edge->hostPoly)) {
            *offsetB = closingEnd.offset;
            nextStart.valid = 0;
        } else {
            Vec3 y = VecSub(next, b);
            CornerOffsetPair(x, y, n, size, offsetB, &other);
            Keep(&nextStart, edge->hostA, edge->hostB, edge->hostNext, edge->hostPoly, other);
        }
        pass->placed[r] = 1;
        if (pass->movedAt)
            NoteMovers(pass, r);
    }
}

// The deferred moves, point by point: each point takes the moves of its
// (at most two) records in the order the pairing moved them.
static void ApplyDeferredMoves(StripPass *pass)
{
    if (!pass->movedAt)
        return;
    BufModel *model = pass->model;
    for (int k = 0; k < model->pointCount; k++) {
        int32_t ra = pass->moverA[k], rb = pass->moverB[k];
        int32_t ta = ra >= 0 ? pass->movedAt[ra] : -1;
        int32_t tb = rb >= 0 ? pass->movedAt[rb] : -1;
        if (ta < 0 && tb < 0)
            continue;
        BufPoint *point = model->pointTable[k];
        if (ta >= 0 && tb >= 0) {
            const Vec3 &first = ta < tb ? pass->moves[2 * ra] : pass->moves[2 * rb + 1];
            const Vec3 &second = ta < tb ? pass->moves[2 * rb + 1] : pass->moves[2 * ra];
            point->position = VecAdd(VecAdd(point->position, first), second);
        } else if (ta >= 0) {
            point->position = VecAdd(point->position, pass->moves[2 * ra]);
        } else {
            point->position = VecAdd(point->position, pass->moves[2 * rb + 1]);
        }
        point->hostId = 0;
    }
}

// Whether the edge record r runs along is crowded: three or more records run
// between its host points. No pair of them is told apart from another, so
// none gets a strip; the edge stays as it is, as an open border does.
static int OnCrowdedEdge(const StripPass *pass, int r)
{
    const EdgeAdjacency *adj = &pass->adjacency;
    const LineInfo *edge = &pass->edges[r];
    return EdgePointCrowded(adj, EdgeFrom(adj, r)) &&
           EdgeIsCrowded(adj, pass->edges, edge->hostA, edge->hostB);
}

// The ends of record r that stay where they are: those at which its polygon
// runs on along a crowded edge. Sliding along that edge, as at a border,
// would take the polygon's side of the crowded edge apart from the others'.
static void PinnedEnds(const StripPass *pass, int r, int *pinA, int *pinB)
{
    const EdgeAdjacency *adj = &pass->adjacency;
    const LineInfo *edge = &pass->edges[r];
    *pinA = EdgePointCrowded(adj, EdgeFrom(adj, r)) &&
            EdgeIsCrowded(adj, pass->edges, edge->hostPrev, edge->hostA);
    *pinB = EdgePointCrowded(adj, EdgeTo(adj, r)) &&
            EdgeIsCrowded(adj, pass->edges, edge->hostB, edge->hostNext);
}

static void MoveRecord(StripPass *pass, int r, double size)
{
    int pinA, pinB;
    PinnedEnds(pass, r, &pinA, &pinB);
    if (pass->moves && (pinA || pinB)) {
        if (pinA)
            pass->moves[2 * r] = Vec3{0.0, 0.0, 0.0};
        if (pinB)
            pass->moves[2 * r + 1] = Vec3{0.0, 0.0, 0.0};
    }
    if (pass->movedAt) {
        pass->movedAt[r] = pass->movesMade++;
        return;
    }
    if (!pass->moves) {
        OffsetEdgePointsPinned(pass->ctx, &pass->edges[r], size, pinA, pinB);
        return;
    }
    if (pass->placed[r])
        MoveEdgePoints(pass->model, &pass->edges[r], pass->moves[2 * r], pass->moves[2 * r + 1]);
}

// Strip for the pair i (A to B in polygon I), j (B to A in polygon J):
// J's copy of A, J's copy of B, I's copy of B, I's copy of A. It runs along
// the edge against each neighbour, which keeps its winding consistent with
// both. Then both copies are moved back from the edge.
static void BuildStrip(StripPass *pass, int i, int j, double size)
{
    LineInfo *ei = &pass->edges[i];
    LineInfo *ej = &pass->edges[j];
    int32_t quad[4] = {ej->pointB, ej->pointA, ei->pointB, ei->pointA};
    const char *name = SameSurface(ei->surface, ej->surface) ? ei->surface : nullptr;
    BufModelAddFace(pass->model, name, 4, quad);
    MoveRecord(pass, i, size);
    MoveRecord(pass, j, size);
}

// Pairs each still available record with the first later one that runs
// along its edge the other way in another polygon. `settings` null means
// every pair is chamfered; otherwise the pair must pass the angle test, and
// a pair that fails is out for good while i goes on looking.
static void PairEdges(StripPass *pass, unsigned char *available, double size, const Settings *settings)
{
    LineInfo *edges = pass->edges;
    for (int i = 0; i < pass->m; i++) {
        if (MonitorStep(pass->ctx, 1))
            return;
        PrefetchPartner(pass, i);
        if (!available[i])
            continue;
        LineInfo *ei = &edges[i];
        EdgeCursor c = Opposite(pass, i);
        for (int j = EdgeCursorNext(&c); j >= 0; j = EdgeCursorNext(&c)) {
            if (!available[j] || RuledOutByPolygon(pass, i, j, 0))
                continue;
            LineInfo *ej = &edges[j];
            if (ei->hostA != ej->hostB || ei->hostB != ej->hostA || ei->hostPoly == ej->hostPoly)
                continue;
            if (settings && !PassesAngleTest(settings, ei, ej)) {
                available[i] = 0;
                available[j] = 0;
                continue;
            }
            BuildStrip(pass, i, j, size);
            available[i] = 0;
            available[j] = 0;
            ei->done = 1;
            ej->done = 1;
            break;
        }
    }
}

static void ChamferEdges(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges, double size,
                         const Settings *settings)
{
    BufModel *model = ctx->model;
    MonitorOpen(ctx, "Corvane mode:Object", " Phase: MakeLineCorvanePoly");
    MonitorInit(ctx, m);
    unsigned char *available = (unsigned char *)malloc(m > 0 ? (size_t)m : 1);
    if (!available) {
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        MonitorClose(ctx);
        return;
    }
    StripPass pass;
    pass.ctx = ctx;
    pass.model = model;
    pass.m = m;
    pass.edges = edges;
    EdgeAdjacencyOpen(shared, &pass.adjacency, edges, m);
    // Without memory for its index every lookup would scan all the records,
    // which on a large mesh never ends in a user's lifetime: the run stops
    // and says why.
    if (pass.adjacency.degraded) {
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        EdgeAdjacencyClose(&pass.adjacency);
        free(available);
        MonitorClose(ctx);
        return;
    }
    pass.moves = nullptr;
    pass.moverA = pass.moverB = pass.movedAt = nullptr;
    pass.placed = nullptr;
    // One block for the side-by-side arrays (see StripPass).
    size_t records = m > 0 ? (size_t)m : 1;
    char *side = (char *)malloc(records * (sizeof(LWPolID) + sizeof(int32_t) + 1));
    pass.polyOf = nullptr;
    pass.firstCandidate = nullptr;
    pass.linked = nullptr;
    pass.seamCandidates = 1;
    if (side) {
        pass.polyOf = (LWPolID *)side;
        pass.firstCandidate = (int32_t *)(side + records * sizeof(LWPolID));
        pass.linked = (unsigned char *)(side + records * (sizeof(LWPolID) + sizeof(int32_t)));
        for (int r = 0; r < m; r++) {
            pass.polyOf[r] = edges[r].hostPoly;
            pass.linked[r] = (unsigned char)IsLinked(&edges[r]);
        }
        pass.seamCandidates = 0;
        for (int r = 0; r < m; r++) {
            pass.firstCandidate[r] = -1;
            EdgeCursor c = Opposite(&pass, r);
            for (int j = EdgeCursorNext(&c); j >= 0; j = EdgeCursorNext(&c)) {
                if (pass.firstCandidate[r] < 0)
                    pass.firstCandidate[r] = j;
                if (pass.polyOf[j] == pass.polyOf[r])
                    pass.seamCandidates = 1;
                // The rest of the candidates can tell nothing more.
                if (pass.seamCandidates)
                    break;
            }
        }
    }

    // An abort here still lets the pairing begin on the same monitor.
    JoinSeams(&pass);
    // The seams are joined, so every record's links are final. With an angle
    // test most records are never moved: their moves are computed as needed.
    if (!settings)
        PlanMoves(&pass, size);

    for (int i = 0; i < m; i++)
        available[i] = RecordLinked(&pass, i) && !OnCrowdedEdge(&pass, i) ? 1 : 0;
    MonitorInit(ctx, m);
    PairEdges(&pass, available, size, settings);
    ApplyDeferredMoves(&pass);

    MonitorClose(ctx);
    EdgeAdjacencyClose(&pass.adjacency);
    free(pass.moves);
    free(pass.moverA);
    free(pass.moverB);
    free(pass.movedAt);
    free(pass.placed);
    free(side);
    free(available);
}

void MakeLineCorvanePoly(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges, double size)
{
    ChamferEdges(ctx, shared, m, edges, size, nullptr);
}

void MakeLineCorvanePolyLimited(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges,
                                const Settings *settings)
{
    ChamferEdges(ctx, shared, m, edges, settings->bevelSize, settings);
}
