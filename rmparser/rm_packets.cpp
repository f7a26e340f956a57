// The DATA chunk: the first packet, packet headers, the next-packet operation and the keyframe index.
#include <algorithm>
#include <cstring>

#include "rm_internal.h"

namespace {

const uint32_t NO_TIMESTAMP = 0xFFFFFFFFu;
// ffmpeg's muxer declares a DATA size 18 bytes beyond its last packet and
// writes 8 zero bytes of them, so its files end 10 bytes short of the
// declared end.
const uint32_t TRAILER_ROOM = 18;
const uint32_t TRAILER_SIZE = 8;
const uint8_t DATA_ID[4] = {'D', 'A', 'T', 'A'};
// How far ahead of the walk a window's bytes are asked for, and how many at
// a time: far enough that memory stays busy while the caller counts a batch
// (4 KiB left it idle then: a tenth slower), in small steps, so that the
// requests go out between packets rather than in a burst that stalls the walk.
#ifndef PREFETCH_AHEAD
#define PREFETCH_AHEAD 16384
#endif
const uint32_t FETCH_AHEAD = PREFETCH_AHEAD;
const uint32_t FETCH_STEP = 1024;

const char* const MSG_SHORT_HEADER = "Could not read packet header.";
const char* const MSG_SHORT_DATA = "Could not read packet data.";
const char* const MSG_BAD_VERSION = "Packet header version is neither 0 nor 1 - possibly a corrupt file.";
const char* const MSG_SHORT_LENGTH = "Packet length is shorter than its header - possibly a corrupt file.";
const char* const MSG_PAST_DATA_END = "Packet runs past the end of its DATA chunk - possibly a corrupt file.";
const char* const MSG_UNKNOWN_STREAM = "Unexpected stream number in packet.";
const char* const MSG_TOO_LARGE = "Packet is larger than its stream's maximum packet size - possibly a corrupt file.";
const char* const MSG_DATA_SIZE_SHORT = "The DATA size ends before its packets.";
const char* const MSG_CHAIN_CUT = "Could not read the next DATA chunk header.";

// The file position as the I/O layer sees it; the position count stands in
// when no tell callback was attached. With a window the count is what the
// source's tell would say (positions beyond 32 bits read as 0xFFFFFFFF),
// without a callback per packet.
uint32_t file_position(const rm_reader* reader) {
    if (reader->window_fn != nullptr) {
        return reader->position > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(reader->position);
    }
    if (reader->tell_fn == nullptr) {
        return uint32_t(reader->position);
    }
    return reader->tell_fn(reader->io_user);
}

// Moves to any 64-bit offset in relative steps: an absolute seek takes only
// 32 bits.
void seek_to(rm_reader* reader, uint64_t target) {
    while (reader->position != target) {
        const int64_t distance = int64_t(target - reader->position);
        const int64_t step = distance > INT32_MAX ? INT32_MAX : distance < -INT32_MAX ? -INT32_MAX : distance;
        const uint64_t before = reader->position;
        rm_seek(reader, int32_t(step), RM_SEEK_CUR);
        if (reader->position == before) {
            return;  // the I/O layer refused it
        }
    }
}

// How a version 0 packet's rule flags and number follow from its stream's
// class (see packet_rule).
const uint8_t RULE_SAME_TIME = 1;  // video: a packet with its predecessor's time has no flags
const uint8_t RULE_AFTER_KEY = 2;  // video, audio: one after a keyframe's rule counts as a keyframe's
const uint8_t RULE_IN_GROUP = 4;   // other streams of version 1 files: the group byte is the rule number

uint8_t rule_kind(const rm_reader* reader, const rm_stream_state* state) {
    switch (state->class_flags) {
    case RM_CLASS_VIDEO:
        return RULE_SAME_TIME | RULE_AFTER_KEY;
    case RM_CLASS_AUDIO:
        return RULE_AFTER_KEY;
    case RM_CLASS_EVENT:
        return 0;
    default:
        return reader->rmf_record.file_version != 0 ? RULE_IN_GROUP : 0;
    }
}

// Rule flags and rule number of a packet about to be taken: a version 1
// header's own; for version 0, from its header, its stream's rule kind and
// what the previous packet of the same stream left behind.
// The rule number alone, all a stream remembers of its packets' rules.
uint16_t rule_number(uint8_t kind, const rm_packet_header* header) {
    if (header->version == 1) {
        return header->asm_rule;
    }
    return (kind & RULE_IN_GROUP) != 0 ? header->group : (header->flags & RM_PACKET_KEYFRAME) != 0 ? 0 : 1;
}

void packet_rule(uint8_t kind, const rm_stream_state* state, const rm_packet_header* header, uint16_t* asm_flags,
                 uint16_t* asm_rule) {
    *asm_rule = rule_number(kind, header);
    if (header->version == 1) {
        *asm_flags = header->flags;
        return;
    }
    const bool keyframe = (header->flags & RM_PACKET_KEYFRAME) != 0;
    if ((kind & RULE_SAME_TIME) != 0 && header->timestamp == state->last_timestamp) {
        *asm_flags = 0;
    } else {
        *asm_flags = keyframe || ((kind & RULE_AFTER_KEY) != 0 && state->last_rule == 0) ? 3 : 2;
    }
}

// The DATA head just decoded into the handle starts at `offset`: where its
// packets end, and which chunk it names as the next one.
void enter_data_chunk(rm_reader* reader, uint64_t offset) {
    const rm_data_header& head = reader->data_header;
    reader->data_end = head.size >= RM_DATA_HEADER_SIZE ? offset + head.size : 0;
    // Only a chunk wholly after this one can be followed: anything else could
    // send the reader back over packets it has already delivered.
    const bool forward = reader->data_end != 0 && head.next_data_header >= reader->data_end;
    reader->data_next = forward ? head.next_data_header : 0;
    reader->data_packets = 0;
}

rm_result report_damage(rm_reader* reader, rm_result code, const char* message) {
    rm_report(reader, code, message);
    return code;
}

// The normal end of the packets, reported as a header read that found
// nothing, as callers have always seen it.
rm_result end_of_data(rm_reader* reader) {
    rm_report(reader, RM_READ_FAILED, MSG_SHORT_HEADER);
    return RM_END_OF_DATA;
}

// Moves on to the DATA chunk at `next`, which the current one names or which
// takes over from it. A head that the file cuts off is a cut; one that is no
// DATA head ends the chain. Each step lands beyond the packets read so far,
// so no sequence of heads can make the reader loop.
rm_result follow_data_chain(rm_reader* reader, uint64_t next) {
    reader->data_next = 0;
    seek_to(reader, next);
    if (rm_read_to_buffer(reader, RM_DATA_HEADER_SIZE, 0) != RM_DATA_HEADER_SIZE) {
        reader->packet_start = next;
        return report_damage(reader, RM_READ_FAILED, MSG_CHAIN_CUT);
    }
    if (rm_peek_u32(reader->buffer, reader->buffer_held) != RM_ID_DATA ||
        rm_peek_u32(reader->buffer + 4, reader->buffer_held - 4) < RM_DATA_HEADER_SIZE ||
        rm_decode_data_header(reader) != RM_OK) {
        return end_of_data(reader);
    }
    enter_data_chunk(reader, next);
    reader->packet_start = reader->position;
    return RM_OK;
}

// With every stream kept, where the packets go on when no chain names the
// next DATA chunk: one that starts at `after`, where the packets just read
// end (`bytes` holds the `got` bytes there: as much of a head as the file
// has, so a head cut off within its id is still seen), or else the nearest
// that a logical stream header names at or beyond `after`. 0: none, as
// always in the default selection.
uint64_t unchained_successor(const rm_reader* reader, uint64_t after, const uint8_t* bytes, uint32_t got) {
    if (!reader->keep_every_stream) {
        return 0;
    }
    if (got != 0 && memcmp(bytes, DATA_ID, got < sizeof DATA_ID ? got : sizeof DATA_ID) == 0) {
        return after;
    }
    const uint32_t* first = reader->named_data_offsets;
    if (first == nullptr) {
        return 0;
    }
    const uint32_t* last = first + reader->named_data_count;
    const uint32_t* named = std::lower_bound(first, last, after, [](uint32_t a, uint64_t b) { return a < b; });
    return named != last ? *named : 0;
}

// The file has no more packets for a DATA chunk without a declared end
// (the end of the file, padding or another chunk at the current position,
// whose `got` bytes the buffer holds): its head's packet count says whether
// some were lost. RM_OK when another DATA chunk takes over.
rm_result end_without_declared_end(rm_reader* reader, uint32_t got) {
    const uint32_t declared = reader->data_header.packet_count;
    if (declared != 0 && reader->data_packets < declared) {
        return report_damage(reader, RM_READ_FAILED, MSG_SHORT_HEADER);
    }
    const uint64_t next = unchained_successor(reader, reader->packet_start, reader->buffer, got);
    return next != 0 ? follow_data_chain(reader, next) : end_of_data(reader);
}

// The packets of the DATA chunk being read end at `after`, where the file
// may hold only another chunk, zero bytes or nothing at all: more packets
// there mean the DATA size ends before them. RM_OK when a chained DATA chunk
// takes over; otherwise the end of the data or the damage, reported.
rm_result leave_data_chunk(rm_reader* reader, uint64_t after) {
    seek_to(reader, after);
    const uint32_t got = rm_read_to_buffer(reader, RM_CHUNK_HEADER_SIZE, 0);
    if (got != 0 && !rm_all_zero(reader->buffer, got) && !rm_looks_like_chunk_head(reader->buffer, got)) {
        reader->packet_start = after;
        return report_damage(reader, RM_CORRUPT, MSG_DATA_SIZE_SHORT);
    }
    // Where the packets stopped: the declared end, whatever was read after it.
    reader->packet_start = reader->data_end;
    const uint64_t next =
        reader->data_next != 0 ? reader->data_next : unchained_successor(reader, after, reader->buffer, got);
    if (next == 0) {
        return end_of_data(reader);
    }
    return follow_data_chain(reader, next);
}

// ffmpeg's trailer, where the last 18 declared bytes of a DATA chunk begin:
// zeros, at least its version and length (no packet has a length of 0), and
// all 8 of them when the file holds them.
bool at_trailer(const rm_reader* reader, uint32_t got) {
    if (reader->data_end == 0 || reader->packet_start + TRAILER_ROOM != reader->data_end || got < 4) {
        return false;
    }
    return rm_all_zero(reader->buffer, got < TRAILER_SIZE ? got : TRAILER_SIZE);
}

// The MDPR's declaration of a stream number, or null when none declares it.
// A reader whose streams were set up without a header read knows only the
// kept streams, and their sizes not at all.
const rm_declared_stream* declared_stream(const rm_reader* reader, uint32_t number) {
    static const rm_declared_stream KEPT = {0, 0};
    if (reader->declared_streams == nullptr) {
        return rm_stream_index(reader, number) != -1 ? &KEPT : nullptr;
    }
    // Streams are mostly numbered from 0 without a gap: then each number's
    // record is the one at its place.
    if (number < reader->declared_count && reader->declared_streams[number].stream_number == number) {
        return &reader->declared_streams[number];
    }
    uint32_t low = 0;
    uint32_t high = reader->declared_count;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (reader->declared_streams[middle].stream_number < number) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low < reader->declared_count && reader->declared_streams[low].stream_number == number) {
        return &reader->declared_streams[low];
    }
    return nullptr;
}

// A version 1 header holds a 16-bit rule number and a flags byte where
// version 0 holds two bytes; its length counts the whole packet all the same.
uint32_t header_size(const rm_packet_header& header) {
    return header.version == 1 ? RM_PACKET_HEADER_V1_SIZE : RM_PACKET_HEADER_SIZE;
}

// Why the header at `start` cannot start a packet, or null when it can: the
// reader believes a header only when it fits everything the file says.
const char* implausible_header(const rm_reader* reader, const rm_packet_header& header, uint64_t start) {
    if (header.version > 1) {
        return MSG_BAD_VERSION;
    }
    if (header.length < header_size(header)) {
        return MSG_SHORT_LENGTH;
    }
    if (reader->data_end != 0 && start + header.length > reader->data_end) {
        return MSG_PAST_DATA_END;
    }
    const rm_declared_stream* stream = declared_stream(reader, header.stream_number);
    if (stream == nullptr) {
        return MSG_UNKNOWN_STREAM;
    }
    // Encoders write the largest payload of the stream, or more.
    const uint32_t payload = uint32_t(header.length) - header_size(header);
    if (stream->max_packet_size != 0 && payload > stream->max_packet_size) {
        return MSG_TOO_LARGE;
    }
    return nullptr;
}

}  // namespace

rm_result rm_decode_data_header(rm_reader* reader) {
    if (reader == nullptr || reader->buffer == nullptr || reader->buffer_held < RM_DATA_HEADER_SIZE) {
        return RM_FAIL;
    }
    const uint8_t* cursor = reader->buffer;
    uint32_t remaining = reader->buffer_held;
    rm_data_header* head = &reader->data_header;
    head->id = rm_get_u32(&cursor, &remaining);
    head->size = rm_get_u32(&cursor, &remaining);
    head->version = rm_get_u16(&cursor, &remaining);
    head->packet_count = rm_get_u32(&cursor, &remaining);
    head->next_data_header = rm_get_u32(&cursor, &remaining);
    return RM_OK;
}

rm_result rm_decode_packet_header(rm_reader* reader, rm_packet_header* header) {
    if (reader == nullptr || header == nullptr || reader->buffer == nullptr ||
        reader->buffer_held < RM_PACKET_HEADER_SIZE) {
        return RM_FAIL;
    }
    const uint8_t* cursor = reader->buffer;
    uint32_t remaining = reader->buffer_held;
    header->version = rm_get_u16(&cursor, &remaining);
    header->length = rm_get_u16(&cursor, &remaining);
    header->stream_number = rm_get_u16(&cursor, &remaining);
    header->timestamp = rm_get_u32(&cursor, &remaining);
    const uint16_t group_and_flags = rm_get_u16(&cursor, &remaining);
    if (header->version == 1) {
        header->asm_rule = group_and_flags;
        header->group = 0;
        header->flags = rm_get_u8(&cursor, &remaining);  // 0 until the 13th byte is held
        return RM_OK;
    }
    header->asm_rule = 0;
    header->group = uint8_t(group_and_flags >> 8);
    header->flags = uint8_t(group_and_flags & 0xFF);
    return RM_OK;
}

rm_result rm_fetch_packet_header(rm_reader* reader, rm_packet_header* header) {
    if (reader == nullptr || header == nullptr) {
        return RM_NULL_ARGUMENT;
    }
    if (rm_read_to_buffer(reader, RM_PACKET_HEADER_SIZE, 0) != RM_PACKET_HEADER_SIZE) {
        rm_report(reader, RM_READ_FAILED, MSG_SHORT_HEADER);
        return RM_READ_FAILED;
    }
    return rm_decode_packet_header(reader, header);
}

int32_t rm_stream_index(const rm_reader* reader, uint32_t stream_number) {
    if (reader == nullptr || reader->stream_map == nullptr || stream_number >= reader->stream_map_size) {
        return -1;
    }
    return int32_t(reader->stream_map[stream_number]);
}

rm_result rm_locate_packets(rm_reader* reader) {
    if (reader == nullptr) {
        return RM_FAIL;
    }
    const uint32_t data_offset = reader->prop_record.data_offset;
    rm_seek(reader, int32_t(data_offset), RM_SEEK_SET);

    uint32_t id = 0;
    rm_result result = rm_read_chunk(reader, &id);
    if (result != RM_OK) {
        return result;
    }
    if (id != RM_ID_DATA) {
        return RM_BAD_DATA_CHUNK;
    }
    result = rm_decode_data_header(reader);
    if (result != RM_OK) {
        return result;
    }
    enter_data_chunk(reader, data_offset);

    reader->start_timestamp = NO_TIMESTAMP;
    reader->packet_start = reader->position;
    if (reader->data_header.packet_count == 0 || (reader->data_end != 0 && reader->position >= reader->data_end)) {
        return RM_OK;
    }

    // Only a first packet that can be believed gives the file its start
    // time. Anything else (a cut, a trailer, damage) is left for the first
    // packet read to find and report, with where it lies.
    const uint32_t got = rm_read_to_buffer(reader, RM_PACKET_HEADER_SIZE, 0);
    rm_packet_header first;
    if (got == RM_PACKET_HEADER_SIZE && rm_decode_packet_header(reader, &first) == RM_OK &&
        implausible_header(reader, first, reader->packet_start) == nullptr) {
        if (rm_stream_index(reader, first.stream_number) == -1) {
            return RM_BAD_DATA_CHUNK;
        }
        reader->start_timestamp = first.timestamp;
        if (reader->stream_states != nullptr) {
            for (uint32_t i = 0; i < reader->stream_state_count; ++i) {
                reader->stream_states[i].last_timestamp = NO_TIMESTAMP;
                reader->stream_states[i].last_rule = 0;
            }
        }
    }
    // Back to the first packet, so that the first read delivers it. Relative,
    // since a packet just past 4 GiB has no 32-bit offset from the start.
    rm_seek(reader, -int32_t(got), RM_SEEK_CUR);
    return RM_OK;
}

namespace {

bool is_kept_stream(const rm_reader* reader, int32_t index) {
    return index >= 0 && uint32_t(index) < reader->stream_count && uint32_t(index) < reader->stream_state_count &&
           reader->stream_states != nullptr;
}

// Steps over the payload of a packet that is not read, to its last byte,
// which is read: a packet the file cuts short must not pass for one that is
// there (a seek past the end of a file does not fail). False when it is cut.
bool step_over_payload(rm_reader* reader, const rm_packet_header& header) {
    const uint32_t payload = uint32_t(header.length) - header_size(header);
    if (payload == 0) {
        return true;
    }
    // A window that shows the last byte proves it as well as a read.
    if (reader->window_fn != nullptr && rm_window_bytes(reader, payload) != nullptr) {
        rm_window_take(reader, payload);
        return true;
    }
    rm_seek(reader, int32_t(payload) - 1, RM_SEEK_CUR);
    uint8_t last = 0;
    return rm_read_raw(reader, &last, 1) == 1;
}

// A header as the window shows it, with the byte after it (the 13th byte of
// a version 1 header).
void decode_shown_header(const uint8_t* bytes, rm_packet_header* header) {
    header->version = uint16_t(bytes[0] << 8 | bytes[1]);
    header->length = uint16_t(bytes[2] << 8 | bytes[3]);
    header->stream_number = uint16_t(bytes[4] << 8 | bytes[5]);
    header->timestamp = uint32_t(bytes[6]) << 24 | uint32_t(bytes[7]) << 16 | uint32_t(bytes[8]) << 8 | bytes[9];
    if (header->version == 1) {
        header->asm_rule = uint16_t(bytes[10] << 8 | bytes[11]);
        header->group = 0;
        header->flags = bytes[12];
    } else {
        header->asm_rule = 0;
        header->group = bytes[10];
        header->flags = bytes[11];
    }
}

// A header that a window shows with the byte after it (enough for either
// version), decoded in place and taken when the reader believes it. One it
// does not believe is left for read_header, which finds the same and tells
// why; a believed header is never a trailer or the end of an undeclared
// chunk either (its first byte is 0, its length at least 12), so both ways
// go on alike.
bool take_shown_header(rm_reader* reader, const uint8_t* bytes, rm_packet_header* header) {
    decode_shown_header(bytes, header);
    if (implausible_header(reader, *header, reader->packet_start) != nullptr) {
        return false;
    }
    rm_window_take(reader, header_size(*header));
    return true;
}

// What reading where a packet should start met.
enum class HeaderRead {
    PACKET,    // a header the reader believes, in `header`
    MOVED_ON,  // the end of a DATA chunk, and another one to read from
    FAILED,    // the end of the data or damage, reported: `failure` says which
};

// Reads the header at the current position (packet_start) through the
// buffer. A header is believed only when it fits the file (see
// implausible_header); anything else where a packet should start is damage
// there, never a packet to skip.
HeaderRead read_header(rm_reader* reader, rm_packet_header* header, rm_result* failure) {
    const uint32_t got = rm_read_to_buffer(reader, RM_PACKET_HEADER_SIZE, 0);
    if (at_trailer(reader, got)) {
        *failure = leave_data_chunk(reader, reader->packet_start + TRAILER_SIZE);
        return *failure == RM_OK ? HeaderRead::MOVED_ON : HeaderRead::FAILED;
    }
    // Without a declared end the packets run until the file, padding or
    // the next chunk ends them.
    if (reader->data_end == 0 && (rm_all_zero(reader->buffer, got) ||
                                  (got == RM_PACKET_HEADER_SIZE && rm_looks_like_chunk_head(reader->buffer, got)))) {
        *failure = end_without_declared_end(reader, got);
        return *failure == RM_OK ? HeaderRead::MOVED_ON : HeaderRead::FAILED;
    }
    if (got != RM_PACKET_HEADER_SIZE) {
        *failure = report_damage(reader, RM_READ_FAILED, MSG_SHORT_HEADER);
        return HeaderRead::FAILED;
    }
    rm_decode_packet_header(reader, header);
    const char* implausible = implausible_header(reader, *header, reader->packet_start);
    if (implausible != nullptr) {
        *failure = report_damage(reader, RM_CORRUPT, implausible);
        return HeaderRead::FAILED;
    }
    if (header->version == 1) {
        if (rm_read_to_buffer(reader, 1, RM_PACKET_HEADER_SIZE) != 1) {
            *failure = report_damage(reader, RM_READ_FAILED, MSG_SHORT_HEADER);
            return HeaderRead::FAILED;
        }
        rm_decode_packet_header(reader, header);
    }
    return HeaderRead::PACKET;
}

// Reads packet headers up to the next packet to deliver: one of stream
// `selector` (-1: any stream), or with `any_kept` one of any stream that
// stream selection kept. The payload is left unread. Headers are decoded in
// the window where one shows them, and read otherwise (read_header).
rm_result find_packet(rm_reader* reader, rm_packet_header* header, int32_t selector, bool any_kept, int32_t* index) {
    for (;;) {
        if (reader->data_end != 0 && reader->position >= reader->data_end) {
            const rm_result left = leave_data_chunk(reader, reader->data_end);
            if (left != RM_OK) {
                return left;
            }
            continue;
        }
        reader->packet_start = reader->position;
        const uint8_t* shown =
            reader->window_fn != nullptr ? rm_window_bytes(reader, RM_PACKET_HEADER_V1_SIZE) : nullptr;
        if (shown == nullptr || !take_shown_header(reader, shown, header)) {
            rm_result failure = RM_OK;
            const HeaderRead read = read_header(reader, header, &failure);
            if (read == HeaderRead::FAILED) {
                return failure;
            }
            if (read == HeaderRead::MOVED_ON) {
                continue;
            }
        }
        ++reader->data_packets;
        *index = rm_stream_index(reader, header->stream_number);
        const bool taken = any_kept ? is_kept_stream(reader, *index) : selector == -1 || *index == selector;
        if (!taken) {
            if (!step_over_payload(reader, *header)) {
                return report_damage(reader, RM_READ_FAILED, MSG_SHORT_DATA);
            }
            continue;
        }
        if (!is_kept_stream(reader, *index)) {
            return report_damage(reader, RM_CORRUPT, MSG_UNKNOWN_STREAM);
        }
        return RM_OK;
    }
}

// The next packet to deliver (see find_packet) with the rule flags and rule
// number its stream's state gives it.
rm_result next_packet(rm_reader* reader, int32_t selector, bool any_kept, rm_packet_header* header, int32_t* index,
                      uint16_t* asm_flags, uint16_t* asm_rule) {
    const rm_result found = find_packet(reader, header, selector, any_kept, index);
    if (found != RM_OK) {
        return found;
    }
    const rm_stream_state* state = &reader->stream_states[*index];
    packet_rule(rule_kind(reader, state), state, header, asm_flags, asm_rule);
    return RM_OK;
}

// The record handed to the caller; `data` may be null (no payload, or none read).
void fill_packet(rm_packet* out, const rm_packet_header& header, int32_t index, uint16_t asm_flags, uint16_t asm_rule,
                 uint32_t payload_length, uint8_t* data, uint32_t file_offset) {
    out->timestamp = header.timestamp;
    out->stream = uint16_t(index);
    out->asm_flags = asm_flags;
    out->asm_rule = asm_rule > 0xFF ? 0xFF : uint8_t(asm_rule);
    out->asm_rule_number = asm_rule;
    out->reserved = 0;
    out->length = uint16_t(payload_length);
    out->data = data;
    out->file_offset = file_offset;
    out->flags = header.flags;
    out->version = header.version;
}

void fill_brief(rm_packet_brief* out, const rm_packet_header& header, uint32_t index, uint32_t payload_length) {
    out->timestamp = header.timestamp;
    out->stream = uint16_t(index);
    out->length = uint16_t(payload_length);
    out->flags = header.flags;
    out->version = uint8_t(header.version);
    out->reserved = 0;
}

// The brief of a packet read the long way.
void brief_of_record(rm_packet_brief* out, const rm_packet& packet) {
    out->timestamp = packet.timestamp;
    out->stream = packet.stream;
    out->length = packet.length;
    out->flags = packet.flags;
    out->version = uint8_t(packet.version);
    out->reserved = 0;
}

// A run of one packet, or one more packet in a run.
void start_run(rm_packet_run* run, const rm_packet_header& header, uint32_t index, uint32_t payload_length) {
    fill_brief(&run->last, header, index, payload_length);
    run->packets = 1;
    run->first_timestamp = header.timestamp;
    run->first_length = payload_length;
    run->min_timestamp = header.timestamp;
    run->max_timestamp = header.timestamp;
    run->bytes = payload_length;
}
// The run of a packet read the long way.
void run_of_record(rm_packet_run* run, const rm_packet& packet) {
    brief_of_record(&run->last, packet);
    run->packets = 1;
    run->first_timestamp = packet.timestamp;
    run->first_length = packet.length;
    run->min_timestamp = packet.timestamp;
    run->max_timestamp = packet.timestamp;
    run->bytes = packet.length;
}
// Whether a packet of stream `index` at `timestamp` may join its stream's
// run as far as the spans go; a packet beyond its span starts the next.
bool within_span(rm_run_spans* spans, uint32_t index, uint32_t timestamp) {
    if (spans == nullptr) {
        return true;
    }
    if (index >= spans->count) {
        return false;
    }
    if (timestamp - spans->starts[index] > spans->span) {
        spans->starts[index] = timestamp;
        return false;
    }
    return true;
}
void add_to_run(rm_packet_run* run, uint32_t timestamp, uint32_t payload_length) {
    ++run->packets;
    run->bytes += payload_length;
    if (timestamp < run->min_timestamp) run->min_timestamp = timestamp;
    if (timestamp > run->max_timestamp) run->max_timestamp = timestamp;
}

// Whether a keyframe at `timestamp` gets an index entry: while the index has
// room, and its spacing after the last entry.
bool index_takes(const rm_stream_state& state, uint32_t timestamp) {
    return state.index_count < state.index_capacity &&
           (state.index_count == 0 ||
            (timestamp > state.last_entry_time && timestamp - state.last_entry_time > state.index_spacing));
}

// What the stream remembers of a packet once it has been read whole.
void note_packet(rm_reader* reader, rm_stream_state* state, const rm_packet_header& header, int32_t index,
                 uint16_t asm_rule) {
    state->last_timestamp = header.timestamp;
    state->last_rule = asm_rule;
    // Index entries hold 32-bit offsets, as the format's own index does.
    if ((header.flags & RM_PACKET_KEYFRAME) != 0 && index_takes(*state, header.timestamp)) {
        rm_index_add(reader, uint32_t(index), header.timestamp, uint32_t(reader->packet_start), header.flags);
    }
}

// A stream the walk through a window takes packets of without the long way:
// one numbered as its place in the declared table, and kept.
struct ShownStream {
    rm_stream_state* state;  // null: not so taken
    uint32_t largest;        // payload bytes: its declared largest packet, or UINT32_MAX when undeclared
    uint16_t index;
    uint8_t kind;  // its rule kind
};
// Stream numbers taken so; packets of others are left to find_packet.
const uint32_t SHOWN_STREAMS = 16;

// How the window's loop hands out a packet it takes: the whole record, as
// next_packet and the payload step fill it, with the payload of
// `payload_stream` in place (or the caller's buffer for an empty payload)...
struct WholeRecords {
    uint32_t payload_stream;  // UINT32_MAX: none
    uint8_t* keep;

    // The rule number the stream remembers.
    uint16_t fill(rm_packet*& next, const rm_packet_header& header, const ShownStream& stream, uint32_t payload,
                  const uint8_t* payload_bytes, uint64_t payload_at) const {
        rm_packet* const out = next++;
        uint16_t asm_flags = 0;
        uint16_t asm_rule = 0;
        packet_rule(stream.kind, stream.state, &header, &asm_flags, &asm_rule);
        uint8_t* data = nullptr;
        if (stream.index == payload_stream) {
            data = payload != 0 ? const_cast<uint8_t*>(payload_bytes) : keep;
        }
        fill_packet(out, header, stream.index, asm_flags, asm_rule, payload, data,
                    payload_at > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(payload_at));
        return asm_rule;
    }
};

// ... or its brief.
struct Briefs {
    uint16_t fill(rm_packet_brief*& next, const rm_packet_header& header, const ShownStream& stream, uint32_t payload,
                  const uint8_t*, uint64_t) const {
        fill_brief(next++, header, stream.index, payload);
        return rule_number(stream.kind, &header);
    }
};

// ... or into runs: a packet of a stream other than `single_stream` that
// follows one of its own stream joins that one's run, unless the run was
// handed out before `first`.
struct Runs {
    uint32_t single_stream;  // UINT32_MAX: none
    const rm_packet_run* first;
    rm_run_spans* spans;  // may be null

    uint16_t fill(rm_packet_run*& next, const rm_packet_header& header, const ShownStream& stream, uint32_t payload,
                  const uint8_t*, uint64_t) const {
        rm_packet_run* const open = next - 1;
        const bool spanned = within_span(spans, stream.index, header.timestamp);
        if (spanned && next != first && open->last.stream == stream.index && stream.index != single_stream) {
            fill_brief(&open->last, header, stream.index, payload);
            add_to_run(open, header.timestamp, payload);
        } else {
            start_run(next++, header, stream.index, payload);
        }
        return rule_number(stream.kind, &header);
    }
};

// ... or its view: the brief, where its header starts, and the payload of
// `payload_stream` in place (or the caller's buffer for an empty payload).
struct Views {
    uint32_t payload_stream;  // UINT32_MAX: none
    uint8_t* keep;

    uint16_t fill(rm_packet_view*& next, const rm_packet_header& header, const ShownStream& stream, uint32_t payload,
                  const uint8_t* payload_bytes, uint64_t payload_at) const {
        rm_packet_view* const out = next++;
        fill_brief(&out->brief, header, stream.index, payload);
        out->offset = payload_at - header_size(header);
        out->data = stream.index != payload_stream ? nullptr : payload != 0 ? payload_bytes : keep;
        return rule_number(stream.kind, &header);
    }
};

// ... or into runs as above, each with where its last packet starts and,
// for a packet of `single_stream`, its payload as a view's.
struct ViewRuns {
    uint32_t single_stream;  // UINT32_MAX: none
    uint8_t* keep;
    const rm_packet_view_run* first;
    rm_run_spans* spans;  // may be null

    uint16_t fill(rm_packet_view_run*& next, const rm_packet_header& header, const ShownStream& stream,
                  uint32_t payload, const uint8_t* payload_bytes, uint64_t payload_at) const {
        rm_packet_view_run* const open = next - 1;
        const bool spanned = within_span(spans, stream.index, header.timestamp);
        if (spanned && next != first && open->run.last.stream == stream.index && stream.index != single_stream) {
            fill_brief(&open->run.last, header, stream.index, payload);
            add_to_run(&open->run, header.timestamp, payload);
            open->offset = payload_at - header_size(header);
        } else {
            rm_packet_view_run* const out = next++;
            start_run(&out->run, header, stream.index, payload);
            out->offset = payload_at - header_size(header);
            out->data = stream.index != single_stream ? nullptr : payload != 0 ? payload_bytes : keep;
        }
        return rule_number(stream.kind, &header);
    }
};

// The walk's common steps through a window, in one go: the packets from the
// current position on, as long as each is of a stream above, the window
// shows it whole and the reader believes its header; at most `capacity` of
// them, into `out`. Each is delivered as find_packet, next_packet and the
// payload step would deliver it, and the stream remembers it as they would.
// Whatever else comes (the window or the DATA chunk ends, another stream,
// damage) is left to them, untaken: this only ever takes less. What it reads
// of the handle is kept in locals, as nothing here changes it. Returns how
// many were taken.
template <typename Record, typename Records>
uint32_t take_shown_packets(rm_reader* reader, Record* out, uint32_t capacity, const Records& records) {
    const rm_declared_stream* const declared = reader->declared_streams;
    const uint32_t* const stream_map = reader->stream_map;
    rm_stream_state* const states = reader->stream_states;
    if (declared == nullptr || stream_map == nullptr || states == nullptr) {
        return 0;
    }
    uint32_t numbers = reader->declared_count < SHOWN_STREAMS ? reader->declared_count : SHOWN_STREAMS;
    numbers = reader->stream_map_size < numbers ? reader->stream_map_size : numbers;
    const uint32_t kept =
        reader->stream_count < reader->stream_state_count ? reader->stream_count : reader->stream_state_count;
    ShownStream streams[SHOWN_STREAMS] = {};
    for (uint32_t n = 0; n < numbers; ++n) {
        const uint32_t index = stream_map[n];
        if (declared[n].stream_number != n || index >= kept) {
            continue;
        }
        const uint32_t largest = declared[n].max_packet_size;
        streams[n].state = &states[index];
        streams[n].largest = largest != 0 ? largest : UINT32_MAX;
        streams[n].index = uint16_t(index);
        streams[n].kind = rule_kind(reader, &states[index]);
    }
    // Offsets in the window: the next packet's, and the end of what it
    // shows of the DATA chunk's packets (the chunk's end, if sooner).
    const uint8_t* const window = reader->window;
    const uint64_t window_at = reader->position - reader->window_used;
    uint32_t at = reader->window_used;
    uint32_t limit = reader->window_size;
    if (reader->data_end != 0) {
        const uint64_t data_left = reader->data_end > window_at ? reader->data_end - window_at : 0;
        limit = data_left < limit ? uint32_t(data_left) : limit;
    }
    uint32_t fetched = reader->window_fetched > at ? reader->window_fetched : at;
    uint64_t last_start = reader->packet_start;
    Record* const end = out + capacity;
    Record* next = out;
    uint32_t taken = 0;
    // A header too near the chunk's end for either version is left to the
    // long way too.
    for (; next != end && limit - at >= RM_PACKET_HEADER_V1_SIZE && at < limit; ++taken) {
        // A step at a time, the whole distance ahead of the walk.
        if (fetched < at + FETCH_AHEAD - FETCH_STEP) {
            fetched = fetched > at ? fetched : at;
            fetched = rm_fetch_window(window, fetched, limit - fetched > FETCH_STEP ? fetched + FETCH_STEP : limit);
        }
        const uint8_t* bytes = window + at;
        // implausible_header's checks, for the streams above.
        const uint32_t version = uint32_t(bytes[0]) << 8 | bytes[1];
        const uint32_t length = uint32_t(bytes[2]) << 8 | bytes[3];
        const uint32_t number = uint32_t(bytes[4]) << 8 | bytes[5];
        if (version > 1 || number >= SHOWN_STREAMS) {
            break;
        }
        const ShownStream& stream = streams[number];
        const uint32_t head = RM_PACKET_HEADER_SIZE + version;
        if (length < head || length > limit - at || length - head > stream.largest || stream.state == nullptr) {
            break;
        }
        rm_packet_header header;
        decode_shown_header(bytes, &header);
        rm_stream_state* state = stream.state;
        const uint64_t start = window_at + at;
        const uint16_t asm_rule = records.fill(next, header, stream, length - head, bytes + head, start + head);
        // note_packet's, with the start noted only where the index needs it.
        state->last_timestamp = header.timestamp;
        state->last_rule = asm_rule;
        if ((header.flags & RM_PACKET_KEYFRAME) != 0 && index_takes(*state, header.timestamp)) {
            reader->packet_start = start;
            rm_index_add(reader, stream.index, header.timestamp, uint32_t(start), header.flags);
        }
        last_start = start;
        at += length;
    }
    reader->packet_start = last_start;
    reader->position = window_at + at;
    reader->window_used = at;
    reader->window_fetched = fetched;
    reader->data_packets += taken;
    return uint32_t(next - out);
}

}  // namespace

rm_result rm_read_packet(rm_reader* reader, rm_packet** out, int32_t selector) {
    if (reader == nullptr || out == nullptr) {
        return RM_FAIL;
    }

    rm_packet_header header;
    int32_t index = -1;
    uint16_t asm_flags = 0;
    uint16_t asm_rule = 0;
    const rm_result found = next_packet(reader, selector, false, &header, &index, &asm_flags, &asm_rule);
    if (found != RM_OK) {
        return found;
    }

    rm_packet* packet = static_cast<rm_packet*>(rm_alloc_zeroed(reader, 1, sizeof(rm_packet)));
    if (packet == nullptr) {
        return RM_OUT_OF_MEMORY;
    }
    const uint32_t file_offset = file_position(reader);
    // find_packet believes no length below the header's own.
    const uint32_t payload_length = uint32_t(header.length) - header_size(header);
    uint8_t* payload = nullptr;
    // An empty payload needs no block (an allocator may return null for 0).
    if (payload_length != 0) {
        payload = static_cast<uint8_t*>(rm_alloc(reader, payload_length));
        if (payload == nullptr) {
            rm_release(reader, packet);
            return RM_OUT_OF_MEMORY;
        }
        const uint8_t* shown = reader->window_fn != nullptr ? rm_window_bytes(reader, payload_length) : nullptr;
        if (shown != nullptr) {
            std::memcpy(payload, shown, payload_length);
            rm_window_take(reader, payload_length);
        } else if (rm_read_raw(reader, payload, payload_length) != payload_length) {
            rm_report(reader, RM_READ_FAILED, MSG_SHORT_DATA);
            rm_release(reader, payload);
            rm_release(reader, packet);
            return RM_READ_FAILED;
        }
    }

    fill_packet(packet, header, index, asm_flags, asm_rule, payload_length, payload, file_offset);
    note_packet(reader, &reader->stream_states[index], header, index, asm_rule);
    *out = packet;
    return RM_OK;
}

rm_result rm_read_packet_header(rm_reader* reader, rm_packet* out, int32_t checked_stream, uint8_t* keep,
                                uint32_t keep_size) {
    if (reader == nullptr || out == nullptr || (keep != nullptr && keep_size < RM_MAX_PAYLOAD_SIZE)) {
        return RM_FAIL;
    }
    const WholeRecords whole = {keep != nullptr && checked_stream >= 0 ? uint32_t(checked_stream) : UINT32_MAX, keep};
    if (reader->window != nullptr && take_shown_packets(reader, out, 1, whole) == 1) {
        return RM_OK;
    }
    rm_packet_header header;
    int32_t index = -1;
    uint16_t asm_flags = 0;
    uint16_t asm_rule = 0;
    const rm_result found = next_packet(reader, -1, true, &header, &index, &asm_flags, &asm_rule);
    if (found != RM_OK) {
        return found;
    }
    const uint32_t file_offset = file_position(reader);

    const uint32_t payload_length = uint32_t(header.length) - header_size(header);
    uint8_t* data = nullptr;
    const uint8_t* shown = index == checked_stream && payload_length != 0 && reader->window_fn != nullptr
                               ? rm_window_bytes(reader, payload_length)
                               : nullptr;
    if (shown != nullptr) {
        // Shown whole, so there: handed out where it lies, not copied. The
        // record's pointer is not const, but nothing may write through it.
        rm_window_take(reader, payload_length);
        data = keep != nullptr ? const_cast<uint8_t*>(shown) : nullptr;
    } else if (index == checked_stream && keep != nullptr) {
        if (rm_read_raw(reader, keep, payload_length) != payload_length) {
            return report_damage(reader, RM_READ_FAILED, MSG_SHORT_DATA);
        }
        data = keep;
    } else if (index == checked_stream) {
        // Read as rm_read_packet reads it, so that a cut payload fails here
        // with the same code.
        uint8_t scratch[4096];
        for (uint32_t left = payload_length; left != 0;) {
            const uint32_t part = left < sizeof scratch ? left : uint32_t(sizeof scratch);
            if (rm_read_raw(reader, scratch, part) != part) {
                return report_damage(reader, RM_READ_FAILED, MSG_SHORT_DATA);
            }
            left -= part;
        }
    } else {
        // Stepped over as a stream selector steps over other streams' packets.
        if (!step_over_payload(reader, header)) {
            return report_damage(reader, RM_READ_FAILED, MSG_SHORT_DATA);
        }
    }

    fill_packet(out, header, index, asm_flags, asm_rule, payload_length, data, file_offset);
    note_packet(reader, &reader->stream_states[index], header, index, asm_rule);
    return RM_OK;
}

namespace {

// A batch: what the window shows first; where it shows none, one packet the
// long way (rm_read_packet_header with `checked_stream`, `keep` and
// `keep_size`, made the batch's first record by `first_of`), and then what
// the window shows. Taking shown packets calls none of the source's
// callbacks, so the first packet's payload stays where it is.
template <typename Record, typename Records, typename FirstOf>
rm_result take_batch(rm_reader* reader, Record* out, uint32_t capacity, uint32_t* count, const Records& records,
                     int32_t checked_stream, uint8_t* keep, uint32_t keep_size, FirstOf first_of) {
    *count = reader->window != nullptr ? take_shown_packets(reader, out, capacity, records) : 0;
    if (*count != 0) {
        return RM_OK;
    }
    rm_packet first;
    const rm_result read = rm_read_packet_header(reader, &first, checked_stream, keep, keep_size);
    if (read != RM_OK) {
        return read;
    }
    first_of(out, first);
    *count = 1;
    if (reader->window != nullptr && capacity > 1) {
        *count += take_shown_packets(reader, out + 1, capacity - 1, records);
    }
    return RM_OK;
}

uint32_t stream_or_none(int32_t stream) { return stream >= 0 ? uint32_t(stream) : UINT32_MAX; }

}  // namespace

rm_result rm_read_packet_briefs(rm_reader* reader, rm_packet_brief* out, uint32_t capacity, uint32_t* count) {
    return take_batch(reader, out, capacity, count, Briefs(), -1, nullptr, 0, brief_of_record);
}

rm_result rm_read_packet_runs(rm_reader* reader, rm_packet_run* out, uint32_t capacity, uint32_t* count,
                              int32_t single_stream, rm_run_spans* spans) {
    const Runs runs = {stream_or_none(single_stream), out, spans};
    // A packet read the long way moves its stream's span as a joined one would.
    return take_batch(reader, out, capacity, count, runs, -1, nullptr, 0,
                      [spans](rm_packet_run* run, const rm_packet& first) {
                          within_span(spans, first.stream, first.timestamp);
                          run_of_record(run, first);
                      });
}

rm_result rm_read_packet_view_runs(rm_reader* reader, rm_packet_view_run* out, uint32_t capacity, uint32_t* count,
                                   int32_t single_stream, uint8_t* buffer, uint32_t size, rm_run_spans* spans) {
    if (size < RM_MAX_PAYLOAD_SIZE) {
        return RM_FAIL;
    }
    const ViewRuns runs = {stream_or_none(single_stream), buffer, out, spans};
    return take_batch(reader, out, capacity, count, runs, single_stream, buffer, size,
                      [reader, spans](rm_packet_view_run* run, const rm_packet& first) {
                          within_span(spans, first.stream, first.timestamp);
                          run_of_record(&run->run, first);
                          run->offset = reader->packet_start;
                          run->data = first.data;
                      });
}

rm_result rm_read_packet_views(rm_reader* reader, rm_packet_view* out, uint32_t capacity, uint32_t* count,
                               int32_t payload_stream, uint8_t* buffer, uint32_t size) {
    if (size < RM_MAX_PAYLOAD_SIZE) {
        return RM_FAIL;
    }
    const Views views = {stream_or_none(payload_stream), buffer};
    return take_batch(reader, out, capacity, count, views, payload_stream, buffer, size,
                      [reader](rm_packet_view* view, const rm_packet& first) {
                          brief_of_record(&view->brief, first);
                          view->offset = reader->packet_start;
                          view->data = first.data;
                      });
}

rm_result rm_index_add(rm_reader* reader, uint32_t stream, uint32_t timestamp, uint32_t offset, uint8_t flags) {
    if (reader == nullptr || reader->stream_states == nullptr || stream >= reader->stream_count) {
        return RM_FAIL;
    }
    if ((flags & RM_PACKET_KEYFRAME) == 0) {
        return RM_OK;
    }
    rm_stream_state* state = &reader->stream_states[stream];
    if (!index_takes(*state, timestamp)) {
        return RM_FAIL;
    }
    // The durations only bound the index; its storage grows with the
    // keyframes the file really holds.
    if (state->index_count == state->index_allocated) {
        const uint64_t doubled = state->index_allocated < 16 ? 32 : uint64_t(state->index_allocated) * 2;
        const uint32_t grown = doubled < state->index_capacity ? uint32_t(doubled) : state->index_capacity;
        rm_index_entry* entries = static_cast<rm_index_entry*>(rm_alloc_zeroed(reader, grown, sizeof(rm_index_entry)));
        if (entries == nullptr) {
            return RM_OUT_OF_MEMORY;
        }
        if (state->index_entries != nullptr) {
            std::memcpy(entries, state->index_entries, size_t(state->index_count) * sizeof(rm_index_entry));
            rm_release(reader, state->index_entries);
        }
        state->index_entries = entries;
        state->index_allocated = grown;
    }
    rm_index_entry* entry = &state->index_entries[state->index_count];
    entry->timestamp = timestamp;
    entry->offset = offset;
    state->last_entry_time = timestamp;
    state->index_count += 1;
    return RM_OK;
}
