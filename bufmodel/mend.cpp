// What the flush does once the weld has found which points are near: it
// chooses how they merge and mends the polygons the merge pinched. The
// weld may merge points that a polygon takes in one after another (both
// crossings of a small cut), or points it passes at two places of its ring
// (a strip end meeting a patch at a size below the weld's distance). What
// reaches the host must be a polygon of three or more distinct points, and
// a closed mesh must stay closed.
#include "bufmodel/bufmodel.h"

#include <stdint.h>
#include <stdlib.h>

namespace {

// What a vertex commits as: the host point it carries or its point stands
// for, else the point the flush will create for its index.
struct VertexKey {
    LWPntID host;
    int32_t index;  // -1 when `host` is set
};

inline VertexKey KeyOf(const BufPoly *poly, int v, const LWPntID *pointHost, int n)
{
    VertexKey key;
    key.host = poly->hostPoints[v];
    int32_t index = poly->points[v];
    if (!key.host && index >= 0 && index < n)
        key.host = pointHost[index];
    key.index = key.host ? -1 : index;
    return key;
}

inline bool SameKey(const VertexKey &a, const VertexKey &b)
{
    return a.host == b.host && a.index == b.index;
}

int CompareKeys(const void *pa, const void *pb)
{
    const VertexKey *a = static_cast<const VertexKey *>(pa);
    const VertexKey *b = static_cast<const VertexKey *>(pb);
    if (a->host != b->host)
        return a->host < b->host ? -1 : 1;
    return a->index < b->index ? -1 : a->index > b->index;
}

// Whether some point occurs twice in the polygon, in a row or not, by what
// each vertex commits as; a long polygon is sorted, and without memory for
// that it counts as one to mend (the mend finds out).
enum { kFewVertices = 16 };
bool HasRepeatByKey(const BufPoly *poly, const LWPntID *pointHost, int n)
{
    int count = poly->count;
    VertexKey few[kFewVertices];
    VertexKey *keys =
        count <= kFewVertices ? few : static_cast<VertexKey *>(malloc(sizeof(VertexKey) * (size_t)count));
    if (!keys)
        return true;
    for (int v = 0; v < count; v++)
        keys[v] = KeyOf(poly, v, pointHost, n);
    bool repeat = false;
    if (keys == few) {
        for (int i = 1; i < count && !repeat; i++)
            for (int j = 0; j < i && !repeat; j++)
                repeat = SameKey(keys[i], keys[j]);
        return repeat;
    }
    qsort(keys, (size_t)count, sizeof(VertexKey), CompareKeys);
    for (int i = 1; i < count && !repeat; i++)
        repeat = SameKey(keys[i], keys[i - 1]);
    free(keys);
    return repeat;
}

// HasRepeatByKey, but every polygon is looked at: triangles and quads,
// most of a mesh, by index alone where no host id is about (`hosted`: some
// point stands for a host point).
inline bool HasRepeat(const BufPoly *poly, const LWPntID *pointHost, bool hosted, int n)
{
    int count = poly->count;
    if ((count == 3 || count == 4) && !hosted) {
        const LWPntID *h = poly->hostPoints;
        const int32_t *p = poly->points;
        if (count == 3 && !h[0] && !h[1] && !h[2])
            return p[0] == p[1] || p[0] == p[2] || p[1] == p[2];
        if (count == 4 && !h[0] && !h[1] && !h[2] && !h[3])
            return p[0] == p[1] || p[0] == p[2] || p[0] == p[3] || p[1] == p[2] || p[1] == p[3] ||
                   p[2] == p[3];
    }
    return HasRepeatByKey(poly, pointHost, n);
}

struct Corner {
    VertexKey key;
    int32_t index;
    LWPntID host;
};

// A ring cut into lobes: what is left on the stack (`top` corners) and the
// lobes cut off it, lobe k being lobeCorners[lobeStart[k] .. lobeStart[k + 1]).
// The arrays hold `room` corners; `onStack` gives, by point index, the
// place of a point's corner on the stack, or -1.
struct Lobes {
    Corner *stack;
    Corner *lobeCorners;
    int *lobeStart;
    int32_t *indices;  // a lobe's point indices, for its new record
    int room;
    int top;
    int lobes;
    int32_t *onStack;
};

bool MakeRoom(Lobes &w, int count, int n)
{
    if (!w.onStack) {
        w.onStack = static_cast<int32_t *>(malloc(sizeof(int32_t) * (size_t)(n > 0 ? n : 1)));
        if (!w.onStack)
            return false;
        for (int i = 0; i < n; i++)
            w.onStack[i] = -1;
    }
    if (count <= w.room)
        return true;
    free(w.stack);
    free(w.lobeCorners);
    free(w.lobeStart);
    free(w.indices);
    w.stack = static_cast<Corner *>(malloc(sizeof(Corner) * (size_t)count));
    w.lobeCorners = static_cast<Corner *>(malloc(sizeof(Corner) * (size_t)count));
    w.lobeStart = static_cast<int *>(malloc(sizeof(int) * (size_t)(count + 1)));
    w.indices = static_cast<int32_t *>(malloc(sizeof(int32_t) * (size_t)count));
    w.room = w.stack && w.lobeCorners && w.lobeStart && w.indices ? count : 0;
    return w.room > 0;
}

void FreeLobes(Lobes &w)
{
    free(w.stack);
    free(w.lobeCorners);
    free(w.lobeStart);
    free(w.indices);
    free(w.onStack);
}

// Whether a corner is found by its index (see StackPlace).
inline bool Indexed(const VertexKey &key, int n)
{
    return !key.host && key.index >= 0 && key.index < n;
}

// Where on the stack a corner with this key lies, or -1. Corners of new
// points are found through `onStack`, by index; corners of host points
// (and of indices no point has) are looked for along the stack.
int StackPlace(const Lobes &w, const VertexKey &key, int n)
{
    if (Indexed(key, n))
        return w.onStack[key.index];
    for (int i = 0; i < w.top; i++) {
        if (SameKey(w.stack[i].key, key))
            return i;
    }
    return -1;
}

// Cuts a ring of corners into lobes. The ring is walked with a stack of
// corners: a corner whose point is on the stack already closes a lobe, the
// corners from that earlier one up to the top, which leave the stack, the
// earlier one staying for both. A point repeated in a row closes a lobe of
// one corner, a spike (there and back) one of two; only lobes of three
// corners or more are kept. So every lobe is a ring without a repeat, and
// the edges of all lobes and of the stack's ring together are the ring's
// edges less those of the one- and two-corner lobes, which are no edges (a
// point to itself) or pair up (a to b and b to a): a polygon and its
// neighbours meet at the same edges as before. The ring's last edge, back
// to its first corner, is the stack's own, as the first corner never
// leaves the stack.
void CutLobes(Lobes &w, const Corner *ring, int count, int n)
{
    int lobeCorners = 0;
    w.top = 0;
    w.lobes = 0;
    w.lobeStart[0] = 0;
    for (int v = 0; v < count; v++) {
        int at = StackPlace(w, ring[v].key, n);
        if (at < 0) {
            if (Indexed(ring[v].key, n))
                w.onStack[ring[v].key.index] = w.top;
            w.stack[w.top++] = ring[v];
            continue;
        }
        if (w.top - at >= 3) {
            for (int i = at; i < w.top; i++)
                w.lobeCorners[lobeCorners++] = w.stack[i];
            w.lobeStart[++w.lobes] = lobeCorners;
        }
        for (int i = at + 1; i < w.top; i++) {
            if (Indexed(w.stack[i].key, n))
                w.onStack[w.stack[i].key.index] = -1;
        }
        w.top = at + 1;
    }
    for (int i = 0; i < w.top; i++) {
        if (Indexed(w.stack[i].key, n))
            w.onStack[w.stack[i].key.index] = -1;
    }
}

void AppendCorners(BufPoly *poly, const Corner *corners, int count)
{
    for (int c = 0; c < count; c++) {
        poly->points[c] = corners[c].index;
        poly->hostPoints[c] = corners[c].host;
    }
}

// Mends polygon p (see CutLobes): lobes of three or more corners are
// polygons of their own under the same name; what is left on the stack
// stays in the polygon's record when it has three corners or more, else
// the first lobe does, and a polygon that keeps no lobe is emptied (count
// 0: not committed). When the table is full or memory short, the polygon
// stays as it was.
void MendPolygon(BufModel *model, int p, const LWPntID *pointHost, Corner *ring, Lobes &w)
{
    BufPoly *poly = model->polyTable[p];
    int n = model->pointCount;
    for (int v = 0; v < poly->count; v++)
        ring[v] = Corner{KeyOf(poly, v, pointHost, n), poly->points[v], poly->hostPoints[v]};
    CutLobes(w, ring, poly->count, n);
    int extra = w.lobes - (w.top >= 3 ? 0 : 1);
    if (extra > 0 && (int64_t)model->polyCount + extra > model->recordLimit)
        return;
    // The new records first: when one cannot be had, nothing has changed.
    int before = model->polyCount;
    for (int k = w.top >= 3 ? 0 : 1; k < w.lobes; k++) {
        int size = w.lobeStart[k + 1] - w.lobeStart[k];
        const Corner *corners = w.lobeCorners + w.lobeStart[k];
        for (int c = 0; c < size; c++)
            w.indices[c] = corners[c].index;
        int added = BufModelAddFace(model, poly->surface, size, w.indices);
        if (added < 0) {
            model->polyCount = before;
            return;
        }
        AppendCorners(model->polyTable[added], corners, size);
    }
    // The record keeps its arrays: what stays is never longer.
    if (w.top >= 3) {
        AppendCorners(poly, w.stack, w.top);
        poly->count = w.top;
    } else if (w.lobes > 0) {
        AppendCorners(poly, w.lobeCorners, w.lobeStart[1]);
        poly->count = w.lobeStart[1];
    } else {
        poly->count = 0;
    }
}

// A polygon edge, its ends ordered: `forward` when it runs from `low` to
// `high`.
struct MergedEdge {
    int32_t low;
    int32_t high;
    int32_t forward;
};

int CompareEdges(const void *pa, const void *pb)
{
    const MergedEdge *a = static_cast<const MergedEdge *>(pa);
    const MergedEdge *b = static_cast<const MergedEdge *>(pb);
    if (a->low != b->low)
        return a->low < b->low ? -1 : 1;
    if (a->high != b->high)
        return a->high < b->high ? -1 : 1;
    return a->forward - b->forward;
}

void AddRingEdges(const Corner *corners, int count, MergedEdge *edges, size_t *kept)
{
    for (int c = 0; c < count; c++) {
        int32_t a = corners[c].index, b = corners[c + 1 < count ? c + 1 : 0].index;
        MergedEdge &e = edges[(*kept)++];
        e.low = a < b ? a : b;
        e.high = a < b ? b : a;
        e.forward = a < b;
    }
}

// How many point pairs are not joined exactly once each way when every
// point i is taken to target[i] and the polygons are cut into lobes as the
// mend cuts them; -1 without memory.
int UnmatchedPairs(const BufModel *model, const int32_t *target, Lobes &w)
{
    int n = model->pointCount;
    size_t corners = 0;
    int longest = 0;
    for (int p = 0; p < model->polyCount; p++) {
        corners += (size_t)model->polyTable[p]->count;
        longest = model->polyTable[p]->count > longest ? model->polyTable[p]->count : longest;
    }
    MergedEdge *edges = static_cast<MergedEdge *>(malloc(sizeof(MergedEdge) * (corners > 0 ? corners : 1)));
    Corner *ring = static_cast<Corner *>(malloc(sizeof(Corner) * (size_t)(longest > 0 ? longest : 1)));
    if (!edges || !ring || !MakeRoom(w, longest, n)) {
        free(edges);
        free(ring);
        return -1;
    }
    size_t kept = 0;
    for (int p = 0; p < model->polyCount; p++) {
        const BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            int32_t index = poly->points[v];
            index = index >= 0 && index < n ? target[index] : index;
            ring[v] = Corner{VertexKey{nullptr, index}, index, nullptr};
        }
        CutLobes(w, ring, poly->count, n);
        if (w.top >= 3)
            AddRingEdges(w.stack, w.top, edges, &kept);
        for (int k = 0; k < w.lobes; k++)
            AddRingEdges(w.lobeCorners + w.lobeStart[k], w.lobeStart[k + 1] - w.lobeStart[k], edges, &kept);
    }
    qsort(edges, kept, sizeof(MergedEdge), CompareEdges);
    int unmatched = 0;
    for (size_t e = 0; e < kept;) {
        size_t end = e;
        int forward = 0;
        while (end < kept && edges[end].low == edges[e].low && edges[end].high == edges[e].high)
            forward += edges[end++].forward;
        if (forward != 1 || end - e != 2)
            unmatched++;
        e = end;
    }
    free(edges);
    free(ring);
    return unmatched;
}

// Whether merging whole chains leaves fewer point pairs unmatched than
// merging each point into the lowest point near it.
bool ChainsMatchBetter(const BufModel *model, const int32_t *nearest, const int32_t *chain)
{
    Lobes w = {nullptr, nullptr, nullptr, nullptr, 0, 0, 0, nullptr};
    int byNearest = UnmatchedPairs(model, nearest, w);
    int byChain = byNearest > 0 ? UnmatchedPairs(model, chain, w) : -1;
    FreeLobes(w);
    return byChain >= 0 && byChain < byNearest;
}

// Whether the polygon's Newell normal, taken at its points' positions, is
// the zero vector: its points lie on one line, or it has none inside.
bool ZeroArea(const BufModel *model, const BufPoly *poly)
{
    int n = model->pointCount;
    double nx = 0.0, ny = 0.0, nz = 0.0;
    for (int v = 0; v < poly->count; v++) {
        int32_t a = poly->points[v], b = poly->points[v + 1 < poly->count ? v + 1 : 0];
        if (a < 0 || a >= n || b < 0 || b >= n)
            return false;
        const Vec3 &p = model->pointTable[a]->position;
        const Vec3 &q = model->pointTable[b]->position;
        nx += (p.y - q.y) * (p.z + q.z);
        ny += (p.z - q.z) * (p.x + q.x);
        nz += (p.x - q.x) * (p.y + q.y);
    }
    return nx == 0.0 && ny == 0.0 && nz == 0.0;
}

double SquaredDistance(const BufModel *model, int32_t a, int32_t b)
{
    Vec3 d = VecSub(model->pointTable[a]->position, model->pointTable[b]->position);
    return d.x * d.x + d.y * d.y + d.z * d.z;
}

// A triangle of three distinct points on one line (its corner cut to a
// point the weld could not reach, the other two merged) is a sliver: its
// longest edge runs from u to v past its third point m. It goes, and m
// goes into the polygon across that edge, between v and u; then the
// polygons about the sliver meet at u to m and m to v as they met the
// sliver. Where there is no such polygon, or it holds m already, the
// sliver stays.
void RemoveSliver(BufModel *model, int p, const LWPntID *pointHost)
{
    BufPoly *sliver = model->polyTable[p];
    int n = model->pointCount;
    int longest = 0;
    double length = -1.0;
    for (int e = 0; e < 3; e++) {
        double d = SquaredDistance(model, sliver->points[e], sliver->points[(e + 1) % 3]);
        if (d > length) {
            length = d;
            longest = e;
        }
    }
    VertexKey u = KeyOf(sliver, longest, pointHost, n);
    VertexKey v = KeyOf(sliver, (longest + 1) % 3, pointHost, n);
    int middle = (longest + 2) % 3;
    VertexKey m = KeyOf(sliver, middle, pointHost, n);
    for (int q = 0; q < model->polyCount; q++) {
        const BufPoly *across = model->polyTable[q];
        if (q == p)
            continue;
        int at = -1;
        bool holdsMiddle = false;
        for (int c = 0; c < across->count; c++) {
            holdsMiddle = holdsMiddle || SameKey(KeyOf(across, c, pointHost, n), m);
            if (at < 0 && SameKey(KeyOf(across, c, pointHost, n), v) &&
                SameKey(KeyOf(across, c + 1 < across->count ? c + 1 : 0, pointHost, n), u))
                at = c + 1;
        }
        if (at < 0)
            continue;
        if (holdsMiddle ||
            BufModelInsertVertex(model, q, at, sliver->points[middle], sliver->hostPoints[middle]) < 0)
            return;
        sliver->count = 0;
        return;
    }
}

// Cuts every polygon that passes through a point twice into its lobes,
// but those `keep` marks; whether there was one.
bool CutPinched(BufModel *model, const LWPntID *pointHost, bool hosted, const unsigned char *keep, int kept)
{
    int n = model->pointCount;
    int polys = model->polyCount;
    Lobes w = {nullptr, nullptr, nullptr, nullptr, 0, 0, 0, nullptr};
    Corner *ring = nullptr;
    bool mended = false;
    for (int p = 0; p < polys; p++) {
        BufPoly *poly = model->polyTable[p];
        if ((keep && p < kept && keep[p]) || !HasRepeat(poly, pointHost, hosted, n))
            continue;
        if (poly->count > w.room) {
            free(ring);
            ring = static_cast<Corner *>(malloc(sizeof(Corner) * (size_t)poly->count));
        }
        if (!ring || !MakeRoom(w, poly->count, n))
            break;
        MendPolygon(model, p, pointHost, ring, w);
        mended = true;
    }
    free(ring);
    FreeLobes(w);
    return mended;
}

// An edge four polygons share, two each way, no longer than twice the
// weld's tolerance, is where the weld merged one end of a short edge and
// not the other: the polygons on both sides fold over it. Its two points
// become one (the lower), as if the weld had reached; the polygons that
// then repeat a point are cut again by the caller. Whether there was one.
bool CollapseCrowdedEdges(BufModel *model)
{
    int n = model->pointCount;
    double reach = 2.0 * BufModelWeldReach(model->boxMin, model->boxMax);
    size_t corners = 0;
    for (int p = 0; p < model->polyCount; p++)
        corners += (size_t)model->polyTable[p]->count;
    MergedEdge *edges = static_cast<MergedEdge *>(malloc(sizeof(MergedEdge) * (corners > 0 ? corners : 1)));
    int32_t *into = static_cast<int32_t *>(malloc(sizeof(int32_t) * (size_t)(n > 0 ? n : 1)));
    if (!edges || !into) {
        free(edges);
        free(into);
        return false;
    }
    size_t kept = 0;
    for (int p = 0; p < model->polyCount; p++) {
        const BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            int32_t a = poly->points[v], b = poly->points[v + 1 < poly->count ? v + 1 : 0];
            if (a < 0 || a >= n || b < 0 || b >= n || a == b)
                continue;
            MergedEdge &e = edges[kept++];
            e.low = a < b ? a : b;
            e.high = a < b ? b : a;
            e.forward = a < b;
        }
    }
    qsort(edges, kept, sizeof(MergedEdge), CompareEdges);
    for (int i = 0; i < n; i++)
        into[i] = i;
    bool collapsed = false;
    for (size_t e = 0; e < kept;) {
        size_t end = e;
        int forward = 0;
        while (end < kept && edges[end].low == edges[e].low && edges[end].high == edges[e].high)
            forward += edges[end++].forward;
        int32_t low = edges[e].low, high = edges[e].high;
        if (end - e == 4 && forward == 2 && SquaredDistance(model, low, high) <= reach * reach) {
            // Ends already moved by an earlier edge go with them.
            while (into[low] != low)
                low = into[low];
            while (into[high] != high)
                high = into[high];
            if (low != high) {
                into[low > high ? low : high] = low < high ? low : high;
                collapsed = true;
            }
        }
        e = end;
    }
    for (int p = 0; collapsed && p < model->polyCount; p++) {
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            int32_t index = poly->points[v];
            if (index < 0 || index >= n)
                continue;
            while (into[index] != index)
                index = into[index];
            poly->points[v] = index;
        }
    }
    free(edges);
    free(into);
    return collapsed;
}

}  // namespace

// Merging each point into the lowest point near it is how the weld has
// always merged, and where it leaves the mesh whole it stays. But it
// leaves a chain of near points half merged: with 0-1 and 1-2 near and 0-2
// not, a polygon that took 1 and 2 at a corner keeps both, where its
// neighbour, which took 0 and 1, is left with 0 alone, and the mesh opens
// between them. So where merging whole chains leaves fewer edges unmatched,
// whole chains merge. Host ids are left alone: vertices that carry one
// commit the same whatever their index says.
void BufModelSettleWeld(BufModel *model, const int32_t *nearest, const int32_t *chain)
{
    int n = model->pointCount;
    int merged = 0, disputed = 0;
    for (int k = 0; k < n; k++) {
        merged |= nearest[k] != k;
        disputed |= nearest[k] != chain[k];
    }
    // A chamfered mesh has usually no point left to merge: then no vertex
    // needs a look.
    if (!merged)
        return;
    const int32_t *target = disputed && ChainsMatchBetter(model, nearest, chain) ? chain : nearest;
    for (int p = 0; p < model->polyCount; p++) {
        BufPoly *poly = model->polyTable[p];
        for (int v = 0; v < poly->count; v++) {
            int32_t index = poly->points[v];
            if (index >= 0 && index < n)
                poly->points[v] = target[index];
        }
    }
}

// Points merged by the weld must not leave a polygon passing through one
// point twice: the host would get a polygon with a point repeated in a
// row, one of fewer than three points, or one pinched at a point. Each
// such polygon becomes its lobes (see MendPolygon); every other polygon is
// left exactly as it is. Lobes are added after the last polygon.
void BufModelMend(BufModel *model)
{
    BufModelMendKeeping(model, nullptr, 0);
}

// The host ids of the points side by side, and whether any is set; null
// without memory.
static LWPntID *PointHosts(const BufModel *model, bool *hosted)
{
    int n = model->pointCount;
    LWPntID *pointHost = static_cast<LWPntID *>(malloc(sizeof(LWPntID) * (size_t)(n > 0 ? n : 1)));
    *hosted = false;
    for (int i = 0; pointHost && i < n; i++) {
        pointHost[i] = model->pointTable[i]->hostId;
        *hosted = *hosted || pointHost[i];
    }
    return pointHost;
}

namespace {

// A directed edge of a polygon, by what its ends commit as.
struct KeyEdge {
    VertexKey from;
    VertexKey to;
};

int CompareKeyEdges(const void *pa, const void *pb)
{
    const KeyEdge *a = static_cast<const KeyEdge *>(pa);
    const KeyEdge *b = static_cast<const KeyEdge *>(pb);
    int c = CompareKeys(&a->from, &b->from);
    return c != 0 ? c : CompareKeys(&a->to, &b->to);
}

// The polygon's vertex keys sorted (to tell a point met twice) and its
// directed edges sorted (to tell an edge run back), so that a long polygon
// walked back and forth is judged in n log n.
struct SlitTables {
    VertexKey *ring;
    VertexKey *sorted;
    KeyEdge *edges;
    int count;
};

bool Twice(const SlitTables &t, int v)
{
    const VertexKey *at = static_cast<const VertexKey *>(
        bsearch(&t.ring[v], t.sorted, (size_t)t.count, sizeof(VertexKey), CompareKeys));
    if (!at)
        return false;
    return (at > t.sorted && SameKey(at[-1], *at)) || (at + 1 < t.sorted + t.count && SameKey(at[1], *at));
}

bool Runs(const SlitTables &t, int v, int u)
{
    KeyEdge e = {t.ring[v], t.ring[u]};
    return bsearch(&e, t.edges, (size_t)t.count, sizeof(KeyEdge), CompareKeyEdges) != nullptr;
}

}  // namespace

// Whether the polygon passes through its points twice only along slits:
// every point it repeats is an end of an edge it runs both ways, and no
// point comes twice in a row. A slit joins a hole to the outline of one
// polygon; it is the input's, and the passes keep it (the seam joins make
// both sides one), so it is no pinch.
//
//      outline  A ------ B  hole       A and B each twice: A -> B and
//                   slit               B -> A both in the ring
//
// Without memory for the tables a polygon counts as no slit: the mend cuts
// it as it cut every repeat before.
static bool SlitOnly(const BufPoly *poly, const LWPntID *pointHost, int n)
{
    int count = poly->count;
    SlitTables t;
    t.count = count;
    t.ring = static_cast<VertexKey *>(malloc(sizeof(VertexKey) * (size_t)(count > 0 ? count : 1)));
    t.sorted = static_cast<VertexKey *>(malloc(sizeof(VertexKey) * (size_t)(count > 0 ? count : 1)));
    t.edges = static_cast<KeyEdge *>(malloc(sizeof(KeyEdge) * (size_t)(count > 0 ? count : 1)));
    bool slit = t.ring && t.sorted && t.edges && count >= 3;
    for (int v = 0; slit && v < count; v++)
        t.ring[v] = t.sorted[v] = KeyOf(poly, v, pointHost, n);
    for (int v = 0; slit && v < count; v++)
        t.edges[v] = KeyEdge{t.ring[v], t.ring[(v + 1) % count]};
    if (slit) {
        qsort(t.sorted, (size_t)count, sizeof(VertexKey), CompareKeys);
        qsort(t.edges, (size_t)count, sizeof(KeyEdge), CompareKeyEdges);
    }
    bool repeat = false;
    for (int v = 0; slit && v < count; v++) {
        int next = (v + 1) % count, prev = (v + count - 1) % count;
        if (SameKey(t.ring[v], t.ring[next])) {
            slit = false;
        } else if (Twice(t, v)) {
            repeat = true;
            // Both ends of a slit come twice; a spike's tip, once.
            slit = (Twice(t, next) && Runs(t, next, v)) || (Twice(t, prev) && Runs(t, v, prev));
        }
    }
    free(t.ring);
    free(t.sorted);
    free(t.edges);
    return slit && repeat;
}

unsigned char *BufModelMarkRepeats(const BufModel *model)
{
    bool hosted = false;
    LWPntID *pointHost = PointHosts(model, &hosted);
    unsigned char *marks =
        static_cast<unsigned char *>(malloc(model->polyCount > 0 ? (size_t)model->polyCount : 1));
    for (int p = 0; pointHost && marks && p < model->polyCount; p++) {
        const BufPoly *poly = model->polyTable[p];
        marks[p] = HasRepeat(poly, pointHost, hosted, model->pointCount) &&
                   SlitOnly(poly, pointHost, model->pointCount);
    }
    if (!pointHost) {
        free(marks);
        marks = nullptr;
    }
    free(pointHost);
    return marks;
}

void BufModelMendKeeping(BufModel *model, const unsigned char *keep, int kept)
{
    int n = model->pointCount;
    // The host ids of the points side by side: every vertex is looked at.
    bool hosted = false;
    LWPntID *pointHost = PointHosts(model, &hosted);
    if (!pointHost)
        return;
    // What the weld pinched comes where it merged points a bevel size apart:
    // only then are slivers and crowded short edges looked for.
    if (CutPinched(model, pointHost, hosted, keep, kept)) {
        for (int p = 0; p < model->polyCount; p++) {
            BufPoly *poly = model->polyTable[p];
            if (poly->count == 3 && ZeroArea(model, poly) && !HasRepeat(poly, pointHost, hosted, n))
                RemoveSliver(model, p, pointHost);
        }
        if (CollapseCrowdedEdges(model))
            CutPinched(model, pointHost, hosted, keep, kept);
    }
    free(pointHost);
}
