// Paths that name no regular file: a FIFO (which fopen would wait on until a
// writer came), a directory, a device, a link to a FIFO. Every check, load and
// save answers 0 at once and leaves the path as it was. On Windows: a
// directory and the devices every system has (no FIFO lives among files
// there, and links need a privilege).
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include "host_support.h"

namespace {

using namespace host_support;

// A check or load that waited on a FIFO would never return: the watchdog ends
// the test program instead.
constexpr unsigned kWatchdogSeconds = 30;

class SpecialFilesTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        fs::create_directory(dir_ / "folder.obj");
#if !defined(_WIN32)
        ASSERT_EQ(mkfifo((dir_ / "pipe.obj").c_str(), 0600), 0);
        fs::create_symlink(dir_ / "pipe.obj", dir_ / "link.obj");
        alarm(kWatchdogSeconds);
#endif
    }
#if defined(_WIN32)
    std::vector<fs::path> Paths() const { return {dir_ / "folder.obj", "NUL", "CON"}; }
#else
    void TearDown() override {
        alarm(0);
        ModuleTest::TearDown();
    }
    std::vector<fs::path> Paths() const {
        return {dir_ / "pipe.obj", dir_ / "folder.obj", dir_ / "link.obj", "/dev/null"};
    }
#endif
};

// The object saved comes from a slot of its own: a load into a slot that holds one is refused whatever the path.
TEST_F(SpecialFilesTest, ChecksLoadsAndSavesAnswerZeroAtOnce) {
    HostObject* const triangle = standin::BuildObject(TriangleObject("tri"));
    ASSERT_NE(triangle, nullptr);
    for (const fs::path& path : Paths()) {
        const auto kind = fs::symlink_status(path).type();
        for (const char* extension : {"obj", "3ds", "dxf"}) {
            SCOPED_TRACE(path.string() + " through " + extension);
            EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, extension), path.string()), 0);
            EXPECT_EQ(Load(path, kLoadNewObject, extension), 0);
            EXPECT_EQ(object_, nullptr);
            EXPECT_EQ(standin::SaveObject(*standin::FindServer(false, extension), triangle, path.string(), 0), 0);
            EXPECT_EQ(fs::symlink_status(path).type(), kind);
        }
    }
    standin::DestroyObject(triangle);
    EXPECT_TRUE(standin::Messages().empty());
}

}  // namespace
