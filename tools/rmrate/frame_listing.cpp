// rmrate --frames and --gops: the video's frames or GOPs of one file, written as they are found.
#include <cstdio>
#include <string>

#include "analysis/figures_text.h"
#include "analysis/result_messages.h"
#include "analysis/text_escape.h"
#include "tools/rmrate/rmrate.h"

namespace {

Json FrameJson(const VideoFrame& frame) {
    return {{"offset", frame.offset},   {"timestamp_ms", frame.timestamp_ms}, {"bytes", frame.bytes},
            {"packets", frame.packets}, {"keyframe", frame.keyframe ? 1 : 0}, {"type", std::string(1, frame.type)}};
}

Json GopJson(const VideoGop& gop) {
    return {{"start_ms", gop.start_ms},
            {"frames", gop.frames},
            {"bytes", gop.bytes},
            {"duration_ms", gop.duration_ms},
            {"kbps", gop.kbps}};
}

// One JSON list written element by element: a film's frames run to millions.
class JsonListWriter {
public:
    JsonListWriter(const char* path, const char* key) {
        std::fputs("{\"file\":", stdout);
        std::fputs(Dump(JsonString(path)).c_str(), stdout);
        std::fprintf(stdout, ",\"%s\":[", key);
    }
    void Add(const Json& element) {
        if (count_++) std::fputc(',', stdout);
        std::fputs(Dump(element).c_str(), stdout);
    }

private:
    uint64_t count_ = 0;
};

// Frame rows gathered and written a block at a time: one write per row was
// a good part of a listing's time.
class FrameRowWriter {
public:
    ~FrameRowWriter() { Flush(); }
    void Add(const VideoFrame& frame) {
        if (sizeof block_ - used_ < FRAME_CSV_ROW_MAX) Flush();
        used_ = size_t(FormatFrameCsvRow(frame, block_ + used_) - block_);
    }
    void Flush() {
        if (used_ != 0) std::fwrite(block_, 1, used_, stdout);
        used_ = 0;
    }

private:
    char block_[64 * 1024];
    size_t used_ = 0;
};

}  // namespace

bool PrintFrameList(const char* path, bool gops, bool json, int32_t stream, const MediaSource* source) {
    MeasureOptions options;
    options.frames = true;
    options.series_stream = stream;
    options.source = source;
    std::unique_ptr<JsonListWriter> list;
    std::unique_ptr<FrameRowWriter> rows;
    if (json) {
        list.reset(new JsonListWriter(path, gops ? "gops" : "frames"));
    } else if (gops) {
        WriteGopsCsvHeader(stdout);
    } else {
        WriteFramesCsvHeader(stdout);
        rows.reset(new FrameRowWriter);
    }
    if (gops) {
        options.gop_sink = [&](const VideoGop& gop) {
            if (list) {
                list->Add(GopJson(gop));
            } else {
                WriteGopCsvRow(gop, stdout);
            }
        };
    } else {
        options.frame_sink = [&](const VideoFrame& frame) {
            if (list) {
                list->Add(FrameJson(frame));
            } else {
                rows->Add(frame);
            }
        };
    }
    Measurement m;
    Measure(path, options, &m);
    rows.reset();  // every row out before what follows them
    const FileResult r = {&m, ResultIsCharted(m.result), m.details.ending == DATA_END_DAMAGED, false, stream};
    std::string message = ResultText(r);
    // A stream asked for by number may be no video: it has no frames to list.
    const bool not_video = m.details.stream_chosen && !m.frames_measured;
    if (not_video) {
        char text[80];
        std::snprintf(text, sizeof text, "Stream %" PRId32 " is not a video stream: it has no frames.", stream);
        message = text;
    }
    if (list) {
        Json tail = {{"result", AnalysisResultName(m.result)},
                     {"message", JsonString(message.empty() ? nullptr : message.c_str())},
                     {"misfit_packets", m.frames_measured ? Json(m.frame_statistics.misfit_packets) : Json(nullptr)},
                     {"end", EndJson(m.details)}};
        // The list's object closed with what the rows cannot say.
        const std::string rest = Dump(tail);
        std::fputs("],", stdout);
        std::fputs(rest.c_str() + 1, stdout);
        std::fputc('\n', stdout);
    } else if (not_video) {
        std::string name;
        AppendEscaped(name, path);
        std::fprintf(stderr, "%s: %s\n", name.c_str(), message.c_str());
    } else {
        PrintEndingToStderr(path, r);
    }
    return MeasuredCleanly(r) && !not_video;
}
