// Corner cut: a polygon whose corner still sits at the source point P (its
// edge there was not chamfered) is trimmed by the plane of the patch being
// built at P. Each vertex at P is replaced by the two points where the plane
// crosses the polygon's edges on either side of it:
//
//          v-1 ---- H1 -- v (at P) -- H2 ---- v+1
//   becomes
//          v-1 ---- H1 ------------- H2 ---- v+1
//
// When the plane crosses a farther edge, the vertices between that crossing
// and v are dropped as well.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "context/context.h"
#include "objectmode/objectmode.h"

// The plane crosses the edge X1-X2 strictly between its ends: H off the
// segment, or on an end point (F/|F| is then NaN), fails.
static int EdgeCrossing(const Vec3 &anchor, const Vec3 &normal, const Vec3 &x1, const Vec3 &x2,
                        Vec3 *crossing)
{
    Vec3 h = LinePlaneIntersect(anchor, normal, x1, x2);
    Vec3 e = VecSub(x2, x1);
    Vec3 f = VecSub(h, x1);
    double le = VecLength(e);
    double lf = VecLength(f);
    if (!(lf < le))
        return 0;
    Vec3 ue = VecDiv(e, le);
    Vec3 uf = VecDiv(f, lf);
    if (!(VecLength(VecAdd(ue, uf)) > 1.0))
        return 0;
    *crossing = h;
    return 1;
}

// The crossings of one polygon's edges with one plane, and for every edge
// the nearest crossing edge at or after it (`ahead`) and at or before it
// (`behind`), going round the polygon. A search from a vertex for the first
// crossing edge on either side is then one lookup: a polygon whose vertices
// repeat the corner many times would otherwise have every edge looked at
// again for each of them. Nothing moves during a cut, so the answers are
// the ones the searches would find edge by edge.
struct Crossings {
    unsigned char *crosses;  // per edge
    Vec3 *point;             // per edge, where it crosses
    int32_t *ahead;          // per edge; -1 when no edge crosses
    int32_t *behind;
};

static void FindCrossings(BufModel *model, const BufPoly *y, const Vec3 &anchor, const Vec3 &normal,
                          Crossings *c)
{
    int n = y->count;
    for (int e = 0; e < n; e++) {
        Vec3 x1 = BufModelPointPosition(model, y->points[e]);
        Vec3 x2 = BufModelPointPosition(model, y->points[(e + 1) % n]);
        c->crosses[e] = (unsigned char)EdgeCrossing(anchor, normal, x1, x2, &c->point[e]);
    }
    // Twice round, so that the first round's last crossing reaches the
    // second round's first edges.
    int last = -1;
    for (int k = 0; k < 2 * n; k++) {
        int e = k % n;
        if (c->crosses[e])
            last = e;
        if (k >= n)
            c->behind[e] = last;
    }
    last = -1;
    for (int k = 2 * n - 1; k >= 0; k--) {
        int e = k % n;
        if (c->crosses[e])
            last = e;
        if (k < n)
            c->ahead[e] = last;
    }
}

// Room-checked append; 0 when the list is full.
static int Append(int32_t *list, int room, int *length, int32_t value)
{
    if (*length >= room)
        return 0;
    list[(*length)++] = value;
    return 1;
}

// Appends vertex w of the polygon being cut; 0 when the list is full or
// already holds that vertex. A vertex comes round again only when a cut's
// crossings wrap past the end of a polygon that folds over itself; the list
// would then repeat part of the polygon, and cut after cut could multiply
// its length. Such a cut leaves the polygon as it was.
static int AppendVertex(int32_t *list, int room, int *length, const BufPoly *y, unsigned char *taken, int w)
{
    if (taken[w])
        return 0;
    taken[w] = 1;
    return Append(list, room, length, y->points[w]);
}

double CornerTolerance(const BufModel *model)
{
    return VecLength(VecSub(model->boxMin, model->boxMax)) * (1.0 / 65536);
}

// Whether two positions are one point for the weld. Their distance, unlike
// their directions from the origin, does not change when the mesh moves.
static int SamePosition(const Vec3 &a, const Vec3 &b, double tolerance)
{
    return VecLength(VecSub(a, b)) <= tolerance;
}

// The polygon holding the directed edge from `a` to `b`, or -1.
static int PolyWithEdge(BufModel *model, int32_t a, int32_t b)
{
    for (int k = 0; k < model->polyCount; k++) {
        const BufPoly *poly = BufModelGetPoly(model, k);
        if (!poly)
            continue;
        for (int v = 0; v < poly->count; v++)
            if (poly->points[v] == a && poly->points[(v + 1) % poly->count] == b)
                return k;
    }
    return -1;
}

// The line a ring lies on, when it does: its first point, the largest
// coordinate of the offsets from it (the scale) and the unit direction
// along it in units of the scale. Every patch is looked at, so a ring with
// area is told apart first, without a square root or an allocation. The
// offsets from the first point are divided by the scale, so that the test
// neither underflows nor overflows at any scale; against the farthest of
// them (by that coordinate), the cross product of each is its distance from
// the line times the farthest's length.
//
// The offsets are plain differences: VecSub's snapping of each component
// against the others would move a point off a slanted line by far more
// than the test allows.
static Vec3 Offset(const Vec3 &a, const Vec3 &b)
{
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}

static int FlatRingLine(int count, const Vec3 *pos, Vec3 *origin, double *scale, Vec3 *unit)
{
    *origin = pos[0];
    *scale = 0.0;
    int far = 0;
    for (int i = 1; i < count; i++) {
        Vec3 d = Offset(pos[i], *origin);
        double m = fmax(fabs(d.x), fmax(fabs(d.y), fabs(d.z)));
        if (m > *scale) {
            *scale = m;
            far = i;
        }
    }
    if (!(*scale > 0.0) || !isfinite(*scale))
        return 0;
    Vec3 along = VecDiv(Offset(pos[far], *origin), *scale);
    double along2 = VecDot(along, along);           // 1 to 3
    const double rounding = 1.0 / 1099511627776.0;  // 2^-40
    for (int i = 1; i < count; i++) {
        Vec3 c = VecCross(VecDiv(Offset(pos[i], *origin), *scale), along);
        if (!(VecDot(c, c) <= along2 * along2 * (rounding * rounding)))
            return 0;
    }
    *unit = VecDiv(along, sqrt(along2));
    return 1;
}

// Gives the owner of the ring's edge i (which runs ring[j] -> ring[i], j
// after i) the ring's points that lie strictly between its ends along the
// line (t), in that order. -1 without memory, else whether it took any.
static int ZipRingEdge(BufModel *model, int count, const int32_t *ring, const double *t, int i, int owner,
                       int *between)
{
    int j = (i + 1) % count;
    double from = t[j], to = t[i];
    double sense = to > from ? 1.0 : -1.0;
    int found = 0;
    for (int q = 0; q < count; q++) {
        double u = (t[q] - from) * sense;
        if (u > 0.0 && u < (to - from) * sense)
            between[found++] = q;
    }
    if (found == 0)
        return 0;
    for (int a = 1; a < found; a++)
        for (int b = a; b > 0 && (t[between[b]] - t[between[b - 1]]) * sense < 0.0; b--) {
            int x = between[b];
            between[b] = between[b - 1];
            between[b - 1] = x;
        }
    const BufPoly *poly = BufModelGetPoly(model, owner);
    int32_t *list = (int32_t *)malloc(((size_t)poly->count + (size_t)found) * sizeof(int32_t));
    if (!list)
        return -1;
    int length = 0;
    int placed = 0;
    for (int v = 0; v < poly->count; v++) {
        list[length++] = poly->points[v];
        if (!placed && poly->points[v] == ring[j] && poly->points[(v + 1) % poly->count] == ring[i]) {
            for (int b = 0; b < found; b++)
                list[length++] = ring[between[b]];
            placed = 1;
        }
    }
    BufModelSetPoly(model, nullptr, length, list, owner);
    free(list);
    return 1;
}

// A ring whose points all lie on one line (but for rounding) would be a
// patch of no area: where the hole about P is itself flat, as where the
// strips of two flat pairs both end on an unchamfered crease between them.
// The hole is then closed without a patch: each polygon along the ring takes
// into its edge the ring's points that lie strictly between that edge's ends,
// so that every piece of the line is run once each way. Returns 0, having
// changed nothing, for a ring that is not flat, whose points the weld would
// not keep apart along the line, or whose edges it cannot all find in the
// polygons about it.
static int ZipFlatRing(BufModel *model, int count, const int32_t *ring, const Vec3 *pos)
{
    Vec3 origin, unit;
    double scale;
    if (!FlatRingLine(count, pos, &origin, &scale, &unit))
        return 0;
    // Along the line, in units of the scale.
    double tolerance = CornerTolerance(model) / scale;
    double *t = (double *)malloc((size_t)count * sizeof(double));
    int *owner = (int *)malloc((size_t)count * sizeof(int));
    int *between = (int *)malloc((size_t)count * sizeof(int));
    int ok = t && owner && between;
    for (int i = 0; ok && i < count; i++) {
        t[i] = VecDot(VecDiv(VecSub(pos[i], origin), scale), unit);
        // Points the weld keeps apart must lie apart along the line too, or
        // the edge they share would have no place to go.
        for (int j = 0; ok && j < i; j++)
            ok = fabs(t[i] - t[j]) > tolerance;
    }
    // The ring runs a -> b where its neighbour runs b -> a.
    for (int i = 0; ok && i < count; i++) {
        owner[i] = PolyWithEdge(model, ring[(i + 1) % count], ring[i]);
        ok = owner[i] >= 0;
    }
    int changed = 0;
    for (int i = 0; ok && i < count; i++) {
        int took = ZipRingEdge(model, count, ring, t, i, owner[i], between);
        ok = took >= 0;
        changed = changed || took > 0;
    }
    free(t);
    free(owner);
    free(between);
    // Once a polygon took points in, the hole is closed as far as memory
    // allowed; a patch over it as well would only crowd its edges. A ring
    // that gave no point to any polygon keeps its patch.
    return changed;
}

// The first pair of entries i < j (in the order j, then i) that are one
// point for the weld; 0 when there is none. `pos` holds the entries'
// positions.
static int FirstRepeat(const int32_t *ring, const Vec3 *pos, int count, double tolerance, int *i, int *j)
{
    // Twice the tolerance, squared: pairs farther apart than that are told
    // apart without a square root.
    const double far2 = 4.0 * tolerance * tolerance;
    for (int b = 1; b < count; b++) {
        for (int a = 0; a < b; a++) {
            Vec3 d = VecSub(pos[a], pos[b]);
            if (ring[a] == ring[b] || (VecDot(d, d) <= far2 && SamePosition(pos[a], pos[b], tolerance))) {
                *i = a;
                *j = b;
                return 1;
            }
        }
    }
    return 0;
}

// A ring that comes back to one point (two entries the weld makes one, as
// where two runs of copies still at P close one corner) would be a polygon
// through that point twice: a bow-tie, which no renderer or exporter takes.
// The ring is split there into its lobes, each a polygon of its own wound as
// the ring was; a lobe of fewer than three entries closes no area and is
// left out. Lobes are split again until none comes back to a point: the
// smaller part of each split by a call of its own, the larger in the loop,
// so that the calls nest no deeper than the logarithm of the ring's length.
static void AddLobes(BufModel *model, const char *surface, int32_t *ring, Vec3 *pos, int count,
                     double tolerance)
{
    int i = 0, j = 0;
    while (count >= 3) {
        if (!FirstRepeat(ring, pos, count, tolerance, &i, &j)) {
            if (!ZipFlatRing(model, count, ring, pos))
                BufModelAddFace(model, surface, count, ring);
            return;
        }
        // ring[i .. j - 1] closes on itself, and so does the rest, from j
        // round to i - 1. Turned to start at i, the ring is the one lobe
        // followed by the other.
        std::rotate(ring, ring + i, ring + count);
        std::rotate(pos, pos + i, pos + count);
        int inner = j - i, rest = count - inner;
        if (inner <= rest) {
            AddLobes(model, surface, ring, pos, inner, tolerance);
            ring += inner;
            pos += inner;
            count = rest;
        } else {
            AddLobes(model, surface, ring + inner, pos + inner, rest, tolerance);
            count = inner;
        }
    }
}

void AddPatchPolygons(BufModel *model, const char *surface, int count, const int32_t *ring)
{
    if (count < 3)
        return;
    // Every patch comes through here: its positions are read once, onto the
    // stack for the rings of nearly every corner.
    Vec3 near[16];
    Vec3 *pos = count <= 16 ? near : (Vec3 *)malloc((size_t)count * sizeof(Vec3));
    if (!pos)
        return;
    for (int k = 0; k < count; k++)
        pos[k] = BufModelPointPosition(model, ring[k]);
    double tolerance = CornerTolerance(model);
    int i, j;
    if (!FirstRepeat(ring, pos, count, tolerance, &i, &j)) {
        // Nearly every ring has no repeat: it is added as it is, uncopied.
        if (!ZipFlatRing(model, count, ring, pos))
            BufModelAddFace(model, surface, count, ring);
    } else {
        int32_t *work = (int32_t *)malloc((size_t)count * sizeof(int32_t));
        if (work) {
            memcpy(work, ring, (size_t)count * sizeof(int32_t));
            AddLobes(model, surface, work, pos, count, tolerance);
            free(work);
        }
    }
    if (pos != near)
        free(pos);
}

// The new vertex list of a polygon being cut, as the cuts at its corner's
// vertices build it.
struct CutList {
    int32_t *list;
    int room;
    int length;
    int from;              // the first vertex not yet passed
    int made;              // a cut was made
    int fits;              // every vertex fitted, none twice
    unsigned char *taken;  // per vertex: in the list
};

// The cut at vertex v, on the plane's crossings: the vertices up to the
// crossing behind v, then the one or two points where the plane crosses.
// 0 when the model refused the points.
static int CutAtVertex(BufModel *model, const BufPoly *y, int v, const Crossings &cross, double tolerance,
                       CutList *c)
{
    int n = y->count;
    // Backward from the edge that ends at v (over every edge but v's own),
    // forward from the one that starts there (over every edge but the one
    // that ends at v); the first crossing on each side wins.
    int before = (v + n - 1) % n;
    int eb = cross.behind[before];
    if (eb == v)
        eb = -1;
    int ef = cross.ahead[v];
    if (ef == before)
        ef = -1;
    // No crossing on one side: the cut has no point there, so the vertex
    // stays as it is.
    if (eb < 0 || ef < 0)
        return 1;
    Vec3 h1 = cross.point[eb];
    Vec3 h2 = cross.point[ef];

    // Crossings within the weld's distance of each other (a size about that
    // distance) would become one point twice in a row: one is made.
    int p1 = BufModelAddPoint(model, &h1);
    int p2 = SamePosition(h1, h2, tolerance) ? p1 : BufModelAddPoint(model, &h2);
    if (p1 < 0 || p2 < 0)
        return 0;

    if (!c->made && eb > ef) {
        // The cut spans the end of the vertex list: its points open it.
        c->length = 0;
        c->fits = Append(c->list, c->room, &c->length, p1) &&
                  (p2 == p1 || Append(c->list, c->room, &c->length, p2));
    } else {
        for (int w = c->from; w <= eb && c->fits; w++)
            c->fits = AppendVertex(c->list, c->room, &c->length, y, c->taken, w);
        c->fits = c->fits && Append(c->list, c->room, &c->length, p1) &&
                  (p2 == p1 || Append(c->list, c->room, &c->length, p2));
    }
    c->from = ef + 1;
    c->made = 1;
    return 1;
}

void CutPolyCorner(BufModel *model, const RingPlane *plane, int poly, const Vec3 &corner)
{
    if (poly < 0)
        return;
    BufPoly *y = BufModelGetPoly(model, poly);
    if (!y || y->count < 1)
        return;
    Vec3 anchor = BufModelPointPosition(model, plane->anchor);
    Vec3 normal = plane->normal;
    int n = y->count;

    CutList c;
    // The polygon's vertices plus two per cut vertex, at most every vertex.
    c.room = 3 * n;
    c.list = (int32_t *)malloc((size_t)c.room * sizeof(int32_t));
    c.taken = (unsigned char *)calloc((size_t)n, 1);
    c.length = c.from = c.made = 0;
    c.fits = 1;
    Crossings cross;
    cross.crosses = (unsigned char *)malloc((size_t)n);
    cross.point = (Vec3 *)malloc((size_t)n * sizeof(Vec3));
    cross.ahead = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    cross.behind = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    int found = 0;
    int ready = c.list && cross.crosses && cross.point && cross.ahead && cross.behind && c.taken;
    double tolerance = CornerTolerance(model);

    for (int v = 0; v < n && c.fits && ready; v++) {
        if (!SamePosition(corner, BufModelPointPosition(model, y->points[v]), tolerance))
            continue;
        if (!found) {
            FindCrossings(model, y, anchor, normal, &cross);
            found = 1;
        }
        // A full model refuses the points; the activation then discards the
        // edit, and the polygon is left alone.
        if (!CutAtVertex(model, y, v, cross, tolerance, &c)) {
            c.made = 0;
            break;
        }
    }

    if (c.made && c.fits) {
        for (int w = c.from; w < n && c.fits; w++)
            c.fits = AppendVertex(c.list, c.room, &c.length, y, c.taken, w);
        // A list that would not fit or repeats a vertex, or one too short for
        // a polygon (only a polygon folded over itself asks for any of
        // these), leaves it as it was.
        if (c.fits && c.length >= 3)
            BufModelSetPoly(model, nullptr, c.length, c.list, poly);
    }
    free(c.list);
    free(cross.crosses);
    free(cross.point);
    free(cross.ahead);
    free(cross.behind);
    free(c.taken);
}

// ---- a corner where chamfered and unchamfered edges meet -----------------
//
// Walking about P, polygon i holds copy c[i] of P and runs away from P along
// edge i, which polygon i + 1 runs back along. A chamfered edge i has a strip
// whose end at P runs from c[i] to c[i + 1]. Along an unchamfered edge both
// copies lie on the edge's line: a copy slid along it by its polygon's other,
// chamfered edge (by the bevel size over the sine of its own corner angle),
// or still at P when neither of its edges was chamfered. So the two copies
// on such an edge are in general two different points of one line:
//
//      P ---- c[i] ----- c[i+1] ----------- X     (edge i)
//      polygon i:       c[i] ------------> X
//      polygon i + 1:        c[i+1] <----- X
//
// The patch closes the hole with the copies in the order of the walk, and
// the polygon whose copy lies nearer P takes the farther copy into its edge,
// so that each piece of the line is run once each way. Two copies that the
// weld makes one point are one entry of the patch. A polygon that still has
// its corner at P with both its neighbours' copies taken into its two edges
// drops the corner instead: the cut along the strip's ends. Every position
// stays as the strips left it; only which polygons share which points
// changes.
//
// A fan that ends at a border is closed the same way. Its first polygon
// arrives at P along a border edge and its last leaves P along one; no
// edge leads from the last back to the first, so the patch's side between
// their copies becomes the border. At the inner corner of an L of three
// quads:
//
//                   |
//        polygon 2  | border      c0, c2: slid along the border edges
//   --------------- c2            c1: cut back from both strips
//        strip      | \           the patch c0 c2 c1 covers P, and its
//   ---------- c1   P  c0 ------  side c0 - c2 is the new border
//    polygon 1        |
//           strip     |  polygon 0
//
// The border then runs straight from c0 to c2, as it runs across the end
// of a single strip where one chamfered edge meets a border; no copy moves,
// so every polygon keeps its inset.
namespace {

struct FanCorner {
    int32_t copy;
    int32_t poly;
    Vec3 at;
    int joinsNext;   // edge to the next polygon unchamfered, copies one point
    int32_t before;  // copy taken in before this polygon's own, or -1
    int32_t after;   // copy taken in after it, or -1
    int drop;        // the polygon's own copy leaves it
};

}  // namespace

static int CountIn(const BufPoly *poly, int32_t point)
{
    int found = 0;
    for (int v = 0; v < poly->count; v++)
        found += poly->points[v] == point;
    return found;
}

static int FanSameSurface(const FanStep *fan, int n)
{
    const char *name = fan[0].leave->surface;
    for (int i = 0; i < n; i++) {
        const char *a = fan[i].leave->surface, *b = fan[i].back ? fan[i].back->surface : name;
        if (!name || !a || !b || strcmp(a, name) != 0 || strcmp(b, name) != 0)
            return 0;
    }
    return 1;
}

// Polygon `poly` with its copy replaced by what the corner gives it.
static void ReshapeAtCorner(BufModel *model, const FanCorner *c)
{
    if (c->before < 0 && c->after < 0 && !c->drop)
        return;
    const BufPoly *poly = BufModelGetPoly(model, c->poly);
    int32_t *list = (int32_t *)malloc(((size_t)poly->count + 2) * sizeof(int32_t));
    if (!list)
        return;
    int length = 0;
    for (int v = 0; v < poly->count; v++) {
        if (poly->points[v] != c->copy) {
            list[length++] = poly->points[v];
            continue;
        }
        if (c->before >= 0)
            list[length++] = c->before;
        if (!c->drop)
            list[length++] = c->copy;
        if (c->after >= 0)
            list[length++] = c->after;
    }
    if (length >= 3)
        BufModelSetPoly(model, nullptr, length, list, c->poly);
    free(list);
}

// Each polygon of the fan's corner: it must be a polygon of its own about
// P, holding its copy once, and each step must arrive at the next polygon's
// copy. 0 when one is not.
static int ReadFanCorners(BufModel *model, const FanStep *fan, int n, int open, FanCorner *c)
{
    for (int i = 0; i < n; i++) {
        c[i].copy = fan[i].leave->pointA;
        c[i].poly = fan[i].leave->polyIndex;
        c[i].joinsNext = 0;
        c[i].before = c[i].after = -1;
        c[i].drop = 0;
        const BufPoly *poly = BufModelGetPoly(model, c[i].poly);
        const BufPoint *copy = BufModelGetPoint(model, c[i].copy);
        if (!poly || !copy || CountIn(poly, c[i].copy) != 1)
            return 0;
        c[i].at = copy->position;
        for (int j = 0; j < i; j++)
            if (c[j].poly == c[i].poly)
                return 0;
        if (open && i == n - 1) {
            if (fan[i].back)
                return 0;
        } else if (!fan[i].back || fan[i].back->pointB != fan[(i + 1) % n].leave->pointA) {
            return 0;
        }
    }
    return 1;
}

// Along each unchamfered edge of the fan, which of its two copies lies
// nearer P, measured towards the edge's far end X (a reflex corner slides
// its copy beyond P), or that they are one point for the weld. 0 when the
// host does not know an X.
static int OrderFanCopies(EditContext *ctx, const FanStep *fan, int n, int open, const Vec3 &corner,
                          double tolerance, FanCorner *c)
{
    for (int i = 0; i < n; i++) {
        if (fan[i].leave->done || (open && i == n - 1))
            continue;
        int j = (i + 1) % n;
        if (SamePosition(c[i].at, c[j].at, tolerance)) {
            c[i].joinsNext = 1;
            continue;
        }
        Vec3 far;
        if (!HostPointPosition(ctx, fan[i].leave->hostB, &far))
            return 0;
        Vec3 along = VecSub(far, corner);
        double ti = VecDot(VecSub(c[i].at, corner), along);
        double tj = VecDot(VecSub(c[j].at, corner), along);
        if (ti < tj)
            c[i].after = c[j].copy;
        else
            c[j].before = c[i].copy;
    }
    return 1;
}

// Closes the fan of n polygons about P; with `open`, the last step leads to
// no polygon (the fan ends at a border) and joins nothing.
static int CloseFan(EditContext *ctx, const FanStep *fan, int n, LWPntID point, int open)
{
    BufModel *model = ctx->model;
    Vec3 corner;
    if (n < 3 || !HostPointPosition(ctx, point, &corner))
        return 0;
    FanCorner *c = (FanCorner *)malloc((size_t)n * sizeof(FanCorner));
    int32_t *ring = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    int ok = c && ring && ReadFanCorners(model, fan, n, open, c);
    double tolerance = ok ? CornerTolerance(model) : 0.0;
    ok = ok && OrderFanCopies(ctx, fan, n, open, corner, tolerance, c);
    if (!ok) {
        free(c);
        free(ring);
        return 0;
    }
    for (int i = 0; i < n; i++) {
        int h = (i + n - 1) % n;
        c[i].drop = !fan[h].leave->done && !fan[i].leave->done && c[i].before >= 0 && c[i].after >= 0;
        // The two copies a dropped corner takes in may lie within the weld's
        // distance of each other (at a size about that distance): they would
        // become one point twice in a row, so the corner takes in one.
        if (c[i].drop && SamePosition(c[h].at, c[(i + 1) % n].at, tolerance))
            c[i].after = -1;
    }
    int k = 0;
    for (int i = 0; i < n; i++) {
        if (!c[(i + n - 1) % n].joinsNext && !c[i].drop)
            ring[k++] = c[i].copy;
    }
    for (int i = 0; i < n; i++)
        ReshapeAtCorner(model, &c[i]);
    if (k >= 3) {
        // Wound against the walk, like every patch.
        BufModelReverseRing(ring, k);
        AddPatchPolygons(model, FanSameSurface(fan, n) ? fan[0].leave->surface : nullptr, k, ring);
    }
    free(c);
    free(ring);
    return 1;
}

int CloseMixedCorner(EditContext *ctx, const FanStep *fan, int n, LWPntID point)
{
    return CloseFan(ctx, fan, n, point, 0);
}

int CloseBorderFan(EditContext *ctx, const FanStep *fan, int n, LWPntID point)
{
    int chamfered = 0;
    for (int i = 0; i < n - 1; i++)
        chamfered += fan[i].leave->done != 0;
    if (chamfered == 0)
        return 0;
    return CloseFan(ctx, fan, n, point, 1);
}
