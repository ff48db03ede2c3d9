#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifndef WORDGEN_BINARY
#define WORDGEN_BINARY "wordgen"
#endif

namespace {

void write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// In a child process: becomes wordgen with `arguments`, or exits with 127.
[[noreturn]] void exec_wordgen(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(WORDGEN_BINARY));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(WORDGEN_BINARY, argv.data());
    _exit(127);
}

}  // namespace

ProcessResult run_wordgen(const std::vector<std::string>& arguments, const std::string& input) {
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) return {-1, ""};
    // A child that exits without reading its input must not end the test by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        close(in_pipe[0]), close(in_pipe[1]), close(out_pipe[0]), close(out_pipe[1]);
        exec_wordgen(arguments);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    // Inputs are small; the child reads them before it writes much.
    write_all(in_pipe[1], input);
    close(in_pipe[1]);
    std::string output;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(out_pipe[0], buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

int run_wordgen_status(const std::vector<std::string>& arguments, const std::string& stdout_path) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int out = open(stdout_path.c_str(), O_WRONLY);
        if (out < 0 || dup2(out, 1) < 0) _exit(127);
        exec_wordgen(arguments);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wordgen-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    path = mkdtemp(name.data()) ? name.data() : "";
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
