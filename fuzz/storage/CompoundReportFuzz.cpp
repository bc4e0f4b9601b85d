// The compound-file part of the report on arbitrary bytes: the summary information listed through
// the storage wrappers and the value texts, and the signature stream read and described.
#include "fuzz/common/FuzzFolder.h"
#include "app/Inspection.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "support/Exceptions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class DiscardingSink final : public IReportSink {
public:
    void Clear() override {}
    void BeginBatch() override {}
    void EndBatch() override {}
    void AddLine(const QString& line) override { Total += line.size(); }
    void CaretToTop() override {}
    qsizetype Total = 0;
};

QString InputFile(const uint8_t* data, size_t size)
{
    static const FuzzFolder folder("compound");
    static const std::string path = folder.Path() + "/input.msi";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return QString::fromStdString(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString file = InputFile(data, size);
    DiscardingSink lines;
    try {
        ListSummaryInformation(file, lines);
        HCERTSTORE store = nullptr;
        OpenCompoundSignatureStore(file, store);
        if (store) {
            TCertStoreInfo info;
            DescribeCertStore(store, info);
            CertCloseStore(store, 0);
        }
    } catch (const EOleSysError&) {
        // A compound file that cannot be opened is an error the report shows.
    }
    return 0;
}
