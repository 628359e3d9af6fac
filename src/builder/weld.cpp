// Welding of bit-identical points. A point's new index is the number of
// distinct points that first occurred before it; every later copy maps to the
// index of its first occurrence.
//
// First occurrences are found by looking every point up, in file order, in a
// hash table of the keys met so far. Keys chosen to collide could make those
// lookups quadratic, so the table has a budget of probes per point; past it
// the points are sorted instead, as (key, index) records: equal keys end up
// side by side with their first occurrence at the front of each run. The sort
// is a least-significant-digit radix sort on the key, which is stable (records
// start in index order), so its work is linear in the number of points
// whatever order they come in. Either way the weld stays linear.
#include <algorithm>
#include <bit>
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

// Work storage of the sort: the records, as many spare ones for its passes,
// and one count per value of each digit.
struct SortStore {
    WeldRecord* records;
    WeldRecord* spare;
    uint32_t* counts;  // kKeyDigits x kDigitValues, zeroed
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
WeldRecord* SortByKey(SortStore& store, int32_t count) {
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

// remap[i] := the index of the first occurrence of point i's key, by the
// sort; 0 when its work storage cannot be had.
int32_t SortFirstOccurrences(uint32_t* remap, int32_t count) {
    SortStore store = {static_cast<WeldRecord*>(ModuleAlloc(uint64_t(count) * sizeof(WeldRecord))),
                       static_cast<WeldRecord*>(ModuleAlloc(uint64_t(count) * sizeof(WeldRecord))),
                       static_cast<uint32_t*>(ModuleAlloc(uint64_t{kKeyDigits} * kDigitValues * sizeof(uint32_t)))};
    const bool ready = store.records && store.spare && store.counts;
    if (ready) {
        ReadRecords(store.records, count);
        const WeldRecord* sorted = SortByKey(store, count);
        uint32_t first = 0;
        for (int32_t k = 0; k < count; ++k) {
            const auto index = static_cast<uint32_t>(sorted[k].low);
            if (k == 0 || !SameKey(sorted[k], sorted[k - 1])) first = index;
            remap[index] = first;
        }
    }
    ModuleFree(store.records);
    ModuleFree(store.spare);
    ModuleFree(store.counts);
    return ready ? 1 : 0;
}

// ---- The hash table of first occurrences ---------------------------------------------

constexpr uint32_t kLeastTableSlots = 1u << 12;
constexpr int32_t kWeldBatch = 16;  // points whose slots are fetched ahead together

// A key met and its first occurrence, plus one (0: the slot is free).
struct WeldSlot {
    uint32_t key[3];
    uint32_t firstPlusOne;
};

// Open addressing with linear probing, at most half full.
struct WeldTable {
    WeldSlot* slots;
    uint32_t mask;
    uint32_t used;
    uint64_t probes;       // collisions met so far
    uint64_t probeBudget;  // and how many the table may meet
};

uint32_t KeyHash(const uint32_t* key) {
    uint64_t h = ((uint64_t{key[0]} << 32) | key[1]) * 0x9E3779B97F4A7C15ull ^ (uint64_t{key[2]} * 0xC2B2AE3D27D4EB4Full);
    h ^= h >> 32;
    h *= 0xFF51AFD7ED558CCDull;
    return static_cast<uint32_t>(h >> 32);
}

// The slot holding `key` (of that hash), or the free slot where it goes;
// null once the probe budget is spent.
WeldSlot* FindSlot(WeldTable& table, const uint32_t* key, uint32_t hash) {
    for (uint32_t i = hash & table.mask;; i = (i + 1) & table.mask) {
        WeldSlot& slot = table.slots[i];
        if (slot.firstPlusOne == 0 || std::memcmp(slot.key, key, sizeof slot.key) == 0) return &slot;
        if (++table.probes > table.probeBudget) return nullptr;
    }
}

// Twice the slots, every key moved over: 1, 0 without memory, -1 when the budget ran out.
int32_t GrowTable(WeldTable& table) {
    const uint64_t slots = (uint64_t{table.mask} + 1) * 2;
    WeldTable grown = {static_cast<WeldSlot*>(ModuleAlloc(slots * sizeof(WeldSlot))), static_cast<uint32_t>(slots - 1),
                       table.used, table.probes, table.probeBudget};
    if (!grown.slots) return 0;
    for (uint32_t i = 0; i <= table.mask; ++i) {
        if (table.slots[i].firstPlusOne == 0) continue;
        WeldSlot* slot = FindSlot(grown, table.slots[i].key, KeyHash(table.slots[i].key));
        if (!slot) {
            ModuleFree(grown.slots);
            return -1;
        }
        *slot = table.slots[i];
    }
    ModuleFree(table.slots);
    table = grown;
    return 1;
}

// Looks point `index` up and enters it when it is the first of its key: 1, 0
// without memory, -1 when the keys collide past the budget.
int32_t EnterPoint(WeldTable& table, const uint32_t* key, uint32_t hash, uint32_t index, uint32_t* remap) {
    if (2 * (uint64_t{table.used} + 1) > uint64_t{table.mask} + 1) {
        const int32_t grown = GrowTable(table);
        if (grown != 1) return grown;
    }
    WeldSlot* slot = FindSlot(table, key, hash);
    if (!slot) return -1;
    if (slot->firstPlusOne == 0) {
        std::memcpy(slot->key, key, sizeof slot->key);
        slot->firstPlusOne = index + 1;
        ++table.used;
    }
    remap[index] = slot->firstPlusOne - 1;
    return 1;
}

// remap[i] := the index of the first occurrence of point i's key, by the
// table: 1, 0 without memory, -1 when the keys collide past the budget. The
// points go in batches whose slots are asked of memory before the first is
// looked up: a table larger than the caches would otherwise wait for each.
int32_t HashFirstOccurrences(uint32_t* remap, int32_t count, uint64_t probesPerPoint) {
    // Room for half the points at first: the files that need welding repeat most points.
    const uint32_t slots = std::max(kLeastTableSlots, std::bit_ceil(static_cast<uint32_t>(count)));
    WeldTable table = {static_cast<WeldSlot*>(ModuleAlloc(uint64_t{slots} * sizeof(WeldSlot))), slots - 1, 0, 0,
                       probesPerPoint * static_cast<uint64_t>(count)};
    if (!table.slots) return 0;
    StreamWalker walker = WalkerBegin(g_Scene.PointStream);
    int32_t result = 1;
    for (int32_t first = 0; first < count && result == 1; first += kWeldBatch) {
        const int32_t n = std::min(kWeldBatch, count - first);
        uint32_t keys[kWeldBatch][3];
        uint32_t hashes[kWeldBatch];
        for (int32_t k = 0; k < n; ++k) {
            std::memcpy(keys[k], WalkerRecord(walker, kPointRecordBytes), sizeof keys[k]);
            hashes[k] = KeyHash(keys[k]);
            __builtin_prefetch(&table.slots[hashes[k] & table.mask]);
        }
        for (int32_t k = 0; k < n && result == 1; ++k) {
            result = EnterPoint(table, keys[k], hashes[k], static_cast<uint32_t>(first + k), remap);
        }
    }
    ModuleFree(table.slots);
    return result;
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

int32_t WeldPointsWithProbeBudget(uint64_t probesPerPoint) {
    const int32_t count = g_Scene.PointCount;
    if (count < 2) return 1;
    auto* remap = static_cast<uint32_t*>(ModuleAlloc(uint64_t(count) * sizeof(uint32_t)));
    if (!remap) return 0;
    int32_t found = HashFirstOccurrences(remap, count, probesPerPoint);
    if (found < 0) found = SortFirstOccurrences(remap, count);
    if (found) {
        g_Scene.PointCount = CompactPoints(remap, count);
        RemapPolygons(remap, count);
        RemapWholeRecords(g_Scene.LineStream, g_Scene.LineCount, 2, remap, count);
        RemapWholeRecords(g_Scene.DotStream, g_Scene.DotCount, 1, remap, count);
    }
    ModuleFree(remap);
    return found;
}

int32_t WeldPoints() { return WeldPointsWithProbeBudget(kWeldProbesPerPoint); }
