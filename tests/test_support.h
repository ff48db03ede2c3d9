// Helpers shared by the test programs: capturing standard output, running wordgen, and
// files and texts in the forms the runtime takes them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/text/slice.h"

#ifdef _WIN32
#include <chrono>
#include <future>
#include <thread>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

// Everything `action` writes to standard output, byte for byte.
template <typename Action>
std::string capture_stdout(Action&& action) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

struct ProcessResult {
    int status;          // exit status, or -1 when the process did not exit normally
    std::string output;  // its standard output
};

// Runs the wordgen executable with `arguments`, feeding `input` to its standard input
// (closed after it), and collects its standard output and exit status.
ProcessResult run_wordgen(const std::vector<std::string>& arguments, const std::string& input = "");

// Runs wordgen with `arguments` and its standard output on the existing file at
// `stdout_path` (such as /dev/full); its exit status, or -1 when it did not exit normally.
int run_wordgen_status(const std::vector<std::string>& arguments, const std::string& stdout_path);

// Runs `action` in a child process that an alarm ends after `seconds`, so a call that
// waits for ever fails the test instead of hanging the suite. The child's result (0 to
// 125), or -1 when the alarm had to end it. Windows cannot fork: there the action runs on
// a thread of its own, left waiting (the process ends it at exit) when time runs out.
template <typename Action>
int within_seconds(unsigned seconds, Action action) {
#ifdef _WIN32
    std::packaged_task<int()> task(action);
    std::future<int> result = task.get_future();
    std::thread(std::move(task)).detach();
    if (result.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) return -1;
    return result.get();
#else
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        _exit(action());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// A fresh empty folder under the system's temporary folder, removed by the destructor.
struct TemporaryFolder {
    std::string path;
    TemporaryFolder();
    ~TemporaryFolder();
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// The whole content of a file, or "<missing>" when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

// The whole content of a file as bytes, or none when it cannot be read.
std::vector<uint8_t> read_bytes(const std::string& path);

// A path named by UTF-8 text on every system: a plain narrow string would be read in the
// C locale's code page by the Windows standard library, one character per byte.
inline std::filesystem::path utf8_path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// A path's UTF-8 text, the form the runtime takes, on every system.
inline std::string utf8_text(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A Slice borrowing `text`'s bytes: it must not outlive `text`.
inline Slice slice_of(const std::string& text) { return Slice{text.data(), static_cast<int64_t>(text.size())}; }
