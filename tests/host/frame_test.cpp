// The module's outward face as the host meets it: the built library loaded by
// the stand-in host, its six inits, the server records they fill and the small
// callbacks those records hold.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "standin_host.h"

namespace {

namespace fs = std::filesystem;

struct ExpectedServer {
    const char* initName;
    bool isImport;
    const char* extension;
    const char* description;
    const char* lookupName;
};

const ExpectedServer kExpected[6] = {
    {"ObjectInitWavefront", true, "obj", "Wavefront Object", "ObjectLoadOBJ"},
    {"ObjectInit3DS", true, "3ds", "3D Studio Object", "ObjectLoad3DS"},
    {"ObjectInitDXF", true, "dxf", "DXF Object", "ObjectLoadDXF"},
    {"ObjectInitSaveWavefront", false, "obj", "Wavefront Object", "ObjectSaveOBJ"},
    {"ObjectInitSave3DS", false, "3ds", "3D Studio Object", "ObjectSave3DS"},
    {"ObjectInitSaveDXF", false, "dxf", "DXF Object", "ObjectSaveDXF"},
};

const std::set<std::string> kExportedNames = {"FileImportServers",       "FileExportServers", "ObjectInitWavefront",
                                              "ObjectInit3DS",           "ObjectInitDXF",     "ObjectInitSaveWavefront",
                                              "ObjectInitSave3DS",       "ObjectInitSaveDXF"};

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) result.output += line;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The names a library exports, as the dynamic symbol table lists them.
std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
    const CommandResult nm = RunCommand("nm -D --defined-only '" + library + "'");
    EXPECT_EQ(nm.status, 0) << nm.output;
    std::set<std::string> names;
    for (const std::string& line : Lines(nm.output)) {
        const size_t space = line.rfind(' ');
        if (space != std::string::npos) names.insert(line.substr(space + 1));
    }
    return names;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The smallest head the 3D Studio check accepts: the main chunk id at 0 and the
// editor chunk id at 16, little-endian.
std::vector<uint8_t> Head3DS(size_t size) {
    std::vector<uint8_t> bytes(size, 0);
    bytes[0] = 0x4D;
    bytes[1] = 0x4D;
    if (size >= 18) {
        bytes[16] = 0x3D;
        bytes[17] = 0x3D;
    }
    return bytes;
}

standin::PointSpec Point(double x, double y, double z) { return {{x, y, z}, {}, false}; }

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::ClearCallLog();
        standin::ClearMessages();
        std::string error;
        ASSERT_TRUE(standin::LoadModule(TAMLORN_MODULE_PATH, &error)) << error;
        ASSERT_EQ(standin::Servers().size(), 6u);
        directory_ = fs::path(::testing::TempDir()) / ("tamlorn_frame_" + std::to_string(getpid()));
        fs::create_directories(directory_);
    }
    void TearDown() override {
        standin::UnloadModule();
        fs::remove_all(directory_);
    }

    const standin::Server& ServerAt(size_t i) { return standin::Servers().at(i); }
    std::string PathOf(const char* name) { return (directory_ / name).string(); }

    fs::path directory_;
};

TEST_F(FrameTest, EveryInitRunsInListOrderAndAnswersTheDescriptionLength) {
    const int32_t expectedResults[6] = {16, 16, 10, 16, 16, 10};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(ServerAt(i).initName, kExpected[i].initName);
        EXPECT_EQ(ServerAt(i).isImport, kExpected[i].isImport);
        EXPECT_EQ(ServerAt(i).initResult, expectedResults[i]) << kExpected[i].initName;
    }
}

TEST_F(FrameTest, RecordsCarryTheServerSettingsAndOnlyTheirOwnCallbacks) {
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(kExpected[i].initName);
        const ServerRecord& record = *ServerAt(i).record;
        EXPECT_EQ(record.version, 1.0f);
        EXPECT_EQ(record.kind, 7);
        EXPECT_EQ(record.flags, kExpected[i].isImport ? 2u : 0x20000u);
        EXPECT_STREQ(record.description, kExpected[i].description);
        EXPECT_EQ(record.namingPrefs, &standin::NamingPrefs());
        EXPECT_NE(record.load, nullptr);
        EXPECT_NE(record.unregister, nullptr);
        EXPECT_NE(record.lookup, nullptr);
        EXPECT_EQ(record.check != nullptr, kExpected[i].isImport);
        EXPECT_EQ(record.free != nullptr, kExpected[i].isImport);
    }
    // All import servers share the one free callback.
    EXPECT_EQ(ServerAt(0).record->free, ServerAt(1).record->free);
    EXPECT_EQ(ServerAt(0).record->free, ServerAt(2).record->free);
}

TEST_F(FrameTest, EachServerRegistersItsExtensionWithItsDescription) {
    const auto registered = standin::RegisteredExtensions();
    ASSERT_EQ(registered.size(), 6u);
    const auto calls = standin::CallsOf("AddFileExtension");
    ASSERT_EQ(calls.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(registered[i].record, ServerAt(i).record);
        EXPECT_EQ(registered[i].extension, kExpected[i].extension);
        EXPECT_EQ(registered[i].description, kExpected[i].description);
        const std::vector<std::string> args = {standin::PointerText(ServerAt(i).record), kExpected[i].extension,
                                               kExpected[i].description};
        EXPECT_EQ(calls[i].args, args);
    }
    EXPECT_EQ(standin::FindServer(true, "3ds"), &ServerAt(1));
    EXPECT_EQ(standin::FindServer(false, "dxf"), &ServerAt(5));

    std::string error;  // loading again replaces the servers, it does not add to them
    ASSERT_TRUE(standin::LoadModule(TAMLORN_MODULE_PATH, &error)) << error;
    EXPECT_EQ(standin::RegisteredExtensions().size(), 6u);
}

TEST_F(FrameTest, LookupCallbacksAnswerOnlyTheirOwnExactName) {
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(kExpected[i].initName);
        const ServerRecord& record = *ServerAt(i).record;
        EXPECT_EQ(record.lookup(kExpected[i].lookupName), reinterpret_cast<void*>(record.load));
        std::string lower = kExpected[i].lookupName;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(record.lookup(lower.c_str()), nullptr);
        EXPECT_EQ(record.lookup(""), nullptr);
        for (size_t other = 0; other < 6; ++other) {
            if (other == i) continue;
            EXPECT_EQ(record.lookup(kExpected[other].lookupName), nullptr) << kExpected[other].lookupName;
        }
    }
}

TEST_F(FrameTest, The3DSCheckWantsEighteenBytesWithBothChunkIds) {
    const standin::Server& tds = ServerAt(1);
    const int64_t before = standin::LiveBlocks();
    WriteFile(PathOf("short.3ds"), Head3DS(17));
    WriteFile(PathOf("head.3ds"), Head3DS(18));
    std::vector<uint8_t> wrongEditor = Head3DS(18);
    wrongEditor[17] = 0x3C;
    WriteFile(PathOf("wrong.3ds"), wrongEditor);
    EXPECT_EQ(standin::CheckFile(tds, PathOf("short.3ds")), 0);
    EXPECT_EQ(standin::CheckFile(tds, PathOf("head.3ds")), 1);
    EXPECT_EQ(standin::CheckFile(tds, PathOf("wrong.3ds")), 0);
    EXPECT_EQ(standin::LiveBlocks(), before);  // the check's buffer is returned
    EXPECT_TRUE(standin::Messages().empty());
}

TEST_F(FrameTest, ChecksOfAMissingFileAnswerZero) {
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(standin::CheckFile(ServerAt(i), PathOf("missing.file")), 0) << i;
    EXPECT_EQ(standin::CheckFile(ServerAt(3), PathOf("missing.file")), 0);  // export servers have no check
    EXPECT_TRUE(standin::Messages().empty());
}

TEST_F(FrameTest, ACheckWithoutMemoryShowsTheMessageAndAnswersZero) {
    WriteFile(PathOf("head.3ds"), Head3DS(18));
    const int64_t before = standin::LiveBlocks();
    standin::FailAllocationAt(1);
    EXPECT_EQ(standin::CheckFile(ServerAt(1), PathOf("head.3ds")), 0);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].first, "There isn't enough memory available");
    EXPECT_EQ(standin::Messages()[0].second, "to perform this operation!");
    EXPECT_EQ(standin::LiveBlocks(), before);
    EXPECT_EQ(standin::CheckFile(ServerAt(1), PathOf("head.3ds")), 1);  // the failure struck once
}

TEST_F(FrameTest, UnregisterWithdrawsOnlyThatServersExtension) {
    const ServerRecord* objImport = ServerAt(0).record;
    EXPECT_EQ(objImport->unregister(), 1);
    const auto calls = standin::CallsOf("RemoveFileExtensions");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, std::vector<std::string>{standin::PointerText(objImport)});
    EXPECT_EQ(standin::FindServer(true, "obj"), nullptr);
    EXPECT_EQ(standin::FindServer(false, "obj"), &ServerAt(3));
    EXPECT_EQ(standin::RegisteredExtensions().size(), 5u);
    EXPECT_EQ(objImport->unregister(), 0);  // nothing left to withdraw
}

TEST_F(FrameTest, TheFreeCallbackReleasesTheSurfacesAndTheirArray) {
    const int64_t before = standin::LiveBlocks();
    standin::ObjectSpec spec;
    spec.points = {Point(0, 0, 0), Point(1, 0, 0), Point(0, 1, 0)};
    spec.surfaces = {{"red"}, {"green"}, {"blue"}};
    spec.polygons = {{{0, 1, 2}, 1}, {{0, 2}, 2}, {{1}, 3}};
    HostObject* object = standin::BuildObject(spec);
    ASSERT_NE(object, nullptr);
    std::vector<std::string> surfaces, lists;
    for (HostSurface* surface = object->geometry->surfaceList; surface; surface = surface->next) {
        surfaces.push_back(standin::PointerText(surface));
        lists.push_back(standin::PointerText(&surface->dataList));
    }
    const int64_t built = standin::LiveBlocks();

    ServerAt(0).record->free(object);
    // Per surface: the record, its name, the blocks at 1488 and 1552 and its
    // data-list node; and the surface array.
    EXPECT_EQ(standin::LiveBlocks(), built - 3 * 5 - 1);
    EXPECT_EQ(object->geometry->surfaceArray, nullptr);
    const auto instanceFrees = standin::CallsOf("fxDataInstanceFreeAll");
    const auto listClears = standin::CallsOf("ClearList");
    ASSERT_EQ(instanceFrees.size(), 3u);
    ASSERT_EQ(listClears.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(instanceFrees[i].args, std::vector<std::string>{surfaces[i]});
        EXPECT_EQ(listClears[i].args, std::vector<std::string>{lists[i]});
    }

    object->geometry->surfaceList = nullptr;  // as the host does after the callback
    object->geometry->surfaceCount = 0;
    standin::DestroyObject(object);
    EXPECT_EQ(standin::LiveBlocks(), before);
}

TEST_F(FrameTest, DestroyObjectGoesThroughTheModulesFreeCallback) {
    const int64_t before = standin::LiveBlocks();
    standin::ObjectSpec spec;
    spec.points = {Point(0, 0, 0), Point(1, 0, 0), Point(0, 1, 0)};
    spec.surfaces = {{"only"}};
    spec.polygons = {{{0, 1, 2}, 1}};
    standin::DestroyObject(standin::BuildObject(spec));
    EXPECT_EQ(standin::CallsOf("fxDataInstanceFreeAll").size(), 1u);
    EXPECT_EQ(standin::LiveBlocks(), before);
}

TEST(LibraryExportsTest, TheLibraryExportsExactlyItsEightNames) {
    EXPECT_EQ(DefinedDynamicSymbols(TAMLORN_MODULE_PATH), kExportedNames);
    std::set<std::string> withHooks = kExportedNames;
    withHooks.insert({"TamlornTestHeapFailAt", "TamlornTestHeapLiveBlocks"});
    EXPECT_EQ(DefinedDynamicSymbols(TAMLORN_TESTHOOKS_MODULE_PATH), withHooks);

    void* library = dlopen(TAMLORN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* internal : {"HostApiBind", "_Z11HostApiBindP8HostCore", "SceneReset", "_Z10SceneResetv",
                                 "g_HostApi", "TamlornTestHeapFailAt"}) {
        EXPECT_EQ(dlsym(library, internal), nullptr) << internal;
    }
    EXPECT_NE(dlsym(library, "ObjectInitSaveDXF"), nullptr);
    dlclose(library);
}

TEST(LibraryExportsTest, OnlyTheTestFlavourOffersTheHeapHooks) {
    std::string error;
    ASSERT_TRUE(standin::LoadModule(TAMLORN_MODULE_PATH, &error)) << error;
    EXPECT_FALSE(standin::ModuleHeapFailAt(0));
    EXPECT_EQ(standin::ModuleHeapLiveBlocks(), -1);
    ASSERT_TRUE(standin::LoadModule(TAMLORN_TESTHOOKS_MODULE_PATH, &error)) << error;
    EXPECT_EQ(standin::Servers().size(), 6u);
    EXPECT_TRUE(standin::ModuleHeapFailAt(0));
    EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0);  // nothing of the module's own is held between requests
    standin::UnloadModule();
    EXPECT_EQ(standin::ModuleHeapLiveBlocks(), -1);
}

TEST(LibraryExportsTest, LoadingSomethingElseFailsWithAReason) {
    std::string error;
    EXPECT_FALSE(standin::LoadModule("/nonexistent/libtamlorn_io.so", &error));
    EXPECT_NE(error.find("/nonexistent/libtamlorn_io.so"), std::string::npos) << error;
    EXPECT_TRUE(standin::Servers().empty());
}

TEST(ServersToolTest, ListsTheSixServers) {
    const CommandResult run = RunCommand(std::string(TAMLORN_BIN_DIR) + "/tamlorn-servers '" + TAMLORN_MODULE_PATH + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 7u) << run.output;
    EXPECT_EQ(lines[0].rfind("6 servers in ", 0), 0u) << lines[0];
    for (size_t i = 0; i < 6; ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(line.rfind(kExpected[i].initName, 0), 0u) << line;
        EXPECT_NE(line.find(std::string("\"") + kExpected[i].description + "\""), std::string::npos) << line;
        const char* callbacks = kExpected[i].isImport ? "callbacks=check,load,free,unregister,lookup"
                                                      : "callbacks=save,unregister,lookup";
        EXPECT_NE(line.find(callbacks), std::string::npos) << line;
    }
    EXPECT_NE(lines[3].find("init=10"), std::string::npos) << lines[3];
}

TEST(ServersToolTest, AMissingModuleIsOneErrorLineAndAFailure) {
    const CommandResult run = RunCommand(std::string(TAMLORN_BIN_DIR) + "/tamlorn-servers /nonexistent/module.so 2>&1");
    EXPECT_NE(run.status, 0);
    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 1u) << run.output;
    EXPECT_EQ(lines[0].rfind("tamlorn-servers: cannot load /nonexistent/module.so", 0), 0u) << lines[0];
}

}  // namespace
