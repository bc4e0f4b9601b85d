// File-name pieces as the program uses them.
#pragma once

#include <QString>

// The extension of the name's last component, from its last "." on (the dot included); empty when
// that component has no ".".
[[nodiscard]] inline QString ExtractFileExt(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > slash ? fileName.mid(dot) : QString();
}
