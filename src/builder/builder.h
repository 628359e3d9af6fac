// The scene-to-host builder: host points, polygons and surfaces, UV maps, and
// the welding of identical points of a DXF import.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"
#include "scene/import_driver.h"

constexpr int32_t kPolygonArrayStep = 10000;  // the polygons array grows by this many entries
constexpr int32_t kUVEntryStep = 100;         // UV map entry lists grow by this many entries

// The points made (0: no points, or out of memory).
BuildResult BuildPoints(int32_t count, HostGeometry* geometry, uint32_t pointDataSize);
// The polygons made (0: no elements, a corner-less element, or out of memory).
BuildResult BuildPolygons(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                      HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra, uint8_t format,
                      uint32_t loadFlags);
// The polygons walked (0: no UV points, or out of memory).
BuildResult BuildUVMaps(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                    HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra, uint8_t format);

HostUVMap* UVMapFindOrCreate(HostObject* object, const char* name);
// 1, or 0 when memory runs out. A polygon or point that was never made gets no entries.
int32_t UVMapAddPolygon(HostObject* object, HostUVMap* map, const uint32_t* points, int32_t pointCount,
                        const uint32_t* uvs, int32_t uvCount, const float* uvPoints, int32_t polygonIndex);
void UVMapFinish(HostObject* object, HostUVMap* map);

// Merges bit-identical points of the scene: 1, or 0 when its work storage
// cannot be had (the scene is then unchanged).
int32_t WeldPoints();
// WeldPoints with its hash table's budget of collisions per point, past
// which it sorts instead (a test reaches the sort with 0).
constexpr uint64_t kWeldProbesPerPoint = 16;
int32_t WeldPointsWithProbeBudget(uint64_t probesPerPoint);
