// The intermediate scene: the format-neutral geometry between a file format and
// the host. One module-level instance, g_Scene, emptied by SceneReset at the
// start of every import and export and released by SceneFree at its end.
//
// Every variable-length list is a ChunkStream: a chain of large zero-filled
// chunks from the module heap. Stored records never move. All words inside
// records are 32-bit.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>

// ---- Limits ----------------------------------------------------------------------

constexpr int32_t kChunkBytes = 128 * 1024 - 8;                      // one stream chunk: 131064 bytes
constexpr int32_t kChunkSlack = 32;                                  // room for the words written after the last check
constexpr int32_t kChunkThreshold = kChunkBytes - kChunkSlack;       // a chunk is full from here: 131032
constexpr int32_t kMaxChunks = 2048;                                 // chunks per stream
constexpr int32_t kPointRecordBytes = 12;                            // x, y, z as f32
// A chunk takes whole records until one reaches the threshold: 10920 points (131040 bytes).
constexpr int32_t kPointsPerChunk = (kChunkThreshold + kPointRecordBytes - 1) / kPointRecordBytes;
static_assert(kPointsPerChunk == 10920 && kPointsPerChunk * kPointRecordBytes <= kChunkBytes);
constexpr int32_t kSurfaceSlots = 2048;                              // surface table size
constexpr int32_t kSurfaceNameBytes = 128;                           // a slot's name, NUL included
constexpr int32_t kSurfaceNameLimit = kSurfaceSlots - 2;             // from here on every new name is "default"
constexpr int32_t kMaxCorners = 4000;                                // corners per element
constexpr int32_t kFaceScratchWords = kMaxCorners + 8;               // FaceIndexScratch / FaceUVScratch
constexpr int32_t kWordScratchBytes = 256;
constexpr int32_t kTextBlockBytes = kChunkBytes;                     // one text block
constexpr int32_t kTextBlockRoom = 2048;                             // kept free after a piece for its line's end
constexpr int32_t kTextPieceBytes = kTextBlockBytes - kTextBlockRoom;  // file bytes read into a block at once: 129016
static_assert(kTextPieceBytes == 129016);
constexpr int32_t kMaxTextBlocks = 2048;
constexpr uint32_t kNoTexture = 0xFFFFFFFFu;                         // texture index "none"

// ---- Format codes ----------------------------------------------------------------

constexpr uint8_t kFormat3DS = 0;
constexpr uint8_t kFormatDXF = 1;
constexpr uint8_t kFormatOBJExport = 2;  // export format code of OBJ
constexpr uint8_t kFormatOBJ = 4;        // import format code of OBJ
constexpr uint8_t kFormatUnknown = 5;
constexpr uint8_t kFormatNeverDetected = 255;

// ---- Chunk streams ---------------------------------------------------------------

struct ChunkStream {
    uint8_t* chunks[kMaxChunks];  // entries past `last` are undefined
    int32_t used[kMaxChunks];     // bytes written into chunk k
    int32_t last;                 // chunk being written
    uint8_t* cursor;              // next write position in chunk `last`
    bool full;                    // closed: StreamReserve answered 0 (or a record pair broke off);
                                  // every later write answers 0 without writing
};

enum LineEnd : int32_t { kLineEndLF = 0, kLineEndCRLF = 1, kLineEndCR = 2 };

struct ImportScene {
    ChunkStream PointStream;      // x, y, z f32
    ChunkStream UVPointStream;    // u, v, w f32
    ChunkStream PolygonStream;    // n, n indices, surface
    ChunkStream PolygonUVStream;  // n, n texture indices
    ChunkStream LineStream;       // 2, p0, p1, surface
    ChunkStream DotStream;        // 1, p0, surface
    ChunkStream TriangleStream;   // 3, p0, p1, p2, surface (export only)

    int32_t PointCount;
    int32_t UVPointCount;
    int32_t PolygonCount;
    int32_t PolygonUVCount;
    int32_t LineCount;
    int32_t DotCount;
    int32_t PolygonWordTotal;
    // One past the largest point and texture reference of every element
    // added ("none" aside): SceneValidate compares them with the counts.
    // References are only ever rewritten smaller (welding), so they stay bounds.
    uint64_t PointRefBound;
    uint64_t UVRefBound;
    bool TriangleStreamOwned;

    // Surface table: slot i is surface number i + 1.
    char SurfaceNames[kSurfaceSlots][kSurfaceNameBytes];
    uint8_t SurfaceColours[kSurfaceSlots][3];
    uint16_t SurfaceColourLevel[kSurfaceSlots];
    uint16_t SurfaceShininess[kSurfaceSlots];
    uint16_t SurfaceShininessStrength[kSurfaceSlots];
    uint16_t SurfaceTransparency[kSurfaceSlots];
    uint16_t SurfaceSmooth[kSurfaceSlots];
    uint16_t GroupUseCount[kSurfaceSlots];
    uint16_t SurfaceSlotCount;
    int32_t SurfaceCount;
    uint8_t SurfaceUsed[kSurfaceSlots];  // 1 for a slot an element added names

    // Text input blocks of the OBJ and DXF readers.
    uint8_t* TextBlocks[kMaxTextBlocks];
    int32_t TextBlockLast;
    bool TextBlocksOwned;
    int32_t TextBlockIndex;
    uint8_t* TextBlockCursor;
    int32_t LineEndStyle;  // LineEnd; kept between imports
    FILE* DxfInputFile;

    // Import state.
    uint8_t DetectedFormat;  // kFormat*; kFormatNeverDetected before the first import
    bool BinaryDxfSeen;
    int32_t SkippedFaceCount;

    // Scratch shared by readers and writers.
    uint8_t* WordScratch;  // kWordScratchBytes, allocated by the drivers
    uint32_t FaceIndexScratch[kFaceScratchWords];
    uint32_t FaceUVScratch[kFaceScratchWords];
};

extern ImportScene g_Scene;

// ---- Operations ------------------------------------------------------------------

void SceneReset();
// Releases all module memory of the scene; freed pointers are nulled, so a
// second call frees nothing.
void SceneFree();

// Frees the text blocks 0 to TextBlockLast when a reader owns them (and nulls them).
void SceneFreeTextBlocks();

// Allocates WordScratch, then chunk 0 of the six import streams in the order
// points, polygons, dots, lines, polygon UVs, UV points. On failure frees what
// it made and answers 0.
int32_t SceneAllocateFirstChunks();

// Allocates chunk 0 of `stream` and opens it for writing (last 0, cursor at
// it, not full): 1, or 0 when no memory.
int32_t StreamStart(ChunkStream& stream);
// Frees chunks 0 to `last` of `stream` and nulls them.
void StreamFreeChunks(ChunkStream& stream);

// Opens chunk `last` + 1: 1, or 0 (and the stream is closed) when the stream
// already has kMaxChunks chunks or no memory is left.
int32_t StreamOpenNextChunk(ChunkStream& stream);

// What StreamReserve answers.
enum StreamRoom : int32_t {
    kStreamFull = 0,       // the stream is full or out of memory (and closed)
    kStreamNewChunk = 1,   // a new chunk was opened
    kStreamRoomLeft = 2,   // the current chunk has room
};

// Called with the byte count that `used` of chunk `last` has just reached.
inline StreamRoom StreamReserve(ChunkStream& stream, int32_t usedNow) {
    if (stream.full) return kStreamFull;
    if (usedNow < kChunkThreshold) return kStreamRoomLeft;
    return StreamOpenNextChunk(stream) ? kStreamNewChunk : kStreamFull;
}

// Moves the cursor of chunk `last` past `bytes` bytes just written there.
inline void StreamAdvance(ChunkStream& stream, int32_t bytes) {
    assert(stream.used[stream.last] + bytes <= kChunkBytes);
    stream.cursor += bytes;
    stream.used[stream.last] += bytes;
}

// Writes `bytes` bytes at the cursor of chunk `last`, which has room for them.
inline void StreamWrite(ChunkStream& stream, const void* data, int32_t bytes) {
    std::memcpy(stream.cursor, data, static_cast<size_t>(bytes));
    StreamAdvance(stream, bytes);
}

// A word of a short run that a reader has just stored one word at a time (its
// scratch), read as such: a loop over the run stays one word wide, because a
// wider load of words stored one by one waits until the stores reach the cache.
inline uint32_t WordAsStored(uint32_t word) {
#if defined(__GNUC__)
    asm("" : "+r"(word));
#endif
    return word;
}

// Appends a whole record (points, lines, dots) and reserves room for the next:
// 1, or 0 when the stream is closed (nothing written) or has just become so
// (the record is written but must not be counted).
inline int32_t StreamAppendRecord(ChunkStream& stream, const void* record, int32_t bytes) {
    if (stream.full) return 0;
    StreamWrite(stream, record, bytes);
    return StreamReserve(stream, stream.used[stream.last]) != kStreamFull;
}

// Writes one word at the cursor. No check is needed: at most three words (an
// index, the surface, the next record's count) follow a reserve check, and the
// 32 bytes past the threshold hold them.
inline void StreamPutWord(ChunkStream& stream, uint32_t word) {
    StreamWrite(stream, &word, static_cast<int32_t>(sizeof word));
}

// Writes the count word and the n index words of a polygon-type record,
// reserving room before each index word: 1, or 0 when the stream is closed
// (nothing written) or ran full (it is closed then, so the broken-off record
// stays last and uncounted). The caller writes the surface word.
int32_t StreamPutIndexed(ChunkStream& stream, int32_t n, const uint32_t* indices);

inline int32_t SceneAddPoint(float x, float y, float z) {
    const float record[3] = {x, y, z};
    if (!StreamAppendRecord(g_Scene.PointStream, record, kPointRecordBytes)) return 0;
    ++g_Scene.PointCount;
    return 1;
}

inline int32_t SceneAddUVPoint(float u, float v, float w) {
    const float record[3] = {u, v, w};
    if (!StreamAppendRecord(g_Scene.UVPointStream, record, kPointRecordBytes)) return 0;
    ++g_Scene.UVPointCount;
    return 1;
}

// n >= 3 polygon (with texture indices when `uv` is not null), 2 line, 1 dot.
// n <= 0 and n > kMaxCorners change nothing and answer 0.
int32_t SceneAddElement(int32_t n, uint32_t surface, const uint32_t* indices, const uint32_t* uv);

// Gives in `surface` the number of the surface named by `name`, adding it when
// new. `nameBufferBytes` is the caller's buffer size: nothing past it is read,
// and "default" is written into it only when it fits. Names are cut to 127
// characters for storing and comparing.
void SceneFindOrAddSurface(char* name, int32_t nameBufferBytes, uint16_t* surface);

// The address of point i's three floats; i is below PointCount.
inline float* ScenePointAt(int32_t i) {
    assert(i >= 0 && i < g_Scene.PointCount);
    return reinterpret_cast<float*>(g_Scene.PointStream.chunks[i / kPointsPerChunk] +
                                    (i % kPointsPerChunk) * kPointRecordBytes);
}

// Copies the colour, colour level, shininess, transparency and smooth flag of
// slot `from` to slot `to` (0-based slots).
void SceneCopySurfaceLook(int32_t from, int32_t to);

// 1 when every point and texture reference of the elements added names a
// point or texture point the scene holds, else 0.
int32_t SceneValidate();
int32_t SceneCompactSurfaces();

// ---- Surfaces as the writers name them ----------------------------------------------

// A scene without surfaces gets one named "default" (SurfaceCount and SurfaceSlotCount 1).
void SceneEnsureSurface();
// Replaces every blank of the occupied slots' names by "_".
void SceneBlanksToUnderscores();
// The name of the surface an element's surface word names; "" for a word that names no slot.
const char* SceneSurfaceName(uint32_t surfaceWord);

// ---- Walking a stream ------------------------------------------------------------
// Whole records (points, lines, dots): read the record's words, then
// WalkerNextChunkIfDone. Polygon-type records: read the count word, call
// WalkerNextChunkIfDone before each index word, read the surface word.
// A walker never reads more records than the stream's count.

struct StreamWalker {
    ChunkStream* stream;
    int32_t chunk;
    int32_t offset;
};

inline StreamWalker WalkerBegin(ChunkStream& stream) { return StreamWalker{&stream, 0, 0}; }

// The word at the walker's position; the walker moves past it.
inline uint32_t* WalkerWord(StreamWalker& w) {
    assert(w.chunk <= w.stream->last && w.offset + 4 <= kChunkBytes);
    auto* word = reinterpret_cast<uint32_t*>(w.stream->chunks[w.chunk] + w.offset);
    w.offset += 4;
    return word;
}

inline void WalkerNextChunkIfDone(StreamWalker& w) {
    if (w.offset >= w.stream->used[w.chunk] && w.chunk < w.stream->last) {
        ++w.chunk;
        w.offset = 0;
    }
}

// One whole record of `bytes` bytes (a point or UV point: three floats).
inline uint8_t* WalkerRecord(StreamWalker& w, int32_t bytes) {
    uint8_t* record = w.stream->chunks[w.chunk] + w.offset;
    w.offset += bytes;
    WalkerNextChunkIfDone(w);
    return record;
}

// The count (low 16 bits of the word at the walker) of the polygon-type
// record the walker stands on; the walker stays.
inline uint32_t WalkerCount(const StreamWalker& w) {
    assert(w.chunk <= w.stream->last && w.offset + 4 <= kChunkBytes);
    uint32_t word;
    std::memcpy(&word, w.stream->chunks[w.chunk] + w.offset, sizeof word);
    return word & 0xFFFFu;
}

// Reads the count word (low 16 bits) of a polygon-type record and calls
// visit(uint32_t& word) for each of its index words; answers the count.
// A PolygonUVStream record ends there; the other records go on with a surface.
template <typename Visit>
inline uint32_t WalkerIndices(StreamWalker& w, Visit&& visit) {
    const uint32_t n = WalkerCount(w);
    WalkerWord(w);
    for (uint32_t k = 0; k < n; ++k) {
        WalkerNextChunkIfDone(w);
        visit(*WalkerWord(w));
    }
    return n;
}

// One record of the polygon, line or one-point stream: visits its point index
// words and answers its surface word. The closing chunk test serves the whole
// records; after a polygon it never moves (its chunk still holds the next
// record's count word).
template <typename Visit>
inline uint32_t& WalkerElement(StreamWalker& w, Visit&& visitIndex) {
    WalkerIndices(w, visitIndex);
    uint32_t& surface = *WalkerWord(w);
    WalkerNextChunkIfDone(w);
    return surface;
}

// Every counted record of `stream` (polygons, lines or dots), in order:
// visit(n, indices, surfaceWord) with its n point indices gathered in FaceIndexScratch.
template <typename Visit>
inline void SceneForEachRecord(ChunkStream& stream, int32_t count, Visit&& visit) {
    uint32_t* scratch = g_Scene.FaceIndexScratch;
    StreamWalker w = WalkerBegin(stream);
    for (int32_t r = 0; r < count; ++r) {
        int32_t n = 0;
        const uint32_t surface = WalkerElement(w, [&](uint32_t& index) { scratch[n++] = index; });
        visit(n, scratch, surface);
    }
}

// Every counted polygon, line and one-point record, in that order:
// visitIndex(uint32_t&) for each point index word, visitSurface(uint32_t&)
// for each surface word. Either may rewrite the word.
template <typename VisitIndex, typename VisitSurface>
inline void SceneForEachElement(VisitIndex&& visitIndex, VisitSurface&& visitSurface) {
    struct Part {
        ChunkStream* stream;
        int32_t count;
    };
    const Part parts[] = {{&g_Scene.PolygonStream, g_Scene.PolygonCount},
                          {&g_Scene.LineStream, g_Scene.LineCount},
                          {&g_Scene.DotStream, g_Scene.DotCount}};
    for (const Part& part : parts) {
        StreamWalker w = WalkerBegin(*part.stream);
        for (int32_t k = 0; k < part.count; ++k) visitSurface(WalkerElement(w, visitIndex));
    }
}
