// Paths of more than 1023 characters do not fit the import's path copy and
// name buffer: a load refuses them (rather than read a cut path, which names
// another file), while a check reads them and a save writes them, its object
// name cut to what its buffer holds.
#include "host_support.h"

namespace {

using namespace host_support;

constexpr size_t kPathCopyBytes = 1024;   // the import's path copy, NUL included
constexpr size_t kExportNameChars = 511;  // the export's object name

class LongPathsTest : public ModuleTest {
protected:
    // A path of exactly `length` characters in the test's folder, its folders made.
    fs::path PathOfLength(size_t length) {
        fs::path folder = dir_;
        while (length - folder.string().size() > 250) {
            folder /= std::string(200, 'd');
            fs::create_directories(folder);
        }
        const size_t name = length - folder.string().size() - 1;
        return folder / (std::string(name - 4, 'n') + ".obj");
    }
};

TEST_F(LongPathsTest, LoadsTakePathsThatFitTheirCopy) {
    if (!kLongPaths) GTEST_SKIP() << "this system's programs reach no path past 260 characters";
    const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    for (const size_t length : {kPathCopyBytes - 1, kPathCopyBytes, kPathCopyBytes + 300}) {
        SCOPED_TRACE(length);
        const fs::path path = WriteFile(PathOfLength(length), triangle);
        ASSERT_EQ(path.string().size(), length);
        EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "obj"), path.string()), 1);
        EXPECT_EQ(Load(path), length < kPathCopyBytes ? 1 : 0);
        ASSERT_TRUE(DestroyLoaded());
    }
}

TEST_F(LongPathsTest, SavesWriteLongPathsWithTheirNameCut) {
    if (!kLongPaths) GTEST_SKIP() << "this system's programs reach no path past 260 characters";
    object_ = standin::BuildObject(
        {"tri", {{{0, 0, 0}, {}, false}, {{1, 0, 0}, {}, false}, {{0, 1, 0}, {}, false}}, {{"s"}}, {{{0, 1, 2}, 1}}, {}});
    ASSERT_NE(object_, nullptr);
    const fs::path path = PathOfLength(kPathCopyBytes + 300);
    ASSERT_EQ(standin::SaveObject(*standin::FindServer(false, "obj"), object_, path.string(), 0), 1);
    // The object name is the path less its extension (no backslash or colon
    // in it), cut to the name buffer.
    const std::string group = "\ng " + path.string().substr(0, kExportNameChars) + "\n";
    EXPECT_NE(ReadFile(path).find(group), std::string::npos);
}

}  // namespace
