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
// channels (0 keeps the file's own count) in the image pool; 16-bit samples keep their
// most significant byte, in PNM files too. Blocks of up to 64 KiB that the decoder takes
// start zeroed, so its state never begins from an earlier load's bytes. Null when the file
// cannot be opened or decoded, when the image guard refuses it (a JPEG Huffman table
// segment the decoder would overrun on, a PNM header number it would overflow), or when
// the pool runs short; `width` and `height` are written only on success.
[[nodiscard]] uint8_t* image_codec_load(const char* path, int32_t channels, int32_t* width,
                                        int32_t* height);

// As image_codec_load for `size` encoded bytes at `data`.
[[nodiscard]] uint8_t* image_codec_load_from_memory(const uint8_t* data, int32_t size,
                                                    int32_t channels, int32_t* width,
                                                    int32_t* height);

// Encodes `height` rows of `width` pixels of `channels` bytes each (no gaps between rows)
// into a file created at the NUL-terminated `path`: TGA run-length encoded, JPEG at
// quality 100, PNG at the library's default level and filter. False when the encoder
// fails or the file cannot be created or completely written (a partial file stays).
// The caller keeps width x height x channels, plus a byte per row, within 2^31 - 1.
[[nodiscard]] bool image_codec_save(ImageEncoding encoding, const char* path, int32_t width,
                                    int32_t height, int32_t channels, const uint8_t* pixels);
