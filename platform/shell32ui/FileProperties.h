// What the properties window shows of a file, gathered from the platform's file information:
// shell32's type name, icon and executable kind, kernel32's size, times and attributes.
#pragma once

#include "platform/include/win/windef.h"

#include <QDateTime>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <optional>

namespace shell32ui {

struct FileProperties {
    QString Path;     // absolute
    QString Name;
    QString Folder;
    QString TypeName; // SHGetFileInfoW(SHGFI_TYPENAME)
    QIcon Icon;
    bool IsFolder = false;
    std::optional<uint64_t> Size;
    std::optional<QDateTime> Created;
    std::optional<QDateTime> Modified;
    std::optional<QDateTime> Accessed;
    std::optional<DWORD> Attributes; // FILE_ATTRIBUTE_*
    QString ExecutableKind;          // empty when the file is not a program
};

// Needs a QGuiApplication for the icon.
[[nodiscard]] FileProperties ReadFileProperties(const QString& absolutePath);

// "2.95 KiB (3,088 bytes)" in the user's locale.
[[nodiscard]] QString SizeText(uint64_t size);
// GetBinaryTypeW's kind and SHGetFileInfoW(SHGFI_EXETYPE)'s subsystem in words; empty for files
// that are neither.
[[nodiscard]] QString ExecutableKindText(std::optional<DWORD> binaryType, DWORD exeType);

} // namespace shell32ui
