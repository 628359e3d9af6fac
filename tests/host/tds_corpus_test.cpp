// Every 3D Studio file of the third-party corpus through the 3DS import server,
// compared with lib3ds, an independent reader: the same points in file order
// (the host's y is the file's z), the same triangles with their corners
// reversed, on the same surfaces. Copies cut short load what comes before the
// cut or are refused, and leave no block behind (changed bytes: corruption_sweep_test).
#include <map>

#ifdef TAMLORN_HAVE_LIB3DS
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#endif

#include "host_support.h"
#include "standin_check.h"

namespace {

using namespace host_support;

using Position = std::array<double, 3>;
using Triangle = std::array<Position, 3>;

// Point positions by index, each triangle's corner positions and surface name.
struct Shape {
    std::vector<Position> points;
    std::vector<Triangle> triangles;
    std::vector<std::string> surfaces;
};

std::vector<fs::path> TdsFiles() { return CorpusFiles("3ds", ".txt"); }  // all but the licence notes

// The files damaged at every place a sweep can reach, the others sampled.
constexpr size_t kSmallFile = 8 * 1024;

// The loaded object is whole (the host's rules), every polygon a triangle.
void ExpectConsistent(const HostObject& object) {
    ASSERT_EQ(standin::ObjectProblem(object), "");
    for (int32_t i = 0; i < object.geometry->polygonCount; ++i)
        ASSERT_EQ(object.geometry->polygons[i]->cornerCount, 3) << "polygon " << i;
}

Shape ShapeOf(const HostObject& object) {
    const HostGeometry& g = *object.geometry;
    Shape shape;
    for (int32_t i = 0; i < g.pointCount; ++i) {
        const double* p = g.points[i]->position0;
        shape.points.push_back({p[0], p[1], p[2]});
    }
    for (int32_t i = 0; i < g.polygonCount; ++i) {
        const HostPolygon& polygon = *g.polygons[i];
        shape.surfaces.push_back(g.surfaceArray[polygon.surface - 1]->name);
        const auto corner = [&](int k) { return shape.points[polygon.corners[k]->point->index]; };
        if (polygon.cornerCount == 3) shape.triangles.push_back({corner(0), corner(1), corner(2)});
    }
    return shape;
}

bool IsPrefix(const auto& part, const auto& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

#ifdef TAMLORN_HAVE_LIB3DS
uint16_t U16At(std::string_view b, size_t at) {
    return static_cast<uint16_t>(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

// Appends the named objects that hold a triangle mesh, in file order, walking the chunks from `pos` to `end`
// inside the named object `object`.
void MeshObjects(std::string_view b, size_t pos, size_t end, const std::string& object,
                 std::vector<std::string>* names) {
    while (pos + 6 <= end) {
        const uint16_t id = U16At(b, pos);
        const size_t length = U16At(b, pos + 2) | size_t(U16At(b, pos + 4)) << 16;
        if (length < 6 || length > end - pos) return;
        if (id == 0x4100) names->push_back(object);
        if (id == 0x4D4D || id == 0x3D3D) MeshObjects(b, pos + 6, pos + length, object, names);
        if (id == 0x4000) {  // the object name and its NUL come before the sub-chunks
            const size_t nul = std::min(b.find('\0', pos + 6), pos + length);
            MeshObjects(b, nul + 1, pos + length, std::string(b.substr(pos + 6, nul - pos - 6)), names);
        }
        pos += length;
    }
}

// The file's (x, y, z) in the host's axes (x, z, y).
Position HostAxes(const Lib3dsPoint& p) { return {p.pos[0], p.pos[2], p.pos[1]}; }

// A face of a material group is on "object material", or the material alone
// when both start with the same word; a face outside every group on the object.
std::string SurfaceOf(const std::string& object, const std::string& material) {
    const bool sameWord = object.substr(0, object.find(' ')) == material.substr(0, material.find(' '));
    return LegalName(sameWord ? material : material.empty() ? object : object + " " + material);
}

// lib3ds's meshes put in file order (lib3ds keeps them sorted by name), the
// points appended mesh after mesh, each triangle's corners as lib3ds lists them.
Shape Lib3dsShape(const fs::path& path, const std::vector<std::string>& fileOrder) {
    Lib3dsFile* file = lib3ds_file_load(path.string().c_str());
    EXPECT_NE(file, nullptr);
    if (!file) return {};
    std::multimap<std::string, const Lib3dsMesh*> byName;
    for (const Lib3dsMesh* mesh = file->meshes; mesh; mesh = mesh->next) byName.emplace(mesh->name, mesh);
    EXPECT_EQ(byName.size(), fileOrder.size()) << "lib3ds and the chunk walk count different meshes";
    Shape shape;
    for (const std::string& name : fileOrder) {
        const auto found = byName.find(name);
        if (found == byName.end()) {
            ADD_FAILURE() << "lib3ds has no mesh " << name;
            continue;
        }
        const Lib3dsMesh& mesh = *found->second;
        byName.erase(found);
        for (Lib3dsDword k = 0; k < mesh.faces; ++k) {
            const Lib3dsWord* c = mesh.faceL[k].points;
            const Lib3dsPoint* p = mesh.pointL;
            if (std::max({c[0], c[1], c[2]}) >= mesh.points) {
                ADD_FAILURE() << "lib3ds face " << k << " of " << name << " refers past its points";
                continue;
            }
            shape.triangles.push_back({HostAxes(p[c[0]]), HostAxes(p[c[1]]), HostAxes(p[c[2]])});
            shape.surfaces.push_back(SurfaceOf(name, mesh.faceL[k].material));
        }
        for (Lib3dsDword i = 0; i < mesh.points; ++i) shape.points.push_back(HostAxes(mesh.pointL[i]));
    }
    lib3ds_file_free(file);
    return shape;
}
#endif

class TdsCorpusTest : public ModuleTest {
protected:
    // Loads `bytes` as a file of its own: it is refused with no object left in
    // the slot, or it loads a whole object. The loaded shape, empty when refused.
    Shape LoadDamaged(std::string_view bytes) {
        const int32_t result = Load(Write("damaged.3ds", bytes), kLoadNewObject, "3ds");
        Shape shape;
        if (result == 0) {
            EXPECT_EQ(object_, nullptr) << "a refused load left its object";
        } else {
            EXPECT_EQ(result, 1);
            ExpectConsistent(*object_);
            shape = ShapeOf(*object_);
        }
        DestroyLoaded();
        return shape;
    }
};

// The content decides: every file, whatever its extension or none, passes
// only the 3D Studio server's check, and loads the triangles lib3ds reads.
TEST_F(TdsCorpusTest, EveryFileLoadsTheTrianglesLib3dsReadsWithCornersReversed) {
    const std::vector<fs::path> files = TdsFiles();
    ASSERT_EQ(files.size(), 8u);
    EXPECT_TRUE(std::any_of(files.begin(), files.end(), [](const fs::path& p) { return !p.has_extension(); }));
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        EXPECT_NE(standin::CheckFile(*standin::FindServer(true, "3ds"), path.string()), 0);
        EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "obj"), path.string()), 0);
        EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "dxf"), path.string()), 0);
#ifdef TAMLORN_HAVE_LIB3DS
        const std::string bytes = ReadFile(path);
        std::vector<std::string> meshObjects;
        MeshObjects(bytes, 0, bytes.size(), "", &meshObjects);
        const Shape expected = Lib3dsShape(path, meshObjects);
        ASSERT_FALSE(expected.triangles.empty());
        ASSERT_EQ(Load(path, kLoadNewObject, "3ds"), 1);
        ExpectConsistent(*object_);
        const Shape loaded = ShapeOf(*object_);
        DestroyLoaded();
        ASSERT_EQ(loaded.points.size(), expected.points.size());
        ASSERT_EQ(loaded.triangles.size(), expected.triangles.size());
        EXPECT_TRUE(loaded.points == expected.points) << "points differ";
        size_t wrong = 0, firstWrong = 0;
        for (size_t i = 0; i < loaded.triangles.size(); ++i) {
            const Triangle& t = expected.triangles[i];
            if (loaded.triangles[i] == Triangle{t[2], t[1], t[0]}) continue;
            if (wrong++ == 0) firstWrong = i;
        }
        EXPECT_EQ(wrong, 0u) << "first differing triangle " << firstWrong;
        EXPECT_TRUE(loaded.surfaces == expected.surfaces) << "surfaces differ";
#endif
    }
#ifndef TAMLORN_HAVE_LIB3DS
    GTEST_SKIP() << "lib3ds is not installed: triangles not compared";
#endif
}

// A copy cut anywhere loads a leading part of the whole file: the points and
// triangles before the cut, complete up to the last whole record, or nothing.
// Files up to kSmallFile bytes are cut at every length, larger ones at
// every length of their head and kCutsPerFile more places.
TEST_F(TdsCorpusTest, CopiesCutShortLoadWhatComesBeforeTheCut) {
    constexpr size_t kCutsPerFile = 48;
    constexpr size_t kDenseHead = 24;  // every length around the main header and the sniffed bytes
    int32_t loaded = 0, refused = 0;
    for (const fs::path& path : TdsFiles()) {
        SCOPED_TRACE(path.filename().string());
        const std::string whole = ReadFile(path);
        const Shape full = LoadDamaged(whole);
        ASSERT_FALSE(full.triangles.empty());
        const size_t step = whole.size() <= kSmallFile ? 0 : whole.size() / kCutsPerFile;
        for (size_t cut = 0; cut < whole.size(); cut += cut < kDenseHead || step == 0 ? 1 : step + cut % 13) {
            SCOPED_TRACE(cut);
            const Shape part = LoadDamaged(std::string_view(whole).substr(0, cut));
            (part.points.empty() ? refused : loaded) += 1;
            EXPECT_TRUE(IsPrefix(part.points, full.points)) << "points not a leading part";
            EXPECT_TRUE(IsPrefix(part.triangles, full.triangles)) << "triangles not a leading part";
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
