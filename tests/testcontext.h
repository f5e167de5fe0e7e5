// The context an activation hands its passes, made by a test over its own
// output model and edit.
#ifndef CORVANE_TESTS_TESTCONTEXT_H
#define CORVANE_TESTS_TESTCONTEXT_H

#include <stdlib.h>

#include <memory>
#include <vector>

#include "bufmodel/bufmodel.h"
#include "context/context.h"
#include "host/host.h"
#include "objectmode/objectmode.h"

// Empties the model and binds the context to it; 0, or -1 as the two inits.
inline int InitTestContext(EditContext *ctx, BufModel *model, HostMeshEditOp *edit,
                           HostMonitorService *monitors, HostMessageService *messages)
{
    if (BufModelInit(model) != 0)
        return -1;
    return EditContextInit(ctx, edit, monitors, messages, model);
}

// An edit begun on a host of its own holding a mesh, with an output model
// and a context bound to it and the survey's records cleared, for calling
// the passes directly. The edit is dropped at the end.
struct EditSession {
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::vector<LWPolID> ids;
    HostMeshEditOp *edit = nullptr;
    BufModel *model = static_cast<BufModel *>(calloc(1, sizeof(BufModel)));
    EditContext ctx{};
    std::vector<PolyInfo> records;

    EditSession() = default;
    EditSession(const EditSession &) = delete;
    EditSession &operator=(const EditSession &) = delete;
    // false when the edit or the context could not be made.
    bool Begin(const MeshData &mesh, int layer)
    {
        ids = EmuHostAddMesh(host.get(), layer, mesh);
        EmuHostMakeCurrent(host.get());
        edit = EmuEditBegin(0, 0, 1);
        if (!edit || !model ||
            InitTestContext(&ctx, model, edit,
                            static_cast<HostMonitorService *>(EmuGlobal(HOST_MONITOR_SERVICE, 0)),
                            static_cast<HostMessageService *>(EmuGlobal(HOST_MESSAGE_SERVICE, 0))) != 0)
            return false;
        records.assign(ids.size() + 1, PolyInfo{});
        ClearPolyInfo(static_cast<int>(records.size()), records.data());
        return true;
    }
    void Survey() { GetPolyInfo(&ctx, static_cast<int>(ids.size()), ids.data(), records.data()); }
    // Every vertex of every buffered polygon names an existing point: a
    // refused add never reaches a polygon as an index.
    bool IndicesValid() const
    {
        for (int p = 0; p < model->polyCount; ++p) {
            const BufPoly *poly = model->polyTable[p];
            for (int v = 0; v < poly->count; ++v)
                if (poly->points[v] < 0 || poly->points[v] >= model->pointCount)
                    return false;
        }
        return true;
    }
    ~EditSession()
    {
        FreePolyInfo(static_cast<int>(records.size()), records.data());
        if (model)
            BufModelRelease(model);
        free(model);
        if (edit)
            edit->done(edit->state, HOST_EDIT_DISCARD, 0);
    }
};

// The edge passes one at a time, as a test runs them on records of its own:
// the list pass without telling of its runs, the link pass for any records.
inline int LineListPass(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges)
{
    return LineListPassRuns(ctx, count, records, edges, nullptr);
}
inline void LineInfoPass(EditContext *ctx, int m, LineInfo *edges)
{
    LineInfoPassRuns(ctx, m, edges, EDGE_RUNS_UNKNOWN);
}

#endif
