// The host's binary interface, shared by the module and the stand-in host.
//
// Every record the host owns is given here byte for byte at the offsets the
// host reads and writes. Fields the module never touches are reserved bytes;
// the stand-in host documents what it keeps in some of them (see host/).
// Every type is fixed-width so that the layouts hold on 64-bit Linux and on
// 64-bit Windows alike.
#pragma once

#include <cstddef>
#include <cstdint>

// On Windows the module's .def files alone say what the DLL exports.
#if defined(_WIN32)
#define TAMLORN_EXPORT
#else
#define TAMLORN_EXPORT __attribute__((visibility("default")))
#endif

static_assert(sizeof(void*) == 8, "the host is a 64-bit application");

struct HostObject;
struct HostGeometry;
struct HostSurface;
struct ServerRecord;

// ---- HostCore: the host's core function table --------------------------------

using HostAllocFn = void* (*)(uint64_t count, uint64_t size);  // zero-filled
using HostFreeFn = void (*)(void* block);
using HostReallocFn = void* (*)(void* block, uint64_t newSize);
using HostLookupFn = void* (*)(const char* name);

struct HostCore {
    void* reserved0[3];
    HostAllocFn alloc;      // slot 3
    HostFreeFn free;        // slot 4
    HostReallocFn realloc;  // slot 5
    void* reserved6[2];
    HostLookupFn lookup;    // slot 8
};
static_assert(offsetof(HostCore, alloc) == 3 * 8);
static_assert(offsetof(HostCore, free) == 4 * 8);
static_assert(offsetof(HostCore, realloc) == 5 * 8);
static_assert(offsetof(HostCore, lookup) == 8 * 8);

// The service table found under the name "ms": slot 2 shows a two-line message.
using HostMessageFn = void (*)(const char* line1, const char* line2);

struct HostMessageTable {
    void* reserved0[2];
    HostMessageFn message;  // slot 2
};
static_assert(offsetof(HostMessageTable, message) == 2 * 8);

// ---- The host functions the module calls, bound by name ----------------------
// Results the module ignores are still i32 so that every function has one shape.

using AddFileExtensionFn = int32_t (*)(ServerRecord* record, const char* extension, const char* description);
using RemoveFileExtensionsFn = int32_t (*)(ServerRecord* record);
using FxDataInstanceFreeAllFn = int32_t (*)(HostSurface* surface);
using ClearListFn = int32_t (*)(void* list);
using FxObjectAddFn = int32_t (*)(HostObject** slot, int32_t kind);
using NotifyFn = int32_t (*)(int32_t scope, HostObject* object, int32_t what, uint32_t mask);
using FxObjectSlotFn = int32_t (*)(HostObject** slot);
using FxObjectTextFn = int32_t (*)(HostObject* object, const char* text);
using NameEditFn = int32_t (*)(char* name);
using FxObjectFn = int32_t (*)(HostObject* object);
using FxBoundingBoxGetFn = int32_t (*)(void* const* points, int32_t count, void* box);
using FxNormalInitFn = int32_t (*)(HostObject* object, int32_t mode);
using FxSurfaceSetDefaultFn = int32_t (*)(HostSurface* surface);
using FxGeometrySetTypeFn = int32_t (*)(uint16_t* typeField, int32_t type);
using CreateDCUVPolysFn = int32_t (*)(HostObject* object, int32_t mapIndex);

// ---- Server record ------------------------------------------------------------

// The host's naming preferences; the module reads only `legalNames`.
struct HostNamingPrefs {
    uint8_t reserved0[56];
    int32_t legalNames;  // 1: FX_StringMakeLegalName, else SpacesToUnderScores
    uint8_t reserved60[4];
};
static_assert(offsetof(HostNamingPrefs, legalNames) == 56);

using CheckCallback = int32_t (*)(const char* path);
using LoadCallback = int32_t (*)(HostObject** slot, const char* path, int32_t ignored1, uint32_t pointDataSize,
                                 uint32_t loadFlags, uint64_t hostValue, int32_t ignored2, uint64_t ignored3);
using SaveCallback = int32_t (*)(HostObject* object, const char* path, uint32_t saveFlags);
using FreeCallback = void (*)(HostObject* object);
using UnregisterCallback = int32_t (*)();
using LookupCallback = void* (*)(const char* name);
using InitFunction = int32_t (*)(HostCore* core, ServerRecord* record);

constexpr int kServerDescriptionSize = 1360 - 1180;

struct ServerRecord {
    uint8_t reserved0[1168];
    float version;                             // 1168
    int32_t kind;                              // 1172
    uint32_t flags;                            // 1176
    char description[kServerDescriptionSize];  // 1180
    HostNamingPrefs* namingPrefs;              // 1360, read only
    uint8_t reserved1368[1448 - 1368];
    CheckCallback check;                       // 1448, import only
    union {                                    // 1456
        LoadCallback load;                     // import servers
        SaveCallback save;                     // export servers
    };
    FreeCallback free;                         // 1464, import only
    uint8_t reserved1472[1488 - 1472];
    UnregisterCallback unregister;             // 1488
    uint8_t reserved1496[1544 - 1496];
    LookupCallback lookup;                     // 1544
};
static_assert(offsetof(ServerRecord, version) == 1168);
static_assert(offsetof(ServerRecord, kind) == 1172);
static_assert(offsetof(ServerRecord, flags) == 1176);
static_assert(offsetof(ServerRecord, description) == 1180);
static_assert(offsetof(ServerRecord, namingPrefs) == 1360);
static_assert(offsetof(ServerRecord, check) == 1448);
static_assert(offsetof(ServerRecord, load) == 1456);
static_assert(offsetof(ServerRecord, save) == 1456);
static_assert(offsetof(ServerRecord, free) == 1464);
static_assert(offsetof(ServerRecord, unregister) == 1488);
static_assert(offsetof(ServerRecord, lookup) == 1544);
static_assert(sizeof(ServerRecord) == 1552);

// ---- Geometry records -----------------------------------------------------------

struct HostPoint {
    double position0[3];      // 0
    int32_t index;            // 24
    uint8_t reserved28[4];
    double position1[3];      // 32: read by export by default
    double position2[3];      // 56: read by export with save flag 0x02
    uint8_t reserved80[24];
    void* extra;              // 104: per-point block of pointDataSize bytes
    float weight;             // 112: 1.0
    uint8_t reserved116[60];
};
static_assert(offsetof(HostPoint, index) == 24);
static_assert(offsetof(HostPoint, position1) == 32);
static_assert(offsetof(HostPoint, position2) == 56);
static_assert(offsetof(HostPoint, extra) == 104);
static_assert(offsetof(HostPoint, weight) == 112);
static_assert(sizeof(HostPoint) == 176);

struct HostPolygonVertex {
    HostPoint* point;         // 0
    uint8_t reserved8[24];
    void* extra;              // 32
    uint16_t position;        // 40: the corner's place in its polygon
    uint8_t reserved42[6];
};
static_assert(offsetof(HostPolygonVertex, extra) == 32);
static_assert(offsetof(HostPolygonVertex, position) == 40);
static_assert(sizeof(HostPolygonVertex) == 48);

struct HostPolygon {
    uint8_t reserved0[24];
    int32_t index;                  // 24
    int32_t cornerCount;            // 28
    HostPolygonVertex** corners;    // 32
    uint16_t type;                  // 40
    uint16_t surface;               // 42: 1-based; export reads it as i16
    uint8_t reserved44[4];
    void* extra;                    // 48
    uint8_t reserved56[8];
};
static_assert(offsetof(HostPolygon, index) == 24);
static_assert(offsetof(HostPolygon, cornerCount) == 28);
static_assert(offsetof(HostPolygon, corners) == 32);
static_assert(offsetof(HostPolygon, type) == 40);
static_assert(offsetof(HostPolygon, surface) == 42);
static_assert(offsetof(HostPolygon, extra) == 48);
static_assert(sizeof(HostPolygon) == 64);

// A list embedded in a surface; its contents are the host's own.
struct HostList {
    void* head;
    int64_t count;
};

struct HostSurface {
    uint8_t reserved0[1480];
    char* name;                  // 1480
    void* block1488;             // 1488: host block owned by the surface
    uint8_t colour[3];           // 1496: red, green, blue
    uint8_t reserved1499;
    float colourF[3];            // 1500: colour bytes / 255
    uint8_t reserved1512[8];
    float level;                 // 1520: colour level 0..1
    float shininess;             // 1524
    uint8_t reserved1528[4];
    float transparency;          // 1532
    uint8_t flags;               // 1536: 0x04 = smooth shading
    uint8_t reserved1537[15];
    void* block1552;             // 1552: host block owned by the surface
    uint8_t reserved1560[1648 - 1560];
    HostList dataList;           // 1648: emptied by ClearList
    uint8_t reserved1664[1704 - 1664];
    HostSurface* next;           // 1704
};
static_assert(offsetof(HostSurface, name) == 1480);
static_assert(offsetof(HostSurface, block1488) == 1488);
static_assert(offsetof(HostSurface, colour) == 1496);
static_assert(offsetof(HostSurface, colourF) == 1500);
static_assert(offsetof(HostSurface, level) == 1520);
static_assert(offsetof(HostSurface, shininess) == 1524);
static_assert(offsetof(HostSurface, transparency) == 1532);
static_assert(offsetof(HostSurface, flags) == 1536);
static_assert(offsetof(HostSurface, block1552) == 1552);
static_assert(offsetof(HostSurface, dataList) == 1648);
static_assert(offsetof(HostSurface, next) == 1704);
static_assert(sizeof(HostSurface) == 1712);

struct UVMapPointEntry {
    float u, v;
    HostPoint* point;
};
static_assert(sizeof(UVMapPointEntry) == 16);

struct UVMapPolygonEntry {
    float u, v;
    HostPoint* point;
    struct HostPolygon* polygon;
};
static_assert(sizeof(UVMapPolygonEntry) == 24);

// One corner item of the per-polygon UV data the host derives (CreateDCUVPolys).
struct HostUVCorner {
    float u, v;
    float assigned;  // the host's own: 1 once an entry gave this corner its UV
};
static_assert(sizeof(HostUVCorner) == 12);

struct HostUVMap {
    char* name;                          // 0
    int32_t pointEntryCount;             // 8
    uint8_t reserved12[4];
    UVMapPointEntry* pointEntries;       // 16
    UVMapPointEntry** pointIndex;        // 24: one slot per host point
    int32_t polygonEntryCount;           // 32
    int32_t uvEntriesDone;               // 36: the host's own: entries its UV data covers
    UVMapPolygonEntry* polygonEntries;   // 40
    HostUVCorner** polygonUV;            // 48: one array per polygon, filled by the host
};
static_assert(offsetof(HostUVMap, pointEntryCount) == 8);
static_assert(offsetof(HostUVMap, pointEntries) == 16);
static_assert(offsetof(HostUVMap, pointIndex) == 24);
static_assert(offsetof(HostUVMap, polygonEntryCount) == 32);
static_assert(offsetof(HostUVMap, polygonEntries) == 40);
static_assert(offsetof(HostUVMap, polygonUV) == 48);
static_assert(sizeof(HostUVMap) == 56);

// The bounding box the host keeps at geometry offset 120 (its layout is the host's).
struct HostBoundingBox {
    double min[3];
    double max[3];
};

// One undirected edge of the host's edge list (point indices, a < b).
struct HostEdge {
    int32_t a, b;
};

// One polygon normal of the host's normal list.
struct HostNormal {
    double x, y, z;
};

constexpr uint64_t kHostGeometrySize = 1584;

struct HostGeometry {
    HostPoint** points;          // 0
    HostPolygon** polygons;      // 8
    uint8_t reserved16[24];
    HostSurface* surfaceList;    // 40
    HostSurface** surfaceArray;  // 48
    uint8_t reserved56[12];
    int32_t uvMapCount;          // 68
    HostUVMap** uvMaps;          // 72
    uint8_t reserved80[16];
    int32_t polygonCount;        // 96
    int32_t polygonCount2;       // 100
    uint8_t reserved104[8];
    int32_t surfaceCount;        // 112
    int32_t pointCount;          // 116
    HostBoundingBox box;         // 120: filled by FX_BoundingBoxGet
    // The host's own fields (the module never reads them).
    HostEdge* edges;             // 168: FX_EdgeListCreate
    int32_t edgeCount;           // 176
    uint8_t reserved180[4];
    HostNormal* normals;         // 184: FX_NormalInit, one per polygon
    int32_t normalCount;         // 192
    uint8_t reserved196[kHostGeometrySize - 196];
};
static_assert(offsetof(HostGeometry, polygons) == 8);
static_assert(offsetof(HostGeometry, surfaceList) == 40);
static_assert(offsetof(HostGeometry, surfaceArray) == 48);
static_assert(offsetof(HostGeometry, uvMapCount) == 68);
static_assert(offsetof(HostGeometry, uvMaps) == 72);
static_assert(offsetof(HostGeometry, polygonCount) == 96);
static_assert(offsetof(HostGeometry, polygonCount2) == 100);
static_assert(offsetof(HostGeometry, surfaceCount) == 112);
static_assert(offsetof(HostGeometry, pointCount) == 116);
static_assert(offsetof(HostGeometry, box) == 120);
static_assert(sizeof(HostGeometry) == kHostGeometrySize);

struct HostObject {
    uint8_t reserved0[84];
    uint32_t loaded;             // 84: 1 after a successful load
    uint8_t reserved88[8];
    char* path;                  // 96: host block (the stand-in host keeps the source path here)
    char* fileName;              // 104: host block (the file name with extension)
    char* name;                  // 112: the object's name
    void* block120;              // 120: released when the geometry is replaced
    uint8_t reserved128[13424 - 128];
    HostGeometry* geometry;      // 13424
    uint8_t reserved13432[14856 - 13432];
    uint64_t hostValue;          // 14856
    uint8_t reserved14864[14880 - 14864];
    uint32_t flags;              // 14880
    uint8_t reserved14884[4];
};
static_assert(offsetof(HostObject, loaded) == 84);
static_assert(offsetof(HostObject, path) == 96);
static_assert(offsetof(HostObject, fileName) == 104);
static_assert(offsetof(HostObject, name) == 112);
static_assert(offsetof(HostObject, block120) == 120);
static_assert(offsetof(HostObject, geometry) == 13424);
static_assert(offsetof(HostObject, hostValue) == 14856);
static_assert(offsetof(HostObject, flags) == 14880);
static_assert(sizeof(HostObject) == 14888);

// ---- Load flags and save flags --------------------------------------------------

constexpr uint32_t kLoadNewObject = 0x01;
constexpr uint32_t kLoadReplaceGeometry = 0x02;
constexpr uint32_t kLoadPointsOnly = 0x04;
constexpr uint32_t kLoadKeepName = 0x08;
constexpr uint32_t kLoadNameFromOldObject = 0x10;
constexpr uint32_t kLoadKeepSurfaces = 0x20;

constexpr uint32_t kSaveUseThirdPosition = 0x02;

// The names the module exports.
constexpr const char* kImportServersSymbol = "FileImportServers";
constexpr const char* kExportServersSymbol = "FileExportServers";
