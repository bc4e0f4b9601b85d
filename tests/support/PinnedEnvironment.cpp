// Every test program runs in the same surroundings, whoever starts it (ctest, a developer, a
// debugger): UTC, the C locale with UTF-8, widgets offscreen at 96 dpi, an empty trust store (and
// the built-in root program), and
// system folders (the registry, the file managers' menus) under a root nothing can be made in, so
// that no test run as root changes the machine; a test that writes there names its own root.
// Set before anything else of the program runs.
#include <cstdlib>

namespace {

struct PinnedEnvironment {
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
    }
};

// Constructed before the objects of the other translation units of the test program.
__attribute__((init_priority(101))) const PinnedEnvironment Pinned;

} // namespace
