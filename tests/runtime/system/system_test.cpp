// Command execution through the shell: exit statuses, the bytes of the command line, the
// temporary ring's limit, and output order.
#include "runtime/system/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "runtime/system/file.h"
#include "runtime/system/temporary.h"

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class SystemTest : public testing::Test {
  protected:
    std::string at(const std::string& name) const { return (root / name).string(); }
    TemporaryFolder scratch;
    fs::path root = scratch.path;
};

TEST(SystemExecute, ReturnsTheCommandsExitStatus) {
    struct Case {
        const char* command;
        int32_t expected;
    } cases[] = {
        {"true", 0},
        {"", 0},
        {"exit 3", 3},
        {"exit 255", 255},
        {"false", 1},
        {"no-such-command-anywhere 2>/dev/null", 127},
        {"kill -KILL $$", 128 + 9},   // ended by a signal, as the shell reports it
        {"kill -TERM $$", 128 + 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(system_execute(slice_from_cstr(c.command)), c.expected);
    }
}

TEST_F(SystemTest, CommandBytesReachTheShellUnchanged) {
    // The Slice is not terminated: the bytes after its end must not reach the shell.
    std::string command = "printf 'h\\303\\251 \xE2\x82\xAC' > '" + at("out") + "'";
    std::string with_tail = command + "; touch '" + at("tail") + "'";
    EXPECT_EQ(system_execute(Slice{with_tail.data(), static_cast<int64_t>(command.size())}), 0);
    EXPECT_EQ(read_file((root / "out").string()), "h\xC3\xA9 \xE2\x82\xAC");
    EXPECT_FALSE(fs::exists(root / "tail"));
}

// 16383 bytes and the NUL fill the 16 KiB ring; one byte more is refused unrun.
TEST_F(SystemTest, CommandsLongerThanTheRingAreRefused) {
    std::string fits = "touch '" + at("ran") + "'";
    fits.resize(16383, ' ');
    EXPECT_EQ(system_execute(slice_of(fits)), 0);
    EXPECT_TRUE(fs::exists(root / "ran"));

    std::string too_long = "touch '" + at("refused") + "'";
    too_long.resize(16384, ' ');
    EXPECT_EQ(system_execute(slice_of(too_long)), -1);
    EXPECT_FALSE(fs::exists(root / "refused"));
}

// Cut at its NUL, the command would run and report the shorter command's success.
TEST_F(SystemTest, ACommandHoldingANulIsRefusedUnrun) {
    const std::string cut_short = "touch '" + at("made") + "'";
    const std::string commands[] = {
        cut_short + std::string(1, '\0') + "-not-this",
        cut_short + std::string(1, '\0'),
        std::string(1, '\0') + cut_short,
    };
    for (const std::string& command : commands) {
        for (int32_t position : {0, 16383}) {
            SCOPED_TRACE(position);
            temporary_pos = position;
            EXPECT_EQ(system_execute(slice_of(command)), -1);
            EXPECT_FALSE(fs::exists(root / "made"));
        }
    }
    EXPECT_EQ(system_execute(slice_of(cut_short)), 0);
    EXPECT_TRUE(fs::exists(root / "made"));
}

// What the program wrote before, still in its stream buffers, goes out before the
// command runs.
TEST_F(SystemTest, PendingOutputIsWrittenBeforeTheCommandRuns) {
    std::string path = at("log");
    File* log = file_open(slice_of(path), file_mode_write);
    ASSERT_FALSE(file_failed(log));
    ASSERT_EQ(file_write(log, 6, "first\n"), 6u);
    EXPECT_EQ(system_execute(slice_of("cat '" + path + "' > '" + at("seen") + "'")), 0);
    EXPECT_EQ(file_close(log), 0);
    EXPECT_EQ(read_file((root / "seen").string()), "first\n");
}

}  // namespace
