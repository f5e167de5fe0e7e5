// Edge offset: cuts a polygon's copy back from one of its edges by the bevel
// size, within the polygon's plane, each end sliding along the neighbouring
// edge of the polygon.
//
//        P                 Q
//        |                 |
//        A' ------------- B'     moved edge, `size` in from A-B
//        |                 |
//        A =============== B     the edge (X = B - A)
//
// End a slides along Y = A - P, end b along Y = Q - B. The offsets come from
// the host's positions, which no pass changes, and are added to where the
// buffered points are now, so the moves of two chamfered edges that meet at a
// corner add up to the crossing of the two moved edge lines.
#include "context/context.h"
#include "objectmode/objectmode.h"

static const Vec3 kZero = {0.0, 0.0, 0.0};

// Within about half a degree of a straight line the slide would be
// unbounded: below this sine the end stays put.
static const double kStraightSine = 0.01;

static int Slides(double sine)
{
    return sine > kStraightSine || sine < -kStraightSine;
}

Vec3 CornerOffset(const Vec3 &x, const Vec3 &y, const Vec3 &n, double size)
{
    // A zero-length edge gives no direction to slide along or away from;
    // the end then stays where it is rather than taking a NaN position.
    double ly = VecLength(y);
    double lx = VecLength(x);
    if (ly == 0.0 || lx == 0.0)
        return kZero;

    // Sine of the angle between the two edges, not negative yet.
    double s = VecLength(VecCross(y, x)) / (ly * lx);
    Vec3 u = VecDiv(y, ly);

    // c is the unit vector along X x Y; its side of the normal tells a
    // convex corner from a reflex one.
    Vec3 c = VecCross(VecScale(y, -1.0), x);
    double lc = VecLength(c);
    if (lc == 0.0)
        return kZero;
    c = VecDiv(c, lc);
    Vec3 negC = VecScale(c, -1.0);
    if (VecLength(VecSub(negC, n)) < VecLength(VecSub(c, n)))
        s = s * -1.0;

    if (Slides(s))
        return VecScale(u, size / s);
    return VecScale(u, 0.0);
}

// CornerOffset(x, y, n, size) and CornerOffset(y, x, n, size) together: the
// two ends that meet at one corner of a polygon, the end of the edge along x
// sliding along y and the end of the edge along y sliding along x. Swapping
// x and y changes no length and no product (X x Y and Y x X are exact
// negatives, up to the sign of a zero, which no length sees), so both share
// the sine and the side test, whose outcome is simply reversed: one call's
// "the reversed normal is nearer" is the other's "the normal is nearer".
void CornerOffsetPair(const Vec3 &x, const Vec3 &y, const Vec3 &n, double size, Vec3 *alongY, Vec3 *alongX)
{
    double ly = VecLength(y);
    double lx = VecLength(x);
    if (ly == 0.0 || lx == 0.0) {
        *alongY = kZero;
        *alongX = kZero;
        return;
    }
    double lyx = VecLength(VecCross(y, x));
    double s = lyx / (ly * lx);
    Vec3 c = VecCross(VecScale(y, -1.0), x);
    // |(-Y) x X| is |Y x X|: each component is the exact negative (or both
    // are +0), and a length only sees squares.
    double lc = lyx;
    if (lc == 0.0) {
        *alongY = kZero;
        *alongX = kZero;
        return;
    }
    // The side test of CornerOffset, made once: the reversed normal nearer
    // for one call is the normal nearer for the other. A NaN fails both
    // tests, as it fails the one test of each call.
    Vec3 cn = VecDiv(c, lc);
    Vec3 negC = VecScale(cn, -1.0);
    double toNeg = VecLength(VecSub(negC, n));
    double toPos = VecLength(VecSub(cn, n));
    int flipY = toNeg < toPos;
    int flipX = toPos < toNeg;
    double sy = flipY ? s * -1.0 : s;
    double sx = flipX ? s * -1.0 : s;
    Vec3 u = VecDiv(y, ly);
    Vec3 v = VecDiv(x, lx);
    *alongY = Slides(sy) ? VecScale(u, size / sy) : VecScale(u, 0.0);
    *alongX = Slides(sx) ? VecScale(v, size / sx) : VecScale(v, 0.0);
}

Vec3 EdgePolyNormal(EditContext *ctx, LWPolID poly)
{
    HostMeshEditOp *edit = ctx->services.edit;
    double raw[3];
    if (edit->polyNormal(edit->state, poly, raw))
        return Vec3{raw[0], raw[1], raw[2]};
    return Vec3{0.0, 0.0, 1.0};
}

void MoveEdgePoints(BufModel *model, const LineInfo *edge, const Vec3 &offsetA, const Vec3 &offsetB)
{
    BufPoint *pa = BufModelGetPoint(model, edge->pointA);
    BufPoint *pb = BufModelGetPoint(model, edge->pointB);
    if (!pa || !pb)
        return;
    // Both sums are taken from the positions as they stood before either
    // store.
    Vec3 movedA = VecAdd(pa->position, offsetA);
    Vec3 movedB = VecAdd(pb->position, offsetB);
    pa->position = movedA;
    pb->position = movedB;
    pa->hostId = 0;
    pb->hostId = 0;
}

void OffsetEdgePoints(EditContext *ctx, const LineInfo *edge, double size)
{
    OffsetEdgePointsPinned(ctx, edge, size, 0, 0);
}

void OffsetEdgePointsPinned(EditContext *ctx, const LineInfo *edge, double size, int pinA, int pinB)
{
    BufModel *model = ctx->model;
    Vec3 normal = EdgePolyNormal(ctx, edge->hostPoly);
    Vec3 n = VecDiv(normal, VecLength(normal));

    Vec3 a, b, prev, next;
    if (!HostPointPosition(ctx, edge->hostA, &a) || !HostPointPosition(ctx, edge->hostB, &b) ||
        !HostPointPosition(ctx, edge->hostPrev, &prev) || !HostPointPosition(ctx, edge->hostNext, &next))
        return;

    Vec3 x = VecSub(b, a);
    Vec3 offsetA = pinA ? kZero : CornerOffset(x, VecSub(a, prev), n, size);
    Vec3 offsetB = pinB ? kZero : CornerOffset(x, VecSub(next, b), n, size);
    MoveEdgePoints(model, edge, offsetA, offsetB);
}
