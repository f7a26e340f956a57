// Fuzz target: the reader's public path exactly as the analysis uses it,
// over arbitrary bytes. Run by libFuzzer; given files on the command line it
// replays them once each, which is how the regression test uses it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "rmparser/rm_layout.h"
#include "rmparser/rm_reader.h"

namespace {

// Reading every stream separately re-reads the file; a handful of selectors
// covers the skipping paths without making a file with thousands of streams
// slow to fuzz.
const uint32_t MAX_SELECTORS_TRIED = 4;

void ignore_error(void*, rm_result, const char*) {}

FILE* file_over(const uint8_t* data, size_t size) { return fmemopen(const_cast<uint8_t*>(data), size, "rb"); }

// Every packet for `selector`; how many, and the result that ended them.
size_t ReadPackets(rm_reader* reader, int32_t selector, size_t size, rm_result* end) {
    rm_packet* packet = nullptr;
    size_t packets = 0;
    while ((*end = rm_reader_next_packet(reader, &packet, selector)) == RM_OK) {
        rm_reader_release_packet(reader, &packet);
        // Each packet delivered takes at least its header's bytes of the file;
        // the bound only guards the fuzzer against a reader bug that loops.
        if (++packets > size / RM_PACKET_HEADER_SIZE + 1) {
            __builtin_trap();  // no forward progress: a reader bug
        }
    }
    rm_reader_release_packet(reader, &packet);
    return packets;
}

// One pass as the analysis makes it (and, for every stream at once, a
// second load through the same handle): probe, new, attach, load, fetch every
// stream header, read every packet for `selector`, release, delete. With
// `every`, every physical stream kept and what each one is asked for.
void ReadOnce(const uint8_t* data, size_t size, int32_t selector, uint32_t* stream_count, bool every) {
    FILE* file = file_over(data, size);
    if (!file) {
        return;
    }
    rm_reader* reader = rm_reader_new(nullptr, ignore_error);
    if (reader && rm_reader_attach_stdio(reader, file) == RM_OK &&
        rm_reader_keep_every_stream(reader, every) == RM_OK && rm_reader_load_headers(reader) == RM_OK) {
        const uint32_t count = rm_reader_stream_count(reader);
        if (stream_count) {
            *stream_count = count;
        }
        for (uint32_t i = 0; i < count; ++i) {
            rm_stream_rate rate;
            if (rm_reader_stream_rate(reader, i, &rate) != RM_OK ||
                (rate.claimed &&
                 (rate.logical_mime_type == nullptr || rate.rate == 0 || rate.rate > rate.rate_count))) {
                __builtin_trap();  // a kept stream that says nothing true of itself
            }
            rm_stream_header* header = nullptr;
            if (rm_reader_fetch_stream_header(reader, i, &header) == RM_OK) {
                uint32_t value = 0;
                char* text = nullptr;
                rm_stream_header_find_int(header, "Preroll", &value);
                rm_stream_header_find_string(header, "ASMRuleBook", &text);
                rm_stream_header_is_video(header);
                rm_reader_release_stream_header(reader, &header);
            }
        }
        rm_result end = RM_OK;
        const size_t packets = ReadPackets(reader, selector, size, &end);
        // The same handle loaded again must read the same file the same way:
        // nothing of the first load may shape the second or leak.
        if (selector == -1) {
            if (rm_reader_load_headers(reader) != RM_OK || rm_reader_stream_count(reader) != count) {
                __builtin_trap();
            }
            rm_result again = RM_OK;
            if (ReadPackets(reader, selector, size, &again) != packets || again != end) {
                __builtin_trap();
            }
        }
    }
    rm_reader_delete(&reader);
    fclose(file);
}

// The input as a source that also shows windows, of sizes the input picks:
// ending inside headers and payloads, empty, or reaching far. Each window is
// a block of its own, freed at the next callback, so that the reader's use
// of one it should have given up shows as a use after free.
struct WindowSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint64_t position = 0;
    uint32_t shown = 0;
    std::unique_ptr<uint8_t[]> window;

    static uint32_t read(void* user, void* destination, uint32_t count) {
        WindowSource* source = static_cast<WindowSource*>(user);
        source->window.reset();
        if (source->position >= source->size) {
            return 0;
        }
        const uint64_t left = source->size - source->position;
        const uint32_t got = left < count ? uint32_t(left) : count;
        std::memcpy(destination, source->data + source->position, got);
        source->position += got;
        return got;
    }
    static void seek(void* user, int32_t offset, int origin) {
        WindowSource* source = static_cast<WindowSource*>(user);
        source->window.reset();
        const int64_t base = origin == RM_SEEK_SET   ? 0
                             : origin == RM_SEEK_CUR ? int64_t(source->position)
                                                     : int64_t(source->size);
        const int64_t target = origin == RM_SEEK_SET ? int64_t(uint32_t(offset)) : base + offset;
        if (target >= 0) {
            source->position = uint64_t(target);
        }
    }
    static uint32_t tell(void* user) {
        WindowSource* source = static_cast<WindowSource*>(user);
        source->window.reset();
        return source->position > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(source->position);
    }
    static const uint8_t* show(void* user, uint32_t* count) {
        static const uint32_t SIZES[] = {0, 1, 11, 12, 13, 14, 31, 200, 4096, 70000};
        WindowSource* source = static_cast<WindowSource*>(user);
        source->window.reset();
        const uint8_t pick = source->size != 0 ? source->data[source->shown++ % source->size] : 0;
        const uint64_t left = source->position < source->size ? source->size - source->position : 0;
        const uint32_t wanted = SIZES[pick % (sizeof SIZES / sizeof SIZES[0])];
        *count = left < wanted ? uint32_t(left) : wanted;
        if (*count == 0) {
            return nullptr;
        }
        source->window.reset(new uint8_t[*count]);
        std::memcpy(source->window.get(), source->data + source->position, *count);
        return source->window.get();
    }
};

// One packet as a walk met it, with the way it ended as its last entry.
struct Met {
    rm_result code;
    uint64_t offset;
    rm_packet packet;
    uint32_t payload_sum;
};

bool SameMet(const Met& a, const Met& b) {
    const rm_packet& p = a.packet;
    const rm_packet& q = b.packet;
    return a.code == b.code && a.offset == b.offset && a.payload_sum == b.payload_sum && p.timestamp == q.timestamp &&
           p.stream == q.stream && p.asm_flags == q.asm_flags && p.asm_rule == q.asm_rule && p.length == q.length &&
           p.file_offset == q.file_offset && p.flags == q.flags && p.asm_rule_number == q.asm_rule_number &&
           p.version == q.version;
}

enum class WalkKind { HEADERS, PAYLOADS, SELECTOR, ANY_HEADERS, BATCHES, VIEWS };

// A brief as the record's fields it holds; the others 0.
rm_packet AsRecord(const rm_packet_brief& brief) {
    rm_packet packet = {};
    packet.timestamp = brief.timestamp;
    packet.stream = brief.stream;
    packet.length = brief.length;
    packet.flags = brief.flags;
    packet.version = brief.version;
    return packet;
}

// The fields a brief holds.
rm_packet BriefOf(const rm_packet& record) {
    rm_packet_brief brief = {};
    brief.timestamp = record.timestamp;
    brief.stream = record.stream;
    brief.length = uint16_t(record.length);
    brief.flags = record.flags;
    brief.version = uint8_t(record.version);
    return AsRecord(brief);
}

// A reader over the input whose headers are read (`open`): the same source
// both ways, a file's seeks past the end included (fmemopen refuses them),
// with or without its windows.
struct WalkReader {
    WalkReader(const uint8_t* data, size_t size, bool windows, bool every) {
        source.data = data;
        source.size = size;
        rm_result attached =
            rm_reader_attach_io(reader, WindowSource::read, WindowSource::seek, WindowSource::tell, &source);
        if (attached == RM_OK && windows) {
            attached = rm_reader_attach_window(reader, WindowSource::show);
        }
        open = attached == RM_OK && rm_reader_keep_every_stream(reader, every) == RM_OK &&
               rm_reader_load_headers(reader) == RM_OK;
    }
    ~WalkReader() { rm_reader_delete(&reader); }
    WalkReader(const WalkReader&) = delete;
    WalkReader& operator=(const WalkReader&) = delete;

    WindowSource source;
    rm_reader* reader = rm_reader_new(nullptr, ignore_error);
    bool open = false;
};

// Every packet one walk delivers, `windows` or not; empty when the headers
// could not be read.
std::vector<Met> Walk(const uint8_t* data, size_t size, bool windows, bool every, WalkKind kind) {
    std::vector<Met> met;
    WalkReader walk(data, size, windows, every);
    rm_reader* const reader = walk.reader;
    static std::vector<uint8_t> buffer(RM_MAX_PAYLOAD_SIZE);
    if (walk.open) {
        // Batches of sizes the input picks.
        const uint32_t capacity = 1 + data[size / 2] % 70;
        std::vector<rm_packet_brief> batch(capacity);
        std::vector<rm_packet_view> views(capacity);
        for (;;) {
            Met m = {};
            rm_packet* allocated = nullptr;
            if (kind == WalkKind::VIEWS) {
                // Each view a packet of its own, with its own offset; the
                // call's ending, if any, after them.
                uint32_t count = 0;
                m.code = rm_reader_next_packet_views(reader, views.data(), capacity, &count, 0, buffer.data(),
                                                     uint32_t(buffer.size()));
                if ((m.code == RM_OK) != (count != 0) || count > capacity) {
                    __builtin_trap();
                }
                for (uint32_t i = 0; i < count; ++i) {
                    const rm_packet_view& view = views[i];
                    if ((view.data != nullptr) != (view.brief.stream == 0)) {
                        __builtin_trap();  // a payload of the wrong stream, or none of the right one
                    }
                    Met shown = {RM_OK, view.offset, AsRecord(view.brief), 0};
                    for (uint32_t b = 0; view.data != nullptr && b < view.brief.length; ++b) {
                        shown.payload_sum = shown.payload_sum * 31 + view.data[b];
                    }
                    met.push_back(shown);
                }
                if (count != 0 && rm_reader_packet_offset(reader) != views[count - 1].offset) {
                    __builtin_trap();  // a batch leaves the reader at its last packet
                }
                if (m.code == RM_OK) {
                    if (met.size() > size / RM_PACKET_HEADER_SIZE + 1) {
                        break;
                    }
                    continue;
                }
            } else if (kind == WalkKind::BATCHES) {
                uint32_t count = 0;
                m.code = rm_reader_next_packet_briefs(reader, batch.data(), capacity, &count);
                if (m.code == RM_OK && (count == 0 || count > capacity)) {
                    __builtin_trap();
                }
                for (uint32_t i = 0; i < count; ++i) {
                    Met brief = {RM_OK, 0, AsRecord(batch[i]), 0};
                    if (i + 1 < count) {
                        met.push_back(brief);
                    } else {
                        m.packet = brief.packet;
                    }
                }
            } else if (kind == WalkKind::ANY_HEADERS) {
                m.code = rm_reader_next_packet_header(reader, &m.packet, -1);
            } else if (kind == WalkKind::HEADERS) {
                m.code = rm_reader_next_packet_header(reader, &m.packet, 1);
            } else if (kind == WalkKind::PAYLOADS) {
                m.code = rm_reader_next_packet_payload(reader, &m.packet, 0, buffer.data(), uint32_t(buffer.size()));
            } else {
                m.code = rm_reader_next_packet(reader, &allocated, 0);
                if (allocated != nullptr) {
                    m.packet = *allocated;
                }
            }
            m.offset = rm_reader_packet_offset(reader);
            for (uint32_t i = 0; m.packet.data != nullptr && i < m.packet.length; ++i) {
                m.payload_sum = m.payload_sum * 31 + m.packet.data[i];
            }
            m.packet.data = nullptr;
            rm_reader_release_packet(reader, &allocated);
            met.push_back(m);
            if (m.code != RM_OK || met.size() > size / RM_PACKET_HEADER_SIZE + 1) {
                break;
            }
        }
    }
    return met;
}

// With `briefs`, only the fields briefs hold are compared, and the offset
// only after each batch; with `fields_of_briefs` alone, every offset too.
void ExpectSameWalk(std::vector<Met> a, std::vector<Met> b, bool briefs, bool fields_of_briefs = false) {
    if (a.size() != b.size()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < a.size(); ++i) {
        // Within a batch the reader's offset is not asked for.
        if (briefs && i + 1 < a.size()) {
            a[i].offset = b[i].offset = 0;
        }
        if (briefs || fields_of_briefs) {
            a[i].packet = BriefOf(a[i].packet);
        }
        if (!SameMet(a[i], b[i])) {
            __builtin_trap();
        }
    }
}

// Packets of one stream besides stream 0 that follow one another, as one:
// the last one's entry, and what they hold together.
struct Joined {
    Met last;
    uint64_t packets;
    uint64_t bytes;
    uint32_t min_timestamp;
    uint32_t max_timestamp;
};

// `joins`: whether the spans let the packet join its stream's run.
void Join(std::vector<Joined>* joined, const Met& m, uint64_t packets, uint64_t bytes, uint32_t lowest,
          uint32_t highest, bool joins = true) {
    Joined* open = joined->empty() ? nullptr : &joined->back();
    if (joins && open != nullptr && m.code == RM_OK && open->last.code == RM_OK && m.packet.stream != 0 &&
        open->last.packet.stream == m.packet.stream) {
        open->last = m;
        open->packets += packets;
        open->bytes += bytes;
        open->min_timestamp = std::min(open->min_timestamp, lowest);
        open->max_timestamp = std::max(open->max_timestamp, highest);
        return;
    }
    joined->push_back({m, packets, bytes, lowest, highest});
}

// Spans as the input picks them: a few streams, a span of some seconds.
struct Spans {
    explicit Spans(const uint8_t* data, size_t size)
        : starts(data[size / 5] % 4, 0), span(uint32_t(data[size / 7]) * 37) {}
    std::vector<uint32_t> starts;
    uint32_t span;
    // The reader's rule, for the walk packet by packet.
    bool Joins(uint32_t stream, uint32_t timestamp) {
        if (stream >= starts.size()) return false;
        if (timestamp - starts[stream] > span) {
            starts[stream] = timestamp;
            return false;
        }
        return true;
    }
};

// A walk in runs of views of stream 0, joined as far as they go, within
// spans when `spans` is given.
std::vector<Joined> WalkViewRuns(const uint8_t* data, size_t size, bool windows, bool every, Spans* spans) {
    std::vector<Joined> joined;
    Spans check = spans != nullptr ? *spans : Spans(data, size);
    WalkReader walk(data, size, windows, every);
    rm_reader* const reader = walk.reader;
    static std::vector<uint8_t> buffer(RM_MAX_PAYLOAD_SIZE);
    if (walk.open) {
        const uint32_t capacity = 1 + data[size / 3] % 70;
        std::vector<rm_packet_view_run> runs(capacity);
        for (size_t packets = 0;;) {
            uint32_t count = 0;
            rm_run_spans reader_spans = {};
            if (spans != nullptr) {
                reader_spans = {spans->starts.data(), uint32_t(spans->starts.size()), spans->span};
            }
            const rm_result code =
                rm_reader_next_packet_view_runs(reader, runs.data(), capacity, &count, 0, buffer.data(),
                                                uint32_t(buffer.size()), spans != nullptr ? &reader_spans : nullptr);
            if ((code == RM_OK) != (count != 0) || count > capacity) {
                __builtin_trap();
            }
            for (uint32_t i = 0; i < count; ++i) {
                const rm_packet_view_run& run = runs[i];
                if ((run.data != nullptr) != (run.run.last.stream == 0) || run.run.packets == 0 ||
                    (run.run.last.stream == 0 && run.run.packets != 1)) {
                    __builtin_trap();
                }
                Met m = {RM_OK, run.offset, AsRecord(run.run.last), 0};
                for (uint32_t b = 0; run.data != nullptr && b < run.run.last.length; ++b) {
                    m.payload_sum = m.payload_sum * 31 + run.data[b];
                }
                // Runs that calls cut apart joined again, those the spans cut
                // kept apart: the rule follows each run's first packet, and
                // its other packets lie within the span the first leaves.
                bool joins = true;
                if (spans != nullptr) {
                    joins = check.Joins(run.run.last.stream, run.run.first_timestamp);
                    if (run.run.packets > 1 &&
                        (run.run.last.stream >= check.starts.size() ||
                         run.run.min_timestamp - check.starts[run.run.last.stream] > check.span ||
                         run.run.max_timestamp - check.starts[run.run.last.stream] > check.span)) {
                        __builtin_trap();
                    }
                }
                Join(&joined, m, run.run.packets, run.run.bytes, run.run.min_timestamp, run.run.max_timestamp, joins);
                packets += run.run.packets;
            }
            if (code != RM_OK) {
                Join(&joined, Met{code, rm_reader_packet_offset(reader), rm_packet{}, 0}, 0, 0, 0, 0);
                break;
            }
            if (packets > size / RM_PACKET_HEADER_SIZE + 1) {
                break;
            }
        }
    }
    return joined;
}

// Runs of views are the payload walk's packets joined: the same packets of
// stream 0, the others' counts, bytes and times, the same ending.
void CompareViewRuns(const std::vector<Met>& payloads, const std::vector<Joined>& runs, Spans* spans) {
    std::vector<Joined> expected;
    for (const Met& m : payloads) {
        Met brief = m;
        brief.packet = m.code == RM_OK ? BriefOf(m.packet) : rm_packet{};
        const bool packet = m.code == RM_OK;
        const bool joins = !packet || spans == nullptr || spans->Joins(m.packet.stream, m.packet.timestamp);
        Join(&expected, brief, packet ? 1 : 0, packet ? m.packet.length : 0, m.packet.timestamp, m.packet.timestamp,
             joins);
    }
    if (expected.size() != runs.size()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const Joined& a = expected[i];
        const Joined& b = runs[i];
        if (!SameMet(a.last, b.last) || a.packets != b.packets || a.bytes != b.bytes ||
            (a.packets != 0 && (a.min_timestamp != b.min_timestamp || a.max_timestamp != b.max_timestamp))) {
            __builtin_trap();
        }
    }
}

// The walk through windows is the walk through reads, and batches are single
// calls: the same packets, the same bytes, the same ending at the same offset.
void CompareWindowedWalks(const uint8_t* data, size_t size, bool every) {
    for (WalkKind kind : {WalkKind::HEADERS, WalkKind::PAYLOADS, WalkKind::SELECTOR}) {
        ExpectSameWalk(Walk(data, size, false, every, kind), Walk(data, size, true, every, kind), false);
    }
    // Views are the payload walk's packets one by one, each at its offset.
    const std::vector<Met> payloads = Walk(data, size, false, every, WalkKind::PAYLOADS);
    ExpectSameWalk(payloads, Walk(data, size, false, every, WalkKind::VIEWS), false, true);
    ExpectSameWalk(payloads, Walk(data, size, true, every, WalkKind::VIEWS), false, true);
    CompareViewRuns(payloads, WalkViewRuns(data, size, false, every, nullptr), nullptr);
    CompareViewRuns(payloads, WalkViewRuns(data, size, true, every, nullptr), nullptr);
    Spans spans(data, size);
    Spans expected_spans(data, size);
    CompareViewRuns(payloads, WalkViewRuns(data, size, true, every, &spans), &expected_spans);
    const std::vector<Met> single = Walk(data, size, false, every, WalkKind::ANY_HEADERS);
    ExpectSameWalk(single, Walk(data, size, false, every, WalkKind::BATCHES), true);
    ExpectSameWalk(single, Walk(data, size, true, every, WalkKind::BATCHES), true);
}

// The layout walk over the same bytes: every packet it counts lies within
// the file, one after another, and each chunk's census ends where its last
// packet does; nothing can make it walk back.
struct LayoutCheck {
    const uint8_t* data;
    size_t size;
    uint64_t last_end = 0;
    uint64_t packets = 0;
};

uint32_t read_at(void* user, uint64_t offset, void* destination, uint32_t count) {
    const LayoutCheck& check = *static_cast<const LayoutCheck*>(user);
    if (offset >= check.size) {
        return 0;
    }
    const uint64_t left = check.size - offset;
    const uint32_t n = left < count ? uint32_t(left) : count;
    std::memcpy(destination, check.data + offset, n);
    return n;
}

void WalkLayout(const uint8_t* data, size_t size) {
    LayoutCheck check = {data, size};
    rm_layout_visitor visitor = {};
    visitor.user = &check;
    visitor.packet = [](void* user, const rm_layout_chunk* chunk, const rm_layout_packet* packet) {
        LayoutCheck& c = *static_cast<LayoutCheck*>(user);
        if (packet->offset < chunk->offset || packet->offset + packet->length > c.size || packet->offset < c.last_end ||
            ++c.packets > c.size / RM_PACKET_HEADER_SIZE) {
            __builtin_trap();
        }
        c.last_end = packet->offset + packet->length;
        return 1;
    };
    visitor.index_entry = [](void* user, const rm_layout_chunk* indx, uint32_t ordinal, const rm_index_record*) {
        const LayoutCheck& c = *static_cast<const LayoutCheck*>(user);
        if (ordinal >= indx->entries_held ||
            indx->offset + RM_INDX_HEADER_SIZE + uint64_t(ordinal + 1) * RM_INDX_ENTRY_SIZE > c.size) {
            __builtin_trap();
        }
        return 1;
    };
    if (rm_walk_layout(read_at, &check, size, &visitor) == RM_NULL_ARGUMENT) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > UINT32_MAX) {
        return 0;
    }
    rm_reader_probe(data, static_cast<uint32_t>(size < 16 ? size : 16));
    uint32_t stream_count = 0;
    ReadOnce(data, size, -1, &stream_count, false);
    for (uint32_t i = 0; i <= stream_count && i < MAX_SELECTORS_TRIED; ++i) {
        ReadOnce(data, size, static_cast<int32_t>(i), nullptr, false);
    }
    ReadOnce(data, size, -1, nullptr, true);
    CompareWindowedWalks(data, size, false);
    CompareWindowedWalks(data, size, true);
    WalkLayout(data, size);
    return 0;
}
