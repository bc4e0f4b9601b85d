#include "app/CommandLine.h"

#include "about/ProgramVersion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The first error met while writing to standard output.
int OutputError = 0;

} // namespace

std::string VersionText()
{
    ReadProgramVersionInfo();
    return "Tessera " + ProgramVersionInfo.FileVersion.toStdString() + "\n" +
           ProgramVersionInfo.Copyright.toStdString() + "\n";
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
