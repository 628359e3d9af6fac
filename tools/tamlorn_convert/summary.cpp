// The summary of a host object (--info, as text or JSON) and the lines of a
// --report file.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "convert.h"

namespace convert {
namespace {

std::optional<std::string> TextOf(const char* text) {
    if (!text) return std::nullopt;
    return std::string(text);
}

int64_t CountOf(int32_t count) { return count < 0 ? 0 : count; }

// The place of each point and polygon record in the object's arrays.
struct RecordIndex {
    std::unordered_map<const HostPoint*, int64_t> points;
    std::unordered_map<const HostPolygon*, int64_t> polygons;

    template <typename Record>
    static int64_t Find(const std::unordered_map<const Record*, int64_t>& index, const Record* record) {
        const auto found = index.find(record);
        return found == index.end() ? -1 : found->second;
    }
};

void SummarisePolygons(const HostGeometry& geometry, const RecordIndex& index, bool full, ObjectSummary& summary) {
    std::unordered_map<int32_t, int64_t> polygonsPerSurface;
    for (int64_t i = 0; i < summary.polygons && geometry.polygons; ++i) {
        const HostPolygon* polygon = geometry.polygons[i];
        const int64_t corners = CountOf(polygon->cornerCount);
        summary.faces += corners >= 3;
        summary.lines += corners == 2;
        summary.dots += corners == 1;
        ++polygonsPerSurface[polygon->surface];
        if (!full) continue;
        PolygonSummary entry;
        entry.surface = polygon->surface;
        for (int64_t k = 0; k < corners && polygon->corners; ++k) {
            const HostPolygonVertex* corner = polygon->corners[k];
            entry.corners.push_back(RecordIndex::Find(index.points, corner ? corner->point : nullptr));
        }
        summary.polygonList.push_back(std::move(entry));
    }
    // A polygon's surface number is the 1-based place of its surface in the list.
    int32_t number = 1;
    for (const HostSurface* surface = geometry.surfaceList; surface; surface = surface->next, ++number) {
        SurfaceSummary entry;
        entry.name = TextOf(surface->name);
        std::copy(std::begin(surface->colour), std::end(surface->colour), entry.colour.begin());
        entry.level = surface->level;
        const auto found = polygonsPerSurface.find(number);
        entry.polygons = found == polygonsPerSurface.end() ? 0 : found->second;
        summary.surfaces.push_back(std::move(entry));
    }
}

}  // namespace

ObjectSummary Summarise(const std::string& file, const Format& format, const HostObject& object, bool full) {
    ObjectSummary summary;
    summary.file = file;
    summary.format = format;
    summary.name = TextOf(object.name);
    const HostGeometry* geometry = object.geometry;
    if (!geometry) return summary;
    summary.points = CountOf(geometry->pointCount);
    summary.polygons = CountOf(geometry->polygonCount);
    RecordIndex index;
    for (int64_t i = 0; full && i < summary.points && geometry->points; ++i) {
        const double* position = geometry->points[i]->position1;
        summary.positions.push_back({position[0], position[1], position[2]});
        index.points.emplace(geometry->points[i], i);
    }
    for (int64_t i = 0; full && i < summary.polygons && geometry->polygons; ++i) index.polygons.emplace(geometry->polygons[i], i);
    SummarisePolygons(*geometry, index, full, summary);
    for (int32_t i = 0; i < geometry->uvMapCount && geometry->uvMaps; ++i) {
        const HostUVMap* map = geometry->uvMaps[i];
        UVMapSummary entry{TextOf(map->name), map->pointEntryCount, map->polygonEntryCount, {}, {}};
        for (int32_t k = 0; full && k < map->pointEntryCount && map->pointEntries; ++k) {
            const UVMapPointEntry& e = map->pointEntries[k];
            entry.pointList.push_back({-1, RecordIndex::Find(index.points, e.point), e.u, e.v});
        }
        for (int32_t k = 0; full && k < map->polygonEntryCount && map->polygonEntries; ++k) {
            const UVMapPolygonEntry& e = map->polygonEntries[k];
            entry.polygonList.push_back({RecordIndex::Find(index.polygons, e.polygon),
                                         RecordIndex::Find(index.points, e.point), e.u, e.v});
        }
        summary.uvMaps.push_back(std::move(entry));
    }
    std::copy(std::begin(geometry->box.min), std::end(geometry->box.min), summary.boxMin.begin());
    std::copy(std::begin(geometry->box.max), std::end(geometry->box.max), summary.boxMax.begin());
    return summary;
}

// ---- Number and text formatting -------------------------------------------------------

namespace {

// The shortest text that reads back to the same value; JSON has no NaN or
// infinity, so there a non-finite value is null.
template <typename Real>
std::string RealText(Real value, bool json) {
    if (json && !std::isfinite(value)) return "null";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string TripleText(const Triple& triple, bool json) {
    std::string text = json ? "[" : "(";
    for (size_t i = 0; i < triple.size(); ++i) {
        if (i) text += ", ";
        text += RealText(triple[i], json);
    }
    return text + (json ? "]" : ")");
}

// Length of the well-formed UTF-8 sequence at `i`, 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const size_t length = Utf8SequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            // A byte that is not UTF-8 (a file name in a legacy encoding) is
            // taken as Latin-1, so that the output stays valid and lossless.
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++i;
        }
    }
    return out + "\"";
}

namespace {

std::string JsonOptionalString(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

std::string JsonCount(const char* key, int64_t value) {
    return "  \"" + std::string(key) + "\": " + std::to_string(value) + ",\n";
}

std::string JsonSurface(const SurfaceSummary& surface) {
    return "{\"name\": " + JsonOptionalString(surface.name) + ", \"colour\": [" + std::to_string(surface.colour[0]) +
           ", " + std::to_string(surface.colour[1]) + ", " + std::to_string(surface.colour[2]) +
           "], \"level\": " + RealText(surface.level, true) + ", \"polygons\": " + std::to_string(surface.polygons) +
           "}";
}

std::string JsonIndex(int64_t index) { return index < 0 ? "null" : std::to_string(index); }

// [point, u, v] for a point entry, [polygon, point, u, v] for a polygon entry.
std::string JsonUVEntries(const std::vector<UVEntry>& entries, bool withPolygon) {
    std::string text = "[";
    for (size_t k = 0; k < entries.size(); ++k) {
        const UVEntry& e = entries[k];
        text += (k ? ", [" : "[") + (withPolygon ? JsonIndex(e.polygon) + ", " : "") + JsonIndex(e.point) + ", " +
                RealText(e.u, true) + ", " + RealText(e.v, true) + "]";
    }
    return text + "]";
}

std::string JsonUVMap(const UVMapSummary& map, bool full) {
    std::string text = "{\"name\": " + JsonOptionalString(map.name) +
                       ", \"point_entries\": " + std::to_string(map.pointEntries) +
                       ", \"polygon_entries\": " + std::to_string(map.polygonEntries);
    if (full) {
        text += ", \"point_list\": " + JsonUVEntries(map.pointList, false) +
                ", \"polygon_list\": " + JsonUVEntries(map.polygonList, true);
    }
    return text + "}";
}

std::string JsonPolygon(const PolygonSummary& polygon) {
    std::string text = "{\"corners\": [";
    for (size_t k = 0; k < polygon.corners.size(); ++k) {
        if (k) text += ", ";
        text += polygon.corners[k] < 0 ? "null" : std::to_string(polygon.corners[k]);
    }
    return text + "], \"surface\": " + std::to_string(polygon.surface) + "}";
}

// "key": [ item, item ] with one item per line; `last` leaves out the trailing comma.
template <typename Item, typename Formatter>
std::string JsonList(const char* key, const std::vector<Item>& items, Formatter format, bool last) {
    std::string text = "  \"" + std::string(key) + "\": [";
    for (size_t i = 0; i < items.size(); ++i) text += (i ? ",\n    " : "\n    ") + format(items[i]);
    text += items.empty() ? "]" : "\n  ]";
    return text + (last ? "\n" : ",\n");
}

std::string QuotedName(const std::optional<std::string>& name) { return name ? "\"" + *name + "\"" : "(none)"; }

}  // namespace

std::string JsonSummary(const ObjectSummary& summary, bool full) {
    std::string text = "{\n";
    text += "  \"file\": " + JsonString(summary.file) + ",\n";
    text += "  \"format\": " + JsonString(summary.format.extension) + ",\n";
    text += "  \"name\": " + JsonOptionalString(summary.name) + ",\n";
    text += JsonCount("points", summary.points);
    text += JsonCount("polygons", summary.polygons);
    text += JsonCount("faces", summary.faces);
    text += JsonCount("lines", summary.lines);
    text += JsonCount("dots", summary.dots);
    text += JsonList("surfaces", summary.surfaces, JsonSurface, false);
    text += JsonList("uv_maps", summary.uvMaps, [full](const UVMapSummary& map) { return JsonUVMap(map, full); }, false);
    text += "  \"bounding_box\": {\"min\": " + TripleText(summary.boxMin, true) +
            ", \"max\": " + TripleText(summary.boxMax, true) + "}" + (full ? ",\n" : "\n");
    if (full) {
        text += JsonList("positions", summary.positions, [](const Triple& p) { return TripleText(p, true); }, false);
        text += JsonList("polygon_list", summary.polygonList, JsonPolygon, true);
    }
    return text + "}\n";
}

std::string HumanSummary(const ObjectSummary& summary) {
    std::string text;
    text += "file:         " + summary.file + "\n";
    text += "format:       " + std::string(summary.format.title) + "\n";
    text += "name:         " + QuotedName(summary.name) + "\n";
    text += "points:       " + std::to_string(summary.points) + "\n";
    text += "polygons:     " + std::to_string(summary.polygons) + " (" + std::to_string(summary.faces) + " faces, " +
            std::to_string(summary.lines) + " lines, " + std::to_string(summary.dots) + " dots)\n";
    text += "surfaces:     " + std::to_string(summary.surfaces.size()) + "\n";
    for (size_t i = 0; i < summary.surfaces.size(); ++i) {
        const SurfaceSummary& surface = summary.surfaces[i];
        text += "  " + std::to_string(i + 1) + " " + QuotedName(surface.name) + ": colour " +
                std::to_string(surface.colour[0]) + " " + std::to_string(surface.colour[1]) + " " +
                std::to_string(surface.colour[2]) + ", level " + RealText(surface.level, false) + ", " +
                std::to_string(surface.polygons) + " polygons\n";
    }
    text += "uv maps:      " + std::to_string(summary.uvMaps.size()) + "\n";
    for (const UVMapSummary& map : summary.uvMaps) {
        text += "  " + QuotedName(map.name) + ": " + std::to_string(map.pointEntries) + " point entries, " +
                std::to_string(map.polygonEntries) + " polygon entries\n";
    }
    text += "bounding box: " + TripleText(summary.boxMin, false) + " to " + TripleText(summary.boxMax, false) + "\n";
    return text;
}

std::string JsonReportLine(const ReportEntry& entry) {
    const auto optionalText = [](const std::string& text) { return text.empty() ? "null" : JsonString(text); };
    const auto count = [](int64_t value) { return value < 0 ? std::string("null") : std::to_string(value); };
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", entry.seconds);
    return "{\"path\": " + JsonString(entry.path) +
           ", \"format\": " + (entry.format ? JsonString(entry.format->extension) : "null") +
           ", \"output\": " + optionalText(entry.output) + ", \"result\": " + JsonString(entry.result) +
           ", \"exit_code\": " + std::to_string(entry.exitCode) + ", \"reason\": " + optionalText(entry.reason) +
           ", \"points\": " + count(entry.points) + ", \"polygons\": " + count(entry.polygons) +
           ", \"seconds\": " + seconds + "}";
}

// The line goes out in one write to a file opened for appending, so lines of
// converters that share a report do not mix.
bool AppendToReport(const std::string& report, const std::string& line, std::string* error) {
    std::FILE* file = std::fopen(report.c_str(), "ab");
    if (!file) {
        *error = "the report " + report + " cannot be opened";
        return false;
    }
    const std::string text = line + "\n";
    std::setvbuf(file, nullptr, _IOFBF, text.size() + 1);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        *error = "the report " + report + " cannot be written";
        return false;
    }
    return true;
}

}  // namespace convert
