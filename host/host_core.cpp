// The host's core table (HostCore), its tracked memory, the "ms" message table
// and the log of host function calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"

namespace standin {
namespace {

// A single block larger than this is refused like an exhausted heap would
// refuse it, so that a hostile count fails cleanly instead of reserving
// gigabytes (and a sanitizer build does not abort on the request).
constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 31;

// Every block carries a small header in front of what the module sees: its
// size and a mark that tells the host's own blocks from foreign ones. The
// header keeps the bookkeeping O(1) per block, as imports make millions.
struct BlockHeader {
    uint64_t size;
    uint64_t mark;
};
constexpr uint64_t kBlockMark = 0x54414D4C4F524E21ull;
constexpr uint64_t kFreedMark = 0x4652454544424C4Bull;
static_assert(sizeof(BlockHeader) == 16, "blocks stay 16-byte aligned");

struct Memory {
    int64_t liveBlocks = 0;
    int64_t allocationCount = 0;
    int64_t failCountdown = 0;  // 0: no failure scheduled
};

Memory& TheMemory() {
    static Memory memory;
    return memory;
}

[[noreturn]] void ForeignBlock(const char* operation, const void* block) {
    std::fprintf(stderr, "stand-in host: %s of a block the host never gave out (%p)\n", operation, block);
    std::abort();
}

BlockHeader* HeaderOf(const void* block, const char* operation) {
    auto* header = reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(block)) -
                                                  sizeof(BlockHeader));
    if (header->mark != kBlockMark) ForeignBlock(operation, block);
    return header;
}

void* BlockOf(BlockHeader* header) { return reinterpret_cast<char*>(header) + sizeof(BlockHeader); }

// Counts one allocation or reallocation and tells whether it is the one
// scheduled to fail.
bool ScheduledFailure() {
    Memory& memory = TheMemory();
    ++memory.allocationCount;
    return memory.failCountdown > 0 && --memory.failCountdown == 0;
}

void* AllocSlot(uint64_t count, uint64_t size) { return detail::Alloc(count, size); }
void FreeSlot(void* block) { detail::Free(block); }
void* ReallocSlot(void* block, uint64_t newSize) { return detail::Realloc(block, newSize); }
void* LookupSlot(const char* name) { return detail::LookupHostSymbol(name); }

HostCore g_core = {{}, AllocSlot, FreeSlot, ReallocSlot, {}, LookupSlot};

std::vector<HostCall> g_calls;
bool g_callLogging = true;
std::vector<std::pair<std::string, std::string>> g_messages;
HostNamingPrefs g_namingPrefs = [] {
    HostNamingPrefs prefs{};
    prefs.legalNames = 1;  // the host's default: object names made legal
    return prefs;
}();

}  // namespace

namespace detail {

void* Alloc(uint64_t count, uint64_t size) {
    if (ScheduledFailure()) return nullptr;
    if (size != 0 && count > kMaxBlockBytes / size) return nullptr;  // also catches count * size overflow
    const uint64_t bytes = count * size;
    auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + bytes));
    if (!header) return nullptr;
    *header = {bytes, kBlockMark};
    ++TheMemory().liveBlocks;
    return BlockOf(header);
}

// Realloc of null allocates; the bytes beyond the old size read as zero.
void* Realloc(void* block, uint64_t newSize) {
    if (!block) return Alloc(1, newSize);
    BlockHeader* header = HeaderOf(block, "reallocation");
    if (ScheduledFailure() || newSize > kMaxBlockBytes) return nullptr;
    const uint64_t oldSize = header->size;
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + newSize));
    if (!moved) return nullptr;
    moved->size = newSize;
    if (newSize > oldSize) std::memset(static_cast<char*>(BlockOf(moved)) + oldSize, 0, newSize - oldSize);
    return BlockOf(moved);
}

void Free(void* block) {
    if (!block) return;
    BlockHeader* header = HeaderOf(block, "free");
    header->mark = kFreedMark;
    --TheMemory().liveBlocks;
    std::free(header);
}

uint64_t BlockSize(const void* block) { return block ? HeaderOf(block, "size query")->size : 0; }

char* CopyText(const char* text) {
    const uint64_t bytes = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(Alloc(bytes, 1));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

bool ReplaceText(char*& field, const char* text) {
    char* copy = CopyText(text);
    if (!copy) return false;
    Free(field);
    field = copy;
    return true;
}

bool CallLogging() { return g_callLogging; }
void AppendCall(const char* function, std::vector<std::string> args) { g_calls.push_back({function, std::move(args)}); }

std::string Text(const char* text) { return text ? std::string(text) : std::string("null"); }

std::string Number(int64_t value) { return std::to_string(value); }

}  // namespace detail

namespace {

void ShowMessage(const char* line1, const char* line2) {
    g_messages.emplace_back(detail::Text(line1), detail::Text(line2));
}

}  // namespace

HostMessageTable* detail::MessageTable() {
    static HostMessageTable table = {{}, ShowMessage};
    return &table;
}

HostCore* Core() { return &g_core; }
HostNamingPrefs& NamingPrefs() { return g_namingPrefs; }

std::string PointerText(const void* pointer) {
    if (!pointer) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

const std::vector<HostCall>& CallLog() { return g_calls; }
void ClearCallLog() { g_calls.clear(); }
void SetCallLogging(bool on) { g_callLogging = on; }

std::vector<HostCall> CallsOf(const std::string& function) {
    std::vector<HostCall> calls;
    for (const HostCall& call : g_calls) {
        if (call.function == function) calls.push_back(call);
    }
    return calls;
}

const std::vector<std::pair<std::string, std::string>>& Messages() { return g_messages; }
void ClearMessages() { g_messages.clear(); }

int64_t LiveBlocks() { return TheMemory().liveBlocks; }
int64_t AllocationCount() { return TheMemory().allocationCount; }
void FailAllocationAt(int64_t n) { TheMemory().failCountdown = n < 0 ? 0 : n; }

}  // namespace standin
