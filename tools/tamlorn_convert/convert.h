// tamlorn-convert: what the converter's parts share.
//
//   command_line.cpp  options, modes, --help
//   summary.cpp       the summary of a host object, as text, JSON and report lines
//   files.cpp         inputs and outputs on disk: checks, private folders, standard streams
//   conversion.cpp    the module, loading, saving, and one conversion from end to end
//   keeps.cpp         what each format keeps: --verify and the note after a conversion
//   batch.cpp         many files: the job list, output names, the end summary
//   workers.cpp       worker processes and the progress bar
//   preview.cpp       the picture of a loaded object
//   main.cpp          the modes
//
// The module is reached only through the stand-in host's API. It keeps one set
// of module-level tables, so one process never runs two loads at once:
// parallel work is done by worker processes, each one a converter of its own.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/host_interface.h"

namespace convert {

namespace fs = std::filesystem;

constexpr const char* kProgram = "tamlorn-convert";

enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 1,
    kExitUnreadable = 2,
    kExitNotRecognised = 3,
    kExitLoadFailed = 4,     // the memory limit included
    kExitSaveFailed = 5,     // an existing batch output skipped and a preview not written included
    kExitVerifyFailed = 6,
};

// ---- Formats ---------------------------------------------------------------------------

struct Format {
    const char* extension;  // the servers' extension, also the JSON "format"
    const char* title;
};

// The module's own detection order: the first sniffer that accepts decides.
extern const std::array<Format, 3> kFormats;

// The format named "obj", "3ds" or "dxf" (any letter case), or null.
const Format* FormatNamed(std::string_view name);
// The format of a path's extension (any letter case), or null.
const Format* FormatOfPath(const fs::path& path);

// ---- Command line ----------------------------------------------------------------------

enum class Mode { kHelp, kVersion, kInfo, kCheck, kConvert, kPreview, kBatch };

struct Options {
    Mode mode = Mode::kConvert;
    bool json = false;
    bool full = false;
    bool verify = false;
    bool quiet = false;
    bool force = false;
    std::string modulePath;           // empty: the module beside the program
    const Format* from = nullptr;     // --from
    const Format* to = nullptr;       // --to
    std::string name;                 // --name
    std::string outputDir;            // -o
    std::string filesFrom;            // --files-from, "-" for standard input
    std::string report;               // --report
    std::string preview;              // --preview
    int width = 800, height = 600;    // --size
    int jobs = 0;                     // -j; 0: one per core
    uint64_t maxMemoryBytes = 0;      // --max-memory; 0: half the physical memory
    std::vector<std::string> inputs;  // the names on the command line (INPUT OUTPUT for one conversion)
};

struct CommandLine {
    Options options;
    std::string error;  // empty when usable
};

CommandLine ParseCommandLine(int argc, char** argv);
extern const char* const kUsage;
extern const char* const kHelp;

// The worker's command line for one conversion of a batch: the options that
// shape a conversion, then the report file, the input and the output.
std::vector<std::string> WorkerArguments(const Options& options, const std::string& report,
                                         const std::string& input, const std::string& output);

// ---- Outcomes and messages ----------------------------------------------------------------

// How something ended: kExitDone, or a code with the file it concerns and why.
struct Outcome {
    int code = kExitDone;
    std::string file;
    std::string reason;

    bool ok() const { return code == kExitDone; }
    static Outcome Done() { return {}; }
};

// The one line on standard error that says what went wrong; returns the code.
int Report(const Outcome& outcome);
// A line on standard error about `file` that is not an error.
void Note(const std::string& file, const std::string& text);

// ---- Summaries ------------------------------------------------------------------------------

using Triple = std::array<double, 3>;

struct SurfaceSummary {
    std::optional<std::string> name;
    std::array<uint8_t, 3> colour{};
    float level = 0.0f;
    int64_t polygons = 0;
};

struct UVEntry {
    int64_t polygon = -1;  // -1: none, or not one of the object's polygons
    int64_t point = -1;    // -1: not one of the object's points
    float u = 0, v = 0;
};

struct UVMapSummary {
    std::optional<std::string> name;
    int32_t pointEntries = 0;
    int32_t polygonEntries = 0;
    std::vector<UVEntry> pointList;
    std::vector<UVEntry> polygonList;
};

struct PolygonSummary {
    std::vector<int64_t> corners;  // -1: the corner's point is not one of the object's points
    int32_t surface = 0;
};

struct ObjectSummary {
    std::string file;
    Format format{};
    std::optional<std::string> name;
    int64_t points = 0;
    int64_t polygons = 0;
    int64_t faces = 0;
    int64_t lines = 0;
    int64_t dots = 0;
    std::vector<SurfaceSummary> surfaces;
    std::vector<UVMapSummary> uvMaps;
    Triple boxMin{};
    Triple boxMax{};
    std::vector<Triple> positions;
    std::vector<PolygonSummary> polygonList;
};

// The lists (positions, polygon corners, UV map entries) only when `full`:
// on objects of millions of polygons they cost more than the load.
ObjectSummary Summarise(const std::string& file, const Format& format, const HostObject& object, bool full);
std::string JsonSummary(const ObjectSummary& summary, bool full);
std::string HumanSummary(const ObjectSummary& summary);
std::string JsonString(std::string_view text);

// One line of a --report file: one input and what became of it.
struct ReportEntry {
    std::string path;
    const Format* format = nullptr;  // the input's, once recognised
    std::string output;              // empty: none
    std::string result;              // "converted", "skipped" or "failed"
    int exitCode = kExitDone;
    std::string reason;              // empty: none
    int64_t points = -1;             // -1: not loaded
    int64_t polygons = -1;
    double seconds = 0;
};

std::string JsonReportLine(const ReportEntry& entry);
// Appends one whole line to the report file (several converters may append
// to one file at once); false with a reason when it cannot.
bool AppendToReport(const std::string& report, const std::string& line, std::string* error);

// ---- Files -----------------------------------------------------------------------------------

// kExitDone when the file may go to the module, else why not; `binaryDxf` tells
// a binary DXF file (which no sniffer takes) from others.
Outcome InspectInput(const std::string& path, bool* binaryDxf);

// Whether two names are one file (through any link), or one path once resolved.
bool SameFile(const fs::path& a, const fs::path& b);

// A new folder only this user can enter, removed with everything in it at the
// end; when the converter is interrupted (Ctrl-C, a scheduler's stop), with
// the file File named last.
class PrivateFolder {
public:
    explicit PrivateFolder(const fs::path& parent);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const fs::path& path() const { return path_; }
    const std::string& error() const { return error_; }
    // The path of `name` in the folder.
    fs::path File(const std::string& name) const;

private:
    fs::path path_;
    std::string error_;
    int leftover_ = -1;  // its place among what an interruption removes, or -1
};

// Works in `folder` for the lifetime of the object, then goes back.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder);
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    bool entered() const { return entered_; }

private:
    fs::path previous_;
    bool entered_ = false;
};

// Standard input, output and error carry bytes, not text, on every platform:
// models come in and go out unchanged, and summaries, reports and messages
// end their lines with LF on Windows too, so they compare and pipe alike.
void UseBinaryStandardStreams();
// Copies all of standard input (binary) to `path`.
bool CopyStandardInput(const fs::path& path, std::string* error);
// Copies `path` to standard output (binary).
bool CopyToStandardOutput(const fs::path& path, std::string* error);
// Whether standard error is a terminal.
bool StandardErrorIsTerminal();
// The columns of the terminal on standard error (80 when unknown).
int TerminalColumns();
// Half of the machine's physical memory (1 GiB when unknown).
uint64_t DefaultMemoryLimit();
// The number of processor cores (at least 1).
int CoreCount();
// The path of the running program.
std::string ProgramPath(const char* argv0);

// ---- Conversion ------------------------------------------------------------------------------

// The module loaded for the lifetime of the object, with the host's memory limit set.
class ModuleSession {
public:
    ModuleSession(const std::string& path, uint64_t memoryLimit);
    ~ModuleSession();
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    bool loaded() const { return loaded_; }
    const std::string& error() const { return error_; }

private:
    bool loaded_ = false;
    std::string error_;
};

class LoadedObject {
public:
    LoadedObject() = default;
    ~LoadedObject();
    LoadedObject(const LoadedObject&) = delete;
    LoadedObject& operator=(const LoadedObject&) = delete;

    HostObject** slot() { return &object_; }
    HostObject* get() const { return object_; }

private:
    HostObject* object_ = nullptr;
};

// Loads `path` as the host does, the server chosen by content in the module's
// order; `shownAs` is the name messages give the file. `format` is set once
// the file is recognised. Load flags that ask for no object (0) make the
// module read and validate the whole file and build nothing.
Outcome LoadInput(const std::string& path, const std::string& shownAs, LoadedObject& object,
                  const Format** format, uint32_t loadFlags = kLoadNewObject);

// One conversion (INPUT OUTPUT, either may be "-"), with --verify, --preview,
// --name and the note; fills `entry` for the report.
Outcome ConvertOne(const Options& options, const std::string& input, const std::string& output,
                   ReportEntry& entry);
using ObjectUse = std::function<Outcome(const HostObject& object, const Format& format)>;
// Loads INPUT ("-": standard input) and hands its object to `use`.
Outcome LoadAndUse(const Options& options, const std::string& input, const ObjectUse& use);
// Only a picture of INPUT.
Outcome PreviewOne(const Options& options, const std::string& input);
// Only reads and validates INPUT; `format` is set once it is recognised.
Outcome CheckOne(const Options& options, const std::string& input, const Format** format);

// ---- What formats keep -------------------------------------------------------------------------

// The line that says what `to` does not keep of the object, or empty.
std::string NotKept(const HostObject& object, const Format& to);
// Compares the object with the one read back from the written file; the
// outcome names `shownAs` and what differs.
Outcome Verify(const HostObject& original, const HostObject& written, const Format& to, const std::string& shownAs);

// ---- Preview -----------------------------------------------------------------------------------

// Writes a PNG picture of the object; false with a reason when it cannot.
bool WritePreview(const HostObject& object, const fs::path& path, int width, int height, std::string* error);

// ---- Batch -------------------------------------------------------------------------------------

int RunBatch(const Options& options, const std::string& program);

// ---- Worker processes --------------------------------------------------------------------------

// A worker running one conversion; its standard error goes to a file.
struct Worker {
    int64_t id = 0;  // the process, as the platform names it
};

// Starts `program` with `arguments`, standard input empty, standard output
// and error into `errorFile`; false with a reason when it cannot start.
bool StartWorker(const std::string& program, const std::vector<std::string>& arguments, const fs::path& errorFile,
                 Worker* worker, std::string* error);
// Waits up to `milliseconds` for any worker to end: true with it and its exit
// code (a negative code: it was stopped by a signal or crashed), false when none ended.
bool WaitForWorker(int milliseconds, Worker* ended, int* exitCode);

}  // namespace convert
