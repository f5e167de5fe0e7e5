// Writes the bundled example meshes into the folder given (default: the
// current one): cube.obj, cylinder.obj, torus.obj and lgrid.obj.
//
//   cmake --build build --target corvane_make_examples
//   build/cli/corvane_make_examples examples
#include <cstdio>
#include <string>

#include "meshgen/meshgen.h"
#include "meshio/meshio.h"

namespace {

// A flat 6 x 6 quad grid facing +z with an L-shaped hole of five cells:
//
//   j=3  . X . . . .
//   j=2  . X . . . .      X: removed cell
//   j=1  . X X X . .
//   j=0  . . . . . .
//        i=0 1 2 3 4 5
//
// The hole's rim turns inwards at the inner corner of the L (point (2, 2)),
// the concave corner the corner patches must handle.
MeshData MakeLGrid()
{
    MeshData grid = MakeQuadGrid(6, 6);
    auto removed = [](int i, int j) { return (j == 1 && i >= 1 && i <= 3) || (i == 1 && j >= 2 && j <= 3); };
    MeshData mesh;
    mesh.points = grid.points;
    for (int j = 0; j < 6; j++)
        for (int i = 0; i < 6; i++)
            if (!removed(i, j))
                MeshAddPolyFrom(&mesh, grid, (size_t)(j * 6 + i));
    return mesh;
}

// The cylinder's sides and caps on surfaces of their own, so that the
// example also carries surface names through.
MeshData MakeNamedCylinder()
{
    MeshData mesh = MakeCylinder(12, 2);
    const int side = MeshInternSurface(&mesh, "Side"), cap = MeshInternSurface(&mesh, "Cap");
    for (size_t i = 0; i < MeshPolyCount(mesh); i++)
        mesh.polySurface[i] = MeshPolyPoints(mesh, i).size() == 4 ? side : cap;
    return mesh;
}

bool Write(const std::string &dir, const char *name, const MeshData &mesh)
{
    std::string error;
    if (!MeshWriteObj(dir + "/" + name, mesh, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string dir = argc > 1 ? argv[1] : ".";
    bool ok = Write(dir, "cube.obj", MakeCube(-1.0, 1.0)) &&
              Write(dir, "cylinder.obj", MakeNamedCylinder()) && Write(dir, "torus.obj", MakeTorus(16, 8)) &&
              Write(dir, "lgrid.obj", MakeLGrid());
    return ok ? 0 : 1;
}
