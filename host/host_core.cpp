// The host's core table (HostCore), the "ms" message table and the log of
// host function calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"

namespace standin {
namespace {

// The slots are the functions themselves: a module calls them millions of times.
HostCore g_core = {{}, detail::Alloc, detail::Free, detail::Realloc, {}, detail::LookupHostSymbol};

std::vector<HostCall> g_calls;
std::vector<std::pair<std::string, std::string>> g_messages;
HostNamingPrefs g_namingPrefs = [] {
    HostNamingPrefs prefs{};
    prefs.legalNames = 1;  // the host's default: object names made legal
    return prefs;
}();

}  // namespace

namespace detail {

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

bool g_callLogging = true;
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

void ClearCallLog() { g_calls.clear(); }
void SetCallLogging(bool on) { detail::g_callLogging = on; }

std::vector<HostCall> CallsOf(const std::string& function) {
    std::vector<HostCall> calls;
    for (const HostCall& call : g_calls) {
        if (call.function == function) calls.push_back(call);
    }
    return calls;
}

const std::vector<std::pair<std::string, std::string>>& Messages() { return g_messages; }
void ClearMessages() { g_messages.clear(); }


}  // namespace standin
