// A session bus of the test's own: dbus-daemon started with a configuration of ours, so that no
// test ever talks to the desktop's session bus or its file manager.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace shell32uitest {

class PrivateBus {
public:
    // Starts the daemon and waits for its address; Address() is empty when that failed.
    explicit PrivateBus(const std::filesystem::path& folder);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    [[nodiscard]] const std::string& Address() const { return FAddress; }

private:
    pid_t FPid = -1;
    std::string FAddress;
};

} // namespace shell32uitest
