// The signed containers beside executables and installer packages: cabinets, PowerShell scripts
// and app packages. Each fixture's verdict, the package that claims a file and the signature it
// finds there, nested signatures and time stamps as for executables, and the app package's block
// map, which only its own check can catch lying.
// OpenSSL's headers before wincrypt.h's (platform/wintrust/Ossl.h says why).
#include "platform/wintrust/AppxSip.h"

#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/mssip.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

using namespace wintrusttest;
using testsupport::Fixture;

namespace {

struct ContainerCase {
    const char* File; // under tests/fixtures/containers
    HRESULT Result;
};

// The results Windows' policy gives with the test root trusted (the time stamps' signer is the
// test intermediate's).
const ContainerCase Containers[] = {
    {"cab/valid.cab", S_OK},
    {"cab/ts.cab", S_OK},
    {"cab/nested.cab", S_OK},
    {"cab/bad-digest.cab", TRUST_E_BAD_DIGEST},
    {"cab/unsigned.cab", TRUST_E_NOSIGNATURE},
    {"script/valid.ps1", S_OK},
    {"script/ts.ps1", S_OK},
    {"script/nested.ps1", S_OK},
    {"script/utf16.ps1", S_OK},
    {"script/module.psm1", S_OK},
    {"script/types.ps1xml", S_OK},
    {"script/bad-digest.ps1", TRUST_E_BAD_DIGEST},
    {"script/text-after.ps1", TRUST_E_BAD_DIGEST},
    {"script/unsigned.ps1", TRUST_E_NOSIGNATURE},
    {"appx/valid.msix", S_OK},
    {"appx/ts.msix", S_OK},
    {"appx/code-integrity.msix", S_OK},
    {"appx/valid.msixbundle", S_OK},
    {"appx/bad-digest.msix", TRUST_E_BAD_DIGEST},
    {"appx/block-map-lies.msix", TRUST_E_BAD_DIGEST},
    {"appx/unsigned.msix", TRUST_E_NOSIGNATURE},
};

std::filesystem::path Container(const std::string& name)
{
    return Fixture("containers/" + name);
}

TEST(ContainerTest, FixturesGiveWindowsResults)
{
    const TrustAnchors anchors(Anchors::Root);
    for (const ContainerCase& c : Containers) {
        const Verification verification(Container(c.File));
        EXPECT_EQ(Hex(verification.result()), Hex(c.Result)) << c.File;
        if (c.Result == TRUST_E_NOSIGNATURE)
            continue;
        ASSERT_NE(verification.signer(), nullptr) << c.File;
        // A time stamp is a counter-signer, as for executables.
        const bool stamped = std::string_view(c.File).find("/ts.") != std::string_view::npos;
        EXPECT_EQ(verification.signer()->csCounterSigners, stamped ? 1u : 0u) << c.File;
    }
    // Without a trusted root the same signatures are not trusted.
    const TrustAnchors none(Anchors::None);
    for (const char* file : {"cab/valid.cab", "script/valid.ps1", "appx/valid.msix"}) {
        const Verification verification(Container(file));
        EXPECT_EQ(Hex(verification.result()), Hex(CERT_E_UNTRUSTEDROOT)) << file;
    }
}

TEST(ContainerTest, NestedSignaturesAreCountedAndJudged)
{
    const TrustAnchors anchors(Anchors::Root);
    for (const char* file : {"cab/nested.cab", "script/nested.ps1"}) {
        for (const DWORD index : {0u, 1u}) {
            Verification verification(Container(file), Open::Handle);
            verification.Close();
            WINTRUST_SIGNATURE_SETTINGS settings{};
            settings.cbStruct = sizeof settings;
            settings.dwIndex = index;
            settings.dwFlags = WSS_VERIFY_SPECIFIC | WSS_GET_SECONDARY_SIG_COUNT;
            WINTRUST_DATA& request = verification.request();
            request.pSignatureSettings = &settings;
            request.dwStateAction = WTD_STATEACTION_VERIFY;
            GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
            EXPECT_EQ(Hex(WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request)), Hex(S_OK))
                << file << " signature " << index;
            EXPECT_EQ(settings.cSecondarySigs, 1u) << file;
            EXPECT_EQ(settings.dwVerifiedSigIndex, index) << file;
            verification.Close();
        }
    }
}

// A file opened as the program opens it, for the subject interface functions.
class OpenFile {
public:
    explicit OpenFile(const std::filesystem::path& path)
        : FPath(winstr::FromFileSystem(path.string())), FFd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~OpenFile()
    {
        if (FFd >= 0)
            close(FFd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    [[nodiscard]] LPCWSTR path() const { return FPath.c_str(); }
    [[nodiscard]] HANDLE handle() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(FFd) + 1); }
    [[nodiscard]] int descriptor() const { return FFd; }

private:
    std::u16string FPath;
    int FFd;
};

TEST(ContainerTest, EachFileIsClaimedByItsPackage)
{
    const testsupport::TempDir dir;
    // A script is claimed by its name, whatever it holds; a cabinet by its first bytes.
    testsupport::WriteText(dir / "any-text.PSM1", "not much of a module\n");
    testsupport::WriteBytes(dir / "cabinet.bin", testsupport::ReadBytes(Container("cab/valid.cab")));
    const struct {
        std::filesystem::path File;
        const GUID* Subject; // null: no package claims it
    } cases[] = {
        {Container("cab/valid.cab"), &CRYPT_SUBJTYPE_CABINET_IMAGE},
        {dir / "cabinet.bin", &CRYPT_SUBJTYPE_CABINET_IMAGE},
        {Container("script/valid.ps1"), &SUBJTYPE_POWERSHELL_SCRIPT},
        {Container("script/types.ps1xml"), &SUBJTYPE_POWERSHELL_SCRIPT},
        {dir / "any-text.PSM1", &SUBJTYPE_POWERSHELL_SCRIPT},
        {Container("appx/valid.msix"), &SUBJTYPE_APPX_PACKAGE},
        {Container("appx/valid.msixbundle"), &SUBJTYPE_APPX_BUNDLE},
        {Signed("valid.exe"), &CRYPT_SUBJTYPE_PE_IMAGE},
        {Signed("msi-ts.msi"), &CRYPT_SUBJTYPE_STRUCTURED_STORAGE},
        {Fixture("pe/text.txt"), nullptr},
        {Fixture("certs/three.p7b"), nullptr},
    };
    for (const auto& c : cases) {
        const OpenFile file(c.File);
        GUID subject{};
        SetLastError(0);
        const BOOL claimed = CryptSIPRetrieveSubjectGuid(file.path(), file.handle(), &subject);
        EXPECT_EQ(claimed != FALSE, c.Subject != nullptr) << c.File;
        if (c.Subject)
            EXPECT_TRUE(subject == *c.Subject) << c.File;
        else
            EXPECT_EQ(Hex(static_cast<HRESULT>(GetLastError())), Hex(TRUST_E_SUBJECT_FORM_UNKNOWN)) << c.File;
    }
}

TEST(ContainerTest, TheSignatureIsWhatThePackageFinds)
{
    for (const char* name : {"cab/ts.cab", "script/utf16.ps1", "appx/ts.msix"}) {
        const OpenFile file(Container(name));
        GUID type{};
        ASSERT_TRUE(CryptSIPRetrieveSubjectGuid(file.path(), file.handle(), &type)) << name;
        SIP_SUBJECTINFO subject{};
        subject.cbSize = sizeof subject;
        subject.pgSubjectType = &type;
        subject.hFile = file.handle();
        subject.pwsFileName = file.path();
        DWORD encoding = 0;
        DWORD size = 0;
        ASSERT_TRUE(CryptSIPGetSignedDataMsg(&subject, &encoding, 0, &size, nullptr)) << name;
        EXPECT_EQ(encoding, DWORD{X509_ASN_ENCODING | PKCS_7_ASN_ENCODING});
        std::vector<BYTE> message(size);
        DWORD small = size - 1;
        EXPECT_FALSE(CryptSIPGetSignedDataMsg(&subject, &encoding, 0, &small, message.data())) << name;
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(small, size);
        ASSERT_TRUE(CryptSIPGetSignedDataMsg(&subject, &encoding, 0, &size, message.data())) << name;
        // A ContentInfo holding a SignedData, which crypt32 decodes.
        HCRYPTMSG decoded = CryptMsgOpenToDecode(encoding, 0, 0, 0, nullptr, nullptr);
        ASSERT_NE(decoded, nullptr);
        EXPECT_TRUE(CryptMsgUpdate(decoded, message.data(), size, TRUE)) << name;
        DWORD signers = 0;
        DWORD cb = sizeof signers;
        EXPECT_TRUE(CryptMsgGetParam(decoded, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &cb));
        EXPECT_EQ(signers, 1u) << name;
        CryptMsgClose(decoded);

        // Another package's type, a second signature, an unsigned file: none.
        GUID other = type == CRYPT_SUBJTYPE_CABINET_IMAGE ? SUBJTYPE_POWERSHELL_SCRIPT : CRYPT_SUBJTYPE_CABINET_IMAGE;
        subject.pgSubjectType = &other;
        EXPECT_FALSE(CryptSIPGetSignedDataMsg(&subject, &encoding, 0, &size, nullptr)) << name;
        EXPECT_EQ(Hex(static_cast<HRESULT>(GetLastError())), Hex(TRUST_E_SUBJECT_FORM_UNKNOWN));
        subject.pgSubjectType = &type;
        EXPECT_FALSE(CryptSIPGetSignedDataMsg(&subject, &encoding, 1, &size, nullptr)) << name;
    }
    for (const char* name : {"cab/unsigned.cab", "script/unsigned.ps1", "appx/unsigned.msix"}) {
        const OpenFile file(Container(name));
        SIP_SUBJECTINFO subject{};
        subject.cbSize = sizeof subject;
        subject.hFile = file.handle();
        subject.pwsFileName = file.path();
        DWORD size = 0;
        EXPECT_FALSE(CryptSIPGetSignedDataMsg(&subject, nullptr, 0, &size, nullptr)) << name;
        EXPECT_EQ(Hex(static_cast<HRESULT>(GetLastError())), Hex(TRUST_E_NOSIGNATURE)) << name;
    }
}

// A script's signature block that cannot be read is no signature; one whose Base64 does not
// decode is one that cannot be decoded.
TEST(ContainerTest, ScriptBlocksThatAreNotSignatures)
{
    const std::string valid = testsupport::ReadText(Container("script/valid.ps1"));
    const size_t begin = valid.find("# SIG # Begin signature block");
    const size_t end = valid.find("# SIG # End signature block");
    ASSERT_NE(begin, std::string::npos);
    const std::string body = valid.substr(0, begin);
    const std::string block = valid.substr(begin, end - begin);
    const struct {
        const char* What;
        std::string Text;
        HRESULT Result;
    } cases[] = {
        {"a block without its end", body + block, TRUST_E_NOSIGNATURE},
        {"a block on the first line", valid.substr(begin), TRUST_E_NOSIGNATURE},
        {"a line that is no comment inside the block", body + block + "Write-Output 'inside'\r\n" + valid.substr(end),
         TRUST_E_NOSIGNATURE},
        {"a block of no Base64", body + "# SIG # Begin signature block\r\n# !!!!\r\n" + valid.substr(end),
         DIGSIG_E_DECODE},
        {"the markers in XML comments of a .ps1",
         body + "<!-- SIG # Begin signature block -->\r\n<!-- "
                "SIG # End signature block -->\r\n",
         TRUST_E_NOSIGNATURE},
        {"line feeds only, as the signer wrote them",
         [&] {
             std::string lf = valid;
             for (size_t at = 0; (at = lf.find("\r\n", at)) != std::string::npos;)
                 lf.erase(at, 1);
             return lf;
         }(),
         TRUST_E_BAD_DIGEST},
    };
    const TrustAnchors anchors(Anchors::Root);
    for (const auto& c : cases)
        EXPECT_EQ(Hex(VerifyBytes(Bytes(c.Text.begin(), c.Text.end()), "script.ps1")), Hex(c.Result)) << c.What;
}

// ---------------------------------------------------------------------------------------------
// The block map

TEST(BlockMapTest, WhatIsABlockMap)
{
    const std::string sha256 = R"(HashMethod="http://www.w3.org/2001/04/xmlenc#sha256")";
    // The base64 of 32 zero bytes.
    const std::string hash = R"(Hash="AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=")";
    const struct {
        const char* What;
        std::string Xml;
        bool Parses;
    } cases[] = {
        {"two files, one without blocks",
         "<BlockMap " + sha256 + R"(><File Name="a\b.txt" Size="3" LfhSize="37"><Block )" + hash +
             R"( Size="5"/></File><File Name="empty" Size="0" LfhSize="35"/></BlockMap>)",
         true},
        {"SHA-1, which block maps never use", R"(<BlockMap HashMethod="http://www.w3.org/2000/09/xmldsig#sha1"/>)",
         false},
        {"no hash method", "<BlockMap/>", false},
        {"another root", "<Package " + sha256 + "/>", false},
        {"a hash of the wrong length",
         "<BlockMap " + sha256 + R"(><File Name="a" Size="3" LfhSize="31"><Block Hash="AAAA"/></File></BlockMap>)",
         false},
        {"a hash that is no Base64",
         "<BlockMap " + sha256 + R"(><File Name="a" Size="3" LfhSize="31"><Block Hash="!!"/></File></BlockMap>)",
         false},
        {"a size that is no number", "<BlockMap " + sha256 + R"(><File Name="a" Size="-3" LfhSize="31"/></BlockMap>)",
         false},
        {"a file without a name", "<BlockMap " + sha256 + R"(><File Size="3" LfhSize="31"/></BlockMap>)", false},
        {"a file in a file",
         "<BlockMap " + sha256 +
             R"(><File Name="a" Size="0" LfhSize="31"><File Name="b" Size="0" LfhSize="31"/></File></BlockMap>)",
         false},
        {"a block outside a file", "<BlockMap " + sha256 + "><Block " + hash + "/></BlockMap>", false},
        {"XML cut short", "<BlockMap " + sha256 + R"(><File Name="a")", false},
    };
    for (const auto& c : cases) {
        wintrust::BlockMap map;
        const bool parsed = wintrust::ParseBlockMap(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(c.Xml.data()), c.Xml.size()), map);
        EXPECT_EQ(parsed, c.Parses) << c.What;
        if (c.Parses) {
            ASSERT_EQ(map.Files.size(), 2u);
            EXPECT_EQ(map.Files[0].Name, "a\\b.txt");
            EXPECT_EQ(map.Files[0].LfhSize, 37u);
            EXPECT_EQ(map.Files[0].BlockHashes.size(), 1u);
            EXPECT_TRUE(map.Files[1].BlockHashes.empty());
        }
    }
}

// The package and its block map, read as the package's digest check reads them.
struct Package {
    explicit Package(const std::filesystem::path& path) : Fd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (const auto source = FileSource::FromDescriptor(Fd))
            Archive = zip::Archive::Open(*source);
        const zip::Entry* entry = Archive ? Archive->Find("AppxBlockMap.xml") : nullptr;
        std::vector<uint8_t> xml;
        Parsed =
            entry && Archive->ReadAll(*entry, 1 << 20, xml) == deflate::Status::Ok && wintrust::ParseBlockMap(xml, Map);
    }
    ~Package() { close(Fd); }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;
    int Fd;
    std::optional<zip::Archive> Archive;
    wintrust::BlockMap Map;
    bool Parsed = false;
};

TEST(BlockMapTest, EveryBlockOfEveryFileMustMatch)
{
    for (const char* name :
         {"appx/unsigned.msix", "appx/valid.msix", "appx/code-integrity.msix", "appx/valid.msixbundle"}) {
        const Package package(Container(name));
        ASSERT_TRUE(package.Parsed) << name;
        uint64_t budget = wintrust::InflateBudget(package.Archive->file().size());
        EXPECT_EQ(Hex(wintrust::CheckBlockMap(*package.Archive, package.Map, budget)), Hex(S_OK)) << name;
    }
    const Package lying(Container("appx/block-map-lies.msix"));
    ASSERT_TRUE(lying.Parsed);
    uint64_t budget = wintrust::InflateBudget(lying.Archive->file().size());
    EXPECT_EQ(Hex(wintrust::CheckBlockMap(*lying.Archive, lying.Map, budget)), Hex(TRUST_E_BAD_DIGEST));

    // A file the block map does not list, one it lists that is not there, another size, or
    // more inflating than the budget allows: each is a bad digest.
    const Package package(Container("appx/valid.msix"));
    ASSERT_TRUE(package.Parsed);
    const auto check = [&](wintrust::BlockMap map, uint64_t budget) {
        return Hex(wintrust::CheckBlockMap(*package.Archive, map, budget));
    };
    wintrust::BlockMap missing = package.Map;
    missing.Files.pop_back();
    EXPECT_EQ(check(missing, UINT64_MAX), Hex(TRUST_E_BAD_DIGEST));
    wintrust::BlockMap renamed = package.Map;
    renamed.Files.front().Name = "Elsewhere.xml";
    EXPECT_EQ(check(renamed, UINT64_MAX), Hex(TRUST_E_BAD_DIGEST));
    wintrust::BlockMap twice = package.Map;
    twice.Files.back() = twice.Files.front();
    EXPECT_EQ(check(twice, UINT64_MAX), Hex(TRUST_E_BAD_DIGEST));
    wintrust::BlockMap resized = package.Map;
    resized.Files.front().Size += 1;
    EXPECT_EQ(check(resized, UINT64_MAX), Hex(TRUST_E_BAD_DIGEST));
    EXPECT_EQ(check(package.Map, 100000), Hex(TRUST_E_BAD_DIGEST));
    EXPECT_EQ(check(package.Map, UINT64_MAX), Hex(S_OK));
}

} // namespace
