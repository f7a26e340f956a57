// What a file says of itself in its headers, beside what its packets measure:
// its size and declared duration, the video's picture size and frame rate,
// the CONT chunk's texts and the logical-fileinfo properties (the producer
// software among them). The first thing an archivist looks at.
#ifndef KOV_ANALYSIS_FILE_FACTS_H
#define KOV_ANALYSIS_FILE_FACTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "rmparser/rm_reader.h"

// One property of the logical-fileinfo header.
struct FileInfoProperty {
    std::string name;
    uint32_t type = RM_PROPERTY_BUFFER;  // RM_PROPERTY_INT, _STRING or _BUFFER; an int of another size is a buffer
    uint32_t number = 0;                 // an int's value
    std::string bytes;                   // a string's text up to its NUL, a buffer's bytes
};

// The picture as a RealVideo stream's type-specific data declares it.
struct VideoFormat {
    bool known = false;
    uint16_t width = 0;
    uint16_t height = 0;
    double fps = 0.0;
};

struct FileFacts {
    std::string path;  // as the measurement was given it
    bool opened = false;
    uint64_t size = 0;  // bytes, when opened
    // The rest once the headers are read.
    bool headers_read = false;
    uint32_t duration_ms = 0;  // as the PROP chunk declares it
    bool has_content = false;  // a CONT chunk was read
    std::string title, author, copyright, comment;
    bool has_file_info = false;  // a logical-fileinfo header was read
    std::vector<FileInfoProperty> file_info;
    VideoFormat video;  // the measured stream's
};

// The PROP duration, the CONT texts and the logical-fileinfo properties of a
// reader whose headers are read.
void ReadHeaderFacts(const rm_reader* reader, FileFacts* out);

// Width, height and frame rate from a RealVideo type-specific block ("VIDO"
// after its length, the codec's code, then 16-bit width and height and a
// 16.16 frame rate at byte 22); false for anything shorter or else.
bool ReadVideoFormat(const uint8_t* opaque, uint32_t length, VideoFormat* out);

#endif
