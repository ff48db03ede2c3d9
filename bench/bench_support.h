// Helpers shared by the benchmark programs: texts in the form the runtime takes them, and
// a folder for the files a benchmark makes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "runtime/text/slice.h"

// A Slice borrowing `text`'s bytes: it must not outlive `text`.
inline Slice slice_of(const std::string& text) { return Slice{text.data(), static_cast<int64_t>(text.size())}; }

// A fresh folder of its own for every run, so that runs side by side or a run killed
// halfway never meet another's files.
struct ScratchFolder {
    std::string path;

    ScratchFolder() {
        std::string pattern = "/tmp/wordgen-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), pattern);
        path = pattern;
    }

    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// The program's scratch folder, made on first use and removed when the program ends.
inline const std::string& scratch_folder() {
    static const ScratchFolder folder;
    return folder.path;
}

inline std::string scratch_file(const std::string& name) { return scratch_folder() + "/" + name; }
