// OBJ writing and the atomic file it goes through.
#include "meshio/meshio.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <vector>

std::string MeshFormatDouble(double value)
{
    // Shortest round-trip form: the same double comes back from a correctly
    // rounded reader, so equal meshes give byte-equal files.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

void MeshAppendPointLine(std::string *out, const std::array<double, 3> &p)
{
    *out += MeshFormatDouble(p[0]);
    *out += ' ';
    *out += MeshFormatDouble(p[1]);
    *out += ' ';
    *out += MeshFormatDouble(p[2]);
    *out += '\n';
}

std::string MeshMoveMaterialLibraries(MeshData *mesh, const std::string &from, const std::string &to)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path fromDir = fs::weakly_canonical(fs::absolute(fs::path(from), ec).parent_path(), ec);
    const fs::path toDir = fs::weakly_canonical(fs::absolute(fs::path(to), ec).parent_path(), ec);
    std::vector<std::string> missing;
    for (std::string &line : mesh->materialLibraries) {
        // "mtllib a.mtl b.mtl": each name a path from the file's folder.
        std::istringstream words(line);
        std::string keyword, name, rewritten;
        words >> keyword;
        rewritten = keyword;
        while (words >> name) {
            const fs::path library = fs::path(name).is_absolute() ? fs::path(name) : fromDir / name;
            std::string moved = name;
            if (!fs::is_regular_file(library, ec))
                missing.push_back(name);
            else if (!fs::path(name).is_absolute())
                moved = fs::weakly_canonical(library, ec).lexically_relative(toDir).generic_string();
            rewritten += " " + (moved.empty() ? name : moved);
        }
        line = rewritten;
    }
    if (missing.empty())
        return "";
    std::string names;
    for (const std::string &m : missing)
        names += (names.empty() ? "" : ", ") + m;
    return to + " names the material " + (missing.size() == 1 ? "library " : "libraries ") + names + " as " +
           from + " does, but " + (missing.size() == 1 ? "it is" : "they are") + " not found beside " + from +
           ", so other tools will not find " + (missing.size() == 1 ? "it" : "them") + " either";
}

std::string MeshObjText(const MeshData &mesh)
{
    std::string out;
    out.reserve(mesh.points.size() * 32 + MeshPolyCount(mesh) * 24);
    for (const std::string &library : mesh.materialLibraries) {
        out += library;
        out += '\n';
    }
    for (const auto &p : mesh.points) {
        out += "v ";
        MeshAppendPointLine(&out, p);
    }
    const std::string *current = nullptr;
    static const std::string kDefault = "Default";
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const std::string &given = MeshPolySurface(mesh, i);
        const std::string &surface = given.empty() ? kDefault : given;
        if (!current || *current != surface) {
            out += "usemtl ";
            out += surface;
            out += '\n';
            current = &surface;
        }
        out += 'f';
        for (int index : MeshPolyPoints(mesh, i)) {
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

// The kernel's rule for links in a sticky folder that anyone may write to
// (the system's temporary folder): another user may have planted the link
// there to make us write over a file of ours, so it is followed only when
// it belongs to us or to the folder's owner. Following links by hand, the
// walk must apply the rule itself.
static bool MayFollowLink(const std::string &link, const struct stat &linkStat)
{
    struct stat folder;
    if (stat(FolderOf(link).c_str(), &folder) != 0)
        return true;  // the walk reports a missing folder itself
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || linkStat.st_uid == geteuid() || linkStat.st_uid == folder.st_uid;
}

// Fails with `number` as errno and "PATH: what" as the message.
static bool Fail(AtomicFile *file, std::string *error, const std::string &what, int number)
{
    file->errorNumber = number;
    if (error)
        *error = what;
    return false;
}

bool MeshResolveOutputPath(const std::string &path, std::string *target, struct stat *existing,
                           std::string *error, int *errorNumber)
{
    auto fail = [&](const std::string &what, int number) {
        if (error)
            *error = what;
        if (errorNumber)
            *errorNumber = number;
        return false;
    };
    if (path.empty())
        return fail("an empty path names no file", ENOENT);
    if (path.find('\0') != std::string::npos)
        return fail(path.substr(0, path.find('\0')) + ": the path holds a NUL character", EINVAL);
    // A link is written through: the file it names is replaced and the link
    // stays. Followed by hand so that a dangling link creates its target.
    std::string at = path;
    for (int hops = 0;; hops++) {
        struct stat st {};
        if (lstat(at.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return fail(at + ": " + std::strerror(errno), errno);
            st.st_mode = 0;
        }
        if (S_ISLNK(st.st_mode)) {
            if (hops >= 40)
                return fail(path + ": " + std::strerror(ELOOP), ELOOP);
            if (!MayFollowLink(at, st))
                return fail(path + ": the link " + at +
                                " lies in a sticky folder that anyone may write to and "
                                "belongs to another user; it is not followed",
                            EACCES);
            std::vector<char> link((size_t)(st.st_size > 0 ? st.st_size : 255) + 1);
            ssize_t n = readlink(at.c_str(), link.data(), link.size() - 1);
            if (n < 0)
                return fail(at + ": " + std::strerror(errno), errno);
            std::string next(link.data(), (size_t)n);
            at = next[0] == '/' ? next : FolderOf(at) + "/" + next;
            continue;
        }
        // Replacing a device, a pipe or a socket by a plain file would break
        // whatever else uses it (as root, -o /dev/null would replace the
        // device): only regular files are written over.
        if (st.st_mode != 0 && S_ISDIR(st.st_mode))
            return fail(path + ": is a folder", EISDIR);
        if (st.st_mode != 0 && !S_ISREG(st.st_mode))
            return fail(path + ": is not a regular file (a device, pipe or socket); it is not replaced",
                        EINVAL);
        struct stat folder;
        if (stat(FolderOf(at).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
            return fail(path + ": the folder " + FolderOf(at) + " does not exist", ENOENT);
        *target = at;
        if (existing)
            *existing = st;
        return true;
    }
}

// A fresh name beside the target, created exclusively: O_EXCL refuses a name
// that appeared meanwhile, and the mode given goes through the process's
// umask as any plain create does (no umask call, which other threads would
// see).
static int CreateTemp(const std::string &target, std::string *tempPath)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device entropy;
    // The dot and the 7 characters added must leave the name within the
    // 255 bytes a folder entry holds: a long name is cut for the temporary one.
    const std::string base = BaseOf(target).substr(0, 255 - 8);
    for (int attempt = 0; attempt < 100; attempt++) {
        std::string name = FolderOf(target) + "/." + base + ".";
        for (int k = 0; k < 6; k++)
            name += kLetters[entropy() % (sizeof kLetters - 1)];
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            *tempPath = name;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool AtomicFileOpen(const std::string &path, AtomicFile *file, std::string *error)
{
    AtomicFileDiscard(file);
    file->path = path;
    file->errorNumber = 0;
    std::string target;
    struct stat existing;
    int number = 0;
    if (!MeshResolveOutputPath(path, &target, &existing, error, &number)) {
        file->errorNumber = number;
        return false;
    }
    // Same folder as the file finally written, so that the rename stays on
    // one file system and is atomic; a dot name keeps it out of plain
    // listings while it exists.
    std::string temp;
    int fd = CreateTemp(target, &temp);
    if (fd < 0)
        return Fail(file, error,
                    path + ": cannot create a temporary file in " + FolderOf(target) + ": " +
                        std::strerror(errno),
                    errno);
    // A file written over keeps its mode (and, where we may, its owner).
    if (existing.st_mode != 0) {
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Not ours to give away: the file becomes the writer's, as an
            // editor's save would make it.
        }
        // Without its set-user-ID and set-group-ID bits: the new contents
        // are ours, not what the file's owner once made privileged.
        fchmod(fd, existing.st_mode & 01777);
    }
    file->target = target;
    file->tempPath = temp;
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
            const int number = n < 0 ? errno : EIO;
            AtomicFileDiscard(file);
            return Fail(file, error, file->path + ": cannot write: " + std::strerror(number), number);
        }
        p += n;
        left -= (size_t)n;
    }
    return true;
}

bool AtomicFileCommit(AtomicFile *file, std::string *error)
{
    if (file->fd < 0)
        return Fail(file, error, file->path + ": not open for writing", EBADF);
    if (fsync(file->fd) != 0 || close(file->fd) != 0) {
        const int number = errno;
        file->fd = -1;
        AtomicFileDiscard(file);
        return Fail(file, error, file->path + ": cannot write: " + std::strerror(number), number);
    }
    file->fd = -1;
    if (std::rename(file->tempPath.c_str(), file->target.c_str()) != 0) {
        const int number = errno;
        AtomicFileDiscard(file);
        return Fail(file, error, file->path + ": cannot rename into place: " + std::strerror(number), number);
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

AtomicFile::~AtomicFile()
{
    AtomicFileDiscard(this);
}

bool MeshWriteObj(const std::string &path, const MeshData &mesh, std::string *error, int *errorNumber)
{
    AtomicFile file;
    const bool ok = AtomicFileOpen(path, &file, error) && AtomicFileWrite(&file, MeshObjText(mesh), error) &&
                    AtomicFileCommit(&file, error);
    if (errorNumber)
        *errorNumber = ok ? 0 : file.errorNumber;
    return ok;
}
