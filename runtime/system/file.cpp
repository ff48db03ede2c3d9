#include "runtime/system/file.h"

#include "runtime/system/platform.h"
#include "runtime/system/temporary.h"

namespace {

constexpr uint32_t mode_code_mask = 0xFF;

// Stream mode of each code, null for codes that open nothing.
const char* stream_mode(uint32_t code) {
    switch (code) {
        case file_mode_write: return "wb";
        case file_mode_read: return "rb";
        case file_mode_read_write: return "r+b";
        case file_mode_append: return "a";
        case file_mode_read_append: return "a+";
        default: return nullptr;
    }
}

// Opens through the guarded open, which never waits on a FIFO and spares `other`.
File* open_apart(const char* mode, Slice path, File* other) {
    const char16_t* wide_mode;
    const char16_t* wide_path;
    if (!to_wide_cstr_pair(slice_from_cstr(mode), path, &wide_mode, &wide_path)) return nullptr;
    return platform_open_wide_apart(wide_path, wide_mode, other);
}

}  // namespace

File* file_open(Slice path, int64_t mode) {
    const char* mode_text = stream_mode(static_cast<uint32_t>(mode) & mode_code_mask);
    if (!mode_text) {
        // The path is converted before the mode is looked at, for every code.
        (void)to_wide_cstr(path);
        return nullptr;
    }
    // Taken as a pair: a mode that restarted the ring over a long path would leave the
    // mode's own text where the path was, and open a file named like the mode.
    const char16_t* wide_path;
    const char16_t* wide_mode;
    if (!to_wide_cstr_pair(path, slice_from_cstr(mode_text), &wide_path, &wide_mode)) return nullptr;
    return platform_open_wide(wide_path, wide_mode);
}

bool file_failed(const File* file) { return file == nullptr; }

int32_t file_close(File* file) {
    if (!file) return -1;
    return std::fclose(file) == 0 ? 0 : -1;
}

bool file_seek(File* file, int64_t position) {
    return file && platform_seek(file, position, SEEK_SET);
}

int32_t file_end(File* file) { return file && std::feof(file) ? 1 : 0; }

int64_t file_size(File* file) {
    if (!file) return -1;
    int64_t here = platform_tell(file);
    if (here < 0 || !platform_seek(file, 0, SEEK_END)) return -1;
    int64_t size = platform_tell(file);
    platform_seek(file, here, SEEK_SET);
    return size;
}

uint64_t file_write(File* file, uint64_t count, const void* data) {
    if (!file || !data || count == 0) return 0;
    return std::fwrite(data, 1, count, file);
}

int32_t file_write_byte(File* file, int64_t value) {
    if (!file) return -1;
    int result = std::fputc(static_cast<unsigned char>(value), file);
    return result == EOF ? -1 : result;
}

uint64_t file_read(File* file, uint64_t count, void* buffer) {
    if (!file || !buffer || count == 0) return 0;
    return std::fread(buffer, 1, count, file);
}

int32_t file_read_byte(File* file) {
    if (!file) return -1;
    int result = std::fgetc(file);
    return result == EOF ? -1 : result;
}

int32_t file_copy(Slice source, Slice destination) {
    // "r" and "w" are text modes: on Windows the copy writes each line feed as CR LF, reads
    // CR LF as one, and stops at a Ctrl-Z; POSIX systems translate nothing.
    File* from = open_apart("r", source, nullptr);
    if (!from) return 0;
    File* to = open_apart("w", destination, from);
    if (!to) {
        std::fclose(from);
        return 0;
    }
    bool copied = platform_copy_stream(from, to);
    copied = std::fclose(from) == 0 && copied;
    copied = std::fclose(to) == 0 && copied;
    return copied ? 1 : 0;
}

int32_t file_create(Slice path) {
    File* file = open_apart("wb", path, nullptr);
    if (!file) return 0;
    std::fclose(file);
    return 1;
}

int32_t file_exists(Slice path) {
    if (!append_character(path)) return 0;
    File* file = platform_open_narrow(path.data, "r");
    if (!file) return 0;
    std::fclose(file);
    return 1;
}

int32_t file_delete(Slice path) {
    const char16_t* wide_path = to_wide_cstr(path);
    return wide_path ? platform_delete_file(wide_path) : 0;
}

int32_t file_rename(Slice old_path, Slice new_path) {
    const char16_t* wide_old;
    const char16_t* wide_new;
    if (!to_wide_cstr_pair(old_path, new_path, &wide_old, &wide_new)) return 0;
    return platform_is_directory(platform_attributes(wide_old)) ? 0 : platform_move(wide_old, wide_new);
}
