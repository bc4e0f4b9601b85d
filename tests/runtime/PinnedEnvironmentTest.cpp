// What every test program runs in: nothing it does reaches the user's own home.
#include <QStandardPaths>
#include <QString>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

TEST(PinnedEnvironment, HomeAndXdgFoldersAreTheTestsOwn)
{
    const std::string home = Variable("HOME");
    ASSERT_FALSE(home.empty());
    if (const passwd* user = getpwuid(getuid()))
        EXPECT_NE(std::filesystem::weakly_canonical(home), std::filesystem::weakly_canonical(user->pw_dir));
    EXPECT_NE(home.find("tessera-test-home-"), std::string::npos) << home;
    EXPECT_TRUE(std::filesystem::is_directory(home));
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const std::string folder = Variable(name);
        EXPECT_EQ(folder.rfind(home + "/", 0), 0u) << name << "=" << folder;
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << name;
    }
    // Where Qt keeps the file dialogs' state (QtProject.conf).
    for (const auto location : {QStandardPaths::GenericConfigLocation, QStandardPaths::GenericDataLocation})
        EXPECT_TRUE(QStandardPaths::writableLocation(location).startsWith(QString::fromStdString(home + "/")))
            << QStandardPaths::writableLocation(location).toStdString();
}

} // namespace
