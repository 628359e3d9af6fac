// The text input routines the OBJ and DXF readers share: sanitising a loaded
// piece byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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

}  // namespace
