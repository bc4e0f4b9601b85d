#include "platform/shell32/FileType.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"

#include <QMimeDatabase>
#include <QString>

#include <algorithm>

namespace shell32 {

namespace {

// The bytes a type's magic rules look at, at most.
constexpr size_t SniffBytes = 64 * 1024;

} // namespace

QMimeType FileTypeOf(std::u16string_view path)
{
    const QMimeDatabase database;
    // Read here rather than by Qt, which cannot open every name Linux allows.
    const std::string name = winstr::ToFileSystem(path);
    if (KindOfFile(name) == FileKind::Folder)
        return database.mimeTypeForName(QStringLiteral("inode/directory"));
    const size_t slash = path.rfind(u'/');
    const std::u16string_view base = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const QString baseName = QString::fromUtf16(base.data(), static_cast<qsizetype>(base.size()));
    const auto file = OwnedFile::Open(name);
    const size_t size = file ? static_cast<size_t>(std::min<uint64_t>(file->source().size(), SniffBytes)) : 0;
    const auto bytes = file ? file->source().ReadRange(0, size) : std::nullopt;
    if (!bytes)
        return database.mimeTypeForFile(baseName, QMimeDatabase::MatchExtension);
    return database.mimeTypeForFileNameAndData(
        baseName, QByteArray(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size())));
}

} // namespace shell32
