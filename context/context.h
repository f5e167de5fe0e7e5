// The activation's context: the host's services, the output model and the
// fault flag. One record, made by the activation and passed down to every
// pass; nothing of it outlives the activation. Each mode keeps its indices
// and scratch in records of its own.
//
// Every pass holds the context, so the service wrappers (edit/services.h)
// are offered on it too, each handing on the context's services.
#ifndef CORVANE_CONTEXT_H
#define CORVANE_CONTEXT_H

#include "bufmodel/bufmodel.h"
#include "edit/services.h"
#include "hostapi/hostapi.h"

struct EditContext {
    EditServices services;  // the host's edit operation and services
    BufModel *model;        // the output model the passes fill
    // Set by a pass that cannot go on (EDIT_FAULT_...); the activation then
    // ends the edit without change and tells the user why.
    int fault;
};

enum {
    EDIT_FAULT_NONE = 0,
    EDIT_FAULT_INTERNAL = 1,  // a state the pass cannot work from
    EDIT_FAULT_NO_MEMORY = 2  // an allocation the pass cannot do without failed
};

// Binds the handles and the model and clears the rest. -1 (nothing changed)
// when the context, the edit operation, the monitor or the message service
// is null; the model may be null.
int EditContextInit(EditContext *ctx, HostMeshEditOp *edit, HostMonitorService *monitors,
                    HostMessageService *messages, BufModel *model);

inline void MonitorOpen(EditContext *ctx, const char *title, const char *text)
{
    MonitorOpen(&ctx->services, title, text);
}
inline void MonitorInit(EditContext *ctx, int total)
{
    MonitorInit(&ctx->services, total);
}
inline int MonitorStep(EditContext *ctx, int amount)
{
    return MonitorStep(&ctx->services, amount);
}
inline void MonitorClose(EditContext *ctx)
{
    MonitorClose(&ctx->services);
}
inline void MessageError(EditContext *ctx, const char *line1, const char *line2)
{
    MessageError(&ctx->services, line1, line2);
}
inline void MessageInfo(EditContext *ctx, const char *line1, const char *line2)
{
    MessageInfo(&ctx->services, line1, line2);
}
inline const HostPolygonInfo *HostPolyInfo(EditContext *ctx, LWPolID id)
{
    return HostPolyInfo(&ctx->services, id);
}
inline int HostPointPosition(EditContext *ctx, LWPntID id, Vec3 *out)
{
    return HostPointPosition(&ctx->services, id, out);
}
inline Vec3 HostPointOrZero(EditContext *ctx, LWPntID id)
{
    return HostPointOrZero(&ctx->services, id);
}

#endif
