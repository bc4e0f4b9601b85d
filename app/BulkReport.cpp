#include "app/BulkReport.h"

#include "app/CommandLine.h"
#include "app/ReportJson.h"
#include "support/ControlText.h"
#include "support/FileName.h"

#include <QJsonDocument>

#include <dirent.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// A report kept as text until its turn comes; for a terminal, with the control characters of its
// lines made visible.
class TextSink final : public IReportSink {
public:
    explicit TextSink(bool terminal) : FTerminal(terminal) {}
    void Clear() override { FText.clear(); }
    void BeginBatch() override {}
    void EndBatch() override {}
    void AddLine(const QString& line) override
    {
        const QByteArray bytes = line.toUtf8();
        const std::string_view text(bytes.constData(), static_cast<size_t>(bytes.size()));
        FText += FTerminal ? TerminalVisible(text) : std::string(text);
        FText += '\n';
    }
    void CaretToTop() override {}
    [[nodiscard]] std::string& Text() { return FText; }

private:
    bool FTerminal;
    std::string FText;
};

struct FileResult {
    std::string Out; // standard output
    std::string Err; // standard error, after it
    bool Failed = false;
    bool Passed = false;
};

std::string Bytes(const QString& name)
{
    return FileNameToBytes(name).toStdString();
}

FileResult InspectOne(const QString& path, const TBulkOptions& options)
{
    // What goes to a terminal shows the control characters that a file's names and fields hold.
    static const bool terminalOut = isatty(STDOUT_FILENO) == 1;
    static const bool terminalErr = isatty(STDERR_FILENO) == 1;
    const auto forOut = [](std::string text) { return terminalOut ? TerminalVisible(text) : text; };
    const auto forErr = [](std::string text) { return terminalErr ? TerminalVisible(text) : text; };
    FileResult result;
    TextSink sink(terminalOut);
    TUnattendedHost host(options.Password, options.HavePassword, options.AskPassword);
    TInspectionRecord record;
    TInspectionOptions inspection;
    inspection.AllSignatures = options.AllSignatures || options.Json;
    inspection.Explain = options.Explain && !options.Json && !options.Check;
    inspection.Accounts = options.Json;
    inspection.Catalogs = options.Catalogs;
    inspection.Record = &record;
    QString password;
    QString error;
    try {
        InspectFile(path, password, sink, host, inspection);
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
        result.Failed = true;
    }
    const TCheckVerdict verdict = CheckVerdictOf(record);
    result.Passed = !result.Failed && verdict.Passed();
    // The report says what the program says of such a file; the reason is the system's.
    const std::string unreadable = UnreadableReason(path);
    if (options.Json) {
        QJsonObject object = result.Failed ? InspectionErrorToJson(path, error) : InspectionToJson(record, path);
        if (!result.Failed && !unreadable.empty())
            object.insert(QStringLiteral("error"), QString::fromLocal8Bit(unreadable));
        if (options.Check)
            AddCheckVerdict(object, result.Failed ? TCheckVerdict{TCheckVerdict::Status::Error, error} : verdict);
        result.Out = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
    } else if (options.Check) {
        const QString line = result.Failed ? QStringLiteral("ERROR ") + error : verdict.Line();
        result.Out = forOut(CheckLine(Bytes(path), line.toUtf8().toStdString()));
    } else {
        if (options.Headers)
            result.Out = "==> " + forOut(Bytes(path)) + " <==\n";
        result.Out += sink.Text();
        if (options.Headers)
            result.Out += "\n";
    }
    if (result.Failed)
        result.Err += "tessera-report: " + forErr(Bytes(path) + ": " + error.toUtf8().toStdString()) + "\n";
    if (!unreadable.empty())
        result.Err += "tessera-report: " + forErr(Bytes(path)) + ": " + unreadable + "\n";
    return result;
}

void Walk(const std::string& folder, QStringList& files)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) {
        std::fprintf(stderr, "tessera-report: %s: %s\n", folder.c_str(), std::strerror(errno));
        return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder.ends_with('/') ? folder + name : folder + "/" + name;
        struct stat link {};
        if (lstat(path.c_str(), &link) != 0) {
            std::fprintf(stderr, "tessera-report: %s: %s\n", path.c_str(), std::strerror(errno));
            continue;
        }
        if (S_ISDIR(link.st_mode)) {
            Walk(path, files);
            continue;
        }
        // A link to a folder is not followed; a link to a file is a file.
        struct stat target {};
        if (S_ISLNK(link.st_mode) && stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            continue;
        // Everything else is a file: a FIFO, a device or a socket too, which is reported as a file
        // that cannot be read, as it would be when named.
        files.append(FileNameFromBytes(QByteArrayView(path.data(), static_cast<qsizetype>(path.size()))));
    }
}

} // namespace

QStringList ExpandOperands(const QStringList& operands, bool recursive)
{
    QStringList files;
    for (const QString& operand : operands) {
        const std::string path = Bytes(operand);
        struct stat info {};
        if (recursive && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            Walk(path, files);
        else
            files.append(operand);
    }
    return files;
}

int RunBulkReport(const TBulkOptions& options)
{
    const QStringList files = ExpandOperands(options.Operands, options.Recursive);
    const size_t count = static_cast<size_t>(files.size());
    const size_t jobs = std::clamp<size_t>(static_cast<size_t>(std::max(options.Jobs, 1)), 1, std::max<size_t>(count, 1));
    // Results wait for their turn; workers run at most this far ahead of the output.
    const size_t window = 4 * jobs;

    std::mutex lock;
    std::condition_variable ready;
    std::condition_variable room;
    // A slot for each file between the output and the furthest worker: index % window.
    std::vector<std::optional<FileResult>> results(window);
    size_t next = 0;
    size_t written = 0;

    const auto work = [&] {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock guard(lock);
                room.wait(guard, [&] { return next >= count || next < written + window; });
                if (next >= count)
                    return;
                index = next++;
            }
            FileResult result = InspectOne(files[static_cast<qsizetype>(index)], options);
            {
                const std::lock_guard guard(lock);
                results[index % window] = std::move(result);
            }
            ready.notify_all();
        }
    };
    // With one job the output's own thread inspects; with more, that many workers do while it
    // writes.
    std::vector<std::thread> workers;
    for (size_t i = 0; jobs > 1 && i < jobs; ++i)
        workers.emplace_back(work);

    bool failed = false;
    bool allPassed = true;
    for (size_t index = 0; index < count; ++index) {
        FileResult result;
        if (jobs == 1) {
            result = InspectOne(files[static_cast<qsizetype>(index)], options);
        } else {
            std::unique_lock guard(lock);
            std::optional<FileResult>& slot = results[index % window];
            ready.wait(guard, [&] { return slot.has_value(); });
            result = std::move(*slot);
            slot.reset();
            written = index + 1;
            guard.unlock();
            room.notify_all();
        }
        WriteOut(result.Out);
        if (!result.Err.empty()) {
            FlushOut();
            std::fputs(result.Err.c_str(), stderr);
        }
        failed = failed || result.Failed;
        allPassed = allPassed && result.Passed;
    }
    for (std::thread& worker : workers)
        worker.join();
    const int status = options.Check ? (allPassed && !failed ? 0 : 1) : (failed ? 1 : 0);
    return FinishOutput("tessera-report", status);
}
