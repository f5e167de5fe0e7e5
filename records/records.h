// The records the passes of both modes share: one per source polygon
// (PolyInfo), one per polygon edge (LineInfo), and the host's scan lists
// (IdList). Plain data; the passes that fill and read them say how.
#ifndef CORVANE_RECORDS_H
#define CORVANE_RECORDS_H

#include <stdint.h>

#include "hostapi/hostapi.h"
#include "vecmath/vecmath.h"

// One source polygon.
struct PolyInfo {
    int32_t polyIndex;  // BufModel index of the copy, -1 when refused
    LWPolID hostPoly;
    int32_t count;        // vertex count the host reports
    int32_t *points;      // BufModel point index per vertex
    LWPntID *hostPoints;  // host point per vertex (two-polygon mode: count + 1)
    Vec3 *positions;      // host position per vertex at survey time
    Vec3 centroid;
    const char *surface;  // borrowed from the host
    Vec3 normal;          // host normal, or (0, 0, 1); object mode only
    int32_t surveyed;     // 1 once the vertex data above was written
    // 1: the three vertex arrays are this record's own allocations (or
    // null); 0: they lie in blocks the survey shares among its records, which
    // the record holding each block's start owns.
    int32_t ownsArrays;
};

// One polygon edge, from vertex a to vertex b of its polygon. The fields
// every sweep and walk tests on candidate records, which lie anywhere in the
// array, come first and together, so that a test reads one or two cache
// lines of the record rather than all three; no padding anywhere.
struct LineInfo {
    LWPntID hostA;
    LWPntID hostB;
    LWPolID hostPoly;
    const char *surface;
    int32_t pointA;
    int32_t pointB;
    int32_t prevVertex;  // -1 until linked
    int32_t nextVertex;  // -1 until linked
    int32_t done;        // 1 once the edge received a chamfer strip
    int32_t polyIndex;
    int32_t vertexA;
    int32_t vertexB;
    LWPntID hostPrev;
    LWPntID hostNext;
    Vec3 midpoint;
    Vec3 normal;
};

// A list of host ids filled by the host's scans.
struct IdList {
    int32_t count;
    int32_t capacity;
    void **items;
};

#endif
