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

std::string NameFromPath(const std::string& path) {
    char name[kExportNameBytes];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(ExportNameFromPath(path.c_str(), name), 1);
    return name;
}

TEST(ExportNameFromPath, CutsKnownExtensionsAfterTheLastBackslashOrColon) {
    const struct {
        std::string path, name;
    } rows[] = {
        {"D:\\out\\Car.LWOB", "Car"},
        {"part:a.obj", "a"},
        {"a.3ds.dxf.obj", "a"},
        {"C:\\models\\ship.lwo.3ds", "ship"},
        {"ship.DXF", "ship"},
        {"ship.max", "ship.max"},
        {"ship.max.obj", "ship.max"},
        {"x.lw", "x"},
        {"x.abc.lw", "x"},     // after ".lw" any three-letter extension goes too
        {"x.abcd.lwb", "x"},   // and after that any four-letter one
        {"out/chair.obj", "out/chair"},  // a slash does not split
        {"\\a.obj", "\\a"},   // the first character is never a separator
        {".obj", ""},
        {"", ""},
        {std::string(600, 'n') + ".obj", std::string(kExportNameBytes - 1, 'n')},
        {std::string(2000, 'd') + "\\" + std::string(300, 'n') + ".3ds", std::string(300, 'n')},
    };
    for (const auto& row : rows) EXPECT_EQ(NameFromPath(row.path), row.name) << row.path.substr(0, 40);
}

void SetSurfaces(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i) std::snprintf(g_Scene.SurfaceNames[i], kSurfaceNameBytes, "%s", names[i].c_str());
    g_Scene.SurfaceCount = static_cast<int32_t>(names.size());
    g_Scene.SurfaceSlotCount = static_cast<uint16_t>(names.size());
}

std::vector<std::string> MaterialNames(const std::vector<std::string>& names) {
    SetSurfaces(names);
    SceneMakeSurfaceNames3DS();
    return unit::SurfaceNames();
}

TEST_F(Names, MaterialNamesAreUpperCaseCutAndNumbered) {
    const struct {
        std::vector<std::string> in, out;
    } rows[] = {
        {{"red", "Red"}, {"RED 1", "RED 2"}},
        {{"red", "RED", "Red"}, {"RED 1", "RED 2", "RED"}},
        {{"OBJECT0001 WHEEL"}, {"WHEEL"}},
        {{"Object12ab door"}, {"DOOR"}},           // a digit among positions 6 to 9
        {{"objectABCDxrest"}, {"OBJECTABCDXREST"}},  // no digit, no blank at 10
        {{"OBJECTabcd\tlonger"}, {"LONGER"}},       // white space at 10: the rest from 11
        {{"OBJECTIVE_LONGNAME"}, {"OBJECTIVE_LONGN"}},
        {{"OBJECT1 abc"}, {"OBJECT1 ABC"}},         // not longer than 12
        {{"fifteen_chars_x", "FIFTEEN_CHARS_X"}, {"FIFTEEN_CHARS 1", "FIFTEEN_CHARS 2"}},
        {{"a", "b", "a", "a"}, {"A 1", "B", "A 2", "A"}},
        {{"mat\xe9"}, {"MAT\xe9"}},  // bytes beyond ASCII stay
    };
    for (const auto& row : rows) EXPECT_EQ(MaterialNames(row.in), row.out) << row.in[0];
}

std::vector<std::string> ObjectNames(const std::vector<std::string>& names) {
    SetSurfaces(names);
    std::vector<ObjectNameEntry> table(names.size());
    Build3DSObjectNames(table.data());
    std::vector<std::string> out;
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].surface, i);
        out.push_back(table[i].name);
    }
    return out;
}

// Runs are renamed in surface order: the earlier surface gets the smaller number.
TEST_F(Names, ObjectNamesAreUniqueTenCharacterNames) {
    const struct {
        std::vector<std::string> in, out;
    } rows[] = {
        {{"MATERIAL_01", "MATERIAL_02"}, {"MATERIAL_1", "MATERIAL_2"}},
        {{"MATERIAL_02", "MATERIAL_01"}, {"MATERIAL_1", "MATERIAL_2"}},
        {{"MATERIAL_01", "MATERIAL_02", "MATERIAL_1"}, {"MATERIAL_2", "MATERIAL_3", "MATERIAL_1"}},
        {{"SHORT", "OTHER"}, {"SHORT", "OTHER"}},
        {{"A 1", "A 1"}, {"A 1_100000", "A 1_100001"}},
        {{"", ""}, {"_100000000", "_100000001"}},
        {{"ABCDEFGHIJK1", "ABCDEFGHIJK2", "ABCDEFGHIJ"}, {"ABCDEFGH_1", "ABCDEFGH_2", "ABCDEFGH_3"}},
    };
    for (const auto& row : rows) EXPECT_EQ(ObjectNames(row.in), row.out) << row.in[0];
}

}  // namespace
