#include "scene/scene.h"

#include <cassert>
#include <algorithm>

#include "frame/module_heap.h"

ImportScene g_Scene;

namespace {

// The scene before the first import: no format has been detected yet. The
// scene starts zero-filled (so the library carries no image of it); only this
// byte differs.
[[maybe_unused]] const bool g_sceneStartState = (g_Scene.DetectedFormat = kFormatNeverDetected, true);

constexpr char kDefaultSurfaceName[] = "default";
constexpr int32_t kDefaultNameBytes = sizeof(kDefaultSurfaceName);
constexpr uint8_t kResetColour = 200;
constexpr uint16_t kResetColourLevel = 255;

// The six streams an import fills, in the order their first chunks are allocated.
ChunkStream* const kImportStreams[] = {&g_Scene.PointStream,     &g_Scene.PolygonStream,
                                       &g_Scene.DotStream,       &g_Scene.LineStream,
                                       &g_Scene.PolygonUVStream, &g_Scene.UVPointStream};
constexpr int32_t kImportStreamCount = sizeof kImportStreams / sizeof kImportStreams[0];

ChunkStream* const kAllStreams[] = {&g_Scene.PointStream,     &g_Scene.PolygonStream,   &g_Scene.DotStream,
                                    &g_Scene.LineStream,      &g_Scene.PolygonUVStream, &g_Scene.UVPointStream,
                                    &g_Scene.TriangleStream};

void FreeBlocks(uint8_t** blocks, int32_t last) {
    const int32_t end = std::min(last, kMaxChunks - 1);
    for (int32_t k = 0; k <= end; ++k) {
        ModuleFree(blocks[k]);
        blocks[k] = nullptr;
    }
}

int32_t SceneAddPolygon(int32_t n, uint32_t surface, const uint32_t* indices, const uint32_t* uv) {
    ChunkStream& polygons = g_Scene.PolygonStream;
    ChunkStream& uvs = g_Scene.PolygonUVStream;
    if (!StreamPutIndexed(polygons, n, indices)) return 0;
    StreamPutWord(polygons, surface);
    if (uv && !StreamPutIndexed(uvs, n, uv)) {
        // The polygon now lacks its UV record: it stays uncounted, and its
        // stream is closed so that no counted record can follow it.
        polygons.full = true;
        return 0;
    }
    // Counted only once complete, so PolygonWordTotal never includes a broken-off record.
    ++g_Scene.PolygonCount;
    g_Scene.PolygonWordTotal += n + 1;
    if (uv) ++g_Scene.PolygonUVCount;
    return 1;
}

int32_t SceneAddLine(uint32_t surface, const uint32_t* indices) {
    const uint32_t record[4] = {2, indices[0], indices[1], surface};
    if (!StreamAppendRecord(g_Scene.LineStream, record, sizeof record)) return 0;
    ++g_Scene.LineCount;
    return 1;
}

int32_t SceneAddDot(uint32_t surface, const uint32_t* indices) {
    const uint32_t record[3] = {1, indices[0], surface};
    if (!StreamAppendRecord(g_Scene.DotStream, record, sizeof record)) return 0;
    ++g_Scene.DotCount;
    return 1;
}

// The length a name has as a surface name: bounded by the caller's buffer and
// cut to what a slot holds.
size_t SurfaceNameLength(const char* name, int32_t nameBufferBytes) {
    if (nameBufferBytes <= 0) return 0;
    const auto bound = static_cast<size_t>(std::min(nameBufferBytes, kSurfaceNameBytes - 1));
    return strnlen(name, bound);
}

// The slot holding exactly the first `length` characters of `name`, or -1.
int32_t SurfaceSlotOf(const char* name, size_t length) {
    for (int32_t i = 0; i < g_Scene.SurfaceSlotCount; ++i) {
        const char* slot = g_Scene.SurfaceNames[i];
        if (slot[length] == '\0' && std::memcmp(slot, name, length) == 0) return i;
    }
    return -1;
}

// The surface word of an element read as a slot index, or -1 when it names no
// slot of the table (0, or beyond it).
inline int32_t SurfaceSlotOfWord(uint32_t word) {
    const auto surface = static_cast<int32_t>(word & 0xFFFFu);
    return surface >= 1 && surface <= kSurfaceSlots ? surface - 1 : -1;
}

// A whole slot moves: its name, its look and its shininess strength.
void CopySurfaceSlot(int32_t from, int32_t to) {
    ImportScene& s = g_Scene;
    std::memcpy(s.SurfaceNames[to], s.SurfaceNames[from], kSurfaceNameBytes);
    SceneCopySurfaceLook(from, to);
    s.SurfaceShininessStrength[to] = s.SurfaceShininessStrength[from];
}

// Moves the used surfaces of slots 0..n-1 to the front, in order, recording in
// `map` where each moved slot went; answers the number of used surfaces.
int32_t PackUsedSurfaces(int32_t n, uint8_t* used, uint16_t* map) {
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!used[i]) {
            int32_t j = i + 1;
            while (j < n && !used[j]) ++j;
            if (j == n) continue;
            CopySurfaceSlot(j, i);
            map[j] = static_cast<uint16_t>(i);
            used[j] = 0;
            used[i] = 1;
        }
        ++count;
    }
    return count;
}

}  // namespace

void SceneCopySurfaceLook(int32_t from, int32_t to) {
    ImportScene& s = g_Scene;
    std::memcpy(s.SurfaceColours[to], s.SurfaceColours[from], sizeof s.SurfaceColours[to]);
    s.SurfaceColourLevel[to] = s.SurfaceColourLevel[from];
    s.SurfaceShininess[to] = s.SurfaceShininess[from];
    s.SurfaceSmooth[to] = s.SurfaceSmooth[from];
    s.SurfaceTransparency[to] = s.SurfaceTransparency[from];
}

void SceneReset() {
    ImportScene& s = g_Scene;
    s.PointCount = s.UVPointCount = s.PolygonCount = s.PolygonUVCount = 0;
    s.LineCount = s.DotCount = s.PolygonWordTotal = s.SurfaceCount = s.SkippedFaceCount = 0;
    s.PointRefBound = s.UVRefBound = 0;
    std::memset(s.SurfaceUsed, 0, sizeof s.SurfaceUsed);
    s.SurfaceSlotCount = 0;
    for (ChunkStream* stream : kImportStreams) stream->last = 0;
    for (ChunkStream* stream : kAllStreams) {
        std::memset(stream->used, 0, sizeof stream->used);
        stream->full = false;
    }
    s.TextBlockLast = 0;
    s.TextBlocksOwned = s.BinaryDxfSeen = s.TriangleStreamOwned = false;
    for (int32_t i = 0; i < kSurfaceSlots; ++i) {
        s.SurfaceNames[i][0] = '\0';
        std::memset(s.SurfaceColours[i], kResetColour, sizeof s.SurfaceColours[i]);
        s.SurfaceColourLevel[i] = kResetColourLevel;
    }
    std::memset(s.SurfaceShininess, 0, sizeof s.SurfaceShininess);
    std::memset(s.SurfaceShininessStrength, 0, sizeof s.SurfaceShininessStrength);
    std::memset(s.SurfaceTransparency, 0, sizeof s.SurfaceTransparency);
    std::memset(s.SurfaceSmooth, 0, sizeof s.SurfaceSmooth);
    std::memset(s.GroupUseCount, 0, sizeof s.GroupUseCount);
}

void SceneFree() {
    ImportScene& s = g_Scene;
    ModuleFree(s.WordScratch);
    s.WordScratch = nullptr;
    for (ChunkStream* stream : kImportStreams) StreamFreeChunks(*stream);
    SceneFreeTextBlocks();
    if (s.TriangleStreamOwned) StreamFreeChunks(s.TriangleStream);
    s.TriangleStreamOwned = false;
}

int32_t StreamStart(ChunkStream& stream) {
    stream.chunks[0] = static_cast<uint8_t*>(ModuleAlloc(kChunkBytes));
    if (!stream.chunks[0]) return 0;
    stream.last = 0;
    stream.used[0] = 0;
    stream.cursor = stream.chunks[0];
    stream.full = false;
    return 1;
}

void StreamFreeChunks(ChunkStream& stream) { FreeBlocks(stream.chunks, stream.last); }

void SceneFreeTextBlocks() {
    if (g_Scene.TextBlocksOwned) FreeBlocks(g_Scene.TextBlocks, g_Scene.TextBlockLast);
    g_Scene.TextBlocksOwned = false;
}

int32_t SceneAllocateFirstChunks() {
    g_Scene.WordScratch = static_cast<uint8_t*>(ModuleAlloc(kWordScratchBytes));
    int32_t made = 0;
    if (g_Scene.WordScratch) {
        while (made < kImportStreamCount && StreamStart(*kImportStreams[made])) ++made;
    }
    if (made == kImportStreamCount) return 1;
    for (int32_t k = 0; k < made; ++k) StreamFreeChunks(*kImportStreams[k]);
    ModuleFree(g_Scene.WordScratch);
    g_Scene.WordScratch = nullptr;
    return 0;
}

int32_t StreamOpenNextChunk(ChunkStream& stream) {
    const int32_t next = stream.last + 1;
    uint8_t* chunk = next < kMaxChunks ? static_cast<uint8_t*>(ModuleAlloc(kChunkBytes)) : nullptr;
    if (!chunk) {
        stream.full = true;  // full or out of memory: nothing more is written
        return 0;
    }
    stream.chunks[next] = chunk;
    stream.used[next] = 0;
    stream.last = next;
    stream.cursor = chunk;
    return 1;
}

namespace {

// Raises the reference bounds to cover an element just added. Texture
// references exist for polygons only; "none" (all ones) wraps to a bound of 0.
void BoundReferences(int32_t n, const uint32_t* indices, const uint32_t* uv) {
    uint32_t largest = 0;
    for (int32_t k = 0; k < n; ++k) largest = std::max(largest, WordAsStored(indices[k]));
    g_Scene.PointRefBound = std::max(g_Scene.PointRefBound, uint64_t{largest} + 1);
    if (!uv || n < 3) return;
    uint32_t uvBound = 0;
    for (int32_t k = 0; k < n; ++k) uvBound = std::max(uvBound, WordAsStored(uv[k]) + 1);
    g_Scene.UVRefBound = std::max<uint64_t>(g_Scene.UVRefBound, uvBound);
}

}  // namespace

int32_t SceneAddElement(int32_t n, uint32_t surface, const uint32_t* indices, const uint32_t* uv) {
    if (n <= 0 || n > kMaxCorners) return 0;
    const int32_t added = n == 1   ? SceneAddDot(surface, indices)
                          : n == 2 ? SceneAddLine(surface, indices)
                                   : SceneAddPolygon(n, surface, indices, uv);
    if (added) {
        BoundReferences(n, indices, uv);
        const int32_t slot = SurfaceSlotOfWord(surface);
        if (slot >= 0) g_Scene.SurfaceUsed[slot] = 1;
    }
    return added;
}

int32_t StreamPutIndexed(ChunkStream& stream, int32_t n, const uint32_t* indices) {
    if (stream.full) return 0;
    StreamPutWord(stream, static_cast<uint32_t>(n));
    const int32_t bytes = n * static_cast<int32_t>(sizeof *indices);
    if (stream.used[stream.last] + bytes - static_cast<int32_t>(sizeof *indices) < kChunkThreshold) {
        // No reserve check before an index word would open a chunk: the words go in one run.
        uint8_t* to = stream.cursor;
        for (int32_t k = 0; k < n; ++k) {
            const uint32_t word = WordAsStored(indices[k]);
            std::memcpy(to + k * static_cast<int32_t>(sizeof word), &word, sizeof word);
        }
        StreamAdvance(stream, bytes);
        return 1;
    }
    for (int32_t k = 0; k < n; ++k) {
        if (StreamReserve(stream, stream.used[stream.last]) == kStreamFull) return 0;
        StreamPutWord(stream, indices[k]);
    }
    return 1;
}

void SceneFindOrAddSurface(char* name, int32_t nameBufferBytes, uint16_t* surface) {
    ImportScene& s = g_Scene;
    const char* wanted = name;
    size_t length = SurfaceNameLength(name, nameBufferBytes);
    // From the last slots on every name is "default", even one stored earlier:
    // a file then shares one surface for all it has left.
    if (length == 0 || s.SurfaceSlotCount >= kSurfaceNameLimit) {
        wanted = kDefaultSurfaceName;
        length = kDefaultNameBytes - 1;
        // A buffer too short for "default" is left as it is.
        if (nameBufferBytes >= kDefaultNameBytes) std::memcpy(name, kDefaultSurfaceName, kDefaultNameBytes);
    }
    const int32_t found = SurfaceSlotOf(wanted, length);
    if (found >= 0) {
        *surface = static_cast<uint16_t>(found + 1);
        return;
    }
    // A table with no slot left (only reachable when a reader took slots for
    // itself) cannot store the name: it gets the first surface.
    if (s.SurfaceSlotCount >= kSurfaceSlots) {
        *surface = 1;
        return;
    }
    char* slot = s.SurfaceNames[s.SurfaceSlotCount];
    std::memcpy(slot, wanted, length);
    slot[length] = '\0';
    ++s.SurfaceCount;
    ++s.SurfaceSlotCount;
    *surface = s.SurfaceSlotCount;
}

int32_t SceneValidate() {
    const auto points = static_cast<uint64_t>(std::max(g_Scene.PointCount, 0));
    const auto uvPoints = static_cast<uint64_t>(std::max(g_Scene.UVPointCount, 0));
    return g_Scene.PointRefBound <= points && g_Scene.UVRefBound <= uvPoints;
}

int32_t SceneCompactSurfaces() {
    auto* used = static_cast<uint8_t*>(ModuleAlloc(kSurfaceSlots));
    auto* map = static_cast<uint16_t*>(ModuleAlloc(kSurfaceSlots * sizeof(uint16_t)));
    if (!used || !map) {
        ModuleFree(used);
        ModuleFree(map);
        return 0;
    }
    // Every slot maps to itself unless it moves, so elements whose surface
    // lies past SurfaceCount (an OBJ file without materials uses surface 1 of
    // an empty table) keep their number. Words naming no slot are left as they are.
    for (int32_t i = 0; i < kSurfaceSlots; ++i) map[i] = static_cast<uint16_t>(i);
    std::memcpy(used, g_Scene.SurfaceUsed, kSurfaceSlots);
    const int32_t n = std::clamp(g_Scene.SurfaceCount, 0, kSurfaceSlots);
    g_Scene.SurfaceCount = PackUsedSurfaces(n, used, map);
    std::memcpy(g_Scene.SurfaceUsed, used, kSurfaceSlots);  // the slots now named
    // When no slot moved (the common case: every surface is used) the elements keep their numbers.
    bool moved = false;
    for (int32_t i = 0; i < n && !moved; ++i) moved = map[i] != i;
    if (moved) {
        SceneForEachElement([](uint32_t&) {}, [&](uint32_t& word) {
            const int32_t slot = SurfaceSlotOfWord(word);
            if (slot >= 0) word = map[slot] + 1u;
        });
    }
    ModuleFree(used);
    ModuleFree(map);
    return 1;
}

void SceneEnsureSurface() {
    if (g_Scene.SurfaceCount >= 1) return;
    g_Scene.SurfaceCount = 1;
    g_Scene.SurfaceSlotCount = 1;
    std::memcpy(g_Scene.SurfaceNames[0], kDefaultSurfaceName, kDefaultNameBytes);
}

void SceneBlanksToUnderscores() {
    for (int32_t i = 0; i < g_Scene.SurfaceSlotCount; ++i) {
        for (char* c = g_Scene.SurfaceNames[i]; *c; ++c) {
            if (*c == ' ') *c = '_';
        }
    }
}

const char* SceneSurfaceName(uint32_t surfaceWord) {
    const int32_t slot = SurfaceSlotOfWord(surfaceWord);
    return slot >= 0 ? g_Scene.SurfaceNames[slot] : "";
}
