#include "support/FileName.h"

#include "platform/common/WinStr.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <memory>

namespace {

std::u16string_view View(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

QString FromU16(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The names in a folder, as the program holds them.
QStringList FolderNames(const QString& folder)
{
    QStringList names;
    const QByteArray path = FileNameToBytes(folder.isEmpty() ? QStringLiteral("/") : folder);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.constData()), closedir);
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.append(FileNameFromBytes(QByteArrayView(name.data(), static_cast<qsizetype>(name.size()))));
    }
    return names;
}

} // namespace

QString FileNameFromBytes(QByteArrayView bytes)
{
    return FromU16(winstr::FromFileSystem(std::string_view(bytes.data(), static_cast<size_t>(bytes.size()))));
}

QByteArray FileNameToBytes(const QString& name)
{
    return QByteArray::fromStdString(winstr::ToFileSystem(View(name)));
}

QString DisplayFileName(const QString& name)
{
    return FromU16(winstr::ForDisplay(View(name)));
}

QString AbsoluteFileName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u'/'))
        return name.isEmpty() ? name : QDir::cleanPath(name);
    std::string folder(4096, '\0');
    while (!getcwd(folder.data(), folder.size())) {
        if (errno != ERANGE)
            return name;
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return QDir::cleanPath(FileNameFromBytes(QByteArrayView(folder.data(), static_cast<qsizetype>(folder.size()))) +
                           u'/' + name);
}

bool FolderExists(const QString& name)
{
    struct stat info {};
    return stat(FileNameToBytes(name).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QStringList ArgumentsFromBytes(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(FileNameFromBytes(QByteArrayView(argv[i])));
    return arguments;
}

QString FileNameFromUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    // The path's percent-encoded bytes, not Qt's UTF-8 reading of them.
    return FileNameFromBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString RecoverFileName(const QString& name)
{
    if (!name.contains(QChar(0xFFFD)) || !name.startsWith(u'/'))
        return name;
    const QStringList parts = name.split(u'/');
    QString recovered;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString part = parts[i];
        if (part.contains(QChar(0xFFFD))) {
            QString match;
            int matches = 0;
            for (const QString& candidate : FolderNames(recovered))
                if (QFile::decodeName(FileNameToBytes(candidate)) == part) {
                    match = candidate;
                    ++matches;
                }
            if (matches != 1)
                return name;
            part = match;
        }
        recovered += u'/' + part;
    }
    return recovered;
}
