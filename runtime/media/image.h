// The image service: pictures loaded from files or memory into 8-bit pixels in the image
// pool, and saved as BMP, PNG, TGA or JPEG chosen by the path's extension. State: one
// flip setting, off at start, that governs loading and saving alike.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

// Rows follow each other top to bottom (bottom to top with flipping on) without gaps;
// each row is width x channels bytes, each pixel its channels in order (grey; grey,
// alpha; red, green, blue; red, green, blue, alpha). The channel count is not recorded:
// the program names it when loading and again when saving.
struct Image {
    uint8_t* data;   // pixels in the image pool, valid until it is set again; null on failure
    int32_t width;   // pixels per row
    int32_t height;  // rows
};

// Turns flipping on (nonzero) or off for later loads and saves: loads deliver the rows
// bottom to top and saves write them in reverse order.
void image_set_flip(uint8_t flip);

// Loads the JPEG, PNG, BMP, TGA, PSD, GIF, PIC or PNM file at `path` (its bytes go to the
// C library unconverted) with `channels` channels, 0 keeping the file's own count, which
// is then unknown to the caller. 16-bit sources are reduced to 8 bits; PNM samples are
// scaled from the file's largest value to 255, rounding down. Pixels never come from
// memory the file does not define: blocks taken from the pool start zeroed. The empty image
// (null, 0, 0) when channels lie outside 0..4, the path holds a NUL byte or does not fit
// the temporary ring, or the file cannot be opened or decoded (HDR never can), or it has
// a width or height of 0, or it is a JPEG with a malformed Huffman table segment or
// without a scan, a binary PNM whose header numbers pass 2^31 - 1 or whose largest value
// is 0, a PNG or BMP whose pixels name a palette entry the file does not hold, or the
// pool runs short (after the pool's message). Widths and heights past 2^24 never decode. Opening never waits: a FIFO without a writer reads as empty and fails to decode.
[[nodiscard]] Image image_load(Slice path, int8_t channels);

// As image_load for `size` encoded bytes at `data`. Also the empty image for a null
// `data`, a negative size, or 2^31 bytes and more, which the decoder cannot count.
[[nodiscard]] Image image_load_from_memory(int64_t size, const void* data, int8_t channels);

// Saves `image` with `channels` (1..4) bytes per pixel to `path`, encoded by the text
// after the path's last '.': "bmp", "png" (rows of width x channels bytes), "tga"
// (run-length encoded) or "jpg" (quality 100), compared case-sensitively. False, with
// nothing written, for any other extension, null data, a width or height of 0 or less,
// channels outside 1..4, sizes the format's header cannot hold or its encoder cannot count
// for the worst pixels (TGA and JPEG: 65535 wide or high at most; BMP: a file within
// 2^31 - 1 bytes; PNG: rows within 2^24 - 1 bytes and about 1.43 GB in all; the exact
// limits are image_codec_can_encode's), or a path holding a NUL byte or too long for the
// temporary ring; false also when the file cannot be created or completely written (a
// partial file then stays). A FIFO that nobody reads is refused at once instead of waited on.
[[nodiscard]] bool image_save(Image image, Slice path, int8_t channels);
