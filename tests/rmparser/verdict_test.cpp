// Cuts and wrong lengths anywhere in the packet data: never a clean end, always damage at the packet it hits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/rm_reader_fixture.h"

namespace {

using namespace rmtest;

void IgnoreReports(void*, rm_result, const char*) {}

// What one way of reading a file met: the header offset of each packet
// delivered, how the reading ended and where the reader says it stopped.
struct Walk {
    std::vector<uint64_t> packets;
    rm_result end = RM_OK;
    uint64_t offset = 0;
};

// The two ways a file is read: one stream by its selector (the others
// stepped over), or every kept stream's headers without their payloads.
enum class Path { VIDEO_SELECTOR, HEADERS };

// A file's bytes read as if it ended at `cut`, without a copy. With a
// splice, the packets from `from` on follow the header part directly, the
// DATA size shortened to match, so that the reading of a change late in a
// file starts just before it: the packets before `from` are read alike with
// or without the change, and thousands of changes are read here.
struct CutIo {
    const Bytes* data = nullptr;
    uint64_t cut = 0;
    Bytes head;  // the header part up to the first packet, DATA size patched
    uint64_t from = 0;
    uint64_t position = 0;  // in the file as read, head first
    // A changed 16-bit field: its file offset (UINT64_MAX: none) and value.
    uint64_t patch_at = UINT64_MAX;
    uint16_t patch = 0;

    uint64_t real(uint64_t at) const { return at < head.size() ? at : at - head.size() + from; }
    static uint32_t read(void* user, void* destination, uint32_t count) {
        CutIo* io = static_cast<CutIo*>(user);
        uint8_t* out = static_cast<uint8_t*>(destination);
        uint32_t n = 0;
        for (; n < count && io->position < io->head.size(); ++n) out[n] = io->head[size_t(io->position++)];
        const uint64_t end = std::min<uint64_t>(io->cut, io->data->size());
        const uint64_t at = io->real(io->position);
        if (n == count || at >= end) return n;
        const uint32_t more = uint32_t(std::min<uint64_t>(count - n, end - at));
        std::memcpy(out + n, io->data->data() + at, more);
        for (uint64_t k = 0; k < 2 && io->patch_at != UINT64_MAX; ++k) {
            if (io->patch_at + k >= at && io->patch_at + k < at + more) {
                out[n + (io->patch_at + k - at)] = uint8_t(k == 0 ? io->patch >> 8 : io->patch);
            }
        }
        io->position += more;
        return n + more;
    }
    static void seek(void* user, int32_t offset, int origin) {
        CutIo* io = static_cast<CutIo*>(user);
        const int64_t target = origin == RM_SEEK_SET ? int64_t(uint32_t(offset)) : int64_t(io->position) + offset;
        if (target >= 0) io->position = uint64_t(target);
    }
    static uint32_t tell(void* user) { return uint32_t(static_cast<CutIo*>(user)->position); }
};

// Reads `file` as if it ended at `cut` bytes; with `first_packet` and `from`
// (a later packet's start), spliced as CutIo says. Offsets are the file's.
// A 16-bit field changed in the bytes read, without a copy of the file.
struct Patch {
    uint64_t at = UINT64_MAX;
    uint16_t value = 0;
};

// How the bytes reach the reader: read and sought only (no sizes), or shown
// in windows as well, of these sizes in turn from the `phase`-th on.
struct Windows {
    std::vector<uint32_t> sizes;
    size_t phase = 0;
};
const Windows READ_ONLY;

// Windows that end inside headers (1, 7, 12, 13, 14, 25) and payloads,
// none at all (0), and larger than any packet.
Windows windows_from(size_t phase) {
    const uint32_t sizes[] = {13, 1, 40, 0, 12, 200, 25, 4096, 14, 65536, 7, 1000};
    const size_t count = sizeof sizes / sizeof sizes[0];
    Windows w;
    for (size_t k = 0; k < count; ++k) w.sizes.push_back(sizes[(phase + k) % count]);
    return w;
}

Walk walk(const Bytes& file, uint64_t cut, Path path, int32_t video, bool every, const Patch& patch,
          const Windows& windows, uint64_t first_packet = 0, uint64_t from = 0) {
    CutIo io;
    io.data = &file;
    io.cut = cut;
    io.patch_at = patch.at;
    io.patch = patch.value;
    if (from > first_packet) {
        io.head.assign(file.begin(), file.begin() + std::ptrdiff_t(first_packet));
        const size_t size_at = size_t(first_packet - RM_DATA_HEADER_SIZE + 4);
        set_u32(io.head, size_at, uint32_t(get_u32(io.head, size_at) - (from - first_packet)));
        io.from = from;
    }
    rm_reader* reader = rm_reader_new(nullptr, IgnoreReports);
    Walk w;
    WindowIo windowed(&CutIo::read, &CutIo::seek, &CutIo::tell, &io, windows.sizes);
    w.end = windows.sizes.empty() ? rm_reader_attach_io(reader, &CutIo::read, &CutIo::seek, &CutIo::tell, &io)
                                  : windowed.attach(reader);
    if (w.end == RM_OK) w.end = rm_reader_keep_every_stream(reader, every ? 1 : 0);
    if (w.end == RM_OK) w.end = rm_reader_load_headers(reader);
    for (size_t guard = 0; w.end == RM_OK && guard < 100000; ++guard) {
        if (path == Path::VIDEO_SELECTOR) {
            rm_packet* packet = nullptr;
            w.end = rm_reader_next_packet(reader, &packet, video);
            rm_reader_release_packet(reader, &packet);
        } else {
            rm_packet packet = {};
            w.end = rm_reader_next_packet_header(reader, &packet, -1);
        }
        if (w.end == RM_OK) w.packets.push_back(io.real(rm_reader_packet_offset(reader)));
    }
    w.offset = io.real(rm_reader_packet_offset(reader));
    rm_reader_delete(&reader);
    return w;
}

// A file with what its intact reading gives: every packet's start and end,
// and the DATA heads after the first, each a stretch where a cut lands on
// the head. `every`: read with every stream kept.
struct Subject {
    std::string name;
    Bytes file;
    int32_t video = 0;
    bool every = false;
    std::vector<uint64_t> starts, ends;  // every packet, file order
    std::vector<uint64_t> video_starts;
    struct Head {
        uint64_t from, at;  // a cut in [from, at + 18) hits the head at `at`
    };
    std::vector<Head> heads;

    // Where a cut at `cut` must be reported: the first packet the file no
    // longer holds whole, or the chained head it cuts off.
    uint64_t damage_at(uint64_t cut) const {
        for (const Head& head : heads) {
            if (cut >= head.from && cut < head.at + RM_DATA_HEADER_SIZE) return head.at;
        }
        const size_t k = size_t(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        return starts[k];
    }
    // The packets a reading from packet `from` delivers before `before`.
    std::vector<uint64_t> delivered(Path path, size_t from, uint64_t before) const {
        const std::vector<uint64_t>& all = path == Path::VIDEO_SELECTOR ? video_starts : starts;
        std::vector<uint64_t> kept;
        for (uint64_t s : all) {
            if (s >= starts[from] && s < before) kept.push_back(s);
        }
        return kept;
    }
    // The file cut at `cut` and patched, its packets read from
    // packet `from` on where the file allows a splice (one DATA chunk), and
    // otherwise from the first.
    Walk read(uint64_t cut, const Patch& patch, Path path, size_t* from, const Windows& windows) const {
        if (!heads.empty()) *from = 0;
        if (*from == 0) return walk(file, cut, path, video, every, patch, windows);
        return walk(file, cut, path, video, every, patch, windows, starts.front(), starts[*from]);
    }
};

// Learns a file's packets from its intact header walk (the samples' own
// packet lists check that walk against ffprobe elsewhere).
Subject learn(const std::string& name, Bytes file, int32_t video, bool every = false) {
    Subject s;
    s.name = name;
    s.file = std::move(file);
    s.video = video;
    s.every = every;
    ReaderFixture h(s.file);
    EXPECT_EQ(RM_OK, rm_reader_keep_every_stream(h.reader, every ? 1 : 0));
    EXPECT_EQ(RM_OK, h.load()) << name;
    for (;;) {
        rm_packet packet = {};
        if (rm_reader_next_packet_header(h.reader, &packet, -1) != RM_OK) break;
        const uint64_t start = rm_reader_packet_offset(h.reader);
        s.starts.push_back(start);
        s.ends.push_back(packet.file_offset + packet.length);  // past a header of either version
        if (packet.stream == uint16_t(video)) s.video_starts.push_back(start);
    }
    return s;
}

// The checks of one damaged reading: not a clean end, the packets before the
// damage and nothing else, the damage where it is.
void expect_damage(const Subject& s, const Walk& w, Path path, size_t from, uint64_t at) {
    EXPECT_NE(RM_END_OF_DATA, w.end);
    EXPECT_EQ(s.delivered(path, from, at), w.packets);
    EXPECT_EQ(at, w.offset);
}

// Streams as encoders declare them, with their largest payloads.
MdprChunk declared(MdprChunk m, uint32_t max_packet_size) {
    m.max_packet_size = max_packet_size;
    return m;
}

// Video (0) and audio (1) interleaved: video packets of varied sizes, frames
// over several packets, audio that a video reading steps over.
void add_packets(RmWriter& w, uint32_t from_ms, uint32_t count) {
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t t = from_ms + 125 * k;
        w.packet(make_packet(0, t, 90 + (k * 37) % 150, k % 8 == 0));
        if (k % 3 == 0) w.packet(make_packet(0, t, 90));
        w.packet(make_packet(1, t, 20, true));
    }
}

Subject single_chunk() {
    RmWriter w;
    w.rmf().prop().mdpr(declared(video_mdpr(0), 240)).mdpr(declared(audio_mdpr(1), 20)).data();
    add_packets(w, 0, 24);
    w.indx(3);
    return learn("one DATA chunk", w.bytes(), 0);
}

// Two DATA chunks, the first naming the second, an index between them.
Subject chained_chunks() {
    RmWriter w;
    DataChunk linked;
    linked.link_next = true;
    w.rmf().prop().mdpr(declared(video_mdpr(0), 240)).mdpr(declared(audio_mdpr(1), 20)).data(linked);
    add_packets(w, 0, 12);
    const uint64_t first_end = w.offset();
    w.indx(2);
    const uint64_t second = w.offset();
    w.data();
    add_packets(w, 1500, 12);
    Subject s = learn("two chained DATA chunks", w.bytes(), 0);
    s.heads.push_back({first_end, second});
    return s;
}

// A multi-rate file, every stream kept: five rates with version 1 headers,
// each in a DATA chunk of its own; small, since each cut reads it whole.
Subject multi_rate(DataLayout layout, const char* name) {
    MultiRatePlan plan;
    plan.video_rates = {8000, 16000, 24000};
    plan.audio_rates = {2000, 4000};
    plan.packets = 4;
    plan.layout = layout;
    plan.compatible_stream = layout == DataLayout::MIXED;
    const MultiRate m = multi_rate_writer(plan);
    Subject s = learn(name, m.writer.bytes(), 1, true);
    for (size_t c = 1; c < m.data_offsets.size(); ++c) {
        const uint64_t before_end = m.data_offsets[c - 1] + get_u32(s.file, m.data_offsets[c - 1] + 4);
        s.heads.push_back({before_end, m.data_offsets[c]});
    }
    return s;
}

Bytes read_sample(const std::string& name) {
    std::ifstream in(std::string(KOV_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct SampleFile {
    const char* name;
    int32_t video;  // stream index of the video, or -1 for none
};
const SampleFile SAMPLES[] = {
    {"demo.rm", 0},         {"rv10_ra144.rm", 0},    {"rv20_ac3.rm", 0},
    {"rv20_video.rmvb", 0}, {"rv20_vbr_long.rm", 1}, {"ra144_audio.rm", -1},
};

// Every cut from the first packet to the end of the last, both ways of
// reading: damaged where the cut lies, the packets before it delivered.
// `windowed`: the bytes shown in windows too, their ends moving from cut to
// cut.
void sweep_cuts(const Subject& s, uint64_t step, bool windowed = false) {
    ASSERT_FALSE(s.starts.empty()) << s.name;
    for (uint64_t cut = s.starts.front(); cut < s.ends.back(); cut += step) {
        const uint64_t at = s.damage_at(cut);
        // From two packets before the one cut, so that a splice leaves one
        // whole packet to read first.
        const size_t cut_packet = size_t(std::upper_bound(s.ends.begin(), s.ends.end(), cut) - s.ends.begin());
        for (Path path : {Path::VIDEO_SELECTOR, Path::HEADERS}) {
            if (path == Path::VIDEO_SELECTOR && s.video < 0) continue;
            SCOPED_TRACE(testing::Message()
                         << s.name << " cut at " << cut << (path == Path::HEADERS ? ", headers" : ""));
            size_t from = cut_packet >= 2 ? cut_packet - 2 : 0;
            const Walk w = s.read(cut, Patch(), path, &from, windowed ? windows_from(size_t(cut / step)) : READ_ONLY);
            expect_damage(s, w, path, from, at);
            if (::testing::Test::HasFailure()) return;
        }
    }
    // And the intact file, for contrast.
    for (size_t phase = 0; phase < (windowed ? 12 : 1); ++phase) {
        size_t from = 0;
        const Walk whole =
            s.read(UINT64_MAX, Patch(), Path::HEADERS, &from, windowed ? windows_from(phase) : READ_ONLY);
        EXPECT_EQ(RM_END_OF_DATA, whole.end) << s.name;
        EXPECT_EQ(s.starts, whole.packets) << s.name;
    }
}

TEST(Verdict, EveryCutInWriterMadeFilesIsDamageWhereItLies) {
    sweep_cuts(single_chunk(), 1);
    sweep_cuts(chained_chunks(), 1);
}

// Back to back, a cut at a chunk's end is damage too: the logical stream
// headers name the chunk that the file no longer holds.
TEST(Verdict, EveryCutInMultiRateFilesIsDamageWhereItLies) {
#ifdef _WIN32
    const uint64_t step = 7;  // emulated Wine: a spread of the same cuts
#else
    const uint64_t step = 1;
#endif
    sweep_cuts(multi_rate(DataLayout::BACK_TO_BACK, "multi-rate, back to back"), step);
    sweep_cuts(multi_rate(DataLayout::MIXED, "multi-rate, chained and back to back"), step);
}

TEST(Verdict, EveryNinetySeventhCutInEverySampleIsDamage) {
#ifdef _WIN32
    const uint64_t step = 97 * 7;  // emulated Wine: a spread of the same cuts
#else
    const uint64_t step = 97;
#endif
    for (const SampleFile& sample : SAMPLES)
        sweep_cuts(learn(sample.name, read_sample(sample.name), sample.video), step);
}

// A packet's length one or sixteen bytes off in either direction: the packets
// before it stand, and the reading never ends as if the file were whole.
void sweep_lengths(const Subject& s, size_t every, bool windowed = false) {
    for (size_t k = 0; k < s.starts.size(); k += every) {
        const uint16_t length = get_u16(s.file, size_t(s.starts[k] + 2));
        for (int delta : {1, -1, 16, -16}) {
            Patch edit;
            edit.at = s.starts[k] + 2;
            edit.value = uint16_t(length + delta);
            for (Path path : {Path::VIDEO_SELECTOR, Path::HEADERS}) {
                if (path == Path::VIDEO_SELECTOR && s.video < 0) continue;
                SCOPED_TRACE(testing::Message() << s.name << " packet " << k << " length " << length << " "
                                                << (delta > 0 ? "+" : "") << delta);
                size_t from = k >= 2 ? k - 2 : 0;
                const Walk w = s.read(UINT64_MAX, edit, path, &from, windowed ? windows_from(k) : READ_ONLY);
                EXPECT_NE(RM_END_OF_DATA, w.end);
                const std::vector<uint64_t> before = s.delivered(path, from, s.starts[k]);
                ASSERT_GE(w.packets.size(), before.size());
                EXPECT_TRUE(std::equal(before.begin(), before.end(), w.packets.begin()));
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

TEST(Verdict, EveryWrongLengthInWriterMadeFilesIsDamage) {
    sweep_lengths(single_chunk(), 1);
    sweep_lengths(chained_chunks(), 1);
}

TEST(Verdict, EveryWrongLengthInMultiRateFilesIsDamage) {
    sweep_lengths(multi_rate(DataLayout::BACK_TO_BACK, "multi-rate, back to back"), 1);
    sweep_lengths(multi_rate(DataLayout::MIXED, "multi-rate, chained and back to back"), 1);
}

TEST(Verdict, EveryWrongLengthInEverySampleIsDamage) {
#ifdef _WIN32
    const size_t every = 29;
#else
    const size_t every = 1;
#endif
    for (const SampleFile& sample : SAMPLES) {
        sweep_lengths(learn(sample.name, read_sample(sample.name), sample.video), every);
    }
}

// The same sweeps with the bytes shown in windows that end anywhere: the
// walk that decodes headers in place finds what the reading walk finds.
TEST(Verdict, EveryOtherCutIsDamageWhereItLiesThroughWindows) {
#ifdef _WIN32
    const uint64_t step = 13;  // emulated Wine: a spread of the same cuts
#else
    const uint64_t step = 2;
#endif
    sweep_cuts(single_chunk(), step, true);
    sweep_cuts(chained_chunks(), step, true);
    sweep_cuts(multi_rate(DataLayout::BACK_TO_BACK, "multi-rate, back to back"), step, true);
    sweep_cuts(multi_rate(DataLayout::MIXED, "multi-rate, chained and back to back"), step, true);
    for (const SampleFile& sample : SAMPLES)
        sweep_cuts(learn(sample.name, read_sample(sample.name), sample.video), step * 97 + 3, true);
}

TEST(Verdict, EveryWrongLengthIsDamageThroughWindows) {
#ifdef _WIN32
    const size_t every = 59;
#else
    const size_t every = 5;
#endif
    sweep_lengths(single_chunk(), 1, true);
    sweep_lengths(chained_chunks(), 1, true);
    sweep_lengths(multi_rate(DataLayout::BACK_TO_BACK, "multi-rate, back to back"), 1, true);
    sweep_lengths(multi_rate(DataLayout::MIXED, "multi-rate, chained and back to back"), 1, true);
    for (const SampleFile& sample : SAMPLES) {
        sweep_lengths(learn(sample.name, read_sample(sample.name), sample.video), every, true);
    }
}

}  // namespace
