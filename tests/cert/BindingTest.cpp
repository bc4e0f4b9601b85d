// The lazy binders: bound on first call, a missing module or export answers the failure result
// and is looked up again next time, a bound function is called straight through its slot.
#include "cert/KavexWinCrypt.h"
#include "cert/KavexWinTrust.h"
#include "cert/LazyBinding.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace testsupport;

namespace {

char CodeSigning[] = "1.3.6.1.5.5.7.3.3";

TEST(Binding, MissingLibraryIsLookedUpAgainUntilItIsThere)
{
    TempDir dir;
    setenv("TESSERA_MODULE_DIR", dir.path().c_str(), 1);
    const int before = lazybinding::Lookups();
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, CodeSigning, 0), nullptr);
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, CodeSigning, 0), nullptr);
    EXPECT_EQ(lazybinding::Lookups(), before + 2);
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, nullptr, CERT_SIMPLE_NAME_STR, nullptr, 0), 0u);
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr), nullptr);
    EXPECT_FALSE(CertCloseStore(nullptr, 0));

    std::filesystem::copy_file(BinaryDir() / "libtessera-crypt32.so", dir / "libtessera-crypt32.so");
    const int beforeBinding = lazybinding::Lookups();
    PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, CodeSigning, 0);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::u16string(info->pwszName), u"Code Signing");
    EXPECT_EQ(lazybinding::Lookups(), beforeBinding + 1);
    // Bound once: the second call goes straight through the slot.
    EXPECT_NE(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, CodeSigning, 0), nullptr);
    EXPECT_EQ(lazybinding::Lookups(), beforeBinding + 1);
    unsetenv("TESSERA_MODULE_DIR");
}

TEST(Binding, LibraryWithoutTheExport)
{
    setenv("TESSERA_MODULE_DIR", FAKE_MODULE_DIR, 1);
    const int before = lazybinding::Lookups();
    EXPECT_EQ(WTHelperProvDataFromStateData(nullptr), nullptr);
    EXPECT_EQ(WTHelperProvDataFromStateData(nullptr), nullptr);
    EXPECT_EQ(lazybinding::Lookups(), before + 2);

    EXPECT_EQ(WinVerifyTrustEx(nullptr, nullptr, nullptr), static_cast<HRESULT>(0x12345678));
    EXPECT_EQ(WinVerifyTrustEx(nullptr, nullptr, nullptr), static_cast<HRESULT>(0x12345678));
    EXPECT_EQ(lazybinding::Lookups(), before + 3);
    unsetenv("TESSERA_MODULE_DIR");
}

} // namespace
