// File-name pieces as the program uses them, and names that are bytes.
//
// Linux file names are bytes and need not be UTF-8. In the program a name is a QString in which
// every byte that is not part of valid UTF-8 is the lone surrogate U+DC00 + byte: the stand-ins
// turn it back into that byte, so every name reaches the file system as it came. Such a name is
// shown with U+FFFD in those places.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

// The extension of the name's last component, from its last "." on (the dot included); empty when
// that component has no ".".
[[nodiscard]] inline QString ExtractFileExt(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > slash ? fileName.mid(dot) : QString();
}

// The name's last component.
[[nodiscard]] inline QString ExtractFileName(const QString& fileName)
{
    return fileName.mid(fileName.lastIndexOf(u'/') + 1);
}

[[nodiscard]] QString FileNameFromBytes(QByteArrayView bytes);
[[nodiscard]] QByteArray FileNameToBytes(const QString& name);
// The name as a person reads it.
[[nodiscard]] QString DisplayFileName(const QString& name);

// The name as an absolute path, cleaned of "." and ".." components; a relative name is taken
// from the working folder, whose bytes are kept as they are.
[[nodiscard]] QString AbsoluteFileName(const QString& name);

// Whether the name is that of an existing folder, asked by its bytes.
[[nodiscard]] bool FolderExists(const QString& name);

// The command line's arguments after the program's own name, as file names.
[[nodiscard]] QStringList ArgumentsFromBytes(int argc, const char* const* argv);

// The file of a "file:" address by its bytes; empty for any other address.
[[nodiscard]] QString FileNameFromUrl(const QUrl& url);

// A name Qt's file dialog chose: Qt decodes names lossily (QFile::decodeName), so each component
// holding U+FFFD is looked up among its folder's real names and replaced by the one name that Qt
// reads the same way.
// The name as it is when no component needs it or none (or more than one) matches.
[[nodiscard]] QString RecoverFileName(const QString& name);
