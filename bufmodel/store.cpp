// The BufModel store: adding, re-shaping and reading back buffered points
// and polygons. Records are carved from blocks the model owns until the
// flush releases them; the tables of record pointers double as they fill.
#include "bufmodel/bufmodel.h"

#include <stdlib.h>
#include <string.h>

int BufModelInit(BufModel *model)
{
    if (!model)
        return -1;
    // Slots at and above each count are never read, so a table kept from an
    // earlier use needs no emptying.
    if (model->recordLimit <= 0)
        model->recordLimit = BUFMODEL_MAX_POINTS;
    model->pointCount = 0;
    model->polyCount = 0;
    model->refusedAdds = 0;
    model->refusedForMemory = 0;
    model->blocks = nullptr;
    for (int lane = 0; lane < 2; lane++) {
        model->blockCursor[lane] = nullptr;
        model->blockLeft[lane] = 0;
    }
    // The bounding box is set by the first point added; the current monitor
    // belongs to the monitor wrappers.
    return 0;
}

// A model holds up to 65536 polygons of a few corners each: a separate
// allocation per record, vertex array and name made allocation the largest
// cost of the passes. Pieces are carved in order from blocks instead; a block
// is at least kBlockSize and larger when one piece needs more. Points have
// a lane of blocks of their own: the weld and the flush visit them by index,
// and side by side they take a third of the memory of points scattered among
// polygons.
struct BufBlock {
    BufBlock *next;
};

static const size_t kBlockSize = 256 * 1024;
static const size_t kPieceAlign = 8;  // doubles and pointers
enum { kPointLane = 0, kPolyLane = 1 };

// Makes room for one more slot in a table holding `count`; false without
// memory. The table doubles, so the adds stay linear in the records.
template <typename Record>
static bool RoomForOne(Record ***table, int32_t *room, int32_t count, int32_t limit)
{
    if (count < *room)
        return true;
    int64_t grown = *room < 1024 ? 1024 : (int64_t)*room * 2;
    if (grown > limit)
        grown = limit;
    if (grown <= count)
        return false;
    Record **bigger = static_cast<Record **>(realloc(*table, (size_t)grown * sizeof(Record *)));
    if (!bigger)
        return false;
    *table = bigger;
    *room = (int32_t)grown;
    return true;
}

static void *Carve(BufModel *model, int lane, size_t size)
{
    // A size this large can only come from a negative count.
    if (size > ((size_t)-1) / 4)
        return nullptr;
    size = (size + (kPieceAlign - 1)) & ~(kPieceAlign - 1);
    if (size > model->blockLeft[lane]) {
        size_t header = (sizeof(BufBlock) + (kPieceAlign - 1)) & ~(kPieceAlign - 1);
        size_t room = size > kBlockSize ? size : kBlockSize;
        if (room > (size_t)-1 - header)
            return nullptr;
        BufBlock *block = static_cast<BufBlock *>(malloc(header + room));
        if (!block)
            return nullptr;
        block->next = model->blocks;
        model->blocks = block;
        model->blockCursor[lane] = reinterpret_cast<char *>(block) + header;
        model->blockLeft[lane] = room;
    }
    void *piece = model->blockCursor[lane];
    model->blockCursor[lane] += size;
    model->blockLeft[lane] -= size;
    return piece;
}

void BufModelFreeBlocks(BufModel *model)
{
    BufBlock *block = model->blocks;
    while (block) {
        BufBlock *next = block->next;
        free(block);
        block = next;
    }
    model->blocks = nullptr;
    for (int lane = 0; lane < 2; lane++) {
        model->blockCursor[lane] = nullptr;
        model->blockLeft[lane] = 0;
    }
}

// Widens the box to take p; strict tests, so an equal coordinate changes
// nothing.
static void WidenBox(BufModel *model, const Vec3 &p)
{
    if (model->boxMax.x < p.x)
        model->boxMax.x = p.x;
    if (model->boxMin.x > p.x)
        model->boxMin.x = p.x;
    if (model->boxMax.y < p.y)
        model->boxMax.y = p.y;
    if (model->boxMin.y > p.y)
        model->boxMin.y = p.y;
    if (model->boxMax.z < p.z)
        model->boxMax.z = p.z;
    if (model->boxMin.z > p.z)
        model->boxMin.z = p.z;
}

int BufModelAddPoint(BufModel *model, const Vec3 *position)
{
    if (!model || !position)
        return -1;
    if (model->pointCount >= model->recordLimit) {
        model->refusedAdds++;
        return -1;
    }
    BufPoint *point = RoomForOne(&model->pointTable, &model->pointRoom, model->pointCount, model->recordLimit)
                          ? static_cast<BufPoint *>(Carve(model, kPointLane, sizeof(BufPoint)))
                          : nullptr;
    if (!point) {
        model->refusedAdds++;
        model->refusedForMemory++;
        return -1;
    }
    if (model->pointCount == 0) {
        model->boxMax = *position;
        model->boxMin = *position;
    } else {
        WidenBox(model, *position);
    }
    point->hostId = nullptr;
    point->position = *position;
    point->used = 0;
    model->pointTable[model->pointCount] = point;
    return model->pointCount++;
}

static char *CopyName(BufModel *model, const char *name)
{
    size_t size = strlen(name) + 1;
    char *copy = static_cast<char *>(Carve(model, kPolyLane, size));
    if (copy)
        memcpy(copy, name, size);
    return copy;
}

// Fills fresh vertex arrays (host ids 0, the given point indices) and returns
// the centroid: the sum of the vertex positions in vertex order, divided by
// the count.
static Vec3 FillVertices(const BufModel *model, int count, const int32_t *points, LWPntID *hostPoints,
                         int32_t *indices)
{
    Vec3 sum = {0.0, 0.0, 0.0};
    for (int i = 0; i < count; i++) {
        hostPoints[i] = nullptr;
        indices[i] = points[i];
        const Vec3 &p = model->pointTable[points[i]]->position;
        sum.x += p.x;
        sum.y += p.y;
        sum.z += p.z;
    }
    return VecDiv(sum, static_cast<double>(count));
}

// Unit normal ((p0 - p1) x (p2 - p1)) / |...| from the first three vertices
// only. Collinear or coincident vertices give a zero cross product; the
// normal is then stored as (0, 0, 0) rather than the NaN of 0 / 0, which
// would otherwise spread into every position computed from it.
static Vec3 FirstThreeNormal(const BufModel *model, const int32_t *points)
{
    const Vec3 &p0 = model->pointTable[points[0]]->position;
    const Vec3 &p1 = model->pointTable[points[1]]->position;
    const Vec3 &p2 = model->pointTable[points[2]]->position;
    Vec3 a = VecSub(p0, p1);
    Vec3 b = VecSub(p2, p1);
    Vec3 cross = VecCross(a, b);
    double length = VecLength(cross);
    if (length == 0.0)
        return Vec3{0.0, 0.0, 0.0};
    return VecDiv(cross, length);
}

// The polygon's record with its vertex arrays and name copy, centroid and
// normal not yet written; null (counted as refused) when there is no room.
static BufPoly *NewPoly(BufModel *model, const char *surface, int count)
{
    if (model->polyCount >= model->recordLimit) {
        model->refusedAdds++;
        return nullptr;
    }
    BufPoly *poly = RoomForOne(&model->polyTable, &model->polyRoom, model->polyCount, model->recordLimit)
                        ? static_cast<BufPoly *>(Carve(model, kPolyLane, sizeof(BufPoly)))
                        : nullptr;
    LWPntID *hostPoints =
        poly ? static_cast<LWPntID *>(Carve(model, kPolyLane, sizeof(LWPntID) * (size_t)count)) : nullptr;
    int32_t *indices = hostPoints
                           ? static_cast<int32_t *>(Carve(model, kPolyLane, sizeof(int32_t) * (size_t)count))
                           : nullptr;
    char *name = nullptr;
    if (indices && surface)
        name = CopyName(model, surface);
    if (!poly || !hostPoints || !indices || (surface && !name)) {
        model->refusedAdds++;
        model->refusedForMemory++;
        return nullptr;
    }
    poly->hostId = nullptr;
    poly->count = count;
    poly->hostPoints = hostPoints;
    poly->points = indices;
    poly->surface = name;
    return poly;
}

// Adds a polygon; its centroid and normal are computed when `shaped`, and
// left (0, 0, 0) otherwise.
static int AddPolygon(BufModel *model, const char *surface, int count, const int32_t *points, int shaped)
{
    if (!model || count < 3 || !points)
        return -1;
    // A piece carved before a later one fails stays in its block unused.
    BufPoly *poly = NewPoly(model, surface, count);
    if (!poly)
        return -1;
    if (shaped) {
        poly->centroid = FillVertices(model, count, points, poly->hostPoints, poly->points);
        poly->normal = FirstThreeNormal(model, points);
    } else {
        for (int i = 0; i < count; i++) {
            poly->hostPoints[i] = nullptr;
            poly->points[i] = points[i];
        }
        poly->centroid = Vec3{0.0, 0.0, 0.0};
        poly->normal = Vec3{0.0, 0.0, 0.0};
    }
    model->polyTable[model->polyCount] = poly;
    return model->polyCount++;
}

int BufModelAddPoly(BufModel *model, const char *surface, int count, const int32_t *points)
{
    return AddPolygon(model, surface, count, points, 1);
}

int BufModelAddFace(BufModel *model, const char *surface, int count, const int32_t *points)
{
    return AddPolygon(model, surface, count, points, 0);
}

// Partial application: a new vertex list is installed before the name is
// copied, so a failed name copy returns -1 with the vertex change standing
// and the previous name kept.
int BufModelSetPoly(BufModel *model, const char *surface, int count, const int32_t *points, int poly)
{
    // A polygon that does not exist has nothing to re-shape; a vertex list
    // needs three vertices for its normal, as in BufModelAddPoly.
    if (!model || poly < 0 || poly >= model->polyCount || (points && count < 3))
        return -1;
    BufPoly *record = model->polyTable[poly];
    if (points) {
        LWPntID *hostPoints =
            static_cast<LWPntID *>(Carve(model, kPolyLane, sizeof(LWPntID) * (size_t)count));
        int32_t *indices =
            hostPoints ? static_cast<int32_t *>(Carve(model, kPolyLane, sizeof(int32_t) * (size_t)count))
                       : nullptr;
        if (!hostPoints || !indices)
            return -1;
        Vec3 centroid = FillVertices(model, count, points, hostPoints, indices);
        Vec3 normal = FirstThreeNormal(model, points);
        record->hostPoints = hostPoints;
        record->points = indices;
        record->count = count;
        record->centroid = centroid;
        record->normal = normal;
    }
    if (surface) {
        char *name = CopyName(model, surface);
        if (!name)
            return -1;
        record->surface = name;
    }
    return poly;
}

int BufModelInsertVertex(BufModel *model, int poly, int at, int32_t point, LWPntID host)
{
    if (!model || poly < 0 || poly >= model->polyCount)
        return -1;
    BufPoly *record = model->polyTable[poly];
    if (at < 0 || at > record->count)
        return -1;
    size_t count = (size_t)record->count + 1;
    LWPntID *hostPoints = static_cast<LWPntID *>(Carve(model, kPolyLane, sizeof(LWPntID) * count));
    int32_t *indices = hostPoints ? static_cast<int32_t *>(Carve(model, kPolyLane, sizeof(int32_t) * count))
                                  : nullptr;
    if (!indices)
        return -1;
    for (int v = 0, w = 0; v < (int)count; v++) {
        if (v == at) {
            hostPoints[v] = host;
            indices[v] = point;
            continue;
        }
        hostPoints[v] = record->hostPoints[w];
        indices[v] = record->points[w++];
    }
    record->hostPoints = hostPoints;
    record->points = indices;
    record->count = (int32_t)count;
    return poly;
}

BufPoint *BufModelGetPoint(BufModel *model, int index)
{
    // A released model keeps its counts but not its tables.
    if (!model || index < 0 || index >= model->pointCount || !model->pointTable)
        return nullptr;
    return model->pointTable[index];
}

Vec3 BufModelPointPosition(BufModel *model, int index)
{
    const BufPoint *point = BufModelGetPoint(model, index);
    if (!point)
        return Vec3{0.0, 0.0, 0.0};
    return point->position;
}

BufPoly *BufModelGetPoly(BufModel *model, int index)
{
    if (!model || index < 0 || index >= model->polyCount || !model->polyTable)
        return nullptr;
    return model->polyTable[index];
}

void BufModelReverseRing(int32_t *points, int count)
{
    for (int a = 0, b = count - 1; a < b; a++, b--) {
        int32_t t = points[a];
        points[a] = points[b];
        points[b] = t;
    }
}
