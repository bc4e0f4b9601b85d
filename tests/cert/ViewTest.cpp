// Which certificate or signer the viewing commands hand to the dialogs (a recording stand-in
// takes the dialogs' place).
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// All the real stand-ins but the viewer, which is the recording one.
class ViewEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        for (const char* library : {"libtessera-crypt32.so", "libtessera-trust.so", "libtessera-wintrust.so"})
            if (fs::exists(BinaryDir() / library))
                fs::create_symlink(BinaryDir() / library, Modules.path() / library);
        fs::create_symlink(fs::path(FAKE_VIEWER_DIR) / "libtessera-cryptui.so", Modules / "libtessera-cryptui.so");
        setenv("TESSERA_MODULE_DIR", Modules.path().c_str(), 1);
    }
    TempDir Modules;
};

::testing::Environment* const Environment = ::testing::AddGlobalTestEnvironment(new ViewEnvironment);

class Shown {
public:
    Shown() { setenv("TESSERA_FAKE_VIEW_OUT", (Dir / "shown").c_str(), 1); }
    [[nodiscard]] bool Anything() const { return fs::exists(Dir / "shown"); }
    [[nodiscard]] std::string Bytes() const { return ReadText(Dir / "shown"); }

private:
    TempDir Dir;
};

QString FixturePath(const char* name)
{
    return QString::fromStdString(Fixture(name).string());
}

std::string FirstCertificateDer(const char* fixture)
{
    PCCERT_CONTEXT certificate = nullptr;
    EXPECT_TRUE(GetFirstFileCertificate(FixturePath(fixture), certificate));
    if (!certificate)
        return {};
    std::string der(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
    CertFreeCertificateContext(certificate);
    return der;
}

TEST(View, CertificateFileShowsItsFirstCertificate)
{
    const Shown shown;
    ViewCertificateFile(nullptr, FixturePath("certs/three.p7b"));
    ASSERT_TRUE(shown.Anything());
    EXPECT_EQ(shown.Bytes(), FirstCertificateDer("certs/v3-ku-eku.pem"));
}

TEST(View, KeyContainerShowsTheCertificateWithTheKeyElseTheFirst)
{
    {
        // Only certificates without a key: the first of them.
        const Shown shown;
        ViewPfxCertificate(nullptr, FixturePath("certs/certs-only.pfx"), QStringLiteral("tessera"));
        EXPECT_EQ(shown.Bytes(), FirstCertificateDer("certs/v3-ku-eku.pem"));
    }
    {
        const Shown shown;
        ViewPfxCertificate(nullptr, FixturePath("certs/chain.pfx"), QStringLiteral("tessera"));
        EXPECT_EQ(shown.Bytes(), FirstCertificateDer("certs/v3-ku-eku.pem"));
    }
    {
        const Shown shown;
        ViewPfxCertificate(nullptr, FixturePath("certs/chain.pfx"), QStringLiteral("wrong"));
        EXPECT_FALSE(shown.Anything());
    }
}

// The signer dialog gets the first signer with its message, whatever the verdict was.
TEST(View, SignedFilesShowTheirSigner)
{
    for (const char* file : {"signed/valid.exe", "signed/untrusted-root.exe", "signed/msi-ts.msi"}) {
        const Shown shown;
        const HRESULT result = ViewFileSigner(FixturePath(file), reinterpret_cast<HWND>(1));
        EXPECT_NE(result, TRUST_E_PROVIDER_UNKNOWN) << file;
        EXPECT_EQ(shown.Bytes(), "signer info message 1.3.6.1.5.5.7.3.3") << file;
    }
    const Shown shown;
    ViewFileSigner(FixturePath("pe/gui.exe"), reinterpret_cast<HWND>(1));
    EXPECT_FALSE(shown.Anything()) << "an unsigned file has no signer to show";
}

TEST(View, NothingWithoutACertificate)
{
    const Shown shown;
    ViewCertificateFile(nullptr, FixturePath("pe/text.txt"));
    ViewCertificateFile(nullptr, FixturePath("certs/missing.cer"));
    EXPECT_FALSE(shown.Anything());
}

} // namespace
