// Tests of the stored stream headers: property lists, preroll arithmetic and ASM rule books.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

namespace {

using rmtest::Bytes;

const uint32_t NO_TIMESTAMP = 0xFFFFFFFFu;
const uint32_t MAX_32 = 0xFFFFFFFFu;

struct StreamSetup {
    uint8_t class_flags = 0;
    const char* mime = nullptr;
    const char* name = nullptr;
    Bytes opaque;
    uint32_t max_bit_rate = 0, avg_bit_rate = 0, max_packet_size = 0, avg_packet_size = 0, start_time = 0, preroll = 0,
             duration = 0;
};

StreamSetup video(uint32_t max_rate, uint32_t avg_rate, uint32_t preroll) {
    StreamSetup s;
    s.class_flags = RM_CLASS_VIDEO;
    s.mime = "video/x-pn-realvideo";
    s.max_bit_rate = max_rate;
    s.avg_bit_rate = avg_rate;
    s.preroll = preroll;
    return s;
}

StreamSetup audio(uint32_t preroll) {
    StreamSetup s;
    s.class_flags = RM_CLASS_AUDIO;
    s.mime = "audio/x-pn-realaudio";
    s.max_bit_rate = 64000;
    s.avg_bit_rate = 64000;
    s.preroll = preroll;
    return s;
}

StreamSetup event() {
    StreamSetup s;
    s.class_flags = RM_CLASS_EVENT;
    s.mime = "application/x-pn-realevent";
    return s;
}

// A handle as the header read leaves it just before the stored headers are
// built: kept media records, stream states with their classes, PROP duration,
// start timestamp. Everything goes through the handle's allocator so that
// deleting the handle frees it all.
struct Handle : rmtest::ReaderFixture {
    explicit Handle(const std::vector<StreamSetup>& streams, uint32_t prop_duration = 0, uint32_t start_timestamp = 0) {
        const uint32_t n = uint32_t(streams.size());
        if (n != 0) {
            reader->media_props = zeroed<rm_media_props>(n);
            reader->stream_states = zeroed<rm_stream_state>(n);
        }
        reader->media_capacity = reader->media_count = reader->stream_count = n;
        reader->stream_state_count = n;
        for (uint32_t i = 0; i < n; ++i) {
            const StreamSetup& s = streams[i];
            rm_media_props& m = reader->media_props[i];
            m.id = RM_ID_MDPR;
            m.stream_number = uint16_t(i);
            m.max_bit_rate = s.max_bit_rate;
            m.avg_bit_rate = s.avg_bit_rate;
            m.max_packet_size = s.max_packet_size;
            m.avg_packet_size = s.avg_packet_size;
            m.start_time = s.start_time;
            m.preroll = s.preroll;
            m.duration = s.duration;
            m.mime_type = copy_text(s.mime);
            m.mime_type_length = uint8_t(s.mime ? strlen(s.mime) : 0);
            m.stream_name = copy_text(s.name);
            m.stream_name_length = uint8_t(s.name ? strlen(s.name) : 0);
            m.type_specific_data = copy_bytes(s.opaque);
            m.type_specific_length = uint32_t(s.opaque.size());
            reader->stream_states[i].class_flags = s.class_flags;
            if (s.duration > reader->longest_duration) reader->longest_duration = s.duration;
        }
        reader->prop_record.duration = prop_duration;
        reader->start_timestamp = start_timestamp;
    }

    rm_result build() { return rm_build_stream_headers(reader); }
    const rm_stream_header& header(uint32_t i) const { return reader->stream_headers[i]; }
};

std::vector<std::string> names_of(const rm_stream_header& h) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < h.property_count; ++i) {
        names.push_back(h.properties[i].name ? h.properties[i].name : "<null>");
    }
    return names;
}

const rm_property* find(const rm_stream_header& h, const char* name) {
    for (uint32_t i = 0; i < h.property_count; ++i) {
        if (h.properties[i].name && strcmp(h.properties[i].name, name) == 0) return &h.properties[i];
    }
    return nullptr;
}

// The int value, or -1 when the property is absent or not an int.
int64_t int_of(const rm_stream_header& h, const char* name) {
    const rm_property* p = find(h, name);
    if (p == nullptr || p->type != RM_PROPERTY_INT) return -1;
    return p->value.number;
}

std::string string_of(const rm_stream_header& h, const char* name) {
    const rm_property* p = find(h, name);
    if (p == nullptr || p->type != RM_PROPERTY_STRING || p->value.data == nullptr) return "<absent>";
    std::string text(static_cast<const char*>(p->value.data));
    EXPECT_EQ(p->size, text.size() + 1) << name;
    return text;
}

Bytes buffer_of(const rm_stream_header& h, const char* name) {
    const rm_property* p = find(h, name);
    if (p == nullptr || p->type != RM_PROPERTY_BUFFER || p->value.data == nullptr) return {};
    const uint8_t* bytes = static_cast<const uint8_t*>(p->value.data);
    return Bytes(bytes, bytes + p->size);
}

std::string r1(unsigned priority, unsigned avg, unsigned max) {
    return "priority=" + std::to_string(priority) + ",AverageBandwidth=" + std::to_string(avg) +
           ",MaximumBandwidth=" + std::to_string(max) +
           ",TimeStampDelivery=TRUE,PNMKeyFrameRule=T;OnDepend=\"0\",priority=5,AverageBandwidth=0,"
           "MaximumBandwidth=0,TimeStampDelivery=TRUE,PNMNonKeyFrameRule=T;";
}

std::string r2(unsigned priority, unsigned avg) {
    return "priority=" + std::to_string(priority) + ",AverageBandwidth=" + std::to_string(avg) +
           ",TimeStampDelivery=TRUE,PNMKeyFrameRule=T;OnDepend=\"0\",priority=5,AverageBandwidth=0,"
           "TimeStampDelivery=TRUE,PNMNonKeyFrameRule=T;";
}

std::string r3(unsigned long avg) {
    const std::string a = std::to_string(avg);
    return "#($Bandwidth >= " + a + "),priority=9,averagebandwidth=" + a + ",PNMKeyFrameRule=T;#($Bandwidth >= " + a +
           "),OnDepend=\"0\",priority=5,averagebandwidth=0,PNMNonKeyFrameRule=T;#($Bandwidth < " + a +
           "),priority=9,timestampdelivery=T,DropByN=T,PNMThinningRule=T;";
}

const char* const R4 =
    "TimeStampDelivery=T,priority=10,PNMKeyFrameRule=T;TimeStampDelivery=T,priority=10,PNMNonKeyFrameRule=T;";

std::string r5(unsigned avg) {
    return "priority=5,averagebandwidth=" + std::to_string(avg) +
           ",PNMKeyFrameRule=T;priority=5,averagebandwidth=0,PNMNonKeyFrameRule=T,OnDepend=\"0\",OffDepend=\"0\";";
}

std::string r6(unsigned avg, unsigned max) {
    return "Marker=0,AverageBandwidth=" + std::to_string(avg) + ",MaximumBandwidth=" + std::to_string(max) +
           ",TimeStampDelivery=TRUE;Marker=1,AverageBandwidth=0,MaximumBandwidth=0,TimeStampDelivery=TRUE;";
}

std::string r7(unsigned avg) {
    return "Marker=0,AverageBandwidth=" + std::to_string(avg) +
           ",TimeStampDelivery=TRUE;Marker=1,AverageBandwidth=0,TimeStampDelivery=TRUE;";
}

std::string r8(unsigned avg) {
    return "Marker=0,priority=5,averagebandwidth=" + std::to_string(avg) + ";Marker=1,priority=5,averagebandwidth=0;";
}

const Bytes VIDEO_FLAGS = {0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02};
const Bytes OTHER_FLAGS = {0x00, 0x02, 0x00, 0x02, 0x00, 0x00};

TEST(StreamProperties, ConstantRateVideoListsEveryPropertyInOrder) {
    StreamSetup s = video(500000, 500000, 4000);
    s.name = "Video Stream";
    s.opaque = {0x00, 0x00, 0x00, 0x22, 'V', 'I', 'D', 'O'};
    s.max_packet_size = 1400;
    s.avg_packet_size = 900;
    s.duration = 60000;
    Handle h({s}, 60000, 0);
    ASSERT_EQ(h.build(), RM_OK);
    const rm_stream_header& hdr = h.header(0);

    EXPECT_EQ(names_of(hdr), (std::vector<std::string>{"StreamNumber", "MaxBitRate", "AvgBitRate", "MaxPacketSize",
                                                       "AvgPacketSize", "MimeType", "StreamName", "OpaqueData",
                                                       "intrinsicDurationType", "EndOneRuleEndAll", "Duration",
                                                       "Preroll", "X-PreDecBufSize", "ASMRuleBook", "RMFF 1.0 Flags"}));
    EXPECT_EQ(int_of(hdr, "StreamNumber"), 0);
    EXPECT_EQ(int_of(hdr, "MaxBitRate"), 500000);
    EXPECT_EQ(int_of(hdr, "MaxPacketSize"), 1400);
    EXPECT_EQ(int_of(hdr, "AvgPacketSize"), 900);
    EXPECT_EQ(string_of(hdr, "MimeType"), "video/x-pn-realvideo");
    EXPECT_EQ(string_of(hdr, "StreamName"), "Video Stream");
    EXPECT_EQ(buffer_of(hdr, "OpaqueData"), s.opaque);
    EXPECT_EQ(string_of(hdr, "intrinsicDurationType"), "intrinsicDurationContinuous");
    EXPECT_EQ(int_of(hdr, "EndOneRuleEndAll"), 1);
    EXPECT_EQ(int_of(hdr, "Duration"), 60000);
    EXPECT_EQ(int_of(hdr, "Preroll"), 4000);
    EXPECT_EQ(int_of(hdr, "X-PreDecBufSize"), 500000);  // buffer time is twice the preroll
    EXPECT_EQ(string_of(hdr, "ASMRuleBook"), r3(500000));
    EXPECT_EQ(buffer_of(hdr, "RMFF 1.0 Flags"), VIDEO_FLAGS);

    // The header's own fields keep the file's values, in copies of their own.
    EXPECT_EQ(hdr.stream_number, 0u);
    EXPECT_EQ(hdr.preroll, 4000u);
    EXPECT_EQ(hdr.duration, 60000u);
    EXPECT_EQ(hdr.max_packet_size, 1400u);
    ASSERT_NE(hdr.mime_type, nullptr);
    EXPECT_STREQ(hdr.mime_type, "video/x-pn-realvideo");
    EXPECT_NE(hdr.mime_type, h.reader->media_props[0].mime_type);
    EXPECT_STREQ(hdr.stream_name, "Video Stream");
    ASSERT_EQ(hdr.opaque_length, s.opaque.size());
    EXPECT_EQ(Bytes(hdr.opaque_data, hdr.opaque_data + hdr.opaque_length), s.opaque);
}

TEST(StreamProperties, VariableRateVideoGetsDependentRulesAndPreData) {
    Handle h({video(450000, 300000, 6000)});
    ASSERT_EQ(h.build(), RM_OK);
    const rm_stream_header& hdr = h.header(0);

    EXPECT_EQ(names_of(hdr),
              (std::vector<std::string>{"StreamNumber", "MaxBitRate", "AvgBitRate", "MimeType", "intrinsicDurationType",
                                        "EndOneRuleEndAll", "Duration", "Preroll", "ActualPreroll", "StreamingPreroll",
                                        "X-PreDecBufSize", "ASMRuleBook", "PreData", "PreDataAtStart",
                                        "PreDataAfterSeek", "PrerollAfterSeek", "RMFF 1.0 Flags"}));
    EXPECT_EQ(int_of(hdr, "Preroll"), 5000);
    EXPECT_EQ(int_of(hdr, "ActualPreroll"), 6000);
    EXPECT_EQ(int_of(hdr, "StreamingPreroll"), 6000);
    EXPECT_EQ(int_of(hdr, "X-PreDecBufSize"), 337500);
    EXPECT_EQ(string_of(hdr, "ASMRuleBook"), r1(9, 300000, 450000));
    EXPECT_EQ(int_of(hdr, "PreData"), 281250);
    EXPECT_EQ(int_of(hdr, "PreDataAtStart"), 1);
    EXPECT_EQ(int_of(hdr, "PreDataAfterSeek"), 1);
    EXPECT_EQ(int_of(hdr, "PrerollAfterSeek"), 1);
    EXPECT_EQ(hdr.preroll, 6000u);
}

// Preroll, ActualPreroll, StreamingPreroll and X-PreDecBufSize (-1: absent).
struct PrerollCase {
    const char* what;
    StreamSetup stream;
    int64_t preroll, actual, streaming, decode_buffer;
};

TEST(StreamProperties, PrerollFigures) {
    const PrerollCase cases[] = {
        {"video cbr, preroll 4000", video(500000, 500000, 4000), 4000, -1, -1, 500000},
        {"video vbr, preroll 6000", video(450000, 300000, 6000), 5000, 6000, 6000, 337500},
        // Raised to 1500, and the buffer time is the raised value, not twice it.
        {"video cbr, preroll 500", video(100000, 100000, 500), 1500, 500, -1, 18750},
        {"video cbr, preroll 0", video(100000, 100000, 0), 1000, -1, -1, 12500},
        {"video cbr, preroll 3000", video(100000, 100000, 3000), 3000, -1, -1, 75000},
        // A variable rate buffers for the file's own preroll.
        {"video vbr, preroll 500", video(200000, 100000, 500), 1500, 500, -1, 12500},
        {"video without rates", video(0, 0, 0), 1000, -1, -1, -1},
        {"video at the 32-bit limits", video(MAX_32, MAX_32, MAX_32), 5000, MAX_32, MAX_32, MAX_32},
        {"video vbr at the rate limit", video(MAX_32, 1, 4000), 4000, -1, -1, 2147483648},
        {"audio, preroll 0", audio(0), 5000, 6000, 6000, -1},
        {"audio, preroll 2000", audio(2000), 4000, 2000, -1, -1},
        {"audio, preroll 3000", audio(3000), 5000, 3000, 6000, -1},
        {"audio, doubled preroll saturates", audio(0x90000000u), 5000, 0x90000000u, MAX_32, -1},
        {"event keeps its preroll",
         [] {
             StreamSetup s = event();
             s.preroll = 7000;
             return s;
         }(),
         7000, -1, -1, -1},
        {"no class keeps its preroll",
         [] {
             StreamSetup s;
             s.preroll = 7000;
             return s;
         }(),
         7000, -1, -1, -1},
    };
    for (const PrerollCase& c : cases) {
        SCOPED_TRACE(c.what);
        Handle h({c.stream});
        ASSERT_EQ(h.build(), RM_OK);
        const rm_stream_header& hdr = h.header(0);
        EXPECT_EQ(int_of(hdr, "Preroll"), c.preroll);
        EXPECT_EQ(int_of(hdr, "ActualPreroll"), c.actual);
        EXPECT_EQ(int_of(hdr, "StreamingPreroll"), c.streaming);
        EXPECT_EQ(int_of(hdr, "X-PreDecBufSize"), c.decode_buffer);
        EXPECT_EQ(hdr.preroll, c.stream.preroll);
    }
}

TEST(StreamProperties, EventStreamLastsAsLongAsTheLongestStream) {
    StreamSetup v = video(100000, 100000, 1000);
    v.duration = 90000;
    StreamSetup e = event();
    e.duration = 1000;
    Handle h({v, e}, 90000, 2000);
    ASSERT_EQ(h.build(), RM_OK);
    const rm_stream_header& hdr = h.header(1);

    EXPECT_EQ(names_of(hdr),
              (std::vector<std::string>{"StreamNumber", "MimeType", "intrinsicDurationType", "CanBeStoppedAnyTime",
                                        "Duration", "Preroll", "ASMRuleBook", "RMFF 1.0 Flags"}));
    EXPECT_EQ(int_of(hdr, "StreamNumber"), 1);
    EXPECT_EQ(int_of(hdr, "Duration"), 88000);
    EXPECT_EQ(int_of(hdr, "CanBeStoppedAnyTime"), 1);
    EXPECT_EQ(string_of(hdr, "ASMRuleBook"), R4);
    EXPECT_EQ(buffer_of(hdr, "RMFF 1.0 Flags"), OTHER_FLAGS);
    EXPECT_EQ(hdr.duration, 1000u);
}

TEST(StreamProperties, StreamOfNoClassGetsTheBareList) {
    StreamSetup plain;
    plain.mime = "application/octet-stream";
    StreamSetup nameless;  // no MIME type at all
    Handle h({plain, nameless});
    ASSERT_EQ(h.build(), RM_OK);

    EXPECT_EQ(names_of(h.header(0)),
              (std::vector<std::string>{"StreamNumber", "MimeType", "Duration", "Preroll", "ASMRuleBook"}));
    EXPECT_EQ(string_of(h.header(0), "ASMRuleBook"), r8(0));
    EXPECT_EQ(names_of(h.header(1)), (std::vector<std::string>{"StreamNumber", "Duration", "Preroll", "ASMRuleBook"}));
    EXPECT_EQ(h.header(1).mime_type, nullptr);
}

TEST(StreamProperties, OpaqueDataAloneEarnsTheShortFlags) {
    StreamSetup a = audio(1000);
    a.opaque = {'.', 'r', 'a', 0xFD};
    Handle h({a});
    ASSERT_EQ(h.build(), RM_OK);
    EXPECT_EQ(buffer_of(h.header(0), "RMFF 1.0 Flags"), OTHER_FLAGS);
}

TEST(StreamProperties, EndTimeAndDurationFromTheFirstPacket) {
    StreamSetup longer = video(100000, 100000, 1000);
    longer.duration = 70000;
    StreamSetup shorter = audio(1000);
    shorter.duration = 1500;
    {
        Handle h({longer, shorter}, 60000, 0);
        ASSERT_EQ(h.build(), RM_OK);
        EXPECT_EQ(int_of(h.header(0), "EndTime"), 60000);
        EXPECT_EQ(int_of(h.header(0), "Duration"), 70000);
        EXPECT_EQ(int_of(h.header(1), "EndTime"), -1);
    }
    {
        // First packet at 2000 ms: durations count from there.
        Handle h({longer, shorter}, 60000, 2000);
        ASSERT_EQ(h.build(), RM_OK);
        EXPECT_EQ(int_of(h.header(0), "Duration"), 68000);
        EXPECT_EQ(h.header(0).duration, 70000u);
        EXPECT_EQ(int_of(h.header(1), "Duration"), 1500);  // not longer than the offset
    }
    {
        // No packet declared: nothing to subtract.
        Handle h({longer}, 70000, NO_TIMESTAMP);
        ASSERT_EQ(h.build(), RM_OK);
        EXPECT_EQ(int_of(h.header(0), "Duration"), 70000);
        EXPECT_EQ(int_of(h.header(0), "EndTime"), -1);
    }
}

TEST(StreamProperties, PreDataSaturatesForAnUnboundedPreroll) {
    StreamSetup s;  // no class: the preroll is not capped at 5000
    s.opaque = {1};
    s.max_bit_rate = MAX_32;
    s.avg_bit_rate = 1;
    s.preroll = MAX_32;
    Handle h({s});
    ASSERT_EQ(h.build(), RM_OK);
    EXPECT_EQ(string_of(h.header(0), "ASMRuleBook"), r1(5, 1, MAX_32));
    EXPECT_EQ(int_of(h.header(0), "Preroll"), MAX_32);
    EXPECT_EQ(int_of(h.header(0), "PreData"), MAX_32);
}

struct ChoiceRow {
    const char* what;
    uint8_t class_flags;
    bool opaque;
    uint32_t max_rate, avg_rate;
    std::string text;
    bool dependent;
};

TEST(StreamProperties, RuleBookChoiceAndAgreementOfBothPasses) {
    const ChoiceRow rows[] = {
        {"video vbr", RM_CLASS_VIDEO, true, 450000, 300000, r1(9, 300000, 450000), true},
        {"video vbr, max 0", RM_CLASS_VIDEO, false, 0, 300000, r2(9, 300000), true},
        {"video cbr", RM_CLASS_VIDEO, true, 300000, 300000, r3(300000), false},
        {"event", RM_CLASS_EVENT, true, 450000, 300000, R4, false},
        {"opaque vbr", RM_CLASS_AUDIO, true, 450000, 300000, r1(5, 300000, 450000), true},
        {"opaque vbr, max 0", RM_CLASS_AUDIO, true, 0, 300000, r2(5, 300000), true},
        {"opaque cbr", 0, true, 300000, 300000, r5(300000), false},
        {"plain vbr", RM_CLASS_AUDIO, false, 450000, 300000, r6(300000, 450000), false},
        {"plain vbr, max 0", 0, false, 0, 300000, r7(300000), false},
        {"plain cbr", 0, false, 300000, 300000, r8(300000), false},
    };
    for (const ChoiceRow& row : rows) {
        SCOPED_TRACE(row.what);
        StreamSetup s;
        s.class_flags = row.class_flags;
        s.mime = "some/type";
        if (row.opaque) s.opaque = {1, 2, 3};
        s.max_bit_rate = row.max_rate;
        s.avg_bit_rate = row.avg_rate;
        s.preroll = 2000;
        Handle h({s});

        const bool video_class = row.class_flags == RM_CLASS_VIDEO;
        const bool event_class = row.class_flags == RM_CLASS_EVENT;
        int dependent = 7;  // left alone unless the template sets it
        char* text =
            rm_make_rule_book(h.reader, video_class, event_class, row.opaque, row.max_rate, row.avg_rate, &dependent);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), row.text);
        EXPECT_EQ(dependent, row.dependent ? 1 : 7);
        EXPECT_EQ(h.alloc.blocks[text], RM_RULE_BOOK_SIZE);
        rm_release(h.reader, text);

        ASSERT_EQ(h.build(), RM_OK);
        const rm_stream_header& hdr = h.header(0);
        EXPECT_EQ(string_of(hdr, "ASMRuleBook"), row.text);
        // PreData needs the dependent rules and a maximum rate to fill the preroll with.
        EXPECT_EQ(find(hdr, "PreData") != nullptr, row.dependent && row.max_rate != 0);
        EXPECT_EQ(find(hdr, "PrerollAfterSeek") != nullptr, row.dependent && row.max_rate != 0);

        const uint32_t counted = rm_collect_properties(h.reader, 0, &hdr, nullptr, 0);
        EXPECT_EQ(counted, hdr.property_count);
        // A filling pass given room to spare writes exactly the counted entries.
        const uint32_t spare = 3;
        std::vector<rm_property> filled(counted + spare);
        memset(filled.data(), 0, filled.size() * sizeof(rm_property));
        EXPECT_EQ(rm_collect_properties(h.reader, 0, &hdr, filled.data(), counted + spare), counted);
        for (uint32_t i = 0; i < counted; ++i) {
            ASSERT_NE(filled[i].name, nullptr);
            EXPECT_STREQ(filled[i].name, hdr.properties[i].name);
            EXPECT_EQ(filled[i].type, hdr.properties[i].type);
        }
        for (uint32_t i = counted; i < counted + spare; ++i) EXPECT_EQ(filled[i].name, nullptr);
        // ...and a short array is never written past its end.
        std::vector<rm_property> short_array(2);
        memset(short_array.data(), 0, short_array.size() * sizeof(rm_property));
        EXPECT_EQ(rm_collect_properties(h.reader, 0, &hdr, short_array.data(), 1), counted);
        EXPECT_NE(short_array[0].name, nullptr);
        EXPECT_EQ(short_array[1].name, nullptr);
        for (rm_property& p : filled) rm_property_clear(h.reader, &p);
        for (rm_property& p : short_array) rm_property_clear(h.reader, &p);
    }
}

TEST(StreamProperties, LongestRuleBookFitsItsBlock) {
    Handle h({video(MAX_32, MAX_32, 1000)});
    int dependent = 0;
    char* text = rm_make_rule_book(h.reader, 1, 0, 0, MAX_32, MAX_32, &dependent);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(strlen(text), 263u);
    EXPECT_EQ(std::string(text), r3(4294967295ul));
    EXPECT_LT(strlen(text), RM_RULE_BOOK_SIZE);
    rm_release(h.reader, text);

    ASSERT_EQ(h.build(), RM_OK);
    EXPECT_EQ(string_of(h.header(0), "ASMRuleBook").size(), 263u);
}

TEST(StreamProperties, RebuildReplacesTheStoredHeaders) {
    Handle h({video(450000, 300000, 6000), audio(0)});
    ASSERT_EQ(h.build(), RM_OK);
    const size_t live_after_first = h.alloc.live();
    ASSERT_EQ(h.build(), RM_OK);
    EXPECT_EQ(h.alloc.live(), live_after_first);
    EXPECT_EQ(int_of(h.header(1), "Preroll"), 5000);
}

TEST(StreamProperties, FailedAllocationAtEveryStepLeavesNoLeak) {
    StreamSetup v = video(450000, 300000, 6000);
    v.name = "Video Stream";
    v.opaque = {1, 2, 3, 4};
    v.duration = 60000;
    StreamSetup e = event();
    e.duration = 1000;
    StreamSetup plain;
    plain.opaque = {9};
    const std::vector<StreamSetup> streams = {v, audio(0), e, plain};

    uint32_t step = 1;
    for (;; ++step) {
        SCOPED_TRACE(step);
        Handle h(streams, 50000, 100);
        h.alloc.fail_nth(h.alloc.requests + step);
        const rm_result result = h.build();
        EXPECT_TRUE(result == RM_OK || result == RM_FAIL) << std::hex << result;
        if (h.alloc.failures == 0) {
            EXPECT_EQ(result, RM_OK);
            break;
        }
        ASSERT_LT(step, 1000u);
    }
    EXPECT_GT(step, 40u);  // every stream's strings, blocks and rule books were reached
}

TEST(StreamProperties, HeaderReadHandsOutTheStoredHeaders) {
    rmtest::MdprChunk v = rmtest::video_mdpr(0, 300000, 450000);
    v.preroll = 6000;
    v.duration = 60000;
    rmtest::TestAllocator alloc;
    rmtest::ErrorLog log;
    rmtest::MemoryIo io(rmtest::simple_file({v}, {rmtest::make_packet(0, 2000, 8, true)}));
    rm_reader* reader = rm_reader_new_custom(&log, &rmtest::ErrorLog::report, &alloc, &rmtest::TestAllocator::allocate,
                                             &rmtest::TestAllocator::release);
    io.attach(reader);
    ASSERT_EQ(rm_reader_load_headers(reader), RM_OK);
    rm_stream_header* header = nullptr;
    ASSERT_EQ(rm_reader_fetch_stream_header(reader, 0, &header), RM_OK);
    uint32_t value = 0;
    EXPECT_EQ(rm_stream_header_find_int(header, "Duration", &value), RM_OK);
    EXPECT_EQ(value, 58000u);
    EXPECT_EQ(rm_stream_header_find_int(header, "PreData", &value), RM_OK);
    EXPECT_EQ(value, 281250u);
    char* rule_book = nullptr;
    EXPECT_EQ(rm_stream_header_find_string(header, "ASMRuleBook", &rule_book), RM_OK);
    EXPECT_EQ(std::string(rule_book), r1(9, 300000, 450000));
    EXPECT_EQ(rm_stream_header_get_duration(header), 60000u);
    rm_reader_release_stream_header(reader, &header);
    rm_reader_delete(&reader);
    EXPECT_EQ(alloc.live(), 0u);
    EXPECT_EQ(log.count(), 0u);
}

}  // namespace
