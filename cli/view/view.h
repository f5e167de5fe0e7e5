// `corvane view`: a host of ours in the browser. The program loads the module
// and reads the input once, then serves one page on 127.0.0.1 that re-runs
// the module on every change of the options or the selection and draws the
// result with three.js. The server is a thin adapter over the run layer, the
// reader and the atomic writer the command line uses, so the page can never
// give a result the program would not.
#ifndef CORVANE_VIEW_H
#define CORVANE_VIEW_H

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/host.h"

struct ViewArgs {
    std::string input;
    std::string output;        // empty: Save offers a download
    std::string plugin;        // empty: CorvaneLarge.p beside the program
    std::string pluginsDir;    // empty: the user's config folder
    int port = 0;              // 0: a free port
    bool open = false;         // start the user's browser
    bool force = false;        // OUTPUT may be the input
    bool noWeld = false;       // points at one position stay apart
    long long maxCorners = 0;  // 0: the readers' default budget
};

// Parses `corvane view ...` (argv[0] is "view"). Returns -1 to go on, or the
// status to exit with (help printed, or a usage error printed).
int ViewParse(int argc, char **argv, ViewArgs *args);
// Loads the module, prints the page's address and serves until Ctrl-C,
// reading the input meanwhile (the page shows how far it has come); the
// exit status. An input that cannot be read stops the server.
int ViewMain(const ViewArgs &args);

// ---- requests (the part a client controls, kept apart to be table-tested) --

// What a run or save request asks for.
struct ViewRequest {
    double size = 0.0;
    int angleMode = 0;  // 0 disable, 1 lt, 2 gt
    double limitDeg = 0.0;
    int select[2] = {0, 0};  // 1-based polygon numbers; {0, 0}: object mode
    bool clamp = false;      // run with at most the input's safe size
};
// Parses the query parameters of a run or save request: size (a finite
// number), mode (disable, lt or gt), limit (degrees, 0 to 180), and optionally
// select ("I,J": two different polygon numbers from 1 to `polygons`) and
// clamp ("1" or "0", the default). Each
// exactly once, nothing else, no value longer than 64 bytes. false with
// *error saying what is wrong.
bool ViewParseRequest(const std::multimap<std::string, std::string> &params, int polygons,
                      ViewRequest *request, std::string *error);
// Whether a Host header names this server: "127.0.0.1:PORT" or
// "localhost:PORT" exactly (a page of another name that resolves here, as
// in DNS rebinding, is refused).
bool ViewHostAllowed(const std::string &host, int port);
// How much of `bytes`, a request as it arrives, is its head: the length
// through the blank line that ends it; 0 while it has not ended yet; -1 when
// it runs past `maxBytes` or holds more than `maxLines` lines.
long ViewHeadLength(const std::string &bytes, size_t maxBytes, int maxLines);
// What the server refuses in a request's head (`head`, through its blank
// line) before the library sees it: a Range header, which the library
// answers with one copy of the body per range, built in memory (the page
// never asks for part of a file); and a second Host header, of which the
// check and the library could read different ones. true with the status
// line to refuse with ("416 Range Not Satisfiable", "400 Bad Request") and
// why; false when the head may go on.
bool ViewHeadRefused(const std::string &head, std::string *status, std::string *why);
// Compares a token a request gave with the server's in constant time.
bool ViewTokenEquals(const std::string &given, const std::string &token);
// A fresh token: 32 random bytes from the kernel, in hex. Empty on failure.
std::string ViewNewToken();

// ---- what travels to the page ------------------------------------------

// The text of a JSON value, bytes that are not UTF-8 replaced.
std::string ViewJsonText(const nlohmann::json &value);
// The binary form of a mesh for the page, little-endian, every array on a
// 4-byte boundary:
//   "CVM1", u32 JSON length J, J bytes of JSON (padded with spaces),
//   u32 points P, u32 polygons N, u32 corners C,
//   f32 positions[3P], u32 corner counts[N], u32 point indices[C],
//   u8 tint[N] (0 untouched, 1 an input face cut back, 2 a strip, patch or
//   cap the run made), padded to 4.
// `created` and `reshaped` may be null or short: the rest are untouched.
std::string ViewEncodeMesh(const std::string &json, const MeshData &mesh, const std::vector<bool> *created,
                           const std::vector<bool> *reshaped);

// ---- the page's files, compiled into the program ------------------------

struct ViewAsset {
    const char *name;  // served as /app/NAME ("index.html" is also /)
    const char *type;  // its Content-Type
    const unsigned char *data;
    unsigned long size;
};
// The asset named `name`, or null.
const ViewAsset *ViewFindAsset(const std::string &name);
// The page's one inline script (its import map) as a Content-Security-Policy
// source: "sha256-" and the base64 of its digest.
const char *ViewPageScriptHash();

#endif
