// The report's run: workers over the files, a bounded window that puts their results back in path order, the
// progress line, and Ctrl+C.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include "tools/rmrate/report.h"
#include "tools/rmrate/report_walk.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Results waiting for the ones before them, per worker: a slow file holds
// back at most this many, so memory never grows with the count of files.
const size_t WINDOW_PER_WORKER = 4;
const auto PROGRESS_INTERVAL = std::chrono::milliseconds(200);
const char ERASE_LINE[] = "\r\x1b[K";

std::atomic<bool> StopRequest(false);

extern "C" void OnInterrupt(int) { StopRequest.store(true); }

struct Slot {
    bool ready = false;
    FileReport report;
};

// The files in order, handed out to the workers no further than the window
// ahead of the next line to write.
class ReportQueue {
public:
    ReportQueue(const std::vector<ReportTarget>& targets, size_t window)
        : targets_(targets), slots_(window), window_(window) {}

    // The next file for a worker, or false when there is none left (or a stop
    // was requested).
    bool Take(size_t* index) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return Stopping() || next_ >= targets_.size() || next_ < written_ + window_; });
        if (Stopping() || next_ >= targets_.size()) return false;
        *index = next_++;
        return true;
    }

    void Put(size_t index, FileReport&& report) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Slot& slot = slots_[index % window_];
            slot.report = std::move(report);
            slot.ready = true;
            ++done_;
            bytes_done_ += targets_[index].size;
        }
        ready_.notify_all();
    }

    // The next result in order, waiting at most `wait`; false when it is not
    // there yet.
    bool Next(std::chrono::milliseconds wait, FileReport* report) {
        std::unique_lock<std::mutex> lock(mutex_);
        Slot& slot = slots_[written_ % window_];
        if (!ready_.wait_for(lock, wait, [&] { return slot.ready || Stopping(); }) || !slot.ready) return false;
        *report = std::move(slot.report);
        slot = Slot();
        ++written_;
        lock.unlock();
        room_.notify_all();
        return true;
    }

    void WakeAll() {
        { std::lock_guard<std::mutex> lock(mutex_); }
        room_.notify_all();
        ready_.notify_all();
    }

    void Progress(uint64_t* files, uint64_t* bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        *files = done_;
        *bytes = bytes_done_;
    }

private:
    static bool Stopping() { return StopRequest.load(); }

    const std::vector<ReportTarget>& targets_;
    std::vector<Slot> slots_;
    const size_t window_;
    std::mutex mutex_;
    std::condition_variable room_;
    std::condition_variable ready_;
    size_t next_ = 0;
    size_t written_ = 0;
    uint64_t done_ = 0;
    uint64_t bytes_done_ = 0;
};

void Work(const std::vector<ReportTarget>& targets, ReportQueue& queue) {
    size_t index = 0;
    while (queue.Take(&index)) {
        const ReportTarget& target = targets[index];
        FileReport report;
        try {
            if (target.readable) report = ReportFile(target.path.c_str(), &StopRequest);
        } catch (const std::exception&) {
            report = FileReport();
            report.findings.push_back({"memory", "out of memory while reading the file"});
        }
        queue.Put(index, std::move(report));
    }
}

// One whole line, flushed, so that a stop leaves only whole lines.
bool WriteWholeLine(const std::string& line) {
    std::string text = line;
    text += '\n';
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

class ProgressDisplay {
public:
    ProgressDisplay(bool on, uint64_t files, uint64_t bytes)
        : on_(on), files_(files), bytes_(bytes), start_(std::chrono::steady_clock::now()) {}

    void Draw(ReportQueue& queue) {
        if (!on_) return;
        uint64_t files_done = 0;
        uint64_t bytes_done = 0;
        queue.Progress(&files_done, &bytes_done);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const std::string line = ERASE_LINE + ProgressLine(files_done, files_, bytes_done, bytes_, seconds);
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        shown_ = true;
    }
    void Erase() {
        if (!shown_) return;
        std::fputs(ERASE_LINE, stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    const bool on_;
    const uint64_t files_;
    const uint64_t bytes_;
    const std::chrono::steady_clock::time_point start_;
    bool shown_ = false;
};

}  // namespace

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int RunReport(const std::vector<std::string>& operands, const ReportOptions& options) {
    const std::vector<ReportTarget> targets = CollectReportTargets(operands);
    uint64_t bytes = 0;
    for (const ReportTarget& target : targets) bytes += target.size;

    StopRequest.store(false);
    void (*previous)(int) = std::signal(SIGINT, OnInterrupt);

    const unsigned jobs = options.jobs > 0 ? options.jobs : 1;
    ReportQueue queue(targets, size_t(jobs) * WINDOW_PER_WORKER);
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < jobs && i < targets.size(); ++i) {
        workers.emplace_back(Work, std::cref(targets), std::ref(queue));
    }

    ProgressDisplay progress(options.progress, targets.size(), bytes);
    bool all_clean = true;
    bool written = !options.csv || WriteWholeLine(ReportCsvHeader());
    for (size_t index = 0; index < targets.size() && written && !StopRequest.load();) {
        FileReport report;
        if (!queue.Next(PROGRESS_INTERVAL, &report)) {
            progress.Draw(queue);
            continue;
        }
        if (report.stopped) break;
        if (report.verdict != VERDICT_CLEAN) all_clean = false;
        const std::string& path = targets[index].path;
        progress.Erase();
        written = WriteWholeLine(options.csv ? ReportCsvRow(path, report) : ReportJsonLine(path, report));
        progress.Draw(queue);
        ++index;
    }
    const bool interrupted = StopRequest.load();
    if (!written) StopRequest.store(true);  // no reader any more: the workers stop too
    queue.WakeAll();
    for (std::thread& worker : workers) worker.join();
    progress.Erase();
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    if (interrupted) {
        std::fputs("rmrate: interrupted\n", stderr);
        return EXIT_INTERRUPTED;
    }
    if (!written) {
        std::fputs("rmrate: could not write the output\n", stderr);
        return 1;
    }
    return all_clean ? 0 : 1;
}
