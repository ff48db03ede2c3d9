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
    const PlatformPath* native = to_platform_path(path);
    return native ? platform_open_apart(native, mode, other) : nullptr;
}

}  // namespace

File* file_open(Slice path, int64_t mode) {
    // The path is formed before the mode is looked at, for every code.
    const PlatformPath* native = to_platform_path(path);
    const char* mode_text = stream_mode(static_cast<uint32_t>(mode) & mode_code_mask);
    if (!native || !mode_text) return nullptr;
    return platform_open(native, mode_text);
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
    // "r" and "w" are text modes, but this platform translates no line ends.
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
    File* file = open_apart("r", path, nullptr);
    if (!file) return 0;
    std::fclose(file);
    return 1;
}

int32_t file_delete(Slice path) {
    const PlatformPath* native = to_platform_path(path);
    return native ? platform_delete_file(native) : 0;
}

int32_t file_rename(Slice old_path, Slice new_path) {
    const PlatformPath* native_old;
    const PlatformPath* native_new;
    if (!to_platform_path_pair(old_path, new_path, &native_old, &native_new)) return 0;
    return platform_is_directory(platform_attributes(native_old)) ? 0 : platform_move(native_old, native_new);
}
