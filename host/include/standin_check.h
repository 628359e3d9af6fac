// What the host relies on in every object a load hands it: checked by the
// fuzz targets and by the tests that damage files or fail allocations.
#pragma once

#include <string>

#include "frame/host_interface.h"

namespace standin {

// The first broken rule of a loaded object, or the empty text when it is
// whole: points indexed in their places; polygons indexed, with 1 to 4000
// corners, each corner one of the object's points in its place; the polygon
// count fields equal; surfaces listed as many as counted, the surface array
// following the list, every polygon's surface in range (unless `pointsOnly`:
// then no polygons and no surfaces); every UV map's entries on the object's
// points and polygons.
std::string ObjectProblem(const HostObject& object, bool pointsOnly = false);

}  // namespace standin
