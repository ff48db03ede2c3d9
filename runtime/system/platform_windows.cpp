// The platform layer on Windows: the calls themselves, through msvcrt and KERNEL32.
// Wide text may start at an odd address, so it is copied to aligned storage before a
// system call reads it and converted off to the side before it is written.
#include "runtime/system/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
static_assert(platform_max_name_bytes >= MAX_PATH * 3, "every find record's name fits a search entry as UTF-8");

// An aligned copy of a wide string, as the system calls take it; longer strings than a
// path may hold are refused.
struct WideText {
    wchar_t units[platform_max_wide_units + 1];
};

bool copy_wide(const void* wide, WideText* out) {
    // Also a PlatformPath, which on Windows is this very form.
    if (!wide) return false;
    const char* bytes = static_cast<const char*>(wide);
    for (int32_t i = 0; i <= platform_max_wide_units; ++i) {
        std::memcpy(&out->units[i], bytes + 2 * static_cast<int64_t>(i), sizeof(wchar_t));
        if (out->units[i] == 0) return true;
    }
    return false;
}

// Stream modes are a handful of ASCII letters; each widens to its own unit.
constexpr int32_t max_mode_units = 8;

bool widen_mode(const char* mode, wchar_t (&out)[max_mode_units]) {
    if (!mode) return false;
    for (int32_t i = 0; i < max_mode_units; ++i) {
        out[i] = static_cast<unsigned char>(mode[i]);
        if (out[i] == 0) return true;
    }
    return false;
}

// Block of a stream copy: large enough that the call overhead vanishes.
constexpr size_t copy_block_bytes = 64 * 1024;

// Standard output and input carry exactly the program's bytes: msvcrt opens them in text
// mode, which would turn every line feed written into a carriage return and a line feed.
// Set before main, so every program built on the runtime has it without asking.
const bool streams_binary = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    return true;
}();

// The volume and file index that name one file whatever path reaches it.
struct FileIdentity {
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
};

bool identity_of_handle(HANDLE handle, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
    *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool identity_of_path(const wchar_t* path, FileIdentity* identity) {
    // No access asked and every sharing allowed: only the identity is read.
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool known = identity_of_handle(handle, identity);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return known;
}

bool names_file_of(const wchar_t* path, std::FILE* other) {
    if (!other) return false;
    FileIdentity mine, theirs;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(other)));
    return identity_of_path(path, &mine) && identity_of_handle(handle, &theirs) && mine.volume == theirs.volume &&
           mine.index_high == theirs.index_high && mine.index_low == theirs.index_low;
}

bool is_directory_path(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t entry_attributes(DWORD system_attributes) {
    return (system_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? platform_attribute_directory
                                                                : platform_attribute_normal;
}

void fill_entry(const WIN32_FIND_DATAW& found, PlatformFindData* data) {
    data->attributes = entry_attributes(found.dwFileAttributes);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, data->name, platform_max_name_bytes, nullptr,
                                    nullptr);
    data->name_length = bytes > 0 ? bytes - 1 : 0;
    data->name[data->name_length] = '\0';
}

}  // namespace

int32_t platform_utf8_to_utf16(const char* text, int32_t length, void* out) {
    if (length <= 0) return 0;
    int units = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
    if (!out || units <= 0) return units > 0 ? units : 0;
    if (units <= platform_max_wide_units) {
        WideText converted;
        MultiByteToWideChar(CP_UTF8, 0, text, length, converted.units, units);
        std::memcpy(out, converted.units, sizeof(wchar_t) * static_cast<size_t>(units));
    } else {
        // Longer than any path: x86-64 writes the units wherever they start.
        MultiByteToWideChar(CP_UTF8, 0, text, length, static_cast<wchar_t*>(out), units);
    }
    return units;
}

int64_t platform_utf16_to_utf8(const void* wide, char* out) {
    WideText aligned;
    if (!copy_wide(wide, &aligned)) return 0;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, aligned.units, -1, nullptr, 0, nullptr, nullptr);
    if (out && bytes > 0) WideCharToMultiByte(CP_UTF8, 0, aligned.units, -1, out, bytes, nullptr, nullptr);
    return bytes;
}

int64_t platform_path_size(const char* text, int64_t length) {
    if (length < 0 || length > INT32_MAX || (!text && length > 0)) return -1;
    int32_t units = platform_utf8_to_utf16(text, static_cast<int32_t>(length), nullptr);
    if (units > platform_max_wide_units) return -1;
    return static_cast<int64_t>(sizeof(wchar_t)) * (units + 1);
}

const PlatformPath* platform_path_form(const char* text, int64_t length, void* out) {
    int32_t units = platform_utf8_to_utf16(text, static_cast<int32_t>(length), out);
    const wchar_t terminator = 0;
    std::memcpy(static_cast<char*>(out) + sizeof(wchar_t) * static_cast<size_t>(units), &terminator,
                sizeof terminator);
    return static_cast<const PlatformPath*>(out);
}

std::FILE* platform_open(const PlatformPath* path, const char* mode) {
    return platform_open_apart(path, mode, nullptr);
}

std::FILE* platform_open_apart(const PlatformPath* path, const char* mode, std::FILE* other) {
    WideText wide_path;
    wchar_t wide_mode[max_mode_units];
    if (!copy_wide(path, &wide_path) || !widen_mode(mode, wide_mode)) return nullptr;
    if (is_directory_path(wide_path.units) || names_file_of(wide_path.units, other)) return nullptr;
    return _wfopen(wide_path.units, wide_mode);
}

std::FILE* platform_open_narrow(const char* path, const char* mode) {
    if (!path) return nullptr;
    // The bytes are UTF-8 here as everywhere in the program: the same path names the same
    // file in every service, whatever the process code page.
    int64_t length = static_cast<int64_t>(std::strlen(path));
    int64_t size = platform_path_size(path, length);
    if (size < 0) return nullptr;
    WideText form;
    return platform_open(platform_path_form(path, length, form.units), mode);
}

bool platform_seek(std::FILE* file, int64_t offset, int origin) {
    // msvcrt moves a stream before the start of its file without complaint.
    if (origin == SEEK_SET && offset < 0) return false;
    if (_fseeki64(file, offset, origin) != 0) return false;
    // A seek ends the end-of-file state, which this one leaves set; the error state stays.
    if (!std::ferror(file)) std::clearerr(file);
    return true;
}

int64_t platform_tell(std::FILE* file) { return _ftelli64(file); }

int platform_descriptor(std::FILE* file) { return file ? _fileno(file) : -1; }

int64_t platform_time() { return static_cast<int64_t>(_time64(nullptr)); }

bool platform_copy_stream(std::FILE* from, std::FILE* to) {
    if (!from || !to || std::fflush(to) != 0) return false;
    // Through the streams, so a text stream's line ends are translated as by fgetc/fputc.
    char block[copy_block_bytes];
    for (;;) {
        size_t got = std::fread(block, 1, sizeof block, from);
        if (got > 0 && std::fwrite(block, 1, got, to) != got) return false;
        if (got < sizeof block) return std::ferror(from) == 0;
    }
}

uint32_t platform_attributes(const PlatformPath* wide_path) {
    WideText path;
    if (!copy_wide(wide_path, &path)) return platform_attributes_invalid;
    DWORD attributes = GetFileAttributesW(path.units);
    if (attributes == INVALID_FILE_ATTRIBUTES) return platform_attributes_invalid;
    uint32_t result = entry_attributes(attributes);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) result |= platform_attribute_read_only;
    return result;
}

int32_t platform_delete_file(const PlatformPath* wide_path) {
    WideText path;
    return copy_wide(wide_path, &path) && DeleteFileW(path.units) ? 1 : 0;
}

int32_t platform_move(const PlatformPath* wide_old_path, const PlatformPath* wide_new_path) {
    WideText old_path, new_path;
    if (!copy_wide(wide_old_path, &old_path) || !copy_wide(wide_new_path, &new_path)) return 0;
    return MoveFileW(old_path.units, new_path.units) ? 1 : 0;
}

int32_t platform_create_directory(const PlatformPath* wide_path) {
    WideText path;
    return copy_wide(wide_path, &path) && CreateDirectoryW(path.units, nullptr) ? 1 : 0;
}

int32_t platform_remove_directory(const PlatformPath* wide_path) {
    WideText path;
    return copy_wide(wide_path, &path) && RemoveDirectoryW(path.units) ? 1 : 0;
}

// The search is the system's find handle itself.
PlatformSearch* platform_find_first(const PlatformPath* wide_pattern, PlatformFindData* data) {
    WideText pattern;
    if (!data || !copy_wide(wide_pattern, &pattern)) return nullptr;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.units, &found);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    fill_entry(found, data);
    return reinterpret_cast<PlatformSearch*>(search);
}

bool platform_find_next(PlatformSearch* search, PlatformFindData* data) {
    if (!search || !data) return false;
    WIN32_FIND_DATAW found;
    if (!FindNextFileW(reinterpret_cast<HANDLE>(search), &found)) return false;
    fill_entry(found, data);
    return true;
}

void platform_find_close(PlatformSearch* search) {
    if (search) FindClose(reinterpret_cast<HANDLE>(search));
}

int32_t platform_system(const char* command) {
    // system(nullptr) tells whether a command processor can be started at all.
    if (!command || std::system(nullptr) == 0) return -1;
    std::fflush(nullptr);
    return static_cast<int32_t>(std::system(command));
}
