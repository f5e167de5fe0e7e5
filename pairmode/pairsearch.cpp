// The searches of the polygon list in the two-polygon mode: the polygon
// across a directed edge and the corner count at a point. The host answers
// polyInfo with the mesh as it was when the edit began, which is what lets
// both answer from an index of the list built once per bridge
// (pairmode/pairindex.h); without one they ask the host for every listed
// polygon.
#include "context/context.h"
#include "pairmode/pairindex.h"
#include "pairmode/pairmode.h"

LWPolID FindPolyByEdge(EditContext *ctx, const PairIndex *index, LWPolID *list, int count, LWPntID key,
                       LWPntID key2)
{
    LWPolID found;
    if (PairIndexFindEdge(index, list, count, key, key2, &found))
        return found;
    for (int t = 0; t < count; t++) {
        const HostPolygonInfo *info = HostPolyInfo(ctx, list[t]);
        // A polygon the host cannot describe ends the search: the ones after
        // it are not looked at.
        if (!info)
            return nullptr;
        int n = (int)info->numPnts;
        for (int k = 0; k < n; k++) {
            if (info->points[k] == key && info->points[(k + 1) % n] == key2)
                return list[t];
        }
    }
    return nullptr;
}

int PointValence(EditContext *ctx, const PairIndex *index, int count, LWPolID *list, LWPntID key)
{
    int corners;
    if (PairIndexValence(index, list, count, key, &corners))
        return corners;
    int c = 0;
    for (int t = 0; t < count; t++) {
        const HostPolygonInfo *info = HostPolyInfo(ctx, list[t]);
        if (!info)
            break;
        int n = (int)info->numPnts;
        for (int k = 0; k < n; k++) {
            if (info->points[k] == key)
                c++;
        }
    }
    return c;
}
