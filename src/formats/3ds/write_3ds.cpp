#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "formats/3ds/tds.h"
#include "formats/3ds/tds_writer.h"
#include "frame/module_heap.h"
#include "scene/output_file.h"
#include "scene/scene.h"

namespace {

constexpr uint16_t kTdsVersionChunk = 0x0002;
constexpr uint16_t kTdsMeshVersionChunk = 0x3D3E;
constexpr uint16_t kTdsMasterScaleChunk = 0x0100;
constexpr uint16_t kTdsAmbientChunk = 0xA010;
constexpr uint16_t kTdsSpecularChunk = 0xA030;
constexpr uint32_t kTdsVersion = 2;
constexpr uint32_t kHeaderBytes = 6;
constexpr uint32_t kEditorStartBytes = 16;  // the editor's header and the mesh version chunk
constexpr uint16_t kFaceAllEdgesVisible = 7;
constexpr uint16_t kShadingSmooth = 3;
constexpr uint16_t kShadingFlat = 1;
constexpr double kPercentPerValue = 2.55;  // 0..255 surface values to percent
constexpr uint32_t kSmoothingGroup = 1;
constexpr int32_t kObjectPrefixLength = 6;  // "OBJECT"
constexpr int32_t kObjectPrefixedMin = 13;  // a prefixed name is longer than 12 characters
constexpr int32_t kObjectPrefixRest = 11;   // where the rest of a prefixed name starts

// ---- Writing chunks --------------------------------------------------------------------

void PutU16(uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    OutputBytes(bytes, sizeof bytes);
}

void PutU32(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    OutputBytes(bytes, sizeof bytes);
}

void PutF32(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutU32(bits);
}

void PutHeader(uint16_t id, uint32_t length) {
    PutU16(id);
    PutU32(length);
}

// A chunk header whose length is patched later; answers the length field's position.
int64_t PutHeaderToPatch(uint16_t id) {
    PutU16(id);
    const int64_t at = OutputPosition();
    PutU32(0);
    return at;
}

void PatchU32(int64_t at, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    OutputPatch(at, bytes, sizeof bytes);
}

void PatchU16(int64_t at, uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    OutputPatch(at, bytes, sizeof bytes);
}

void PutText(const char* text, size_t length) {
    OutputBytes(text, length);
    OutputBytes("", 1);
}

// A surface value 0..255 as a percentage, truncated toward zero.
uint16_t Percent(uint16_t value) { return static_cast<uint16_t>(value / kPercentPerValue); }

// The material name of surface i: its name cut to 15 characters.
size_t MaterialNameLength(int32_t i) { return strnlen(g_Scene.SurfaceNames[i], kTdsMaterialNameMax); }

// ---- Materials -----------------------------------------------------------------------------

uint32_t PutMaterial(int32_t i) {
    const ImportScene& s = g_Scene;
    const auto nameLength = static_cast<uint32_t>(MaterialNameLength(i));
    const int64_t entryAt = PutHeaderToPatch(kTdsMaterialChunk);
    PutHeader(kTdsMaterialNameChunk, 7 + nameLength);
    PutText(s.SurfaceNames[i], nameLength);
    for (uint16_t colourChunk : {kTdsAmbientChunk, kTdsDiffuseChunk, kTdsSpecularChunk}) {
        PutHeader(colourChunk, 15);
        PutHeader(kTdsColour24Chunk, 9);
        OutputBytes(s.SurfaceColours[i], 3);
    }
    for (const auto& [chunk, value] : {std::pair{kTdsShininessChunk, s.SurfaceShininess[i]},
                                       std::pair{kTdsTransparencyChunk, s.SurfaceTransparency[i]}}) {
        PutHeader(chunk, 14);
        PutHeader(kTdsIntPercentChunk, 8);
        PutU16(Percent(value));
    }
    PutHeader(kTdsShadingChunk, 8);
    PutU16(s.SurfaceSmooth[i] == 1 ? kShadingSmooth : kShadingFlat);
    const uint32_t length = 94 + nameLength;
    PatchU32(entryAt, length);
    return length;
}

// ---- Named objects ---------------------------------------------------------------------------

// Writes the points of surface `surface`'s triangles into the point list,
// each once, numbering them locally in `local` (1-based, 0 = not yet
// written). False when a triangle names no scene point.
bool PutMeshPoints(uint32_t surface, uint32_t* local, uint32_t* pointsWritten) {
    const auto pointCount = static_cast<uint32_t>(g_Scene.PointCount);
    uint32_t written = 0;
    bool valid = true;
    SceneForEachRecord(g_Scene.PolygonStream, g_Scene.PolygonCount, [&](int32_t n, const uint32_t* p, uint32_t s) {
        if (s != surface || !valid) return;
        for (int32_t k = 0; k < n; ++k) {
            if (p[k] >= pointCount) {
                valid = false;
                return;
            }
            if (local[p[k]]) continue;
            local[p[k]] = ++written;
            const float* point = ScenePointAt(static_cast<int32_t>(p[k]));
            PutF32(point[0]);
            PutF32(point[2]);
            PutF32(point[1]);
        }
    });
    *pointsWritten = written;
    return valid;
}

// Writes the faces (corners exchanged, local numbers) and answers their number.
uint32_t PutMeshFaces(uint32_t surface, const uint32_t* local) {
    uint32_t faces = 0;
    SceneForEachRecord(g_Scene.PolygonStream, g_Scene.PolygonCount, [&](int32_t, const uint32_t* p, uint32_t s) {
        if (s != surface) return;
        for (int32_t k = 2; k >= 0; --k) PutU16(static_cast<uint16_t>(local[p[k]] - 1));
        PutU16(kFaceAllEdgesVisible);
        ++faces;
    });
    return faces;
}

// The material group and, for a smooth surface, the smoothing groups; answers
// the smoothing chunk's length (0 when it is not written).
uint32_t PutFaceGroups(int32_t i, uint32_t faces) {
    const auto nameLength = static_cast<uint32_t>(MaterialNameLength(i));
    PutHeader(kTdsFaceMaterialChunk, 9 + nameLength + 2 * faces);
    PutText(g_Scene.SurfaceNames[i], nameLength);
    PutU16(static_cast<uint16_t>(faces));
    for (uint32_t f = 0; f < faces; ++f) PutU16(static_cast<uint16_t>(f));
    if (g_Scene.SurfaceSmooth[i] != 1) return 0;
    const uint32_t smoothingLength = kHeaderBytes + 4 * faces;
    PutHeader(kTdsSmoothingChunk, smoothingLength);
    for (uint32_t f = 0; f < faces; ++f) PutU32(kSmoothingGroup);
    return smoothingLength;
}

// The named object of surface i. False when its points or faces cannot be
// written (no memory, a bad point index, too many faces).
bool PutNamedObject(int32_t i, const char* objectName, uint32_t* objectLength) {
    const auto surface = static_cast<uint32_t>(i + 1);
    const auto nameLength = static_cast<uint32_t>(std::strlen(objectName));
    const int64_t objectAt = PutHeaderToPatch(kTdsNamedObjectChunk);
    PutText(objectName, nameLength);
    const int64_t meshAt = PutHeaderToPatch(kTdsMeshChunk);
    const int64_t pointsAt = PutHeaderToPatch(kTdsPointListChunk);
    const int64_t pointCountAt = OutputPosition();
    PutU16(0);
    auto* local = static_cast<uint32_t*>(ModuleAlloc(static_cast<uint64_t>(g_Scene.PointCount) * sizeof(uint32_t)));
    uint32_t points = 0;
    if (!local || !PutMeshPoints(surface, local, &points)) {
        ModuleFree(local);
        return false;
    }
    PatchU32(pointsAt, 8 + 12 * points);
    PatchU16(pointCountAt, static_cast<uint16_t>(points));
    const int64_t facesAt = PutHeaderToPatch(kTdsFaceListChunk);
    const int64_t faceCountAt = OutputPosition();
    PutU16(0);
    const uint32_t faces = PutMeshFaces(surface, local);
    ModuleFree(local);
    if (faces > kTdsMeshFaceLimit) return false;
    const uint32_t smoothingLength = PutFaceGroups(i, faces);
    const uint32_t faceListLength = 17 + static_cast<uint32_t>(MaterialNameLength(i)) + 10 * faces;
    PatchU32(facesAt, faceListLength);
    PatchU16(faceCountAt, static_cast<uint16_t>(faces));
    const uint32_t meshLength = 14 + 12 * points + faceListLength + smoothingLength;
    PatchU32(meshAt, meshLength);
    *objectLength = 7 + nameLength + meshLength;
    PatchU32(objectAt, *objectLength);
    return true;
}

// A write that cannot be finished leaves no file.
int32_t AbandonFile(const char* path, ObjectNameEntry* table) {
    OutputClose();
    std::remove(path);
    ModuleFree(table);
    return 0;
}

// ---- Names -----------------------------------------------------------------------------------

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "OBJECT", four characters of which one is a digit (or a blank at position
// 10), and a rest: only the rest is kept.
void StripObjectPrefix(char* name) {
    const size_t length = std::strlen(name);
    if (length < kObjectPrefixedMin || std::strncmp(name, "OBJECT", kObjectPrefixLength) != 0) return;
    const bool numbered = std::any_of(name + 6, name + 10, IsDigit) || IsWhiteSpace(name[10]);
    if (numbered) std::memmove(name, name + kObjectPrefixRest, length - kObjectPrefixRest + 1);
}

// Appends " n", first removing as many characters as the suffix has when the name would pass 15.
void AppendNumber(char* name, int32_t n) {
    char suffix[16] = " ";
    const auto end = std::to_chars(suffix + 1, suffix + sizeof suffix - 1, n).ptr;
    const auto suffixLength = static_cast<size_t>(end - suffix);
    size_t length = std::strlen(name);
    if (length + suffixLength > static_cast<size_t>(kTdsMaterialNameMax)) length -= suffixLength;
    std::memcpy(name + length, suffix, suffixLength);
    name[length + suffixLength] = '\0';
}

// Equal names sort by surface, so the numbers of a run follow the surface order.
bool ObjectNameBefore(const ObjectNameEntry& a, const ObjectNameEntry& b) {
    const int order = std::strcmp(a.name, b.name);
    return order != 0 ? order < 0 : a.surface < b.surface;
}

bool ObjectNameTaken(const ObjectNameEntry* table, int32_t count, const char* name) {
    return std::any_of(table, table + count, [name](const ObjectNameEntry& e) { return std::strcmp(e.name, name) == 0; });
}

// The smallest counter whose "_k" is long enough to fill a name of `length`
// characters up to 10: "_k" needs at least 10 - length characters.
int64_t FirstCounterFor(size_t length) {
    int64_t k = 1;
    for (size_t digits = 1; digits + 1 < kTdsObjectNameMax - length; ++digits) k *= 10;
    return k;
}

// Gives each entry of the run [first, end) a new unique name: its first
// 10 - s characters and "_k" (s characters), k rising through the run.
void RenameRun(ObjectNameEntry* table, int32_t count, int32_t first, int32_t end) {
    int64_t k = 1;
    for (int32_t e = first; e < end; ++e) {
        char* name = table[e].name;
        const size_t length = std::strlen(name);
        k = std::max(k, FirstCounterFor(length));
        char candidate[kTdsObjectNameMax + 1];
        for (;; ++k) {
            char suffix[24] = "_";
            const auto suffixLength = static_cast<size_t>(std::to_chars(suffix + 1, suffix + sizeof suffix, k).ptr - suffix);
            const size_t kept = kTdsObjectNameMax - suffixLength;
            std::memcpy(candidate, name, kept);
            std::memcpy(candidate + kept, suffix, suffixLength);
            candidate[kTdsObjectNameMax] = '\0';
            if (!ObjectNameTaken(table, count, candidate)) break;
        }
        std::memcpy(name, candidate, sizeof candidate);
        ++k;
    }
}

// The first run of equal names in the sorted table, or false when every name is unique.
bool FindRun(const ObjectNameEntry* table, int32_t count, int32_t* first, int32_t* end) {
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (std::strcmp(table[i].name, table[i + 1].name) != 0) continue;
        int32_t j = i + 1;
        while (j < count && std::strcmp(table[i].name, table[j].name) == 0) ++j;
        *first = i;
        *end = j;
        return true;
    }
    return false;
}

}  // namespace

void SceneMakeSurfaceNames3DS() {
    const int32_t count = g_Scene.SurfaceCount;
    for (int32_t i = 0; i < count; ++i) {
        char* name = g_Scene.SurfaceNames[i];
        for (char* c = name; *c; ++c) *c = AsciiUpper(*c);
        StripObjectPrefix(name);
        name[MaterialNameLength(i)] = '\0';
    }
    for (int32_t i = 0; i < count - 1; ++i) {
        int32_t n = 1;
        for (int32_t j = i + 1; j < count; ++j) {
            if (std::strcmp(g_Scene.SurfaceNames[i], g_Scene.SurfaceNames[j]) != 0) continue;
            AppendNumber(g_Scene.SurfaceNames[i], n++);
            AppendNumber(g_Scene.SurfaceNames[j], n++);
        }
    }
}

void Build3DSObjectNames(ObjectNameEntry* table) {
    const int32_t count = g_Scene.SurfaceCount;
    for (int32_t i = 0; i < count; ++i) {
        table[i].surface = static_cast<uint32_t>(i);
        const size_t length = strnlen(g_Scene.SurfaceNames[i], kTdsObjectNameMax);
        std::memcpy(table[i].name, g_Scene.SurfaceNames[i], length);
        table[i].name[length] = '\0';
    }
    int32_t first = 0, end = 0;
    for (;;) {
        std::sort(table, table + count, ObjectNameBefore);
        if (!FindRun(table, count, &first, &end)) break;
        RenameRun(table, count, first, end);
    }
    std::sort(table, table + count, [](const ObjectNameEntry& a, const ObjectNameEntry& b) {
        return a.surface < b.surface;
    });
}

int32_t Write3DS(const char* path, const char*) {
    if (g_Scene.PointCount >= kTdsPointLimit || g_Scene.PolygonCount < 1) return 0;
    SceneEnsureSurface();
    SceneMakeSurfaceNames3DS();
    if (!OutputOpen(path, "wb")) return 0;
    const int64_t mainAt = PutHeaderToPatch(kTdsMainChunk);
    PutHeader(kTdsVersionChunk, 10);
    PutU32(kTdsVersion);
    const int64_t editorAt = PutHeaderToPatch(kTdsEditorChunk);
    PutHeader(kTdsMeshVersionChunk, 10);
    PutU32(kTdsVersion);
    uint32_t editorLength = kEditorStartBytes;
    for (int32_t i = 0; i < g_Scene.SurfaceCount; ++i) editorLength += PutMaterial(i);
    PutHeader(kTdsMasterScaleChunk, 10);
    PutF32(1.0f);
    editorLength += 10;
    auto* table = static_cast<ObjectNameEntry*>(
        ModuleAlloc(static_cast<uint64_t>(g_Scene.SurfaceCount) * sizeof(ObjectNameEntry)));
    // Without memory for the object names the write stops like at any other failure: no file, 0.
    if (!table) return AbandonFile(path, nullptr);
    Build3DSObjectNames(table);
    for (int32_t i = 0; i < g_Scene.SurfaceCount; ++i) {
        uint32_t objectLength = 0;
        if (!PutNamedObject(i, table[i].name, &objectLength)) return AbandonFile(path, table);
        editorLength += objectLength;
    }
    PatchU32(editorAt, editorLength);
    PatchU32(mainAt, editorLength + kHeaderBytes + 10);
    OutputClose();
    ModuleFree(table);
    return 1;
}
