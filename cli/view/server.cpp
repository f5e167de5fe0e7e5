// The viewer's server: the command line of `corvane view`, the routes of its
// one page, and the run and save requests, each a thin adapter over the run
// layer, the reader and the atomic writer the command line uses.
#include "cli/view/view.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "cli/common/common.h"
#include "cli/view/listen.h"
#include "meshio/meshio.h"
#include "run/run.h"

extern char **environ;

namespace {

using nlohmann::json;

// The page's requests carry their options in the query; a body is never
// needed, so anything larger than a short form is refused.
const size_t kMaxBody = 4096;

const char kTokenHeader[] = "X-Corvane-Token";

// A folder of the server's own, made when it starts and removed when it
// stops: the live runs' settings file, so that dragging a slider never
// rewrites the user's, and the page --open hands the browser.
struct PrivateFolder {
    std::string path;
    bool Make()
    {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "corvane-view-XXXXXX").string();
        if (ec || !mkdtemp(pattern.data()))
            return false;
        path = pattern;
        return true;
    }
    ~PrivateFolder()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
};

// Live runs take turns at the module: one runs, one waits, and a newer
// request takes the waiting one's place, which is answered at once. A
// dragged slider (or a client that floods the server) thus costs at most two
// runs, and never holds the workers the page's other requests need.
class RunTurns {
public:
    enum Turn { kGo, kSuperseded, kStopping };
    Turn Wait(const ViewHttpServer &server)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const unsigned long long me = ++last_;
        if (!busy_ && waiting_ == 0) {
            busy_ = true;
            return kGo;
        }
        waiting_ = me;
        changed_.notify_all();
        while (!server.Stopping() && waiting_ == me && busy_)
            changed_.wait_for(lock, std::chrono::milliseconds(100));
        if (waiting_ != me)
            return kSuperseded;
        waiting_ = 0;
        if (server.Stopping())
            return kStopping;
        busy_ = true;
        return kGo;
    }
    void Done()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false;
    unsigned long long waiting_ = 0;  // the ticket of the waiting request; 0: none
    unsigned long long last_ = 0;
};

// What the server is busy with, for the page to show while it waits: the
// input being read and made ready (one of a few steps, each without a count
// of its own), or a run or save going through the module, whose monitors
// give its phases and how far each has come. Runs take turns, so one record
// serves them all; the page asks for it while its request is out.
class Progress {
public:
    using Clock = std::chrono::steady_clock;
    // A new task: "load", "run" or "save"; `steps` > 0 numbers its phases.
    // Returns its ticket: a run's answer is packed after the next run has
    // begun, and must not take the record back from it.
    unsigned long long Begin(const char *task, int steps = 0)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ticket_++;
        task_ = task;
        phase_.clear();
        step_ = 0;
        steps_ = steps;
        done_ = total_ = 0;
        started_ = Clock::now();
        return ticket_;
    }
    // A phase of task `ticket` without a count (the next step when the task
    // has steps).
    void Phase(unsigned long long ticket, const std::string &phase)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ticket != ticket_)
            return;
        phase_ = phase;
        step_ += steps_ > 0 ? 1 : 0;
        done_ = total_ = 0;
    }
    // A phase the module opened, with no count yet.
    void Monitor(const std::string &phase)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = phase;
        done_ = total_ = 0;
    }
    // How far the module's phase has come: called at every one of its
    // millions of steps on a large mesh, so without a lock.
    void Count(unsigned done, unsigned total)
    {
        done_.store(done, std::memory_order_relaxed);
        total_.store(total, std::memory_order_relaxed);
    }
    void End(unsigned long long ticket)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ticket != ticket_)
            return;
        task_.clear();
        phase_.clear();
    }
    json Json(bool ready) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        json out = {{"ready", ready}, {"task", task_}};
        if (task_.empty())
            return out;
        out["phase"] = phase_;
        out["elapsedMs"] =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
        if (steps_ > 0) {
            out["step"] = step_;
            out["steps"] = steps_;
        }
        const unsigned done = done_.load(std::memory_order_relaxed),
                       total = total_.load(std::memory_order_relaxed);
        if (total > 0) {
            out["done"] = std::min(done, total);
            out["total"] = total;
        }
        return out;
    }

private:
    mutable std::mutex mutex_;
    unsigned long long ticket_ = 0;
    std::string task_;  // empty: idle
    std::string phase_;
    int step_ = 0, steps_ = 0;
    std::atomic<unsigned> done_{0}, total_{0};
    Clock::time_point started_;
};

// The module's monitors as the page sees them: each phase's title and text
// (the words the program prints) with its count, which restarts when the
// module sets a new total on the same monitor. CORVANE_STEP_DELAY_US slows
// every step down, as it does the program's, so that the tests can watch a
// run of a small mesh in progress.
struct MonitorWatch {
    Progress *progress = nullptr;
    unsigned delayUs = 0;
    size_t initsSeen = 0;
    unsigned stepBase = 0;
    static std::string Name(const EmuMonitorLog &log)
    {
        auto trim = [](const std::string &s) {
            const size_t a = s.find_first_not_of(' ');
            return a == std::string::npos ? std::string() : s.substr(a, s.find_last_not_of(' ') - a + 1);
        };
        const std::string title = trim(log.title), text = trim(log.text);
        return title.empty() ? text : text.empty() ? title : title + " - " + text;
    }
    void Show(const EmuMonitorLog &log, bool stepping)
    {
        if (log.inits.size() != initsSeen) {
            initsSeen = log.inits.size();
            stepBase = stepping && log.steps > 0 ? log.steps - 1 : log.steps;
        }
        progress->Count(log.steps - stepBase, log.inits.empty() ? 0 : log.inits.back());
    }
    void Attach(EmuHost *host)
    {
        host->hooks.monitorOpen = [this](const EmuMonitorLog &log) {
            initsSeen = 0;
            stepBase = 0;
            progress->Monitor(Name(log));
            Show(log, false);
        };
        host->hooks.monitorStep = [this](const EmuMonitorLog &log) {
            if (delayUs > 0)
                usleep(delayUs);
            Show(log, true);
            return 0;
        };
        host->hooks.monitorClose = [this](const EmuMonitorLog &log) { Show(log, false); };
    }
};

// Everything the server keeps: the input, read once, and the loaded module.
struct Viewer {
    ViewArgs args;
    MeshData input;
    double safeSize = 0.0;  // the input's, computed once for every clamped run
    // What the tint of every live run compares against, built once.
    std::shared_ptr<const RunInputIndex> inputIndex;
    LoadedModule module;
    std::string settingsDir;  // the user's: read at the start, written by Save
    std::string liveDir;      // the live runs' own
    std::string token;
    int port = 0;
    std::string inputBody;  // the input as the page reads it, encoded once
    ViewHttpServer *server = nullptr;
    // Only one emulated host can be current at a time, and the settings file
    // is written by one activation at a time: runs take turns.
    std::mutex runLock;
    RunTurns turns;
    // Saves take turns of their own, so that a client cannot queue runs
    // past the limit through them, nor push a live run out.
    RunTurns saveTurns;
    // The page is served while the input is read: until `ready`, only the
    // page's files and the progress are answered. Everything above that the
    // reading fills is written before `ready` is set, and read after it.
    std::atomic<bool> ready{false};
    Progress progress;
    unsigned stepDelayUs = 0;  // CORVANE_STEP_DELAY_US
};

// One activation under the run lock, its progress shown to the page; the
// progress's ticket, to end it with.
unsigned long long ActivateShown(Viewer *v, const char *task, RunOptions options, RunResult *run)
{
    MonitorWatch watch;
    watch.progress = &v->progress;
    watch.delayUs = v->stepDelayUs;
    options.prepare = [&watch](EmuHost *host) { watch.Attach(host); };
    std::lock_guard<std::mutex> lock(v->runLock);
    const unsigned long long ticket = v->progress.Begin(task);
    // Until the module opens its first monitor.
    v->progress.Phase(ticket, "handing the input to the module");
    options.phase = [v, ticket](const char *phase) { v->progress.Phase(ticket, phase); };
    RunActivate(v->module, v->input, options, run);
    return ticket;
}

// Ends the progress of a run or save however its handler returns.
struct ProgressEnd {
    Progress *progress;
    unsigned long long ticket;
    ~ProgressEnd() { progress->End(ticket); }
};

json Number(double v)
{
    return std::isfinite(v) ? json(v) : json(nullptr);
}

void PutStats(const MeshData &mesh, json *out)
{
    const MeshStats s = MeshComputeStats(mesh);
    (*out)["points"] = s.points;
    (*out)["polygons"] = s.polygons;
    (*out)["borderEdges"] = s.borderEdges;
    (*out)["crowdedEdges"] = s.crowdedEdges;
    (*out)["oppositeWindingEdges"] = s.oppositeWindingEdges;
    (*out)["repeatedPointPolys"] = s.repeatedPointPolys;
    (*out)["zeroAreaPolys"] = s.zeroAreaPolys;
    (*out)["invalid"] = MeshInvalidPolygonsText(s);
}

void Fail(httplib::Response &res, int status, const std::string &why, json extra = json::object())
{
    res.status = status;
    extra["error"] = why;
    res.set_content(ViewJsonText(extra), "application/json");
}

// A name for the download when there is no OUTPUT: the input's stem.
std::string DownloadName(const std::string &input)
{
    std::string stem = std::filesystem::path(input).stem().string();
    std::string safe;
    for (char c : stem)
        safe += (std::isalnum((unsigned char)c) || c == '-' || c == '_' || c == '.') ? c : '_';
    return (safe.empty() ? std::string("mesh") : safe) + "-chamfered.obj";
}

// The options panel as the user's settings file fills it, read without
// running the edit: the probe cancels the panel, which leaves the file as
// it is.
void ProbeSettings(Viewer *v, RunResult *probe)
{
    RunOptions options;
    options.settingsDir = v->settingsDir;
    options.markPolygons = false;
    options.panel = [](EmuPanel &) { return 0; };
    RunActivate(v->module, v->input, options, probe);
}

std::string InputJson(Viewer *v)
{
    RunResult probe;
    ProbeSettings(v, &probe);
    const size_t corners = v->input.polyPoints.size();
    json info = {
        {"name", std::filesystem::path(v->args.input).filename().string()},
        {"corners", corners},
        {"safeSize", Number(v->safeSize)},
        // As every message gives it: four digits, rounded down.
        {"safeSizeText", RunSafeSizeText(v->safeSize)},
        {"settings",
         {{"size", Number(probe.bevelSize)},
          {"angleMode", probe.angleMode},
          {"limitDeg", Number(probe.limitAngleDeg)}}},
        {"output", v->args.output},
        {"download", DownloadName(v->args.input)},
    };
    PutStats(v->input, &info);
    return ViewJsonText(info);
}

bool ParseOptions(Viewer *v, const httplib::Request &req, httplib::Response &res, RunOptions *options)
{
    ViewRequest request;
    std::string error;
    if (!ViewParseRequest(req.params, (int)MeshPolyCount(v->input), &request, &error) ||
        !(error = RunCheckOptions(request.size, request.limitDeg)).empty()) {
        Fail(res, 400, error);
        return false;
    }
    options->bevelSize = request.size;
    options->angleMode = request.angleMode;
    options->limitAngleDeg = request.limitDeg;
    options->select[0] = request.select[0];
    options->select[1] = request.select[1];
    // The command line's --clamp: no clamp where no point slides.
    if (request.clamp && std::isfinite(v->safeSize))
        options->clampSize = v->safeSize;
    return true;
}

json MessagesJson(const RunResult &run)
{
    json list = json::array();
    for (const RunMessage &m : run.messages)
        list.push_back({{"error", m.error}, {"text", RunMessageLine(m.text)}});
    return list;
}

// A live run: the server's own settings folder, so that dragging a slider
// never rewrites the user's settings file; Save runs again with it.
// Each of the server's workers allocates from an arena of its own, and a
// run's large arrays, freed, stay in whichever arena they were taken from:
// under sustained live runs the server grew to 1.49 GB (against 190 to 370
// MB with one arena). Handing the freed memory back after each run keeps it
// to what one run needs.
struct TrimAfterRun {
    ~TrimAfterRun() { malloc_trim(0); }
};

void HandleRun(Viewer *v, const httplib::Request &req, httplib::Response &res)
{
    TrimAfterRun trim;
    RunOptions options;
    if (!ParseOptions(v, req, res, &options))
        return;
    options.settingsDir = v->liveDir;
    options.inputIndex = v->inputIndex;
    const RunTurns::Turn waited = v->turns.Wait(*v->server);
    if (waited == RunTurns::kSuperseded)
        return Fail(res, 409, "superseded by a newer run", {{"superseded", true}});
    if (waited == RunTurns::kStopping)
        return Fail(res, 503, "the server is stopping");
    RunResult run;
    unsigned long long ticket = 0;
    {
        // The turn ends however the run does.
        std::unique_ptr<RunTurns, void (*)(RunTurns *)> turn(&v->turns, [](RunTurns *t) { t->Done(); });
        ticket = ActivateShown(v, "run", options, &run);
    }
    // The progress goes on through the counting and packing below, which
    // take seconds on a large result.
    ProgressEnd ended{&v->progress, ticket};
    if (run.activation != HOST_ACTIVATE_OK)
        return Fail(res, 500, run.failure);
    v->progress.Phase(ticket, "counting the result's edges");
    // What the program warns of after a run, for the status line.
    const std::string nothing = RunNothingChamferedText(v->input, run);
    const std::string past = options.clampSize ? ""
                                               : RunSizeWarning(run.bevelSize, v->safeSize,
                                                                "\"Clamp to the safe size\" keeps to it");
    json info = {
        {"activationMs", Number(run.activationMs)},
        {"unchanged", run.unchanged},
        {"mode", RunModeName(run)},
        {"warning", nothing.empty() ? past : nothing},
        {"messages", MessagesJson(run)},
        {"clampNote", RunClampNote(run)},
    };
    PutStats(run.output, &info);
    v->progress.Phase(ticket, "packing the result for the page");
    const std::string body = ViewEncodeMesh(ViewJsonText(info), run.output, &run.created, &run.reshaped);
    res.set_content(body.data(), body.size(), "application/octet-stream");
}

// Save: the run the command line would make with the same options and
// selection, the settings saved in the user's file as it saves them, and
// its file written the same way; without OUTPUT the same bytes go back as a
// download.
void HandleSave(Viewer *v, const httplib::Request &req, httplib::Response &res)
{
    RunOptions options;
    if (!ParseOptions(v, req, res, &options))
        return;
    std::error_code ec;
    std::filesystem::create_directories(v->settingsDir, ec);
    options.settingsDir = v->settingsDir;
    options.markPolygons = false;
    const RunTurns::Turn waited = v->saveTurns.Wait(*v->server);
    if (waited == RunTurns::kSuperseded)
        return Fail(res, 409, "superseded by a newer save", {{"superseded", true}});
    if (waited == RunTurns::kStopping)
        return Fail(res, 503, "the server is stopping");
    RunResult run;
    unsigned long long ticket = 0;
    {
        std::unique_ptr<RunTurns, void (*)(RunTurns *)> turn(&v->saveTurns, [](RunTurns *t) { t->Done(); });
        ticket = ActivateShown(v, "save", options, &run);
    }
    ProgressEnd ended{&v->progress, ticket};
    v->progress.Phase(ticket, "writing the result");
    const std::string target = v->args.output.empty() ? std::string("the result") : v->args.output;
    if (run.activation != HOST_ACTIVATE_OK)
        return Fail(res, 500, run.failure);
    if (run.verdict == RunVerdict::kFailed || run.verdict == RunVerdict::kInternalFault)
        return Fail(res, 409, run.failure + "; " + target + " not written");
    if (run.verdict == RunVerdict::kUnchanged)
        return Fail(res, 409, "a bevel size of 0 changes nothing; " + target + " not written");
    if (run.partial)
        return Fail(res, 409, "the module reported an error; " + target + " not written");
    if (v->args.output.empty()) {
        // A download lands in a folder the server does not know: the
        // libraries are named as the input names them.
        const std::string text = MeshObjText(run.output);
        res.set_header("Content-Disposition", "attachment; filename=\"" + DownloadName(v->args.input) + "\"");
        res.set_content(text.data(), text.size(), "model/obj");
        return;
    }
    std::string error;
    const std::string moved = MeshMoveMaterialLibraries(&run.output, v->args.input, v->args.output);
    if (!MeshWriteFile(v->args.output, MeshFormatFromPath(v->args.output), run.output, &error))
        return Fail(res, 500, error);
    std::string note = RunClampNote(run);
    if (!moved.empty())
        note += (note.empty() ? "" : "; ") + moved;
    res.set_content(ViewJsonText({{"written", v->args.output}, {"note", note}}), "application/json");
}

// Every request: addressed to this server by its own name, a GET or a POST
// without a streamed body; and for /api/, the token in its own header. A
// cookie would also be sent by pages of other servers on this host (cookies
// do not keep ports apart), and a query string ends up in histories; the
// header is one a page of another origin cannot send without asking first,
// and the asking (a preflight) is refused.
httplib::Server::HandlerResponse Gate(Viewer *v, const httplib::Request &req, httplib::Response &res)
{
    using R = httplib::Server::HandlerResponse;
    if (!ViewHostAllowed(req.get_header_value("Host"), v->port)) {
        Fail(res, 403, "this server answers only to 127.0.0.1 and localhost");
        return R::Handled;
    }
    if (req.method == "OPTIONS") {
        Fail(res, 403, "requests from other origins are refused");
        return R::Handled;
    }
    if (req.method != "GET" && req.method != "POST") {
        Fail(res, 405, "only GET and POST");
        return R::Handled;
    }
    if (req.has_header("Transfer-Encoding")) {
        Fail(res, 411, "a body must come with its length, not in chunks");
        return R::Handled;
    }
    const std::string length = req.get_header_value("Content-Length");
    if (length.size() > 9 || std::strtoul(length.c_str(), nullptr, 10) > kMaxBody) {
        Fail(res, 413, "the body is too large");
        return R::Handled;
    }
    if (req.path.compare(0, 5, "/api/") == 0 &&
        !ViewTokenEquals(req.get_header_value(kTokenHeader), v->token)) {
        Fail(res, 403, "a valid token is needed: open the address corvane view printed");
        return R::Handled;
    }
    return R::Unhandled;
}

void ServeAsset(const std::string &name, httplib::Response &res)
{
    const ViewAsset *asset = ViewFindAsset(name);
    if (!asset)
        return Fail(res, 404, "no such file");
    res.set_content(reinterpret_cast<const char *>(asset->data), asset->size, asset->type);
}

// Until the input is read, what needs it is answered at once with a word
// that the page should ask again once the progress says it is ready.
bool StillReading(Viewer *v, httplib::Response &res)
{
    if (v->ready.load(std::memory_order_acquire))
        return false;
    Fail(res, 503, "the input is still being read", {{"loading", true}});
    return true;
}

void SetUpRoutes(Viewer *v, httplib::Server *server)
{
    server->set_payload_max_length(kMaxBody);
    server->set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        // The import map is the page's one inline script, allowed by its hash.
        {"Content-Security-Policy",
         std::string("default-src 'none'; script-src 'self' '") + ViewPageScriptHash() +
             "'; style-src 'self'; connect-src 'self'; img-src 'self' blob: data:; "
             "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    server->set_pre_routing_handler(
        [v](const httplib::Request &req, httplib::Response &res) { return Gate(v, req, res); });
    server->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        Fail(res, 500, "internal error");
    });
    server->Get("/", [](const httplib::Request &, httplib::Response &res) { ServeAsset("index.html", res); });
    server->Get(R"(/app/([A-Za-z0-9_.-]{1,64}))",
                [](const httplib::Request &req, httplib::Response &res) { ServeAsset(req.matches[1], res); });
    server->Get("/api/input", [v](const httplib::Request &, httplib::Response &res) {
        if (!StillReading(v, res))
            res.set_content(v->inputBody.data(), v->inputBody.size(), "application/octet-stream");
    });
    server->Get("/api/progress", [v](const httplib::Request &, httplib::Response &res) {
        res.set_content(ViewJsonText(v->progress.Json(v->ready.load(std::memory_order_acquire))),
                        "application/json");
    });
    server->Post("/api/run", [v](const httplib::Request &req, httplib::Response &res) {
        if (!StillReading(v, res))
            HandleRun(v, req, res);
    });
    server->Post("/api/save", [v](const httplib::Request &req, httplib::Response &res) {
        if (!StillReading(v, res))
            HandleSave(v, req, res);
    });
}

// The browser gets the address through a file only the user can read: on a
// command line the token would be there for every local user to see.
void OpenBrowser(const std::string &folder, const std::string &url)
{
    const std::string page = folder + "/open.html";
    const std::string html =
        "<!doctype html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0;url=" + url +
        "\"><title>corvane view</title><a href=\"" + url + "\">corvane view</a>\n";
    const int fd = open(page.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && write(fd, html.data(), html.size()) == (ssize_t)html.size();
    if (fd >= 0)
        close(fd);
    pid_t pid = 0;
    char *const argv[] = {const_cast<char *>("xdg-open"), const_cast<char *>(page.c_str()), nullptr};
    if (!written || posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "corvane: cannot start xdg-open; open the address above by hand\n");
        return;
    }
    // Reaped without waiting: xdg-open may stay as long as the browser does.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
}

}  // namespace

int ViewParse(int argc, char **argv, ViewArgs *args)
{
    CLI::App app("Serves a page on 127.0.0.1 that shows the chamfer live: orbit the result, change the\n"
                 "options and watch, point at two polygons (or the edge between them) for the\n"
                 "two-polygon mode, and save. Prints the page's address, with a fresh token, and\n"
                 "serves until Ctrl-C.",
                 "corvane view");
    app.get_formatter()->column_width(30);
    app.add_option("INPUT", args->input, "Mesh to read (OBJ, PLY, OFF, STL, glTF or GLB), read once")
        ->required()
        ->type_name("");
    app.add_option("-o,--output", args->output,
                   "Where Save writes (format by its extension); without it Save offers an OBJ download")
        ->type_name("OUTPUT");
    app.add_option("--port", args->port, "Port on 127.0.0.1 (default 0: a free one)")
        ->check(CLI::Range(0, 65535))
        ->type_name("N");
    app.add_option("--max-corners", args->maxCorners,
                   "Refuse an input that makes more polygon corners, points or polygons than this "
                   "(default 134217728)")
        ->check(CLI::Range(1LL, 1LL << 40))
        ->type_name("N");
    app.add_flag("--open", args->open, "Open the page in the user's browser (xdg-open)");
    app.add_flag("-f,--force", args->force, "Allow OUTPUT to be the input file");
    app.add_flag("--no-weld", args->noWeld, "Keep every point the input gives, as corvane --no-weld does");
    CliAddModuleOptions(&app, &args->plugin, &args->pluginsDir);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // --help ends the parse too, with status 0, and prints itself.
        if (e.get_exit_code() == 0)
            return app.exit(e) == 0 ? kExitDone : kExitUsage;
        std::fprintf(stderr, "corvane: view: %s (corvane view --help lists the options)\n", e.what());
        return kExitUsage;
    }
    return -1;
}

namespace {

// Reads the input and makes everything the page asks of it, one step at a
// time under the progress the page shows: on a mesh of a million triangles
// this takes seconds. false with the error printed.
bool LoadInput(Viewer *v, const MeshBudget &budget)
{
    const unsigned long long ticket = v->progress.Begin("load", 5);
    v->progress.Phase(ticket, "reading the file");
    std::string error;
    MeshReadInfo info;
    if (!MeshReadFile(v->args.input, MeshFormatFromPath(v->args.input), &v->input, &info, &error, &budget,
                      !v->args.noWeld)) {
        std::fprintf(stderr, "corvane: %s\n", error.c_str());
        return false;
    }
    v->progress.Phase(ticket, "measuring the safe size");
    v->safeSize = MeshSafeBevelSize(v->input);
    v->progress.Phase(ticket, "indexing the input's polygons");
    v->inputIndex = std::make_shared<const RunInputIndex>(RunIndexInput(v->input));
    v->progress.Phase(ticket, "counting the input's edges");
    const std::string json = InputJson(v);
    v->progress.Phase(ticket, "packing the input for the page");
    v->inputBody = ViewEncodeMesh(json, v->input, nullptr, nullptr);
    v->progress.End(ticket);
    v->ready.store(true, std::memory_order_release);
    return true;
}

}  // namespace

int ViewMain(const ViewArgs &args)
{
    Viewer v;
    v.args = args;
    CliArgs cli;
    cli.input = args.input;
    cli.output = args.output;
    cli.plugin = args.plugin;
    cli.force = args.force;
    if (!args.output.empty() && !CliCheckOutput(cli))
        return kExitUsage;
    const MeshBudget budget = args.maxCorners > 0 ? MeshBudgetForCorners(args.maxCorners) : MeshBudget();
    // The page is served while a large input is read, so that it can show
    // how far the reading has come; an input that is not there at all is
    // refused before the address is printed, as it always was.
    struct stat input;
    if (stat(args.input.c_str(), &input) != 0) {
        LoadInput(&v, budget);
        return kExitBadInput;
    }
    // Stopped by a signal, the server still removes its folder.
    InterruptOnTermination();
    PrivateFolder live;
    if (!live.Make()) {
        std::fprintf(stderr, "corvane: cannot make a temporary folder for the live runs' settings\n");
        return kExitUsage;
    }
    std::string error;
    if (!RunLoadModule(CliModulePath(cli), &v.module, &error)) {
        std::fprintf(stderr, "corvane: %s\n", error.c_str());
        return kExitUsage;
    }
    v.settingsDir = args.pluginsDir.empty() ? RunDefaultSettingsDir() : args.pluginsDir;
    if (v.settingsDir.empty()) {
        // No home folder: saves keep their options with the live runs'.
        std::fprintf(stderr, "corvane: note: no home folder to keep the options in; they will not be kept\n");
        v.settingsDir = live.path;
    }
    v.liveDir = live.path;
    v.token = ViewNewToken();
    if (const char *delay = getenv("CORVANE_STEP_DELAY_US"))
        v.stepDelayUs = (unsigned)strtoul(delay, nullptr, 10) % 1000000u;
    int status = kExitDone;
    {
        ViewLimits limits;
        limits.bodyBytes = kMaxBody;
        ViewHttpServer server(limits);
        v.server = &server;
        SetUpRoutes(&v, &server);
        v.port = server.Bind(args.port);
        if (v.token.empty() || v.port <= 0) {
            std::fprintf(stderr, "corvane: %s\n",
                         v.token.empty()
                             ? "cannot draw a random token"
                             : ("cannot listen on 127.0.0.1:" + std::to_string(args.port)).c_str());
            status = kExitUsage;
        } else {
            const std::string url = "http://127.0.0.1:" + std::to_string(v.port) + "/?token=" + v.token;
            std::printf("%s\n", url.c_str());
            std::fflush(stdout);
            if (args.open)
                OpenBrowser(live.path, url);
            // Ctrl-C stops the server; the handler only records it. An input
            // that cannot be read stops it too.
            std::atomic<bool> unreadable{false};
            std::thread serving([&] { server.Serve([&] { return InterruptCount() != 0 || unreadable; }); });
            if (!LoadInput(&v, budget)) {
                unreadable = true;
                status = kExitBadInput;
            }
            serving.join();
        }
    }
    UnloadModule(&v.module);
    return status;
}
