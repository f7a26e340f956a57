// The stored stream headers: fields from the MDPR records, property lists, preroll figures, ASM rule books.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "rm_internal.h"

namespace {

// Products of two file fields can leave the 32-bit range; clamp instead of
// wrapping (or, for doubles, instead of an undefined conversion).
uint32_t saturate_u64(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : uint32_t(value); }

uint32_t saturate_double(double value) {
    if (!(value >= 0.0)) {
        return 0;
    }
    return value >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(value);
}

// Receives the properties of one stream in order. Without an array it only
// counts, so that the counting and filling passes share every rule; with one
// it never writes past the length it was given.
struct property_sink {
    rm_reader* reader;
    rm_property* properties;
    uint32_t length;
    uint32_t count;
};

// A failed copy inside a property leaves that entry incomplete; nothing is
// reported, as the list is advisory.
void emit(property_sink* sink, const char* name, uint32_t type, uintptr_t value, uint32_t size) {
    if (sink->properties != nullptr && sink->count < sink->length) {
        rm_property_set(sink->reader, &sink->properties[sink->count], name, type, value, size);
    }
    sink->count += 1;
}

void emit_int(property_sink* sink, const char* name, uint32_t value) { emit(sink, name, RM_PROPERTY_INT, value, 0); }

void emit_string(property_sink* sink, const char* name, const char* text) {
    emit(sink, name, RM_PROPERTY_STRING, reinterpret_cast<uintptr_t>(text), 0);
}

void emit_buffer(property_sink* sink, const char* name, const void* block, uint32_t size) {
    emit(sink, name, RM_PROPERTY_BUFFER, reinterpret_cast<uintptr_t>(block), size);
}

struct preroll_figures {
    uint32_t preroll;        // "Preroll"
    uint32_t actual;         // "ActualPreroll"
    uint32_t streaming;      // "StreamingPreroll"
    uint32_t decode_buffer;  // "X-PreDecBufSize"
};

preroll_figures compute_preroll(const rm_media_props* media, uint8_t class_flags) {
    preroll_figures figures = {media->preroll, 0, 0, 0};
    const uint32_t max_rate = media->max_bit_rate;
    const uint32_t avg_rate = media->avg_bit_rate;

    if (class_flags & RM_CLASS_AUDIO) {
        figures.actual = figures.preroll;
        figures.preroll = figures.preroll != 0 ? saturate_u64(2 * uint64_t(figures.preroll)) : 6000;
    }
    if (class_flags & RM_CLASS_VIDEO) {
        const bool vbr = max_rate != avg_rate;
        // The time the decoder buffers at the peak rate.
        uint32_t buffer_time = 0;
        if (vbr) {
            buffer_time = figures.preroll;
        }
        if (figures.preroll < 1000) {
            figures.actual = figures.preroll;
            figures.preroll += 1000;
            if (!vbr) {
                buffer_time = figures.preroll;
            }
        } else if (!vbr) {
            buffer_time = saturate_u64(2 * uint64_t(figures.preroll));
        }
        figures.decode_buffer = saturate_double((double(max_rate) * double(buffer_time) + 7999.0) * 0.000125);
    }
    if (class_flags & (RM_CLASS_AUDIO | RM_CLASS_VIDEO)) {
        if (figures.preroll > 5000) {
            if (figures.actual == 0) {
                figures.actual = figures.preroll;
            }
            figures.streaming = figures.preroll;
            figures.preroll = 5000;
        }
    }
    return figures;
}

// The list itself: one place for the order, the conditions and the values.
void list_properties(rm_reader* reader, uint32_t index, property_sink* sink) {
    const rm_media_props* media = &reader->media_props[index];
    const uint8_t class_flags = reader->stream_states != nullptr && index < reader->stream_state_count
                                    ? reader->stream_states[index].class_flags
                                    : 0;
    const bool audio = (class_flags & RM_CLASS_AUDIO) != 0;
    const bool video = (class_flags & RM_CLASS_VIDEO) != 0;
    const bool event = (class_flags & RM_CLASS_EVENT) != 0;
    const bool opaque = media->type_specific_length != 0;

    emit_int(sink, "StreamNumber", index);
    if (media->max_bit_rate != 0) {
        emit_int(sink, "MaxBitRate", media->max_bit_rate);
    }
    if (media->avg_bit_rate != 0) {
        emit_int(sink, "AvgBitRate", media->avg_bit_rate);
    }
    if (media->max_packet_size != 0) {
        emit_int(sink, "MaxPacketSize", media->max_packet_size);
    }
    if (media->avg_packet_size != 0) {
        emit_int(sink, "AvgPacketSize", media->avg_packet_size);
    }
    if (media->start_time != 0) {
        emit_int(sink, "StartTime", media->start_time);
    }
    if (media->mime_type != nullptr) {
        emit_string(sink, "MimeType", media->mime_type);
    }
    if (media->stream_name != nullptr) {
        emit_string(sink, "StreamName", media->stream_name);
    }
    if (media->type_specific_data != nullptr && media->type_specific_length != 0) {
        emit_buffer(sink, "OpaqueData", media->type_specific_data, media->type_specific_length);
    }
    if (audio || video || event) {
        emit_string(sink, "intrinsicDurationType", "intrinsicDurationContinuous");
    }
    if (media->duration > reader->prop_record.duration) {
        emit_int(sink, "EndTime", reader->prop_record.duration);
    }
    if (audio || video) {
        emit_int(sink, "EndOneRuleEndAll", 1);
    }
    if (event) {
        emit_int(sink, "CanBeStoppedAnyTime", 1);
    }

    // Durations count from the first packet, which need not be at 0 ms.
    uint32_t duration = event ? reader->longest_duration : media->duration;
    if (duration > reader->start_timestamp) {
        duration -= reader->start_timestamp;
    }
    emit_int(sink, "Duration", duration);

    const preroll_figures preroll = compute_preroll(media, class_flags);
    emit_int(sink, "Preroll", preroll.preroll);
    if (preroll.actual != 0) {
        emit_int(sink, "ActualPreroll", preroll.actual);
    }
    if (preroll.streaming != 0) {
        emit_int(sink, "StreamingPreroll", preroll.streaming);
    }
    if (preroll.decode_buffer != 0) {
        emit_int(sink, "X-PreDecBufSize", preroll.decode_buffer);
    }

    int dependent = 0;
    char* rule_book =
        rm_make_rule_book(reader, video, event, opaque, media->max_bit_rate, media->avg_bit_rate, &dependent);
    if (rule_book != nullptr) {
        emit_string(sink, "ASMRuleBook", rule_book);
        rm_release_and_null(reader, rule_book);
        if (dependent) {
            // Bytes to send before playing: the preroll's worth at the peak rate.
            const uint32_t pre_data =
                saturate_double(double(media->max_bit_rate) * double(preroll.preroll) * 0.000125 + 0.5);
            if (pre_data != 0) {
                emit_int(sink, "PreData", pre_data);
                emit_int(sink, "PreDataAtStart", 1);
                emit_int(sink, "PreDataAfterSeek", 1);
                emit_int(sink, "PrerollAfterSeek", 1);
            }
        }
    }

    if (video || event || opaque) {
        uint8_t flags[8];
        uint8_t* cursor = flags;
        uint32_t room = sizeof(flags);
        if (video) {
            rm_put_u16(3, &cursor, &room);
            rm_put_u16(2, &cursor, &room);
            rm_put_u16(0, &cursor, &room);
            rm_put_u16(2, &cursor, &room);
        } else {
            rm_put_u16(2, &cursor, &room);
            rm_put_u16(2, &cursor, &room);
            rm_put_u16(0, &cursor, &room);
        }
        emit_buffer(sink, "RMFF 1.0 Flags", flags, uint32_t(sizeof(flags)) - room);
    }
}

}  // namespace

uint32_t rm_collect_properties(rm_reader* reader, uint32_t index, const rm_stream_header* record,
                               rm_property* properties, uint32_t length) {
    if (reader == nullptr || record == nullptr || reader->media_props == nullptr || index >= reader->stream_count ||
        index >= reader->media_capacity) {
        return 0;
    }
    property_sink sink = {reader, properties, properties != nullptr ? length : 0, 0};
    list_properties(reader, index, &sink);
    return sink.count;
}

char* rm_make_rule_book(rm_reader* reader, int video, int event, int opaque, uint32_t max_bit_rate,
                        uint32_t avg_bit_rate, int* dependent) {
    if (reader == nullptr || dependent == nullptr) {
        return nullptr;
    }
    char* text = static_cast<char*>(rm_alloc(reader, RM_RULE_BOOK_SIZE));
    if (text == nullptr) {
        return nullptr;
    }
    // %lu needs unsigned long, which is 32 bits on Windows and 64 elsewhere.
    const unsigned long max_rate = max_bit_rate;
    const unsigned long avg_rate = avg_bit_rate;
    const bool vbr = max_bit_rate != avg_bit_rate;
    const bool has_max = max_bit_rate != 0;
    const size_t room = RM_RULE_BOOK_SIZE;

    if (video || (!event && opaque)) {
        // Keyframe and non-keyframe rules; video takes the higher priority.
        const unsigned long priority = video ? 9 : 5;
        if (vbr && has_max) {
            snprintf(text, room,
                     "priority=%lu,AverageBandwidth=%lu,MaximumBandwidth=%lu,TimeStampDelivery=TRUE,"
                     "PNMKeyFrameRule=T;OnDepend=\"0\",priority=%lu,AverageBandwidth=0,MaximumBandwidth=0,"
                     "TimeStampDelivery=TRUE,PNMNonKeyFrameRule=T;",
                     priority, avg_rate, max_rate, 5ul);
            *dependent = 1;
        } else if (vbr) {
            snprintf(text, room,
                     "priority=%lu,AverageBandwidth=%lu,TimeStampDelivery=TRUE,PNMKeyFrameRule=T;OnDepend=\"0\","
                     "priority=%lu,AverageBandwidth=0,TimeStampDelivery=TRUE,PNMNonKeyFrameRule=T;",
                     priority, avg_rate, 5ul);
            *dependent = 1;
        } else if (video) {
            snprintf(text, room,
                     "#($Bandwidth >= %lu),priority=9,averagebandwidth=%lu,PNMKeyFrameRule=T;"
                     "#($Bandwidth >= %lu),OnDepend=\"0\",priority=5,averagebandwidth=0,PNMNonKeyFrameRule=T;"
                     "#($Bandwidth < %lu),priority=9,timestampdelivery=T,DropByN=T,PNMThinningRule=T;",
                     avg_rate, avg_rate, avg_rate, avg_rate);
        } else {
            snprintf(text, room,
                     "priority=5,averagebandwidth=%lu,PNMKeyFrameRule=T;priority=5,averagebandwidth=0,"
                     "PNMNonKeyFrameRule=T,OnDepend=\"0\",OffDepend=\"0\";",
                     avg_rate);
        }
    } else if (event) {
        snprintf(text, room,
                 "TimeStampDelivery=T,priority=10,PNMKeyFrameRule=T;TimeStampDelivery=T,priority=10,"
                 "PNMNonKeyFrameRule=T;");
    } else if (vbr && has_max) {
        snprintf(text, room,
                 "Marker=0,AverageBandwidth=%lu,MaximumBandwidth=%lu,TimeStampDelivery=TRUE;Marker=1,"
                 "AverageBandwidth=0,MaximumBandwidth=0,TimeStampDelivery=TRUE;",
                 avg_rate, max_rate);
    } else if (vbr) {
        snprintf(text, room,
                 "Marker=0,AverageBandwidth=%lu,TimeStampDelivery=TRUE;Marker=1,AverageBandwidth=0,"
                 "TimeStampDelivery=TRUE;",
                 avg_rate);
    } else {
        snprintf(text, room, "Marker=0,priority=5,averagebandwidth=%lu;Marker=1,priority=5,averagebandwidth=0;",
                 avg_rate);
    }
    return text;
}

rm_result rm_build_stream_header(rm_reader* reader, uint32_t index, rm_stream_header* record) {
    if (reader == nullptr || reader->media_props == nullptr || index >= reader->stream_count ||
        index >= reader->media_capacity || record == nullptr) {
        return RM_FAIL;
    }
    const uint32_t count = rm_collect_properties(reader, index, record, nullptr, 0);
    if (count == 0) {
        return RM_FAIL;
    }
    rm_property* properties = static_cast<rm_property*>(rm_alloc_zeroed(reader, count, sizeof(rm_property)));
    if (properties == nullptr) {
        return RM_FAIL;
    }
    record->properties = properties;
    record->property_count = count;
    rm_collect_properties(reader, index, record, properties, count);

    const rm_media_props* media = &reader->media_props[index];
    record->stream_number = index;
    record->max_bit_rate = media->max_bit_rate;
    record->avg_bit_rate = media->avg_bit_rate;
    record->max_packet_size = media->max_packet_size;
    record->avg_packet_size = media->avg_packet_size;
    record->duration = media->duration;
    record->preroll = media->preroll;
    record->start_time = media->start_time;
    record->mime_type = rm_clone_string(reader->memory_user, reader->allocate_fn, media->mime_type);
    record->stream_name = rm_clone_string(reader->memory_user, reader->allocate_fn, media->stream_name);
    record->opaque_data = static_cast<uint8_t*>(rm_clone_bytes(reader->memory_user, reader->allocate_fn,
                                                               media->type_specific_data, media->type_specific_length));
    // A length without its block would invite a reader to walk a null pointer.
    record->opaque_length = record->opaque_data != nullptr ? media->type_specific_length : 0;
    return RM_OK;
}

rm_result rm_build_stream_headers(rm_reader* reader) {
    if (reader == nullptr || reader->stream_count == 0) {
        return RM_FAIL;
    }
    rm_drop_stream_headers(reader);
    rm_stream_header* headers =
        static_cast<rm_stream_header*>(rm_alloc_zeroed(reader, reader->stream_count, sizeof(rm_stream_header)));
    if (headers == nullptr) {
        return RM_FAIL;
    }
    reader->stream_headers = headers;
    reader->stream_header_count = reader->stream_count;

    rm_result result = RM_OK;
    for (uint32_t i = 0; i < reader->stream_count && result == RM_OK; ++i) {
        result = rm_build_stream_header(reader, i, &headers[i]);
    }
    return result;
}
