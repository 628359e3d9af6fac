// The import path as the host drives it: load callback, load glue, import
// driver, builder. Loads go through the built library in the stand-in host.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "standin_host.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTriangleObj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

class ImportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(standin::LoadModule(TAMLORN_TESTHOOKS_MODULE_PATH, &error)) << error;
    }
    static void TearDownTestSuite() { standin::UnloadModule(); }

    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tamlorn_import_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        standin::NamingPrefs().legalNames = 1;
        standin::ClearCallLog();
        standin::ClearMessages();
        blocksBefore_ = standin::LiveBlocks();
    }
    void TearDown() override {
        standin::DestroyObject(object_);
        object_ = nullptr;
        EXPECT_EQ(standin::LiveBlocks(), blocksBefore_) << "host blocks left behind";
        EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0);
        fs::remove_all(dir_);
    }

    std::string Write(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    int32_t Load(const std::string& path, uint32_t flags, const char* extension = "obj") {
        return standin::LoadFile(*standin::FindServer(true, extension), &object_, path, flags);
    }

    static std::string LastArg(const char* function, size_t index) {
        const auto calls = standin::CallsOf(function);
        return calls.empty() ? "<not called>" : calls.back().args.at(index);
    }

    fs::path dir_;
    HostObject* object_ = nullptr;
    int64_t blocksBefore_ = 0;
};

// ---- Naming ------------------------------------------------------------------------

TEST_F(ImportTest, ObjectIsNamedAfterTheFileWithoutItsExtension) {
    const std::string path = Write("chair.final.obj", kTriangleObj);
    ASSERT_EQ(Load(path, kLoadNewObject), 1);
    EXPECT_EQ(LastArg("FX_ObjectRenameFile", 1), "chair.final.obj");
    EXPECT_EQ(LastArg("FX_ObjectRename", 1), "chair.final");
    EXPECT_STREQ(object_->name, "chair.final");
    EXPECT_EQ(LastArg("FX_ObjectRenamePath", 1), path);
}

TEST_F(ImportTest, NameIsCleanedByThePreferredRule) {
    const std::string path = Write("my #1 chair.obj", kTriangleObj);
    ASSERT_EQ(Load(path, kLoadNewObject), 1);
    EXPECT_STREQ(object_->name, "my__1_chair");
    standin::DestroyObject(object_);
    object_ = nullptr;

    standin::NamingPrefs().legalNames = 0;
    ASSERT_EQ(Load(path, kLoadNewObject), 1);
    EXPECT_STREQ(object_->name, "my_#1_chair");
}

TEST_F(ImportTest, PathWithoutSeparatorIsTheFileName) {
    Write("plain.obj", kTriangleObj);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    const int32_t result = Load("plain.obj", kLoadNewObject);
    fs::current_path(cwd);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(LastArg("FX_ObjectRenameFile", 1), "plain.obj");
    EXPECT_STREQ(object_->name, "plain");
}

TEST_F(ImportTest, KeepNameFlagSkipsOnlyTheRename) {
    ASSERT_EQ(Load(Write("kept.obj", kTriangleObj), kLoadNewObject | kLoadKeepName), 1);
    EXPECT_TRUE(standin::CallsOf("FX_ObjectRename").empty());
    EXPECT_EQ(standin::CallsOf("FX_ObjectRenamePath").size(), 1u);
    EXPECT_EQ(LastArg("FX_ObjectRenameFile", 1), "kept.obj");
}

TEST_F(ImportTest, ReplacingGeometryWithOldNameKeepsTheName) {
    ASSERT_EQ(Load(Write("first.obj", kTriangleObj), kLoadNewObject), 1);
    ASSERT_EQ(Load(Write("second.obj", "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 2 2 0\nf 1 2 4 3\n"),
                   kLoadReplaceGeometry | kLoadNameFromOldObject),
              1);
    EXPECT_STREQ(object_->name, "first");
    EXPECT_EQ(object_->geometry->pointCount, 4);
    EXPECT_EQ(standin::CallsOf("NotifyModes").size(), 1u);
}

// A name source far longer than the glue's work buffer is cut, never overrun.
TEST_F(ImportTest, VeryLongFileNameIsCut) {
    const std::string stem(250, 'n');
    ASSERT_EQ(Load(Write(stem + ".obj", kTriangleObj), kLoadNewObject), 1);
    EXPECT_EQ(std::string(object_->name), stem);
    const std::string tooLong = (dir_ / std::string(1100, 'x')).string();
    EXPECT_EQ(Load(tooLong, kLoadNewObject), 0);
}

// ---- The finished object -------------------------------------------------------------

TEST_F(ImportTest, FinishedObjectCarriesFlagsBoxSurfaceEdgesAndNormals) {
    ASSERT_EQ(standin::LoadFile(*standin::FindServer(true, "obj"), &object_, Write("t.obj", kTriangleObj),
                                kLoadNewObject, 16, 0xABCDEF0123ull),
              1);
    const HostGeometry* g = object_->geometry;
    EXPECT_EQ(object_->loaded, 1u);
    EXPECT_EQ(object_->flags & 3u, 3u);
    EXPECT_EQ(object_->hostValue, 0xABCDEF0123ull);
    ASSERT_EQ(g->surfaceCount, 1);
    EXPECT_STREQ(g->surfaceList->name, "Default");
    ASSERT_NE(g->surfaceArray, nullptr);
    EXPECT_EQ(g->surfaceArray[0], g->surfaceList);
    EXPECT_EQ(g->edgeCount, 3);
    EXPECT_EQ(g->normalCount, 1);
    EXPECT_DOUBLE_EQ(g->box.max[0], 1.0);
    EXPECT_DOUBLE_EQ(g->box.max[1], 1.0);
    ASSERT_NE(g->points[0]->extra, nullptr);  // point data size 16
    EXPECT_EQ(standin::CallsOf("FX_ExclusiveAllocate").size(), 1u);
}

TEST_F(ImportTest, PointsOnlyStopsAfterTheBoundingBox) {
    ASSERT_EQ(Load(Write("p.obj", kTriangleObj), kLoadPointsOnly), 1);
    const HostGeometry* g = object_->geometry;
    EXPECT_EQ(g->pointCount, 3);
    EXPECT_EQ(g->polygonCount, 0);
    EXPECT_EQ(g->surfaceCount, 0);
    EXPECT_TRUE(standin::CallsOf("FX_SurfaceCreate").empty());
    EXPECT_TRUE(standin::CallsOf("FX_EdgeListCreate").empty());
    EXPECT_TRUE(standin::CallsOf("FX_NormalInit").empty());
    EXPECT_EQ(standin::CallsOf("FX_BoundingBoxGet").size(), 1u);
}

// Kept surfaces x, y, a_b; the file's five surfaces all clean to one of them,
// so no surface is added and the polygons on scene surfaces 4 and 5 fall back to 1.
TEST_F(ImportTest, KeptSurfacesClampLargerSurfaceNumbers) {
    standin::ObjectSpec spec;
    for (int i = 0; i < 3; ++i) spec.points.push_back({{double(i), 0, 0}, {}, false});
    spec.surfaces = {{"x"}, {"y"}, {"a_b"}};
    spec.polygons = {{{0, 1, 2}, 1}};
    object_ = standin::BuildObject(spec);
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

// ---- Load flags and the slot ------------------------------------------------------------

// With no flag asking for an object the file is read and validated, the load
// answers 1 and the slot is left as it was.
TEST_F(ImportTest, NoObjectFlagReadsButBuildsNothing) {
    const std::string path = Write("v.obj", kTriangleObj);
    EXPECT_EQ(Load(path, 0), 1);
    EXPECT_EQ(object_, nullptr);
    EXPECT_EQ(Load(path, kLoadReplaceGeometry), 1);
    EXPECT_EQ(object_, nullptr);
    EXPECT_EQ(Load(Write("bad.obj", "v 0 0 0\nf 1 2 3\n"), 0), 0);

    standin::ObjectSpec spec;
    spec.points = {{{5, 5, 5}, {}, false}};
    object_ = standin::BuildObject(spec);
    HostGeometry* before = object_->geometry;
    standin::ClearCallLog();
    EXPECT_EQ(Load(path, 0), 1);
    EXPECT_EQ(object_->geometry, before);
    EXPECT_EQ(object_->geometry->pointCount, 1);
    EXPECT_TRUE(standin::CallsOf("FX_ObjectRename").empty());
}

// A new-object load into a slot whose object already has geometry would
// overwrite it: the load is refused and the object stays as it was.
TEST_F(ImportTest, NewObjectFlagDoesNotOverwriteAnObjectInTheSlot) {
    standin::ObjectSpec spec;
    spec.points = {{{5, 5, 5}, {}, false}};
    object_ = standin::BuildObject(spec);
    HostObject* before = object_;
    EXPECT_EQ(Load(Write("n.obj", kTriangleObj), kLoadNewObject), 0);
    EXPECT_EQ(object_, before);
    EXPECT_EQ(object_->geometry->pointCount, 1);
}

// ---- Failures -------------------------------------------------------------------------------

TEST_F(ImportTest, FailedLoadsLeaveNoObjectAndNoBlocks) {
    EXPECT_EQ(Load((dir_ / "missing.obj").string(), kLoadNewObject), 0);
    EXPECT_EQ(Load(Write("empty.obj", ""), kLoadNewObject), 0);
    EXPECT_EQ(Load(Write("text.obj", "hello world\n"), kLoadNewObject), 0);
    EXPECT_EQ(Load(Write("badindex.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n"), kLoadNewObject), 0);
    EXPECT_EQ(object_, nullptr);
    EXPECT_TRUE(standin::Messages().empty());
}

// The content decides the reader, whatever server was asked: an OBJ file
// passes the OBJ server's check, and the load through that server reads it.
TEST_F(ImportTest, LoadRunsItsOwnServersCheckFirst) {
    const std::string path = Write("tri.dxf", kTriangleObj);
    EXPECT_EQ(Load(path, kLoadNewObject, "dxf"), 0);
    EXPECT_EQ(object_, nullptr);
    EXPECT_EQ(Load(path, kLoadNewObject, "obj"), 1);
}

// Every host allocation of a small import is failed in turn: the load ends
// in 0 with no object left behind, or succeeds without any memory message;
// either way no host block is leaked.
TEST_F(ImportTest, EveryHostAllocationFailureEndsCleanly) {
    const std::string path =
        Write("uv.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                        "usemtl wood\nf 1/1 2/2 3/3\nf 2/2 4/1 3/3\nl 1 4\np 2\n");
    const int64_t before = standin::AllocationCount();
    ASSERT_EQ(Load(path, kLoadNewObject), 1);
    const int64_t allocations = standin::AllocationCount() - before;
    standin::DestroyObject(object_);
    object_ = nullptr;

    int messages = 0;
    for (int64_t n = 1; n <= allocations; ++n) {
        standin::ClearMessages();
        standin::FailAllocationAt(n);
        const int32_t result = Load(path, kLoadNewObject);
        standin::FailAllocationAt(0);
        if (result == 0) {
            EXPECT_EQ(object_, nullptr) << "n=" << n;
            EXPECT_LE(standin::Messages().size(), 1u) << "n=" << n;
            messages += static_cast<int>(standin::Messages().size());
        } else {
            EXPECT_TRUE(standin::Messages().empty()) << "n=" << n;
        }
        for (const auto& [line1, line2] : standin::Messages()) {
            EXPECT_EQ(line1, "There isn't enough memory available");
            EXPECT_EQ(line2, "to perform this operation!");
        }
        standin::DestroyObject(object_);
        object_ = nullptr;
        ASSERT_EQ(standin::LiveBlocks(), blocksBefore_) << "n=" << n;
    }
    EXPECT_GT(messages, 20);
}

// Replacing geometry with kept surfaces under every allocation failure: the
// object stays in the slot and nothing it owned is leaked.
TEST_F(ImportTest, ReplaceWithKeptSurfacesSurvivesEveryAllocationFailure) {
    const std::string path = Write("r.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 3 2 1\n");
    for (int64_t n = 1; n < 200; ++n) {
        standin::ObjectSpec spec;
        spec.points = {{{0, 0, 0}, {}, false}, {{1, 0, 0}, {}, false}, {{0, 1, 0}, {}, false}};
        spec.surfaces = {{"a"}, {"z"}};
        spec.polygons = {{{0, 1, 2}, 2}};
        object_ = standin::BuildObject(spec);
        standin::FailAllocationAt(n);
        Load(path, kLoadReplaceGeometry | kLoadKeepSurfaces);
        standin::FailAllocationAt(0);
        ASSERT_NE(object_, nullptr) << "n=" << n;
        standin::DestroyObject(object_);
        object_ = nullptr;
        ASSERT_EQ(standin::LiveBlocks(), blocksBefore_) << "n=" << n;
    }
}

// Every allocation of the module's own heap is failed in turn: the load ends
// in 0 without an object, or succeeds, and the module heap is empty afterwards.
TEST_F(ImportTest, EveryModuleHeapFailureEndsCleanly) {
    const std::string path = Write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\ng body\nusemtl w\nf 1/1 2/1 3/1\n");
    for (int64_t n = 1;; ++n) {
        ASSERT_TRUE(standin::ModuleHeapFailAt(n));
        const int32_t result = Load(path, kLoadNewObject);
        ASSERT_TRUE(standin::ModuleHeapFailAt(0));
        EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0) << "n=" << n;
        if (result == 0) {
            EXPECT_EQ(object_, nullptr) << "n=" << n;
        }
        standin::DestroyObject(object_);
        object_ = nullptr;
        EXPECT_EQ(standin::LiveBlocks(), blocksBefore_) << "n=" << n;
        if (result == 1) break;
        ASSERT_LT(n, 100) << "the load never succeeds";
    }
}

}  // namespace
