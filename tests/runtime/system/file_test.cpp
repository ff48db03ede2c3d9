// Whole-file operations against real files in a scratch folder.
#include "runtime/system/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "runtime/system/directory.h"
#include "runtime/system/system.h"
#include "runtime/system/temporary.h"
#include "test_support.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// A seam in the C library for the one failure no real file gives on demand: a close that
// reports an error after the copy itself went well (as a disk that defers its last
// write does). The stream on the armed file closes as usual, then says it failed; every
// other stream closes untouched.
namespace close_seam {
bool armed = false;
dev_t device;
ino_t inode;
int closes_failed = 0;
}  // namespace close_seam

extern "C" int fclose(FILE* stream) {
    using Close = int (*)(FILE*);
    static const Close real = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "fclose"));
    struct stat status;
    bool fail = close_seam::armed && stream && fstat(fileno(stream), &status) == 0 &&
                status.st_dev == close_seam::device && status.st_ino == close_seam::inode;
    int result = real(stream);
    if (!fail) return result;
    ++close_seam::closes_failed;
    return EOF;
}

namespace {

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_all(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every byte value, line ends of both kinds and NULs, repeated past several copy blocks.
// Large contents compare as a whole: a failure says so without dumping megabytes.
testing::AssertionResult same_contents(const fs::path& path, const std::string& wanted) {
    std::string got = read_all(path);
    if (got == wanted) return testing::AssertionSuccess();
    return testing::AssertionFailure() << path << " holds " << got.size() << " bytes, not the " << wanted.size()
                                       << " wanted (or different ones)";
}

std::string awkward_bytes(size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 random(12345);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(random());
    bytes.replace(0, 6, "a\r\nb\n\0", 6);
    return bytes;
}

class FileTest : public testing::Test {
  protected:
    std::string at(const std::string& name) const { return (root / name).string(); }
    TemporaryFolder scratch;
    fs::path root = scratch.path;
};

// A folder on another file system than `scratch` (empty when there is none): a plain
// rename into it must fail with the cross-device error.
fs::path other_file_system(const fs::path& scratch) {
    const fs::path candidate = "/dev/shm";
    if (!fs::is_directory(candidate)) return {};
    fs::path probe = scratch / "probe";
    fs::path moved = candidate / ("wordgen-probe-" + scratch.filename().string());
    write_all(probe, "x");
    std::error_code error;
    fs::rename(probe, moved, error);
    fs::remove(error ? probe : moved);
    return error == std::errc::cross_device_link ? candidate : fs::path{};
}

// --- file_copy --------------------------------------------------------------------

TEST_F(FileTest, CopyMakesAnExactCopyAcrossManyBlocks) {
    const std::string bytes = awkward_bytes(3 * 1024 * 1024 + 7);
    write_all(root / "source", bytes);
    EXPECT_EQ(file_copy(slice_of(at("source")), slice_of(at("copy"))), 1);
    EXPECT_TRUE(same_contents(root / "copy", bytes));
    EXPECT_TRUE(same_contents(root / "source", bytes));
}

TEST_F(FileTest, CopyOfAnEmptyFileIsEmpty) {
    write_all(root / "empty", "");
    EXPECT_EQ(file_copy(slice_of(at("empty")), slice_of(at("copy"))), 1);
    ASSERT_TRUE(fs::exists(root / "copy"));
    EXPECT_EQ(fs::file_size(root / "copy"), 0u);
}

TEST_F(FileTest, CopyEmptiesALongerDestinationFirst) {
    write_all(root / "source", "short");
    write_all(root / "copy", std::string(100000, 'x'));
    EXPECT_EQ(file_copy(slice_of(at("source")), slice_of(at("copy"))), 1);
    EXPECT_EQ(read_all(root / "copy"), "short");
}

TEST_F(FileTest, CopyWithNonAsciiNames) {
    write_all(root / "données.txt", "Ωmega");
    EXPECT_EQ(file_copy(slice_of(at("données.txt")), slice_of(at("日本語.txt"))), 1);
    EXPECT_EQ(read_all(root / "日本語.txt"), "Ωmega");
}

TEST_F(FileTest, CopyThatCannotOpenGivesZeroAndLeavesThingsAlone) {
    write_all(root / "source", "keep");
    fs::create_directory(root / "folder");
    struct Case {
        const char* source;
        const char* destination;
        const char* must_not_exist;  // relative to the scratch folder; null: nothing
    } cases[] = {
        {"missing", "copy", "copy"},
        {"folder", "copy", "copy"},
        {"source", "no-such-folder/copy", "no-such-folder"},
        {"source", "folder", nullptr},
        {"", "copy", "copy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
        std::string source = *c.source ? at(c.source) : "";
        EXPECT_EQ(file_copy(slice_of(source), slice_of(at(c.destination))), 0);
        if (c.must_not_exist) {
            EXPECT_FALSE(fs::exists(root / c.must_not_exist));
        }
        EXPECT_EQ(read_all(root / "source"), "keep");
        EXPECT_TRUE(fs::is_directory(root / "folder"));
    }
}

// Opening the destination for writing would empty the source when both are one file.
TEST_F(FileTest, CopyOntoItselfByAnyPathGivesZeroAndKeepsTheFile) {
    const std::string bytes = awkward_bytes(200000);
    write_all(root / "file", bytes);
    fs::create_directory(root / "sub");
    fs::create_hard_link(root / "file", root / "hard-link");
    fs::create_symlink(root / "file", root / "soft-link");
    const char* destinations[] = {"file", "./file", "sub/../file", "hard-link", "soft-link"};
    for (const char* destination : destinations) {
        SCOPED_TRACE(destination);
        EXPECT_EQ(file_copy(slice_of(at("file")), slice_of(at(destination))), 0);
        EXPECT_TRUE(same_contents(root / "file", bytes));
    }
}

TEST_F(FileTest, CopyReportsAFailedWrite) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to fail writes";
    write_all(root / "source", awkward_bytes(100000));
    EXPECT_EQ(file_copy(slice_of(at("source")), slice_of(std::string("/dev/full"))), 0);
}

TEST_F(FileTest, CopyReportsAFailedRead) {
    // Our own memory file opens, but reading its first page (never mapped) fails.
    if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem to fail reads";
    EXPECT_EQ(file_copy(slice_of(std::string("/proc/self/mem")), slice_of(at("copy"))), 0);
    EXPECT_TRUE(fs::exists(root / "copy")) << "the source should have opened, the read failed";
}

TEST_F(FileTest, CopyFromAFifoWithoutWriterDoesNotWait) {
    ASSERT_EQ(system_execute(slice_of("mkfifo '" + at("fifo") + "'")), 0);
    EXPECT_EQ(file_copy(slice_of(at("fifo")), slice_of(at("copy"))), 1);
    EXPECT_EQ(read_all(root / "copy"), "");
}

// --- file_create ------------------------------------------------------------------

TEST_F(FileTest, CreateMakesOrEmptiesAFile) {
    write_all(root / "full", "contents");
    const char* names[] = {"new", "full", "ünïcödé"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(file_create(slice_of(at(name))), 1);
        ASSERT_TRUE(fs::is_regular_file(root / name));
        EXPECT_EQ(fs::file_size(root / name), 0u);
    }
}

TEST_F(FileTest, CreateRefusesFoldersMissingParentsAndFifosWithoutReader) {
    fs::create_directory(root / "folder");
    write_all(root / "folder" / "inside", "kept");
    ASSERT_EQ(system_execute(slice_of("mkfifo '" + at("fifo") + "'")), 0);
    const char* names[] = {"folder", "missing/new", "fifo", ""};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(file_create(slice_of(*name ? at(name) : "")), 0);
    }
    EXPECT_EQ(read_all(root / "folder" / "inside"), "kept");
    EXPECT_FALSE(fs::exists(root / "missing"));
}

// --- file_exists ------------------------------------------------------------------

TEST_F(FileTest, ExistsOnlyForFilesThatOpenForReading) {
    write_all(root / "file", "x");
    write_all(root / "empty", "");
    write_all(root / "ñandú", "x");
    fs::create_directory(root / "folder");
    fs::create_symlink(root / "file", root / "link-to-file");
    fs::create_symlink(root / "folder", root / "link-to-folder");
    fs::create_symlink(root / "missing", root / "dangling");
    struct Case {
        const char* name;
        int32_t expected;
    } cases[] = {
        {"file", 1},   {"empty", 1},          {"ñandú", 1},  {"link-to-file", 1}, {"folder", 0},
        {"folder/", 0}, {"link-to-folder", 0}, {"dangling", 0}, {"missing", 0},     {"file/", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(file_exists(slice_of(at(c.name))), c.expected);
    }
    EXPECT_EQ(file_exists(slice_of("")), 0);
}

// --- file_delete ------------------------------------------------------------------

TEST_F(FileTest, DeleteRemovesFilesAndLinksOnly) {
    write_all(root / "file", "x");
    write_all(root / "éñ", "x");
    write_all(root / "target", "kept");
    fs::create_symlink(root / "target", root / "link");
    EXPECT_NE(file_delete(slice_of(at("file"))), 0);
    EXPECT_NE(file_delete(slice_of(at("éñ"))), 0);
    EXPECT_NE(file_delete(slice_of(at("link"))), 0);
    EXPECT_FALSE(fs::exists(root / "file"));
    EXPECT_FALSE(fs::exists(root / "éñ"));
    EXPECT_FALSE(fs::is_symlink(root / "link"));
    EXPECT_EQ(read_all(root / "target"), "kept");
}

TEST_F(FileTest, DeleteRefusesFoldersMissingAndReadOnlyFiles) {
    fs::create_directory(root / "folder");
    fs::create_symlink(root / "folder", root / "link-to-folder");
    write_all(root / "read-only", "kept");
    fs::permissions(root / "read-only", fs::perms::owner_read | fs::perms::group_read);
    const char* names[] = {"folder", "link-to-folder", "read-only", "missing"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(file_delete(slice_of(at(name))), 0);
    }
    EXPECT_TRUE(fs::is_directory(root / "folder"));
    EXPECT_TRUE(fs::is_symlink(root / "link-to-folder"));
    EXPECT_EQ(read_all(root / "read-only"), "kept");
}

// --- file_rename ------------------------------------------------------------------

TEST_F(FileTest, RenameMovesAFile) {
    write_all(root / "old", "contents");
    fs::create_directory(root / "folder");
    EXPECT_NE(file_rename(slice_of(at("old")), slice_of(at("folder/nouveau né"))), 0);
    EXPECT_FALSE(fs::exists(root / "old"));
    EXPECT_EQ(read_all(root / "folder" / "nouveau né"), "contents");
}

TEST_F(FileTest, RenameNeverReplacesAndRefusesFolders) {
    write_all(root / "old", "old");
    write_all(root / "taken", "taken");
    fs::create_directory(root / "folder");
    struct Case {
        const char* from;
        const char* to;
    } cases[] = {
        {"old", "taken"}, {"old", "folder"}, {"folder", "elsewhere"}, {"missing", "elsewhere"},
        {"old", "no-such-folder/new"}, {"old", "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        EXPECT_EQ(file_rename(slice_of(at(c.from)), slice_of(at(c.to))), 0);
    }
    EXPECT_EQ(read_all(root / "old"), "old");
    EXPECT_EQ(read_all(root / "taken"), "taken");
    EXPECT_TRUE(fs::is_directory(root / "folder"));
    EXPECT_FALSE(fs::exists(root / "elsewhere"));
}

TEST_F(FileTest, RenameMovesAFileToAnotherFileSystem) {
    fs::path other = other_file_system(root);
    if (other.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
    const std::string bytes = awkward_bytes(300000);
    write_all(root / "old", bytes);
    fs::permissions(root / "old", fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
    fs::path moved = other / ("wordgen-moved-" + root.filename().string());
    write_all(root / "taken", "");
    fs::path taken = other / ("wordgen-taken-" + root.filename().string());
    write_all(taken, "taken");

    EXPECT_EQ(file_rename(slice_of(at("taken")), slice_of(taken.string())), 0);
    EXPECT_EQ(read_all(taken), "taken");
    EXPECT_NE(file_rename(slice_of(at("old")), slice_of(moved.string())), 0);
    EXPECT_FALSE(fs::exists(root / "old"));
    EXPECT_TRUE(same_contents(moved, bytes));
    EXPECT_EQ(fs::status(moved).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
    fs::remove(moved);
    fs::remove(taken);
}

// Two paths of 4000 bytes fit the 16 KiB ring together as UTF-16, wherever its position
// stands; two of 6000 bytes never do, and are refused rather than overwritten.
TEST_F(FileTest, RenameTakesBothPathsFromTheRingOrRefuses) {
    auto padded = [&](const std::string& name, size_t length) {
        std::string path = root.string() + "/";
        while (path.size() + 2 + name.size() <= length) path += "./";
        while (path.size() + name.size() < length) path += "/";
        return path + name;
    };
    write_all(root / "a", "moved");
    const int32_t positions[] = {0, 400, 5000, 16000};  // an even count brings the file home
    std::string from = padded("a", 4000), to = padded("b", 4000);
    for (int32_t position : positions) {
        SCOPED_TRACE(position);
        temporary_pos = position;
        ASSERT_NE(file_rename(slice_of(from), slice_of(to)), 0);
        std::swap(from, to);
    }
    temporary_pos = 0;
    EXPECT_EQ(file_rename(slice_of(padded("a", 6000)), slice_of(padded("b", 6000))), 0);
    EXPECT_TRUE(fs::exists(root / "a"));
    EXPECT_EQ(file_rename(slice_of(std::string(20000, 'a')), slice_of(at("b"))), 0);
    EXPECT_TRUE(fs::exists(root / "a"));
}

TEST_F(FileTest, ServicesRefusePathsTooLongForTheRing) {
    const std::string long_path(16384, 'x');
    EXPECT_EQ(file_exists(slice_of(long_path)), 0);
    EXPECT_EQ(file_create(slice_of(long_path)), 0);
    EXPECT_EQ(file_delete(slice_of(long_path)), 0);
    EXPECT_EQ(file_copy(slice_of(long_path), slice_of(at("copy"))), 0);
    write_all(root / "source", "x");
    EXPECT_EQ(file_copy(slice_of(at("source")), slice_of(long_path)), 0);
    EXPECT_FALSE(fs::exists(root / "copy"));
}

TEST_F(FileTest, CopyGivesZeroWhenClosingTheDestinationFails) {
    write_all(root / "source", awkward_bytes(70000));
    write_all(root / "copy", "old");
    struct stat status;
    ASSERT_EQ(stat(at("copy").c_str(), &status), 0);
    close_seam::device = status.st_dev;
    close_seam::inode = status.st_ino;
    close_seam::closes_failed = 0;
    close_seam::armed = true;
    int32_t copied = file_copy(slice_of(at("source")), slice_of(at("copy")));
    close_seam::armed = false;
    ASSERT_EQ(close_seam::closes_failed, 1) << "the seam never met the destination's close";
    EXPECT_EQ(copied, 0);
    // The next copy, with nothing failing, reports its success again.
    EXPECT_EQ(file_copy(slice_of(at("source")), slice_of(at("copy"))), 1);
    EXPECT_TRUE(same_contents(root / "copy", awkward_bytes(70000)));
}

// --- paths holding a NUL, paths that are not UTF-8 --------------------------------

// Every entry under `folder`, by its bytes, with each file's contents: what a call that
// touched nothing leaves exactly as it was.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = entry.path().lexically_relative(folder).string();
        entries[name] = entry.is_directory() ? "<folder>" : read_all(entry.path());
    }
    return entries;
}

std::string with_nul(const std::string& path, const std::string& tail) { return path + std::string(1, '\0') + tail; }

// Cut at its NUL, each path names a file that exists; a service that passed it on would
// act on that file (empty it, replace it, delete it) and report success.
TEST_F(FileTest, APathHoldingANulIsRefusedBeforeAnythingIsTouched) {
    write_all(root / "data", "data");
    write_all(root / "other", "other");
    fs::create_directory(root / "keepdir");
    const std::string data_tmp = with_nul(at("data"), ".tmp");
    const std::string other_bak = with_nul(at("other"), ".bak");
    const std::string fresh = with_nul(at("fresh"), "x");
    auto opened = [](const std::string& path, int64_t mode) {
        File* file = file_open(slice_of(path), mode);
        if (file) file_close(file);
        return file ? 1 : 0;
    };
    struct Case {
        const char* name;
        std::function<int32_t()> call;
    } cases[] = {
        {"file_open write", [&] { return opened(data_tmp, file_mode_write); }},
        {"file_open read", [&] { return opened(data_tmp, file_mode_read); }},
        {"file_open read-write", [&] { return opened(data_tmp, file_mode_read_write); }},
        {"file_open append", [&] { return opened(data_tmp, file_mode_append); }},
        {"file_open read-append", [&] { return opened(data_tmp, file_mode_read_append); }},
        {"file_open of a new name", [&] { return opened(fresh, file_mode_write); }},
        {"file_create", [&] { return file_create(slice_of(data_tmp)); }},
        {"file_copy to", [&] { return file_copy(slice_of(at("data")), slice_of(other_bak)); }},
        {"file_copy from", [&] { return file_copy(slice_of(data_tmp), slice_of(at("copy"))); }},
        {"file_delete", [&] { return file_delete(slice_of(data_tmp)); }},
        {"file_rename to", [&] { return file_rename(slice_of(at("other")), slice_of(with_nul(at("data"), "x"))); }},
        {"file_rename from", [&] { return file_rename(slice_of(other_bak), slice_of(at("moved"))); }},
        {"file_exists", [&] { return file_exists(slice_of(data_tmp)); }},
        {"a NUL alone", [&] { return file_delete(slice_of(std::string(1, '\0'))); }},
        {"a NUL at the end", [&] { return file_delete(slice_of(at("data") + std::string(1, '\0'))); }},
    };
    const auto before = snapshot(root);
    const int32_t positions[] = {0, 16383};  // the ring's start, and a restart on the way
    for (const Case& c : cases) {
        for (int32_t position : positions) {
            SCOPED_TRACE(testing::Message() << c.name << ", ring at " << position);
            temporary_pos = position;
            EXPECT_EQ(c.call(), 0);
            ASSERT_EQ(snapshot(root), before);
        }
    }
    // The same services still act on the names they are given whole.
    EXPECT_EQ(file_exists(slice_of(at("data"))), 1);
    EXPECT_NE(file_delete(slice_of(at("data"))), 0);
}

// The byte FF is not UTF-8; U+FFFD (EF BF BD) is what a converter would make of it. On
// this system they are two names, and every service keeps to the one it is given.
TEST_F(FileTest, BytesThatAreNotUtf8NameTheirOwnFile) {
    const std::string raw = at("\xFF"), lookalike = at("\xEF\xBF\xBD");
    write_all(raw, "raw");
    write_all(lookalike, "look-alike");

    EXPECT_EQ(file_exists(slice_of(raw)), 1);
    File* file = file_open(slice_of(raw), file_mode_read);
    ASSERT_NE(file, nullptr);
    char got[16] = {};
    EXPECT_EQ(file_read(file, sizeof got, got), 3u);
    file_close(file);
    EXPECT_EQ(std::string(got), "raw");

    EXPECT_EQ(file_copy(slice_of(raw), slice_of(at("copy\xFE"))), 1);
    EXPECT_EQ(read_all(at("copy\xFE")), "raw");
    EXPECT_NE(file_rename(slice_of(at("copy\xFE")), slice_of(at("moved\xC3"))), 0);
    EXPECT_EQ(read_all(at("moved\xC3")), "raw");
    EXPECT_FALSE(fs::exists(at("moved\xEF\xBF\xBD")));

    EXPECT_NE(file_delete(slice_of(raw)), 0);
    EXPECT_FALSE(fs::exists(raw));
    EXPECT_EQ(read_all(lookalike), "look-alike");
    EXPECT_EQ(file_exists(slice_of(raw)), 0);

    // Latin-1 bytes as an older program would write them: created under those bytes.
    EXPECT_EQ(file_create(slice_of(at("caf\xE9"))), 1);
    EXPECT_TRUE(fs::exists(at("caf\xE9")));
    EXPECT_FALSE(fs::exists(at("caf\xEF\xBF\xBD")));
}

// The path's last byte starts a two-byte letter whose second byte lies right after the
// Slice in memory: the path ends there, and names no file with that letter.
TEST_F(FileTest, ALetterCutByThePathsEndIsNotFinishedFromTheBytesAfterIt) {
    const std::string whole = at("a\xC3\xA9");
    write_all(whole, "accented");
    const Slice cut{whole.data(), static_cast<int64_t>(whole.size()) - 1};
    EXPECT_EQ(file_exists(cut), 0);
    EXPECT_EQ(file_open(cut, file_mode_read), nullptr);
    EXPECT_EQ(file_delete(cut), 0);
    EXPECT_EQ(read_all(whole), "accented");
    EXPECT_EQ(file_create(cut), 1);
    EXPECT_EQ(read_all(whole), "accented");
    EXPECT_TRUE(fs::exists(at("a\xC3")));
}

}  // namespace

// ---- Streams: modes, bytes, blocks, seeking and sizes ------------------------------

namespace {

struct FileStreamTest : testing::Test {
    TemporaryFolder folder;
};

TEST_F(FileStreamTest, ModeCodesWithoutAStreamOpenNothing) {
    std::string path = folder.file("untouched");
    for (int64_t mode : {0, 5, 7, 8, 255, 256, -1}) {
        EXPECT_EQ(file_open(slice_of(path), mode), nullptr) << "mode " << mode;
    }
    EXPECT_EQ(read_file(path), "<missing>");
    File* file = file_open(slice_of(path), 257);  // the low byte is 1: write
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file_write(file, 3, "abc"), 3u);
    EXPECT_EQ(file_close(file), 0);
    EXPECT_EQ(read_file(path), "abc");
}

TEST_F(FileStreamTest, EachModeTreatsExistingAndMissingFiles) {
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
        File* created = file_open(slice_of(missing), c.mode);
        EXPECT_EQ(created != nullptr, c.opens_missing) << "mode " << c.mode;
        if (created) {
            EXPECT_EQ(file_close(created), 0);
        }

        std::string existing = folder.file("existing" + std::to_string(c.mode));
        write_file(existing, "old");
        File* file = file_open(slice_of(existing), c.mode);
        ASSERT_NE(file, nullptr) << "mode " << c.mode;
        file_write(file, 3, "new");
        file_close(file);
        EXPECT_EQ(read_file(existing), c.after_write) << "mode " << c.mode;
    }
}

TEST_F(FileStreamTest, ReadWriteKeepsContentsAndStartsAtTheBeginning) {
    std::string path = folder.file("rw");
    write_file(path, "hello");
    File* file = file_open(slice_of(path), file_mode_read_write);
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

TEST_F(FileStreamTest, SizeEndAndSeek) {
    std::string path = folder.file("empty");
    write_file(path, "");
    File* file = file_open(slice_of(path), file_mode_read);
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
    file = file_open(slice_of(path), file_mode_read);
    EXPECT_EQ(file_size(file), 10);
    EXPECT_EQ(file_read_byte(file), '0');  // the position is still 0 after measuring
    ASSERT_TRUE(file_seek(file, 7));
    EXPECT_EQ(file_size(file), 10);
    EXPECT_EQ(file_read_byte(file), '7');
    file_close(file);
}

TEST_F(FileStreamTest, WriteByteKeepsTheLowEightBits) {
    std::string path = folder.file("bytes");
    File* file = file_open(slice_of(path), file_mode_write);
    EXPECT_EQ(file_write_byte(file, 266), 10);
    EXPECT_EQ(file_write_byte(file, -1), 255);
    EXPECT_EQ(file_write_byte(file, 'a'), 'a');
    file_close(file);
    EXPECT_EQ(read_file(path), std::string("\n\xFF" "a"));
}

TEST_F(FileStreamTest, PositionsAndSizesBeyondFourGigabytes) {
    // A sparse file: seeking far past the end and writing one byte takes no real space.
    std::string path = folder.file("large");
    File* file = file_open(slice_of(path), file_mode_write);
    ASSERT_NE(file, nullptr);
    const int64_t far = (int64_t{5} << 30) + 3;
    ASSERT_TRUE(file_seek(file, far));
    EXPECT_EQ(file_write_byte(file, 'z'), 'z');
    EXPECT_EQ(file_size(file), far + 1);
    ASSERT_EQ(file_close(file), 0);
    file = file_open(slice_of(path), file_mode_read);
    EXPECT_EQ(file_size(file), far + 1);
    ASSERT_TRUE(file_seek(file, far));
    EXPECT_EQ(file_read_byte(file), 'z');
    file_close(file);
}

TEST_F(FileStreamTest, PathsInUtf8AndBadPaths) {
    std::string name = folder.file("n\xC3\xA4me \xE2\x82\xAC.txt");
    File* file = file_open(slice_of(name), file_mode_write);
    ASSERT_NE(file, nullptr);
    file_close(file);
    EXPECT_EQ(read_file(name), "");

    // Invalid UTF-8 reaches the system as it is, not as its U+FFFD look-alike.
    std::string bad = folder.file("bad\xFFname");
    file = file_open(slice_of(bad), file_mode_write);
    ASSERT_NE(file, nullptr);
    file_close(file);
    EXPECT_EQ(read_file(bad), "");
    EXPECT_EQ(read_file(folder.file("bad\xEF\xBF\xBDname")), "<missing>");

    EXPECT_EQ(file_open(Slice{nullptr, 0}, file_mode_write), nullptr);
    EXPECT_EQ(file_open(slice_of(folder.path), file_mode_read), nullptr);  // a directory
    EXPECT_EQ(file_open(slice_of(folder.path), file_mode_write), nullptr);
    EXPECT_EQ(file_open(slice_of(folder.file("no/such/dir")), file_mode_write), nullptr);
    std::string too_long = folder.path + "/" + std::string(9000, 'x');
    EXPECT_EQ(file_open(slice_of(too_long), file_mode_write), nullptr);
}

// Files named like the stream modes, in the working folder: where a path too long to sit
// in the ring beside its mode would land if the mode were taken over it.
struct ModeNamedFiles {
    fs::path folder;
    static constexpr const char* names[] = {"wb", "rb", "r+b", "a", "a+"};
    explicit ModeNamedFiles(const fs::path& where) : folder(where) {
        for (const char* name : names) write_all(folder / name, std::string("kept ") + name);
    }
    // Nothing but these files, each as written.
    testing::AssertionResult untouched() const {
        size_t entries = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            ++entries;
            std::string name = entry.path().filename().string();
            if (read_all(entry.path()) != "kept " + name) {
                return testing::AssertionFailure() << name << " was created or changed";
            }
        }
        if (entries != std::size(names)) return testing::AssertionFailure() << entries << " entries";
        return testing::AssertionSuccess();
    }
};

// The working folder for one test, given back at its end.
struct WorkingFolder {
    fs::path before = fs::current_path();
    explicit WorkingFolder(const fs::path& folder) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(before); }
};

// Path and mode must fit the ring together. Around its limits (in UTF-16 units, and in
// bytes for texts of two, three and four bytes a letter) every mode refuses a path that
// no longer fits with it, and never opens a file named like the mode instead.
TEST_F(FileStreamTest, APathAndItsModeFitTheRingTogetherOrTheOpenIsRefused) {
    ModeNamedFiles files(folder.path);
    WorkingFolder inside(folder.path);
    struct Alphabet {
        const char* letter;
        int64_t units_each;
    } alphabets[] = {{"a", 1}, {"\xC3\xA9", 1}, {"\xE2\x82\xAC", 1}, {"\xF0\x9F\x98\x80", 2}};
    const int64_t modes[] = {file_mode_write, file_mode_read, file_mode_read_write, file_mode_append,
                             file_mode_read_append};
    const int32_t positions[] = {0, 1, 8192, 16383};
    for (const Alphabet& alphabet : alphabets) {
        for (int64_t units = 8180; units <= 8195; ++units) {
            std::string path;
            int64_t made = 0;
            for (; made + alphabet.units_each <= units; made += alphabet.units_each) path += alphabet.letter;
            path.append(static_cast<size_t>(units - made), 'a');
            for (int64_t mode : modes) {
                for (int32_t position : positions) {
                    SCOPED_TRACE(testing::Message() << units << " units of " << alphabet.letter << " ("
                                                    << path.size() << " bytes), mode " << mode << ", ring at "
                                                    << position);
                    temporary_pos = position;
                    File* file = file_open(slice_of(path), mode);
                    // No system here opens a name this long: a handle can only be the wrong file.
                    EXPECT_EQ(file, nullptr);
                    if (file) file_close(file);
                    ASSERT_TRUE(files.untouched());
                }
            }
        }
    }
}

// Every other service that holds two strings of the ring at once (a path and a stream
// mode, or two paths), and those that hold one terminated copy, at the same limits: each
// gives its failure result and leaves every file alone. Names of the working folder's
// files make the short side, so a path taken over by another would meet a real file.
TEST_F(FileStreamTest, EveryServiceRefusesPathsTooLongToShareTheRing) {
    ModeNamedFiles files(folder.path);
    WorkingFolder inside(folder.path);
    using Service = std::function<int32_t(Slice)>;
    const Slice near = slice_literal("wb");
    const Slice fresh = slice_literal("b");
    struct Case {
        const char* name;
        Service call;
    } cases[] = {
        {"file_create", [](Slice p) { return file_create(p); }},
        {"file_copy from", [&](Slice p) { return file_copy(p, fresh); }},
        {"file_copy to", [&](Slice p) { return file_copy(near, p); }},
        {"file_rename from", [&](Slice p) { return file_rename(p, fresh); }},
        {"file_rename to", [&](Slice p) { return file_rename(near, p); }},
        {"directory_rename to", [&](Slice p) { return directory_rename(slice_literal("."), p); }},
        {"file_exists", [](Slice p) { return file_exists(p); }},
        {"file_delete", [](Slice p) { return file_delete(p); }},
    };
    std::vector<std::string> paths;
    for (size_t units = 8180; units <= 8195; ++units) paths.push_back(std::string(units, 'a'));
    for (size_t bytes = 16380; bytes <= 16386; ++bytes) paths.push_back(std::string(bytes, 'a'));
    for (size_t letters = 5458; letters <= 5463; ++letters) {  // three bytes each, about the byte limit
        std::string path;
        for (size_t i = 0; i < letters; ++i) path += "\xE2\x82\xAC";
        paths.push_back(path);
    }
    const int32_t positions[] = {0, 1, 16383};
    for (const Case& c : cases) {
        for (const std::string& path : paths) {
            for (int32_t position : positions) {
                SCOPED_TRACE(testing::Message() << c.name << ", " << path.size() << " bytes, ring at " << position);
                temporary_pos = position;
                EXPECT_EQ(c.call(slice_of(path)), 0);
                ASSERT_TRUE(files.untouched());
            }
        }
    }
}

// The command line's -o reaches the same open: the message names the whole path.
TEST_F(FileStreamTest, AnOutputPathThatFillsTheRingIsReportedNotReplaced) {
    ModeNamedFiles files(folder.path);
    WorkingFolder inside(folder.path);
    for (size_t length = 8188; length <= 8192; ++length) {
        SCOPED_TRACE(length);
        std::string path(length, 'a');
        ProcessResult result = run_wordgen({"-r", "1", "-w", "3", "-o", path});
        EXPECT_EQ(result.status, 1);
        std::string message = "could not open file: " + path + "\n";
        ASSERT_GE(result.output.size(), message.size());
        EXPECT_EQ(result.output.substr(result.output.size() - message.size()), message);
        ASSERT_TRUE(files.untouched());
    }
}

// What a child saw opening a FIFO, then reading or writing one byte through it.
enum FifoOutcome { fifo_waited = -1, fifo_refused = 1, fifo_read_end, fifo_read_byte, fifo_wrote };

enum FifoPeer { no_peer, peer_reader, peer_writer };

// A FIFO opened for reading and writing would hold its own writer and wait for ever on
// its first read: refused. Every other mode opens at once or is refused at once, and
// what does open carries bytes to or from the other end.
TEST_F(FileStreamTest, FifosOpenOnlyWhereTheyCannotWaitForEver) {
    constexpr unsigned guard_seconds = 5;
    struct Case {
        int64_t mode;
        FifoPeer peer;
        int expected;
    } cases[] = {
        {file_mode_read_write, no_peer, fifo_refused},     {file_mode_read_append, no_peer, fifo_refused},
        {file_mode_read_write, peer_reader, fifo_refused}, {file_mode_read_append, peer_writer, fifo_refused},
        {file_mode_read, no_peer, fifo_read_end},          {file_mode_read, peer_writer, fifo_read_byte},
        {file_mode_write, no_peer, fifo_refused},          {file_mode_append, no_peer, fifo_refused},
        {file_mode_write, peer_reader, fifo_wrote},        {file_mode_append, peer_reader, fifo_wrote},
    };
    std::string fifo = folder.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", peer " << c.peer);
        // The peers come through the service too: a reader first, which a writer needs.
        File* reader = c.peer != no_peer ? file_open(slice_of(fifo), file_mode_read) : nullptr;
        File* writer = c.peer == peer_writer ? file_open(slice_of(fifo), file_mode_write) : nullptr;
        if (c.peer != no_peer) {
            ASSERT_NE(reader, nullptr);
        }
        if (c.peer == peer_writer) {
            ASSERT_NE(writer, nullptr);
            ASSERT_EQ(file_write_byte(writer, 'w'), 'w');
            ASSERT_EQ(std::fflush(writer), 0);
            file_close(reader);  // the writer alone keeps the byte in the FIFO
            reader = nullptr;
        }
        int outcome = within_seconds(guard_seconds, [&] {
            File* file = file_open(slice_of(fifo), c.mode);
            if (!file) return int{fifo_refused};
            if (c.mode == file_mode_write || c.mode == file_mode_append) {
                return file_write_byte(file, 'y') == 'y' && file_close(file) == 0 ? int{fifo_wrote} : 0;
            }
            int byte = file_read_byte(file);
            return byte == -1 ? int{fifo_read_end} : byte == 'w' ? int{fifo_read_byte} : 0;
        });
        EXPECT_EQ(outcome, c.expected);
        if (c.expected == fifo_wrote) {
            EXPECT_EQ(file_read_byte(reader), 'y');
        }
        if (reader) file_close(reader);
        if (writer) file_close(writer);
        EXPECT_TRUE(fs::is_fifo(fifo));
    }
}

TEST_F(FileStreamTest, AFifoNeverMakesTheOpenWait) {
    std::string fifo = folder.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(file_open(slice_of(fifo), file_mode_write), nullptr);  // no reader: refused
    File* file = file_open(slice_of(fifo), file_mode_read);          // no writer: empty
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file_read_byte(file), -1);
    file_close(file);
}

TEST_F(FileStreamTest, NullHandlesFailQuietly) {
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

TEST_F(FileStreamTest, AFullDeviceFailsTheClose) {
    File* file = file_open(slice_literal("/dev/full"), file_mode_write);
    if (!file) GTEST_SKIP() << "no /dev/full here";
    file_write(file, 5, "12345");  // buffered: the failure shows when it is flushed
    EXPECT_EQ(file_close(file), -1);
}

}  // namespace
