// Writes the writer-made files of the report check into a folder: damaged
// files of each kind and one file per finding, described with the test writer.
#include <cstdio>
#include <string>
#include <vector>

#include "rmparser/rm_reader.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

const size_t PROP_INDEX_OFFSET_AT = 18 + 10 + 7 * 4;

bool WriteFile(const std::string& directory, const std::string& name, const Bytes& bytes) {
    const std::string path = directory + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "make_report_files: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// Video and audio, 3 s of packets; where each packet starts.
struct Clip {
    RmWriter writer;
    std::vector<size_t> offsets;
    size_t data_offset = 0;
};

Clip MakeClip(const PropChunk& prop = {}, const MdprChunk& video = video_mdpr(0), const DataChunk& data = {}) {
    Clip clip;
    clip.writer.rmf().prop(prop).mdpr(video).mdpr(audio_mdpr(1));
    clip.data_offset = clip.writer.offset();
    clip.writer.data(data);
    for (uint32_t t = 0; t <= 3000; t += 250) {
        clip.offsets.push_back(clip.writer.offset());
        clip.writer.packet(make_packet(0, t, 200, t % 1000 == 0));
        clip.offsets.push_back(clip.writer.offset());
        clip.writer.packet(make_packet(1, t + 5, 50));
    }
    return clip;
}

Bytes Cut(const Bytes& bytes, size_t size) { return Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(size)); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_report_files DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    const Clip clip = MakeClip();
    const Bytes whole = clip.writer.bytes();

    ok &= WriteFile(dir, "clean.rm", whole);
    ok &= WriteFile(dir, "cut_in_packet.rm", Cut(whole, clip.offsets[9] + 30));
    ok &= WriteFile(dir, "cut_in_headers.rm", Cut(whole, 30));
    ok &= WriteFile(dir, "no_data.rm", Cut(whole, clip.data_offset));
    ok &= WriteFile(dir, "stub.rm", Cut(whole, 10));
    Bytes garbled = whole;
    set_u16(garbled, clip.offsets[12], 9);  // a packet header of version 9
    ok &= WriteFile(dir, "garbled.rm", garbled);

    DataChunk counted;
    counted.packet_count = 30;
    ok &= WriteFile(dir, "packet_count.rm", MakeClip({}, video_mdpr(0), counted).writer.bytes());

    PropChunk long_prop;
    long_prop.duration = 9000;
    ok &= WriteFile(dir, "duration.rm", MakeClip(long_prop).writer.bytes());

    ok &= WriteFile(dir, "max_bitrate.rm", MakeClip({}, video_mdpr(0, 4000, 5000)).writer.bytes());

    Clip indexed = MakeClip();
    const size_t index = indexed.writer.offset();
    indexed.writer.chunk(RM_ID_INDX, encode_index_body(0, {{0, uint32_t(indexed.offsets[0]), 0},
                                                           {1000, uint32_t(indexed.offsets[8]) + 3, 4}}));
    Bytes index_bytes = indexed.writer.bytes();
    set_u32(index_bytes, PROP_INDEX_OFFSET_AT, uint32_t(index));
    ok &= WriteFile(dir, "index.rm", index_bytes);

    DataChunk past;
    past.size = uint32_t(clip.writer.offset() - clip.data_offset + 100);
    ok &= WriteFile(dir, "data_size_past.rm", MakeClip({}, video_mdpr(0), past).writer.bytes());
    DataChunk short_size;
    short_size.size = uint32_t(clip.offsets[20] - clip.data_offset);
    short_size.packet_count = 20;
    ok &= WriteFile(dir, "data_size_short.rm", MakeClip({}, video_mdpr(0), short_size).writer.bytes());

    const std::string hd = std::string(".RMP\0\0\0\x12\0\0", 10) + std::string(100, '\x01');
    ok &= WriteFile(dir, "hd.rmvb", Bytes(hd.begin(), hd.end()));
    const std::string audio = std::string(".ra\xfd\0\x04\0\0", 8) + std::string(100, '\x01');
    ok &= WriteFile(dir, "bare.ra", Bytes(audio.begin(), audio.end()));
    return ok ? 0 : 1;
}
