#include "runtime/media/audio_stream.h"

#include <iterator>

#include "runtime/media/audio_decoder.h"
#include "runtime/media/sound_file.h"
#include "runtime/system/temporary.h"
#include "runtime/text/print.h"

namespace {

struct AudioStreamSlot {
    bool in_use;
    AudioContainer container;  // decided at open
    bool for_writing;          // false for memory streams
    bool from_file;            // source is a path (else encoded data)
    SampleFormat format;       // the program's sample format, given at open
    bool info_known;           // info is filled (by either describing call)
    AudioDecoder reader;       // open once described for reading
    SoundFile writer;          // open once described for writing (handle null until then)
    const char* source;        // the program's path bytes or encoded data, not a copy
    int64_t source_size;
    AudioInfo info;
};

AudioStreamSlot audio_streams[audio_stream_slots];
// Slots ever handed out from the front of the table: a high-water mark, never lowered.
int32_t num_audio_streams = 0;

// One unsigned compare against the table's own extent refuses negative handles too, and
// no handle reaches a slot's flag unless that slot exists.
AudioStreamSlot* open_slot(int32_t handle) {
    if (static_cast<uint32_t>(handle) >= std::size(audio_streams)) return nullptr;
    AudioStreamSlot& slot = audio_streams[handle];
    return slot.in_use ? &slot : nullptr;
}

// 8-bit reads would be delivered in 16 bits and narrowed: streams refuse them instead.
bool is_eight_bit(SampleFormat format) { return format == unsigned_8 || format == signed_8; }

int32_t take_slot() {
    for (int32_t i = 0; i < num_audio_streams; ++i)
        if (!audio_streams[i].in_use) return i;
    if (num_audio_streams >= audio_stream_slots) return audio_stream_none;
    return num_audio_streams++;
}

int32_t record(SampleFormat format, const char* source, int64_t size, bool from_file,
               bool for_writing, AudioContainer container) {
    if (is_eight_bit(format)) return audio_stream_none;
    int32_t handle = take_slot();
    if (handle == audio_stream_none) return handle;
    AudioStreamSlot& slot = audio_streams[handle];
    slot = {};
    slot.in_use = true;
    slot.container = container;
    slot.for_writing = for_writing;
    slot.from_file = from_file;
    slot.format = format;
    slot.source = source;
    slot.source_size = size;
    return handle;
}

bool open_reader(AudioStreamSlot& slot) {
    if (!slot.from_file)
        return audio_decoder_open_memory(slot.reader, slot.source_size, slot.source, slot.container);
    return audio_decoder_open(slot.reader, Slice{slot.source, slot.source_size}, slot.container);
}

AudioInfo describe(const AudioStreamSlot& slot) {
    AudioInfo info = {slot.format, 0, 0, 0};
    if (!slot.reader.open) return info;
    info.channels = slot.reader.channels;
    info.sample_rate = slot.reader.sample_rate;
    // A stream that does not state its length, or states an absurd one, says 0 bytes.
    if (!audio_format_byte_count(slot.reader.frames, info.channels, audio_format_width(slot.format),
                                 info.size))
        info.size = 0;
    return info;
}

// Open for reading and described: the decoder exists.
bool is_reader(const AudioStreamSlot& slot) { return !slot.for_writing && slot.reader.open; }

AudioStreamSlot* reader(int32_t handle) {
    AudioStreamSlot* slot = open_slot(handle);
    return slot && is_reader(*slot) ? slot : nullptr;
}

}  // namespace

int32_t audio_stream_open(SampleFormat format, Slice path, bool for_writing) {
    AudioContainer container = for_writing ? audio_container_wav : audio_container_for_stream(path);
    return record(format, path.data, path.length, true, for_writing, container);
}

int32_t audio_stream_open_from_memory(SampleFormat format, int64_t size, const void* data) {
    return record(format, static_cast<const char*>(data), size, false, false,
                  audio_container_for_stream_memory(size, data));
}

AudioInfo audio_stream_read_info(int32_t handle) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot) return AudioInfo{};
    if (slot->info_known) return slot->info;
    // A writer has no file to describe until audio_stream_write_info creates it.
    if (slot->for_writing) return AudioInfo{slot->format, 0, 0, 0};
    open_reader(*slot);
    slot->info = describe(*slot);
    slot->info_known = true;
    return slot->info;
}

void audio_stream_write_info(int32_t handle, AudioInfo info) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot || !slot->for_writing || slot->info_known || info.format >= sample_format_count) return;
    SampleFormat written = audio_format_written(info.format);
    Slice path = {slot->source, slot->source_size};
    if (append_character(path))
        (void)sound_file_create(slot->writer, path.data, written, info.channels, info.sample_rate,
                                info.size > 0 && !sound_file_fits_riff(info.size));
    slot->info = {written, info.channels, info.sample_rate, info.size};
    slot->info_known = true;
}

int64_t audio_stream_read(int32_t handle, int64_t frames, void* buffer) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot) return 0;
    if (slot->format >= sample_format_count) {
        print(slice_literal("invalid audio format\n"));
        return 0;
    }
    if (!is_reader(*slot)) return 0;
    SampleFormat delivery = audio_decoder_delivery_format(slot->format, slot->container);
    // Only the delivered frames are converted: a wider span would rewrite caller bytes
    // the read never filled.
    int64_t delivered = audio_decoder_read(slot->reader, delivery, frames, buffer);
    audio_format_convert(delivery, slot->format, delivered * slot->reader.channels, buffer);
    return delivered;
}

uint64_t audio_stream_write(int32_t handle, int64_t frames, const void* buffer) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot || !slot->for_writing || slot->format >= sample_format_count) return 0;
    int64_t written = sound_file_write(slot->writer, slot->format, frames, buffer);
    return static_cast<uint64_t>(written);
}

int32_t audio_stream_seek(int32_t handle, int64_t frame) {
    AudioStreamSlot* slot = reader(handle);
    return slot && audio_decoder_seek(slot->reader, frame) ? 1 : 0;
}

void audio_stream_close(int32_t handle) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot) return;
    audio_decoder_close(slot->reader);
    // A stream's close gives its caller no result, so a writer that could not complete its
    // file has no one to tell here.
    (void)sound_file_close(slot->writer);
    slot->in_use = false;
}
