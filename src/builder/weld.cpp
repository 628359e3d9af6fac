// Welding of bit-identical points. A point's new index is the number of
// distinct points that first occurred before it; every later copy maps to the
// index of its first occurrence.
//
// The points are sorted as (key, index) records: equal keys end up side by
// side with their first occurrence at the front of each run. The sort is a
// least-significant-digit radix sort on the key, which is stable (records
// start in index order), so its work is linear in the number of points
// whatever order they come in (CAD grids arrive in ascending order).
#include <algorithm>
#include <cstring>
#include <utility>

#include "builder/builder.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kDigitBits = 16;
constexpr uint32_t kDigitValues = 1u << kDigitBits;
constexpr int32_t kKeyDigits = 96 / kDigitBits;  // the 12-byte key

// x and y bits in `high`, z bits and the point index in `low`.
struct WeldRecord {
    uint64_t high;
    uint64_t low;
};

bool SameKey(const WeldRecord& a, const WeldRecord& b) { return a.high == b.high && (a.low >> 32) == (b.low >> 32); }

// Digit d of the key, 0 the least significant: z's two digits, then y's, then x's.
uint32_t KeyDigit(const WeldRecord& record, int32_t d) {
    const uint64_t word = d < 2 ? record.low >> 32 : record.high;
    const int32_t shift = (d < 2 ? d : d - 2) * kDigitBits;
    return static_cast<uint32_t>(word >> shift) & (kDigitValues - 1);
}

// Work storage of one weld: the records, as many spare ones for the sort's
// passes, one count per value of each digit, and the new index of every point.
struct WeldStore {
    WeldRecord* records;
    WeldRecord* spare;
    uint32_t* counts;  // kKeyDigits x kDigitValues, zeroed
    uint32_t* remap;
};

void ReadRecords(WeldRecord* records, int32_t count) {
    StreamWalker walker = WalkerBegin(g_Scene.PointStream);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t bits[3];
        std::memcpy(bits, WalkerRecord(walker, kPointRecordBytes), sizeof bits);
        records[i] = {(uint64_t{bits[0]} << 32) | bits[1], (uint64_t{bits[2]} << 32) | static_cast<uint32_t>(i)};
    }
}

// Sorts the records by key, equal keys in index order; answers where the
// sorted records are (store.records or store.spare).
WeldRecord* SortByKey(WeldStore& store, int32_t count) {
    WeldRecord* from = store.records;
    WeldRecord* to = store.spare;
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t d = 0; d < kKeyDigits; ++d) ++store.counts[d * kDigitValues + KeyDigit(from[i], d)];
    }
    for (int32_t d = 0; d < kKeyDigits; ++d) {
        uint32_t* next = store.counts + d * kDigitValues;
        if (next[KeyDigit(from[0], d)] == static_cast<uint32_t>(count)) continue;  // one value: nothing moves
        uint32_t start = 0;
        for (uint32_t v = 0; v < kDigitValues; ++v) start += std::exchange(next[v], start);
        for (int32_t i = 0; i < count; ++i) to[next[KeyDigit(from[i], d)]++] = from[i];
        std::swap(from, to);
    }
    return from;
}

// remap[i] := the index of the first occurrence of point i's key.
void FindFirstOccurrences(WeldStore& store, int32_t count) {
    ReadRecords(store.records, count);
    const WeldRecord* sorted = SortByKey(store, count);
    uint32_t first = 0;
    for (int32_t k = 0; k < count; ++k) {
        const auto index = static_cast<uint32_t>(sorted[k].low);
        if (k == 0 || !SameKey(sorted[k], sorted[k - 1])) first = index;
        store.remap[index] = first;
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
    WeldStore store = {static_cast<WeldRecord*>(ModuleAlloc(uint64_t(count) * sizeof(WeldRecord))),
                       static_cast<WeldRecord*>(ModuleAlloc(uint64_t(count) * sizeof(WeldRecord))),
                       static_cast<uint32_t*>(ModuleAlloc(uint64_t{kKeyDigits} * kDigitValues * sizeof(uint32_t))),
                       static_cast<uint32_t*>(ModuleAlloc(uint64_t(count) * sizeof(uint32_t)))};
    const bool ready = store.records && store.spare && store.counts && store.remap;
    if (ready) FindFirstOccurrences(store, count);
    ModuleFree(store.records);
    ModuleFree(store.spare);
    ModuleFree(store.counts);
    if (!ready) {
        ModuleFree(store.remap);
        return 0;
    }
    g_Scene.PointCount = CompactPoints(store.remap, count);
    RemapPolygons(store.remap, count);
    RemapWholeRecords(g_Scene.LineStream, g_Scene.LineCount, 2, store.remap, count);
    RemapWholeRecords(g_Scene.DotStream, g_Scene.DotCount, 1, store.remap, count);
    ModuleFree(store.remap);
    return 1;
}
