#include "fileinfo/KavexRoutines.h"

#include "cert/KavexCert.h"
#include "platform/include/win/securitybaseapi.h"
#include "platform/include/win/shellapi.h"
#include "platform/include/win/winbase.h"
#include "platform/include/win/winver.h"
#include "support/WinString.h"

#include <vector>

namespace {

// The version block as loaded: the platform hands out pointers into it, and no read goes past it.
struct Block {
    const void* Data;
    const uint8_t* End;

    [[nodiscard]] bool Holds(const void* value, size_t bytes) const
    {
        const auto* at = static_cast<const uint8_t*>(value);
        return at >= static_cast<const uint8_t*>(Data) && at <= End && bytes <= static_cast<size_t>(End - at);
    }
};

// The one string-table language read: the first translation entry, else US English / Western.
QString LanguageKey(const Block& block)
{
    void* translation = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.Data, u"\\VarFileInfo\\Translation", &translation, &length) && translation &&
        length >= 4 && block.Holds(translation, 4)) {
        const auto* words = static_cast<const WORD*>(translation);
        return QStringLiteral("%1%2")
            .arg(words[0], 4, 16, QLatin1Char('0'))
            .arg(words[1], 4, 16, QLatin1Char('0'))
            .toUpper();
    }
    return QStringLiteral("040904E4");
}

QString QueryString(const Block& block, const QString& language, const QString& key)
{
    const QString path = QStringLiteral("\\StringFileInfo\\") + language + u'\\' + key;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.Data, WStr(path), &value, &length) || !value || !block.Holds(value, 0))
        return {};
    // Read up to the NUL, as Windows programs do: the declared length may count bytes (a binary
    // entry) or fall short of the text. Never past the block.
    const auto* text = static_cast<const WCHAR*>(value);
    const auto units = static_cast<size_t>(block.End - static_cast<const uint8_t*>(value)) / sizeof(WCHAR);
    size_t n = 0;
    while (n < units && text[n] != 0)
        ++n;
    return FromWStr(text, static_cast<qsizetype>(n));
}

class ErrorModeGuard {
public:
    ErrorModeGuard() : FPrevious(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
    ~ErrorModeGuard() { SetErrorMode(FPrevious); }
    ErrorModeGuard(const ErrorModeGuard&) = delete;
    ErrorModeGuard& operator=(const ErrorModeGuard&) = delete;

private:
    UINT FPrevious;
};

} // namespace

bool IsExecutableFile(const QString& fileName)
{
    const HANDLE file = CreateFileW(WStr(fileName), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BYTE header[2] = {};
    DWORD read = 0;
    const bool ok = ReadFile(file, header, sizeof header, &read, nullptr);
    CloseHandle(file);
    return ok && read == 2 && header[0] == 'M' && header[1] == 'Z';
}

bool IsAdministrator()
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        if (GetLastError() != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    // Pointer-aligned storage for the group list the platform lays out in it.
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
    const bool read = size > 0 && GetTokenInformation(token, TokenGroups, buffer.data(), size, &size);
    CloseHandle(token);
    if (!read)
        return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    // Membership is what counts, not whether the group is enabled in this token.
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    bool member = false;
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i)
        member = EqualSid(groups->Groups[i].Sid, administrators);
    FreeSid(administrators);
    return member;
}

bool ReadVersionInfo(const QString& fileName, TVersionInfo& info)
{
    info = TVersionInfo();
    info.FileName = fileName;

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(WStr(fileName), &handle);
    if (size == 0)
        return false;
    // DWORD-aligned, zero-filled storage for the version block.
    std::vector<uint32_t> buffer((size + 3) / 4 + 1, 0);
    if (!GetFileVersionInfoW(WStr(fileName), handle, size, buffer.data()))
        return false;
    const Block block{buffer.data(), reinterpret_cast<const uint8_t*>(buffer.data()) + size};

    void* fixedValue = nullptr;
    UINT fixedLength = 0;
    if (!VerQueryValueW(block.Data, u"\\", &fixedValue, &fixedLength) || !fixedValue ||
        fixedLength < sizeof(VS_FIXEDFILEINFO) || !block.Holds(fixedValue, sizeof(VS_FIXEDFILEINFO)))
        return false;
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(fixedValue);
    info.Major = HIWORD(fixed.dwFileVersionMS);
    info.Minor = LOWORD(fixed.dwFileVersionMS);
    info.Release = HIWORD(fixed.dwFileVersionLS);
    info.Build = LOWORD(fixed.dwFileVersionLS);
    info.ProductMajor = HIWORD(fixed.dwProductVersionMS);
    info.ProductMinor = LOWORD(fixed.dwProductVersionMS);
    info.ProductRelease = HIWORD(fixed.dwProductVersionLS);
    info.ProductBuild = LOWORD(fixed.dwProductVersionLS);
    // The flags mask of the block is not applied.
    info.PreReleaseBuild = fixed.dwFileFlags & VS_FF_PRERELEASE;
    info.DebugBuild = fixed.dwFileFlags & VS_FF_DEBUG;
    info.PrivateBuild = fixed.dwFileFlags & VS_FF_PRIVATEBUILD;

    const QString language = LanguageKey(block);
    info.ProductVersionText = QueryString(block, language, QStringLiteral("ProductVersion"));
    info.FileVersionText = QueryString(block, language, QStringLiteral("FileVersion"));
    info.Description = QueryString(block, language, QStringLiteral("FileDescription"));
    info.Copyright = QueryString(block, language, QStringLiteral("LegalCopyright"));
    info.Trademarks = QueryString(block, language, QStringLiteral("LegalTrademarks"));
    info.Comments = QueryString(block, language, QStringLiteral("Comments"));
    info.SpecialBuild = QueryString(block, language, QStringLiteral("SpecialBuild"));
    info.ProductName = QueryString(block, language, QStringLiteral("ProductName"));
    info.CompanyName = QueryString(block, language, QStringLiteral("CompanyName"));
    info.InternalName = QueryString(block, language, QStringLiteral("InternalName"));
    info.OriginalFilename = QueryString(block, language, QStringLiteral("OriginalFileName"));

    info.ProductVersion =
        QStringLiteral("%1.%2.%3").arg(info.ProductMajor).arg(info.ProductMinor).arg(info.ProductRelease);
    info.FileVersion =
        QStringLiteral("%1.%2.%3.%4").arg(info.Major).arg(info.Minor).arg(info.Release).arg(info.Build);

    info.BuildTimestamp = QueryString(block, language, QStringLiteral("BuildTimestamp"));
    if (info.PreReleaseBuild) {
        info.FileVersion = info.Build > 0 ? QStringLiteral("%1 BETA %2").arg(info.FileVersion).arg(info.Build)
                                          : QStringLiteral("%1 BETA").arg(info.FileVersion);
    }
    return true;
}

void GetFileInfo(const QString& fileName, TFileInfo& info, bool localTime)
{
    const HANDLE file = CreateFileW(WStr(fileName), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;

    {
        const ErrorModeGuard errorMode;
        // The file's own first icon, else the icon of its type. The whole path is passed: no length
        // limit applies here.
        if (reinterpret_cast<uintptr_t>(ExtractIconW(nullptr, WStr(fileName), 0xFFFFFFFF)) > 0) {
            info.IconHandle = ExtractIconW(nullptr, WStr(fileName), 0);
        } else {
            QString path = fileName;
            WORD index = 0;
            info.IconHandle = ExtractAssociatedIconW(nullptr, const_cast<LPWSTR>(WStr(path)), &index);
        }
    }

    SHFILEINFOW shell{};
    if (SHGetFileInfoW(WStr(fileName), 0, &shell, sizeof shell, SHGFI_TYPENAME) != 0)
        info.FileType = FromWStr(shell.szTypeName, static_cast<qsizetype>(std::size(shell.szTypeName))).section(QChar(0), 0, 0);
    else
        info.FileType.clear();

    BY_HANDLE_FILE_INFORMATION data{};
    if (GetFileInformationByHandle(file, &data)) {
        info.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
        info.Attributes = data.dwFileAttributes;
        info.Created = ConvertFileTime(data.ftCreationTime, localTime);
        info.Accessed = ConvertFileTime(data.ftLastAccessTime, localTime);
        info.Modified = ConvertFileTime(data.ftLastWriteTime, localTime);
    }
    CloseHandle(file);

    info.BinaryType = GetBinaryTypeText(fileName);
}

QString GetBinaryTypeText(const QString& fileName)
{
    const auto answer = static_cast<DWORD>(SHGetFileInfoW(WStr(fileName), 0, nullptr, 0, SHGFI_EXETYPE));
    const WORD signature = LOWORD(answer);
    const WORD version = HIWORD(answer);
    if (signature == 0x5A4D)
        return QStringLiteral("DOS Executable");
    if (signature == 0x454C)
        return QStringLiteral("Virtual Device Driver");
    if (signature == 0x4550 || signature == 0x454E || signature == 0) {
        if (answer != 0 && version == 0)
            return QStringLiteral("Win32 Console Executable");
        if (version == 0x0300 || version == 0x030A)
            return QStringLiteral("Win16 Executable");
        if (version == 0x0400)
            return QStringLiteral("Win32 Executable");
    }

    DWORD code = 0;
    if (GetBinaryTypeW(WStr(fileName), &code)) {
        switch (code) {
        case SCS_32BIT_BINARY: return QStringLiteral("Win32 Executable");
        case SCS_DOS_BINARY: return QStringLiteral("DOS Executable");
        case SCS_WOW_BINARY: return QStringLiteral("Win16 Executable");
        case SCS_PIF_BINARY: return QStringLiteral("PIF File");
        case SCS_POSIX_BINARY: return QStringLiteral("POSIX Executable");
        case SCS_OS216_BINARY: return QStringLiteral("OS/2 16 bit Executable");
        default: break;
        }
    }
    return {};
}
