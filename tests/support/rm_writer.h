// The test file writer: RealMedia files built in memory, chunk by chunk and packet by packet.

// Every field can be set, sizes, counts and lengths included, so that
// damaged files are easy to describe; whatever is left unset is computed when
// bytes() is called so that the file is well formed.
//
// Rule for overrides: a size, count or length override changes only the value
// written in that field, never the bytes that follow it. To cut a file, build
// it whole and resize the vector, or append raw() bytes.
//
// All numbers are written big-endian.
#ifndef KOV_TESTS_SUPPORT_RM_WRITER_H
#define KOV_TESTS_SUPPORT_RM_WRITER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rmtest {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- header chunks
// RmfChunk, DataChunk and Packet take their fields positionally too, e.g.
// rmf({0, 1}) or rmf({0, 0, {}, 17u}): constructors, so a partial list does
// not trip -Wmissing-field-initializers. Set the other structs by member.
struct RmfChunk {  // ".RMF", 18 bytes
    RmfChunk(uint16_t object_version_ = 0, uint32_t file_version_ = 0, std::optional<uint32_t> header_count_ = {},
             std::optional<uint32_t> size_ = {}, std::optional<uint32_t> id_ = {})
        : object_version(object_version_),
          file_version(file_version_),
          header_count(header_count_),
          size(size_),
          id(id_) {}
    uint16_t object_version = 0;
    uint32_t file_version = 0;
    std::optional<uint32_t> header_count;  // default: chunks after it up to and including the first DATA
    std::optional<uint32_t> size;          // default 18
    std::optional<uint32_t> id;            // default ".RMF"
};

struct PropChunk {  // PROP, 50 bytes
    uint16_t object_version = 0;
    uint32_t max_bit_rate = 0, avg_bit_rate = 0, max_packet_size = 0, avg_packet_size = 0, packet_count = 0,
             duration = 0, preroll = 0, index_offset = 0;
    std::optional<uint32_t> data_offset;   // default: file offset of the first DATA chunk (0 if none)
    std::optional<uint16_t> stream_count;  // default: number of MDPR chunks in the file
    uint16_t flags = 0;
    std::optional<uint32_t> size;  // default 50
    std::optional<uint32_t> id;    // default PROP
};

struct MdprChunk {  // MDPR, 46 + name + MIME type + type-specific bytes
    uint16_t object_version = 0;
    uint16_t stream_number = 0;
    uint32_t max_bit_rate = 0, avg_bit_rate = 0, max_packet_size = 0, avg_packet_size = 0, start_time = 0, preroll = 0,
             duration = 0;
    std::string stream_name;  // written without terminator
    std::string mime_type;    // written without terminator
    Bytes type_specific;
    std::optional<uint8_t> stream_name_length;     // default: actual length (must fit 8 bits)
    std::optional<uint8_t> mime_type_length;       // default: actual length (must fit 8 bits)
    std::optional<uint32_t> type_specific_length;  // default: actual length
    std::optional<uint32_t> size;                  // default: bytes written
    std::optional<uint32_t> id;                    // default MDPR
};

struct ContChunk {  // CONT, 18 + the four texts
    uint16_t object_version = 0;
    std::string title, author, copyright, comment;  // written without terminator
    std::optional<uint16_t> title_length, author_length, copyright_length, comment_length;
    std::optional<uint32_t> size;  // default: bytes written
    std::optional<uint32_t> id;    // default CONT
};

struct DataChunk {  // DATA head, 18 bytes; the packet() calls after it belong to it
    DataChunk(uint16_t object_version_ = 0, std::optional<uint32_t> packet_count_ = {}, uint32_t next_data_header_ = 0,
              std::optional<uint32_t> size_ = {}, std::optional<uint32_t> id_ = {})
        : object_version(object_version_),
          packet_count(packet_count_),
          next_data_header(next_data_header_),
          size(size_),
          id(id_) {}
    uint16_t object_version = 0;
    std::optional<uint32_t> packet_count;  // default: packets added after it, up to the next DATA
    uint32_t next_data_header = 0;
    std::optional<uint32_t> size;  // default: 18 + all its packets' bytes
    std::optional<uint32_t> id;    // default DATA
    // When set, next_data_header is ignored and the offset of the next DATA
    // chunk written after this one (0 if none) is written instead.
    bool link_next = false;
};

struct Packet {  // 12-byte header (13 with asm_rule) + payload
    Packet(uint16_t version_ = 0, uint16_t stream_number_ = 0, uint32_t timestamp_ = 0, uint8_t group_ = 0,
           uint8_t flags_ = 0, Bytes payload_ = {}, std::optional<uint32_t> payload_size_ = {},
           std::optional<uint16_t> length_ = {})
        : version(version_),
          stream_number(stream_number_),
          timestamp(timestamp_),
          group(group_),
          flags(flags_),
          payload(std::move(payload_)),
          payload_size(payload_size_),
          length(length_) {}
    uint16_t version = 0;
    uint16_t stream_number = 0;
    uint32_t timestamp = 0;
    uint8_t group = 0;
    uint8_t flags = 0;  // 0x02 = keyframe
    Bytes payload;
    // When set, exactly this many payload bytes are written: `payload` first,
    // then filler (byte k of the payload is uint8_t(k)), or `payload` cut.
    std::optional<uint32_t> payload_size;
    std::optional<uint16_t> length;  // default header + payload bytes (must fit 16 bits)
    // When set, the header is laid out as version 1 lays it out, whatever
    // `version` says: this 16-bit rule number where the group byte is, then
    // `flags` as its ASM flags byte, 13 bytes in all; `group` is unused.
    std::optional<uint16_t> asm_rule;
};

// ---------------------------------------------------------------- logical streams
// A logical stream header or a logical-fileinfo header: goes into the
// type_specific bytes of an MDPR.
struct NameValue {
    uint16_t object_version = 0;
    std::string name;   // written without terminator
    uint32_t type = 0;  // 0 int, 1 buffer, 2 string
    Bytes value;
    std::optional<uint32_t> size;          // default: bytes written (13 + name + value)
    std::optional<uint8_t> name_length;    // default: actual length
    std::optional<uint16_t> value_length;  // default: actual length
};

struct LogicalStream {
    uint16_t object_version = 0;
    std::vector<uint16_t> physical_streams;
    std::vector<uint32_t> data_offsets;  // empty: one zero per physical stream; otherwise written as given
    std::vector<uint16_t> rule_map;
    std::vector<NameValue> properties;
    std::optional<uint32_t> size;                                        // default: bytes written
    std::optional<uint16_t> physical_count, rule_count, property_count;  // default: vector sizes
};

Bytes encode_logical_stream(const LogicalStream&);
Bytes encode_name_value(const NameValue&);

// Name/value helpers: an int property (4-byte big-endian value), a string
// property (text plus a NUL, as files carry them), a buffer property.
NameValue nv_int(const std::string& name, uint32_t value);
NameValue nv_string(const std::string& name, const std::string& text);
NameValue nv_buffer(const std::string& name, const Bytes& value);

// ---------------------------------------------------------------- index chunks
// An INDX chunk's body (what follows its 10-byte chunk head), for chunk():
// entry count (default: the entries given), stream number, next index
// header, then 14 bytes per entry.
struct IndexEntry {
    uint32_t timestamp = 0;
    uint32_t packet_offset = 0;  // of the packet's header
    uint32_t packet_number = 0;
    uint16_t version = 0;
};

Bytes encode_index_body(uint16_t stream_number, const std::vector<IndexEntry>& entries, uint32_t next_index_header = 0,
                        std::optional<uint32_t> entry_count = {});

// ---------------------------------------------------------------- the writer
class RmWriter {
public:
    RmWriter& rmf(const RmfChunk& c = {});
    RmWriter& prop(const PropChunk& c = {});
    RmWriter& mdpr(const MdprChunk& c);
    RmWriter& cont(const ContChunk& c);
    RmWriter& data(const DataChunk& c = {});  // DATA head; following packet() calls belong to it
    RmWriter& packet(const Packet& p);
    // An INDX chunk: 20-byte head (id, size, version 0, entry count, stream
    // number 0, next index header 0) and `entries` 14-byte entries.
    RmWriter& indx(uint32_t entries = 0, std::optional<uint32_t> size = {});
    // Any chunk: id, size (default 10 + body), object version, then the body.
    // A chunk() whose id is DATA counts as a DATA chunk for the defaults.
    RmWriter& chunk(uint32_t id, const Bytes& body, std::optional<uint32_t> size = {}, uint16_t object_version = 0);
    RmWriter& raw(const Bytes& bytes);  // bytes as they are, e.g. garbage

    Bytes bytes() const;  // the file, with every default resolved
    // File offset where the next appended item would start (the bytes written
    // never depend on defaults, so this is exact at any time).
    size_t offset() const;

private:
    enum class Kind { Rmf, Prop, Mdpr, Cont, Data, Packet, Indx, Chunk, Raw };
    struct Item {
        Kind kind = Kind::Raw;
        size_t offset = 0;  // where it starts in the file
        size_t length = 0;  // bytes it occupies
        RmfChunk rmf;
        PropChunk prop;
        MdprChunk mdpr;
        ContChunk cont;
        DataChunk data;
        Packet packet;
        uint32_t chunk_id = 0;
        uint16_t chunk_version = 0;
        std::optional<uint32_t> chunk_size;
        uint32_t indx_entries = 0;
        Bytes body;  // chunk body, or raw bytes
    };
    static Item make_item(Kind kind, size_t length);
    RmWriter& add(Item item);
    static bool is_data(const Item& item);
    static bool is_chunk(const Item& item);

    std::vector<Item> items_;
    size_t end_ = 0;
};

// ---------------------------------------------------------------- ready-made pieces
extern const char* const REAL_VIDEO_MIME;  // "video/x-pn-realvideo"
extern const char* const REAL_AUDIO_MIME;  // "audio/x-pn-realaudio"
extern const char* const REAL_EVENT_MIME;  // "application/x-pn-realevent"
extern const char* const FILEINFO_MIME;    // "logical-fileinfo"

// MDPR of a RealVideo / RealAudio stream with the given file stream number,
// a stream name and a few bytes of type-specific data.
MdprChunk video_mdpr(uint16_t stream_number = 0, uint32_t avg_bit_rate = 0, uint32_t max_bit_rate = 0);
MdprChunk audio_mdpr(uint16_t stream_number = 1, uint32_t avg_bit_rate = 0, uint32_t max_bit_rate = 0);
// MDPR whose type-specific data is the given logical header; the MIME type
// defaults to "logical-fileinfo" (pass e.g. "logical-video/x-pn-realvideo").
MdprChunk logical_mdpr(uint16_t stream_number, const LogicalStream& header,
                       const std::string& mime_type = FILEINFO_MIME);

// A packet of `payload_size` filler bytes.
Packet make_packet(uint16_t stream_number, uint32_t timestamp, uint32_t payload_size, bool keyframe = false);
// The same with a version 1 header carrying `rule`; a keyframe's ASM flags
// are 0x02, as a version 0 keyframe's flags are.
Packet make_v1_packet(uint16_t stream_number, uint32_t timestamp, uint32_t payload_size, uint16_t rule,
                      bool keyframe = false);

// The common file: ".RMF" (given file version), PROP, one MDPR per entry,
// DATA with the packets. The writer is returned so a test can append more
// (an INDX, garbage) before calling bytes().
RmWriter simple_writer(const std::vector<MdprChunk>& streams, const std::vector<Packet>& packets,
                       uint32_t file_version = 0);
Bytes simple_file(const std::vector<MdprChunk>& streams, const std::vector<Packet>& packets, uint32_t file_version = 0);
// One RealVideo stream at number 0 holding the packets.
Bytes video_file(const std::vector<Packet>& packets);

// ---------------------------------------------------------------- multi-rate files
// How the DATA chunks of a multi-rate file follow one another: each naming
// the next, back to back naming none, or the two in turn (a chained pair
// with an index between them, then one back to back, ...).
enum class DataLayout { CHAINED, BACK_TO_BACK, MIXED };

struct MultiRatePlan {
    std::vector<uint32_t> video_rates = {34000, 80000, 150000};  // bits per second, ascending: one stream each
    std::vector<uint32_t> audio_rates = {8000, 20000};
    uint32_t packets = 10;  // per physical stream
    DataLayout layout = DataLayout::CHAINED;
    // A version 0 video stream that no logical stream claims, what an
    // ordinary player reads; its DATA chunk comes first.
    bool compatible_stream = false;
};

struct WrittenPacket {
    size_t offset = 0;  // of its header
    uint16_t version = 1;
    uint32_t timestamp = 0;
    uint16_t rule = 0;  // version 1 only
    bool keyframe = false;
    Bytes payload;
};

struct WrittenStream {
    uint16_t stream_number = 0;
    std::string mime_type;
    std::string logical_mime_type;  // "" when no logical stream claims it
    uint16_t logical_stream_number = 0;
    uint16_t rate = 0, rate_count = 0;  // its place (from 1) among its logical stream's physical streams
    uint16_t rule_count = 0;            // rules of the rule map that name it
    uint32_t average_bandwidth = 0;     // its rules' AverageBandwidth: the keyframe rule's
    uint32_t max_packet_size = 0;       // as its MDPR declares it: its largest payload
    size_t data_offset = 0;             // its DATA chunk
    std::vector<WrittenPacket> packets;
};

struct MultiRate {
    RmWriter writer;                     // to append more before bytes()
    std::vector<WrittenStream> streams;  // the physical ones, in stream-number order
    std::vector<size_t> data_offsets;    // every DATA chunk, in file order
    std::string video_rule_book, audio_rule_book;
};

// A multi-rate file as the usual encoder writes one: ".RMF", PROP, one MDPR
// per rate (video then audio, numbered from 0; the compatible stream after
// them), a logical-video and a logical-audio MDPR naming their rates, the
// DATA offsets and a rule book (video: a thinning rule, then per rate a
// keyframe rule with its AverageBandwidth and a dependent rule naming 0;
// audio: the same pair per rate), a logical-fileinfo MDPR; then each
// physical stream's packets (version 1, with the rule numbers) in a DATA
// chunk of its own, in stream-number order, and an index.
MultiRate multi_rate_writer(const MultiRatePlan& plan = {});

// ---------------------------------------------------------------- byte helpers
uint32_t fourcc(const char (&s)[5]);
void put_u32(Bytes&, uint32_t);
void put_u16(Bytes&, uint16_t);
void put_u8(Bytes&, uint8_t);
void put_text(Bytes&, const std::string&);  // without terminator
// Big-endian reads for checking bytes in tests; offsets past the end give 0.
uint32_t get_u32(const Bytes&, size_t offset);
uint16_t get_u16(const Bytes&, size_t offset);
uint8_t get_u8(const Bytes&, size_t offset);
// Overwrite in place (for a test that damages a built file); grows nothing.
void set_u32(Bytes&, size_t offset, uint32_t);
void set_u16(Bytes&, size_t offset, uint16_t);

}  // namespace rmtest

#endif
