// The host's services an activation works through: its edit operation, the
// progress monitor and message services, and the one monitor that may be
// open at a time. The wrappers below are thin: they run the monitor and
// message services and read the host's point and polygon descriptions.
//
// The activation's context, which the passes are handed, is this record
// with the output model and the fault flag added, so it goes to the
// wrappers as it is.
#ifndef CORVANE_SERVICES_H
#define CORVANE_SERVICES_H

#include "hostapi/hostapi.h"
#include "vecmath/vecmath.h"

struct EditServices {
    HostMeshEditOp *edit;
    HostMonitorService *monitorService;
    HostMessageService *messageService;
    HostMonitor *monitor;  // current monitor, owned by the wrappers
};

// The current monitor becomes create(title, text), which may be none.
void MonitorOpen(EditServices *services, const char *title, const char *text);
// Sets (or restarts with) the total; nothing without a current monitor.
void MonitorInit(EditServices *services, int total);
// Advances by amount. Non-zero means abort; always 1 without a monitor.
int MonitorStep(EditServices *services, int amount);
// done() and destroy() the current monitor; nothing without one.
void MonitorClose(EditServices *services);
// Shows an error through the message service's error function.
void MessageError(EditServices *services, const char *line1, const char *line2);
// Shows an info message through the message service's info function.
void MessageInfo(EditServices *services, const char *line1, const char *line2);

// The host's description of a polygon (as the edit began), or null.
const HostPolygonInfo *HostPolyInfo(EditServices *services, LWPolID id);

// The host's position of a point (as the edit began: no pass moves a host
// point); 0, with nothing written, for a point the host does not know.
int HostPointPosition(EditServices *services, LWPntID id, Vec3 *out);
// The same, (0, 0, 0) for a point the host does not know, so that a bad
// answer cannot reach memory.
Vec3 HostPointOrZero(EditServices *services, LWPntID id);

#endif
