// Directory services against real folders, and the dynamic ring's taking and growth
// rules, driven through add_string and listings.
#include "runtime/system/directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/system/file.h"
#include "runtime/system/temporary.h"

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::string str(Slice s) { return std::string(s.data, static_cast<size_t>(s.length)); }

void touch(const fs::path& path) { std::ofstream(path, std::ios::binary) << ""; }

int64_t ring_offset(const void* p) { return static_cast<const char*>(p) - dynamic_buffer; }

bool in_ring(const void* p) {
    int64_t offset = ring_offset(p);
    return offset >= 0 && offset < dynamic_ring_size;
}

std::multiset<std::string> names(SliceArray list) {
    std::multiset<std::string> result;
    for (int64_t i = 0; i < list.count; ++i) result.insert(str(list.items[i]));
    return result;
}

// Every name has a NUL right after its last byte.
void expect_terminated(SliceArray list) {
    for (int64_t i = 0; i < list.count; ++i) EXPECT_EQ(list.items[i].data[list.items[i].length], '\0') << i;
}

class DirectoryTest : public testing::Test {
  protected:
    void SetUp() override { dynamic_pos = 0; }
    std::string at(const std::string& name) const { return utf8_text(root / utf8_path(name)); }
    DirectoryContent list(const std::string& name) const {
        DirectoryContent content;
        directory_get_content(&content, slice_of(at(name)));
        return content;
    }
    static DirectoryContent list_path(const std::string& path) {
        DirectoryContent content;
        directory_get_content(&content, slice_of(path));
        return content;
    }
    TemporaryFolder scratch;
    fs::path root = scratch.path;
};

// --- creating, deleting, renaming, probing ----------------------------------------

TEST_F(DirectoryTest, CreateMakesOneDirectory) {
    EXPECT_NE(directory_create(slice_of(at("new"))), 0);
    EXPECT_NE(directory_create(slice_of(at("Ελληνικά"))), 0);
    EXPECT_TRUE(fs::is_directory(root / "new"));
    EXPECT_TRUE(fs::is_directory(root / utf8_path("Ελληνικά")));
}

TEST_F(DirectoryTest, CreateRefusesWhatExistsAndMissingParents) {
    fs::create_directory(root / "folder");
    std::ofstream(root / "file") << "kept";
    const char* names[] = {"folder", "file", "missing/new"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(directory_create(slice_of(at(name))), 0);
    }
    EXPECT_TRUE(fs::is_regular_file(root / "file"));
    EXPECT_FALSE(fs::exists(root / "missing"));
    EXPECT_EQ(directory_create(slice_of(std::string(16384, 'x'))), 0);
}

TEST_F(DirectoryTest, DeleteRemovesOnlyEmptyDirectories) {
    fs::create_directory(root / "empty");
    fs::create_directory(root / "full");
    touch(root / "full" / "inside");
    touch(root / "file");
    EXPECT_NE(directory_delete(slice_of(at("empty"))), 0);
    EXPECT_FALSE(fs::exists(root / "empty"));
    const char* refused[] = {"full", "file", "missing"};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(directory_delete(slice_of(at(name))), 0);
    }
    EXPECT_TRUE(fs::exists(root / "full" / "inside"));
    EXPECT_TRUE(fs::exists(root / "file"));
}

TEST_F(DirectoryTest, RenameMovesADirectoryWithItsContents) {
    fs::create_directory(root / "old");
    touch(root / "old" / "inside");
    EXPECT_NE(directory_rename(slice_of(at("old")), slice_of(at("déménagé"))), 0);
    EXPECT_FALSE(fs::exists(root / "old"));
    EXPECT_TRUE(fs::exists(root / utf8_path("déménagé") / "inside"));
}

TEST_F(DirectoryTest, RenameRefusesFilesMissingPathsAndTakenNames) {
    fs::create_directory(root / "folder");
    touch(root / "folder" / "inside");
    fs::create_directory(root / "empty");
    std::ofstream(root / "file") << "kept";
    struct Case {
        const char* from;
        const char* to;
    } cases[] = {
        {"file", "elsewhere"}, {"missing", "elsewhere"}, {"folder", "empty"},
        {"folder", "file"},    {"folder", "folder/inside-me"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        EXPECT_EQ(directory_rename(slice_of(at(c.from)), slice_of(at(c.to))), 0);
    }
    EXPECT_TRUE(fs::exists(root / "folder" / "inside"));
    EXPECT_TRUE(fs::is_directory(root / "empty"));
    EXPECT_TRUE(fs::is_regular_file(root / "file"));
    EXPECT_FALSE(fs::exists(root / "elsewhere"));
}

TEST_F(DirectoryTest, RenameKeepsDirectoriesOnTheirFileSystem) {
    const fs::path other = "/dev/shm";
    if (!fs::is_directory(other)) GTEST_SKIP() << "no /dev/shm";
    fs::create_directory(root / "folder");
    touch(root / "folder" / "inside");
    fs::path target = other / ("wordgen-moved-" + root.filename().string());
    std::error_code error;
    fs::rename(root / "folder", target, error);
    if (!error) {
        fs::rename(target, root / "folder");
        GTEST_SKIP() << "/dev/shm is on the same file system";
    }
    EXPECT_EQ(directory_rename(slice_of(at("folder")), slice_of(target.string())), 0);
    EXPECT_TRUE(fs::exists(root / "folder" / "inside"));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(DirectoryTest, ExistsOnlyForDirectories) {
    fs::create_directory(root / "folder");
    fs::create_directory(root / utf8_path("日本"));
    touch(root / "file");
    struct Case {
        std::string path;
        int32_t expected;
    } cases[] = {
        {at("folder"), 1},       {at("folder/"), 1}, {at("日本"), 1},
        {at("file"), 0},         {at("missing"), 0}, {"", 0},
        {std::string(16384, '/'), 0},
#ifdef _WIN32
        // Names ignore case; a backslash separates as a slash does; symbolic links need a
        // privilege, so none is made.
        {at("FOLDER"), 1}, {at("folder\\"), 1}, {at("FILE"), 0},
#else
        {at("link-to-folder"), 1}, {at("link-to-file"), 0},
#endif
    };
#ifndef _WIN32
    fs::create_symlink(root / "folder", root / "link-to-folder");
    fs::create_symlink(root / "file", root / "link-to-file");
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 100));
        EXPECT_EQ(directory_exists(slice_of(c.path)), c.expected);
    }
}

// --- listing ----------------------------------------------------------------------

TEST_F(DirectoryTest, ListingSplitsDirectoriesFromFiles) {
    fs::create_directory(root / "dir");
    fs::create_directory(root / "dir" / "sub");
    touch(root / "dir" / "a.txt");
    DirectoryContent content = list("dir");
    EXPECT_EQ(names(content.directories), (std::multiset<std::string>{".", "..", "sub"}));
    EXPECT_EQ(names(content.files), (std::multiset<std::string>{"a.txt"}));
    expect_terminated(content.directories);
    expect_terminated(content.files);
    // A trailing separator doubles in the pattern and lists the same.
    DirectoryContent again = list("dir/");
    EXPECT_EQ(names(again.directories), names(content.directories));
    EXPECT_EQ(names(again.files), names(content.files));
}

TEST_F(DirectoryTest, ListingGivesUtf8NamesMeasuredInBytes) {
    const std::string unusual[] = {"données", "日本語.txt", "emoji 😀", ".hidden", "with space"};
    for (const std::string& name : unusual) touch(root / utf8_path(name));
    DirectoryContent content;
    directory_get_content(&content, slice_of(root.string()));
    std::multiset<std::string> expected(std::begin(unusual), std::end(unusual));
    EXPECT_EQ(names(content.files), expected);
    for (int64_t i = 0; i < content.files.count; ++i) {
        Slice name = content.files.items[i];
        EXPECT_EQ(static_cast<size_t>(name.length), std::strlen(name.data));
    }
}

TEST_F(DirectoryTest, ListingFollowsLinksForTheDirectoryAttribute) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
    fs::create_directory(root / "dir");
    fs::create_directory(root / "target");
    fs::create_symlink(root / "target", root / "dir" / "to-directory");
    fs::create_symlink(root / "missing", root / "dir" / "dangling");
    DirectoryContent content = list("dir");
    EXPECT_EQ(names(content.directories), (std::multiset<std::string>{".", "..", "to-directory"}));
    EXPECT_EQ(names(content.files), (std::multiset<std::string>{"dangling"}));
#endif
}

TEST_F(DirectoryTest, UnlistablePathsGiveTwoEmptyLists) {
    touch(root / "file");
    const std::string paths[] = {at("missing"), at("file"), std::string(16383, 'x')};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path.substr(0, 100));
        dynamic_pos = 40;
        DirectoryContent content{{reinterpret_cast<Slice*>(8), 5}, {reinterpret_cast<Slice*>(8), 5}};
        directory_get_content(&content, slice_of(path));
        EXPECT_EQ(content.directories.items, nullptr);
        EXPECT_EQ(content.directories.count, 0);
        EXPECT_EQ(content.files.items, nullptr);
        EXPECT_EQ(content.files.count, 0);
        EXPECT_EQ(dynamic_pos, 40);
    }
}

// Each listing opens a directory stream; none may stay open afterwards.
TEST_F(DirectoryTest, ListingReleasesItsSearch) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /proc/self/fd to count open handles in (wine shows its own)";
#else
    if (!fs::is_directory("/proc/self/fd")) GTEST_SKIP() << "no /proc/self/fd";
    auto open_descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    touch(root / "file");
    auto before = open_descriptors();
    for (int i = 0; i < 300; ++i) list("");
    EXPECT_EQ(open_descriptors(), before);
#endif
}

TEST_F(DirectoryTest, EmptyPathListsTheRoot) {
    DirectoryContent content;
    directory_get_content(&content, Slice{nullptr, 0});
    std::multiset<std::string> directories = names(content.directories);
#ifdef _WIN32
    // "/*" is the root of the current drive, and a drive's root has no "." or "..".
    EXPECT_EQ(directories.count("."), 0u);
    EXPECT_EQ(directories.count(".."), 0u);
#else
    EXPECT_EQ(directories.count("."), 1u);
    EXPECT_EQ(directories.count(".."), 1u);
#endif
    const char* usual[] = {"tmp", "usr", "etc"};
    for (const char* name : usual) {
        if (fs::is_directory(fs::path("/") / name)) {
            EXPECT_EQ(directories.count(name), 1u) << name;
        }
    }
}

#ifdef _WIN32
// A drive letter names that drive's root, and backslashes separate as slashes do.
TEST_F(DirectoryTest, DriveLettersAndBackslashesNameTheSameDirectories) {
    fs::create_directory(root / "dir");
    fs::create_directory(root / "dir" / "sub");
    touch(root / "dir" / "a.txt");
    std::string backslashed = utf8_text((root / "dir").make_preferred());
    ASSERT_NE(backslashed.find('\\'), std::string::npos);
    DirectoryContent content = list_path(backslashed);
    EXPECT_EQ(names(content.directories), (std::multiset<std::string>{".", "..", "sub"}));
    EXPECT_EQ(names(content.files), (std::multiset<std::string>{"a.txt"}));
    EXPECT_EQ(directory_exists(slice_of(backslashed)), 1);

    // The scratch folder's drive, as "C:", lists that drive's root: the scratch folder's
    // first folder stands in it, and no "." or "..".
    std::string drive = utf8_text(root.root_name());
    ASSERT_EQ(drive.size(), 2u);
    std::string first = utf8_text(*std::next(root.relative_path().begin(), 0));
    DirectoryContent drive_root = list_path(drive);
    std::multiset<std::string> directories = names(drive_root.directories);
    EXPECT_EQ(directories.count(first), 1u) << first;
    EXPECT_EQ(directories.count("."), 0u);
    EXPECT_EQ(directory_exists(slice_of(drive + "\\")), 1);
    EXPECT_EQ(directory_exists(slice_of(drive + "\\" + first)), 1);
}
#endif
// --- paths holding a NUL, names that are not UTF-8 --------------------------------

// Every entry under `folder` by its bytes, folders marked: what a refused call leaves.
std::set<std::string> tree(const fs::path& folder) {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        entries.insert(entry.path().lexically_relative(folder).string() + (entry.is_directory() ? "/" : ""));
    }
    return entries;
}

std::string with_nul(const std::string& path, const std::string& tail) { return path + std::string(1, '\0') + tail; }

// Cut at the NUL, each path names a folder that exists or could be made.
TEST_F(DirectoryTest, APathHoldingANulIsRefusedBeforeAnythingIsTouched) {
    fs::create_directory(root / "keepdir");
    fs::create_directory(root / "full");
    touch(root / "full" / "inside");
    struct Case {
        const char* name;
        std::function<int32_t()> call;
    } cases[] = {
        {"directory_delete", [&] { return directory_delete(slice_of(with_nul(at("keepdir"), "-old"))); }},
        {"directory_create", [&] { return directory_create(slice_of(with_nul(at("newdir"), "x"))); }},
        {"directory_rename from",
         [&] { return directory_rename(slice_of(with_nul(at("keepdir"), "x")), slice_of(at("moved"))); }},
        {"directory_rename to",
         [&] { return directory_rename(slice_of(at("keepdir")), slice_of(with_nul(at("moved"), "x"))); }},
        {"directory_exists", [&] { return directory_exists(slice_of(with_nul(at("keepdir"), "x"))); }},
        {"directory_get_content", [&] {
             DirectoryContent content;
             directory_get_content(&content, slice_of(with_nul(at("full"), "x")));
             return static_cast<int32_t>(content.directories.count + content.files.count);
         }},
    };
    const auto before = tree(root);
    for (const Case& c : cases) {
        for (int32_t position : {0, 16383}) {
            SCOPED_TRACE(testing::Message() << c.name << ", ring at " << position);
            temporary_pos = position;
            EXPECT_EQ(c.call(), 0);
            ASSERT_EQ(tree(root), before);
        }
    }
    EXPECT_EQ(directory_exists(slice_of(at("keepdir"))), 1);
}

// FF is not UTF-8 and U+FFFD is its look-alike: a listing gives each name's own bytes,
// and each listed name handed back reaches its own entry, and only that one.
TEST_F(DirectoryTest, ListedNamesAreTheEntriesBytesAndReachThoseEntries) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names are UTF-16: bytes that are not UTF-8 become U+FFFD (see IllFormedNamesReachOneFileByEitherConversion)";
#else
    const std::string files[] = {"\xFF", "\xEF\xBF\xBD", "caf\xE9", "caf\xC3\xA9", "a\xC3"};
    for (const std::string& name : files) std::ofstream(root / name, std::ios::binary) << name;
    fs::create_directory(root / "d\xFE");
    fs::create_directory(root / "d\xEF\xBF\xBD");
    DirectoryContent content = list("");
    EXPECT_EQ(names(content.files), std::multiset<std::string>(std::begin(files), std::end(files)));
    EXPECT_EQ(names(content.directories),
              (std::multiset<std::string>{".", "..", "d\xFE", "d\xEF\xBF\xBD"}));
    // Copied out first: the services below take from the rings the names live in.
    std::vector<std::string> listed_files, listed_directories;
    for (int64_t i = 0; i < content.files.count; ++i) listed_files.push_back(str(content.files.items[i]));
    for (int64_t i = 0; i < content.directories.count; ++i)
        listed_directories.push_back(str(content.directories.items[i]));
    for (const std::string& name : listed_files) {
        SCOPED_TRACE(name);
        std::set<std::string> left = tree(root);
        ASSERT_NE(file_delete(slice_of(at(name))), 0);
        left.erase(name);
        EXPECT_EQ(tree(root), left);
    }
    for (const std::string& name : listed_directories) {
        if (name == "." || name == "..") continue;
        SCOPED_TRACE(name);
        EXPECT_EQ(directory_exists(slice_of(at(name))), 1);
        ASSERT_NE(directory_rename(slice_of(at(name)), slice_of(at(name + "\x80"))), 0);
        EXPECT_TRUE(fs::is_directory(root / (name + "\x80")));
        ASSERT_NE(directory_delete(slice_of(at(name + "\x80"))), 0);
    }
    EXPECT_EQ(tree(root), std::set<std::string>{});
#endif
}

// --- the dynamic ring through add_string ------------------------------------------

struct List {
    Slice* items = nullptr;
    int64_t count = 0;
    int64_t capacity = 0;
};

void add(List& list, Slice entry) {
    ASSERT_TRUE(add_string(list.items, list.count, list.capacity, entry));
}

Slice entry_number(int64_t i) { return Slice{"entry", i}; }

TEST(DynamicRing, FirstBlockTakesTheAlignedFillPositionOrRestarts) {
    struct Case {
        int32_t pos;
        int64_t start;
        int32_t pos_after;
    } cases[] = {
        {0, 0, 128},      {3, 8, 136},      {8, 8, 136},
        {524160, 524160, 524288},  // ends exactly at the end of the ring
        {524161, 0, 128},          // rounds up to 524168, past the end
        {524168, 0, 128},
        {524288, 0, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pos);
        dynamic_pos = c.pos;
        List list;
        add(list, entry_number(1));
        EXPECT_EQ(ring_offset(list.items), c.start);
        EXPECT_EQ(list.capacity, 8);
        EXPECT_EQ(list.count, 1);
        EXPECT_EQ(dynamic_pos, c.pos_after);
    }
}

// Fills a list of capacity 8 whose block ends at `end`, nothing taken after it.
List full_list_ending_at(int32_t end) {
    dynamic_pos = end - 128;
    List list;
    for (int64_t i = 0; i < 8; ++i) add(list, entry_number(i));
    return list;
}

void expect_entries(const List& list) {
    for (int64_t i = 0; i < list.count; ++i) {
        EXPECT_EQ(list.items[i].length, i) << i;
        EXPECT_STREQ(list.items[i].data, "entry") << i;
    }
}

// In place while three times the old block fits past the fill position, else to 0.
TEST(DynamicRing, FullListAtTheFillPositionGrowsInPlaceOrMovesToTheStart) {
    struct Case {
        int32_t end;
        int64_t start_after;
        int32_t pos_after;
    } cases[] = {
        {1024, 1024 - 128, 1024 + 128},
        {523904, 523904 - 128, 524032},
        {523912, 0, 256},
        {524032, 0, 256},
        {524288, 0, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.end);
        List list = full_list_ending_at(c.end);
        ASSERT_EQ(dynamic_pos, c.end);
        add(list, entry_number(8));
        EXPECT_EQ(ring_offset(list.items), c.start_after);
        EXPECT_EQ(list.capacity, 16);
        EXPECT_EQ(dynamic_pos, c.pos_after);
        expect_entries(list);
    }
}

TEST(DynamicRing, ListMovesWhenSomethingWasTakenAfterIt) {
    dynamic_pos = 0;
    List list, other;
    for (int64_t i = 0; i < 8; ++i) add(list, entry_number(i));
    add(other, entry_number(0));  // takes [128, 256)
    add(list, entry_number(8));
    EXPECT_EQ(ring_offset(list.items), 256);
    EXPECT_EQ(list.capacity, 16);
    EXPECT_EQ(dynamic_pos, 512);
    for (int64_t i = 9; i < 16; ++i) add(list, entry_number(i));
    add(other, entry_number(1));  // still room in its first block: nothing taken
    EXPECT_EQ(dynamic_pos, 512);
    add(list, entry_number(16));  // ends at the fill position: grows in place to 512 bytes
    EXPECT_EQ(ring_offset(list.items), 256);
    EXPECT_EQ(list.capacity, 32);
    EXPECT_EQ(dynamic_pos, 768);
    add(other, entry_number(2));
    expect_entries(list);
}

TEST(DynamicRing, MovedListSurvivesAnOverlappingMoveToTheStart) {
    // A 4096-byte list at [64, 4160) moves to a new 8192-byte block; the fill position
    // forces the new block to the start, over the old one.
    dynamic_pos = 64;
    List list;
    for (int64_t i = 0; i < 256; ++i) add(list, entry_number(i));
    ASSERT_EQ(list.capacity, 256);
    ASSERT_EQ(ring_offset(list.items), 64);
    dynamic_pos = 524288 - 100;
    add(list, entry_number(256));
    EXPECT_EQ(ring_offset(list.items), 0);
    EXPECT_EQ(dynamic_pos, 8192);
    expect_entries(list);
}

TEST(DynamicRing, InconsistentOrUngrowableListsAreRefusedUntouched) {
    Slice outside[4];
    std::vector<Slice> huge(32768, Slice{"x", 1});
    struct Case {
        const char* name;
        Slice* items;
        int64_t count;
        int64_t capacity;
    } cases[] = {
        {"count above capacity", outside, 5, 4},
        {"negative count", outside, -1, 4},
        {"capacity without items", nullptr, 0, 8},
        {"count without capacity", nullptr, 1, 0},
        {"next block larger than the ring", huge.data(), 32768, 32768},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dynamic_pos = 8;
        Slice* items = c.items;
        int64_t count = c.count, capacity = c.capacity;
        EXPECT_FALSE(add_string(items, count, capacity, Slice{"y", 1}));
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(capacity, c.capacity);
        EXPECT_EQ(dynamic_pos, 8);
    }
    // The largest block the ring holds: 16384 entries grow into all of it.
    Slice* items = huge.data();
    int64_t count = 16384, capacity = 16384;
    EXPECT_TRUE(add_string(items, count, capacity, Slice{"y", 1}));
    EXPECT_EQ(ring_offset(items), 0);
    EXPECT_EQ(dynamic_pos, 524288);
    EXPECT_EQ(str(items[16383]), "x");
    EXPECT_EQ(str(items[16384]), "y");
}

// --- listings and the ring ----------------------------------------------------------

// One listing entry, in the order the system yielded it.
struct Entry {
    std::string name;
    bool directory;
};

// The system's order, read from where the names of a listing that started at 0 landed
// (such a small listing never restarts the ring, so offsets grow with the order).
std::vector<Entry> listing_order(const DirectoryContent& content) {
    std::map<int64_t, Entry> by_offset;
    for (int64_t i = 0; i < content.directories.count; ++i)
        by_offset[ring_offset(content.directories.items[i].data)] = {str(content.directories.items[i]), true};
    for (int64_t i = 0; i < content.files.count; ++i)
        by_offset[ring_offset(content.files.items[i].data)] = {str(content.files.items[i]), false};
    std::vector<Entry> order;
    for (auto& [offset, entry] : by_offset) order.push_back(entry);
    return order;
}

// An independent model of the ring: where a listing starting at `pos` puts each name
// and each list, and where the fill position ends.
struct ModelList {
    int64_t start = 0, count = 0, capacity = 0;
};
struct Model {
    int64_t fill;
    ModelList directories, files;
    std::map<std::string, int64_t> name_offsets;
};

int64_t model_take(int64_t& fill, int64_t k) {
    int64_t at = (fill + 7) / 8 * 8;
    if (at + k > dynamic_ring_size) at = 0;
    fill = at + k;
    return at;
}

void model_add(int64_t& fill, ModelList& list) {
    if (list.capacity == 0) {
        list.start = model_take(fill, 128);
        list.capacity = 8;
    } else if (list.count == list.capacity) {
        int64_t s = list.capacity * 16;
        if (list.start + s == fill) {
            fill += s;
            if (fill + 2 * s > dynamic_ring_size) list.start = 0, fill = 2 * s;
        } else {
            list.start = model_take(fill, 2 * s);
        }
        list.capacity *= 2;
    }
    ++list.count;
}

Model model_listing(const std::vector<Entry>& order, int64_t pos) {
    Model model{pos, {}, {}, {}};
    for (const Entry& entry : order) {
        model.name_offsets[entry.name] = model_take(model.fill, static_cast<int64_t>(entry.name.size()) + 1);
        model_add(model.fill, entry.directory ? model.directories : model.files);
    }
    return model;
}

void expect_model(const DirectoryContent& content, const Model& model) {
    EXPECT_EQ(dynamic_pos, model.fill);
    EXPECT_EQ(ring_offset(content.directories.items), model.directories.start);
    EXPECT_EQ(ring_offset(content.files.items), model.files.start);
    SliceArray lists[] = {content.directories, content.files};
    for (SliceArray list : lists) {
        for (int64_t i = 0; i < list.count; ++i) {
            std::string name = str(list.items[i]);
            EXPECT_EQ(ring_offset(list.items[i].data), model.name_offsets.at(name)) << name;
            EXPECT_EQ(list.items[i].data[list.items[i].length], '\0') << name;
        }
    }
}

// The ninth and the 17th file move or grow the files list while names keep coming.
TEST_F(DirectoryTest, ListingTakesNamesAndListsByTheRingRules) {
    fs::create_directory(root / "dir");
    for (int i = 0; i < 40; ++i) touch(root / "dir" / ("file-" + std::to_string(i) + std::string(i % 11, 'x')));
    for (int i = 0; i < 12; ++i) fs::create_directory(root / "dir" / ("sub-" + std::to_string(i)));
    dynamic_pos = 0;
    std::vector<Entry> order = listing_order(list("dir"));
    ASSERT_EQ(order.size(), 54u);
    const int32_t starts[] = {0, 5, 1000, 524288 - 1000, 524288 - 2003, 524200};
    for (int32_t start : starts) {
        SCOPED_TRACE(start);
        dynamic_pos = start;
        DirectoryContent content = list("dir");
        expect_model(content, model_listing(order, start));
    }
}

// A name of 7 bytes (8 with its NUL) fits exactly at 524280; one of 8 restarts the ring.
TEST_F(DirectoryTest, ListingNameAtTheEndOfTheRing) {
    struct Case {
        const char* name;
        int64_t expected;
    } cases[] = {{"abcdefg", 524280}, {"abcdefgh", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path dir = root / c.name;
        fs::create_directory(dir);
        touch(dir / c.name);
        dynamic_pos = 0;
        std::vector<Entry> order = listing_order(list(c.name));
        // Start the listing so that the file's name would land on 524280.
        Model from_zero = model_listing(order, 0);
        int32_t start = static_cast<int32_t>(524280 - from_zero.name_offsets.at(c.name));
        dynamic_pos = start;
        DirectoryContent content = list(c.name);
        ASSERT_EQ(content.files.count, 1);
        EXPECT_EQ(ring_offset(content.files.items[0].data), c.expected);
        expect_model(content, model_listing(order, start));
    }
}

// Makes a file of each name in `dir`. Most are further names (hard links) of a few files:
// making an inode costs far more than naming one, and a listing sees only names.
void make_files(const fs::path& dir, const std::set<std::string>& files) {
    constexpr int names_per_file = 10000;  // well below ext4's 65000 links per file
    int made = 0;
    fs::path target;
    for (const std::string& name : files) {
        if (made++ % names_per_file == 0) {
            target = dir / name;
            touch(target);
        } else {
            fs::create_hard_link(target, dir / name);
        }
    }
}

void expect_listing_of(const DirectoryContent& content, const std::set<std::string>& files) {
    ASSERT_EQ(content.files.count, static_cast<int64_t>(files.size()));
    std::multiset<std::string> listed = names(content.files);
    EXPECT_TRUE(std::equal(listed.begin(), listed.end(), files.begin(), files.end()));
    EXPECT_EQ(names(content.directories), (std::multiset<std::string>{".", ".."}));
    expect_terminated(content.files);
}

#ifdef _WIN32
// Making files under wine slows down as the folder fills (16,000 took 46 s): fewer and
// longer names fill the ring as many times over.
constexpr int big_listing_files = 4000;
constexpr size_t big_listing_padding = 220;
#else
constexpr int big_listing_files = 100000;
constexpr size_t big_listing_padding = 0;
#endif

// 100,000 names (4,000 longer ones on Windows) and their lists need several times the
// ring: the listing must grow its store instead of restarting the ring onto its own
// earlier names and lists.
TEST_F(DirectoryTest, ListingLargerThanTheRingComesBackIntact) {
    fs::create_directory(root / "big");
    std::set<std::string> files;
    for (int i = 0; i < big_listing_files; ++i) {
        files.insert("entry-" + std::to_string(i) + std::string(i % 13 + big_listing_padding, 'z'));
    }
    make_files(root / "big", files);
    fs::create_directory(root / "small");
    touch(root / "small" / "one");
    const int32_t starts[] = {0, 300000, 524280};
    for (int32_t start : starts) {
        SCOPED_TRACE(start);
        dynamic_pos = start;
        DirectoryContent big = list("big");
        expect_listing_of(big, files);
        // Later small listings take from the ring (about 300 bytes each, so these wrap
        // it several times) and leave the large one alone.
        for (int i = 0; i < 6000; ++i) list("small");
        EXPECT_TRUE(in_ring(list("small").files.items));
        expect_listing_of(big, files);
    }
}

// A listing that restarts the ring but does not reach its own start stays in the ring.
TEST_F(DirectoryTest, ListingThatWrapsButFitsStaysInTheRing) {
    fs::create_directory(root / "dir");
    std::set<std::string> files;
    for (int i = 0; i < 200; ++i) files.insert("wrapped-" + std::to_string(i));
    make_files(root / "dir", files);
    dynamic_pos = 524288 - 2000;
    DirectoryContent content = list("dir");
    expect_listing_of(content, files);
    EXPECT_TRUE(in_ring(content.files.items));
    EXPECT_TRUE(in_ring(content.directories.items));
    EXPECT_LT(dynamic_pos, 524288 - 2000);
}

// Too large for the ring (2600 names of 208 bytes and their lists), from wherever it
// starts: the listing moves out rather than overwrite itself.
TEST_F(DirectoryTest, ListingThatWouldReachItsOwnStartMovesOut) {
    fs::create_directory(root / "dir");
    std::set<std::string> files;
    for (int i = 0; i < 2600; ++i) {
        std::string name = std::to_string(i);
        name.resize(200, 'n');
        files.insert(name);
    }
    make_files(root / "dir", files);
    const int32_t starts[] = {0, 262144, 524000};
    for (int32_t start : starts) {
        SCOPED_TRACE(start);
        dynamic_pos = start;
        DirectoryContent content = list("dir");
        expect_listing_of(content, files);
        EXPECT_FALSE(in_ring(content.files.items));
    }
}

}  // namespace
