// The glTF library's implementation compiled into the fuzz build, so that it
// is instrumented like the reader around it (the system's copy is a prebuilt
// shared library the fuzzer cannot see into).
#define TINYGLTF_IMPLEMENTATION
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <tiny_gltf.h>
