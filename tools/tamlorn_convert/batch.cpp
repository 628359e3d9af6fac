// Many files: the job list (folders walked, --files-from), the output names,
// the worker processes kept busy, the progress bar, the report and the end
// summary. The batch itself never loads the module.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <system_error>

#include "convert.h"

namespace convert {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Job {
    std::string input;
    fs::path output;
    uint64_t bytes = 0;
    Outcome decided;  // refused or skipped before any worker ran
    bool skipped = false;
    Worker worker;
};

// ---- The job list ------------------------------------------------------------------------------

bool HasModelExtension(const fs::path& path) { return FormatOfPath(path) != nullptr; }

// Where a path leads, as one text for each place: resolved, and on Windows,
// whose file names ignore letter case, in lower case.
std::string PlaceOf(const fs::path& path) {
    std::error_code error;
    std::string place = fs::weakly_canonical(path, error).string();
    if (error) place = fs::absolute(path, error).lexically_normal().string();
#if defined(_WIN32)
    for (char& c : place) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    return place;
}

std::string WithExtension(const fs::path& path, const Format& to) { return path.stem().string() + "." + to.extension; }

class JobList {
public:
    explicit JobList(const Options& options) : options_(options) {}

    // A file is taken whatever its extension; a folder is walked for the three formats.
    void Add(const std::string& name) {
        std::error_code error;
        if (!fs::is_directory(name, error)) {
            const fs::path folder = options_.outputDir.empty() ? fs::path(name).parent_path() : fs::path(options_.outputDir);
            AddJob(name, folder / WithExtension(name, *options_.to));
            return;
        }
        std::vector<fs::path> found;
        fs::recursive_directory_iterator it(name, error), end;
        for (; !error && it != end; it.increment(error)) {
            if (it->is_regular_file(error) && HasModelExtension(it->path())) found.push_back(it->path());
        }
        if (error) Refuse(name, {kExitUnreadable, name, "cannot be walked: " + error.message()});
        std::sort(found.begin(), found.end());
        for (const fs::path& file : found) {
            const fs::path below = file.lexically_relative(name).parent_path();
            const fs::path folder = options_.outputDir.empty() ? file.parent_path() : options_.outputDir / below;
            AddJob(file.string(), folder / WithExtension(file, *options_.to));
        }
    }

    // The names in LIST, one a line ("-": standard input); empty lines are passed over.
    void AddFromList(const std::string& list) {
        std::ifstream file;
        if (list != "-") {
            file.open(list, std::ios::binary);
            if (!file) return Refuse(list, {kExitUnreadable, list, "the list cannot be read"});
        }
        std::istream& in = list == "-" ? std::cin : file;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) Add(line);
        }
    }

    // Outputs that would overwrite an input, or another job's output, are
    // refused; existing ones are skipped unless --force.
    void DecideOutputs() {
        std::map<std::string, const Job*> inputs, claimed;
        for (const Job& job : jobs_) inputs.emplace(PlaceOf(job.input), &job);
        for (Job& job : jobs_) {
            if (!job.decided.ok()) continue;
            const std::string output = job.output.string();
            const std::string place = PlaceOf(job.output);
            const auto input = inputs.find(place);
            std::error_code error;
            if (input != inputs.end()) {
                job.decided = {kExitSaveFailed, output, "is the input " + input->second->input + ", which is never written"};
            } else if (const auto [at, fresh] = claimed.emplace(place, &job); !fresh) {
                job.decided = {kExitSaveFailed, output, "is also the output of " + at->second->input};
            } else if (fs::exists(job.output, error) && !options_.force) {
                job.decided = {kExitSaveFailed, output, "exists, skipped (--force overwrites it)"};
                job.skipped = true;
            }
        }
    }

    std::vector<Job>& jobs() { return jobs_; }

private:
    void AddJob(const std::string& input, const fs::path& output) {
        Job job;
        job.input = input;
        job.output = output;
        std::error_code error;
        const auto size = fs::file_size(input, error);
        job.bytes = error ? 0 : size;
        jobs_.push_back(std::move(job));
    }

    void Refuse(const std::string& name, Outcome outcome) {
        Job job;
        job.input = name;
        job.decided = std::move(outcome);
        jobs_.push_back(std::move(job));
    }

    const Options& options_;
    std::vector<Job> jobs_;
};

// ---- The progress bar ---------------------------------------------------------------------------

// One line on a terminal, redrawn in place: files done of all, the file
// started last, megabytes per second and the time left.
class ProgressBar {
public:
    ProgressBar(bool shown, size_t files, uint64_t bytes) : shown_(shown), files_(files), bytes_(bytes) {}

    void Started(const std::string& file) {
        current_ = file;
        Draw(true);
    }

    void Finished(uint64_t bytes) {
        ++filesDone_;
        bytesDone_ += bytes;
        Draw(true);
    }

    // A file decided without a worker: counted, its bytes out of the total.
    void Passed(uint64_t bytes) {
        ++filesDone_;
        bytes_ -= std::min(bytes_, bytes);
        Draw(true);
    }

    // Redraws at most ten times a second unless `now`.
    void Draw(bool now) {
        if (!shown_ || (!now && SecondsSince(drawn_) < 0.1)) return;
        drawn_ = Clock::now();
        const int columns = std::max(TerminalColumns() - 1, 20);
        const double rate = bytesDone_ / std::max(SecondsSince(start_), 1e-3) / (1 << 20);
        char tail[96];
        if (bytesDone_ > 0) {
            const auto left = static_cast<long>((bytes_ - std::min(bytes_, bytesDone_)) / (rate * (1 << 20)));
            std::snprintf(tail, sizeof tail, "  %.1f MB/s  %ld:%02ld left", rate, left / 60, left % 60);
        } else {
            std::snprintf(tail, sizeof tail, "  -- MB/s  -:-- left");
        }
        const std::string count = "  " + std::to_string(filesDone_) + "/" + std::to_string(files_) + "  ";
        const int barWidth = std::clamp(columns / 4, 10, 30);
        const int filled = files_ ? static_cast<int>(barWidth * filesDone_ / files_) : barWidth;
        std::string line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]" + count;
        const int room = columns - static_cast<int>(line.size() + std::string_view(tail).size());
        const std::string name = fs::path(current_).filename().string();
        line += room <= 0 ? "" : name.size() <= static_cast<size_t>(room) ? name : name.substr(0, room);
        std::fprintf(stderr, "\r%s%s\x1b[K", line.c_str(), tail);
        std::fflush(stderr);
    }

    // Clears the bar before other text goes to standard error.
    void Clear() {
        if (shown_) std::fprintf(stderr, "\r\x1b[K");
    }

    double seconds() const { return SecondsSince(start_); }
    uint64_t bytesDone() const { return bytesDone_; }

private:
    bool shown_;
    size_t files_;
    uint64_t bytes_;
    size_t filesDone_ = 0;
    uint64_t bytesDone_ = 0;
    std::string current_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point drawn_{};
};

// ---- Running the jobs -----------------------------------------------------------------------------

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The last line of a text, without its line end.
std::string LastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text.substr(text.find_last_of('\n') + 1);
}

class Batch {
public:
    Batch(const Options& options, std::string program, std::vector<Job>& jobs)
        : options_(options), program_(std::move(program)), jobs_(jobs),
          progress_(!options.quiet && StandardErrorIsTerminal(), jobs.size(), TotalBytes(jobs)),
          scratch_(fs::temp_directory_path()) {}

    int Run() {
        if (scratch_.path().empty()) return Report({kExitSaveFailed, "", "no temporary folder: " + scratch_.error()});
        const size_t slots = static_cast<size_t>(options_.jobs ? options_.jobs : CoreCount());
        // Workers share the default memory limit, half of the physical memory.
        workerOptions_ = options_;
        if (!workerOptions_.maxMemoryBytes) workerOptions_.maxMemoryBytes = std::max<uint64_t>(DefaultMemoryLimit() / slots, 1 << 20);
        size_t next = 0;
        while (next < jobs_.size() || !running_.empty()) {
            while (running_.size() < slots && next < jobs_.size()) Start(next++);
            Worker ended;
            int exitCode = 0;
            if (!running_.empty() && WaitForWorker(100, &ended, &exitCode)) Finish(ended, exitCode);
            progress_.Draw(false);
        }
        progress_.Clear();
        if (!options_.quiet) PrintSummary();
        return highest_;
    }

private:
    static uint64_t TotalBytes(const std::vector<Job>& jobs) {
        uint64_t total = 0;
        for (const Job& job : jobs) total += job.bytes;
        return total;
    }

    fs::path ScratchFile(size_t index, const char* extension) const {
        return scratch_.path() / ("job" + std::to_string(index) + extension);
    }

    void Start(size_t index) {
        Job& job = jobs_[index];
        if (job.decided.ok()) {
            std::error_code error;
            fs::create_directories(job.output.parent_path(), error);
            const auto arguments = WorkerArguments(workerOptions_, ScratchFile(index, ".jsonl").string(), job.input,
                                                   job.output.string());
            std::string why;
            if (StartWorker(program_, arguments, ScratchFile(index, ".err"), &job.worker, &why)) {
                progress_.Started(job.input);
                running_[job.worker.id] = index;
                return;
            }
            job.decided = {kExitLoadFailed, job.input, why};
        }
        ReportEntry entry{job.input, nullptr, job.output.string(), job.skipped ? "skipped" : "failed",
                          job.decided.code, job.decided.reason};
        progress_.Clear();
        Report(job.decided);
        progress_.Passed(job.bytes);
        Conclude(job, job.decided.code, job.decided.file + ": " + job.decided.reason, JsonReportLine(entry));
    }

    void Finish(const Worker& worker, int exitCode) {
        const auto found = running_.find(worker.id);
        if (found == running_.end()) return;
        const size_t index = found->second;
        running_.erase(found);
        Job& job = jobs_[index];
        const std::string messages = ReadAll(ScratchFile(index, ".err"));
        progress_.Clear();
        std::fwrite(messages.data(), 1, messages.size(), stderr);
        std::string line = LastLine(ReadAll(ScratchFile(index, ".jsonl")));
        std::string reason = LastLine(messages);
        if (exitCode < 0) {
            // The worker crashed: the batch goes on, and the file counts as one that failed to load.
            exitCode = kExitLoadFailed;
            reason = job.input + ": the converter stopped on this file (it crashed)";
            Report({exitCode, job.input, "the converter stopped on this file (it crashed)"});
            line = JsonReportLine({job.input, nullptr, job.output.string(), "failed", exitCode,
                                   "the converter stopped on this file (it crashed)"});
        }
        const std::string prefix = std::string(kProgram) + ": ";
        if (reason.starts_with(prefix)) reason.erase(0, prefix.size());
        progress_.Finished(job.bytes);
        Conclude(job, exitCode, reason, line);
    }

    void Conclude(const Job& job, int exitCode, const std::string& reason, const std::string& reportLine) {
        highest_ = std::max(highest_, exitCode);
        if (exitCode == kExitDone) ++converted_;
        else if (job.skipped) skipped_.push_back(reason);
        else failed_.push_back(reason);
        std::string error;
        if (!options_.report.empty() && !reportLine.empty() && !AppendToReport(options_.report, reportLine, &error)) {
            highest_ = std::max(highest_, Report({kExitSaveFailed, "", error}));
        }
    }

    void PrintSummary() const {
        const double seconds = progress_.seconds();
        std::fprintf(stderr, "%s: converted %zu of %zu files in %.1f s (%.1f MB/s)", kProgram, converted_,
                     jobs_.size(), seconds, progress_.bytesDone() / std::max(seconds, 1e-3) / (1 << 20));
        std::fprintf(stderr, "%s\n", skipped_.empty() && failed_.empty() ? "" : ":");
        for (const std::string& reason : failed_) std::fprintf(stderr, "  failed: %s\n", reason.c_str());
        for (const std::string& reason : skipped_) std::fprintf(stderr, "  skipped: %s\n", reason.c_str());
    }

    const Options& options_;
    Options workerOptions_;  // the options handed on to each worker
    std::string program_;
    std::vector<Job>& jobs_;
    ProgressBar progress_;
    PrivateFolder scratch_;
    std::map<int64_t, size_t> running_;  // worker id to job
    int highest_ = kExitDone;
    size_t converted_ = 0;
    std::vector<std::string> failed_, skipped_;
};

}  // namespace

int RunBatch(const Options& options, const std::string& program) {
    JobList list(options);
    for (const std::string& input : options.inputs) list.Add(input);
    if (!options.filesFrom.empty()) list.AddFromList(options.filesFrom);
    list.DecideOutputs();
    return Batch(options, program, list.jobs()).Run();
}

}  // namespace convert
