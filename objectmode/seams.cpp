// The seam join: the rewrites a join makes, record by record or through the
// classes of seamclasses.h, and the quiet joins that skip the classes.
#include "objectmode/seams.h"

#include <stdlib.h>
#include <string.h>

#include "objectmode/seamclasses.h"

// A slit polygon runs along the seam A-B twice, as i (A to B) and j (B to A):
//
//        kin_i       i: A --> B      kout_i
//     ---------> A ==============> B --------->
//     <--------- A <============== B <---------
//        kout_j      j: B --> A      kin_j
//
// Afterwards both traversals use i's buffered points, and the records next to
// the seam are linked across it as if the seam were absent: the record that
// leads into j continues where i continues, the one that leaves j takes over
// what precedes i, and the records at i take j's neighbours.
//
// One record k of i's polygon, as the seam joining rewrites it.
static void JoinSeamNeighbour(LineInfo *ek, const LineInfo *ei, const LineInfo *ej)
{
    if (ek->hostB == ej->hostA && ek->hostNext == ej->hostB) {
        // k leads into j
        ek->hostNext = ei->hostNext;
        ek->nextVertex = ei->nextVertex;
        ek->pointB = ei->pointB;
        ek->vertexB = ei->vertexB;
    } else if (ek->hostPrev == ej->hostA && ek->hostA == ej->hostB) {
        // k leaves j
        ek->hostPrev = ei->hostPrev;
        ek->prevVertex = ei->prevVertex;
        ek->pointA = ei->pointA;
        ek->vertexA = ei->vertexA;
    }
    if (ek->hostB == ei->hostA && ek->hostNext == ei->hostB) {
        // k leads into i
        ek->hostNext = ej->hostNext;
        ek->nextVertex = ej->nextVertex;
    } else if (ek->hostPrev == ei->hostA && ek->hostA == ei->hostB) {
        // k leaves i
        ek->hostPrev = ej->hostPrev;
        ek->prevVertex = ej->prevVertex;
    }
}

namespace {

// A record's two ends: its buffered points and their vertices in the
// polygon's copy.
struct Ends {
    int32_t pointA, vertexA, pointB, vertexB;
};

}  // namespace

// The seam's two traversals take i's points, in the polygon's copy (i's
// polygon index) and in j.
static void JoinSeamEnds(BufModel *model, int32_t polyIndex, const Ends &i, Ends *j)
{
    // The polygon's copy takes i's points at j's two vertices.
    BufPoly *poly = polyIndex >= 0 ? BufModelGetPoly(model, polyIndex) : nullptr;
    // Every vertex index is checked: a record whose polygon index names
    // another polygon than its vertices belong to must not reach past it.
    if (poly && j->vertexA >= 0 && j->vertexA < poly->count && j->vertexB >= 0 && j->vertexB < poly->count &&
        i.vertexA >= 0 && i.vertexA < poly->count && i.vertexB >= 0 && i.vertexB < poly->count) {
        poly->points[j->vertexA] = poly->points[i.vertexB];
        poly->points[j->vertexB] = poly->points[i.vertexA];
    }

    // j now runs B to A over i's points; its host points and links stay.
    j->pointA = i.pointB;
    j->pointB = i.pointA;
    j->vertexA = i.vertexB;
    j->vertexB = i.vertexA;
}

static void JoinSeamPoints(BufModel *model, const LineInfo *ei, LineInfo *ej)
{
    const Ends i = {ei->pointA, ei->vertexA, ei->pointB, ei->vertexB};
    Ends j = {ej->pointA, ej->vertexA, ej->pointB, ej->vertexB};
    JoinSeamEnds(model, ei->polyIndex, i, &j);
    ej->pointA = j.pointA;
    ej->vertexA = j.vertexA;
    ej->pointB = j.pointB;
    ej->vertexB = j.vertexB;
}

// What a join does to one class: its new host points and, per group, the
// value written last, if any.
struct SeamOutcome {
    int32_t tuple, to;
    SeamHosts hosts;
    int written[4];
    int32_t value[4][2];
    int intoI, leavesI;  // the class takes j's next link, or j's previous one
};

// JoinSeamNeighbour on a class's host points, with i's and j's values.
static void Simulate(SeamOutcome *out, SeamHosts k, const SeamHosts &i, const SeamValues &vi,
                     const SeamHosts &j, const SeamValues &vj)
{
    SeamOutcome &o = *out;
    for (int g = 0; g < 4; g++)
        o.written[g] = 0;
    o.intoI = o.leavesI = 0;
    auto write = [&](int g, int32_t v0, int32_t v1) {
        o.written[g] = 1;
        o.value[g][0] = v0;
        o.value[g][1] = v1;
    };
    if (k.b == j.a && k.next == j.b) {
        k.next = i.next;
        write(SEAM_NEXT_LINK, vi.v[SEAM_NEXT_LINK][0], 0);
        write(SEAM_END_B, vi.v[SEAM_END_B][0], vi.v[SEAM_END_B][1]);
    } else if (k.prev == j.a && k.a == j.b) {
        k.prev = i.prev;
        write(SEAM_PREV_LINK, vi.v[SEAM_PREV_LINK][0], 0);
        write(SEAM_END_A, vi.v[SEAM_END_A][0], vi.v[SEAM_END_A][1]);
    }
    if (k.b == i.a && k.next == i.b) {
        k.next = j.next;
        write(SEAM_NEXT_LINK, vj.v[SEAM_NEXT_LINK][0], 0);
        o.intoI = 1;
    } else if (k.prev == i.a && k.a == i.b) {
        k.prev = j.prev;
        write(SEAM_PREV_LINK, vj.v[SEAM_PREV_LINK][0], 0);
        o.leavesI = 1;
    }
    o.hosts = k;
}

// j takes i's points (as JoinSeamPoints, on the two records' current
// values), and keeps its values from now on as its own; they are
// returned.
static SeamValues JoinPointsOfClasses(SeamJoin *join, int i, int j, const SeamValues &vi, SeamValues vj,
                                      int64_t now)
{
    const Ends ei = {vi.v[SEAM_END_A][0], vi.v[SEAM_END_A][1], vi.v[SEAM_END_B][0], vi.v[SEAM_END_B][1]};
    Ends ej = {vj.v[SEAM_END_A][0], vj.v[SEAM_END_A][1], vj.v[SEAM_END_B][0], vj.v[SEAM_END_B][1]};
    JoinSeamEnds(join->model, join->edges[i].polyIndex, ei, &ej);
    vj.v[SEAM_END_A][0] = ej.pointA;
    vj.v[SEAM_END_A][1] = ej.vertexA;
    vj.v[SEAM_END_B][0] = ej.pointB;
    vj.v[SEAM_END_B][1] = ej.vertexB;
    SeamSetOwn(join, j, vj, now);
    return vj;
}

// Notes whether the join just decided, done once more with the same i and
// j, would leave every class as it leaves them: each class it reached, at
// its new host points, takes the same branches and is written what it
// already holds. Then after the join only i and j may hold what it would
// rewrite (their own values, which it does not reach), and i's next join,
// with a j' whose host points the rewrites tell from j's by nothing they
// write, rewrites j alone and, where j' holds other links than j, the
// classes that take them (JoinQuietly).
static void NoteQuiet(SeamJoin *join, int count, const SeamHosts &hi, const SeamValues &vi,
                      const SeamHosts &hj, const SeamValues &vj, int i)
{
    join->quietRecord = -1;
    join->quietCount[0] = join->quietCount[1] = 0;
    for (int n = 0; n < count; n++) {
        const SeamOutcome *o = &join->scratch[n];
        SeamOutcome again;
        Simulate(&again, o->hosts, hi, vi, hj, vj);
        if (again.hosts.prev != o->hosts.prev || again.hosts.next != o->hosts.next)
            return;
        for (int g = 0; g < 4; g++) {
            if (again.written[g] && (!o->written[g] || again.value[g][0] != o->value[g][0] ||
                                     again.value[g][1] != o->value[g][1]))
                return;
        }
        for (int x = 0; x < 2; x++) {
            int32_t *noted = &join->quietCount[x];
            if (!(x == 0 ? again.intoI : again.leavesI))
                continue;
            if (*noted < SEAM_QUIET_CLASSES)
                join->quietClasses[x][*noted] = o->to;
            if (*noted <= SEAM_QUIET_CLASSES)
                ++*noted;
        }
    }
    join->quietRecord = i;
}

// The join of i and j after a quiet one of i and q (NoteQuiet): q is
// rewritten as a record of its class would be, and j takes i's points.
// 0 when j differs from q in what the rewrites write.
static int JoinQuietly(SeamJoin *join, SeamClasses *c, int i, int j, const SeamValues &vi,
                       const SeamValues &vj)
{
    SeamValues vq;
    static_assert(sizeof vq == sizeof join->quietValues, "q's values are kept as they are");
    memcpy(&vq, join->quietValues, sizeof vq);
    SeamHosts hj = SeamHostsOf(c, vj.tuple);
    SeamHosts hq = SeamHostsOf(c, vq.tuple);
    // The classes that take q's links must take the same host points from
    // j; where j's vertices there differ, those classes take j's.
    const int groups[2] = {SEAM_NEXT_LINK, SEAM_PREV_LINK};
    int rewrite[2];
    for (int x = 0; x < 2; x++) {
        int count = join->quietCount[x];
        if (count > 0 && (x == 0 ? hj.next != hq.next : hj.prev != hq.prev))
            return 0;
        rewrite[x] = count > 0 && vj.v[groups[x]][0] != vq.v[groups[x]][0];
        if (rewrite[x] && count > SEAM_QUIET_CLASSES)
            return 0;
    }
    SeamOutcome o;
    Simulate(&o, hq, SeamHostsOf(c, vi.tuple), vi, hj, vj);
    if (o.hosts.prev != hq.prev || o.hosts.next != hq.next)
        return 0;
    int64_t now = ++join->clock;
    int reachesI = 0;
    for (int x = 0; x < 2; x++) {
        for (int n = 0; rewrite[x] && n < join->quietCount[x]; n++) {
            int32_t t = join->quietClasses[x][n];
            SeamNode *node = &join->nodes[c->tuples[t].top];
            node->value[groups[x]][0] = vj.v[groups[x]][0];
            node->value[groups[x]][1] = 0;
            node->stamp[groups[x]] = now;
            reachesI = reachesI || t == vi.tuple;
        }
    }
    // i keeps its values, as in every join.
    now = ++join->clock;
    if (reachesI)
        SeamSetOwn(join, i, vi, now);
    int changed = 0;
    for (int g = 0; g < 4; g++) {
        if (o.written[g] && (vq.v[g][0] != o.value[g][0] || vq.v[g][1] != o.value[g][1])) {
            vq.v[g][0] = o.value[g][0];
            vq.v[g][1] = o.value[g][1];
            changed = 1;
        }
    }
    if (changed)
        SeamSetOwn(join, join->quietJ, vq, now);
    join->quietJ = j;
    // Where j already runs over i's points the other way round, the
    // polygon's copy already holds them there too, and with nothing else
    // rewritten the join changes nothing (as most joins of a polygon that
    // stays on one point or walks a few edges).
    if (!changed && !rewrite[0] && !rewrite[1] && vj.v[SEAM_END_A][0] == vi.v[SEAM_END_B][0] &&
        vj.v[SEAM_END_A][1] == vi.v[SEAM_END_B][1] && vj.v[SEAM_END_B][0] == vi.v[SEAM_END_A][0] &&
        vj.v[SEAM_END_B][1] == vi.v[SEAM_END_A][1]) {
        memcpy(join->quietValues, &vj, sizeof vj);
        return 1;
    }
    SeamValues after = JoinPointsOfClasses(join, i, j, vi, vj, now);
    memcpy(join->quietValues, &after, sizeof after);
    return 1;
}

// Back to joining i's polygon by records, for want of memory; 0.
static int GiveUpClasses(SeamJoin *join, int i)
{
    SeamLeaveClasses(join, i);
    return 0;
}

// Lists in the scratch, once each, the classes a join of i and j reaches:
// those of j's pairs (B, A) and of i's (A, B). 0 without memory.
static int GatherClasses(SeamJoin *join, SeamClasses *c, int i, int j, int *count)
{
    const int32_t lists[4] = {join->records[j].pairs[0], join->records[j].pairs[1], join->records[i].pairs[0],
                              join->records[i].pairs[1]};
    *count = 0;
    for (int list = 0; list < 4; list++) {
        for (int32_t t = c->head[lists[list]]; t >= 0; t = c->tuples[t].link[2 * (list & 1)]) {
            if (c->tuples[t].mark)
                continue;
            void *scratch = SeamEnlarged(join->scratch, *count, &join->scratchCap, sizeof(SeamOutcome));
            if (!scratch) {
                for (int n = 0; n < *count; n++)
                    c->tuples[join->scratch[n].tuple].mark = 0;
                return 0;
            }
            join->scratch = (SeamOutcome *)scratch;
            c->tuples[t].mark = 1;
            join->scratch[(*count)++].tuple = t;
        }
    }
    return 1;
}

// Decides what the join does to each class gathered, on the classes as
// they were before it. The tuples the classes move to, and nodes for i and
// j (`fresh`) where their class moves without them, are made before
// anything is written. 0 without memory.
static int DecideClasses(SeamJoin *join, SeamClasses *c, int count, const SeamHosts &hi, const SeamValues &vi,
                         const SeamHosts &hj, const SeamValues &vj, const int32_t tuples[2], int32_t fresh[2],
                         int *reachesI)
{
    int ok = 1;
    *reachesI = 0;
    for (int n = 0; n < count; n++) {
        SeamOutcome *o = &join->scratch[n];
        int32_t t = o->tuple;
        *reachesI = *reachesI || t == vi.tuple;
        c->tuples[t].mark = 0;
        SeamHosts was = SeamHostsOf(c, t);
        Simulate(o, was, hi, vi, hj, vj);
        int32_t to = t;
        if (o->hosts.prev != was.prev || o->hosts.next != was.next)
            to = SeamTupleOf(c, o->hosts);
        o->to = to;
        for (int x = 0; x < 2 && ok; x++) {
            if (to >= 0 && to != t && t == tuples[x]) {
                fresh[x] = SeamNewNode(join, t);
                ok = fresh[x] >= 0;
            }
        }
        ok = ok && to >= 0;
    }
    return ok;
}

// Writes the decided values to the classes and moves those whose host
// points the join changed.
static void WriteClasses(SeamJoin *join, SeamClasses *c, int count)
{
    int64_t now = ++join->clock;
    for (int n = 0; n < count; n++) {
        const SeamOutcome *o = &join->scratch[n];
        SeamNode *node = &join->nodes[c->tuples[o->tuple].top];
        for (int g = 0; g < 4; g++) {
            if (!o->written[g])
                continue;
            node->value[g][0] = o->value[g][0];
            node->value[g][1] = o->value[g][1];
            node->stamp[g] = now;
        }
    }
    // Every moving class leaves its tuple before any arrives, so that a
    // class moving onto one that moves on is not carried along.
    int moving = 0;
    for (int n = 0; n < count; n++) {
        int32_t t = join->scratch[n].tuple;
        int32_t to = join->scratch[n].to;
        if (to == t)
            continue;
        SeamUnlistTuple(c, t);
        join->scratch[moving].tuple = c->tuples[t].top;
        join->scratch[moving].to = to;
        moving++;
        c->tuples[t].top = -1;
    }
    for (int n = 0; n < moving; n++)
        SeamArrive(join, c, join->scratch[n].tuple, join->scratch[n].to);
}

// The join of i and j through their polygon's classes; 0 when there was no
// memory for it: then the polygon is joined by records from now on.
static int JoinThroughClasses(SeamJoin *join, int i, int j)
{
    SeamClasses *c = &join->classes[join->records[i].classOf];
    SeamValues vi = SeamCurrent(join, i);
    SeamValues vj = SeamCurrent(join, j);
    // Where a polygon walks a few points back and forth, most joins of a
    // record i come after a quiet one (NoteQuiet) and need not visit the
    // classes at all. Without the quiet joins the slit walks of 800 and
    // 1,600 corners run 20% and 13% more instructions in all (the joins
    // themselves 2.8 times as many; callgrind, whole command).
    if (join->quietRecord == i && JoinQuietly(join, c, i, j, vi, vj))
        return 1;
    join->quietRecord = -1;
    SeamHosts hi = SeamHostsOf(c, vi.tuple);
    SeamHosts hj = SeamHostsOf(c, vj.tuple);
    int count;
    if (!GatherClasses(join, c, i, j, &count))
        return GiveUpClasses(join, i);
    const int ij[2] = {i, j};
    const int32_t tuples[2] = {vi.tuple, vj.tuple};
    int32_t fresh[2] = {-1, -1};
    int reachesI;
    if (!DecideClasses(join, c, count, hi, vi, hj, vj, tuples, fresh, &reachesI))
        return GiveUpClasses(join, i);
    if (fresh[0] < 0 && fresh[1] < 0)
        NoteQuiet(join, count, hi, vi, hj, vj, i);
    WriteClasses(join, c, count);
    // A join never moves i or j: where their class moved, they stay behind
    // on nodes of their own.
    for (int x = 0; x < 2; x++) {
        if (fresh[x] < 0)
            continue;
        join->nodes[fresh[x]].size = 1;
        SeamArrive(join, c, fresh[x], tuples[x]);
        join->records[ij[x]].nodeOf = fresh[x];
        join->records[ij[x]].ownSince = ++join->clock;
    }

    // i keeps its values; only writes to i's class reach it.
    int64_t now = ++join->clock;
    if (reachesI)
        SeamSetOwn(join, i, vi, now);
    SeamValues after = JoinPointsOfClasses(join, i, j, vi, vj, now);
    if (join->quietRecord == i) {
        join->quietJ = j;
        memcpy(join->quietValues, &after, sizeof after);
    }
    return 1;
}

void SeamJoinOpen(SeamJoin *join, BufModel *model, LineInfo *edges, int m)
{
    memset(join, 0, sizeof *join);
    join->model = model;
    join->edges = edges;
    join->m = m;
    join->quietRecord = -1;
}

void SeamJoinEdges(SeamJoin *join, int i, int j)
{
    if (!join->byPolyOpen) {
        KeyIndexOpen(&join->byPoly, join->m);
        for (int r = 0; r < join->m; r++)
            KeyIndexAdd(&join->byPoly, r, KeyOf(join->edges[r].hostPoly), 0);
        join->byPolyOpen = 1;
        SeamBeginClasses(join);
    }
    if (join->records) {
        if (join->records[i].classOf == -1)
            SeamEnterClasses(join, i);
        if (join->records[i].classOf >= 0 && JoinThroughClasses(join, i, j))
            return;
    }
    join->quietRecord = -1;
    // Without classes: every record of the polygon.
    LineInfo *ei = &join->edges[i];
    LineInfo *ej = &join->edges[j];
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(ei->hostPoly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        LineInfo *ek = &join->edges[k];
        if (k == i || k == j || ek->hostPoly != ei->hostPoly)
            continue;
        JoinSeamNeighbour(ek, ei, ej);
    }
    JoinSeamPoints(join->model, ei, ej);
}

int SeamJoinLinked(SeamJoin *join, int r)
{
    // A record joined through classes holds its links there.
    if (join->records && join->records[r].classOf >= 0) {
        SeamValues v = SeamCurrent(join, r);
        return v.v[SEAM_PREV_LINK][0] != -1 && v.v[SEAM_NEXT_LINK][0] != -1;
    }
    return join->edges[r].prevVertex != -1 && join->edges[r].nextVertex != -1;
}

void SeamJoinClose(SeamJoin *join)
{
    SeamEndClasses(join);
    free(join->scratch);
    if (join->byPolyOpen)
        KeyIndexClose(&join->byPoly);
    memset(join, 0, sizeof *join);
}
