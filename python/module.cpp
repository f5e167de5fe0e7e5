// The Python module `corvane`: meshes from numpy arrays or OBJ files, run
// through the real Corvane.p on the emulated host, exactly as the program
// runs them, with the module's messages handed back as data or as
// corvane.ModuleError.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "meshio/meshio.h"
#include "python/pymesh.h"
#include "run/run.h"
#include "stubdocs.h"

namespace fs = std::filesystem;

namespace {

// The module keeps its settings file name after the folder in a path of at
// most this many bytes, the NUL included.
const size_t kModulePathLimit = 256;
const char kSettingsFileName[] = "/Corvane.cfg";

// The loaded module, and the lock every activation holds: the emulated
// host's services act on one current host, so activations from several
// Python threads take turns.
struct ModuleSlot {
    std::mutex lock;
    LoadedModule module;
    bool loaded = false;
    bool chosen = false;  // load_module was called: no falling back to the bundled one
    std::string path;
};

// Never destroyed: a thread may still be inside an activation when the
// interpreter shuts down.
ModuleSlot &Slot()
{
    static ModuleSlot *slot = new ModuleSlot();
    return *slot;
}

PyObject *g_moduleError = nullptr;
// The thread Python runs signal handlers in.
unsigned long g_mainThread = 0;

struct PyMessage {
    bool error = false;
    std::string text;
};

struct PyResult {
    py::object input;  // the Mesh chamfered, to work out `created` from
    py::object mesh;
    py::object created = py::none();  // the new mask once asked for
    py::object pointMap;              // per point of `mesh`: its number in the host's layer
    py::list messages;
    double activationSeconds = 0.0;
};

// The new mask, worked out on first use: most pipelines never ask for it,
// and it costs a third of an object-mode activation.
py::object CreatedMask(PyResult &result)
{
    if (!result.created.is_none())
        return result.created;
    const PyMesh &input = PyMeshOf(result.input);
    const PyMesh &output = PyMeshOf(result.mesh);
    // One index per input, kept: a live loop asks for the mask of every
    // result of the same input.
    std::shared_ptr<const RunInputIndex> index = input.index;
    std::vector<bool> created;
    {
        py::gil_scoped_release release;
        if (!index)
            index = std::make_shared<const RunInputIndex>(RunIndexInput(input.data));
        created = RunCreatedPolygons(*index, output.data);
    }
    input.index = index;
    py::array_t<bool> mask((ssize_t)created.size());
    bool *out = mask.mutable_data();
    for (size_t i = 0; i < created.size(); i++)
        out[i] = created[i];
    mask.attr("flags").attr("writeable") = false;
    result.created = mask;
    return result.created;
}

// The point map as a read-only int64 array: `map`, or with it empty the
// identity over `identity` points (the input given back unchanged).
py::object PointMapArray(const std::vector<int> &map, size_t identity)
{
    const size_t n = map.empty() ? identity : map.size();
    py::array_t<int64_t> out((ssize_t)n);
    int64_t *at = out.mutable_data();
    for (size_t i = 0; i < n; i++)
        at[i] = map.empty() ? (int64_t)i : map[i];
    out.attr("flags").attr("writeable") = false;
    return out;
}

// The module installed beside this extension: the build of Corvane.p with
// the large record limit.
std::string BundledModulePath()
{
    Dl_info info;
    if (dladdr((void *)&Slot, &info) && info.dli_fname)
        return (fs::path(info.dli_fname).parent_path() / "CorvaneLarge.p").string();
    return "CorvaneLarge.p";
}

// A path as the bytes the system calls take: a str (with the surrogates
// os.fsdecode makes of undecodable bytes), bytes or any os.PathLike. A NUL
// would cut the path short without a word, so it is refused as open() does.
std::string PathArg(py::handle path)
{
    std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<py::bytes>();
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error("path: embedded null byte");
    return bytes;
}

py::str PathText(const std::string &path)
{
    PyObject *str = PyUnicode_DecodeFSDefaultAndSize(path.data(), (Py_ssize_t)path.size());
    if (!str)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(str);
}

// Replaces the loaded module by the one at `path`. The old one is shut down
// first: loading the same file again gives the same library, whose startup
// must not be undone by the old copy's shutdown. Call with the lock held.
bool LoadInto(ModuleSlot *slot, const std::string &path, std::string *error)
{
    if (slot->loaded)
        UnloadModule(&slot->module);
    slot->loaded = false;
    slot->path.clear();
    if (!RunLoadModule(path, &slot->module, error))
        return false;
    slot->loaded = true;
    slot->path = path;
    return true;
}

void LoadModulePy(py::handle pathObj)
{
    const std::string path = PathArg(pathObj);
    ModuleSlot &slot = Slot();
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> hold(slot.lock);
        slot.chosen = true;
        ok = LoadInto(&slot, path, &error);
    }
    if (!ok)
        PyRaise(PyExc_ImportError, error);
}

// The lock is held for a whole activation: waiting for it with the GIL held
// would stop every other Python thread meanwhile.
py::object ModulePath()
{
    ModuleSlot &slot = Slot();
    std::optional<std::string> path;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> hold(slot.lock);
        if (slot.loaded)
            path = slot.path;
    }
    return path ? py::object(PathText(*path)) : py::object(py::none());
}

// Attributed to the line that called the package's function, one frame above
// its Python wrapper. The text may hold a folder's bytes that are not UTF-8.
void Warn(const std::string &text)
{
    py::module_::import("warnings").attr("warn")(PyText(text), py::handle(PyExc_RuntimeWarning), 2);
}

// A settings folder of the call's own, so that a library call never changes
// the options the user saved; removed with everything in it at the end.
struct PrivateSettingsDir {
    std::string path;
    PrivateSettingsDir()
    {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "corvane-XXXXXX").string();
        if (ec)
            pattern = "/tmp/corvane-XXXXXX";
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~PrivateSettingsDir()
    {
        std::error_code ec;
        if (!path.empty())
            fs::remove_all(path, ec);
    }
};

// The folder a caller named: created when missing, as the program does;
// without it the module still runs but its options are not kept.
void PrepareSettingsDir(const std::string &dir)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        Warn("cannot create the settings folder " + dir + " (" + ec.message() +
             "); options will not be kept");
    else if (dir.size() + sizeof kSettingsFileName > kModulePathLimit)
        Warn("the settings folder path " + dir + " is too long for the module; options will not be kept");
}

int AngleModeArg(py::handle mode)
{
    if (py::isinstance<py::str>(mode)) {
        // Surrogates would not convert; they match no name anyway.
        const int k = RunAngleModeNumber(mode.attr("encode")("utf-8", "surrogatepass").cast<std::string>());
        if (k >= 0)
            return k;
    }
    throw py::value_error("angle_mode must be \"disable\", \"lt\" or \"gt\", not " +
                          py::repr(mode).cast<std::string>());
}

// "1 polygon", "2 polygons".
std::string Counted(size_t n, const char *noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// Two 0-based indices below `count`, from a sequence of two integers.
void IndexPair(py::handle pair, const char *arg, const char *what, const char *noun, size_t count,
               long long out[2])
{
    if (!PySequence_Check(pair.ptr()) || py::isinstance<py::str>(pair) || py::len(pair) != 2)
        throw py::type_error(std::string(arg) + " must be None or two " + what + " indices (a, b)");
    py::sequence items = py::reinterpret_borrow<py::sequence>(pair);
    for (int k = 0; k < 2; k++) {
        py::object index =
            py::reinterpret_steal<py::object>(PyNumber_Index(py::object(items[(size_t)k]).ptr()));
        if (!index)
            throw py::error_already_set();
        int overflow = 0;
        out[k] = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow || out[k] < 0 || out[k] >= (long long)count)
            throw py::value_error(std::string(arg) + ": " + what + " index " +
                                  py::str(index).cast<std::string>() + " is out of range (the mesh has " +
                                  Counted(count, noun) + ")");
    }
    if (out[0] == out[1])
        throw py::value_error(std::string(arg) + ": the two " + noun + "s must be different");
}

// The two-polygon mode's pair, 0-based, as the run layer's 1-based numbers.
void SelectArg(py::handle select, size_t polygons, int out[2])
{
    if (select.is_none())
        return;
    long long ij[2];
    IndexPair(select, "select", "polygon", "polygon", polygons, ij);
    out[0] = (int)ij[0] + 1;
    out[1] = (int)ij[1] + 1;
}

// The pair of polygons that share the edge between two 0-based points, as
// `--edge` finds them, as the run layer's 1-based numbers.
void EdgeArg(py::handle edge, const MeshData &mesh, int out[2])
{
    if (edge.is_none())
        return;
    long long ab[2];
    IndexPair(edge, "edge", "point", "point", mesh.points.size(), ab);
    const std::vector<int> polys = MeshPolysWithEdge(mesh, (int)ab[0], (int)ab[1]);
    if (polys.size() != 2) {
        const std::string name = "edge=(" + std::to_string(ab[0]) + ", " + std::to_string(ab[1]) + "): ";
        throw py::value_error(
            name + (polys.empty() ? std::string("no polygon has this edge")
                                  : "the edge is shared by " + Counted(polys.size(), "polygon") + ", not 2"));
    }
    out[0] = polys[0] + 1;
    out[1] = polys[1] + 1;
}

PyMessage &MessageOf(py::handle self)
{
    return PyHeld<PyMessage>(self, "self", "Message");
}

PyResult &ResultOf(py::handle self)
{
    return PyHeld<PyResult>(self, "self", "Result");
}

std::string MeshRepr(const PyMesh &mesh)
{
    return "<corvane.Mesh with " + Counted(mesh.data.points.size(), "point") + " and " +
           Counted(MeshPolyCount(mesh.data), "polygon") + ">";
}

[[noreturn]] void RaiseModuleError(const std::string &text, py::object result)
{
    py::object error = py::reinterpret_borrow<py::object>(g_moduleError)(PyText(text));
    error.attr("result") = result;
    PyErr_SetObject(g_moduleError, error.ptr());
    throw py::error_already_set();
}

// Ctrl-C in a long run. With the GIL released, Python's handler only notes
// the signal; the module's progress monitors step often, so the main
// thread's steps take the GIL now and then and run the handlers. An
// exception they raise (KeyboardInterrupt) aborts the run through the
// monitor and is raised once the module has returned. Taking the GIL from a
// busy Python thread can wait a whole switch interval, so the checks thin
// out to keep that wait under a tenth of the run.
struct SignalWatch {
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{10};

    bool enabled = PyThread_get_thread_ident() == g_mainThread;
    Clock::time_point next = Clock::now() + kInterval;
    std::optional<py::error_already_set> raised;

    // A monitor step: non-zero aborts.
    int Step()
    {
        if (raised)
            return 1;
        if (!enabled)
            return 0;
        const Clock::time_point now = Clock::now();
        if (now < next)
            return 0;
        py::gil_scoped_acquire gil;
        const Clock::duration wait = Clock::now() - now;
        next = now + std::max<Clock::duration>(kInterval, 10 * wait);
        if (PyErr_CheckSignals() == 0)
            return 0;
        raised.emplace();
        return 1;
    }
};

// Once per mesh, with the GIL released: on a large mesh it costs more than
// an activation, and a live loop runs the same input again and again.
double SafeSize(const PyMesh &mesh)
{
    if (!mesh.safeSize) {
        double safe;
        {
            py::gil_scoped_release release;
            safe = MeshSafeBevelSize(mesh.data);
        }
        mesh.safeSize = safe;
    }
    return *mesh.safeSize;
}

py::object Chamfer(py::object meshObj, double size, py::handle angleMode, double limitAngle,
                   py::object select, py::object pluginsDir, bool clamp, py::object edge)
{
    const PyMesh &mesh = PyMeshOf(meshObj);
    const std::string refused = RunCheckOptions(size, limitAngle);
    if (!refused.empty())
        throw py::value_error(refused);
    // The module would answer with its host's prompt to select polygons.
    if (MeshPolyCount(mesh.data) == 0)
        throw py::value_error("chamfer: the mesh has no polygons");
    if (!select.is_none() && !edge.is_none())
        throw py::value_error("chamfer: give select or edge, not both");
    RunOptions options;
    options.markPolygons = false;
    options.bevelSize = size;
    options.angleMode = AngleModeArg(angleMode);
    options.limitAngleDeg = limitAngle;
    SelectArg(select, MeshPolyCount(mesh.data), options.select);
    EdgeArg(edge, mesh.data, options.select);

    std::unique_ptr<PrivateSettingsDir> privateDir;
    if (pluginsDir.is_none()) {
        privateDir.reset(new PrivateSettingsDir());
        options.settingsDir = privateDir->path;
    } else {
        options.settingsDir = PathArg(pluginsDir);
        PrepareSettingsDir(options.settingsDir);
    }

    SignalWatch signals;
    options.prepare = [&signals](EmuHost *host) {
        host->hooks.monitorStep = [&signals](const EmuMonitorLog &) { return signals.Step(); };
    };

    if (clamp && std::isfinite(SafeSize(mesh)))
        options.clampSize = SafeSize(mesh);

    RunResult run;
    std::string loadError, invalid;
    {
        // The mesh is immutable and `meshObj` keeps it alive meanwhile.
        py::gil_scoped_release release;
        ModuleSlot &slot = Slot();
        std::lock_guard<std::mutex> hold(slot.lock);
        if (!slot.loaded && !slot.chosen)
            LoadInto(&slot, BundledModulePath(), &loadError);
        if (slot.loaded)
            RunActivate(slot.module, mesh.data, options, &run);
        else if (loadError.empty())
            loadError = "no module is loaded (the last load_module failed)";
        if (run.verdict == RunVerdict::kFinished && !signals.raised)
            invalid = MeshInvalidPolygonsText(MeshComputePolygonStats(run.output));
    }
    // Interrupted: whatever the module left is dropped with the run.
    if (signals.raised)
        throw *signals.raised;
    if (!loadError.empty())
        PyRaise(PyExc_ImportError, loadError);
    if (run.activation != HOST_ACTIVATE_OK || run.cancelled)
        throw std::runtime_error(run.failure);

    PyResult result;
    result.input = meshObj;
    result.activationSeconds = run.activationMs / 1000.0;
    if (run.verdict != RunVerdict::kFinished) {
        // An edit ended without change gives the input back: the rebuilt
        // object of the object mode would otherwise be an empty layer.
        result.mesh = meshObj;
    } else {
        PyMesh output;
        output.data = std::move(run.output);
        result.mesh = py::cast(std::move(output));
    }
    result.pointMap = PointMapArray(run.verdict == RunVerdict::kFinished ? run.pointMap : std::vector<int>(),
                                    run.verdict == RunVerdict::kFinished ? 0 : mesh.data.points.size());
    // The clamp acts before the module reads its panel, so its note comes
    // first.
    if (run.clampedFrom)
        result.messages.append(py::cast(PyMessage{false, RunClampNote(run)}));
    const RunMessage *firstInfo = nullptr, *firstError = nullptr;
    for (const RunMessage &m : run.messages) {
        result.messages.append(py::cast(PyMessage{m.error, m.text}));
        if (!m.error && !firstInfo)
            firstInfo = &m;
        if (m.error && !firstError)
            firstError = &m;
    }
    // An info message ends the edit without change: the module refused. An
    // error message comes from a pass that went on: the result has a fault,
    // kept on the exception for a caller who wants it anyway.
    if (run.verdict == RunVerdict::kFailed || run.verdict == RunVerdict::kInternalFault)
        RaiseModuleError(firstInfo ? firstInfo->text : run.failure, py::none());
    const std::string past = clamp ? "" : RunSizeWarning(size, SafeSize(mesh), "clamp=True keeps to it");
    if (!past.empty())
        Warn(past);
    const std::string nothing = RunNothingChamferedText(mesh.data, run);
    if (!nothing.empty())
        Warn(nothing);
    if (!invalid.empty()) {
        // The safe size itself would cost more than the run on a new mesh.
        std::string text = "in the result " + invalid + "; other tools may refuse it";
        if (!clamp && past.empty())
            text += " (clamp=True keeps the size to the safe bevel size that stats() gives)";
        Warn(text);
    }
    py::object resultObj = py::cast(std::move(result));
    if (run.partial)
        RaiseModuleError(firstError ? firstError->text : "aborted", resultObj);
    return resultObj;
}

// A file that cannot be opened is the caller's OSError (FileNotFoundError,
// PermissionError, IsADirectoryError); what is wrong inside a file is a
// ValueError naming its line.
void CheckReadable(const std::string &path, py::handle pathObj)
{
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        errno = EISDIR;
    } else {
        // A FIFO is not opened here, with the GIL held, where it would wait
        // for its writer: the read itself waits, without it.
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
            if (access(path.c_str(), R_OK) == 0)
                return;
        } else {
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
            if (fd >= 0)
                return (void)close(fd);
        }
    }
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, pathObj.ptr());
    throw py::error_already_set();
}

// The budget a read keeps to: the default, or `max_corners` when given.
MeshBudget BudgetArg(py::handle maxCorners)
{
    if (maxCorners.is_none())
        return MeshBudget();
    if (!PyLong_Check(maxCorners.ptr()) || PyBool_Check(maxCorners.ptr()))
        throw py::type_error("max_corners must be None or an int");
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(maxCorners.ptr(), &overflow);
    if (overflow < 0 || (overflow == 0 && value < 1))
        PyRaise(PyExc_ValueError, "max_corners must be at least 1");
    return MeshBudgetForCorners(overflow > 0 ? LLONG_MAX : value);
}

py::object ReadObj(py::handle pathObj, py::handle maxCorners)
{
    const std::string path = PathArg(pathObj);
    const MeshBudget budget = BudgetArg(maxCorners);
    CheckReadable(path, pathObj);
    PyMesh mesh;
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = MeshReadObj(path, &mesh.data, nullptr, &error, &budget);
    }
    if (!ok)
        PyRaise(PyExc_ValueError, error);
    return py::cast(std::move(mesh));
}

// The writer's failure as the OSError subclass of its errno
// (FileNotFoundError, PermissionError, IsADirectoryError, ...), with the
// caller's path as its filename; the message loses the path it starts with,
// which OSError prints after it.
[[noreturn]] void RaiseWriteError(const std::string &path, py::handle pathObj, const std::string &error,
                                  int number)
{
    if (number == 0)
        PyRaise(PyExc_OSError, error);
    const std::string prefix = path + ": ";
    const std::string what = error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size())
                                                                          : error;
    py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(number, PyText(what), pathObj);
    PyErr_SetObject((PyObject *)Py_TYPE(exception.ptr()), exception.ptr());
    throw py::error_already_set();
}

void WriteObj(py::handle meshObj, py::handle pathObj)
{
    const PyMesh &mesh = PyMeshOf(meshObj);
    const std::string path = PathArg(pathObj);
    std::string error;
    int number = 0;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = MeshWriteObj(path, mesh.data, &error, &number);
    }
    if (!ok)
        RaiseWriteError(path, pathObj, error, number);
}

// ---- files of every format ---------------------------------------------------

// The format for `path`: `formatObj` ("ply", any case) when not None, else
// the path's extension. An unknown one is a ValueError.
MeshFormat FormatArg(const std::string &path, py::handle formatObj)
{
    std::string given;
    if (!formatObj.is_none()) {
        if (!py::isinstance<py::str>(formatObj))
            throw py::type_error("format must be a str such as 'ply', or None");
        given = formatObj.cast<std::string>();
        if (given.empty())
            PyRaise(PyExc_ValueError, "an empty format names none");
    }
    MeshFormat format;
    std::string error;
    if (!MeshChooseFormat(path, given, &format, &error)) {
        // The reader's advice names the program's options; here it is an argument.
        const size_t advice = error.find("; name the format with --");
        if (advice != std::string::npos)
            error = error.substr(0, advice) + "; name it with format=, e.g. format=\"ply\"";
        PyRaise(PyExc_ValueError, error);
    }
    return format;
}

py::object ReadAny(py::handle pathObj, py::handle formatObj, bool weld, py::handle maxCorners)
{
    const std::string path = PathArg(pathObj);
    const MeshFormat format = FormatArg(path, formatObj);
    const MeshBudget budget = BudgetArg(maxCorners);
    CheckReadable(path, pathObj);
    PyMesh mesh;
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = MeshReadFile(path, format, &mesh.data, nullptr, &error, &budget, weld);
    }
    if (!ok)
        PyRaise(PyExc_ValueError, error);
    return py::cast(std::move(mesh));
}

void WriteAny(py::handle meshObj, py::handle pathObj, py::handle formatObj)
{
    const PyMesh &mesh = PyMeshOf(meshObj);
    const std::string path = PathArg(pathObj);
    const MeshFormat format = FormatArg(path, formatObj);
    std::string error, bytes;
    int number = 0;
    bool made, ok = false;
    {
        py::gil_scoped_release release;
        made = MeshFileBytes(mesh.data, format, path, &bytes, &error);
        if (made) {
            AtomicFile file;
            ok = AtomicFileOpen(path, &file, &error) && AtomicFileWrite(&file, bytes, &error) &&
                 AtomicFileCommit(&file, &error);
            number = file.errorNumber;
        }
    }
    // A mesh the format cannot hold is the caller's value, not the file's.
    if (!made)
        PyRaise(PyExc_ValueError, error);
    if (!ok)
        RaiseWriteError(path, pathObj, error, number);
}

py::dict Stats(py::handle meshObj, bool safeSize)
{
    const PyMesh &mesh = PyMeshOf(meshObj);
    MeshStats s;
    {
        py::gil_scoped_release release;
        s = MeshComputeStats(mesh.data);
    }
    py::dict d;
    d["points"] = s.points;
    d["polygons"] = s.polygons;
    d["triangles"] = s.triangles;
    d["quads"] = s.quads;
    d["ngons"] = s.ngons;
    d["degenerate"] = s.degenerate;
    d["edges"] = s.edges;
    d["border_edges"] = s.borderEdges;
    d["crowded_edges"] = s.crowdedEdges;
    d["opposite_winding_edges"] = s.oppositeWindingEdges;
    d["repeated_point_polygons"] = s.repeatedPointPolys;
    d["zero_area_polygons"] = s.zeroAreaPolys;
    // Costs more than every count before it together, so a caller that only
    // checks a result may go without.
    d["safe_bevel_size"] = safeSize ? py::object(py::float_(SafeSize(mesh))) : py::object(py::none());
    return d;
}

// The types the signatures in help() show, as the stub spells them.
CORVANE_PY_NAMED(ResultArg, "Result");
CORVANE_PY_NAMED(PathLike, "Union[str, bytes, os.PathLike]");
CORVANE_PY_NAMED(OptionalPathLike, "Optional[Union[str, bytes, os.PathLike]]");
CORVANE_PY_NAMED(AngleModeText, "str");
CORVANE_PY_NAMED(PairArg, "Optional[Tuple[int, int]]");
CORVANE_PY_NAMED(PointsArg, "numpy.typing.ArrayLike");
CORVANE_PY_NAMED(PolygonsArg,
                 "Union[Sequence[Sequence[int]], numpy.ndarray, Tuple[numpy.ndarray, numpy.ndarray]]");
CORVANE_PY_NAMED(SurfacesArg, "Optional[Sequence[str]]");
CORVANE_PY_NAMED(OptionalText, "Optional[str]");
CORVANE_PY_NAMED(OptionalCount, "Optional[int]");
CORVANE_PY_NAMED(MessageList, "list[Message]");
CORVANE_PY_NAMED(PolygonList, "list[list[int]]");
CORVANE_PY_NAMED(TextList, "list[str]");
CORVANE_PY_NAMED(IndexArrays, "Tuple[numpy.ndarray, numpy.ndarray]");
CORVANE_PY_NAMED(MaskArray, "numpy.ndarray");
CORVANE_PY_NAMED(StatsDict, "Stats");
CORVANE_PY_NAMED(EqualOrNot, "bool");

}  // namespace

PYBIND11_MODULE(_corvane, m)
{
    m.doc() = "Corvane's edge chamfer on meshes held in numpy arrays, run by the real Corvane.p.";
    g_mainThread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    g_moduleError =
        PyErr_NewExceptionWithDoc("corvane.ModuleError", PyDoc("ModuleError"), PyExc_RuntimeError, nullptr);
    m.attr("ModuleError") = py::handle(g_moduleError);

    // Immutable: a copy is the mesh itself, and pickling (multiprocessing,
    // a distributed scheduler) carries its arrays and surfaces.
    py::class_<PyMesh>(m, "Mesh", PyDoc("Mesh"))
        .def(py::init([](PointsArg points, PolygonsArg polygons, SurfacesArg surfaces) {
                 return PyMeshMake(points, polygons, surfaces);
             }),
             py::arg("points"), py::arg("polygons"), py::arg("surfaces") = py::none(), PyDoc("Mesh.__init__"))
        .def_property_readonly(
            "points", [](py::handle self) { return PyMeshPoints(PyMeshOf(self, "self"), self); },
            PyDoc("Mesh.points"))
        .def_property_readonly(
            "polygons",
            [](py::handle self) { return PolygonList(PyMeshPolygonList(PyMeshOf(self, "self"))); },
            PyDoc("Mesh.polygons"))
        .def_property_readonly(
            "compact", [](py::handle self) { return IndexArrays(PyMeshCompact(PyMeshOf(self, "self"))); },
            PyDoc("Mesh.compact"))
        .def_property_readonly(
            "surfaces", [](py::handle self) { return TextList(PyMeshSurfaces(PyMeshOf(self, "self"))); },
            PyDoc("Mesh.surfaces"))
        .def(
            "__len__", [](PyMeshArg self) { return MeshPolyCount(PyMeshOf(self, "self").data); },
            PyDoc("Mesh.__len__"))
        .def(
            "__eq__",
            [](PyMeshArg self, py::object other) {
                if (!py::isinstance<PyMesh>(other))
                    return EqualOrNot(py::reinterpret_borrow<py::object>(Py_NotImplemented));
                return EqualOrNot(py::bool_(PyMeshEqual(PyMeshOf(self, "self"), PyMeshOf(other, "other"))));
            },
            py::arg("other"), PyDoc("Mesh.__eq__"))
        .def(
            "__hash__", [](PyMeshArg self) { return PyMeshHash(PyMeshOf(self, "self")); },
            PyDoc("Mesh.__hash__"))
        .def(
            "__copy__", [](PyMeshArg self) { return PyMeshArg(self); }, PyDoc("Mesh.__copy__"))
        .def(
            "__deepcopy__", [](PyMeshArg self, py::object) { return PyMeshArg(self); }, py::arg("memo"),
            PyDoc("Mesh.__deepcopy__"))
        .def(py::pickle([](py::handle self) { return PyMeshState(PyMeshOf(self, "self")); },
                        [](const py::tuple &state) { return PyMeshFromState(state); }))
        .def("__repr__", [](py::handle self) { return MeshRepr(PyMeshOf(self, "self")); });

    py::class_<PyMessage>(m, "Message", PyDoc("Message"))
        .def_property_readonly(
            "error", [](py::handle self) { return MessageOf(self).error; }, PyDoc("Message.error"))
        .def_property_readonly(
            "text", [](py::handle self) { return PyText(MessageOf(self).text); }, PyDoc("Message.text"))
        .def(py::pickle(
            [](py::handle self) {
                const PyMessage &msg = MessageOf(self);
                return py::make_tuple(msg.error, py::bytes(msg.text));
            },
            [](const py::tuple &state) {
                if (state.size() != 2)
                    throw py::value_error("Message.__setstate__: not a state Message.__getstate__ gave");
                return PyMessage{state[0].cast<bool>(), state[1].cast<std::string>()};
            }))
        .def("__repr__", [](py::handle self) {
            const PyMessage &msg = MessageOf(self);
            return std::string("<corvane.Message ") + (msg.error ? "error " : "info ") +
                   py::repr(PyText(msg.text)).cast<std::string>() + ">";
        });

    py::class_<PyResult>(m, "Result", PyDoc("Result"))
        .def_property_readonly(
            "mesh", [](py::handle self) { return PyMeshArg(ResultOf(self).mesh); }, PyDoc("Result.mesh"))
        .def_property_readonly(
            "new", [](py::handle self) { return MaskArray(CreatedMask(ResultOf(self))); },
            PyDoc("Result.new"))
        .def_property_readonly(
            "point_map", [](py::handle self) { return MaskArray(ResultOf(self).pointMap); },
            PyDoc("Result.point_map"))
        .def_property_readonly(
            "messages", [](py::handle self) { return MessageList(ResultOf(self).messages); },
            PyDoc("Result.messages"))
        .def_property_readonly(
            "activation_seconds", [](py::handle self) { return ResultOf(self).activationSeconds; },
            PyDoc("Result.activation_seconds"))
        // The mask travels worked out: the input it is found from stays behind.
        .def(py::pickle(
            [](py::handle self) {
                PyResult &result = ResultOf(self);
                return py::make_tuple(result.mesh, CreatedMask(result), result.messages,
                                      result.activationSeconds, result.pointMap);
            },
            [](const py::tuple &state) {
                if (state.size() != 5 || !py::isinstance<PyMesh>(state[0]) ||
                    !py::isinstance<py::list>(state[2]))
                    throw py::value_error("Result.__setstate__: not a state Result.__getstate__ gave");
                PyResult result;
                result.mesh = state[0];
                result.created = state[1];
                result.messages = state[2];
                result.activationSeconds = state[3].cast<double>();
                result.pointMap = state[4];
                return result;
            }))
        .def("__repr__", [](py::handle self) {
            const PyResult &result = ResultOf(self);
            const size_t messages = py::len(result.messages);
            char activation[32];
            std::snprintf(activation, sizeof activation, "%.3f ms", result.activationSeconds * 1000.0);
            return "<corvane.Result: " + MeshRepr(PyMeshOf(result.mesh)) + ", " +
                   (messages == 0 ? std::string("no messages")
                                  : std::to_string(messages) + (messages == 1 ? " message" : " messages")) +
                   ", activation " + activation + ">";
        });

    m.def(
        "load_module", [](PathLike path) { LoadModulePy(path); }, py::arg("path"), PyDoc("load_module"));
    m.def(
        "module_path", []() { return OptionalText(ModulePath()); }, PyDoc("module_path"));
    m.def(
        "read_obj",
        [](PathLike path, OptionalCount maxCorners) { return PyMeshArg(ReadObj(path, maxCorners)); },
        py::arg("path"), py::arg("max_corners") = py::none(), PyDoc("read_obj"));
    m.def(
        "write_obj", [](PyMeshArg mesh, PathLike path) { WriteObj(mesh, path); }, py::arg("mesh"),
        py::arg("path"), PyDoc("write_obj"));
    m.def(
        "read",
        [](PathLike path, OptionalText format, bool weld, OptionalCount maxCorners) {
            return PyMeshArg(ReadAny(path, format, weld, maxCorners));
        },
        py::arg("path"), py::arg("format") = py::none(), py::arg("weld") = true,
        py::arg("max_corners") = py::none(), PyDoc("read"));
    m.def(
        "write", [](PyMeshArg mesh, PathLike path, OptionalText format) { WriteAny(mesh, path, format); },
        py::arg("mesh"), py::arg("path"), py::arg("format") = py::none(), PyDoc("write"));
    m.def(
        "chamfer",
        [](PyMeshArg mesh, double size, AngleModeText angleMode, double limitAngle, PairArg select,
           OptionalPathLike pluginsDir, bool clamp, PairArg edge) {
            return ResultArg(Chamfer(mesh, size, angleMode, limitAngle, select, pluginsDir, clamp, edge));
        },
        py::arg("mesh"), py::arg("size"), py::arg("angle_mode") = "disable", py::arg("limit_angle") = 90.0,
        py::arg("select") = py::none(), py::arg("plugins_dir") = py::none(), py::arg("clamp") = false,
        py::arg("edge") = py::none(), PyDoc("chamfer"));
    m.def(
        "stats", [](PyMeshArg mesh, bool safeSize) { return StatsDict(Stats(mesh, safeSize)); },
        py::arg("mesh"), py::arg("safe_size") = true, PyDoc("stats"));
}
