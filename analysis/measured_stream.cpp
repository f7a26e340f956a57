// How the measured stream's packets make windows and how its reading ended.
#include "analysis/measured_stream.h"

#include <cstdio>
#include <cstring>

namespace {

const uint32_t PROBE_BYTES = 16;

}  // namespace

RunResources::~RunResources() {
    if (packet) rm_reader_release_packet(reader, &packet);
    if (header) rm_reader_release_stream_header(reader, &header);
    if (reader) rm_reader_delete(&reader);
    if (file) std::fclose(file);
}

AnalysisResult OpenRunFile(const char* path, RunResources* run, MediaFileBuffer* io, unsigned char* buffer,
                           ParserReport* report, uint64_t* file_size) {
    run->file = OpenMediaFile(path, file_size);
    if (!run->file) return ANALYSIS_OPEN_FAILED;

    unsigned char head[PROBE_BYTES];
    if (std::fread(head, 1, PROBE_BYTES, run->file) < PROBE_BYTES) return ANALYSIS_NO_VIDEO;
    SeekFile(run->file, 0, SEEK_SET);
    if (!rm_reader_probe(head, PROBE_BYTES)) return ANALYSIS_NO_VIDEO;

    // Parser texts never reach KOV's user, but a damaged file's report is
    // kept for the command-line tool.
    run->reader = rm_reader_new(report, KeepParserReport);
    if (!run->reader) return ANALYSIS_PARSER_FAILED;
    if (rm_reader_attach_stdio(run->reader, run->file) != RM_OK) return ANALYSIS_NO_VIDEO;
    // Same file, same bytes, read through a larger buffer of our own: the
    // stdio tell per packet and seek per skipped packet each cost a system
    // call, which is most of the run's time on a large file.
    InitMediaFileBuffer(io, run->file, buffer, RUN_BUFFER_SIZE);
    if (rm_reader_attach_io(run->reader, MediaFileRead, MediaFileSeek, MediaFileTell, io) != RM_OK) {
        return ANALYSIS_NO_VIDEO;
    }
    if (rm_reader_load_headers(run->reader) != RM_OK) return ANALYSIS_HEADERS_FAILED;
    return ANALYSIS_OK;
}

WindowStep AddPacketToWindow(WindowAccumulator* windows, uint32_t timestamp, uint32_t length, BitrateSample* closed) {
    windows->bytes += length;
    const uint32_t distance = timestamp - windows->start_ms;
    if (distance <= WINDOW_MS) return WINDOW_GOES_ON;
    if (windows->closed == 0 && distance > FIRST_WINDOW_LIMIT_MS) return WINDOW_STARTS_LATE;
    if (windows->closed > 0 && distance > GAP_LIMIT_MS) return WINDOW_GAP;
    closed->start_ms = windows->start_ms;
    closed->kbps = WindowKbps(windows->bytes, distance);
    ++windows->closed;
    windows->bytes = 0;
    windows->start_ms = timestamp;
    return WINDOW_CLOSED;
}

bool KeepWindow(BitrateSample* table, const BitrateSample& window, AnalysisDetails* details) {
    if (details->windows_stored < STORABLE_WINDOWS) {
        table[details->windows_stored] = window;
        ++details->windows_stored;
        return true;
    }
    // The rest of the file is still read, so a later gap or damage is still
    // found, but its windows have no room.
    if (!details->series_full) details->charted_until_ms = window.start_ms;
    details->series_full = 1;
    ++details->windows_not_stored;
    return false;
}

void KeepParserReport(void* user, rm_result code, const char* message) {
    ParserReport* report = static_cast<ParserReport*>(user);
    report->code = code;
    std::snprintf(report->message, sizeof report->message, "%s", message ? message : "");
}

void NoteEndOfPackets(const rm_reader* reader, rm_result read, const ParserReport& report, uint64_t file_size,
                      AnalysisDetails* details) {
    if (read == RM_END_OF_DATA) {
        details->ending = DATA_END_CLEAN;
        return;
    }
    details->ending = DATA_END_DAMAGED;
    details->read_result = read == RM_OK ? RM_FAIL : read;
    // Its report belongs to this failure only when it carries the same code
    // (a short read at the end of the data is reported and then forgiven).
    if (report.code == details->read_result) {
        std::memcpy(details->read_message, report.message, sizeof details->read_message);
    }
    // A skipped packet of another stream that runs past a cut puts the next
    // header beyond the end of the file; the damage lies within it.
    const uint64_t offset = rm_reader_packet_offset(reader);
    details->damage_offset = offset < file_size ? offset : file_size;
}

void NoteEmptyChart(AnalysisResult result, bool started_late, AnalysisDetails* details) {
    details->empty_chart = CHART_NOT_EMPTY;
    if (result != ANALYSIS_OK || !details->stream_chosen || details->windows_stored != 0) return;
    if (started_late) {
        details->empty_chart = EMPTY_STARTS_LATE;
    } else if (details->ending == DATA_END_DAMAGED) {
        details->empty_chart = EMPTY_DAMAGED;
    } else if (details->ending == DATA_END_CLEAN) {
        details->empty_chart = details->has_last_timestamp ? EMPTY_TOO_SHORT : EMPTY_NO_PACKETS;
    }
}
