// The host as the module sees it: the HostCore table of the last init, the
// host functions bound by name, and the small helpers every subsystem uses to
// allocate host-owned memory.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

// The host functions the module calls, bound by name at every init.
struct HostApi {
    AddFileExtensionFn AddFileExtension;
    RemoveFileExtensionsFn RemoveFileExtensions;
    FxDataInstanceFreeAllFn fxDataInstanceFreeAll;
    ClearListFn ClearList;
    FxObjectAddFn FX_ObjectAdd;
    NotifyFn NotifyModes;
    NotifyFn NotifyObject;
    FxObjectSlotFn FX_FreeObjectGeometryOnly;
    FxObjectSlotFn FX_FreeObjectGeometryOnlyKeepSurfaces;
    FxObjectTextFn FX_ObjectRenamePath;
    NameEditFn StripExtension;
    NameEditFn FX_StringMakeLegalName;
    NameEditFn SpacesToUnderScores;
    FxObjectTextFn FX_ObjectRename;
    FxObjectTextFn FX_ObjectRenameFile;
    FxObjectFn FX_ExclusiveAllocate;
    FxBoundingBoxGetFn FX_BoundingBoxGet;
    FxObjectTextFn FX_SurfaceCreate;
    FxObjectFn FX_EdgeListCreate;
    FxNormalInitFn FX_NormalInit;
    FxSurfaceSetDefaultFn FX_SurfaceSetDefault;
    FxGeometrySetTypeFn FX_GeometrySetType;
    CreateDCUVPolysFn CreateDCUVPolys;
    HostMessageTable* ms;
};

extern HostCore* g_HostCore;
extern HostApi g_HostApi;
extern HostNamingPrefs* g_NamingPrefs;

// Stores `core` and binds every entry of g_HostApi by name through its lookup
// slot. A name the host does not know binds to null, unchecked.
void HostApiBind(HostCore* core);

// HostCore memory slots. Every caller tests the result. Inline: a load makes
// one call per host record, millions of them.
inline void* HostAlloc(uint64_t count, uint64_t size) { return g_HostCore->alloc(count, size); }
inline void* HostRealloc(void* block, uint64_t newSize) { return g_HostCore->realloc(block, newSize); }
inline void HostFree(void* block) { g_HostCore->free(block); }

// Shows the module's only message: the two-line out-of-memory box.
void HostShowOutOfMemory();

// A host-allocated copy of `text` (its length + 1 bytes), or null (message shown).
char* HostCopyText(const char* text);
