// The image libraries, private to the runtime: stb_image decodes into the image pool (its
// freeing does nothing) and stb_image_write encodes on the heap. State: the libraries' own
// flip settings. Their symbols stay inside this module, so no other copy can stand in.
#pragma once

#include <cstdint>

enum class ImageEncoding : uint8_t { bmp, png, tga, jpg };

// Sets both libraries' flip settings: loads deliver rows bottom to top and saves write
// the rows in reverse order.
void image_codec_set_flip(bool flip);

// Decodes the file at the NUL-terminated `path` into 8-bit pixels with `channels` (0..4)
// channels (0 keeps the file's own count) in the image pool; 16-bit PNG samples keep their
// most significant byte, PNM samples are scaled from the file's largest value to 255
// (rounding down), and paletted PNGs are looked up here rather than by the decoder. Every
// block the decoder takes starts zeroed and 8-byte aligned (whatever the pool's base), so
// neither its state nor any pixel comes from an earlier load's bytes. Null when the file
// cannot be opened or decoded, when the image guard refuses it (see image_guard.h), when a
// PNG pixel names no palette entry, or when the pool runs short; `width` and `height` are
// written only on success.
[[nodiscard]] uint8_t* image_codec_load(const char* path, int32_t channels, int32_t* width,
                                        int32_t* height);

// As image_codec_load for `size` encoded bytes at `data`.
[[nodiscard]] uint8_t* image_codec_load_from_memory(const uint8_t* data, int32_t size,
                                                    int32_t channels, int32_t* width,
                                                    int32_t* height);

// Whether the encoder for `encoding` can write a `width` x `height` picture of `channels`
// (1..4) bytes per pixel, whatever its pixels: its header fields hold both sizes, and every
// count it keeps in an int stays in range, the size of its worst-case output among them.
// Decided from the sizes alone, before anything is encoded. Widths and heights of 1 or
// more; the limits, each the largest that passes:
//   BMP: the file, 54 header bytes and rows of 3 bytes a pixel padded to 4 (122 and 4 bytes
//        a pixel with 4 channels), at most 2^31 - 1 bytes; any 32-bit width and height.
//   PNG: a row of width x channels bytes at most 2^24 - 1 (the filter choice adds up to 128
//        per byte), the rows with a filter byte each at most 1,431,655,757 bytes (the
//        compressor's output, up to 9 bits a byte, must stay within 1,610,612,734 bytes).
//   TGA: width and height at most 65535; width x height x channels at most 2^31 - 1.
//   JPEG: as TGA.
[[nodiscard]] bool image_codec_can_encode(ImageEncoding encoding, int32_t width, int32_t height,
                                          int32_t channels);

// Encodes `height` rows of `width` pixels of `channels` bytes each (no gaps between rows)
// into a file created at the NUL-terminated `path`: TGA run-length encoded, JPEG at
// quality 100, PNG at the library's default level and filter. False when the encoder
// fails or the file cannot be created or completely written (a partial file stays).
// The caller keeps to what image_codec_can_encode accepts.
[[nodiscard]] bool image_codec_save(ImageEncoding encoding, const char* path, int32_t width,
                                    int32_t height, int32_t channels, const uint8_t* pixels);
