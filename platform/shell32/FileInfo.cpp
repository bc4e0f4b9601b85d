// SHGetFileInfoW: the type name from shared-mime-info and the executable kind from the headers.
#include "platform/include/win/shellapi.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"
#include "platform/shell32/FileType.h"
#include "platform/include/win/winbase.h"
#include "platform/shell32/ExeType.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QString>

#include <string_view>

namespace {

constexpr size_t TypeNameUnits = sizeof(SHFILEINFOW::szTypeName) / sizeof(WCHAR) - 1;

QMimeType TypeOf(const QString& path, std::u16string_view name, DWORD attributes, bool fromAttributes)
{
    const QMimeDatabase database;
    if (!fromAttributes)
        return shell32::FileTypeOf(name);
    // The file need not exist: the name and the attributes given decide.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return database.mimeTypeForName(QStringLiteral("inode/directory"));
    return database.mimeTypeForFile(QFileInfo(path).fileName(), QMimeDatabase::MatchExtension);
}

} // namespace

extern "C" DWORD_PTR WINAPI SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi,
                                          UINT cbFileInfo, UINT uFlags)
{
    if (!pszPath)
        return 0;
    const std::u16string_view path = winstr::View(pszPath);
    if (uFlags & SHGFI_EXETYPE)
        return shell32::ExeTypeOfFile(path);

    const QString name = QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size()));
    const bool fromAttributes = uFlags & SHGFI_USEFILEATTRIBUTES;
    if (!fromAttributes && (name.isEmpty() || KindOfFile(winstr::ToFileSystem(path)) == FileKind::Missing))
        return 0;
    if (uFlags & SHGFI_TYPENAME) {
        if (!psfi)
            return 0;
        // The comment in the user's language; English under the C locale.
        const QString comment = TypeOf(name, path, dwFileAttributes, fromAttributes).comment();
        std::u16string_view text(reinterpret_cast<const char16_t*>(comment.utf16()), static_cast<size_t>(comment.size()));
        if (text.size() > TypeNameUnits) {
            text = text.substr(0, TypeNameUnits);
            // Never leave half a surrogate pair at the cut.
            if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF)
                text.remove_suffix(1);
        }
        winstr::CopyTo(text, psfi->szTypeName, TypeNameUnits + 1);
    }
    return 1;
}
