// Fuzz target: one activation of the module through the emulated host, with
// the meshes, selection, settings file, panel values and abort the input
// decodes to (activate_input.h), checked as activate_check.h says.
//
// CORVANE_FUZZ_VERBOSE=1 prints what an input decoded to and the time of
// each phase, for looking into a slow one.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "fuzz/activate_check.h"
#include "fuzz/settings_dir.h"

namespace {

std::string g_dir;

// The instrumentation of this build (coverage, comparisons, both sanitizers)
// makes the passes ten to fifty times slower than an ordinary build, so a run
// within this budget takes at most a second there. The replay tests hold the
// inputs found here to the plain second in the ordinary build.
const double kMaxSeconds = 10.0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_dir = fuzzin::MakeSettingsDir("fuzz_activate");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool verbose = getenv("CORVANE_FUZZ_VERBOSE") != nullptr;
    fuzzin::RunResult r = fuzzin::RunAndCheck(data, size, g_dir, kMaxSeconds, verbose);
    if (!r.fault.empty()) {
        fprintf(stderr, "fuzz_activate: %s (%.3f s)\n", r.fault.c_str(), r.seconds);
        abort();
    }
    return 0;
}
