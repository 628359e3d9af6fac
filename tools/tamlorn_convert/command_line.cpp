// The command line: options, the mode they ask for, and --help.
#include <charconv>
#include <cstring>

#include "convert.h"

namespace convert {

const char* const kUsage =
    "usage: tamlorn-convert [options] INPUT OUTPUT\n"
    "       tamlorn-convert --to FORMAT [-o DIR] [-j N] [options] INPUT...\n"
    "       tamlorn-convert --info [--json [--full]] INPUT\n"
    "       tamlorn-convert --check INPUT\n"
    "       tamlorn-convert --preview OUT.png INPUT\n"
    "       tamlorn-convert --help | --version";

const char* const kHelp =
    "Loads 3D models through the module's import servers, as the host does, and\n"
    "saves them through its export servers: Wavefront OBJ (.obj), 3D Studio (.3ds)\n"
    "and ASCII DXF (.dxf). The input's format is recognised by its content, the\n"
    "output's by its extension (any letter case). An output is written beside its\n"
    "place and then put there, so a failed save leaves an existing file as it was;\n"
    "an input is never written.\n"
    "\n"
    "One file:\n"
    "  INPUT OUTPUT          convert; OUTPUT is overwritten\n"
    "                          tamlorn-convert chair.obj chair.3ds\n"
    "  -                     as INPUT or OUTPUT: standard input or output\n"
    "                          tamlorn-convert --to dxf chair.obj - | gzip > chair.dxf.gz\n"
    "  --from FORMAT         the format standard input must have (obj, 3ds or dxf)\n"
    "                          tamlorn-convert --from 3ds - chair.obj < chair.3ds\n"
    "  --name NAME           the object's name in the output, instead of the file's\n"
    "                          tamlorn-convert --name chair - chair.obj < scan.dxf\n"
    "  --verify              read the written file again and compare (exit 6 if it differs)\n"
    "                          tamlorn-convert --verify chair.obj chair.dxf\n"
    "  --preview OUT.png     a picture of INPUT, alone or with a conversion\n"
    "                          tamlorn-convert --preview chair.png chair.obj chair.3ds\n"
    "  --size WxH            the picture's size in pixels (default 800x600, at most 4096x4096)\n"
    "                          tamlorn-convert --preview chair.png --size 1600x1200 chair.obj\n"
    "  --info                print a summary of INPUT's object\n"
    "                          tamlorn-convert --info chair.3ds\n"
    "  --json                with --info: the summary as one JSON object\n"
    "                          tamlorn-convert --info --json chair.3ds\n"
    "  --full                with --json: also every point, polygon and UV map entry\n"
    "                          tamlorn-convert --info --json --full chair.3ds\n"
    "  --check               only read and validate INPUT (no object is built)\n"
    "                          tamlorn-convert --check chair.3ds\n"
    "\n"
    "Many files:\n"
    "  --to FORMAT           convert every INPUT into FORMAT; folders are walked for\n"
    "                        .obj, .3ds and .dxf files (any letter case)\n"
    "                          tamlorn-convert --to 3ds models/ extra.obj\n"
    "  -o DIR                write the outputs into DIR (a folder's files keep their\n"
    "                        place below it); default: beside each input\n"
    "                          tamlorn-convert --to obj -o converted models/\n"
    "  -j N                  N conversions at once, each in a worker process (default:\n"
    "                        one per core)\n"
    "                          tamlorn-convert --to dxf -j 4 models/\n"
    "  --files-from LIST     also convert the files named in LIST, one a line (- reads\n"
    "                        standard input)\n"
    "                          find . -name '*.obj' | tamlorn-convert --to 3ds --files-from -\n"
    "  --force               overwrite outputs that exist (otherwise they are skipped)\n"
    "                          tamlorn-convert --to obj --force models/\n"
    "\n"
    "Either:\n"
    "  --report FILE.jsonl   append one JSON line per input: path, format, output,\n"
    "                        result, exit_code, reason, points, polygons, seconds\n"
    "                          tamlorn-convert --to 3ds --report done.jsonl models/\n"
    "  --quiet               no note on what the output format does not keep, no\n"
    "                        progress bar, no summary; errors are still shown\n"
    "                          tamlorn-convert --quiet chair.obj chair.3ds\n"
    "  --max-memory MB       refuse a load whose host records would pass MB megabytes\n"
    "                        (default: half the physical memory)\n"
    "                          tamlorn-convert --max-memory 512 site.dxf site.obj\n"
    "  --module PATH         the module to load instead of the one beside this program\n"
    "                          tamlorn-convert --module ./libtamlorn_io.so chair.obj chair.dxf\n"
    "  --help, --version     this text; the version\n"
    "                          tamlorn-convert --version\n"
    "\n"
    "Exit status: 0 done, 1 usage error, 2 an input cannot be read, 3 not a file of\n"
    "the three formats, 4 the load failed (damaged content, or the memory limit),\n"
    "5 an output cannot be written (a batch's existing output skipped, a preview\n"
    "not written), 6 verification failed. A batch exits with the highest it met.\n";

namespace {

// What the options say before their values are checked.
struct RawOptions {
    bool help = false, version = false, info = false, check = false;
    std::string from, to, size, jobs, maxMemory;
};

struct FlagOption {
    const char* name;
    bool RawOptions::*raw;
    bool Options::*option;
};

struct ValueOption {
    const char* name;
    const char* shortName;  // or null
    std::string RawOptions::*raw;
    std::string Options::*option;
};

constexpr FlagOption kFlags[] = {
    {"--help", &RawOptions::help, nullptr},       {"--version", &RawOptions::version, nullptr},
    {"--info", &RawOptions::info, nullptr},       {"--check", &RawOptions::check, nullptr},
    {"--json", nullptr, &Options::json},          {"--full", nullptr, &Options::full},
    {"--verify", nullptr, &Options::verify},      {"--quiet", nullptr, &Options::quiet},
    {"--force", nullptr, &Options::force},
};

constexpr ValueOption kValues[] = {
    {"--module", nullptr, nullptr, &Options::modulePath},  {"--from", nullptr, &RawOptions::from, nullptr},
    {"--to", nullptr, &RawOptions::to, nullptr},           {"--name", nullptr, nullptr, &Options::name},
    {"--output-dir", "-o", nullptr, &Options::outputDir},  {"--files-from", nullptr, nullptr, &Options::filesFrom},
    {"--report", nullptr, nullptr, &Options::report},      {"--preview", nullptr, nullptr, &Options::preview},
    {"--size", nullptr, &RawOptions::size, nullptr},       {"--jobs", "-j", &RawOptions::jobs, nullptr},
    {"--max-memory", nullptr, &RawOptions::maxMemory, nullptr},
};

// A whole decimal number in [low, high], or nothing.
std::optional<int64_t> NumberIn(std::string_view text, int64_t low, int64_t high) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

// Takes one argument at argv[i] (and its value); false with an error.
bool TakeArgument(int argc, char** argv, int& i, RawOptions& raw, Options& options, std::string& error) {
    const std::string_view arg = argv[i];
    for (const FlagOption& flag : kFlags) {
        if (arg != flag.name) continue;
        (flag.raw ? raw.*flag.raw : options.*flag.option) = true;
        return true;
    }
    for (const ValueOption& value : kValues) {
        std::string_view given;
        const std::string longForm = std::string(value.name) + "=";
        if (arg == value.name || (value.shortName && arg == value.shortName)) {
            if (i + 1 >= argc) {
                error = std::string(value.name) + " needs a value";
                return false;
            }
            given = argv[++i];
        } else if (arg.starts_with(longForm)) {
            given = arg.substr(longForm.size());
        } else if (value.shortName && arg.starts_with(value.shortName) && arg.size() > 2) {
            given = arg.substr(2);  // -j4, -oDIR
        } else {
            continue;
        }
        (value.raw ? raw.*value.raw : options.*value.option) = std::string(given);
        return true;
    }
    error = "unknown option '" + std::string(arg) + "'";
    return false;
}

// Turns the option texts into values; false with an error.
bool CheckValues(const RawOptions& raw, Options& options, std::string& error) {
    if (!raw.from.empty() && !(options.from = FormatNamed(raw.from))) error = "--from takes obj, 3ds or dxf";
    if (!raw.to.empty() && !(options.to = FormatNamed(raw.to))) error = "--to takes obj, 3ds or dxf";
    if (!raw.jobs.empty()) {
        const auto jobs = NumberIn(raw.jobs, 1, 256);
        if (jobs) options.jobs = static_cast<int>(*jobs);
        else error = "-j takes a number from 1 to 256";
    }
    if (!raw.maxMemory.empty()) {
        // Up to 16 TiB, far past any machine's memory and safe to multiply into bytes.
        const auto megabytes = NumberIn(raw.maxMemory, 1, int64_t{1} << 24);
        if (megabytes) options.maxMemoryBytes = static_cast<uint64_t>(*megabytes) << 20;
        else error = "--max-memory takes a number of megabytes from 1 to 16777216";
    }
    if (!raw.size.empty()) {
        const size_t x = raw.size.find_first_of("xX");
        const auto width = NumberIn(std::string_view(raw.size).substr(0, x), 16, 4096);
        const auto height = x == std::string::npos ? std::nullopt : NumberIn(raw.size.substr(x + 1), 16, 4096);
        if (width && height) {
            options.width = static_cast<int>(*width);
            options.height = static_cast<int>(*height);
        } else {
            error = "--size takes WIDTHxHEIGHT, each from 16 to 4096 pixels";
        }
    }
    if (!options.name.empty() && (options.name.find_first_of("/\\:") != std::string::npos || options.name == "." ||
                                  options.name == ".." || options.name.size() > 200)) {
        error = "--name takes a plain name (no folder, at most 200 characters)";
    }
    return error.empty();
}

bool IsBatch(const RawOptions& raw, const Options& options) {
    if (raw.to.empty()) return false;
    const bool toStandardOutput = options.inputs.size() == 2 && options.inputs[1] == "-";
    return !toStandardOutput || !options.filesFrom.empty();
}

// The mode the options ask for; an error when they do not fit together.
std::string ChooseMode(const RawOptions& raw, Options& options) {
    const size_t names = options.inputs.size();
    const bool batchOnly = !options.outputDir.empty() || !options.filesFrom.empty() || options.jobs || options.force;
    if ((options.json || options.full) && !raw.info) return "--json and --full go with --info";
    if (options.full && !options.json) return "--full goes with --json";
    if (raw.info && raw.check) return "--info and --check do not go together";
    if (raw.info || raw.check) {
        options.mode = raw.info ? Mode::kInfo : Mode::kCheck;
        const std::string mode = raw.info ? "--info" : "--check";
        if (names != 1) return mode + " takes one INPUT";
        if (batchOnly || !raw.to.empty() || options.verify || !options.preview.empty()) {
            return mode + " takes no conversion options";
        }
        return {};
    }
    if (IsBatch(raw, options)) {
        options.mode = Mode::kBatch;
        if (names == 0 && options.filesFrom.empty()) return "--to needs INPUT files or folders (or --files-from)";
        if (!options.preview.empty() || !options.name.empty() || options.from) {
            return "--preview, --name and --from take one INPUT, not a batch";
        }
        for (const std::string& input : options.inputs) {
            if (input == "-") return "a batch reads no standard input; use --files-from - for a list";
        }
        return {};
    }
    if (batchOnly) return "-o, -j, --files-from and --force go with --to FORMAT and INPUT...";
    if (names == 1 && !options.preview.empty()) {
        options.mode = Mode::kPreview;
        if (options.verify || !options.name.empty()) return "--verify and --name go with a conversion";
        return {};
    }
    if (names != 2) return "give INPUT OUTPUT, --to FORMAT INPUT..., --info INPUT or --preview OUT.png INPUT";
    options.mode = Mode::kConvert;
    if (options.inputs[1] == "-" && !options.to) return "OUTPUT - needs --to FORMAT";
    return {};
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine parsed;
    Options& options = parsed.options;
    RawOptions raw;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.inputs.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (!TakeArgument(argc, argv, i, raw, options, parsed.error)) {
            return parsed;
        }
    }
    if (raw.help || raw.version) {
        options.mode = raw.help ? Mode::kHelp : Mode::kVersion;
        return parsed;
    }
    if (CheckValues(raw, options, parsed.error)) parsed.error = ChooseMode(raw, options);
    return parsed;
}

std::vector<std::string> WorkerArguments(const Options& options, const std::string& report,
                                         const std::string& input, const std::string& output) {
    std::vector<std::string> arguments;
    if (!options.modulePath.empty()) arguments.insert(arguments.end(), {"--module", options.modulePath});
    if (options.verify) arguments.emplace_back("--verify");
    if (options.quiet) arguments.emplace_back("--quiet");
    if (options.maxMemoryBytes) {
        arguments.insert(arguments.end(), {"--max-memory", std::to_string(options.maxMemoryBytes >> 20)});
    }
    arguments.insert(arguments.end(), {"--report", report, "--", input, output});
    return arguments;
}

}  // namespace convert
