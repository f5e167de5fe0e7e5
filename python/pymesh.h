// The Python module's mesh: the MeshData the reader, the writer and the run
// layer take, held as it is so that none of them needs a copy, with the
// conversions from and to numpy arrays and Python lists. Every function here
// runs with the GIL held and reports bad input as a Python exception.
#ifndef CORVANE_PYMESH_H
#define CORVANE_PYMESH_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <optional>

#include "host/host.h"
#include "run/run.h"

namespace py = pybind11;

// Immutable once made: its arrays may be lent to Python as read-only views.
struct PyMesh {
    MeshData data;
    // Worked out on first use, set with the GIL held: the safe bevel size,
    // and the index the new masks of its results are found with.
    mutable std::optional<double> safeSize;
    mutable std::shared_ptr<const RunInputIndex> index;
};

// The object behind `obj`, a `T` made by its __init__ (or __setstate__).
// Mesh.__new__(Mesh) gives an instance whose storage was never constructed;
// reading one would read garbage, so it is a TypeError naming `what`.
template <class T> T &PyHeld(py::handle obj, const char *what, const char *typeName)
{
    if (!py::isinstance<T>(obj))
        throw py::type_error(std::string(what) + " must be a corvane." + typeName + ", not " +
                             py::str(py::type::handle_of(obj).attr("__name__")).cast<std::string>());
    auto *inst = reinterpret_cast<py::detail::instance *>(obj.ptr());
    if (!inst->get_value_and_holder(py::detail::get_type_info(typeid(T))).holder_constructed())
        throw py::type_error(std::string(what) + " is a corvane." + typeName +
                             " that was never initialised (made by __new__ without __init__)");
    return obj.cast<T &>();
}

inline const PyMesh &PyMeshOf(py::handle obj, const char *what = "mesh")
{
    return PyHeld<PyMesh>(obj, what, "Mesh");
}

// An argument or result that signatures show by its Python type ("Mesh",
// "Result", "os.PathLike") rather than as "object". Any object converts:
// the functions that take one check it themselves and say what is wrong,
// where a refused conversion would only list the overloads.
inline int PyAnyObject(PyObject *)
{
    return 1;
}
template <class Name> class PyNamed : public py::object {
    PYBIND11_OBJECT_DEFAULT(PyNamed, py::object, PyAnyObject)
};
namespace pybind11 {
namespace detail {
template <class Name> struct handle_type_name<PyNamed<Name>> {
    static constexpr auto name = Name::name;
};
}  // namespace detail
}  // namespace pybind11
#define CORVANE_PY_NAMED(Type, text)                                                                         \
    struct Type##Name {                                                                                      \
        static constexpr auto name = py::detail::const_name(text);                                           \
    };                                                                                                       \
    using Type = PyNamed<Type##Name>
CORVANE_PY_NAMED(PyMeshArg, "Mesh");

// Text from the reader, the writer or the module as a str: their bytes are
// UTF-8 where they come from this program, but file names and surface names
// are the user's bytes, shown with backslash escapes rather than lost.
py::str PyText(const std::string &text);
// Raises `type` with `text` (as PyText decodes it).
[[noreturn]] void PyRaise(PyObject *type, const std::string &text);

// Builds a mesh from `points` (anything numpy reads as an (n, 3) array of
// finite numbers), `polygons` (a sequence of index sequences, an (m, k)
// integer array, or the tuple (indices, offsets) of two integer arrays with
// offsets[0] == 0, offsets non-decreasing and offsets[-1] == len(indices))
// and `surfaces` (None for "Default", or one name per polygon). Throws
// py::value_error or py::type_error naming what is wrong.
PyMesh PyMeshMake(py::handle points, py::handle polygons, py::handle surfaces);

// The points as a read-only (n, 3) float64 view of `self`'s storage; `self`
// is the Python object that owns `mesh` and is kept alive by the view.
py::array PyMeshPoints(const PyMesh &mesh, py::handle self);
// The polygons as the pair (indices, offsets) of int64 arrays.
py::tuple PyMeshCompact(const PyMesh &mesh);
// The polygons as a list of lists of 0-based point indices.
py::list PyMeshPolygonList(const PyMesh &mesh);
// One surface name per polygon; "Default" where the host reported none, as
// the writer names it. Bytes that are not UTF-8 (a file written in Latin-1)
// are decoded with surrogateescape, as os.fsdecode does, so that the name
// given back to Mesh() writes the same bytes again.
py::list PyMeshSurfaces(const PyMesh &mesh);

// Pickling: the state is (1, points, indices, offsets, surfaces), a
// surface None where the host reported none; PyMeshFromState checks it as
// Mesh() checks its arguments.
py::tuple PyMeshState(const PyMesh &mesh);
PyMesh PyMeshFromState(const py::tuple &state);
// The same points (by value), polygons and surfaces.
bool PyMeshEqual(const PyMesh &a, const PyMesh &b);
// A hash that equal meshes share.
size_t PyMeshHash(const PyMesh &mesh);

#endif
