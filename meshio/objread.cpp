// OBJ reading. The loader's callback interface walks the file and reports each
// statement; this file feeds it one line at a time, so that every report is
// tied to its line, and checks each line strictly, because the loader itself
// reads any text it does not understand as zeros. Coordinates are read again
// from the text with a correctly rounded parser: the loader's own number
// parser may be off in the last bit, and outputs are compared exactly.
#include "meshio/formats.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <istream>
#include <sstream>
#include <streambuf>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <tiny_obj_loader.h>

namespace {

// A face vertex that names an element not yet read: checked once the whole
// file has been read.
struct ForwardRef {
    int line;
    long long index;
    const char *what;  // "vertex", "texture coordinate", "normal"
};

// A surface index not yet looked up.
const int kUnnamed = -2;

struct ReadState {
    std::string name;
    MeshData *mesh = nullptr;
    MeshReadInfo *info = nullptr;
    // The name of the last `usemtl` and its index in the mesh's table,
    // looked up at the first face that takes it.
    std::string surface = "Default";
    int surfaceIndex = kUnnamed;
    // the line the loader is reading now
    int line = 0;
    std::string_view text;
    bool handled = false;  // a callback took the line
    bool finished = true;  // the line has been checked
    // the first error ends the read
    bool failed = false;
    std::string error;
    std::vector<ForwardRef> forward;
    std::vector<int> scratch;  // the face being read
    const MeshBudget *budget = nullptr;
    long long corners = 0;
    long long nameBytes = 0;  // the bytes of the distinct surface names so far
};

void Fail(ReadState *st, const std::string &what)
{
    if (st->failed)
        return;
    st->failed = true;
    st->error = st->name + ":" + std::to_string(st->line) + ": " + what;
}

// Whether what has been read so far is within the budget; fails the read
// when it is not.
bool WithinBudget(ReadState *st)
{
    const std::string fault = BudgetFault(*st->budget, st->corners, (long long)st->mesh->points.size(),
                                          (long long)MeshPolyCount(*st->mesh), st->nameBytes);
    if (fault.empty())
        return true;
    Fail(st, "the file makes " + fault);
    return false;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> Tokens(std::string_view text)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i]))
            i++;
        size_t start = i;
        while (i < text.size() && !IsBlank(text[i]))
            i++;
        if (i > start)
            out.push_back(text.substr(start, i - start));
    }
    return out;
}

std::string Quote(std::string_view token)
{
    return "'" + std::string(token) + "'";
}

// A decimal number, all of the token, finite. A leading '+' is allowed.
bool ParseNumber(std::string_view token, double *out)
{
    if (!token.empty() && token[0] == '+')
        token.remove_prefix(1);
    // from_chars would also take "inf" and "nan": require a digit or a dot
    // after the sign
    size_t lead = (!token.empty() && token[0] == '-') ? 1 : 0;
    if (lead >= token.size() || !(std::isdigit((unsigned char)token[lead]) || token[lead] == '.'))
        return false;
    double value = 0.0;
    auto res = std::from_chars(token.data(), token.data() + token.size(), value);
    if (res.ec != std::errc() || res.ptr != token.data() + token.size() || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

// Checks that every value after the keyword is a number; fills `values`
// when given.
bool CheckNumbers(ReadState *st, const std::vector<std::string_view> &tokens, double *values)
{
    for (size_t k = 1; k < tokens.size(); k++) {
        double v = 0.0;
        if (!ParseNumber(tokens[k], &v)) {
            Fail(st, "not a number: " + Quote(tokens[k]));
            return false;
        }
        if (values)
            values[k - 1] = v;
    }
    return true;
}

// A non-zero index: positive from the start, negative back from the last
// element read so far. Resolves to 1-based; a positive index past what has
// been read so far is kept for the final check.
bool ParseIndex(ReadState *st, std::string_view part, long long sofar, const char *what, long long *out)
{
    long long value = 0;
    auto res = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || res.ec != std::errc() || res.ptr != part.data() + part.size()) {
        Fail(st, std::string("bad ") + what + " number " + Quote(part));
        return false;
    }
    if (value == 0 || value < -sofar || value > 0x7fffffffLL) {
        if (value < 0)
            Fail(st, std::string(what) + " number " + std::to_string(value) + " reaches before the first " +
                         what + " (" + std::to_string(sofar) + " read so far)");
        else
            Fail(st, std::string(what) + " number " + std::to_string(value) + " is out of range");
        return false;
    }
    if (value > sofar)
        st->forward.push_back({st->line, value, what});
    *out = value < 0 ? sofar + value + 1 : value;
    return true;
}

// One face vertex: v, v/vt, v//vn or v/vt/vn.
bool ParseFaceVertex(ReadState *st, std::string_view token, long long *v)
{
    std::string_view parts[3];
    int n = 0;
    size_t start = 0;
    for (size_t i = 0; i <= token.size(); i++) {
        if (i == token.size() || token[i] == '/') {
            if (n == 3) {
                Fail(st, "bad face vertex " + Quote(token) + ": more than three numbers");
                return false;
            }
            parts[n++] = token.substr(start, i - start);
            start = i + 1;
        }
    }
    long long dummy = 0;
    long long points = (long long)st->mesh->points.size();
    if (!ParseIndex(st, parts[0], points, "vertex", v))
        return false;
    if (n >= 2 && !(n == 3 && parts[1].empty()) &&
        !ParseIndex(st, parts[1], st->info->texcoords, "texture coordinate", &dummy))
        return false;
    if (n == 3 && !ParseIndex(st, parts[2], st->info->normals, "normal", &dummy))
        return false;
    return true;
}

// ---- the loader's callbacks: each one is the current line's statement ------

void OnVertex(void *user, tinyobj::real_t, tinyobj::real_t, tinyobj::real_t, tinyobj::real_t)
{
    ReadState *st = static_cast<ReadState *>(user);
    st->handled = true;
    std::vector<std::string_view> tokens = Tokens(st->text);
    size_t n = tokens.size() - 1;
    // x y z, with an optional weight or an optional colour after them
    if (n != 3 && n != 4 && n != 6) {
        Fail(st, "a 'v' line needs 3 coordinates, found " + std::to_string(n) + " values");
        return;
    }
    double values[6] = {};
    if (!CheckNumbers(st, tokens, values))
        return;
    if ((long long)st->mesh->points.size() >= st->budget->points) {
        Fail(st, "the file makes " + BudgetFault(*st->budget, 0, st->budget->points + 1, 0, 0));
        return;
    }
    st->mesh->points.push_back({values[0], values[1], values[2]});
}

void OnNormal(void *user, tinyobj::real_t, tinyobj::real_t, tinyobj::real_t)
{
    ReadState *st = static_cast<ReadState *>(user);
    st->handled = true;
    std::vector<std::string_view> tokens = Tokens(st->text);
    if (tokens.size() != 4) {
        Fail(st, "a 'vn' line needs 3 numbers");
        return;
    }
    if (CheckNumbers(st, tokens, nullptr))
        st->info->normals++;
}

void OnTexcoord(void *user, tinyobj::real_t, tinyobj::real_t, tinyobj::real_t)
{
    ReadState *st = static_cast<ReadState *>(user);
    st->handled = true;
    std::vector<std::string_view> tokens = Tokens(st->text);
    if (tokens.size() < 2 || tokens.size() > 4) {
        Fail(st, "a 'vt' line needs 1 to 3 numbers");
        return;
    }
    if (CheckNumbers(st, tokens, nullptr))
        st->info->texcoords++;
}

void OnFace(void *user, tinyobj::index_t *indices, int count)
{
    ReadState *st = static_cast<ReadState *>(user);
    st->handled = true;
    if (st->failed)
        return;
    std::vector<std::string_view> tokens = Tokens(st->text);
    // Counted before the polygon is stored. The mesh keeps each name once,
    // so a name's bytes count once, when its first polygon adds it to the
    // table (a name is at most the budget's name length).
    st->corners += (long long)tokens.size() - 1;
    if (st->surfaceIndex == kUnnamed) {
        const size_t known = st->mesh->surfaces.size();
        st->surfaceIndex = MeshInternSurface(st->mesh, st->surface);
        if (st->mesh->surfaces.size() > known)
            st->nameBytes += (long long)st->surface.size();
    }
    if (!WithinBudget(st) || (long long)MeshPolyCount(*st->mesh) >= st->budget->polygons) {
        Fail(st, "the file makes " + BudgetFault(*st->budget, 0, 0, st->budget->polygons + 1, 0));
        return;
    }
    std::vector<int> &poly = st->scratch;
    poly.clear();
    for (size_t k = 1; k < tokens.size(); k++) {
        long long v = 0;
        if (!ParseFaceVertex(st, tokens[k], &v))
            return;
        poly.push_back((int)(v - 1));
    }
    // With the line well-formed the loader saw the same vertices; its raw
    // numbers must then be the ones just read.
    if (count != (int)poly.size()) {
        Fail(st, "face could not be read");
        return;
    }
    long long points = (long long)st->mesh->points.size();
    for (int k = 0; k < count; k++) {
        long long raw = indices[k].vertex_index;
        long long v = raw < 0 ? points + raw + 1 : raw;
        if (v - 1 != poly[(size_t)k]) {
            Fail(st, "face could not be read");
            return;
        }
    }
    MeshAddPoly(st->mesh, poly, st->surfaceIndex);
}

void OnUseMaterial(void *user, const char *name, int)
{
    ReadState *st = static_cast<ReadState *>(user);
    st->handled = true;
    std::string_view s(name);
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    if (s.empty()) {
        Fail(st, "'usemtl' needs a surface name");
        return;
    }
    if (!NameFault(*st->budget, s.size()).empty()) {
        Fail(st, NameFault(*st->budget, s.size()));
        return;
    }
    st->surface = std::string(s);
    st->surfaceIndex = kUnnamed;
}

// Statements that are valid OBJ but hold nothing a polygon mesh keeps.
bool IsSilentStatement(std::string_view key)
{
    static const char *const silent[] = {"usemap",   "maplib",   "lod",   "shadow_obj", "trace_obj", "bevel",
                                         "c_interp", "d_interp", "ctech", "stech",      "mg"};
    for (const char *s : silent)
        if (key == s)
            return true;
    return false;
}

// Elements other than polygons: points, lines and free-form geometry.
bool IsIgnoredElement(std::string_view key)
{
    static const char *const ignored[] = {"p",    "l",     "vp",   "cstype", "deg",  "bmat", "step",
                                          "curv", "curv2", "surf", "parm",   "trim", "hole", "scrv",
                                          "sp",   "end",   "con",  "call",   "csh"};
    for (const char *s : ignored)
        if (key == s)
            return true;
    return false;
}

// Checks a line that no callback took: blank, a comment, a statement that is
// skipped, or else an error.
void FinishLine(ReadState *st)
{
    if (st->finished)
        return;
    st->finished = true;
    if (st->handled || st->failed)
        return;
    std::vector<std::string_view> tokens = Tokens(st->text);
    if (tokens.empty() || tokens[0][0] == '#')
        return;
    std::string_view key = tokens[0];
    if (key == "mtllib") {
        std::string_view line = st->text;
        while (!line.empty() && IsBlank(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.back()))
            line.remove_suffix(1);
        st->mesh->materialLibraries.emplace_back(line);
        return;
    }
    if (key == "o" || key == "g" || key == "s") {
        st->info->groupings++;
        return;
    }
    if (IsSilentStatement(key))
        return;
    if (IsIgnoredElement(key)) {
        st->info->ignoredElements++;
        return;
    }
    if (key == "v")
        Fail(st, "a 'v' line needs 3 coordinates");
    else if (key == "vt")
        Fail(st, "a 'vt' line needs 1 to 3 numbers");
    else if (key == "vn")
        Fail(st, "a 'vn' line needs 3 numbers");
    else if (key == "f")
        Fail(st, "a face needs at least one vertex");
    else if (key == "usemtl")
        Fail(st, "'usemtl' needs a surface name");
    else
        Fail(st, "unknown statement " + Quote(key));
}

// Other tools end a vertex or face line with a comment ("f 1 2 3 # top"),
// which the loader would read as one more number. The line without it, from
// its '#' on (no number holds one); the whole line for other statements,
// whose names may hold a '#' of their own.
std::string_view WithoutComment(std::string_view line)
{
    std::vector<std::string_view> tokens = Tokens(line);
    if (tokens.empty() || !(tokens[0] == "v" || tokens[0] == "vt" || tokens[0] == "vn" || tokens[0] == "f"))
        return line;
    return line.substr(0, line.find('#'));
}

// Hands the loader one line per refill, so that while it reports a statement
// the current line is the one the statement came from.
class LineFeed : public std::streambuf {
public:
    LineFeed(const std::string &text, ReadState *st) : text_(text), st_(st) {}

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        FinishLine(st_);
        if (st_->failed || pos_ >= text_.size())
            return traits_type::eof();
        size_t end = text_.find('\n', pos_);
        end = (end == std::string::npos) ? text_.size() : end + 1;
        char *begin = const_cast<char *>(text_.data()) + pos_;
        setg(begin, begin, begin + (end - pos_));
        std::string_view line(begin, end - pos_);
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view kept = WithoutComment(line);
        if (kept.size() != line.size()) {
            cut_.assign(kept.data(), kept.size());
            cut_ += '\n';
            setg(cut_.data(), cut_.data(), cut_.data() + cut_.size());
            line = std::string_view(cut_.data(), kept.size());
        }
        st_->line++;
        st_->text = line;
        st_->handled = false;
        st_->finished = false;
        pos_ = end;
        // The loader would take a carriage return inside a line as a line end.
        if (line.find('\r') != std::string_view::npos) {
            Fail(st_, "stray carriage return inside the line");
            return traits_type::eof();
        }
        return traits_type::to_int_type(*gptr());
    }

private:
    const std::string &text_;
    ReadState *st_;
    size_t pos_ = 0;
    std::string cut_;  // the current line without its comment, when it had one
};

}  // namespace

bool MeshReadObjText(const std::string &text, const std::string &name, MeshData *mesh, MeshReadInfo *info,
                     std::string *error, const MeshBudget *budget)
{
    const MeshBudget defaults;
    MeshReadInfo localInfo;
    if (!info)
        info = &localInfo;
    *info = MeshReadInfo();
    *mesh = MeshData();

    ReadState st;
    st.name = name;
    st.mesh = mesh;
    st.info = info;
    st.budget = budget ? budget : &defaults;

    tinyobj::callback_t cb;
    cb.vertex_cb = OnVertex;
    cb.normal_cb = OnNormal;
    cb.texcoord_cb = OnTexcoord;
    cb.index_cb = OnFace;
    cb.usemtl_cb = OnUseMaterial;

    // The loader reads a last line without an end up to the end of the
    // stream, which here would close the line before its statement is seen.
    // A byte-order mark, which some tools write, is no part of the first line.
    std::string ended;
    const std::string *source = &text;
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    const bool marked = text.compare(0, 3, kByteOrderMark) == 0;
    if (marked || (!text.empty() && text.back() != '\n')) {
        ended = text.substr(marked ? 3 : 0);
        if (!ended.empty() && ended.back() != '\n')
            ended += "\n";
        source = &ended;
    }
    LineFeed feed(*source, &st);
    std::istream in(&feed);
    std::string warn, err;
    bool ok = tinyobj::LoadObjWithCallback(in, cb, &st, nullptr, &warn, &err);
    FinishLine(&st);

    // Face numbers that pointed forward must name elements the file has.
    if (!st.failed) {
        for (const ForwardRef &ref : st.forward) {
            long long have = 0;
            if (std::strcmp(ref.what, "vertex") == 0)
                have = (long long)mesh->points.size();
            else if (std::strcmp(ref.what, "normal") == 0)
                have = info->normals;
            else
                have = info->texcoords;
            if (ref.index > have) {
                st.line = ref.line;
                Fail(&st, std::string(ref.what) + " number " + std::to_string(ref.index) +
                              " is out of range (the file has " + std::to_string(have) + ")");
                break;
            }
        }
    }
    if (!st.failed && !ok) {
        st.failed = true;
        st.error = name + ": " + (err.empty() ? std::string("cannot be read") : err);
    }
    if (st.failed) {
        *mesh = MeshData();
        if (error)
            *error = st.error;
        return false;
    }
    return true;
}

bool MeshReadObj(const std::string &path, MeshData *mesh, MeshReadInfo *info, std::string *error,
                 const MeshBudget *budget)
{
    *mesh = MeshData();
    std::string text;
    if (!MeshReadWholeFile(path, &text, error))
        return false;
    return MeshReadObjText(text, path, mesh, info, error, budget);
}

bool MeshReadWholeFile(const std::string &path, std::string *bytes, std::string *error)
{
    bytes->clear();
    auto fail = [&](const std::string &what, int number) {
        if (error)
            *error = path + ": " + what +
                     (number ? std::string(": ") + std::strerror(number) : std::string());
        return false;
    };
    // Anything but a regular file or a pipe is refused before anything is
    // read from it (/dev/zero would be read until memory ran out), and a
    // device is opened without waiting; a named pipe is opened the usual way,
    // waiting for its writer. What the path turns out to be once open is
    // what counts.
    struct stat st;
    const bool fifo = stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (fifo ? 0 : O_NONBLOCK));
    if (fd < 0)
        return fail("cannot open", errno);
    if (fstat(fd, &st) != 0) {
        const int number = errno;
        close(fd);
        return fail("cannot read", number);
    }
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
        close(fd);
        return fail(S_ISDIR(st.st_mode) ? "is a folder, not a mesh file"
                                        : "is not a regular file or a pipe, not a mesh file",
                    0);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A regular file reads into a string of its size, with no growing
    // copies of a large mesh file; a pipe in pieces as they come.
    size_t have = 0;
    if (S_ISREG(st.st_mode))
        bytes->resize((size_t)st.st_size);
    char piece[65536];
    for (;;) {
        const bool inPlace = have < bytes->size();
        char *to = inPlace ? &(*bytes)[have] : piece;
        const ssize_t got = read(fd, to, inPlace ? bytes->size() - have : sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int number = errno;
            close(fd);
            bytes->clear();
            return fail("cannot read", number);
        }
        if (got == 0)
            break;
        if (!inPlace)
            bytes->append(piece, (size_t)got);
        have += (size_t)got;
    }
    bytes->resize(have);
    close(fd);
    return true;
}
