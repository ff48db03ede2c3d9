#include "test_support.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifndef WORDGEN_BINARY
#define WORDGEN_BINARY "wordgen"
#endif

#ifdef _WIN32
namespace {

// UTF-16 of UTF-8 text, for the system's wide calls.
std::wstring wide(const std::string& text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), units);
    return out;
}

// One argument quoted so that the C runtime's command-line parser gives it back unchanged:
// backslashes double only before a quote or the closing quote.
void append_quoted(std::wstring& line, const std::wstring& argument) {
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

std::wstring command_line(const std::vector<std::string>& arguments) {
    std::wstring line;
    append_quoted(line, wide(WORDGEN_BINARY));
    for (const std::string& a : arguments) {
        line += L' ';
        append_quoted(line, wide(a));
    }
    return line;
}

// A wordgen process with the given standard handles, which it inherits; its exit status,
// or -1 when it could not be started.
int run_with_handles(const std::vector<std::string>& arguments, HANDLE input, HANDLE output,
                     std::string* collected, HANDLE collect_from) {
    std::wstring line = command_line(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::fflush(nullptr);
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (input) CloseHandle(input);
    CloseHandle(output);
    if (!started) {
        if (collect_from) CloseHandle(collect_from);
        return -1;
    }
    if (collect_from) {
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(collect_from, buffer, sizeof buffer, &got, nullptr) && got > 0) collected->append(buffer, got);
        CloseHandle(collect_from);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

// A pipe whose `inherited` end the child gets; the other end stays ours alone.
bool make_pipe(HANDLE* read_end, HANDLE* write_end, bool child_reads) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(read_end, write_end, &inheritable, 0)) return false;
    SetHandleInformation(child_reads ? *write_end : *read_end, HANDLE_FLAG_INHERIT, 0);
    return true;
}

}  // namespace

ProcessResult run_wordgen(const std::vector<std::string>& arguments, const std::string& input) {
    HANDLE in_read, in_write, out_read, out_write;
    if (!make_pipe(&in_read, &in_write, true)) return {-1, ""};
    if (!make_pipe(&out_read, &out_write, false)) {
        CloseHandle(in_read), CloseHandle(in_write);
        return {-1, ""};
    }
    // Inputs are small: the pipe holds them before the child starts.
    DWORD written = 0;
    if (!input.empty()) WriteFile(in_write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(in_write);
    std::string output;
    int status = run_with_handles(arguments, in_read, out_write, &output, out_read);
    return {status, output};
}

int run_wordgen_status(const std::vector<std::string>& arguments, const std::string& stdout_path) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(wide(stdout_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return -1;
    return run_with_handles(arguments, nullptr, out, nullptr, nullptr);
}

TemporaryFolder::TemporaryFolder() {
    // A name no other test process picks: the process id and a count.
    static int made = 0;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = "wordgen-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(made++);
        std::error_code error;
        if (std::filesystem::create_directory(base / name, error)) {
            path = (base / name).generic_string();
            return;
        }
    }
}

#else
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

#endif

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
