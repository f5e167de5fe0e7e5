// Meshes in and out of Python: numpy arrays and lists checked and turned
// into MeshData, and MeshData lent or copied back.
#include "python/pymesh.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kDefaultSurface[] = "Default";
const std::string kDefaultSurfaceName = kDefaultSurface;

// The name the writer puts for polygon `i`.
const std::string &SurfaceOf(const MeshData &mesh, size_t i)
{
    const std::string &name = MeshPolySurface(mesh, i);
    return name.empty() ? kDefaultSurfaceName : name;
}

std::string PolyName(size_t i)
{
    return "polygon " + std::to_string(i);
}

// Positions must be finite: the OBJ reader refuses "nan" and "inf" too, so
// a mesh made here is one the program could have read.
void CheckPoints(const py::array_t<double> &array, ssize_t count)
{
    const double *p = array.data();
    for (ssize_t i = 0; i < count * 3; i++)
        if (!std::isfinite(p[i]))
            throw py::value_error("points: point " + std::to_string(i / 3) +
                                  " has a coordinate that is not a "
                                  "finite number (" +
                                  std::to_string(p[i]) + ")");
}

void ReadPoints(py::handle points, MeshData *mesh)
{
    auto array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(points);
    if (!array) {
        PyErr_Clear();
        throw py::type_error("points: expected an (n, 3) array of numbers");
    }
    // An empty list has no second axis; it still means "no points".
    if (array.size() == 0 && array.ndim() <= 2)
        return;
    if (array.ndim() != 2 || array.shape(1) != 3)
        throw py::value_error("points: expected an (n, 3) array, got shape " +
                              py::str(array.attr("shape")).cast<std::string>());
    const ssize_t n = array.shape(0);
    CheckPoints(array, n);
    mesh->points.resize((size_t)n);
    std::memcpy(mesh->points.data(), array.data(), (size_t)n * 3 * sizeof(double));
}

bool IsIntegerArray(py::handle h)
{
    if (!py::isinstance<py::array>(h))
        return false;
    const char kind = py::reinterpret_borrow<py::array>(h).dtype().kind();
    return kind == 'i' || kind == 'u';
}

py::array_t<int64_t> IndexArray(py::handle h, const char *what)
{
    if (!IsIntegerArray(h))
        throw py::type_error(std::string("polygons: ") + what + " must be an integer array");
    return py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(h);
}

// One polygon's point numbers, each within the mesh, appended straight to
// its index array.
void AddPolygon(MeshData *mesh, size_t index, const int64_t *first, size_t count)
{
    if (count == 0)
        throw py::value_error("polygons: " + PolyName(index) + " has no points");
    const int64_t points = (int64_t)mesh->points.size();
    for (size_t k = 0; k < count; k++) {
        const int64_t v = first[k];
        if (v < 0 || v >= points)
            throw py::value_error("polygons: " + PolyName(index) + ": point index " + std::to_string(v) +
                                  " is out of range (the mesh has " + std::to_string(points) + " point(s))");
    }
    mesh->polyPoints.insert(mesh->polyPoints.end(), first, first + count);
    mesh->polyStart.push_back(mesh->polyPoints.size());
}

// Every polygon so far named "Default" and unselected, once their points
// are all read.
void NameDefault(MeshData *mesh)
{
    const size_t count = mesh->polyStart.size() - 1;
    mesh->polySurface.assign(count, count > 0 ? MeshInternSurface(mesh, kDefaultSurface) : kMeshNoSurface);
    mesh->polySelected.assign(count, 0);
}

// (indices, offsets): polygon i is indices[offsets[i]:offsets[i + 1]].
// Every offset is checked before any index is read: one past the end would
// read whatever lies beyond the array.
void ReadCompact(py::handle indicesObj, py::handle offsetsObj, MeshData *mesh)
{
    py::array_t<int64_t> indices = IndexArray(indicesObj, "indices");
    py::array_t<int64_t> offsets = IndexArray(offsetsObj, "offsets");
    if (indices.ndim() != 1 || offsets.ndim() != 1)
        throw py::value_error("polygons: indices and offsets must be one-dimensional");
    const ssize_t n = offsets.size() - 1;
    const int64_t length = (int64_t)indices.size();
    const int64_t *off = offsets.data();
    if (n < 0 || off[0] != 0 || off[n] != length)
        throw py::value_error("polygons: offsets must start at 0 and end at len(indices) (" +
                              std::to_string(length) + "), one more than the polygon count");
    for (ssize_t i = 0; i < n; i++) {
        if (off[i + 1] < off[i])
            throw py::value_error("polygons: offsets decrease at " + PolyName((size_t)i));
        if (off[i + 1] > length)
            throw py::value_error("polygons: offset " + std::to_string(i + 1) + " (" +
                                  std::to_string(off[i + 1]) + ") is past the end of indices (" +
                                  std::to_string(length) + ")");
    }
    MeshReservePolys(mesh, (size_t)n, (size_t)length);
    for (ssize_t i = 0; i < n; i++)
        AddPolygon(mesh, (size_t)i, indices.data() + off[i], (size_t)(off[i + 1] - off[i]));
}

// An (m, k) integer array: m polygons of k points each.
void ReadRows(py::handle rowsObj, MeshData *mesh)
{
    py::array_t<int64_t> rows = IndexArray(rowsObj, "an array of rows");
    if (rows.ndim() != 2)
        throw py::value_error("polygons: an index array must be (m, k), one row per polygon");
    const ssize_t m = rows.shape(0), k = rows.shape(1);
    MeshReservePolys(mesh, (size_t)m, (size_t)(m * k));
    for (ssize_t i = 0; i < m; i++)
        AddPolygon(mesh, (size_t)i, rows.data() + i * k, (size_t)k);
}

// A sequence of sequences of integers (Python ints or numpy integers; a
// float is refused rather than truncated).
void ReadSequences(py::handle polygons, MeshData *mesh)
{
    if (!PySequence_Check(polygons.ptr()) || py::isinstance<py::str>(polygons))
        throw py::type_error("polygons: expected a sequence of index sequences or (indices, offsets)");
    py::object outer = py::reinterpret_steal<py::object>(PySequence_Fast(polygons.ptr(), "polygons"));
    if (!outer)
        throw py::error_already_set();
    const Py_ssize_t m = PySequence_Fast_GET_SIZE(outer.ptr());
    mesh->polyStart.reserve((size_t)m + 1);
    std::vector<int64_t> points;
    for (Py_ssize_t i = 0; i < m; i++) {
        py::handle item = PySequence_Fast_GET_ITEM(outer.ptr(), i);
        if (IsIntegerArray(item)) {
            py::array_t<int64_t> row = IndexArray(item, "a polygon");
            if (row.ndim() != 1)
                throw py::value_error("polygons: " + PolyName((size_t)i) + " must be one-dimensional");
            AddPolygon(mesh, (size_t)i, row.data(), (size_t)row.size());
            continue;
        }
        if (!PySequence_Check(item.ptr()) || py::isinstance<py::str>(item))
            throw py::type_error("polygons: " + PolyName((size_t)i) + " is not a sequence of point indices");
        py::object inner = py::reinterpret_steal<py::object>(PySequence_Fast(item.ptr(), "polygon"));
        if (!inner)
            throw py::error_already_set();
        const Py_ssize_t k = PySequence_Fast_GET_SIZE(inner.ptr());
        points.resize((size_t)k);
        for (Py_ssize_t j = 0; j < k; j++) {
            PyObject *index = PyNumber_Index(PySequence_Fast_GET_ITEM(inner.ptr(), j));
            if (!index) {
                PyErr_Clear();
                throw py::type_error("polygons: " + PolyName((size_t)i) + ": point indices must be integers");
            }
            py::object number = py::reinterpret_steal<py::object>(index);
            int overflow = 0;
            points[(size_t)j] = PyLong_AsLongLongAndOverflow(index, &overflow);
            if (overflow)
                throw py::value_error("polygons: " + PolyName((size_t)i) + ": point index " +
                                      py::str(number).cast<std::string>() +
                                      " is out of range (the mesh has " +
                                      std::to_string(mesh->points.size()) + " point(s))");
        }
        AddPolygon(mesh, (size_t)i, points.data(), points.size());
    }
}

void ReadPolygonPoints(py::handle polygons, MeshData *mesh)
{
    if (py::isinstance<py::tuple>(polygons) && py::len(polygons) == 2) {
        py::tuple pair = py::reinterpret_borrow<py::tuple>(polygons);
        if (py::isinstance<py::array>(pair[0]) && py::isinstance<py::array>(pair[1]) &&
            py::reinterpret_borrow<py::array>(pair[1]).ndim() == 1 && IsIntegerArray(pair[0])) {
            ReadCompact(pair[0], pair[1], mesh);
            return;
        }
    }
    if (py::isinstance<py::array>(polygons)) {
        ReadRows(polygons, mesh);
        return;
    }
    ReadSequences(polygons, mesh);
}

void ReadPolygons(py::handle polygons, MeshData *mesh)
{
    ReadPolygonPoints(polygons, mesh);
    NameDefault(mesh);
}

// A name the OBJ writer can put after `usemtl` and the reader gives back.
void CheckSurfaceName(const std::string &name, py::handle given, size_t index)
{
    bool ok = !name.empty();
    for (unsigned char c : name)
        ok = ok && c > ' ' && c != 0x7f;
    if (!ok)
        throw py::value_error("surfaces: the name of " + PolyName(index) + " (" +
                              py::repr(given).cast<std::string>() +
                              ") must be non-empty, without blanks or control characters");
}

// The bytes of a name as the writer will put them: UTF-8, with the
// surrogates of a name read from a Latin-1 file (or from os.fsdecode) back
// to the bytes they stand for.
std::string SurfaceBytes(py::handle name, size_t index)
{
    py::object bytes =
        py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(name.ptr(), "utf-8", "surrogateescape"));
    if (!bytes) {
        PyErr_Clear();
        throw py::value_error("surfaces: the name of " + PolyName(index) + " (" +
                              py::repr(name).cast<std::string>() +
                              ") holds a surrogate that stands for no byte");
    }
    return std::string(PyBytes_AS_STRING(bytes.ptr()), (size_t)PyBytes_GET_SIZE(bytes.ptr()));
}

void ReadSurfaces(py::handle surfaces, MeshData *mesh)
{
    if (surfaces.is_none())
        return;
    if (py::isinstance<py::str>(surfaces) || !PySequence_Check(surfaces.ptr()))
        throw py::type_error("surfaces: expected a sequence of names, one per polygon");
    py::sequence names = py::reinterpret_borrow<py::sequence>(surfaces);
    const size_t count = MeshPolyCount(*mesh);
    if (py::len(names) != count)
        throw py::value_error("surfaces: " + std::to_string(py::len(names)) + " name(s) for " +
                              std::to_string(count) + " polygon(s)");
    // Each name goes into the mesh's table once. Neighbouring polygons
    // mostly share one str object: its bytes and checks are reused then.
    mesh->surfaces.clear();
    mesh->surfaceLookup.clear();
    PyObject *last = nullptr;
    int index = kMeshNoSurface;
    for (size_t i = 0; i < count; i++) {
        py::object name = names[i];
        if (name.ptr() != last) {
            if (!py::isinstance<py::str>(name))
                throw py::type_error("surfaces: the name of " + PolyName(i) + " is not a str");
            const std::string bytes = SurfaceBytes(name, i);
            CheckSurfaceName(bytes, name, i);
            index = MeshInternSurface(mesh, bytes);
            last = name.ptr();
        }
        mesh->polySurface[i] = index;
    }
}

}  // namespace

PyMesh PyMeshMake(py::handle points, py::handle polygons, py::handle surfaces)
{
    PyMesh mesh;
    ReadPoints(points, &mesh.data);
    ReadPolygons(polygons, &mesh.data);
    ReadSurfaces(surfaces, &mesh.data);
    return mesh;
}

py::array PyMeshPoints(const PyMesh &mesh, py::handle self)
{
    const ssize_t n = (ssize_t)mesh.data.points.size();
    const double *data = n > 0 ? mesh.data.points[0].data() : nullptr;
    py::array_t<double> view({n, (ssize_t)3}, {(ssize_t)(3 * sizeof(double)), (ssize_t)sizeof(double)}, data,
                             self);
    // The mesh never changes; neither may its points through the view.
    view.attr("flags").attr("writeable") = false;
    return std::move(view);
}

py::tuple PyMeshCompact(const PyMesh &mesh)
{
    // The mesh's own arrays, widened to int64 in one pass each.
    const MeshData &data = mesh.data;
    py::array_t<int64_t> offsets((ssize_t)data.polyStart.size());
    std::copy(data.polyStart.begin(), data.polyStart.end(), offsets.mutable_data());
    py::array_t<int64_t> indices((ssize_t)data.polyPoints.size());
    std::copy(data.polyPoints.begin(), data.polyPoints.end(), indices.mutable_data());
    return py::make_tuple(indices, offsets);
}

py::list PyMeshPolygonList(const PyMesh &mesh)
{
    const size_t count = MeshPolyCount(mesh.data);
    py::list list(count);
    for (size_t i = 0; i < count; i++) {
        const MeshPointSpan points = MeshPolyPoints(mesh.data, i);
        py::list poly(points.size());
        for (size_t k = 0; k < points.size(); k++)
            poly[k] = py::int_(points[k]);
        list[i] = std::move(poly);
    }
    return list;
}

py::list PyMeshSurfaces(const PyMesh &mesh)
{
    const size_t count = MeshPolyCount(mesh.data);
    py::list list(count);
    // Neighbouring polygons mostly share a name: one str for each run.
    const std::string *last = nullptr;
    py::object name;
    for (size_t i = 0; i < count; i++) {
        const std::string &text = SurfaceOf(mesh.data, i);
        if (!last || *last != text) {
            name = py::reinterpret_steal<py::object>(
                PyUnicode_DecodeUTF8(text.data(), (Py_ssize_t)text.size(), "surrogateescape"));
            if (!name)
                throw py::error_already_set();
            last = &text;
        }
        list[i] = name;
    }
    return list;
}

py::tuple PyMeshState(const PyMesh &mesh)
{
    const size_t n = mesh.data.points.size();
    py::array_t<double> points({(ssize_t)n, (ssize_t)3});
    if (n > 0)
        std::memcpy(points.mutable_data(), mesh.data.points[0].data(), n * 3 * sizeof(double));
    py::tuple compact = PyMeshCompact(mesh);
    py::list surfaces = PyMeshSurfaces(mesh);
    for (size_t i = 0; i < MeshPolyCount(mesh.data); i++)
        if (!MeshPolyHasSurface(mesh.data, i))
            surfaces[i] = py::none();
    return py::make_tuple(1, points, compact[0], compact[1], surfaces);
}

PyMesh PyMeshFromState(const py::tuple &state)
{
    if (state.size() != 5 || !py::int_(1).equal(state[0]))
        throw py::value_error("Mesh.__setstate__: not a state Mesh.__getstate__ gave");
    const size_t polygons = py::len(state[3]) == 0 ? 0 : py::len(state[3]) - 1;
    if (!py::isinstance<py::list>(state[4]) || py::len(state[4]) != polygons)
        throw py::value_error("Mesh.__setstate__: not a state Mesh.__getstate__ gave");
    py::list names = py::reinterpret_borrow<py::list>(state[4]);
    py::list given(polygons);
    for (size_t i = 0; i < polygons; i++)
        given[i] = names[i].is_none() ? py::str(kDefaultSurface) : py::object(names[i]);
    PyMesh mesh = PyMeshMake(state[1], py::make_tuple(state[2], state[3]), given);
    for (size_t i = 0; i < polygons; i++)
        if (names[i].is_none())
            mesh.data.polySurface[i] = kMeshNoSurface;
    return mesh;
}

bool PyMeshEqual(const PyMesh &a, const PyMesh &b)
{
    if (a.data.points != b.data.points || a.data.polyStart != b.data.polyStart ||
        a.data.polyPoints != b.data.polyPoints)
        return false;
    for (size_t i = 0; i < MeshPolyCount(a.data); i++)
        if (SurfaceOf(a.data, i) != SurfaceOf(b.data, i))
            return false;
    return true;
}

size_t PyMeshHash(const PyMesh &mesh)
{
    size_t h = mesh.data.points.size();
    auto mix = [&h](size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    for (const std::array<double, 3> &p : mesh.data.points)
        for (double c : p)
            mix(std::hash<double>()(c == 0.0 ? 0.0 : c));  // -0.0 == 0.0: one hash for both
    for (size_t i = 0; i < MeshPolyCount(mesh.data); i++) {
        const MeshPointSpan points = MeshPolyPoints(mesh.data, i);
        mix(points.size());
        for (int v : points)
            mix((size_t)v);
        mix(std::hash<std::string>()(SurfaceOf(mesh.data, i)));
    }
    return h;
}

py::str PyText(const std::string &text)
{
    PyObject *str = PyUnicode_DecodeUTF8(text.data(), (Py_ssize_t)text.size(), "backslashreplace");
    if (!str)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(str);
}

void PyRaise(PyObject *type, const std::string &text)
{
    PyErr_SetObject(type, PyText(text).ptr());
    throw py::error_already_set();
}
