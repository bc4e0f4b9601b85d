// Every test program runs in the same surroundings, whoever starts it (ctest, a developer, a
// debugger): UTC, the C locale with UTF-8, widgets offscreen at 96 dpi, an empty trust store (and
// the built-in root program),
// system folders (the registry, the file managers' menus) under a root nothing can be made in, so
// that no test run as root changes the machine (a test that writes there names its own root), and
// a home and XDG folders of its own, so that nothing a test runs (Qt's file dialogs keep their
// state in ~/.config) writes into the user's. Set before anything else of the program runs.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace {

class PinnedEnvironment {
public:
    PinnedEnvironment()
    {
        setenv("TZ", "UTC", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("LANG", "C.UTF-8", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("QT_FONT_DPI", "96", 1);
        setenv("SSL_CERT_FILE", TESSERA_FIXTURES_DIR "/no-trust.pem", 1);
        setenv("SSL_CERT_DIR", "/nonexistent", 1);
        setenv("TESSERA_FIXTURES", TESSERA_FIXTURES_DIR, 1);
        setenv("TESSERA_SYSTEM_ROOT", "/proc/tessera-tests-have-no-system-root", 1);
        // The built-in root program, as shipped: a test that wants another list names it.
        unsetenv("TESSERA_SYSTEM_TRUST_ONLY");
        unsetenv("TESSERA_AUTHROOT");
        unsetenv("TESSERA_AUTHROOT_SIGNING_ROOT");
        MakeHome();
    }
    ~PinnedEnvironment()
    {
        // Only the process that made the home takes it away, not a child forked from it.
        std::error_code ignored;
        if (!FHome.empty() && getpid() == FOwner)
            std::filesystem::remove_all(FHome, ignored);
    }
    PinnedEnvironment(const PinnedEnvironment&) = delete;
    PinnedEnvironment& operator=(const PinnedEnvironment&) = delete;

private:
    void MakeHome()
    {
        const char* temporary = std::getenv("TMPDIR");
        std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/tessera-test-home-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("tessera tests: no home folder of their own");
            std::abort();
        }
        FHome = pattern;
        FOwner = getpid();
        setenv("HOME", FHome.c_str(), 1);
        for (const auto& [name, folder] :
             {std::pair{"XDG_CONFIG_HOME", "/.config"}, std::pair{"XDG_DATA_HOME", "/.local/share"},
              std::pair{"XDG_CACHE_HOME", "/.cache"}, std::pair{"XDG_STATE_HOME", "/.local/state"}}) {
            const std::string path = FHome + folder;
            std::error_code ignored;
            std::filesystem::create_directories(path, ignored);
            setenv(name, path.c_str(), 1);
        }
    }

    std::string FHome;
    pid_t FOwner = 0;
};

// Constructed before the objects of the other translation units of the test program.
__attribute__((init_priority(101))) const PinnedEnvironment Pinned;

} // namespace
