// The 3D Studio reader: the whole file is loaded into one module block and
// its chunk tree is walked with bounded cursors, so that no length, count or
// name in the file can move a read outside the chunk that holds it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/3ds/tds.h"
#include "formats/3ds/tds_bytes.h"
#include "frame/module_heap.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

constexpr uint32_t kChunkHeaderBytes = 6;
constexpr uint32_t kFirstSectionOffset = 16;  // after the main header and the 10-byte version chunk
constexpr uint32_t kPointBytes = 12;          // f32 x, y, z
constexpr uint32_t kFaceBytes = 8;            // u16 a, b, c, flags
constexpr uint32_t kFaceNumberBytes = 2;
constexpr uint32_t kSmoothMaskBytes = 4;
constexpr uint32_t kColourBytes = 3;
constexpr int32_t kObjectNameBytes = 16;    // 15 characters and the NUL
constexpr int32_t kMaterialNameBytes = 32;  // 31 characters and the NUL
constexpr size_t kGroupNameBytes = 32;      // "object material", 31 characters and the NUL
constexpr uint16_t kSmoothShadingFrom = 2;  // shading values from here on mean smooth shading
constexpr double kIntPercentScale = 2.55;
constexpr float kFloatPercentScale = 255.0f;
constexpr int32_t kLevelMax = 255;

// One chunk taken from its parent: its id and its content.
struct TdsChunk {
    uint16_t id;
    TdsCursor content;
};

// The faces of one face list and the surface each of them gets.
struct FaceSurfaces {
    uint16_t count;
    uint16_t objectSurface;
    uint16_t* surfaces;  // one entry per face of the list, from the module heap
};

uint32_t Remaining(const TdsCursor& cursor) { return cursor.end - cursor.pos; }

// The next `bytes` bytes, or null (cursor unchanged) when the chunk has fewer.
const uint8_t* Take(TdsCursor& cursor, uint32_t bytes) {
    if (Remaining(cursor) < bytes) return nullptr;
    const uint8_t* at = cursor.bytes + cursor.pos;
    cursor.pos += bytes;
    return at;
}

bool TakeU16(TdsCursor& cursor, uint16_t* value) {
    const uint8_t* at = Take(cursor, sizeof *value);
    if (at) *value = TdsU16(at);
    return at != nullptr;
}

// A count of records that fit whole in what is left of the chunk: a count
// that promises more records than the chunk holds is cut to those present.
uint16_t TakeCount(TdsCursor& cursor, uint32_t recordBytes) {
    uint16_t count = 0;
    TakeU16(cursor, &count);  // a chunk too short for its count holds no records
    return static_cast<uint16_t>(std::min<uint32_t>(count, Remaining(cursor) / recordBytes));
}

// Copies a NUL-terminated name into `name` and moves past its NUL. A name
// longer than the buffer keeps its first `bytes` - 1 characters; a name that
// meets the chunk's end without a NUL ends there.
void TakeName(TdsCursor& cursor, char* name, int32_t bytes) {
    const uint8_t* start = cursor.bytes + cursor.pos;
    const auto* nul = static_cast<const uint8_t*>(std::memchr(start, 0, Remaining(cursor)));
    const uint32_t length = nul ? static_cast<uint32_t>(nul - start) : Remaining(cursor);
    const uint32_t kept = std::min(length, static_cast<uint32_t>(bytes - 1));
    std::memcpy(name, start, kept);
    name[kept] = '\0';
    cursor.pos += nul ? length + 1 : length;
}

// Takes the header at the cursor and moves the cursor to the chunk's end. A
// chunk reaching past its parent (or the file) is cut at the parent's end. A
// length below 6 leaves the chunk's end unknown: the walk of the parent ends.
bool NextChunk(TdsCursor& parent, TdsChunk* chunk) {
    if (Remaining(parent) < kChunkHeaderBytes) return false;
    const uint8_t* header = parent.bytes + parent.pos;
    const uint32_t length = TdsU32(header + 2);
    if (length < kChunkHeaderBytes) return false;
    const uint32_t end = parent.pos + std::min(length, Remaining(parent));
    chunk->id = TdsU16(header);
    chunk->content = TdsCursor{parent.bytes, parent.pos + kChunkHeaderBytes, end};
    parent.pos = end;
    return true;
}

// ---- Meshes ------------------------------------------------------------------------

// Points are stored (x, y, z) and kept as (x, z, y).
int32_t ReadPointList(TdsCursor points) {
    const uint16_t count = TakeCount(points, kPointBytes);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = Take(points, kPointBytes);
        if (!SceneAddPoint(TdsF32(p), TdsF32(p + 8), TdsF32(p + 4))) return 0;
    }
    return 1;
}

uint16_t FindSurfaceSlot(const char* name, uint16_t fallback) {
    for (uint16_t i = 0; i < g_Scene.SurfaceSlotCount; ++i)
        if (std::strncmp(g_Scene.SurfaceNames[i], name, kSurfaceNameBytes) == 0) return static_cast<uint16_t>(i + 1);
    return fallback;
}

bool SameFirstWord(const char* a, const char* b) {
    const size_t length = std::strcspn(a, " ");
    return length == std::strcspn(b, " ") && std::memcmp(a, b, length) == 0;
}

// Appends `text` to the `used` characters of a group name, cut at the buffer's end.
size_t AppendCut(char* name, size_t used, const char* text) {
    const size_t length = std::min(std::strlen(text), kGroupNameBytes - 1 - used);
    std::memcpy(name + used, text, length);
    name[used + length] = '\0';
    return used + length;
}

// The material's name alone when its first word is the object's, otherwise
// "object material"; cut at the buffer's end.
void ComposeGroupName(const char* object, const char* material, char* name) {
    size_t used = 0;
    if (!SameFirstWord(object, material)) used = AppendCut(name, AppendCut(name, 0, object), " ");
    AppendCut(name, used, material);
}

void CopySurfaceLook(int32_t from, int32_t to) {
    std::memcpy(g_Scene.SurfaceColours[to], g_Scene.SurfaceColours[from], sizeof g_Scene.SurfaceColours[to]);
    g_Scene.SurfaceColourLevel[to] = g_Scene.SurfaceColourLevel[from];
    g_Scene.SurfaceShininess[to] = g_Scene.SurfaceShininess[from];
    g_Scene.SurfaceTransparency[to] = g_Scene.SurfaceTransparency[from];
    g_Scene.SurfaceSmooth[to] = g_Scene.SurfaceSmooth[from];
}

// The surface of an (object, material) pair, looking like the material when
// one of that name was read, else like the object.
uint16_t GroupSurface(const char* material, uint16_t objectSurface) {
    char name[kGroupNameBytes];
    ComposeGroupName(g_Scene.SurfaceNames[objectSurface - 1], material, name);
    uint16_t group = 0;
    SceneFindOrAddSurface(name, static_cast<int32_t>(kGroupNameBytes), &group);
    CopySurfaceLook(FindSurfaceSlot(material, objectSurface) - 1, group - 1);
    return group;
}

void ReadFaceMaterialGroup(TdsCursor group, const FaceSurfaces& faces) {
    char material[kMaterialNameBytes];
    TakeName(group, material, kMaterialNameBytes);
    const uint16_t surface = GroupSurface(material, faces.objectSurface);
    const uint16_t count = TakeCount(group, kFaceNumberBytes);
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t face = TdsU16(Take(group, kFaceNumberBytes));
        if (face < faces.count) faces.surfaces[face] = surface;  // face numbers beyond the list are ignored
    }
}

// Masks missing at the chunk's end leave their faces' surfaces as they are.
void ReadSmoothingGroups(TdsCursor masks, const FaceSurfaces& faces) {
    const uint32_t count = std::min<uint32_t>(faces.count, Remaining(masks) / kSmoothMaskBytes);
    for (uint32_t i = 0; i < count; ++i)
        if (TdsU32(Take(masks, kSmoothMaskBytes)) != 0) g_Scene.SurfaceSmooth[faces.surfaces[i] - 1] = 1;
}

// The material groups and smoothing groups that follow the face records,
// anywhere up to the end of the mesh, in file order.
void ApplyFaceChunks(TdsCursor scan, const FaceSurfaces& faces) {
    TdsChunk chunk;
    while (NextChunk(scan, &chunk)) {
        if (chunk.id == kTdsFaceMaterialChunk) ReadFaceMaterialGroup(chunk.content, faces);
        if (chunk.id == kTdsSmoothingChunk) ReadSmoothingGroups(chunk.content, faces);
    }
}

// Face corners count from the mesh's first point, `base` in the scene.
int32_t AddFaces(TdsCursor records, const FaceSurfaces& faces, uint32_t base) {
    uint32_t* corners = g_Scene.FaceIndexScratch;
    for (uint32_t i = 0; i < faces.count; ++i) {
        const uint8_t* face = Take(records, kFaceBytes);
        for (int32_t k = 0; k < 3; ++k) corners[k] = base + TdsU16(face + 2 * k);
        if (!SceneAddElement(3, faces.surfaces[i], corners, nullptr)) return 0;
    }
    return 1;
}

int32_t ReadFaceList(TdsCursor list, uint32_t meshEnd, uint16_t objectSurface, uint32_t base) {
    FaceSurfaces faces{TakeCount(list, kFaceBytes), objectSurface, nullptr};
    faces.surfaces = static_cast<uint16_t*>(ModuleAlloc(std::max<uint32_t>(faces.count, 1) * sizeof(uint16_t)));
    if (!faces.surfaces) return 0;
    std::fill_n(faces.surfaces, faces.count, objectSurface);
    ApplyFaceChunks(TdsCursor{list.bytes, list.pos + faces.count * kFaceBytes, meshEnd}, faces);
    const int32_t added = AddFaces(list, faces, base);
    ModuleFree(faces.surfaces);
    return added;
}

// ---- Materials ---------------------------------------------------------------------

// Integer percentages scale in double precision (50 gives 127, 100 gives 254);
// values above 100 give 255.
uint16_t PercentFromInteger(uint16_t percent) {
    return static_cast<uint16_t>(std::min(static_cast<int32_t>(percent * kIntPercentScale), kLevelMax));
}

// Float fractions scale in single precision (1.0 gives 255); negative and NaN
// give 0 and values above 1 give 255, decided before the conversion.
uint16_t PercentFromFloat(float fraction) {
    const float scaled = fraction * kFloatPercentScale;
    if (!(scaled > 0.0f)) return 0;
    if (scaled >= static_cast<float>(kLevelMax)) return kLevelMax;
    return static_cast<uint16_t>(scaled);
}

void ReadShading(TdsCursor shading, int32_t slot) {
    uint16_t value = 0;
    if (TakeU16(shading, &value) && value >= kSmoothShadingFrom) g_Scene.SurfaceSmooth[slot] = 1;
}

void ApplyMaterialAttribute(const TdsChunk& chunk, int32_t slot) {
    switch (chunk.id) {
        case kTdsDiffuseChunk: Read3DSColour(chunk.content, slot); break;
        case kTdsShininessChunk: g_Scene.SurfaceShininess[slot] = Read3DSPercentage(chunk.content); break;
        case kTdsShininessStrengthChunk:
            g_Scene.SurfaceShininessStrength[slot] = Read3DSPercentage(chunk.content);
            break;
        case kTdsTransparencyChunk: g_Scene.SurfaceTransparency[slot] = Read3DSPercentage(chunk.content); break;
        case kTdsShadingChunk: ReadShading(chunk.content, slot); break;
        default: break;
    }
}

// ---- The file ----------------------------------------------------------------------

int32_t ReadEditor(TdsCursor editor) {
    TdsChunk chunk;
    while (NextChunk(editor, &chunk)) {
        if (chunk.id == kTdsNamedObjectChunk && !Read3DSNamedObject(chunk.content)) return 0;
        if (chunk.id == kTdsMaterialChunk) Read3DSMaterial(chunk.content);
    }
    return 1;
}

int32_t ReadSections(TdsCursor main) {
    TdsChunk section;
    while (NextChunk(main, &section)) {
        if (section.id == kTdsKeyframerChunk) continue;  // passed over whole
        if (section.id != kTdsEditorChunk) break;        // any other section ends the walk, keeping what was read
        if (!ReadEditor(section.content)) return 0;
    }
    return 1;
}

int32_t ReadFileBytes(const uint8_t* bytes, uint32_t count) {
    if (!Sniff3DS(static_cast<int32_t>(std::min<uint32_t>(count, kSniff3DSMinBytes)), bytes)) return 0;
    const uint32_t mainLength = TdsU32(bytes + 2);
    if (mainLength <= kFirstSectionOffset) return 1;  // an empty main chunk: no points, refused below
    // The version chunk is not read; a main length beyond the file is cut at its end.
    return ReadSections(TdsCursor{bytes, kFirstSectionOffset, std::min(mainLength, count)});
}

uint32_t LoadFile(const char* path, uint8_t* bytes, uint32_t size) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    const size_t count = std::fread(bytes, 1, size, file);
    std::fclose(file);
    return static_cast<uint32_t>(count);
}

}  // namespace

int32_t Read3DS(const char* path) {
    uint32_t size = 0;
    if (!FileSizeOf(path, &size)) return 0;
    auto* bytes = static_cast<uint8_t*>(ModuleAlloc(size));
    if (!bytes) return 0;
    const int32_t read = ReadFileBytes(bytes, LoadFile(path, bytes, size));
    ModuleFree(bytes);
    if (!read || g_Scene.PointCount < 1 || !SceneValidate()) return 0;
    SceneCompactSurfaces();  // without scratch memory the surfaces stay uncompacted, still valid
    return 1;
}

int32_t Read3DSNamedObject(TdsCursor object) {
    char name[kObjectNameBytes];
    TakeName(object, name, kObjectNameBytes);
    uint16_t surface = 0;
    SceneFindOrAddSurface(name, kObjectNameBytes, &surface);
    TdsChunk chunk;
    while (NextChunk(object, &chunk))
        if (chunk.id == kTdsMeshChunk && !Read3DSMesh(chunk.content, surface)) return 0;
    return 1;
}

int32_t Read3DSMesh(TdsCursor mesh, uint16_t objectSurface) {
    const auto base = static_cast<uint32_t>(g_Scene.PointCount);
    TdsChunk chunk;
    while (NextChunk(mesh, &chunk)) {
        if (chunk.id == kTdsPointListChunk && !ReadPointList(chunk.content)) return 0;
        if (chunk.id == kTdsFaceListChunk && !ReadFaceList(chunk.content, mesh.end, objectSurface, base)) return 0;
    }
    return 1;
}

int32_t Read3DSMaterial(TdsCursor material) {
    uint16_t surface = 0;
    TdsChunk chunk;
    while (NextChunk(material, &chunk)) {
        if (chunk.id == kTdsMaterialNameChunk) {
            char name[kMaterialNameBytes];
            TakeName(chunk.content, name, kMaterialNameBytes);
            SceneFindOrAddSurface(name, kMaterialNameBytes, &surface);
        } else if (surface != 0) {  // attributes before the material's name have no surface: ignored
            ApplyMaterialAttribute(chunk, surface - 1);
        }
    }
    return 1;
}

int32_t Read3DSColour(TdsCursor colour, int32_t slot) {
    TdsChunk chunk;
    while (NextChunk(colour, &chunk)) {
        // Only 24-bit colours count; one shorter than its three bytes is ignored.
        const uint8_t* rgb = chunk.id == kTdsColour24Chunk ? Take(chunk.content, kColourBytes) : nullptr;
        if (rgb) std::memcpy(g_Scene.SurfaceColours[slot], rgb, kColourBytes);
    }
    return 1;
}

uint16_t Read3DSPercentage(TdsCursor percentage) {
    uint16_t value = 0;
    TdsChunk chunk;
    while (NextChunk(percentage, &chunk)) {
        // A percentage shorter than its number is ignored.
        uint16_t whole = 0;
        if (chunk.id == kTdsIntPercentChunk && TakeU16(chunk.content, &whole)) value = PercentFromInteger(whole);
        const uint8_t* fraction = chunk.id == kTdsFloatPercentChunk ? Take(chunk.content, sizeof(float)) : nullptr;
        if (fraction) value = PercentFromFloat(TdsF32(fraction));
    }
    return value;
}
