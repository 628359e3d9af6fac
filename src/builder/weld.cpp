// Welding of bit-identical points. A point's new index is the number of
// distinct points that first occurred before it; every later copy maps to the
// index of its first occurrence.
//
// The points are sorted as (key, index) records: equal keys end up side by
// side with their first occurrence at the front of each run. std::sort keeps
// the worst case at O(n log n) whatever order the points come in (CAD grids
// arrive in ascending order), and the whole work storage is two allocations.
#include <algorithm>
#include <cstring>

#include "builder/builder.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

namespace {

// x and y bits in `high`, z bits and the point index in `low`: ordering by
// (high, low) orders by key first and by index among equal keys.
struct WeldRecord {
    uint64_t high;
    uint64_t low;
};

bool SameKey(const WeldRecord& a, const WeldRecord& b) { return a.high == b.high && (a.low >> 32) == (b.low >> 32); }

WeldRecord RecordOf(int32_t index) {
    uint32_t bits[3];
    std::memcpy(bits, ScenePointAt(index), sizeof bits);
    return WeldRecord{(uint64_t{bits[0]} << 32) | bits[1], (uint64_t{bits[2]} << 32) | static_cast<uint32_t>(index)};
}

// remap[i] := the index of the first occurrence of point i's key.
void FindFirstOccurrences(WeldRecord* records, int32_t count, uint32_t* remap) {
    for (int32_t i = 0; i < count; ++i) records[i] = RecordOf(i);
    std::sort(records, records + count, [](const WeldRecord& a, const WeldRecord& b) {
        return a.high != b.high ? a.high < b.high : a.low < b.low;
    });
    uint32_t first = 0;
    for (int32_t k = 0; k < count; ++k) {
        const auto index = static_cast<uint32_t>(records[k].low);
        if (k == 0 || !SameKey(records[k], records[k - 1])) first = index;
        remap[index] = first;
    }
}

// Turns first-occurrence indices into new indices and moves each first
// occurrence down to its new position (new <= old, so no unread point is
// overwritten). Answers the number of distinct points.
int32_t CompactPoints(uint32_t* remap, int32_t count) {
    uint32_t next = 0;
    for (int32_t i = 0; i < count; ++i) {
        const auto index = static_cast<uint32_t>(i);
        if (remap[i] != index) {
            remap[i] = remap[remap[i]];
            continue;
        }
        if (next != index) std::memcpy(ScenePointAt(static_cast<int32_t>(next)), ScenePointAt(i), kPointRecordBytes);
        remap[i] = next++;
    }
    return static_cast<int32_t>(next);
}

// References that are out of range (never so after validation) stay as they are.
void RemapWord(uint32_t* word, const uint32_t* remap, int32_t count) {
    if (*word < static_cast<uint32_t>(count)) *word = remap[*word];
}

void RemapPolygons(const uint32_t* remap, int32_t count) {
    StreamWalker walker = WalkerBegin(g_Scene.PolygonStream);
    for (int32_t p = 0; p < g_Scene.PolygonCount; ++p) {
        const uint32_t corners = *WalkerWord(walker) & 0xFFFFu;
        for (uint32_t k = 0; k < corners; ++k) {
            WalkerNextChunkIfDone(walker);
            RemapWord(WalkerWord(walker), remap, count);
        }
        WalkerWord(walker);  // surface
    }
}

// Lines (count, p0, p1, surface) and dots (count, p0, surface).
void RemapWholeRecords(ChunkStream& stream, int32_t records, int32_t points, const uint32_t* remap, int32_t count) {
    StreamWalker walker = WalkerBegin(stream);
    for (int32_t r = 0; r < records; ++r) {
        WalkerWord(walker);
        for (int32_t k = 0; k < points; ++k) RemapWord(WalkerWord(walker), remap, count);
        WalkerWord(walker);
        WalkerNextChunkIfDone(walker);
    }
}

}  // namespace

int32_t WeldPoints() {
    const int32_t count = g_Scene.PointCount;
    if (count < 2) return 1;
    auto* records = static_cast<WeldRecord*>(ModuleAlloc(uint64_t(count) * sizeof(WeldRecord)));
    auto* remap = static_cast<uint32_t*>(ModuleAlloc(uint64_t(count) * sizeof(uint32_t)));
    if (!records || !remap) {
        ModuleFree(records);
        ModuleFree(remap);
        return 0;
    }
    FindFirstOccurrences(records, count, remap);
    ModuleFree(records);
    g_Scene.PointCount = CompactPoints(remap, count);
    RemapPolygons(remap, count);
    RemapWholeRecords(g_Scene.LineStream, g_Scene.LineCount, 2, remap, count);
    RemapWholeRecords(g_Scene.DotStream, g_Scene.DotCount, 1, remap, count);
    ModuleFree(remap);
    return 1;
}
