// Windows' root program built into the program: its list verifies and names its roots, a real
// Microsoft signature's certificates chain to one of them with no settings at all, and the switch to
// the system's store alone takes them away.
#include "platform/common/SignatureTrust.h"

#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

using namespace wintrusttest;

namespace {

using Pkcs7Ptr = std::unique_ptr<PKCS7, ossl::OsslFree<PKCS7_free>>;

struct Verified {
    int Error = X509_V_ERR_UNSPECIFIED;
    std::string Top; // the last certificate of the chain, as one line
};

// Microsoft's code-signing certificate for signtool.exe, with its issuer as the helper.
Verified VerifyMicrosoftSigner()
{
    Verified verified;
    const auto der = testsupport::ReadBytes(Signed("microsoft-signtool.p7b"));
    const unsigned char* p = der.data();
    const Pkcs7Ptr message(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    if (!message || !PKCS7_type_is_signed(message.get()))
        return verified;
    STACK_OF(X509)* certs = message->d.sign->cert;
    X509* leaf = nullptr;
    for (int i = 0; i < sk_X509_num(certs); ++i)
        if (X509_check_ca(sk_X509_value(certs, i)) == 0)
            leaf = sk_X509_value(certs, i);
    if (!leaf)
        return verified;
    const ossl::X509StorePtr store = trust::NewSignatureStore();
    const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!store || !ctx || X509_STORE_CTX_init(ctx.get(), store.get(), leaf, certs) != 1)
        return verified;
    // A day into the signer's validity, whenever the fixture was made.
    tm notBefore{};
    if (ASN1_TIME_to_tm(X509_get0_notBefore(leaf), &notBefore) != 1)
        return verified;
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), timegm(&notBefore) + 86400);
    verified.Error = X509_verify_cert(ctx.get()) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(ctx.get());
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    if (sk_X509_num(chain) > 0) {
        char line[256] = {};
        X509_NAME_oneline(X509_get_subject_name(sk_X509_value(chain, sk_X509_num(chain) - 1)), line, sizeof line);
        verified.Top = line;
    }
    return verified;
}

TEST(BundledRoots, TheBuiltInListVerifiesAndNamesItsRoots)
{
    const auto program = trust::RootProgram::Current();
    ASSERT_TRUE(program);
    ASSERT_TRUE(program->List()) << "the built-in root list does not verify";
    EXPECT_GT(program->List()->pCtlInfo->cCTLEntry, 400u);
    // Microsoft Root Certificate Authority 2010, under which the list itself is signed.
    const trust::Sha1 microsoft2010 = {0x3B, 0x1E, 0xFD, 0x3A, 0x66, 0xEA, 0x28, 0xB1, 0x66, 0x97,
                                       0x39, 0x47, 0x03, 0xA7, 0x2C, 0xA3, 0x40, 0xA0, 0x5B, 0xD5};
    EXPECT_TRUE(program->EntryOf(microsoft2010));
}

TEST(BundledRoots, AMicrosoftSignatureChainsToOneWithoutSettings)
{
    // The system's part of the store is empty: only the bundled roots can anchor the chain.
    const TrustAnchors anchors(Anchors::None);
    {
        const Verified verified = VerifyMicrosoftSigner();
        EXPECT_EQ(verified.Error, X509_V_OK) << X509_verify_cert_error_string(verified.Error);
        EXPECT_NE(verified.Top.find("CN=Microsoft Root Certificate Authority 2010"), std::string::npos) << verified.Top;
    }
    for (const char* value : {"1", "yes"}) {
        const testsupport::ScopedVariable systemOnly(trust::SystemOnlyVariable, value);
        const Verified verified = VerifyMicrosoftSigner();
        EXPECT_EQ(verified.Error, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) << value;
    }
    // Set but empty, or "0": the roots stay.
    for (const char* value : {"", "0"}) {
        const testsupport::ScopedVariable systemOnly(trust::SystemOnlyVariable, value);
        EXPECT_EQ(VerifyMicrosoftSigner().Error, X509_V_OK) << '"' << value << '"';
    }
}

} // namespace
