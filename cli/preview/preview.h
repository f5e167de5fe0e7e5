// Preview pictures: the input and the output of a run drawn side by side from
// one camera, for users without a viewport (pipelines, servers). A small
// z-buffered rasterizer draws the polygons flat-shaded (light from the
// viewer's upper left), outlines them, shows back faces in a colour of their
// own, tints the polygons the run created or re-shaped, and writes a caption
// line under each half. The picture is written as PNG.
//
// Conventions: a polygon's front is the side its Newell normal points to
// (counter-clockwise seen from the front); the camera is orthographic, its
// azimuth turns about +y from +z towards +x and its elevation lifts it above
// the x-z plane; the view frames the bounding box of both meshes, the same
// framing for both halves.
#ifndef CORVANE_PREVIEW_H
#define CORVANE_PREVIEW_H

#include <string>
#include <vector>

#include "meshdata/meshdata.h"
#include "run/run.h"  // ChangedPolygons, InInputPlanes

struct PreviewColour {
    unsigned char r, g, b;
};

// The palette. Faces are their base colour times a shade in [0.3, 1];
// outline pixels are the colour of the face they lie on times 0.5, so that
// dense meshes keep their hue.
inline constexpr PreviewColour kPreviewBackground{244, 245, 247};
inline constexpr PreviewColour kPreviewDivider{190, 192, 198};
inline constexpr PreviewColour kPreviewText{30, 30, 34};
inline constexpr PreviewColour kPreviewFront{205, 210, 220};     // untouched polygons
inline constexpr PreviewColour kPreviewTinted{245, 150, 40};     // created by the run
inline constexpr PreviewColour kPreviewReshaped{240, 215, 170};  // re-shaped within an input face
inline constexpr PreviewColour kPreviewBack{200, 40, 170};       // any polygon seen from behind

struct PreviewOptions {
    // The default shows three faces of a box: +x, +y and +z.
    double azimuthDeg = 35.0;
    double elevationDeg = 25.0;
    int width = 1200;  // whole picture, both halves and captions
    int height = 600;
    std::string captionLeft;  // printable ASCII; other bytes show as '?'
    std::string captionRight;
};

// One half's content: the mesh (borrowed) and, per polygon, whether it is
// tinted. A short or empty `tinted` leaves the remaining polygons untinted.
struct PreviewMesh {
    const MeshData *mesh = nullptr;
    std::vector<bool> tinted;
    // Of the tinted polygons, those that only re-shape an input face (they
    // lie in its plane) take the lighter tint, so that the strips, patches
    // and caps the run created stand out from the faces it cut back.
    std::vector<bool> reshaped;
};

// An RGB picture, 8 bits per channel, rows top to bottom.
struct PreviewImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // width * height * 3
};

// What the caption reports about the run's options.
struct PreviewRun {
    std::string mode;  // "object" or "two-polygon"
    double bevelSize = 0.0;
    int angleMode = 0;  // 0 disable, 1 lt, 2 gt
    double limitAngleDeg = 0.0;
};

// Draws `before` in the left half and `after` in the right half. Polygons
// with fewer than 3 points are skipped; polygons are triangulated in their
// own plane for drawing only (a concave one keeps its notch); one seen
// edge-on is drawn as its outline. Sizes below 16 are raised to 16.
PreviewImage RenderPreview(const PreviewMesh &before, const PreviewMesh &after,
                           const PreviewOptions &options);
// Writes `image` as a PNG file. false with *error ("FILE: what is wrong") on
// failure.
bool WritePreviewPng(const std::string &path, const PreviewImage &image, std::string *error);
// The whole job for the command-line program: tints the output polygons that
// ChangedPolygons marks (none in the input), renders and writes the PNG.
bool WritePreview(const std::string &path, const MeshData &input, const MeshData &output,
                  const PreviewOptions &options, std::string *error);

// "LABEL: P points, N polygons", and with a run also
// "; MODE mode, size B, angle mode disable" or "; MODE mode, size B, angle mode lt,
// limit angle 30", in the words of the program's summary line.
std::string PreviewCaption(const std::string &label, const MeshData &mesh, const PreviewRun *run);

// Parses "AZIMUTH,ELEVATION" in degrees (elevation from -90 to 90). false
// with *error when the text is not two such numbers; outputs untouched then.
bool ParseView(const std::string &text, double *azimuthDeg, double *elevationDeg, std::string *error);
// Parses "W,H" or "WxH" in pixels, each from 64 to 4096. false with *error
// otherwise; outputs untouched then.
bool ParseSize(const std::string &text, int *width, int *height, std::string *error);

#endif
