// Running part of a test as another user: the administrator test and the registry's write
// rights depend on who runs, and the test program itself usually runs as root.
#pragma once

#include "tests/support/TestSupport.h"

#include <filesystem>
#include <functional>
#include <string>

namespace testsupport {

enum class Identity {
    // Root: the test program itself when it runs as root, a user namespace's root otherwise.
    Root,
    // A user in no group that grants administration.
    Nobody,
    // A user who is not root but belongs to the group that grants administration (sudo, wheel or
    // admin, whichever the system has).
    AdministratorsMember,
};

struct IdentityRun {
    bool Ran = false;     // the child took on the identity and finished the body
    std::string Output;   // what the body returned, or why the child could not run it
};

// Runs body in a child process that has taken on identity and hands back the text it returns.
// As root the child changes its user and groups; otherwise it maps them in a user namespace of
// its own and gives up the capabilities that come with it. The body must not start threads of
// the parent's kind: only the calling thread exists in the child.
[[nodiscard]] IdentityRun RunAs(Identity identity, const std::function<std::string()>& body);

// Why the identity cannot be taken on here (not root and no user namespaces, as on many build
// machines; no administrators' group), for a test to skip with; empty when it can.
[[nodiscard]] std::string CannotRunAs(Identity identity);

// The build's tessera-report and stand-in libraries, and the fixtures asked for, copied to a folder
// every user may enter: in a checkout under a folder only its owner enters (root's home, on any
// Debian system) another user could not even start them.
class ReachableBuild {
public:
    ReachableBuild();
    [[nodiscard]] std::filesystem::path Program(const std::string& name) const { return FDir / name; }
    // The fixture's copy, readable by every user.
    [[nodiscard]] std::filesystem::path Fixture(const std::string& relative) const;

private:
    TempDir FDir;
};

} // namespace testsupport
