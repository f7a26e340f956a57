// The report on one file: what its first bytes make it, the verdict on
// writer-made files of every kind, each finding on a file that shows it and
// on no other, and the intact samples.
#include "analysis/file_report.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

const size_t PROP_INDEX_OFFSET_AT = 18 + 10 + 7 * 4;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

FileReport ReportOf(const Bytes& bytes) {
    TempFile file(bytes);
    EXPECT_FALSE(file.path.empty());
    return ReportFile(file.path.c_str());
}

std::set<std::string> Codes(const FileReport& report) {
    std::set<std::string> codes;
    for (const ReportFinding& finding : report.findings) codes.insert(finding.code);
    return codes;
}

std::string Details(const FileReport& report) {
    std::string text;
    for (const ReportFinding& finding : report.findings) text += finding.code + ": " + finding.detail + "\n";
    return text;
}

// A video stream and an audio stream, 3 s of packets, and where each starts.
struct Clip {
    RmWriter writer;
    std::vector<size_t> offsets;
    std::vector<Packet> packets;
    size_t data_offset = 0;
};

Clip MakeClip(const PropChunk& prop = {}, MdprChunk video = video_mdpr(0), const DataChunk& data = {}) {
    Clip clip;
    clip.writer.rmf().prop(prop).mdpr(video).mdpr(audio_mdpr(1));
    clip.data_offset = clip.writer.offset();
    clip.writer.data(data);
    for (uint32_t t = 0; t <= 3000; t += 250) {
        clip.packets.push_back(make_packet(0, t, 200, t % 1000 == 0));
        clip.packets.push_back(make_packet(1, t + 5, 50));
    }
    for (const Packet& p : clip.packets) {
        clip.offsets.push_back(clip.writer.offset());
        clip.writer.packet(p);
    }
    return clip;
}

TEST(FileReport, WhatTheFirstBytesMakeAFile) {
    struct Case {
        std::string bytes;
        FileKind kind;
    };
    const Case cases[] = {
        {".RMF\0\0\0\x12", FILE_REALMEDIA},
        {".RMP\0\0", FILE_REALMEDIA_HD},
        {".ra\xfd\0\x04", FILE_REALAUDIO},
        {".ra\xfe", FILE_OTHER},
        {".RM", FILE_OTHER},
        {"", FILE_OTHER},
        {".rmf", FILE_OTHER},
        {"RIFF....AVI ", FILE_OTHER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyFileStart(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.kind)
            << c.bytes;
    }
}

TEST(FileReport, VerdictOnEachKindOfFile) {
    const Clip clip = MakeClip();
    const Bytes whole = clip.writer.bytes();
    struct Case {
        const char* name;
        Bytes bytes;
        FileVerdict verdict;
        bool video;
    };
    const Case cases[] = {
        {"intact", whole, VERDICT_CLEAN, true},
        {"audio only", simple_file({audio_mdpr(0)}, {make_packet(0, 0, 20), make_packet(0, 100, 20)}), VERDICT_CLEAN,
         false},
        {"cut in a packet", Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(clip.offsets[9] + 30)), VERDICT_DAMAGED,
         true},
        {"cut in the PROP", Bytes(whole.begin(), whole.begin() + 30), VERDICT_HEADERS_DAMAGED, false},
        {"cut in an MDPR", Bytes(whole.begin(), whole.begin() + 90), VERDICT_HEADERS_DAMAGED, false},
        {"no DATA chunk", Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(clip.data_offset)),
         VERDICT_HEADERS_DAMAGED, false},
        {"a stub", Bytes(whole.begin(), whole.begin() + 10), VERDICT_HEADERS_DAMAGED, false},
        {"RealMedia HD", Text(std::string(".RMP\0\0\0\x12", 8) + std::string(200, 'x')), VERDICT_REALMEDIA_HD, false},
        {"RealAudio", Text(std::string(".ra\xfd\0\x04\0\0", 8) + std::string(200, 'x')), VERDICT_REALAUDIO, false},
        {"text", Text("# not a clip\n"), VERDICT_NOT_REALMEDIA, false},
        {"empty", Bytes(), VERDICT_NOT_REALMEDIA, false},
    };
    for (const Case& c : cases) {
        const FileReport report = ReportOf(c.bytes);
        EXPECT_EQ(report.verdict, c.verdict) << c.name << "\n" << Details(report);
        EXPECT_EQ(report.video, c.video) << c.name;
        EXPECT_EQ(report.damaged, c.verdict == VERDICT_DAMAGED) << c.name;
        EXPECT_EQ(report.file_size, c.bytes.size()) << c.name;
        EXPECT_FALSE(report.stopped) << c.name;
        // The headers say why; other verdicts carry no such finding.
        EXPECT_EQ(Codes(report).count("headers"), c.verdict == VERDICT_HEADERS_DAMAGED ? 1u : 0u) << c.name;
    }
    EXPECT_EQ(ReportFile("/nonexistent/kov/clip.rm").verdict, VERDICT_UNREADABLE);
    EXPECT_EQ(ReportFile(KOV_SOURCE_DIR "/samples").verdict, VERDICT_UNREADABLE);
}

TEST(FileReport, TheEvidenceOfAVerdict) {
    const Clip clip = MakeClip();
    const Bytes whole = clip.writer.bytes();
    const FileReport clean = ReportOf(whole);
    EXPECT_EQ(clean.verdict, VERDICT_CLEAN);
    ASSERT_TRUE(clean.has_duration);
    EXPECT_EQ(clean.duration_ms, 3005u);
    ASSERT_EQ(clean.streams.size(), 2u);
    EXPECT_EQ(clean.streams[0].number, 0u);
    EXPECT_EQ(clean.streams[0].mime_type, REAL_VIDEO_MIME);
    EXPECT_EQ(clean.streams[0].packets, 13u);
    ASSERT_TRUE(clean.streams[0].has_kbps);
    EXPECT_NEAR(clean.streams[0].kbps, 13 * 200 * 8 / 3000.0, 1e-9);
    EXPECT_EQ(clean.streams[1].number, 1u);
    EXPECT_EQ(clean.streams[1].packets, 13u);

    // Cut in the payload of packet 9 (audio at 1005 ms): the video's last
    // whole packet is packet 8, at 1000 ms.
    const FileReport cut = ReportOf(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(clip.offsets[9] + 30)));
    ASSERT_TRUE(cut.damaged);
    EXPECT_EQ(cut.damage.offset, clip.offsets[9]);
    ASSERT_TRUE(cut.damage.has_last_timestamp);
    EXPECT_EQ(cut.damage.last_timestamp_ms, 1000u);
    EXPECT_FALSE(cut.damage.result.empty());
    EXPECT_FALSE(cut.damage.message.empty());

    // The same cut in a file without video: the last packet of any stream.
    RmWriter audio;
    audio.rmf().prop().mdpr(audio_mdpr(0)).data();
    std::vector<size_t> at;
    for (uint32_t t = 0; t < 5; ++t) {
        at.push_back(audio.offset());
        audio.packet(make_packet(0, t * 100, 40));
    }
    const Bytes audio_bytes = audio.bytes();
    const FileReport audio_cut = ReportOf(Bytes(audio_bytes.begin(), audio_bytes.begin() + std::ptrdiff_t(at[3] + 20)));
    EXPECT_EQ(audio_cut.verdict, VERDICT_DAMAGED);
    EXPECT_EQ(audio_cut.damage.offset, at[3]);
    EXPECT_EQ(audio_cut.damage.last_timestamp_ms, 200u);

    const FileReport headers = ReportOf(Bytes(whole.begin(), whole.begin() + 30));
    ASSERT_EQ(headers.findings.size(), 1u);
    EXPECT_EQ(headers.findings[0].detail, "the file ends at byte 30, in the head of the PROP chunk at 18");
    const size_t in_data_head = clip.data_offset + 12;
    const FileReport data_head = ReportOf(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(in_data_head)));
    EXPECT_EQ(data_head.verdict, VERDICT_HEADERS_DAMAGED);
    ASSERT_EQ(data_head.findings.size(), 1u);
    EXPECT_EQ(data_head.findings[0].detail, "the file ends at byte " + std::to_string(in_data_head) +
                                                ", in the head of the DATA chunk at " +
                                                std::to_string(clip.data_offset));
}

TEST(FileReport, AFileWhoseVideoStopsTheMeasurementIsStillReadToItsEnd) {
    // A gap in the video ends its windows; the audio after it is read all
    // the same, so that the cut after it shows.
    std::vector<Packet> packets = {make_packet(0, 0, 100, true), make_packet(0, 1100, 100), make_packet(0, 9000, 100),
                                   make_packet(1, 9100, 30), make_packet(1, 9200, 30)};
    const Bytes whole = simple_file({video_mdpr(0), audio_mdpr(1)}, packets);
    const FileReport clean = ReportOf(whole);
    EXPECT_EQ(clean.verdict, VERDICT_CLEAN);
    EXPECT_TRUE(clean.video);
    EXPECT_EQ(clean.streams[1].packets, 2u);
    EXPECT_EQ(clean.duration_ms, 9200u);
    const FileReport cut = ReportOf(Bytes(whole.begin(), whole.end() - 10));
    EXPECT_EQ(cut.verdict, VERDICT_DAMAGED);
}

TEST(FileReport, EachFindingOnAFileThatShowsIt) {
    struct Case {
        const char* name;
        Bytes bytes;
        FileVerdict verdict;
        std::vector<std::string> details;  // every finding, in order
    };
    std::vector<Case> cases;
    {
        DataChunk data;
        data.packet_count = 30;
        const Clip clip = MakeClip({}, video_mdpr(0), data);
        cases.push_back(
            {"packet count",
             clip.writer.bytes(),
             VERDICT_CLEAN,
             {"packet_count: DATA at " + std::to_string(clip.data_offset) + " declares 30 packets, holds 26"}});
    }
    {
        PropChunk prop;
        prop.duration = 9000;
        MdprChunk video = video_mdpr(0);
        video.duration = 1500;
        cases.push_back({"durations",
                         MakeClip(prop, video).writer.bytes(),
                         VERDICT_CLEAN,
                         {"duration: PROP declares 9000 ms, the last packet is at 3005 ms",
                          "duration: stream 0 declares 1500 ms, its last packet is at 3000 ms"}});
    }
    {
        // The first window (0 to 1250 ms) holds six packets of 200 bytes: 7 kbps,
        // more than the 5000 bits a second declared.
        cases.push_back({"max bitrate",
                         MakeClip({}, video_mdpr(0, 4000, 5000)).writer.bytes(),
                         VERDICT_CLEAN,
                         {"max_bitrate: stream 0: 7 kbps in the second from 0 ms, declared at most 5000 bps"}});
    }
    {
        // Entries: one at a packet of the other stream, one a byte off, one
        // with another time; no index for stream 1; one that the INDX size
        // leaves no room for.
        Clip clip = MakeClip();
        const size_t index = clip.writer.offset();
        const std::vector<IndexEntry> entries = {{0, uint32_t(clip.offsets[0]), 0},
                                                 {1005, uint32_t(clip.offsets[9]), 0},
                                                 {2000, uint32_t(clip.offsets[16]) + 1, 0},
                                                 {2750, uint32_t(clip.offsets[24]), 0}};
        clip.writer.chunk(RM_ID_INDX, encode_index_body(0, entries, 0, 5u));
        Bytes bytes = clip.writer.bytes();
        set_u32(bytes, PROP_INDEX_OFFSET_AT, uint32_t(index));
        const std::string at = "INDX at " + std::to_string(index) + " (stream 0)";
        cases.push_back({"index",
                         bytes,
                         VERDICT_CLEAN,
                         {"index: " + at + " declares 5 entries, holds 4",
                          "index: " + at +
                              ": 2 of 4 entries point at no packet start of the stream, the first "
                              "(entry 1) at byte " +
                              std::to_string(clip.offsets[9]),
                          "index: " + at +
                              ": 1 of 4 entries give another time than their packet, the first "
                              "(entry 3) 2750 ms for 3000 ms",
                          "index: stream 1 has no index entries, where 1 other stream has one"}});
    }
    {
        // A size 100 bytes past the file: the reader meets the end of the
        // file where it expects a packet.
        DataChunk data;
        Clip probe = MakeClip();
        data.size = uint32_t(probe.writer.offset() - probe.data_offset + 100);
        const Clip clip = MakeClip({}, video_mdpr(0), data);
        cases.push_back(
            {"size past the file",
             clip.writer.bytes(),
             VERDICT_DAMAGED,
             {"data_size: DATA at " + std::to_string(clip.data_offset) + " declares " + std::to_string(*data.size) +
              " bytes, to byte " + std::to_string(clip.data_offset + *data.size) + ": 100 past the file's end"}});
    }
    {
        DataChunk data;
        Clip probe = MakeClip();
        data.size = uint32_t(probe.offsets[20] - probe.data_offset);
        data.packet_count = 20;
        const Clip clip = MakeClip({}, video_mdpr(0), data);
        cases.push_back(
            {"size before the packets",
             clip.writer.bytes(),
             VERDICT_DAMAGED,
             {"data_size: DATA at " + std::to_string(clip.data_offset) + " declares " + std::to_string(*data.size) +
              " bytes, to byte " + std::to_string(clip.offsets[20]) + ", where a packet follows"}});
    }
    for (const Case& c : cases) {
        const FileReport report = ReportOf(c.bytes);
        EXPECT_EQ(report.verdict, c.verdict) << c.name;
        std::string expected;
        for (const std::string& detail : c.details) expected += detail + "\n";
        EXPECT_EQ(Details(report), expected) << c.name;
    }
}

TEST(FileReport, DurationIsNotJudgedOnADamagedFile) {
    PropChunk prop;
    prop.duration = 3000;
    const Clip clip = MakeClip(prop);
    const Bytes whole = clip.writer.bytes();
    const FileReport cut = ReportOf(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(clip.offsets[5] + 4)));
    EXPECT_EQ(cut.verdict, VERDICT_DAMAGED);
    EXPECT_EQ(Codes(cut), (std::set<std::string>{"data_size"})) << Details(cut);
}

TEST(FileReport, TheIntactSamples) {
    // ffmpeg declares a stream's largest bitrate as its average, which the
    // video's busiest seconds pass in three of the samples.
    struct Case {
        const char* name;
        bool video;
        std::set<std::string> codes;
    };
    const Case cases[] = {
        {"demo.rm", true, {}},
        {"ra144_audio.rm", false, {}},
        {"rv10_ra144.rm", true, {"max_bitrate"}},
        {"rv20_ac3.rm", true, {"max_bitrate"}},
        {"rv20_vbr_long.rm", true, {}},
        {"rv20_video.rmvb", true, {"max_bitrate"}},
    };
    for (const Case& c : cases) {
        const std::string path = std::string(KOV_SOURCE_DIR "/samples/") + c.name;
        const FileReport report = ReportFile(path.c_str());
        EXPECT_EQ(report.verdict, VERDICT_CLEAN) << c.name;
        EXPECT_EQ(report.video, c.video) << c.name;
        EXPECT_EQ(Codes(report), c.codes) << c.name << "\n" << Details(report);
    }
}

TEST(FileReport, AStopRequestSaysNothing) {
    std::atomic<bool> stop(true);
    TempFile file(MakeClip().writer.bytes());
    EXPECT_TRUE(ReportFile(file.path.c_str(), &stop).stopped);
}

}  // namespace
