// The host functions a module looks up by name, and the registry that answers
// the lookup. Every call is logged with its arguments before it acts.
#include <cstring>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "host_internal.h"

namespace standin {
namespace {

using detail::LogCall;
using detail::Number;
using detail::Text;

std::vector<RegisteredExtension> g_extensions;

bool IsLegalNameCharacter(unsigned char c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    return letter || digit || c == '_' || c == '-' || c == '.';
}

// ---- Server registration -----------------------------------------------------------

int32_t AddFileExtension(ServerRecord* record, const char* extension, const char* description) {
    LogCall("AddFileExtension", record, extension, description);
    if (!record || !extension) return 0;
    g_extensions.push_back({record, extension, Text(description)});
    return 1;
}

int32_t RemoveFileExtensions(ServerRecord* record) {
    LogCall("RemoveFileExtensions", record);
    return detail::DropExtensions(record);
}

// ---- Surfaces ----------------------------------------------------------------------

// The stand-in host attaches no data instances to surfaces: nothing to free.
int32_t fxDataInstanceFreeAll(HostSurface* surface) {
    LogCall("fxDataInstanceFreeAll", surface);
    return 0;
}

int32_t ClearList(void* list) {
    LogCall("ClearList", list);
    if (!list) return 0;
    detail::ClearHostList(static_cast<HostList*>(list));
    return 1;
}

int32_t FX_SurfaceCreate(HostObject* object, const char* name) {
    LogCall("FX_SurfaceCreate", object, name);
    if (!object || !object->geometry || !name) return 0;
    return detail::AppendSurface(object->geometry, name) ? 1 : 0;
}

int32_t FX_SurfaceSetDefault(HostSurface* surface) {
    LogCall("FX_SurfaceSetDefault", surface);
    if (!surface) return 0;
    detail::SetSurfaceDefaults(surface);
    return 1;
}

// ---- Objects -------------------------------------------------------------------------

constexpr const char* kNewObjectName = "Unnamed";

int32_t FX_ObjectAdd(HostObject** slot, int32_t kind) {
    LogCall("FX_ObjectAdd", slot, kind);
    if (!slot) return 0;
    auto* object = static_cast<HostObject*>(detail::Alloc(1, sizeof(HostObject)));
    if (!object) return 0;
    object->name = detail::CopyText(kNewObjectName);
    if (!object->name) {
        detail::Free(object);
        return 0;
    }
    *slot = object;
    return 1;
}

int32_t NotifyModes(int32_t scope, HostObject* object, int32_t what, uint32_t mask) {
    LogCall("NotifyModes", scope, object, what, mask);
    return 1;
}

int32_t NotifyObject(int32_t scope, HostObject* object, int32_t what, uint32_t mask) {
    LogCall("NotifyObject", scope, object, what, mask);
    return 1;
}

int32_t FreeGeometryOf(HostObject** slot, bool keepSurfaces) {
    if (!slot || !*slot || !(*slot)->geometry) return 0;
    detail::FreeGeometryContents((*slot)->geometry, keepSurfaces);
    return 1;
}

int32_t FX_FreeObjectGeometryOnly(HostObject** slot) {
    LogCall("FX_FreeObjectGeometryOnly", slot);
    return FreeGeometryOf(slot, false);
}

int32_t FX_FreeObjectGeometryOnlyKeepSurfaces(HostObject** slot) {
    LogCall("FX_FreeObjectGeometryOnlyKeepSurfaces", slot);
    return FreeGeometryOf(slot, true);
}

int32_t FX_ObjectRenamePath(HostObject* object, const char* path) {
    LogCall("FX_ObjectRenamePath", object, path);
    return object && path && detail::ReplaceText(object->path, path) ? 1 : 0;
}

int32_t FX_ObjectRename(HostObject* object, const char* name) {
    LogCall("FX_ObjectRename", object, name);
    return object && name && detail::ReplaceText(object->name, name) ? 1 : 0;
}

int32_t FX_ObjectRenameFile(HostObject* object, const char* fileName) {
    LogCall("FX_ObjectRenameFile", object, fileName);
    return object && fileName && detail::ReplaceText(object->fileName, fileName) ? 1 : 0;
}

// The stand-in host has one user and no locks: marking an object is logged only.
int32_t FX_ExclusiveAllocate(HostObject* object) {
    LogCall("FX_ExclusiveAllocate", object);
    return 1;
}

// ---- Names -----------------------------------------------------------------------------

int32_t StripExtension(char* name) {
    LogCall("StripExtension", name);
    if (!name) return 0;
    char* dot = std::strrchr(name, '.');
    // A leading dot (".hidden") names the file; it is no extension.
    if (!dot || dot == name) return 0;
    *dot = '\0';
    return 1;
}

int32_t FX_StringMakeLegalName(char* name) {
    LogCall("FX_StringMakeLegalName", name);
    if (!name) return 0;
    for (char* c = name; *c; ++c) {
        if (!IsLegalNameCharacter(static_cast<unsigned char>(*c))) *c = '_';
    }
    return 1;
}

int32_t SpacesToUnderScores(char* name) {
    LogCall("SpacesToUnderScores", name);
    if (!name) return 0;
    for (char* c = name; *c; ++c) {
        if (*c == ' ') *c = '_';
    }
    return 1;
}

// ---- Geometry --------------------------------------------------------------------------

int32_t FX_GeometrySetType(uint16_t* typeField, int32_t type) {
    LogCall("FX_GeometrySetType", typeField, type);
    if (!typeField) return 0;
    *typeField = static_cast<uint16_t>(type);
    return 1;
}

int32_t FX_BoundingBoxGet(void* const* points, int32_t count, void* box) {
    LogCall("FX_BoundingBoxGet", points, count, box);
    if (!box) return 0;
    detail::ComputeBoundingBox(reinterpret_cast<HostPoint* const*>(points), count, static_cast<HostBoundingBox*>(box));
    return 1;
}

int32_t FX_EdgeListCreate(HostObject* object) {
    LogCall("FX_EdgeListCreate", object);
    return object && object->geometry && detail::CreateEdgeList(object->geometry) ? 1 : 0;
}

int32_t FX_NormalInit(HostObject* object, int32_t mode) {
    LogCall("FX_NormalInit", object, mode);
    return object && object->geometry && detail::CreateNormals(object->geometry) ? 1 : 0;
}

int32_t CreateDCUVPolys(HostObject* object, int32_t mapIndex) {
    LogCall("CreateDCUVPolys", object, mapIndex);
    return object && object->geometry && detail::CreateUVPolygons(object->geometry, mapIndex) ? 1 : 0;
}

template <typename Fn>
void* Address(Fn function) {
    return reinterpret_cast<void*>(function);
}

const std::unordered_map<std::string_view, void*>& Symbols() {
    static const std::unordered_map<std::string_view, void*> symbols = {
        {"AddFileExtension", Address(AddFileExtension)},
        {"RemoveFileExtensions", Address(RemoveFileExtensions)},
        {"fxDataInstanceFreeAll", Address(fxDataInstanceFreeAll)},
        {"ClearList", Address(ClearList)},
        {"FX_ObjectAdd", Address(FX_ObjectAdd)},
        {"NotifyModes", Address(NotifyModes)},
        {"NotifyObject", Address(NotifyObject)},
        {"FX_FreeObjectGeometryOnly", Address(FX_FreeObjectGeometryOnly)},
        {"FX_FreeObjectGeometryOnlyKeepSurfaces", Address(FX_FreeObjectGeometryOnlyKeepSurfaces)},
        {"FX_ObjectRenamePath", Address(FX_ObjectRenamePath)},
        {"StripExtension", Address(StripExtension)},
        {"FX_StringMakeLegalName", Address(FX_StringMakeLegalName)},
        {"SpacesToUnderScores", Address(SpacesToUnderScores)},
        {"FX_ObjectRename", Address(FX_ObjectRename)},
        {"FX_ObjectRenameFile", Address(FX_ObjectRenameFile)},
        {"FX_ExclusiveAllocate", Address(FX_ExclusiveAllocate)},
        {"FX_BoundingBoxGet", Address(FX_BoundingBoxGet)},
        {"FX_SurfaceCreate", Address(FX_SurfaceCreate)},
        {"FX_EdgeListCreate", Address(FX_EdgeListCreate)},
        {"FX_NormalInit", Address(FX_NormalInit)},
        {"FX_SurfaceSetDefault", Address(FX_SurfaceSetDefault)},
        {"FX_GeometrySetType", Address(FX_GeometrySetType)},
        {"CreateDCUVPolys", Address(CreateDCUVPolys)},
        {"ms", detail::MessageTable()},
    };
    return symbols;
}

// Keeps every function above in the exact shape the module calls it with.
static_assert(std::is_same_v<decltype(&AddFileExtension), AddFileExtensionFn>);
static_assert(std::is_same_v<decltype(&RemoveFileExtensions), RemoveFileExtensionsFn>);
static_assert(std::is_same_v<decltype(&fxDataInstanceFreeAll), FxDataInstanceFreeAllFn>);
static_assert(std::is_same_v<decltype(&ClearList), ClearListFn>);
static_assert(std::is_same_v<decltype(&FX_ObjectAdd), FxObjectAddFn>);
static_assert(std::is_same_v<decltype(&NotifyModes), NotifyFn>);
static_assert(std::is_same_v<decltype(&NotifyObject), NotifyFn>);
static_assert(std::is_same_v<decltype(&FX_FreeObjectGeometryOnly), FxObjectSlotFn>);
static_assert(std::is_same_v<decltype(&FX_FreeObjectGeometryOnlyKeepSurfaces), FxObjectSlotFn>);
static_assert(std::is_same_v<decltype(&FX_ObjectRenamePath), FxObjectTextFn>);
static_assert(std::is_same_v<decltype(&StripExtension), NameEditFn>);
static_assert(std::is_same_v<decltype(&FX_StringMakeLegalName), NameEditFn>);
static_assert(std::is_same_v<decltype(&SpacesToUnderScores), NameEditFn>);
static_assert(std::is_same_v<decltype(&FX_ObjectRename), FxObjectTextFn>);
static_assert(std::is_same_v<decltype(&FX_ObjectRenameFile), FxObjectTextFn>);
static_assert(std::is_same_v<decltype(&FX_ExclusiveAllocate), FxObjectFn>);
static_assert(std::is_same_v<decltype(&FX_BoundingBoxGet), FxBoundingBoxGetFn>);
static_assert(std::is_same_v<decltype(&FX_SurfaceCreate), FxObjectTextFn>);
static_assert(std::is_same_v<decltype(&FX_EdgeListCreate), FxObjectFn>);
static_assert(std::is_same_v<decltype(&FX_NormalInit), FxNormalInitFn>);
static_assert(std::is_same_v<decltype(&FX_SurfaceSetDefault), FxSurfaceSetDefaultFn>);
static_assert(std::is_same_v<decltype(&FX_GeometrySetType), FxGeometrySetTypeFn>);
static_assert(std::is_same_v<decltype(&CreateDCUVPolys), CreateDCUVPolysFn>);

}  // namespace

void* detail::LookupHostSymbol(const char* name) {
    if (!name) return nullptr;
    const auto found = Symbols().find(name);
    return found == Symbols().end() ? nullptr : found->second;
}

int32_t detail::DropExtensions(const ServerRecord* record) {
    const auto removed = std::erase_if(g_extensions, [record](const auto& entry) { return entry.record == record; });
    return static_cast<int32_t>(removed);
}

std::vector<RegisteredExtension> RegisteredExtensions() { return g_extensions; }

}  // namespace standin
