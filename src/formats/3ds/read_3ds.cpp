// The 3D Studio reader. The whole file is loaded into one module block and
// read front to back through one cursor, the way a sequential file is read.
// Each loop keeps a byte counter of its own over its chunk, grown by the
// lengths the file states, while the cursor moves by what is actually read and
// skipped: a point list is read by its count whatever its length says, a
// chunk that runs past its parent is read to its own length, and the main
// length bounds the top-level walk alone. Reads are checked against the end of
// the file and against the bounds the format itself sets (names inside their
// buffers, the face material scan inside its mesh), never against a parent.
//
// Counters are signed 32-bit, as the format's lengths are compared: a u32
// length of 2^31 or more is negative, and sums wrap as two's complement.
//
// Every walk ends: each loop step reads a 6-byte header (or ends the walk),
// and the cursor never moves back before a header it has read (a face list
// returns to its own records, then leaves at its end by its length, at least 6
// bytes past its header). So the cursor gains at least 6 bytes a step and
// stops at the end of the file, where every read comes up short.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/3ds/tds.h"
#include "formats/3ds/tds_bytes.h"
#include "frame/file_open.h"
#include "frame/module_heap.h"
#include "frame/narrowing.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kChunkHeaderBytes = 6;
constexpr int32_t kFirstSectionOffset = 16;  // after the main header and the 10-byte version chunk
constexpr uint32_t kLengthBytes = 4;
constexpr uint32_t kPointBytes = 12;  // f32 x, y, z
constexpr uint32_t kFaceBytes = 8;    // u16 a, b, c, flags
constexpr uint32_t kColourBytes = 3;
constexpr uint32_t kFaceSurfaceEntries = 65535;  // one surface per face number of a face list
constexpr int32_t kObjectNameBytes = 16;         // 15 characters and the NUL
constexpr int32_t kMaterialNameBytes = 32;       // 31 characters and the NUL
constexpr size_t kGroupNameBytes = 32;           // "object material", 31 characters and the NUL
constexpr uint16_t kSmoothShadingFrom = 2;       // shading values from here on mean smooth shading
constexpr int32_t kNoSlot = -1;                  // attributes read before a material's name
constexpr double kIntPercentScale = 2.55;
constexpr float kFloatPercentScale = 255.0f;

struct TdsHeader {
    uint16_t id;
    int32_t length;  // as the signed counters see it
};

// ---- The cursor --------------------------------------------------------------------

int32_t AsCounter(uint32_t bits) { return static_cast<int32_t>(bits); }
int32_t Advance(int32_t counter, int32_t bytes) {
    return AsCounter(static_cast<uint32_t>(counter) + static_cast<uint32_t>(bytes));
}

void EndWalk(TdsFile& file) {
    file.pos = file.size;
    file.ended = true;
}

// The next `bytes` bytes, or null when the file ends before them. A short read
// gives nothing and ends the walk: what was read before it is kept.
const uint8_t* Take(TdsFile& file, uint32_t bytes) {
    if (file.ended || file.size - file.pos < bytes) {
        EndWalk(file);
        return nullptr;
    }
    const uint8_t* at = file.bytes + file.pos;
    file.pos += bytes;
    return at;
}

bool TakeU16(TdsFile& file, uint16_t* value) {
    const uint8_t* at = Take(file, sizeof *value);
    if (at) *value = TdsU16(at);
    return at != nullptr;
}

// A length or count cut by the end of the file reads as 0; the walk has ended.
int32_t TakeCounter(TdsFile& file) {
    const uint8_t* at = Take(file, kLengthBytes);
    return at ? AsCounter(TdsU32(at)) : 0;
}

// Moves the cursor to the offset `target`; a move past the end of the file
// stops at the end, where the next read comes up short. An ended walk stays ended.
void MoveTo(TdsFile& file, uint64_t target) {
    if (!file.ended) file.pos = static_cast<uint32_t>(std::min<uint64_t>(target, file.size));
}

void Skip(TdsFile& file, uint64_t bytes) { MoveTo(file, file.pos + bytes); }

bool TakeHeader(TdsFile& file, TdsHeader* header) {
    const uint8_t* at = Take(file, kChunkHeaderBytes);
    if (!at) return false;
    *header = TdsHeader{TdsU16(at), AsCounter(TdsU32(at + 2))};
    return true;
}

// A length below 6 (every u32 length of 2^31 or more among them) cannot be
// followed: skipping by it would move back or stand still. It ends the walk,
// keeping what was read, as the end of the file does.
bool Followable(TdsFile& file, const TdsHeader& header) {
    if (header.length >= kChunkHeaderBytes) return true;
    EndWalk(file);
    return false;
}

bool NextChunk(TdsFile& file, TdsHeader* header) { return TakeHeader(file, header) && Followable(file, *header); }

int32_t ContentLength(const TdsHeader& header) { return header.length - kChunkHeaderBytes; }

void SkipContent(TdsFile& file, const TdsHeader& header) {
    Skip(file, static_cast<uint32_t>(ContentLength(header)));
}

// Reads a NUL-terminated name up to and including its NUL and gives the bytes
// read. A name longer than `bytes` - 1 characters keeps that many; a name the
// file ends in is kept as far as it goes and ends the walk.
int32_t TakeName(TdsFile& file, char* name, int32_t bytes) {
    const uint8_t* start = file.bytes + file.pos;
    const uint32_t left = file.size - file.pos;
    const auto* nul = static_cast<const uint8_t*>(left ? std::memchr(start, 0, left) : nullptr);
    const uint32_t length = nul ? static_cast<uint32_t>(nul - start) : left;
    const uint32_t kept = std::min(length, static_cast<uint32_t>(bytes - 1));
    std::memcpy(name, start, kept);
    name[kept] = '\0';
    if (!nul) {
        EndWalk(file);
        return AsCounter(length);
    }
    file.pos += length + 1;
    return AsCounter(length + 1);
}

// ---- Meshes ------------------------------------------------------------------------

// The faces of one face list and the surface each of them gets.
struct FaceSurfaces {
    uint16_t count;
    uint16_t objectSurface;
    uint16_t* surfaces;  // kFaceSurfaceEntries entries; those past `count` are never read
};

// Points are stored (x, y, z) and kept as (x, z, y). The count is read
// whatever the chunk's length says, and reading goes on after the last point.
int32_t ReadPointList(TdsFile& file) {
    uint16_t count = 0;
    TakeU16(file, &count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = Take(file, kPointBytes);
        if (!p) break;
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

// The surface of an (object, material) pair, looking like the material when
// one of that name was read, else like the object.
uint16_t GroupSurface(const char* material, uint16_t objectSurface) {
    char name[kGroupNameBytes];
    ComposeGroupName(g_Scene.SurfaceNames[objectSurface - 1], material, name);
    uint16_t group = 0;
    SceneFindOrAddSurface(name, static_cast<int32_t>(kGroupNameBytes), &group);
    SceneCopySurfaceLook(FindSurfaceSlot(material, objectSurface) - 1, group - 1);
    return group;
}

// A group cut by the end of the file before its face numbers names no surface.
// Face numbers at or beyond the face count are ignored: there is no such face.
void ReadFaceMaterialGroup(TdsFile& scan, const FaceSurfaces& faces) {
    char material[kMaterialNameBytes];
    TakeName(scan, material, kMaterialNameBytes);
    uint16_t count = 0;
    if (!TakeU16(scan, &count)) return;
    const uint16_t surface = GroupSurface(material, faces.objectSurface);
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t face = 0;
        if (!TakeU16(scan, &face)) return;
        if (face < faces.count) faces.surfaces[face] = surface;
    }
}

// One mask per face of the list, whatever the chunk's length says.
void ReadSmoothingGroups(TdsFile& scan, const FaceSurfaces& faces) {
    for (uint32_t i = 0; i < faces.count; ++i) {
        const uint8_t* mask = Take(scan, sizeof(uint32_t));
        if (!mask) return;
        if (TdsU32(mask) != 0) g_Scene.SurfaceSmooth[faces.surfaces[i] - 1] = 1;
    }
}

// The chunks after the face records, in file order, while a header starts
// inside the mesh and the file still holds one. Material groups and smoothing
// are read where they stand and the next header follows what they read;
// other chunks are skipped by their length. The scan reads ahead on a cursor
// of its own: whatever ends it, the face records are read afterwards.
void ApplyFaceChunks(TdsFile scan, uint64_t meshEnd, const FaceSurfaces& faces) {
    TdsHeader header;
    while (scan.pos < meshEnd && scan.size - scan.pos >= uint32_t{kChunkHeaderBytes} && NextChunk(scan, &header)) {
        if (header.id == kTdsFaceMaterialChunk) {
            ReadFaceMaterialGroup(scan, faces);
        } else if (header.id == kTdsSmoothingChunk) {
            ReadSmoothingGroups(scan, faces);
        } else {
            SkipContent(scan, header);
        }
    }
}

// Face corners count from the mesh's first point, `base` in the scene.
int32_t AddFaces(TdsFile& file, const FaceSurfaces& faces, uint32_t base) {
    uint32_t* corners = g_Scene.FaceIndexScratch;
    for (uint32_t i = 0; i < faces.count; ++i) {
        const uint8_t* face = Take(file, kFaceBytes);
        if (!face) return 1;
        for (int32_t k = 0; k < 3; ++k) corners[k] = base + TdsU16(face + 2 * k);
        if (!SceneAddElement(3, faces.surfaces[i], corners, nullptr)) return 0;
    }
    return 1;
}

// The count F, F face records, and after them (up to the end of the mesh) the
// chunks that give the faces their surfaces, read ahead before the faces are
// added. The list then ends where its length says.
int32_t ReadFaceList(int32_t length, TdsFile& file, uint64_t meshEnd, uint16_t objectSurface, uint32_t base) {
    const uint32_t start = file.pos;
    FaceSurfaces faces{0, objectSurface, nullptr};
    if (!TakeU16(file, &faces.count)) return 1;
    faces.surfaces = static_cast<uint16_t*>(ModuleAlloc(kFaceSurfaceEntries * sizeof(uint16_t)));
    if (!faces.surfaces) return 0;
    std::fill_n(faces.surfaces, faces.count, objectSurface);
    TdsFile scan = file;
    Skip(scan, uint64_t{faces.count} * kFaceBytes);
    ApplyFaceChunks(scan, meshEnd, faces);
    const int32_t added = AddFaces(file, faces, base);
    ModuleFree(faces.surfaces);
    MoveTo(file, uint64_t{start} + static_cast<uint32_t>(length));  // back, when the records run past the list
    return added;
}

// ---- Materials ---------------------------------------------------------------------

// A percentage is the format's trunc(v x scale) taken as an i32 and kept as
// its low 16 bits (u16 arithmetic, so 200% gives 510 and -50% 65409).
uint16_t PercentLevel(double scaled) { return static_cast<uint16_t>(TruncateSaturating<int32_t>(scaled)); }

// Integer percentages scale in double precision: 50 gives 127, 100 gives 254,
// 65535 gives 167114, kept as 36042.
uint16_t PercentFromInteger(uint16_t percent) { return PercentLevel(percent * kIntPercentScale); }

// Float fractions scale in single precision (1.0 gives 255). A product the
// i32 cannot hold has no result in the format: NaN gives 0, and a product
// beyond the i32 range that range's limit (so +infinity keeps 65535, -infinity 0).
uint16_t PercentFromFloat(float fraction) { return PercentLevel(fraction * kFloatPercentScale); }

void SetAttribute(uint16_t* table, int32_t slot, uint16_t value) {
    if (slot != kNoSlot) table[slot] = value;
}

void ReadShading(TdsFile& file, int32_t slot) {
    uint16_t value = 0;
    if (TakeU16(file, &value) && value >= kSmoothShadingFrom) SetAttribute(g_Scene.SurfaceSmooth, slot, 1);
}

// An attribute chunk of a material. Before the material's name there is no
// surface (`slot` is kNoSlot): the attribute is read all the same, moving the
// cursor as it would, and dropped.
void ReadMaterialAttribute(TdsFile& file, const TdsHeader& header, int32_t slot) {
    const int32_t length = ContentLength(header);
    switch (header.id) {
        case kTdsDiffuseChunk: Read3DSColour(length, file, slot); break;
        case kTdsShininessChunk: SetAttribute(g_Scene.SurfaceShininess, slot, Read3DSPercentage(length, file)); break;
        case kTdsShininessStrengthChunk:
            SetAttribute(g_Scene.SurfaceShininessStrength, slot, Read3DSPercentage(length, file));
            break;
        case kTdsTransparencyChunk:
            SetAttribute(g_Scene.SurfaceTransparency, slot, Read3DSPercentage(length, file));
            break;
        case kTdsShadingChunk: ReadShading(file, slot); break;
        default: SkipContent(file, header); break;
    }
}

// ---- The file ----------------------------------------------------------------------

// The editor's children, bounded by the editor's own length whatever the main
// length says; `p` is the top-level counter.
int32_t ReadEditor(TdsFile& file, int32_t* p) {
    const int32_t length = TakeCounter(file);
    *p = Advance(*p, kChunkHeaderBytes);
    TdsHeader header;
    for (int32_t q = kChunkHeaderBytes; q < length && NextChunk(file, &header);) {
        if (header.id == kTdsNamedObjectChunk) {
            if (!Read3DSNamedObject(ContentLength(header), file)) return 0;
        } else if (header.id == kTdsMaterialChunk) {
            Read3DSMaterial(ContentLength(header), file);
        } else {
            SkipContent(file, header);
        }
        q = Advance(q, header.length);
        *p = Advance(*p, header.length);
    }
    return 1;
}

// The keyframer is passed over child by child. A child whose id is 0 counts
// as its header alone (its length is not looked at), so the next header is
// read from its content.
void SkipKeyframer(TdsFile& file, int32_t* p) {
    const int32_t length = TakeCounter(file);
    *p = Advance(*p, kChunkHeaderBytes);
    TdsHeader header;
    for (int32_t q = kChunkHeaderBytes; q < length && TakeHeader(file, &header);) {
        int32_t step = kChunkHeaderBytes;
        if (header.id != 0) {
            if (!Followable(file, header)) return;
            SkipContent(file, header);
            step = header.length;
        }
        q = Advance(q, step);
        *p = Advance(*p, step);
    }
}

// The sections up to the main length, which bounds this walk alone: a
// section that starts before it is read to its own end.
int32_t ReadSections(TdsFile& file, int32_t mainLength) {
    uint16_t id = 0;
    for (int32_t p = kFirstSectionOffset; p < mainLength && TakeU16(file, &id);) {
        if (id == kTdsEditorChunk) {
            if (!ReadEditor(file, &p)) return 0;
        } else if (id == kTdsKeyframerChunk) {
            SkipKeyframer(file, &p);
        } else {
            break;  // any other section ends the walk, keeping what was read
        }
    }
    return 1;
}

// The main length is read after the id and the version chunk is not read: the
// walk starts at offset 16. A main length of 16 or less reads nothing.
int32_t ReadFileBytes(const uint8_t* bytes, uint32_t count) {
    if (!Sniff3DS(static_cast<int32_t>(std::min<uint32_t>(count, kSniff3DSMinBytes)), bytes)) return 0;
    TdsFile file{bytes, count, kFirstSectionOffset, false};
    return ReadSections(file, AsCounter(TdsU32(bytes + 2)));
}

uint32_t LoadFile(const char* path, uint8_t* bytes, uint32_t size) {
    FILE* file = FileOpenToRead(path, "rb");
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

int32_t Read3DSNamedObject(int32_t length, TdsFile& file) {
    char name[kObjectNameBytes];
    int32_t q = TakeName(file, name, kObjectNameBytes);
    uint16_t surface = 0;
    SceneFindOrAddSurface(name, kObjectNameBytes, &surface);
    TdsHeader header;
    while (q < length && NextChunk(file, &header)) {
        if (header.id == kTdsMeshChunk) {
            if (!Read3DSMesh(ContentLength(header), file, surface)) return 0;
        } else {
            SkipContent(file, header);
        }
        q = Advance(q, header.length);
    }
    return 1;
}

int32_t Read3DSMesh(int32_t length, TdsFile& file, uint16_t objectSurface) {
    const uint64_t meshEnd = uint64_t{file.pos} + static_cast<uint32_t>(std::max(length, 0));
    const auto base = static_cast<uint32_t>(g_Scene.PointCount);
    TdsHeader header;
    for (int32_t p = 0; p < length && NextChunk(file, &header);) {
        p = Advance(p, header.length);
        if (header.id == kTdsPointListChunk) {
            if (!ReadPointList(file)) return 0;
        } else if (header.id == kTdsFaceListChunk) {
            if (!ReadFaceList(ContentLength(header), file, meshEnd, objectSurface, base)) return 0;
        } else {
            SkipContent(file, header);
        }
    }
    return 1;
}

int32_t Read3DSMaterial(int32_t length, TdsFile& file) {
    uint16_t surface = 0;
    TdsHeader header;
    for (int32_t p = 0; p < length && NextChunk(file, &header);) {
        p = Advance(p, kChunkHeaderBytes);
        if (header.id == kTdsMaterialNameChunk) {  // counted by the bytes of the name, not the chunk's length
            char name[kMaterialNameBytes];
            p = Advance(p, TakeName(file, name, kMaterialNameBytes));
            SceneFindOrAddSurface(name, kMaterialNameBytes, &surface);
        } else {
            ReadMaterialAttribute(file, header, surface - 1);  // surface 0 (no name yet) gives kNoSlot
            p = Advance(p, ContentLength(header));
        }
    }
    return 1;
}

int32_t Read3DSColour(int32_t length, TdsFile& file, int32_t slot) {
    TdsHeader header;
    for (int32_t p = 0; p < length && NextChunk(file, &header); p = Advance(p, header.length)) {
        if (header.id != kTdsColour24Chunk) {  // float colours are passed over
            SkipContent(file, header);
            continue;
        }
        const uint8_t* rgb = Take(file, kColourBytes);
        if (rgb && slot != kNoSlot) std::memcpy(g_Scene.SurfaceColours[slot], rgb, kColourBytes);
    }
    return 1;
}

uint16_t Read3DSPercentage(int32_t length, TdsFile& file) {
    uint16_t value = 0;
    TdsHeader header;
    for (int32_t p = 0; p < length && NextChunk(file, &header); p = Advance(p, header.length)) {
        uint16_t whole = 0;
        if (header.id == kTdsIntPercentChunk) {
            if (TakeU16(file, &whole)) value = PercentFromInteger(whole);
        } else if (header.id == kTdsFloatPercentChunk) {
            const uint8_t* fraction = Take(file, sizeof(float));
            if (fraction) value = PercentFromFloat(TdsF32(fraction));
        } else {
            SkipContent(file, header);
        }
    }
    return value;
}
