// tessera-report: the same report as the window, on standard output.
#include "app/BulkReport.h"
#include "app/CommandLine.h"
#include "app/Inspection.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "platform/include/win/objidl.h"
#include "support/ControlText.h"
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
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr char Usage[] =
    "Usage: tessera-report [OPTION]... FILE...\n"
    "Print Tessera's report on each FILE: the certificates and signatures it carries.\n"
    "\n"
    "FILE is a Windows executable or DLL, an installer package or other compound document, a\n"
    "cabinet, a catalog (.cat), an app package (.appx .msix and bundles), a PowerShell script\n"
    "(.ps1 .psm1 .psd1 .ps1xml .psc1 .cdxml), a certificate file (.pem .p7c .p7b .cer .crt .der)\n"
    "or a key container (.pfx .p12). A file without a signature of its own is judged by a catalog\n"
    "that lists it: one given with --catalog, else one in its folder (a driver package). With one\n"
    "FILE a key container's password is read as one line from standard input (end of input\n"
    "cancels); with more, it comes from --password-file or the container is left closed.\n"
    "With more than one FILE, each report follows a line \"==> FILE <==\" and ends with a blank line.\n"
    "\n"
    "      --all-signatures    judge every signature nested in the first one too, and report each\n"
    "      --catalog CAT       judge files without a signature of their own by the catalog CAT\n"
    "                          (repeatable) instead of the catalogs in their folders\n"
    "      --check             one line per file, \"FILE: OK publisher\", \"FILE: ERROR text\",\n"
    "                          \"FILE: not signed\" or \"FILE: not supported\"; exit status 0 only\n"
    "                          when every file carries a valid signature\n"
    "      --export OUT        after the report, write FILE's certificates to OUT as a PKCS #7\n"
    "                          bundle: DER when OUT ends in .der, PEM otherwise (one FILE only)\n"
    "  -j, --jobs N            inspect N files at a time (default: the number of processors);\n"
    "                          the output keeps the order of the files\n"
    "      --json              one JSON object per file, a line each (docs/report.schema.json)\n"
    "      --password-file F   the key containers' password: the first line of F\n"
    "  -r, --recursive         inspect the files in each folder named, and in its folders\n"
    "      --help              display this help and exit\n"
    "      --version           output version information and exit\n"
    "\n"
    "Exit status: 0 when the reports were written (with --check: when every file carries a\n"
    "valid signature); 1 when an error stopped a report, or with --check when a file carries\n"
    "no valid signature; 2 for a wrong call.\n";

// Standard output as the report: each line as it comes, so that an error follows what was written.
// On a terminal, the control characters a file's fields hold are shown rather than obeyed.
class StdoutSink final : public IReportSink {
public:
    void Clear() override {}
    void BeginBatch() override {}
    void EndBatch() override { FlushOut(); }
    void AddLine(const QString& line) override
    {
        const QByteArray bytes = line.toUtf8();
        const std::string_view text(bytes.constData(), static_cast<size_t>(bytes.size()));
        WriteOut(FTerminal ? TerminalVisible(text) : std::string(text));
        WriteOut("\n");
    }
    void CaretToTop() override {}

private:
    const bool FTerminal = isatty(STDOUT_FILENO) == 1;
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

// Far above any password anyone types or keeps in a file; what goes beyond it (a password file
// that is /dev/zero, a prompt fed from it) is refused rather than read until memory runs out.
constexpr size_t PasswordLineLimit = 64 * 1024;

enum class LineRead { Line, End, TooLong, Failed };

// One line of file without its line end (LF or CR LF), at most PasswordLineLimit bytes of it.
// End: the input ended before anything was read.
LineRead ReadPasswordLine(std::FILE* file, std::string& line)
{
    line.clear();
    int c = 0;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
        if (line.size() == PasswordLineLimit)
            return LineRead::TooLong;
        line += static_cast<char>(c);
    }
    if (std::ferror(file))
        return LineRead::Failed;
    if (c == EOF && line.empty())
        return LineRead::End;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return LineRead::Line;
}

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
        const LineRead read = ReadPasswordLine(stdin, line);
        if (terminal) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminal);
            TerminalQuiet = 0;
            for (size_t i = 0; i < std::size(EndingSignals); ++i)
                sigaction(EndingSignals[i], &previous[i], nullptr);
            std::fputc('\n', stderr);
        }
        if (read == LineRead::TooLong)
            throw std::runtime_error("the password on standard input is longer than " +
                                     std::to_string(PasswordLineLimit) + " bytes");
        if (read != LineRead::Line)
            return false;
        password = QString::fromLocal8Bit(line);
        return true;
    }
};

// Writes the file's certificates as the window's Export does; 1 when there is nothing to write.
int Export(const QString& fileName, const QString& password, const QStringList& catalogs, const QString& target)
{
    FlushOut();
    const auto close = [](void* s) { CertCloseStore(s, 0); };
    const std::unique_ptr<void, decltype(close)> store(OpenInspectedFileStore(fileName, password, catalogs), close);
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

int WrongCall(const char* message)
{
    std::fprintf(stderr, "tessera-report: %s (try 'tessera-report --help')\n", message);
    return 2;
}

// The first line of a file, without its line end (an empty file: the empty password).
LineRead ReadPasswordFile(const QString& fileName, QString& password)
{
    std::FILE* file = std::fopen(FileNameToBytes(fileName).constData(), "rb");
    if (!file)
        return LineRead::Failed;
    std::string line;
    LineRead read = ReadPasswordLine(file, line);
    std::fclose(file);
    if (read == LineRead::End)
        read = LineRead::Line;
    password = QString::fromLocal8Bit(line);
    return read;
}

// A job count: a whole number from 1 on.
bool ParseJobs(const QString& text, int& jobs)
{
    bool ok = false;
    jobs = text.toInt(&ok);
    return ok && jobs >= 1 && jobs <= 1024;
}

} // namespace

int main(int argc, char** argv)
{
    // Qt takes none of the user's arguments.
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    // Names as the file system has them, whatever their bytes.
    const QStringList arguments = ArgumentsFromBytes(argc, argv);

    TBulkOptions bulk;
    bulk.Jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    QString exportName;
    QString passwordFile;
    bool endOfOptions = false;
    // An option's value: the rest of "--name=value", or the next argument.
    const auto value = [&](qsizetype& i, const QString& argument, const QString& name, QString& out) -> bool {
        if (argument.startsWith(name + u'=')) {
            out = argument.mid(name.size() + 1);
            return true;
        }
        if (i + 1 >= arguments.size())
            return false;
        out = arguments[++i];
        return true;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool option = !endOfOptions && argument.startsWith(u'-') && argument.size() > 1;
        if (!option) {
            bulk.Operands.append(argument);
            continue;
        }
        const auto named = [&](const char* name) {
            return argument == QLatin1String(name) || argument.startsWith(QLatin1String(name) + u'=');
        };
        if (argument == u"--") {
            endOfOptions = true;
        } else if (argument == u"--help") {
            WriteOut(Usage);
            return FinishOutput("tessera-report", 0);
        } else if (argument == u"--version") {
            WriteOut(VersionText());
            return FinishOutput("tessera-report", 0);
        } else if (named("--export")) {
            if (!value(i, argument, QStringLiteral("--export"), exportName))
                return WrongCall("option '--export' needs a file name");
        } else if (named("--catalog")) {
            QString catalog;
            if (!value(i, argument, QStringLiteral("--catalog"), catalog))
                return WrongCall("option '--catalog' needs a file name");
            bulk.Catalogs.append(catalog);
        } else if (named("--password-file")) {
            if (!value(i, argument, QStringLiteral("--password-file"), passwordFile))
                return WrongCall("option '--password-file' needs a file name");
        } else if (named("--jobs") || argument == u"-j" || (argument.startsWith(u"-j") && !argument.startsWith(u"--"))) {
            QString count;
            const bool given = argument.startsWith(u"-j") && argument.size() > 2 && !argument.startsWith(u"--")
                                   ? (count = argument.mid(2), true)
                                   : value(i, argument, argument == u"-j" ? QStringLiteral("-j") : QStringLiteral("--jobs"), count);
            if (!given || !ParseJobs(count, bulk.Jobs))
                return WrongCall("option '--jobs' needs a number of files from 1 to 1024");
        } else if (argument == u"-r" || argument == u"--recursive") {
            bulk.Recursive = true;
        } else if (argument == u"--json") {
            bulk.Json = true;
        } else if (argument == u"--check") {
            bulk.Check = true;
        } else if (argument == u"--all-signatures") {
            bulk.AllSignatures = true;
        } else if (argument == u"--explain") {
            bulk.Explain = true;
        } else {
            return WrongCall(("unknown option '" + FileNameToBytes(argument).toStdString() + "'").c_str());
        }
    }
    if (bulk.Operands.isEmpty())
        return WrongCall("missing FILE");
    if (bulk.Explain && bulk.Check)
        return WrongCall("option '--explain' cannot go with --check, whose lines are one a file");
    if (!passwordFile.isEmpty()) {
        switch (ReadPasswordFile(passwordFile, bulk.Password)) {
        case LineRead::Line:
        case LineRead::End: break;
        case LineRead::TooLong:
            std::fprintf(stderr, "tessera-report: %s: the password is longer than %zu bytes\n",
                         FileNameToBytes(passwordFile).constData(), PasswordLineLimit);
            return 1;
        case LineRead::Failed:
            std::fprintf(stderr, "tessera-report: %s: %s\n", FileNameToBytes(passwordFile).constData(),
                         UnreadableReason(passwordFile).c_str());
            return 2;
        }
        bulk.HavePassword = true;
    }

    OleInitialize(nullptr);
    // One file named and nothing asked of it but its report: the report as the window shows it,
    // line by line, with the password from the terminal.
    const bool oneFile = bulk.Operands.size() == 1 && !(bulk.Recursive && FolderExists(bulk.Operands.first()));
    const bool single = oneFile && !bulk.Json && !bulk.Check;
    if (!exportName.isEmpty() && !single)
        return WrongCall("option '--export' takes one FILE and no --json, --check or folder");
    int status = 0;
    if (single) {
        const QString& fileName = bulk.Operands.first();
        StdoutSink report;
        TerminalHost host;
        TUnattendedHost given(bulk.Password, bulk.HavePassword);
        QString password;
        TInspectionOptions options;
        options.AllSignatures = bulk.AllSignatures;
        options.Explain = bulk.Explain;
        options.Catalogs = bulk.Catalogs;
        try {
            InspectFile(fileName, password, report, bulk.HavePassword ? static_cast<IInspectionHost&>(given) : host,
                        options);
            if (!exportName.isEmpty())
                status = Export(fileName, password, bulk.Catalogs, exportName);
        } catch (const std::exception& error) {
            // After the report so far.
            FlushOut();
            std::fprintf(stderr, "tessera-report: %s\n", error.what());
            status = 1;
        }
        status = FinishOutput("tessera-report", status);
        // The report says what the program says of such a file; the reason is the system's.
        if (const std::string reason = UnreadableReason(fileName); !reason.empty())
            std::fprintf(stderr, "tessera-report: %s: %s\n", FileNameToBytes(fileName).constData(), reason.c_str());
    } else {
        bulk.Headers = !bulk.Json && !bulk.Check;
        // One file whose output shows certificates: its key container's password comes from
        // standard input, as for the plain report.
        TerminalHost terminal;
        if (oneFile && bulk.Json && !bulk.HavePassword)
            bulk.AskPassword = [&terminal](QString& password) { return terminal.PromptPassword(password); };
        status = RunBulkReport(bulk);
    }
    OleUninitialize();
    return status;
}
