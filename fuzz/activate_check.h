// One activation of the module on the emulated host, set up from a decoded
// fuzz input (activate_input.h), and the checks every run must pass. Shared
// by the fuzz target and by the tests that replay the inputs it found.
#ifndef CORVANE_FUZZ_ACTIVATE_CHECK_H
#define CORVANE_FUZZ_ACTIVATE_CHECK_H

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/activate_input.h"
#include "host/host.h"
#include "options/options.h"
#include "plugin/activate.h"

namespace fuzzin {

struct RunResult {
    std::string fault;     // empty when every check passed
    double seconds = 0.0;  // processor time of the activation
    int doneCode = -1;     // the code the edit was ended with, -1 if none
    std::vector<EmuMessage> messages;
    size_t pointsAdded = 0;  // alive afterwards
    size_t polysAdded = 0;
};

inline bool FinitePoint(const double *p)
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

// Runs the activation the input describes, with the settings file in
// `settingsDir`, and checks:
//   - the edit begun is ended exactly once, and nothing is called after that;
//   - every committed polygon stands on points that exist, and every point
//     the module created has finite coordinates;
//   - an edit ended with an error, or with an info message, changed nothing;
//   - the background layer is never touched;
//   - the activation took less than `maxSeconds` of processor time.
// With `verbose`, prints what the input decoded to and the time of each
// monitored phase.
inline RunResult RunAndCheck(const uint8_t *data, size_t size, const std::string &settingsDir,
                             double maxSeconds, bool verbose = false)
{
    RunResult r;
    Activation a = Decode(data, size);
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script = a.script;
    host->script.pluginsDir = settingsDir;
    EmuHostAddMesh(host.get(), HOST_LAYER_BACKGROUND, a.background);
    EmuHostAddMesh(host.get(), HOST_LAYER_FOREGROUND, a.foreground);
    if (a.hidePoly >= 0 && !(host->polys.size() == 0))
        host->script.hidePolys.push_back(host->polys[(size_t)a.hidePoly % host->polys.size()]->info.pol);

    std::string path = settingsDir + "/Corvane.cfg";
    unlink(path.c_str());
    if (a.settingsFile) {
        FILE *file = fopen(path.c_str(), "wb");
        if (!file) {
            r.fault = "cannot write the settings file";
            return r;
        }
        fwrite(a.settingsFile->data(), 1, a.settingsFile->size(), file);
        fclose(file);
    }
    // The record outlives activations in a host; each run starts from the
    // defaults so that it does not depend on the runs before it.
    g_settings = Settings{SETTINGS_FORMAT_TAG, 0, 1.0, 90.0, ANGLE_MODE_DISABLE, 0};

    clock_t phaseStart = 0;
    if (verbose) {
        size_t corners = 0;
        for (const auto &p : host->polys)
            corners += p->points.size();
        fprintf(stderr,
                "background %zu points %zu polygons, foreground %zu points %zu polygons, %zu corners\n",
                a.background.points.size(), MeshPolyCount(a.background), a.foreground.points.size(),
                MeshPolyCount(a.foreground), corners);
        host->hooks.monitorOpen = [&](const EmuMonitorLog &) { phaseStart = clock(); };
        host->hooks.monitorClose = [&](const EmuMonitorLog &m) {
            fprintf(stderr, "  %s / %s: %u steps, %.3f s\n", m.title.c_str(), m.text.c_str(), m.steps,
                    (double)(clock() - phaseStart) / CLOCKS_PER_SEC);
        };
    }

    size_t pointsBefore = host->points.size();
    size_t polysBefore = host->polys.size();
    std::vector<bool> aliveBefore;
    for (const auto &p : host->polys)
        aliveBefore.push_back(p->alive);

    clock_t start = clock();
    int rc = EmuHostRun(host.get(), Activate);
    r.seconds = (double)(clock() - start) / CLOCKS_PER_SEC;

    const EmuLog &log = host->log;
    r.messages = log.messages;
    if (!log.doneCodes.empty())
        r.doneCode = log.doneCodes[0];
#define FAULT_IF(cond, what)                                                                                 \
    do {                                                                                                     \
        if (cond) {                                                                                          \
            r.fault = what;                                                                                  \
            return r;                                                                                        \
        }                                                                                                    \
    } while (0)
    FAULT_IF(r.seconds >= maxSeconds, "the activation took too long");
    FAULT_IF(rc != HOST_ACTIVATE_OK && rc != HOST_ACTIVATE_BADSERVICE, "unexpected activation result");
    FAULT_IF(log.callsAfterDone != 0, "an edit operation was called after done");
    FAULT_IF(log.rejectedFaces != 0, "a face named a point the host does not know");
    if (a.script.refuseEdit) {
        FAULT_IF(!log.doneCodes.empty(), "done called on an edit that was never begun");
        FAULT_IF(!log.addedPoints.empty() || !log.addedPolys.empty(), "points added without an edit");
        return r;
    }
    FAULT_IF(log.editsBegun != 1, "the edit was not begun once");
    FAULT_IF(log.doneCodes.size() != 1, "the edit was not ended exactly once");
    FAULT_IF(host->edit != nullptr, "the edit is still open");

    bool info = false;
    for (const EmuMessage &m : log.messages)
        info = info || !m.error;
    FAULT_IF(info && r.doneCode == HOST_EDIT_KEEP, "an info message, and the edit kept");

    if (r.doneCode != HOST_EDIT_KEEP) {
        FAULT_IF(host->points.size() != pointsBefore || host->polys.size() != polysBefore,
                 "a discarded edit left points or polygons");
        for (size_t k = 0; k < host->polys.size(); k++)
            FAULT_IF(host->polys[k]->alive != aliveBefore[k], "a discarded edit removed a polygon");
        return r;
    }
    for (size_t k = 0; k < polysBefore; k++) {
        FAULT_IF(host->polys[k]->layer == HOST_LAYER_BACKGROUND && !host->polys[k]->alive,
                 "a background polygon was removed");
    }
    for (size_t k = pointsBefore; k < host->points.size(); k++) {
        FAULT_IF(!FinitePoint(host->points[k]->info.position), "a new point is not finite");
        r.pointsAdded++;
    }
    for (size_t k = 0; k < host->polys.size(); k++) {
        const EmuPoly *poly = host->polys[k].get();
        if (!poly->alive)
            continue;
        if (k >= polysBefore) {
            FAULT_IF(poly->points.size() < 3, "a new polygon has fewer than three points");
            FAULT_IF(poly->layer != HOST_LAYER_FOREGROUND, "a new polygon outside the edit layer");
            r.polysAdded++;
        }
        for (LWPntID id : poly->points) {
            const EmuPoint *p = EmuHostPoint(host.get(), id);
            FAULT_IF(p == nullptr || !p->alive, "a polygon stands on a point that does not exist");
        }
    }
#undef FAULT_IF
    return r;
}

}  // namespace fuzzin

#endif
