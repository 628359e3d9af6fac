// The stand-in host: our own implementation of the host side of the plug-in
// interface (HostCore, the "ms" message table, the host functions the module
// looks up by name, and the host records), plus a small API for tests and
// tools to load the module, drive its servers and inspect the result.
//
// The host is one process-wide instance (the host functions are plain C
// function pointers without context), used from one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/host_interface.h"

namespace standin {

// ---- The module and its servers ----------------------------------------------------

struct Server {
    std::string initName;   // e.g. "ObjectInitWavefront"
    bool isImport = false;
    ServerRecord* record = nullptr;  // owned by the host
    int32_t initResult = 0;
};

// Loads the module as the host does (dlopen / LoadLibrary, the two name arrays,
// every init function with its own zeroed server record). False with a reason
// in `error` when the library or one of its names cannot be found.
bool LoadModule(const std::string& path, std::string* error);
// Releases the server records and the library.
void UnloadModule();
// The path of the built module next to the running program (build/bin).
std::string DefaultModulePath();

const std::vector<Server>& Servers();
// The import (or export) server registered for an extension such as "obj".
const Server* FindServer(bool import, const std::string& extension);

struct RegisteredExtension {
    ServerRecord* record;
    std::string extension;
    std::string description;
};
// Extensions currently registered through AddFileExtension (and not removed).
std::vector<RegisteredExtension> RegisteredExtensions();

// ---- Driving the servers ------------------------------------------------------------

int32_t CheckFile(const Server& server, const std::string& path);
// Calls the server's load callback with the slot; `hostValue` is stored in the object.
int32_t LoadFile(const Server& server, HostObject** slot, const std::string& path, uint32_t loadFlags,
                 uint32_t pointDataSize = 0, uint64_t hostValue = 0);
int32_t SaveObject(const Server& server, HostObject* object, const std::string& path, uint32_t saveFlags = 0);
// Destroys an object the way the host does: the module's free callback, then
// every host block the object and its geometry own. Null is ignored.
void DestroyObject(HostObject* object);

// ---- Building objects as the host's own modelling would ------------------------------

struct PointDesc {
    double position[3];   // written to all three position triples
    double position2[3];  // written to the third triple (offset 56) when `hasPosition2`
    bool hasPosition2 = false;
};

struct SurfaceDesc {
    std::string name;
    uint8_t colour[3] = {200, 200, 200};
    float level = 1.0f;
    float shininess = 0.0f;
    float transparency = 0.0f;
    bool smooth = false;
};

struct PolygonDesc {
    std::vector<int32_t> corners;  // point indices
    int32_t surface = 1;           // 1-based
};

struct UVMapDesc {
    std::string name;
    // One (u, v) per corner of every polygon, indexed [polygon][corner];
    // a polygon with no entries has no UVs in this map.
    std::vector<std::vector<std::pair<float, float>>> polygonUVs;
};

struct ObjectDesc {
    std::string name = "object";
    std::vector<PointDesc> points;
    std::vector<SurfaceDesc> surfaces;
    std::vector<PolygonDesc> polygons;
    std::vector<UVMapDesc> uvMaps;
};

// A finished host object (geometry, surfaces with their pointer array, UV maps,
// bounding box, edges and normals). Destroy it with DestroyObject.
HostObject* BuildObject(const ObjectDesc& desc);

// ---- Inspection and fault injection for tests -----------------------------------------

HostCore* Core();
// The naming-preferences record every server record points at.
HostNamingPrefs& NamingPrefs();

struct HostCall {
    std::string function;
    std::vector<std::string> args;  // texts as given, numbers in decimal, pointers as PointerText gives them
};
// How the call log writes a pointer argument: "null", or the address in hex.
std::string PointerText(const void* pointer);
void ClearCallLog();
// The log is on from the start; programs that load large files switch it off.
void SetCallLogging(bool on);
// The calls of one function, in order.
std::vector<HostCall> CallsOf(const std::string& function);

// Messages shown through the "ms" table, both lines.
const std::vector<std::pair<std::string, std::string>>& Messages();
void ClearMessages();

// Blocks handed out by the allocation slots (3 and 5) and not yet freed.
int64_t LiveBlocks();
// The bytes those blocks were given with.
int64_t LiveBytes();
// The bytes of the host blocks a finished object holds (records, arrays,
// names, edges, normals, UV data). Null answers 0.
int64_t ObjectBytes(HostObject* object);
// Allocations and reallocations made since the process started.
int64_t AllocationCount();
// After FailAllocationAt(n), n >= 1, the nth allocation or reallocation from
// now fails (once); after FailAllocationsFrom(n) it fails and so does every
// later one. 0 switches failing off.
void FailAllocationAt(int64_t n);
void FailAllocationsFrom(int64_t n);

// Host allocations that would bring the host's live blocks past `bytes` are
// refused (0: no limit); the module's own heap is not counted.
void SetMemoryLimit(uint64_t bytes);
// Whether an allocation was refused by the limit since it was set.
bool MemoryLimitReached();

// The module's own heap, through the test flavour of the library; false (or
// -1) when the loaded library has no test hooks.
bool ModuleHeapFailAt(int64_t n);
bool ModuleHeapFailFrom(int64_t n);
int64_t ModuleHeapLiveBlocks();
// Allocations the module's heap has made since the library was loaded.
int64_t ModuleHeapAllocationCount();

}  // namespace standin
