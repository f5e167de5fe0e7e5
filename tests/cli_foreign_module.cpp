// Modules that a host must refuse, for the corvane program's tests. Built
// three times: FOREIGN_KIND 0 exports no descriptor at all, 1 a descriptor
// with another sync word, 2 a valid descriptor without the Corvane server.
#include "hostapi/hostapi.h"

#if FOREIGN_KIND != 0
namespace {

void *Startup(void)
{
    return reinterpret_cast<void *>(4);
}
void Shutdown(void *) {}
int Activate(int, HostGlobalFunc *, void *, void *)
{
    return HOST_ACTIVATE_OK;
}

const HostServerTag kNoTags[] = {{0, nullptr}};
const HostServerRecord kServers[] = {
    {"MeshDataEdit", "SomeOtherTool", Activate, kNoTags},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) HostModuleDescriptor _mod_descrip = {
    FOREIGN_KIND == 1 ? 0x12345678u : HOST_MODULE_SYNC,
    HOST_MODULE_VERSION,
    HOST_MODULE_MACHINE,
    Startup,
    Shutdown,
    kServers,
};
}
#else
extern "C" __attribute__((visibility("default"))) int SomeOtherLibraryFunction(void)
{
    return 1;
}
#endif
