// tamlorn-convert: loads a model file through the module's import servers, the
// way the host does, and reports what the host object holds afterwards, or
// saves it again through an export server.
//
//   tamlorn-convert --info [--json [--full]] [--module PATH] INPUT
//   tamlorn-convert [--module PATH] INPUT OUTPUT
//   tamlorn-convert --check [--module PATH] INPUT
//
// The module is reached only through the stand-in host's API; which server
// loads the file is decided by content, in the module's own detection order,
// and which saves it by OUTPUT's extension.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "frame/host_interface.h"
#include "standin_host.h"

namespace {

constexpr const char* kProgram = "tamlorn-convert";

enum ExitCode : int {
    kExitLoaded = 0,
    kExitUsage = 1,
    kExitUnreadable = 2,
    kExitNotRecognised = 3,
    kExitLoadFailed = 4,
    kExitSaveFailed = 5,
};

constexpr const char* kUsageLine =
    "usage: tamlorn-convert --info [--json [--full]] [--module PATH] INPUT\n"
    "       tamlorn-convert [--module PATH] INPUT OUTPUT\n"
    "       tamlorn-convert --check [--module PATH] INPUT";

constexpr const char* kHelpText =
    "Loads INPUT through the module's import servers, as the host does, and\n"
    "prints a summary of the object it makes, or saves it as OUTPUT through the\n"
    "export server of OUTPUT's extension (.obj, .3ds or .dxf, any letter case).\n"
    "The input format (Wavefront OBJ, 3D Studio or DXF) is recognised by\n"
    "content, whatever the file's extension. OUTPUT is written in a private\n"
    "folder beside it and then put in place, so a failed save leaves an existing\n"
    "OUTPUT as it was; INPUT is never written.\n"
    "\n"
    "  --info         print a summary of the loaded object\n"
    "  --check        only read and validate INPUT (no object is built)\n"
    "  --json         print the summary as one JSON object\n"
    "  --full         with --json: also every point position, every polygon and\n"
    "                 every UV map entry\n"
    "  --module PATH  load the module from PATH instead of the one beside this program\n"
    "  --help         show this text\n"
    "\n"
    "exit status: 0 done (or INPUT valid), 1 usage error, 2 INPUT cannot be read,\n"
    "3 not a recognised format, 4 recognised but the load failed,\n"
    "5 OUTPUT cannot be written\n";

// ---- Command line ------------------------------------------------------------------

struct Options {
    bool help = false;
    bool info = false;
    bool check = false;
    bool json = false;
    bool full = false;
    std::string modulePath;
    std::vector<std::string> inputs;
};

struct ParsedArguments {
    Options options;
    std::string error;  // empty when the command line is usable
};

ParsedArguments ParseArguments(int argc, char** argv) {
    ParsedArguments parsed;
    Options& options = parsed.options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--info") {
            options.info = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--full") {
            options.full = true;
        } else if (arg == "--module") {
            if (i + 1 >= argc) {
                parsed.error = "--module needs a path";
                return parsed;
            }
            options.modulePath = argv[++i];
        } else if (arg.starts_with("--module=")) {
            options.modulePath = arg.substr(std::strlen("--module="));
        } else {
            parsed.error = "unknown option '" + std::string(arg) + "'";
            return parsed;
        }
    }
    if (options.help) return parsed;
    if (options.check) {
        if (options.info || options.json || options.full) parsed.error = "--check goes alone with INPUT";
        if (options.inputs.size() != 1) parsed.error = "--check takes exactly one INPUT file";
    } else if (!options.info) {
        if (options.inputs.size() != 2) parsed.error = "give --info INPUT, or INPUT OUTPUT";
        if (options.json || options.full) parsed.error = "--json and --full go with --info";
    } else if (options.inputs.size() != 1) {
        parsed.error = options.inputs.empty() ? "--info needs an INPUT file" : "--info takes exactly one INPUT file";
    } else if (options.full && !options.json) {
        parsed.error = "--full goes with --json";
    }
    return parsed;
}

// ---- Errors -----------------------------------------------------------------------

int Fail(int code, const std::string& file, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), reason.c_str());
    return code;
}

// ---- What the converter can see of the file before the module does ------------------

constexpr std::string_view kBinaryDxfSentinel = "AutoCAD Binary DXF";

struct FileFacts {
    int failCode = kExitLoaded;  // kExitLoaded when the file may go to the module
    std::string reason;
    bool binaryDxf = false;
};

// Only regular files are handed on: a directory cannot be read as one, and a
// FIFO or device would block or never end.
FileFacts InspectInput(const std::string& path) {
    FileFacts facts;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) {
        facts.failCode = kExitUnreadable;
        facts.reason = error && error != std::errc::no_such_file_or_directory ? error.message()
                                                                               : "no such file";
        return facts;
    }
    if (std::filesystem::is_directory(status)) {
        facts.failCode = kExitUnreadable;
        facts.reason = "is a directory";
        return facts;
    }
    if (!std::filesystem::is_regular_file(status)) {
        facts.failCode = kExitUnreadable;
        facts.reason = "not a regular file";
        return facts;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        facts.failCode = kExitUnreadable;
        facts.reason = std::string("cannot be opened: ") + std::strerror(errno);
        return facts;
    }
    std::array<char, kBinaryDxfSentinel.size()> head{};
    const size_t count = std::fread(head.data(), 1, head.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        facts.failCode = kExitUnreadable;
        facts.reason = "cannot be read";
    } else if (count == 0) {
        facts.failCode = kExitNotRecognised;
        facts.reason = "empty file, not a recognised format";
    }
    facts.binaryDxf = std::string_view(head.data(), count) == kBinaryDxfSentinel;
    return facts;
}

// ---- The module and the loaded object -----------------------------------------------

class ModuleSession {
public:
    // The converter keeps no log of host calls: files can hold millions of polygons.
    explicit ModuleSession(const std::string& path) {
        standin::SetCallLogging(false);
        loaded_ = standin::LoadModule(path, &error_);
    }
    ~ModuleSession() {
        if (loaded_) standin::UnloadModule();
    }
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    bool loaded() const { return loaded_; }
    const std::string& error() const { return error_; }

private:
    bool loaded_ = false;
    std::string error_;
};

class LoadedObject {
public:
    LoadedObject() = default;
    ~LoadedObject() { standin::DestroyObject(object_); }
    LoadedObject(const LoadedObject&) = delete;
    LoadedObject& operator=(const LoadedObject&) = delete;

    HostObject** slot() { return &object_; }
    HostObject* get() const { return object_; }

private:
    HostObject* object_ = nullptr;
};

struct Format {
    const char* extension;  // the import server's extension, also the JSON "format"
    const char* title;
};

// The module's own detection order: the first sniffer that accepts decides.
constexpr std::array<Format, 3> kDetectionOrder = {{
    {"3ds", "3D Studio"},
    {"obj", "Wavefront OBJ"},
    {"dxf", "DXF"},
}};

// ---- The summary of a host object -------------------------------------------------------

using Triple = std::array<double, 3>;

struct SurfaceSummary {
    std::optional<std::string> name;
    std::array<uint8_t, 3> colour{};
    float level = 0.0f;
    int64_t polygons = 0;
};

struct UVEntry {
    int64_t polygon = -1;  // -1: none, or not one of the object's polygons
    int64_t point = -1;    // -1: not one of the object's points
    float u = 0, v = 0;
};

struct UVMapSummary {
    std::optional<std::string> name;
    int32_t pointEntries = 0;
    int32_t polygonEntries = 0;
    std::vector<UVEntry> pointList;
    std::vector<UVEntry> polygonList;
};

struct PolygonSummary {
    std::vector<int64_t> corners;  // -1: the corner's point is not one of the object's points
    int32_t surface = 0;
};

struct ObjectSummary {
    std::string file;
    Format format{};
    std::optional<std::string> name;
    int64_t points = 0;
    int64_t polygons = 0;
    int64_t faces = 0;
    int64_t lines = 0;
    int64_t dots = 0;
    std::vector<SurfaceSummary> surfaces;
    std::vector<UVMapSummary> uvMaps;
    Triple boxMin{};
    Triple boxMax{};
    std::vector<Triple> positions;
    std::vector<PolygonSummary> polygonList;
};

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

// The lists (polygon corners, UV map entries) are made only for a full
// summary: on objects of millions of polygons they cost more than the load.
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

std::string QuotedName(const std::optional<std::string>& name) { return name ? "\"" + *name + "\"" : "(none)"; }

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

// ---- --info ----------------------------------------------------------------------------

void ReportModuleMessages(const std::string& input) {
    for (const auto& [line1, line2] : standin::Messages()) {
        std::fprintf(stderr, "%s: %s: module message: %s %s\n", kProgram, input.c_str(), line1.c_str(),
                     line2.c_str());
    }
    standin::ClearMessages();
}

// The input loaded as the host loads it: kExitLoaded with the object and its
// format, or the exit code after the failure has been reported.
struct LoadedInput {
    int exitCode = kExitLoaded;
    const Format* format = nullptr;
};

// Load flags that ask for no object make the module read and validate the
// whole file and build nothing; the object then stays empty.
LoadedInput LoadInput(const std::string& input, LoadedObject& object, uint32_t loadFlags = kLoadNewObject) {
    const FileFacts facts = InspectInput(input);
    if (facts.failCode != kExitLoaded) return {Fail(facts.failCode, input, facts.reason)};
    const standin::Server* server = nullptr;
    const Format* format = nullptr;
    for (const Format& candidate : kDetectionOrder) {
        const standin::Server* found = standin::FindServer(true, candidate.extension);
        if (!found) {
            return {Fail(kExitLoadFailed, input,
                         std::string("the module has no import server for ") + candidate.title + " files")};
        }
        if (standin::CheckFile(*found, input)) {
            server = found;
            format = &candidate;
            break;
        }
    }
    if (!server) {
        return {Fail(kExitNotRecognised, input,
                     facts.binaryDxf ? "binary DXF is not supported (only ASCII DXF can be read)"
                                     : "not a recognised format (Wavefront OBJ, 3D Studio or ASCII DXF)")};
    }
    const int32_t loaded = standin::LoadFile(*server, object.slot(), input, loadFlags);
    ReportModuleMessages(input);
    if (!loaded || (loadFlags != 0 && !object.get())) {
        return {Fail(kExitLoadFailed, input,
                     std::string("recognised as ") + format->title +
                         " but the load failed (damaged or unsupported content)")};
    }
    return {kExitLoaded, format};
}

int RunInfo(const Options& options) {
    const std::string& input = options.inputs.front();
    LoadedObject object;
    const LoadedInput loaded = LoadInput(input, object);
    if (loaded.exitCode != kExitLoaded) return loaded.exitCode;
    const ObjectSummary summary = Summarise(input, *loaded.format, *object.get(), options.full);
    const std::string text = options.json ? JsonSummary(summary, options.full) : HumanSummary(summary);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitLoaded;
}

int RunCheck(const Options& options) {
    const std::string& input = options.inputs.front();
    LoadedObject object;
    const LoadedInput loaded = LoadInput(input, object, 0);
    if (loaded.exitCode != kExitLoaded) return loaded.exitCode;
    std::printf("%s: valid %s file\n", input.c_str(), loaded.format->title);
    return kExitLoaded;
}

// ---- Conversion ----------------------------------------------------------------------

namespace fs = std::filesystem;

// The export server's extension for OUTPUT ("obj", "3ds" or "dxf", from any
// letter case), or empty when OUTPUT names none of them.
std::string OutputExtension(const std::string& output) {
    std::string extension = fs::path(output).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Format& format : kDetectionOrder) {
        if (extension == std::string(".") + format.extension) return format.extension;
    }
    return {};
}

// Whether OUTPUT is INPUT: the same file (through any link), or the same path once resolved.
bool SameFile(const std::string& input, const std::string& output) {
    std::error_code error;
    if (fs::equivalent(input, output, error)) return true;
    const fs::path a = fs::weakly_canonical(input, error);
    const fs::path b = fs::weakly_canonical(output, error);
    return !error && a == b;
}

// A new folder only this user can enter, removed with everything in it at the end.
class PrivateFolder {
public:
    explicit PrivateFolder(const fs::path& parent) {
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < kAttempts && path_.empty(); ++attempt) {
            const fs::path candidate = parent / (".tamlorn-convert-" + std::to_string(random() % 1000000000u));
            std::error_code error;
            if (fs::create_directory(candidate, error)) {
                path_ = candidate;
                fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, error);
            } else if (error) {
                error_ = error.message();
                return;
            }
        }
        if (path_.empty()) error_ = "no unused folder name";
    }
    ~PrivateFolder() {
        std::error_code error;
        if (!path_.empty()) fs::remove_all(path_, error);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const fs::path& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    static constexpr int kAttempts = 100;
    fs::path path_;
    std::string error_;
};

// Works in `folder` for the lifetime of the object, then goes back.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) {
        std::error_code error;
        previous_ = fs::current_path(error);
        if (!error) fs::current_path(folder, error);
        entered_ = !error;
    }
    ~WorkingFolder() {
        std::error_code error;
        if (entered_) fs::current_path(previous_, error);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    bool entered() const { return entered_; }

private:
    fs::path previous_;
    bool entered_ = false;
};

// Limits of the module that the converter can see coming from the object.
constexpr int64_t kMaxCorners = 4000;
constexpr int64_t k3DSPointLimit = 65532;
constexpr int64_t k3DSMeshTriangles = 65535;

// Why a save the module answered 0 for most likely failed, from what the object holds.
std::string LikelySaveFailure(const std::string& extension, const HostObject& object) {
    const HostGeometry* geometry = object.geometry;
    if (!geometry) return "the object has no geometry";
    if (geometry->surfaceCount < 1 || !geometry->surfaceArray) return "the object has no surfaces";
    std::unordered_map<int32_t, int64_t> trianglesPerSurface;
    int64_t triangles = 0;
    for (int32_t i = 0; i < geometry->polygonCount && geometry->polygons; ++i) {
        const HostPolygon* polygon = geometry->polygons[i];
        if (polygon->cornerCount > kMaxCorners) return "a polygon has more than 4000 corners";
        if (polygon->cornerCount < 3) continue;
        triangles += polygon->cornerCount - 2;
        trianglesPerSurface[polygon->surface] += polygon->cornerCount - 2;
    }
    if (extension == "3ds") {
        if (geometry->pointCount >= k3DSPointLimit) {
            return "a 3D Studio file holds fewer than 65532 points, the object has " +
                   std::to_string(geometry->pointCount);
        }
        if (triangles == 0) return "a 3D Studio file holds triangles, and the object has no faces";
        for (const auto& [surface, count] : trianglesPerSurface) {
            if (count > k3DSMeshTriangles) {
                return "surface " + std::to_string(surface) + " has " + std::to_string(count) +
                       " triangles, more than the 65535 of a 3D Studio mesh";
            }
        }
        return "a 3D Studio file holds triangles, and the object's faces have no area (or memory ran out)";
    }
    return "the module could not write it (out of memory, or a damaged object)";
}

int RunConvert(const std::string& input, const std::string& output) {
    const std::string extension = OutputExtension(output);
    if (extension.empty()) return Fail(kExitUsage, output, "OUTPUT must end in .obj, .3ds or .dxf");
    if (SameFile(input, output)) return Fail(kExitSaveFailed, output, "is the input file, which is never written");
    std::error_code error;
    if (fs::is_directory(output, error)) return Fail(kExitSaveFailed, output, "is a directory");
    LoadedObject object;
    const LoadedInput loaded = LoadInput(input, object);
    if (loaded.exitCode != kExitLoaded) return loaded.exitCode;
    const standin::Server* server = standin::FindServer(false, extension);
    if (!server) return Fail(kExitSaveFailed, output, "the module has no export server for ." + extension + " files");

    const fs::path target = fs::path(output);
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const PrivateFolder folder(parent);
    if (folder.path().empty()) return Fail(kExitSaveFailed, output, "its folder cannot be written: " + folder.error());
    // The module names the object after the path it is given: a short
    // relative one, in the private folder, gives the output's own name.
    const std::string fileName = target.filename().string();
    int32_t saved = 0;
    {
        const WorkingFolder inside(folder.path());
        if (!inside.entered()) return Fail(kExitSaveFailed, output, "its folder cannot be entered");
        saved = standin::SaveObject(*server, object.get(), fileName, 0);
    }
    ReportModuleMessages(input);
    if (!saved) return Fail(kExitSaveFailed, output, LikelySaveFailure(extension, *object.get()));
    fs::rename(folder.path() / fileName, target, error);
    if (error) return Fail(kExitSaveFailed, output, "cannot be put in place: " + error.message());
    return kExitLoaded;
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedArguments parsed = ParseArguments(argc, argv);
    if (parsed.options.help && parsed.error.empty()) {
        std::printf("%s\n\n%s", kUsageLine, kHelpText);
        return kExitLoaded;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s\n", kProgram, parsed.error.c_str(), kUsageLine);
        return kExitUsage;
    }
    const Options& options = parsed.options;
    const std::string modulePath = options.modulePath.empty() ? standin::DefaultModulePath() : options.modulePath;
    ModuleSession module(modulePath);
    if (!module.loaded()) {
        // Without the module nothing can be loaded: reported as a failed load, after the input's own faults.
        const FileFacts facts = InspectInput(options.inputs.front());
        if (facts.failCode != kExitLoaded) return Fail(facts.failCode, options.inputs.front(), facts.reason);
        return Fail(kExitLoadFailed, options.inputs.front(),
                    "cannot load the module " + modulePath + ": " + module.error());
    }
    if (options.check) return RunCheck(options);
    return options.info ? RunInfo(options) : RunConvert(options.inputs[0], options.inputs[1]);
}
