// The stand-in host's block store: exact sizes in every size range, zeroed
// growth after a shrink, foreign and freed blocks refused, and the release of
// a whole zone only when the object holds every block of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "host_internal.h"
#include "standin_host.h"

namespace {

using standin::detail::Alloc;
using standin::detail::BlockSize;
using standin::detail::Free;
using standin::detail::Realloc;

bool AllZero(const void* block, uint64_t from, uint64_t to) {
    const auto* bytes = static_cast<const uint8_t*>(block);
    return std::all_of(bytes + from, bytes + to, [](uint8_t b) { return b == 0; });
}

// Every size of every slab class, then calloc'd and mapped sizes: each block's exact size is found from its address
// alone, and a slot freed after being written comes back zeroed.
TEST(HostMemoryTest, BlocksKeepTheirExactSizeAndComeZeroed) {
    const int64_t before = standin::LiveBytes();
    std::vector<uint64_t> sizes(1101);
    std::iota(sizes.begin(), sizes.end(), 0);
    sizes.insert(sizes.end(), {5000, 300000, 3000000});
    for (uint64_t size : sizes) {
        void* first = Alloc(1, size);
        ASSERT_NE(first, nullptr) << size;
        std::memset(first, 0xAB, size);
        Free(first);
        void* blocks[2] = {Alloc(size, 1), Alloc(1, size)};
        for (void* block : blocks) {
            ASSERT_EQ(BlockSize(block), size);
            ASSERT_TRUE(AllZero(block, 0, size)) << size;
        }
        EXPECT_EQ(standin::LiveBytes(), before + 2 * static_cast<int64_t>(size));
        for (void* block : blocks) Free(block);
    }
    EXPECT_EQ(standin::LiveBytes(), before);
}

// Growth from a slab class into a calloc'd block and into a mapping, then a
// shrink and a growth again: contents kept, every byte past them zero.
TEST(HostMemoryTest, ReallocationKeepsContentsAndZeroesWhatAShrinkLeft) {
    auto* block = static_cast<uint8_t*>(Alloc(1, 24));
    std::memset(block, 0x5A, 24);
    uint64_t size = 24;
    for (uint64_t next : {40, 600, 3000, 400000, 5000000, 4000, 5000000, 100, 2000}) {
        std::memset(block, 0x5A, std::min(size, next));
        block = static_cast<uint8_t*>(Realloc(block, next));
        ASSERT_NE(block, nullptr) << next;
        EXPECT_EQ(BlockSize(block), next);
        const uint64_t kept = std::min(size, next);
        EXPECT_EQ(block[kept - 1], 0x5A) << next;
        EXPECT_TRUE(AllZero(block, kept, next)) << next;
        size = next;
    }
    Free(block);
}

TEST(HostMemoryDeathTest, FreedInteriorAndForeignBlocksAreRefused) {
    auto* block = static_cast<uint8_t*>(Alloc(1, 64));
    EXPECT_DEATH(Free(block + 8), "never gave out");
    Free(block);
    EXPECT_DEATH(Free(block), "never gave out");
    std::vector<uint8_t> foreign(64);
    EXPECT_DEATH((void)BlockSize(foreign.data() + 16), "never gave out");
    EXPECT_DEATH(Free(foreign.data() + 32), "never gave out");
    // The last block of a zone takes the zone with it: none of its addresses is a block any more,
    // even right after a lookup there.
    void* last = nullptr;
    {
        standin::detail::ZoneScope zone;
        last = Alloc(1, 64);
    }
    EXPECT_EQ(BlockSize(last), 64u);
    Free(last);
    EXPECT_DEATH((void)BlockSize(last), "never gave out");
}

// An object made by hand inside a zone of its own, with an orphan block in the
// same zone or not: the orphan stays counted after the object is destroyed.
TEST(HostMemoryTest, DestroyingAnObjectLeavesAnOrphanOfItsZoneCounted) {
    for (bool orphaned : {false, true}) {
        const int64_t before = standin::LiveBlocks();
        HostObject* object = nullptr;
        void* orphan = nullptr;
        {
            standin::detail::ZoneScope zone;
            object = static_cast<HostObject*>(Alloc(1, sizeof(HostObject)));
            object->name = standin::detail::CopyText("hand made");
            object->geometry = static_cast<HostGeometry*>(Alloc(1, kHostGeometrySize));
            object->geometry->points = static_cast<HostPoint**>(Alloc(1, sizeof(HostPoint*)));
            object->geometry->points[0] = static_cast<HostPoint*>(Alloc(1, sizeof(HostPoint)));
            object->geometry->pointCount = 1;
            if (orphaned) orphan = Alloc(1, 32);
        }
        standin::DestroyObject(object);
        EXPECT_EQ(standin::LiveBlocks(), before + (orphaned ? 1 : 0)) << orphaned;
        Free(orphan);
        EXPECT_EQ(standin::LiveBlocks(), before);
    }
}

}  // namespace
