// Loading a plug-in module the way a host does: the platform's dynamic
// loader, the exported descriptor "_mod_descrip", its sync word, version and
// machine word, its startup, and the server of a given class and name.
#ifndef CORVANE_LOADER_H
#define CORVANE_LOADER_H

#include <string>

#include "hostapi/hostapi.h"

struct LoadedModule {
    void *handle = nullptr;  // platform library handle
    const HostModuleDescriptor *descriptor = nullptr;
    void *serverData = nullptr;            // what startup returned
    HostActivateFunc *activate = nullptr;  // the server found
};

// Loads `path`, checks the descriptor and finds the server of class
// `className` named `serverName`. false with a message naming the file in
// *error on any failure (the library is released then).
bool LoadModule(const std::string &path, const char *className, const char *serverName, LoadedModule *module,
                std::string *error);
// The checks of LoadModule on a descriptor already in memory: sync word,
// version, machine word, the server, then startup (a null result fails).
// Fills descriptor, serverData and activate; `path` only names it in *error.
bool OpenModuleDescriptor(const HostModuleDescriptor *descriptor, const std::string &path,
                          const char *className, const char *serverName, LoadedModule *module,
                          std::string *error);
// Calls the descriptor's shutdown and releases the library.
void UnloadModule(LoadedModule *module);

#endif
