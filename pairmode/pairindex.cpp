// The polygon index of the two-polygon mode: every corner of the listed
// polygons (up to the first the host cannot describe), as the directed edge
// that starts there and as the point it stands on, in list order.
#include "pairmode/pairindex.h"

#include <stdlib.h>

#include "index/keyindex.h"

namespace {

struct PairIndex {
    int open;
    BufModel *model;
    HostEditState state;
    LWPolID *list;
    int count;
    KeyIndex edges;      // per corner: (point k, point k + 1), in list order
    KeyIndex points;     // per corner: (point k, 0)
    int32_t *slotOf;     // per corner: the list slot of its polygon
    int32_t *corners;    // per corner that starts a point's list: the point's count
};

PairIndex g_index;

}  // namespace

void PairIndexClose(void)
{
    if (g_index.open) {
        KeyIndexClose(&g_index.edges);
        KeyIndexClose(&g_index.points);
    }
    free(g_index.slotOf);
    free(g_index.corners);
    g_index.slotOf = nullptr;
    g_index.corners = nullptr;
    g_index.open = 0;
}

// The corners of the polygons the scans would look at, with the slot of
// each; -1 without memory.
static int CountCorners(BufModel *model, int count, LWPolID *list)
{
    HostMeshEditOp *edit = model->edit;
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

void PairIndexOpen(BufModel *model, int count, LWPolID *list)
{
    PairIndexClose();
    if (!model || !list || count < 0)
        return;
    int corners = CountCorners(model, count, list);
    if (corners < 0)
        return;
    size_t room = corners > 0 ? (size_t)corners : 1;
    g_index.slotOf = (int32_t *)malloc(room * sizeof(int32_t));
    g_index.corners = (int32_t *)malloc(room * sizeof(int32_t));
    KeyIndexOpen(&g_index.edges, corners);
    KeyIndexOpen(&g_index.points, corners);
    g_index.open = 1;
    if (!g_index.slotOf || !g_index.corners || g_index.edges.slotMask < 0 ||
        g_index.points.slotMask < 0) {
        PairIndexClose();
        return;
    }

    HostMeshEditOp *edit = model->edit;
    int c = 0;
    for (int t = 0; t < count; t++) {
        // The scans stop at a polygon the host cannot describe.
        const HostPolygonInfo *info = edit->polyInfo(edit->state, list[t]);
        if (!info)
            break;
        int n = (int)info->numPnts;
        if (n > corners - c) {
            // An answer other than the count's: leave it to the scans.
            PairIndexClose();
            return;
        }
        for (int k = 0; k < n; k++, c++) {
            g_index.slotOf[c] = t;
            KeyIndexAdd(&g_index.edges, c, KeyOf(info->points[k]),
                        KeyOf(info->points[(k + 1) % n]));
            int first = KeyIndexAddFirst(&g_index.points, c, KeyOf(info->points[k]), 0);
            if (first < 0)
                g_index.corners[c] = 1;
            else
                g_index.corners[first]++;
        }
    }
    g_index.model = model;
    g_index.state = edit->state;
    g_index.list = list;
    g_index.count = count;
}

static int Matches(BufModel *model, LWPolID *list, int count)
{
    return g_index.open && g_index.model == model && g_index.state == model->edit->state &&
           g_index.list == list && g_index.count == count;
}

int PairIndexFindEdge(BufModel *model, LWPolID *list, int count, LWPntID key, LWPntID key2,
                      LWPolID *found)
{
    if (!Matches(model, list, count))
        return 0;
    int c = KeyIndexFirst(&g_index.edges, KeyOf(key), KeyOf(key2));
    *found = c >= 0 ? list[g_index.slotOf[c]] : nullptr;
    return 1;
}

int PairIndexValence(BufModel *model, LWPolID *list, int count, LWPntID key, int *corners)
{
    if (!Matches(model, list, count))
        return 0;
    int c = KeyIndexFirst(&g_index.points, KeyOf(key), 0);
    *corners = c >= 0 ? g_index.corners[c] : 0;
    return 1;
}
