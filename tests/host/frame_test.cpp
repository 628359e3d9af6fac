// The module's outward face as the host meets it: the built library loaded by
// the stand-in host, its six inits, the server records they fill and the small
// callbacks those records hold.
#include <cctype>
#include <set>
#include <tuple>

#include "host_support.h"

namespace {

using namespace host_support;

struct ExpectedServer {
    const char* initName;
    bool isImport;
    int32_t initResult;  // the description's length
    const char* extension;
    const char* description;
    const char* lookupName;
};

const ExpectedServer kExpected[6] = {
    {"ObjectInitWavefront", true, 16, "obj", "Wavefront Object", "ObjectLoadOBJ"},
    {"ObjectInit3DS", true, 16, "3ds", "3D Studio Object", "ObjectLoad3DS"},
    {"ObjectInitDXF", true, 10, "dxf", "DXF Object", "ObjectLoadDXF"},
    {"ObjectInitSaveWavefront", false, 16, "obj", "Wavefront Object", "ObjectSaveOBJ"},
    {"ObjectInitSave3DS", false, 16, "3ds", "3D Studio Object", "ObjectSave3DS"},
    {"ObjectInitSaveDXF", false, 10, "dxf", "DXF Object", "ObjectSaveDXF"},
};

// The smallest head the 3D Studio check accepts: the main chunk id at 0 and the
// editor chunk id at 16, little-endian.
const std::string k3DSHead = Chunk(0x4D4D, Chunk(0x0002, U32(3)) + Chunk(0x3D3D, "")).substr(0, 18);

// The arguments of each logged call of `function`.
std::vector<std::vector<std::string>> ArgsOf(const char* function) {
    std::vector<std::vector<std::string>> args;
    for (const auto& call : standin::CallsOf(function)) args.push_back(call.args);
    return args;
}

class FrameTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        standin::ClearCallLog();
        standin::ClearMessages();
        std::string error;
        ASSERT_TRUE(standin::LoadModule(TAMLORN_MODULE_PATH, &error)) << error;
        ASSERT_EQ(standin::Servers().size(), 6u);
    }
    void TearDown() override {
        standin::UnloadModule();
        TempDirTest::TearDown();
    }
    const standin::Server& ServerAt(size_t i) { return standin::Servers().at(i); }
};

TEST_F(FrameTest, EachInitFillsItsRecordRegistersItsExtensionAndLooksUpOnlyItsOwnName) {
    const auto calls = standin::CallsOf("AddFileExtension");
    ASSERT_EQ(standin::RegisteredExtensions().size(), 6u);
    ASSERT_EQ(calls.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        const ExpectedServer& want = kExpected[i];
        SCOPED_TRACE(want.initName);
        const standin::Server& server = ServerAt(i);  // the inits run in list order
        const ServerRecord& record = *server.record;
        EXPECT_EQ(std::tuple(server.initName, server.isImport, server.initResult, record.version, record.kind,
                             record.flags, std::string(record.description), record.namingPrefs),
                  std::tuple(std::string(want.initName), want.isImport, want.initResult, 1.0f, 7,
                             want.isImport ? 2u : 0x20000u, std::string(want.description), &standin::NamingPrefs()));
        EXPECT_EQ((std::array{record.load != nullptr, record.unregister != nullptr, record.check != nullptr,
                              record.free != nullptr}),
                  (std::array{true, true, want.isImport, want.isImport}));
        EXPECT_EQ(record.free, want.isImport ? ServerAt(0).record->free : nullptr);  // one free for all imports
        EXPECT_EQ(calls[i].args, (std::vector<std::string>{standin::PointerText(&record), want.extension,
                                                           want.description}));
        ASSERT_NE(record.lookup, nullptr);
        std::string lower = want.lookupName;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(record.lookup(lower.c_str()), nullptr);
        EXPECT_EQ(record.lookup(""), nullptr);
        for (const ExpectedServer& other : kExpected) {
            void* const expected = &other == &want ? reinterpret_cast<void*>(record.load) : nullptr;
            EXPECT_EQ(record.lookup(other.lookupName), expected) << other.lookupName;
        }
    }
    EXPECT_EQ(standin::FindServer(true, "3ds"), &ServerAt(1));
    EXPECT_EQ(standin::FindServer(false, "dxf"), &ServerAt(5));
    std::string error;  // loading again replaces the servers, it does not add to them
    ASSERT_TRUE(standin::LoadModule(TAMLORN_MODULE_PATH, &error)) << error;
    EXPECT_EQ(standin::RegisteredExtensions().size(), 6u);
}

// The 3D Studio check wants eighteen bytes with both chunk ids; a missing file
// is no server's. No check leaves a block; only one without memory shows the
// message, and answers 0.
TEST_F(FrameTest, ChecksAnswerOnTheFilesHead) {
    std::string wrongEditor = k3DSHead;
    wrongEditor[17] = 0x3C;
    const int64_t before = standin::LiveBlocks();
    const std::string head = Write("head.3ds", k3DSHead).string();
    EXPECT_EQ(standin::CheckFile(ServerAt(1), head), 1);
    EXPECT_EQ(standin::CheckFile(ServerAt(1), Write("short.3ds", k3DSHead.substr(0, 17)).string()), 0);
    EXPECT_EQ(standin::CheckFile(ServerAt(1), Write("wrong.3ds", wrongEditor).string()), 0);
    EXPECT_EQ(standin::CheckFile(ServerAt(4), head), 0);  // export servers have no check
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(standin::CheckFile(ServerAt(i), (dir_ / "missing").string()), 0) << i;
    EXPECT_TRUE(standin::Messages().empty());
    standin::FailAllocationAt(1);
    EXPECT_EQ(standin::CheckFile(ServerAt(1), head), 0);
    EXPECT_EQ(standin::Messages(), (std::vector<std::pair<std::string, std::string>>{
                                       {"There isn't enough memory available", "to perform this operation!"}}));
    EXPECT_EQ(standin::LiveBlocks(), before);
}

TEST_F(FrameTest, UnregisterWithdrawsOnlyThatServersExtension) {
    const ServerRecord* objImport = ServerAt(0).record;
    EXPECT_EQ(objImport->unregister(), 1);
    EXPECT_EQ(ArgsOf("RemoveFileExtensions"), (std::vector<std::vector<std::string>>{{standin::PointerText(objImport)}}));
    EXPECT_EQ(standin::FindServer(true, "obj"), nullptr);
    EXPECT_EQ(standin::FindServer(false, "obj"), &ServerAt(3));
    EXPECT_EQ(standin::RegisteredExtensions().size(), 5u);
    EXPECT_EQ(objImport->unregister(), 0);  // nothing left to withdraw
    for (size_t i = 1; i < 6; ++i) {  // each of the others withdraws its own record's
        const ServerRecord* record = ServerAt(i).record;
        EXPECT_EQ(record->unregister(), 1) << i;
        EXPECT_EQ(ArgsOf("RemoveFileExtensions").back(), std::vector<std::string>{standin::PointerText(record)}) << i;
        EXPECT_EQ(standin::RegisteredExtensions().size(), 5 - i) << i;
    }
}

TEST_F(FrameTest, TheFreeCallbackReleasesTheSurfacesAndTheirArray) {
    const int64_t before = standin::LiveBlocks();
    const standin::ObjectDesc desc = {"rgb", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, {{"red"}, {"green"}, {"blue"}},
                                      {{{0, 1, 2}, 1}, {{0, 2}, 2}, {{1}, 3}}, {}};
    HostObject* object = standin::BuildObject(desc);
    ASSERT_NE(object, nullptr);
    std::vector<std::vector<std::string>> surfaces, lists;
    for (HostSurface* surface = object->geometry->surfaceList; surface; surface = surface->next) {
        surfaces.push_back({standin::PointerText(surface)});
        lists.push_back({standin::PointerText(&surface->dataList)});
    }
    ServerAt(0).record->free(object);
    EXPECT_EQ(object->geometry->surfaceArray, nullptr);
    EXPECT_EQ(ArgsOf("fxDataInstanceFreeAll"), surfaces);
    EXPECT_EQ(ArgsOf("ClearList"), lists);
    object->geometry->surfaceList = nullptr;  // as the host does after the callback; what it missed is left over
    object->geometry->surfaceCount = 0;
    standin::DestroyObject(object);
    EXPECT_EQ(standin::LiveBlocks(), before);
    // The host's own destroy goes through the module's callback.
    standin::DestroyObject(standin::BuildObject(desc));
    EXPECT_EQ(standin::CallsOf("fxDataInstanceFreeAll").size(), 6u);
    EXPECT_EQ(standin::LiveBlocks(), before);
}

// The export table holds the eight names, and in the test flavour its two heap hooks; nothing internal.
TEST_F(FrameTest, TheLibraryExportsExactlyItsEightNames) {
    const std::set<std::string> exported = {"FileImportServers",   "FileExportServers",       "ObjectInitWavefront",
                                            "ObjectInit3DS",       "ObjectInitDXF",           "ObjectInitSaveWavefront",
                                            "ObjectInitSave3DS",   "ObjectInitSaveDXF"};
    EXPECT_EQ(ExportedNames(TAMLORN_MODULE_PATH, dir_), exported);
    std::set<std::string> withHooks = exported;
    withHooks.insert(
        {"TamlornTestHeapFailAt", "TamlornTestHeapFailFrom", "TamlornTestHeapLiveBlocks", "TamlornTestHeapAllocCount"});
    EXPECT_EQ(ExportedNames(TAMLORN_TESTHOOKS_MODULE_PATH, dir_), withHooks);
}

TEST_F(FrameTest, OnlyTheTestFlavourOffersTheHeapHooksAndNoOtherLibraryLoads) {
    EXPECT_FALSE(standin::ModuleHeapFailAt(0));
    EXPECT_EQ(standin::ModuleHeapLiveBlocks(), -1);
    std::string error;
    ASSERT_TRUE(standin::LoadModule(TAMLORN_TESTHOOKS_MODULE_PATH, &error)) << error;
    EXPECT_EQ(standin::Servers().size(), 6u);
    EXPECT_TRUE(standin::ModuleHeapFailAt(0));
    EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0);  // nothing of the module's own is held between requests
    standin::UnloadModule();
    EXPECT_EQ(standin::ModuleHeapLiveBlocks(), -1);
    EXPECT_FALSE(standin::LoadModule("/nonexistent/libtamlorn_io.so", &error));
    EXPECT_NE(error.find("/nonexistent/libtamlorn_io.so"), std::string::npos) << error;
    EXPECT_TRUE(standin::Servers().empty());
}

TEST_F(FrameTest, TheServersToolListsTheSixOrFailsWithOneLine) {
    const std::string tool = BuiltProgram("tamlorn-servers");
    const RunResult run = RunProgram({tool, TAMLORN_MODULE_PATH}, dir_);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = SplitLines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines[0].rfind("6 servers in ", 0), 0u) << lines[0];
    for (size_t i = 0; i < 6; ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(line.rfind(kExpected[i].initName, 0), 0u) << line;
        EXPECT_NE(line.find("init=" + std::to_string(kExpected[i].initResult)), std::string::npos) << line;
        EXPECT_NE(line.find(std::string("\"") + kExpected[i].description + "\""), std::string::npos) << line;
        const char* callbacks = kExpected[i].isImport ? "callbacks=check,load,free,unregister,lookup"
                                                      : "callbacks=save,unregister,lookup";
        EXPECT_NE(line.find(callbacks), std::string::npos) << line;
    }
    const RunResult missing = RunProgram({tool, "/nonexistent/module.so"}, dir_);
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_EQ(missing.out, "");
    ASSERT_EQ(SplitLines(missing.err).size(), 1u) << missing.err;
    EXPECT_EQ(missing.err.rfind("tamlorn-servers: cannot load /nonexistent/module.so", 0), 0u) << missing.err;
}

}  // namespace
