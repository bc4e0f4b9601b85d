#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <regex>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// A program that ends before it has read all its input closes the pipe: the write then fails with
// EPIPE instead of ending the test program with SIGPIPE (held while writing, and taken back).
ssize_t WriteWithoutSigpipe(int fd, const char* data, size_t size)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EPIPE) {
        const timespec none{};
        sigtimedwait(&pipeSignal, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return n;
}

} // namespace

fs::path Fixture(const std::string& relative)
{
    return fs::path(TESSERA_FIXTURES_DIR) / relative;
}

fs::path BinaryDir()
{
    return fs::path(TESSERA_BINARY_DIR);
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> ReadBytes(const fs::path& path)
{
    const std::string text = ReadText(path);
    return {text.begin(), text.end()};
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "tessera-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(FPath, ec);
}

ScopedVariable::ScopedVariable(const char* name, const char* value) : FName(name)
{
    if (const char* previous = std::getenv(name)) {
        FPrevious = previous;
        FHadPrevious = true;
    }
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedVariable::~ScopedVariable()
{
    if (FHadPrevious)
        setenv(FName.c_str(), FPrevious.c_str(), 1);
    else
        unsetenv(FName.c_str());
}

TemporarySystemRoot::TemporarySystemRoot()
{
    if (const char* saved = std::getenv("TESSERA_SYSTEM_ROOT"))
        FSaved = saved;
    SetWritable(true);
    setenv("TESSERA_SYSTEM_ROOT", FDir.path().c_str(), 1);
}

TemporarySystemRoot::~TemporarySystemRoot()
{
    SetWritable(true);
    setenv("TESSERA_SYSTEM_ROOT", FSaved.c_str(), 1);
}

void TemporarySystemRoot::SetWritable(bool writable)
{
    // Every folder, so that its owner is refused too when the tests run as one.
    const fs::perms mode = writable ? fs::perms(0755) : fs::perms(0555);
    fs::permissions(FDir.path(), mode);
    for (const auto& entry : fs::recursive_directory_iterator(FDir.path()))
        if (entry.is_directory() && !entry.is_symlink())
            fs::permissions(entry.path(), mode);
}

RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args, const std::string& input,
              const std::vector<std::string>& environment)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const std::string& e : environment)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        std::string programText = program.string();
        argv.push_back(programText.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(programText.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    RunResult result;
    size_t written = 0;
    bool inputOpen = true;
    if (input.empty()) {
        close(in[1]);
        inputOpen = false;
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inputOpen ? in[1] : -1, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR)
            break;
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0)
                    (i == 0 ? result.Out : result.Err).append(buffer, static_cast<size_t>(n));
                else
                    (i == 0 ? outOpen : errOpen) = false;
            }
        }
        if (inputOpen && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = WriteWithoutSigpipe(in[1], input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            if (n <= 0 || written == input.size()) {
                close(in[1]);
                inputOpen = false;
            }
        }
    }
    if (inputOpen)
        close(in[1]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string CompareGolden(const std::string& actual, const fs::path& golden)
{
    const char* update = std::getenv("TESSERA_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        fs::create_directories(golden.parent_path());
        WriteText(golden, actual);
        return {};
    }
    if (!fs::exists(golden))
        return "golden file missing: " + golden.string();
    const std::string expected = ReadText(golden);
    if (expected == actual)
        return {};
    std::istringstream a(actual), e(expected);
    std::string la, le;
    for (int line = 1;; ++line) {
        const bool ga = static_cast<bool>(std::getline(a, la));
        const bool ge = static_cast<bool>(std::getline(e, le));
        if (!ga && !ge)
            return "texts differ in line ends or trailing bytes (" + golden.string() + ")";
        if (la != le || ga != ge)
            return golden.string() + ":" + std::to_string(line) + ": expected \"" + (ge ? le : "<end>") +
                   "\", got \"" + (ga ? la : "<end>") + "\"";
    }
}

int ListenOnLoopback(uint16_t port, int backlog)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(fd, backlog) == 0)
            return fd;
        const int error = errno;
        close(fd);
        if (error != EADDRINUSE || std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string MaskJudgedNow(const std::string& text)
{
    static const std::regex explained(R"(judged at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC, now)");
    static const std::regex json(R"re("judgedAt":"[^"]*","judgedAtReason":"(noTimeStamp|timeStampFailed|lifetimeSigning)")re");
    const std::string masked = std::regex_replace(text, explained, "judged at (now), now");
    return std::regex_replace(masked, json, R"re("judgedAt":"(now)","judgedAtReason":"$1")re");
}

} // namespace testsupport
