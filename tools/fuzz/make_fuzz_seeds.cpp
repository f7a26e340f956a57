// Writes the fuzzer's seed corpus: small synthetic files that reach every
// stage of the reader (chunk loop, logical streams, selection, tables,
// packets of every class), described with the test writer.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

bool WriteSeed(const std::string& directory, const std::string& name, const Bytes& bytes) {
    const std::string path = directory + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<Packet> Interleaved(int count) {
    std::vector<Packet> packets;
    for (int i = 0; i < count; ++i) {
        packets.push_back(make_packet(0, uint32_t(i) * 100, 40 + uint32_t(i % 7) * 10, i % 5 == 0));
        packets.push_back(make_packet(1, uint32_t(i) * 100 + 10, 20, true));
    }
    return packets;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    ok &= WriteSeed(dir, "video.rm",
                    video_file({make_packet(0, 0, 50, true), make_packet(0, 0, 30), make_packet(0, 1100, 60),
                                make_packet(0, 2300, 70, true)}));
    ok &= WriteSeed(dir, "video_audio.rm",
                    simple_file({video_mdpr(0, 300000, 450000), audio_mdpr(1, 8000, 8000)}, Interleaved(12), 1));

    ContChunk cont;
    cont.title = "title";
    cont.author = "author";
    cont.copyright = "(c)";
    cont.comment = "comment";
    LogicalStream logical;
    logical.physical_streams = {0, 1};
    logical.rule_map = {0, 1, 0, 1};
    logical.properties = {nv_int("Bitrate", 1000), nv_string("Name", "x"), nv_buffer("Blob", {1, 2, 3})};
    MdprChunk event;
    event.stream_number = 3;
    event.mime_type = REAL_EVENT_MIME;
    event.duration = 9000;
    RmWriter surestream;
    surestream.rmf({0, 1})
        .prop()
        .cont(cont)
        .mdpr(video_mdpr(0, 200000, 200000))
        .mdpr(video_mdpr(1, 100000, 100000))
        .mdpr(logical_mdpr(2, logical, "logical-video/x-pn-realvideo"))
        .mdpr(event)
        .mdpr(logical_mdpr(4, LogicalStream{}))
        .mdpr(audio_mdpr(5, 0, 0))
        .data()
        .packet(make_packet(3, 0, 10, true))
        .packet(make_packet(5, 5, 10))
        .packet(make_packet(0, 10, 10))
        .packet(make_packet(3, 20, 10))
        .indx(3);
    ok &= WriteSeed(dir, "surestream.rm", surestream.bytes());

    MdprChunk plain;
    plain.stream_number = 0;
    plain.mime_type = "application/octet-stream";
    RmWriter other;
    other.rmf().chunk(fourcc("XTRA"), Bytes(20, 9)).prop().mdpr(plain).data().packet(make_packet(0, 0, 10));
    ok &= WriteSeed(dir, "no_class.rm", other.bytes());

    // Where the packets end: an index after the DATA chunk, DATA chunks
    // chained through their heads, and ffmpeg's overshooting size with its
    // zero trailer.
    RmWriter indexed = simple_writer({video_mdpr(0), audio_mdpr(1)}, Interleaved(6));
    indexed.indx(40);
    ok &= WriteSeed(dir, "index_after_data.rm", indexed.bytes());

    DataChunk linked;
    linked.link_next = true;
    RmWriter chain;
    chain.rmf().prop().mdpr(video_mdpr(0)).mdpr(audio_mdpr(1)).data(linked);
    chain.packet(make_packet(0, 0, 30, true)).packet(make_packet(1, 5, 12)).indx(2).data(linked);
    chain.packet(make_packet(0, 40, 30)).packet(make_packet(1, 45, 12)).data();
    chain.packet(make_packet(0, 80, 30)).indx(3);
    ok &= WriteSeed(dir, "data_chain.rm", chain.bytes());

    DataChunk overshoot;
    overshoot.size = 18 + 3 * (12 + 40) + 18;
    RmWriter trailer;
    trailer.rmf().prop().mdpr(video_mdpr(0)).data(overshoot);
    for (uint32_t i = 0; i < 3; ++i) trailer.packet(make_packet(0, i * 40, 40, i == 0));
    trailer.raw(Bytes(8, 0));
    ok &= WriteSeed(dir, "ffmpeg_trailer.rm", trailer.bytes());

    // A multi-rate file as the usual encoder writes one: version 1 packets,
    // a DATA chunk per rate, chained and back to back.
    MultiRatePlan rates;
    rates.video_rates = {8000, 16000};
    rates.audio_rates = {2000, 4000};
    rates.packets = 3;
    rates.layout = DataLayout::MIXED;
    rates.compatible_stream = true;
    ok &= WriteSeed(dir, "multi_rate.rm", multi_rate_writer(rates).writer.bytes());

    return ok ? 0 : 1;
}
