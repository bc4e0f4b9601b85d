// The whole inspection of a file through the report sink, as tessera-report runs it, with the
// bytes under each name that decides a different path: a certificate file, a ".pem" (with the
// armoured-text fallback), a key container with a fixed password, and a name no extension claims
// (which still reads compound files and executables by their content). Each verdict is explained.
#include "fuzz/common/FuzzFolder.h"
#include "app/BulkReport.h"
#include "app/Inspection.h"
#include "app/ReportJson.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class CountingSink final : public IReportSink {
public:
    void Clear() override {}
    void BeginBatch() override {}
    void EndBatch() override {}
    void AddLine(const QString& line) override { Total += line.size(); }
    void CaretToTop() override {}
    qsizetype Total = 0;
};

std::string Folder()
{
    static const FuzzFolder folder("inspection");
    return folder.Path();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const char* name : {"input.cer", "input.pem", "input.pfx", "input.bin"}) {
        const std::string path = Folder() + "/" + name;
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, f);
            std::fclose(f);
        }
        CountingSink sink;
        TUnattendedHost host(QStringLiteral("tessera"), true);
        TInspectionRecord record;
        TInspectionOptions options;
        options.AllSignatures = true;
        // Every verdict's account too: in the report's words and in the JSON.
        options.Explain = true;
        options.Accounts = true;
        options.Record = &record;
        QString password;
        try {
            InspectFile(QString::fromStdString(path), password, sink, host, options);
            (void)InspectionToJson(record, QString::fromStdString(path));
        } catch (const std::exception&) {
            // An error the report shows after what it wrote.
        }
    }
    return 0;
}
