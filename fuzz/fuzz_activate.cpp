// Fuzz target: one activation of the module through the emulated host, with
// the meshes, selection, settings file, panel values and abort the input
// decodes to (see activate_input.h). Besides the sanitizers' reports, each
// run is checked for what a host relies on:
//   - the edit begun is ended exactly once, and nothing is called after that;
//   - every committed polygon stands on points that exist, and every point
//     the module created has finite coordinates;
//   - an edit ended with an error, or with an info message, changed nothing;
//   - the background layer is never touched;
//   - the run took less than a second of processor time.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "fuzz/activate_input.h"
#include "host/host.h"
#include "options/options.h"
#include "plugin/activate.h"

namespace {

std::string g_dir;

[[noreturn]] void Fail(const char *what)
{
    fprintf(stderr, "fuzz_activate: %s\n", what);
    abort();
}

#define CHECK(cond)                     \
    do {                                \
        if (!(cond))                    \
            Fail("check failed: " #cond); \
    } while (0)

void PutSettingsFile(const fuzzin::Activation &a)
{
    std::string path = g_dir + "/Corvane.cfg";
    unlink(path.c_str());
    if (!a.settingsFile)
        return;
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        Fail("cannot write the settings file");
    fwrite(a.settingsFile->data(), 1, a.settingsFile->size(), file);
    fclose(file);
}

struct Snapshot {
    size_t points = 0, polys = 0;
    std::vector<bool> alive;  // per polygon
};

Snapshot Take(const EmuHost &host)
{
    Snapshot s;
    s.points = host.points.size();
    s.polys = host.polys.size();
    for (const auto &p : host.polys)
        s.alive.push_back(p->alive);
    return s;
}

bool Finite(const double *p)
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char name[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!mkdtemp(name))
        Fail("cannot make a settings folder");
    g_dir = name;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzin::Activation a = fuzzin::Decode(data, size);
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script = a.script;
    host->script.pluginsDir = g_dir;
    EmuHostAddMesh(host.get(), HOST_LAYER_BACKGROUND, a.background);
    EmuHostAddMesh(host.get(), HOST_LAYER_FOREGROUND, a.foreground);
    if (a.hidePoly >= 0 && !host->polys.empty())
        host->script.hidePolys.push_back(host->polys[(size_t)a.hidePoly % host->polys.size()]->info.pol);
    PutSettingsFile(a);
    // The record outlives activations in a host; start each run from the
    // defaults so that a run does not depend on the ones before it.
    g_settings = Settings{SETTINGS_FORMAT_TAG, 0, 1.0, 90.0, ANGLE_MODE_DISABLE, 0};

    // CORVANE_FUZZ_VERBOSE=1: what the input decoded to, and the time each
    // monitored phase took (for looking into a slow input).
    static const bool verbose = getenv("CORVANE_FUZZ_VERBOSE") != nullptr;
    clock_t phaseStart = 0;
    if (verbose) {
        size_t corners = 0;
        for (const auto &p : host->polys)
            corners += p->points.size();
        fprintf(stderr, "background %zu points %zu polygons, foreground %zu points %zu polygons, %zu corners\n",
                a.background.points.size(), a.background.polys.size(), a.foreground.points.size(),
                a.foreground.polys.size(), corners);
        host->hooks.monitorOpen = [&](const EmuMonitorLog &) { phaseStart = clock(); };
        host->hooks.monitorClose = [&](const EmuMonitorLog &m) {
            fprintf(stderr, "  %s / %s: %u steps, %.3f s\n", m.title.c_str(), m.text.c_str(), m.steps,
                    (double)(clock() - phaseStart) / CLOCKS_PER_SEC);
        };
    }

    Snapshot before = Take(*host);
    clock_t start = clock();
    int rc = EmuHostRun(host.get(), Activate);
    double seconds = (double)(clock() - start) / CLOCKS_PER_SEC;
    if (seconds >= 1.0)
        Fail("the activation took a second or more");

    const EmuLog &log = host->log;
    CHECK(rc == HOST_ACTIVATE_OK || rc == HOST_ACTIVATE_BADSERVICE);
    CHECK(log.callsAfterDone == 0);
    CHECK(log.rejectedFaces == 0);
    if (a.script.refuseEdit) {
        CHECK(log.doneCodes.empty());
        CHECK(log.addedPoints.empty() && log.addedPolys.empty());
        return 0;
    }
    CHECK(log.editsBegun == 1);
    CHECK(log.doneCodes.size() == 1);
    CHECK(host->edit == nullptr);
    int code = log.doneCodes[0];

    bool info = false;
    for (const EmuMessage &m : log.messages)
        info = info || !m.error;
    if (info)
        CHECK(code != HOST_EDIT_KEEP);

    if (code != HOST_EDIT_KEEP) {
        // Discarded: the host is exactly as it was.
        CHECK(host->points.size() == before.points);
        CHECK(host->polys.size() == before.polys);
        for (size_t k = 0; k < host->polys.size(); k++)
            CHECK(host->polys[k]->alive == before.alive[k]);
        return 0;
    }

    // Kept: the background is untouched, new points are finite, and every
    // alive polygon stands on alive points the host knows.
    for (size_t k = 0; k < before.polys; k++) {
        if (host->polys[k]->layer == HOST_LAYER_BACKGROUND)
            CHECK(host->polys[k]->alive);
    }
    for (size_t k = before.points; k < host->points.size(); k++)
        CHECK(Finite(host->points[k]->info.position));
    for (size_t k = 0; k < host->polys.size(); k++) {
        const EmuPoly *poly = host->polys[k].get();
        if (!poly->alive)
            continue;
        if (k >= before.polys)
            CHECK(poly->points.size() >= 3 && poly->layer == HOST_LAYER_FOREGROUND);
        for (LWPntID id : poly->points) {
            const EmuPoint *p = EmuHostPoint(host.get(), id);
            CHECK(p != nullptr);
            CHECK(p->alive);
        }
    }
    return 0;
}
