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
#include <stdlib.h>

#include "objectmode/objectmode.h"

static Vec3 PositionOf(BufModel *model, int index)
{
    const BufPoint *point = BufModelGetPoint(model, index);
    if (!point)
        return Vec3{0.0, 0.0, 0.0};
    return point->position;
}

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
    for (int e = 0; e < n; e++)
        c->crosses[e] = (unsigned char)EdgeCrossing(anchor, normal, PositionOf(model, y->points[e]),
                                                    PositionOf(model, y->points[(e + 1) % n]),
                                                    &c->point[e]);
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
static int AppendVertex(int32_t *list, int room, int *length, const BufPoly *y, unsigned char *taken,
                        int w)
{
    if (taken[w])
        return 0;
    taken[w] = 1;
    return Append(list, room, length, y->points[w]);
}

void CutPolyCorner(BufModel *model, const RingPlane *plane, int poly, const Vec3 &corner)
{
    if (poly < 0)
        return;
    BufPoly *y = BufModelGetPoly(model, poly);
    if (!y || y->count < 1)
        return;
    Vec3 anchor = PositionOf(model, plane->anchor);
    Vec3 normal = plane->normal;
    int n = y->count;

    // The polygon's vertices plus two per cut vertex, at most every vertex.
    int room = 3 * n;
    int32_t *cut = (int32_t *)malloc((size_t)room * sizeof(int32_t));
    Crossings cross;
    cross.crosses = (unsigned char *)malloc((size_t)n);
    cross.point = (Vec3 *)malloc((size_t)n * sizeof(Vec3));
    cross.ahead = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    cross.behind = (int32_t *)malloc((size_t)n * sizeof(int32_t));
    unsigned char *taken = (unsigned char *)calloc((size_t)n, 1);
    int found = 0;
    int ready = cut && cross.crosses && cross.point && cross.ahead && cross.behind && taken;
    int length = 0;
    int from = 0;
    int made = 0;
    int fits = 1;

    for (int v = 0; v < n && fits && ready; v++) {
        if (!VecSame(corner, PositionOf(model, y->points[v])))
            continue;
        if (!found) {
            FindCrossings(model, y, anchor, normal, &cross);
            found = 1;
        }

        // Backward from the edge that ends at v (over every edge but v's
        // own), forward from the one that starts there (over every edge but
        // the one that ends at v); the first crossing on each side wins.
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
            continue;
        Vec3 h1 = cross.point[eb];
        Vec3 h2 = cross.point[ef];

        int p1 = BufModelAddPoint(model, &h1);
        int p2 = BufModelAddPoint(model, &h2);
        // A full model refuses the points; the activation then discards the
        // edit, and the polygon is left alone.
        if (p1 < 0 || p2 < 0) {
            made = 0;
            break;
        }

        if (!made && eb > ef) {
            // The cut spans the end of the vertex list: its points open it.
            length = 0;
            fits = Append(cut, room, &length, p1) && Append(cut, room, &length, p2);
        } else {
            for (int w = from; w <= eb && fits; w++)
                fits = AppendVertex(cut, room, &length, y, taken, w);
            fits = fits && Append(cut, room, &length, p1) && Append(cut, room, &length, p2);
        }
        from = ef + 1;
        made = 1;
    }

    if (made && fits) {
        for (int w = from; w < n && fits; w++)
            fits = AppendVertex(cut, room, &length, y, taken, w);
        // A list that would not fit or repeats a vertex, or one too short for
        // a polygon (only a polygon folded over itself asks for any of
        // these), leaves it as it was.
        if (fits && length >= 3)
            BufModelSetPoly(model, nullptr, length, cut, poly);
    }
    free(cut);
    free(cross.crosses);
    free(cross.point);
    free(cross.ahead);
    free(cross.behind);
    free(taken);
}
