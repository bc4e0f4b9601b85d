#include "tests/support/OtherIdentity.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

// The group that grants administration on this system.
bool AdministratorsGroup(gid_t& gid)
{
    for (const char* name : {"sudo", "wheel", "admin"})
        if (const group* entry = getgrnam(name)) {
            gid = entry->gr_gid;
            return true;
        }
    return false;
}

bool WriteAll(const char* path, const std::string& text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && ok;
}

// Takes on the identity; the reason when it cannot.
std::string Become(Identity identity)
{
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    gid_t gid = nobody ? nobody->pw_gid : 65534;
    gid_t administrators = 0;
    if (identity == Identity::AdministratorsMember && !AdministratorsGroup(administrators))
        return "the system has no sudo, wheel or admin group";
    if (identity == Identity::Root && geteuid() == 0)
        return {};
    if (geteuid() == 0) {
        const int count = identity == Identity::AdministratorsMember ? 1 : 0;
        if (setgroups(count, count ? &administrators : nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            return std::string("cannot change user: ") + std::strerror(errno);
        return {};
    }
    // Without root: a user namespace where the caller's ids stand for the wanted ones.
    const uid_t outerUid = geteuid();
    const gid_t outerGid = getegid();
    if (identity == Identity::AdministratorsMember)
        gid = administrators;
    if (identity == Identity::Root)
        gid = 0;
    if (unshare(CLONE_NEWUSER) != 0)
        return std::string("not root, and no user namespace: ") + std::strerror(errno);
    if (!WriteAll("/proc/self/setgroups", "deny") ||
        !WriteAll("/proc/self/uid_map", std::to_string(identity == Identity::Root ? 0 : uid) + " " + std::to_string(outerUid) + " 1\n") ||
        !WriteAll("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(outerGid) + " 1\n"))
        return "cannot map the ids of the user namespace";
    // The namespace's capabilities would let the child write where the user it stands for cannot.
    if (identity == Identity::Root)
        return {};
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capset, &header, data) != 0)
        return std::string("cannot drop capabilities: ") + std::strerror(errno);
    return {};
}

} // namespace

IdentityRun RunAs(Identity identity, const std::function<std::string()>& body)
{
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        return {false, "no pipe"};
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return {false, "cannot fork"};
    }
    if (child == 0) {
        close(channel[0]);
        std::string reason = Become(identity);
        const bool ran = reason.empty();
        const std::string text = ran ? body() : reason;
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(channel[1], text.data() + done, text.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        // No destructors or exit handlers of the parent's objects run in the child.
        _exit(ran ? 0 : 3);
    }
    close(channel[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        output.append(buffer, static_cast<size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ran && WIFSIGNALED(status))
        output += " (the child ended by signal " + std::to_string(WTERMSIG(status)) + ")";
    return {ran, output};
}

std::string CannotRunAs(Identity identity)
{
    const IdentityRun run = RunAs(identity, [] { return std::string(); });
    return run.Ran ? std::string() : "cannot run as another user here: " + run.Output;
}

ReachableBuild::ReachableBuild()
{
    namespace fs = std::filesystem;
    for (const fs::directory_entry& entry : fs::directory_iterator(BinaryDir())) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && (name == "tessera-report" || name.ends_with(".so")))
            fs::copy_file(entry.path(), FDir / name);
    }
    fs::permissions(FDir.path(), fs::perms(0755));
}

std::filesystem::path ReachableBuild::Fixture(const std::string& relative) const
{
    namespace fs = std::filesystem;
    const fs::path copy = FDir / "fixtures" / relative;
    fs::create_directories(copy.parent_path());
    for (fs::path folder = copy.parent_path(); folder != FDir.path(); folder = folder.parent_path())
        fs::permissions(folder, fs::perms(0755));
    fs::copy_file(testsupport::Fixture(relative), copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms(0644));
    return copy;
}

} // namespace testsupport
