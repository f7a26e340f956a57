// rmrate: KOV's measurement without the window. Reads each file once, as KOV
// does, and prints the chart's figures, the windows as JSON or CSV, the
// statistics, or the stream headers the reader hands out.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "analysis/text_escape.h"
#include "tools/rmrate/mapped_file.h"
#include "tools/rmrate/report.h"
#include "tools/rmrate/rmrate.h"

namespace {

const int EXIT_ALL_OK = 0;
const int EXIT_SOME_FAILED = 1;
const int EXIT_USAGE = 2;

const char DESCRIPTION[] =
    "Measures the bitrate of the first RealVideo stream of each RealMedia file (.rm, .rmvb) as KOV does: "
    "windows of a little more than one second of media time, with the chart's figures.";

const char FOOTER[] =
    "Output:\n"
    "  plain     one line per file: windows, max time, max and average bitrate, or KOV's message\n"
    "  --json    one JSON object per line and file, with every window as [start_ms, kbps]\n"
    "  --csv     start_ms,kbps,keyframes rows of one file's windows\n"
    "  --frames  offset,timestamp_ms,bytes,packets,keyframe,type rows, one per frame of one file's\n"
    "            video (type I, P, B, or ? where its header cannot tell; with --json one object)\n"
    "  --gops    start_ms,frames,bytes,duration_ms,kbps rows, one per GOP (keyframe to keyframe)\n"
    "  --streams every stream header with its properties (plain, or JSON with --json)\n"
    "  --report  one JSON object per file (with --csv one row) over files and folders,\n"
    "            walked recursively: verdict (clean, damaged, headers_damaged, realmedia_hd,\n"
    "            realaudio, not_realmedia, unreadable), video, duration_ms, streams, damage\n"
    "            and findings (packet_count, index, duration, max_bitrate, data_size), in\n"
    "            bytewise path order; -j N workers (default: the machine's cores); a\n"
    "            progress line on stderr when it is a terminal; exit 0 when every file\n"
    "            is clean, 1 when any is not, 130 when interrupted\n"
    "  --stats   adds window statistics (minimum, median, 90th/95th/99th\n"
    "            percentiles by linear interpolation between closest ranks, population standard\n"
    "            deviation), the peak of the --peak-window moving average (time-weighted over whole\n"
    "            consecutive windows spanning at least that long; a shorter series gives its whole\n"
    "            average), keyframes (count, first, intervals; per window in JSON), and every stream's\n"
    "            MIME type, name, codec, declared rates and measured bytes and kbps; the video's\n"
    "            frames (count, rate, per type count, mean and largest size, share) and GOPs\n"
    "How the data ended: a file whose packets break off is damaged; its windows up\n"
    "to there are still given, and the line adds \"; damaged at byte N after T s:\n"
    "MESSAGE\" (N: where the unreadable packet starts; T: the last video packet\n"
    "read whole). A video longer than the series holds adds \"; series full: N\n"
    "windows not stored\". --json gives both as \"windows_not_stored\" and \"end\":\n"
    "{\"status\":\"clean\"|\"damaged\",\"result\",\"message\",\"offset\",\n"
    "\"last_timestamp_ms\"}, or null when the packets were not read to an end (no\n"
    "video, a frame gap); --csv writes them to stderr. A chart with no window\n"
    "says why: \"; nothing charted: ...\" (--json: \"empty_chart\": \"no_packets\",\n"
    "\"starts_late\", \"too_short\" or \"damaged\", else null).\n"
    "Only regular files are read: a directory, a device (COM1) or a pipe cannot be\n"
    "opened.\n"
    "Exit status: 0 when every file was measured to a clean end (ANALYSIS_OK, not\n"
    "damaged, at least one window; with --streams: every header read), 1 when any\n"
    "was not (a file that cannot be opened included), 2 for a usage error.\n";

// More workers than this would only queue for the disk.
const unsigned MAX_JOBS = 256;

const char SHORT_USAGE[] = "usage: rmrate [OPTIONS] FILE...\n";

// A finite number of seconds in range. CLI::Range compares with < and >,
// which let NaN through.
const double PEAK_SECONDS_MIN = 0.001;
const double PEAK_SECONDS_MAX = 86400.0;
const CLI::Validator PEAK_SECONDS(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || !(value >= PEAK_SECONDS_MIN && value <= PEAK_SECONDS_MAX)) {
            return "Value " + text + " not in range [0.001 - 86400]";
        }
        return std::string();
    },
    "FLOAT in [0.001 - 86400]");

// A stream number as a file gives one (0 to 65535, decimal), or "all".
const CLI::Validator STREAM_CHOICE(
    [](std::string& text) -> std::string {
        if (text == "all") return std::string();
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || end == text.c_str() || *end != '\0' || text[0] == '-' || text[0] == '+' || value > 65535) {
            return "Value " + text + " is no stream number (0 - 65535) nor all";
        }
        return std::string();
    },
    "N|all");

// Parses the command line into `options` and `files`. Returns -1 to go on,
// otherwise the exit status (help printed, or a usage error reported).
int ParseCommandLine(int argc, char** argv, Options* options, std::vector<std::string>* files) {
    CLI::App app(DESCRIPTION, "rmrate");
    app.get_formatter()->label("Usage", "usage");
    app.get_formatter()->column_width(22);
    app.set_help_flag("-h,--help", "Print this help and exit");
    // A path may start with '/' (Wine hands Unix paths through), and has
    // always been a file, never an option, on Windows too.
    app.allow_windows_style_options(false);
    app.footer(FOOTER);
    CLI::Option* json =
        app.add_flag("--json", options->json, "One JSON object per file (with --streams: per header list)");
    CLI::Option* csv = app.add_flag(
        "--csv", options->csv, "The windows of one file as start_ms,kbps,keyframes rows (--report: a row per file)");
    CLI::Option* frames = app.add_flag("--frames", options->frames, "Every frame of one file's video as CSV rows");
    CLI::Option* gops = app.add_flag("--gops", options->gops, "Every GOP of one file's video as CSV rows");
    CLI::Option* streams = app.add_flag("--streams", options->streams, "Every stream header with its properties");
    CLI::Option* stats =
        app.add_flag("--stats", options->stats, "Add statistics, keyframes and every stream's figures");
    std::string stream_text;
    CLI::Option* stream =
        app.add_option("--stream", stream_text, "Measure the stream the file numbers N, or the whole file (all)")
            ->type_name("N|all")
            ->check(STREAM_CHOICE);
    double peak_seconds = DEFAULT_PEAK_SPAN_MS / 1000.0;
    app.add_option("--peak-window", peak_seconds, "Seconds of the moving average whose peak --stats gives (default 10)")
        ->type_name("S")
        ->check(PEAK_SECONDS)
        ->needs(stats);
    CLI::Option* report =
        app.add_flag("--report", options->report, "A verdict per file over files and folders (see below)");
    CLI::Option* jobs = app.add_option("-j,--jobs", options->jobs, "Workers for --report (default: the cores)")
                            ->type_name("N")
                            ->check(CLI::Range(1u, MAX_JOBS))
                            ->needs(report);
    (void)jobs;
    app.add_option("FILE", *files, "RealMedia files to measure (with --report also folders)")
        ->type_name("")
        ->required();
    report->excludes(json)->excludes(streams)->excludes(stats)->excludes(frames)->excludes(gops)->excludes(stream);
    csv->excludes(json)->excludes(streams)->excludes(stats)->excludes(frames)->excludes(gops);
    streams->excludes(stats)->excludes(stream);
    for (CLI::Option* list : {frames, gops}) list->excludes(streams)->excludes(stats);
    frames->excludes(gops);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return EXIT_ALL_OK;
    } catch (const CLI::ParseError& error) {
        std::string problem;
        AppendEscaped(problem, error.what());
        std::fprintf(stderr, "rmrate: %s\n%sTry 'rmrate --help' for more information.\n", problem.c_str(), SHORT_USAGE);
        return EXIT_USAGE;
    }
    const char* one_file_mode = options->csv      ? "--csv"
                                : options->frames ? "--frames"
                                : options->gops   ? "--gops"
                                                  : nullptr;
    if (one_file_mode && files->size() != 1 && !options->report) {
        std::fprintf(stderr, "rmrate: %s takes exactly one file\n%sTry 'rmrate --help' for more information.\n",
                     one_file_mode, SHORT_USAGE);
        return EXIT_USAGE;
    }
    options->peak_span_ms = static_cast<uint32_t>(peak_seconds * 1000.0 + 0.5);
    if (!stream_text.empty()) {
        options->stream =
            stream_text == "all" ? MEASURE_ALL_STREAMS : int32_t(std::strtol(stream_text.c_str(), nullptr, 10));
    }
    if (options->stream == MEASURE_ALL_STREAMS && (options->frames || options->gops)) {
        std::fprintf(stderr,
                     "rmrate: --stream all has no frames: the whole file is no one video\n%sTry 'rmrate --help' for "
                     "more information.\n",
                     SHORT_USAGE);
        return EXIT_USAGE;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::vector<std::string> files;
    // CLI11 reports through exceptions; memory running out while it parses
    // is reported like any other failure.
    int parsed;
    try {
        parsed = ParseCommandLine(argc, argv, &options, &files);
    } catch (const std::exception&) {
        std::fputs("rmrate: could not read the command line\n", stderr);
        return EXIT_USAGE;
    }
    if (parsed >= 0) return parsed;

    if (options.report) {
        ReportOptions report;
        report.csv = options.csv;
        report.jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
        report.progress = StderrIsTerminal();
        try {
            return RunReport(files, report);
        } catch (const std::exception&) {
            std::fputs("rmrate: out of memory\n", stderr);
            return EXIT_SOME_FAILED;
        }
    }

    bool all_ok = true;
    StdoutSink out;
    // Every measured file is read through a mapping of it: the packets are
    // walked where the file's pages lie, with no copy of them.
    MappedFile mapped;
    for (const std::string& name : files) {
        const char* path = name.c_str();
        // Running out of memory fails this file only; the next ones go on.
        try {
            if (options.streams) {
                all_ok = PrintStreams(path, options.json, out) && all_ok;
                out.Flush();
                continue;
            }
            if (options.frames || options.gops) {
                all_ok = PrintFrameList(path, options.gops, options.json, options.stream, mapped.Source()) && all_ok;
                continue;
            }
            MeasureOptions measure;
            measure.peak_span_ms = options.peak_span_ms;
            measure.frames = options.stats;
            measure.series_stream = options.stream;
            // The statistics list every physical stream with its own windows.
            measure.every_stream = options.stats;
            measure.source = mapped.Source();
            Measurement m;
            Measure(path, measure, &m);
            const FileResult r = {&m, ResultIsCharted(m.result), m.details.ending == DATA_END_DAMAGED, options.stats,
                                  options.stream};
            if (options.csv) {
                PrintCsv(path, r);
            } else if (options.json) {
                PrintFiguresJson(path, r);
            } else {
                PrintFigures(path, r);
            }
            // A chart with no window is no measurement either.
            if (!MeasuredCleanly(r) || StreamMissing(r)) all_ok = false;
        } catch (const std::bad_alloc&) {
            all_ok = false;
            if (!out.AtLineStart()) out += '\n';
            out.Flush();
            std::fprintf(stderr, "rmrate: out of memory on %s\n", path);
        }
    }
    out.Flush();
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "rmrate: could not write the output\n");
        return EXIT_SOME_FAILED;
    }
    return all_ok ? EXIT_ALL_OK : EXIT_SOME_FAILED;
}
