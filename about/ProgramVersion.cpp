#include "about/ProgramVersion.h"

#include <QFileInfo>

#include <unistd.h>

TVersionInfo ProgramVersionInfo;

// The command line's element 0 may be a bare name found on PATH, or a link: the kernel knows.
QString ProgramFilePath()
{
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<size_t>(length));
    return QFileInfo(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()))).absoluteFilePath();
}

void ReadProgramVersionInfo()
{
    ProgramVersionInfo = TVersionInfo();
    ReadVersionInfo(ProgramFilePath(), ProgramVersionInfo);
}
