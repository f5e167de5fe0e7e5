// The Python module `corvane`: meshes from numpy arrays or OBJ files, run
// through the real Corvane.p on the emulated host, exactly as the program
// runs them, with the module's messages handed back as data or as
// corvane.ModuleError.
#include <dlfcn.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "meshio/meshio.h"
#include "python/pymesh.h"
#include "run/run.h"

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

PyObject *gModuleError = nullptr;

struct PyMessage {
    bool error = false;
    std::string text;
};

struct PyResult {
    py::object input;    // the Mesh chamfered, to work out `created` from
    py::object mesh;
    py::object created = py::none();  // the new mask once asked for
    py::list messages;
    double activationSeconds = 0.0;
};

// The new mask, worked out on first use: most pipelines never ask for it,
// and it costs a third of an object-mode activation.
py::object CreatedMask(PyResult &result)
{
    if (!result.created.is_none())
        return result.created;
    const PyMesh &input = result.input.cast<const PyMesh &>();
    const PyMesh &output = result.mesh.cast<const PyMesh &>();
    std::vector<bool> created;
    {
        py::gil_scoped_release release;
        created = RunCreatedPolygons(input.data, output.data);
    }
    py::array_t<bool> mask((ssize_t)created.size());
    bool *out = mask.mutable_data();
    for (size_t i = 0; i < created.size(); i++)
        out[i] = created[i];
    mask.attr("flags").attr("writeable") = false;
    result.created = mask;
    return result.created;
}

// The Corvane.p installed beside this extension.
std::string BundledModulePath()
{
    Dl_info info;
    if (dladdr((void *)&Slot, &info) && info.dli_fname)
        return (fs::path(info.dli_fname).parent_path() / "Corvane.p").string();
    return "Corvane.p";
}

std::string PathArg(py::handle path)
{
    return py::module_::import("os").attr("fspath")(path).cast<std::string>();
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
        throw py::import_error(error);
}

py::object ModulePath()
{
    ModuleSlot &slot = Slot();
    std::lock_guard<std::mutex> hold(slot.lock);
    return slot.loaded ? py::object(py::str(slot.path)) : py::object(py::none());
}

void Warn(const std::string &text)
{
    if (PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 2) != 0)
        throw py::error_already_set();
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
        Warn("cannot create the settings folder " + dir + " (" + ec.message() + "); options will not be kept");
    else if (dir.size() + sizeof kSettingsFileName > kModulePathLimit)
        Warn("the settings folder path " + dir + " is too long for the module; options will not be kept");
}

int AngleModeArg(const std::string &mode)
{
    if (mode == "disable")
        return 0;
    if (mode == "lt")
        return 1;
    if (mode == "gt")
        return 2;
    throw py::value_error("angle_mode must be \"disable\", \"lt\" or \"gt\", not \"" + mode + "\"");
}

// The two-polygon mode's pair, 0-based, as the run layer's 1-based numbers.
void SelectArg(py::handle select, size_t polygons, int out[2])
{
    if (select.is_none())
        return;
    if (!PySequence_Check(select.ptr()) || py::isinstance<py::str>(select) || py::len(select) != 2)
        throw py::type_error("select must be None or two polygon indices (i, j)");
    py::sequence pair = py::reinterpret_borrow<py::sequence>(select);
    long long ij[2];
    for (int k = 0; k < 2; k++) {
        py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(py::object(pair[(size_t)k]).ptr()));
        if (!index)
            throw py::error_already_set();
        ij[k] = index.cast<long long>();
        if (ij[k] < 0 || ij[k] >= (long long)polygons)
            throw py::value_error("select: polygon index " + std::to_string(ij[k]) +
                                  " is out of range (the mesh has " + std::to_string(polygons) + " polygon(s))");
    }
    if (ij[0] == ij[1])
        throw py::value_error("select: the two polygons must be different");
    out[0] = (int)ij[0] + 1;
    out[1] = (int)ij[1] + 1;
}

[[noreturn]] void RaiseModuleError(const std::string &text, py::object result)
{
    py::object error = py::reinterpret_borrow<py::object>(gModuleError)(text);
    error.attr("result") = result;
    PyErr_SetObject(gModuleError, error.ptr());
    throw py::error_already_set();
}

py::object Chamfer(py::object meshObj, double size, const std::string &angleMode, double limitAngle,
                   py::object select, py::object pluginsDir)
{
    if (!py::isinstance<PyMesh>(meshObj))
        throw py::type_error("mesh must be a corvane.Mesh");
    const PyMesh &mesh = meshObj.cast<const PyMesh &>();
    RunOptions options;
    options.markPolygons = false;
    options.bevelSize = size;
    options.angleMode = AngleModeArg(angleMode);
    options.limitAngleDeg = limitAngle;
    SelectArg(select, mesh.data.polys.size(), options.select);

    std::unique_ptr<PrivateSettingsDir> privateDir;
    if (pluginsDir.is_none()) {
        privateDir.reset(new PrivateSettingsDir());
        options.settingsDir = privateDir->path;
    } else {
        options.settingsDir = PathArg(pluginsDir);
        PrepareSettingsDir(options.settingsDir);
    }

    RunResult run;
    std::string loadError;
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
    }
    if (!loadError.empty())
        throw py::import_error(loadError);
    if (run.activation != HOST_ACTIVATE_OK)
        throw std::runtime_error("the module's activation failed with result " + std::to_string(run.activation));
    if (run.cancelled)
        throw std::runtime_error("the module's options panel was cancelled");

    PyResult result;
    result.input = meshObj;
    result.activationSeconds = run.activationMs / 1000.0;
    if (run.unchanged) {
        // An edit ended without change gives the input back: the rebuilt
        // object of the object mode would otherwise be an empty layer.
        result.mesh = meshObj;
    } else {
        PyMesh output;
        output.data = std::move(run.output);
        result.mesh = py::cast(std::move(output));
    }
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
    if (firstInfo)
        RaiseModuleError(firstInfo->text, py::none());
    py::object resultObj = py::cast(std::move(result));
    if (firstError)
        RaiseModuleError(firstError->text, resultObj);
    return resultObj;
}

// A file that cannot be opened is the caller's OSError (FileNotFoundError,
// PermissionError, IsADirectoryError); what is wrong inside a file is a
// ValueError naming its line.
void CheckReadable(const std::string &path)
{
    std::error_code ec;
    if (fs::is_directory(path, ec))
        errno = EISDIR;
    else if (FILE *f = std::fopen(path.c_str(), "rb"))
        return (void)std::fclose(f);
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

py::object ReadObj(py::handle pathObj)
{
    const std::string path = PathArg(pathObj);
    CheckReadable(path);
    PyMesh mesh;
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = MeshReadObj(path, &mesh.data, nullptr, &error);
    }
    if (!ok)
        throw py::value_error(error);
    return py::cast(std::move(mesh));
}

void WriteObj(const PyMesh &mesh, py::handle pathObj)
{
    const std::string path = PathArg(pathObj);
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = MeshWriteObj(path, mesh.data, &error);
    }
    if (!ok) {
        PyErr_SetString(PyExc_OSError, error.c_str());
        throw py::error_already_set();
    }
}

py::dict Stats(const PyMesh &mesh)
{
    MeshStats s = MeshComputeStats(mesh.data);
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
    d["opposite_winding_edges"] = s.sameWayEdges;
    d["safe_bevel_size"] = MeshSafeBevelSize(mesh.data);
    return d;
}

}  // namespace

PYBIND11_MODULE(_corvane, m)
{
    m.doc() = "Corvane's edge chamfer on meshes held in numpy arrays, run by the real Corvane.p.";

    gModuleError = PyErr_NewExceptionWithDoc("corvane.ModuleError",
                                             "A failure the module reported; str() is its message, and "
                                             "`result` the faulty Result when the module went on, else None.",
                                             PyExc_RuntimeError, nullptr);
    m.attr("ModuleError") = py::handle(gModuleError);

    py::class_<PyMesh>(m, "Mesh", "An immutable polygon mesh: points, polygons and one surface name per polygon.")
        .def(py::init([](py::handle points, py::handle polygons, py::handle surfaces) {
                 return PyMeshMake(points, polygons, surfaces);
             }),
             py::arg("points"), py::arg("polygons"), py::arg("surfaces") = py::none())
        .def_property_readonly(
            "points", [](py::object self) { return PyMeshPoints(self.cast<const PyMesh &>(), self); },
            "The points as a read-only (n, 3) float64 array.")
        .def_property_readonly("polygons", &PyMeshPolygonList, "The polygons as lists of 0-based point indices.")
        .def_property_readonly("compact", &PyMeshCompact,
                               "The polygons as (indices, offsets), int64 arrays: polygon i is "
                               "indices[offsets[i]:offsets[i + 1]].")
        .def_property_readonly("surfaces", &PyMeshSurfaces, "One surface name per polygon.")
        .def("__repr__", [](const PyMesh &mesh) {
            return "<corvane.Mesh with " + std::to_string(mesh.data.points.size()) + " points and " +
                   std::to_string(mesh.data.polys.size()) + " polygons>";
        });

    py::class_<PyMessage>(m, "Message", "A message the module gave.")
        .def_readonly("error", &PyMessage::error,
                      "True for an error message (a pass went on with a fault), False for an info message.")
        .def_readonly("text", &PyMessage::text, "Its lines, joined by line breaks.")
        .def("__repr__", [](const PyMessage &msg) {
            return std::string("<corvane.Message ") + (msg.error ? "error " : "info ") +
                   py::repr(py::str(msg.text)).cast<std::string>() + ">";
        });

    py::class_<PyResult>(m, "Result", "What one chamfer made.")
        .def_readonly("mesh", &PyResult::mesh, "The result: the rebuilt object, or the edited input in two-polygon mode.")
        .def_property_readonly("new", &CreatedMask,
                               "Per result polygon, True for a strip, patch or cap the run made (read-only).")
        .def_readonly("messages", &PyResult::messages, "What the module said, in order.")
        .def_readonly("activation_seconds", &PyResult::activationSeconds, "Wall time of the module's activation.");

    m.def("load_module", &LoadModulePy, py::arg("path"),
          "Loads the Corvane.p at `path` in place of the one loaded before (ImportError if it cannot be loaded).");
    m.def("module_path", &ModulePath, "The path of the loaded module, or None before the first chamfer.");
    m.def("read_obj", &ReadObj, py::arg("path"), "Reads an OBJ file the way the corvane program does.");
    m.def("write_obj", &WriteObj, py::arg("mesh"), py::arg("path"),
          "Writes `mesh` as an OBJ file, atomically, exactly as the corvane program writes it.");
    m.def("chamfer", &Chamfer, py::arg("mesh"), py::arg("size"), py::arg("angle_mode") = "disable",
          py::arg("limit_angle") = 90.0, py::arg("select") = py::none(), py::arg("plugins_dir") = py::none(),
          "Chamfers `mesh` by `size` with the module (object mode, or with `select` two-polygon mode).");
    m.def("stats", &Stats, py::arg("mesh"), "The counts `corvane --stats` prints, and the safe bevel size.");
}
