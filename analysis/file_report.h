// A verdict on one file, with its evidence: what its first bytes say it is,
// how its packets ended, and what its heads declare that its packets do not
// bear out. For rmrate's report over a folder tree.
#ifndef KOV_ANALYSIS_FILE_REPORT_H
#define KOV_ANALYSIS_FILE_REPORT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "analysis/measurement.h"
#include "rmparser/rm_layout.h"

enum FileKind {
    FILE_REALMEDIA,     // ".RMF"
    FILE_REALMEDIA_HD,  // ".RMP"
    FILE_REALAUDIO,     // ".ra" and 0xFD
    FILE_OTHER,         // anything else, an empty file included
};

// What a file's first bytes (`count` of them, fewer for a short file) say it is.
FileKind ClassifyFileStart(const uint8_t* bytes, size_t count);

enum FileVerdict {
    VERDICT_CLEAN,            // every kept stream's packets read to a clean end
    VERDICT_DAMAGED,          // the packets break off
    VERDICT_HEADERS_DAMAGED,  // RealMedia whose headers cannot be read
    VERDICT_REALMEDIA_HD,
    VERDICT_REALAUDIO,
    VERDICT_NOT_REALMEDIA,
    VERDICT_UNREADABLE,  // could not be opened or read
};

// "clean", "damaged", "headers_damaged", ...
const char* VerdictName(FileVerdict verdict);

// The verdict on a RealMedia file from its measurement.
FileVerdict VerdictOfMeasurement(const Measurement& m);

struct ReportFinding {
    std::string code;
    std::string detail;
};

struct ReportStream {
    uint16_t number;  // the file's own
    std::string mime_type;
    std::string codec;  // "" when its header names none
    uint64_t packets;
    bool has_kbps;
    double kbps;  // over its own first to last timestamp
};

struct ReportDamage {
    uint64_t offset;
    bool has_last_timestamp;
    uint32_t last_timestamp_ms;  // the last video packet read whole; without video, of any stream
    std::string result;          // the reader's code, "RM_CORRUPT", ...
    std::string message;         // "" when the reader said nothing
};

struct FileReport {
    FileVerdict verdict = VERDICT_UNREADABLE;
    bool video = false;  // a RealVideo stream was measured
    bool has_duration = false;
    uint32_t duration_ms = 0;  // the largest timestamp read
    std::vector<ReportStream> streams;
    bool damaged = false;
    ReportDamage damage = {};
    std::vector<ReportFinding> findings;
    uint64_t file_size = 0;
    bool stopped = false;  // a stop request cut the report short: it says nothing
};

// ---------------------------------------------------------------- the layout's facts

struct DataChunkFacts {
    uint64_t offset;
    uint32_t size;
    uint32_t declared_packets;
    rm_data_census census;
};

struct IndexChunkFacts {
    uint64_t offset;
    uint16_t stream_number;
    uint32_t declared_entries;
    uint32_t entries;  // held by the file
    // Entries whose packet offset is no packet start of the stream, and the
    // first of them; entries at one of its packets with another timestamp.
    uint32_t unmatched = 0;
    uint32_t first_unmatched = 0;
    uint32_t first_unmatched_offset = 0;
    uint32_t mistimed = 0;
    uint32_t first_mistimed = 0;
    uint32_t first_mistimed_ms = 0;
    uint32_t first_mistimed_packet_ms = 0;
};

struct LayoutFacts {
    bool walked = false;  // the walk went through
    uint64_t file_size = 0;
    bool has_prop = false;
    uint32_t prop_duration_ms = 0;
    std::vector<DataChunkFacts> data;
    std::vector<IndexChunkFacts> indexes;
    std::map<uint16_t, uint64_t> packets_per_stream;  // every packet the census met
    // The first chunk of the top-level run that the file cuts off: in its
    // head or before its declared end (a DATA chunk's included).
    bool has_cut_chunk = false;
    uint32_t cut_chunk_id = 0;
    uint64_t cut_chunk_offset = 0;
    uint32_t cut_chunk_size = 0;
    bool cut_in_head = false;
};

// Walks the layout (rm_walk_layout) of a file of `file_size` bytes read
// through `read_at` and matches every index entry with the packets.
LayoutFacts ReadLayoutFacts(rm_read_at_fn read_at, void* io_user, uint64_t file_size,
                            const std::atomic<bool>* stop = nullptr);

// The findings on a RealMedia file, from its measurement and its layout.
std::vector<ReportFinding> FindingsOf(const Measurement& m, const LayoutFacts& layout);

// Why a RealMedia file's headers cannot be read, as far as its layout says.
std::string HeadersDamageDetail(const Measurement& m, const LayoutFacts& layout);

// The report on the regular file at `path`: classified by its first bytes;
// a RealMedia file is measured (every stream to its end) and its layout
// walked. `stop`, when set during the report, cuts it short (stopped).
FileReport ReportFile(const char* path, const std::atomic<bool>* stop = nullptr);

#endif
