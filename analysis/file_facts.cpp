// The file's own account of itself, taken from the reader's header records.
#include "analysis/file_facts.h"

#include <cstring>

namespace {

const uint32_t VIDEO_TAG_OFFSET = 4;
const uint32_t VIDEO_WIDTH_OFFSET = 12;
const uint32_t VIDEO_HEIGHT_OFFSET = 14;
const uint32_t VIDEO_FPS_OFFSET = 22;
const uint32_t VIDEO_FORMAT_MIN_SIZE = VIDEO_FPS_OFFSET + 4;
const double FIXED_16_16 = 65536.0;
const uint16_t INT_PROPERTY_SIZE = 4;

uint16_t Get16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// A text of the file, up to its first NUL and never past its length: the
// reader's copies are terminated, but a NUL may come earlier.
std::string TextOf(const void* text, size_t length) {
    if (text == nullptr) return std::string();
    const void* nul = std::memchr(text, 0, length);
    const size_t used = nul ? size_t(static_cast<const char*>(nul) - static_cast<const char*>(text)) : length;
    return std::string(static_cast<const char*>(text), used);
}

FileInfoProperty PropertyOf(const rm_name_value& value) {
    FileInfoProperty property;
    property.name = TextOf(value.name, value.name_length);
    const uint8_t* bytes = value.value;
    if (value.type == RM_PROPERTY_INT && bytes && value.value_length == INT_PROPERTY_SIZE) {
        property.type = RM_PROPERTY_INT;
        property.number = Get32(bytes);
    } else if (value.type == RM_PROPERTY_STRING) {
        property.type = RM_PROPERTY_STRING;
        property.bytes = TextOf(bytes, value.value_length);
    } else if (bytes) {
        property.bytes.assign(reinterpret_cast<const char*>(bytes), value.value_length);
    }
    return property;
}

}  // namespace

void ReadHeaderFacts(const rm_reader* reader, FileFacts* out) {
    out->headers_read = true;
    out->duration_ms = reader->prop_record.duration;
    const rm_content& content = reader->cont_record;
    out->has_content = content.id == RM_ID_CONT;
    if (out->has_content) {
        out->title = TextOf(content.title, content.title_length);
        out->author = TextOf(content.author, content.author_length);
        out->copyright = TextOf(content.copyright, content.copyright_length);
        out->comment = TextOf(content.comment, content.comment_length);
    }
    const rm_logical_stream* info = reader->fileinfo;
    out->has_file_info = info != nullptr;
    if (info && info->name_values) {
        for (uint32_t i = 0; i < info->name_value_count; ++i)
            out->file_info.push_back(PropertyOf(info->name_values[i]));
    }
}

bool ReadVideoFormat(const uint8_t* opaque, uint32_t length, VideoFormat* out) {
    *out = VideoFormat();
    if (opaque == nullptr || length < VIDEO_FORMAT_MIN_SIZE || std::memcmp(opaque + VIDEO_TAG_OFFSET, "VIDO", 4) != 0) {
        return false;
    }
    out->known = true;
    out->width = Get16(opaque + VIDEO_WIDTH_OFFSET);
    out->height = Get16(opaque + VIDEO_HEIGHT_OFFSET);
    out->fps = Get32(opaque + VIDEO_FPS_OFFSET) / FIXED_16_16;
    return true;
}
