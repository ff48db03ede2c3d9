// The audio benchmarks' fixtures: stereo chords at 44.1 kHz with a little noise (so the
// encoders have work to do), made once per machine in the temporary folder with
// libsndfile and kept there under a name that says their length and container.
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace audio_bench {

inline constexpr int rate = 44100;

inline const char* const container_names[] = {"wav", "flac", "ogg"};
inline const int container_formats[] = {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                                        SF_FORMAT_OGG | SF_FORMAT_VORBIS};

// The path of `seconds` of the chord in container 0 (WAV), 1 (FLAC) or 2 (Ogg Vorbis).
inline std::string fixture(int container, int seconds) {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("wordgen_bench_" + std::to_string(seconds) + "s." + container_names[container])).string();
    if (std::filesystem::exists(path)) return path;
    std::string partial = path + ".partial";
    SF_INFO info = {};
    info.channels = 2;
    info.samplerate = rate;
    info.format = container_formats[container];
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (!file) return path;
    // In blocks: the Vorbis encoder takes stack in proportion to one write.
    constexpr int64_t block = 4096;
    int64_t frames = int64_t{seconds} * rate;
    std::vector<float> samples(static_cast<size_t>(block * 2));
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
    for (int64_t done = 0; done < frames; done += block) {
        int64_t n = std::min(block, frames - done);
        for (int64_t i = 0; i < n; ++i) {
            double t = static_cast<double>(done + i) / rate;
            samples[static_cast<size_t>(2 * i)] =
                static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 331 * t)) + noise(random);
            samples[static_cast<size_t>(2 * i + 1)] =
                static_cast<float>(0.3 * std::sin(2 * M_PI * 277 * t) + 0.2 * std::sin(2 * M_PI * 415 * t)) + noise(random);
        }
        sf_writef_float(file, samples.data(), n);
    }
    sf_close(file);
    std::filesystem::rename(partial, path);
    return path;
}

}  // namespace audio_bench
