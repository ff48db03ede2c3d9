#include "runtime/media/audio_container.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int none = -1;

// Loads refuse what they do not recognise; streams read it as WAV. Both take the whole
// text after the last '.', case-sensitively.
TEST(AudioContainer, LoadsAndStreamsReadTheExtensionByTheirOwnRules) {
    struct Case {
        const char* path;
        int load;
        AudioContainer stream;
    } cases[] = {
        {"song.wav", audio_container_wav, audio_container_wav},
        {"a.b.flac", audio_container_flac, audio_container_flac},
        {"x.ogg", audio_container_ogg, audio_container_ogg},
        {"song.WAV", none, audio_container_wav},
        {"song.OGG", none, audio_container_wav},
        {"song.wav.bak", none, audio_container_wav},
        {"song.wave", none, audio_container_wav},
        {"song.oggx", none, audio_container_wav},
        {"wav", none, audio_container_wav},
        {"song.", none, audio_container_wav},
        {"dir.ogg/song", none, audio_container_wav},
        {"", none, audio_container_wav},
    };
    for (const auto& c : cases) {
        AudioContainer load = AudioContainer(77);
        bool known = audio_container_for_load(slice_from_cstr(c.path), load);
        EXPECT_EQ(known ? int(load) : none, c.load) << c.path;
        if (!known) {
            EXPECT_EQ(load, AudioContainer(77)) << c.path << ": untouched";
        }
        EXPECT_EQ(audio_container_for_stream(slice_from_cstr(c.path)), c.stream) << c.path;
    }
}

const std::string wave64_guid("riff\x2e\x91\xcf\x11\xa5\xd6\x28\xdb\x04\xc1\x00\x00", 16);

// Leading bytes: what a load from memory takes, what a stream from memory takes, and
// which container's own magic they carry.
TEST(AudioContainer, LeadingBytesChooseAndGate) {
    struct Case {
        const char* name;
        std::string bytes;
        int load;
        AudioContainer stream;
        int magic;  // the container whose magic the bytes carry, or none
    } cases[] = {
        {"riff", "RIFF....WAVE", audio_container_wav, audio_container_wav, audio_container_wav},
        {"rf64", "RF64....WAVE", none, audio_container_wav, audio_container_wav},
        {"wave64", wave64_guid + "....", none, audio_container_wav, audio_container_wav},
        {"wave64 cut", wave64_guid.substr(0, 15), none, audio_container_wav, none},
        {"wave64 guid changed", "riff" + std::string(12, '\0'), none, audio_container_wav, none},
        {"flac", "fLaC\0\0\0\x22", audio_container_flac, audio_container_flac, audio_container_flac},
        {"ogg", "OggS\0\x02", audio_container_ogg, audio_container_ogg, audio_container_ogg},
        {"aiff", "FORM....AIFF", none, audio_container_wav, none},
        {"au", ".snd....", none, audio_container_wav, none},
        {"caf", "caff\0\x01\0\0", none, audio_container_wav, none},
        {"lower riff", "riff", none, audio_container_wav, none},
        {"three bytes", "RIF", none, audio_container_wav, none},
        {"empty", "", none, audio_container_wav, none},
    };
    for (const auto& c : cases) {
        auto size = static_cast<int64_t>(c.bytes.size());
        AudioContainer load = AudioContainer(77);
        bool known = audio_container_for_load_memory(size, c.bytes.data(), load);
        EXPECT_EQ(known ? int(load) : none, c.load) << c.name;
        EXPECT_EQ(audio_container_for_stream_memory(size, c.bytes.data()), c.stream) << c.name;
        for (AudioContainer container : {audio_container_wav, audio_container_flac, audio_container_ogg})
            EXPECT_EQ(audio_container_has_magic(container, size, c.bytes.data()), c.magic == container)
                << c.name << " as " << int(container);
    }
    // No bytes at all, or a size that says fewer than there are.
    AudioContainer load = audio_container_flac;
    EXPECT_FALSE(audio_container_for_load_memory(64, nullptr, load));
    EXPECT_EQ(audio_container_for_stream_memory(64, nullptr), audio_container_wav);
    EXPECT_FALSE(audio_container_has_magic(audio_container_wav, 64, nullptr));
    EXPECT_FALSE(audio_container_has_magic(audio_container_wav, 3, "RIFF"));
    EXPECT_FALSE(audio_container_has_magic(audio_container_ogg, -4, "OggS"));
}

}  // namespace
