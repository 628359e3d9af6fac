// The text input routines the OBJ and DXF readers share: sanitising a loaded
// piece byte by byte; the DXF group lines read over the two loaded blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/dxf/dxf_internal.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

uint8_t PlainByte(uint8_t c, int32_t lineEndStyle) {
    if (c == '\r') return lineEndStyle == kLineEndCR ? '\n' : ' ';
    return c == '\n' || (c >= 0x20 && c <= 0x7E) ? c : ' ';
}

TEST(TextSanitiseTest, EveryByteValueAtEveryPlaceOfARunAndOfTheTail) {
    // Lengths around the routine's runs of 64; each byte value passes every
    // offset within a run; the byte after the piece is never touched.
    constexpr uint8_t kGuard = 0xA5;
    for (const int32_t style : {kLineEndLF, kLineEndCRLF, kLineEndCR}) {
        for (const int32_t length : {0, 1, 63, 64, 65, 127, 300}) {
            for (int32_t shift = 0; shift < 256; shift += 7) {
                std::vector<uint8_t> text(static_cast<size_t>(length) + 1, kGuard);
                for (int32_t i = 0; i < length; ++i) text[i] = static_cast<uint8_t>(i * 5 + shift);
                const std::vector<uint8_t> original = text;
                TextSanitise(text.data(), length, style);
                for (int32_t i = 0; i < length; ++i)
                    ASSERT_EQ(text[i], PlainByte(original[i], style)) << "byte " << int{original[i]} << " at " << i;
                ASSERT_EQ(text[length], kGuard);
            }
        }
    }
}

// The DXF cursor over a text in a temporary file, loaded as the reader loads it.
class DxfLines : public ::testing::Test {
protected:
    void Load(const std::string& text) {
        file_ = std::tmpfile();
        ASSERT_NE(file_, nullptr);
        std::fwrite(text.data(), 1, text.size(), file_);
        std::rewind(file_);
        g_Scene.DxfInputFile = file_;
        g_Scene.LineEndStyle = kLineEndLF;
        g_Scene.DetectedFormat = kFormatDXF;
        g_Scene.TextBlockIndex = 0;
        for (int32_t k = 0; k < 2; ++k) g_Scene.TextBlocks[k] = blocks_[k].data();
        ASSERT_EQ(TextBlockLoad(), 1);
        cursor_.line = reinterpret_cast<const char*>(blocks_[0].data());
    }

    // The next group: its code and value, each read as it should be.
    std::pair<int32_t, std::string> Next() {
        EXPECT_EQ(DxfReadCode(cursor_), kDxfOk);
        const int32_t code = cursor_.code;
        EXPECT_EQ(DxfReadValue(cursor_), kDxfValueRead);
        EXPECT_EQ(cursor_.valueLength, int32_t(std::strlen(cursor_.value)));
        return {code, cursor_.value};
    }
    using Group = std::pair<int32_t, std::string>;

    void TearDown() override {
        g_Scene.TextBlocks[0] = g_Scene.TextBlocks[1] = nullptr;
        g_Scene.DxfInputFile = nullptr;
        if (file_) std::fclose(file_);
    }

    std::vector<uint8_t> blocks_[2] = {std::vector<uint8_t>(kTextBlockBytes + kDxfBlockSlack),
                                       std::vector<uint8_t>(kTextBlockBytes + kDxfBlockSlack)};
    std::FILE* file_ = nullptr;
    DxfCursor cursor_{};
};

// Trailing blanks go, leading ones stay, a line of blanks keeps one; the code 7 is cut before its 'x', and
// the last code's digit stands past the cut: blanks alone read as 0.
TEST_F(DxfLines, CodesAndValuesAreReadAsTheirCopiesCutTo511Characters) {
    const std::string cutCode = "7" + std::string(kDxfLineBytes - 2, ' ') + "x";
    Load(" 10\n  1.5   \n-5\n   \n" + cutCode + "\n" + std::string(700, 'v') + "\n" +
         std::string(kDxfLineBytes, ' ') + "8\nlast\n");
    for (const Group& group : {Group{10, "  1.5"}, Group{-5, " "}, Group{7, std::string(kDxfLineBytes - 1, 'v')}})
        EXPECT_EQ(Next(), group);
    ASSERT_EQ(DxfReadCode(cursor_), kDxfOk);
    EXPECT_EQ(cursor_.code, 0);
}

// A line that the end of a piece cuts and that runs on for longer than the
// block has room for is cut where the room ends; the rest of it is dropped,
// and the next block starts at the next line.
TEST_F(DxfLines, ALineRunningPastTheBlocksRoomIsCutThere) {
    constexpr size_t kLineStart = kTextPieceBytes - 20;
    std::string text;
    int32_t fillers = 0;
    for (; text.size() < kLineStart; ++fillers) {
        const size_t room = kLineStart - text.size() - 5;  // "999\n" and the filler's LF
        text += "999\n" + std::string(std::min<size_t>(room, 200), 'c') + "\n";
    }
    ASSERT_EQ(text.size(), kLineStart);
    Load(text + "1\n" + std::string(3 * (kTextBlockBytes - kTextPieceBytes), 'x') + "\n2\nafter\n");
    for (int32_t k = 0; k < fillers; ++k) Next();
    EXPECT_EQ(Next(), Group(1, std::string(kDxfLineBytes - 1, 'x')));
    EXPECT_EQ(blocks_[0][kTextBlockBytes - 2], '\n');  // the cut line's LF, then the block's NUL
    EXPECT_EQ(blocks_[0][kTextBlockBytes - 1], 0);
    EXPECT_EQ(Next(), Group(2, "after"));
}

// Values of every length around the words they are copied in, across the blocks; a last line without its LF
// reads as empty, and past the end every value line is empty.
TEST_F(DxfLines, GroupsRunOnAcrossBlocksAndPastTheEndEveryLineIsEmpty) {
    const auto group = [](int32_t k) { return Group(k % 1000, std::string(k % 18, char('a' + k % 18))); };
    std::string text;
    int32_t groups = 0;
    for (; text.size() < 3 * static_cast<size_t>(kTextPieceBytes); ++groups)
        text += std::to_string(group(groups).first) + "\n" + group(groups).second + "\n";
    Load(text + "0\nlast");
    for (int32_t k = 0; k < groups; ++k) ASSERT_EQ(Next(), group(k)) << k;
    EXPECT_EQ(Next(), Group(0, ""));
    EXPECT_EQ(DxfReadCode(cursor_), kDxfReadError);
    for (int32_t k = 0; k < 3; ++k) {
        ASSERT_EQ(DxfReadValue(cursor_), kDxfValueRead);
        EXPECT_STREQ(cursor_.value, "");
    }
}

}  // namespace
