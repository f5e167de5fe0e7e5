// The preview rasterizer. Each half is drawn in two steps: the polygons are
// fan-triangulated into a depth buffer that keeps, per pixel, the index of
// the nearest polygon; then every pixel takes its polygon's flat colour, and
// pixels where the polygon index changes become the outline. Working from
// the index buffer gives exactly the visible outlines with no depth bias.
#include "cli/preview/preview.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <stb/stb_easy_font.h>

#include "hostapi/angles.h"

namespace {

const double kAmbient = 0.3;
const double kDiffuse = 0.7;
const double kOutlineDarken = 0.5;
const int kMinOutlinedArea = 24;  // pixels

struct Vec {
    double x, y, z;
};

Vec Make(const std::array<double, 3> &p)
{
    return Vec{p[0], p[1], p[2]};
}
double Dot(const Vec &a, const Vec &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(const Vec &a, const Vec &b)
{
    return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Orthographic camera: world point p lands at
//   (centreX + scale (p.right - midRight), centreY - scale (p.up - midUp))
// and lies nearer the viewer the larger p.toward is.
struct Camera {
    Vec right, up, toward;
    double midRight = 0.0, midUp = 0.0;
    double scale = 1.0;
    double centreX = 0.0, centreY = 0.0;
};

// One half's buffers over its drawing area (the caption band excluded).
struct Raster {
    int width = 0, height = 0;
    std::vector<float> depth;  // toward-distance of the nearest surface
    std::vector<int> poly;     // its polygon index, -1 for none
};

struct ScreenPoint {
    double x, y;
    float depth;
};

// The camera axes for a view. The right axis does not depend on the
// elevation, so straight-down and straight-up views stay well defined.
Camera CameraAxes(double azimuthDeg, double elevationDeg)
{
    const double az = azimuthDeg * kRadiansPerDegree;
    const double el = elevationDeg * kRadiansPerDegree;
    Camera cam;
    cam.toward = Vec{std::cos(el) * std::sin(az), std::sin(el), std::cos(el) * std::cos(az)};
    cam.right = Vec{std::cos(az), 0.0, -std::sin(az)};
    cam.up = Cross(cam.toward, cam.right);
    return cam;
}

// Fits the bounding box of both meshes into a width x height area, centred,
// with a margin, so that both halves share one framing.
void FrameBox(Camera *cam, const MeshData *a, const MeshData *b, int width, int height)
{
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    bool any = false;
    for (const MeshData *mesh : {a, b}) {
        if (!mesh)
            continue;
        for (const auto &p : mesh->points) {
            for (int k = 0; k < 3; k++) {
                if (!any || p[k] < lo[k])
                    lo[k] = p[k];
                if (!any || p[k] > hi[k])
                    hi[k] = p[k];
            }
            any = true;
        }
    }
    double minR = 0, maxR = 0, minU = 0, maxU = 0;
    for (int corner = 0; corner < 8; corner++) {
        Vec c{corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1], corner & 4 ? hi[2] : lo[2]};
        double r = Dot(c, cam->right), u = Dot(c, cam->up);
        if (corner == 0 || r < minR)
            minR = r;
        if (corner == 0 || r > maxR)
            maxR = r;
        if (corner == 0 || u < minU)
            minU = u;
        if (corner == 0 || u > maxU)
            maxU = u;
    }
    const double margin = std::max(4.0, 0.06 * std::min(width, height));
    const double roomX = std::max(1.0, width - 2.0 * margin);
    const double roomY = std::max(1.0, height - 2.0 * margin);
    const double extentR = maxR - minR, extentU = maxU - minU;
    double scale = 1.0;
    if (extentR > 0.0 && extentU > 0.0)
        scale = std::min(roomX / extentR, roomY / extentU);
    else if (extentR > 0.0)
        scale = roomX / extentR;
    else if (extentU > 0.0)
        scale = roomY / extentU;
    cam->midRight = (minR + maxR) * 0.5;
    cam->midUp = (minU + maxU) * 0.5;
    cam->scale = scale;
    cam->centreX = width * 0.5;
    cam->centreY = height * 0.5;
}

std::vector<ScreenPoint> ProjectPoints(const Camera &cam, const MeshData &mesh)
{
    std::vector<ScreenPoint> out(mesh.points.size());
    for (size_t i = 0; i < mesh.points.size(); i++) {
        Vec p = Make(mesh.points[i]);
        out[i].x = cam.centreX + cam.scale * (Dot(p, cam.right) - cam.midRight);
        out[i].y = cam.centreY - cam.scale * (Dot(p, cam.up) - cam.midUp);
        out[i].depth = static_cast<float>(Dot(p, cam.toward));
    }
    return out;
}

PreviewColour Shade(const PreviewColour &base, double k)
{
    auto channel = [k](unsigned char c) {
        double v = c * k + 0.5;
        return static_cast<unsigned char>(v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v);
    };
    return PreviewColour{channel(base.r), channel(base.g), channel(base.b)};
}

bool ValidPolygon(MeshPointSpan poly, size_t pointCount)
{
    if (poly.size() < 3)
        return false;
    for (int index : poly)
        if (index < 0 || static_cast<size_t>(index) >= pointCount)
            return false;
    return true;
}

// Newell normal about the first point, which keeps it accurate far from the
// origin.
Vec NewellNormal(const MeshData &mesh, MeshPointSpan poly)
{
    Vec n{0, 0, 0};
    const Vec o = Make(mesh.points[poly[0]]);
    const size_t count = poly.size();
    for (size_t k = 0; k < count; k++) {
        Vec a = Make(mesh.points[poly[k]]);
        Vec b = Make(mesh.points[poly[(k + 1) % count]]);
        a = Vec{a.x - o.x, a.y - o.y, a.z - o.z};
        b = Vec{b.x - o.x, b.y - o.y, b.z - o.z};
        n.x += (a.y - b.y) * (a.z + b.z);
        n.y += (a.z - b.z) * (a.x + b.x);
        n.z += (a.x - b.x) * (a.y + b.y);
    }
    return n;
}

// Flat colour per polygon: the base colour says which side faces the viewer
// and whether the run made the polygon; the shade is Lambert's law for the
// visible side's normal with the light at the viewer's upper left.
std::vector<PreviewColour> PolygonColours(const Camera &cam, const PreviewMesh &view)
{
    const MeshData &mesh = *view.mesh;
    // (-0.5, 1, 2) in camera axes, normalised: up, a little left, toward the viewer.
    const double len = std::sqrt(0.25 + 1.0 + 4.0);
    const Vec light{-0.5 / len, 1.0 / len, 2.0 / len};
    std::vector<PreviewColour> colours(MeshPolyCount(mesh));
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        if (!ValidPolygon(poly, mesh.points.size()))
            continue;
        const Vec n = NewellNormal(mesh, poly);
        const double nlen = std::sqrt(Dot(n, n));
        const bool front = Dot(n, cam.toward) > 0.0;
        double shade = kAmbient;
        if (nlen > 0.0) {
            const double sign = front ? 1.0 : -1.0;
            Vec visible{sign * Dot(n, cam.right) / nlen, sign * Dot(n, cam.up) / nlen,
                        sign * Dot(n, cam.toward) / nlen};
            shade += kDiffuse * std::max(0.0, Dot(visible, light));
        }
        const bool tinted = i < view.tinted.size() && view.tinted[i];
        const bool reshaped = tinted && i < view.reshaped.size() && view.reshaped[i];
        const PreviewColour &base = !front     ? kPreviewBack
                                    : reshaped ? kPreviewReshaped
                                    : tinted   ? kPreviewTinted
                                               : kPreviewFront;
        colours[i] = Shade(base, shade);
    }
    return colours;
}

double EdgeFunction(const ScreenPoint &a, const ScreenPoint &b, double x, double y)
{
    return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
}

// Fills the pixels whose centres lie inside the triangle (edges included)
// where it is nearer than what is there.
void DrawTriangle(Raster *raster, ScreenPoint a, ScreenPoint b, ScreenPoint c, int poly)
{
    double area = EdgeFunction(a, b, c.x, c.y);
    if (area == 0.0 || !std::isfinite(area))
        return;
    if (area < 0.0) {
        std::swap(b, c);
        area = -area;
    }
    // Clamp in doubles before converting: points far off screen (or not
    // finite) must not overflow the integer conversion.
    const double fx0 = std::max(0.0, std::floor(std::min({a.x, b.x, c.x})));
    const double fx1 = std::min(raster->width - 1.0, std::ceil(std::max({a.x, b.x, c.x})));
    const double fy0 = std::max(0.0, std::floor(std::min({a.y, b.y, c.y})));
    const double fy1 = std::min(raster->height - 1.0, std::ceil(std::max({a.y, b.y, c.y})));
    if (!(fx0 <= fx1) || !(fy0 <= fy1))
        return;
    const int x0 = static_cast<int>(fx0), x1 = static_cast<int>(fx1);
    const int y0 = static_cast<int>(fy0), y1 = static_cast<int>(fy1);
    // Edge functions are affine in x: step them along the row.
    const double stepA = -(c.y - b.y), stepB = -(a.y - c.y), stepC = -(b.y - a.y);
    const double inv = 1.0 / area;
    // A pixel centre on an edge that two triangles of one polygon share may
    // land a rounding error outside both: a hole the outline pass would ring.
    const double slack = -1e-9 * area;
    for (int y = y0; y <= y1; y++) {
        const double py = y + 0.5, px = x0 + 0.5;
        double wa = EdgeFunction(b, c, px, py);
        double wb = EdgeFunction(c, a, px, py);
        double wc = EdgeFunction(a, b, px, py);
        const size_t row = static_cast<size_t>(y) * raster->width;
        for (int x = x0; x <= x1; x++, wa += stepA, wb += stepB, wc += stepC) {
            if (wa < slack || wb < slack || wc < slack)
                continue;
            const float z = static_cast<float>((wa * a.depth + wb * b.depth + wc * c.depth) * inv);
            const size_t i = row + x;
            if (z > raster->depth[i]) {
                raster->depth[i] = z;
                raster->poly[i] = poly;
            }
        }
    }
}

// Sets the pixels along the segment where it is nearer than what is there:
// a polygon seen edge-on covers no pixel centre, but still shows as a line.
void DrawLine(Raster *raster, ScreenPoint a, ScreenPoint b, int poly)
{
    const double steps = std::ceil(std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y)));
    if (!std::isfinite(steps) || steps > 4.0 * (raster->width + raster->height))
        return;
    for (int k = 0; k <= static_cast<int>(steps); k++) {
        const double t = steps > 0.0 ? k / steps : 0.0;
        const double x = std::floor(a.x + (b.x - a.x) * t), y = std::floor(a.y + (b.y - a.y) * t);
        if (x < 0.0 || y < 0.0 || x >= raster->width || y >= raster->height)
            continue;
        const float z = static_cast<float>(a.depth + (b.depth - a.depth) * t);
        const size_t i = static_cast<size_t>(y) * raster->width + static_cast<size_t>(x);
        if (z > raster->depth[i]) {
            raster->depth[i] = z;
            raster->poly[i] = poly;
        }
    }
}

// Corner k of a polygon laid into its own plane: the coordinate axis its
// normal leans on most is dropped, the other two taken in the order that
// keeps the polygon counter-clockwise.
struct PlanePoint {
    double u, v;
};
std::vector<PlanePoint> InPlane(const MeshData &mesh, MeshPointSpan poly, const Vec &n)
{
    const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    std::vector<PlanePoint> out;
    out.reserve(poly.size());
    for (int index : poly) {
        const Vec p = Make(mesh.points[index]);
        if (az >= ax && az >= ay)
            out.push_back(n.z > 0.0 ? PlanePoint{p.x, p.y} : PlanePoint{p.y, p.x});
        else if (ax >= ay)
            out.push_back(n.x > 0.0 ? PlanePoint{p.y, p.z} : PlanePoint{p.z, p.y});
        else
            out.push_back(n.y > 0.0 ? PlanePoint{p.z, p.x} : PlanePoint{p.x, p.z});
    }
    return out;
}

double Turn(const PlanePoint &a, const PlanePoint &b, const PlanePoint &c)
{
    return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
}

// The polygon's triangles, as corner numbers. A convex polygon is a fan from
// its first corner; a concave one is cut ear by ear in its own plane, so that
// no triangle covers its notch. What the cutting cannot finish (a polygon
// that crosses itself), or a polygon too large for it, is fanned.
std::vector<std::array<int, 3>> Triangles(const MeshData &mesh, MeshPointSpan poly, const Vec &n)
{
    const int count = static_cast<int>(poly.size());
    std::vector<std::array<int, 3>> out;
    std::vector<int> left(static_cast<size_t>(count));
    for (int k = 0; k < count; k++)
        left[static_cast<size_t>(k)] = k;
    const std::vector<PlanePoint> p = InPlane(mesh, poly, n);
    bool convex = true;
    for (int k = 0; k < count && convex; k++)
        convex = Turn(p[k], p[(k + 1) % count], p[(k + 2) % count]) >= 0.0;
    const int kMaxCut = 1024;  // corners; the cutting takes time in their square
    if (!convex && count <= kMaxCut) {
        while (left.size() > 3) {
            const size_t m = left.size();
            bool cut = false;
            for (size_t k = 0; k < m && !cut; k++) {
                const int a = left[(k + m - 1) % m], b = left[k], c = left[(k + 1) % m];
                if (Turn(p[a], p[b], p[c]) <= 0.0)
                    continue;
                bool empty = true;
                for (size_t j = 0; j < m && empty; j++) {
                    const int q = left[j];
                    if (q == a || q == b || q == c)
                        continue;
                    empty = !(Turn(p[a], p[b], p[q]) >= 0.0 && Turn(p[b], p[c], p[q]) >= 0.0 &&
                              Turn(p[c], p[a], p[q]) >= 0.0);
                }
                if (!empty)
                    continue;
                out.push_back({a, b, c});
                left.erase(left.begin() + static_cast<long>(k));
                cut = true;
            }
            if (!cut)
                break;
        }
    }
    for (size_t k = 1; k + 1 < left.size(); k++)
        out.push_back({left[0], left[k], left[k + 1]});
    return out;
}

void DrawMesh(Raster *raster, const Camera &cam, const MeshData &mesh)
{
    const std::vector<ScreenPoint> screen = ProjectPoints(cam, mesh);
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        if (!ValidPolygon(poly, mesh.points.size()))
            continue;
        const Vec n = NewellNormal(mesh, poly);
        const double nlen = std::sqrt(Dot(n, n));
        if (nlen > 0.0 && std::fabs(Dot(n, cam.toward)) <= 1e-9 * nlen) {
            // Seen edge-on, as a flat mesh seen from its side.
            const size_t count = poly.size();
            for (size_t k = 0; k < count; k++)
                DrawLine(raster, screen[poly[k]], screen[poly[(k + 1) % count]], static_cast<int>(i));
            continue;
        }
        for (const auto &t : Triangles(mesh, poly, n))
            DrawTriangle(raster, screen[poly[t[0]]], screen[poly[t[1]]], screen[poly[t[2]]],
                         static_cast<int>(i));
    }
}

void PutPixel(PreviewImage *image, int x, int y, const PreviewColour &c)
{
    unsigned char *p = &image->rgb[(static_cast<size_t>(y) * image->width + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

// Colours the half at column `left` from its index buffer. A polygon pixel
// is outline when its right or lower neighbour belongs to another polygon
// (one pixel wide between polygons) or when any neighbour is empty (the
// silhouette, drawn on the polygon's side). Polygons that cover only a few
// pixels get no outline of their own: on a dense mesh outlines would cover
// nearly every pixel and hide the shading.
void ResolveHalf(const Raster &raster, const std::vector<PreviewColour> &colours, PreviewImage *image,
                 int left)
{
    const int w = raster.width, h = raster.height;
    std::vector<int> area(colours.size(), 0);
    for (int id : raster.poly)
        if (id >= 0)
            area[id]++;
    auto at = [&](int x, int y) {
        return x < 0 || y < 0 || x >= w || y >= h ? -1 : raster.poly[static_cast<size_t>(y) * w + x];
    };
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const int id = at(x, y);
            if (id < 0)
                continue;
            const bool outline = area[id] >= kMinOutlinedArea && (at(x + 1, y) != id || at(x, y + 1) != id ||
                                                                  at(x - 1, y) < 0 || at(x, y - 1) < 0);
            const PreviewColour &c = colours[id];
            PutPixel(image, left + x, y, outline ? Shade(c, kOutlineDarken) : c);
        }
    }
}

// One caption line in stb's quad font, scaled by a whole factor and clipped
// to the columns [left, right).
void DrawText(PreviewImage *image, const std::string &text, int x, int y, int scale, int left, int right)
{
    if (text.empty())
        return;
    std::vector<char> chars;
    for (char ch : text)
        chars.push_back(ch >= 32 && ch < 127 ? ch : '?');
    chars.push_back('\0');
    // Each quad is 4 vertices of 16 bytes; no glyph has more than 16 quads.
    std::vector<char> quads(chars.size() * 16 * 64);
    const int count =
        stb_easy_font_print(0.0f, 0.0f, chars.data(), nullptr, quads.data(), static_cast<int>(quads.size()));
    for (int q = 0; q < count; q++) {
        // Vertex 0 and vertex 2 are opposite corners; x and y lead each vertex.
        float v0[2], v2[2];
        std::memcpy(v0, &quads[q * 64], sizeof v0);
        std::memcpy(v2, &quads[q * 64 + 32], sizeof v2);
        const int qx0 = x + static_cast<int>(v0[0]) * scale, qx1 = x + static_cast<int>(v2[0]) * scale;
        const int qy0 = y + static_cast<int>(v0[1]) * scale, qy1 = y + static_cast<int>(v2[1]) * scale;
        for (int py = std::max(0, qy0); py < std::min(image->height, qy1); py++)
            for (int px = std::max(left, qx0); px < std::min(right, qx1); px++)
                PutPixel(image, px, py, kPreviewText);
    }
}

int TextWidth(const std::string &text)
{
    std::vector<char> chars;
    for (char ch : text)
        chars.push_back(ch >= 32 && ch < 127 ? ch : '?');
    chars.push_back('\0');
    return stb_easy_font_width(chars.data());
}

}  // namespace

PreviewImage RenderPreview(const PreviewMesh &before, const PreviewMesh &after, const PreviewOptions &options)
{
    PreviewImage image;
    image.width = std::clamp(options.width, 16, 8192);
    image.height = std::clamp(options.height, 16, 8192);
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; y++)
        for (int x = 0; x < image.width; x++)
            PutPixel(&image, x, y, kPreviewBackground);

    // Layout: two halves of equal width (an odd column goes to the divider),
    // a caption band of one text line at the bottom. Both captions share one
    // text size: the large one when the picture is tall enough and both fit.
    const int half = image.width / 2;
    const std::string *captions[2] = {&options.captionLeft, &options.captionRight};
    int textScale = image.height >= 400 ? 2 : 1;
    for (const std::string *caption : captions)
        if (textScale > 1 && TextWidth(*caption) * textScale > half - 1 - 6 * textScale)
            textScale = 1;
    const int pad = 3 * textScale;
    const int band = std::min(image.height / 2, 12 * textScale + 2 * pad);
    const int drawHeight = image.height - band;

    Camera cam = CameraAxes(options.azimuthDeg, options.elevationDeg);
    FrameBox(&cam, before.mesh, after.mesh, half, drawHeight);

    const PreviewMesh *views[2] = {&before, &after};
    const int lefts[2] = {0, image.width - half};
    Raster raster;
    raster.width = half;
    raster.height = drawHeight;
    for (int side = 0; side < 2; side++) {
        raster.depth.assign(static_cast<size_t>(half) * drawHeight, -std::numeric_limits<float>::infinity());
        raster.poly.assign(static_cast<size_t>(half) * drawHeight, -1);
        if (!views[side]->mesh)
            continue;
        DrawMesh(&raster, cam, *views[side]->mesh);
        ResolveHalf(raster, PolygonColours(cam, *views[side]), &image, lefts[side]);
    }

    for (int y = 0; y < image.height; y++)
        PutPixel(&image, half, y, kPreviewDivider);

    for (int side = 0; side < 2; side++) {
        // The right half starts after the divider; text beyond a half's
        // edge is clipped.
        const int left = lefts[side] + (side == 1 ? 1 : 0);
        const int right = side == 0 ? half : image.width;
        const int y = drawHeight + (band - 12 * textScale) / 2 + textScale;
        DrawText(&image, *captions[side], left + pad, y, textScale, left, right);
    }
    return image;
}
