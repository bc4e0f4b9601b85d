// Exporting a store: PKCS #7 bundles as PEM (8-bit text, CR LF, lines of 64) and DER.
#include "app/Inspection.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "support/Exceptions.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace testsupport;

namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;

StorePtr OpenFixtureStore(const std::string& fixture)
{
    HCERTSTORE store = nullptr;
    EXPECT_TRUE(OpenCertificateFileStore(QString::fromStdString(Fixture(fixture).string()), store)) << fixture;
    return StorePtr(store);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string PemText(HCERTSTORE store)
{
    TMemoryStream stream;
    EXPECT_TRUE(SaveStoreToPemStream(store, stream));
    EXPECT_EQ(stream.Position(), 0);
    return std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

struct LayoutCase {
    const char* Fixture;
    size_t FullLines;
    size_t LastLine; // 0: no shorter last line
};

class PemLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PemLayout, MarkersAroundLinesOf64)
{
    const LayoutCase& c = GetParam();
    const StorePtr store = OpenFixtureStore(c.Fixture);
    const std::vector<std::string> lines = Lines(PemText(store.get()));
    ASSERT_EQ(lines.size(), c.FullLines + (c.LastLine ? 1 : 0) + 2);
    EXPECT_EQ(lines.front(), "-----BEGIN CERTIFICATE-----");
    EXPECT_EQ(lines.back(), "-----END CERTIFICATE-----");
    for (size_t i = 1; i <= c.FullLines; ++i)
        EXPECT_EQ(lines[i].size(), 64u) << i;
    if (c.LastLine) {
        EXPECT_EQ(lines[c.FullLines + 1].size(), c.LastLine);
    }
}

// 1,100 bytes are 1,468 Base64 characters; 1,104 bytes exactly 23 lines, with no empty line after them.
INSTANTIATE_TEST_SUITE_P(Sizes, PemLayout,
                         ::testing::Values(LayoutCase{"export/export-1100.pem", 22, 60},
                                           LayoutCase{"export/export-1104.pem", 23, 0}));

TEST(Export, PemAndDerCarryTheSameBytesAndReplaceOldFiles)
{
    TempDir dir;
    WriteText(dir / "out.pem", std::string(10000, 'x'));
    const StorePtr store = OpenFixtureStore("certs/three.pem");
    const QString pem = QString::fromStdString((dir / "out.pem").string());
    const QString der = QString::fromStdString((dir / "out.der").string());
    EXPECT_TRUE(ExportStoreToPemFile(store.get(), pem));
    EXPECT_TRUE(ExportStoreToDerFile(store.get(), der));

    const std::string text = ReadText(dir / "out.pem");
    EXPECT_EQ(text.rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u) << "no byte-order mark, the old content gone";
    std::string body;
    for (const std::string& line : Lines(text))
        if (line.rfind("-----", 0) != 0)
            body += line;
    const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(body));
    EXPECT_EQ(decoded.toStdString(), ReadText(dir / "out.der"));
    // A PKCS #7 bundle with the three certificates, read back as a certificate file.
    HCERTSTORE reread = nullptr;
    ASSERT_TRUE(OpenCertificateFileStore(der, reread));
    TCertStoreInfo again, original;
    DescribeCertStore(reread, again);
    DescribeCertStore(store.get(), original);
    CertCloseStore(reread, 0);
    ASSERT_EQ(again.size(), 3u);
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(again[i].Thumbprint, original[i].Thumbprint);
}

TEST(Export, PemFileThatCannotBeCreatedRaises)
{
    const StorePtr store = OpenFixtureStore("certs/v1.pem");
    EXPECT_THROW(ExportStoreToPemFile(store.get(), QStringLiteral("/nonexistent-folder/out.pem")), EFCreateError);
    EXPECT_FALSE(ExportStoreToDerFile(store.get(), QStringLiteral("/nonexistent-folder/out.der")));
}

// The certificate blocks of a file's report, with "tessera" typed at a password prompt.
QStringList CertificateBlocks(const QString& file)
{
    RecordingSink report;
    RecordingHost host;
    host.Answer = QStringLiteral("tessera");
    QString password;
    InspectFile(file, password, report, host);
    const qsizetype first = report.Lines.indexOf(QRegularExpression(QStringLiteral("Certificate .*")));
    return first < 0 ? QStringList() : report.Lines.mid(first);
}

// What the program writes it reads back: every certificate file and key container of the
// fixtures, exported as PEM and as DER and inspected again under each certificate-file name.
TEST(Export, EveryCertificateFileReadsBackAsItWasWritten)
{
    TempDir dir;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Fixture("certs"))) {
        const QString path = QString::fromStdString(entry.path().string());
        const QString extension = InspectedExtension(path);
        if (!IsListedExtension(extension, CertificateFileExtensions) &&
            !IsListedExtension(extension, KeyContainerExtensions))
            continue;
        const QStringList original = CertificateBlocks(path);
        if (original.isEmpty())
            continue; // nothing to export
        ++files;
        const StorePtr store(OpenInspectedFileStore(path, QStringLiteral("tessera")));
        ASSERT_TRUE(store) << entry.path();
        const QString pem = QString::fromStdString((dir / "export.pem").string());
        const QString der = QString::fromStdString((dir / "export.der").string());
        ASSERT_TRUE(ExportStoreToPemFile(store.get(), pem));
        ASSERT_TRUE(ExportStoreToDerFile(store.get(), der));
        std::filesystem::copy_file(dir / "export.pem", dir / "export.crt",
                                   std::filesystem::copy_options::overwrite_existing);
        for (const char* name : {"export.pem", "export.crt", "export.der"})
            EXPECT_EQ(CertificateBlocks(QString::fromStdString((dir / name).string())).join(u'\n').toStdString(),
                      original.join(u'\n').toStdString())
                << entry.path() << " exported as " << name;
    }
    EXPECT_GE(files, 40u);
}

// The export of a signed executable holds the certificates of its signature, not the executable.
TEST(Export, SignedExecutableExportListsTheSameCertificates)
{
    TempDir dir;
    const QString executable = QString::fromStdString(Fixture("pe/signed.exe").string());
    const StorePtr store(OpenInspectedFileStore(executable, QString()));
    ASSERT_TRUE(store);
    const QString target = QString::fromStdString((dir / "signature.der").string());
    ASSERT_TRUE(ExportStoreToDerFile(store.get(), target));

    const QStringList original = CertificateBlocks(executable);
    ASSERT_FALSE(original.isEmpty());
    EXPECT_EQ(CertificateBlocks(target), original);
}

// What a signed container exports: the certificates of the signature its package finds, a large
// signature too (a script whose block carries Windows' signed root list, some 190 KiB).
TEST(Export, ASignedContainersStoreHoldsItsSignaturesCertificatesWhateverTheirSize)
{
    const auto count = [](HCERTSTORE store) {
        size_t n = 0;
        for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;)
            ++n;
        return n;
    };
    for (const char* fixture : {"containers/cab/ts.cab", "containers/script/valid.ps1", "containers/appx/valid.msix",
                                "containers/catalog/valid.cat"}) {
        const StorePtr store(OpenInspectedFileStore(QString::fromStdString(Fixture(fixture).string()), QString()));
        ASSERT_TRUE(store) << fixture;
        EXPECT_GE(count(store.get()), 2u) << fixture;
    }

    const QByteArray message = QByteArray::fromStdString(
        ReadText(std::filesystem::path(TESSERA_SOURCE_DIR) / "platform/common/authroot/authroot.stl"));
    ASSERT_GT(message.size(), 64 * 1024);
    HCERTSTORE direct = nullptr;
    ASSERT_TRUE(OpenPkcs7Store(message, direct));
    const StorePtr expected(direct);
    std::string script = "Write-Output 'large'\r\n# SIG # Begin signature block\r\n";
    const QByteArray base64 = message.toBase64();
    for (qsizetype at = 0; at < base64.size(); at += 64)
        script += "# " + base64.mid(at, 64).toStdString() + "\r\n";
    script += "# SIG # End signature block\r\n";
    TempDir dir;
    WriteText(dir / "large.ps1", script);
    const StorePtr store(OpenInspectedFileStore(QString::fromStdString((dir / "large.ps1").string()), QString()));
    ASSERT_TRUE(store);
    EXPECT_EQ(count(store.get()), count(expected.get()));
    EXPECT_GT(count(store.get()), 0u);
}

} // namespace
