// Loading the module as the host does: open the library, read its two name
// arrays, run every init function with a fresh server record, and drive the
// callbacks the records hold.
#include <filesystem>
#include <memory>

#include "host_internal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {
namespace {

// A name array longer than this without its closing null is not a server list.
constexpr int kMaxServersPerList = 64;

#if defined(_WIN32)
using LibraryHandle = HMODULE;
constexpr const char* kModuleFileName = "tamlorn_io.dll";

LibraryHandle OpenLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }
void* LibrarySymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
void CloseLibrary(LibraryHandle library) { FreeLibrary(library); }
std::string LibraryError() { return "system error " + std::to_string(GetLastError()); }

std::filesystem::path ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::filesystem::path(path).parent_path();
}
#else
using LibraryHandle = void*;
constexpr const char* kModuleFileName = "libtamlorn_io.so";

LibraryHandle OpenLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* LibrarySymbol(LibraryHandle library, const char* name) { return dlsym(library, name); }
void CloseLibrary(LibraryHandle library) { dlclose(library); }
std::string LibraryError() {
    const char* message = dlerror();
    return message ? message : "unknown error";
}

std::filesystem::path ProgramDirectory() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}
#endif

struct LoadedModule {
    LibraryHandle library = nullptr;
    std::vector<std::unique_ptr<ServerRecord>> records;
    std::vector<Server> servers;
};

LoadedModule g_module;

// Runs the init function of every name in `names` (a null-terminated array).
bool RegisterServers(const char* const* names, bool isImport, std::string* error) {
    for (int i = 0; names[i]; ++i) {
        if (i == kMaxServersPerList) {
            *error = "server list without an end";
            return false;
        }
        auto init = reinterpret_cast<InitFunction>(LibrarySymbol(g_module.library, names[i]));
        if (!init) {
            *error = std::string("no init function ") + names[i];
            return false;
        }
        auto record = std::make_unique<ServerRecord>();
        record->namingPrefs = &NamingPrefs();
        const int32_t result = init(Core(), record.get());
        g_module.servers.push_back({names[i], isImport, record.get(), result});
        g_module.records.push_back(std::move(record));
    }
    return true;
}

bool RegisterAllServers(std::string* error) {
    for (const bool isImport : {true, false}) {
        const char* symbol = isImport ? kImportServersSymbol : kExportServersSymbol;
        auto names = static_cast<const char* const*>(LibrarySymbol(g_module.library, symbol));
        if (!names) {
            *error = std::string("no ") + symbol;
            return false;
        }
        if (!RegisterServers(names, isImport, error)) return false;
    }
    return true;
}

FreeCallback ModuleFreeCallback() {
    for (const Server& server : g_module.servers) {
        if (server.isImport) return server.record->free;
    }
    return nullptr;
}

void* ModuleSymbol(const char* name) { return g_module.library ? LibrarySymbol(g_module.library, name) : nullptr; }

}  // namespace

bool LoadModule(const std::string& path, std::string* error) {
    UnloadModule();
    g_module.library = OpenLibrary(path);
    std::string reason;
    if (!g_module.library) {
        reason = LibraryError();
    } else if (RegisterAllServers(&reason)) {
        return true;
    }
    if (error) *error = "cannot load " + path + ": " + reason;
    UnloadModule();
    return false;
}

void UnloadModule() {
    for (const Server& server : g_module.servers) detail::DropExtensions(server.record);
    g_module.servers.clear();
    g_module.records.clear();
    if (g_module.library) CloseLibrary(g_module.library);
    g_module.library = nullptr;
}

// The module next to the running program (a build tree), else in the plug-in
// folder of an installation.
std::string DefaultModulePath() {
    const std::filesystem::path program = ProgramDirectory();
    const std::filesystem::path beside = program / kModuleFileName;
    std::error_code error;
    if (std::filesystem::exists(beside, error)) return beside.string();
    return (program / TAMLORN_PLUGIN_FROM_BIN / kModuleFileName).lexically_normal().string();
}

const std::vector<Server>& Servers() { return g_module.servers; }

const Server* FindServer(bool import, const std::string& extension) {
    for (const RegisteredExtension& registered : RegisteredExtensions()) {
        if (registered.extension != extension) continue;
        for (const Server& server : g_module.servers) {
            if (server.isImport == import && server.record == registered.record) return &server;
        }
    }
    return nullptr;
}

int32_t CheckFile(const Server& server, const std::string& path) {
    return server.record->check ? server.record->check(path.c_str()) : 0;
}

int32_t LoadFile(const Server& server, HostObject** slot, const std::string& path, uint32_t loadFlags,
                 uint32_t pointDataSize, uint64_t hostValue) {
    if (!server.isImport || !server.record->load) return 0;
    detail::ZoneScope zone;  // what this load makes can be released together
    return server.record->load(slot, path.c_str(), 0, pointDataSize, loadFlags, hostValue, 0, 0);
}

int32_t SaveObject(const Server& server, HostObject* object, const std::string& path, uint32_t saveFlags) {
    if (server.isImport || !server.record->save) return 0;
    return server.record->save(object, path.c_str(), saveFlags);
}

void DestroyObject(HostObject* object) {
    if (!object) return;
    const FreeCallback moduleFree = ModuleFreeCallback();
    if (moduleFree && object->geometry) {
        moduleFree(object);
        // The callback released the surfaces; the list head still points at them.
        object->geometry->surfaceList = nullptr;
        object->geometry->surfaceCount = 0;
    }
    detail::FreeObjectEverything(object);
}

int64_t ObjectBytes(HostObject* object) { return object ? static_cast<int64_t>(detail::ObjectBytes(object)) : 0; }

namespace {

bool CallHeapHook(const char* name, int64_t n) {
    auto hook = reinterpret_cast<void (*)(int64_t)>(ModuleSymbol(name));
    if (hook) hook(n);
    return hook != nullptr;
}

int64_t AskHeapHook(const char* name) {
    auto hook = reinterpret_cast<int64_t (*)()>(ModuleSymbol(name));
    return hook ? hook() : -1;
}

}  // namespace

bool ModuleHeapFailAt(int64_t n) { return CallHeapHook("TamlornTestHeapFailAt", n); }
bool ModuleHeapFailFrom(int64_t n) { return CallHeapHook("TamlornTestHeapFailFrom", n); }
int64_t ModuleHeapLiveBlocks() { return AskHeapHook("TamlornTestHeapLiveBlocks"); }
int64_t ModuleHeapAllocationCount() { return AskHeapHook("TamlornTestHeapAllocCount"); }

}  // namespace standin
