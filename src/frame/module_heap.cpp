// The module's heap. Small blocks come from calloc. Large ones (the scene's
// chunks, text blocks, whole-file buffers) come from regions: mappings that ask
// the system for huge pages, whose first touch costs a fraction of what 4 KB
// pages cost, and whose fresh pages are already zero. A freed large block is
// kept for the next block of its page count (cleared then); a region goes back
// to the system as soon as none of its blocks is live, so the text a reader
// has done with is not held while the object is built. A block too big for a
// region gets a mapping of its own.
//
// A sanitizer build takes every block from calloc, so that the sanitizers see each one.
#include "frame/module_heap.h"

#include <cstdlib>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "frame/host_interface.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TAMLORN_MODULE_CALLOC_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAMLORN_MODULE_CALLOC_ONLY 1
#endif
#endif

namespace {

int64_t g_failAt = 0;  // countdown to the failing allocation, 0 = none
bool g_failOnward = false;  // every allocation after it fails too
int64_t g_allocCount = 0;
int64_t g_liveBlocks = 0;

#if !TAMLORN_MODULE_CALLOC_ONLY
constexpr uint64_t kPageBytes = 4096;
constexpr uint64_t kHugePageBytes = uint64_t{2} << 20;
constexpr uint64_t kPooledBlockBytes = uint64_t{64} << 10;  // blocks this large come from regions
constexpr uint64_t kRegionBytes = uint64_t{32} << 20;
constexpr uint64_t kOwnMappingBytes = kRegionBytes / 8;    // blocks this large get a mapping of their own
constexpr int32_t kMaxRegions = 256;                      // past these, large blocks come from calloc too
constexpr uint64_t kListedPages = 64;                     // freed blocks up to this many pages are reused
constexpr uint64_t kBlockHeaderBytes = 8;                 // the block's page count, in front of it

// ---- The one platform function: zeroed pages, huge where the system has them -----------

#if defined(_WIN32)
void* PlatformMapPages(uint64_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }
void PlatformUnmapPages(void* base, uint64_t) { VirtualFree(base, 0, MEM_RELEASE); }
#elif defined(__unix__) || defined(__APPLE__)
// Regions are aligned to the huge-page size so that all of them can be huge.
void* PlatformMapPages(uint64_t bytes) {
    const uint64_t reserved = bytes + kHugePageBytes;
    void* mapped = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    munmap(reinterpret_cast<void*>(aligned + bytes), start + reserved - aligned - bytes);
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}
void PlatformUnmapPages(void* base, uint64_t bytes) { munmap(base, bytes); }
#else
void* PlatformMapPages(uint64_t bytes) { return std::calloc(1, bytes); }
void PlatformUnmapPages(void* base, uint64_t) { std::free(base); }
#endif

struct Region {
    uint8_t* base;
    uint64_t bytes;
    uint8_t* cursor;  // the first page not yet handed out
    bool ownBlock;    // the mapping of one large block
    int64_t live;     // blocks handed out and not freed
};

Region g_regions[kMaxRegions];
int32_t g_regionCount = 0;
uint8_t* g_freeLists[kListedPages + 1];  // freed blocks by page count, linked through their first word

uint64_t PagesFor(uint64_t bytes) { return (bytes + kBlockHeaderBytes + kPageBytes - 1) / kPageBytes; }

Region* RegionOf(const void* block) {
    const auto* byte = static_cast<const uint8_t*>(block);
    for (int32_t i = 0; i < g_regionCount; ++i) {
        if (byte >= g_regions[i].base && byte < g_regions[i].base + g_regions[i].bytes) return &g_regions[i];
    }
    return nullptr;
}

Region* AddRegion(uint64_t bytes, bool ownBlock) {
    if (g_regionCount == kMaxRegions) return nullptr;
    auto* base = static_cast<uint8_t*>(PlatformMapPages(bytes));
    if (!base) return nullptr;
    g_regions[g_regionCount] = {base, bytes, base, ownBlock, 0};
    return &g_regions[g_regionCount++];
}

// Pages from the newest region that has room, else from a new one.
uint8_t* CarvePages(uint64_t pages) {
    const uint64_t bytes = pages * kPageBytes;
    for (int32_t i = g_regionCount; i-- > 0;) {
        Region& region = g_regions[i];
        if (region.ownBlock || region.base + region.bytes - region.cursor < static_cast<ptrdiff_t>(bytes)) continue;
        uint8_t* pagesStart = region.cursor;
        region.cursor += bytes;
        return pagesStart;
    }
    Region* region = bytes >= kOwnMappingBytes ? AddRegion(bytes, true) : AddRegion(kRegionBytes, false);
    if (!region) return nullptr;
    region->cursor += bytes;
    return region->base;
}

void* LargeAlloc(uint64_t bytes) {
    const uint64_t pages = PagesFor(bytes);
    uint8_t* start = nullptr;
    if (pages <= kListedPages && g_freeLists[pages]) {
        start = g_freeLists[pages] - kBlockHeaderBytes;
        g_freeLists[pages] = *reinterpret_cast<uint8_t**>(g_freeLists[pages]);
        std::memset(start, 0, pages * kPageBytes);  // a reused block; fresh pages are zero already
    } else {
        start = CarvePages(pages);
        if (!start) return std::calloc(1, bytes);
    }
    std::memcpy(start, &pages, sizeof pages);
    ++RegionOf(start)->live;
    return start + kBlockHeaderBytes;
}

// Drops the freed blocks that lie in `region` from the lists.
void ForgetFreedBlocksIn(const Region& region) {
    for (uint8_t*& head : g_freeLists) {
        for (uint8_t** link = &head; *link;) {
            if (*link >= region.base && *link < region.base + region.bytes) {
                *link = *reinterpret_cast<uint8_t**>(*link);
            } else {
                link = reinterpret_cast<uint8_t**>(*link);
            }
        }
    }
}

void LargeFree(Region& region, uint8_t* block) {
    uint64_t pages = 0;
    std::memcpy(&pages, block - kBlockHeaderBytes, sizeof pages);
    if (!region.ownBlock && pages <= kListedPages) {
        *reinterpret_cast<uint8_t**>(block) = g_freeLists[pages];
        g_freeLists[pages] = block;
    }
    if (--region.live > 0) return;
    if (!region.ownBlock) ForgetFreedBlocksIn(region);
    PlatformUnmapPages(region.base, region.bytes);
    region = g_regions[--g_regionCount];
}
#endif

}  // namespace

void* ModuleAlloc(uint64_t bytes) {
    ++g_allocCount;
    if (g_failAt > 0 && --g_failAt == 0) {
        if (g_failOnward) g_failAt = 1;
        return nullptr;
    }
#if TAMLORN_MODULE_CALLOC_ONLY
    void* block = std::calloc(1, bytes == 0 ? 1 : bytes);
#else
    void* block = bytes >= kPooledBlockBytes ? LargeAlloc(bytes) : std::calloc(1, bytes == 0 ? 1 : bytes);
#endif
    if (block) ++g_liveBlocks;
    return block;
}

void ModuleFree(void* block) {
    if (!block) return;
    --g_liveBlocks;
#if !TAMLORN_MODULE_CALLOC_ONLY
    if (Region* region = RegionOf(block)) {
        LargeFree(*region, static_cast<uint8_t*>(block));
        return;
    }
#endif
    std::free(block);
}

// glibc keeps freed memory for reuse unless asked; other C runtimes return
// large blocks to the system by themselves (and the regions go back as they empty).
void ModuleHeapTrim() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void ModuleHeapFailAt(int64_t n) {
    g_failAt = n < 0 ? 0 : n;
    g_failOnward = false;
}

void ModuleHeapFailFrom(int64_t n) {
    ModuleHeapFailAt(n);
    g_failOnward = true;
}
int64_t ModuleHeapAllocCount() { return g_allocCount; }
int64_t ModuleHeapLiveBlocks() { return g_liveBlocks; }

// Exported only by the test flavour of the library (its linker script and .def name them).
extern "C" TAMLORN_EXPORT void TamlornTestHeapFailAt(int64_t n) { ModuleHeapFailAt(n); }
extern "C" TAMLORN_EXPORT void TamlornTestHeapFailFrom(int64_t n) { ModuleHeapFailFrom(n); }
extern "C" TAMLORN_EXPORT int64_t TamlornTestHeapLiveBlocks() { return ModuleHeapLiveBlocks(); }
extern "C" TAMLORN_EXPORT int64_t TamlornTestHeapAllocCount() { return ModuleHeapAllocCount(); }
