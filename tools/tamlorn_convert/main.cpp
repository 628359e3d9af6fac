// tamlorn-convert: loads model files through the module's import servers, the
// way the host does, and reports on them, pictures them or saves them again
// through an export server, one file or many. See --help.
#include <chrono>
#include <cstdio>

#include "convert.h"
#include "standin_host.h"

namespace convert {
namespace {

// Without the module nothing loads: a failed load, reported after the input's own faults.
Outcome ModuleProblem(const ModuleSession& module, const Options& options, const std::string& modulePath) {
    if (module.loaded()) return Outcome::Done();
    const std::string& input = options.inputs.front();
    bool binaryDxf = false;
    if (input != "-") {
        if (Outcome inspected = InspectInput(input, &binaryDxf); !inspected.ok()) return inspected;
    }
    return {kExitLoadFailed, input, "cannot load the module " + modulePath + ": " + module.error()};
}

Outcome PrintInfo(const Options& options, const std::string& input, const HostObject& object, const Format& format) {
    const ObjectSummary summary = Summarise(input, format, object, options.full);
    const std::string text = options.json ? JsonSummary(summary, options.full) : HumanSummary(summary);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return Outcome::Done();
}

// One conversion, and its line in the report when one is asked for.
int RunConvert(const Options& options, const Outcome& moduleProblem) {
    const auto start = std::chrono::steady_clock::now();
    ReportEntry entry;
    entry.path = options.inputs[0];
    entry.output = options.inputs[1];
    const Outcome outcome =
        moduleProblem.ok() ? ConvertOne(options, options.inputs[0], options.inputs[1], entry) : moduleProblem;
    entry.result = outcome.ok() ? "converted" : "failed";
    entry.exitCode = outcome.code;
    entry.reason = outcome.reason;
    entry.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int code = outcome.ok() ? kExitDone : Report(outcome);
    std::string error;
    if (!options.report.empty() && !AppendToReport(options.report, JsonReportLine(entry), &error)) {
        code = std::max(code, Report({kExitSaveFailed, "", error}));
    }
    return code;
}

int RunWithModule(const Options& options) {
    const std::string modulePath = options.modulePath.empty() ? standin::DefaultModulePath() : options.modulePath;
    const ModuleSession module(modulePath, options.maxMemoryBytes ? options.maxMemoryBytes : DefaultMemoryLimit());
    const Outcome problem = ModuleProblem(module, options, modulePath);
    if (options.mode == Mode::kConvert) return RunConvert(options, problem);
    if (!problem.ok()) return Report(problem);
    const std::string& input = options.inputs.front();
    if (options.mode == Mode::kCheck) {
        const Format* format = nullptr;
        if (Outcome checked = CheckOne(options, input, &format); !checked.ok()) return Report(checked);
        std::printf("%s: valid %s file\n", input.c_str(), format->title);
        return kExitDone;
    }
    const Outcome done = options.mode == Mode::kInfo
                             ? LoadAndUse(options, input, [&](const HostObject& object, const Format& format) {
                                   return PrintInfo(options, input, object, format);
                               })
                             : PreviewOne(options, input);
    return done.ok() ? kExitDone : Report(done);
}

}  // namespace
}  // namespace convert

int main(int argc, char** argv) {
    using namespace convert;
    UseBinaryStandardStreams();
    const CommandLine parsed = ParseCommandLine(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s (see %s --help)\n", kProgram, parsed.error.c_str(), kProgram);
        return kExitUsage;
    }
    switch (parsed.options.mode) {
        case Mode::kHelp: std::printf("%s\n\n%s", kUsage, kHelp); return kExitDone;
        case Mode::kVersion: std::printf("%s %s\n", kProgram, TAMLORN_VERSION); return kExitDone;
        case Mode::kBatch: return RunBatch(parsed.options, ProgramPath(argv[0]));
        default: return RunWithModule(parsed.options);
    }
}
