// tessera-report: the same report as the window, on standard output.
#include "app/CommandLine.h"
#include "app/Inspection.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "platform/include/win/objidl.h"
#include "support/FileName.h"

#include <QCoreApplication>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr char Usage[] =
    "Usage: tessera-report [OPTION]... FILE\n"
    "Print Tessera's report on FILE: the certificates and signatures it carries.\n"
    "\n"
    "FILE is a Windows executable or DLL, an installer package or other compound document, a\n"
    "certificate file (.pem .p7c .p7b .cer .crt .der) or a key container (.pfx .p12), whose\n"
    "password is read as one line from standard input (end of input cancels).\n"
    "\n"
    "      --export OUT  after the report, write FILE's certificates to OUT as a PKCS #7 bundle:\n"
    "                    DER when OUT ends in .der, PEM otherwise\n"
    "      --help        display this help and exit\n"
    "      --version     output version information and exit\n"
    "\n"
    "Exit status: 0 when the report was written, 1 when an error stopped it (the report so far\n"
    "is printed, the error follows on standard error), 2 for a wrong call.\n";

// Standard output as the report: each line as it comes, so that an error follows what was written.
class StdoutSink final : public IReportSink {
public:
    void Clear() override {}
    void BeginBatch() override {}
    void EndBatch() override { FlushOut(); }
    void AddLine(const QString& line) override
    {
        const QByteArray bytes = line.toUtf8() + '\n';
        WriteOut(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    }
    void CaretToTop() override {}
};

// The terminal's settings while the password is typed without echo, for the signal handlers.
termios SavedTerminal;
volatile sig_atomic_t TerminalQuiet = 0;

// A signal that ends the program while echo is off gives the terminal back as it was, then
// ends the program as the signal would have.
void RestoreTerminalAndDie(int signal)
{
    if (TerminalQuiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminal);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class TerminalHost final : public IInspectionHost {
public:
    void ShowFileName(const QString&) override {}
    void ShowFileType(const QString&) override {}
    void EnablePropertiesCommand(bool) override {}
    void EnableStoreCommands(bool) override {}

    bool PromptPassword(QString& password) override
    {
        password.clear();
        const bool terminal = isatty(STDIN_FILENO);
        struct sigaction previous[std::size(EndingSignals)] = {};
        if (terminal) {
            FlushOut();
            // Echo goes off before the prompt shows, so that nothing typed after it is seen.
            tcgetattr(STDIN_FILENO, &SavedTerminal);
            struct sigaction restore = {};
            restore.sa_handler = RestoreTerminalAndDie;
            sigemptyset(&restore.sa_mask);
            for (size_t i = 0; i < std::size(EndingSignals); ++i)
                sigaction(EndingSignals[i], &restore, &previous[i]);
            termios quiet = SavedTerminal;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            TerminalQuiet = 1;
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
            std::fputs("Password: ", stderr);
            std::fflush(stderr);
        }
        std::string line;
        const bool confirmed = static_cast<bool>(std::getline(std::cin, line));
        if (terminal) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminal);
            TerminalQuiet = 0;
            for (size_t i = 0; i < std::size(EndingSignals); ++i)
                sigaction(EndingSignals[i], &previous[i], nullptr);
            std::fputc('\n', stderr);
        }
        if (!confirmed)
            return false;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        password = QString::fromLocal8Bit(line);
        return true;
    }
};

// Writes the file's certificates as the window's Export does; 1 when there is nothing to write.
int Export(const QString& fileName, const QString& password, const QString& target)
{
    FlushOut();
    const auto close = [](void* s) { CertCloseStore(s, 0); };
    const std::unique_ptr<void, decltype(close)> store(OpenInspectedFileStore(fileName, password), close);
    if (!store) {
        std::fprintf(stderr, "tessera-report: %s holds no certificates to export\n", FileNameToBytes(fileName).constData());
        return 1;
    }
    const bool written = target.endsWith(QStringLiteral(".der"), Qt::CaseInsensitive)
                             ? ExportStoreToDerFile(store.get(), target)
                             : ExportStoreToPemFile(store.get(), target);
    if (!written) {
        std::fprintf(stderr, "tessera-report: the certificates could not be written to %s\n",
                     FileNameToBytes(target).constData());
        return 1;
    }
    return 0;
}

// Why the file cannot be read, as the file system says it; empty when it can.
std::string Unreadable(const QString& fileName)
{
    const QByteArray name = FileNameToBytes(fileName);
    struct stat info {};
    if (stat(name.constData(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    const int fd = open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    close(fd);
    return {};
}

int WrongCall(const char* message)
{
    std::fprintf(stderr, "tessera-report: %s (try 'tessera-report --help')\n", message);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Qt takes none of the user's arguments.
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    // Names as the file system has them, whatever their bytes.
    const QStringList arguments = ArgumentsFromBytes(argc, argv);

    QString fileName;
    QString exportName;
    bool endOfOptions = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!endOfOptions && argument == u"--export") {
            if (i + 1 >= arguments.size())
                return WrongCall("option '--export' needs a file name");
            exportName = arguments[++i];
            continue;
        }
        if (!endOfOptions && argument.startsWith(u"--export=")) {
            exportName = argument.mid(9);
            continue;
        }
        if (!endOfOptions && argument == u"--help") {
            WriteOut(Usage);
            return FinishOutput("tessera-report", 0);
        }
        if (!endOfOptions && argument == u"--version") {
            WriteOut(VersionText());
            return FinishOutput("tessera-report", 0);
        }
        if (!endOfOptions && argument == u"--") {
            endOfOptions = true;
            continue;
        }
        if (!endOfOptions && argument.startsWith(u'-') && argument.size() > 1)
            return WrongCall(("unknown option '" + FileNameToBytes(argument).toStdString() + "'").c_str());
        if (!fileName.isEmpty())
            return WrongCall("only one FILE may be given");
        fileName = argument;
    }
    if (fileName.isEmpty())
        return WrongCall("missing FILE");

    OleInitialize(nullptr);
    StdoutSink report;
    TerminalHost host;
    QString password;
    int status = 0;
    try {
        InspectFile(fileName, password, report, host);
        if (!exportName.isEmpty())
            status = Export(fileName, password, exportName);
    } catch (const std::exception& error) {
        // After the report so far.
        FlushOut();
        std::fprintf(stderr, "tessera-report: %s\n", error.what());
        status = 1;
    }
    status = FinishOutput("tessera-report", status);
    // The report says what the program says of such a file; the reason is the system's.
    if (const std::string reason = Unreadable(fileName); !reason.empty())
        std::fprintf(stderr, "tessera-report: %s: %s\n", FileNameToBytes(fileName).constData(), reason.c_str());
    OleUninitialize();
    return status;
}
