// The polygon index of the two-polygon mode: every corner of the listed
// polygons (up to the first the host cannot describe), as the directed edge
// that starts there and as the point it stands on, in list order.
#include "pairmode/pairindex.h"

#include <stdlib.h>

#include "index/keyindex.h"

struct PairIndex {
    LWPolID *list;
    int count;
    KeyIndex edges;    // per corner: (point k, point k + 1), in list order
    KeyIndex points;   // per corner: (point k, 0)
    int32_t *slotOf;   // per corner: the list slot of its polygon
    int32_t *corners;  // per corner that starts a point's list: the point's count
};

void PairIndexClose(PairIndex *index)
{
    if (!index)
        return;
    KeyIndexClose(&index->edges);
    KeyIndexClose(&index->points);
    free(index->slotOf);
    free(index->corners);
    free(index);
}

// The corners of the polygons the scans would look at, with the slot of
// each; -1 without memory.
static int CountCorners(EditContext *ctx, int count, LWPolID *list)
{
    HostMeshEditOp *edit = ctx->services.edit;
    long long total = 0;
    for (int t = 0; t < count; t++) {
        const HostPolygonInfo *info = edit->polyInfo(edit->state, list[t]);
        if (!info)
            break;
        if (info->numPnts > 0)
            total += info->numPnts;
    }
    return total > 0x7fffffff ? -1 : (int)total;
}

PairIndex *PairIndexOpen(EditContext *ctx, int count, LWPolID *list)
{
    if (!list || count < 0)
        return nullptr;
    int corners = CountCorners(ctx, count, list);
    if (corners < 0)
        return nullptr;
    PairIndex *index = (PairIndex *)calloc(1, sizeof(PairIndex));
    if (!index)
        return nullptr;
    size_t room = corners > 0 ? (size_t)corners : 1;
    index->slotOf = (int32_t *)malloc(room * sizeof(int32_t));
    index->corners = (int32_t *)malloc(room * sizeof(int32_t));
    KeyIndexOpen(&index->edges, corners);
    KeyIndexOpen(&index->points, corners);
    if (!index->slotOf || !index->corners || index->edges.slotMask < 0 || index->points.slotMask < 0) {
        PairIndexClose(index);
        return nullptr;
    }

    HostMeshEditOp *edit = ctx->services.edit;
    int c = 0;
    for (int t = 0; t < count; t++) {
        // The scans stop at a polygon the host cannot describe.
        const HostPolygonInfo *info = edit->polyInfo(edit->state, list[t]);
        if (!info)
            break;
        int n = (int)info->numPnts;
        if (n > corners - c) {
            // An answer other than the count's: leave it to the scans.
            PairIndexClose(index);
            return nullptr;
        }
        for (int k = 0; k < n; k++, c++) {
            index->slotOf[c] = t;
            KeyIndexAdd(&index->edges, c, KeyOf(info->points[k]), KeyOf(info->points[(k + 1) % n]));
            int first = KeyIndexAddFirst(&index->points, c, KeyOf(info->points[k]), 0);
            if (first < 0)
                index->corners[c] = 1;
            else
                index->corners[first]++;
        }
    }
    index->list = list;
    index->count = count;
    return index;
}

static const PairIndex *Matches(const PairIndex *index, LWPolID *list, int count)
{
    return index && index->list == list && index->count == count ? index : nullptr;
}

int PairIndexFindEdge(const PairIndex *open, LWPolID *list, int count, LWPntID key, LWPntID key2,
                      LWPolID *found)
{
    const PairIndex *index = Matches(open, list, count);
    if (!index)
        return 0;
    int c = KeyIndexFirst(&index->edges, KeyOf(key), KeyOf(key2));
    *found = c >= 0 ? list[index->slotOf[c]] : nullptr;
    return 1;
}

int PairIndexValence(const PairIndex *open, LWPolID *list, int count, LWPntID key, int *corners)
{
    const PairIndex *index = Matches(open, list, count);
    if (!index)
        return 0;
    int c = KeyIndexFirst(&index->points, KeyOf(key), 0);
    *corners = c >= 0 ? index->corners[c] : 0;
    return 1;
}
