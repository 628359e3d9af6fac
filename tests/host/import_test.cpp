// The import path as the host drives it: load callback, load glue, import
// driver, builder. Loads go through the built library in the stand-in host.
#include <cstring>
#include <tuple>
#include <string>

#include "host_support.h"

namespace {

using namespace host_support;

class ImportTest : public ModuleTest {
protected:
    static std::string LastArg(const char* function, size_t index) {
        const auto calls = standin::CallsOf(function);
        return calls.empty() ? "<not called>" : calls.back().args.at(index);
    }
};

// The object is named after the file without its extension, cleaned by the
// preferred rule; a name far longer than the glue's work buffer is cut, never overrun.
TEST_F(ImportTest, ObjectIsNamedAfterTheFile) {
    const size_t kLongName = kLongPaths ? 250 : 150;  // where paths end at 260 characters, the folder's path fits too
    const struct {
        std::string file;
        int32_t legalNames;
        bool relative;  // loaded by its bare name from its folder
        uint32_t flags;
        std::string name;
        std::string fileName = {};  // what follows the last separator, when not the whole file
    } rows[] = {
        {"chair.final.obj", 1, false, kLoadNewObject, "chair.final"},
        {"my #1 chair.obj", 1, false, kLoadNewObject, "my__1_chair"},
        {"my #1 chair.obj", 0, false, kLoadNewObject, "my_#1_chair"},
        {"plain.obj", 1, true, kLoadNewObject, "plain"},
        {"kept.obj", 1, false, kLoadNewObject | kLoadKeepName, "Unnamed"},
        {std::string(kLongName, 'n') + ".obj", 1, false, kLoadNewObject, std::string(kLongName, 'n')},
        // a separator as the second character still counts
        {DriveRelativePath(dir_, "b.obj"), 1, true, kLoadNewObject, "b", "b.obj"},
        // as the host hands paths: drive letter and backslashes
        {HostStylePath(dir_, "chair.final.obj"), 1, true, kLoadNewObject, "chair.final", "chair.final.obj"},
    };
    const fs::path cwd = fs::current_path();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file + " legalNames=" + std::to_string(row.legalNames));
        standin::ClearCallLog();
        standin::NamingPrefs().legalNames = row.legalNames;
        const std::string written = Write(row.file, kTriangleObj).string();
        const std::string path = row.relative ? row.file : written;
        if (row.relative) fs::current_path(dir_);
        const int32_t result = Load(path, row.flags);
        fs::current_path(cwd);
        ASSERT_EQ(result, 1);
        EXPECT_STREQ(object_->name, row.name.c_str());
        EXPECT_EQ(LastArg("FX_ObjectRenamePath", 1), path);
        EXPECT_EQ(LastArg("FX_ObjectRenameFile", 1), row.fileName.empty() ? row.file : row.fileName);
        EXPECT_EQ(standin::CallsOf("FX_ObjectRename").size(), row.flags & kLoadKeepName ? 0u : 1u);
        ASSERT_TRUE(DestroyLoaded());
    }
    EXPECT_EQ(Load(dir_ / std::string(1100, 'x')), 0);
}

// An object saved to a path as the host hands it (loading one: ObjectIsNamedAfterTheFile) takes the file's name.
TEST_F(ImportTest, WindowsPathsGoThroughAsTheHostHandsThem) {
    Build(TriangleObject("tri"));
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);  // where a host-style path is a file name of its own off Windows
    const std::string output = HostStylePath(dir_, "chair.saved.obj");
    EXPECT_EQ(standin::SaveObject(*standin::FindServer(false, "obj"), object_, output, 0), 1);
    const std::string text = ReadFile(output);
    fs::current_path(cwd);
    EXPECT_NE(text.find("\ng chair.saved\n"), std::string::npos) << text;
}

// A path of exactly `length` characters in `dir`, its folders made (each name under 255 bytes).
fs::path PathOfLength(fs::path folder, size_t length) {
    while (length - folder.string().size() > 250) fs::create_directories(folder /= std::string(200, 'd'));
    return folder / (std::string(length - folder.string().size() - 5, 'n') + ".obj");
}

// The import's path copy takes 1023 characters: such a path loads whole; a
// longer one is refused (a cut path would name another file), though a check
// reads it and a save writes it, the object name cut to the export's 511.
TEST_F(ImportTest, PathsUpTo1023CharactersLoad) {
    if (!kLongPaths) GTEST_SKIP() << "this system's programs reach no path past 260 characters";
    for (const size_t length : {1023, 1024, 1324}) {
        SCOPED_TRACE(length);
        const fs::path path = WriteFile(PathOfLength(dir_, length), kTriangleObj);
        ASSERT_EQ(path.string().size(), length);
        EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "obj"), path.string()), 1);
        EXPECT_EQ(Load(path), length < 1024 ? 1 : 0);
        if (object_) {
            EXPECT_EQ(LastArg("FX_ObjectRenamePath", 1), path.string());
        }
        ASSERT_TRUE(DestroyLoaded());
    }
    Build(TriangleObject("tri"));
    const fs::path path = PathOfLength(dir_, 1324);
    ASSERT_EQ(standin::SaveObject(*standin::FindServer(false, "obj"), object_, path.string(), 0), 1);
    EXPECT_NE(ReadFile(path).find("\ng " + path.string().substr(0, 511) + "\n"), std::string::npos);
}

TEST_F(ImportTest, ReplacingGeometryWithOldNameKeepsTheName) {
    ASSERT_EQ(Load(Write("first.obj", kTriangleObj)), 1);
    ASSERT_EQ(Load(Write("second.obj", "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 2 2 0\nf 1 2 4 3\n"),
                   kLoadReplaceGeometry | kLoadNameFromOldObject),
              1);
    EXPECT_STREQ(object_->name, "first");
    EXPECT_EQ(object_->geometry->pointCount, 4);
    EXPECT_EQ(standin::CallsOf("NotifyModes").size(), 1u);
    // An old name longer than the glue's 512-byte work buffer is cut to 511 characters.
    object_->name = static_cast<char*>(standin::Core()->realloc(object_->name, 701));
    ASSERT_NE(object_->name, nullptr);
    std::memset(object_->name, 'o', 700);
    object_->name[700] = 0;
    ASSERT_EQ(Load(Write("third.obj", kTriangleObj), kLoadReplaceGeometry | kLoadNameFromOldObject), 1);
    EXPECT_EQ(std::string(object_->name), std::string(511, 'o'));
}

TEST_F(ImportTest, FinishedObjectCarriesFlagsBoxSurfaceEdgesAndNormals) {
    ASSERT_EQ(standin::LoadFile(*standin::FindServer(true, "obj"), &object_, Write("t.obj", kTriangleObj).string(),
                                kLoadNewObject, 16, 0xABCDEF0123ull),
              1);
    const HostGeometry* g = object_->geometry;
    EXPECT_EQ(std::tuple(object_->loaded, object_->flags & 3u, object_->hostValue, g->edgeCount, g->normalCount,
                         g->box.max[0], g->box.max[1]),
              std::tuple(1u, 3u, 0xABCDEF0123ull, 3, 1, 1.0, 1.0));
    ASSERT_EQ(g->surfaceCount, 1);
    EXPECT_STREQ(g->surfaceList->name, "Default");
    ASSERT_NE(g->surfaceArray, nullptr);
    EXPECT_EQ(g->surfaceArray[0], g->surfaceList);
    ASSERT_NE(g->points[0]->extra, nullptr);  // point data size 16
    EXPECT_EQ(standin::CallsOf("FX_ExclusiveAllocate").size(), 1u);
}

TEST_F(ImportTest, PointsOnlyStopsAfterTheBoundingBox) {
    ASSERT_EQ(Load(Write("p.obj", kTriangleObj), kLoadPointsOnly), 1);
    const HostGeometry* g = object_->geometry;
    EXPECT_EQ(std::tuple(g->pointCount, g->polygonCount, g->surfaceCount), std::tuple(3, 0, 0));
    for (const char* skipped : {"FX_SurfaceCreate", "FX_EdgeListCreate", "FX_NormalInit"})
        EXPECT_TRUE(standin::CallsOf(skipped).empty()) << skipped;
    EXPECT_EQ(standin::CallsOf("FX_BoundingBoxGet").size(), 1u);
}

// Kept surfaces x, y, a_b; the file's five surfaces all clean to one of them,
// so no surface is added and the polygons on scene surfaces 4 and 5 fall back to 1.
TEST_F(ImportTest, KeptSurfacesClampLargerSurfaceNumbers) {
    Build({"object", {P(0, 0, 0), P(1, 0, 0), P(2, 0, 0)}, {{"x"}, {"y"}, {"a_b"}}, {{{0, 1, 2}, 1}}, {}});
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                            "usemtl x\nf 1 2 3\nusemtl y\nf 1 2 3\nusemtl a b\nf 1 2 3\n"
                            "usemtl a#b\nf 1 2 3\nusemtl a_b\nf 1 2 3\n";
    ASSERT_EQ(Load(Write("kept.obj", obj), kLoadReplaceGeometry | kLoadKeepSurfaces), 1);
    const HostGeometry* g = object_->geometry;
    ASSERT_EQ(g->surfaceCount, 3);
    ASSERT_EQ(g->polygonCount, 5);
    const int expected[] = {1, 2, 3, 1, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g->polygons[i]->surface, expected[i]) << "polygon " << i;
    EXPECT_EQ(g->surfaceArray[2], g->surfaceList->next->next);
}

// With no flag asking for an object the file is read and validated, the load
// answers 1 and the slot is left as it was. A new-object load into a slot whose
// object has geometry would overwrite it: it is refused and the object stays.
TEST_F(ImportTest, TheSlotChangesOnlyWhenTheFlagsAskForANewObject) {
    const fs::path path = Write("v.obj", kTriangleObj);
    EXPECT_EQ(Load(path, 0), 1);
    EXPECT_EQ(object_, nullptr);
    EXPECT_EQ(Load(path, kLoadReplaceGeometry), 1);
    EXPECT_EQ(object_, nullptr);
    EXPECT_EQ(Load(Write("bad.obj", "v 0 0 0\nf 1 2 3\n"), 0), 0);
    Build({"object", {P(5, 5, 5)}, {}, {}, {}});
    HostObject* const object = object_;
    HostGeometry* const geometry = object_->geometry;
    standin::ClearCallLog();
    for (const uint32_t flags : {0u, kLoadNewObject}) {
        EXPECT_EQ(Load(path, flags), flags ? 0 : 1) << flags;
        EXPECT_EQ(object_, object);
        EXPECT_EQ(object_->geometry, geometry);
        EXPECT_EQ(object_->geometry->pointCount, 1);
    }
    EXPECT_TRUE(standin::CallsOf("FX_ObjectRename").empty());
}

// The content decides the reader, whatever server was asked: OBJ text passes
// only the OBJ server's check. A refused load leaves no object and no message.
TEST_F(ImportTest, LoadsThatFailLeaveNoObject) {
    const struct {
        const char* file;
        const char* text;  // null: no such file
        const char* server;
        int32_t result;
    } rows[] = {
        {"missing.obj", nullptr, "obj", 0},        {"empty.obj", "", "obj", 0},
        {"text.obj", "hello world\n", "obj", 0},   {"badindex.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n", "obj", 0},
        {"tri.dxf", kTriangleObj, "dxf", 0},       {"tri.dxf", kTriangleObj, "obj", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " through " + row.server);
        const fs::path path = row.text ? Write(row.file, row.text) : dir_ / row.file;
        EXPECT_EQ(Load(path, kLoadNewObject, row.server), row.result);
        EXPECT_EQ(object_ != nullptr, row.result == 1);
        EXPECT_TRUE(standin::Messages().empty());
        ASSERT_TRUE(DestroyLoaded());
    }
}

// Every host allocation of a small import is failed in turn, loading a new object and replacing an object's
// geometry with its surfaces kept: the load ends in 0 with at most the memory message, or succeeds without
// any message; a new object is left only when it loads, a replaced one stays; no host block is leaked.
TEST_F(ImportTest, EveryHostAllocationFailureEndsCleanly) {
    const fs::path path = Write("uv.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                                          "usemtl a\nf 1/1 2/2 3/3\nusemtl b\nf 2/2 4/1 3/3\nl 1 4\np 2\n");
    for (const uint32_t flags : {kLoadNewObject, kLoadReplaceGeometry | kLoadKeepSurfaces}) {
        const bool replace = flags != kLoadNewObject;
        const auto prepare = [&] {
            if (replace) Build({"object", {P(0, 0, 0), P(1, 0, 0)}, {{"a"}, {"z"}}, {{{0, 1}, 2}}, {}});
            standin::ClearMessages();
            return standin::AllocationCount();
        };
        const int64_t before = prepare();
        ASSERT_EQ(Load(path, flags), 1);
        const int64_t allocations = standin::AllocationCount() - before;
        ASSERT_TRUE(DestroyLoaded());
        size_t messages = 0;
        for (int64_t n = 1; n <= allocations; ++n) {
            SCOPED_TRACE("n=" + std::to_string(n) + (replace ? " replacing" : ""));
            prepare();
            standin::FailAllocationAt(n);
            const int32_t result = Load(path, flags);
            standin::FailAllocationAt(0);
            EXPECT_EQ(object_ != nullptr, replace || result == 1);
            EXPECT_LE(standin::Messages().size(), result == 0 ? 1u : 0u);
            messages += standin::Messages().size();
            for (const auto& [line1, line2] : standin::Messages()) {
                EXPECT_EQ(line1 + " " + line2, "There isn't enough memory available to perform this operation!");
            }
            ASSERT_TRUE(DestroyLoaded());
        }
        EXPECT_GT(messages, 20u);
    }
}

}  // namespace
