#include "runtime/media/audio_stream.h"

#include <gtest/gtest.h>

#include "runtime/media/sound_file.h"

#include "audio_test_support.h"

using namespace audio_test;

namespace {

constexpr size_t pool_bytes = 8 << 20;
constexpr int64_t wav_frames = 3000;

std::string make_wav(const std::string& name = "stream.wav") {
    std::string path = temp_path(name);
    write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, pattern_ints(wav_frames * 2));
    return path;
}

std::string make_ogg() {
    std::string path = temp_path("stream.ogg");
    write_floats(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, stereo_tones(wav_frames, 44100));
    return path;
}

// A source to stream: its path, and its bytes when streamed from memory.
struct Source {
    std::string path;
    bool from_memory;
    std::vector<unsigned char> image;
};

std::vector<Source> every_source() {
    std::vector<Source> sources;
    for (const std::string& path : {make_wav(), make_ogg(), data_path("tone_16bit.flac"),
                                    data_path("six_channels.ogg"), data_path("extensible_24bit.wav")}) {
        sources.push_back({path, false, {}});
        sources.push_back({path, true, read_bytes(path)});
    }
    return sources;
}

int32_t open_source(const Source& source, SampleFormat format) {
    if (source.from_memory)
        return audio_stream_open_from_memory(format, static_cast<int64_t>(source.image.size()), source.image.data());
    return audio_stream_open(format, slice_of(source.path), false);
}

std::string name_of(const Source& source, SampleFormat format) {
    return source.path + (source.from_memory ? " (memory)" : " (file)") + " as " + std::to_string(format);
}

// Reads `frames` frames in blocks of `block`, appending the bytes delivered.
std::vector<unsigned char> read_blocks(int32_t handle, const AudioInfo& info, int64_t frames, int64_t block) {
    int64_t row = info.channels * audio_format_width(info.format);
    std::vector<unsigned char> out;
    std::vector<unsigned char> buffer(static_cast<size_t>(block * row));
    for (int64_t done = 0; done < frames;) {
        int64_t got = audio_stream_read(handle, std::min(block, frames - done), buffer.data());
        if (got <= 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got * row);
        done += got;
    }
    return out;
}

TEST(AudioStreamRead, BlocksMatchTheWholeFileLoadForEveryContainerAndFormat) {
    PoolScope pool(pool_bytes);
    for (const Source& source : every_source())
        for (SampleFormat format : {unsigned_16, unsigned_32, signed_16, signed_32, float_32}) {
            AudioWave whole = audio_wave_load(format, slice_of(source.path));
            int32_t handle = open_source(source, format);
            ASSERT_NE(handle, audio_stream_none);
            AudioInfo info = audio_stream_read_info(handle);
            EXPECT_EQ(info.format, format);
            EXPECT_EQ(info.channels, whole.channels) << name_of(source, format);
            EXPECT_EQ(info.sample_rate, whole.sample_rate);
            EXPECT_EQ(info.size, whole.size) << name_of(source, format);
            int64_t frames = whole.size / whole.channels / audio_format_width(format);
            EXPECT_EQ(read_blocks(handle, info, frames, 1000), wave_bytes(whole)) << name_of(source, format);
            audio_stream_close(handle);
        }
}

TEST(AudioStreamRead, SeekingThenReadingEqualsAStraightRead) {
    for (const Source& source : every_source()) {
        int32_t handle = open_source(source, signed_16);
        AudioInfo info = audio_stream_read_info(handle);
        int64_t frames = info.size / info.channels / 2;
        std::vector<unsigned char> all = read_blocks(handle, info, frames, 4096);
        ASSERT_EQ(static_cast<int64_t>(all.size()), info.size) << name_of(source, signed_16);
        int64_t row = info.channels * 2;
        for (int64_t start : {int64_t{0}, int64_t{1}, int64_t{77}, frames / 2, frames - 10}) {
            ASSERT_TRUE(audio_stream_seek(handle, start)) << name_of(source, signed_16) << " frame " << start;
            std::vector<unsigned char> part = read_blocks(handle, info, 50, 50);
            int64_t expected = std::min<int64_t>(50, frames - start);
            EXPECT_EQ(part, std::vector<unsigned char>(all.begin() + start * row, all.begin() + (start + expected) * row))
                << name_of(source, signed_16) << " from frame " << start;
        }
        ASSERT_TRUE(audio_stream_seek(handle, frames)) << name_of(source, signed_16);
        EXPECT_EQ(read_blocks(handle, info, 50, 50).size(), 0u);
        EXPECT_FALSE(audio_stream_seek(handle, frames + 1));
        EXPECT_FALSE(audio_stream_seek(handle, -1));
        audio_stream_close(handle);
    }
}

TEST(AudioStreamRead, ReadsAtTheEndComeShortThenEmpty) {
    std::string path = make_wav();
    int32_t handle = audio_stream_open(signed_16, slice_of(path), false);
    AudioInfo info = audio_stream_read_info(handle);
    std::vector<int16_t> buffer(2 * 2500);
    EXPECT_EQ(audio_stream_read(handle, 2500, buffer.data()), 2500);
    EXPECT_EQ(audio_stream_read(handle, 2500, buffer.data()), wav_frames - 2500);
    EXPECT_EQ(audio_stream_read(handle, 2500, buffer.data()), 0);
    EXPECT_EQ(info.size, wav_frames * 2 * 2);
    audio_stream_close(handle);
}

// A 16-bit stereo read of 1024 frames fills exactly 4096 bytes; a read that comes short
// converts only the frames delivered (the offset class flips bits: a wider span would
// corrupt the rest of the buffer).
TEST(AudioStreamRead, WritesOnlyTheFramesDelivered) {
    std::string path = make_wav();
    struct Case {
        SampleFormat format;
        int64_t seek_to, ask, delivered;
    } cases[] = {
        {signed_16, 0, 1024, 1024}, {unsigned_16, wav_frames - 10, 100, 10}, {unsigned_32, wav_frames - 3, 50, 3}};
    for (const auto& c : cases) {
        int32_t handle = audio_stream_open(c.format, slice_of(path), false);
        (void)audio_stream_read_info(handle);
        ASSERT_TRUE(audio_stream_seek(handle, c.seek_to));
        int64_t width = audio_format_width(c.format);
        std::vector<unsigned char> buffer(static_cast<size_t>(c.ask * 2 * width + 16), 0xaa);
        EXPECT_EQ(audio_stream_read(handle, c.ask, buffer.data()), c.delivered);
        for (size_t i = static_cast<size_t>(c.delivered * 2 * width); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xaa) << "format " << int(c.format) << " byte " << i;
        uint32_t first = 0;
        std::memcpy(&first, buffer.data(), static_cast<size_t>(width));
        EXPECT_EQ(first, static_cast<uint32_t>(static_cast<uint16_t>(pattern16(c.seek_to * 2)))
                             << (8 * (width - 2)) ^ (c.format == signed_16 ? 0 : 1u << (8 * width - 1)));
        audio_stream_close(handle);
    }
}

// Every encoding a stream reads, each as a memory image: the 16-bit, float and Wave64
// forms of the WAV family, 24-bit extensible WAV, FLAC with and without a stated length,
// and Ogg Vorbis.
std::vector<Source> encodings() {
    std::string w64 = temp_path("stream.w64");
    write_ints(w64, SF_FORMAT_W64 | SF_FORMAT_PCM_16, 2, 44100, pattern_ints(wav_frames * 2));
    std::string floats = temp_path("floats.wav");
    write_floats(floats, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, stereo_tones(wav_frames, 44100));
    // Long enough for several Ogg pages, so that a cut leaves some audio.
    std::string long_ogg = temp_path("long.ogg");
    write_floats(long_ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, stereo_tones(100000, 44100));
    std::vector<Source> sources;
    for (const std::string& path : {make_wav(), w64, floats, data_path("extensible_24bit.wav"),
                                    data_path("tone_16bit.flac"), data_path("unknown_length.flac"), make_ogg(),
                                    long_ogg, data_path("six_channels.ogg")})
        sources.push_back({path, true, read_bytes(path)});
    return sources;
}

constexpr unsigned char canary = 0xaa;

// Reads the stream to its end in blocks of `block` frames into one buffer sized for the
// frames `expected` plus one block of canary bytes, each read placed after the last; then
// one more read. Only delivered frames may be written: a library that fills the whole
// requested span (or an incomplete last frame) at the end shows in the canary, and under
// AddressSanitizer in the tight heap buffer of the second pass.
void expect_reads_end_cleanly(int32_t handle, const std::string& name, int64_t row, int64_t block, int64_t expected) {
    ASSERT_TRUE(audio_stream_seek(handle, 0)) << name;
    std::vector<unsigned char> buffer(static_cast<size_t>((expected + block) * row), canary);
    int64_t done = 0;
    for (int64_t got = 1; got > 0; done += got) {
        got = audio_stream_read(handle, block, buffer.data() + done * row);
        ASSERT_LE(done + got, expected) << name;
    }
    EXPECT_EQ(done, expected) << name;
    EXPECT_EQ(audio_stream_read(handle, block, buffer.data() + done * row), 0) << name << ": after the end";
    for (size_t i = static_cast<size_t>(done * row); i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], canary) << name << ": byte " << i << " of frame " << int64_t(i) / row << " past "
                                     << done << " delivered";
    // A caller who sized its buffer to the frames left: the last block asks past its end.
    ASSERT_TRUE(audio_stream_seek(handle, 0)) << name;
    std::vector<unsigned char> tight(static_cast<size_t>(expected * row));
    for (int64_t at = 0, got = 1; got > 0; at += got) got = audio_stream_read(handle, block, tight.data() + at * row);
}

TEST(AudioStreamRead, ReadsAtTheEndWriteOnlyTheFramesDelivered) {
    PoolScope pool(pool_bytes);
    for (const Source& source : encodings())
        for (SampleFormat format : {unsigned_16, unsigned_32, signed_16, signed_32, float_32}) {
            int32_t handle = open_source(source, format);
            AudioInfo info = audio_stream_read_info(handle);
            ASSERT_GT(info.channels, 0) << name_of(source, format);
            int64_t row = info.channels * audio_format_width(format);
            // Every frame: the whole-file load's count where the load takes the image (not
            // Wave64), the stream's own where it states one.
            int64_t frames = std::max<int64_t>(info.size, 0) / row;
            AudioWave whole = audio_wave_load_from_memory(format, static_cast<int64_t>(source.image.size()),
                                                          source.image.data());
            if (whole.data) frames = whole.size / row;
            ASSERT_GT(frames, 0) << name_of(source, format);
            for (int64_t block : {int64_t{1000}, int64_t{7}})
                expect_reads_end_cleanly(handle, name_of(source, format) + " in blocks of " + std::to_string(block), row,
                                         block, frames);
            audio_stream_close(handle);
        }
}

// Truncated files: the incomplete last frame (or block) is never delivered, and none of
// its samples are written.
TEST(AudioStreamRead, TruncatedFilesWriteNoIncompleteFrame) {
    PoolScope pool(pool_bytes);
    for (const Source& source : encodings())
        for (size_t cut : {size_t{1}, size_t{3}, size_t{5}, size_t{301}})
            for (SampleFormat format : {unsigned_16, signed_32, float_32}) {
                std::vector<unsigned char> image = truncated(source.image, cut);
                std::string name = name_of(source, format) + " cut by " + std::to_string(cut);
                int32_t handle = audio_stream_open_from_memory(format, static_cast<int64_t>(image.size()), image.data());
                AudioInfo info = audio_stream_read_info(handle);
                if (info.channels == 0) {  // the cut took a header the decoder needs
                    audio_stream_close(handle);
                    continue;
                }
                int64_t row = info.channels * audio_format_width(format);
                std::vector<unsigned char> all = read_blocks(handle, info, INT32_MAX, 1000);
                int64_t frames = static_cast<int64_t>(all.size()) / row;
                expect_reads_end_cleanly(handle, name, row, 999, frames);
                audio_stream_close(handle);
            }
}

// The Ogg Vorbis stream that leaked in libsndfile: refused, and (under LeakSanitizer)
// refused without a leak, from memory and from a file, one refusal after another.
TEST(AudioStreamRead, MalformedVorbisIsRefusedWithoutALeak) {
    std::vector<unsigned char> image = malformed_vorbis();
    std::string path = temp_path("malformed.ogg");
    write_file(path, std::string(image.begin(), image.end()));
    for (int round = 0; round < 2; ++round) {
        int32_t memory = audio_stream_open_from_memory(float_32, static_cast<int64_t>(image.size()), image.data());
        int32_t file = audio_stream_open(signed_16, slice_of(path), false);
        for (int32_t handle : {memory, file}) {
            AudioInfo info = audio_stream_read_info(handle);
            EXPECT_EQ(info.channels, 0);
            EXPECT_EQ(info.size, 0);
            float buffer[16];
            EXPECT_EQ(audio_stream_read(handle, 4, buffer), 0);
            EXPECT_EQ(audio_stream_seek(handle, 0), 0);
            audio_stream_close(handle);
        }
    }
}

// Leading bytes of other containers never reach a parser: an AIFF header whose image
// stops after its first 16 bytes (while the size still states the whole file) is refused
// without a byte past them being read, which AddressSanitizer would report.
TEST(AudioStreamRead, MemoryOfOtherContainersReachesNoParser) {
    struct Case {
        const char* name;
        int sf_format;
    } cases[] = {{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                 {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16},
                 {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16},
                 {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16}};
    for (const auto& c : cases) {
        std::string path = temp_path(std::string("other.") + c.name);
        write_ints(path, c.sf_format, 2, 8000, pattern_ints(200));
        std::vector<unsigned char> image = read_bytes(path);
        bool ours = std::string(c.name) == "rf64";
        int32_t whole = audio_stream_open_from_memory(signed_16, static_cast<int64_t>(image.size()), image.data());
        EXPECT_EQ(audio_stream_read_info(whole).channels, ours ? 2 : 0) << c.name;
        audio_stream_close(whole);
        if (ours) continue;
        std::vector<unsigned char> head(image.begin(), image.begin() + 16);
        int32_t cut = audio_stream_open_from_memory(signed_16, static_cast<int64_t>(image.size()), head.data());
        EXPECT_EQ(audio_stream_read_info(cut).channels, 0) << c.name;
        audio_stream_close(cut);
    }
}

// A reader stream on a FIFO without a writer finds it empty, for every decoder: it is
// described as nothing and reads nothing, at once, and the next stream reads as usual.
TEST(AudioStreamRead, AFifoWithoutAWriterDescribesNothingAtOnce) {
    std::string wav = make_wav();
    for (const char* name : {"fifo.wav", "fifo.flac", "fifo.ogg"}) {
        std::string fifo = make_fifo(name);
        int outcome = within_seconds(fifo_guard_seconds, [&] {
            int16_t frame[2] = {};
            int32_t handle = audio_stream_open(signed_16, slice_of(fifo), false);
            AudioInfo info = audio_stream_read_info(handle);
            int64_t got = audio_stream_read(handle, 1, frame);
            audio_stream_close(handle);
            if (handle == audio_stream_none || info.channels != 0 || got != 0) return int{fifo_taken};
            handle = audio_stream_open(signed_16, slice_of(wav), false);
            info = audio_stream_read_info(handle);
            got = audio_stream_read(handle, 1, frame);
            audio_stream_close(handle);
            return info.channels == 2 && got == 1 ? int{fifo_refused_then_normal} : 0;
        });
        EXPECT_EQ(outcome, fifo_refused_then_normal) << name;
        EXPECT_TRUE(std::filesystem::is_fifo(fifo)) << name;
    }
}

TEST(AudioStreamRead, DescribesOnceAndKeepsTheRecord) {
    std::string path = make_wav();
    int32_t handle = audio_stream_open(signed_32, slice_of(path), false);
    AudioInfo first = audio_stream_read_info(handle);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    AudioInfo second = audio_stream_read_info(handle);
    EXPECT_EQ(second.format, first.format);
    EXPECT_EQ(second.channels, 2);
    EXPECT_EQ(second.sample_rate, 44100);
    EXPECT_EQ(second.size, wav_frames * 2 * 4);
    std::vector<int32_t> buffer(20);
    EXPECT_EQ(audio_stream_read(handle, 10, buffer.data()), 10);  // the decoder stayed open
    audio_stream_close(handle);
}

// Which decoder a path or an image gets, and what describing it then gives.
TEST(AudioStreamRead, ContainerFollowsExtensionOrLeadingBytes) {
    std::string ogg_upper = moved_to(make_ogg(), "song.OGG");
    std::string wav_upper = moved_to(make_wav(), "wav.OGG");
    std::string bare = moved_to(make_wav(), "noextension");
    std::string wav_as_flac = moved_to(make_wav(), "wav.flac");
    struct Case {
        std::string path;
        int32_t channels;
    } cases[] = {{ogg_upper, 0}, {wav_upper, 2}, {bare, 2}, {wav_as_flac, 0}, {temp_path("missing.wav"), 0},
                 {data_path("unknown_length.flac"), 2}};
    for (const auto& c : cases) {
        int32_t handle = audio_stream_open(signed_16, slice_of(c.path), false);
        AudioInfo info = audio_stream_read_info(handle);
        EXPECT_EQ(info.channels, c.channels) << c.path;
        EXPECT_EQ(info.format, signed_16);
        if (c.channels == 0) {
            EXPECT_EQ(info.size, 0) << c.path;
        }
        audio_stream_close(handle);
    }
    // The FLAC without a stated length describes its size as 0 yet reads every frame.
    std::string streamed = data_path("unknown_length.flac");  // kept until described
    int32_t handle = audio_stream_open(signed_16, slice_of(streamed), false);
    AudioInfo info = audio_stream_read_info(handle);
    EXPECT_EQ(info.size, 0);
    EXPECT_EQ(read_blocks(handle, info, 100000, 1000).size(), 4410u * 4);
    audio_stream_close(handle);

    const unsigned char tiny[] = {'R', 'I', 'F'};
    const unsigned char ogg_junk[] = "OggSjunkjunkjunk";
    std::vector<unsigned char> ogg = read_bytes(data_path("six_channels.ogg"));
    struct MemoryCase {
        const char* name;
        int64_t size;
        const void* data;
        int32_t channels;
    } memory_cases[] = {
        {"3 bytes", 3, tiny, 0},
        {"ogg", static_cast<int64_t>(ogg.size()), ogg.data(), 6},
        {"ogg junk", sizeof ogg_junk, ogg_junk, 0},
        {"null", 100, nullptr, 0},
        // Refused for its size before a byte is read (the buffer is far smaller).
        {"ogg of 2 GiB", int64_t{1} << 31, ogg.data(), 0},
    };
    for (const auto& c : memory_cases) {
        int32_t memory = audio_stream_open_from_memory(float_32, c.size, c.data);
        ASSERT_NE(memory, audio_stream_none) << c.name;
        EXPECT_EQ(audio_stream_read_info(memory).channels, c.channels) << c.name;
        float buffer[64];
        if (c.channels == 0) {
            EXPECT_EQ(audio_stream_read(memory, 4, buffer), 0) << c.name;
        }
        audio_stream_close(memory);
    }
}

TEST(AudioStreamTable, SixtyFourHandlesThenRefusalThenReuse) {
    std::string path = make_wav();
    for (int32_t i = 0; i < audio_stream_slots; ++i) EXPECT_EQ(audio_stream_open(signed_16, slice_of(path), false), i);
    EXPECT_EQ(audio_stream_open(signed_16, slice_of(path), false), audio_stream_none);
    EXPECT_EQ(audio_stream_open_from_memory(signed_16, 3, "abc"), audio_stream_none);
    audio_stream_close(5);
    EXPECT_EQ(audio_stream_open(float_32, slice_of(path), false), 5);
    // The reused slot starts over: described afresh in its new format.
    EXPECT_EQ(audio_stream_read_info(5).format, float_32);
    EXPECT_EQ(audio_stream_read_info(5).size, wav_frames * 2 * 4);
    for (int32_t i = 0; i < audio_stream_slots; ++i) audio_stream_close(i);
    EXPECT_EQ(audio_stream_open(signed_16, slice_of(path), false), 0);
    audio_stream_close(0);
}

TEST(AudioStreamTable, EightBitFormatsAreRefused) {
    std::string path = make_wav();
    for (SampleFormat format : {unsigned_8, signed_8}) {
        EXPECT_EQ(audio_stream_open(format, slice_of(path), false), audio_stream_none);
        EXPECT_EQ(audio_stream_open(format, slice_of(path), true), audio_stream_none);
        EXPECT_EQ(audio_stream_open_from_memory(format, 3, "abc"), audio_stream_none);
    }
}

TEST(AudioStreamTable, HandlesThatAreNotOpenMeanNoStream) {
    std::string path = make_wav();
    int32_t open = audio_stream_open(signed_16, slice_of(path), false);
    (void)audio_stream_read_info(open);
    int32_t closed = audio_stream_open(signed_16, slice_of(path), false);
    audio_stream_close(closed);
    int16_t buffer[8] = {};
    for (int32_t handle : {audio_stream_none, audio_stream_slots, audio_stream_slots + 1, 1000, INT32_MAX, INT32_MIN,
                           closed}) {
        AudioInfo info = audio_stream_read_info(handle);
        EXPECT_EQ(info.format + info.channels + info.sample_rate + info.size, 0) << handle;
        EXPECT_EQ(audio_stream_read(handle, 4, buffer), 0) << handle;
        EXPECT_EQ(audio_stream_write(handle, 4, buffer), 0u) << handle;
        EXPECT_EQ(audio_stream_seek(handle, 0), 0) << handle;
        audio_stream_write_info(handle, AudioInfo{signed_16, 1, 8000, 0});
        audio_stream_close(handle);
    }
    EXPECT_EQ(audio_stream_read(open, 4, buffer), 4);  // untouched by all of that
    audio_stream_close(open);
}

// With every slot open the first and last handles serve and the ones just outside
// refuse; once closed, the same handles mean no stream. Run under AddressSanitizer, a
// check that let 64 through would read past the slot table.
TEST(AudioStreamTable, BoundaryHandlesAroundAFullTable) {
    std::string path = make_wav();
    for (int32_t i = 0; i < audio_stream_slots; ++i) ASSERT_EQ(audio_stream_open(signed_16, slice_of(path), false), i);
    int16_t buffer[8] = {};
    for (int32_t handle : {0, audio_stream_slots - 1}) {
        EXPECT_EQ(audio_stream_read_info(handle).channels, 2) << handle;
        EXPECT_EQ(audio_stream_read(handle, 2, buffer), 2) << handle;
        EXPECT_EQ(audio_stream_seek(handle, 1), 1) << handle;
    }
    for (int32_t handle : {-1, audio_stream_slots, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(audio_stream_read_info(handle).channels, 0) << handle;
        EXPECT_EQ(audio_stream_read(handle, 2, buffer), 0) << handle;
        EXPECT_EQ(audio_stream_seek(handle, 0), 0) << handle;
        audio_stream_close(handle);
    }
    for (int32_t i = 0; i < audio_stream_slots; ++i) audio_stream_close(i);
    for (int32_t handle : {0, audio_stream_slots - 1}) {
        AudioInfo info = audio_stream_read_info(handle);
        EXPECT_EQ(info.format + info.channels + info.sample_rate + info.size, 0) << handle;
        EXPECT_EQ(audio_stream_read(handle, 2, buffer), 0) << handle;
        EXPECT_EQ(audio_stream_seek(handle, 0), 0) << handle;
        EXPECT_EQ(audio_stream_write(handle, 2, buffer), 0u) << handle;
        audio_stream_close(handle);  // a second close does nothing
    }
}

TEST(AudioStreamRead, FormatsAboveSixAreRefusedAtEveryRead) {
    std::string path = make_wav();
    int32_t handle = audio_stream_open(SampleFormat(7), slice_of(path), false);
    ASSERT_NE(handle, audio_stream_none);
    (void)audio_stream_read_info(handle);
    int16_t buffer[8];
    for (int i = 0; i < 2; ++i) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(audio_stream_read(handle, 4, buffer), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "invalid audio format\n");
    }
    audio_stream_close(handle);
}

TEST(AudioStreamRead, DecodersLiveOutsideThePool) {
    PoolScope pool(1024);
    for (const Source& source : every_source()) {
        int32_t handle = open_source(source, signed_16);
        AudioInfo info = audio_stream_read_info(handle);
        EXPECT_GT(read_blocks(handle, info, 100, 100).size(), 0u) << name_of(source, signed_16);
        audio_stream_close(handle);
    }
    EXPECT_EQ(audio_memory_pos, 0);
}

// ---- writing

// Writes `blocks` of 100 stereo frames in `format` after declaring `declared` bytes.
std::string write_stream(const std::string& name, SampleFormat format, AudioInfo declared, int blocks,
                         const std::vector<unsigned char>& block) {
    std::string path = temp_path(name);
    int32_t handle = audio_stream_open(format, slice_of(path), true);
    audio_stream_write_info(handle, declared);
    for (int i = 0; i < blocks; ++i) EXPECT_EQ(audio_stream_write(handle, 100, block.data()), 100u);
    audio_stream_close(handle);
    return path;
}

std::vector<unsigned char> tone_block(SampleFormat format) {
    std::vector<float> tones = stereo_tones(100, 8000);
    std::vector<unsigned char> block(tones.size() * 4);
    std::memcpy(block.data(), tones.data(), block.size());
    AudioWave wave = {float_32, 2, 8000, static_cast<int64_t>(block.size()), block.data()};
    audio_wave_convert(wave, format);
    block.resize(static_cast<size_t>(wave.size));
    return block;
}

// A writer stream on a FIFO without a reader takes no frames, at once: the file it
// cannot create is refused instead of waited for, and the next stream writes as usual.
TEST(AudioStreamWrite, AFifoWithoutAReaderTakesNoFramesAtOnce) {
    std::vector<unsigned char> block = tone_block(signed_16);
    std::string fifo = make_fifo("fifo.wav");
    std::string next = temp_path("after.wav");  // the stream keeps the path's bytes
    int outcome = within_seconds(fifo_guard_seconds, [&] {
        int32_t handle = audio_stream_open(signed_16, slice_of(fifo), true);
        audio_stream_write_info(handle, AudioInfo{signed_16, 2, 8000, 0});
        uint64_t taken = audio_stream_write(handle, 100, block.data());
        audio_stream_close(handle);
        if (handle == audio_stream_none || taken != 0) return int{fifo_taken};
        handle = audio_stream_open(signed_16, slice_of(next), true);
        audio_stream_write_info(handle, AudioInfo{signed_16, 2, 8000, 0});
        taken = audio_stream_write(handle, 100, block.data());
        audio_stream_close(handle);
        return taken == 100 ? int{fifo_refused_then_normal} : 0;
    });
    EXPECT_EQ(outcome, fifo_refused_then_normal);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

// Cut at its NUL, each path names a file that exists: a stream on it reads nothing, and
// a stream written to it makes or changes no file.
TEST(AudioStreamPaths, APathHoldingANulIsRefusedAndTouchesNothing) {
    PoolScope pool(pool_bytes);
    std::vector<unsigned char> block = tone_block(signed_16);
    std::vector<std::string> sources = {make_wav(), make_ogg()};
    for (const std::string& path : sources) {
        SCOPED_TRACE(path);
        std::vector<unsigned char> before = read_bytes(path);
        std::string cut = path + std::string(1, '\0') + "-missing" + path.substr(path.size() - 4);
        int32_t handle = audio_stream_open(signed_16, slice_of(cut), false);
        AudioInfo info = audio_stream_read_info(handle);
        EXPECT_EQ(info.channels, 0);
        std::vector<unsigned char> buffer(400);
        EXPECT_EQ(audio_stream_read(handle, 100, buffer.data()), 0);
        audio_stream_close(handle);

        // The stream keeps the path's bytes until it closes.
        std::string cut_for_writing = path + std::string(1, '\0') + ".d/x.wav";
        handle = audio_stream_open(signed_16, slice_of(cut_for_writing), true);
        audio_stream_write_info(handle, AudioInfo{signed_16, 2, 8000, 0});
        EXPECT_EQ(audio_stream_write(handle, 100, block.data()), 0u);
        audio_stream_close(handle);
        EXPECT_EQ(read_bytes(path), before);
    }
    std::string fresh = temp_path("fresh.wav");
    std::string fresh_cut = fresh + std::string(1, '\0') + "x.wav";
    int32_t handle = audio_stream_open(signed_16, slice_of(fresh_cut), true);
    audio_stream_write_info(handle, AudioInfo{signed_16, 2, 8000, 0});
    EXPECT_EQ(audio_stream_write(handle, 100, block.data()), 0u);
    audio_stream_close(handle);
    EXPECT_FALSE(file_exists(fresh));
}

// Side by side with its U+FFFD look-alike, a Latin-1 name streams its own file.
TEST(AudioStreamPaths, BytesThatAreNotUtf8NameTheirOwnFile) {
    PoolScope pool(pool_bytes);
    std::string raw = moved_to(make_ogg(), "caf\xE9.ogg");
    std::string lookalike = temp_path("caf\xEF\xBF\xBD.ogg");
    write_floats(lookalike, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 8000, std::vector<float>(4000, 0.25f));
    for (const std::string& path : {raw, lookalike}) {
        int32_t handle = audio_stream_open(signed_16, slice_of(path), false);
        AudioInfo info = audio_stream_read_info(handle);
        EXPECT_EQ(info.channels, path == raw ? 2 : 1) << path;
        audio_stream_close(handle);
    }
    std::vector<unsigned char> block = tone_block(signed_16);
    std::string written = write_stream("out\xFF.wav", signed_16, AudioInfo{signed_16, 2, 8000, 0}, 1, block);
    EXPECT_EQ(read_bytes(written).size(), 44u + 400u);
    EXPECT_FALSE(file_exists(temp_path("out\xEF\xBF\xBD.wav")));
}

// Whatever the declared size, the closed file states what was written.
TEST(AudioStreamWrite, TheFileStatesWhatWasWritten) {
    PoolScope pool(pool_bytes);
    std::vector<unsigned char> block = tone_block(signed_16);
    struct Case {
        const char* name;
        int64_t declared;
        const char* magic;
    } cases[] = {
        {"declared 0", 0, "RIFF"},
        {"declared exactly", 300 * 2 * 2, "RIFF"},
        {"declared more", 100000, "RIFF"},
        {"declared less", 40, "RIFF"},
        {"declared beyond 4 GiB", int64_t{5} << 30, "riff"},  // Wave64
        // The RIFF size field counts 36 header bytes and a pad byte besides the samples.
        {"declared at the RIFF limit", sound_file_max_riff_data, "RIFF"},
        {"declared one past the RIFF limit", sound_file_max_riff_data + 1, "riff"},
        {"declared 0xFFFFFFFE", 0xFFFFFFFE, "riff"},
        {"declared 0xFFFFFFFF", 0xFFFFFFFF, "riff"},
        {"declared negative", -1, "RIFF"},
    };
    for (const auto& c : cases) {
        std::string path = write_stream("written.wav", signed_16, AudioInfo{signed_16, 2, 8000, c.declared}, 3, block);
        std::vector<unsigned char> bytes = read_bytes(path);
        ASSERT_GE(bytes.size(), 4u) << c.name;
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), c.magic) << c.name;
        AudioWave wave = audio_wave_load(signed_16, slice_of(path));
        ASSERT_EQ(wave.size, 300 * 2 * 2) << c.name;
        for (int b = 0; b < 3; ++b)
            EXPECT_EQ(0, std::memcmp(static_cast<unsigned char*>(wave.data) + b * 400, block.data(), 400)) << c.name;
    }
}

// Float and 32-bit streams write 32-bit integer PCM; the caller's samples stay as given.
TEST(AudioStreamWrite, ConvertsWithoutTouchingTheCallersSamples) {
    struct Case {
        SampleFormat stream_format;
        SampleFormat info_format;
        int bits;
    } cases[] = {{float_32, float_32, 32}, {unsigned_32, unsigned_32, 32}, {unsigned_16, unsigned_16, 16},
                 {signed_16, signed_32, 32}, {float_32, signed_16, 16}};
    for (const auto& c : cases) {
        std::vector<unsigned char> block = tone_block(c.stream_format);
        std::vector<unsigned char> before = block;
        std::string path = write_stream("converted.wav", c.stream_format, AudioInfo{c.info_format, 2, 8000, 0}, 2, block);
        EXPECT_EQ(block, before) << int(c.stream_format);
        std::vector<unsigned char> bytes = read_bytes(path);
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(sample_at<uint16_t>(bytes.data() + 20, 0), 1) << "format tag";
        EXPECT_EQ(sample_at<uint16_t>(bytes.data() + 34, 0), c.bits);
        // The file holds the samples converted to its own format.
        AudioWave want = {c.stream_format, 2, 8000, static_cast<int64_t>(block.size()), block.data()};
        audio_wave_convert(want, c.bits == 32 ? signed_32 : signed_16);
        EXPECT_EQ(0, std::memcmp(bytes.data() + 44, block.data(), static_cast<size_t>(want.size)));
    }
}

TEST(AudioStreamWrite, FullScaleFloatBecomesTheLargest32BitSample) {
    std::vector<unsigned char> block(100 * 2 * 4);
    for (size_t i = 0; i < block.size() / 4; ++i) {
        float x = i % 2 ? -1.0f : 1.0f;
        std::memcpy(block.data() + i * 4, &x, 4);
    }
    std::string path = write_stream("full.wav", float_32, AudioInfo{float_32, 2, 8000, 0}, 1, block);
    std::vector<unsigned char> bytes = read_bytes(path);
    ASSERT_EQ(bytes.size(), 44u + 800);
    EXPECT_EQ(sample_at<uint32_t>(bytes.data() + 44, 0), 0x7fffffffu);
    EXPECT_EQ(sample_at<uint32_t>(bytes.data() + 44, 1), 0x80000001u);
}

TEST(AudioStreamWrite, EachDirectionServesOnlyItsOwnCalls) {
    std::string source = make_wav();
    int16_t buffer[400] = {};
    int32_t reader = audio_stream_open(signed_16, slice_of(source), false);
    audio_stream_write_info(reader, AudioInfo{signed_16, 1, 8000, 0});  // ignored
    EXPECT_EQ(audio_stream_write(reader, 4, buffer), 0u);
    EXPECT_EQ(audio_stream_read_info(reader).channels, 2);
    audio_stream_close(reader);

    std::string target = temp_path("target.wav");
    int32_t writer = audio_stream_open(signed_16, slice_of(target), true);
    EXPECT_EQ(audio_stream_write(writer, 4, buffer), 0u);  // not described yet
    AudioInfo undescribed = audio_stream_read_info(writer);
    EXPECT_EQ(undescribed.format, signed_16);
    EXPECT_EQ(undescribed.channels, 0);
    audio_stream_write_info(writer, AudioInfo{unsigned_16, 2, 8000, 0});
    AudioInfo described = audio_stream_read_info(writer);
    EXPECT_EQ(described.format, signed_16);  // what the file holds
    EXPECT_EQ(described.channels, 2);
    audio_stream_write_info(writer, AudioInfo{signed_32, 1, 22050, 0});  // already described
    EXPECT_EQ(audio_stream_read_info(writer).channels, 2);
    EXPECT_EQ(audio_stream_read(writer, 4, buffer), 0);
    EXPECT_EQ(audio_stream_seek(writer, 0), 0);
    EXPECT_EQ(audio_stream_write(writer, 4, buffer), 4u);
    audio_stream_close(writer);

    std::string refused = temp_path("refused.wav");
    std::remove(refused.c_str());
    for (AudioInfo info : {AudioInfo{SampleFormat(9), 2, 8000, 0}, AudioInfo{signed_16, 0, 8000, 0},
                           AudioInfo{signed_16, 2, 0, 0}}) {
        int32_t handle = audio_stream_open(signed_16, slice_of(refused), true);
        audio_stream_write_info(handle, info);
        EXPECT_EQ(audio_stream_write(handle, 4, buffer), 0u);
        audio_stream_close(handle);
        EXPECT_FALSE(file_exists(refused));
    }
    std::string missing_folder = temp_path("none/x.wav");
    int32_t nowhere = audio_stream_open(signed_16, slice_of(missing_folder), true);
    audio_stream_write_info(nowhere, AudioInfo{signed_16, 2, 8000, 0});
    EXPECT_EQ(audio_stream_write(nowhere, 4, buffer), 0u);
    audio_stream_close(nowhere);
}

// ---- failed seeks and odd buffers

// Every encoding of encodings(), from its file and from memory.
std::vector<Source> encodings_from_files_and_memory() {
    std::vector<Source> sources;
    for (const Source& image : encodings()) {
        sources.push_back({image.path, false, {}});
        sources.push_back(image);
    }
    return sources;
}

// Reads from the current position until a read delivers nothing.
std::vector<unsigned char> read_rest(int32_t handle, int64_t row) {
    std::vector<unsigned char> out;
    std::vector<unsigned char> buffer(static_cast<size_t>(1000 * row));
    for (int64_t got; (got = audio_stream_read(handle, 1000, buffer.data())) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + got * row);
    return out;
}

std::vector<unsigned char> frames_of(const std::vector<unsigned char>& all, int64_t row, int64_t first, int64_t count) {
    auto begin = all.begin() + std::min<int64_t>(first * row, static_cast<int64_t>(all.size()));
    auto end = all.begin() + std::min<int64_t>((first + count) * row, static_cast<int64_t>(all.size()));
    return std::vector<unsigned char>(begin, end);
}

// A seek that fails (past the end, or before the start) leaves the stream where it was:
// the next read goes on from there, and the next seek works. A FLAC that does not state
// its length cannot tell a frame past its end before its decoder tries to reach it.
TEST(AudioStreamRead, AFailedSeekLeavesTheStreamReadableAndSeekable) {
    for (const Source& source : encodings_from_files_and_memory()) {
        std::string name = name_of(source, signed_16);
        int32_t handle = open_source(source, signed_16);
        AudioInfo info = audio_stream_read_info(handle);
        ASSERT_GT(info.channels, 0) << name;
        int64_t row = info.channels * 2;
        std::vector<unsigned char> all = read_rest(handle, row);
        int64_t frames = static_cast<int64_t>(all.size()) / row;
        ASSERT_GT(frames, 40) << name;
        int64_t middle = frames / 2;
        std::vector<unsigned char> part(static_cast<size_t>(20 * row));
        for (int64_t failing : {frames + 1, frames + 100000, int64_t{1} << 40, int64_t{-1}}) {
            std::string what = name + ", seek to " + std::to_string(failing);
            // In the middle, at the start and at the end of the stream.
            ASSERT_TRUE(audio_stream_seek(handle, middle)) << what;
            EXPECT_FALSE(audio_stream_seek(handle, failing)) << what;
            ASSERT_EQ(audio_stream_read(handle, 20, part.data()), 20) << what;
            EXPECT_EQ(part, frames_of(all, row, middle, 20)) << what;
            EXPECT_FALSE(audio_stream_seek(handle, failing)) << what << ", again";
            ASSERT_TRUE(audio_stream_seek(handle, 0)) << what;
            EXPECT_FALSE(audio_stream_seek(handle, failing)) << what;
            ASSERT_EQ(audio_stream_read(handle, 20, part.data()), 20) << what;
            EXPECT_EQ(part, frames_of(all, row, 0, 20)) << what;
            ASSERT_TRUE(audio_stream_seek(handle, frames)) << what;
            EXPECT_FALSE(audio_stream_seek(handle, failing)) << what;
            EXPECT_EQ(audio_stream_read(handle, 20, part.data()), 0) << what << ": still at the end";
            ASSERT_TRUE(audio_stream_seek(handle, frames - 30)) << what;
            EXPECT_EQ(read_rest(handle, row), frames_of(all, row, frames - 30, 30)) << what;
        }
        audio_stream_close(handle);
    }
}

// Buffers at any address: samples are stored byte-wise, never as a misaligned 16-bit or
// float store (which UndefinedBehaviorSanitizer reports), and hold what an aligned read
// gives.
TEST(AudioStreamRead, ReadsIntoOddAddressesMatchAlignedReads) {
    for (const Source& source : encodings_from_files_and_memory())
        for (SampleFormat format : {signed_16, unsigned_16, signed_32, unsigned_32, float_32}) {
            std::string name = name_of(source, format);
            int32_t handle = open_source(source, format);
            AudioInfo info = audio_stream_read_info(handle);
            ASSERT_GT(info.channels, 0) << name;
            int64_t row = info.channels * audio_format_width(format);
            std::vector<unsigned char> aligned = read_rest(handle, row);
            for (int64_t offset : {1, 2, 3}) {
                ASSERT_TRUE(audio_stream_seek(handle, 0)) << name;
                std::vector<unsigned char> buffer(static_cast<size_t>(1000 * row + offset));
                std::vector<unsigned char> odd;
                for (int64_t got; (got = audio_stream_read(handle, 1000, buffer.data() + offset)) > 0;)
                    odd.insert(odd.end(), buffer.begin() + offset, buffer.begin() + offset + got * row);
                EXPECT_EQ(odd, aligned) << name << " at offset " << offset;
            }
            audio_stream_close(handle);
        }
}

}  // namespace
