#include "platform/shell32ui/FileProperties.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/shellapi.h"
#include "platform/include/win/winbase.h"
#include "platform/shell32ui/IconImage.h"

#include <QFileInfo>
#include <QLocale>

#include <string>

namespace shell32ui {

namespace {

constexpr WORD SignatureMz = 0x5A4D;
constexpr WORD SignatureNe = 0x454E;
constexpr WORD SignaturePe = 0x4550;

std::u16string Wide(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

std::optional<QDateTime> TimeOf(const FILETIME& time)
{
    constexpr int64_t TicksPerMillisecond = 10'000;
    constexpr int64_t EpochDifferenceMs = 11'644'473'600'000LL; // 1601-01-01 to 1970-01-01
    const uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    if (ticks == 0 || ticks > static_cast<uint64_t>(INT64_MAX))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(static_cast<int64_t>(ticks) / TicksPerMillisecond - EpochDifferenceMs, Qt::UTC);
}

QString TypeNameOf(const std::u16string& path)
{
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_TYPENAME))
        return {};
    info.szTypeName[std::size(info.szTypeName) - 1] = 0;
    return QString::fromUtf16(info.szTypeName);
}

QIcon IconOf(const std::u16string& path)
{
    // ExtractAssociatedIconW may write the icon's own path into the buffer: give it room.
    std::u16string buffer = path;
    buffer.resize(std::max<size_t>(buffer.size(), MAX_PATH) + 1, u'\0');
    WORD index = 0;
    const HICON icon = ExtractAssociatedIconW(nullptr, buffer.data(), &index);
    if (!icon)
        return {};
    QIcon result = IconFromHandle(icon);
    DestroyIcon(icon);
    return result;
}

} // namespace

QString SizeText(uint64_t size)
{
    const QLocale locale;
    const auto bytes = static_cast<qint64>(std::min<uint64_t>(size, INT64_MAX));
    return QStringLiteral("%1 (%2 bytes)").arg(locale.formattedDataSize(bytes), locale.toString(static_cast<qulonglong>(size)));
}

QString ExecutableKindText(std::optional<DWORD> binaryType, DWORD exeType)
{
    QString kind;
    if (binaryType) {
        switch (*binaryType) {
        case SCS_32BIT_BINARY: kind = QStringLiteral("32-bit Windows program"); break;
        case SCS_64BIT_BINARY: kind = QStringLiteral("64-bit Windows program"); break;
        case SCS_DOS_BINARY: kind = QStringLiteral("MS-DOS program"); break;
        case SCS_WOW_BINARY: kind = QStringLiteral("16-bit Windows program"); break;
        case SCS_PIF_BINARY: kind = QStringLiteral("PIF file for an MS-DOS program"); break;
        case SCS_POSIX_BINARY: kind = QStringLiteral("POSIX program"); break;
        case SCS_OS216_BINARY: kind = QStringLiteral("16-bit OS/2 program"); break;
        default: break;
        }
    }
    QString subsystem;
    const WORD signature = LOWORD(exeType);
    const WORD version = HIWORD(exeType);
    if ((signature == SignaturePe || signature == SignatureNe) && version != 0)
        subsystem = QStringLiteral("graphical, Windows %1.%2").arg(version >> 8).arg(version & 0xFF);
    else if (signature == SignaturePe)
        subsystem = QStringLiteral("console");
    if (kind.isEmpty() && subsystem.isEmpty())
        return signature == SignatureMz ? QStringLiteral("MS-DOS program") : QString();
    if (kind.isEmpty())
        return subsystem == QLatin1String("console") ? QStringLiteral("Console program")
                                                     : QStringLiteral("Windows program (%1)").arg(subsystem);
    return subsystem.isEmpty() ? kind : QStringLiteral("%1 (%2)").arg(kind, subsystem);
}

FileProperties ReadFileProperties(const QString& absolutePath)
{
    FileProperties properties;
    const QFileInfo file(absolutePath);
    properties.Path = file.absoluteFilePath();
    properties.Name = file.fileName().isEmpty() ? properties.Path : file.fileName();
    properties.Folder = file.absolutePath();
    const std::u16string path = Wide(properties.Path);
    // Asked by the name's own bytes: Qt's file classes cannot reach every name Linux allows.
    const FileKind kind = KindOfFile(winstr::ToFileSystem(path));
    properties.IsFolder = kind == FileKind::Folder;

    properties.TypeName = TypeNameOf(path);
    properties.Icon = IconOf(path);

    // Only regular files and folders are opened: a FIFO or a device could block or answer anything.
    if (kind == FileKind::File || kind == FileKind::Folder) {
        const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        if (handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info)) {
            if (!properties.IsFolder)
                properties.Size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
            properties.Created = TimeOf(info.ftCreationTime);
            properties.Modified = TimeOf(info.ftLastWriteTime);
            properties.Accessed = TimeOf(info.ftLastAccessTime);
            properties.Attributes = info.dwFileAttributes;
        }
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }

    if (kind == FileKind::File) {
        DWORD binaryType = 0;
        const bool isProgram = GetBinaryTypeW(path.c_str(), &binaryType) != FALSE;
        const auto exeType = static_cast<DWORD>(SHGetFileInfoW(path.c_str(), 0, nullptr, 0, SHGFI_EXETYPE));
        properties.ExecutableKind = ExecutableKindText(isProgram ? std::optional<DWORD>(binaryType) : std::nullopt, exeType);
    }
    return properties;
}

} // namespace shell32ui
