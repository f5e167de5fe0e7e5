// The mesh edit operation the host hands to the module.
//
// An edit sees the mesh as it was when it began: points and polygons added
// during the edit are held back (not alive, not counted, not scanned, but
// answered by pointInfo/polyInfo) and removals only take effect at done(0).
// Thus polyInfo and polyNormal keep answering for a polygon removed earlier in
// the same edit with the data it had, and done with an error code can drop the
// whole edit by cutting the record arrays back to their length at the begin.
#include "host/host.h"

#include <cstdint>
#include <cstring>

struct EmuEdit {
    HostMeshEditOp op;
    EmuHost *host = nullptr;
    size_t pointsAtBegin = 0;  // records before this index existed at the begin
    size_t polysAtBegin = 0;
    std::vector<LWPolID> removed;  // removals waiting for done(0)
    bool ended = false;
};

namespace {

EmuEdit *EditOf(HostEditState state)
{
    return reinterpret_cast<EmuEdit *>(state);
}

// The edit when it may still be used; an ended edit counts the stray call.
EmuEdit *OpenEdit(HostEditState state)
{
    EmuEdit *edit = EditOf(state);
    if (edit == nullptr)
        return nullptr;
    if (edit->ended) {
        edit->host->log.callsAfterDone++;
        return nullptr;
    }
    return edit;
}

bool InLayer(const EmuHost *host, int itemLayer, int layer)
{
    if (layer == HOST_LAYER_FOREGROUND) {
        for (int fg : host->foreground)
            if (fg == itemLayer)
                return true;
        return false;
    }
    if (layer == HOST_LAYER_BACKGROUND)
        return itemLayer == host->background;
    return false;
}

// Alive at the begin of the edit: held-back additions are not alive yet and
// pending removals still are.
bool PointVisible(const EmuEdit *edit, size_t k, int layer)
{
    const EmuPoint &p = *edit->host->points[k];
    return k < edit->pointsAtBegin && p.alive && InLayer(edit->host, p.layer, layer);
}

bool PolyVisible(const EmuEdit *edit, size_t k, int layer)
{
    const EmuPoly &p = *edit->host->polys[k];
    return k < edit->polysAtBegin && p.alive && InLayer(edit->host, p.layer, layer);
}

void Done(HostEditState state, int error, int /*selm*/)
{
    EmuEdit *edit = EditOf(state);
    if (edit == nullptr)
        return;
    EmuHost *host = edit->host;
    host->log.doneCodes.push_back(error);
    if (edit->ended)
        return;  // a second done is recorded and otherwise ignored
    edit->ended = true;
    if (host->edit == edit)
        host->edit = nullptr;
    if (error == 0) {
        for (size_t k = edit->pointsAtBegin; k < host->points.size(); ++k)
            host->points[k]->alive = true;
        for (size_t k = edit->polysAtBegin; k < host->polys.size(); ++k)
            host->polys[k]->alive = true;
        for (LWPolID id : edit->removed)
            EmuHostPoly(host, id)->alive = false;
    } else {
        host->points.resize(edit->pointsAtBegin);
        host->polys.resize(edit->polysAtBegin);
    }
    edit->removed.clear();
}

int PointCount(HostEditState state, int layer, int mode)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return 0;
    int n = 0;
    for (size_t k = 0; k < edit->host->points.size(); ++k)
        if (PointVisible(edit, k, layer) && (mode != HOST_MODE_SELECTED || edit->host->points[k]->selected))
            ++n;
    return n;
}

int PolyCount(HostEditState state, int layer, int mode)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return 0;
    int n = 0;
    for (size_t k = 0; k < edit->host->polys.size(); ++k)
        if (PolyVisible(edit, k, layer) &&
            (mode != HOST_MODE_SELECTED || (edit->host->polys[k]->info.flags & HOST_POLY_SELECTED) != 0))
            ++n;
    return n;
}

// Scans stop at the first callback that returns non-zero and return its code.
int PointScan(HostEditState state, HostPointScanFunc *callback, void *data, int layer)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return 1;
    if (edit->host->script.pointScanError != 0)
        return edit->host->script.pointScanError;
    for (size_t k = 0; k < edit->pointsAtBegin; ++k) {
        if (!PointVisible(edit, k, layer))
            continue;
        const int rc = callback(data, &edit->host->points[k]->info);
        if (rc != 0)
            return rc;
    }
    return 0;
}

int PolyScan(HostEditState state, HostPolyScanFunc *callback, void *data, int layer)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return 1;
    if (edit->host->script.polyScanError != 0)
        return edit->host->script.polyScanError;
    for (size_t k = 0; k < edit->polysAtBegin; ++k) {
        if (!PolyVisible(edit, k, layer))
            continue;
        const int rc = callback(data, &edit->host->polys[k]->info);
        if (rc != 0)
            return rc;
    }
    return 0;
}

HostPointInfo *PointInfo(HostEditState state, LWPntID id)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return nullptr;
    edit->host->log.pointInfoCalls++;
    EmuPoint *p = EmuHostPoint(edit->host, id);
    return p != nullptr ? &p->info : nullptr;
}

// The polygon polyInfo and polyNormal answer for: one the edit began with
// (removed during the edit or not) or one it added; not one removed before.
EmuPoly *AnsweredPoly(EmuEdit *edit, LWPolID id)
{
    EmuPoly *p = EmuHostPoly(edit->host, id);
    if (p == nullptr)
        return nullptr;
    const size_t k = reinterpret_cast<uintptr_t>(id) - 1;
    if (k < edit->polysAtBegin && !p->alive)
        return nullptr;
    return p;
}

HostPolygonInfo *PolyInfo(HostEditState state, LWPolID id)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return nullptr;
    edit->host->log.polyInfoCalls++;
    for (LWPolID hidden : edit->host->script.hidePolys)
        if (hidden == id)
            return nullptr;
    EmuPoly *p = AnsweredPoly(edit, id);
    return p != nullptr ? &p->info : nullptr;
}

int PolyNormal(HostEditState state, LWPolID id, double out[3])
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return 0;
    EmuPoly *p = AnsweredPoly(edit, id);
    if (p == nullptr)
        return 0;
    // A module asks for the same normal once per edge of the polygon.
    EmuHost *host = edit->host;
    const size_t index = reinterpret_cast<uintptr_t>(id) - 1;
    if (host->normals.size() <= index)
        host->normals.resize(host->polys.size());
    EmuNormalAnswer &answer = host->normals[index];
    const int thisEdit = host->editSerial;
    if (answer.edit != thisEdit) {
        answer.ok = EmuNewellNormal(host, p->points.data(), p->points.size(), answer.normal);
        answer.edit = thisEdit;
    }
    if (!answer.ok)
        return 0;
    out[0] = answer.normal[0];
    out[1] = answer.normal[1];
    out[2] = answer.normal[2];
    return 1;
}

LWPntID AddPoint(HostEditState state, const double pos[3])
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return nullptr;
    EmuHost *host = edit->host;
    auto pt = std::make_unique<EmuPoint>();
    std::memset(&pt->info, 0, sizeof pt->info);
    pt->info.pnt = reinterpret_cast<LWPntID>(static_cast<uintptr_t>(host->points.size() + 1));
    pt->info.position[0] = pos[0];
    pt->info.position[1] = pos[1];
    pt->info.position[2] = pos[2];
    pt->layer = host->foreground.empty() ? 1 : host->foreground.front();
    pt->alive = false;  // held back until done(0)
    const LWPntID id = pt->info.pnt;
    host->points.push_back(std::move(pt));
    host->log.addedPoints.push_back(id);
    return id;
}

LWPolID AddFace(HostEditState state, const char *surface, int count, const LWPntID *points)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return nullptr;
    EmuHost *host = edit->host;
    // A face needs at least one point and only points the host knows.
    // Every id from 1 to the record count names a point (records are never
    // null), so the range alone tells.
    bool valid = count > 0 && points != nullptr;
    const uintptr_t known = host->points.size();
    for (int k = 0; valid && k < count; ++k) {
        const uintptr_t id = reinterpret_cast<uintptr_t>(points[k]);
        valid = id != 0 && id <= known;
    }
    if (!valid) {
        host->log.rejectedFaces++;
        return nullptr;
    }
    auto poly = std::make_unique<EmuPoly>();
    std::memset(&poly->info, 0, sizeof poly->info);
    EmuPolySetPoints(host, poly.get(), points, (size_t)count);
    EmuPolySetSurface(host, poly.get(), surface, surface ? std::strlen(surface) : 0);
    poly->layer = host->foreground.empty() ? 1 : host->foreground.front();
    poly->alive = false;  // held back until done(0)
    poly->info.pol = reinterpret_cast<LWPolID>(static_cast<uintptr_t>(host->polys.size() + 1));
    const LWPolID id = poly->info.pol;
    host->polys.push_back(std::move(poly));
    host->log.addedPolys.push_back(id);
    return id;
}

// 0 when the polygon will go at done(0); 1 for an id the edit cannot remove.
// Every call is logged, so a module removing a polygon twice shows up.
int RemPoly(HostEditState state, LWPolID id)
{
    EmuEdit *edit = OpenEdit(state);
    if (edit == nullptr)
        return 1;
    edit->host->log.removedPolys.push_back(id);
    EmuPoly *p = AnsweredPoly(edit, id);
    if (p == nullptr)
        return 1;
    // Marked on the record, so that an edit removing thousands of polygons
    // does not search its list for each.
    if (p->removalEdit == edit->host->editSerial)
        return 0;
    p->removalEdit = edit->host->editSerial;
    // A polygon added in this edit is dropped the same way: done(0) brings
    // the additions alive first and then applies the removals.
    edit->removed.push_back(id);
    return 0;
}

}  // namespace

HostMeshEditOp *EmuEditBegin(int /*pointBuf*/, int /*polyBuf*/, int /*mode*/)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr)
        return nullptr;
    host->log.editBeginCalls++;
    // One edit at a time, as in a host that runs one tool at a time.
    if (host->script.refuseEdit || host->edit != nullptr)
        return nullptr;
    auto edit = std::make_shared<EmuEdit>();
    std::memset(&edit->op, 0, sizeof edit->op);
    edit->host = host;
    edit->pointsAtBegin = host->points.size();
    edit->polysAtBegin = host->polys.size();
    edit->op.state = reinterpret_cast<HostEditState>(edit.get());
    edit->op.done = Done;
    edit->op.pointCount = PointCount;
    edit->op.polyCount = PolyCount;
    edit->op.pointScan = PointScan;
    edit->op.polyScan = PolyScan;
    edit->op.pointInfo = PointInfo;
    edit->op.polyInfo = PolyInfo;
    edit->op.polyNormal = PolyNormal;
    edit->op.addPoint = AddPoint;
    edit->op.addFace = AddFace;
    edit->op.remPoly = RemPoly;
    host->edit = edit.get();
    host->edits.push_back(edit);
    host->log.editsBegun++;
    host->editSerial++;
    return &edit->op;
}
