#include "runtime/media/audio_stream.h"

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
    SoundFile decoder;         // the library's reader or writer; handle null until described
    const char* source;        // the program's path bytes or encoded data, not a copy
    int64_t source_size;
    AudioInfo info;
};

AudioStreamSlot audio_streams[audio_stream_slots];
// Slots ever handed out from the front of the table: a high-water mark, never lowered.
int32_t num_audio_streams = 0;

AudioStreamSlot* open_slot(int32_t handle) {
    if (handle < 0 || handle >= audio_stream_slots || !audio_streams[handle].in_use) return nullptr;
    return &audio_streams[handle];
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

// What is not recognised is tried as WAV: opening it then refuses anything else.
AudioContainer container_of_path(Slice path) {
    AudioContainer container = audio_container_wav;
    return sound_file_container_of_path(path, container) ? container : audio_container_wav;
}

AudioContainer container_of_memory(int64_t size, const void* data) {
    AudioContainer container = audio_container_wav;
    return sound_file_container_of_memory(data, size, container) ? container : audio_container_wav;
}

bool open_reader(AudioStreamSlot& slot) {
    if (!slot.from_file)
        return sound_file_open_memory(slot.decoder, slot.source, slot.source_size, slot.container);
    Slice path = {slot.source, slot.source_size};
    return append_character(path) && sound_file_open(slot.decoder, path.data, slot.container);
}

AudioInfo describe(const AudioStreamSlot& slot) {
    AudioInfo info = {slot.format, 0, 0, 0};
    if (!slot.decoder.handle) return info;
    info.channels = slot.decoder.channels;
    info.sample_rate = slot.decoder.sample_rate;
    // A stream that does not state its length, or states an absurd one, says 0 bytes.
    if (!sound_file_byte_count(slot.decoder.frames, info.channels, audio_format_width(slot.format),
                               info.size))
        info.size = 0;
    return info;
}

// Open for reading and described: the decoder exists.
bool is_reader(const AudioStreamSlot& slot) { return !slot.for_writing && slot.decoder.handle; }

AudioStreamSlot* reader(int32_t handle) {
    AudioStreamSlot* slot = open_slot(handle);
    return slot && is_reader(*slot) ? slot : nullptr;
}

}  // namespace

int32_t audio_stream_open(SampleFormat format, Slice path, bool for_writing) {
    AudioContainer container = for_writing ? audio_container_wav : container_of_path(path);
    return record(format, path.data, path.length, true, for_writing, container);
}

int32_t audio_stream_open_from_memory(SampleFormat format, int64_t size, const void* data) {
    return record(format, static_cast<const char*>(data), size, false, false,
                  container_of_memory(size, data));
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
    SampleFormat written = sound_file_written_format(info.format);
    Slice path = {slot->source, slot->source_size};
    if (append_character(path))
        (void)sound_file_create(slot->decoder, path.data, written, info.channels, info.sample_rate,
                                info.size > sound_file_max_riff_data);
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
    SampleFormat delivery = sound_file_delivery_format(slot->format, slot->container);
    int64_t delivered = sound_file_read(slot->decoder, delivery, frames, buffer);
    AudioWave wave = {delivery, slot->decoder.channels, slot->decoder.sample_rate,
                      delivered * slot->decoder.channels * audio_format_width(delivery), buffer};
    audio_wave_convert(wave, slot->format);
    return delivered;
}

uint64_t audio_stream_write(int32_t handle, int64_t frames, const void* buffer) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot || !slot->for_writing || slot->format >= sample_format_count) return 0;
    int64_t written = sound_file_write(slot->decoder, slot->format, frames, buffer);
    return static_cast<uint64_t>(written);
}

int32_t audio_stream_seek(int32_t handle, int64_t frame) {
    AudioStreamSlot* slot = reader(handle);
    return slot && sound_file_seek(slot->decoder, frame) ? 1 : 0;
}

void audio_stream_close(int32_t handle) {
    AudioStreamSlot* slot = open_slot(handle);
    if (!slot) return;
    sound_file_close(slot->decoder);
    slot->in_use = false;
}
