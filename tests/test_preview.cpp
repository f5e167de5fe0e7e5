// Preview pictures: what a user must be able to see in them (distinct face
// shades, tinted new polygons only in the output half, back faces in their
// own colour, one framing for both halves, captions), the PNG file read back
// with an independent decoder, and the argument parsing. Pictures are
// checked through properties of their pixels, never against stored images.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "cli/preview/preview.h"
#include "fixtures.h"
#include "meshgen/meshgen.h"
#include "tests/files.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb/stb_image.h>

namespace {

enum class Kind { Background, Divider, Text, Front, Tinted, Reshaped, Back, Other };

struct Rgb {
    int r, g, b;
    bool operator<(const Rgb &o) const { return r != o.r ? r < o.r : g != o.g ? g < o.g : b < o.b; }
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb At(const PreviewImage &image, int x, int y)
{
    const unsigned char *p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    return Rgb{p[0], p[1], p[2]};
}

bool Is(const Rgb &c, const PreviewColour &p)
{
    return c.r == p.r && c.g == p.g && c.b == p.b;
}

// A face pixel is its base colour times some shade (outlines included), up to
// rounding: the base that fits best with a residual of at most 2.5 wins.
Kind Classify(const Rgb &c)
{
    if (Is(c, kPreviewBackground))
        return Kind::Background;
    if (Is(c, kPreviewDivider))
        return Kind::Divider;
    if (Is(c, kPreviewText))
        return Kind::Text;
    const PreviewColour bases[4] = {kPreviewFront, kPreviewTinted, kPreviewReshaped, kPreviewBack};
    const Kind kinds[4] = {Kind::Front, Kind::Tinted, Kind::Reshaped, Kind::Back};
    Kind best = Kind::Other;
    double bestResidual = 2.5;
    for (int k = 0; k < 4; k++) {
        const double br = bases[k].r, bg = bases[k].g, bb = bases[k].b;
        const double s = (c.r * br + c.g * bg + c.b * bb) / (br * br + bg * bg + bb * bb);
        const double residual =
            std::max({std::fabs(c.r - s * br), std::fabs(c.g - s * bg), std::fabs(c.b - s * bb)});
        if (residual <= bestResidual) {
            bestResidual = residual;
            best = kinds[k];
        }
    }
    return best;
}

// The columns of a half: the left one from 0, the right one after the
// divider column.
struct Half {
    int x0, x1;
};
Half LeftHalf(const PreviewImage &image)
{
    return Half{0, image.width / 2};
}
Half RightHalf(const PreviewImage &image)
{
    return Half{image.width - image.width / 2 + 1, image.width};
}

int CountKind(const PreviewImage &image, Half half, Kind kind)
{
    int n = 0;
    for (int y = 0; y < image.height; y++)
        for (int x = half.x0; x < half.x1; x++)
            n += Classify(At(image, x, y)) == kind;
    return n;
}

// Colours of `kind` that fill at least `minPixels` pixels whose four
// neighbours have the same colour (face interiors, not outlines or text).
std::map<Rgb, int> InteriorColours(const PreviewImage &image, Half half, Kind kind, int minPixels = 100)
{
    std::map<Rgb, int> counts;
    for (int y = 1; y + 1 < image.height; y++) {
        for (int x = half.x0 + 1; x + 1 < half.x1; x++) {
            const Rgb c = At(image, x, y);
            if (Classify(c) != kind || !(At(image, x - 1, y) == c) || !(At(image, x + 1, y) == c) ||
                !(At(image, x, y - 1) == c) || !(At(image, x, y + 1) == c))
                continue;
            counts[c]++;
        }
    }
    for (auto it = counts.begin(); it != counts.end();)
        it = it->second < minPixels ? counts.erase(it) : std::next(it);
    return counts;
}

// Bounding box of the drawn (non-background, non-text) pixels of a half.
struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    int Width() const { return x1 - x0 + 1; }
    int Height() const { return y1 - y0 + 1; }
};
Box DrawnBox(const PreviewImage &image, Half half)
{
    Box box;
    for (int y = 0; y < image.height; y++)
        for (int x = half.x0; x < half.x1; x++) {
            const Kind k = Classify(At(image, x, y));
            if (k == Kind::Background || k == Kind::Text || k == Kind::Divider)
                continue;
            box.x0 = std::min(box.x0, x - half.x0);
            box.x1 = std::max(box.x1, x - half.x0);
            box.y0 = std::min(box.y0, y);
            box.y1 = std::max(box.y1, y);
        }
    return box;
}

PreviewImage Render(const MeshData &before, const MeshData &after, const std::vector<bool> &tintAfter = {},
                    PreviewOptions options = {})
{
    PreviewMesh a;
    a.mesh = &before;
    PreviewMesh b;
    b.mesh = &after;
    b.tinted = tintAfter;
    return RenderPreview(a, b, options);
}

// The cube with its +y face (polygon 3) replaced by two quads, appended at
// the end: the only polygons a run would have created.
MeshData CubeWithSplitTop()
{
    MeshData mesh = MakeCube();
    // +y face: points 2, 6, 7, 3 (y = 1); split at x = 0.5.
    mesh.points.push_back({0.5, 1.0, 0.0});  // 8
    mesh.points.push_back({0.5, 1.0, 1.0});  // 9
    MeshFace a = MeshFacesOf(mesh)[3], b = MeshFacesOf(mesh)[3];
    a.points = {2, 6, 9, 8};
    b.points = {8, 9, 7, 3};
    mesh = MakeWithout(mesh, {3});
    MeshPutFace(&mesh, a);
    MeshPutFace(&mesh, b);
    return mesh;
}

MeshData Reversed(MeshData mesh, size_t poly)
{
    std::vector<int> turned = MeshPolyPoints(mesh, poly).ToVector();
    std::reverse(turned.begin(), turned.end());
    MeshSetFacePoints(&mesh, poly, turned);
    return mesh;
}

}  // namespace

// ---- what the picture shows ---------------------------------------------

TEST(PreviewPicture, CubeShowsThreeShadesLitFromUpperLeftInBothHalves)
{
    const MeshData cube = MakeCube();
    const PreviewImage image = Render(cube, cube);
    ASSERT_EQ(image.width, 1200);
    ASSERT_EQ(image.height, 600);
    for (Half half : {LeftHalf(image), RightHalf(image)}) {
        SCOPED_TRACE("half from column " + std::to_string(half.x0));
        const std::map<Rgb, int> shades = InteriorColours(image, half, Kind::Front);
        ASSERT_EQ(shades.size(), 3u) << "the default view shows three faces of a box";
        EXPECT_EQ(CountKind(image, half, Kind::Tinted), 0);
        EXPECT_EQ(CountKind(image, half, Kind::Back), 0);
        EXPECT_EQ(CountKind(image, half, Kind::Other), 0);

        // Light from the upper left: the brightest face is the top one, the
        // darkest the right one.
        std::vector<std::pair<int, Rgb>> byBrightness;
        for (const auto &entry : shades)
            byBrightness.push_back({entry.first.r + entry.first.g + entry.first.b, entry.first});
        std::sort(byBrightness.begin(), byBrightness.end(),
                  [](const auto &a, const auto &b) { return a.first < b.first; });
        double meanX[3] = {0, 0, 0}, meanY[3] = {0, 0, 0};
        int n[3] = {0, 0, 0};
        for (int y = 0; y < image.height; y++)
            for (int x = half.x0; x < half.x1; x++)
                for (int k = 0; k < 3; k++)
                    if (At(image, x, y) == byBrightness[k].second) {
                        meanX[k] += x;
                        meanY[k] += y;
                        n[k]++;
                    }
        for (int k = 0; k < 3; k++) {
            meanX[k] /= n[k];
            meanY[k] /= n[k];
        }
        EXPECT_LT(meanY[2], meanY[0]) << "brightest face above the darkest";
        EXPECT_LT(meanY[2], meanY[1]) << "brightest face above the middle one";
        EXPECT_GT(meanX[0], meanX[1]) << "darkest face right of the middle one";
    }
}

TEST(PreviewPicture, BothHalvesShareOneFraming)
{
    // The same mesh on both sides draws the same pixels in both halves.
    const MeshData cube = MakeCube();
    const PreviewImage same = Render(cube, cube);
    const int offset = same.width - same.width / 2;
    int differing = 0;
    for (int y = 0; y < same.height - 40; y++)
        for (int x = 1; x < same.width / 2; x++)
            differing += !(At(same, x, y) == At(same, x + offset, y));
    EXPECT_EQ(differing, 0);

    // A cube twice the size on the right is drawn twice as large: the frame
    // is fitted to both meshes together.
    const PreviewImage grown = Render(MakeCube(0.0, 1.0), MakeCube(0.0, 2.0));
    const Box small = DrawnBox(grown, LeftHalf(grown));
    const Box large = DrawnBox(grown, RightHalf(grown));
    EXPECT_NEAR(large.Width(), 2.0 * small.Width(), 3.0);
    EXPECT_NEAR(large.Height(), 2.0 * small.Height(), 3.0);
}

TEST(PreviewPicture, FramingFitsTheBoundingBoxWhateverItsSize)
{
    // Scaling by a power of two is exact in every step, so nothing changes.
    const PreviewImage unit = Render(MakeCube(0.0, 1.0), MakeCube(0.0, 1.0));
    const PreviewImage big = Render(MakeCube(0.0, 8.0), MakeCube(0.0, 8.0));
    EXPECT_TRUE(unit.rgb == big.rgb);

    // The box fills its half up to a margin, horizontally or vertically.
    const Box box = DrawnBox(unit, LeftHalf(unit));
    const int half = unit.width / 2;
    EXPECT_GT(box.x0, 0);
    EXPECT_LT(box.x1, half - 1);
    EXPECT_GT(box.y0, 0);
    EXPECT_TRUE(box.Width() > 0.8 * half || box.Height() > 0.8 * (unit.height - 40))
        << box.Width() << " x " << box.Height();
    EXPECT_NEAR(box.x0 + box.x1, half - 1, 2.0) << "centred";

    // A flat mesh seen edge-on and a single point do not break the frame.
    MeshData flat = MakeQuadGrid(2, 2);
    PreviewOptions side;
    side.azimuthDeg = 90.0;
    side.elevationDeg = 0.0;
    const PreviewImage edgeOn = Render(flat, flat, {}, side);
    EXPECT_EQ(CountKind(edgeOn, LeftHalf(edgeOn), Kind::Other), 0);
    MeshData dot;
    dot.points.push_back({1.0, 2.0, 3.0});
    const PreviewImage lone = Render(dot, dot);
    EXPECT_EQ(DrawnBox(lone, LeftHalf(lone)).x1, -1) << "no polygon, nothing drawn";
}

TEST(PreviewPicture, TintedPolygonsShowOnlyWhereMarked)
{
    const MeshData input = MakeCube();
    const MeshData output = CubeWithSplitTop();
    const std::vector<bool> changed = ChangedPolygons(input, output);
    ASSERT_EQ(changed, (std::vector<bool>{false, false, false, false, false, true, true}));

    const PreviewImage image = Render(input, output, changed);
    EXPECT_EQ(CountKind(image, LeftHalf(image), Kind::Tinted), 0);
    ASSERT_GT(CountKind(image, RightHalf(image), Kind::Tinted), 1000);
    // Both new quads lie in one plane: one tinted shade, and the two faces
    // left untouched keep two untinted shades.
    EXPECT_EQ(InteriorColours(image, RightHalf(image), Kind::Tinted).size(), 1u);
    EXPECT_EQ(InteriorColours(image, RightHalf(image), Kind::Front).size(), 2u);

    // Every tinted pixel covers what the input shows as its top face (the
    // brightest shade, or an outline around it).
    const std::map<Rgb, int> inputShades = InteriorColours(image, LeftHalf(image), Kind::Front);
    const Rgb top =
        std::max_element(inputShades.begin(), inputShades.end(), [](const auto &a, const auto &b) {
            return a.first.r + a.first.g < b.first.r + b.first.g;
        })->first;
    const int offset = image.width - image.width / 2;
    int tintedOverTop = 0, tintedElsewhere = 0;
    for (int y = 0; y < image.height; y++)
        for (int x = RightHalf(image).x0; x < image.width; x++) {
            if (Classify(At(image, x, y)) != Kind::Tinted)
                continue;
            if (At(image, x - offset, y) == top)
                tintedOverTop++;
            else if (Classify(At(image, x - offset, y)) != Kind::Front)
                tintedElsewhere++;
        }
    EXPECT_GT(tintedOverTop, 1000);
    EXPECT_EQ(tintedElsewhere, 0);
}

TEST(PreviewPicture, ChamferOfTwoPolygonsIsTintedOnlyInTheOutput)
{
    // A real run: the +z and +x faces of a cube selected, their shared
    // vertical edge (front right in the default view) chamfered.
    const MeshData cube = MakeCube();
    std::unique_ptr<EmuHost> host = HostWithMeshes(WithSelected(cube, {1, 5}));
    host->script.bevelSize = 0.125;
    ASSERT_EQ(RunLinkedModule(host.get()), HOST_ACTIVATE_OK);
    const MeshData output = EmuHostLayerMesh(host.get(), 1);
    const std::vector<bool> changed = ChangedPolygons(cube, output);
    ASSERT_EQ(changed.size(), MeshPolyCount(output));
    const int created = static_cast<int>(std::count(changed.begin(), changed.end(), true));
    ASSERT_GT(created, 0) << "the strip and the cut faces are new";
    ASSERT_LT(created, static_cast<int>(changed.size())) << "the faces away from the edge stay";

    const PreviewImage image = Render(cube, output, changed);
    EXPECT_EQ(CountKind(image, LeftHalf(image), Kind::Tinted), 0);
    EXPECT_GT(CountKind(image, RightHalf(image), Kind::Tinted), 1000);
    EXPECT_EQ(CountKind(image, RightHalf(image), Kind::Back), 0) << "a closed, outward solid";
    // The strip faces between the two cut faces: a fourth visible shade.
    EXPECT_GE(InteriorColours(image, RightHalf(image), Kind::Tinted, 20).size(), 3u);
}

TEST(PreviewChanged, FacesCutBackInTheirPlaneAreToldFromNewPolygons)
{
    // Object mode rebuilds every polygon: the six inset faces stay in the
    // cube's planes, the strips and corner patches lie in none of them.
    const MeshData cube = MakeCube();
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    EmuHostAddMesh(host.get(), 2, cube);
    host->script.bevelSize = 0.125;
    ASSERT_EQ(RunLinkedModule(host.get()), HOST_ACTIVATE_OK);
    const MeshData output = EmuHostLayerMesh(host.get(), 1);
    ASSERT_EQ(MeshPolyCount(output), 26u);
    const std::vector<bool> inPlane = InInputPlanes(cube, output);
    int faces = 0;
    for (size_t i = 0; i < MeshPolyCount(output); i++) {
        faces += inPlane[i] ? 1 : 0;
        EXPECT_EQ(inPlane[i], MeshPolyPoints(output, i).size() == 4 && i < 6) << "polygon " << i;
    }
    EXPECT_EQ(faces, 6);
}

TEST(PreviewPicture, FlippedPolygonShowsTheBackColour)
{
    const MeshData cube = MakeCube();
    // Polygon 1 is the +z face, in view from the default camera.
    const PreviewImage image = Render(cube, Reversed(cube, 1));
    EXPECT_EQ(CountKind(image, LeftHalf(image), Kind::Back), 0);
    EXPECT_GT(CountKind(image, RightHalf(image), Kind::Back), 1000);
    EXPECT_EQ(InteriorColours(image, RightHalf(image), Kind::Back).size(), 1u);
    EXPECT_EQ(InteriorColours(image, RightHalf(image), Kind::Front).size(), 2u);

    // A flipped polygon that is also tinted still shows as flipped.
    const PreviewImage tinted = Render(cube, Reversed(cube, 1), std::vector<bool>(6, true));
    EXPECT_GT(CountKind(tinted, RightHalf(tinted), Kind::Back), 1000);

    // An open grid faces +z: seen from behind it is all back colour.
    const MeshData grid = MakeQuadGrid(3, 2);
    PreviewOptions behind;
    behind.azimuthDeg = 215.0;
    const PreviewImage back = Render(grid, grid, {}, behind);
    EXPECT_EQ(CountKind(back, LeftHalf(back), Kind::Front), 0);
    EXPECT_GT(CountKind(back, LeftHalf(back), Kind::Back), 1000);
}

TEST(PreviewPicture, OutlinesSeparateNeighbouringPolygons)
{
    // Two coplanar quads have one shade; the outline between them is what
    // tells them apart.
    const MeshData grid = MakeQuadGrid(2, 1);
    PreviewOptions front;
    front.azimuthDeg = 0.0;
    front.elevationDeg = 0.0;  // looking along -z at the grid's front
    const PreviewImage image = Render(grid, grid, {}, front);
    const int y = (image.height - 40) / 2;
    const Box box = DrawnBox(image, LeftHalf(image));
    const int mid = (box.x0 + box.x1) / 2;
    const Rgb face = At(image, box.x0 + 20, y);
    int darkerNearMiddle = 0;
    for (int x = mid - 2; x <= mid + 2; x++) {
        const Rgb c = At(image, x, y);
        if (Classify(c) == Kind::Front && c.r < face.r)
            darkerNearMiddle++;
    }
    EXPECT_GE(darkerNearMiddle, 1);
    EXPECT_EQ(Classify(At(image, box.x0, y)), Kind::Front);
    EXPECT_LT(At(image, box.x0, y).r, face.r) << "the silhouette is outlined too";
}

TEST(PreviewPicture, ConcavePolygonsKeepTheirNotchAndEdgeOnOnesShow)
{
    // An L as one hexagon, notch at the upper right, starting at the notch's
    // lower end: a fan from there would cover the notch's inner corner.
    MeshData l;
    l.points = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
    MeshAddFace(&l, {2, 3, 4, 5, 0, 1});
    PreviewOptions front;
    front.azimuthDeg = front.elevationDeg = 0.0;
    const PreviewImage image = Render(l, l, {}, front);
    const Box box = DrawnBox(image, LeftHalf(image));
    const int x = box.x0 + box.Width() * 3 / 5, y = box.y0 + box.Height() * 2 / 5;
    EXPECT_EQ(Classify(At(image, x, y)), Kind::Background) << "the notch near its inner corner";
    // Inside, one colour: no pixel centre on a cut between two triangles is
    // left out of both.
    const Rgb face = At(image, box.x0 + 3, box.y1 - 3);
    int holes = 0;
    for (int v = box.y0 + 2; v < box.y1 - 1; v++)
        for (int u = box.x0 + 2; u < box.x0 + box.Width() / 2 - 2; u++)
            holes += At(image, u, v) == face ? 0 : 1;
    EXPECT_EQ(holes, 0);

    // The grid lies in the x-y plane; with y up, looking straight down shows
    // it edge-on: a line across the picture, not an empty one.
    const MeshData grid = MakeQuadGrid(3, 2);
    front.elevationDeg = 90.0;
    const Box line = DrawnBox(Render(grid, grid, {}, front), LeftHalf(image));
    EXPECT_GT(line.Width(), 300);
    EXPECT_LE(line.Height(), 2);
}

TEST(PreviewPicture, CaptionsUnderEachHalf)
{
    const MeshData cube = MakeCube();
    PreviewOptions options;
    options.captionLeft = PreviewCaption("input", cube, nullptr);
    const PreviewImage leftOnly = Render(cube, cube, {}, options);
    const auto textRows = [](const PreviewImage &image, Half half) {
        int top = image.height, count = 0;
        for (int y = 0; y < image.height; y++)
            for (int x = half.x0; x < half.x1; x++)
                if (Classify(At(image, x, y)) == Kind::Text) {
                    top = std::min(top, y);
                    count++;
                }
        return std::make_pair(top, count);
    };
    const auto left = textRows(leftOnly, LeftHalf(leftOnly));
    EXPECT_GT(left.second, 50);
    EXPECT_GT(left.first, DrawnBox(leftOnly, LeftHalf(leftOnly)).y1) << "below the drawing";
    EXPECT_EQ(textRows(leftOnly, RightHalf(leftOnly)).second, 0);

    // Too long for its half: clipped at the divider, never drawn across it.
    options.captionLeft = std::string(400, 'W') + "\xc3\xa9\t";
    const PreviewImage clipped = Render(cube, cube, {}, options);
    const int half = clipped.width / 2;
    for (int y = 0; y < clipped.height; y++)
        EXPECT_TRUE(Is(At(clipped, half, y), kPreviewDivider)) << "row " << y;
    EXPECT_GT(textRows(clipped, LeftHalf(clipped)).second, 1000);
    EXPECT_EQ(textRows(clipped, RightHalf(clipped)).second, 0);
}

TEST(PreviewPicture, DegenerateInputDrawsWhatItCan)
{
    MeshData odd = MakeCube();
    MeshFace twoPoints = MeshFacesOf(odd)[0];
    twoPoints.points = {0, 1};
    MeshFace badIndex = MeshFacesOf(odd)[0];
    badIndex.points = {0, 1, 99};
    MeshFace line = MeshFacesOf(odd)[0];
    line.points = {0, 1, 1};
    MeshPutFace(&odd, twoPoints);
    MeshPutFace(&odd, badIndex);
    MeshPutFace(&odd, line);
    const PreviewImage image = Render(odd, odd, std::vector<bool>(2, true));
    EXPECT_EQ(InteriorColours(image, LeftHalf(image), Kind::Front).size(), 3u);

    const MeshData empty;
    PreviewMesh none;  // no mesh at all
    PreviewMesh blank;
    blank.mesh = &empty;
    PreviewOptions tiny;
    tiny.width = 3;
    tiny.height = 2;
    const PreviewImage small = RenderPreview(none, blank, tiny);
    EXPECT_EQ(small.width, 16);
    EXPECT_EQ(small.height, 16);
    EXPECT_EQ(small.rgb.size(), 16u * 16u * 3u);
}

// ---- files --------------------------------------------------------------

TEST(PreviewFile, PngDecodesAtTheRequestedSize)
{
    const std::string dir = MakeTempDir("preview");
    const std::string path = std::string(dir) + "/cube.png";

    const MeshData cube = MakeCube();
    PreviewOptions options;
    options.width = 641;  // odd: the spare column goes to the divider
    options.height = 333;
    options.captionLeft = "input";
    const PreviewImage image = Render(cube, CubeWithSplitTop(), {}, options);
    ASSERT_EQ(image.width, 641);
    ASSERT_EQ(image.height, 333);
    std::string error;
    ASSERT_TRUE(WritePreviewPng(path, image, &error)) << error;

    int w = 0, h = 0, channels = 0;
    unsigned char *pixels = stbi_load(path.c_str(), &w, &h, &channels, 0);
    ASSERT_NE(pixels, nullptr) << stbi_failure_reason();
    EXPECT_EQ(w, 641);
    EXPECT_EQ(h, 333);
    EXPECT_EQ(channels, 3);
    EXPECT_TRUE(std::equal(image.rgb.begin(), image.rgb.end(), pixels)) << "PNG is lossless";
    stbi_image_free(pixels);

    // The one-call form tints what changed and writes at the asked size; the
    // split top lies in the cube's plane, so it takes the lighter tint.
    options.width = 300;
    options.height = 200;
    ASSERT_TRUE(WritePreview(path, cube, CubeWithSplitTop(), options, &error)) << error;
    pixels = stbi_load(path.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(pixels, nullptr) << stbi_failure_reason();
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    PreviewImage decoded;
    decoded.width = w;
    decoded.height = h;
    decoded.rgb.assign(pixels, pixels + static_cast<size_t>(w) * h * 3);
    stbi_image_free(pixels);
    EXPECT_EQ(CountKind(decoded, LeftHalf(decoded), Kind::Reshaped), 0);
    EXPECT_GT(CountKind(decoded, RightHalf(decoded), Kind::Reshaped), 100);
    EXPECT_EQ(CountKind(decoded, RightHalf(decoded), Kind::Tinted), 0);

    // A folder that does not exist: an error naming the file, nothing left.
    const std::string missing = std::string(dir) + "/no/such/dir/x.png";
    error.clear();
    EXPECT_FALSE(WritePreviewPng(missing, image, &error));
    EXPECT_EQ(error.rfind(missing, 0), 0u) << error;

    unlink(path.c_str());
    EXPECT_EQ(rmdir(dir.c_str()), 0) << "no temporary file left behind";
}

// ---- which polygons a run changed -----------------------------------------

TEST(PreviewChanged, ComparesPositionCyclesNotIndices)
{
    const MeshData cube = MakeCube();

    // Points renumbered and each polygon started at another vertex: unchanged.
    MeshData renumbered;
    for (int k = 7; k >= 0; k--)
        renumbered.points.push_back(cube.points[k]);
    for (MeshFace p : MeshFacesOf(cube)) {
        for (int &index : p.points)
            index = 7 - index;
        std::rotate(p.points.begin(), p.points.begin() + 1, p.points.end());
        MeshPutFace(&renumbered, p);
    }
    EXPECT_EQ(ChangedPolygons(cube, renumbered), std::vector<bool>(6, false));

    // Reversed: changed (a run that flips a polygon has re-shaped it).
    EXPECT_EQ(ChangedPolygons(cube, Reversed(cube, 2)),
              (std::vector<bool>{false, false, true, false, false, false}));

    // One point moved: every polygon through it changed.
    MeshData moved = cube;
    moved.points[7][0] = 1.0 + 1.0 / 1024;
    const std::vector<bool> changed = ChangedPolygons(cube, moved);
    for (size_t k = 0; k < MeshPolyCount(cube); k++) {
        const auto &pts = MeshPolyPoints(cube, k);
        const bool touches = std::find(pts.begin(), pts.end(), 7) != pts.end();
        EXPECT_EQ(changed[k], touches) << "polygon " << k;
    }

    // -0.0 is the same position as 0.0.
    MeshData negativeZero = cube;
    negativeZero.points[0] = {-0.0, -0.0, -0.0};
    EXPECT_EQ(ChangedPolygons(cube, negativeZero), std::vector<bool>(6, false));

    // Against an empty input everything is new.
    EXPECT_EQ(ChangedPolygons(MeshData(), cube), std::vector<bool>(6, true));
}

TEST(PreviewChanged, RepeatedPositionsStillFindTheirRotation)
{
    // A polygon that passes the same position twice has two candidate
    // starts; every rotation must still match.
    MeshData mesh;
    mesh.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}, {0, 1, 0}, {2, 2, 0}};
    MeshFace p;
    p.points = {0, 1, 2, 3, 4, 5};
    MeshPutFace(&mesh, p);
    for (int r = 0; r < 6; r++) {
        MeshData rotated = mesh;
        std::rotate(rotated.polyPoints.begin(), rotated.polyPoints.begin() + r, rotated.polyPoints.end());
        EXPECT_EQ(ChangedPolygons(mesh, rotated), std::vector<bool>{false}) << "rotation " << r;
    }
    // Swapping the two points after the second visit is another polygon.
    MeshData swapped = mesh;
    MeshSetFacePoints(&swapped, 0, {0, 1, 2, 3, 5, 4});
    EXPECT_EQ(ChangedPolygons(mesh, swapped), std::vector<bool>{true});
}

// ---- texts ----------------------------------------------------------------

TEST(PreviewText, CaptionNamesCountsAndOptions)
{
    const MeshData cube = MakeCube();
    EXPECT_EQ(PreviewCaption("input", cube, nullptr), "input: 8 points, 6 polygons");
    MeshData one;
    one.points.push_back({0, 0, 0});
    MeshPutFace(&one, MeshFace());
    EXPECT_EQ(PreviewCaption("x", one, nullptr), "x: 1 point, 1 polygon");

    PreviewRun run{"object", 0.1, 0, 90.0};
    EXPECT_EQ(PreviewCaption("output", cube, &run),
              "output: 8 points, 6 polygons; object mode, size 0.1, angle mode disable");
    // The two-polygon mode takes no angle test.
    run = PreviewRun{"two-polygon", 0.125, 2, 30.0};
    EXPECT_EQ(PreviewCaption("output", cube, &run),
              "output: 8 points, 6 polygons; two-polygon mode, size 0.125");
    run = PreviewRun{"object", 0.125, 2, 30.0};
    EXPECT_EQ(PreviewCaption("output", cube, &run),
              "output: 8 points, 6 polygons; object mode, size 0.125, angle mode gt, limit angle 30");
    run = PreviewRun{"object", 1e-7, 1, 12.5};
    EXPECT_EQ(PreviewCaption("o", cube, &run),
              "o: 8 points, 6 polygons; object mode, size 1e-07, angle mode lt, limit angle 12.5");
    run = PreviewRun{"object", 0.1, 1, 120.0 * 0.017453292519943278 * 57.29577951308239};
    EXPECT_EQ(PreviewCaption("o", cube, &run),
              "o: 8 points, 6 polygons; object mode, size 0.1, angle mode lt, limit angle 120")
        << "the noise of a trip through radians is not shown";
    run = PreviewRun{"object", 2500, 7, 0.0};
    EXPECT_EQ(PreviewCaption("o", cube, &run),
              "o: 8 points, 6 polygons; object mode, size 2500, angle mode disable")
        << "an unknown angle mode reads as disabled";
}

TEST(PreviewText, ParseViewAcceptsTwoAnglesOnly)
{
    double az = -1, el = -1;
    std::string error;
    ASSERT_TRUE(ParseView("35,25", &az, &el, &error)) << error;
    EXPECT_EQ(az, 35.0);
    EXPECT_EQ(el, 25.0);
    ASSERT_TRUE(ParseView(" -120.5 , -90 ", &az, &el, &error)) << error;
    EXPECT_EQ(az, -120.5);
    EXPECT_EQ(el, -90.0);
    ASSERT_TRUE(ParseView("720,90", &az, &el, &error)) << error;

    for (const char *bad :
         {"", "35", "35,", ",25", "35,25,0", "a,b", "35;25", "nan,0", "inf,1", "1e999,0", "35 25"}) {
        az = el = 7.0;
        error.clear();
        EXPECT_FALSE(ParseView(bad, &az, &el, &error)) << bad;
        EXPECT_NE(error.find("AZIMUTH,ELEVATION"), std::string::npos) << bad << ": " << error;
        EXPECT_EQ(az, 7.0);
        EXPECT_EQ(el, 7.0);
    }
    EXPECT_FALSE(ParseView("0,90.5", &az, &el, &error));
    EXPECT_EQ(error, "the elevation must be from -90 to 90 degrees, got 90.5");
}

TEST(PreviewText, ParseSizeAcceptsTwoPixelCounts)
{
    int w = -1, h = -1;
    std::string error;
    ASSERT_TRUE(ParseSize("1200,600", &w, &h, &error)) << error;
    EXPECT_EQ(w, 1200);
    EXPECT_EQ(h, 600);
    ASSERT_TRUE(ParseSize("800x400", &w, &h, &error)) << error;
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 400);
    ASSERT_TRUE(ParseSize("64,4096", &w, &h, &error)) << error;

    for (const char *bad : {"", "1200", "1200,", "12.5,600", "1200,600,1", "1200x600x2", "a,b", "+1200,600",
                            "99999999999,600"}) {
        w = h = 7;
        error.clear();
        EXPECT_FALSE(ParseSize(bad, &w, &h, &error)) << bad;
        EXPECT_NE(error.find("W,H"), std::string::npos) << bad << ": " << error;
        EXPECT_EQ(w, 7);
        EXPECT_EQ(h, 7);
    }
    for (const char *outOfRange : {"63,600", "1200,4097", "-5,600", "0,0"}) {
        EXPECT_FALSE(ParseSize(outOfRange, &w, &h, &error)) << outOfRange;
        EXPECT_NE(error.find("from 64 to 4096"), std::string::npos) << outOfRange << ": " << error;
    }
}
