// tamlorn-servers [MODULE]: loads the module through the stand-in host and lists
// the translation servers it registers, one line each:
//   init name, import/export, extension, description, init result, callbacks set.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "standin_host.h"

namespace {

std::string ExtensionOf(const ServerRecord* record) {
    std::string extensions;
    for (const standin::RegisteredExtension& registered : standin::RegisteredExtensions()) {
        if (registered.record != record) continue;
        if (!extensions.empty()) extensions += ",";
        extensions += registered.extension;
    }
    return extensions.empty() ? "-" : extensions;
}

// The record's description, read no further than its field.
std::string DescriptionOf(const ServerRecord* record) {
    return std::string(record->description, strnlen(record->description, sizeof record->description));
}

std::string CallbacksOf(const standin::Server& server) {
    const ServerRecord& record = *server.record;
    std::string callbacks;
    const auto add = [&callbacks](bool set, const char* name) {
        if (!set) return;
        if (!callbacks.empty()) callbacks += ",";
        callbacks += name;
    };
    add(record.check != nullptr, "check");
    add(record.load != nullptr, server.isImport ? "load" : "save");
    add(record.free != nullptr, "free");
    add(record.unregister != nullptr, "unregister");
    add(record.lookup != nullptr, "lookup");
    return callbacks.empty() ? "-" : callbacks;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: tamlorn-servers [MODULE]\n");
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : standin::DefaultModulePath();
    std::string error;
    if (!standin::LoadModule(path, &error)) {
        std::fprintf(stderr, "tamlorn-servers: %s\n", error.c_str());
        return 1;
    }
    std::printf("%zu servers in %s\n", standin::Servers().size(), path.c_str());
    constexpr int kDescriptionColumn = 18;
    for (const standin::Server& server : standin::Servers()) {
        const std::string description = DescriptionOf(server.record);
        const int padding = std::max(0, kDescriptionColumn - static_cast<int>(description.size()));
        std::printf("%-24s %-6s %-4s \"%s\"%*s init=%-3d callbacks=%s\n", server.initName.c_str(),
                    server.isImport ? "import" : "export", ExtensionOf(server.record).c_str(), description.c_str(),
                    padding, "", server.initResult, CallbacksOf(server).c_str());
    }
    standin::UnloadModule();
    return 0;
}
