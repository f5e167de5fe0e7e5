// The viewer's server: the command line of `corvane view`, the routes of its
// one page, and the run and save requests, each a thin adapter over the run
// layer, the reader and the atomic writer the command line uses.
#include "cli/view/view.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include <CLI/CLI.hpp>
#include <httplib.h>

#include "cli/cli.h"
#include "meshio/meshio.h"
#include "run/run.h"

extern char **environ;

namespace {

// The page's requests carry their options in the query; a body is never
// needed, so anything larger than a short form is refused.
const size_t kMaxBody = 4096;

// Everything the server keeps: the input, read once, and the loaded module.
struct Viewer {
    ViewArgs args;
    MeshData input;
    LoadedModule module;
    std::string settingsDir;
    std::string token;
    int port = 0;
    std::string inputBody;    // the input as the page reads it, encoded once
    // Only one emulated host can be current at a time, and the settings file
    // is written by one activation at a time: runs take turns.
    std::mutex runLock;
};

// Cookies are kept per host name, not per port: each server's has its port
// in its name, so that two viewers open at once do not log each other out.
std::string CookieName(const Viewer *v)
{
    return "corvane_token_" + std::to_string(v->port);
}

std::string JsonNumber(double v)
{
    return std::isfinite(v) ? MeshFormatDouble(v) : "null";
}

std::string StatsJson(const MeshData &mesh)
{
    const MeshStats s = MeshComputeStats(mesh);
    return "\"points\":" + std::to_string(s.points) + ",\"polygons\":" + std::to_string(s.polygons) +
           ",\"borderEdges\":" + std::to_string(s.borderEdges) +
           ",\"crowdedEdges\":" + std::to_string(s.crowdedEdges) +
           ",\"sameWayEdges\":" + std::to_string(s.sameWayEdges);
}

void Fail(httplib::Response &res, int status, const std::string &why)
{
    res.status = status;
    res.set_content("{\"error\":" + ViewJsonString(why) + "}", "application/json");
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

// The options panel as the settings file fills it, read without running the
// edit: the probe cancels the panel, which leaves the file as it is.
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
    size_t corners = 0;
    for (const MeshPoly &p : v->input.polys)
        corners += p.points.size();
    std::string json = "{\"name\":" + ViewJsonString(std::filesystem::path(v->args.input).filename().string()) +
                       "," + StatsJson(v->input) + ",\"corners\":" + std::to_string(corners) +
                       ",\"safeSize\":" + JsonNumber(MeshSafeBevelSize(v->input)) +
                       ",\"settings\":{\"size\":" + JsonNumber(probe.bevelSize) +
                       ",\"angleMode\":" + std::to_string(probe.angleMode) +
                       ",\"limitDeg\":" + JsonNumber(probe.limitAngleDeg) + "}" +
                       ",\"output\":" + ViewJsonString(v->args.output) +
                       ",\"download\":" + ViewJsonString(DownloadName(v->args.input)) + "}";
    return json;
}

bool ParseOptions(Viewer *v, const httplib::Request &req, httplib::Response &res, RunOptions *options)
{
    std::multimap<std::string, std::string> params = req.params;
    params.erase("token");
    ViewRequest request;
    std::string error;
    if (!ViewParseRequest(params, (int)v->input.polys.size(), &request, &error)) {
        Fail(res, 400, error);
        return false;
    }
    options->bevelSize = request.size;
    options->angleMode = request.angleMode;
    options->limitAngleDeg = request.limitDeg;
    options->select[0] = request.select[0];
    options->select[1] = request.select[1];
    return true;
}

std::string MessagesJson(const RunResult &run)
{
    std::string json = "[";
    for (size_t i = 0; i < run.messages.size(); i++)
        json += std::string(i ? "," : "") + "{\"error\":" + (run.messages[i].error ? "true" : "false") +
                ",\"text\":" + ViewJsonString(run.messages[i].text) + "}";
    return json + "]";
}

// A live run: no settings folder, so that dragging a slider never rewrites
// the user's settings file; Save runs again with it.
void HandleRun(Viewer *v, const httplib::Request &req, httplib::Response &res)
{
    RunOptions options;
    if (!ParseOptions(v, req, res, &options))
        return;
    RunResult run;
    {
        std::lock_guard<std::mutex> lock(v->runLock);
        RunActivate(v->module, v->input, options, &run);
    }
    if (run.activation != HOST_ACTIVATE_OK) {
        Fail(res, 500, "the module's activation failed with result " + std::to_string(run.activation));
        return;
    }
    const std::string json = "{" + StatsJson(run.output) + ",\"activationMs\":" + JsonNumber(run.activationMs) +
                             ",\"unchanged\":" + (run.unchanged ? "true" : "false") +
                             ",\"mode\":" + ViewJsonString(run.mode) + ",\"messages\":" + MessagesJson(run) + "}";
    const std::string body = ViewEncodeMesh(json, run.output, &run.created, &run.reshaped);
    res.set_content(body.data(), body.size(), "application/octet-stream");
}

// Save: the run the command line would make with the same options and
// selection, the settings saved as it saves them, and its file written the
// same way; without OUTPUT the same bytes go back as a download.
void HandleSave(Viewer *v, const httplib::Request &req, httplib::Response &res)
{
    RunOptions options;
    if (!ParseOptions(v, req, res, &options))
        return;
    std::error_code ec;
    std::filesystem::create_directories(v->settingsDir, ec);
    options.settingsDir = v->settingsDir;
    options.markPolygons = false;
    RunResult run;
    {
        std::lock_guard<std::mutex> lock(v->runLock);
        RunActivate(v->module, v->input, options, &run);
    }
    int infos = 0, errors = 0;
    for (const RunMessage &m : run.messages)
        (m.error ? errors : infos)++;
    const std::string target = v->args.output.empty() ? std::string("the result") : v->args.output;
    if (run.activation != HOST_ACTIVATE_OK)
        return Fail(res, 500, "the module's activation failed with result " + std::to_string(run.activation));
    if (infos > 0)
        return Fail(res, 409, "the module reported a failure; " + target + " not written");
    if (run.bevelSize == 0.0)
        return Fail(res, 409, "a bevel size of 0 changes nothing; " + target + " not written");
    if (errors > 0 || run.aborted)
        return Fail(res, 409, "the module reported an error; " + target + " not written");
    if (v->args.output.empty()) {
        const std::string text = MeshObjText(run.output);
        res.set_header("Content-Disposition", "attachment; filename=\"" + DownloadName(v->args.input) + "\"");
        res.set_content(text.data(), text.size(), "model/obj");
        return;
    }
    std::string error;
    if (!MeshWriteObj(v->args.output, run.output, &error))
        return Fail(res, 500, error);
    res.set_content("{\"written\":" + ViewJsonString(v->args.output) + "}", "application/json");
}

// Every request: from a page of this server's own name, with the token in
// the query or the cookie the first page load set.
httplib::Server::HandlerResponse Gate(Viewer *v, const httplib::Request &req, httplib::Response &res)
{
    if (!ViewHostAllowed(req.get_header_value("Host"), v->port)) {
        Fail(res, 403, "this server answers only to 127.0.0.1 and localhost");
        return httplib::Server::HandlerResponse::Handled;
    }
    const std::string given = req.has_param("token")
                                  ? req.get_param_value("token")
                                  : ViewCookieValue(req.get_header_value("Cookie"), CookieName(v));
    if (!ViewTokenEquals(given, v->token)) {
        Fail(res, 403, "a valid token is needed: open the address corvane view printed");
        return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

void ServeAsset(Viewer *v, const std::string &name, httplib::Response &res)
{
    const ViewAsset *asset = ViewFindAsset(name);
    if (!asset)
        return Fail(res, 404, "no such file");
    if (name == "index.html")
        res.set_header("Set-Cookie", CookieName(v) + "=" + v->token + "; Path=/; HttpOnly; SameSite=Strict");
    res.set_content(reinterpret_cast<const char *>(asset->data), asset->size, asset->type);
}

void SetUpRoutes(Viewer *v, httplib::Server *server)
{
    server->set_payload_max_length(kMaxBody);
    // A connection the page keeps open holds a worker until it times out,
    // and stopping the server waits for every worker.
    server->set_keep_alive_timeout(1);
    server->set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' blob: data:; "
         "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    server->set_pre_routing_handler([v](const httplib::Request &req, httplib::Response &res) { return Gate(v, req, res); });
    server->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        Fail(res, 500, "internal error");
    });
    server->Get("/", [v](const httplib::Request &, httplib::Response &res) { ServeAsset(v, "index.html", res); });
    server->Get(R"(/app/([A-Za-z0-9_.-]{1,64}))", [v](const httplib::Request &req, httplib::Response &res) {
        ServeAsset(v, req.matches[1], res);
    });
    server->Get("/api/input", [v](const httplib::Request &, httplib::Response &res) {
        res.set_content(v->inputBody.data(), v->inputBody.size(), "application/octet-stream");
    });
    server->Post("/api/run", [v](const httplib::Request &req, httplib::Response &res) { HandleRun(v, req, res); });
    server->Post("/api/save", [v](const httplib::Request &req, httplib::Response &res) { HandleSave(v, req, res); });
}

void OpenBrowser(const std::string &url)
{
    pid_t pid = 0;
    char *const argv[] = {const_cast<char *>("xdg-open"), const_cast<char *>(url.c_str()), nullptr};
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "corvane: cannot start xdg-open; open the address above by hand\n");
        return;
    }
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
    app.add_option("INPUT", args->input, "Mesh to read (OBJ), read once")->required()->type_name("");
    app.add_option("-o,--output", args->output, "Where Save writes (OBJ); without it Save offers a download")
        ->type_name("OUTPUT");
    app.add_option("--port", args->port, "Port on 127.0.0.1 (default 0: a free one)")
        ->check(CLI::Range(0, 65535))
        ->type_name("N");
    app.add_flag("--open", args->open, "Open the page in the user's browser (xdg-open)");
    app.add_option("--plugin", args->plugin, "The module to load (default: Corvane.p beside corvane)")
        ->type_name("PATH");
    app.add_option("--plugins-dir", args->pluginsDir,
                   "Folder of the settings file (default: $XDG_CONFIG_HOME/corvane or ~/.config/corvane)")
        ->type_name("DIR");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int code = app.exit(e);
        return code == 0 ? kExitDone : kExitUsage;
    }
    return -1;
}

int ViewMain(const ViewArgs &args)
{
    Viewer v;
    v.args = args;
    CliArgs cli;
    cli.input = args.input;
    cli.output = args.output;
    cli.plugin = args.plugin;
    if (!args.output.empty() && !CliCheckOutput(cli))
        return kExitUsage;
    std::string error;
    MeshReadInfo info;
    if (!MeshReadObj(args.input, &v.input, &info, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitBadInput;
    }
    if (!RunLoadModule(CliModulePath(cli), &v.module, &error)) {
        std::fprintf(stderr, "corvane: %s\n", error.c_str());
        return kExitUsage;
    }
    v.settingsDir = args.pluginsDir.empty() ? RunDefaultSettingsDir() : args.pluginsDir;
    v.token = ViewNewToken();
    int status = kExitDone;
    {
        httplib::Server server;
        SetUpRoutes(&v, &server);
        v.port = args.port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", args.port) ? args.port : -1);
        if (v.token.empty() || v.port <= 0) {
            std::fprintf(stderr, "corvane: %s\n",
                         v.token.empty() ? "cannot draw a random token"
                                         : ("cannot listen on 127.0.0.1:" + std::to_string(args.port)).c_str());
            UnloadModule(&v.module);
            return kExitUsage;
        }
        v.inputBody = ViewEncodeMesh(InputJson(&v), v.input, nullptr, nullptr);
        const std::string url = "http://127.0.0.1:" + std::to_string(v.port) + "/?token=" + v.token;
        std::printf("%s\n", url.c_str());
        std::fflush(stdout);
        if (args.open)
            OpenBrowser(url);

        // Ctrl-C stops the server; the handler only records it.
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            while (!done && InterruptCount() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            server.stop();
        });
        if (!server.listen_after_bind())
            status = kExitUsage;
        done = true;
        watcher.join();
    }
    UnloadModule(&v.module);
    return status;
}
