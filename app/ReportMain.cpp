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
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// What the command line asks for.
struct TCommandLine {
    bool AllSignatures = false;
    bool Check = false;
    bool Explain = false;
    bool Json = false;
    bool Recursive = false;
    bool Help = false;
    bool Version = false;
    int Jobs = 0; // 0: one for each processor
    QString ExportName;
    QString PasswordFile;
    QStringList Catalogs;
};

// One option: its long name, its short letter, the name of its argument in the help (none: it
// takes none), its help text (a line break continues it in the description column), and what it
// does: set a flag, keep its argument, or check and apply its argument (nullptr, or why the value
// is refused).
struct TOption {
    const char* Name;
    char Short = 0;
    const char* Argument = nullptr;
    const char* Help = "";
    bool TCommandLine::*Flag = nullptr;
    QString TCommandLine::*Text = nullptr;
    const char* (*Apply)(TCommandLine& line, const QString& value) = nullptr;
};

// A catalog: one more, in the order given.
const char* ApplyCatalog(TCommandLine& line, const QString& value)
{
    line.Catalogs.append(value);
    return nullptr;
}

// A job count: a whole number from 1 on.
const char* ApplyJobs(TCommandLine& line, const QString& value)
{
    bool ok = false;
    line.Jobs = value.toInt(&ok);
    return ok && line.Jobs >= 1 && line.Jobs <= 1024 ? nullptr
                                                     : "option '--jobs' needs a number of files from 1 to 1024";
}

// The options, in the order of the help. getopt_long parses them as every GNU tool does: short
// options combined (-rj2), a long option abbreviated as long as it stays unambiguous, its
// argument after "=" or as the next word, and no argument for one that takes none.
constexpr TOption Options[] = {
    {.Name = "all-signatures",
     .Help = "judge every signature nested in the first one too,\nand report each",
     .Flag = &TCommandLine::AllSignatures},
    {.Name = "catalog",
     .Argument = "CAT",
     .Help = "judge files without a signature of their own by the\ncatalog CAT (repeatable) instead of the catalogs\nin their folders",
     .Apply = ApplyCatalog},
    {.Name = "check",
     .Help = "one line per file, \"FILE: OK publisher\",\n\"FILE: ERROR text\", \"FILE: not signed\" or\n"
             "\"FILE: not supported\"; exit status 0 only when every\nfile carries a valid signature",
     .Flag = &TCommandLine::Check},
    {.Name = "explain",
     .Help = "after each verdict, why: the chain as judged with\neach certificate's status, the moment and why,\n"
             "the time stamp, revocation and the digest check",
     .Flag = &TCommandLine::Explain},
    {.Name = "export",
     .Argument = "OUT",
     .Help = "after the report, write FILE's certificates to OUT\nas a PKCS #7 bundle: DER when OUT ends in .der,\n"
             "PEM otherwise (one FILE only)",
     .Text = &TCommandLine::ExportName},
    {.Name = "jobs",
     .Short = 'j',
     .Argument = "N",
     .Help = "inspect N files at a time (default: the number of\nprocessors), the output kept in their order",
     .Apply = ApplyJobs},
    {.Name = "json",
     .Help = "one JSON object per file, a line each\n(/usr/share/tessera/report.schema.json)",
     .Flag = &TCommandLine::Json},
    {.Name = "password-file",
     .Argument = "F",
     .Help = "the key containers' password: the first line of F",
     .Text = &TCommandLine::PasswordFile},
    {.Name = "recursive",
     .Short = 'r',
     .Help = "inspect the files in each folder named, and in its\nfolders",
     .Flag = &TCommandLine::Recursive},
    {.Name = "help", .Help = "display this help and exit", .Flag = &TCommandLine::Help},
    {.Name = "version", .Help = "output version information and exit", .Flag = &TCommandLine::Version},
};

// What getopt_long answers for an option: its short letter, or a number above every letter.
int OptionId(const TOption& option)
{
    return option.Short ? option.Short : 0x100 + static_cast<int>(&option - Options);
}

// The column where the options' descriptions begin.
constexpr size_t HelpColumn = 26;

std::string Usage()
{
    std::string text =
        "Usage: tessera-report [OPTION]... FILE...\n"
        "Print Tessera's report on each FILE: the certificates and signatures it holds.\n"
        "\n"
        "FILE is a Windows executable or DLL, an installer package or other compound\n"
        "document, a cabinet, a catalog (.cat), an app package (.appx .msix and their\n"
        "bundles), a PowerShell script (.ps1 .psm1 .psd1 .ps1xml .psc1 .cdxml), a\n"
        "certificate file (.pem .p7c .p7b .cer .crt .der) or a key container (.pfx\n"
        ".p12). A file without a signature of its own is judged by a catalog that lists\n"
        "it: one given with --catalog, else one in its folder (a driver package). With\n"
        "one FILE a key container's password is read as one line from standard input\n"
        "(end of input cancels); with more, it comes from --password-file or the\n"
        "container is left closed. With more than one FILE, each report follows a line\n"
        "\"==> FILE <==\" and ends with a blank line.\n"
        "\n";
    for (const TOption& option : Options) {
        std::string names = option.Short ? std::string("  -") + option.Short + ", --" : std::string("      --");
        names += option.Name;
        if (option.Argument)
            names += std::string("=") + option.Argument;
        text += names.size() + 2 <= HelpColumn ? names + std::string(HelpColumn - names.size(), ' ')
                                               : names + "\n" + std::string(HelpColumn, ' ');
        for (const char* c = option.Help; *c; ++c)
            text += *c == '\n' ? "\n" + std::string(HelpColumn, ' ') : std::string(1, *c);
        text += '\n';
    }
    text += "\n"
            "Exit status: 0 when the reports were written (with --check: when every file\n"
            "carries a valid signature); 1 when an error stopped a report, or with --check\n"
            "when a file carries no valid signature; 2 for a wrong call.\n"
            "\n";
    return text + HelpFooter();
}

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

int WrongCall(const std::string& message)
{
    std::fprintf(stderr, "tessera-report: %s (try 'tessera-report --help')\n", message.c_str());
    return 2;
}

// An argument as a message quotes it: on one line, with no byte that drives a terminal.
std::string Quoted(std::string_view argument)
{
    std::string text;
    for (const char c : argument)
        text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return text;
}

// Why getopt_long refused an argument, in GNU's words: optopt names the option (0 for a long one
// it does not know), and a long one's words end before optind.
std::string Refusal(int result, char** argv)
{
    const std::string_view given = argv[optind - 1];
    const std::string_view name = given.substr(0, given.find('='));
    const bool longForm = given.starts_with("--");
    const auto known = std::find_if(std::begin(Options), std::end(Options),
                                    [](const TOption& o) { return optopt != 0 && optopt == OptionId(o); });
    if (known != std::end(Options)) {
        if (!longForm)
            return "option requires an argument -- '" + std::string(1, known->Short) + "'";
        return "option '--" + std::string(known->Name) + "' " +
               (result == ':' ? "requires an argument" : "doesn't allow an argument");
    }
    if (optopt != 0)
        return "invalid option -- '" + Quoted(std::string(1, static_cast<char>(optopt))) + "'";
    std::string candidates;
    for (const TOption& option : Options)
        if (name.size() > 2 && std::string_view(option.Name).starts_with(name.substr(2)))
            candidates += std::string(" '--") + option.Name + "'";
    if (candidates.find(' ', 1) != std::string::npos)
        return "option '" + Quoted(name) + "' is ambiguous; possibilities:" + candidates;
    return "unrecognized option '" + Quoted(name) + "'";
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

} // namespace

int main(int argc, char** argv)
{
    // Qt takes none of the user's arguments.
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);

    TCommandLine line;
    std::vector<option> longOptions;
    std::string shortOptions = ":"; // a missing argument is told apart from an unknown option
    for (const TOption& o : Options) {
        longOptions.push_back({o.Name, o.Argument ? required_argument : no_argument, nullptr, OptionId(o)});
        if (o.Short)
            shortOptions += std::string(1, o.Short) + (o.Argument ? ":" : "");
    }
    longOptions.push_back({});
    opterr = 0;
    for (int result; (result = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr)) != -1;) {
        const auto chosen = std::find_if(std::begin(Options), std::end(Options),
                                         [&](const TOption& o) { return result == OptionId(o); });
        if (result == '?' || result == ':' || chosen == std::end(Options))
            return WrongCall(Refusal(result, argv));
        // Names as the file system has them, whatever their bytes.
        const QString value = optarg ? FileNameFromBytes(optarg) : QString();
        if (chosen->Flag)
            line.*chosen->Flag = true;
        if (chosen->Text)
            line.*chosen->Text = value;
        if (const char* refusal = chosen->Apply ? chosen->Apply(line, value) : nullptr)
            return WrongCall(refusal);
        // As GNU tools do: help or version at once, whatever follows.
        if (line.Help || line.Version) {
            WriteOut(line.Help ? Usage() : VersionText("tessera-report"));
            return FinishOutput("tessera-report", 0);
        }
    }
    TBulkOptions bulk;
    bulk.AllSignatures = line.AllSignatures;
    bulk.Check = line.Check;
    bulk.Explain = line.Explain;
    bulk.Catalogs = line.Catalogs;
    bulk.Json = line.Json;
    bulk.Recursive = line.Recursive;
    bulk.Jobs = line.Jobs ? line.Jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = optind; i < argc; ++i)
        bulk.Operands.append(FileNameFromBytes(argv[i]));
    const QString& exportName = line.ExportName;
    const QString& passwordFile = line.PasswordFile;
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
