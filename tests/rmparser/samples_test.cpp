// Real files made by ffmpeg, read through the public operations and checked against ffprobe's lists beside them.

// The packets ffprobe saw are paired with the file's own packet headers, and
// the streams' MDPR values compared: an outside check that the synthetic-file
// tests cannot give. samples/make_samples.sh made the files and the lists.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "rmparser/rm_reader.h"
#include "tests/support/rm_reader_fixture.h"

using namespace rmtest;

namespace {

struct ExpectedPacket {
    uint32_t stream;
    uint32_t timestamp;
    bool key;
    uint32_t size;
    uint32_t offset;  // of the payload
    uint32_t crc32;
};

struct ExpectedStream {
    uint32_t index;
    std::string mime;
    uint32_t avg_bit_rate;
    uint32_t max_bit_rate;
    uint32_t duration;
    uint32_t preroll;
    uint32_t max_packet_size;
    uint32_t avg_packet_size;
    uint32_t start_time;
};

struct Sample {
    const char* file;
    uint32_t packets;  // lines in the list: guards against a truncated list
    uint32_t streams;
};

// Every sample and the size of its lists, so that a list cut short or a
// sample left out of the script shows up as a failure, not as less checking.
const Sample SAMPLES[] = {
    {"rv10_ra144.rm", 391, 2},  {"rv20_ac3.rm", 232, 2},       {"rv20_video.rmvb", 96, 1},
    {"ra144_audio.rm", 401, 1}, {"rv20_vbr_long.rm", 3601, 2}, {"demo.rm", 2233, 2},
};

// Names the sample in test output instead of dumping its bytes.
void PrintTo(const Sample& sample, std::ostream* os) { *os << sample.file; }

std::string sample_path(const std::string& name) { return std::string(KOV_SOURCE_DIR) + "/samples/" + name; }

std::string list_path(const std::string& file, const char* kind) {
    return sample_path(file.substr(0, file.rfind('.')) + kind);
}

// Data lines of a list: everything but blank lines and '#' comments.
std::vector<std::string> data_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        lines.push_back(line);
    }
    return lines;
}

std::vector<ExpectedPacket> read_packet_list(const std::string& path) {
    std::vector<ExpectedPacket> packets;
    for (const std::string& line : data_lines(path)) {
        std::istringstream fields(line);
        ExpectedPacket p{};
        int key = 0;
        fields >> p.stream >> p.timestamp >> key >> p.size >> p.offset >> std::hex >> p.crc32;
        EXPECT_FALSE(fields.fail()) << path << ": bad line \"" << line << "\"";
        p.key = key != 0;
        packets.push_back(p);
    }
    return packets;
}

std::vector<ExpectedStream> read_stream_list(const std::string& path) {
    std::vector<ExpectedStream> streams;
    for (const std::string& line : data_lines(path)) {
        std::istringstream fields(line);
        ExpectedStream s{};
        fields >> s.index >> s.mime >> s.avg_bit_rate >> s.max_bit_rate >> s.duration >> s.preroll >>
            s.max_packet_size >> s.avg_packet_size >> s.start_time;
        EXPECT_FALSE(fields.fail()) << path << ": bad line \"" << line << "\"";
        streams.push_back(s);
    }
    return streams;
}

// zlib's CRC-32, bit by bit: the lists carry it to prove the payload bytes.
uint32_t crc32_of(const uint8_t* data, uint32_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// One sample opened the way the analysis opens a file: probed, then read
// through stdio.
struct OpenSample : ReaderFixture {
    FILE* file = nullptr;

    explicit OpenSample(const std::string& path) {
        file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) return;
        unsigned char first[16] = {};
        const size_t got = std::fread(first, 1, sizeof first, file);
        probed = rm_reader_probe(first, uint32_t(got));
        std::fseek(file, 0, SEEK_SET);
        if (reader != nullptr) attached = rm_reader_attach_stdio(reader, file);
    }
    ~OpenSample() {
        rm_reader_delete(&reader);
        if (file != nullptr) std::fclose(file);
    }

    int probed = 0;
    rm_result attached = RM_FAIL;
};

struct ReadOutcome {
    std::vector<std::string> mismatches;  // empty when every packet matched
    size_t delivered = 0;
    rm_result end = RM_OK;
    size_t errors_before_end = 0;
};

// Reads packets with the selector until a non-zero result and compares them
// in order with the expected ones.
ReadOutcome read_and_compare(OpenSample& s, int32_t selector, const std::vector<ExpectedPacket>& expected) {
    ReadOutcome out;
    for (;;) {
        const size_t errors = s.log.count();
        rm_packet* packet = nullptr;
        const rm_result r = rm_reader_next_packet(s.reader, &packet, selector);
        if (r != RM_OK) {
            out.end = r;
            out.errors_before_end = errors;
            if (packet != nullptr) out.mismatches.push_back("a packet came back with a non-zero result");
            rm_reader_release_packet(s.reader, &packet);
            break;
        }
        const size_t i = out.delivered++;
        if (packet == nullptr) {
            out.mismatches.push_back("RM_OK without a packet at " + std::to_string(i));
            break;
        }
        if (i >= expected.size()) {
            out.mismatches.push_back("packet beyond the " + std::to_string(expected.size()) + " listed");
            rm_reader_release_packet(s.reader, &packet);
            continue;
        }
        const ExpectedPacket& e = expected[i];
        std::ostringstream got, want;
        got << "stream " << packet->stream << " ts " << packet->timestamp << " rule " << int(packet->asm_rule)
            << " size " << packet->length << " offset " << packet->file_offset << " crc " << std::hex
            << (packet->data != nullptr ? crc32_of(packet->data, packet->length) : 0u);
        want << "stream " << e.stream << " ts " << e.timestamp << " rule " << (e.key ? 0 : 1) << " size " << e.size
             << " offset " << e.offset << " crc " << std::hex << e.crc32;
        if (got.str() != want.str()) {
            out.mismatches.push_back("packet " + std::to_string(i) + ": got " + got.str() + ", want " + want.str());
        }
        rm_reader_release_packet(s.reader, &packet);
        if (packet != nullptr) out.mismatches.push_back("release left the packet pointer set");
        if (out.mismatches.size() > 10) break;  // enough to diagnose
    }
    return out;
}

std::string first_mismatches(const ReadOutcome& o) {
    std::string text;
    for (size_t i = 0; i < o.mismatches.size() && i < 5; ++i) text += "\n  " + o.mismatches[i];
    return text;
}

class SampleFile : public ::testing::TestWithParam<Sample> {
protected:
    void SetUp() override {
        const Sample& sample = GetParam();
        packets_ = read_packet_list(list_path(sample.file, ".packets.txt"));
        streams_ = read_stream_list(list_path(sample.file, ".streams.txt"));
        ASSERT_EQ(packets_.size(), sample.packets) << "packet list of " << sample.file;
        ASSERT_EQ(streams_.size(), sample.streams) << "stream list of " << sample.file;
        for (size_t i = 0; i < streams_.size(); ++i) ASSERT_EQ(streams_[i].index, i);
    }

    std::string path() const { return sample_path(GetParam().file); }

    std::vector<ExpectedPacket> packets_;
    std::vector<ExpectedStream> streams_;
};

std::string sample_name(const ::testing::TestParamInfo<Sample>& info) {
    std::string name = info.param.file;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

}  // namespace

// The headers as the MDPR chunks hold them, then every packet of every stream
// in file order, then the normal end, and nothing left allocated.
TEST_P(SampleFile, ReadsHeadersAndEveryPacketInFileOrder) {
    OpenSample s(path());
    ASSERT_NE(s.file, nullptr) << "cannot open " << path();
    EXPECT_EQ(s.probed, 1);
    ASSERT_NE(s.reader, nullptr);
    ASSERT_EQ(s.attached, RM_OK);
    ASSERT_EQ(rm_reader_load_headers(s.reader), RM_OK) << s.log.last_message();
    EXPECT_EQ(s.log.count(), 0u) << s.log.last_message();
    ASSERT_EQ(rm_reader_stream_count(s.reader), streams_.size());

    const uint32_t first_timestamp = packets_.empty() ? 0 : packets_.front().timestamp;
    for (const ExpectedStream& e : streams_) {
        SCOPED_TRACE("stream " + std::to_string(e.index));
        rm_stream_header* h = nullptr;
        ASSERT_EQ(rm_reader_fetch_stream_header(s.reader, e.index, &h), RM_OK);
        ASSERT_NE(h, nullptr);
        ASSERT_NE(rm_stream_header_get_mime_type(h), nullptr);
        EXPECT_EQ(std::string(rm_stream_header_get_mime_type(h)), e.mime);
        EXPECT_EQ(rm_stream_header_get_stream_number(h), e.index);
        EXPECT_EQ(rm_stream_header_get_avg_bit_rate(h), e.avg_bit_rate);
        EXPECT_EQ(rm_stream_header_get_max_bit_rate(h), e.max_bit_rate);
        EXPECT_EQ(rm_stream_header_get_duration(h), e.duration);
        EXPECT_EQ(rm_stream_header_get_preroll(h), e.preroll);
        EXPECT_EQ(rm_stream_header_get_max_packet_size(h), e.max_packet_size);
        EXPECT_EQ(rm_stream_header_get_avg_packet_size(h), e.avg_packet_size);
        EXPECT_EQ(rm_stream_header_get_start_time(h), e.start_time);
        const bool video = e.mime == "video/x-pn-realvideo";
        EXPECT_EQ(rm_stream_header_is_video(h) != 0, video);
        EXPECT_EQ(rm_stream_header_is_audio(h) != 0, e.mime == "audio/x-pn-realaudio");

        char* mime_property = nullptr;
        ASSERT_EQ(rm_stream_header_find_string(h, "MimeType", &mime_property), RM_OK);
        EXPECT_EQ(std::string(mime_property), e.mime);
        uint32_t number = 0;
        EXPECT_EQ(rm_stream_header_find_int(h, "StreamNumber", &number), RM_OK);
        EXPECT_EQ(number, e.index);
        // The property is measured from the first packet of the file.
        uint32_t duration = 0;
        EXPECT_EQ(rm_stream_header_find_int(h, "Duration", &duration), RM_OK);
        EXPECT_EQ(duration, e.duration > first_timestamp ? e.duration - first_timestamp : e.duration);
        rm_reader_release_stream_header(s.reader, &h);
        EXPECT_EQ(h, nullptr);
    }

    const ReadOutcome o = read_and_compare(s, -1, packets_);
    EXPECT_TRUE(o.mismatches.empty()) << first_mismatches(o);
    EXPECT_EQ(o.delivered, packets_.size());
    // ffmpeg's muxer leaves 8 zero bytes after the last packet and declares a
    // DATA chunk 10 bytes longer than the file: that trailer is the end.
    EXPECT_EQ(o.end, RM_END_OF_DATA) << "after " << o.delivered << " packets: " << s.log.last_message();
    EXPECT_EQ(o.errors_before_end, 0u) << "the parser reported trouble while reading a good file";

    rm_reader_delete(&s.reader);
    EXPECT_EQ(s.reader, nullptr);
    EXPECT_EQ(s.alloc.live(), 0u) << "blocks left after the handle was deleted";
    EXPECT_EQ(s.alloc.foreign_releases, 0u);
}

// One stream at a time, as the analysis reads its video stream: the other
// streams' packets are passed over and the stream's own come in order.
TEST_P(SampleFile, ReadsEachStreamAloneWithTheOthersSkipped) {
    for (const ExpectedStream& e : streams_) {
        SCOPED_TRACE("selector " + std::to_string(e.index));
        std::vector<ExpectedPacket> own;
        for (const ExpectedPacket& p : packets_) {
            if (p.stream == e.index) own.push_back(p);
        }
        OpenSample s(path());
        ASSERT_NE(s.reader, nullptr);
        ASSERT_EQ(s.attached, RM_OK);
        ASSERT_EQ(rm_reader_load_headers(s.reader), RM_OK) << s.log.last_message();

        const ReadOutcome o = read_and_compare(s, int32_t(e.index), own);
        EXPECT_TRUE(o.mismatches.empty()) << first_mismatches(o);
        EXPECT_EQ(o.delivered, own.size());
        EXPECT_EQ(o.end, RM_END_OF_DATA) << s.log.last_message();
    }
}

INSTANTIATE_TEST_SUITE_P(FfmpegSamples, SampleFile, ::testing::ValuesIn(SAMPLES), sample_name);
