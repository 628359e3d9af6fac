// The host's block store: where every block of the HostCore slots lives.
//
// An import makes millions of small records, so blocks are carved from large
// mappings rather than asked of the C heap one by one:
// - Blocks of up to kLargestClassBytes bytes come from size-class slabs of
//   64 KiB. A slab's bookkeeping (its zone, block size, and one byte per block
//   that says whether the block is live and how much of its class it uses) is
//   kept aside, so a 176-byte point takes exactly 176 bytes.
// - Slabs are cut from spans, mappings that grow with the zone up to 64 MiB
//   and ask for transparent huge pages: their first touch costs a fraction of
//   what 4 KB pages cost, and fresh pages are already zero (never cleared
//   again; only a reused slot is).
// - Larger blocks are single allocations with room to grow, so that arrays
//   grown step by step are not copied at every step.
// - Every block belongs to a zone. Each load (and each object the host models
//   itself) gets a zone of its own, so that destroying an object can release
//   its zone at once instead of block by block.
//
// Under TAMLORN_SANITIZE (a sanitizer build) every block is its own calloc, so
// that the sanitizers see each one, and a zone is the set of its blocks.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "host_internal.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TAMLORN_BLOCK_PER_ALLOCATION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAMLORN_BLOCK_PER_ALLOCATION 1
#endif
#endif

namespace standin::detail {

// A single block larger than this is refused like an exhausted heap would
// refuse it, so that a hostile count fails cleanly instead of reserving
// gigabytes (and a sanitizer build does not abort on the request).
constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 31;

struct Zone;

int64_t LiveBytesInZones();

namespace {

// The live blocks and bytes are counted per zone only (one count less per
// allocation); the totals are their sums.
struct Totals {
    int64_t allocationCount = 0;
    int64_t failCountdown = 0;  // 0: no failure scheduled
    uint64_t limit = UINT64_MAX;  // live bytes past this are refused
    bool limitReached = false;
    bool failOnward = false;    // the scheduled failure is followed by failures of every later one
};

Totals g_totals;

// Whether `more` bytes still fit under the memory limit; a refusal is remembered.
bool WithinLimit(uint64_t more) {
    if (g_totals.limit == UINT64_MAX) return true;
    const auto live = static_cast<uint64_t>(std::max<int64_t>(LiveBytesInZones(), 0));
    if (more <= g_totals.limit - std::min(g_totals.limit, live)) return true;
    g_totals.limitReached = true;
    return false;
}

[[noreturn]] void ForeignBlock(const char* operation, const void* block) {
    std::fprintf(stderr, "stand-in host: %s of a block the host never gave out (%p)\n", operation, block);
    std::abort();
}

// Counts one allocation or reallocation and tells whether it is scheduled to fail.
bool ScheduledFailure() {
    ++g_totals.allocationCount;
    if (g_totals.failCountdown <= 0 || --g_totals.failCountdown > 0) return false;
    if (g_totals.failOnward) g_totals.failCountdown = 1;
    return true;
}

void ScheduleFailure(int64_t n, bool onward) {
    g_totals.failCountdown = n < 0 ? 0 : n;
    g_totals.failOnward = onward;
}

}  // namespace

#if TAMLORN_BLOCK_PER_ALLOCATION
// ---- Sanitizer build: one calloc per block ---------------------------------------------

namespace {

// Addresses are stored complemented, so that leak checkers do not take the
// tables for references: a block nothing else reaches is reported.
uintptr_t Key(const void* block) { return ~reinterpret_cast<uintptr_t>(block); }
void* BlockOfKey(uintptr_t key) { return reinterpret_cast<void*>(~key); }

}  // namespace

struct Zone {
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
    std::unordered_set<uintptr_t> blocks;
};

namespace {

struct BlockEntry {
    Zone* zone;
    uint64_t size;
};

std::unordered_map<uintptr_t, BlockEntry>& Blocks() {
    static std::unordered_map<uintptr_t, BlockEntry> blocks;
    return blocks;
}

const BlockEntry* FindBlock(const void* block) {
    const auto found = Blocks().find(Key(block));
    return found == Blocks().end() ? nullptr : &found->second;
}

void* StoreAlloc(Zone* zone, uint64_t bytes) {
    void* block = std::calloc(1, std::max<uint64_t>(bytes, 1));
    if (!block) return nullptr;
    Blocks().emplace(Key(block), BlockEntry{zone, bytes});
    zone->blocks.insert(Key(block));
    return block;
}

void StoreFree(void* block, Zone* zone) {
    Blocks().erase(Key(block));
    zone->blocks.erase(Key(block));
    std::free(block);
}

void* StoreResize(void* block, Zone* zone, uint64_t oldSize, uint64_t newSize) {
    const uintptr_t oldKey = Key(block);
    void* moved = std::realloc(block, std::max<uint64_t>(newSize, 1));
    if (!moved) return nullptr;
    Blocks().erase(oldKey);
    zone->blocks.erase(oldKey);
    Blocks().emplace(Key(moved), BlockEntry{zone, newSize});
    zone->blocks.insert(Key(moved));
    if (newSize > oldSize) std::memset(static_cast<char*>(moved) + oldSize, 0, newSize - oldSize);
    return moved;
}

void StoreReleaseZone(Zone* zone) {
    for (uintptr_t key : zone->blocks) {
        Blocks().erase(key);
        std::free(BlockOfKey(key));
    }
    zone->blocks.clear();
}

}  // namespace

#else
// ---- Slabs and spans ----------------------------------------------------------------------

namespace {

constexpr uint64_t kPageBytes = 4096;
constexpr uint64_t kHugePageBytes = uint64_t{2} << 20;
// Spans start at one huge page: a smaller one would take its pages in 4 KB faults,
// which in a virtual machine can cost fifty times as much per byte as huge pages.
constexpr uint64_t kFirstSpanBytes = kHugePageBytes;
constexpr uint64_t kLargestSpanBytes = uint64_t{64} << 20;
// A slab block's unused tail (at most a quarter of its class) fits one byte of state.
constexpr uint64_t kLargestClassBytes = 1024;
// Larger blocks than this get a mapping of their own (a list that grows past it
// then grows in huge pages, not 4 KB faults); smaller ones come from calloc.
constexpr uint64_t kMappedBlockBytes = uint64_t{64} << 10;

// ---- The one platform function: zeroed pages --------------------------------------------

// Zeroed memory of `bytes` bytes (a multiple of kPageBytes) aligned to
// `alignment` (a power of two of at least 64 KiB), or null. Ranges of 2 MiB
// and more are aligned to 2 MiB and ask for transparent huge pages.
void* MapPages(uint64_t bytes, uint64_t alignment);
void UnmapPages(void* base, uint64_t bytes);
// Grows or shrinks a mapping, moving it when it must; null (old mapping kept)
// when the platform cannot.
void* RemapPages(void* base, uint64_t oldBytes, uint64_t newBytes);

#if defined(_WIN32)
// VirtualAlloc hands out zeroed ranges aligned to 64 KiB.
void* MapPages(uint64_t bytes, uint64_t) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }
void UnmapPages(void* base, uint64_t) { VirtualFree(base, 0, MEM_RELEASE); }
void* RemapPages(void*, uint64_t, uint64_t) { return nullptr; }
#elif defined(__unix__) || defined(__APPLE__)
void* MapPages(uint64_t bytes, uint64_t alignment) {
    if (bytes >= kHugePageBytes) alignment = std::max(alignment, kHugePageBytes);
    const uint64_t reserved = bytes + alignment;
    void* mapped = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + alignment - 1) & ~(alignment - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const uintptr_t end = start + reserved;
    if (end > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
#if defined(MADV_HUGEPAGE)
    if (bytes >= kHugePageBytes) madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}
void UnmapPages(void* base, uint64_t bytes) { munmap(base, bytes); }
#if defined(MREMAP_MAYMOVE)
void* RemapPages(void* base, uint64_t oldBytes, uint64_t newBytes) {
#if defined(MREMAP_FIXED) && defined(MADV_HUGEPAGE)
    if (newBytes >= kHugePageBytes) {
        void* target = MapPages(newBytes, kHugePageBytes);
        if (!target) return nullptr;
        void* moved = mremap(base, oldBytes, newBytes, MREMAP_MAYMOVE | MREMAP_FIXED, target);
        if (moved == MAP_FAILED) {
            UnmapPages(target, newBytes);
            return nullptr;
        }
        madvise(moved, newBytes, MADV_HUGEPAGE);
        return moved;
    }
#endif
    void* moved = mremap(base, oldBytes, newBytes, MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
}
#else
void* RemapPages(void*, uint64_t, uint64_t) { return nullptr; }
#endif
#else
void* MapPages(uint64_t bytes, uint64_t alignment) {
    void* block = std::aligned_alloc(alignment, bytes);
    if (block) std::memset(block, 0, bytes);
    return block;
}
void UnmapPages(void* base, uint64_t) { std::free(base); }
void* RemapPages(void*, uint64_t, uint64_t) { return nullptr; }
#endif

uint64_t RoundUp(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }
// A mapped block is whole huge pages: a list that grows from a few pages on
// (a UV map's entries) would otherwise take its first 2 MiB in 4 KB faults.
uint64_t MappedBytes(uint64_t bytes) { return RoundUp(bytes, kHugePageBytes); }
// Scratch of a huge page or more is whole huge pages too (its tail would take
// 4 KB faults); smaller scratch stays in 4 KB pages.
uint64_t ScratchMappingBytes(uint64_t bytes) {
    return bytes < kHugePageBytes ? RoundUp(std::max<uint64_t>(bytes, 1), kPageBytes) : MappedBytes(bytes);
}

// ---- Size classes: steps of 8 bytes up to 128, of 16 up to 256 (a 176-byte
// point takes 176 bytes), then four classes per doubling ----------------------------------

constexpr int kClassCount = 16 + 8 + 4 * 2;

constexpr std::array<uint32_t, kClassCount> MakeClassSizes() {
    std::array<uint32_t, kClassCount> sizes{};
    int i = 0;
    for (uint32_t size = 8; size <= 128; size += 8) sizes[i++] = size;
    for (uint32_t size = 144; size <= 256; size += 16) sizes[i++] = size;
    for (uint32_t base = 256; base < kLargestClassBytes; base *= 2) {
        for (uint32_t quarter = 1; quarter <= 4; ++quarter) sizes[i++] = base + quarter * base / 4;
    }
    return sizes;
}
constexpr std::array<uint32_t, kClassCount> kClassSizes = MakeClassSizes();
static_assert(kClassSizes.back() == kLargestClassBytes);
static_assert(kSlabBytes <= (uint64_t{1} << 16) && kLargestClassBytes <= (uint64_t{1} << 10),
              "slots are found by a 32-bit reciprocal");

// The smallest class that holds `bytes` (1 .. kLargestClassBytes), by table.
constexpr std::array<uint8_t, kLargestClassBytes / 8 + 1> MakeClassTable() {
    std::array<uint8_t, kLargestClassBytes / 8 + 1> table{};
    int c = 0;
    for (size_t eighths = 0; eighths < table.size(); ++eighths) {
        while (kClassSizes[c] < eighths * 8) ++c;
        table[eighths] = static_cast<uint8_t>(c);
    }
    return table;
}
constexpr std::array<uint8_t, kLargestClassBytes / 8 + 1> kClassOfEighths = MakeClassTable();

int ClassOf(uint64_t bytes) { return kClassOfEighths[(bytes + 7) / 8]; }

struct Slab {
    Zone* zone;
    uint8_t* base;
    uint32_t blockSize;
    uint32_t reciprocal;  // ceil(2^32 / blockSize): a slot from an offset without a division
    uint32_t capacity;
    uint8_t sizeClass;
    // Per block: 0 while free, else 1 + the bytes of its class it does not use.
    uint8_t* state;
};

// A class's blocks come from its free list, else by bumping through its
// current slab: the cursors are kept here, beside the list, so that an
// allocation touches one line of bookkeeping.
struct ClassState {
    void* freeList = nullptr;  // freed blocks, linked through their first word
    uint8_t* next = nullptr;   // the current slab's next fresh block
    uint8_t* end = nullptr;    // and the end of its blocks
    uint8_t* nextState = nullptr;  // the state byte of `next`
};

struct Span {
    uint8_t* base;
    uint64_t bytes;
};

struct LargeBlock {
    Zone* zone;
    uint64_t size;
    uint64_t capacity;
    uint64_t dirty;  // bytes from `size` up to here may hold old contents
    bool mapped;
};

}  // namespace

struct Zone {
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
    std::vector<Span> spans;
    uint8_t* spanCursor = nullptr;
    uint8_t* spanEnd = nullptr;
    uint8_t* stateCursor = nullptr;  // the slabs' state bytes, carved from the spans too
    uint8_t* stateEnd = nullptr;
    uint64_t nextSpanBytes = kFirstSpanBytes;
    std::array<ClassState, kClassCount> classes{};
    std::vector<std::unique_ptr<Slab>> slabs;
    std::unordered_set<uintptr_t> largeBlocks;
};

namespace {

// Which slab a 64 KiB granule of the address space belongs to: a two-level
// table over 48-bit addresses, so that finding a block's slab is two loads.
constexpr int kLevelBits = 16;
constexpr uint64_t kLevelSize = uint64_t{1} << kLevelBits;
Slab** g_slabTable[kLevelSize];

Slab** SlabEntry(uintptr_t address, bool create) {
    const uint64_t granule = address >> kSlabShift;
    if (granule >> (2 * kLevelBits)) return nullptr;
    Slab**& level = g_slabTable[granule >> kLevelBits];
    if (!level && create) level = static_cast<Slab**>(std::calloc(kLevelSize, sizeof(Slab*)));
    return level ? &level[granule & (kLevelSize - 1)] : nullptr;
}

// The slab last looked up: walks over an object meet the blocks of one slab
// in a row. The size query's windows show it and the one before.
Slab* g_lastSlab = nullptr;

void SetLastSlab(Slab* slab) {
    g_lastSlab = slab;
    if (!slab) {
        for (SlabWindow& window : g_slabWindows) window = {};
        return;
    }
    if (g_slabWindows[0].base == reinterpret_cast<uintptr_t>(slab->base)) return;
    std::copy_backward(g_slabWindows, g_slabWindows + kSlabWindows - 1, g_slabWindows + kSlabWindows);
    g_slabWindows[0] = {reinterpret_cast<uintptr_t>(slab->base), slab->state, slab->blockSize, slab->reciprocal,
                        slab->capacity};
}

Slab* SlabOf(const void* block) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(block);
    if (g_lastSlab && address - reinterpret_cast<uintptr_t>(g_lastSlab->base) < kSlabBytes) return g_lastSlab;
    Slab** entry = SlabEntry(address, false);
    if (!entry || !*entry) return nullptr;
    SetLastSlab(*entry);
    return *entry;
}

std::unordered_map<uintptr_t, LargeBlock>& LargeBlocks() {
    static std::unordered_map<uintptr_t, LargeBlock> blocks;
    return blocks;
}

uint8_t* CarveSlabBytes(Zone* zone) {
    if (zone->spanEnd - zone->spanCursor < static_cast<ptrdiff_t>(kSlabBytes)) {
        const uint64_t bytes = zone->nextSpanBytes;
        auto* base = static_cast<uint8_t*>(MapPages(bytes, kSlabBytes));
        if (!base) return nullptr;
        zone->spans.push_back({base, bytes});
        zone->spanCursor = base;
        zone->spanEnd = base + bytes;
        zone->nextSpanBytes = std::min(bytes * 2, kLargestSpanBytes);
    }
    uint8_t* slab = zone->spanCursor;
    zone->spanCursor += kSlabBytes;
    return slab;
}

// A slab's state bytes (zero): kept in the spans' huge pages beside the
// blocks rather than in small heap blocks of their own.
uint8_t* CarveStateBytes(Zone* zone, uint32_t count) {
    if (zone->stateEnd - zone->stateCursor < static_cast<ptrdiff_t>(count)) {
        uint8_t* bytes = CarveSlabBytes(zone);
        if (!bytes) return nullptr;
        zone->stateCursor = bytes;
        zone->stateEnd = bytes + kSlabBytes;
    }
    uint8_t* state = zone->stateCursor;
    zone->stateCursor += count;
    return state;
}

Slab* NewSlab(Zone* zone, int sizeClass) {
    Slab** entry = nullptr;
    const uint32_t capacity = static_cast<uint32_t>(kSlabBytes / kClassSizes[sizeClass]);
    uint8_t* states = CarveStateBytes(zone, capacity);
    uint8_t* base = states ? CarveSlabBytes(zone) : nullptr;
    if (base) entry = SlabEntry(reinterpret_cast<uintptr_t>(base), true);
    if (!entry) return nullptr;
    auto slab = std::make_unique<Slab>();
    slab->zone = zone;
    slab->base = base;
    slab->blockSize = kClassSizes[sizeClass];
    slab->reciprocal = static_cast<uint32_t>(((uint64_t{1} << 32) + slab->blockSize - 1) / slab->blockSize);
    slab->capacity = capacity;
    slab->sizeClass = static_cast<uint8_t>(sizeClass);
    slab->state = states;
    *entry = slab.get();
    ClassState& state = zone->classes[sizeClass];
    state.next = base;
    state.end = base + uint64_t{slab->capacity} * slab->blockSize;
    state.nextState = slab->state;
    zone->slabs.push_back(std::move(slab));
    return zone->slabs.back().get();
}

// The slot an offset into a slab falls in. Exact: offsets stay below 2^16 and
// block sizes at most 2^10, so the reciprocal's rounding never reaches a whole slot.
uint64_t SlotAt(const Slab& slab, const void* block) {
    const auto offset = static_cast<uint64_t>(static_cast<const uint8_t*>(block) - slab.base);
    return (offset * slab.reciprocal) >> 32;
}

// The slot of a live block that starts at `block`, or UINT32_MAX.
uint32_t SlotOf(const Slab& slab, const void* block) {
    const uint64_t slot = SlotAt(slab, block);
    if (slab.base + slot * slab.blockSize != block) return UINT32_MAX;
    return slot < slab.capacity && slab.state[slot] != 0 ? static_cast<uint32_t>(slot) : UINT32_MAX;
}

uint8_t& StateOf(const Slab& slab, const void* block) { return slab.state[SlotAt(slab, block)]; }

void SetBlockSize(const Slab& slab, const void* block, uint64_t bytes) {
    StateOf(slab, block) = static_cast<uint8_t>(1 + slab.blockSize - bytes);
}

// The next fresh block of the class's current slab, which has one.
void* BumpAlloc(ClassState& state, int sizeClass, uint64_t bytes) {
    const uint32_t blockSize = kClassSizes[sizeClass];
    void* block = state.next;
    state.next += blockSize;
    *state.nextState++ = static_cast<uint8_t>(1 + blockSize - bytes);
    return block;
}

// A freed block of the class, else a fresh one from a new slab: kept out of
// line so that the common bump needs no saved registers.
[[gnu::noinline]] void* SlabAllocSlow(Zone* zone, int sizeClass, uint64_t bytes) {
    ClassState& state = zone->classes[sizeClass];
    if (void* block = state.freeList) {
        state.freeList = *static_cast<void**>(block);
        std::memset(block, 0, kClassSizes[sizeClass]);  // a reused slot; fresh ones are zero already
        SetBlockSize(*SlabOf(block), block, bytes);
        return block;
    }
    if (state.next == state.end && !NewSlab(zone, sizeClass)) return nullptr;
    return BumpAlloc(state, sizeClass, bytes);
}

void* SlabAlloc(Zone* zone, uint64_t bytes) {
    const int sizeClass = ClassOf(std::max<uint64_t>(bytes, 1));
    ClassState& state = zone->classes[sizeClass];
    if (state.freeList || state.next == state.end) return SlabAllocSlow(zone, sizeClass, bytes);
    return BumpAlloc(state, sizeClass, bytes);
}

void SlabFree(Slab& slab, void* block) {
    StateOf(slab, block) = 0;
    ClassState& state = slab.zone->classes[slab.sizeClass];
    *static_cast<void**>(block) = state.freeList;
    state.freeList = block;
}

// ---- Large blocks -------------------------------------------------------------------------

void* RawLargeAlloc(uint64_t capacity, bool mapped) {
    return mapped ? MapPages(capacity, kSlabBytes) : std::calloc(1, capacity);
}

void RawLargeFree(void* block, const LargeBlock& large) {
    if (large.mapped) {
        UnmapPages(block, large.capacity);
    } else {
        std::free(block);
    }
}

void* LargeAlloc(Zone* zone, uint64_t bytes, uint64_t capacity) {
    const bool mapped = capacity >= kMappedBlockBytes;
    if (mapped) capacity = MappedBytes(capacity);
    void* block = RawLargeAlloc(capacity, mapped);
    if (!block) return nullptr;
    LargeBlocks().emplace(reinterpret_cast<uintptr_t>(block), LargeBlock{zone, bytes, capacity, bytes, mapped});
    zone->largeBlocks.insert(reinterpret_cast<uintptr_t>(block));
    return block;
}

void LargeFree(void* block) {
    const auto found = LargeBlocks().find(reinterpret_cast<uintptr_t>(block));
    found->second.zone->largeBlocks.erase(found->first);
    RawLargeFree(block, found->second);
    LargeBlocks().erase(found);
}

// Grows a large block within its room, or gives it twice the room (moving the
// pages where the platform can, else copying). Bytes past the old size read as zero.
void* LargeResize(void* block, uint64_t newSize) {
    LargeBlock& large = LargeBlocks().find(reinterpret_cast<uintptr_t>(block))->second;
    const uint64_t oldSize = large.size;
    if (newSize > large.capacity) {
        const uint64_t wanted = std::max(newSize, 2 * large.capacity);
        const uint64_t capacity = large.mapped ? MappedBytes(wanted) : wanted;
        void* moved = large.mapped ? RemapPages(block, large.capacity, capacity) : nullptr;
        if (!moved) {
            moved = LargeAlloc(large.zone, newSize, capacity);
            if (!moved) return nullptr;
            std::memcpy(moved, block, oldSize);
            LargeFree(block);
            return moved;
        }
        LargeBlock moving = large;
        LargeBlocks().erase(reinterpret_cast<uintptr_t>(block));
        moving.zone->largeBlocks.erase(reinterpret_cast<uintptr_t>(block));
        moving.capacity = capacity;
        LargeBlocks().emplace(reinterpret_cast<uintptr_t>(moved), moving);
        moving.zone->largeBlocks.insert(reinterpret_cast<uintptr_t>(moved));
        block = moved;
    }
    LargeBlock& resized = LargeBlocks().find(reinterpret_cast<uintptr_t>(block))->second;
    if (newSize > oldSize && resized.dirty > oldSize) {
        std::memset(static_cast<uint8_t*>(block) + oldSize, 0, std::min(newSize, resized.dirty) - oldSize);
    }
    resized.size = newSize;
    resized.dirty = std::max(resized.dirty, newSize);
    return block;
}

// ---- The store's operations ------------------------------------------------------------------

struct BlockEntry {
    Zone* zone;
    uint64_t size;
};

// The zone and size of a live block, or nothing for any other address.
bool FindBlock(const void* block, BlockEntry* entry) {
    if (const Slab* slab = SlabOf(block)) {
        const uint32_t slot = SlotOf(*slab, block);
        if (slot == UINT32_MAX) return false;
        *entry = {slab->zone, slab->blockSize + 1u - slab->state[slot]};
        return true;
    }
    const auto found = LargeBlocks().find(reinterpret_cast<uintptr_t>(block));
    if (found == LargeBlocks().end()) return false;
    *entry = {found->second.zone, found->second.size};
    return true;
}

void* StoreAlloc(Zone* zone, uint64_t bytes) {
    return bytes <= kLargestClassBytes ? SlabAlloc(zone, bytes) : LargeAlloc(zone, bytes, bytes);
}

void StoreFree(void* block, Zone*) {
    if (Slab* slab = SlabOf(block)) {
        SlabFree(*slab, block);
    } else {
        LargeFree(block);
    }
}

void* StoreResize(void* block, Zone* zone, uint64_t oldSize, uint64_t newSize) {
    Slab* slab = SlabOf(block);
    if (!slab && newSize > kLargestClassBytes) return LargeResize(block, newSize);
    if (slab && ClassOf(std::max<uint64_t>(newSize, 1)) == slab->sizeClass) {
        // Bytes between the sizes may hold what a shrink left behind.
        if (newSize > oldSize) std::memset(static_cast<uint8_t*>(block) + oldSize, 0, newSize - oldSize);
        SetBlockSize(*slab, block, newSize);
        return block;
    }
    void* moved = StoreAlloc(zone, newSize);
    if (!moved) return nullptr;
    std::memcpy(moved, block, std::min(oldSize, newSize));
    StoreFree(block, zone);
    return moved;
}

void StoreReleaseZone(Zone* zone) {
    for (const auto& slab : zone->slabs) *SlabEntry(reinterpret_cast<uintptr_t>(slab->base), false) = nullptr;
    SetLastSlab(nullptr);
    zone->slabs.clear();
    zone->classes = {};
    for (const Span& span : zone->spans) UnmapPages(span.base, span.bytes);
    zone->spans.clear();
    zone->spanCursor = zone->spanEnd = nullptr;
    zone->stateCursor = zone->stateEnd = nullptr;
    zone->nextSpanBytes = kFirstSpanBytes;
    for (uintptr_t address : zone->largeBlocks) {
        const auto found = LargeBlocks().find(address);
        RawLargeFree(reinterpret_cast<void*>(address), found->second);
        LargeBlocks().erase(found);
    }
    zone->largeBlocks.clear();
}

}  // namespace
#endif

#if TAMLORN_BLOCK_PER_ALLOCATION
ScratchBytes::ScratchBytes(uint64_t bytes) : data_(std::calloc(1, std::max<uint64_t>(bytes, 1))), bytes_(bytes) {}
ScratchBytes::~ScratchBytes() { std::free(data_); }
bool ScratchBytes::Grow(uint64_t bytes) {
    void* grown = bytes > bytes_ && data_ ? std::realloc(data_, bytes) : nullptr;
    if (!grown) return bytes <= bytes_;
    std::memset(static_cast<uint8_t*>(grown) + bytes_, 0, bytes - bytes_);
    data_ = grown;
    bytes_ = bytes;
    return true;
}
#else
ScratchBytes::ScratchBytes(uint64_t bytes)
    : data_(MapPages(ScratchMappingBytes(bytes), kSlabBytes)), bytes_(ScratchMappingBytes(bytes)) {}
ScratchBytes::~ScratchBytes() {
    if (data_) UnmapPages(data_, bytes_);
}
bool ScratchBytes::Grow(uint64_t bytes) {
    if (bytes <= bytes_ || !data_) return bytes <= bytes_;
    bytes = ScratchMappingBytes(bytes);
    void* grown = RemapPages(data_, bytes_, bytes);
    if (!grown) {
        grown = MapPages(bytes, kSlabBytes);
        if (!grown) return false;
        std::memcpy(grown, data_, bytes_);
        UnmapPages(data_, bytes_);
    }
    data_ = grown;
    bytes_ = bytes;
    return true;
}
#endif

// ---- Zones and the tracked slots ----------------------------------------------------------

namespace {

Zone g_generalZone;          // blocks made outside any load or modelled object
Zone* g_currentZone = &g_generalZone;
std::vector<std::unique_ptr<Zone>> g_zones;  // the other zones

void DestroyZone(Zone* zone) {
    StoreReleaseZone(zone);
    std::erase_if(g_zones, [zone](const std::unique_ptr<Zone>& owned) { return owned.get() == zone; });
}

// A zone that holds no block and takes no more is released.
void ReleaseZoneIfDone(Zone* zone) {
    if (zone->liveBlocks == 0 && zone != g_currentZone && zone != &g_generalZone) DestroyZone(zone);
}

BlockEntry EntryOf(const void* block, const char* operation) {
    BlockEntry entry{};
#if TAMLORN_BLOCK_PER_ALLOCATION
    const BlockEntry* found = FindBlock(block);
    if (!found) ForeignBlock(operation, block);
    entry = *found;
#else
    if (!FindBlock(block, &entry)) ForeignBlock(operation, block);
#endif
    return entry;
}

void CountBlock(Zone* zone, int64_t blocks, int64_t bytes) {
    zone->liveBlocks += blocks;
    zone->liveBytes += bytes;
}

// The sum of `field` over every zone.
int64_t SumOverZones(int64_t Zone::*field) {
    int64_t sum = g_generalZone.*field;
    for (const auto& zone : g_zones) sum += (*zone).*field;
    return sum;
}

}  // namespace

void* Alloc(uint64_t count, uint64_t size) {
    if (ScheduledFailure()) return nullptr;
    uint64_t bytes = size;  // one record, the common call: no product to check
    if (count != 1 && __builtin_mul_overflow(count, size, &bytes)) return nullptr;
    if (bytes > kMaxBlockBytes || !WithinLimit(bytes)) return nullptr;
    void* block = StoreAlloc(g_currentZone, bytes);
    if (block) CountBlock(g_currentZone, 1, static_cast<int64_t>(bytes));
    return block;
}

// Realloc of null allocates; the bytes beyond the old size read as zero. The
// block stays in its zone.
void* Realloc(void* block, uint64_t newSize) {
    if (!block) return Alloc(1, newSize);
    const BlockEntry entry = EntryOf(block, "reallocation");
    if (ScheduledFailure() || newSize > kMaxBlockBytes) return nullptr;
    if (newSize > entry.size && !WithinLimit(newSize - entry.size)) return nullptr;
    void* moved = StoreResize(block, entry.zone, entry.size, newSize);
    if (moved) CountBlock(entry.zone, 0, static_cast<int64_t>(newSize) - static_cast<int64_t>(entry.size));
    return moved;
}

void Free(void* block) {
    if (!block) return;
    const BlockEntry entry = EntryOf(block, "free");
    StoreFree(block, entry.zone);
    CountBlock(entry.zone, -1, -static_cast<int64_t>(entry.size));
    ReleaseZoneIfDone(entry.zone);
}

SlabWindow g_slabWindows[kSlabWindows];

uint64_t StoreBlockSize(const void* block) { return block ? EntryOf(block, "size query").size : 0; }

Zone* ZoneOf(const void* block) { return EntryOf(block, "zone query").zone; }

bool ReleaseZoneWhole(Zone* zone, int64_t heldBlocks) {
    if (zone == &g_generalZone || zone->liveBlocks != heldBlocks) return false;
    CountBlock(zone, -zone->liveBlocks, -zone->liveBytes);
    StoreReleaseZone(zone);
    ReleaseZoneIfDone(zone);
    return true;
}

int64_t LiveBytesInZones() { return SumOverZones(&Zone::liveBytes); }

ZoneScope::ZoneScope() : previous_(g_currentZone) {
    g_zones.push_back(std::make_unique<Zone>());
    g_currentZone = g_zones.back().get();
}

ZoneScope::~ZoneScope() {
    Zone* zone = g_currentZone;
    g_currentZone = previous_;
    ReleaseZoneIfDone(zone);
}

}  // namespace standin::detail

namespace standin {

int64_t LiveBlocks() { return detail::SumOverZones(&detail::Zone::liveBlocks); }
int64_t LiveBytes() { return detail::LiveBytesInZones(); }
int64_t AllocationCount() { return detail::g_totals.allocationCount; }
void FailAllocationAt(int64_t n) { detail::ScheduleFailure(n, false); }
void FailAllocationsFrom(int64_t n) { detail::ScheduleFailure(n, true); }

void SetMemoryLimit(uint64_t bytes) {
    detail::g_totals.limit = bytes ? bytes : UINT64_MAX;
    detail::g_totals.limitReached = false;
}
bool MemoryLimitReached() { return detail::g_totals.limitReached; }

}  // namespace standin
