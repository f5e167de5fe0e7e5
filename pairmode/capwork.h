// The working storage the loop end caps share between their phases: the
// plan of a cap's fan about the end point (capfan.cpp), the cuts on its
// fan edges (capcuts.cpp), and the commit that builds the cap (caps.cpp).
// Private to the two-polygon mode.
#ifndef CORVANE_PAIRMODE_CAPWORK_H
#define CORVANE_PAIRMODE_CAPWORK_H

#include "pairmode/pairmode.h"

enum { CAP_LIST_SIZE = 255, CAP_NAME_SIZE = 256 };
// Over one bridge: every cut the caps made, with its edge, and every polygon
// they made or re-shaped, so that the cuts can be judged again against the
// weld the flush will use (see CapsSettle).
enum { SETTLE_CUTS = 4 * CAP_LIST_SIZE, SETTLE_POLYS = 2 * CAP_LIST_SIZE };
struct MadeCut {
    int32_t point;
    LWPntID end;
    LWPntID other;
    Vec3 stripIn;  // the strip's points at the end of the cap that made it
    Vec3 stripOut;
};

// A point of a fan polygon's planned list: a point the output model holds
// already, or one still to add there, the copy of a host point or the cut
// on the fan edge from the end point to a host point.
enum { FAN_POINT_HOST = -1, FAN_POINT_CUT = -2 };
struct FanPoint {
    LWPntID host;
    int32_t model;  // the model's point, or FAN_POINT_HOST / FAN_POINT_CUT
};

// One step of a cap's fan about the end point, planned before anything is
// built: a host polygon re-shaped into a copy of its own (claimed, removed
// from the host), a copy cut again, a polygon that keeps the end point, or
// another strip arm that ends there (its two polygons stepped over).
enum { STEP_RESHAPE, STEP_RECUT, STEP_KEEP, STEP_ARM };
struct CapStep {
    int kind;
    LWPolID poly;
    const char *surface;
    int recut;       // STEP_RECUT: the copy cut again
    int32_t arm[2];  // STEP_ARM: the arm's points at the end point, B's side first
    int first;       // STEP_RESHAPE, STEP_RECUT: the list in planPoints
    int length;
    int inSlot;
    int outSlot;
    int reachesA;  // the fan is back at A after this step
};

// The caps' working storage, made by CapsBegin for one bridge: fixed lists,
// not allocated per cap. A fan polygon or a fan that does not fit ends the
// cap before anything is built for it.
struct CapWork {
    const PairWork *work;  // the bridge's index and claims
    int32_t fanPoints[CAP_LIST_SIZE];
    int32_t capPoints[CAP_LIST_SIZE];
    char capName[CAP_NAME_SIZE];
    // The fan's plan: its steps, and their point lists one after another.
    CapStep steps[CAP_LIST_SIZE];
    FanPoint planPoints[CAP_LIST_SIZE * CAP_LIST_SIZE];
    // The one copy of the end point a cap uses where a fan edge is not cut,
    // or -1 until one is needed.
    int32_t endCopy;
    LWPntID end;
    // The output model's box as the cap began: the cuts of one cap are all
    // judged against it, so that the points the cap adds change no decision.
    Vec3 boxMin;
    Vec3 boxMax;
    // Where the strip's two points at the end point lie.
    Vec3 stripIn;
    Vec3 stripOut;
    // The fan edges judged so far in this cap, by their point other than the
    // end point, with the answer and the cut: each edge is judged once.
    LWPntID judged[CAP_LIST_SIZE];
    uint8_t judgedUsable[CAP_LIST_SIZE];
    Vec3 judgedCut[CAP_LIST_SIZE];
    int judgedCount;
    // The fan polygons this cap re-shaped, by their index in the output model.
    int32_t fanPolys[CAP_LIST_SIZE];
    int fanCount;
    // Over the bridge: what the caps made.
    MadeCut madeCuts[SETTLE_CUTS];
    int madeCutCount;
    int32_t capPolys[SETTLE_POLYS];
    int capPolyCount;
    int settleOverflow;
};

struct CapPlane {
    Vec3 point;
    Vec3 normal;
};

static const char kDefaultSurface[] = "Default";

// A copy of host point p that stands for it: never created at the flush.
int CapAddHostPoint(EditContext *ctx, LWPntID p);
// Whether the fan edge from the end point to `other` is cut by the plane, or
// keeps the end point; each edge is judged once per cap (capcuts.cpp).
int CapCutUsable(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID other);
// The copy of the end point that stands where a fan edge is not cut.
int CapEndCopy(CapWork *cw, EditContext *ctx);
// A new point where the line through the host points c and e, one of them
// the end point, meets the plane; the end point's copy where that edge is
// not cut.
int CapAddCutPoint(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID c, LWPntID e);
// Starts the cap at the loop end: its plane, its name and the judged fan
// edges (capfan.cpp).
int CapBeginFan(CapWork *cw, EditContext *ctx, int count, LWPolID *list, const LoopEnd *loopEnd,
                CapPlane *plane, LWPolID *m, LWPolID *polyA, LWPolID *polyB);
// Plans the fan about the end point before anything is built (capfan.cpp).
int CapPlanFan(CapWork *cw, EditContext *ctx, int count, LWPolID *list, const LoopEnd *loopEnd,
               const CapPlane *plane, LWPolID m, LWPolID polyA, LWPolID polyB);

#endif
