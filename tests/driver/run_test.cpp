// The command line, run as a subprocess: exit status, standard output, the output file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/options.h"
#include "synthesis/arena.h"
#include "synthesis/word.h"
#include "test_support.h"

namespace {

const std::string seed_one_words =
    "wywaxu\npavnex\nmefego\ndimekokferek\nmimfligimuf\nwywodegak\npsu\nivykojdu\nvyst\nefubawy\n";

std::string header(const std::string& count, const std::string& seed) {
    return "generating " + count + " words\nseed " + seed + "\n----------\n";
}

std::string report(const std::string& counts_by_letter) {
    // counts_by_letter: 26 numbers separated by spaces.
    std::string out = "frequencies\n-----------\n";
    size_t start = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        size_t end = counts_by_letter.find(' ', start);
        out += std::string(1, letter) + ": " + counts_by_letter.substr(start, end - start) + "\n";
        start = end + 1;
    }
    return out;
}

TEST(RunTest, WordsForASeed) {
    ProcessResult result = run_wordgen({"-r", "1", "-w", "10"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, header("10", "1") + seed_one_words);
}

TEST(RunTest, DefaultsAndTheClockSeed) {
    ProcessResult result = run_wordgen({});
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.output.rfind("generating 64 words\nseed ", 0), 0u);
    size_t lines = 0;
    for (char c : result.output) lines += c == '\n';
    EXPECT_EQ(lines, 3u + 64u);
    // The clock is the seed: the same reading gives the same words.
    std::string seed = result.output.substr(25, result.output.find('\n', 25) - 25);
    ProcessResult again = run_wordgen({"-r", seed});
    EXPECT_EQ(again.output, result.output);
}

TEST(RunTest, OddCountsAndSeeds) {
    struct Case {
        std::vector<std::string> arguments;
        std::string expected_header;
        size_t word_lines;
    };
    const Case cases[] = {
        {{"-w", "0", "-r", "3"}, header("0", "3"), 0},
        {{"-w", "-3", "-r", "3"}, header("18446744073709551613", "3"), 0},
        {{"-w", "12abc", "-r", "3"}, header("12", "3"), 12},
        {{"-w", "abc", "-r", "3"}, header("0", "3"), 0},
        {{"-r", "-1", "-w", "2"}, header("2", "18446744073709551615"), 2},
        {{"-w", "5", "-w", "7", "-r", "0"}, header("7", "0"), 7},
        {{"-wx", "3", "-r", "0"}, header("3", "0"), 3},
        {{"--w", "3", "-r", "0"}, header("64", "0"), 64},
    };
    for (const Case& c : cases) {
        ProcessResult result = run_wordgen(c.arguments);
        EXPECT_EQ(result.status, 0);
        ASSERT_EQ(result.output.substr(0, c.expected_header.size()), c.expected_header);
        size_t lines = 0;
        for (char ch : result.output.substr(c.expected_header.size())) lines += ch == '\n';
        EXPECT_EQ(lines, c.word_lines) << c.expected_header;
    }
}

TEST(RunTest, EmptyWordsStillGetTheirLine) {
    ProcessResult result = run_wordgen({"-r", "4", "-w", "30", "-s", "0", "0"});
    EXPECT_EQ(result.status, 0);
    std::string words = result.output.substr(header("30", "4").size());
    size_t lines = 0, empty = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        lines += words[i] == '\n';
        empty += words[i] == '\n' && (i == 0 || words[i - 1] == '\n');
    }
    EXPECT_EQ(lines, 30u);
    EXPECT_GT(empty, 10u);
}

TEST(RunTest, WordsGoToTheOutputFileOnly) {
    TemporaryFolder folder;
    std::string path = folder.file("words.txt");
    ProcessResult result = run_wordgen({"-r", "1", "-w", "10", "-o", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, header("10", "1"));
    EXPECT_EQ(read_file(path), seed_one_words);

    // No words: the file is created, or emptied, all the same.
    write_file(path, "old contents");
    result = run_wordgen({"-w", "0", "-o", path, "-r", "2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(path), "");
}

// The header is on standard output before the first word reaches the file, even when the
// file is standard output itself.
TEST(RunTest, TheHeaderComesBeforeWordsWrittenToStandardOutputAsAFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/stdout to name standard output as a file";
#else
    ProcessResult result = run_wordgen({"-w", "3", "-r", "1", "-o", "/dev/stdout"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, header("3", "1") + "wywaxu\npavnex\nmefego\n");
    // Past one block of words too, and with the report after them.
    result = run_wordgen({"-w", "20000", "-r", "1", "-o", "/dev/stdout", "-f"});
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.output.rfind(header("20000", "1") + seed_one_words, 0), 0u);
    EXPECT_NE(result.output.find("\nfrequencies\n-----------\na: "), std::string::npos);
#endif
}

// A count that ends in ':' (the byte after '9') is the count before it.
TEST(RunTest, ACountEndingInTheByteAfterTheDigits) {
    ProcessResult colon = run_wordgen({"-w", "3:", "-r", "1"});
    EXPECT_EQ(colon.status, 0);
    EXPECT_EQ(colon.output, header("3", "1") + "wywaxu\npavnex\nmefego\n");
    EXPECT_EQ(run_wordgen({"-w", "3/", "-r", "1"}).output, colon.output);
}

TEST(RunTest, AnOptionAsThePathOfAnother) {
    // "-o -f" writes to a file named -f and turns the report on as well.
    TemporaryFolder folder;
    std::filesystem::path old_directory = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
    ProcessResult result = run_wordgen({"-r", "1", "-w", "10", "-o", "-f"});
    std::filesystem::current_path(old_directory);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(folder.file("-f")), seed_one_words);
    EXPECT_NE(result.output.find("frequencies\n-----------\na: "), std::string::npos);
}

TEST(RunTest, AnOutputFileThatCannotBeOpened) {
    TemporaryFolder folder;
    std::string path = folder.file("missing/words.txt");
    ProcessResult result = run_wordgen({"-r", "5", "-w", "3", "-o", path, "-f", "-p"}, "\n");
    EXPECT_EQ(result.status, 1);
    // No words, no report and no pause follow the message.
    EXPECT_EQ(result.output, header("3", "5") + "could not open file: " + path + "\n");
}

TEST(RunTest, AnOutputFileThatCannotBeWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/full to fail writes with";
#else
    ProcessResult result = run_wordgen({"-r", "5", "-w", "100000", "-o", "/dev/full", "-f"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, header("100000", "5") + "could not write file: /dev/full\n");
#endif
}

// Arguments and paths are UTF-8 on every system: a non-ASCII output path names the file
// with those very characters, and a non-ASCII argument comes back byte for byte.
TEST(RunTest, NonAsciiArgumentsAndPathsArriveAsUtf8) {
    TemporaryFolder folder;
    const std::string name = "w\xC3\xB6rter-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";
    ProcessResult result = run_wordgen({"-r", "1", "-w", "10", "-o", folder.file(name)});
    EXPECT_EQ(result.output, header("10", "1"));
    std::filesystem::path wide = std::filesystem::path(folder.path) / std::u8string(name.begin(), name.end());
    EXPECT_TRUE(std::filesystem::is_regular_file(wide));
    EXPECT_EQ(read_file(folder.file(name)), seed_one_words);

    const std::string missing = folder.file("n\xC3\xB6-such-folder/\xC3\xA9.txt");
    result = run_wordgen({"-r", "1", "-w", "10", "-o", missing});
    EXPECT_EQ(result.output, header("10", "1") + "could not open file: " + missing + "\n");
}

TEST(RunTest, FrequencyReport) {
    ProcessResult result = run_wordgen({"-r", "1", "-w", "10", "-f"});
    EXPECT_EQ(result.status, 0);
    // The letters of the ten words of seed 1.
    EXPECT_EQ(result.output, header("10", "1") + seed_one_words +
                                 report("4 1 0 3 8 5 3 0 5 1 5 1 5 1 4 2 0 1 2 1 5 3 5 2 5 0"));
    result = run_wordgen({"-r", "1", "-w", "0", "-f"});
    EXPECT_EQ(result.output, header("0", "1") + report("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"));
}

TEST(RunTest, FrequencyReportCountsTheFileWords) {
    TemporaryFolder folder;
    ProcessResult to_file = run_wordgen({"-r", "1", "-w", "10", "-f", "-o", folder.file("w")});
    EXPECT_EQ(to_file.output,
              header("10", "1") + report("4 1 0 3 8 5 3 0 5 1 5 1 5 1 4 2 0 1 2 1 5 3 5 2 5 0"));
}

TEST(RunTest, PauseWaitsForALineOrTheEndOfInput) {
    const std::string expected = header("1", "1") + "wywaxu\npress enter to continue...";
    struct Case {
        std::string input;
    };
    for (const Case& c : {Case{"\n"}, Case{"some text\nmore\n"}, Case{""}, Case{"no line feed"}}) {
        ProcessResult result = run_wordgen({"-r", "1", "-w", "1", "-p"}, c.input);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, expected) << "input \"" << c.input << '"';
    }
}

TEST(RunTest, StandardOutputThatCannotBeWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/full to fail writes with";
#else
    int status = std::system((std::string(WORDGEN_BINARY) + " -w 1000 > /dev/full").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
#endif
}

// Output small enough to wait in the buffers fails only at the final flush of standard
// output: that flush's result alone decides the status. Each case one step from another:
// no words (the header is all), the report, a word too long after the header, and words
// to a good file while standard output fails.
TEST(RunTest, AFailedFinalFlushOfStandardOutputFails) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/full to fail writes with";
#else
    TemporaryFolder folder;
    std::string path = folder.file("words.txt");
    const std::vector<std::string> cases[] = {
        {"-r", "5", "-w", "1"},
        {"-r", "5", "-w", "0"},
        {"-r", "5", "-w", "1", "-f"},
        {"-r", "3", "-w", "2", "-s", "1", "20000"},
        {"-r", "1", "-w", "10", "-o", path},
    };
    for (const std::vector<std::string>& arguments : cases) {
        EXPECT_EQ(run_wordgen_status(arguments, "/dev/full"), 1) << testing::PrintToString(arguments);
    }
    // The words still went to their file.
    EXPECT_EQ(read_file(path), seed_one_words);
#endif
}

// Every failure of the words' part gets its own line, in the order written here, and the
// status 1. A word that fits the file's buffer fails only when the close flushes it; a
// failed write must still show when a word too long for memory follows it.
TEST(RunTest, EachFailureOfTheWordsGetsItsOwnLine) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/full to fail writes with";
#else
    const std::string cannot_write = "could not write file: /dev/full\n";
    const std::string too_long = "word too long for memory\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string after_header;
        int status;
    };
    const Case cases[] = {
        // Only the close sees the device full.
        {{"-r", "5", "-w", "1", "-o", "/dev/full"}, cannot_write, 1},
        // Nothing to write: an empty file is no failure.
        {{"-r", "5", "-w", "0", "-o", "/dev/full"}, "", 0},
        {{"-r", "5", "-w", "0", "-o", "/dev/full", "-f"}, report("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"), 0},
        // The first word (10,481 letters) fails to write, the second cannot be held.
        {{"-r", "3", "-w", "2", "-s", "1", "20000", "-o", "/dev/full"}, cannot_write + too_long, 1},
        // The first word (80 letters) waits in the buffer, the second cannot be held, the close fails.
        {{"-r", "582", "-w", "2", "-s", "1", "12000", "-o", "/dev/full"}, cannot_write + too_long, 1},
    };
    for (const Case& c : cases) {
        ProcessResult result = run_wordgen(c.arguments);
        std::string count = c.arguments[3];
        EXPECT_EQ(result.status, c.status) << testing::PrintToString(c.arguments);
        EXPECT_EQ(result.output, header(count, c.arguments[1]) + c.after_header) << testing::PrintToString(c.arguments);
    }
#endif
}

TEST(RunTest, HugeWordsWorkInBoundedMemoryOrStop) {
    ProcessResult big = run_wordgen({"-r", "2", "-w", "2", "-s", "3000", "3000"});
    EXPECT_EQ(big.status, 0);
    size_t first_line = big.output.find('\n', header("2", "2").size());
    EXPECT_GE(first_line - header("2", "2").size(), 3000u);

    ProcessResult too_big = run_wordgen({"-r", "2", "-w", "2", "-s", "20000", "20000"});
    EXPECT_EQ(too_big.status, 1);
    EXPECT_EQ(too_big.output, header("2", "2") + "word too long for memory\n");
}

TEST(RunTest, SyllableRangesHaveTheirLengths) {
    for (int n : {1, 2, 3, 7}) {
        std::string count = std::to_string(n);
        ProcessResult result = run_wordgen({"-r", "9", "-w", "500", "-s", count, count});
        std::string words = result.output.substr(header("500", "9").size());
        size_t start = 0;
        for (size_t end; (end = words.find('\n', start)) != std::string::npos; start = end + 1) {
            size_t length = end - start;
            ASSERT_GE(length, static_cast<size_t>(n));
            ASSERT_LE(length, static_cast<size_t>(4 * n + 2));
        }
    }
}

TEST(RunTest, AWordTooLongForMemoryEndsTheRunWithItsMessage) {
    // Once undefined behaviour in the nucleus join (and an empty standard output) under
    // the sanitizers: a word that fills the arena's limit, and the full 64-bit range,
    // whose first count here is huge.
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{"-r", "19", "-w", "1", "-s", "12000"}, header("1", "19") + "word too long for memory\n"},
        // Seed 2's first count is negative: a lone coda, before the word that cannot be held.
        {{"-r", "2", "-w", "3", "-s", "-9223372036854775808", "9223372036854775807"},
         header("3", "2") + "f\nword too long for memory\n"},
    };
    for (const Case& c : cases) {
        ProcessResult result = run_wordgen(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments[1];
        EXPECT_EQ(result.output, c.expected);
    }
}

TEST(RunTest, TheProgramPrintsMakeWordsWordsAcrossItsOutputBlocks) {
    // Words of up to 150 syllables fill the output block many times over; those too long
    // for the fast path come from the arena and, at the end of a block, wait for the next.
    // The file and the report must hold exactly make_word's words and their letters.
    const int64_t count = 1500;
    ASSERT_TRUE(arena_open());
    seed_random(7);
    std::string expected;
    int64_t letters[26] = {};
    for (int64_t i = 0; i < count; ++i) {
        Slice word = make_word(1, 150);
        expected.append(word.data ? word.data : "", static_cast<size_t>(word.length));
        expected += '\n';
        for (int64_t k = 0; k < word.length; ++k) ++letters[word.data[k] - 'a'];
        arena_release_word();
    }
    arena_close();
    ASSERT_GT(expected.size(), 3u * 65536u);
    std::string counts;
    for (int64_t n : letters) {
        if (!counts.empty()) counts += ' ';
        counts += std::to_string(n);
    }

    ProcessResult to_output = run_wordgen({"-r", "7", "-w", std::to_string(count), "-s", "1", "150", "-f"});
    EXPECT_EQ(to_output.status, 0);
    EXPECT_TRUE(to_output.output == header(std::to_string(count), "7") + expected + report(counts));

    TemporaryFolder folder;
    ProcessResult to_file = run_wordgen({"-r", "7", "-w", std::to_string(count), "-s", "1", "150", "-f", "-o",
                                         folder.file("w")});
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.output, header(std::to_string(count), "7") + report(counts));
    EXPECT_TRUE(read_file(folder.file("w")) == expected);
}

}  // namespace

namespace {

std::string version_line() { return std::string("wordgen ") + WORDGEN_VERSION + "\n"; }

TEST(RunTest, VersionPrintsTheBuildsVersionAlone) {
    EXPECT_EQ(version_line().rfind("wordgen 1.", 0), 0u) << "the build gives no version";
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--version"}, {"-w", "3", "--version"}, {"--version", "--help"}, {"-f", "-p", "--version"}}) {
        ProcessResult result = run_wordgen(arguments, "");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, version_line());
    }
}

TEST(RunTest, HelpListsEveryOptionWithItsDefault) {
    ProcessResult result = run_wordgen({"--help"});
    EXPECT_EQ(result.status, 0);
    const std::string& text = result.output;
    EXPECT_EQ(text.rfind("usage: wordgen [-w count] [-s min [max]] [-r seed] [-o file] [-f] [-p]\n", 0), 0u);
    const std::string expected_lines[] = {
        "  -w count      number of words (default " + std::to_string(default_word_count) + ")\n",
        "  -s min [max]  syllables per word, exactly min without max (default " +
            std::to_string(default_min_syllables) + " to " + std::to_string(default_max_syllables) + ")\n",
        "  -r seed       seed of the generator (default: the clock)\n",
        "  -o file       write the words to file (default: standard output)\n",
        "  -f            then print how often each letter was produced (default: off)\n",
        "  -p            then wait for Enter (default: off)\n",
        "\nexample: wordgen -r 42 -w 5\n",
        "see wordgen(1)",
    };
    for (const std::string& line : expected_lines) EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find("generating"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    // Anywhere on the line, whatever else is asked, and with -p it waits for nothing.
    EXPECT_EQ(run_wordgen({"-r", "1", "-w", "5", "--help", "-p"}).output, text);
}

TEST(RunTest, HelpAndVersionTouchNoFile) {
    TemporaryFolder folder;
    std::string path = folder.file("words.txt");
    for (const char* request : {"--help", "--version"}) {
        ProcessResult result = run_wordgen({"-r", "1", "-w", "10", "-o", path, "-f", request});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, run_wordgen({request}).output);
        struct stat info;
        EXPECT_NE(stat(path.c_str(), &info), 0) << request << " created " << path;
    }
    // An existing file keeps its bytes.
    write_file(path, "old contents");
    EXPECT_EQ(run_wordgen({"-o", path, "--help"}).status, 0);
    EXPECT_EQ(read_file(path), "old contents");
}

// Every other argument beginning with "--", and -h and -v, are options of no meaning: the
// words stay those of the same line without them.
TEST(RunTest, LookAlikesOfHelpAndVersionChangeNothing) {
    std::string plain = run_wordgen({"-r", "1", "-w", "10"}).output;
    ASSERT_EQ(plain, header("10", "1") + seed_one_words);
    for (const char* look_alike : {"--helpx", "--hel", "--Help", "--help=1", "--versions", "--VERSION", "--", "---help",
                                   "-h", "-v", "-help", "-version", "--usage"}) {
        ProcessResult result = run_wordgen({"-r", "1", look_alike, "-w", "10"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, plain) << look_alike;
    }
}

}  // namespace
