#include "runtime/system/file.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

Slice as_slice(const std::string& text) { return Slice{text.data(), static_cast<int64_t>(text.size())}; }

struct FileTest : testing::Test {
    TemporaryFolder folder;
};

TEST_F(FileTest, ModeCodesWithoutAStreamOpenNothing) {
    std::string path = folder.file("untouched");
    for (int64_t mode : {0, 5, 7, 8, 255, 256, -1}) {
        EXPECT_EQ(file_open(as_slice(path), mode), nullptr) << "mode " << mode;
    }
    EXPECT_EQ(read_file(path), "<missing>");
    File* file = file_open(as_slice(path), 257);  // the low byte is 1: write
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file_write(file, 3, "abc"), 3u);
    EXPECT_EQ(file_close(file), 0);
    EXPECT_EQ(read_file(path), "abc");
}

TEST_F(FileTest, EachModeTreatsExistingAndMissingFiles) {
    struct Case {
        int64_t mode;
        bool opens_missing;      // creates a missing file
        std::string after_write; // existing "old" after writing "new" at the start
    };
    const Case cases[] = {
        {file_mode_write, true, "new"},
        {file_mode_read, false, "old"},
        {file_mode_read_write, false, "new"},
        {file_mode_append, true, "oldnew"},
        {file_mode_read_append, true, "oldnew"},
    };
    for (const Case& c : cases) {
        std::string missing = folder.file("missing" + std::to_string(c.mode));
        File* created = file_open(as_slice(missing), c.mode);
        EXPECT_EQ(created != nullptr, c.opens_missing) << "mode " << c.mode;
        if (created) EXPECT_EQ(file_close(created), 0);

        std::string existing = folder.file("existing" + std::to_string(c.mode));
        write_file(existing, "old");
        File* file = file_open(as_slice(existing), c.mode);
        ASSERT_NE(file, nullptr) << "mode " << c.mode;
        file_write(file, 3, "new");
        file_close(file);
        EXPECT_EQ(read_file(existing), c.after_write) << "mode " << c.mode;
    }
}

TEST_F(FileTest, ReadWriteKeepsContentsAndStartsAtTheBeginning) {
    std::string path = folder.file("rw");
    write_file(path, "hello");
    File* file = file_open(as_slice(path), file_mode_read_write);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file_read_byte(file), 'h');
    ASSERT_TRUE(file_seek(file, 0));
    EXPECT_EQ(file_write_byte(file, 'J'), 'J');
    ASSERT_TRUE(file_seek(file, 0));
    char buffer[8] = {};
    EXPECT_EQ(file_read(file, 8, buffer), 5u);
    EXPECT_STREQ(buffer, "Jello");
    EXPECT_NE(file_end(file), 0);
    file_close(file);
}

TEST_F(FileTest, SizeEndAndSeek) {
    std::string path = folder.file("empty");
    write_file(path, "");
    File* file = file_open(as_slice(path), file_mode_read);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file_size(file), 0);
    EXPECT_EQ(file_end(file), 0);
    EXPECT_EQ(file_read_byte(file), -1);
    EXPECT_NE(file_end(file), 0);
    EXPECT_TRUE(file_seek(file, 0));
    EXPECT_EQ(file_end(file), 0);  // a seek clears the end of file
    EXPECT_FALSE(file_seek(file, -1));
    file_close(file);

    write_file(path, "0123456789");
    file = file_open(as_slice(path), file_mode_read);
    EXPECT_EQ(file_size(file), 10);
    EXPECT_EQ(file_read_byte(file), '0');  // the position is still 0 after measuring
    ASSERT_TRUE(file_seek(file, 7));
    EXPECT_EQ(file_size(file), 10);
    EXPECT_EQ(file_read_byte(file), '7');
    file_close(file);
}

TEST_F(FileTest, WriteByteKeepsTheLowEightBits) {
    std::string path = folder.file("bytes");
    File* file = file_open(as_slice(path), file_mode_write);
    EXPECT_EQ(file_write_byte(file, 266), 10);
    EXPECT_EQ(file_write_byte(file, -1), 255);
    EXPECT_EQ(file_write_byte(file, 'a'), 'a');
    file_close(file);
    EXPECT_EQ(read_file(path), std::string("\n\xFF" "a"));
}

TEST_F(FileTest, PositionsAndSizesBeyondFourGigabytes) {
    // A sparse file: seeking far past the end and writing one byte takes no real space.
    std::string path = folder.file("large");
    File* file = file_open(as_slice(path), file_mode_write);
    ASSERT_NE(file, nullptr);
    const int64_t far = (int64_t{5} << 30) + 3;
    ASSERT_TRUE(file_seek(file, far));
    EXPECT_EQ(file_write_byte(file, 'z'), 'z');
    EXPECT_EQ(file_size(file), far + 1);
    ASSERT_EQ(file_close(file), 0);
    file = file_open(as_slice(path), file_mode_read);
    EXPECT_EQ(file_size(file), far + 1);
    ASSERT_TRUE(file_seek(file, far));
    EXPECT_EQ(file_read_byte(file), 'z');
    file_close(file);
}

TEST_F(FileTest, PathsInUtf8AndBadPaths) {
    std::string name = folder.file("n\xC3\xA4me \xE2\x82\xAC.txt");
    File* file = file_open(as_slice(name), file_mode_write);
    ASSERT_NE(file, nullptr);
    file_close(file);
    EXPECT_EQ(read_file(name), "");

    // Invalid UTF-8 reaches the platform with U+FFFD in its place.
    std::string bad = folder.file("bad\xFFname");
    file = file_open(as_slice(bad), file_mode_write);
    ASSERT_NE(file, nullptr);
    file_close(file);
    EXPECT_EQ(read_file(folder.file("bad\xEF\xBF\xBDname")), "");

    EXPECT_EQ(file_open(Slice{nullptr, 0}, file_mode_write), nullptr);
    EXPECT_EQ(file_open(as_slice(folder.path), file_mode_read), nullptr);  // a directory
    EXPECT_EQ(file_open(as_slice(folder.path), file_mode_write), nullptr);
    EXPECT_EQ(file_open(as_slice(folder.file("no/such/dir")), file_mode_write), nullptr);
    std::string too_long = folder.path + "/" + std::string(9000, 'x');
    EXPECT_EQ(file_open(as_slice(too_long), file_mode_write), nullptr);
}

TEST_F(FileTest, NullHandlesFailQuietly) {
    char buffer[4];
    EXPECT_TRUE(file_failed(nullptr));
    EXPECT_EQ(file_close(nullptr), -1);
    EXPECT_FALSE(file_seek(nullptr, 0));
    EXPECT_EQ(file_end(nullptr), 0);
    EXPECT_EQ(file_size(nullptr), -1);
    EXPECT_EQ(file_write(nullptr, 4, "abcd"), 0u);
    EXPECT_EQ(file_write_byte(nullptr, 1), -1);
    EXPECT_EQ(file_read(nullptr, 4, buffer), 0u);
    EXPECT_EQ(file_read_byte(nullptr), -1);
}

TEST_F(FileTest, AFullDeviceFailsTheClose) {
    File* file = file_open(slice_literal("/dev/full"), file_mode_write);
    if (!file) GTEST_SKIP() << "no /dev/full here";
    file_write(file, 5, "12345");  // buffered: the failure shows when it is flushed
    EXPECT_EQ(file_close(file), -1);
}

}  // namespace
