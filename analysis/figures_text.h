// The figures of a file as text: the statistics block that rmrate --stats
// prints and KOV's Statistics dialog shows, and the CSV rows of its windows
// that rmrate --csv and KOV's export write. One writer each, so the two
// programs never disagree.
#ifndef KOV_ANALYSIS_FIGURES_TEXT_H
#define KOV_ANALYSIS_FIGURES_TEXT_H

#include <cstddef>
#include <cstdio>

#include "analysis/measurement.h"

// Writes the statistics block into `out` (always terminated, cut short when
// `capacity` is too small), each line ended by `line_end` ("\n", or "\r\n"
// for an edit control): first the file (its path, size, declared duration,
// the video's picture size and frame rate, the CONT texts, the
// logical-fileinfo properties), then the figures. Returns the length the
// whole text needs, without the terminator, as snprintf does. The path is
// written as it was given; everything the file itself says is plain ASCII,
// other bytes written as \xNN.
size_t FormatFiguresText(const Measurement& figures, const char* line_end, char* out, size_t capacity);

// "start_ms,kbps,keyframes", then one row per stored window. Returns false
// when the stream reports a write error.
bool WriteWindowsCsv(const Measurement& figures, FILE* out);

// The video's frames as CSV, "offset,timestamp_ms,bytes,packets,keyframe,type"
// (keyframe 1 or 0), and its GOPs, "start_ms,frames,bytes,duration_ms,kbps":
// the header row, then one row per frame or GOP, as they are found or from a
// kept list. rmrate --frames and --gops and KOV's export write these bytes.
void WriteFramesCsvHeader(FILE* out);
void WriteFrameCsvRow(const VideoFrame& frame, FILE* out);
// The bytes of one frame's row, for a writer that gathers rows: written
// from `out` on; returns where they end. No row is longer than the maximum.
const size_t FRAME_CSV_ROW_MAX = 96;
char* FormatFrameCsvRow(const VideoFrame& frame, char* out);
void WriteGopsCsvHeader(FILE* out);
void WriteGopCsvRow(const VideoGop& gop, FILE* out);
// The header and every kept frame; false on a write error.
bool WriteFramesCsv(const Measurement& figures, FILE* out);

#endif
