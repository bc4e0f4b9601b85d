#include "about/ProgramVersion.h"

#include <QFileInfo>

#include <unistd.h>

TVersionInfo ProgramVersionInfo;

namespace {

// The running program's file, as the kernel names it: the command line's element 0 may be a
// bare name found on PATH, or a link.
QString OwnPath()
{
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<size_t>(length));
    return QFileInfo(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()))).absoluteFilePath();
}

} // namespace

void ReadProgramVersionInfo()
{
    ProgramVersionInfo = TVersionInfo();
    ReadVersionInfo(OwnPath(), ProgramVersionInfo);
}
