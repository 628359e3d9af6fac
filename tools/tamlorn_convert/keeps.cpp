// What each format keeps of an object: the note after a conversion, and
// --verify, which compares an object with the one read back from the written
// file. Both look only at the host objects; the module's own rules are not
// worked again here, only the bounds they keep within.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "convert.h"

namespace convert {
namespace {

// Minimum and maximum of the finite coordinates on each axis.
struct Box {
    Triple min{INFINITY, INFINITY, INFINITY};
    Triple max{-INFINITY, -INFINITY, -INFINITY};

    void Add(const HostPoint& point) {
        for (int axis = 0; axis < 3; ++axis) {
            const double v = point.position1[axis];
            if (!std::isfinite(v)) continue;
            min[axis] = std::min(min[axis], v);
            max[axis] = std::max(max[axis], v);
        }
    }
};

// The facts of an object that the formats' promises speak of.
struct Shape {
    int64_t points = 0;
    std::vector<int32_t> faceCorners;  // per face, in order
    int64_t lines = 0;
    int64_t degenerateLines = 0;       // both ends on one point
    int64_t dots = 0;
    int64_t triangleBound = 0;         // n - 2 for each face of n corners
    int64_t solidTriangles = 0;        // faces of 3 corners with a normal (an area)
    Box faceBox;                       // the points faces use
    Box usedBox;                       // the points any element uses
};

template <typename Visit>
void ForEachPolygon(const HostObject& object, Visit visit) {
    const HostGeometry* geometry = object.geometry;
    for (int32_t i = 0; geometry && geometry->polygons && i < geometry->polygonCount; ++i) visit(*geometry->polygons[i], i);
}

// The host's normal of a polygon is of length 1, or 0 when it has no area.
bool HasNormal(const HostGeometry& geometry, int32_t index) {
    if (!geometry.normals || index >= geometry.normalCount) return false;
    const HostNormal& n = geometry.normals[index];
    return n.x * n.x + n.y * n.y + n.z * n.z > 0.5;
}

Shape ShapeOf(const HostObject& object) {
    Shape shape;
    shape.points = object.geometry ? object.geometry->pointCount : 0;
    ForEachPolygon(object, [&](const HostPolygon& polygon, int32_t index) {
        const int32_t n = polygon.cornerCount;
        shape.solidTriangles += n == 3 && HasNormal(*object.geometry, index);
        for (int32_t k = 0; k < n; ++k) {
            shape.usedBox.Add(*polygon.corners[k]->point);
            if (n >= 3) shape.faceBox.Add(*polygon.corners[k]->point);
        }
        if (n >= 3) {
            shape.faceCorners.push_back(n);
            shape.triangleBound += n - 2;
        }
        shape.lines += n == 2;
        shape.degenerateLines += n == 2 && polygon.corners[0]->point == polygon.corners[1]->point;
        shape.dots += n == 1;
    });
    return shape;
}

// Text formats print six decimals of a 32-bit value.
bool Near(double a, double b) { return a == b || std::fabs(a - b) <= 1e-6 + 1e-6 * std::fabs(a); }

// Whether `inner` lies within `outer` (or, when `equal`, matches it) on every axis that has a value.
bool BoxFits(const Box& outer, const Box& inner, bool equal) {
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(outer.min[axis]) || !std::isfinite(inner.min[axis])) {
            if (std::isfinite(outer.min[axis]) != std::isfinite(inner.min[axis]) && equal) return false;
            continue;
        }
        const bool low = Near(outer.min[axis], inner.min[axis]) || (!equal && inner.min[axis] > outer.min[axis]);
        const bool high = Near(outer.max[axis], inner.max[axis]) || (!equal && inner.max[axis] < outer.max[axis]);
        if (!low || !high) return false;
    }
    return true;
}

std::string Count(int64_t count, const char* what) { return std::to_string(count) + " " + what; }

std::string Compared(const char* what, int64_t original, int64_t written) {
    return std::string(what) + ": " + std::to_string(original) + " before, " + std::to_string(written) + " read back";
}

// OBJ keeps every point in its place, every face with its corner count, the
// dots, and the lines (a line whose two ends are one point may join the next
// line when read back).
std::string ObjDifference(const HostObject& original, const HostObject& written, const Shape& a, const Shape& b) {
    if (a.points != b.points) return Compared("points", a.points, b.points);
    for (int64_t i = 0; i < a.points; ++i) {
        const HostPoint& p = *original.geometry->points[i];
        const HostPoint& q = *written.geometry->points[i];
        for (int axis = 0; axis < 3; ++axis) {
            const double u = p.position1[axis], v = q.position1[axis];
            if (!Near(u, v) && !(std::isnan(u) && std::isnan(v))) return "point " + std::to_string(i) + " moved";
        }
    }
    if (a.faceCorners.size() != b.faceCorners.size()) {
        return Compared("faces", static_cast<int64_t>(a.faceCorners.size()), static_cast<int64_t>(b.faceCorners.size()));
    }
    for (size_t i = 0; i < a.faceCorners.size(); ++i) {
        if (a.faceCorners[i] != b.faceCorners[i]) return "face " + std::to_string(i) + " has another corner count";
    }
    if (b.lines > a.lines || b.lines < a.lines - a.degenerateLines) return Compared("lines", a.lines, b.lines);
    if (a.dots != b.dots) return Compared("dots", a.dots, b.dots);
    if (!BoxFits(a.usedBox, b.usedBox, true)) return "the bounding box of the used points differs";
    return {};
}

// 3D Studio and DXF keep at most n - 2 triangles of a face of n corners, and
// every triangle with an area; when they kept n - 2, every corner of every
// face is used again.
std::string TriangleDifference(const Shape& a, const Shape& b, const Box& kept) {
    for (const int32_t corners : b.faceCorners) {
        if (corners != 3) return "a face read back has " + std::to_string(corners) + " corners, not 3";
    }
    const auto triangles = static_cast<int64_t>(b.faceCorners.size());
    if (triangles > a.triangleBound) return Compared("triangles (at most)", a.triangleBound, triangles);
    if (triangles < a.solidTriangles) return Compared("triangles (at least)", a.solidTriangles, triangles);
    if (!BoxFits(kept, b.usedBox, triangles == a.triangleBound)) {
        return "the bounding box of the used points differs";
    }
    return {};
}

bool IsDefaultColour(const HostSurface& surface) {
    return surface.colour[0] == 200 && surface.colour[1] == 200 && surface.colour[2] == 200;
}

template <typename Test>
bool AnySurface(const HostObject& object, Test test) {
    for (const HostSurface* s = object.geometry ? object.geometry->surfaceList : nullptr; s; s = s->next) {
        if (test(*s)) return true;
    }
    return false;
}

bool HasTextureCoordinates(const HostObject& object) {
    const HostGeometry* geometry = object.geometry;
    for (int32_t i = 0; geometry && geometry->uvMaps && i < geometry->uvMapCount; ++i) {
        if (geometry->uvMaps[i]->polygonEntryCount > 0 || geometry->uvMaps[i]->pointEntryCount > 0) return true;
    }
    return false;
}

// Two used points at one place: reading DXF welds them.
bool HasPointsAtOnePlace(const HostObject& object) {
    std::set<std::array<double, 3>> places;
    std::set<const HostPoint*> seen;
    bool shared = false;
    ForEachPolygon(object, [&](const HostPolygon& polygon, int32_t) {
        for (int32_t k = 0; k < polygon.cornerCount && !shared; ++k) {
            const HostPoint* point = polygon.corners[k]->point;
            if (!seen.insert(point).second) continue;
            shared = !places.insert({point->position1[0], point->position1[1], point->position1[2]}).second;
        }
    });
    return shared;
}

int64_t UnusedPoints(const HostObject& object, bool facesOnly) {
    std::set<const HostPoint*> used;
    ForEachPolygon(object, [&](const HostPolygon& polygon, int32_t) {
        if (facesOnly && polygon.cornerCount < 3) return;
        for (int32_t k = 0; k < polygon.cornerCount; ++k) used.insert(polygon.corners[k]->point);
    });
    return (object.geometry ? object.geometry->pointCount : 0) - static_cast<int64_t>(used.size());
}

constexpr size_t k3DSObjectNameLength = 10;

bool ChangesIn3DS(const HostSurface& surface) {
    const std::string_view name = surface.name ? surface.name : "";
    bool lower = false;
    for (const char c : name) lower = lower || std::islower(static_cast<unsigned char>(c));
    return lower || name.size() > k3DSObjectNameLength;
}

}  // namespace

std::string NotKept(const HostObject& object, const Format& to) {
    const std::string_view format = to.extension;
    const Shape shape = ShapeOf(object);
    std::vector<std::string> lost;
    if (format != "obj" && HasTextureCoordinates(object)) lost.emplace_back("texture coordinates");
    if (format == "obj" && object.geometry && object.geometry->uvMapCount > 1) {
        lost.emplace_back("texture coordinates past the first UV map");
    }
    if (format != "3ds" && AnySurface(object, [](const HostSurface& s) { return !IsDefaultColour(s); })) {
        lost.emplace_back("surface colours");
    }
    if (format == "3ds" && shape.lines) lost.push_back(Count(shape.lines, "lines"));
    if (format == "3ds" && shape.dots) lost.push_back(Count(shape.dots, "dots"));
    if (format != "obj") {
        if (const int64_t unused = UnusedPoints(object, format == "3ds")) lost.push_back(Count(unused, "unused points"));
        const bool polygons = std::any_of(shape.faceCorners.begin(), shape.faceCorners.end(), [](int32_t n) { return n > 3; });
        if (polygons) lost.emplace_back("polygons of more than 3 corners (cut into triangles)");
    }
    if (format == "3ds" && AnySurface(object, ChangesIn3DS)) lost.emplace_back("names in lower case or past 10 characters");
    if (format == "dxf" && HasPointsAtOnePlace(object)) lost.emplace_back("separate points at one place (welded)");
    if (lost.empty()) return {};
    std::string text = std::string(to.title) + " does not keep: ";
    for (size_t i = 0; i < lost.size(); ++i) text += (i ? ", " : "") + lost[i];
    return text;
}

Outcome Verify(const HostObject& original, const HostObject& written, const Format& to, const std::string& shownAs) {
    const Shape a = ShapeOf(original);
    const Shape b = ShapeOf(written);
    const std::string_view format = to.extension;
    std::string difference;
    if (format == "obj") {
        difference = ObjDifference(original, written, a, b);
    } else if (format == "3ds") {
        difference = b.lines || b.dots ? Compared("lines and dots", 0, b.lines + b.dots) : TriangleDifference(a, b, a.faceBox);
    } else if (a.lines != b.lines) {
        difference = Compared("lines", a.lines, b.lines);
    } else if (a.dots != b.dots) {
        difference = Compared("dots", a.dots, b.dots);
    } else {
        difference = TriangleDifference(a, b, a.usedBox);
    }
    if (difference.empty()) return Outcome::Done();
    return {kExitVerifyFailed, shownAs, "verification failed: " + difference};
}

}  // namespace convert
