// The host's core table (HostCore), its tracked memory, the "ms" message table
// and the log of host function calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "host_internal.h"

namespace standin {
namespace {

// A single block larger than this is refused like an exhausted heap would
// refuse it, so that a hostile count fails cleanly instead of reserving
// gigabytes (and a sanitizer build does not abort on the request).
constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 31;

struct Memory {
    std::unordered_map<const void*, uint64_t> live;  // block -> size in bytes
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
    void* block = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (block) TheMemory().live.emplace(block, bytes);
    return block;
}

// Realloc of null allocates; the bytes beyond the old size read as zero.
void* Realloc(void* block, uint64_t newSize) {
    if (!block) return Alloc(1, newSize);
    Memory& memory = TheMemory();
    const auto found = memory.live.find(block);
    if (found == memory.live.end()) ForeignBlock("reallocation", block);
    if (ScheduledFailure() || newSize > kMaxBlockBytes) return nullptr;
    const uint64_t oldSize = found->second;
    void* moved = std::realloc(block, newSize == 0 ? 1 : newSize);
    if (!moved) return nullptr;
    memory.live.erase(found);
    if (newSize > oldSize) std::memset(static_cast<char*>(moved) + oldSize, 0, newSize - oldSize);
    memory.live.emplace(moved, newSize);
    return moved;
}

void Free(void* block) {
    if (!block) return;
    if (TheMemory().live.erase(block) == 0) ForeignBlock("free", block);
    std::free(block);
}

uint64_t BlockSize(const void* block) {
    if (!block) return 0;
    const auto found = TheMemory().live.find(block);
    if (found == TheMemory().live.end()) ForeignBlock("size query", block);
    return found->second;
}

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

void LogCall(const char* function, std::vector<std::string> args) { g_calls.push_back({function, std::move(args)}); }

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

std::vector<HostCall> CallsOf(const std::string& function) {
    std::vector<HostCall> calls;
    for (const HostCall& call : g_calls) {
        if (call.function == function) calls.push_back(call);
    }
    return calls;
}

const std::vector<std::pair<std::string, std::string>>& Messages() { return g_messages; }
void ClearMessages() { g_messages.clear(); }

int64_t LiveBlocks() { return static_cast<int64_t>(TheMemory().live.size()); }
int64_t AllocationCount() { return TheMemory().allocationCount; }
void FailAllocationAt(int64_t n) { TheMemory().failCountdown = n < 0 ? 0 : n; }

}  // namespace standin
