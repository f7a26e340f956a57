// Fuzz target: the reader's public path exactly as the analysis uses it,
// over arbitrary bytes. Run by libFuzzer; given files on the command line it
// replays them once each, which is how the regression test uses it.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <cstring>

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
    WalkLayout(data, size);
    return 0;
}
