// A folder of the fuzz target's own for the files it hands to code that reads files: made under
// TMPDIR (fuzz/run.sh gives its own work folder, removed with it even after a crash) and removed
// when the target ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class FuzzFolder {
public:
    explicit FuzzFolder(const char* name)
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tessera-fuzz-" + name + "-XXXXXX";
        if (mkdtemp(pattern.data()))
            FPath = pattern;
    }
    ~FuzzFolder()
    {
        std::error_code ignored;
        if (!FPath.empty())
            std::filesystem::remove_all(FPath, ignored);
    }
    FuzzFolder(const FuzzFolder&) = delete;
    FuzzFolder& operator=(const FuzzFolder&) = delete;
    [[nodiscard]] const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};
