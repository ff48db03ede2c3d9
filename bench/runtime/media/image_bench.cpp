// Loading and saving a 4096 x 4096 RGBA picture as PNG and JPEG: through the image service
// (decoding into the image pool) against stb called directly on the heap, in one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "runtime/media/image.h"
#include "runtime/media/pool.h"

// A second copy of the libraries with their stock configuration (heap, every decoder),
// static so that it cannot meet the runtime's own.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

namespace fs = std::filesystem;

constexpr int side = 4096;
constexpr int channels = 4;
constexpr int jpeg_quality = 100;
// Room for a decode's every buffer: the PNG needs its compressed data, the filtered rows
// and the pixels; the JPEG its component planes and the pixels.
constexpr int64_t pool_bytes = int64_t{512} << 20;
// libpng's default chunk size: real PNGs arrive in many chunks, which makes the decoder
// grow the buffer it gathers them in, once per doubling.
constexpr uint32_t idat_chunk = 8192;

std::vector<uint8_t> make_pixels() {
    std::vector<uint8_t> pixels(size_t{side} * side * channels);
    uint32_t noise = 1;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            noise = noise * 1664525u + 1013904223u;  // a little grain, like a photograph
            size_t at = (static_cast<size_t>(y) * side + static_cast<size_t>(x)) * channels;
            uint8_t* p = &pixels[at];
            p[0] = static_cast<uint8_t>((x >> 4) + (noise >> 30));
            p[1] = static_cast<uint8_t>((y >> 4) + (noise >> 28 & 3));
            p[2] = static_cast<uint8_t>(((x + y) >> 5) ^ (noise >> 26 & 3));
            p[3] = static_cast<uint8_t>(255 - (x * y >> 18));
        }
    }
    return pixels;
}

uint32_t crc32(const uint8_t* bytes, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void put_chunk(std::vector<uint8_t>& out, const uint8_t* type, const uint8_t* data, uint32_t size) {
    put_be32(out, size);
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    put_be32(out, crc32(out.data() + start, size + 4));
}

// The PNG with its compressed data cut into chunks of idat_chunk bytes.
std::vector<uint8_t> rechunk(const uint8_t* png, size_t length) {
    constexpr size_t signature = 8, header = 8, crc = 4;
    std::vector<uint8_t> out(png, png + signature);
    for (size_t at = signature; at + header <= length;) {
        uint32_t size = uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 |
                        uint32_t{png[at + 2]} << 8 | png[at + 3];
        const uint8_t* type = png + at + 4;
        const uint8_t* data = png + at + header;
        bool idat = std::string(reinterpret_cast<const char*>(type), 4) == "IDAT";
        for (uint32_t done = 0; idat && done < size; done += idat_chunk) {
            put_chunk(out, type, data + done, std::min(idat_chunk, size - done));
        }
        if (!idat) put_chunk(out, type, data, size);
        at += header + size + crc;
    }
    return out;
}

void append_bytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    auto* bytes = static_cast<uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

struct Setup {
    std::vector<uint8_t> pixels = make_pixels();
    std::vector<uint8_t> pool = std::vector<uint8_t>(pool_bytes);  // touched once, here
    fs::path dir = scratch_folder();
    std::string png_path = (dir / "source.png").string();
    std::string jpg_path = (dir / "source.jpg").string();

    Setup() {
        std::vector<uint8_t> png, jpg;
        stbi_write_png_to_func(append_bytes, &png, side, side, channels, pixels.data(),
                               side * channels);
        write_file(png_path, rechunk(png.data(), png.size()));
        stbi_write_jpg_to_func(append_bytes, &jpg, side, side, channels, pixels.data(),
                               jpeg_quality);
        write_file(jpg_path, jpg);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void load_service(benchmark::State& state, const std::string& path) {
    Setup& s = setup();
    for (auto _ : state) {
        image_set_buffer(pool_bytes, s.pool.data());
        Image image = image_load(slice_of(path), channels);
        if (!image.data) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.data);
    }
    // With every growth in place this is the sum of the decoder's buffers, no copies.
    state.counters["pool_MiB"] = static_cast<double>(image_memory_pos) / (1 << 20);
    state.counters["file_MiB"] = static_cast<double>(fs::file_size(path)) / (1 << 20);
}

// The pool taken fresh from the heap for every load, as the heap gives stb its buffers:
// the page faults of first use are paid here too, which the reused pool above avoids.
void load_service_fresh_pool(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> pool(new uint8_t[pool_bytes]);
        image_set_buffer(pool_bytes, pool.get());
        Image image = image_load(slice_of(path), channels);
        if (!image.data) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.data);
        image_set_buffer(0, nullptr);
    }
}

void load_direct(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        int w = 0, h = 0, own = 0;
        stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &own, channels);
        if (!pixels) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
}

void BM_LoadPngService(benchmark::State& state) { load_service(state, setup().png_path); }
void BM_LoadPngServiceFreshPool(benchmark::State& state) {
    load_service_fresh_pool(state, setup().png_path);
}
void BM_LoadPngDirect(benchmark::State& state) { load_direct(state, setup().png_path); }
void BM_LoadJpegService(benchmark::State& state) { load_service(state, setup().jpg_path); }
void BM_LoadJpegServiceFreshPool(benchmark::State& state) {
    load_service_fresh_pool(state, setup().jpg_path);
}
void BM_LoadJpegDirect(benchmark::State& state) { load_direct(state, setup().jpg_path); }

// The encoder follows the extension of `name`.
void save_service(benchmark::State& state, const char* name) {
    Setup& s = setup();
    std::string path = (s.dir / name).string();
    for (auto _ : state) {
        if (!image_save(Image{s.pixels.data(), side, side}, slice_of(path), channels)) {
            state.SkipWithError("save failed");
        }
    }
}

void BM_SavePngService(benchmark::State& state) { save_service(state, "service.png"); }

void BM_SavePngDirect(benchmark::State& state) {
    Setup& s = setup();
    std::string path = (s.dir / "direct.png").string();
    for (auto _ : state) {
        if (!stbi_write_png(path.c_str(), side, side, channels, s.pixels.data(), side * channels)) {
            state.SkipWithError("save failed");
        }
    }
}

void BM_SaveJpegService(benchmark::State& state) { save_service(state, "service.jpg"); }

void BM_SaveJpegDirect(benchmark::State& state) {
    Setup& s = setup();
    std::string path = (s.dir / "direct.jpg").string();
    for (auto _ : state) {
        if (!stbi_write_jpg(path.c_str(), side, side, channels, s.pixels.data(), jpeg_quality)) {
            state.SkipWithError("save failed");
        }
    }
}

// Service and direct side by side, so that both meet the same machine load.
BENCHMARK(BM_LoadPngService)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadPngServiceFreshPool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadPngDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadJpegService)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadJpegServiceFreshPool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadJpegDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SavePngService)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SavePngDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveJpegService)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveJpegDirect)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
