#include "tests/platform/shell32ui/PrivateBus.h"

#include "tests/support/TestSupport.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace shell32uitest {

namespace {

std::string Config(const std::filesystem::path& socket)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path=" + socket.string() + "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

} // namespace

PrivateBus::PrivateBus(const std::filesystem::path& folder)
{
    const auto config = folder / "session.conf";
    testsupport::WriteText(config, Config(folder / "bus"));
    int out[2];
    if (pipe(out) != 0)
        return;
    const std::string configArgument = "--config-file=" + config.string();
    FPid = fork();
    if (FPid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execlp("dbus-daemon", "dbus-daemon", configArgument.c_str(), "--print-address", "--nofork",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // The daemon prints its address, one line, once it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string line;
    while (FPid > 0 && std::chrono::steady_clock::now() < deadline && line.find('\n') == std::string::npos) {
        pollfd wait{out[0], POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    if (const auto end = line.find('\n'); end != std::string::npos)
        FAddress = line.substr(0, end);
}

PrivateBus::~PrivateBus()
{
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
}

} // namespace shell32uitest
