// The OBJ loader's implementation compiled into the fuzz build, so that it is
// instrumented like the reader around it (the system's copy is a prebuilt
// shared library the fuzzer cannot see into). Double precision, as the
// system's build.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>
