// Loop end caps: where a walk along the edge loop ends at a point E with three,
// or five and more, polygon corners, the polygons about E that are not on the
// strip are cut by the plane of the last bridge quad L, and a cap closes what
// is left open.
//
//              W
//         B    |    m1          B holds P -> E -> W; the fan polygons
//    P ======= E -------        m1, m2 ... run about E from B's side to
//         A    |    m2          A's side, each across the previous one's
//              |                edge from E to its next point
//
// In each fan polygon E is replaced by two points on the plane: `in` on the
// edge that comes into E, `out` on the edge that leaves it. The cap runs
// through the first `in` and every `out`, in reverse, so that it shares its
// edge from `in` to the last `out` with L.
#include <string.h>

#include "pairmode/claims.h"
#include "pairmode/pairmode.h"
#include "edit/services.h"

// Working storage of the cap: fixed, not allocated per call. A fan polygon
// or a fan that does not fit ends the cap before anything is built for it.
enum { CAP_LIST_SIZE = 255, CAP_NAME_SIZE = 256 };
static int32_t gFanPoints[CAP_LIST_SIZE];
static int32_t gCapPoints[CAP_LIST_SIZE];
static char gCapName[CAP_NAME_SIZE];
static int32_t gIn;
static int32_t gOut;

static const char kDefaultSurface[] = "Default";

struct CapPlane {
    Vec3 point;
    Vec3 normal;
};

static const HostPolygonInfo *HostPoly(EditContext *ctx, LWPolID id)
{
    return ctx->edit->polyInfo(ctx->edit->state, id);
}

// The cap's name starts as L's. A name the buffer cannot hold is treated like
// a differing one: the cap is then named "Default".
static void StartCapName(const char *name)
{
    if (name && memchr(name, '\0', CAP_NAME_SIZE))
        strcpy(gCapName, name);
    else
        strcpy(gCapName, kDefaultSurface);
}

// A copy of host point p that stands for it: never created at the flush.
static int AddHostPoint(EditContext *ctx, LWPntID p)
{
    BufModel *model = ctx->model;
    Vec3 position = HostPointOrZero(ctx, p);
    int b = BufModelAddPoint(model, &position);
    if (b >= 0)
        BufModelGetPoint(model, b)->hostId = p;
    return b;
}

// A new point where the line through the host points c and e meets the plane.
static int AddCutPoint(EditContext *ctx, const CapPlane *plane, LWPntID c, LWPntID e)
{
    BufModel *model = ctx->model;
    Vec3 pc = HostPointOrZero(ctx, c);
    Vec3 pe = HostPointOrZero(ctx, e);
    Vec3 x = LinePlaneIntersect(plane->point, plane->normal, pc, pe);
    return BufModelAddPoint(model, &x);
}

// The fan point list of a polygon with points pts[0..n-1]: its points with
// `end` replaced by in and out. With emit 0 it only measures the list; with
// emit 1 it adds the points, fills gFanPoints, gIn and gOut. Returns the
// length, or -1 when an add was refused. *next: the polygon's point after end.
static int FanList(EditContext *ctx, const CapPlane *plane, const LWPntID *pts, int n,
                   LWPntID end, int emit, LWPntID *next)
{
    int length = 0;
    int k = 0;
    while (k < n) {
        LWPntID p = pts[k];
        LWPntID p1 = pts[(k + 1) % n];
        if (p == end) {
            // Only when end is point 0: its `in` comes with the last point.
            if (emit) {
                gOut = AddCutPoint(ctx, plane, end, p1);
                if (gOut < 0)
                    return -1;
                gFanPoints[length] = gOut;
            }
            length++;
            *next = p1;
            k += 1;
        } else if (p1 == end) {
            LWPntID p2 = pts[(k + 2) % n];
            if (emit) {
                int copy = AddHostPoint(ctx, p);
                gIn = copy < 0 ? -1 : AddCutPoint(ctx, plane, p, end);
                if (gIn < 0)
                    return -1;
                gFanPoints[length] = copy;
                gFanPoints[length + 1] = gIn;
            }
            length += 2;
            if (end != pts[0]) {
                if (emit) {
                    gOut = AddCutPoint(ctx, plane, end, p2);
                    if (gOut < 0)
                        return -1;
                    gFanPoints[length] = gOut;
                }
                length++;
            }
            *next = p2;
            k += 2;
        } else {
            if (emit) {
                int copy = AddHostPoint(ctx, p);
                if (copy < 0)
                    return -1;
                gFanPoints[length] = copy;
            }
            length++;
            k += 1;
        }
    }
    return length;
}

// W: the point that follows end in h, which holds prev -> end. 0 if none.
static LWPntID PointAfterEdge(const HostPolygonInfo *h, LWPntID prev, LWPntID end)
{
    int n = (int)h->numPnts;
    for (int k = 0; k < n; k++) {
        if (h->points[k] == prev && h->points[(k + 1) % n] == end)
            return h->points[(k + 2) % n];
    }
    return nullptr;
}

void CapLoopEnd(EditContext *ctx, int count, LWPolID *list, int lastQuad, LWPntID prev, LWPntID end)
{
    BufModel *model = ctx->model;
    // The plane of the last quad, through its vertex 0.
    const BufPoly *last = BufModelGetPoly(model, lastQuad);
    if (!last)
        return;
    CapPlane plane;
    plane.point = BufModelGetPoint(model, last->points[0])->position;
    plane.normal = last->normal;
    StartCapName(last->surface);

    // H is the B polygon of the last pair.
    LWPolID h = FindPolyByEdge(ctx, list, count, prev, end);
    if (!h)
        return;
    const HostPolygonInfo *info = HostPoly(ctx, h);
    if (!info)
        return;
    LWPntID w = PointAfterEdge(info, prev, end);
    if (!w)
        return;

    // The first fan polygon, across B's edge from end to W.
    LWPolID m = FindPolyByEdge(ctx, list, count, w, end);
    if (!m || PairClaimed(ctx, m))
        return;
    info = HostPoly(ctx, m);
    if (!info)
        return;

    // Each fan polygon is re-shaped, replaced in the host, and gives the
    // cap its out point (the first one its in point too).
    int capCount = 0;
    for (;;) {
        const LWPntID *pts = info->points;
        int n = (int)info->numPnts;
        const char *surface = info->surface;
        LWPntID next = nullptr;
        // Measured before anything is built, so that what does not fit the
        // fixed lists leaves no half-built polygon behind.
        int length = FanList(ctx, &plane, pts, n, end, 0, &next);
        int capLength = capCount + (capCount == 0 ? 2 : 1);
        if (n < 3 || length > CAP_LIST_SIZE || capLength > CAP_LIST_SIZE)
            return;
        if (!PairClaim(ctx, m))
            return;
        // The fan polygon's list with E replaced by its in and out points.
        gIn = -1;
        gOut = -1;
        if (FanList(ctx, &plane, pts, n, end, 1, &next) < 0 || gIn < 0 || gOut < 0)
            return;
        if (BufModelAddPoly(model, surface, length, gFanPoints) < 0)
            return;
        // The cap keeps L's name only while every fan polygon has the same.
        if (!surface || strcmp(gCapName, surface) != 0)
            strcpy(gCapName, kDefaultSurface);
        // The cap runs through the first in point and every out point.
        if (capCount == 0)
            gCapPoints[capCount++] = gIn;
        gCapPoints[capCount++] = gOut;
        // The fan polygon is replaced by its cut copy.
        ctx->edit->remPoly(ctx->edit->state, m);
        // The fan ends at the last pair (A or B) or at a border.
        m = FindPolyByEdge(ctx, list, count, next, end);
        if (m == FindPolyByEdge(ctx, list, count, end, prev) ||
            m == FindPolyByEdge(ctx, list, count, prev, end) || !m)
            break;
        // A polygon already taken over elsewhere ends the cap unfinished.
        if (PairClaimed(ctx, m))
            return;
        info = HostPoly(ctx, m);
        if (!info)
            return;
    }

    // The cap runs against the fan's sense.
    if (capCount > 2) {
        for (int lo = 0, hi = capCount - 1; lo < hi; lo++, hi--) {
            int32_t t = gCapPoints[lo];
            gCapPoints[lo] = gCapPoints[hi];
            gCapPoints[hi] = t;
        }
        BufModelAddPoly(model, gCapName, capCount, gCapPoints);
    }
}
