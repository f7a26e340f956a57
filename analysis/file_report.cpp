// One file's verdict and findings: its first bytes, its measurement and its layout.
#include "analysis/file_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "analysis/media_file.h"
#include "analysis/media_file_buffer.h"

namespace {

// A declared duration within this of the last timestamp is taken as right:
// the last packet's own length is never counted in a timestamp.
const uint32_t DURATION_TOLERANCE_MS = 1000;
// ffmpeg's muxer declares a DATA size 18 bytes past its last packet and
// writes 8 zero bytes of them, so its files end short of the declared end.
const uint32_t TRAILER_ROOM = 18;
const uint32_t LAYOUT_BUFFER_SIZE = 64 * 1024;
const size_t MAGIC_BYTES = 4;

std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Text(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

std::string IdText(uint32_t id) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((id >> shift) & 0xFF);
        text += c >= 0x20 && c <= 0x7E ? c : '?';
    }
    return text;
}

uint32_t Distance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// ---------------------------------------------------------------- the layout walk

// One index entry while the census looks for its packet.
struct PendingEntry {
    uint32_t packet_offset;
    uint32_t timestamp;
    uint16_t stream_number;
    uint32_t ordinal;
    size_t chunk;  // in LayoutFacts::indexes
    bool matched;
    bool mistimed;
    uint32_t packet_ms;
};

struct LayoutWalk {
    LayoutFacts* facts;
    const std::atomic<bool>* stop;
    std::vector<PendingEntry> entries;
    bool sorted = false;
    std::map<uint64_t, size_t> index_chunks;  // offset -> place in facts->indexes
};

bool Stopped(const LayoutWalk& walk) { return walk.stop && walk.stop->load(std::memory_order_relaxed); }

int OnChunk(void* user, const rm_layout_chunk* chunk) {
    LayoutWalk& walk = *static_cast<LayoutWalk*>(user);
    LayoutFacts& facts = *walk.facts;
    if (chunk->id == RM_ID_PROP && !facts.has_prop && chunk->head_held >= RM_PROPERTIES_SIZE) {
        facts.has_prop = true;
        facts.prop_duration_ms = chunk->duration;
    }
    if (chunk->id == RM_ID_INDX && chunk->head_held >= RM_INDX_HEADER_SIZE) {
        IndexChunkFacts index;
        index.offset = chunk->offset;
        index.stream_number = chunk->stream_number;
        index.declared_entries = chunk->entry_count;
        index.entries = chunk->entries_held;
        walk.index_chunks[chunk->offset] = facts.indexes.size();
        facts.indexes.push_back(index);
    }
    const uint32_t head = chunk->id == RM_ID_DATA   ? RM_DATA_HEADER_SIZE
                          : chunk->id == RM_ID_INDX ? RM_INDX_HEADER_SIZE
                          : chunk->id == RM_ID_PROP ? RM_PROPERTIES_SIZE
                                                    : RM_CHUNK_HEADER_SIZE;
    const bool in_head = chunk->head_held < head;
    const bool past_end = chunk->size >= head && chunk->offset + chunk->size > facts.file_size;
    if (!chunk->chained && !facts.has_cut_chunk && (in_head || past_end)) {
        facts.has_cut_chunk = true;
        facts.cut_chunk_id = chunk->id;
        facts.cut_chunk_offset = chunk->offset;
        facts.cut_chunk_size = chunk->size;
        facts.cut_in_head = in_head;
    }
    return Stopped(walk) ? 0 : 1;
}

int OnIndexEntry(void* user, const rm_layout_chunk* indx, uint32_t ordinal, const rm_index_record* entry) {
    LayoutWalk& walk = *static_cast<LayoutWalk*>(user);
    const auto chunk = walk.index_chunks.find(indx->offset);
    if (chunk == walk.index_chunks.end()) return 1;
    walk.entries.push_back(
        {entry->packet_offset, entry->timestamp, indx->stream_number, ordinal, chunk->second, false, false, 0});
    return 1;
}

bool EntryBefore(const PendingEntry& a, const PendingEntry& b) {
    return a.packet_offset != b.packet_offset ? a.packet_offset < b.packet_offset : a.chunk < b.chunk;
}

int OnPacket(void* user, const rm_layout_chunk*, const rm_layout_packet* packet) {
    LayoutWalk& walk = *static_cast<LayoutWalk*>(user);
    if (!walk.sorted) {
        std::stable_sort(walk.entries.begin(), walk.entries.end(), EntryBefore);
        walk.sorted = true;
    }
    ++walk.facts->packets_per_stream[packet->stream_number];
    if (packet->offset <= UINT32_MAX && !walk.entries.empty()) {
        PendingEntry key = {};
        key.packet_offset = uint32_t(packet->offset);
        auto at = std::lower_bound(
            walk.entries.begin(), walk.entries.end(), key,
            [](const PendingEntry& a, const PendingEntry& b) { return a.packet_offset < b.packet_offset; });
        for (; at != walk.entries.end() && at->packet_offset == key.packet_offset; ++at) {
            if (at->stream_number != packet->stream_number) continue;
            at->matched = true;
            at->mistimed = at->timestamp != packet->timestamp;
            at->packet_ms = packet->timestamp;
        }
    }
    return Stopped(walk) ? 0 : 1;
}

int OnCensus(void* user, const rm_layout_chunk* data, const rm_data_census* census) {
    LayoutWalk& walk = *static_cast<LayoutWalk*>(user);
    walk.facts->data.push_back({data->offset, data->size, data->packet_count, *census});
    return Stopped(walk) ? 0 : 1;
}

// Whether an entry that found no packet is to be judged: not when it points
// past the place where damage or a cut stopped its DATA chunk's census, since
// what lies there is unknown.
bool Judged(const LayoutFacts& facts, const PendingEntry& entry) {
    for (const DataChunkFacts& data : facts.data) {
        const bool broke_off = data.census.end == RM_CENSUS_CUT || data.census.end == RM_CENSUS_BAD_HEADER ||
                               data.census.end == RM_CENSUS_STOPPED;
        const uint64_t end = data.size >= RM_DATA_HEADER_SIZE ? data.offset + data.size : facts.file_size;
        if (broke_off && entry.packet_offset >= data.census.end_offset && entry.packet_offset < end) return false;
    }
    return true;
}

void TallyEntries(LayoutWalk& walk) {
    LayoutFacts& facts = *walk.facts;
    // In file order of the index, so that "the first" is the first entry.
    std::stable_sort(walk.entries.begin(), walk.entries.end(), [](const PendingEntry& a, const PendingEntry& b) {
        return a.chunk != b.chunk ? a.chunk < b.chunk : a.ordinal < b.ordinal;
    });
    for (const PendingEntry& entry : walk.entries) {
        IndexChunkFacts& index = facts.indexes[entry.chunk];
        if (!entry.matched) {
            if (!Judged(facts, entry)) continue;
            if (index.unmatched++ == 0) {
                index.first_unmatched = entry.ordinal;
                index.first_unmatched_offset = entry.packet_offset;
            }
        } else if (entry.mistimed) {
            if (index.mistimed++ == 0) {
                index.first_mistimed = entry.ordinal;
                index.first_mistimed_ms = entry.timestamp;
                index.first_mistimed_packet_ms = entry.packet_ms;
            }
        }
    }
}

// ---------------------------------------------------------------- reading a file at any offset

// A read-at over a FILE through one buffer: the census reads a few bytes at
// each packet, in ascending order, and most of them land in the buffer.
struct BufferedFile {
    FILE* file;
    std::vector<unsigned char> data;
    uint64_t data_offset = 0;
    uint32_t filled = 0;
};

uint32_t ReadAt(void* user, uint64_t offset, void* destination, uint32_t count) {
    BufferedFile& io = *static_cast<BufferedFile*>(user);
    unsigned char* out = static_cast<unsigned char*>(destination);
    uint32_t done = 0;
    while (done < count) {
        const uint64_t at = offset + done;
        if (at >= io.data_offset && at < io.data_offset + io.filled) {
            const uint32_t from = uint32_t(at - io.data_offset);
            const uint32_t take = std::min(count - done, io.filled - from);
            std::memcpy(out + done, io.data.data() + from, take);
            done += take;
            continue;
        }
        if (at > INT64_MAX || SeekFile(io.file, int64_t(at), SEEK_SET) != 0) break;
        io.data_offset = at;
        io.filled = uint32_t(std::fread(io.data.data(), 1, io.data.size(), io.file));
        if (io.filled == 0) break;
    }
    return done;
}

// ---------------------------------------------------------------- findings

void PacketCountFindings(const LayoutFacts& layout, std::vector<ReportFinding>* out) {
    for (const DataChunkFacts& data : layout.data) {
        const rm_census_end end = data.census.end;
        const bool declared = data.size >= RM_DATA_HEADER_SIZE;
        const bool whole = end == RM_CENSUS_DECLARED_END || end == RM_CENSUS_ZEROS || end == RM_CENSUS_NEXT_CHUNK ||
                           (end == RM_CENSUS_FILE_END && !declared);
        // 0 claims nothing, as the reader takes it.
        if (!whole || data.declared_packets == 0 || data.declared_packets == data.census.packets) continue;
        out->push_back(
            {"packet_count", Text("DATA at %llu declares %u packets, holds %llu", (unsigned long long)data.offset,
                                  data.declared_packets, (unsigned long long)data.census.packets)});
    }
}

void DataSizeFindings(const LayoutFacts& layout, std::vector<ReportFinding>* out) {
    for (const DataChunkFacts& data : layout.data) {
        if (data.size < RM_DATA_HEADER_SIZE) continue;  // no declared end
        const uint64_t end = data.offset + data.size;
        const bool trailer = data.census.end == RM_CENSUS_ZEROS && data.census.end_offset + TRAILER_ROOM == end;
        if (end > layout.file_size && !trailer) {
            out->push_back({"data_size", Text("DATA at %llu declares %u bytes, to byte %llu: %llu past the file's end",
                                              (unsigned long long)data.offset, data.size, (unsigned long long)end,
                                              (unsigned long long)(end - layout.file_size))});
        } else if (data.census.end == RM_CENSUS_DECLARED_END && data.census.after == RM_AFTER_PACKET) {
            out->push_back({"data_size", Text("DATA at %llu declares %u bytes, to byte %llu, where a packet follows",
                                              (unsigned long long)data.offset, data.size, (unsigned long long)end)});
        }
    }
}

// Not on a file whose packets break off: its last timestamp is the damage's.
void DurationFindings(const Measurement& m, const LayoutFacts& layout, std::vector<ReportFinding>* out) {
    if (!m.has_file_span || m.packets_end.ending != DATA_END_CLEAN) return;
    if (layout.has_prop && layout.prop_duration_ms != 0 &&
        Distance(layout.prop_duration_ms, m.file_last_ms) > DURATION_TOLERANCE_MS) {
        out->push_back({"duration", Text("PROP declares %u ms, the last packet is at %u ms", layout.prop_duration_ms,
                                         m.file_last_ms)});
    }
    for (const StreamFigures& stream : m.streams) {
        if (!stream.header_read || stream.packets == 0 || stream.declared_duration_ms == 0) continue;
        if (Distance(stream.declared_duration_ms, stream.last_ms) <= DURATION_TOLERANCE_MS) continue;
        out->push_back({"duration", Text("stream %u declares %u ms, its last packet is at %u ms",
                                         unsigned(stream.stream_number), stream.declared_duration_ms, stream.last_ms)});
    }
}

void MaxBitrateFindings(const Measurement& m, std::vector<ReportFinding>* out) {
    const AnalysisDetails& d = m.details;
    if (!d.stream_chosen || d.declared_max_bit_rate == 0 || m.windows.empty()) return;
    const BitrateSample* peak = &m.windows[0];
    for (const BitrateSample& window : m.windows) {
        if (window.kbps > peak->kbps) peak = &window;
    }
    if (uint64_t(peak->kbps) * 1000 <= d.declared_max_bit_rate) return;
    const unsigned number = d.stream_index < m.streams.size() ? m.streams[d.stream_index].stream_number : 0;
    out->push_back({"max_bitrate", Text("stream %u: %u kbps in the second from %u ms, declared at most %u bps", number,
                                        peak->kbps, peak->start_ms, d.declared_max_bit_rate)});
}

void IndexFindings(const Measurement& m, const LayoutFacts& layout, std::vector<ReportFinding>* out) {
    std::map<uint16_t, uint32_t> entries_per_stream;
    for (const IndexChunkFacts& index : layout.indexes) {
        entries_per_stream[index.stream_number] += index.entries;
        const unsigned stream = index.stream_number;
        const unsigned long long at = index.offset;
        if (index.entries < index.declared_entries) {
            out->push_back({"index", Text("INDX at %llu (stream %u) declares %u entries, holds %u", at, stream,
                                          index.declared_entries, index.entries)});
        }
        if (index.unmatched > 0) {
            out->push_back({"index", Text("INDX at %llu (stream %u): %u of %u entries point at no packet start of "
                                          "the stream, the first (entry %u) at byte %u",
                                          at, stream, index.unmatched, index.entries, index.first_unmatched,
                                          index.first_unmatched_offset)});
        }
        if (index.mistimed > 0) {
            out->push_back({"index", Text("INDX at %llu (stream %u): %u of %u entries give another time than their "
                                          "packet, the first (entry %u) %u ms for %u ms",
                                          at, stream, index.mistimed, index.entries, index.first_mistimed,
                                          index.first_mistimed_ms, index.first_mistimed_packet_ms)});
        }
    }
    uint32_t indexed_streams = 0;
    for (const auto& stream : entries_per_stream) indexed_streams += stream.second > 0;
    if (indexed_streams == 0) return;
    for (const StreamFigures& stream : m.streams) {
        if (stream.packets == 0) continue;
        const auto found = entries_per_stream.find(stream.stream_number);
        if (found != entries_per_stream.end() && found->second > 0) continue;
        out->push_back(
            {"index", Text("stream %u has no index entries, where %u other stream%s one",
                           unsigned(stream.stream_number), indexed_streams, indexed_streams == 1 ? " has" : "s have")});
    }
}

std::string CodecOf(const StreamFigures& stream) { return stream.fourcc; }

void FillFromMeasurement(const Measurement& m, FileReport* report) {
    report->verdict = VerdictOfMeasurement(m);
    report->video = m.details.stream_chosen != 0;
    report->has_duration = m.has_file_span != 0;
    report->duration_ms = m.file_last_ms;
    for (const StreamFigures& stream : m.streams) {
        ReportStream entry = {stream.stream_number, stream.mime_type, CodecOf(stream), stream.packets, false, 0.0};
        entry.has_kbps = MeasuredKbps(stream.bytes, stream.first_ms, stream.last_ms, &entry.kbps);
        report->streams.push_back(entry);
    }
    if (report->verdict == VERDICT_DAMAGED) {
        const AnalysisDetails& end = m.packets_end;
        const AnalysisDetails& timing = m.details.stream_chosen ? m.details : m.packets_end;
        report->damaged = true;
        report->damage.offset = end.damage_offset;
        report->damage.has_last_timestamp = timing.has_last_timestamp != 0;
        report->damage.last_timestamp_ms = timing.last_timestamp_ms;
        const char* name = rm_result_name(end.read_result);
        report->damage.result = name ? name : Text("0x%08X", unsigned(end.read_result));
        report->damage.message = end.read_message;
    }
}

}  // namespace

FileKind ClassifyFileStart(const uint8_t* bytes, size_t count) {
    if (count >= 4 && std::memcmp(bytes, ".RMF", 4) == 0) return FILE_REALMEDIA;
    if (count >= 4 && std::memcmp(bytes, ".RMP", 4) == 0) return FILE_REALMEDIA_HD;
    if (count >= 4 && std::memcmp(bytes, ".ra\xfd", 4) == 0) return FILE_REALAUDIO;
    return FILE_OTHER;
}

const char* VerdictName(FileVerdict verdict) {
    switch (verdict) {
    case VERDICT_CLEAN:
        return "clean";
    case VERDICT_DAMAGED:
        return "damaged";
    case VERDICT_HEADERS_DAMAGED:
        return "headers_damaged";
    case VERDICT_REALMEDIA_HD:
        return "realmedia_hd";
    case VERDICT_REALAUDIO:
        return "realaudio";
    case VERDICT_NOT_REALMEDIA:
        return "not_realmedia";
    case VERDICT_UNREADABLE:
        return "unreadable";
    }
    return "unreadable";
}

FileVerdict VerdictOfMeasurement(const Measurement& m) {
    switch (m.result) {
    case ANALYSIS_OPEN_FAILED:
    case ANALYSIS_PARSER_FAILED:  // no memory for the reader or the measurement
        return VERDICT_UNREADABLE;
    case ANALYSIS_HEADERS_FAILED:
        return VERDICT_HEADERS_DAMAGED;
    default:
        break;
    }
    switch (m.packets_end.ending) {
    case DATA_END_CLEAN:
        return VERDICT_CLEAN;
    case DATA_END_DAMAGED:
        return VERDICT_DAMAGED;
    default:
        // Headers read but no packet either: no stream kept, or a stub too
        // short to carry a header at all.
        return VERDICT_HEADERS_DAMAGED;
    }
}

LayoutFacts ReadLayoutFacts(rm_read_at_fn read_at, void* io_user, uint64_t file_size, const std::atomic<bool>* stop) {
    LayoutFacts facts;
    facts.file_size = file_size;
    LayoutWalk walk;
    walk.facts = &facts;
    walk.stop = stop;
    const rm_layout_visitor visitor = {&walk, OnChunk, OnIndexEntry, OnPacket, OnCensus};
    facts.walked = rm_walk_layout(read_at, io_user, file_size, &visitor) == RM_OK;
    TallyEntries(walk);
    return facts;
}

std::vector<ReportFinding> FindingsOf(const Measurement& m, const LayoutFacts& layout) {
    std::vector<ReportFinding> findings;
    PacketCountFindings(layout, &findings);
    IndexFindings(m, layout, &findings);
    DurationFindings(m, layout, &findings);
    MaxBitrateFindings(m, &findings);
    DataSizeFindings(layout, &findings);
    return findings;
}

std::string HeadersDamageDetail(const Measurement& m, const LayoutFacts& layout) {
    // A DATA chunk that runs past the file is a cut in the packets, not here.
    if (layout.has_cut_chunk && (layout.cut_chunk_id != RM_ID_DATA || layout.cut_in_head)) {
        const std::string id = IdText(layout.cut_chunk_id);
        if (layout.cut_in_head) {
            return Text("the file ends at byte %llu, in the head of the %s chunk at %llu",
                        (unsigned long long)layout.file_size, id.c_str(), (unsigned long long)layout.cut_chunk_offset);
        }
        return Text("the %s chunk at %llu declares %u bytes, the file ends at byte %llu", id.c_str(),
                    (unsigned long long)layout.cut_chunk_offset, layout.cut_chunk_size,
                    (unsigned long long)layout.file_size);
    }
    if (layout.data.empty()) return "no DATA chunk";
    if (m.result == ANALYSIS_HEADERS_FAILED) return "the headers cannot be read";
    return "no stream to read";
}

FileReport ReportFile(const char* path, const std::atomic<bool>* stop) {
    FileReport report;
    uint64_t size = 0;
    FILE* file = OpenMediaFile(path, &size);
    if (!file) return report;  // unreadable
    report.file_size = size;
    uint8_t head[MAGIC_BYTES] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    if (got < sizeof head && std::ferror(file)) {
        std::fclose(file);
        return report;
    }
    const FileKind kind = ClassifyFileStart(head, got);
    if (kind != FILE_REALMEDIA) {
        std::fclose(file);
        report.verdict = kind == FILE_REALMEDIA_HD ? VERDICT_REALMEDIA_HD
                         : kind == FILE_REALAUDIO  ? VERDICT_REALAUDIO
                                                   : VERDICT_NOT_REALMEDIA;
        return report;
    }
    try {
        BufferedFile io;
        io.file = file;
        io.data.resize(LAYOUT_BUFFER_SIZE);
        const LayoutFacts layout = ReadLayoutFacts(ReadAt, &io, size, stop);
        std::fclose(file);
        file = nullptr;

        MeasureOptions options;
        options.read_to_end = true;
        options.stop = stop;
        Measurement m;
        Measure(path, options, &m);
        if (stop && stop->load()) {
            report.stopped = true;
            return report;
        }
        FillFromMeasurement(m, &report);
        if (report.verdict == VERDICT_HEADERS_DAMAGED) {
            report.findings.push_back({"headers", HeadersDamageDetail(m, layout)});
        } else if (report.verdict == VERDICT_CLEAN || report.verdict == VERDICT_DAMAGED) {
            report.findings = FindingsOf(m, layout);
        }
    } catch (const std::bad_alloc&) {
        if (file) std::fclose(file);
        report = FileReport();
        report.file_size = size;
        report.findings.push_back({"memory", "out of memory while reading the file"});
    }
    return report;
}
