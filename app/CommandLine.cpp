#include "app/CommandLine.h"

#include "about/ProgramVersion.h"
#include "support/FileName.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The first error met while writing to standard output.
int OutputError = 0;

} // namespace

std::string VersionText(const char* program)
{
    ReadProgramVersionInfo();
    return std::string(program) + " (" + ProgramVersionInfo.ProductName.toStdString() + ") " +
           ProgramVersionInfo.ProductVersion.toStdString() + "\n" + ProgramVersionInfo.Copyright.toStdString() +
           "\n"
           "License Apache-2.0: <https://www.apache.org/licenses/LICENSE-2.0>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

std::string HelpFooter()
{
    return "Report bugs to: tessera@tessera.example\n"
           "Tessera home page: <https://tessera.example>\n";
}

std::string UnreadableReason(const QString& fileName)
{
    const QByteArray name = FileNameToBytes(fileName);
    struct stat info {};
    if (stat(name.constData(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    // A FIFO, a device or a socket is no file to read: it could hold the reader forever.
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    const int fd = open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    close(fd);
    return {};
}

void WriteOut(std::string_view text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && OutputError == 0)
        OutputError = errno ? errno : EIO;
}

void FlushOut()
{
    errno = 0;
    if (std::fflush(stdout) != 0 && OutputError == 0)
        OutputError = errno ? errno : EIO;
}

int FinishOutput(const char* program, int exitCode)
{
    FlushOut();
    if (std::ferror(stdout) && OutputError == 0)
        OutputError = EIO;
    if (OutputError == 0)
        return exitCode;
    std::fprintf(stderr, "%s: write error: %s\n", program, std::strerror(OutputError));
    return 1;
}
