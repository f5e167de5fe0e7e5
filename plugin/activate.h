// The activation: the module's one entry point that does work. It begins the
// edit, picks the mode from the layer state, shows the options panel, runs the
// passes of that mode, flushes the output model and ends the edit.
#ifndef CORVANE_ACTIVATE_H
#define CORVANE_ACTIVATE_H

#include "hostapi/hostapi.h"

extern "C" {
// activation(version, global, local = HostMeshEditBegin*, server data):
// HOST_ACTIVATE_OK, _BADVERSION or _BADSERVICE.
int Activate(int version, HostGlobalFunc *global, void *local, void *serverData);
}

struct IdList;
// Scan callbacks; each returns 0 and never stops the scan. They never write
// past the list's capacity.
int CollectPolygon(void *list, const HostPolygonInfo *info);
int CollectPolygonSelectedFirst(void *list, const HostPolygonInfo *info);
int CollectPoint(void *list, const HostPointInfo *info);

// Points and polygons an activation may make (plugin/limits.cpp).
extern const int kRecordLimit;

// Messages the activation shows through the info function.
extern const char *const kMsgSelectOrBackground;
extern const char *const kMsgPolyScan;
extern const char *const kMsgPointScan;
extern const char *const kMsgTooManyCorners;
extern const char *const kMsgModelFull;
extern const char *const kMsgNoSharedEdge;
extern const char *const kMsgBevelNotFinite;
extern const char *const kMsgNotFinite;
// A pass set the context's fault (a state it cannot go on from, or no
// memory): the edit ends without change and the user is told.
extern const char *const kMsgInternalFault;
extern const char *const kMsgOutOfMemory;

#endif
