// Writing the preview as PNG. The encoder is stb's, compiled here with its
// functions kept private to this file so that no other copy can clash; the
// bytes are written through an atomic file so that a reader in a pipeline
// never sees half a picture.
#include "cli/preview/preview.h"

#include "meshio/meshio.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace {

void AppendBytes(void *context, void *data, int size)
{
    static_cast<std::string *>(context)->append(static_cast<const char *>(data), static_cast<size_t>(size));
}

}  // namespace

bool WritePreviewPng(const std::string &path, const PreviewImage &image, std::string *error)
{
    std::string png;
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3 ||
        !stbi_write_png_to_func(AppendBytes, &png, image.width, image.height, 3, image.rgb.data(),
                                image.width * 3)) {
        if (error)
            *error = path + ": cannot encode the picture as PNG";
        return false;
    }
    AtomicFile file;
    if (!AtomicFileOpen(path, &file, error))
        return false;
    if (!AtomicFileWrite(&file, png, error))
        return false;
    return AtomicFileCommit(&file, error);
}

bool WritePreview(const std::string &path, const MeshData &input, const MeshData &output,
                  const PreviewOptions &options, std::string *error)
{
    PreviewMesh before;
    before.mesh = &input;
    PreviewMesh after;
    after.mesh = &output;
    const RunInputIndex index = RunIndexInput(input);
    after.tinted = ChangedPolygons(index, output);
    after.reshaped = InInputPlanes(index, output);
    return WritePreviewPng(path, RenderPreview(before, after, options), error);
}
