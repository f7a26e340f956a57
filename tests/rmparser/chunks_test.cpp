// Tests of the header chunks: the chunk reader, the decoders whole and cut short, the media table, teardown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

namespace {

using rmtest::Bytes;
using rmtest::ContChunk;
using rmtest::fourcc;
using rmtest::MdprChunk;
using rmtest::PropChunk;
using rmtest::RmfChunk;
using rmtest::RmWriter;

struct Chunks : rmtest::ReaderTest {
    // Puts `bytes` in the read buffer as if the chunk reader had read them,
    // in a block of exactly that size so that any overrun shows.
    void hold(const Bytes& bytes) {
        rm_drop_read_buffer(reader);
        if (bytes.empty()) {
            return;
        }
        reader->buffer = static_cast<uint8_t*>(rm_alloc(reader, uint32_t(bytes.size())));
        ASSERT_NE(nullptr, reader->buffer);
        std::memcpy(reader->buffer, bytes.data(), bytes.size());
        reader->buffer_size = uint32_t(bytes.size());
        reader->buffer_held = uint32_t(bytes.size());
    }

    Bytes held() const { return Bytes(reader->buffer, reader->buffer + reader->buffer_held); }
};

// ---------------------------------------------------------------- chunk reader

TEST_F(Chunks, NullArguments) {
    uint32_t id = 0;
    EXPECT_EQ(RM_NULL_ARGUMENT, rm_read_chunk(nullptr, &id));
    EXPECT_EQ(RM_NULL_ARGUMENT, rm_read_chunk(reader, nullptr));
    EXPECT_EQ(0u, log.count());
}

TEST_F(Chunks, ShortHeaderIsReported) {
    for (size_t length : {0, 1, 9}) {
        attach(Bytes(length, 'x'));
        uint32_t id = 7;
        log.clear();
        EXPECT_EQ(RM_READ_FAILED, rm_read_chunk(reader, &id)) << length;
        EXPECT_EQ(7u, id);
        ASSERT_EQ(1u, log.count());
        EXPECT_EQ(RM_READ_FAILED, log.last_code());
        EXPECT_EQ("Could not read chunk header.", log.last_message());
    }
}

TEST_F(Chunks, WholeChunksOfEveryKindAreReadInTurn) {
    const Bytes body = {1, 2, 3, 4, 5};
    RmWriter writer;
    writer.rmf().prop().mdpr(rmtest::video_mdpr()).chunk(fourcc("ABCD"), body).cont({}).chunk(fourcc("EMPT"), {});
    const Bytes file = writer.bytes();
    attach(file);

    const uint32_t expected[] = {RM_ID_RMF, RM_ID_PROP, RM_ID_MDPR, fourcc("ABCD"), RM_ID_CONT, fourcc("EMPT")};
    uint32_t offset = 0;
    for (uint32_t want : expected) {
        uint32_t id = 0;
        ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
        EXPECT_EQ(want, id);
        const uint32_t size = rmtest::get_u32(file, offset + 4);
        EXPECT_EQ(size, reader->buffer_held);
        EXPECT_EQ(Bytes(file.begin() + offset, file.begin() + offset + size), held());
        offset += size;
        EXPECT_EQ(offset, reader->position);
    }
    EXPECT_EQ(0u, log.count());
    uint32_t id = 0;
    EXPECT_EQ(RM_READ_FAILED, rm_read_chunk(reader, &id)) << "end of file";
}

TEST_F(Chunks, DataAndIndexContributeOnlyTheirHeads) {
    RmWriter writer;
    writer.data().packet(rmtest::make_packet(0, 0, 40)).indx(3).chunk(fourcc("NEXT"), {9});
    const Bytes file = writer.bytes();
    attach(file);

    uint32_t id = 0;
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    EXPECT_EQ(RM_ID_DATA, id);
    EXPECT_EQ(18u, reader->buffer_held);
    EXPECT_EQ(18u, reader->position) << "at the first packet";
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), held());

    rm_seek(reader, 18 + 52, RM_SEEK_SET);  // past the packet
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    EXPECT_EQ(RM_ID_INDX, id);
    EXPECT_EQ(20u, reader->buffer_held);
    EXPECT_EQ(18u + 52 + 20, reader->position) << "inside the index";
}

TEST_F(Chunks, ImpossibleSizesAreRefusedBeforeAnyAllocationOrRead) {
    struct Case {
        uint32_t size;
        const char* why;
    } cases[] = {
        {0, "cannot hold its header"},
        {9, "cannot hold its header"},
        {RM_MAX_HEADER_CHUNK_SIZE + 1, "beyond any header chunk"},
        {0xFFFFFFFFu, "4 GiB"},
    };
    for (const Case& c : cases) {
        Bytes file = RmWriter().chunk(RM_ID_PROP, Bytes(64, 0), c.size).bytes();
        attach(file);
        log.clear();
        alloc.largest_request = 0;
        const uint32_t reads_before = io.read_calls;
        uint32_t id = 0;
        EXPECT_EQ(RM_READ_FAILED, rm_read_chunk(reader, &id)) << c.why;
        EXPECT_EQ("Could not read chunk data.", log.last_message()) << c.why;
        EXPECT_EQ(RM_READ_FAILED, log.last_code());
        EXPECT_EQ(1u, log.count());
        EXPECT_EQ(reads_before + 1, io.read_calls) << c.why << ": only the 10-byte header was read";
        EXPECT_EQ(10u, reader->position);
        EXPECT_GE(10u, alloc.largest_request) << c.why << ": the buffer holds only the header";
    }
}

TEST_F(Chunks, LargestAcceptedChunkAndTruncatedBody) {
    Bytes file = RmWriter().chunk(fourcc("BIGC"), Bytes(RM_MAX_HEADER_CHUNK_SIZE - 10, 0x5A)).bytes();
    attach(file);
    uint32_t id = 0;
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    EXPECT_EQ(RM_MAX_HEADER_CHUNK_SIZE, reader->buffer_held);

    // The same chunk one byte short of its size field.
    file.pop_back();
    attach(file);
    EXPECT_EQ(RM_READ_FAILED, rm_read_chunk(reader, &id));
    EXPECT_EQ("Could not read chunk data.", log.last_message());
    EXPECT_EQ(RM_MAX_HEADER_CHUNK_SIZE - 1, reader->buffer_held);
}

TEST_F(Chunks, ChunkOfExactlyItsHeader) {
    attach(RmWriter().chunk(fourcc("TINY"), {}).chunk(fourcc("NEXT"), {1}).bytes());
    uint32_t id = 0;
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    EXPECT_EQ(10u, reader->buffer_held);
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    EXPECT_EQ(fourcc("NEXT"), id);
}

// ---------------------------------------------------------------- decoders, whole

TEST_F(Chunks, DecodeFileHeaderAndProperties) {
    RmfChunk rmf;
    rmf.object_version = 1;
    rmf.file_version = 1;
    rmf.header_count = 0x01020304;
    hold(RmWriter().rmf(rmf).bytes());
    ASSERT_EQ(RM_OK, rm_decode_file_header(reader));
    EXPECT_EQ(RM_ID_RMF, reader->rmf_record.id);
    EXPECT_EQ(18u, reader->rmf_record.size);
    EXPECT_EQ(1u, reader->rmf_record.object_version);
    EXPECT_EQ(1u, reader->rmf_record.file_version);
    EXPECT_EQ(0x01020304u, reader->rmf_record.header_count);

    PropChunk prop;
    prop.max_bit_rate = 1;
    prop.avg_bit_rate = 2;
    prop.max_packet_size = 3;
    prop.avg_packet_size = 4;
    prop.packet_count = 5;
    prop.duration = 6;
    prop.preroll = 7;
    prop.index_offset = 8;
    prop.data_offset = 0xFFFFFFF0u;
    prop.stream_count = 0xFFFE;
    prop.flags = 0x8001;
    hold(RmWriter().prop(prop).bytes());
    ASSERT_EQ(RM_OK, rm_decode_properties(reader));
    const rm_properties& p = reader->prop_record;
    EXPECT_EQ(RM_ID_PROP, p.id);
    EXPECT_EQ(50u, p.size);
    const uint32_t values[] = {p.max_bit_rate, p.avg_bit_rate, p.max_packet_size, p.avg_packet_size,
                               p.packet_count, p.duration,     p.preroll,         p.index_offset};
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(i + 1, values[i]);
    }
    EXPECT_EQ(0xFFFFFFF0u, p.data_offset);
    EXPECT_EQ(0xFFFEu, p.stream_count);
    EXPECT_EQ(0x8001u, p.flags);

    rm_chunk_header header{};
    ASSERT_EQ(RM_OK, rm_decode_chunk_header(reader, &header));
    EXPECT_EQ(RM_ID_PROP, header.id);
    EXPECT_EQ(50u, header.size);
}

TEST_F(Chunks, DecodeMediaPropsReplacesEarlierCopies) {
    MdprChunk m;
    m.object_version = 3;
    m.stream_number = 0x0102;
    m.max_bit_rate = 10;
    m.avg_bit_rate = 11;
    m.max_packet_size = 12;
    m.avg_packet_size = 13;
    m.start_time = 14;
    m.preroll = 15;
    m.duration = 16;
    m.stream_name = "Video Stream";
    m.mime_type = "video/x-pn-realvideo";
    m.type_specific = {0, 1, 2, 0xFF};
    hold(RmWriter().mdpr(m).bytes());
    rm_media_props slot;
    std::memset(&slot, 0, sizeof slot);
    ASSERT_EQ(RM_OK, rm_decode_media_props(reader, &slot));
    EXPECT_EQ(RM_ID_MDPR, slot.id);
    EXPECT_EQ(46u + 12 + 20 + 4, slot.size);
    EXPECT_EQ(3u, slot.object_version);
    EXPECT_EQ(0x0102u, slot.stream_number);
    EXPECT_EQ(10u, slot.max_bit_rate);
    EXPECT_EQ(11u, slot.avg_bit_rate);
    EXPECT_EQ(12u, slot.max_packet_size);
    EXPECT_EQ(13u, slot.avg_packet_size);
    EXPECT_EQ(14u, slot.start_time);
    EXPECT_EQ(15u, slot.preroll);
    EXPECT_EQ(16u, slot.duration);
    EXPECT_EQ(12u, slot.stream_name_length);
    EXPECT_STREQ("Video Stream", slot.stream_name);
    EXPECT_EQ(20u, slot.mime_type_length);
    EXPECT_STREQ("video/x-pn-realvideo", slot.mime_type);
    ASSERT_EQ(4u, slot.type_specific_length);
    EXPECT_EQ(Bytes({0, 1, 2, 0xFF}), Bytes(slot.type_specific_data, slot.type_specific_data + 4));
    EXPECT_EQ(4u, alloc.blocks.at(slot.type_specific_data));

    // A second MDPR into the same slot releases what the first one copied.
    m.stream_name = "Other";
    hold(RmWriter().mdpr(m).bytes());
    ASSERT_EQ(RM_OK, rm_decode_media_props(reader, &slot));
    EXPECT_STREQ("Other", slot.stream_name);
    rm_drop_media_props(reader, &slot);
    EXPECT_EQ(nullptr, slot.stream_name);
    EXPECT_EQ(nullptr, slot.mime_type);
    EXPECT_EQ(nullptr, slot.type_specific_data);
    EXPECT_EQ(2u, alloc.live()) << "only the handle and the read buffer";
}

TEST_F(Chunks, CopyFailureInsideADecoderFailsTheChunk) {
    // A failed copy leaves the cursor at the string; decoding on would read
    // the string's bytes as the next fields.
    MdprChunk m = rmtest::video_mdpr();
    hold(RmWriter().mdpr(m).bytes());
    rm_media_props slot;
    std::memset(&slot, 0, sizeof slot);
    for (uint32_t failing = 1; failing <= 3; ++failing) {
        alloc.fail_nth(alloc.requests + failing);
        EXPECT_EQ(RM_OUT_OF_MEMORY, rm_decode_media_props(reader, &slot)) << failing;
        rm_drop_media_props(reader, &slot);
    }
    alloc.fail_nth(0);

    ContChunk c;
    c.title = "T";
    c.author = "A";
    c.copyright = "C";
    c.comment = "K";
    hold(RmWriter().cont(c).bytes());
    for (uint32_t failing = 1; failing <= 4; ++failing) {
        alloc.fail_nth(alloc.requests + failing);
        EXPECT_EQ(RM_OUT_OF_MEMORY, rm_decode_content(reader)) << failing;
        rm_drop_content(reader);
    }
}

TEST_F(Chunks, ContentStringsAndBoundaries) {
    ContChunk c;
    c.title = "Title";
    c.copyright = "(c)";
    c.comment = "comment";
    hold(RmWriter().cont(c).bytes());
    ASSERT_EQ(RM_OK, rm_decode_content(reader));
    const rm_content& r = reader->cont_record;
    EXPECT_STREQ("Title", r.title);
    EXPECT_EQ(0u, r.author_length);
    EXPECT_EQ(nullptr, r.author) << "length 0 leaves the string alone";
    EXPECT_EQ(3u, r.copyright_length);
    EXPECT_STREQ("(c)", r.copyright);
    EXPECT_STREQ("comment", r.comment);

    // The comment ends exactly at the end of the chunk: accepted (the
    // default lengths do that). One byte more than is left: rejected.
    rm_drop_content(reader);
    c.comment_length = uint16_t(c.comment.size() + 1);
    hold(RmWriter().cont(c).bytes());
    EXPECT_EQ(RM_FAIL, rm_decode_content(reader));
    EXPECT_EQ(nullptr, r.comment);
    EXPECT_STREQ("Title", r.title) << "fields decoded so far stay";
}

// ---------------------------------------------------------------- decoders, cut short

struct Decoder {
    const char* name;
    Bytes chunk;
    rm_result (*decode)(rm_reader*, rm_media_props*);
};

rm_result decode_header(rm_reader* r, rm_media_props*) {
    rm_chunk_header header;
    return rm_decode_chunk_header(r, &header);
}
rm_result decode_rmf(rm_reader* r, rm_media_props*) { return rm_decode_file_header(r); }
rm_result decode_prop(rm_reader* r, rm_media_props*) { return rm_decode_properties(r); }
rm_result decode_cont(rm_reader* r, rm_media_props*) { return rm_decode_content(r); }
rm_result decode_mdpr(rm_reader* r, rm_media_props* slot) { return rm_decode_media_props(r, slot); }

TEST_F(Chunks, EveryDecoderFailsOnEveryCutAndNeverOverreads) {
    MdprChunk named = rmtest::video_mdpr();
    MdprChunk bare;  // no name, MIME type or type-specific data: only the fixed part
    ContChunk full;
    full.title = "t";
    full.author = "au";
    full.copyright = "cop";
    full.comment = "comm";
    const std::vector<Decoder> decoders = {
        {"chunk header", Bytes(10, 1), decode_header},
        {".RMF", RmWriter().rmf().bytes(), decode_rmf},
        {"PROP", RmWriter().prop().bytes(), decode_prop},
        {"MDPR", RmWriter().mdpr(named).bytes(), decode_mdpr},
        {"bare MDPR", RmWriter().mdpr(bare).bytes(), decode_mdpr},
        {"CONT", RmWriter().cont(full).bytes(), decode_cont},
        {"empty CONT", RmWriter().cont({}).bytes(), decode_cont},
    };
    for (const Decoder& d : decoders) {
        rm_media_props slot;
        std::memset(&slot, 0, sizeof slot);
        hold(d.chunk);
        ASSERT_EQ(RM_OK, d.decode(reader, &slot)) << d.name << " whole";
        rm_drop_media_props(reader, &slot);
        rm_drop_content(reader);
        for (size_t cut = 0; cut < d.chunk.size(); ++cut) {
            hold(Bytes(d.chunk.begin(), d.chunk.begin() + cut));
            EXPECT_EQ(RM_FAIL, d.decode(reader, &slot)) << d.name << " cut at " << cut;
            rm_drop_media_props(reader, &slot);
            rm_drop_content(reader);
        }
        // A held count larger than the buffer is not trusted past the buffer.
        hold(Bytes(d.chunk.begin(), d.chunk.end() - 1));
        reader->buffer_held = reader->buffer_size + 100;
        EXPECT_EQ(RM_FAIL, d.decode(reader, &slot)) << d.name << " held beyond the buffer";
        rm_drop_media_props(reader, &slot);
        rm_drop_content(reader);
    }
}

TEST_F(Chunks, DecodersRefuseNullArguments) {
    hold(RmWriter().mdpr(rmtest::video_mdpr()).bytes());
    rm_media_props slot;
    std::memset(&slot, 0, sizeof slot);
    EXPECT_EQ(RM_FAIL, rm_decode_media_props(reader, nullptr));
    EXPECT_EQ(RM_FAIL, rm_decode_media_props(nullptr, &slot));
    EXPECT_EQ(RM_FAIL, rm_decode_chunk_header(reader, nullptr));
    EXPECT_EQ(RM_FAIL, rm_decode_chunk_header(nullptr, nullptr));
    EXPECT_EQ(RM_FAIL, rm_decode_file_header(nullptr));
    EXPECT_EQ(RM_FAIL, rm_decode_properties(nullptr));
    EXPECT_EQ(RM_FAIL, rm_decode_content(nullptr));
    rm_drop_read_buffer(reader);
    reader->buffer_held = 50;  // a count without a buffer
    EXPECT_EQ(RM_FAIL, rm_decode_properties(reader));
    EXPECT_EQ(0u, log.count()) << "decoders report nothing themselves";
}

TEST_F(Chunks, PeekMediaStreamNumber) {
    MdprChunk m;
    m.stream_number = 0xBEEF;
    const Bytes chunk = RmWriter().mdpr(m).bytes();
    EXPECT_EQ(0u, rm_peek_media_stream_number(nullptr));
    EXPECT_EQ(0u, rm_peek_media_stream_number(reader)) << "no buffer";
    hold(Bytes(chunk.begin(), chunk.begin() + 11));
    EXPECT_EQ(0u, rm_peek_media_stream_number(reader));
    hold(Bytes(chunk.begin(), chunk.begin() + 12));
    EXPECT_EQ(0xBEEFu, rm_peek_media_stream_number(reader));
    hold(chunk);
    EXPECT_EQ(0xBEEFu, rm_peek_media_stream_number(reader));
}

// ---------------------------------------------------------------- media table

TEST_F(Chunks, MediaTableSizing) {
    struct Case {
        uint32_t file_version;
        uint16_t stream_count;
        uint32_t limit;
    } cases[] = {
        {1, 5, 8}, {0, 5, 5}, {1, 2, 2}, {1, 3, 4},         {1, 1, 1},
        {7, 3, 4}, {0, 0, 0}, {1, 0, 0}, {0, 65535, 65535}, {1, 65535, 131068},
    };
    const uint32_t live_before = uint32_t(alloc.live());
    for (const Case& c : cases) {
        reader->rmf_record.file_version = c.file_version;
        reader->prop_record.stream_count = c.stream_count;
        ASSERT_EQ(RM_OK, rm_reset_media_table(reader)) << c.file_version << "/" << c.stream_count;
        EXPECT_EQ(c.limit, reader->media_number_limit) << c.file_version << "/" << c.stream_count;
        EXPECT_EQ(0u, reader->media_count);
        // The declared count allocates nothing: only MDPRs that arrive do.
        EXPECT_EQ(nullptr, reader->media_props);
        EXPECT_EQ(0u, reader->media_capacity);
    }
    EXPECT_EQ(live_before, alloc.live());
    EXPECT_EQ(RM_OUT_OF_MEMORY, rm_reset_media_table(nullptr));
}

TEST_F(Chunks, MediaRecordsGrowWithTheChunksThatArrive) {
    reader->prop_record.stream_count = 65535;
    ASSERT_EQ(RM_OK, rm_reset_media_table(reader));
    for (uint32_t n = 0; n < 9; ++n) {
        rm_media_props* record = rm_append_media_record(reader);
        ASSERT_NE(nullptr, record);
        EXPECT_EQ(&reader->media_props[n], record);
        EXPECT_EQ(0u, record->stream_number) << "zeroed";
        EXPECT_EQ(nullptr, record->mime_type);
        record->stream_number = uint16_t(100 + n);
        reader->media_count = n + 1;
    }
    EXPECT_EQ(16u, reader->media_capacity) << "4, 8, 16: doubled as needed";
    for (uint32_t n = 0; n < 9; ++n) {
        EXPECT_EQ(100u + n, reader->media_props[n].stream_number) << "kept across growth";
    }
    EXPECT_LE(alloc.largest_request, 16 * sizeof(rm_media_props));

    // A refused growth leaves the table as it was.
    for (uint32_t n = 9; n < 16; ++n) {
        ASSERT_NE(nullptr, rm_append_media_record(reader));
        reader->media_count = n + 1;
    }
    rm_media_props* before = reader->media_props;
    alloc.fail_nth(alloc.requests + 1);
    EXPECT_EQ(nullptr, rm_append_media_record(reader));
    EXPECT_EQ(before, reader->media_props);
    EXPECT_EQ(16u, reader->media_capacity);
    EXPECT_EQ(0u, log.count());
    EXPECT_EQ(nullptr, rm_append_media_record(nullptr));
}

TEST_F(Chunks, DroppingTheTableFreesEverySlot) {
    reader->prop_record.stream_count = 4;
    ASSERT_EQ(RM_OK, rm_reset_media_table(reader));
    hold(RmWriter().mdpr(rmtest::video_mdpr(3)).bytes());
    // One record counted, one decoded above the count (as a failed header
    // read leaves it): both are freed.
    ASSERT_EQ(RM_OK, rm_decode_media_props(reader, rm_append_media_record(reader)));
    reader->media_count = 1;
    ASSERT_EQ(RM_OK, rm_decode_media_props(reader, rm_append_media_record(reader)));
    rm_drop_media_table(reader);
    EXPECT_EQ(nullptr, reader->media_props);
    EXPECT_EQ(0u, reader->media_count);
    EXPECT_EQ(0u, reader->media_capacity);
    EXPECT_EQ(0u, reader->media_number_limit);
    EXPECT_EQ(2u, alloc.live()) << "only the handle and the read buffer";

    // A new PROP drops the old records the same way.
    ASSERT_EQ(RM_OK, rm_reset_media_table(reader));
    ASSERT_EQ(RM_OK, rm_decode_media_props(reader, rm_append_media_record(reader)));
    reader->media_count = 1;
    ASSERT_EQ(RM_OK, rm_reset_media_table(reader));
    EXPECT_EQ(2u, alloc.live()) << "handle and read buffer: the new table is empty and unallocated";
}

// ---------------------------------------------------------------- teardown

TEST_F(Chunks, TeardownToleratesNullHandlesAndFields) {
    rm_drop_content(nullptr);
    rm_drop_media_props(nullptr, nullptr);
    rm_drop_media_props(reader, nullptr);
    rm_drop_media_table(nullptr);
    rm_drop_read_buffer(nullptr);
    // Nothing allocated yet: every drop is a no-op, twice over.
    for (int round = 0; round < 2; ++round) {
        rm_drop_content(reader);
        rm_drop_media_table(reader);
        rm_drop_read_buffer(reader);
    }
    EXPECT_EQ(0u, alloc.releases);

    ContChunk c;
    c.title = "a";
    c.comment = "b";
    hold(RmWriter().cont(c).bytes());
    ASSERT_EQ(RM_OK, rm_decode_content(reader));
    rm_drop_content(reader);
    EXPECT_EQ(nullptr, reader->cont_record.title);
    EXPECT_EQ(nullptr, reader->cont_record.comment);
    rm_drop_read_buffer(reader);
    EXPECT_EQ(nullptr, reader->buffer);
    EXPECT_EQ(0u, reader->buffer_size);
    EXPECT_EQ(0u, reader->buffer_held);
    EXPECT_EQ(1u, alloc.live()) << "only the handle";
}

// ---------------------------------------------------------------- reader and decoders together

TEST_F(Chunks, ReadAndDecodeAWholeHeader) {
    attach(rmtest::simple_writer({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, {}, 1).bytes());
    uint32_t id = 0;
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    ASSERT_EQ(RM_OK, rm_decode_file_header(reader));
    EXPECT_EQ(1u, reader->rmf_record.file_version);
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    ASSERT_EQ(RM_ID_PROP, id);
    ASSERT_EQ(RM_OK, rm_decode_properties(reader));
    ASSERT_EQ(RM_OK, rm_reset_media_table(reader));
    EXPECT_EQ(2u, reader->media_number_limit);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
        ASSERT_EQ(RM_ID_MDPR, id);
        uint16_t number = rm_peek_media_stream_number(reader);
        ASSERT_LT(number, reader->media_number_limit);
        ASSERT_EQ(RM_OK, rm_decode_media_props(reader, rm_append_media_record(reader)));
        reader->media_count += 1;
    }
    EXPECT_STREQ("video/x-pn-realvideo", reader->media_props[0].mime_type);
    EXPECT_STREQ("audio/x-pn-realaudio", reader->media_props[1].mime_type);
    ASSERT_EQ(RM_OK, rm_read_chunk(reader, &id));
    EXPECT_EQ(RM_ID_DATA, id);
    EXPECT_EQ(reader->prop_record.data_offset + 18, reader->position);
}

}  // namespace
