// fuzz-export-obj, fuzz-export-3ds, fuzz-export-dxf: the input describes a
// host object (points with any doubles, NaN and infinities among them,
// polygons of 0 to over 4000 corners, surfaces with odd names and numbers, UV
// maps), which the host builds as its own modelling would. It is saved through
// the export server of TAMLORN_FUZZ_EXTENSION and the file is loaded again
// through the import server of the same format. An OBJ file keeps every
// point: once saved, it loads them all again, unless the object's first UV
// map holds no UV at all (its faces then refer to "vt" lines the writer
// leaves out, and the reader refuses references to UV points it has not read),
// or the file is no longer taken for OBJ: the OBJ sniffer looks among the first
// lines for a "v" line that starts like a number, and points written as "inf"
// or "nan" do not.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "fuzz_support.h"

namespace {

// The input read front to back; past its end every read gives 0.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ == size_; }
    uint8_t U8() { return Empty() ? 0 : data_[at_++]; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return U16() | uint32_t{U16()} << 16; }
    uint64_t U64() { return U32() | uint64_t{U32()} << 32; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Values at the edges of what a coordinate or a surface setting may hold.
constexpr double kOddDoubles[] = {kNaN, -kNaN, kInf, -kInf, 1e39, -1e39, DBL_MAX, -DBL_MAX, FLT_MAX, -FLT_MAX,
                                  3.4028235677973366e38, 1e-45, 5e-324, -0.0, 1e300, 16777217.0};
constexpr float kOddFloats[] = {std::numeric_limits<float>::quiet_NaN(), HUGE_VALF, -HUGE_VALF, FLT_MAX, -FLT_MAX,
                                1e30f, 255.0f, 255.5f, 256.0f, -1.0f, 1e-45f, 0.999999f};
constexpr uint8_t kFirstOddCode = 200;

// A small multiple of 1/4, an odd value, or raw bits; `fallback` past the input's end.
double Coordinate(Bytes& in, double fallback) {
    if (in.Empty()) return fallback;
    const uint8_t code = in.U8();
    if (code < kFirstOddCode) return (code - 100) * 0.25;
    if (code < kFirstOddCode + std::size(kOddDoubles)) return kOddDoubles[code - kFirstOddCode];
    const uint64_t bits = in.U64();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

float Setting(Bytes& in) {
    const uint8_t code = in.U8();
    if (code < kFirstOddCode) return static_cast<float>(code) / 100.0f;
    if (code < kFirstOddCode + std::size(kOddFloats)) return kOddFloats[code - kFirstOddCode];
    const uint32_t bits = in.U32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Raw bytes (NULs cut the name short), a plain name, a long one, or the previous name again.
std::string Name(Bytes& in, size_t i, const std::string& previous) {
    const uint8_t code = in.U8();
    if (code < 64) {
        std::string name;
        for (uint8_t k = 0; k < code && !in.Empty(); ++k) name += static_cast<char>(in.U8());
        return name;
    }
    if (code < 128) return "Surface " + std::to_string(i);
    if (code < 192) return std::string(100 + (code - 128) * 3, static_cast<char>('a' + i % 26));
    return previous;
}

// Counts: a small number from one byte, or past `bigFrom` a run across the limit near `big`.
size_t Count(Bytes& in, uint8_t bigFrom, size_t big, size_t step) {
    const uint8_t code = in.U8();
    return code < bigFrom ? code : big + (code - bigFrom) * step;
}

void ReadSurfaces(Bytes& in, standin::ObjectDesc& desc) {
    const size_t count = Count(in, 250, 2040, 3);  // 2040 to 2055: past the 2048 the scene holds
    for (size_t i = 0; i < count; ++i) {
        standin::SurfaceDesc surface;
        surface.name = Name(in, i, desc.surfaces.empty() ? std::string() : desc.surfaces.back().name);
        for (uint8_t& c : surface.colour) c = in.U8();
        surface.level = Setting(in);
        surface.shininess = Setting(in);
        surface.transparency = Setting(in);
        surface.smooth = in.U8() & 1;
        desc.surfaces.push_back(surface);
    }
}

void ReadPoints(Bytes& in, standin::ObjectDesc& desc, bool secondPositions) {
    const size_t count = Count(in, 240, 300, 300);  // up to 4800 points
    for (size_t i = 0; i < count; ++i) {
        standin::PointDesc point{};
        for (int c = 0; c < 3; ++c) point.position[c] = Coordinate(in, static_cast<double>((i * (c + 3)) % 17));
        point.hasPosition2 = secondPositions;
        for (int c = 0; secondPositions && c < 3; ++c) point.position2[c] = Coordinate(in, point.position[c]);
        desc.points.push_back(point);
    }
}

// A polygon's corners: each named by a byte, or for the large ones a run
// start + k * stride over the points. The corners of all polygons stay within
// kCornerBudget, so that one input is saved in well under a second.
void ReadPolygons(Bytes& in, standin::ObjectDesc& desc) {
    constexpr size_t kCornerBudget = 20000;
    const size_t count = Count(in, 250, 300, 100);
    const size_t points = desc.points.size();
    size_t total = 0;
    for (size_t i = 0; i < count && total < kCornerBudget; ++i) {
        standin::PolygonDesc polygon;
        const size_t corners = Count(in, 250, 3990, 5);  // 3990 to 4010: across 4000, 4002 and 4008
        const bool large = corners > 250;
        const size_t start = in.U8(), stride = in.U8() | 1;
        for (size_t k = 0; points > 0 && k < corners; ++k)
            polygon.corners.push_back(static_cast<int32_t>((large || in.Empty() ? start + k * stride : in.U8()) % points));
        total += polygon.corners.size();
        const uint8_t surface = in.U8();
        polygon.surface = surface < kFirstOddCode ? surface % (desc.surfaces.size() + 2) : static_cast<int16_t>(in.U16());
        desc.polygons.push_back(polygon);
    }
}

void ReadUVMaps(Bytes& in, standin::ObjectDesc& desc) {
    const size_t count = in.U8() % 4;
    for (size_t m = 0; m < count; ++m) {
        standin::UVMapDesc map;
        map.name = Name(in, m, "");
        for (const standin::PolygonDesc& polygon : desc.polygons) {
            std::vector<std::pair<float, float>> uvs;
            if (in.U8() & 1)
                for (size_t k = 0; k < polygon.corners.size(); ++k) uvs.emplace_back(Setting(in), Setting(in));
            map.polygonUVs.push_back(uvs);
        }
        desc.uvMaps.push_back(map);
    }
}

// The x coordinate the first "v" line starts with.
double FirstWrittenX(const standin::ObjectDesc& desc, bool thirdPosition) {
    const standin::PointDesc& point = desc.points.front();
    return thirdPosition && point.hasPosition2 ? point.position2[0] : point.position[0];
}

bool FirstUVMapEmpty(const standin::ObjectDesc& desc) {
    if (desc.uvMaps.empty()) return false;
    const auto& uvs = desc.uvMaps.front().polygonUVs;
    return std::all_of(uvs.begin(), uvs.end(), [](const auto& polygon) { return polygon.empty(); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LoadModuleOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const standin::Server& exporter = fuzz::ServerFor(false, TAMLORN_FUZZ_EXTENSION);
    static const standin::Server& importer = fuzz::ServerFor(true, TAMLORN_FUZZ_EXTENSION);
    const int64_t hostBlocks = standin::LiveBlocks();
    Bytes in(data, size);
    const uint8_t flags = in.U8();
    standin::ObjectDesc desc;
    ReadSurfaces(in, desc);
    ReadPoints(in, desc, flags & 1);
    ReadPolygons(in, desc);
    ReadUVMaps(in, desc);
    HostObject* object = standin::BuildObject(desc);
    fuzz::Require(object != nullptr, "the host could not build the object");

    const std::string& path = fuzz::WriteInput(nullptr, 0);
    const int32_t saved = standin::SaveObject(exporter, object, path, (flags & 2) ? kSaveUseThirdPosition : 0);
    fuzz::Require(saved == 0 || saved == 1, "a save answered " + std::to_string(saved));
    fuzz::Require(standin::Messages().empty(), "a save showed a message");
    standin::DestroyObject(object);
    int32_t points = 0;
    const int32_t loaded = saved ? fuzz::LoadAndCheck(importer, path, &points) : 0;
    if (saved && !desc.points.empty() && std::string(TAMLORN_FUZZ_EXTENSION) == "obj") {
        const bool recognised = importer.record->check(path.c_str()) == 1;
        fuzz::Require(recognised || !std::isfinite(FirstWrittenX(desc, flags & 2)), "the saved file is not taken for OBJ");
        if (recognised && !FirstUVMapEmpty(desc))
            fuzz::Require(loaded == 1 && points == static_cast<int32_t>(desc.points.size()), "the saved points do not load");
    }
    fuzz::RequireNothingLeft(hostBlocks);
    return 0;
}
