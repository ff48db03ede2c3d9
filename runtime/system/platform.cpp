#include "runtime/system/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr char16_t replacement_character = 0xFFFD;
constexpr uint32_t first_supplementary = 0x10000;
constexpr char16_t high_surrogate_base = 0xD800;
constexpr char16_t low_surrogate_base = 0xDC00;
constexpr char16_t surrogate_end = 0xE000;

void put_unit(void* out, int32_t index, char16_t unit) {
    std::memcpy(static_cast<char*>(out) + 2 * static_cast<int64_t>(index), &unit, sizeof unit);
}

char16_t get_unit(const void* wide, int64_t index) {
    char16_t unit;
    std::memcpy(&unit, static_cast<const char*>(wide) + 2 * index, sizeof unit);
    return unit;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one code point at text[i..length). Returns the bytes consumed and sets
// `code` to the code point, or to U+FFFD for a maximal ill-formed subpart. The
// second byte's allowed range excludes overlongs, surrogates and values past U+10FFFF.
int32_t decode_utf8(const unsigned char* text, int32_t i, int32_t length, uint32_t* code) {
    unsigned char lead = text[i];
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    int32_t needed;
    unsigned char low = 0x80, high = 0xBF;
    uint32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2, value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3, value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        *code = replacement_character;
        return 1;
    }
    int32_t used = 1;
    for (int32_t k = 0; k < needed; ++k) {
        if (i + used >= length) break;
        unsigned char byte = text[i + used];
        bool fits = k == 0 ? (byte >= low && byte <= high) : is_continuation(byte);
        if (!fits) break;
        value = (value << 6) | (byte & 0x3F);
        ++used;
    }
    *code = used == needed + 1 ? value : replacement_character;
    return used;
}

int32_t encode_utf8(uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < first_supplementary) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

}  // namespace

int32_t platform_utf8_to_utf16(const char* text, int32_t length, void* out) {
    auto bytes = reinterpret_cast<const unsigned char*>(text);
    int32_t units = 0;
    for (int32_t i = 0; i < length;) {
        uint32_t code;
        i += decode_utf8(bytes, i, length, &code);
        if (code >= first_supplementary) {
            code -= first_supplementary;
            if (out) {
                put_unit(out, units, static_cast<char16_t>(high_surrogate_base + (code >> 10)));
                put_unit(out, units + 1, static_cast<char16_t>(low_surrogate_base + (code & 0x3FF)));
            }
            units += 2;
        } else {
            if (out) put_unit(out, units, static_cast<char16_t>(code));
            units += 1;
        }
    }
    return units;
}

int64_t platform_utf16_to_utf8(const void* wide, char* out) {
    char scratch[4];
    int64_t size = 0;
    for (int64_t i = 0;; ++i) {
        uint32_t code = get_unit(wide, i);
        if (code >= high_surrogate_base && code < low_surrogate_base) {
            char16_t next = get_unit(wide, i + 1);
            if (next >= low_surrogate_base && next < surrogate_end) {
                code = first_supplementary + ((code - high_surrogate_base) << 10) + (next - low_surrogate_base);
                ++i;
            } else {
                code = replacement_character;
            }
        } else if (code >= low_surrogate_base && code < surrogate_end) {
            code = replacement_character;
        }
        int32_t n = encode_utf8(code, out ? out + size : scratch);
        size += n;
        if (code == 0) return size;
    }
}

bool platform_seek(std::FILE* file, int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t platform_tell(std::FILE* file) { return static_cast<int64_t>(ftello(file)); }

int platform_descriptor(std::FILE* file) { return file ? fileno(file) : -1; }

int64_t platform_time() { return static_cast<int64_t>(std::time(nullptr)); }

namespace {

// Files are created with every read and write bit the umask leaves, as fopen does.
constexpr mode_t creation_permissions = 0666;
// Directories likewise, with the search bits.
constexpr mode_t directory_permissions = 0777;
// Bytes asked of the kernel per in-kernel copy: large, and far below its 2 GiB cap.
constexpr size_t kernel_copy_request = size_t{1} << 30;
// Block of a copy through user memory: coreutils measured 128 KiB as the point past
// which larger blocks stop paying.
constexpr size_t copy_block_bytes = 128 * 1024;
// A mode's permission, set-id and sticky bits: what a moved file keeps.
constexpr mode_t permission_bits = 07777;
// The shell system() starts.
constexpr const char* shell_path = "/bin/sh";

static_assert(NAME_MAX < platform_max_name_bytes, "every name the system lists fits a search record");

// A path form is the bytes themselves: see platform.h.
const char* bytes_of(const PlatformPath* path) { return reinterpret_cast<const char*>(path); }

// Open flags for a stream mode; O_TRUNC is left out (see open_stream). False for an
// unknown mode.
bool open_flags(const char* mode, int* flags, bool* truncate) {
    bool update = std::strchr(mode, '+') != nullptr;
    *truncate = mode[0] == 'w';
    switch (mode[0]) {
        case 'r': *flags = update ? O_RDWR : O_RDONLY; return true;
        case 'w': *flags = (update ? O_RDWR : O_WRONLY) | O_CREAT; return true;
        case 'a': *flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; return true;
        default: return false;
    }
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Directories never become streams. Nor does a FIFO opened both ways: the handle is
// then a writer itself, so the FIFO never reports its end and a read waits for ever.
bool streamable(const struct stat& status, int flags) {
    if (S_ISDIR(status.st_mode)) return false;
    return !(S_ISFIFO(status.st_mode) && (flags & O_ACCMODE) == O_RDWR);
}

// Whether the freshly opened `fd` may become a stream: streamable, not the file `other`
// is open on. Only then is it emptied (for "w") and made blocking again.
bool settle_descriptor(int fd, std::FILE* other, bool truncate) {
    struct stat status;
    int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fstat(fd, &status) != 0 || !streamable(status, flags)) return false;
    struct stat other_status;
    if (other && fstat(fileno(other), &other_status) == 0 && same_file(status, other_status)) return false;
    if (truncate && S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0) return false;
    return fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Opens without waiting (O_NONBLOCK) and without emptying (no O_TRUNC) until the file
// is known to be one we may use: the self-copy guard needs it intact until then.
std::FILE* open_stream(const char* path, const char* mode, std::FILE* other) {
    int flags;
    bool truncate;
    if (!open_flags(mode, &flags, &truncate)) return nullptr;
    int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, creation_permissions);
    if (fd < 0) return nullptr;
    std::FILE* file = settle_descriptor(fd, other, truncate) ? fdopen(fd, mode) : nullptr;
    if (!file) close(fd);
    return file;
}

bool write_all(int fd, const char* bytes, ssize_t count) {
    while (count > 0) {
        ssize_t written = write(fd, bytes, static_cast<size_t>(count));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

bool copy_by_blocks(int from, int to) {
    char block[copy_block_bytes];
    for (;;) {
        ssize_t got = read(from, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!write_all(to, block, got)) return false;
    }
}

// Copies in the kernel when both files allow it; a first call that copies nothing may
// mean a file whose size the kernel cannot tell (/proc), so blocks take over then.
bool copy_descriptor(int from, int to) {
    bool started = false;
    for (;;) {
        ssize_t copied = copy_file_range(from, nullptr, to, nullptr, kernel_copy_request, 0);
        if (copied > 0) {
            started = true;
        } else if (copied == 0) {
            return started || copy_by_blocks(from, to);
        } else if (errno != EINTR) {
            return !started && copy_by_blocks(from, to);
        }
    }
}

// Moves a regular file across file systems: a new file that must not exist yet, the
// same bytes, permissions and times, then the old one deleted. Undone on any failure.
bool move_file_by_copy(const char* old_path, const char* new_path, const struct stat& status) {
    int from = open(old_path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (from < 0) return false;
    int to = open(new_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & permission_bits);
    if (to < 0) {
        close(from);
        return false;
    }
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    bool copied = copy_descriptor(from, to) && fchmod(to, status.st_mode & permission_bits) == 0;
    copied = futimens(to, times) == 0 && copied;
    copied = close(to) == 0 && copied;
    close(from);
    if (copied && unlink(old_path) == 0) return true;
    unlink(new_path);
    return false;
}

bool move_link_by_copy(const char* old_path, const char* new_path) {
    char target[PATH_MAX];
    ssize_t length = readlink(old_path, target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    if (symlink(target, new_path) != 0) return false;
    if (unlink(old_path) == 0) return true;
    unlink(new_path);
    return false;
}

bool move_across_file_systems(const char* old_path, const char* new_path) {
    struct stat status;
    if (lstat(old_path, &status) != 0) return false;
    if (S_ISREG(status.st_mode)) return move_file_by_copy(old_path, new_path, status);
    if (S_ISLNK(status.st_mode)) return move_link_by_copy(old_path, new_path);
    return false;
}

// For file systems without an atomic no-replace rename. A file gets a second name
// (link refuses an existing one) and loses the old; a directory replaces an empty
// placeholder made for it, since mkdir too refuses an existing name.
bool move_without_replacing(const char* old_path, const char* new_path) {
    struct stat status;
    if (lstat(old_path, &status) != 0) return false;
    if (!S_ISDIR(status.st_mode)) {
        if (link(old_path, new_path) != 0) return false;
        if (unlink(old_path) == 0) return true;
        unlink(new_path);
        return false;
    }
    if (mkdir(new_path, directory_permissions) != 0) return false;
    if (rename(old_path, new_path) == 0) return true;
    rmdir(new_path);
    return false;
}

// Windows' read-only attribute stands for a file its owner may not write, as the
// POSIX layers on Windows map it.
bool is_read_only(const struct stat& status) { return (status.st_mode & S_IWUSR) == 0; }

bool is_directory_entry(DIR* dir, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
    struct stat status;
    return fstatat(dirfd(dir), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
}

bool read_entry(DIR* dir, PlatformFindData* data) {
    const dirent* entry = readdir(dir);
    if (!entry) return false;
    size_t length = std::strlen(entry->d_name);
    std::memcpy(data->name, entry->d_name, length + 1);
    data->name_length = static_cast<int32_t>(length);
    data->attributes = is_directory_entry(dir, entry) ? platform_attribute_directory : platform_attribute_normal;
    return true;
}

}  // namespace

int64_t platform_path_size(const char*, int64_t length) { return length < 0 ? -1 : length + 1; }

const PlatformPath* platform_path_form(const char* text, int64_t length, void* out) {
    auto bytes = static_cast<char*>(out);
    if (length > 0) std::memcpy(bytes, text, static_cast<size_t>(length));
    bytes[length] = '\0';
    return reinterpret_cast<const PlatformPath*>(bytes);
}

std::FILE* platform_open_narrow(const char* path, const char* mode) {
    if (!path || !mode) return nullptr;
    return open_stream(path, mode, nullptr);
}

std::FILE* platform_open(const PlatformPath* path, const char* mode) {
    return platform_open_apart(path, mode, nullptr);
}

std::FILE* platform_open_apart(const PlatformPath* path, const char* mode, std::FILE* other) {
    if (!path || !mode) return nullptr;
    return open_stream(bytes_of(path), mode, other);
}

bool platform_copy_stream(std::FILE* from, std::FILE* to) {
    if (!from || !to || std::fflush(to) != 0) return false;
    int source = fileno(from), target = fileno(to);
    // Whole files on a file system that shares blocks copy by sharing them, as cp does.
    bool whole = lseek(source, 0, SEEK_CUR) == 0 && lseek(target, 0, SEEK_END) == 0;
    if (whole && ioctl(target, FICLONE, source) == 0) {
        return lseek(source, 0, SEEK_END) >= 0 && lseek(target, 0, SEEK_END) >= 0;
    }
    return copy_descriptor(source, target);
}

uint32_t platform_attributes(const PlatformPath* path) {
    struct stat status;
    if (!path || stat(bytes_of(path), &status) != 0) return platform_attributes_invalid;
    uint32_t attributes = S_ISDIR(status.st_mode) ? platform_attribute_directory : platform_attribute_normal;
    if (is_read_only(status)) attributes |= platform_attribute_read_only;
    return attributes;
}

int32_t platform_delete_file(const PlatformPath* path) {
    struct stat status;
    if (!path || lstat(bytes_of(path), &status) != 0) return 0;
    if (S_ISLNK(status.st_mode)) {
        struct stat target;
        if (stat(bytes_of(path), &target) == 0 && S_ISDIR(target.st_mode)) return 0;
    } else if (S_ISDIR(status.st_mode) || is_read_only(status)) {
        return 0;
    }
    return unlink(bytes_of(path)) == 0 ? 1 : 0;
}

int32_t platform_move(const PlatformPath* old_path, const PlatformPath* new_path) {
    if (!old_path || !new_path) return 0;
    const char* from = bytes_of(old_path);
    const char* to = bytes_of(new_path);
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 1;
    if (errno == EXDEV) return move_across_file_systems(from, to) ? 1 : 0;
    // EINVAL also covers a directory moved into itself, which the fallback refuses too.
    if (errno == EINVAL || errno == ENOSYS) return move_without_replacing(from, to) ? 1 : 0;
    return 0;
}

int32_t platform_create_directory(const PlatformPath* path) {
    return path && mkdir(bytes_of(path), directory_permissions) == 0 ? 1 : 0;
}

int32_t platform_remove_directory(const PlatformPath* path) {
    return path && rmdir(bytes_of(path)) == 0 ? 1 : 0;
}

// The search is the system's directory stream itself, never looked into as anything else.
PlatformSearch* platform_find_first(const PlatformPath* pattern, PlatformFindData* data) {
    if (!data || !pattern) return nullptr;
    const char* text = bytes_of(pattern);
    size_t length = std::strlen(text);
    if (length < 2 || text[length - 2] != '/' || text[length - 1] != '*') return nullptr;
    // The directory is the pattern less its '*'; the path form is the caller's, so the
    // name is cut in a copy.
    char directory[PATH_MAX];
    if (length - 1 >= sizeof directory) return nullptr;
    std::memcpy(directory, text, length - 1);
    directory[length - 1] = '\0';
    DIR* dir = opendir(directory);
    if (!dir) return nullptr;
    if (!read_entry(dir, data)) {
        closedir(dir);
        return nullptr;
    }
    return reinterpret_cast<PlatformSearch*>(dir);
}

bool platform_find_next(PlatformSearch* search, PlatformFindData* data) {
    return search && data && read_entry(reinterpret_cast<DIR*>(search), data);
}

void platform_find_close(PlatformSearch* search) {
    if (search) closedir(reinterpret_cast<DIR*>(search));
}

int32_t platform_system(const char* command) {
    if (!command || access(shell_path, X_OK) != 0) return -1;
    std::fflush(nullptr);
    int status = std::system(command);
    if (status == -1) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return platform_signal_status_base + WTERMSIG(status);
    return -1;
}
