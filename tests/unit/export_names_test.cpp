// Names the export makes: the object name from the output path, and the 3D
// Studio material and object names from the surface names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/export_driver.h"
#include "formats/3ds/tds_writer.h"
#include "unit/unit_support.h"

namespace {

using Names = unit::SceneTest;
using Strings = std::vector<std::string>;

std::string NameFromPath(const std::string& path) {
    char name[kExportNameBytes];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(ExportNameFromPath(path.c_str(), name), 1);
    return name;
}

TEST(ExportNameFromPath, CutsKnownExtensionsAfterTheLastBackslashOrColon) {
    const std::pair<std::string, std::string> rows[] = {
        {"D:\\out\\Car.LWOB", "Car"}, {"part:a.obj", "a"}, {"a.3ds.dxf.obj", "a"}, {"C:\\models\\ship.lwo.3ds", "ship"},
        {"ship.DXF", "ship"}, {"ship.max", "ship.max"}, {"ship.max.obj", "ship.max"}, {"x.lw", "x"},
        {"x.abc.lw", "x"},    // after ".lw" any three-letter extension goes too
        {"x.abcd.lwb", "x"},  // and after that any four-letter one
        {"out/chair.obj", "out/chair"},  // a slash does not split
        {"\\a.obj", "\\a"},             // the first character is never a separator
        {".obj", ""}, {"", ""}, {std::string(600, 'n') + ".obj", std::string(kExportNameBytes - 1, 'n')},
        {std::string(2000, 'd') + "\\" + std::string(300, 'n') + ".3ds", std::string(300, 'n')},
    };
    for (const auto& [path, name] : rows) EXPECT_EQ(NameFromPath(path), name) << path.substr(0, 40);
}

void SetSurfaces(const Strings& names) {
    for (size_t i = 0; i < names.size(); ++i) std::snprintf(g_Scene.SurfaceNames[i], kSurfaceNameBytes, "%s", names[i].c_str());
    g_Scene.SurfaceCount = static_cast<int32_t>(names.size());
    g_Scene.SurfaceSlotCount = static_cast<uint16_t>(names.size());
}

TEST_F(Names, MaterialNamesAreUpperCaseCutAndNumbered) {
    const std::pair<Strings, Strings> rows[] = {
        {{"red", "Red"}, {"RED 1", "RED 2"}}, {{"red", "RED", "Red"}, {"RED 1", "RED 2", "RED"}},
        {{"OBJECT0001 WHEEL"}, {"WHEEL"}},
        {{"Object12ab door"}, {"DOOR"}},             // a digit among positions 6 to 9
        {{"objectABCDxrest"}, {"OBJECTABCDXREST"}},  // no digit, no blank at 10
        {{"OBJECTabcd\tlonger"}, {"LONGER"}},        // white space at 10: the rest from 11
        {{"OBJECTIVE_LONGNAME"}, {"OBJECTIVE_LONGN"}},
        {{"OBJECT1 abc"}, {"OBJECT1 ABC"}},  // not longer than 12
        {{"fifteen_chars_x", "FIFTEEN_CHARS_X"}, {"FIFTEEN_CHARS 1", "FIFTEEN_CHARS 2"}},
        {{"a", "b", "a", "a"}, {"A 1", "B", "A 2", "A"}}, {{"mat\xe9"}, {"MAT\xe9"}},  // bytes beyond ASCII stay
    };
    for (const auto& [in, out] : rows) {
        SetSurfaces(in);
        SceneMakeSurfaceNames3DS();
        EXPECT_EQ(unit::SurfaceNames(), out) << in[0];
    }
}

Strings ObjectNames(const Strings& names) {
    SetSurfaces(names);
    std::vector<ObjectNameEntry> table(names.size());
    Build3DSObjectNames(table.data());
    Strings out;
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].surface, i);
        out.push_back(table[i].name);
    }
    return out;
}

// Runs are renamed in surface order: the earlier surface gets the smaller number.
TEST_F(Names, ObjectNamesAreUniqueTenCharacterNames) {
    const std::pair<Strings, Strings> rows[] = {
        {{"MATERIAL_01", "MATERIAL_02"}, {"MATERIAL_1", "MATERIAL_2"}},
        {{"MATERIAL_02", "MATERIAL_01"}, {"MATERIAL_1", "MATERIAL_2"}},
        {{"MATERIAL_01", "MATERIAL_02", "MATERIAL_1"}, {"MATERIAL_2", "MATERIAL_3", "MATERIAL_1"}},
        {{"SHORT", "OTHER"}, {"SHORT", "OTHER"}}, {{"A 1", "A 1"}, {"A 1_100000", "A 1_100001"}},
        {{"", ""}, {"_100000000", "_100000001"}},
        {{"ABCDEFGHIJK1", "ABCDEFGHIJK2", "ABCDEFGHIJ"}, {"ABCDEFGH_1", "ABCDEFGH_2", "ABCDEFGH_3"}},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(ObjectNames(in), out) << in[0];
}

}  // namespace
