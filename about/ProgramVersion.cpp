#include "about/ProgramVersion.h"

#include "support/FileName.h"

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
    // The kernel's name is absolute already; its bytes are kept whatever they are.
    return FileNameFromBytes(QByteArrayView(path.data(), static_cast<qsizetype>(path.size())));
}

void ReadProgramVersionInfo()
{
    ProgramVersionInfo = TVersionInfo();
    ReadVersionInfo(ProgramFilePath(), ProgramVersionInfo);
}
