// The inspection's decision and the shape of its report, written through a recording sink.
#include "app/Inspection.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string NotSupported = "File type is not supported\n";
const std::string NoCertificate = "File contains no certificate\n";
const std::string NoCertificateOrPassword = "File contains no certificate or password is not valid\n";
const std::string ProtectionOutOfBounds =
    "ERROR: The key container's protection is out of bounds (too many key-derivation iterations)\n";
const std::string UnsignedExecutable = "Company: \nDescription: \nProduct: \nProd version: \nFile version: \n"
                                       "Copyright: \n\nFile is not signed\n\n";

struct Inspection {
    RecordingSink Report;
    RecordingHost Host;
    QString Password;

    void Run(const fs::path& file) { InspectFile(QString::fromStdString(file.string()), Password, Report, Host); }
};

enum class Kind { File, Folder, Missing, Fixture }; // Fixture: Content names one, copied

struct DecisionCase {
    const char* Name;
    Kind Type;
    const char* Content;
    std::string Report;
    bool Prompted;
};

// Content and extension decide; the extension lists match every leading part of a listed extension.
const DecisionCase DecisionCases[] = {
    {"upper.CER", Kind::File, "not a certificate", NoCertificate, false},
    {"partial.p7", Kind::File, "not a certificate", NoCertificate, false},
    {"partial.c", Kind::File, "not a certificate", NoCertificate, false},
    {"dot.", Kind::File, "not a certificate", NoCertificate, false},
    {"partial.pf", Kind::File, "not a container", NoCertificateOrPassword, true},
    {"partial.p1", Kind::File, "not a container", NoCertificateOrPassword, true},
    {"noextension", Kind::File, "plain text", NotSupported, false},
    {"text.txt", Kind::File, "plain text", NotSupported, false},
    {"backup.pem.bak", Kind::File, "plain text", NotSupported, false},
    {"empty.exe", Kind::File, "", NotSupported, false},
    {"one-byte.exe", Kind::File, "M", NotSupported, false},
    {"lower-case.exe", Kind::File, "mz", NotSupported, false},
    {"text-beginning-mz.txt", Kind::File, "MZ is how executables begin", UnsignedExecutable, false},
    {"two-bytes.der", Kind::File, "MZ", UnsignedExecutable, false},
    {"missing.exe", Kind::Missing, "", NotSupported, false},
    {"missing.cer", Kind::Missing, "", NoCertificate, false},
    {"missing.pfx", Kind::Missing, "", NoCertificateOrPassword, true},
    {"folder", Kind::Folder, "", NotSupported, false},
    {"folder.der", Kind::Folder, "", NoCertificate, false},
    // CRLs alone make no certificate file, in PEM as in DER; neither View nor Export is offered.
    {"crls.pem", Kind::Fixture, "certs/crl-only.pem", NoCertificate, false},
    {"crls.der", Kind::Fixture, "certs/crl-only.der", NoCertificate, false},
    // A container that asks for two billion iterations is not one with a wrong password.
    {"protected.pfx", Kind::Fixture, "certs/pfx-mac-iterations.pfx", ProtectionOutOfBounds, true},
};

class Decision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Decision, ReportFollowsContentThenExtension)
{
    const DecisionCase& c = GetParam();
    TempDir dir;
    const fs::path file = dir / c.Name;
    if (c.Type == Kind::File)
        WriteText(file, c.Content);
    else if (c.Type == Kind::Folder)
        fs::create_directory(file);
    else if (c.Type == Kind::Fixture)
        fs::copy_file(Fixture(c.Content), file);

    Inspection inspection;
    inspection.Host.Answer = QStringLiteral("secret");
    inspection.Run(file);

    EXPECT_EQ(inspection.Report.Text(), c.Report);
    EXPECT_EQ(inspection.Host.Prompts, c.Prompted ? 1 : 0);
    EXPECT_FALSE(inspection.Host.StoreCommands);
    EXPECT_TRUE(inspection.Host.Properties);
    EXPECT_EQ(inspection.Host.FileName.toStdString(), file.string());
    if (c.Type == Kind::Folder || c.Type == Kind::Missing) {
        EXPECT_TRUE(inspection.Host.FileType.isEmpty());
    }
    EXPECT_EQ(inspection.Report.Batches, 1);
    EXPECT_EQ(inspection.Report.Depth, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, Decision, ::testing::ValuesIn(DecisionCases),
                         [](const auto& info) {
                             std::string name = info.param.Name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(Inspection, CancelledPasswordPromptWritesNothing)
{
    TempDir dir;
    WriteText(dir / "container.pfx", "not a container");
    Inspection inspection;
    inspection.Run(dir / "container.pfx");
    EXPECT_EQ(inspection.Host.Prompts, 1);
    EXPECT_TRUE(inspection.Report.Lines.isEmpty());
    EXPECT_TRUE(inspection.Password.isEmpty());
    EXPECT_FALSE(inspection.Host.StoreCommands);
    EXPECT_TRUE(inspection.Host.Properties);
    EXPECT_TRUE(inspection.Report.CaretAtTop);
}

TEST(Inspection, PasswordIsKeptAfterAWrongOneAndEmptiedByTheNextInspection)
{
    TempDir dir;
    WriteText(dir / "container.p12", "not a container");
    WriteText(dir / "text.txt", "plain");
    Inspection inspection;
    inspection.Host.Answer = QStringLiteral("typed");
    inspection.Run(dir / "container.p12");
    EXPECT_EQ(inspection.Password, QStringLiteral("typed"));

    inspection.Host.Answer.reset();
    inspection.Run(dir / "text.txt");
    EXPECT_TRUE(inspection.Password.isEmpty());
    EXPECT_EQ(inspection.Report.Text(), NotSupported);
}

TEST(Inspection, EveryInspectionReplacesTheWholeReport)
{
    TempDir dir;
    WriteText(dir / "program.exe", "MZ");
    WriteText(dir / "text.txt", "plain");
    Inspection inspection;
    inspection.Run(dir / "program.exe");
    inspection.Run(dir / "text.txt");
    EXPECT_EQ(inspection.Report.Clears, 2);
    EXPECT_EQ(inspection.Report.Text(), NotSupported);
}

TEST(Inspection, EarlyEndLeavesTheCaretWhereItWas)
{
    TempDir dir;
    WriteText(dir / "broken.cer", "not a certificate");
    Inspection inspection;
    inspection.Run(dir / "broken.cer");
    EXPECT_FALSE(inspection.Report.CaretAtTop);
    EXPECT_EQ(inspection.Report.Depth, 0);
}

TEST(Extensions, ListsAreSearchedAsWholeTexts)
{
    for (const char* e : {".pem", ".p7c", ".p7b", ".cer", ".crt", ".der", ".p", ".pe", ".p7", ".c", ".ce", ".cr",
                          ".d", ".de", "."})
        EXPECT_TRUE(IsListedExtension(QString::fromLatin1(e), CertificateFileExtensions)) << e;
    for (const char* e : {".pfx", ".p12", ".pf", ".p1", ".p"})
        EXPECT_TRUE(IsListedExtension(QString::fromLatin1(e), KeyContainerExtensions)) << e;
    for (const char* e : {"", ".txt", ".pemx", ".7c", ".exe"})
        EXPECT_FALSE(IsListedExtension(QString::fromLatin1(e), CertificateFileExtensions)) << e;
    EXPECT_EQ(InspectedExtension(QStringLiteral("/tmp/a.b/File.CER")), QStringLiteral(".cer"));
    EXPECT_EQ(InspectedExtension(QStringLiteral("/tmp/a.b/noext")), QString());
}

} // namespace
