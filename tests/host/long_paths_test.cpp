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

// (1023 characters load and 1024 do not: import_test.)
TEST_F(LongPathsTest, SavesAndChecksTakeLongPathsLoadsRefuseThem) {
    HostObject* triangle = standin::BuildObject(
        {"tri", {{{0, 0, 0}, {}, false}, {{1, 0, 0}, {}, false}, {{0, 1, 0}, {}, false}}, {{"s"}}, {{{0, 1, 2}, 1}}, {}});
    ASSERT_NE(triangle, nullptr);
    const fs::path path = PathOfLength(kPathCopyBytes + 300);
    ASSERT_EQ(path.string().size(), kPathCopyBytes + 300);
    ASSERT_EQ(standin::SaveObject(*standin::FindServer(false, "obj"), triangle, path.string(), 0), 1);
    standin::DestroyObject(triangle);
    // The object name is the path less its extension (no backslash or colon
    // in it), cut to the name buffer.
    const std::string group = "\ng " + path.string().substr(0, kExportNameChars) + "\n";
    EXPECT_NE(ReadFile(path).find(group), std::string::npos);
    EXPECT_EQ(standin::CheckFile(*standin::FindServer(true, "obj"), path.string()), 1);
    EXPECT_EQ(Load(path), 0);
}

}  // namespace
