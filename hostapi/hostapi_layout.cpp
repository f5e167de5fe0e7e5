// Compile-time checks that the host records have the host's layout on the
// target being built: every field at the byte offset its word position gives.
// The host defines its records as sequences of machine words (4 bytes on the
// 32-bit Windows host, so word n at byte 4n); writing the offsets as
// n * sizeof(void *) checks the same declarations on the 64-bit builds, where
// the tests load the module through the same records. A field that drifts
// off its word would make the module call or read the wrong thing in a real
// host, so the build stops here instead.
#include <stddef.h>

#include "hostapi/hostapi.h"

namespace {

constexpr size_t kWord = sizeof(void *);

constexpr size_t Word(size_t n)
{
    return n * kWord;
}

static_assert(sizeof(HostWord) == kWord, "a host word is a pointer's size");
static_assert(sizeof(LWPntID) == kWord && sizeof(LWPolID) == kWord, "ids are one word");
static_assert(sizeof(HostActivateFunc *) == kWord, "function pointers are one word");

// Module descriptor: the three 32-bit words, then startup, shutdown, servers.
static_assert(offsetof(HostModuleDescriptor, sysSync) == 0, "descriptor word 0");
static_assert(offsetof(HostModuleDescriptor, sysVersion) == 4, "descriptor word 1");
static_assert(offsetof(HostModuleDescriptor, sysMachine) == 8, "descriptor word 2");
#if defined(_WIN32) && !defined(_WIN64)
// On the real host every descriptor field is one 4-byte word.
static_assert(offsetof(HostModuleDescriptor, startup) == Word(3), "descriptor word 3");
static_assert(offsetof(HostModuleDescriptor, shutdown) == Word(4), "descriptor word 4");
static_assert(offsetof(HostModuleDescriptor, serverDefs) == Word(5), "descriptor word 5");
static_assert(sizeof(HostModuleDescriptor) == Word(6), "descriptor is 6 words");
#else
// With 8-byte pointers the three 32-bit words are padded to 16 bytes.
static_assert(offsetof(HostModuleDescriptor, startup) == 16, "descriptor startup");
static_assert(offsetof(HostModuleDescriptor, shutdown) == 16 + kWord, "descriptor shutdown");
static_assert(offsetof(HostModuleDescriptor, serverDefs) == 16 + 2 * kWord, "descriptor server list");
#endif

static_assert(offsetof(HostServerRecord, className) == Word(0), "server word 0");
static_assert(offsetof(HostServerRecord, name) == Word(1), "server word 1");
static_assert(offsetof(HostServerRecord, activate) == Word(2), "server word 2");
static_assert(offsetof(HostServerRecord, tagInfo) == Word(3), "server word 3");
static_assert(sizeof(HostServerRecord) == Word(4), "server record is 4 words");
static_assert(offsetof(HostServerTag, tag) == Word(0), "tag word 0");
static_assert(offsetof(HostServerTag, string) == Word(1), "tag word 1");
static_assert(sizeof(HostServerTag) == Word(2), "tag is 2 words");

// Point info: id at word 0, the position's doubles after the four leading
// words, one after the other.
static_assert(offsetof(HostPointInfo, pnt) == Word(0), "point info word 0");
static_assert(offsetof(HostPointInfo, position) == Word(4), "position after four words");
static_assert(sizeof(((HostPointInfo *)nullptr)->position) == 3 * sizeof(double),
              "position is three doubles");
static_assert(sizeof(HostPointInfo) == Word(4) + 3 * sizeof(double), "point info size");

// Polygon info.
static_assert(offsetof(HostPolygonInfo, pol) == Word(0), "polygon info word 0");
static_assert(offsetof(HostPolygonInfo, flags) == Word(3), "polygon info word 3");
static_assert(offsetof(HostPolygonInfo, numPnts) == Word(4), "polygon info word 4");
static_assert(offsetof(HostPolygonInfo, points) == Word(5), "polygon info word 5");
static_assert(offsetof(HostPolygonInfo, surface) == Word(6), "polygon info word 6");
static_assert(sizeof(HostPolygonInfo) == Word(8), "polygon info is 8 words");

// Mesh edit operation.
static_assert(offsetof(HostMeshEditOp, state) == Word(0), "edit word 0");
static_assert(offsetof(HostMeshEditOp, done) == Word(2), "edit word 2");
static_assert(offsetof(HostMeshEditOp, pointCount) == Word(3), "edit word 3");
static_assert(offsetof(HostMeshEditOp, polyCount) == Word(4), "edit word 4");
static_assert(offsetof(HostMeshEditOp, pointScan) == Word(5), "edit word 5");
static_assert(offsetof(HostMeshEditOp, polyScan) == Word(6), "edit word 6");
static_assert(offsetof(HostMeshEditOp, pointInfo) == Word(7), "edit word 7");
static_assert(offsetof(HostMeshEditOp, polyInfo) == Word(8), "edit word 8");
static_assert(offsetof(HostMeshEditOp, polyNormal) == Word(9), "edit word 9");
static_assert(offsetof(HostMeshEditOp, addPoint) == Word(10), "edit word 10");
static_assert(offsetof(HostMeshEditOp, addFace) == Word(11), "edit word 11");
static_assert(offsetof(HostMeshEditOp, remPoly) == Word(17), "edit word 17");
static_assert(sizeof(HostMeshEditOp) == Word(22), "edit operation is 22 words");

// Progress monitor and its service.
static_assert(offsetof(HostMonitor, data) == Word(0), "monitor word 0");
static_assert(offsetof(HostMonitor, init) == Word(1), "monitor word 1");
static_assert(offsetof(HostMonitor, step) == Word(2), "monitor word 2");
static_assert(offsetof(HostMonitor, done) == Word(3), "monitor word 3");
static_assert(offsetof(HostMonitorService, create) == Word(0), "monitor service word 0");
static_assert(offsetof(HostMonitorService, destroy) == Word(1), "monitor service word 1");

// Messages.
static_assert(offsetof(HostMessageService, info) == Word(0), "message word 0");
static_assert(offsetof(HostMessageService, error) == Word(1), "message word 1");
static_assert(sizeof(HostMessageService) == Word(6), "message service is 6 words");

// Panels: the service, controls, control descriptors and value records.
static_assert(offsetof(HostPanelService, create) == Word(0), "panel word 0");
static_assert(offsetof(HostPanelService, destroy) == Word(1), "panel word 1");
static_assert(offsetof(HostPanelService, open) == Word(2), "panel word 2");
static_assert(offsetof(HostPanelService, set) == Word(7), "panel word 7");
static_assert(offsetof(HostPanelService, addControl) == Word(8), "panel word 8");
static_assert(offsetof(HostPanelService, globalFun) == Word(12), "panel word 12");
static_assert(offsetof(HostControl, priv) == Word(0), "control word 0");
static_assert(offsetof(HostControl, get) == Word(1), "control word 1");
static_assert(offsetof(HostControl, set) == Word(2), "control word 2");
static_assert(offsetof(HostControlDesc, type) == Word(0), "control desc word 0");
static_assert(offsetof(HostControlDesc, list) == Word(1), "control desc word 1");
static_assert(offsetof(HostControlDesc, word2) == Word(2), "control desc word 2");
static_assert(offsetof(HostControlDesc, word3) == Word(3), "control desc word 3");
static_assert(offsetof(HostIntValue, type) == Word(0), "int value word 0");
static_assert(offsetof(HostIntValue, value) == Word(1), "int value word 1");
static_assert(offsetof(HostFloatValue, type) == Word(0), "float value word 0");
static_assert(offsetof(HostFloatValue, value) == Word(2), "float value after two words");

}  // namespace
