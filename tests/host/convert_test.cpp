// tamlorn-convert INPUT OUTPUT: every corpus file converted into each format
// (with --verify), loaded again and compared with what the formats' rules make
// of it; assimp, lib3ds and ezdxf reading what we write; the converter's own promises.
#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#ifdef TAMLORN_HAVE_LIB3DS
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#endif

#include "host_support.h"

namespace {

using namespace host_support;
using Position = std::array<double, 3>;
using UV = std::array<float, 2>;

struct Element {
    std::vector<Position> corners;
    std::string surface;
    std::vector<UV> uv;  // per corner, from the UV maps' polygon entries; empty when none
};

struct Model {
    std::vector<Position> points;
    std::vector<Element> faces, lines, dots;
    std::set<const HostPoint*> used;  // points some element uses
};

Position PositionOf(const HostPoint* p) { return {p->position1[0], p->position1[1], p->position1[2]}; }

// Each polygon entry gives its UV to the first corner of its polygon on its point that has none yet.
void AddMapUVs(const HostGeometry& g, std::map<const HostPolygon*, std::vector<std::optional<UV>>>& uvs) {
    for (int32_t m = 0; m < g.uvMapCount; ++m) {
        const HostUVMap& map = *g.uvMaps[m];
        for (int32_t e = 0; e < map.polygonEntryCount; ++e) {
            const UVMapPolygonEntry& entry = map.polygonEntries[e];
            auto& corners = uvs[entry.polygon];
            corners.resize(static_cast<size_t>(entry.polygon->cornerCount));
            for (int32_t k = 0; k < entry.polygon->cornerCount; ++k) {
                if (corners[k] || entry.polygon->corners[k]->point != entry.point) continue;
                corners[k] = UV{entry.u, entry.v};
                break;
            }
        }
    }
}

Model ModelOf(const HostObject& object) {
    const HostGeometry& g = *object.geometry;
    Model model;
    for (int32_t i = 0; i < g.pointCount; ++i) model.points.push_back(PositionOf(g.points[i]));
    std::vector<std::string> names;
    for (const HostSurface* s = g.surfaceList; s; s = s->next) names.push_back(s->name);
    std::map<const HostPolygon*, std::vector<std::optional<UV>>> uvs;
    AddMapUVs(g, uvs);
    for (int32_t i = 0; i < g.polygonCount; ++i) {
        const HostPolygon* polygon = g.polygons[i];
        Element e;
        for (int32_t k = 0; k < polygon->cornerCount; ++k) {
            e.corners.push_back(PositionOf(polygon->corners[k]->point));
            model.used.insert(polygon->corners[k]->point);
        }
        e.surface = polygon->surface >= 1 && polygon->surface <= static_cast<int32_t>(names.size())
                        ? names[polygon->surface - 1] : "";
        for (const auto& uv : uvs[polygon]) e.uv.push_back(uv.value_or(UV{-1, -1}));
        (e.corners.size() >= 3 ? model.faces : e.corners.size() == 2 ? model.lines : model.dots).push_back(e);
    }
    return model;
}

// Text formats print six decimals.
bool Near(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b || std::fabs(a - b) <= 1e-6 + 1e-6 * std::fabs(a);
}
bool Near(const Position& a, const Position& b) { return Near(a[0], b[0]) && Near(a[1], b[1]) && Near(a[2], b[2]); }

// A face cut into triangles gives n - 2 of them unless its normal, summed in
// single precision, has a zero largest component, or a coordinate is not finite.
int64_t TrianglesOf(const Element& face) {
    float n[3] = {0, 0, 0};
    const auto v = [&](size_t k, int axis) { return static_cast<float>(face.corners[k][axis]); };
    for (const Position& p : face.corners)
        if (!std::all_of(p.begin(), p.end(), [](double c) { return std::isfinite(c); })) return 0;
    for (size_t m = 1; m + 1 < face.corners.size(); ++m) {
        const float e1[3] = {v(m, 0) - v(0, 0), v(m, 1) - v(0, 1), v(m, 2) - v(0, 2)};
        const float e2[3] = {v(m + 1, 0) - v(0, 0), v(m + 1, 1) - v(0, 1), v(m + 1, 2) - v(0, 2)};
        n[0] += e1[1] * e2[2] - e1[2] * e2[1];
        n[1] += e1[2] * e2[0] - e1[0] * e2[2];
        n[2] += e1[0] * e2[1] - e1[1] * e2[0];
    }
    const float ax = std::fabs(n[0]), ay = std::fabs(n[1]), az = std::fabs(n[2]);
    const float largest = az >= ax && az >= ay ? n[2] : ay >= ax ? n[1] : n[0];
    return largest == 0 || std::isnan(largest) ? 0 : static_cast<int64_t>(face.corners.size()) - 2;
}

// At most n - 2 triangles per face; at least one per triangle with an area.
// (The ear clipper may give up on a face before it is all cut.)
void ExpectTriangleCount(const Model& original, const Model& back) {
    int64_t most = 0, least = 0;
    for (const Element& face : original.faces) {
        most += TrianglesOf(face);
        least += face.corners.size() == 3 ? TrianglesOf(face) : 0;
    }
    EXPECT_LE(static_cast<int64_t>(back.faces.size()), most);
    EXPECT_GE(static_cast<int64_t>(back.faces.size()), least);
}

bool HasTriangles(const Model& model) {
    return std::any_of(model.faces.begin(), model.faces.end(), [](const Element& f) { return TrianglesOf(f) > 0; });
}

// Every triangle's corners are corners of one face of the original, of the
// surface `surfaceOf` names. Faces are found through their corners printed
// with six decimals, which a text format's rounding leaves as they are.
template <typename SurfaceOf>
void ExpectTrianglesOnFaces(const Model& original, const Model& back, SurfaceOf surfaceOf) {
    const auto key = [](const Position& p) {
        char text[400];
        std::snprintf(text, sizeof text, "%f %f %f", static_cast<float>(p[0]), static_cast<float>(p[1]),
                      static_cast<float>(p[2]));
        return std::string(text);
    };
    std::map<std::string, std::vector<const Element*>> facesAt;
    for (const Element& f : original.faces)
        for (const Position& p : f.corners) facesAt[key(p)].push_back(&f);
    for (const Element& t : back.faces) {
        ASSERT_EQ(t.corners.size(), 3u);
        const auto& candidates = facesAt[key(t.corners[0])];
        const bool found = std::any_of(candidates.begin(), candidates.end(), [&](const Element* f) {
            if (!surfaceOf(f->surface, t.surface)) return false;
            return std::all_of(t.corners.begin(), t.corners.end(), [&](const Position& c) {
                return std::any_of(f->corners.begin(), f->corners.end(), [&](const Position& p) { return Near(p, c); });
            });
        });
        if (!found) FAIL() << "a triangle on no face of surface " << t.surface;
    }
}

void ExpectSameElements(const std::vector<Element>& a, const std::vector<Element>& b,
                        const std::function<std::string(const std::string&)>& name) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].corners.size(), b[i].corners.size()) << "element " << i;
        for (size_t k = 0; k < a[i].corners.size(); ++k)
            if (!Near(a[i].corners[k], b[i].corners[k])) FAIL() << "element " << i << " corner " << k;
        ASSERT_EQ(name(a[i].surface), b[i].surface) << "element " << i;
    }
}

// The texture coordinates the OBJ writer gives the k-th face: entry k of the
// first map's per-polygon data (0, 0 past its items), else the point's entry
// (0, 0 without one); none when the map has neither.
std::vector<std::vector<UV>> WrittenUVs(const HostObject& object) {
    const HostGeometry& g = *object.geometry;
    std::vector<std::vector<UV>> out;
    if (g.uvMapCount < 1) return out;
    const HostUVMap& map = *g.uvMaps[0];
    for (int32_t k = 0, face = 0; k < g.polygonCount; ++k) {
        const HostPolygon& polygon = *g.polygons[k];
        if (polygon.cornerCount < 3) continue;
        std::vector<UV> uv;
        const HostUVCorner* items = map.polygonUV ? map.polygonUV[face] : nullptr;
        const int32_t held = items ? g.polygons[face]->cornerCount : 0;
        for (int32_t c = 0; c < polygon.cornerCount; ++c) {
            const UVMapPointEntry* entry = map.pointIndex ? map.pointIndex[polygon.corners[c]->point->index] : nullptr;
            uv.push_back(items ? (c < held ? UV{items[c].u, items[c].v} : UV{0, 0})
                               : entry ? UV{entry->u, entry->v} : UV{0, 0});
        }
        out.push_back(uv);
        ++face;
    }
    return out;
}

class Convert : public ModuleTest {
protected:
    // Loads `path` through the import server of `format` into the slot (any
    // object there destroyed first): its model, or none.
    std::optional<Model> LoadModel(const fs::path& path, const std::string& format) {
        standin::DestroyObject(object_);
        object_ = nullptr;
        if (!Load(path, kLoadNewObject, format.c_str()) || !object_) return std::nullopt;
        return ModelOf(*object_);
    }
    std::vector<std::string> SurfaceNames() const {
        std::vector<std::string> names;
        for (const HostSurface* s = object_->geometry->surfaceList; s; s = s->next) names.push_back(s->name);
        return names;
    }
    // Saves the loaded object in every format, in process, and checks that its surface names stay.
    void ExpectSavesKeepSurfaceNames() {
        const std::vector<std::string> before = SurfaceNames();
        for (const char* extension : {"obj", "3ds", "dxf"}) {
            standin::SaveObject(*standin::FindServer(false, extension), object_, (dir_ / "scratch").string(), 0);
            EXPECT_EQ(SurfaceNames(), before) << extension;
        }
    }
    void RoundTrips(const std::string& extension);
    std::vector<fs::path> written_;
};

void CheckObj(const HostObject& original, const Model& a, const Model& b) {
    const auto name = [](const std::string& s) { return LegalName(s + " rt"); };
    ASSERT_EQ(a.points.size(), b.points.size());
    for (size_t i = 0; i < a.points.size(); ++i)
        if (!Near(a.points[i], b.points[i])) FAIL() << "point " << i;
    ExpectSameElements(a.faces, b.faces, name);
    ExpectSameElements(a.lines, b.lines, name);
    ExpectSameElements(a.dots, b.dots, name);
    const std::vector<std::vector<UV>> written = WrittenUVs(original);
    if (written.empty()) return;
    for (size_t k = 0; k < b.faces.size(); ++k) {
        ASSERT_EQ(b.faces[k].uv.size(), written[k].size()) << "face " << k;
        for (size_t c = 0; c < written[k].size(); ++c)
            if (!Near(b.faces[k].uv[c][0], written[k][c][0]) || !Near(b.faces[k].uv[c][1], written[k][c][1]))
                FAIL() << "face " << k << " corner " << c;
    }
}

// What survives of a surface name in the names 3D Studio gives it back: its
// first 11 characters upper-cased (numbering takes at most 4 of 15), unless
// an "OBJECTnnnn" prefix went.
bool Keeps3DSName(const std::string& from, const std::string& to) {
    std::string upper = from;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.starts_with("OBJECT") || to.find(LegalName(upper.substr(0, 11))) != std::string::npos;
}

// Every element of `model` on a distinct point, and every point used.
void ExpectWeldedAndUsed(const Model& model) {
    EXPECT_EQ(model.used.size(), model.points.size()) << "unused points";
    std::set<std::array<uint64_t, 3>> distinct;  // bit patterns: -0 and 0 are two points
    for (const Position& p : model.points) distinct.insert(std::bit_cast<std::array<uint64_t, 3>>(p));
    EXPECT_EQ(distinct.size(), model.points.size()) << "points not welded";
}

void Check3DS(const Model& a, const Model& b) {
    EXPECT_TRUE(b.lines.empty() && b.dots.empty());
    ExpectTriangleCount(a, b);
    EXPECT_EQ(b.used.size(), b.points.size()) << "unused points";
    ExpectTrianglesOnFaces(a, b, Keeps3DSName);
}

void CheckDxf(const Model& a, const Model& b) {
    ExpectTriangleCount(a, b);
    ExpectTrianglesOnFaces(a, b, [](const std::string& from, const std::string& to) { return LegalName(from) == to; });
    ExpectSameElements(a.lines, b.lines, LegalName);
    ExpectSameElements(a.dots, b.dots, LegalName);
    ExpectWeldedAndUsed(b);
}

// A 3D Studio file the module refuses: why, as the converter says it.
std::optional<std::string> Refused3DS(const Model& a) {
    if (a.points.size() >= 65532) return "at most 65531 points";
    if (a.faces.empty()) return "no faces";
    if (!HasTriangles(a)) return "no area";
    return std::nullopt;
}

#ifdef TAMLORN_HAVE_LIB3DS
// lib3ds counts the points and triangles of all meshes.
void ExpectLib3dsReads(const fs::path& path, const Model& back) {
    Lib3dsFile* file = lib3ds_file_load(path.string().c_str());
    ASSERT_NE(file, nullptr);
    size_t points = 0, faces = 0;
    for (const Lib3dsMesh* mesh = file->meshes; mesh; mesh = mesh->next) {
        points += mesh->points;
        faces += mesh->faces;
    }
    lib3ds_file_free(file);
    EXPECT_EQ(points, back.points.size());
    EXPECT_EQ(faces, back.faces.size());
}
#endif

// The corpus files the module loads (the others are refused on import).
constexpr int kLoadableCorpusFiles = 50;

void Convert::RoundTrips(const std::string& extension) {
    int converted = 0;
    for (const fs::path& input : CorpusInputs()) {
        SCOPED_TRACE(input.filename().string() + " to ." + extension);
        const std::optional<Model> original = LoadModel(input, input.parent_path().filename().string());
        if (!original) continue;  // files the module does not load
        ++converted;
        if (extension == "obj") ExpectSavesKeepSurfaceNames();
        const fs::path output = dir_ / ("rt." + extension);
        fs::remove(output);
        const RunResult run = Converter({"--verify", input.string(), output.string()});
        const std::optional<std::string> refused = extension == "3ds" ? Refused3DS(*original) : std::nullopt;
        if (refused) {
            EXPECT_EQ(run.exitCode, 5) << run.err;
            EXPECT_NE(run.err.find(*refused), std::string::npos) << run.err;
            EXPECT_FALSE(fs::exists(output));
            continue;
        }
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // Kept for the texture coordinates until the round ends.
        const std::unique_ptr<HostObject, void (*)(HostObject*)> originalObject(std::exchange(object_, nullptr),
                                                                                standin::DestroyObject);
        const std::optional<Model> back = LoadModel(output, extension);
        // A DXF file without an entity holds no point and does not load.
        if (extension == "dxf" && !HasTriangles(*original) && original->lines.empty() && original->dots.empty()) {
            EXPECT_FALSE(back.has_value());
            continue;
        }
        ASSERT_TRUE(back.has_value()) << "our own file does not load";
        if (extension == "obj") CheckObj(*originalObject, *original, *back);
        if (extension == "3ds") Check3DS(*original, *back);
        if (extension == "dxf") CheckDxf(*original, *back);
#ifdef TAMLORN_HAVE_LIB3DS
        if (extension == "3ds") ExpectLib3dsReads(output, *back);
#endif
        if (extension == "dxf") {
            written_.push_back(dir_ / (input.filename().string() + ".dxf"));
            fs::rename(output, written_.back());
        }
    }
    EXPECT_EQ(converted, kLoadableCorpusFiles);
}

TEST_F(Convert, EveryCorpusFileRoundTripsThroughObj) { RoundTrips("obj"); }
TEST_F(Convert, EveryCorpusFileRoundTripsThrough3DStudio) { RoundTrips("3ds"); }

// ezdxf's audit (an independent reader) finds nothing to report in any DXF file we write.
constexpr const char* kEzdxfAudit = R"(import sys
try:
    import ezdxf
except ImportError:
    sys.exit(77)
for path in sys.argv[1:]:
    auditor = ezdxf.readfile(path).audit()
    for entry in auditor.errors + auditor.fixes:
        print(path, entry.code, entry.message))";

TEST_F(Convert, EveryCorpusFileRoundTripsThroughDxf) {
    RoundTrips("dxf");
    std::vector<std::string> argv = {"python3", "-c", kEzdxfAudit};
    for (const fs::path& file : written_) argv.push_back(file.string());
    RunResult audit = RunProgram(argv, dir_);
    if (audit.exitCode == 77) {
        argv[0] = "/usr/bin/python3";  // a Python of its own on PATH may lack Debian's ezdxf
        audit = RunProgram(argv, dir_);
    }
    if (audit.exitCode == 77) GTEST_SKIP() << "python3-ezdxf is not installed";
    EXPECT_EQ(audit.exitCode, 0) << audit.err;
    EXPECT_EQ(audit.out, "") << "ezdxf's audit findings";
}

// assimp (an independent reader, no post-processing) finds as many faces as we
// wrote and the same bounding box; it reads every format with the third axis
// mirrored (OBJ as written, 3D Studio and DXF turned to its own axes).
TEST_F(Convert, AssimpReadsOurFiles) {
    if (RunProgram({"sh", "-c", "command -v assimp"}, dir_).exitCode != 0) GTEST_SKIP() << "assimp is not installed";
    for (const std::string input : {"obj/spider.obj", "3ds/jeep1.3ds", "dxf/3dface.dxf", "obj/spot_quadrangulated.obj"}) {
        for (const std::string extension : {"obj", "3ds", "dxf"}) {
            SCOPED_TRACE(input + " to ." + extension);
            const fs::path output = dir_ / ("a." + extension);
            ASSERT_EQ(Converter({(fs::path(TAMLORN_CORPUS_DIR) / input).string(), output.string()}).exitCode, 0);
            const std::optional<Model> back = LoadModel(output, extension);
            ASSERT_TRUE(back.has_value());
            Position low = {INFINITY, INFINITY, INFINITY}, high = {-INFINITY, -INFINITY, -INFINITY};
            for (const HostPoint* p : back->used)
                for (int axis = 0; axis < 3; ++axis) {
                    const double file = axis == 2 ? -p->position1[2] : p->position1[axis];
                    low[axis] = std::min(low[axis], file);
                    high[axis] = std::max(high[axis], file);
                }
            const RunResult info = RunProgram({"assimp", "info", output.string(), "-r"}, dir_);
            ASSERT_EQ(info.exitCode, 0) << info.err;
            long faces = -1;
            Position min{}, max{};
            int read = 0;
            for (const std::string& line : SplitLines(info.out)) {
                std::sscanf(line.c_str(), "Faces: %ld", &faces);
                read += std::sscanf(line.c_str(), "Minimum point (%lf %lf %lf)", &min[0], &min[1], &min[2]) == 3;
                read += std::sscanf(line.c_str(), "Maximum point (%lf %lf %lf)", &max[0], &max[1], &max[2]) == 3;
            }
            EXPECT_EQ(faces, static_cast<long>(back->faces.size()));
            ASSERT_EQ(read, 2) << info.out;
            EXPECT_TRUE(Near(min, low) && Near(max, high)) << info.out;
        }
    }
}

const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl wood\nf 1 2 3\n";

// The object is named after the output, whatever folder it goes to and
// however long its path (past the module's 1024 bytes, the input's too, where
// the system takes such paths); the extension's letter case does not matter;
// no private folder is left.
TEST_F(Convert, OutputIsNamedAfterItselfAndPutInPlace) {
    const fs::path input = Write("in.obj", kTriangle);
    std::vector<fs::path> outputs = {dir_ / "chair.OBJ"};
    fs::path deep = dir_;
    if (kLongPaths) {
        for (int i = 0; i < 10; ++i) deep /= std::string(100, 'a' + i) + " dir";
        fs::create_directories(deep);
        ASSERT_GE(deep.string().size(), 1024u);
        outputs.push_back(deep / "chair.obj");
    }
    for (const fs::path& output : outputs) {
        ASSERT_EQ(Converter({input.string(), output.string()}).exitCode, 0);
        EXPECT_NE(ReadFile(output).find("\ng chair\n"), std::string::npos) << output;
        for (const fs::directory_entry& entry : fs::directory_iterator(output.parent_path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".tamlorn-convert-")) << "a private folder is left";
    }
    if (kLongPaths) {
        EXPECT_EQ(Converter({(deep / "chair.obj").string(), (dir_ / "back.dxf").string()}).exitCode, 0);
    }
}

// Each sample into each other format, read back and compared (--verify), with
// the note on what the target format does not keep.
TEST_F(Convert, SamplesConvertIntoTheOtherFormats) {
    const std::string triangles = "polygons of more than 3 corners (cut into triangles)";
    const std::string names = "names in lower case or past 10 characters";
    const struct {
        const char* sample;
        const char* to;
        std::string note;  // empty: none
    } rows[] = {
        {"house.obj", "3ds", "3D Studio does not keep: texture coordinates, " + triangles + ", " + names},
        {"house.obj", "dxf", "DXF does not keep: texture coordinates, " + triangles},
        {"blocks.3ds", "obj", "Wavefront OBJ does not keep: surface colours"},
        {"blocks.3ds", "dxf", "DXF does not keep: surface colours"},
        {"site.dxf", "obj", ""},
        {"site.dxf", "3ds", "3D Studio does not keep: " + triangles + ", " + names},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.sample) + " to " + row.to);
        const fs::path output = dir_ / (std::string("out.") + row.to);
        const RunResult run = Converter({"--verify", std::string(TAMLORN_SAMPLES_DIR) + "/" + row.sample, output.string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, row.note.empty() ? "" : "tamlorn-convert: " + output.string() + ": " + row.note + "\n");
    }
}

// --verify reads back what was written; a test hook puts another file in its
// place first, and the difference is exit 6, with the output not put in place.
TEST_F(Convert, VerifyFailsOnAChangedFile) {
    const fs::path input = Write("in.obj", kTriangle);
    for (const std::string to : {"obj", "3ds", "dxf"}) {
        SCOPED_TRACE(to);
        const fs::path other = dir_ / ("cube." + to);
        ASSERT_EQ(Converter({std::string(TAMLORN_SAMPLES_DIR) + "/cube.obj", other.string()}).exitCode, 0);
        const fs::path output = dir_ / ("out." + to);
        const ScopedEnvironment swap("TAMLORN_CONVERT_TEST_SWAP_BEFORE_VERIFY", other.string());
        const RunResult run = Converter({"--verify", input.string(), output.string()});
        EXPECT_EQ(run.exitCode, 6);
        EXPECT_NE(run.err.find(output.string() + ": verification failed: "), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(output));
    }
}

// "-" reads standard input and writes standard output, through --from, --to
// and --name; --info reads standard input too.
TEST_F(Convert, StandardInputAndOutput) {
    const fs::path cube = fs::path(TAMLORN_SAMPLES_DIR) / "cube.obj";
    ASSERT_EQ(Converter({cube.string(), (dir_ / "box.dxf").string()}).exitCode, 0);
    const RunResult piped = Converter({"--quiet", "--from", "obj", "--to", "dxf", "-", "-"}, cube);
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, ReadFile(dir_ / "box.dxf"));
    const RunResult named = Converter({"--name", "box", "-", (dir_ / "in.obj").string()}, cube);
    EXPECT_EQ(named.exitCode, 0) << named.err;
    EXPECT_NE(ReadFile(dir_ / "in.obj").find("\ng box\n"), std::string::npos);
    const RunResult info = Converter({"--info", "--json", "-"}, cube);
    EXPECT_NE(info.out.find("\"name\": \"stdin\""), std::string::npos) << info.err;
    const RunResult wrong = Converter({"--from", "3ds", "-", (dir_ / "x.obj").string()}, cube);
    EXPECT_EQ(wrong.exitCode, 3);
    EXPECT_EQ(wrong.err, "tamlorn-convert: standard input: holds Wavefront OBJ, not 3D Studio as --from says\n");
}

}  // namespace
