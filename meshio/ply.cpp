// PLY reading (ASCII, binary little- and big-endian) and writing (binary
// little-endian, double coordinates). The header declares elements, each a
// count of items made of scalar and list properties; the points are the
// `vertex` element's x y z, the polygons the `face` element's
// `vertex_indices` (or `vertex_index`) lists. Every other element and
// property is read past and dropped.
#include "meshio/formats.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

enum class Kind { Int8, Uint8, Int16, Uint16, Int32, Uint32, Float32, Float64 };

struct Property {
    std::string name;
    bool list = false;
    Kind countKind = Kind::Uint8;  // lists only
    Kind kind = Kind::Float32;     // the value's, or each list item's
};

struct Element {
    std::string name;
    unsigned long long count = 0;
    int headerLine = 0;
    std::vector<Property> props;
};

enum class Encoding { Ascii, LittleEndian, BigEndian };

size_t SizeOf(Kind k)
{
    switch (k) {
    case Kind::Int8:
    case Kind::Uint8: return 1;
    case Kind::Int16:
    case Kind::Uint16: return 2;
    case Kind::Int32:
    case Kind::Uint32:
    case Kind::Float32: return 4;
    case Kind::Float64: return 8;
    }
    return 1;
}

bool ParseKind(const std::string &s, Kind *k)
{
    static const struct {
        const char *name;
        Kind kind;
    } kinds[] = {{"char", Kind::Int8},      {"int8", Kind::Int8},       {"uchar", Kind::Uint8},
                 {"uint8", Kind::Uint8},    {"short", Kind::Int16},     {"int16", Kind::Int16},
                 {"ushort", Kind::Uint16},  {"uint16", Kind::Uint16},   {"int", Kind::Int32},
                 {"int32", Kind::Int32},    {"uint", Kind::Uint32},     {"uint32", Kind::Uint32},
                 {"float", Kind::Float32},  {"float32", Kind::Float32}, {"double", Kind::Float64},
                 {"float64", Kind::Float64}};
    for (const auto &e : kinds) {
        if (s == e.name) {
            *k = e.kind;
            return true;
        }
    }
    return false;
}

bool IsFloat(Kind k)
{
    return k == Kind::Float32 || k == Kind::Float64;
}

struct Reader {
    const std::string &data;
    const std::string &name;
    MeshData *mesh;
    std::string *error;
    Encoding encoding = Encoding::Ascii;
    size_t pos = 0;  // next byte
    int line = 1;    // ASCII: the line of the next token
    bool failed = false;
    const MeshBudget *budget = nullptr;
    // The first face index that names no vertex whatever the vertex count
    // (negative, fractional or past INT_MAX), staged as -1 at `badIndexAt`.
    double badIndex = 0;
    size_t badIndexAt = SIZE_MAX;

    // "NAME:LINE: what" in text, "NAME: byte N: what" in binary data.
    bool Fail(const std::string &what, size_t at)
    {
        if (!failed && error) {
            if (encoding == Encoding::Ascii)
                *error = name + ":" + std::to_string(line) + ": " + what;
            else
                *error = name + ": byte " + std::to_string(at) + ": " + what;
        }
        failed = true;
        return false;
    }
    bool FailHeader(int headerLine, const std::string &what)
    {
        if (!failed && error)
            *error = name + ":" + std::to_string(headerLine) + ": " + what;
        failed = true;
        return false;
    }
};

std::vector<std::string> Words(const std::string &text)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            i++;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            i++;
        if (i > start)
            out.push_back(text.substr(start, i - start));
    }
    return out;
}

// The header, up to and including `end_header`'s line end.
bool ReadHeader(Reader *r, std::vector<Element> *elements)
{
    int lineNo = 0;
    bool sawFormat = false;
    for (;;) {
        size_t end = r->data.find('\n', r->pos);
        if (end == std::string::npos)
            return r->FailHeader(lineNo + 1, "the header has no end_header line");
        std::string text = r->data.substr(r->pos, end - r->pos);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        r->pos = end + 1;
        lineNo++;
        if (lineNo == 1) {
            if (text != "ply")
                return r->FailHeader(1, "not a PLY file: the first line is not 'ply'");
            continue;
        }
        std::vector<std::string> w = Words(text);
        if (w.empty())
            continue;
        const std::string &key = w[0];
        if (key == "comment" || key == "obj_info")
            continue;
        if (key == "end_header") {
            r->line = lineNo + 1;
            if (!sawFormat)
                return r->FailHeader(lineNo, "the header has no format line");
            return true;
        }
        if (key == "format") {
            if (w.size() != 3 || w[2] != "1.0")
                return r->FailHeader(lineNo, "bad format line: '" + text + "'");
            if (w[1] == "ascii")
                r->encoding = Encoding::Ascii;
            else if (w[1] == "binary_little_endian")
                r->encoding = Encoding::LittleEndian;
            else if (w[1] == "binary_big_endian")
                r->encoding = Encoding::BigEndian;
            else
                return r->FailHeader(lineNo, "unknown PLY format '" + w[1] + "'");
            sawFormat = true;
        } else if (key == "element") {
            Element e;
            e.headerLine = lineNo;
            if (w.size() != 3)
                return r->FailHeader(lineNo, "an element line needs a name and a count");
            e.name = w[1];
            auto res = std::from_chars(w[2].data(), w[2].data() + w[2].size(), e.count);
            if (res.ec != std::errc() || res.ptr != w[2].data() + w[2].size())
                return r->FailHeader(lineNo, "bad element count '" + w[2] + "'");
            elements->push_back(std::move(e));
        } else if (key == "property") {
            if (elements->empty())
                return r->FailHeader(lineNo, "a property before any element");
            Property p;
            if (w.size() == 5 && w[1] == "list") {
                p.list = true;
                if (!ParseKind(w[2], &p.countKind) || !ParseKind(w[3], &p.kind))
                    return r->FailHeader(lineNo, "unknown property type in '" + text + "'");
                if (IsFloat(p.countKind))
                    return r->FailHeader(lineNo, "a list count must be an integer type");
                p.name = w[4];
            } else if (w.size() == 3) {
                if (!ParseKind(w[1], &p.kind))
                    return r->FailHeader(lineNo, "unknown property type '" + w[1] + "'");
                p.name = w[2];
            } else {
                return r->FailHeader(lineNo, "bad property line: '" + text + "'");
            }
            elements->back().props.push_back(std::move(p));
        } else {
            return r->FailHeader(lineNo, "unknown header line: '" + text + "'");
        }
    }
}

// ---- values -------------------------------------------------------------------

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void SkipSpace(Reader *r)
{
    const std::string &d = r->data;
    while (r->pos < d.size() && IsSpace(d[r->pos])) {
        if (d[r->pos] == '\n')
            r->line++;
        r->pos++;
    }
}

// The next ASCII token; false at the end of the data.
bool NextToken(Reader *r, std::string_view *token)
{
    const std::string &d = r->data;
    SkipSpace(r);
    if (r->pos >= d.size())
        return false;
    size_t start = r->pos;
    while (r->pos < d.size() && !IsSpace(d[r->pos]))
        r->pos++;
    *token = std::string_view(d.data() + start, r->pos - start);
    return true;
}

bool InRange(Kind k, double v)
{
    switch (k) {
    case Kind::Int8: return v >= -128 && v <= 127;
    case Kind::Uint8: return v >= 0 && v <= 255;
    case Kind::Int16: return v >= -32768 && v <= 32767;
    case Kind::Uint16: return v >= 0 && v <= 65535;
    case Kind::Int32: return v >= -2147483648.0 && v <= 2147483647.0;
    case Kind::Uint32: return v >= 0 && v <= 4294967295.0;
    default: return true;
    }
}

// An item of an element as messages name it ("face 12"). Only made when a
// message needs it: an element's name may be as long as the header, and
// making the text for every item would take time quadratic in the file.
struct ItemName {
    const std::string &element;
    unsigned long long item;
    // Items count from 1 in messages, as the writers and the program count.
    std::string Text() const { return element + " " + std::to_string(item + 1); }
};

// One value of kind `k`, as a double (every PLY integer fits one exactly).
// `what` names it in messages.
bool ReadValue(Reader *r, Kind k, const ItemName &what, double *out)
{
    if (r->encoding == Encoding::Ascii) {
        std::string_view t;
        if (!NextToken(r, &t))
            return r->Fail("the file ends in " + what.Text(), r->pos);
        const char *b = t.data(), *e = t.data() + t.size();
        if (IsFloat(k)) {
            // from_chars takes "nan" and "inf": a number starts with a digit,
            // a sign or a dot
            const char *s = b + ((b < e && (*b == '-' || *b == '+')) ? 1 : 0);
            if (s < e && *b == '+')
                b++;
            bool ok = s < e && (std::isdigit((unsigned char)*s) || *s == '.');
            if (k == Kind::Float32) {
                float f = 0;
                auto res = std::from_chars(b, e, f);
                ok = ok && res.ec == std::errc() && res.ptr == e;
                *out = f;
            } else {
                auto res = std::from_chars(b, e, *out);
                ok = ok && res.ec == std::errc() && res.ptr == e;
            }
            if (!ok)
                return r->Fail("not a number for " + what.Text() + ": '" + std::string(t) + "'", r->pos);
            return true;
        }
        long long v = 0;
        auto res = std::from_chars(b, e, v);
        if (res.ec != std::errc() || res.ptr != e || !InRange(k, (double)v))
            return r->Fail("not an integer of its type for " + what.Text() + ": '" + std::string(t) + "'",
                           r->pos);
        *out = (double)v;
        return true;
    }
    const size_t size = SizeOf(k);
    if (r->data.size() - r->pos < size)
        return r->Fail("the file ends in " + what.Text(), r->pos);
    unsigned char bytes[8];
    std::memcpy(bytes, r->data.data() + r->pos, size);
    r->pos += size;
    // host order is little-endian on every target built
    if (r->encoding == Encoding::BigEndian)
        for (size_t i = 0; i < size / 2; i++)
            std::swap(bytes[i], bytes[size - 1 - i]);
    switch (k) {
    case Kind::Int8: *out = (int8_t)bytes[0]; break;
    case Kind::Uint8: *out = bytes[0]; break;
    case Kind::Int16: {
        int16_t v;
        std::memcpy(&v, bytes, 2);
        *out = v;
        break;
    }
    case Kind::Uint16: {
        uint16_t v;
        std::memcpy(&v, bytes, 2);
        *out = v;
        break;
    }
    case Kind::Int32: {
        int32_t v;
        std::memcpy(&v, bytes, 4);
        *out = v;
        break;
    }
    case Kind::Uint32: {
        uint32_t v;
        std::memcpy(&v, bytes, 4);
        *out = v;
        break;
    }
    case Kind::Float32: {
        float v;
        std::memcpy(&v, bytes, 4);
        *out = v;
        break;
    }
    case Kind::Float64: std::memcpy(out, bytes, 8); break;
    }
    return true;
}

// ---- elements -------------------------------------------------------------------

// A face as read, its indices staged in order in one array: the faces may
// come before the vertices they name.
struct Face {
    size_t at;  // byte offset (binary) or line (ASCII) of the face
    unsigned count;
};

// The least number of bytes one item of `e` takes in the file.
size_t MinItemBytes(const Element &e, Encoding enc)
{
    size_t n = 0;
    for (const Property &p : e.props)
        n += enc == Encoding::Ascii ? 2 : SizeOf(p.list ? p.countKind : p.kind);
    return n;
}

bool ReadElement(Reader *r, const Element &e, std::vector<Face> *faces, std::vector<int32_t> *indices)
{
    const bool isVertex = e.name == "vertex";
    const bool isFace = e.name == "face";
    int coord[3] = {-1, -1, -1};
    int faceList = -1;
    for (size_t i = 0; i < e.props.size(); i++) {
        const Property &p = e.props[i];
        if (isVertex && !p.list && (p.name == "x" || p.name == "y" || p.name == "z"))
            coord[p.name[0] - 'x'] = (int)i;
        if (isFace && p.list && faceList < 0 && (p.name == "vertex_indices" || p.name == "vertex_index"))
            faceList = (int)i;
    }
    if (isVertex && (coord[0] < 0 || coord[1] < 0 || coord[2] < 0))
        return r->FailHeader(e.headerLine, "the vertex element needs x, y and z properties");
    if (isFace && faceList < 0)
        return r->FailHeader(e.headerLine, "the face element needs a vertex_indices list");
    // A count the rest of the file cannot hold is refused before anything is
    // kept for it.
    const size_t minBytes = MinItemBytes(e, r->encoding);
    const size_t room = r->data.size() - r->pos;
    if (minBytes > 0 && e.count > room / minBytes)
        return r->FailHeader(e.headerLine, "element '" + e.name + "' declares " + std::to_string(e.count) +
                                               " items, more than the rest of the file holds");
    const long long count = (long long)std::min<unsigned long long>(e.count, LLONG_MAX);
    const std::string fault = isVertex ? BudgetFault(*r->budget, 0, count, 0, 0)
                              : isFace ? BudgetFault(*r->budget, 3 * count, 0, count, 0)
                                       : std::string();
    if (!fault.empty())
        return r->FailHeader(e.headerLine, "element '" + e.name + "' of " + std::to_string(e.count) +
                                               " items makes " + fault);
    if (isVertex) {
        if (e.count > (unsigned long long)INT_MAX)
            return r->FailHeader(e.headerLine, "too many vertices");
        r->mesh->points.reserve((size_t)e.count);
    }
    if (e.props.empty())
        return true;
    for (unsigned long long item = 0; item < e.count; item++) {
        if (r->encoding == Encoding::Ascii)
            SkipSpace(r);
        const ItemName what{e.name, item};
        double xyz[3] = {0, 0, 0};
        const size_t itemAt = r->encoding == Encoding::Ascii ? (size_t)r->line : r->pos;
        for (size_t i = 0; i < e.props.size(); i++) {
            const Property &p = e.props[i];
            double value = 0;
            if (!p.list) {
                if (!ReadValue(r, p.kind, what, &value))
                    return false;
                for (int k = 0; k < 3; k++)
                    if ((int)i == coord[k])
                        xyz[k] = value;
                continue;
            }
            const size_t countAt = r->pos;
            double count = 0;
            if (!ReadValue(r, p.countKind, what, &count))
                return false;
            if ((int)i == faceList) {
                if (count < 1 || count > 255)
                    return r->Fail("face " + std::to_string(item + 1) + " has a list count of " +
                                       MeshFormatDouble(count) + " (1 to 255 allowed)",
                                   countAt);
                if (count < 3)
                    return r->Fail("face " + std::to_string(item + 1) + " has " + MeshFormatDouble(count) +
                                       " points (at least 3 needed)",
                                   countAt);
                if ((long long)(indices->size() + (size_t)count) > r->budget->corners)
                    return r->Fail("face " + std::to_string(item) + " makes " +
                                       BudgetFault(*r->budget, (long long)(indices->size() + (size_t)count),
                                                   0, 0, 0),
                                   countAt);
                faces->push_back({itemAt, (unsigned)count});
            } else if (count < 0 || (r->encoding != Encoding::Ascii &&
                                     count * (double)SizeOf(p.kind) > (double)(r->data.size() - r->pos))) {
                return r->Fail("bad list count " + MeshFormatDouble(count) + " in " + what.Text(), countAt);
            }
            for (double k = 0; k < count; k++) {
                if (!ReadValue(r, p.kind, what, &value))
                    return false;
                if ((int)i != faceList)
                    continue;
                if (value >= 0 && value <= INT_MAX && value == std::floor(value)) {
                    indices->push_back((int32_t)value);
                } else {
                    if (r->badIndexAt == SIZE_MAX) {
                        r->badIndexAt = indices->size();
                        r->badIndex = value;
                    }
                    indices->push_back(-1);
                }
            }
        }
        if (isVertex) {
            if (!std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2]))
                return r->Fail("vertex " + std::to_string(item + 1) + " has a coordinate that is not finite",
                               itemAt);
            r->mesh->points.push_back({xyz[0], xyz[1], xyz[2]});
        }
    }
    return true;
}

// Whether the vertex element carries properties that belong to a corner
// rather than a point: texture coordinates, normals, colours. Exporters
// split a point wherever these differ between its corners (a UV seam, a
// hard edge), which leaves the mesh open along the split.
bool HasPerCornerProperties(const Element &vertex)
{
    static const char *const kNames[] = {
        "u",  "v",  "s",  "t",           "texture_u",     "texture_v",   "texture_s", "texture_t",
        "nx", "ny", "nz", "red",         "green",         "blue",        "alpha",     "r",
        "g",  "b",  "a",  "diffuse_red", "diffuse_green", "diffuse_blue"};
    for (const Property &p : vertex.props)
        for (const char *name : kNames)
            if (p.name == name)
                return true;
    return false;
}

// Points at one position welded into one, in first-use order; a polygon
// that the weld leaves with one point twice in a row keeps it once, and one
// left with fewer than three points is dropped (counted as collapsed).
void WeldPoints(MeshData *mesh, MeshReadInfo *info)
{
    MeshData welded;
    PointWeld weld;
    weld.mesh = &welded;
    std::vector<int> to(mesh->points.size());
    for (size_t i = 0; i < mesh->points.size(); i++)
        to[i] = PointWeldAdd(&weld, mesh->points[i][0], mesh->points[i][1], mesh->points[i][2]);
    info->welded = (int)(mesh->points.size() - welded.points.size());
    if (info->welded == 0)
        return;
    welded.surfaces = mesh->surfaces;
    std::vector<int> points;
    for (size_t i = 0; i < MeshPolyCount(*mesh); i++) {
        points.clear();
        for (int p : MeshPolyPoints(*mesh, i)) {
            const int q = to[(size_t)p];
            if (points.empty() || points.back() != q)
                points.push_back(q);
        }
        while (points.size() > 1 && points.back() == points.front())
            points.pop_back();
        if (points.size() < 3) {
            info->collapsed++;
            continue;
        }
        MeshAddPoly(&welded, points, mesh->polySurface[i], MeshPolySelected(*mesh, i));
    }
    *mesh = std::move(welded);
}

}  // namespace

bool ReadPly(const std::string &data, const std::string &name, bool weld, MeshData *mesh, MeshReadInfo *info,
             std::string *error, const MeshBudget &budget)
{
    Reader r{data, name, mesh, error};
    r.budget = &budget;
    std::vector<Element> elements;
    if (!ReadHeader(&r, &elements))
        return false;
    std::vector<Face> faces;
    std::vector<int32_t> indices;
    int faceElements = 0, vertexElements = 0;
    for (const Element &e : elements) {
        if (e.name == "vertex" && vertexElements++ > 0)
            return r.FailHeader(e.headerLine, "a second vertex element");
        if (e.name == "face" && faceElements++ > 0)
            return r.FailHeader(e.headerLine, "a second face element");
        if (!ReadElement(&r, e, &faces, &indices))
            return false;
    }
    // The faces may come before the vertices: their indices are checked
    // once both are read.
    // The face lists are read into one array already: it becomes the
    // mesh's, once every index in it is known to name a point.
    const int32_t points = (int32_t)mesh->points.size();
    MeshClearPolys(mesh);
    mesh->polyStart.reserve(faces.size() + 1);
    const int surface = MeshInternSurface(mesh, "Default");
    size_t first = 0;
    for (size_t f = 0; f < faces.size(); f++) {
        for (unsigned k = 0; k < faces[f].count; k++) {
            const int32_t v = indices[first + k];
            if (v < 0 || v >= points) {
                if (r.encoding == Encoding::Ascii)
                    r.line = (int)faces[f].at;
                // The index is the file's own, which counts from 0.
                const double named = v < 0 ? r.badIndex : (double)v;
                return r.Fail("face " + std::to_string(f + 1) + " names vertex index " +
                                  MeshFormatDouble(named) + " (the file has " +
                                  std::to_string(mesh->points.size()) + " vertices, indexed from 0)",
                              faces[f].at);
            }
        }
        first += faces[f].count;
        mesh->polyStart.push_back(first);
    }
    indices.resize(first);
    static_assert(std::is_same<int32_t, int>::value,
                  "the face lists become the mesh's index array as they are");
    mesh->polyPoints = std::move(indices);
    mesh->polySurface.assign(faces.size(), surface);
    mesh->polySelected.assign(faces.size(), 0);
    for (const Element &e : elements)
        if (weld && e.name == "vertex" && HasPerCornerProperties(e))
            WeldPoints(mesh, info);
    return true;
}

bool PlyBytes(const MeshData &mesh, const std::string &name, std::string *out, std::string *error)
{
    for (size_t f = 0; f < MeshPolyCount(mesh); f++) {
        if (MeshPolyPoints(mesh, f).size() > 255) {
            if (error)
                *error = name + ": polygon " + std::to_string(f + 1) + " has " +
                         std::to_string(MeshPolyPoints(mesh, f).size()) +
                         " points; a PLY face holds at most 255";
            return false;
        }
    }
    out->clear();
    *out += "ply\nformat binary_little_endian 1.0\ncomment written by corvane\n";
    *out += "element vertex " + std::to_string(mesh.points.size()) + "\n";
    *out += "property double x\nproperty double y\nproperty double z\n";
    *out += "element face " + std::to_string(MeshPolyCount(mesh)) + "\n";
    *out += "property list uchar int vertex_indices\nend_header\n";
    size_t at = out->size();
    const size_t corners = mesh.polyPoints.size();
    out->resize(at + mesh.points.size() * 24 + MeshPolyCount(mesh) + corners * 4);
    char *p = &(*out)[0];
    for (const auto &pt : mesh.points) {
        std::memcpy(p + at, pt.data(), 24);
        at += 24;
    }
    for (size_t f = 0; f < MeshPolyCount(mesh); f++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, f);
        p[at++] = (char)(unsigned char)poly.size();
        for (int v : poly) {
            const int32_t i = v;
            std::memcpy(p + at, &i, 4);
            at += 4;
        }
    }
    return true;
}
