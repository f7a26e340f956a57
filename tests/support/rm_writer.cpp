// The test file writer: RealMedia files built in memory, chunk by chunk and packet by packet.
#include "rm_writer.h"

#include <algorithm>
#include <stdexcept>

#include "rmparser/rm_reader.h"

namespace rmtest {

const char* const REAL_VIDEO_MIME = "video/x-pn-realvideo";
const char* const REAL_AUDIO_MIME = "audio/x-pn-realaudio";
const char* const REAL_EVENT_MIME = "application/x-pn-realevent";
const char* const FILEINFO_MIME = "logical-fileinfo";

namespace {

// Chunk ids and fixed sizes are the reader's own (rm_reader.h); writer_test
// checks the bytes they make against the format's field tables.
const size_t INDX_ENTRY_SIZE = 14;

// A default that cannot be written in its field is a mistake in the test, not
// a damaged file: damaged values are always given explicitly.
template <typename T>
T fitting(size_t value, const char* what) {
    if (value > static_cast<size_t>(T(~T(0)))) throw std::length_error(std::string("rmtest: ") + what);
    return static_cast<T>(value);
}

size_t mdpr_length(const MdprChunk& c) {
    return 46 + c.stream_name.size() + c.mime_type.size() + c.type_specific.size();
}

size_t cont_length(const ContChunk& c) {
    return 18 + c.title.size() + c.author.size() + c.copyright.size() + c.comment.size();
}

size_t payload_length(const Packet& p) { return p.payload_size ? *p.payload_size : p.payload.size(); }

size_t packet_header_length(const Packet& p) { return p.asm_rule ? RM_PACKET_HEADER_V1_SIZE : RM_PACKET_HEADER_SIZE; }

void put_chunk_head(Bytes& out, uint32_t id, uint32_t size, uint16_t version) {
    put_u32(out, id);
    put_u32(out, size);
    put_u16(out, version);
}

void put_cont_text(Bytes& out, const std::string& text, const std::optional<uint16_t>& length, const char* what) {
    put_u16(out, length ? *length : fitting<uint16_t>(text.size(), what));
    put_text(out, text);
}

}  // namespace

// ---------------------------------------------------------------- byte helpers

uint32_t fourcc(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
           uint32_t(uint8_t(s[3]));
}

void put_u32(Bytes& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void put_u16(Bytes& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void put_u8(Bytes& out, uint8_t v) { out.push_back(v); }

void put_text(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

uint32_t get_u32(const Bytes& in, size_t offset) {
    if (offset > in.size() || in.size() - offset < 4) return 0;
    return (uint32_t(in[offset]) << 24) | (uint32_t(in[offset + 1]) << 16) | (uint32_t(in[offset + 2]) << 8) |
           uint32_t(in[offset + 3]);
}

uint16_t get_u16(const Bytes& in, size_t offset) {
    if (offset > in.size() || in.size() - offset < 2) return 0;
    return uint16_t((in[offset] << 8) | in[offset + 1]);
}

uint8_t get_u8(const Bytes& in, size_t offset) { return offset < in.size() ? in[offset] : 0; }

void set_u32(Bytes& out, size_t offset, uint32_t v) {
    if (offset > out.size() || out.size() - offset < 4) throw std::out_of_range("rmtest: set_u32");
    out[offset] = uint8_t(v >> 24);
    out[offset + 1] = uint8_t(v >> 16);
    out[offset + 2] = uint8_t(v >> 8);
    out[offset + 3] = uint8_t(v);
}

void set_u16(Bytes& out, size_t offset, uint16_t v) {
    if (offset > out.size() || out.size() - offset < 2) throw std::out_of_range("rmtest: set_u16");
    out[offset] = uint8_t(v >> 8);
    out[offset + 1] = uint8_t(v);
}

// ---------------------------------------------------------------- logical streams

Bytes encode_name_value(const NameValue& nv) {
    Bytes out;
    const size_t written = 13 + nv.name.size() + nv.value.size();
    put_u32(out, nv.size ? *nv.size : fitting<uint32_t>(written, "name/value size"));
    put_u16(out, nv.object_version);
    put_u8(out, nv.name_length ? *nv.name_length : fitting<uint8_t>(nv.name.size(), "name/value name length"));
    put_text(out, nv.name);
    put_u32(out, nv.type);
    put_u16(out, nv.value_length ? *nv.value_length : fitting<uint16_t>(nv.value.size(), "name/value value length"));
    out.insert(out.end(), nv.value.begin(), nv.value.end());
    return out;
}

Bytes encode_logical_stream(const LogicalStream& ls) {
    Bytes tail;  // everything after the size field, so the size can be known first
    put_u16(tail, ls.object_version);
    put_u16(tail, ls.physical_count ? *ls.physical_count
                                    : fitting<uint16_t>(ls.physical_streams.size(), "physical stream count"));
    for (uint16_t number : ls.physical_streams) put_u16(tail, number);
    if (ls.data_offsets.empty()) {
        for (size_t k = 0; k < ls.physical_streams.size(); ++k) put_u32(tail, 0);
    } else {
        for (uint32_t offset : ls.data_offsets) put_u32(tail, offset);
    }
    put_u16(tail, ls.rule_count ? *ls.rule_count : fitting<uint16_t>(ls.rule_map.size(), "rule count"));
    for (uint16_t rule : ls.rule_map) put_u16(tail, rule);
    put_u16(tail, ls.property_count ? *ls.property_count : fitting<uint16_t>(ls.properties.size(), "property count"));
    for (const NameValue& nv : ls.properties) {
        Bytes encoded = encode_name_value(nv);
        tail.insert(tail.end(), encoded.begin(), encoded.end());
    }
    Bytes out;
    put_u32(out, ls.size ? *ls.size : fitting<uint32_t>(4 + tail.size(), "logical stream size"));
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

NameValue nv_int(const std::string& name, uint32_t value) {
    NameValue nv;
    nv.name = name;
    nv.type = 0;
    put_u32(nv.value, value);
    return nv;
}

NameValue nv_string(const std::string& name, const std::string& text) {
    NameValue nv;
    nv.name = name;
    nv.type = 2;
    put_text(nv.value, text);
    nv.value.push_back(0);
    return nv;
}

NameValue nv_buffer(const std::string& name, const Bytes& value) {
    NameValue nv;
    nv.name = name;
    nv.type = 1;
    nv.value = value;
    return nv;
}

// ---------------------------------------------------------------- the writer

RmWriter::Item RmWriter::make_item(Kind kind, size_t length) {
    Item item;
    item.kind = kind;
    item.length = length;
    return item;
}

RmWriter& RmWriter::add(Item item) {
    item.offset = end_;
    end_ += item.length;
    items_.push_back(std::move(item));
    return *this;
}

bool RmWriter::is_data(const Item& item) {
    if (item.kind == Kind::Data) return !item.data.id || *item.data.id == RM_ID_DATA;
    return item.kind == Kind::Chunk && item.chunk_id == RM_ID_DATA;
}

bool RmWriter::is_chunk(const Item& item) { return item.kind != Kind::Packet && item.kind != Kind::Raw; }

RmWriter& RmWriter::rmf(const RmfChunk& c) {
    Item item = make_item(Kind::Rmf, RM_FILE_HEADER_SIZE);
    item.rmf = c;
    return add(std::move(item));
}

RmWriter& RmWriter::prop(const PropChunk& c) {
    Item item = make_item(Kind::Prop, RM_PROPERTIES_SIZE);
    item.prop = c;
    return add(std::move(item));
}

RmWriter& RmWriter::mdpr(const MdprChunk& c) {
    Item item = make_item(Kind::Mdpr, mdpr_length(c));
    item.mdpr = c;
    return add(std::move(item));
}

RmWriter& RmWriter::cont(const ContChunk& c) {
    Item item = make_item(Kind::Cont, cont_length(c));
    item.cont = c;
    return add(std::move(item));
}

RmWriter& RmWriter::data(const DataChunk& c) {
    Item item = make_item(Kind::Data, RM_DATA_HEADER_SIZE);
    item.data = c;
    return add(std::move(item));
}

RmWriter& RmWriter::packet(const Packet& p) {
    Item item = make_item(Kind::Packet, packet_header_length(p) + payload_length(p));
    item.packet = p;
    return add(std::move(item));
}

RmWriter& RmWriter::indx(uint32_t entries, std::optional<uint32_t> size) {
    Item item = make_item(Kind::Indx, RM_INDX_HEADER_SIZE + size_t(entries) * INDX_ENTRY_SIZE);
    item.indx_entries = entries;
    item.chunk_size = size;
    return add(std::move(item));
}

Bytes encode_index_body(uint16_t stream_number, const std::vector<IndexEntry>& entries, uint32_t next_index_header,
                        std::optional<uint32_t> entry_count) {
    Bytes body;
    put_u32(body, entry_count ? *entry_count : fitting<uint32_t>(entries.size(), "INDX entry count"));
    put_u16(body, stream_number);
    put_u32(body, next_index_header);
    for (const IndexEntry& entry : entries) {
        put_u16(body, entry.version);
        put_u32(body, entry.timestamp);
        put_u32(body, entry.packet_offset);
        put_u32(body, entry.packet_number);
    }
    return body;
}

RmWriter& RmWriter::chunk(uint32_t id, const Bytes& body, std::optional<uint32_t> size, uint16_t object_version) {
    Item item = make_item(Kind::Chunk, 10 + body.size());
    item.chunk_id = id;
    item.chunk_version = object_version;
    item.chunk_size = size;
    item.body = body;
    return add(std::move(item));
}

RmWriter& RmWriter::raw(const Bytes& bytes) {
    Item item = make_item(Kind::Raw, bytes.size());
    item.body = bytes;
    return add(std::move(item));
}

size_t RmWriter::offset() const { return end_; }

Bytes RmWriter::bytes() const {
    // Pass 1: the facts the defaults need. Offsets were fixed as items were
    // added, since no default changes how many bytes an item takes.
    uint32_t first_data_offset = 0;
    for (const Item& item : items_) {
        if (is_data(item)) {
            first_data_offset = fitting<uint32_t>(item.offset, "DATA offset");
            break;
        }
    }
    size_t mdpr_count = 0;
    for (const Item& item : items_) mdpr_count += item.kind == Kind::Mdpr;

    // Pass 2: encode with every default resolved.
    Bytes out;
    out.reserve(end_);
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        switch (item.kind) {
        case Kind::Rmf: {
            const RmfChunk& c = item.rmf;
            uint32_t header_count = 0;
            if (c.header_count) {
                header_count = *c.header_count;
            } else {
                for (size_t j = i + 1; j < items_.size(); ++j) {
                    if (!is_chunk(items_[j])) continue;
                    ++header_count;
                    if (is_data(items_[j])) break;
                }
            }
            put_chunk_head(out, c.id ? *c.id : RM_ID_RMF, c.size ? *c.size : RM_FILE_HEADER_SIZE, c.object_version);
            put_u32(out, c.file_version);
            put_u32(out, header_count);
            break;
        }
        case Kind::Prop: {
            const PropChunk& c = item.prop;
            put_chunk_head(out, c.id ? *c.id : RM_ID_PROP, c.size ? *c.size : RM_PROPERTIES_SIZE, c.object_version);
            put_u32(out, c.max_bit_rate);
            put_u32(out, c.avg_bit_rate);
            put_u32(out, c.max_packet_size);
            put_u32(out, c.avg_packet_size);
            put_u32(out, c.packet_count);
            put_u32(out, c.duration);
            put_u32(out, c.preroll);
            put_u32(out, c.index_offset);
            put_u32(out, c.data_offset ? *c.data_offset : first_data_offset);
            put_u16(out, c.stream_count ? *c.stream_count : fitting<uint16_t>(mdpr_count, "stream count"));
            put_u16(out, c.flags);
            break;
        }
        case Kind::Mdpr: {
            const MdprChunk& c = item.mdpr;
            put_chunk_head(out, c.id ? *c.id : RM_ID_MDPR,
                           c.size ? *c.size : fitting<uint32_t>(item.length, "MDPR size"), c.object_version);
            put_u16(out, c.stream_number);
            put_u32(out, c.max_bit_rate);
            put_u32(out, c.avg_bit_rate);
            put_u32(out, c.max_packet_size);
            put_u32(out, c.avg_packet_size);
            put_u32(out, c.start_time);
            put_u32(out, c.preroll);
            put_u32(out, c.duration);
            put_u8(out, c.stream_name_length ? *c.stream_name_length
                                             : fitting<uint8_t>(c.stream_name.size(), "stream name length"));
            put_text(out, c.stream_name);
            put_u8(out,
                   c.mime_type_length ? *c.mime_type_length : fitting<uint8_t>(c.mime_type.size(), "MIME type length"));
            put_text(out, c.mime_type);
            put_u32(out, c.type_specific_length ? *c.type_specific_length
                                                : fitting<uint32_t>(c.type_specific.size(), "type-specific length"));
            out.insert(out.end(), c.type_specific.begin(), c.type_specific.end());
            break;
        }
        case Kind::Cont: {
            const ContChunk& c = item.cont;
            put_chunk_head(out, c.id ? *c.id : RM_ID_CONT,
                           c.size ? *c.size : fitting<uint32_t>(item.length, "CONT size"), c.object_version);
            put_cont_text(out, c.title, c.title_length, "title length");
            put_cont_text(out, c.author, c.author_length, "author length");
            put_cont_text(out, c.copyright, c.copyright_length, "copyright length");
            put_cont_text(out, c.comment, c.comment_length, "comment length");
            break;
        }
        case Kind::Data: {
            const DataChunk& c = item.data;
            uint32_t packets = 0;
            size_t packet_bytes = 0;
            for (size_t j = i + 1; j < items_.size() && !is_data(items_[j]); ++j) {
                if (items_[j].kind != Kind::Packet) continue;
                ++packets;
                packet_bytes += items_[j].length;
            }
            put_chunk_head(out, c.id ? *c.id : RM_ID_DATA,
                           c.size ? *c.size : fitting<uint32_t>(RM_DATA_HEADER_SIZE + packet_bytes, "DATA size"),
                           c.object_version);
            uint32_t next = c.next_data_header;
            if (c.link_next) {
                next = 0;
                for (size_t j = i + 1; j < items_.size(); ++j) {
                    if (is_data(items_[j])) {
                        next = fitting<uint32_t>(items_[j].offset, "next DATA offset");
                        break;
                    }
                }
            }
            put_u32(out, c.packet_count ? *c.packet_count : packets);
            put_u32(out, next);
            break;
        }
        case Kind::Packet: {
            const Packet& p = item.packet;
            const size_t n = payload_length(p);
            put_u16(out, p.version);
            put_u16(out, p.length ? *p.length : fitting<uint16_t>(packet_header_length(p) + n, "packet length"));
            put_u16(out, p.stream_number);
            put_u32(out, p.timestamp);
            if (p.asm_rule) {
                put_u16(out, *p.asm_rule);
            } else {
                put_u8(out, p.group);
            }
            put_u8(out, p.flags);
            for (size_t k = 0; k < n; ++k) out.push_back(k < p.payload.size() ? p.payload[k] : uint8_t(k));
            break;
        }
        case Kind::Indx: {
            put_chunk_head(out, RM_ID_INDX,
                           item.chunk_size ? *item.chunk_size : fitting<uint32_t>(item.length, "INDX size"), 0);
            put_u32(out, item.indx_entries);
            put_u16(out, 0);  // stream number
            put_u32(out, 0);  // next index header
            for (uint32_t k = 0; k < item.indx_entries; ++k) {
                put_u16(out, 0);         // entry version
                put_u32(out, k * 1000);  // timestamp
                put_u32(out, 0);         // packet offset
                put_u32(out, k);         // packet number
            }
            break;
        }
        case Kind::Chunk:
            put_chunk_head(out, item.chunk_id,
                           item.chunk_size ? *item.chunk_size : fitting<uint32_t>(item.length, "chunk size"),
                           item.chunk_version);
            out.insert(out.end(), item.body.begin(), item.body.end());
            break;
        case Kind::Raw:
            out.insert(out.end(), item.body.begin(), item.body.end());
            break;
        }
        if (out.size() != item.offset + item.length) throw std::logic_error("rmtest: layout mismatch");
    }
    return out;
}

// ---------------------------------------------------------------- ready-made pieces

MdprChunk video_mdpr(uint16_t stream_number, uint32_t avg_bit_rate, uint32_t max_bit_rate) {
    MdprChunk c;
    c.stream_number = stream_number;
    c.avg_bit_rate = avg_bit_rate;
    c.max_bit_rate = max_bit_rate;
    c.stream_name = "Video Stream";
    c.mime_type = REAL_VIDEO_MIME;
    c.type_specific = {0x00, 0x00, 0x00, 0x22, 'V', 'I', 'D', 'O', 'R', 'V', '4', '0'};
    return c;
}

MdprChunk audio_mdpr(uint16_t stream_number, uint32_t avg_bit_rate, uint32_t max_bit_rate) {
    MdprChunk c;
    c.stream_number = stream_number;
    c.avg_bit_rate = avg_bit_rate;
    c.max_bit_rate = max_bit_rate;
    c.stream_name = "Audio Stream";
    c.mime_type = REAL_AUDIO_MIME;
    c.type_specific = {'.', 'r', 'a', 0xFD, 0x00, 0x05};
    return c;
}

MdprChunk logical_mdpr(uint16_t stream_number, const LogicalStream& header, const std::string& mime_type) {
    MdprChunk c;
    c.stream_number = stream_number;
    c.mime_type = mime_type;
    c.type_specific = encode_logical_stream(header);
    return c;
}

Packet make_packet(uint16_t stream_number, uint32_t timestamp, uint32_t payload_size, bool keyframe) {
    Packet p;
    p.stream_number = stream_number;
    p.timestamp = timestamp;
    p.flags = keyframe ? 0x02 : 0x00;
    p.payload_size = payload_size;
    return p;
}

Packet make_v1_packet(uint16_t stream_number, uint32_t timestamp, uint32_t payload_size, uint16_t rule, bool keyframe) {
    Packet p = make_packet(stream_number, timestamp, payload_size, keyframe);
    p.version = 1;
    p.asm_rule = rule;
    return p;
}

RmWriter simple_writer(const std::vector<MdprChunk>& streams, const std::vector<Packet>& packets,
                       uint32_t file_version) {
    RmWriter w;
    RmfChunk rmf;
    rmf.file_version = file_version;
    w.rmf(rmf);
    PropChunk prop;
    prop.packet_count = uint32_t(packets.size());
    w.prop(prop);
    for (const MdprChunk& stream : streams) w.mdpr(stream);
    w.data();
    for (const Packet& p : packets) w.packet(p);
    return w;
}

Bytes simple_file(const std::vector<MdprChunk>& streams, const std::vector<Packet>& packets, uint32_t file_version) {
    return simple_writer(streams, packets, file_version).bytes();
}

Bytes video_file(const std::vector<Packet>& packets) { return simple_file({video_mdpr(0)}, packets); }

// ---------------------------------------------------------------- multi-rate files

namespace {

const char* const LOGICAL_VIDEO_MIME = "logical-video/x-pn-realvideo";
const char* const LOGICAL_AUDIO_MIME = "logical-audio/x-pn-realaudio";

// One rate's condition: from its own bandwidth up to the next rate's.
std::string rate_condition(const std::vector<uint32_t>& rates, size_t i) {
    std::string condition = "#($Bandwidth >= " + std::to_string(rates[i]) + ")";
    if (i + 1 < rates.size()) condition += " && ($Bandwidth < " + std::to_string(rates[i + 1]) + ")";
    return condition;
}

// The rule book and rule map of one logical stream; `thinning` puts the
// video's keyframes-only rule for the slowest connections first. Rule
// numbers of rate i: its keyframe rule, then its dependent rule.
struct RuleBook {
    std::string text;
    std::vector<uint16_t> rule_map;
    std::vector<uint16_t> keyframe_rule;  // per rate
};

RuleBook rule_book(const std::vector<uint32_t>& rates, bool thinning) {
    RuleBook book;
    if (thinning && !rates.empty()) {
        book.text += "#($Bandwidth < " + std::to_string(rates[0]) + "),TimestampDelivery=T,DropByN=T,priority=9;";
        book.rule_map.push_back(0);
    }
    for (size_t i = 0; i < rates.size(); ++i) {
        const uint16_t keyframe_rule = uint16_t(book.rule_map.size());
        book.keyframe_rule.push_back(keyframe_rule);
        const std::string condition = rate_condition(rates, i);
        book.text +=
            condition + ",AverageBandwidth=" + std::to_string(rates[i]) + ",Priority=" + (thinning ? "9" : "5") + ";";
        book.text += condition + ",AverageBandwidth=0,Priority=5,OnDepend=\"" + std::to_string(keyframe_rule) +
                     "\",OffDepend=\"" + std::to_string(keyframe_rule) + "\";";
        book.rule_map.push_back(uint16_t(i));
        book.rule_map.push_back(uint16_t(i));
    }
    return book;
}

// Payload bytes that tell packets apart: the stream number, the packet's
// number, then a ramp.
Bytes payload_of(uint16_t stream_number, uint32_t k, uint32_t size) {
    Bytes payload(size);
    for (uint32_t j = 0; j < size; ++j) payload[j] = uint8_t(j * 7 + stream_number);
    if (size > 0) payload[0] = uint8_t(stream_number);
    if (size > 1) payload[1] = uint8_t(k);
    return payload;
}

}  // namespace

MultiRate multi_rate_writer(const MultiRatePlan& plan) {
    MultiRate m;
    const uint16_t video_count = fitting<uint16_t>(plan.video_rates.size(), "video rates");
    const uint16_t audio_count = fitting<uint16_t>(plan.audio_rates.size(), "audio rates");
    const RuleBook video_book = rule_book(plan.video_rates, true);
    const RuleBook audio_book = rule_book(plan.audio_rates, false);
    m.video_rule_book = video_book.text;
    m.audio_rule_book = audio_book.text;

    // The physical streams and their packets, in stream-number order.
    uint16_t next_number = 0;
    for (size_t i = 0; i < size_t(video_count) + audio_count; ++i) {
        const bool video = i < video_count;
        const size_t r = video ? i : i - video_count;
        const std::vector<uint32_t>& rates = video ? plan.video_rates : plan.audio_rates;
        const RuleBook& book = video ? video_book : audio_book;
        WrittenStream s;
        s.stream_number = next_number++;
        s.mime_type = video ? REAL_VIDEO_MIME : REAL_AUDIO_MIME;
        s.logical_mime_type = video ? LOGICAL_VIDEO_MIME : LOGICAL_AUDIO_MIME;
        s.rate = uint16_t(r + 1);
        s.rate_count = video ? video_count : audio_count;
        s.rule_count = uint16_t(std::count(book.rule_map.begin(), book.rule_map.end(), uint16_t(r)));
        s.average_bandwidth = rates[r];
        for (uint32_t k = 0; k < plan.packets; ++k) {
            WrittenPacket p;
            // Video frames of every rate at one cadence; audio at its own.
            p.timestamp = video ? 100 * k : 93 * k;
            p.keyframe = video ? k % 4 == 0 : k % 2 == 0;
            p.rule = uint16_t(book.keyframe_rule[r] + (p.keyframe ? 0 : 1));
            // About 100 ms of the rate, varied from packet to packet.
            p.payload = payload_of(s.stream_number, k, rates[r] / 80 + (k * 37) % 60);
            s.max_packet_size = std::max(s.max_packet_size, uint32_t(p.payload.size()));
            s.packets.push_back(p);
        }
        m.streams.push_back(s);
    }
    if (plan.compatible_stream) {
        WrittenStream s;
        s.stream_number = next_number++;
        s.mime_type = REAL_VIDEO_MIME;
        for (uint32_t k = 0; k < plan.packets; ++k) {
            WrittenPacket p;
            p.version = 0;
            p.timestamp = 100 * k;
            p.keyframe = k % 4 == 0;
            p.payload = payload_of(s.stream_number, k, 200 + (k * 29) % 50);
            s.max_packet_size = std::max(s.max_packet_size, uint32_t(p.payload.size()));
            s.packets.push_back(p);
        }
        m.streams.push_back(s);
    }
    const uint16_t logical_video = video_count != 0 ? next_number++ : 0;
    const uint16_t logical_audio = audio_count != 0 ? next_number++ : 0;
    const uint16_t fileinfo = next_number++;
    for (WrittenStream& s : m.streams) {
        if (!s.logical_mime_type.empty()) {
            s.logical_stream_number = s.logical_mime_type == LOGICAL_VIDEO_MIME ? logical_video : logical_audio;
        }
    }
    // The compatible stream's chunk first: an ordinary player starts there.
    std::vector<size_t> chunk_order;
    if (plan.compatible_stream) chunk_order.push_back(m.streams.size() - 1);
    for (size_t i = 0; i + (plan.compatible_stream ? 1 : 0) < m.streams.size(); ++i) chunk_order.push_back(i);

    // Laid out twice: the logical headers name the DATA offsets, which only
    // the first layout tells (no offset depends on their values).
    for (int pass = 0; pass < 2; ++pass) {
        RmWriter w;
        uint32_t max_rate = 0, packets = 0, duration = 0;
        for (const WrittenStream& s : m.streams) {
            max_rate += s.average_bandwidth;
            packets += uint32_t(s.packets.size());
            if (!s.packets.empty()) duration = std::max(duration, s.packets.back().timestamp + 100);
        }
        PropChunk prop;
        prop.max_bit_rate = prop.avg_bit_rate = max_rate;
        prop.packet_count = packets;
        prop.duration = duration;
        prop.preroll = 1000;
        w.rmf().prop(prop);
        for (const WrittenStream& s : m.streams) {
            MdprChunk c = s.mime_type == REAL_VIDEO_MIME
                              ? video_mdpr(s.stream_number, s.average_bandwidth, s.average_bandwidth)
                              : audio_mdpr(s.stream_number, s.average_bandwidth, s.average_bandwidth);
            c.max_packet_size = s.max_packet_size;
            c.duration = duration;
            c.preroll = 1000;
            w.mdpr(c);
        }
        for (int audio = 0; audio < 2; ++audio) {
            if ((audio ? audio_count : video_count) == 0) continue;
            LogicalStream ls;
            for (const WrittenStream& s : m.streams) {
                if (s.logical_mime_type != (audio ? LOGICAL_AUDIO_MIME : LOGICAL_VIDEO_MIME)) continue;
                ls.physical_streams.push_back(s.stream_number);
                ls.data_offsets.push_back(fitting<uint32_t>(s.data_offset, "DATA offset"));
            }
            const RuleBook& book = audio ? audio_book : video_book;
            ls.rule_map = book.rule_map;
            ls.properties = {nv_string("ASMRuleBook", book.text)};
            MdprChunk c = logical_mdpr(audio ? logical_audio : logical_video, ls,
                                       audio ? LOGICAL_AUDIO_MIME : LOGICAL_VIDEO_MIME);
            c.duration = duration;
            w.mdpr(c);
        }
        LogicalStream info;
        info.properties = {nv_string("Audiences", "56K Modem;256K DSL/Cable;"), nv_int("Indexable", 1),
                           nv_string("Generated By", "rmtest multi_rate_writer")};
        w.mdpr(logical_mdpr(fileinfo, info, FILEINFO_MIME));

        m.data_offsets.clear();
        for (size_t c = 0; c < chunk_order.size(); ++c) {
            WrittenStream& s = m.streams[chunk_order[c]];
            const bool last = c + 1 == chunk_order.size();
            const bool chained =
                !last && (plan.layout == DataLayout::CHAINED || (plan.layout == DataLayout::MIXED && c % 2 == 0));
            s.data_offset = w.offset();
            m.data_offsets.push_back(s.data_offset);
            DataChunk head;
            head.link_next = chained;
            w.data(head);
            for (WrittenPacket& p : s.packets) {
                p.offset = w.offset();
                Packet packet = p.version == 1 ? make_v1_packet(s.stream_number, p.timestamp, 0, p.rule, p.keyframe)
                                               : make_packet(s.stream_number, p.timestamp, 0, p.keyframe);
                packet.payload = p.payload;
                packet.payload_size.reset();
                w.packet(packet);
            }
            if (chained && plan.layout == DataLayout::MIXED) w.indx(1);
        }
        w.indx(2);
        m.writer = w;
    }
    return m;
}

}  // namespace rmtest
