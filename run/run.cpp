// One activation on an emulated host of its own.
#include "run/run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pwd.h>
#include <unistd.h>

#include "hostapi/angles.h"

namespace {

// The polygons' selection flags as the mode wants them: none in object mode
// (the input sits in the background layer), the two named ones otherwise.
void SetSelection(EmuHost *host, const std::vector<LWPolID> &ids, const int select[2])
{
    const bool pairMode = select[0] > 0;
    for (size_t i = 0; i < ids.size(); i++) {
        const int number = (int)i + 1;
        const bool selected = pairMode && (number == select[0] || number == select[1]);
        EmuPoly *poly = EmuHostPoly(host, ids[i]);
        poly->info.flags = selected ? (poly->info.flags | HOST_POLY_SELECTED)
                                    : (poly->info.flags & ~HOST_POLY_SELECTED);
    }
}

// What the user confirmed, read off the panel's controls by their kind.
void ReadPanel(const EmuPanel &panel, RunResult *result)
{
    for (const auto &c : panel.controls) {
        if (c->typeName == "FloatControl")
            result->bevelSize = c->floatValue;
        else if (c->typeName == "ChoiceControl")
            result->angleMode = c->intValue;
        else if (c->typeName == "AngleControl")
            result->limitAngleDeg = c->floatValue * kDegreesPerRadian;
        else if (c->typeName == "TextControl" && !c->list.empty())
            result->mode = c->list[0];
    }
}

// Lowers the panel's bevel size to `limit` when it is larger; the module
// reads the control after the panel closes, so it runs with the lower size.
void ClampPanelSize(EmuPanel *panel, double limit, RunResult *result)
{
    for (auto &c : panel->controls)
        if (c->typeName == "FloatControl" && c->floatValue > limit) {
            result->clampedFrom = c->floatValue;
            c->floatValue = limit;
        }
}

// The module's words for a state it cannot work from; the host sees only
// its messages, so this is how a run tells an internal fault from a refusal.
const char kInternalFaultWords[] = "(an internal fault)";

std::string ActivationFailure(int activation)
{
    return "the module's activation failed with result " + std::to_string(activation) +
           (activation == HOST_ACTIVATE_BADVERSION   ? " (interface version refused)"
            : activation == HOST_ACTIVATE_BADSERVICE ? " (a host service is missing)"
                                                     : "");
}

// In object mode a result of only input polygons, as many as the module
// copies (those of 3 or more points), has no strip: nothing was chamfered.
// The comparison runs only when the counts already say so.
bool ChamferedNothing(const MeshData &input, const RunOptions &options, const RunResult &result)
{
    size_t copied = 0;
    for (size_t i = 0; i < MeshPolyCount(input); i++)
        copied += MeshPolyPoints(input, i).size() >= 3 ? 1 : 0;
    if (options.select[0] > 0 || MeshPolyCount(result.output) != copied)
        return false;
    std::vector<bool> changed = !result.created.empty() ? result.created
                                : options.inputIndex    ? ChangedPolygons(*options.inputIndex, result.output)
                                                        : ChangedPolygons(input, result.output);
    for (size_t i = 0; i < changed.size(); i++)
        if (changed[i] || (i < result.reshaped.size() && result.reshaped[i]))
            return false;
    return true;
}

// What the run came to, worked out once for every caller.
void Judge(const MeshData &input, const RunOptions &options, RunResult *result)
{
    if (result->activation != HOST_ACTIVATE_OK) {
        result->failure = ActivationFailure(result->activation);
        return;
    }
    if (result->cancelled) {
        if (!result->refused)
            result->failure = "the options panel was cancelled";
        return;
    }
    for (const RunMessage &m : result->messages) {
        if (m.error)
            continue;
        // An info message ends the edit without change: the module refused.
        const bool fault = m.text.find(kInternalFaultWords) != std::string::npos;
        result->verdict = fault ? RunVerdict::kInternalFault : RunVerdict::kFailed;
        result->failure = fault ? "the module met an internal fault" : "the module reported a failure";
        return;
    }
    if (result->unchanged) {
        // A size of 0 ends the edit without a word; anything else that does
        // (the module out of memory) is a failure all the same.
        if (result->bevelSize == 0.0)
            result->verdict = RunVerdict::kUnchanged;
        else
            result->failure = "the module ended the edit without change";
        return;
    }
    result->verdict = RunVerdict::kFinished;
    for (const RunMessage &m : result->messages)
        result->partial = result->partial || m.error;
    result->partial = result->partial || result->aborted;
    result->chamferedNothing = ChamferedNothing(input, options, *result);
}

}  // namespace

std::string RunClampNote(const RunResult &result)
{
    if (!result.clampedFrom)
        return "";
    return "bevel size " + RunShortNumber(*result.clampedFrom) + " clamped to the safe size " +
           RunSafeSizeText(result.bevelSize);
}

bool RunLoadModule(const std::string &path, LoadedModule *module, std::string *error)
{
    return LoadModule(path, "MeshDataEdit", "QX_Corvane", module, error);
}

std::string RunDefaultSettingsDir()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/corvane";
    const char *home = std::getenv("HOME");
    if (!home || !home[0]) {
        const passwd *pw = getpwuid(getuid());
        home = pw && pw->pw_dir && pw->pw_dir[0] ? pw->pw_dir : nullptr;
    }
    return home ? std::string(home) + "/.config/corvane" : std::string();
}

namespace {

// A host of its own holding the input, with the selection and the values
// the caller types into the panel.
std::unique_ptr<EmuHost> MakeHost(const MeshData &input, const RunOptions &options)
{
    const bool pairMode = options.select[0] > 0;
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    std::vector<LWPolID> ids =
        EmuHostAddMesh(host.get(), pairMode ? HOST_LAYER_FOREGROUND : HOST_LAYER_BACKGROUND, input);
    SetSelection(host.get(), ids, options.select);
    host->script.pluginsDir = options.settingsDir;
    // The values are typed into the panel over what it loaded.
    host->script.bevelSize = options.bevelSize;
    host->script.angleMode = options.angleMode;
    if (options.limitAngleDeg)
        host->script.limitAngleRad = *options.limitAngleDeg * kRadiansPerDegree;
    if (options.prepare)
        options.prepare(host.get());
    return host;
}

// The panel as the module opens it: the caller's panel (timed apart from
// the activation), the clamp, and the check of what it holds. Returns
// whether it was confirmed.
int AnswerPanel(EmuPanel &panel, const RunOptions &options, RunResult *result,
                std::chrono::steady_clock::duration *panelTime)
{
    int confirmed = 1;
    if (options.panel) {
        auto start = std::chrono::steady_clock::now();
        confirmed = options.panel(panel);
        *panelTime += std::chrono::steady_clock::now() - start;
    }
    if (confirmed != 0 && options.clampSize)
        ClampPanelSize(&panel, *options.clampSize, result);
    ReadPanel(panel, result);
    // What the settings file or the panel's user gave is checked as the
    // caller's own options are; a refusal cancels, which keeps the file.
    if (confirmed != 0) {
        // The panel holds the angle in radians: 180 degrees comes back a
        // few units in the last place above 180.
        std::optional<double> limit;
        if (result->limitAngleDeg > 180.0 + 1e-9)
            limit = result->limitAngleDeg;
        result->failure = RunCheckOptions(result->bevelSize, limit);
        result->refused = !result->failure.empty();
        if (result->refused)
            confirmed = 0;
    }
    result->cancelled = confirmed == 0;
    return confirmed;
}

// What the host's log and foreground layer say of the activation.
void ReadHost(const EmuHost &host, const MeshData &input, const RunOptions &options, RunResult *result)
{
    for (const EmuMessage &m : host.log.messages) {
        RunMessage message;
        message.error = m.error;
        message.text = m.line1;
        if (!m.line2Null && !m.line2.empty())
            message.text += "\n" + m.line2;
        result->messages.push_back(message);
    }
    for (const EmuMonitorLog &m : host.log.monitors)
        result->aborted = result->aborted || m.aborted;
    for (int code : host.log.doneCodes)
        result->unchanged = result->unchanged && code != HOST_EDIT_KEEP;
    if (options.phase)
        options.phase("reading the result");
    result->output = EmuHostLayerMesh(&host, HOST_LAYER_FOREGROUND);
    RunDropLoosePoints(&result->output, &result->pointMap);
    // The host knows nothing of material libraries: the result names the
    // input's, whose surfaces it keeps.
    result->output.materialLibraries = input.materialLibraries;
    result->output.materials = input.materials;
    if (options.markPolygons && options.phase)
        options.phase("finding what the run changed");
    if (options.markPolygons)
        result->created = options.inputIndex
                              ? RunCreatedPolygons(*options.inputIndex, result->output, &result->reshaped)
                              : RunCreatedPolygons(input, result->output, &result->reshaped);
}

}  // namespace

void RunActivate(const LoadedModule &module, const MeshData &input, const RunOptions &options,
                 RunResult *result)
{
    *result = RunResult();
    // The module opens its settings file in the folder the host names, and
    // with none it opens one at the filesystem root: every run names one.
    if (options.settingsDir.empty()) {
        result->activation = HOST_ACTIVATE_BADSERVICE;
        return Judge(input, options, result);
    }
    std::unique_ptr<EmuHost> host = MakeHost(input, options);
    std::chrono::steady_clock::duration panelTime{};
    host->hooks.panelOpen = [&](EmuPanel &panel) { return AnswerPanel(panel, options, result, &panelTime); };

    auto start = std::chrono::steady_clock::now();
    result->activation = EmuHostRun(host.get(), module.activate, module.serverData);
    auto elapsed = std::chrono::steady_clock::now() - start - panelTime;
    result->activationMs = std::chrono::duration<double, std::milli>(elapsed).count();
    if (result->activation == HOST_ACTIVATE_OK)
        ReadHost(*host, input, options, result);
    Judge(input, options, result);
}
