// The activation's context: the host's edit operation and services, the
// output model and the fault flag. One record, made by the activation and
// passed down to every pass; nothing of it outlives the activation. Each
// mode keeps its indices and scratch in records of its own.
//
// The wrappers below are thin: they run the host's progress monitor and
// message services and read its point positions through the context, which
// holds the one monitor that may be open at a time.
#ifndef CORVANE_SERVICES_H
#define CORVANE_SERVICES_H

#include "hostapi/hostapi.h"
#include "vecmath/vecmath.h"

struct BufModel;

struct EditContext {
    HostMeshEditOp *edit;
    HostMonitorService *monitorService;
    HostMessageService *messageService;
    HostMonitor *monitor;               // current monitor, owned by the wrappers
    BufModel *model;                    // the output model the passes fill
    // Set by a pass that cannot go on (EDIT_FAULT_...); the activation then
    // ends the edit without change and tells the user why.
    int fault;
};

enum {
    EDIT_FAULT_NONE = 0,
    EDIT_FAULT_INTERNAL = 1,   // a state the pass cannot work from
    EDIT_FAULT_NO_MEMORY = 2   // an allocation the pass cannot do without failed
};

// Binds the handles and the model and clears the rest. -1 (nothing changed)
// when the context, the edit operation, the monitor or the message service
// is null; the model may be null.
int EditContextInit(EditContext *ctx, HostMeshEditOp *edit, HostMonitorService *monitors,
                    HostMessageService *messages, BufModel *model);

// The current monitor becomes create(title, text), which may be none.
void MonitorOpen(EditContext *ctx, const char *title, const char *text);
// Sets (or restarts with) the total; nothing without a current monitor.
void MonitorInit(EditContext *ctx, int total);
// Advances by amount. Non-zero means abort; always 1 without a monitor.
int MonitorStep(EditContext *ctx, int amount);
// done() and destroy() the current monitor; nothing without one.
void MonitorClose(EditContext *ctx);
// Shows an error through the message service's error function.
void MessageError(EditContext *ctx, const char *line1, const char *line2);
// Shows an info message through the message service's info function.
void MessageInfo(EditContext *ctx, const char *line1, const char *line2);

// The host's description of a polygon (as the edit began), or null.
const HostPolygonInfo *HostPolyInfo(EditContext *ctx, LWPolID id);

// The host's position of a point (as the edit began: no pass moves a host
// point); 0, with nothing written, for a point the host does not know.
int HostPointPosition(EditContext *ctx, LWPntID id, Vec3 *out);
// The same, (0, 0, 0) for a point the host does not know, so that a bad
// answer cannot reach memory.
Vec3 HostPointOrZero(EditContext *ctx, LWPntID id);

#endif
