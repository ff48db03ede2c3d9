#include "runtime/media/encoded_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(EncodedBytes, SeeksMoveOnlyToPlacesThatExist) {
    const unsigned char data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case {
        int64_t start, offset;
        int whence;
        int64_t result, position;
    } cases[] = {
        {0, 4, SEEK_SET, 4, 4},           {4, 3, SEEK_CUR, 7, 7},
        {4, -4, SEEK_CUR, 0, 0},          {4, -5, SEEK_CUR, -1, 4},
        {4, -2, SEEK_END, 8, 8},          {4, 5, SEEK_END, 15, 15},  // past the end: reads give nothing
        {4, -11, SEEK_END, -1, 4},        {4, INT64_MAX, SEEK_CUR, -1, 4},
        {4, INT64_MIN, SEEK_SET, -1, 4},  {4, 1, 99, -1, 4},
    };
    for (const auto& c : cases) {
        EncodedBytes bytes = {data, 10, c.start};
        EXPECT_EQ(encoded_bytes_seek(bytes, c.offset, c.whence), c.result) << c.start << " " << c.offset;
        EXPECT_EQ(bytes.position, c.position) << c.start << " " << c.offset;
    }
}

TEST(EncodedBytes, ReadsStopAtTheEnd) {
    const unsigned char data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EncodedBytes bytes = {data, 10, 7};
    unsigned char out[8] = {0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};
    EXPECT_EQ(encoded_bytes_read(bytes, 8, out), 3);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[2], 9);
    EXPECT_EQ(out[3], 0xaa);
    EXPECT_EQ(encoded_bytes_read(bytes, 8, out), 0);
    bytes.position = 20;
    EXPECT_EQ(encoded_bytes_read(bytes, 8, out), 0);
    bytes.position = 0;
    EXPECT_EQ(encoded_bytes_read(bytes, 0, out), 0);
    EXPECT_EQ(encoded_bytes_read(bytes, -1, out), 0);
    EXPECT_EQ(bytes.position, 0);
}

}  // namespace
