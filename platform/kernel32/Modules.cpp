// Modules: the Windows library names the program binds to are Tessera's stand-in libraries
// (libtessera-<name>.so) beside the running executable, or in TESSERA_MODULE_DIR when that is set.
// kernel32 itself is built in: its functions are found by name in a table.
#include "platform/include/win/winbase.h"

#include "platform/common/WinStr.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct BuiltinModule {
    int unused;
};
BuiltinModule Kernel32Module{};

HMODULE Kernel32Handle() { return reinterpret_cast<HMODULE>(&Kernel32Module); }

struct Export {
    const char* name;
    FARPROC address;
};

template <typename F>
FARPROC AsProc(F* f)
{
    return reinterpret_cast<FARPROC>(f);
}

const Export Kernel32Exports[] = {
    {"CloseHandle", AsProc(&CloseHandle)},
    {"CreateFileW", AsProc(&CreateFileW)},
    {"FileTimeToSystemTime", AsProc(&FileTimeToSystemTime)},
    {"FormatMessageW", AsProc(&FormatMessageW)},
    {"GetBinaryTypeW", AsProc(&GetBinaryTypeW)},
    {"GetFileInformationByHandle", AsProc(&GetFileInformationByHandle)},
    {"GetFileSize", AsProc(&GetFileSize)},
    {"GetFileSizeEx", AsProc(&GetFileSizeEx)},
    {"GetLastError", AsProc(&GetLastError)},
    {"GetTimeZoneInformation", AsProc(&GetTimeZoneInformation)},
    {"ReadFile", AsProc(&ReadFile)},
    {"SetErrorMode", AsProc(&SetErrorMode)},
    {"SystemTimeToFileTime", AsProc(&SystemTimeToFileTime)},
    {"SystemTimeToTzSpecificLocalTime", AsProc(&SystemTimeToTzSpecificLocalTime)},
};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
    return s;
}

std::string ExecutableDirectory()
{
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0)
        return ".";
    path.resize(static_cast<size_t>(n));
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsKernel32(const std::string& lowerName)
{
    return lowerName == "kernel32.dll" || lowerName == "kernel32";
}

// The files a module name may stand for, in the order they are tried.
std::vector<std::string> ModuleFiles(const std::string& name)
{
    std::string stem = Lower(name);
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".dll") == 0)
        stem.resize(stem.size() - 4);
    static const char* const StandIns[] = {"crypt32", "wintrust", "cryptui", "imagehlp"};
    const bool standIn = std::any_of(std::begin(StandIns), std::end(StandIns), [&](const char* s) { return stem == s; });
    if (!standIn)
        return {name};
    const std::string file = "libtessera-" + stem + ".so";
    if (const char* dir = std::getenv("TESSERA_MODULE_DIR"); dir && *dir)
        return {std::string(dir) + "/" + file};
    const std::string exeDir = ExecutableDirectory();
    return {exeDir + "/" + file, exeDir + "/../lib/tessera/" + file};
}

HMODULE OpenModule(LPCWSTR lpModuleName, int mode)
{
    if (!lpModuleName || lpModuleName[0] == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::string name = winstr::ToUtf8(winstr::View(lpModuleName));
    if (IsKernel32(Lower(name)))
        return Kernel32Handle();
    for (const std::string& file : ModuleFiles(name)) {
        if (void* handle = dlopen(file.c_str(), mode))
            return reinterpret_cast<HMODULE>(handle);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

} // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (!lpModuleName)
        return reinterpret_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
    return OpenModule(lpModuleName, RTLD_NOW | RTLD_NOLOAD);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName)
{
    return OpenModule(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!hModule || !lpProcName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (hModule == Kernel32Handle()) {
        for (const Export& e : Kernel32Exports)
            if (std::strcmp(e.name, lpProcName) == 0)
                return e.address;
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* address = dlsym(reinterpret_cast<void*>(hModule), lpProcName);
    if (!address)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(address);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (!hLibModule)
        return FALSE;
    if (hLibModule == Kernel32Handle())
        return TRUE;
    return dlclose(reinterpret_cast<void*>(hLibModule)) == 0;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    std::string path;
    if (!hModule) {
        path.assign(4096, '\0');
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    const std::u16string text = winstr::FromFileSystem(path);
    if (!lpFilename || nSize == 0 || text.empty()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t n = std::min<size_t>(text.size(), nSize - 1);
    std::copy_n(text.begin(), n, lpFilename);
    lpFilename[n] = 0;
    if (n < text.size())
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<DWORD>(n);
}

} // extern "C"
