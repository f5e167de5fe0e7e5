// Loading a plug-in module through the platform's dynamic loader, checking
// its descriptor the way a host does before it trusts any of its words.
#include "host/loader.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

void *OpenLibrary(const std::string &path, std::string *reason)
{
#ifdef _WIN32
    HMODULE h = LoadLibraryA(path.c_str());
    if (h == nullptr) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "error %lu", static_cast<unsigned long>(GetLastError()));
        *reason = buf;
    }
    return reinterpret_cast<void *>(h);
#else
    // A bare file name would be searched on the library path; a host loads
    // the file it was given, so make it a path.
    const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void *h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char *e = dlerror();
        *reason = e != nullptr ? e : "unknown error";
    }
    return h;
#endif
}

void *FindSymbol(void *handle, const char *name)
{
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

void CloseLibrary(void *handle)
{
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

std::string Hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
    return buf;
}

}  // namespace

bool OpenModuleDescriptor(const HostModuleDescriptor *d, const std::string &path, const char *className,
                          const char *serverName, LoadedModule *module, std::string *error)
{
    if (d->sysSync != HOST_MODULE_SYNC) {
        *error = path + ": not a plug-in module (sync word " + Hex(d->sysSync) + ")";
        return false;
    }
    if (d->sysVersion != HOST_MODULE_VERSION) {
        *error = path + ": module version " + std::to_string(d->sysVersion) + ", this host takes " +
                 std::to_string(HOST_MODULE_VERSION);
        return false;
    }
    if (d->sysMachine != HOST_MODULE_MACHINE) {
        *error = path + ": module built for machine word " + Hex(d->sysMachine) + ", expected " +
                 Hex(HOST_MODULE_MACHINE);
        return false;
    }
    if (d->startup == nullptr) {
        *error = path + ": module has no startup function";
        return false;
    }
    // Find the server before starting the module, so that a module without
    // it is never started and needs no shutdown.
    HostActivateFunc *activate = nullptr;
    for (const HostServerRecord *s = d->serverDefs; s != nullptr && s->className != nullptr; ++s) {
        if (std::strcmp(s->className, className) == 0 && s->name != nullptr &&
            std::strcmp(s->name, serverName) == 0) {
            activate = s->activate;
            break;
        }
    }
    if (activate == nullptr) {
        *error = path + ": no " + className + " server named \"" + serverName + "\"";
        return false;
    }
    void *serverData = d->startup();
    if (serverData == nullptr) {
        *error = path + ": module startup failed";
        return false;
    }
    module->descriptor = d;
    module->serverData = serverData;
    module->activate = activate;
    return true;
}

bool LoadModule(const std::string &path, const char *className, const char *serverName, LoadedModule *module,
                std::string *error)
{
    *module = LoadedModule();
    std::string reason;
    void *handle = OpenLibrary(path, &reason);
    if (handle == nullptr) {
        *error = path + ": cannot load (" + reason + ")";
        return false;
    }
    const HostModuleDescriptor *d =
        static_cast<const HostModuleDescriptor *>(FindSymbol(handle, "_mod_descrip"));
    if (d == nullptr) {
        CloseLibrary(handle);
        *error = path + ": not a plug-in module (no _mod_descrip)";
        return false;
    }
    if (!OpenModuleDescriptor(d, path, className, serverName, module, error)) {
        CloseLibrary(handle);
        *module = LoadedModule();
        return false;
    }
    module->handle = handle;
    return true;
}

void UnloadModule(LoadedModule *module)
{
    if (module->descriptor != nullptr && module->descriptor->shutdown != nullptr)
        module->descriptor->shutdown(module->serverData);
    if (module->handle != nullptr)
        CloseLibrary(module->handle);
    *module = LoadedModule();
}
