// window-shots as a developer runs it: every picture it takes is there, every one it could not
// take is named, and it refuses to picture a window that lacks the stand-ins it loads.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// No file manager answers on a bus that is not there: the properties are Tessera's own window.
const std::vector<std::string> NoBus = {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};

RunResult Shoot(const fs::path& program, const fs::path& file, const fs::path& folder)
{
    return RunProgram(program, {file.string(), folder.string()}, {}, NoBus);
}

TEST(WindowShots, TakesEveryPictureOfAFileWithCertificates)
{
    TempDir dir;
    const RunResult run = Shoot(BinaryDir() / "window-shots", Fixture("certs/three.p7b"), dir.path());
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err.find("not taken"), std::string::npos) << run.Err;
    for (const char* picture : {"main.png", "view.png", "export.png", "properties.png"})
        EXPECT_GT(fs::file_size(dir / picture), 0u) << picture;
}

TEST(WindowShots, NamesEveryPictureItCouldNotTake)
{
    TempDir dir;
    WriteText(dir / "notes.txt", "text\n");
    const fs::path pictures = dir / "pictures";
    fs::create_directory(pictures);
    const RunResult run = Shoot(BinaryDir() / "window-shots", dir / "notes.txt", pictures);
    EXPECT_EQ(run.ExitCode, 1);
    for (const char* picture : {"view.png", "export.png"}) {
        EXPECT_NE(run.Err.find(std::string("window-shots: ") + picture + ": not taken"), std::string::npos) << run.Err;
        EXPECT_FALSE(fs::exists(pictures / picture)) << picture;
    }
    EXPECT_TRUE(fs::exists(pictures / "main.png"));
    // A folder it cannot write to: no picture, each named.
    const RunResult nowhere = Shoot(BinaryDir() / "window-shots", Fixture("certs/three.p7b"), dir / "missing");
    EXPECT_EQ(nowhere.ExitCode, 1);
    EXPECT_NE(nowhere.Err.find("window-shots: main.png: not taken"), std::string::npos) << nowhere.Err;
}

// Built or copied without the libraries it loads by name, it would picture another report than
// the program's: it says so instead.
TEST(WindowShots, RefusesToRunWithoutTheStandInsItLoads)
{
    TempDir dir;
    for (const char* file : {"window-shots", "libtessera-kernel32.so"})
        fs::copy_file(BinaryDir() / file, dir / file);
    const RunResult run = Shoot(dir / "window-shots", Fixture("signed/msi-ts.msi"), dir.path());
    EXPECT_EQ(run.ExitCode, 1);
    for (const char* module : {"crypt32", "wintrust", "cryptui", "imagehlp"})
        EXPECT_NE(run.Err.find(std::string("libtessera-") + module + ".so is missing"), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(dir / "main.png"));
}

} // namespace
