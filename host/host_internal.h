// Internals shared by the stand-in host's source files.
//
// What the host keeps where (beyond the fields the module reads and writes):
// - HostObject  96: the source path (FX_ObjectRenamePath), a host text block
// - HostObject 104: the file name with its extension (FX_ObjectRenameFile)
// - HostObject 112: the object's name; FX_ObjectAdd starts it as "Unnamed"
// - HostObject 120: a block tied to the current geometry (BuildObject makes one)
// - HostGeometry 120: the bounding box (FX_BoundingBoxGet), a HostBoundingBox
// - HostGeometry 168/176: the distinct undirected edges (FX_EdgeListCreate)
// - HostGeometry 184/192: one polygon normal per polygon (FX_NormalInit)
// - HostUVMap 48: one HostUVCorner array per polygon (CreateDCUVPolys); the
//   number of entries is the array block's size / 8, known to the allocator
// - HostSurface 1648: a chain of host blocks, each starting with the pointer
//   to the next one; ClearList frees them
// Every block above comes from the HostCore allocation slot, so the live-block
// count covers everything an object owns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "standin_host.h"

namespace standin::detail {

// ---- Memory (host_memory.cpp) -----------------------------------------------------

// The HostCore slots as the host itself uses them: tracked, fault-injectable.
void* Alloc(uint64_t count, uint64_t size);
void* Realloc(void* block, uint64_t newSize);
void Free(void* block);
// The size a live block was given with, 0 for null. Aborts for a foreign block.
uint64_t StoreBlockSize(const void* block);

// The two slabs the store last looked blocks up in. The host's walks ask the
// size of one block after another from the same few slabs (a mesh's triangles
// and quads keep their corners arrays in slabs of two sizes), so those are
// answered inline.
struct SlabWindow {
    uintptr_t base = 0;  // 0: none
    const uint8_t* state = nullptr;  // per block: 0 while free, else 1 + the bytes of its class it does not use
    uint32_t blockSize = 0;
    uint32_t reciprocal = 0;  // ceil(2^32 / blockSize)
    uint32_t capacity = 0;
};
// The store carves blocks of up to 1 KiB from slabs of this size.
constexpr int kSlabShift = 16;
constexpr uint64_t kSlabBytes = uint64_t{1} << kSlabShift;
constexpr int kSlabWindows = 2;
extern SlabWindow g_slabWindows[kSlabWindows];  // the most recent first

inline uint64_t BlockSize(const void* block) {
    if (!block) return 0;
    for (const SlabWindow& window : g_slabWindows) {
        const uint64_t offset = reinterpret_cast<uintptr_t>(block) - window.base;
        if (offset >= kSlabBytes) continue;
        const uint64_t slot = (offset * window.reciprocal) >> 32;
        if (slot * window.blockSize == offset && slot < window.capacity && window.state[slot] != 0) {
            return window.blockSize + 1u - window.state[slot];
        }
        break;
    }
    return StoreBlockSize(block);
}

// Zeroed scratch memory for the host's own passes over an object, from pages
// that ask to be huge; data() is null when there is no memory.
class ScratchBytes {
public:
    explicit ScratchBytes(uint64_t bytes);
    ~ScratchBytes();
    ScratchBytes(const ScratchBytes&) = delete;
    ScratchBytes& operator=(const ScratchBytes&) = delete;
    void* data() const { return data_; }
    uint64_t size() const { return bytes_; }
    // At least `bytes`, contents kept and the new bytes zero (the pages move
    // where the platform can); false, the memory kept as it was, when there is no more.
    bool Grow(uint64_t bytes);

private:
    void* data_;
    uint64_t bytes_;
};

template <typename T>
class ScratchArray {
public:
    explicit ScratchArray(uint64_t count) : bytes_(count * sizeof(T)) {}
    T* data() const { return static_cast<T*>(bytes_.data()); }
    uint64_t size() const { return bytes_.size() / sizeof(T); }
    bool Grow(uint64_t count) { return bytes_.Grow(count * sizeof(T)); }

private:
    ScratchBytes bytes_;
};

// A zone: the blocks made while it is current (one load, or one object the
// host models), which can be released together.
struct Zone;
// The zone of a live block. Aborts for a foreign block.
Zone* ZoneOf(const void* block);
// Releases every block of `zone` at once when `heldBlocks`, the blocks found
// in it by walking what is being released, are all it holds; false (nothing
// done) otherwise, so a block nothing reaches any more stays counted.
bool ReleaseZoneWhole(Zone* zone, int64_t heldBlocks);

// Makes a fresh zone current for its lifetime; the zone goes when its last block does.
class ZoneScope {
public:
    ZoneScope();
    ~ZoneScope();
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    Zone* previous_;
};
// Frees `*field` when set and clears it.
template <typename T>
void FreeField(T*& field) {
    Free(field);
    field = nullptr;
}
// A host-allocated copy of `text`, or null when the allocation fails.
char* CopyText(const char* text);
// Replaces the text block at `field` with a copy of `text`; false (field kept)
// when there is no memory.
bool ReplaceText(char*& field, const char* text);

// ---- Call log (host_core.cpp) -----------------------------------------------------

std::string Text(const char* text);  // the text, or "null"
std::string Number(int64_t value);
// Whether host function calls are logged (asked once per call: kept inline).
extern bool g_callLogging;
inline bool CallLogging() { return g_callLogging; }
void AppendCall(const char* function, std::vector<std::string> args);
// How the log writes each kind of argument: texts as given, numbers in
// decimal, pointers as PointerText gives them.
inline std::string LogText(const char* text) { return Text(text); }
inline std::string LogText(const void* pointer) { return PointerText(pointer); }
inline std::string LogText(int64_t value) { return Number(value); }
// Logs a host function call; the arguments are turned into text only while
// the log is on, so a busy import pays nothing for it otherwise.
template <typename... Args>
void LogCall(const char* function, const Args&... args) {
    if (CallLogging()) AppendCall(function, {LogText(args)...});
}

// The service table found under "ms"; slot 2 records both lines (Messages()).
HostMessageTable* MessageTable();

// ---- Host registry (host_functions.cpp) -------------------------------------------

// The host function or service table of that name, null for any other name.
void* LookupHostSymbol(const char* name);
// Drops every extension registered for `record`; returns how many there were.
int32_t DropExtensions(const ServerRecord* record);

// ---- Geometry work shared by the host functions and the object builder -------------
// (host_geometry.cpp)

void SetSurfaceDefaults(HostSurface* surface);
void ClearHostList(HostList* list);
// Frees points, polygons, UV maps, edges and normals (and, unless
// `keepSurfaces`, the surfaces and the surface array), clearing every field and
// count that referred to them. The HostGeometry record itself stays.
void FreeGeometryContents(HostGeometry* geometry, bool keepSurfaces);
// Frees the geometry record, the object's blocks at 96, 104, 112 and 120 and the
// object. The geometry's contents must already be freed.
void FreeObjectShell(HostObject* object);
// Releases the object and all it owns; in one go when its blocks make up a zone.
void FreeObjectEverything(HostObject* object);
// The bytes of every host block the object holds.
uint64_t ObjectBytes(HostObject* object);

void ComputeBoundingBox(HostPoint* const* points, int32_t count, HostBoundingBox* box);
bool CreateEdgeList(HostGeometry* geometry);
bool CreateNormals(HostGeometry* geometry);
bool CreateUVPolygons(HostGeometry* geometry, int32_t mapIndex);
// Appends a new surface named `name` with default settings; null without memory.
HostSurface* AppendSurface(HostGeometry* geometry, const char* name);

}  // namespace standin::detail
