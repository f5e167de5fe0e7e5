// The byte format the activation fuzz target decodes, and an encoder for the
// seed corpus. One input describes one activation: what the host is asked to
// do (services withheld, scans failing, an abort), what the "user" types into
// the options panel, the settings file found on disk, and two meshes, the
// background layer's and the foreground layer's.
//
// Every byte sequence decodes to something: a read past the end gives 0.
// Numbers are coded so that a single mutated byte reaches the values that
// break geometry code: NaN, infinities, huge and tiny magnitudes, coincident
// points on a small grid.
#ifndef CORVANE_FUZZ_ACTIVATE_INPUT_H
#define CORVANE_FUZZ_ACTIVATE_INPUT_H

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "meshgen/meshgen.h"

namespace fuzzin {

// Decoded meshes are cut at this many polygon corners each: the passes are
// quadratic and the weld cubic at worst (every point coincident), and the
// target holds every run to a second.
const int kMaxCorners = 1024;
// The largest polygon the format makes.
const int kMaxPolygon = 300;

// ---- flags ---------------------------------------------------------------

enum {
    // first flag byte
    kSettingsFile = 1 << 0,  // a settings file is on disk, its bytes follow
    kPanelCancel = 1 << 1,
    kPanelCreateFails = 1 << 2,
    kMonitorCreateFails = 1 << 3,
    kNoDirectory = 1 << 4,
    kTypeBevel = 1 << 5,  // a bevel size is typed into the panel
    kTypeAngleMode = 1 << 6,
    kTypeLimit = 1 << 7,
};
enum {
    // second flag byte
    kPolyScanFails = 1 << 0,
    kPointScanFails = 1 << 1,
    kRefuseEdit = 1 << 2,
    kHidePoly = 1 << 3,  // the host gives no polyInfo for one polygon
    kNoPanelService = 1 << 4,
    kNoMessageService = 1 << 5,
};
enum {
    // polygon op byte: low two bits the kind, then flags
    kPolyList = 0,     // explicit point list
    kPolyReverse = 1,  // an earlier polygon, reversed
    kPolyCopy = 2,     // an earlier polygon, rotated
    kPolyRun = 3,      // consecutive point numbers
    kPolySelected = 1 << 2,
    kPolyNoSurface = 1 << 3,
    // bits 4-5: the surface name, kSurfaceNames[(op >> 4) & 3]
};

inline const char *SurfaceName(int k)
{
    static const std::string names[4] = {"Default", "A", "B", std::string(300, 'L')};
    return names[k & 3].c_str();
}

// ---- number coding -------------------------------------------------------

enum {
    kNumGridEnd = 0xE0,  // below: (byte - 0x70) / 4, a small grid
    kNumNaN = 0xE0,
    kNumInf = 0xE1,
    kNumNegInf = 0xE2,
    kNumHuge = 0xE3,  // 1e300
    kNumNegHuge = 0xE4,
    kNumMax = 0xE5,   // DBL_MAX
    kNumTiny = 0xE6,  // 1e-300
    kNumDenormal = 0xE7,
    kNumNegZero = 0xE8,
    kNumLiteral = 0xE9,  // 8 bytes follow (0xE9 to 0xEF)
    kNumNear = 0xF0,     // 0xF0 to 0xFF: (byte - 0xEF) * 1e-9
};

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;

    uint8_t U8() { return at < size ? data[at++] : 0; }
    uint16_t U16()
    {
        uint16_t lo = U8();
        return (uint16_t)(lo | (U8() << 8));
    }
    double Literal()
    {
        uint8_t bytes[8] = {0};
        for (uint8_t &b : bytes)
            b = U8();
        double value;
        memcpy(&value, bytes, sizeof value);
        return value;
    }
    double Number()
    {
        uint8_t kind = U8();
        if (kind < kNumGridEnd)
            return ((int)kind - 0x70) / 4.0;
        switch (kind) {
        case kNumNaN: return std::numeric_limits<double>::quiet_NaN();
        case kNumInf: return HUGE_VAL;
        case kNumNegInf: return -HUGE_VAL;
        case kNumHuge: return 1e300;
        case kNumNegHuge: return -1e300;
        case kNumMax: return DBL_MAX;
        case kNumTiny: return 1e-300;
        case kNumDenormal: return std::numeric_limits<double>::denorm_min();
        case kNumNegZero: return -0.0;
        default: break;
        }
        if (kind < kNumNear)
            return Literal();
        return (kind - 0xEF) * 1e-9;
    }
};

// ---- the decoded activation ----------------------------------------------

struct Activation {
    EmuScript script;  // pluginsDir is set by the target
    std::optional<std::string> settingsFile;
    MeshData background;
    MeshData foreground;
    int hidePoly = -1;  // 0-based over background then foreground
};

inline void DecodeMesh(Reader *in, MeshData *mesh)
{
    int points = in->U8();
    for (int k = 0; k < points; k++) {
        double x = in->Number();
        double y = in->Number();
        double z = in->Number();
        mesh->points.push_back({x, y, z});
    }
    int polys = in->U8();
    int corners = 0;
    for (int k = 0; k < polys; k++) {
        uint8_t op = in->U8();
        MeshFace poly;
        switch (op & 3) {
        case kPolyList: {
            int count = in->U8();
            if (count == 255)
                count += in->U8() % (kMaxPolygon - 254);
            for (int v = 0; v < count; v++) {
                int index = in->U8();
                if (points > 0)
                    poly.points.push_back(index % points);
            }
            break;
        }
        case kPolyReverse:
        case kPolyCopy: {
            int which = in->U8();
            int turn = (op & 3) == kPolyCopy ? in->U8() : 0;
            if (MeshPolyCount(*mesh) == 0)
                break;
            const MeshPointSpan from = MeshPolyPoints(*mesh, which % MeshPolyCount(*mesh));
            poly.points = from.ToVector();
            if ((op & 3) == kPolyReverse) {
                std::reverse(poly.points.begin(), poly.points.end());
            } else if (!from.empty()) {
                for (size_t v = 0; v < from.size(); v++)
                    poly.points[v] = from[(v + (size_t)turn) % from.size()];
            }
            break;
        }
        case kPolyRun: {
            int count = 3 + in->U8() % 8;
            int start = in->U8();
            int step = 1 + in->U8() % 4;
            for (int v = 0; v < count && points > 0; v++)
                poly.points.push_back((start + v * step) % points);
            break;
        }
        }
        if (corners + (int)poly.points.size() > kMaxCorners)
            break;
        corners += (int)poly.points.size();
        poly.selected = (op & kPolySelected) != 0;
        poly.hasSurface = (op & kPolyNoSurface) == 0;
        poly.surface = SurfaceName(op >> 4);
        MeshPutFace(mesh, poly);
    }
}

inline Activation Decode(const uint8_t *data, size_t size)
{
    Reader in{data, size};
    Activation a;
    uint8_t f1 = in.U8();
    uint8_t f2 = in.U8();
    uint8_t monitor = in.U8();
    uint8_t step = in.U8();
    EmuScript &s = a.script;
    s.panelCancel = (f1 & kPanelCancel) != 0;
    s.panelCreateFails = (f1 & kPanelCreateFails) != 0;
    s.monitorCreateFails = (f1 & kMonitorCreateFails) != 0;
    s.noDirectoryService = (f1 & kNoDirectory) != 0;
    s.polyScanError = (f2 & kPolyScanFails) ? 7 : 0;
    s.pointScanError = (f2 & kPointScanFails) ? 9 : 0;
    s.refuseEdit = (f2 & kRefuseEdit) != 0;
    s.noPanelService = (f2 & kNoPanelService) != 0;
    s.noMessageService = (f2 & kNoMessageService) != 0;
    if (monitor != 0xFF) {
        s.abortMonitor = monitor % 8;
        s.abortStep = step;
    }
    if (f1 & kSettingsFile) {
        int length = in.U8() % 41;
        std::string bytes;
        for (int k = 0; k < length; k++)
            bytes.push_back((char)in.U8());
        a.settingsFile = bytes;
    }
    if (f1 & kTypeBevel)
        s.bevelSize = in.Number();
    if (f1 & kTypeAngleMode)
        s.angleMode = (int8_t)in.U8();
    if (f1 & kTypeLimit)
        s.limitAngleRad = in.Number() * 0.017453292519943278;
    if (f2 & kHidePoly)
        a.hidePoly = in.U8();
    DecodeMesh(&in, &a.background);
    DecodeMesh(&in, &a.foreground);
    return a;
}

// ---- encoding, for the seed corpus ----------------------------------------

struct Writer {
    std::vector<uint8_t> bytes;
    void U8(int v) { bytes.push_back((uint8_t)v); }
    // A value on the grid when it is exactly one (not -0), else the literal.
    void Number(double v)
    {
        double g = v * 4.0 + 0x70;
        if (g >= 0 && g < kNumGridEnd && ((int)g - 0x70) / 4.0 == v && !(v == 0.0 && std::signbit(v))) {
            U8((int)g);
            return;
        }
        U8(kNumLiteral);
        uint8_t raw[8];
        memcpy(raw, &v, sizeof raw);
        for (uint8_t b : raw)
            U8(b);
    }
};

struct EncodeOptions {
    uint8_t flags1 = kTypeBevel;
    uint8_t flags2 = 0;
    int abortMonitor = -1;
    int abortStep = 0;
    std::string settingsFile;
    double bevel = 0.125;
    int angleMode = 0;
    double limitDeg = 90.0;
    int hidePoly = 0;
};

// Explicit point lists only; at most 255 points and 255 polygons per mesh.
inline void EncodeMesh(Writer *out, const MeshData &mesh)
{
    out->U8((int)mesh.points.size());
    for (const auto &p : mesh.points) {
        out->Number(p[0]);
        out->Number(p[1]);
        out->Number(p[2]);
    }
    out->U8((int)MeshPolyCount(mesh));
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        int surface = MeshPolySurface(mesh, polyIndex) == "A"   ? 1
                      : MeshPolySurface(mesh, polyIndex) == "B" ? 2
                                                                : 0;
        out->U8(kPolyList | (MeshPolySelected(mesh, polyIndex) ? kPolySelected : 0) |
                (MeshPolyHasSurface(mesh, polyIndex) ? 0 : kPolyNoSurface) | (surface << 4));
        int count = (int)poly.size();
        if (count >= 255) {
            out->U8(255);
            out->U8(count - 255);
        } else {
            out->U8(count);
        }
        for (int v : poly)
            out->U8(v);
    }
}

inline std::vector<uint8_t> Encode(const EncodeOptions &o, const MeshData &background,
                                   const MeshData &foreground)
{
    Writer out;
    uint8_t f1 = o.flags1 | (o.settingsFile.empty() ? 0 : kSettingsFile);
    out.U8(f1);
    out.U8(o.flags2);
    out.U8(o.abortMonitor < 0 ? 0xFF : o.abortMonitor);
    out.U8(o.abortStep);
    if (f1 & kSettingsFile) {
        out.U8((int)o.settingsFile.size());
        for (char c : o.settingsFile)
            out.U8((uint8_t)c);
    }
    if (f1 & kTypeBevel)
        out.Number(o.bevel);
    if (f1 & kTypeAngleMode)
        out.U8(o.angleMode);
    if (f1 & kTypeLimit)
        out.Number(o.limitDeg);
    if (o.flags2 & kHidePoly)
        out.U8(o.hidePoly);
    EncodeMesh(&out, background);
    EncodeMesh(&out, foreground);
    return out.bytes;
}

}  // namespace fuzzin

#endif
