// Shared by the tests: fixture paths, temporary folders, running the programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fixture under tests/fixtures.
[[nodiscard]] std::filesystem::path Fixture(const std::string& relative);
// The build's bin folder, where the programs and the stand-in libraries are.
[[nodiscard]] std::filesystem::path BinaryDir();

[[nodiscard]] std::string ReadText(const std::filesystem::path& path);
[[nodiscard]] std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return FPath; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const { return FPath / name; }

private:
    std::filesystem::path FPath;
};

// A system root of the program's own for the life of the object (TESSERA_SYSTEM_ROOT): the
// registry and the file managers' menu folders live below it. Readable by every user; the
// previous root comes back afterwards.
class TemporarySystemRoot {
public:
    TemporarySystemRoot();
    ~TemporarySystemRoot();
    TemporarySystemRoot(const TemporarySystemRoot&) = delete;
    TemporarySystemRoot& operator=(const TemporarySystemRoot&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return FDir.path(); }
    // Whether users other than root may write into its folders.
    void SetWritable(bool writable);

private:
    TempDir FDir;
    std::string FSaved;
};

// An environment variable set (or, with nullptr, removed) for the life of the object; the
// previous value comes back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value);
    ScopedVariable(const char* name, const std::string& value) : ScopedVariable(name, value.c_str()) {}
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string FName;
    std::string FPrevious;
    bool FHadPrevious = false;
};

struct RunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};
// Runs a program with arguments, standard input given, and extra environment (NAME=value).
RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
              const std::string& input = {}, const std::vector<std::string>& environment = {});

// Compares text with a golden file; with TESSERA_UPDATE_GOLDEN=1 in the environment it writes
// the golden file instead. Returns a description of the first difference, or empty when equal.
std::string CompareGolden(const std::string& actual, const std::filesystem::path& golden);

// A socket listening on 127.0.0.1:port, or -1. The fixtures name fixed ports, which lie in the
// range the system hands out to clients: while another test's connection holds the port as its
// own end, the bind is tried again for a few seconds, until that connection is gone.
int ListenOnLoopback(uint16_t port, int backlog);

// The moments a signature was judged at that are "now" (no time stamp, a refused one, Lifetime
// Signing), replaced by "(now)" in a report's explanation and in JSON, so that goldens hold.
std::string MaskJudgedNow(const std::string& text);

} // namespace testsupport
