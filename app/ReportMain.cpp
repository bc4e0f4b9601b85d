// tessera-report: the same report as the window, on standard output.
#include "about/ProgramVersion.h"
#include "app/Inspection.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "platform/include/win/objidl.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <termios.h>
#include <unistd.h>

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
    void EndBatch() override { std::fflush(stdout); }
    void AddLine(const QString& line) override
    {
        const QByteArray bytes = line.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        std::fputc('\n', stdout);
    }
    void CaretToTop() override {}
};

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
        termios saved{};
        if (terminal) {
            std::fflush(stdout);
            std::fputs("Password: ", stderr);
            std::fflush(stderr);
            tcgetattr(STDIN_FILENO, &saved);
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
        std::string line;
        const bool confirmed = static_cast<bool>(std::getline(std::cin, line));
        if (terminal) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
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
    std::fflush(stdout);
    const auto close = [](void* s) { CertCloseStore(s, 0); };
    const std::unique_ptr<void, decltype(close)> store(OpenInspectedFileStore(fileName, password), close);
    if (!store) {
        std::fprintf(stderr, "tessera-report: %s holds no certificates to export\n", qPrintable(fileName));
        return 1;
    }
    const bool written = target.endsWith(QStringLiteral(".der"), Qt::CaseInsensitive)
                             ? ExportStoreToDerFile(store.get(), target)
                             : ExportStoreToPemFile(store.get(), target);
    if (!written) {
        std::fprintf(stderr, "tessera-report: the certificates could not be written to %s\n", qPrintable(target));
        return 1;
    }
    return 0;
}

int WrongCall(const char* message)
{
    std::fprintf(stderr, "tessera-report: %s (try 'tessera-report --help')\n", message);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

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
            std::fputs(Usage, stdout);
            return 0;
        }
        if (!endOfOptions && argument == u"--version") {
            ReadProgramVersionInfo();
            std::printf("Tessera %s\n%s\n", qPrintable(ProgramVersionInfo.FileVersion),
                        qPrintable(ProgramVersionInfo.Copyright));
            return 0;
        }
        if (!endOfOptions && argument == u"--") {
            endOfOptions = true;
            continue;
        }
        if (!endOfOptions && argument.startsWith(u'-') && argument.size() > 1)
            return WrongCall(qPrintable(QStringLiteral("unknown option '%1'").arg(argument)));
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
        std::fflush(stdout);
        std::fprintf(stderr, "tessera-report: %s\n", error.what());
        status = 1;
    }
    std::fflush(stdout);
    OleUninitialize();
    return status;
}
