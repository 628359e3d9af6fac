// 3D Studio writer: every surface of the export scene as one material and one
// named triangle mesh.
#pragma once

#include <cstdint>

constexpr int32_t kTdsPointLimit = 65532;        // the scene must hold fewer points
constexpr uint32_t kTdsMeshFaceLimit = 65535;    // triangles per mesh (a u16 count)
constexpr int32_t kTdsMaterialNameMax = 15;      // characters of a material name
constexpr int32_t kTdsObjectNameMax = 10;        // characters of an object name

// One named object's name, by surface.
struct ObjectNameEntry {
    uint32_t surface;  // 0-based surface index
    char name[kTdsObjectNameMax + 1];
};

// 1 = file written; 0 = failure, and no file of this write is left. The name is not used.
int32_t Write3DS(const char* path, const char* name);
// The scene's surface names made 3D Studio material names: upper case, an
// "OBJECTnnnn " prefix removed, at most 15 characters, duplicates numbered.
void SceneMakeSurfaceNames3DS();
// Fills `table` (SurfaceCount entries) with unique object names of at most 10
// characters; entry i belongs to surface i.
void Build3DSObjectNames(ObjectNameEntry* table);
