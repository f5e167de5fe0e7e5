// Oracle for the two-polygon mode's searches of the polygon list
// (pairmode/pairsearch.cpp): the host is asked about each listed polygon in
// list order, as often as a search needs, with no index. A polygon the
// host cannot describe ends a search; the polygons after it are not asked
// about.
#include "context/context.h"
#include "pairmode/pairmode.h"
#include "tests/reference/reference.h"

// Whether the polygon goes from `from` straight on to `to`, its last corner
// going on to its first.
static int GoesAlong(const HostPolygonInfo *info, LWPntID from, LWPntID to)
{
    int corners = (int)info->numPnts;
    for (int k = 0; k < corners; k++) {
        LWPntID after = info->points[k + 1 < corners ? k + 1 : 0];
        if (info->points[k] == from && after == to)
            return 1;
    }
    return 0;
}

LWPolID FindPolyByEdge(EditContext *ctx, const PairIndex *, LWPolID *list, int count, LWPntID key,
                       LWPntID key2)
{
    // The deliberate fault: the edge looked for the wrong way round.
    if (RefMutant("pairsearch-reversed-edge")) {
        LWPntID first = key;
        key = key2;
        key2 = first;
    }
    int t = 0;
    const HostPolygonInfo *info = nullptr;
    while (t < count && (info = HostPolyInfo(ctx, list[t])) != nullptr && !GoesAlong(info, key, key2))
        t++;
    return t < count && info ? list[t] : nullptr;
}

int PointValence(EditContext *ctx, const PairIndex *, int count, LWPolID *list, LWPntID key)
{
    int corners = 0;
    for (int t = 0; t < count; t++) {
        const HostPolygonInfo *info = HostPolyInfo(ctx, list[t]);
        if (info == nullptr)
            return corners;
        for (int k = 0; k < (int)info->numPnts; k++)
            corners += info->points[k] == key;
    }
    return corners;
}
