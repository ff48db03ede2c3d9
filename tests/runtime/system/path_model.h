// A model of the path services (files and directories) for random sequences of calls in
// a scratch folder: a tree in memory that says what each call must return and leave
// behind, and a runner that draws calls and names, makes each call, and compares its
// result, what it read or listed, and the folder's real contents with the model after
// every step. Shared by the suite's test and the fuzz target, which differ only in where
// their choices come from. The model describes a POSIX system (Linux): names are bytes,
// '/' separates them, and the system refuses paths of PATH_MAX bytes and names over
// NAME_MAX bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "runtime/system/directory.h"
#include "runtime/system/file.h"
#include "runtime/system/temporary.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace path_model {

// The longest path the system takes (PATH_MAX less its NUL) and the longest name.
inline constexpr size_t max_path_bytes = 4095;
inline constexpr size_t max_name_bytes = 255;
// Rounds of calls on one folder before it is emptied: deep enough for nested renames,
// small enough that comparing the whole tree after each call stays cheap.
inline constexpr uint64_t steps_per_round = 1000;
inline constexpr size_t max_entries = 80;
// Most bytes a write puts in a file.
inline constexpr uint64_t max_write_bytes = 24;

struct Node {
    bool directory = false;
    std::string contents;                  // a file's bytes
    std::map<std::string, Node> children;  // a directory's entries by name
    bool operator==(const Node&) const = default;
};

// A path relative to the scratch folder, as the model reads it.
struct Walk {
    bool usable = false;             // the system would look it up at all
    std::vector<std::string> parts;  // its names, empty ones (from "//") dropped
    bool trailing = false;           // it ends in '/', which only a directory takes
};

// What drives a run: each choice below `bound` (at least 1), and whether choices have
// run out (a fuzz input that ended).
struct Choices {
    std::function<uint64_t(uint64_t)> below;
    std::function<bool()> exhausted;
};

struct Run {
    std::string root;  // the scratch folder, no trailing '/'
    Choices choose;
    Node tree{true, {}, {}};
    std::vector<std::string> pool;  // names drawn in this round, to draw again
    uint64_t steps = 0;
    uint64_t calls = 0;
    uint64_t names_drawn = 0;
    std::unordered_set<size_t> distinct_names;  // by hash: a long run draws millions
    std::string failure;  // empty while the services and the model agree
    std::vector<std::string> recent;  // the last calls made, for the failure's story
    uint64_t successes = 0;           // calls that did what they were asked
    size_t longest_path = 0;          // bytes of the longest path that came to exist
};

inline constexpr size_t calls_remembered = 6;

// ---- reading paths ------------------------------------------------------------------

inline std::string full_path(const Run& run, const std::string& relative) { return run.root + "/" + relative; }

inline Walk walk(const Run& run, const std::string& relative) {
    Walk w;
    std::string full = full_path(run, relative);
    w.usable = full.find('\0') == std::string::npos && full.size() <= max_path_bytes;
    std::string part;
    for (char c : relative) {
        if (c != '/') {
            part += c;
            continue;
        }
        if (!part.empty()) w.parts.push_back(part);
        part.clear();
    }
    if (!part.empty()) w.parts.push_back(part);
    w.trailing = !relative.empty() && relative.back() == '/';
    for (const std::string& name : w.parts) w.usable = w.usable && name.size() <= max_name_bytes;
    w.usable = w.usable && !w.parts.empty();
    return w;
}

// The node at the first `count` names of `parts`, or null when one is missing or a file
// stands where a directory must.
inline Node* find(Node& tree, const std::vector<std::string>& parts, size_t count) {
    Node* node = &tree;
    for (size_t i = 0; i < count; ++i) {
        if (!node->directory) return nullptr;
        auto child = node->children.find(parts[i]);
        if (child == node->children.end()) return nullptr;
        node = &child->second;
    }
    return node;
}

inline Node* entry(Run& run, const Walk& w) {
    return w.usable ? find(run.tree, w.parts, w.parts.size()) : nullptr;
}

// The directory that holds (or would hold) the walk's last name.
inline Node* parent(Run& run, const Walk& w) {
    if (!w.usable) return nullptr;
    Node* node = find(run.tree, w.parts, w.parts.size() - 1);
    return node && node->directory ? node : nullptr;
}

inline bool is_file(Node* node) { return node && !node->directory; }
inline bool is_directory(Node* node) { return node && node->directory; }

inline bool starts_with(const std::vector<std::string>& whole, const std::vector<std::string>& prefix) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// ---- the real folder ------------------------------------------------------------------

// The folder is read and emptied by descriptors relative to each directory: a rename
// may leave entries whose whole path is longer than the system takes by name.
inline std::vector<std::string> entry_names(int folder) {
    std::vector<std::string> names;
    DIR* dir = fdopendir(dup(folder));
    if (!dir) return names;
    while (const dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

inline std::string read_all_at(int folder, const std::string& name) {
    std::string bytes;
    int file = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (file < 0) return "<unreadable>";
    char block[4096];
    for (ssize_t n; (n = read(file, block, sizeof block)) > 0;) bytes.append(block, static_cast<size_t>(n));
    close(file);
    return bytes;
}

inline bool is_directory_at(int folder, const std::string& name) {
    struct stat status;
    return fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
}

inline Node read_tree_at(int folder) {
    Node node{true, {}, {}};
    for (const std::string& name : entry_names(folder)) {
        if (!is_directory_at(folder, name)) {
            node.children[name] = Node{false, read_all_at(folder, name), {}};
            continue;
        }
        int inner = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        node.children[name] = inner >= 0 ? read_tree_at(inner) : Node{false, "<unopenable>", {}};
        if (inner >= 0) close(inner);
    }
    return node;
}

inline void empty_at(int folder) {
    for (const std::string& name : entry_names(folder)) {
        if (!is_directory_at(folder, name)) {
            unlinkat(folder, name.c_str(), 0);
            continue;
        }
        int inner = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (inner >= 0) {
            empty_at(inner);
            close(inner);
        }
        unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    }
}

inline Node read_tree(const std::string& folder) {
    int root = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return Node{false, "<no folder>", {}};
    Node tree = read_tree_at(root);
    close(root);
    return tree;
}

inline void empty_folder(const std::string& folder) {
    int root = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return;
    empty_at(root);
    close(root);
}

inline size_t count_entries(const Node& node) {
    size_t count = node.children.size();
    for (const auto& [name, child] : node.children) count += count_entries(child);
    return count;
}

// Every entry's path relative to the scratch folder.
inline void collect(const Node& node, const std::string& prefix, std::vector<std::string>& paths) {
    for (const auto& [name, child] : node.children) {
        std::string path = prefix.empty() ? name : prefix + "/" + name;
        paths.push_back(path);
        collect(child, path, paths);
    }
}

inline std::string shown(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    size_t limit = bytes.size() > 120 ? 60 : bytes.size();
    for (size_t i = 0; i < limit; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    if (limit < bytes.size()) out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

// ---- drawing names and paths ----------------------------------------------------------

inline std::string random_bytes(Run& run, size_t length, bool any_byte) {
    std::string bytes(length, 'x');
    for (char& c : bytes) {
        // Any byte at all, or a small alphabet whose names meet each other often.
        c = any_byte ? static_cast<char>(run.choose.below(256)) : "abAB\xC3\xA9"[run.choose.below(6)];
    }
    return bytes;
}

// One name, drawn to meet the edges: every byte value (NUL and '/' too), bytes that are
// not UTF-8 beside their U+FFFD look-alikes, a letter cut short, names that differ only
// in case, and names of 1, 255 and 256 bytes.
inline std::string draw_name(Run& run) {
    static const char* const fixed[] = {
        "\xFF", "\xEF\xBF\xBD", "\xFE\xFF", "caf\xE9", "caf\xC3\xA9", "caf\xEF\xBF\xBD",
        "a\xC3", "\xC3\xA9", "name", "Name", "NAME", "nAmE", "\xC3\x89", "\xC3\xA9",
        " ", "\n", "*", "?", "\\", "-", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF", "..."};
    std::string name;
    switch (run.choose.below(11)) {
        case 0: name = std::string(1, static_cast<char>(run.choose.below(256))); break;
        case 1:
        case 2: name = fixed[run.choose.below(std::size(fixed))]; break;
        case 3: name = random_bytes(run, max_name_bytes, run.choose.below(2) == 0); break;
        case 4: name = random_bytes(run, max_name_bytes + 1, false); break;
        case 5: name = random_bytes(run, 1 + run.choose.below(12), true); break;
        case 6: name = random_bytes(run, 1 + run.choose.below(3), false); break;
        case 7: name = std::string(max_name_bytes - run.choose.below(2), "aA"[run.choose.below(2)]); break;
        default:
            name = run.pool.empty() ? std::string("a") : run.pool[run.choose.below(run.pool.size())];
            break;
    }
    // "." and ".." name the folder itself and its parent: outside what the model keeps.
    std::string cleaned;
    std::string part;
    auto flush = [&] {
        if (part == "." || part == "..") part = "_" + part;
        cleaned += part;
        part.clear();
    };
    for (char c : name) {
        if (c == '/') {
            flush();
            cleaned += c;
        } else {
            part += c;
        }
    }
    flush();
    ++run.names_drawn;
    run.distinct_names.insert(std::hash<std::string>{}(cleaned));
    if (run.pool.size() < 32) run.pool.push_back(cleaned);
    return cleaned;
}

inline std::string existing_path(Run& run) {
    std::vector<std::string> paths;
    collect(run.tree, "", paths);
    if (paths.empty()) return draw_name(run);
    return paths[run.choose.below(paths.size())];
}

// A path with at least one name, so it never names the scratch folder itself.
inline std::string ensure_named(Run& run, std::string path) {
    if (walk(run, path).parts.empty() && path.find('\0') == std::string::npos) path += draw_name(run) + "n";
    return path;
}

// A path under the deepest directory, one name longer, aimed at the longest path the
// system takes (give or take a few bytes); where even a name of 255 bytes falls short,
// it takes that, and the next such path starts deeper.
inline std::string deep_path(Run& run) {
    std::vector<std::string> paths;
    collect(run.tree, "", paths);
    std::string base;
    for (const std::string& p : paths) {
        if (p.size() > base.size() && is_directory(entry(run, walk(run, p)))) base = p;
    }
    size_t used = full_path(run, base).size() + (base.empty() ? 0 : 1);
    size_t target = max_path_bytes - 3 + run.choose.below(6);
    size_t wanted = target > used ? target - used : 1;
    // Far from the target, a name of 255 bytes, now and then one byte too long.
    size_t length = wanted <= max_name_bytes + 1 ? wanted : max_name_bytes + (run.choose.below(8) == 0);
    std::string name = random_bytes(run, length, false);
    return base.empty() ? name : base + "/" + name;
}

inline std::string draw_path(Run& run) {
    std::string path;
    switch (run.choose.below(20)) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7: path = existing_path(run); break;
        case 8: path = existing_path(run) + "/"; break;
        case 9:
        case 10:
        case 11: path = existing_path(run) + "/" + draw_name(run); break;
        case 12:
        case 13:
        case 14: {
            int names = 1 + static_cast<int>(run.choose.below(3));
            for (int i = 0; i < names; ++i) path += (i ? (run.choose.below(4) ? "/" : "//") : "") + draw_name(run);
            break;
        }
        case 15: {
            // A NUL after a path that exists: cut there, it would name that entry.
            path = existing_path(run) + std::string(1, '\0') + draw_name(run);
            break;
        }
        case 16:
        case 17: path = deep_path(run); break;
        default: {
            // Around the ring's own limits: a path alone near 16383 bytes, or near half
            // of it, which two paths of one call share. Slashes repeat harmlessly.
            size_t target = run.choose.below(2) ? 16380 + run.choose.below(8) : 8188 + run.choose.below(8);
            size_t used = full_path(run, "").size();
            std::string name = existing_path(run);
            path = std::string(target > used + name.size() ? target - used - name.size() : 0, '/') + name;
            break;
        }
    }
    return ensure_named(run, path);
}

inline std::string draw_bytes(Run& run) { return random_bytes(run, run.choose.below(max_write_bytes + 1), true); }

// ---- calls ----------------------------------------------------------------------------

inline Slice slice_of_bytes(const std::string& text) { return Slice{text.data(), static_cast<int64_t>(text.size())}; }

// The ring's position, where every path's system form starts: sometimes near its end, so
// forms restart the ring and two paths of one call meet at its seam.
inline void shake_rings(Run& run) {
    switch (run.choose.below(6)) {
        case 0: temporary_pos = static_cast<int32_t>(temporary_ring_size - run.choose.below(64)); break;
        case 1: temporary_pos = static_cast<int32_t>(run.choose.below(temporary_ring_size + 1)); break;
        case 2: dynamic_pos = static_cast<int32_t>(dynamic_ring_size - run.choose.below(4096)); break;
        default: break;
    }
}

inline bool fail(Run& run, const std::string& what) {
    run.failure = what;
    return false;
}

inline bool expect_result(Run& run, const std::string& call, int64_t got, bool wanted) {
    std::string outcome = call + " gave " + std::to_string(got);
    if ((got != 0) == wanted) {
        run.successes += wanted ? 1 : 0;
        if (run.recent.size() == calls_remembered) run.recent.erase(run.recent.begin());
        run.recent.push_back(outcome);
        return true;
    }
    std::string story;
    for (const std::string& earlier : run.recent) story += "\n  after " + earlier;
    return fail(run, outcome + ", the model wanted " + (wanted ? "success" : "0") + story);
}

inline std::string describe_call(const char* name, const std::string& a, const std::string* b = nullptr) {
    std::string text = std::string(name) + "(\"" + shown(a) + "\"";
    if (b) text += ", \"" + shown(*b) + "\"";
    return text + ")";
}

// Opens in `mode` and writes `data`; the model's file becomes what the mode makes of it.
inline bool call_open_write(Run& run, int64_t mode) {
    std::string path = draw_path(run), data = draw_bytes(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    Node* holder = parent(run, w);
    bool creates = mode != file_mode_read_write;
    bool wanted = !w.trailing && (is_file(at) || (creates && holder && !at));
    std::string call = describe_call("file_open", path) + " mode " + std::to_string(mode);
    shake_rings(run);
    File* file = file_open(slice_of_bytes(full_path(run, path)), mode);
    if (!expect_result(run, call, file != nullptr, wanted)) {
        if (file) file_close(file);
        return false;
    }
    if (!file) return true;
    uint64_t written = file_write(file, data.size(), data.data());
    if (file_close(file) != 0 || written != data.size()) return fail(run, call + ": the write or the close failed");
    if (!at) at = &holder->children[w.parts.back()];
    std::string& contents = at->contents;
    if (mode == file_mode_write) contents = data;
    if (mode == file_mode_append || mode == file_mode_read_append) contents += data;
    if (mode == file_mode_read_write) contents.replace(0, std::min(data.size(), contents.size()), data);
    return true;
}

inline bool call_read(Run& run) {
    std::string path = draw_path(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    bool wanted = !w.trailing && is_file(at);
    std::string call = describe_call("file_open", path) + " for reading";
    shake_rings(run);
    File* file = file_open(slice_of_bytes(full_path(run, path)), file_mode_read);
    if (!expect_result(run, call, file != nullptr, wanted)) {
        if (file) file_close(file);
        return false;
    }
    if (!file) return true;
    std::string got;
    char block[64];
    for (uint64_t n; (n = file_read(file, sizeof block, block)) > 0;) got.append(block, n);
    file_close(file);
    if (got != at->contents) return fail(run, call + " read \"" + shown(got) + "\", not \"" + shown(at->contents) + "\"");
    return true;
}

inline bool call_exists(Run& run, bool directory) {
    std::string path = draw_path(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    bool wanted = directory ? is_directory(at) : !w.trailing && is_file(at);
    shake_rings(run);
    const std::string full = full_path(run, path);
    int32_t got = directory ? directory_exists(slice_of_bytes(full)) : file_exists(slice_of_bytes(full));
    return expect_result(run, describe_call(directory ? "directory_exists" : "file_exists", path), got, wanted);
}

inline bool call_create(Run& run) {
    std::string path = draw_path(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    Node* holder = parent(run, w);
    bool wanted = !w.trailing && (is_file(at) || (holder && !at));
    shake_rings(run);
    int32_t got = file_create(slice_of_bytes(full_path(run, path)));
    if (!expect_result(run, describe_call("file_create", path), got, wanted)) return false;
    if (wanted) (at ? *at : holder->children[w.parts.back()]) = Node{false, {}, {}};
    return true;
}

inline bool call_copy(Run& run) {
    std::string source = draw_path(run), destination = draw_path(run);
    Walk from = walk(run, source), to = walk(run, destination);
    Node* original = entry(run, from);
    Node* at = entry(run, to);
    Node* holder = parent(run, to);
    bool readable = !from.trailing && is_file(original);
    bool writable = !to.trailing && (is_file(at) || (holder && !at)) && from.parts != to.parts;
    shake_rings(run);
    int32_t got = file_copy(slice_of_bytes(full_path(run, source)), slice_of_bytes(full_path(run, destination)));
    if (!expect_result(run, describe_call("file_copy", source, &destination), got, readable && writable)) return false;
    if (readable && writable) {
        std::string contents = original->contents;
        (at ? *at : holder->children[to.parts.back()]) = Node{false, contents, {}};
    }
    return true;
}

inline bool call_delete(Run& run) {
    std::string path = draw_path(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    bool wanted = !w.trailing && is_file(at);
    shake_rings(run);
    int32_t got = file_delete(slice_of_bytes(full_path(run, path)));
    if (!expect_result(run, describe_call("file_delete", path), got, wanted)) return false;
    if (wanted) parent(run, w)->children.erase(w.parts.back());
    return true;
}

// file_rename moves anything but a directory; directory_rename only a directory, never
// into itself. Neither replaces what stands at the new path.
inline bool call_rename(Run& run, bool directory) {
    std::string old_path = draw_path(run), new_path = draw_path(run);
    Walk from = walk(run, old_path), to = walk(run, new_path);
    Node* moving = entry(run, from);
    Node* holder = parent(run, to);
    bool taken = entry(run, to) != nullptr;
    bool wanted = holder && !taken;
    if (directory) {
        wanted = wanted && is_directory(moving) && !starts_with(to.parts, from.parts);
    } else {
        wanted = wanted && is_file(moving) && !from.trailing && !to.trailing;
    }
    shake_rings(run);
    const std::string old_full = full_path(run, old_path), new_full = full_path(run, new_path);
    Slice old_slice = slice_of_bytes(old_full), new_slice = slice_of_bytes(new_full);
    int32_t got = directory ? directory_rename(old_slice, new_slice) : file_rename(old_slice, new_slice);
    const char* name = directory ? "directory_rename" : "file_rename";
    if (!expect_result(run, describe_call(name, old_path, &new_path), got, wanted)) return false;
    if (!wanted) return true;
    Node moved = std::move(*moving);
    parent(run, from)->children.erase(from.parts.back());
    parent(run, to)->children[to.parts.back()] = std::move(moved);
    return true;
}

inline bool call_directory_create(Run& run) {
    std::string path = run.choose.below(2) ? deep_path(run) : draw_path(run);
    Walk w = walk(run, path);
    Node* holder = parent(run, w);
    bool wanted = holder && !entry(run, w);
    shake_rings(run);
    int32_t got = directory_create(slice_of_bytes(full_path(run, path)));
    if (!expect_result(run, describe_call("directory_create", path), got, wanted)) return false;
    if (wanted) holder->children[w.parts.back()] = Node{true, {}, {}};
    return true;
}

inline bool call_directory_delete(Run& run) {
    std::string path = draw_path(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    bool wanted = is_directory(at) && at->children.empty();
    shake_rings(run);
    int32_t got = directory_delete(slice_of_bytes(full_path(run, path)));
    if (!expect_result(run, describe_call("directory_delete", path), got, wanted)) return false;
    if (wanted) parent(run, w)->children.erase(w.parts.back());
    return true;
}

inline std::multiset<std::string> listed(SliceArray list) {
    std::multiset<std::string> names;
    for (int64_t i = 0; i < list.count; ++i) names.insert(std::string(list.items[i].data, list.items[i].length));
    return names;
}

// A listing gives every entry's own bytes; each name handed back reaches that entry.
inline bool call_list(Run& run) {
    std::string path = draw_path(run);
    Walk w = walk(run, path);
    Node* at = entry(run, w);
    // The search opens the path with a '/' after it, which must fit too.
    bool wanted = is_directory(at) && full_path(run, path).size() + 1 <= max_path_bytes;
    std::multiset<std::string> directories, files;
    if (wanted) {
        directories = {".", ".."};
        for (const auto& [name, child] : at->children) (child.directory ? directories : files).insert(name);
    }
    shake_rings(run);
    DirectoryContent content;
    directory_get_content(&content, slice_of_bytes(full_path(run, path)));
    std::string call = describe_call("directory_get_content", path);
    std::multiset<std::string> got_directories = listed(content.directories), got_files = listed(content.files);
    if (got_directories != directories || got_files != files) {
        return fail(run, call + " listed " + std::to_string(got_files.size()) + " files and " +
                             std::to_string(got_directories.size()) + " directories, the model " +
                             std::to_string(files.size()) + " and " + std::to_string(directories.size()));
    }
    for (const std::string& name : got_files) {
        std::string again = path + "/" + name;
        bool reaches = !walk(run, again).trailing && is_file(entry(run, walk(run, again)));
        if (!expect_result(run, describe_call("file_exists", again) + " of a listed name",
                           file_exists(slice_of_bytes(full_path(run, again))), reaches))
            return false;
    }
    for (const std::string& name : got_directories) {
        if (name == "." || name == "..") continue;
        std::string again = path + "/" + name;
        bool reaches = is_directory(entry(run, walk(run, again)));
        if (!expect_result(run, describe_call("directory_exists", again) + " of a listed name",
                           directory_exists(slice_of_bytes(full_path(run, again))), reaches))
            return false;
    }
    return true;
}

inline bool call_one(Run& run) {
    ++run.calls;
    switch (run.choose.below(17)) {
        case 0: return call_create(run);
        case 1: return call_open_write(run, file_mode_write);
        case 2: return call_open_write(run, file_mode_append);
        case 3: return call_open_write(run, file_mode_read_write);
        case 4: return call_open_write(run, file_mode_read_append);
        case 5: return call_read(run);
        case 6: return call_copy(run);
        case 7: return call_rename(run, false);
        case 8: return call_delete(run);
        case 9: return call_exists(run, false);
        case 10: return call_list(run);
        case 11:
        case 12: return call_directory_create(run);
        case 13: return call_rename(run, true);
        case 14: return call_directory_delete(run);
        case 15: return call_exists(run, true);
        default: return call_list(run);
    }
}

// ---- running ----------------------------------------------------------------------------

// Empties the scratch folder and the model: a new round.
inline void start_round(Run& run) {
    empty_folder(run.root);
    run.tree = Node{true, {}, {}};
    run.pool.clear();
}

// One call and the comparison of the whole folder with the model after it. False when
// they differ (run.failure says how) or the choices ran out.
inline bool step(Run& run) {
    if (run.steps % steps_per_round == 0 || count_entries(run.tree) > max_entries) start_round(run);
    ++run.steps;
    if (!call_one(run)) return false;
    Node real = read_tree(run.root);
    if (real != run.tree) {
        std::vector<std::string> have, want;
        collect(real, "", have);
        collect(run.tree, "", want);
        std::string text = "after call " + std::to_string(run.calls) + " the folder holds:";
        for (const std::string& p : have) text += " \"" + shown(p) + "\"";
        text += "; the model:";
        for (const std::string& p : want) text += " \"" + shown(p) + "\"";
        return fail(run, text + " (or their contents differ)");
    }
    std::vector<std::string> paths;
    collect(run.tree, "", paths);
    for (const std::string& p : paths) run.longest_path = std::max(run.longest_path, full_path(run, p).size());
    return !run.choose.exhausted();
}

}  // namespace path_model
