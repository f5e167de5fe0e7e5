// The generated meshes every validity sweep runs on: triangulated solids
// whose flat faces are cut by random diagonals, fanned faces (points of 3 to
// 10 corners), mixed triangle and quad surfaces, noisy variants and quad
// meshes with merged n-gons. Small on purpose: the sweeps try every shared
// edge and many sizes on each.
#ifndef CORVANE_TESTS_MESHSETS_H
#define CORVANE_TESTS_MESHSETS_H

#include <string>
#include <vector>

#include "meshgen/meshgen.h"

struct NamedMesh {
    std::string name;
    MeshData mesh;
    bool closed = true;  // closed and consistently wound: the output must be too
};

inline std::vector<NamedMesh> ValiditySet()
{
    std::vector<NamedMesh> set;
    auto add = [&](const std::string &name, const MeshData &mesh, bool closed = true) {
        set.push_back({name, mesh, closed});
    };
    add("cube", MakeCube(0.0, 2.0));
    add("fanned cube", MakeFanned(MakeCube(), {}));
    add("half-fanned cube", MakeFanned(MakeCube(), {0, 3, 5}));
    add("box 2x1x1 split 2, diagonals", MakeRandomDiagonals(MakeBox(2.0, 1.0, 1.0, 2), 1));
    add("box 1x1x3 split 3, diagonals", MakeRandomDiagonals(MakeBox(1.0, 1.0, 3.0, 3), 7));
    add("box split 2, diagonals, noisy",
        MakeJittered(MakeRandomDiagonals(MakeBox(1.0, 1.0, 1.0, 2), 3), 0.03));
    add("fanned cube, noisy", MakeJittered(MakeFanned(MakeCube(-1.0, 1.0), {}), 0.05));
    for (int n = 3; n <= 10; ++n)
        add("prism " + std::to_string(n) + ", fanned caps", MakeFanned(MakeCylinder(n, 1), {n, n + 1}));
    add("prism 6x2, diagonals", MakeRandomDiagonals(MakeCylinder(6, 2), 5));
    add("roof bipyramid 8", MakeRoofBipyramid(8));
    add("roof bipyramid 6", MakeRoofBipyramid(6));
    add("roof bipyramid 12", MakeRoofBipyramid(12));
    add("torus 4x4, quad 0 split", MakeSplitQuads(MakeTorus(4, 4), {0}));
    add("torus 3x3, quads 0 and 1 merged", MakeMerged(MakeTorus(3, 3), 0, 1));
    add("torus 8x6, quads 0 and 1 merged", MakeMerged(MakeTorus(8, 6), 0, 1));
    add("torus 6x4, diagonals", MakeRandomDiagonals(MakeTorus(6, 4), 11));
    add("torus 6x4, half split, noisy", MakeJittered(MakeTriangulated(MakeTorus(6, 4), 2), 0.05));
    add("quad sphere 2, diagonals", MakeRandomDiagonals(MakeQuadSphere(2), 13));
    add("mixed sphere 2", MakeMixedSphere(2));
    add("quad sphere 2, merged", MakeMerged(MakeMerged(MakeQuadSphere(2), 0, 1), 3, 4));
    add("box split 2, merged, noisy", MakeJittered(MakeMerged(MakeBox(1.0, 1.0, 1.0, 2), 0, 1), 0.04));
    add("grid 2x2, quad 0 split", MakeSplitQuads(MakeQuadGrid(2, 2), {0}), false);
    add("grid 3x3, diagonals", MakeRandomDiagonals(MakeQuadGrid(3, 3), 17), false);
    add("fan 6", MakeFan(6), false);
    return set;
}

#endif
