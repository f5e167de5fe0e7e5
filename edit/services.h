// Thin wrappers over the host's progress monitor and message services and
// its point positions. They work on the activation's BufModel, which holds
// the services, the edit and the one monitor that may be open at a time.
#ifndef CORVANE_SERVICES_H
#define CORVANE_SERVICES_H

#include "hostapi/hostapi.h"
#include "vecmath/vecmath.h"

struct BufModel;

// The current monitor becomes create(title, text), which may be none.
void MonitorOpen(BufModel *model, const char *title, const char *text);
// Sets (or restarts with) the total; nothing without a current monitor.
void MonitorInit(BufModel *model, int total);
// Advances by amount. Non-zero means abort; always 1 without a monitor.
int MonitorStep(BufModel *model, int amount);
// done() and destroy() the current monitor; nothing without one.
void MonitorClose(BufModel *model);
// Shows an error through the message service's error function.
void MessageError(BufModel *model, const char *line1, const char *line2);
// Shows an info message through the message service's info function.
void MessageInfo(BufModel *model, const char *line1, const char *line2);

// The host's position of a point (as the edit began: no pass moves a host
// point); 0, with nothing written, for a point the host does not know.
int HostPointPosition(BufModel *model, LWPntID id, Vec3 *out);
// The same, (0, 0, 0) for a point the host does not know, so that a bad
// answer cannot reach memory.
Vec3 HostPointOrZero(BufModel *model, LWPntID id);

#endif
