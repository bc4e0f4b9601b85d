// Catalogs: their own signature, their members as CryptCATOpen lists them, the administrator that
// finds the catalog listing a file's hash, and WinVerifyTrust on a file as a catalog lists it.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include "platform/common/WinStr.h"
#include "platform/include/win/mscat.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string_view>

using namespace wintrusttest;
using testsupport::Fixture;

namespace {

std::filesystem::path Container(const std::string& name)
{
    return Fixture("containers/" + name);
}

std::u16string Wide(const std::filesystem::path& path)
{
    return winstr::FromFileSystem(path.string());
}

// A file open for reading, as a handle of the stand-ins.
class OpenFile {
public:
    explicit OpenFile(const std::filesystem::path& path) : FFd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenFile()
    {
        if (FFd >= 0)
            close(FFd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    [[nodiscard]] HANDLE handle() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(FFd) + 1); }

private:
    int FFd;
};

struct AdminCloser {
    void operator()(HCATADMIN admin) const { CryptCATAdminReleaseContext(admin, 0); }
};
using AdminPtr = std::unique_ptr<void, AdminCloser>;

AdminPtr Acquire(const char16_t* algorithm)
{
    HCATADMIN admin = nullptr;
    EXPECT_TRUE(CryptCATAdminAcquireContext2(&admin, nullptr, algorithm, nullptr, 0));
    return AdminPtr(admin);
}

std::vector<BYTE> HashOf(HCATADMIN admin, const std::filesystem::path& file)
{
    const OpenFile opened(file);
    DWORD size = 0;
    EXPECT_TRUE(CryptCATAdminCalcHashFromFileHandle2(admin, opened.handle(), &size, nullptr, 0));
    std::vector<BYTE> hash(size);
    EXPECT_TRUE(CryptCATAdminCalcHashFromFileHandle2(admin, opened.handle(), &size, hash.data(), 0));
    return hash;
}

std::u16string Tag(const std::vector<BYTE>& hash)
{
    static constexpr char16_t Digits[] = u"0123456789ABCDEF";
    std::u16string tag;
    for (const BYTE b : hash) {
        tag += Digits[b >> 4];
        tag += Digits[b & 15];
    }
    return tag;
}

TEST(CatalogTest, ACatalogsOwnSignature)
{
    const TrustAnchors anchors(Anchors::Root);
    const struct {
        const char* File;
        HRESULT Result;
    } cases[] = {
        {"catalog/valid.cat", S_OK},
        {"driver/tessera.cat", S_OK},
        {"driver-sha1/tessera-sha1.cat", S_OK},
        // A member's hash changed inside the signed list.
        {"catalog/bad-digest.cat", TRUST_E_BAD_DIGEST},
        // makecat's output before signing: a list nobody signed yet.
        {"catalog/unsigned.cat", TRUST_E_NOSIGNATURE},
    };
    for (const auto& c : cases) {
        const Verification verification(Container(c.File));
        EXPECT_EQ(Hex(verification.result()), Hex(c.Result)) << c.File;
    }
    const Verification stamped(Container("driver/tessera.cat"));
    ASSERT_NE(stamped.signer(), nullptr);
    EXPECT_EQ(stamped.signer()->csCounterSigners, 1u);
}

// A catalog read once is read anew when its bytes change, even rewritten in place at the same size
// and with the same time.
TEST(CatalogTest, ARewrittenCatalogIsReadAnew)
{
    const TrustAnchors anchors(Anchors::Root);
    const testsupport::TempDir dir;
    const std::filesystem::path catalog = dir / "rewritten.cat";
    std::filesystem::copy_file(Container("catalog/valid.cat"), catalog);
    const auto written = std::filesystem::last_write_time(catalog);
    EXPECT_EQ(Hex(Verification(catalog).result()), Hex(S_OK));

    ASSERT_EQ(std::filesystem::file_size(Container("catalog/bad-digest.cat")), std::filesystem::file_size(catalog));
    std::filesystem::copy_file(Container("catalog/bad-digest.cat"), catalog,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::last_write_time(catalog, written);
    EXPECT_EQ(Hex(Verification(catalog).result()), Hex(TRUST_E_BAD_DIGEST));
}

TEST(CatalogTest, OnlyATrustListOfCatalogMembersIsACatalog)
{
    const testsupport::TempDir dir;
    std::filesystem::copy_file(Fixture("certs/three.p7b"), dir / "bundle.cat");
    // Windows' root list is a certificate trust list too, of another subject usage.
    std::filesystem::copy_file(Fixture("authroot/authroot.stl"), dir / "roots.cat");
    std::filesystem::copy_file(Container("catalog/valid.cat"), dir / "catalog.bin");
    const struct {
        std::filesystem::path File;
        bool Claimed; // by the catalog package: by its name and what it holds
        bool Catalog; // what CryptCATOpen reads: by what it holds
    } cases[] = {
        {Container("catalog/valid.cat"), true, true}, {Container("catalog/unsigned.cat"), true, true},
        {dir / "bundle.cat", false, false},           {dir / "roots.cat", false, false},
        {dir / "catalog.bin", false, true},
    };
    for (const auto& c : cases) {
        const OpenFile file(c.File);
        const std::u16string name = Wide(c.File);
        GUID subject{};
        EXPECT_EQ(CryptSIPRetrieveSubjectGuid(name.c_str(), file.handle(), &subject) != FALSE, c.Claimed) << c.File;
        if (c.Claimed) {
            EXPECT_TRUE(subject == CRYPT_SUBJTYPE_CATALOG_IMAGE) << c.File;
        }
        const HANDLE catalog = CryptCATOpen(name.c_str(), 0, 0, 0, 0);
        EXPECT_EQ(catalog != INVALID_HANDLE_VALUE, c.Catalog) << c.File;
        if (catalog != INVALID_HANDLE_VALUE)
            CryptCATClose(catalog);
    }
}

TEST(CatalogTest, MembersAsCryptCATOpenListsThem)
{
    const std::u16string name = Wide(Container("driver/tessera.cat"));
    const HANDLE catalog = CryptCATOpen(name.c_str(), 0, 0, 0, 0);
    ASSERT_NE(catalog, INVALID_HANDLE_VALUE);
    const struct {
        const char16_t* File;
        const GUID* Subject;
    } expected[] = {
        {u"tessera.dll", &CRYPT_SUBJTYPE_PE_IMAGE},
        {u"tessera.inf", nullptr}, // the flat package's: no type of ours names it
        {u"tessera.sys", &CRYPT_SUBJTYPE_PE_IMAGE},
    };
    const AdminPtr admin = Acquire(u"SHA256");
    size_t count = 0;
    for (CRYPTCATMEMBER* member = CryptCATEnumerateMember(catalog, nullptr); member;
         member = CryptCATEnumerateMember(catalog, member), ++count) {
        ASSERT_LT(count, std::size(expected));
        const auto& e = expected[count];
        ASSERT_NE(member->pwszFileName, nullptr);
        EXPECT_EQ(winstr::View(member->pwszFileName), e.File);
        if (e.Subject) {
            EXPECT_TRUE(member->gSubjectType == *e.Subject) << count;
        }
        ASSERT_NE(member->pIndirectData, nullptr);
        EXPECT_STREQ(member->pIndirectData->DigestAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
        // The tag is the hash in hex, and the hash the one the administrator computes.
        const std::vector<BYTE> hash = HashOf(admin.get(), Container("driver") / std::u16string(e.File));
        EXPECT_EQ(std::vector<BYTE>(member->pIndirectData->Digest.pbData,
                                    member->pIndirectData->Digest.pbData + member->pIndirectData->Digest.cbData),
                  hash);
        EXPECT_EQ(winstr::View(member->pwszReferenceTag), Tag(hash));
        const CRYPTCATATTRIBUTE* file = CryptCATGetAttrInfo(catalog, member, u"File");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(file->pbValue), file->cbValue / 2),
                  std::u16string(e.File) + u'\0');
        EXPECT_EQ(CryptCATGetAttrInfo(catalog, member, u"OSAttr"), nullptr);
    }
    EXPECT_EQ(count, std::size(expected));
    EXPECT_TRUE(CryptCATClose(catalog));
    EXPECT_FALSE(CryptCATClose(catalog));
    EXPECT_EQ(CryptCATEnumerateMember(catalog, nullptr), nullptr);
}

TEST(CatalogTest, TheAdministratorFindsTheCatalogThatListsAHash)
{
    HCATADMIN refused = nullptr;
    EXPECT_FALSE(CryptCATAdminAcquireContext2(&refused, nullptr, u"MD5", nullptr, 0));

    const std::u16string sha256Catalog = Wide(Container("driver/tessera.cat"));
    const std::u16string sha1Catalog = Wide(Container("driver-sha1/tessera-sha1.cat"));
    const std::u16string notCatalog = Wide(Fixture("certs/three.p7b"));
    for (const char16_t* algorithm : {u"SHA256", u"SHA1"}) {
        const AdminPtr admin = Acquire(algorithm);
        EXPECT_EQ(CryptCATAdminAddCatalog(admin.get(), notCatalog.c_str(), nullptr, 0), nullptr);
        for (const std::u16string* catalog : {&sha1Catalog, &sha256Catalog}) {
            HCATINFO added = CryptCATAdminAddCatalog(admin.get(), catalog->c_str(), nullptr, 0);
            ASSERT_NE(added, nullptr);
            EXPECT_TRUE(CryptCATAdminReleaseCatalogContext(admin.get(), added, 0));
        }
        const bool sha256 = std::u16string_view(algorithm) == u"SHA256";
        const std::vector<BYTE> hash = HashOf(admin.get(), Container("driver/tessera.sys"));
        EXPECT_EQ(hash.size(), sha256 ? 32u : 20u);
        HCATINFO found =
            CryptCATAdminEnumCatalogFromHash(admin.get(), hash.data(), static_cast<DWORD>(hash.size()), 0, nullptr);
        ASSERT_NE(found, nullptr) << sha256;
        const auto info = std::make_unique<CATALOG_INFO>();
        info->cbStruct = sizeof(CATALOG_INFO);
        ASSERT_TRUE(CryptCATCatalogInfoFromContext(found, info.get(), 0));
        EXPECT_EQ(winstr::View(info->wszCatalogFile), sha256 ? sha256Catalog : sha1Catalog);
        // No further catalog lists it; the previous info is released by the enumeration.
        HCATINFO previous = found;
        EXPECT_EQ(
            CryptCATAdminEnumCatalogFromHash(admin.get(), hash.data(), static_cast<DWORD>(hash.size()), 0, &previous),
            nullptr);
        EXPECT_EQ(previous, nullptr);
        EXPECT_FALSE(CryptCATAdminReleaseCatalogContext(admin.get(), found, 0));
        // The changed driver is in no catalog.
        const std::vector<BYTE> changed = HashOf(admin.get(), Container("driver-changed/tessera.sys"));
        EXPECT_EQ(CryptCATAdminEnumCatalogFromHash(admin.get(), changed.data(), static_cast<DWORD>(changed.size()), 0,
                                                   nullptr),
                  nullptr);
        EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    }
}

// WinVerifyTrust on a file as a catalog lists it, with the member named by its tag and the hash
// the caller computed, as programs call it after the administrator found the catalog.
HRESULT VerifyMember(const std::filesystem::path& catalog, const std::filesystem::path& file, const char16_t* algorithm,
                     bool giveHash = true, const std::u16string* tagOverride = nullptr,
                     CRYPT_PROVIDER_SGNR** signer = nullptr)
{
    const AdminPtr admin = Acquire(algorithm);
    std::vector<BYTE> hash = HashOf(admin.get(), file);
    const std::u16string tag = tagOverride ? *tagOverride : Tag(hash);
    const std::u16string catalogName = Wide(catalog);
    const std::u16string fileName = Wide(file);
    const OpenFile opened(file);
    WINTRUST_CATALOG_INFO info{};
    info.cbStruct = sizeof info;
    info.pcwszCatalogFilePath = catalogName.c_str();
    info.pcwszMemberTag = tag.c_str();
    info.pcwszMemberFilePath = fileName.c_str();
    info.hMemberFile = opened.handle();
    if (giveHash) {
        info.pbCalculatedFileHash = hash.data();
        info.cbCalculatedFileHash = static_cast<DWORD>(hash.size());
    }
    info.hCatAdmin = admin.get();
    WINTRUST_DATA request{};
    request.cbStruct = sizeof request;
    request.dwUIChoice = WTD_UI_NONE;
    request.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    request.dwUnionChoice = WTD_CHOICE_CATALOG;
    request.pCatalog = &info;
    request.dwStateAction = WTD_STATEACTION_VERIFY;
    request.dwProvFlags = WTD_SAFER_FLAG;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HRESULT result = WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
    if (signer) {
        CRYPT_PROVIDER_DATA* data = WTHelperProvDataFromStateData(request.hWVTStateData);
        *signer = data && data->csSigners ? data->pasSigners : nullptr;
        if (*signer) {
            EXPECT_EQ((*signer)->csCounterSigners, 1u); // the catalog's time stamp
        }
    }
    request.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
    return result;
}

TEST(CatalogTest, AFileIsJudgedByTheCatalogThatListsIt)
{
    const TrustAnchors anchors(Anchors::Root);
    const auto driver = [](const char* name) { return Container(std::string("driver/") + name); };
    CRYPT_PROVIDER_SGNR* signer = nullptr;
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), driver("tessera.sys"), u"SHA256", true, nullptr, &signer)),
              Hex(S_OK));
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), driver("tessera.dll"), u"SHA256")), Hex(S_OK));
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), driver("tessera.inf"), u"SHA256")), Hex(S_OK));
    // Without the caller's hash it is computed with the member's algorithm.
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), driver("tessera.sys"), u"SHA256", false)), Hex(S_OK));
    EXPECT_EQ(Hex(VerifyMember(Container("driver-sha1/tessera-sha1.cat"), driver("tessera.sys"), u"SHA1")), Hex(S_OK));

    // The changed driver named by the member's tag: not what the catalog lists.
    const AdminPtr admin = Acquire(u"SHA256");
    const std::u16string original = Tag(HashOf(admin.get(), driver("tessera.sys")));
    EXPECT_EQ(
        Hex(VerifyMember(driver("tessera.cat"), Container("driver-changed/tessera.sys"), u"SHA256", true, &original)),
        Hex(TRUST_E_BAD_DIGEST));
    EXPECT_EQ(
        Hex(VerifyMember(driver("tessera.cat"), Container("driver-changed/tessera.sys"), u"SHA256", false, &original)),
        Hex(TRUST_E_BAD_DIGEST));
    // A file the catalog does not list, a hash of the other algorithm, a catalog that is none, one
    // that nobody signed.
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), Container("driver-changed/tessera.sys"), u"SHA256")),
              Hex(TRUST_E_NOSIGNATURE));
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), driver("tessera.sys"), u"SHA1")), Hex(TRUST_E_NOSIGNATURE));
    EXPECT_EQ(Hex(VerifyMember(Fixture("certs/three.p7b"), driver("tessera.sys"), u"SHA256")),
              Hex(TRUST_E_SUBJECT_FORM_UNKNOWN));
    EXPECT_EQ(Hex(VerifyMember(Container("catalog/unsigned.cat"), driver("tessera.sys"), u"SHA256")),
              Hex(TRUST_E_NOSIGNATURE));

    // The catalog's chain is judged as a file's own would be.
    const TrustAnchors none(Anchors::None);
    EXPECT_EQ(Hex(VerifyMember(driver("tessera.cat"), driver("tessera.sys"), u"SHA256")), Hex(CERT_E_UNTRUSTEDROOT));
}

} // namespace
