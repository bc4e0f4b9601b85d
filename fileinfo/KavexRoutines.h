// What the system knows about a file apart from its certificates: the version resource, the
// shell's type name, icon, size, times, attributes and executable kind, and the quick test that
// decides whether a file is taken for an executable. Nothing here raises or reports.
#pragma once

#include "platform/include/win/windef.h"
#include "support/DateTime.h"

#include <QString>

struct TVersionInfo {
    QString FileName;
    QString FileVersion;    // numeric, from the fixed block, possibly with a pre-release mark
    QString ProductVersion; // numeric, three parts
    QString FileVersionText;
    QString ProductVersionText;
    QString ProductName;
    QString CompanyName;
    QString Description;
    QString Comments;
    QString Copyright;
    QString Trademarks;
    QString InternalName;
    QString OriginalFilename;
    uint32_t Major = 0, Minor = 0, Release = 0, Build = 0;
    uint32_t ProductMajor = 0, ProductMinor = 0, ProductRelease = 0, ProductBuild = 0;
    QString SpecialBuild;
    bool PreReleaseBuild = false, DebugBuild = false, PrivateBuild = false;
    QString BuildTimestamp;
};

struct TFileInfo {
    QString Name; // kept as the caller set it
    QString FileType;
    uint64_t Size = 0;
    TDateTime Created = 0, Accessed = 0, Modified = 0;
    uint32_t Attributes = 0;
    QString BinaryType;
    HICON IconHandle = nullptr; // the caller owns it (DestroyIcon)
};

// True exactly when the file can be read and begins with "MZ".
[[nodiscard]] bool IsExecutableFile(const QString& fileName);
// Whether the user belongs to the Administrators group, whether or not the program runs with the
// group's rights.
[[nodiscard]] bool IsAdministrator();
// True when the fixed version block could be read; FileName is set in every case.
bool ReadVersionInfo(const QString& fileName, TVersionInfo& info);
// Leaves the record untouched when the file cannot be opened.
void GetFileInfo(const QString& fileName, TFileInfo& info, bool localTime);
// One of the executable-kind labels, or empty.
[[nodiscard]] QString GetBinaryTypeText(const QString& fileName);
