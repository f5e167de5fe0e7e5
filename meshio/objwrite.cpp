// OBJ writing and the atomic file it goes through.
#include "meshio/meshio.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string MeshFormatDouble(double value)
{
    // Shortest round-trip form: the same double comes back from a correctly
    // rounded reader, so equal meshes give byte-equal files.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

std::string MeshObjText(const MeshData &mesh)
{
    std::string out;
    out.reserve(mesh.points.size() * 32 + mesh.polys.size() * 24);
    for (const auto &p : mesh.points) {
        out += "v ";
        out += MeshFormatDouble(p[0]);
        out += ' ';
        out += MeshFormatDouble(p[1]);
        out += ' ';
        out += MeshFormatDouble(p[2]);
        out += '\n';
    }
    const std::string *current = nullptr;
    static const std::string kDefault = "Default";
    for (const MeshPoly &poly : mesh.polys) {
        const std::string &surface = poly.hasSurface && !poly.surface.empty() ? poly.surface : kDefault;
        if (!current || *current != surface) {
            out += "usemtl ";
            out += surface;
            out += '\n';
            current = &surface;
        }
        out += 'f';
        for (int index : poly.points) {
            out += ' ';
            out += std::to_string(index + 1);
        }
        out += '\n';
    }
    return out;
}

// ---- atomic file ---------------------------------------------------------

static std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

static std::string BaseOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AtomicFileOpen(const std::string &path, AtomicFile *file, std::string *error)
{
    AtomicFileDiscard(file);
    file->path = path;
    // Same folder, so that the final rename stays on one file system and is
    // atomic; a dot name keeps it out of plain listings while it exists.
    std::string temp = FolderOf(path) + "/." + BaseOf(path) + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        if (error)
            *error = path + ": cannot create a temporary file in " + FolderOf(path) + ": " +
                     std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file->tempPath = name.data();
    file->fd = fd;
    return true;
}

bool AtomicFileWrite(AtomicFile *file, const std::string &data, std::string *error)
{
    const char *p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = write(file->fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (error)
                *error = file->path + ": cannot write: " + std::strerror(errno);
            AtomicFileDiscard(file);
            return false;
        }
        p += n;
        left -= (size_t)n;
    }
    return true;
}

bool AtomicFileCommit(AtomicFile *file, std::string *error)
{
    if (file->fd < 0) {
        if (error)
            *error = file->path + ": not open for writing";
        return false;
    }
    if (fsync(file->fd) != 0 || close(file->fd) != 0) {
        if (error)
            *error = file->path + ": cannot write: " + std::strerror(errno);
        file->fd = -1;
        AtomicFileDiscard(file);
        return false;
    }
    file->fd = -1;
    if (std::rename(file->tempPath.c_str(), file->path.c_str()) != 0) {
        if (error)
            *error = file->path + ": cannot rename into place: " + std::strerror(errno);
        AtomicFileDiscard(file);
        return false;
    }
    file->tempPath.clear();
    return true;
}

void AtomicFileDiscard(AtomicFile *file)
{
    if (file->fd >= 0)
        close(file->fd);
    file->fd = -1;
    if (!file->tempPath.empty())
        unlink(file->tempPath.c_str());
    file->tempPath.clear();
}

bool MeshWriteObj(const std::string &path, const MeshData &mesh, std::string *error)
{
    AtomicFile file;
    if (!AtomicFileOpen(path, &file, error))
        return false;
    if (!AtomicFileWrite(&file, MeshObjText(mesh), error))
        return false;
    return AtomicFileCommit(&file, error);
}
