// The scene-to-host builder: host points, polygons and surfaces, UV maps, and
// the welding of identical points of a DXF import.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

constexpr int32_t kPolygonArrayStep = 10000;  // the polygons array grows by this many entries
constexpr int32_t kUVEntryStep = 100;         // UV map entry lists grow by this many entries

// The number of points made, or 0 (no points, or out of memory).
int32_t BuildPoints(int32_t count, HostGeometry* geometry, uint32_t pointDataSize);
// The number of polygons made, or 0 (no elements, a corner-less element, or out of memory).
int32_t BuildPolygons(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                      HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra, uint8_t format,
                      uint32_t loadFlags);
// The number of polygons walked, or 0 when the scene has no UV points.
int32_t BuildUVMaps(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                    HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra, uint8_t format);

HostUVMap* UVMapFindOrCreate(HostObject* object, const char* name);
int32_t UVMapAddPolygon(HostObject* object, HostUVMap* map, const uint32_t* points, int32_t pointCount,
                        const uint32_t* uvs, int32_t uvCount, const float* uvPoints, int32_t polygonIndex);
void UVMapFinish(HostObject* object, HostUVMap* map);

// Merges bit-identical points of the scene: 1, or 0 when its work storage
// cannot be had (the scene is then unchanged).
int32_t WeldPoints();
