// The literal searches of the polygon list: every call asks the host for
// the listed polygons in order, with no index.
#include "pairmode/pairmode.h"

static const HostPolygonInfo *HostPoly(EditContext *ctx, LWPolID id)
{
    return ctx->services.edit->polyInfo(ctx->services.edit->state, id);
}

LWPolID FindPolyByEdge(EditContext *ctx, const PairIndex *, LWPolID *list, int count, LWPntID key,
                       LWPntID key2)
{
    for (int t = 0; t < count; t++) {
        const HostPolygonInfo *info = HostPoly(ctx, list[t]);
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

int PointValence(EditContext *ctx, const PairIndex *, int count, LWPolID *list, LWPntID key)
{
    int c = 0;
    for (int t = 0; t < count; t++) {
        const HostPolygonInfo *info = HostPoly(ctx, list[t]);
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
