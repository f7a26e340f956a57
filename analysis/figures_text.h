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
// for an edit control). Returns the length the whole text needs, without the
// terminator, as snprintf does. Plain ASCII: other bytes of names and
// messages are written as \xNN.
size_t FormatFiguresText(const Measurement& figures, const char* line_end, char* out, size_t capacity);

// "start_ms,kbps,keyframes", then one row per stored window. Returns false
// when the stream reports a write error.
bool WriteWindowsCsv(const Measurement& figures, FILE* out);

#endif
