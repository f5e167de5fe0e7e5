// The module descriptor: the one symbol the module exports. A host finds it,
// checks its sync word, version and machine word, runs the startup and looks
// up the server by class and name.
#include "hostapi/hostapi.h"
#include "plugin/activate.h"

static void *Startup(void)
{
    // Any non-null value tells the host the module started.
    return (void *)4;
}

static void Shutdown(void *) {}

static const HostServerTag kNoTags[] = {{0, nullptr}};

static const HostServerRecord kServers[] = {
    {"MeshDataEdit", "QX_Corvane", Activate, kNoTags},
    {nullptr, nullptr, nullptr, nullptr},
};

#if defined(_WIN32)
#define CORVANE_EXPORT
#else
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif

// Declared extern so that the const object has external linkage; the
// attribute goes on this first declaration only.
extern "C" CORVANE_EXPORT const HostModuleDescriptor _mod_descrip;
const HostModuleDescriptor _mod_descrip = {
    HOST_MODULE_SYNC, HOST_MODULE_VERSION, HOST_MODULE_MACHINE, Startup, Shutdown, kServers,
};
