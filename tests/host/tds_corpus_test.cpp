// Every 3D Studio file of the third-party corpus through the 3DS import server,
// as the host drives it, compared with lib3ds, an independent reader: the same
// points in file order (the host's y is the file's z), the same triangles with
// their corners in reverse order. Damaged copies of the same files (cut short,
// or with a byte of a chunk header changed) load what was readable or are
// refused, and leave no host or module block behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifdef TAMLORN_HAVE_LIB3DS
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#endif

#include "standin_host.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Position = std::array<double, 3>;
using Triangle = std::array<Position, 3>;

// What a load gave the host: point positions by index, each polygon's corner positions.
struct Shape {
    std::vector<Position> points;
    std::vector<Triangle> triangles;
};

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A new file each time, never one rewritten in place.
void WriteFile(const fs::path& path, const Bytes& bytes, size_t count) {
    fs::remove(path);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(count));
}

// The corpus's 3D Studio files: all but the licence notes.
std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TAMLORN_CORPUS_DIR) / "3ds"))
        if (entry.path().extension() != ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// ---- The chunk tree, walked by the test itself --------------------------------------

struct ChunkTree {
    std::vector<size_t> headers;            // offset of every chunk header met
    std::vector<std::string> meshObjects;   // the named objects holding a triangle mesh, in file order
};

uint16_t U16At(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32At(const Bytes& b, size_t at) { return U16At(b, at) | uint32_t(U16At(b, at + 2)) << 16; }

bool HoldsChunks(uint16_t id) {
    switch (id) {
        case 0x4D4D: case 0x3D3D: case 0xB000: case 0x4000: case 0x4100: case 0x4120:
        case 0xAFFF: case 0xA020: case 0xA040: case 0xA041: case 0xA050: return true;
        default: return false;
    }
}

// Walks the chunks from `pos` to `end`; `object` names the named object around them.
void WalkChunks(const Bytes& b, size_t pos, size_t end, const std::string& object, ChunkTree* tree) {
    while (pos + 6 <= end) {
        const uint16_t id = U16At(b, pos);
        const size_t length = U32At(b, pos + 2);
        if (length < 6 || length > end - pos) return;
        tree->headers.push_back(pos);
        size_t content = pos + 6;
        std::string owner = object;
        if (id == 0x4000) {  // the object name and its NUL come before the sub-chunks
            const auto nul = std::find(b.begin() + long(content), b.begin() + long(pos + length), 0);
            owner.assign(b.begin() + long(content), nul);
            content = size_t(nul - b.begin()) + 1;
        }
        if (id == 0x4100) tree->meshObjects.push_back(object);
        if (id == 0x4120 && content + 2 <= pos + length) content += 2 + 8 * size_t(U16At(b, content));
        if (HoldsChunks(id)) WalkChunks(b, content, pos + length, owner, tree);
        pos += length;
    }
}

ChunkTree Walk(const Bytes& b) {
    ChunkTree tree;
    WalkChunks(b, 0, b.size(), "", &tree);
    return tree;
}

// ---- The host's view ------------------------------------------------------------------

Position PositionOf(const HostPoint& p) { return {p.position0[0], p.position0[1], p.position0[2]}; }

// The loaded object is whole: every polygon a triangle on known points and a
// listed surface, every index in its place.
void ExpectConsistent(const HostObject& object) {
    const HostGeometry& g = *object.geometry;
    ASSERT_GE(g.pointCount, 1);
    for (int32_t i = 0; i < g.pointCount; ++i) ASSERT_EQ(g.points[i]->index, i);
    ASSERT_EQ(g.polygonCount, g.polygonCount2);
    ASSERT_GE(g.surfaceCount, 1);
    for (int32_t i = 0; i < g.polygonCount; ++i) {
        const HostPolygon& polygon = *g.polygons[i];
        ASSERT_EQ(polygon.index, i);
        ASSERT_EQ(polygon.cornerCount, 3);
        ASSERT_TRUE(polygon.surface >= 1 && polygon.surface <= g.surfaceCount) << "polygon " << i;
        for (uint16_t k = 0; k < 3; ++k) {
            const HostPolygonVertex& corner = *polygon.corners[k];
            ASSERT_EQ(corner.position, k);
            ASSERT_TRUE(corner.point->index >= 0 && corner.point->index < g.pointCount);
            ASSERT_EQ(g.points[corner.point->index], corner.point) << "polygon " << i << " corner " << k;
        }
    }
}

Shape ShapeOf(const HostObject& object) {
    const HostGeometry& g = *object.geometry;
    Shape shape;
    for (int32_t i = 0; i < g.pointCount; ++i) shape.points.push_back(PositionOf(*g.points[i]));
    for (int32_t i = 0; i < g.polygonCount; ++i) {
        HostPolygonVertex** corners = g.polygons[i]->corners;
        shape.triangles.push_back(
            {PositionOf(*corners[0]->point), PositionOf(*corners[1]->point), PositionOf(*corners[2]->point)});
    }
    return shape;
}

bool IsPrefix(const auto& part, const auto& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// ---- lib3ds's view ------------------------------------------------------------------------

#ifdef TAMLORN_HAVE_LIB3DS
// The file's (x, y, z) in the host's axes (x, z, y).
Position HostAxes(const Lib3dsPoint& p) { return {p.pos[0], p.pos[2], p.pos[1]}; }

// lib3ds's meshes put in file order (lib3ds keeps them sorted by name), the
// points appended mesh after mesh, each triangle's corners as lib3ds lists them.
Shape Lib3dsShape(const fs::path& path, const std::vector<std::string>& fileOrder) {
    Lib3dsFile* file = lib3ds_file_load(path.c_str());
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
        }
        for (Lib3dsDword i = 0; i < mesh.points; ++i) shape.points.push_back(HostAxes(mesh.pointL[i]));
    }
    lib3ds_file_free(file);
    return shape;
}
#endif

// ---- The fixture ------------------------------------------------------------------------

class TdsCorpusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(standin::LoadModule(TAMLORN_TESTHOOKS_MODULE_PATH, &error)) << error;
    }
    static void TearDownTestSuite() { standin::UnloadModule(); }

    void SetUp() override { blocksBefore_ = standin::LiveBlocks(); }
    void TearDown() override {
        Destroy();
        fs::remove(damaged_);
    }

    int32_t Load(const fs::path& path) {
        return standin::LoadFile(*standin::FindServer(true, "3ds"), &object_, path.string(), kLoadNewObject);
    }

    // Destroys the loaded object: every host block goes with it, and the
    // module's heap is empty after every load.
    void Destroy() {
        standin::DestroyObject(object_);
        object_ = nullptr;
        EXPECT_EQ(standin::LiveBlocks(), blocksBefore_) << "host blocks left behind";
        EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0) << "module blocks left behind";
    }

    // Loads the first `count` bytes of `bytes` as a file of its own: it is
    // refused with no object left in the slot, or it loads a whole object.
    // The loaded shape, empty when refused.
    Shape LoadDamaged(const Bytes& bytes, size_t count) {
        WriteFile(damaged_, bytes, count);
        const int32_t result = Load(damaged_);
        Shape shape;
        if (result == 0) {
            EXPECT_EQ(object_, nullptr) << "a refused load left its object";
        } else {
            EXPECT_EQ(result, 1);
            ExpectConsistent(*object_);
            shape = ShapeOf(*object_);
        }
        Destroy();
        return shape;
    }

    HostObject* object_ = nullptr;
    int64_t blocksBefore_ = 0;
    fs::path damaged_ = fs::temp_directory_path() / ("tamlorn_tds_corpus_" + std::to_string(getpid()) + ".3ds");
};

// ---- The files as they are ----------------------------------------------------------------

TEST_F(TdsCorpusTest, EveryFileIsTakenByTheCheckOfTheServerOnItsContent) {
    const std::vector<fs::path> files = CorpusFiles();
    ASSERT_EQ(files.size(), 8u);
    EXPECT_TRUE(std::any_of(files.begin(), files.end(), [](const fs::path& p) { return !p.has_extension(); }));
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        EXPECT_NE(standin::CheckFile(*standin::FindServer(true, "3ds"), path.string()), 0);
        EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "obj"), path.string()), 0);
        EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "dxf"), path.string()), 0);
    }
}

TEST_F(TdsCorpusTest, EveryFileLoadsTheTrianglesLib3dsReadsWithCornersReversed) {
#ifndef TAMLORN_HAVE_LIB3DS
    GTEST_SKIP() << "lib3ds is not installed";
#else
    for (const fs::path& path : CorpusFiles()) {
        SCOPED_TRACE(path.filename().string());
        const Shape expected = Lib3dsShape(path, Walk(ReadFile(path)).meshObjects);
        ASSERT_FALSE(expected.triangles.empty());
        ASSERT_EQ(Load(path), 1);
        ExpectConsistent(*object_);
        const Shape loaded = ShapeOf(*object_);
        Destroy();

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
    }
#endif
}

// ---- Damaged copies ------------------------------------------------------------------------

// A copy cut anywhere loads a leading part of the whole file: the points and
// triangles before the cut, complete up to the last whole record, or nothing.
TEST_F(TdsCorpusTest, CopiesCutShortLoadWhatComesBeforeTheCut) {
    constexpr size_t kCutsPerFile = 48;
    constexpr size_t kDenseHead = 24;  // every length around the main header and the sniffed bytes
    int32_t loaded = 0, refused = 0;
    for (const fs::path& path : CorpusFiles()) {
        SCOPED_TRACE(path.filename().string());
        const Bytes whole = ReadFile(path);
        const Shape full = LoadDamaged(whole, whole.size());
        ASSERT_FALSE(full.triangles.empty());
        const size_t step = whole.size() / kCutsPerFile + 1;
        for (size_t cut = 0; cut < whole.size(); cut += cut < kDenseHead ? 1 : step + cut % 13) {
            SCOPED_TRACE(cut);
            const Shape part = LoadDamaged(whole, cut);
            (part.points.empty() ? refused : loaded) += 1;
            EXPECT_TRUE(IsPrefix(part.points, full.points)) << "points not a leading part";
            EXPECT_TRUE(IsPrefix(part.triangles, full.triangles)) << "triangles not a leading part";
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

// A changed id or length in any chunk header: the copy loads a whole object
// or is refused.
TEST_F(TdsCorpusTest, ChangedHeaderBytesLoadAWholeObjectOrNothing) {
    constexpr size_t kHeadersPerFile = 8;
    int32_t loaded = 0, refused = 0;
    for (const fs::path& path : CorpusFiles()) {
        SCOPED_TRACE(path.filename().string());
        const Bytes whole = ReadFile(path);
        const std::vector<size_t> headers = Walk(whole).headers;
        ASSERT_GE(headers.size(), 10u);
        const size_t stride = headers.size() / kHeadersPerFile + 1;
        for (size_t h = 0; h < headers.size(); h += stride)
            for (size_t byte = 0; byte < 6; ++byte)
                for (uint8_t mask : {0x01, 0x80}) {  // the lowest and the highest bit of each byte
                    SCOPED_TRACE(testing::Message() << "header at " << headers[h] << " byte " << byte << " ^ "
                                                    << int(mask));
                    Bytes damaged = whole;
                    damaged[headers[h] + byte] ^= mask;
                    (LoadDamaged(damaged, damaged.size()).points.empty() ? refused : loaded) += 1;
                }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
