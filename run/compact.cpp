// The points a result keeps: those its polygons use.
#include "run/run.h"

void RunDropLoosePoints(MeshData *mesh, std::vector<int> *kept)
{
    // In two-polygon mode the module edits the input in place and leaves the
    // points it replaced behind; in object mode a weld may leave some too.
    // The host keeps them, but a file that holds them shows loose points in
    // other tools and a point count that is not the result's.
    std::vector<int> newIndex(mesh->points.size(), -1);
    for (int p : mesh->polyPoints)
        if (p >= 0 && (size_t)p < newIndex.size())
            newIndex[(size_t)p] = 0;
    kept->clear();
    size_t next = 0;
    for (size_t i = 0; i < newIndex.size(); i++) {
        if (newIndex[i] < 0)
            continue;
        newIndex[i] = (int)next;
        mesh->points[next++] = mesh->points[i];
        kept->push_back((int)i);
    }
    mesh->points.resize(next);
    for (int &p : mesh->polyPoints)
        if (p >= 0 && (size_t)p < newIndex.size())
            p = newIndex[(size_t)p];
}
