// Whole reports of fixtures compared with golden files (tests/golden). The time zone, the locale and
// the trust store are pinned by the test environment. To write the golden files anew after a
// deliberate change: TESSERA_UPDATE_GOLDEN=1 ctest -R GoldenReport, then review the difference.
#include "app/Inspection.h"
#include "app/ReportJson.h"
#include "tests/support/JsonSchema.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// As the programs do (QCoreApplication sets it up): 8-bit texts convert through the user's locale.
const bool LocaleSet = std::setlocale(LC_ALL, "") != nullptr;

struct GoldenCase {
    const char* Golden;  // tests/golden/<Golden>.txt
    const char* Fixture; // under tests/fixtures
    // Inspected under this name (the extension decides for certificate files), else as it is.
    const char* InspectedAs = nullptr;
    // The password typed at the prompt; null: the prompt is cancelled.
    const char* Password = nullptr;
    // Trust the roots the signed fixtures are made under (tests/fixtures/trust-tessera.pem).
    bool Trusted = false;
};

// The report, with a last line "!! <message>" when an error left the inspection.
std::string Report(const fs::path& file, const char* password, const TInspectionOptions& options = {})
{
    RecordingSink report;
    RecordingHost host;
    if (password)
        host.Answer = QString::fromUtf8(password);
    QString entered;
    std::string error;
    try {
        InspectFile(QString::fromStdString(file.string()), entered, report, host, options);
    } catch (const std::exception& e) {
        error = std::string("!! ") + e.what() + "\n";
    }
    EXPECT_EQ(report.Depth, 0);
    return report.Text() + error;
}

// The file to inspect, in dir when it is inspected under another name, and the trust the case
// asks for.
fs::path Prepare(const GoldenCase& c, const TempDir& dir)
{
    fs::path file = Fixture(c.Fixture);
    if (c.InspectedAs) {
        file = dir / c.InspectedAs;
        fs::copy_file(Fixture(c.Fixture), file);
    }
    setenv("SSL_CERT_FILE", Fixture(c.Trusted ? "trust-tessera.pem" : "no-trust.pem").c_str(), 1);
    return file;
}

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenReport, MatchesTheGoldenFile)
{
    const GoldenCase& c = GetParam();
    TempDir dir;
    const fs::path file = Prepare(c, dir);
    const std::string difference =
        CompareGolden(Report(file, c.Password), fs::path(TESSERA_SOURCE_DIR) / "tests/golden" / (std::string(c.Golden) + ".txt"));
    EXPECT_TRUE(difference.empty()) << difference;
}

// The JSON of every golden fixture follows the schema, and says what the report says: as many
// certificates with the same thumbprints, the same verdict, the same message.
TEST_P(GoldenReport, ItsJsonFollowsTheSchemaAndTheReport)
{
    const GoldenCase& c = GetParam();
    TempDir dir;
    const fs::path file = Prepare(c, dir);
    RecordingSink report;
    RecordingHost host;
    if (c.Password)
        host.Answer = QString::fromUtf8(c.Password);
    TInspectionRecord record;
    TInspectionOptions options;
    options.AllSignatures = true;
    options.Accounts = true;
    options.Record = &record;
    QString entered;
    try {
        InspectFile(QString::fromStdString(file.string()), entered, report, host, options);
    } catch (const std::exception&) {
        // The error object of such a file is checked by the command-line tests.
        return;
    }
    const QJsonObject json = InspectionToJson(record, QString::fromStdString(file.string()));
    static const QJsonObject schema = LoadJsonSchema("docs/report.schema.json");
    const QStringList problems = ValidateJson(json, schema);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();

    // A line break before the report: a signed container's report begins with its verdict.
    const std::string text = "\n" + report.Text();
    const QJsonArray certificates = json.value(u"certificates").toArray();
    size_t blocks = 0;
    for (size_t at = text.find("Thumbprint: "); at != std::string::npos; at = text.find("Thumbprint: ", at + 1)) {
        EXPECT_EQ(certificates.at(static_cast<qsizetype>(blocks)).toObject().value(u"thumbprint").toString().toStdString(),
                  text.substr(at + 12, 40));
        ++blocks;
    }
    EXPECT_EQ(static_cast<size_t>(certificates.size()), blocks);
    const QJsonArray signatures = json.value(u"signatures").toArray();
    if (!signatures.isEmpty()) {
        // The primary verdict is the report's first: a publisher, or an error with its text.
        const QJsonObject primary = signatures.first().toObject();
        const size_t publisher = text.find("\nPublisher: ");
        const size_t error = text.find("\nERROR: ");
        EXPECT_EQ(primary.value(u"valid").toBool(), publisher < error);
        if (!primary.value(u"valid").toBool()) {
            EXPECT_EQ(text.find("\nERROR: " + primary.value(u"text").toString().toStdString()), error);
        }
    }
    if (json.contains(u"message")) {
        EXPECT_NE(text.find(json.value(u"message").toString().toStdString()), std::string::npos);
    }
}

std::string CaseName(const ::testing::TestParamInfo<GoldenCase>& info)
{
    std::string name = info.param.Golden;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

const GoldenCase CertificateFiles[] = {
    {"certs/v1", "certs/v1.pem"},
    {"certs/v3-ku-eku", "certs/v3-ku-eku.pem"},
    {"certs/root-der-cer", "certs/root.cer"},
    {"certs/root-der-crt", "certs/root.cer", "root.crt"},
    {"certs/root-der-der", "certs/root.cer", "root.der"},
    {"certs/root-der-upper-case", "certs/root.cer", "ROOT.CER"},
    {"certs/rsa-3072", "certs/rsa-3072.pem"},
    {"certs/rsa-4096", "certs/rsa-4096.pem"},
    {"certs/ec-p256", "certs/ec-p256.pem"},
    {"certs/ec-p384", "certs/ec-p384.pem"},
    {"certs/ec-p521", "certs/ec-p521.pem"},
    {"certs/ed25519", "certs/ed25519.pem"},
    {"certs/ku-certsign-crlsign", "certs/ku-certsign-crlsign.pem"},
    {"certs/ku-digsig-dataenc", "certs/ku-digsig-dataenc.pem"},
    {"certs/ku-encipheronly", "certs/ku-encipheronly.pem"},
    {"certs/serial-leading-zero", "certs/serial-leading-zero.pem"},
    {"certs/serial-05", "certs/serial-05.pem"},
    {"certs/serial-20bytes", "certs/serial-20bytes.pem"},
    {"certs/name-comma", "certs/name-comma.pem"},
    {"certs/name-plus", "certs/name-plus.pem"},
    {"certs/name-quote", "certs/name-quote.pem"},
    {"certs/name-leading-space", "certs/name-leading-space.pem"},
    {"certs/name-multivalued", "certs/name-multivalued.pem"},
    {"certs/name-email", "certs/name-email.pem"},
    {"certs/name-specials", "certs/name-specials.pem"},
    {"certs/no-cn-ou", "certs/no-cn-ou.pem"},
    {"certs/email-only", "certs/email-only.pem"},
    {"certs/three-pem", "certs/three.pem"},
    {"certs/three-p7b", "certs/three.p7b"},
    {"certs/three-p7c", "certs/three.p7c"},
    {"certs/three-crl-p7b", "certs/three-crl.p7b"},
    // An attribute certificate beside the three, as CMS allows: the same report.
    {"certs/three-attrcert-p7b", "signed/three-attrcert.p7b"},
    {"certs/text-before", "certs/text-before.pem"},
    {"certs/bom", "certs/bom.pem"},
    {"certs/garbage-cer", "pe/text.txt", "garbage.cer"},
    // Edges: what the export writes, BER, CRLs alone, text that begins with "0", the end of the
    // calendar, names in the older string types, key usage from the key-attributes extension.
    {"certs/export-three", "certs/export-three.pem"},
    {"certs/export-three-crt", "certs/export-three.pem", "export.crt"},
    {"certs/three-ber", "certs/three-ber.p7b"},
    {"certs/crl-only-pem", "certs/crl-only.pem"},
    {"certs/crl-only-der", "certs/crl-only.der"},
    {"certs/zero-first", "certs/zero-first.cer"},
    {"certs/no-expiry", "certs/no-expiry.pem"},
    {"certs/name-t61-utf8", "certs/name-t61-utf8.pem"},
    {"certs/name-t61-latin1", "certs/name-t61-latin1.pem"},
    {"certs/name-other-strings", "certs/name-other-strings.pem"},
    {"certs/key-attributes", "certs/key-attributes.pem"},
};

const GoldenCase KeyContainers[] = {
    {"pfx/leaf-aes", "certs/leaf-aes.pfx", nullptr, "tessera"},
    {"pfx/leaf-aes-p12", "certs/leaf-aes.pfx", "leaf.p12", "tessera"},
    {"pfx/leaf-legacy", "certs/leaf-legacy.pfx", nullptr, "tessera"},
    {"pfx/certs-only", "certs/certs-only.pfx", nullptr, "tessera"},
    {"pfx/empty-password", "certs/empty-password.pfx", nullptr, ""},
    {"pfx/chain", "certs/chain.pfx", nullptr, "tessera"},
    {"pfx/wrong-password", "certs/leaf-aes.pfx", nullptr, "wrong"},
    {"pfx/cancelled", "certs/leaf-aes.pfx", nullptr, nullptr},
    // Two billion iterations asked for: refused before any is made.
    {"pfx/mac-iterations", "certs/pfx-mac-iterations.pfx", nullptr, "tessera"},
    {"pfx/pbe-iterations", "certs/pfx-pbe-iterations.pfx", nullptr, "tessera"},
    {"pfx/key-iterations", "certs/pfx-key-iterations.pfx", nullptr, "tessera"},
    {"pfx/key-iterations-empty-password", "certs/pfx-key-iterations.pfx", nullptr, ""},
    // Derivations modest one by one: what counts is their sum.
    {"pfx/total-iterations", "certs/pfx-total-iterations.pfx", nullptr, "tessera"},
    {"pfx/many-iterations", "certs/pfx-many-iterations.pfx", nullptr, "tessera"},
};

const GoldenCase Executables[] = {
    {"pe/gui", "pe/gui.exe"},
    {"pe/gui64", "pe/gui64.exe"},
    {"pe/console64", "pe/console64.exe"},
    {"pe/library", "pe/library.dll"},
    {"pe/version-notrans", "pe/version-notrans.exe"},
    {"pe/version-twolang", "pe/version-twolang.exe"},
    {"pe/version-prerelease-b0", "pe/version-prerelease-b0.exe"},
    {"pe/version-prerelease-b7", "pe/version-prerelease-b7.exe"},
    {"pe/version-product", "pe/version-product.exe"},
    {"pe/version-missing-keys", "pe/version-missing-keys.exe"},
    {"pe/ne-win16", "pe/ne-win16.exe"},
    {"pe/dos", "pe/dos.exe"},
    {"pe/trunc-coff", "pe/trunc-coff.exe"},
    {"pe/trunc-optional", "pe/trunc-optional.exe"},
    {"pe/section-past-end", "pe/section-past-end.exe"},
    {"pe/rsrc-data-past-end", "pe/rsrc-data-past-end.exe"},
    {"pe/rsrc-loop", "pe/rsrc-loop.exe"},
    {"pe/version-bad-child", "pe/version-bad-child.exe"},
    {"pe/cert-table-past-end", "pe/cert-table-past-end.exe"},
    {"pe/cert-entry-too-long", "pe/cert-entry-too-long.exe"},
    // Version resources at the edges.
    {"pe/version-binary-string", "pe/version-binary-string.exe"},
    {"pe/version-short-length", "pe/version-short-length.exe"},
    {"pe/version-text-translation", "pe/version-text-translation.exe"},
    {"pe/version-three-languages", "pe/version-three-languages.exe"},
    {"pe/version-neutral", "pe/version-neutral.exe"},
    {"pe/version-id7", "pe/version-id7.exe"},
    {"pe/ne-version", "pe/ne-version.exe"},
};

const GoldenCase CompoundFiles[] = {
    {"compound/full-v3", "compound/full-v3.cfb"},
    {"compound/full-v4", "compound/full-v4.cfb"},
    {"compound/no-suminfo", "compound/no-suminfo.cfb"},
    {"compound/difat", "compound/difat.cfb"},
    {"compound/empty-package", "compound/empty-package.msi"},
    {"compound/one-file", "compound/one-file.msi"},
    // A compound file is one whatever its extension.
    {"compound/full-v3-as-cer", "compound/full-v3.cfb", "document.cer"},
    // Damaged ones: the storage's error ends the report, or the damage only touches what is not read.
    {"compound/malformed-byte-order", "compound/malformed/byte-order.cfb"},
    {"compound/malformed-fat-count-huge", "compound/malformed/fat-count-huge.cfb"},
    {"compound/malformed-fat-cycle", "compound/malformed/fat-cycle.cfb"},
    {"compound/malformed-ministream-huge", "compound/malformed/ministream-huge.cfb"},
    {"compound/malformed-propset-bad-count", "compound/malformed/propset-bad-count.cfb"},
    {"compound/malformed-propset-bad-offset", "compound/malformed/propset-bad-offset.cfb"},
    {"compound/malformed-propset-bad-values", "compound/malformed/propset-bad-values.cfb"},
    {"compound/malformed-propset-huge-dictionary", "compound/malformed/propset-huge-dictionary.cfb"},
    {"compound/malformed-propset-value-outside", "compound/malformed/propset-value-outside.cfb"},
    {"compound/malformed-sector-shift-30", "compound/malformed/sector-shift-30.cfb"},
    {"compound/malformed-short-header", "compound/malformed/short-header.cfb"},
    {"compound/malformed-stream-chain-cycle", "compound/malformed/stream-chain-cycle.cfb"},
    {"compound/malformed-stream-chain-short", "compound/malformed/stream-chain-short.cfb"},
    {"compound/malformed-stream-size-huge", "compound/malformed/stream-size-huge.cfb"},
    {"compound/malformed-tree-bad-id", "compound/malformed/tree-bad-id.cfb"},
    {"compound/malformed-tree-loop", "compound/malformed/tree-loop.cfb"},
    {"compound/malformed-truncated", "compound/malformed/truncated.cfb"},
    // Arrays among the summary properties, and a title in code page 932.
    {"compound/propset-array", "compound/propset-array.cfb"},
    {"compound/propset-cp932", "compound/propset-cp932.cfb"},
};

const GoldenCase SignedFiles[] = {
    {"signed/valid", "signed/valid.exe", nullptr, nullptr, true},
    {"signed/valid-sha1", "signed/valid-sha1.exe", nullptr, nullptr, true},
    {"signed/valid64", "signed/valid64.exe", nullptr, nullptr, true},
    {"signed/no-opus", "signed/no-opus.exe", nullptr, nullptr, true},
    {"signed/opus-urls", "signed/opus-urls.exe", nullptr, nullptr, true},
    {"signed/opus-file", "signed/opus-file.exe", nullptr, nullptr, true},
    {"signed/ts-legacy", "signed/ts-legacy.exe", nullptr, nullptr, true},
    {"signed/ts-rfc3161", "signed/ts-rfc3161.exe", nullptr, nullptr, true},
    {"signed/ts-rfc3161-64", "signed/ts-rfc3161-64.exe", nullptr, nullptr, true},
    // The token also carries an attribute certificate, as Microsoft's do: the same report.
    {"signed/ts-rfc3161-attrcert", "signed/ts-rfc3161-attrcert.exe", nullptr, nullptr, true},
    {"signed/expired", "signed/expired.exe", nullptr, nullptr, true},
    {"signed/expired-ts-rfc3161", "signed/expired-ts-rfc3161.exe", nullptr, nullptr, true},
    {"signed/expired-ts-legacy", "signed/expired-ts-legacy.exe", nullptr, nullptr, true},
    {"signed/untrusted-root", "signed/untrusted-root.exe", nullptr, nullptr, true},
    {"signed/nested", "signed/nested.exe", nullptr, nullptr, true},
    {"signed/no-intermediate", "signed/no-intermediate.exe", nullptr, nullptr, true},
    {"signed/bad-digest", "signed/bad-digest.exe", nullptr, nullptr, true},
    {"signed/bad-digest64", "signed/bad-digest64.exe", nullptr, nullptr, true},
    {"signed/bad-signature", "signed/bad-signature.exe", nullptr, nullptr, true},
    {"signed/no-signer-cert", "signed/no-signer-cert.exe", nullptr, nullptr, true},
    {"signed/wrong-usage", "signed/wrong-usage.exe", nullptr, nullptr, true},
    {"signed/revoked", "signed/revoked.exe", nullptr, nullptr, true},
    {"signed/revoked-crl-in-message", "signed/revoked-crl-in-message.exe", nullptr, nullptr, true},
    {"signed/ts-legacy-broken", "signed/ts-legacy-broken.exe", nullptr, nullptr, true},
    {"signed/ts-rfc3161-broken", "signed/ts-rfc3161-broken.exe", nullptr, nullptr, true},
    {"signed/msi-ts-msi", "signed/msi-ts.msi", nullptr, nullptr, true},
    {"signed/msi-dse-ts-msi", "signed/msi-dse-ts.msi", nullptr, nullptr, true},
    {"signed/msi-dse-sha1-msi", "signed/msi-dse-sha1.msi", nullptr, nullptr, true},
    {"signed/msi-bad-digest-msi", "signed/msi-bad-digest.msi", nullptr, nullptr, true},
    {"signed/msi-meta-changed-msi", "signed/msi-meta-changed.msi", nullptr, nullptr, true},
    {"signed/msi-dse-meta-changed-msi", "signed/msi-dse-meta-changed.msi", nullptr, nullptr, true},
    // Shapes of real files: image layouts, old time-stamp services and roots, lifetime signing,
    // elliptic curves and a spoofed root.
    {"signed/layout-overlap", "signed/layout-overlap.exe", nullptr, nullptr, true},
    {"signed/layout-gaps", "signed/layout-gaps.exe", nullptr, nullptr, true},
    {"signed/layout-overlay", "signed/layout-overlay.exe", nullptr, nullptr, true},
    {"signed/ts-legacy-bare-digest", "signed/ts-legacy-bare-digest.exe", nullptr, nullptr, true},
    {"signed/ts-legacy-bare-digest-changed", "signed/ts-legacy-bare-digest-changed.exe", nullptr, nullptr, true},
    {"signed/expired-ts-old-root", "signed/expired-ts-old-root.exe", nullptr, nullptr, true},
    {"signed/intermediate-no-bc", "signed/intermediate-no-bc.exe", nullptr, nullptr, true},
    {"signed/lifetime-ts", "signed/lifetime-ts.exe", nullptr, nullptr, true},
    {"signed/lifetime-expired-ts", "signed/lifetime-expired-ts.exe", nullptr, nullptr, true},
    {"signed/ec-valid", "signed/ec-valid.exe", nullptr, nullptr, true},
    {"signed/ec-spoof", "signed/ec-spoof.exe", nullptr, nullptr, true},
    // Without the test root the same signature is not trusted.
    {"signed/valid-untrusted", "signed/valid.exe"},
    {"signed/msi-ts-untrusted", "signed/msi-ts.msi"},
};

// With the explanation: every signature's chain as judged, its moment, time stamp, revocation and
// digest, after its verdict (tests/golden/explain).
class GoldenExplanation : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenExplanation, MatchesTheGoldenFile)
{
    const GoldenCase& c = GetParam();
    TempDir dir;
    const fs::path file = Prepare(c, dir);
    TInspectionOptions options;
    options.AllSignatures = true;
    options.Explain = true;
    const std::string name = fs::path(c.Golden).filename().string();
    const std::string difference = CompareGolden(MaskJudgedNow(Report(file, c.Password, options)),
                                                 fs::path(TESSERA_SOURCE_DIR) / "tests/golden/explain" / (name + ".txt"));
    EXPECT_TRUE(difference.empty()) << difference;
}

// The signed containers: the executable's report without its version block.
const GoldenCase Containers[] = {
    {"containers/cab-valid", "containers/cab/valid.cab", nullptr, nullptr, true},
    {"containers/cab-ts", "containers/cab/ts.cab", nullptr, nullptr, true},
    {"containers/cab-nested", "containers/cab/nested.cab", nullptr, nullptr, true},
    {"containers/cab-bad-digest", "containers/cab/bad-digest.cab", nullptr, nullptr, true},
    {"containers/cab-unsigned", "containers/cab/unsigned.cab", nullptr, nullptr, true},
    {"containers/cab-valid-untrusted", "containers/cab/valid.cab"},
    {"containers/script-valid", "containers/script/valid.ps1", nullptr, nullptr, true},
    {"containers/script-ts", "containers/script/ts.ps1", nullptr, nullptr, true},
    {"containers/script-nested", "containers/script/nested.ps1", nullptr, nullptr, true},
    {"containers/script-utf16", "containers/script/utf16.ps1", nullptr, nullptr, true},
    {"containers/script-module", "containers/script/module.psm1", nullptr, nullptr, true},
    {"containers/script-types", "containers/script/types.ps1xml", nullptr, nullptr, true},
    {"containers/script-bad-digest", "containers/script/bad-digest.ps1", nullptr, nullptr, true},
    {"containers/script-text-after", "containers/script/text-after.ps1", nullptr, nullptr, true},
    {"containers/script-unsigned", "containers/script/unsigned.ps1", nullptr, nullptr, true},
    // A script is one by its name: the same text under another name is not.
    {"containers/script-as-txt", "containers/script/valid.ps1", "script.txt", nullptr, true},
    {"containers/appx-valid", "containers/appx/valid.msix", nullptr, nullptr, true},
    {"containers/appx-ts", "containers/appx/ts.msix", nullptr, nullptr, true},
    {"containers/appx-code-integrity", "containers/appx/code-integrity.msix", nullptr, nullptr, true},
    {"containers/appx-bundle", "containers/appx/valid.msixbundle", nullptr, nullptr, true},
    {"containers/appx-as-appx", "containers/appx/valid.msix", "package.APPX", nullptr, true},
    {"containers/appx-bad-digest", "containers/appx/bad-digest.msix", nullptr, nullptr, true},
    {"containers/appx-block-map-lies", "containers/appx/block-map-lies.msix", nullptr, nullptr, true},
    {"containers/appx-unsigned", "containers/appx/unsigned.msix", nullptr, nullptr, true},
    {"containers/appx-not-zip", "pe/text.txt", "package.msix", nullptr, true},
    // Catalogs: their own signature, and the files of a driver package that a catalog beside them
    // signs; a changed driver is in no catalog.
    {"containers/catalog-valid", "containers/catalog/valid.cat", nullptr, nullptr, true},
    {"containers/catalog-ts", "containers/driver/tessera.cat", nullptr, nullptr, true},
    {"containers/catalog-bad-digest", "containers/catalog/bad-digest.cat", nullptr, nullptr, true},
    {"containers/catalog-unsigned", "containers/catalog/unsigned.cat", nullptr, nullptr, true},
    {"containers/catalog-not-catalog", "certs/three.p7b", "bundle.cat", nullptr, true},
    {"containers/driver-sys", "containers/driver/tessera.sys", nullptr, nullptr, true},
    {"containers/driver-dll", "containers/driver/tessera.dll", nullptr, nullptr, true},
    {"containers/driver-inf", "containers/driver/tessera.inf", nullptr, nullptr, true},
    {"containers/driver-sys-untrusted", "containers/driver/tessera.sys"},
    {"containers/driver-changed-sys", "containers/driver-changed/tessera.sys", nullptr, nullptr, true},
    {"containers/driver-changed-inf", "containers/driver-changed/tessera.inf", nullptr, nullptr, true},
    {"containers/driver-sha1-sys", "containers/driver-sha1/tessera.sys", nullptr, nullptr, true},
    // The same executable away from its catalog is not signed.
    {"containers/driver-sys-alone", "containers/driver/tessera.sys", "tessera.sys", nullptr, true},
};

INSTANTIATE_TEST_SUITE_P(CertificateFiles, GoldenReport, ::testing::ValuesIn(CertificateFiles), CaseName);
INSTANTIATE_TEST_SUITE_P(KeyContainers, GoldenReport, ::testing::ValuesIn(KeyContainers), CaseName);
INSTANTIATE_TEST_SUITE_P(Executables, GoldenReport, ::testing::ValuesIn(Executables), CaseName);
INSTANTIATE_TEST_SUITE_P(CompoundFiles, GoldenReport, ::testing::ValuesIn(CompoundFiles), CaseName);
INSTANTIATE_TEST_SUITE_P(SignedFiles, GoldenReport, ::testing::ValuesIn(SignedFiles), CaseName);
INSTANTIATE_TEST_SUITE_P(Containers, GoldenReport, ::testing::ValuesIn(Containers), CaseName);
INSTANTIATE_TEST_SUITE_P(SignedFiles, GoldenExplanation, ::testing::ValuesIn(SignedFiles), CaseName);
INSTANTIATE_TEST_SUITE_P(Containers, GoldenExplanation, ::testing::ValuesIn(Containers), CaseName);

} // namespace
