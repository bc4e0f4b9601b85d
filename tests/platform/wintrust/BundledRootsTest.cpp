// Windows' root program built into the program: its list verifies and names its roots, a real
// Microsoft signature's certificates chain to one of them with no settings at all, and the switch to
// the system's store alone takes them away.
#include "platform/common/ChainBuilder.h"
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
using trust::X509StackPtr;

struct Verified {
    int Error = X509_V_ERR_UNSPECIFIED;
    std::string Top; // the last certificate of the chain, as one line
    ossl::X509Ptr Root;
    ossl::X509Ptr Leaf;
    ossl::X509StorePtr Store;
};

// The certificate of a fixture's certificate set whose subject holds name (the first that is no
// CA when name is empty), chained through a signature store with the rest of the set as helpers,
// a day into its validity whenever the fixture was made.
Verified VerifySigner(const std::string& fixture, const std::string& name = {})
{
    Verified verified;
    const auto der = testsupport::ReadBytes(Signed(fixture));
    const unsigned char* p = der.data();
    const Pkcs7Ptr message(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    if (!message || !PKCS7_type_is_signed(message.get()))
        return verified;
    STACK_OF(X509)* certs = message->d.sign->cert;
    X509* leaf = nullptr;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* cert = sk_X509_value(certs, i);
        char subject[256] = {};
        X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
        if (name.empty() ? X509_check_ca(cert) == 0 : std::string(subject).find(name) != std::string::npos)
            leaf = cert;
    }
    if (!leaf)
        return verified;
    verified.Store = trust::NewSignatureStore();
    const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!verified.Store || !ctx || X509_STORE_CTX_init(ctx.get(), verified.Store.get(), leaf, certs) != 1)
        return verified;
    tm notBefore{};
    if (ASN1_TIME_to_tm(X509_get0_notBefore(leaf), &notBefore) != 1)
        return verified;
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), timegm(&notBefore) + 86400);
    verified.Error = X509_verify_cert(ctx.get()) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(ctx.get());
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    if (sk_X509_num(chain) > 0) {
        X509* top = sk_X509_value(chain, sk_X509_num(chain) - 1);
        char line[256] = {};
        X509_NAME_oneline(X509_get_subject_name(top), line, sizeof line);
        verified.Top = line;
        if (X509_up_ref(top) == 1)
            verified.Root.reset(top);
    }
    if (X509_up_ref(leaf) == 1)
        verified.Leaf.reset(leaf);
    return verified;
}

// Microsoft's code-signing certificate for signtool.exe.
Verified VerifyMicrosoftSigner()
{
    return VerifySigner("microsoft-signtool.p7b");
}

} // namespace

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

TEST(BundledRoots, ASignatureUnderRootsDebianLacksChainsWithoutSettings)
{
    // Inno Setup 5.5.9's compiler: its signer under Certum CA, its time stamp under
    // UTN-USERFirst-Object, neither of them in the system's store.
    const TrustAnchors anchors(Anchors::None);
    const Verified signer = VerifySigner("innosetup-iscc.p7b", "Martijn Laan");
    ASSERT_EQ(signer.Error, X509_V_OK) << X509_verify_cert_error_string(signer.Error);
    EXPECT_NE(signer.Top.find("CN=Certum CA"), std::string::npos) << signer.Top;
    const auto program = trust::RootProgram::Current();
    ASSERT_TRUE(program);
    const trust::RootRules* certum = program->RulesOf(signer.Root.get());
    ASSERT_TRUE(certum);
    EXPECT_EQ(certum->FriendlyName, u"Certum");
    const int64_t signedAt = 1459953562; // 2016-04-06 14:39:22 UTC, the time stamp's time
    EXPECT_EQ(trust::JudgeRoot(signer.Store.get(), signer.Root.get(), signer.Leaf.get(), "1.3.6.1.5.5.7.3.3", signedAt),
              trust::RootVerdict::Trusted);

    const Verified stamp = VerifySigner("innosetup-iscc.p7b", "COMODO SHA-1 Time Stamping Signer");
    ASSERT_EQ(stamp.Error, X509_V_OK) << X509_verify_cert_error_string(stamp.Error);
    EXPECT_NE(stamp.Top.find("CN=UTN-USERFirst-Object"), std::string::npos) << stamp.Top;
    EXPECT_EQ(trust::JudgeRoot(stamp.Store.get(), stamp.Root.get(), stamp.Leaf.get(), "1.3.6.1.5.5.7.3.8", signedAt),
              trust::RootVerdict::Trusted);
    // The root program disallows that root from 2023 on: a time stamp made now would not count.
    EXPECT_EQ(trust::JudgeRoot(stamp.Store.get(), stamp.Root.get(), stamp.Leaf.get(), "1.3.6.1.5.5.7.3.8",
                               std::time(nullptr)),
              trust::RootVerdict::Distrusted);

    const testsupport::ScopedVariable systemOnly(trust::SystemOnlyVariable, "1");
    EXPECT_EQ(VerifySigner("innosetup-iscc.p7b", "Martijn Laan").Error, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
}

TEST(BundledRoots, ACrossCertificateLeadsPastARootRefusedForThePurpose)
{
    // Certum's time-stamp authority (Inno Setup 6.4.1's token): its CA is issued by "Certum
    // Trusted Network CA 2", which the root program does not trust for time stamping, and the
    // token carries that root's cross-certificate by "Certum Trusted Network CA", which it does.
    const TrustAnchors anchors(Anchors::None);
    const auto der = testsupport::ReadBytes(Signed("innosetup6-timestamp.p7b"));
    const unsigned char* p = der.data();
    const Pkcs7Ptr message(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(message && PKCS7_type_is_signed(message.get()));
    STACK_OF(X509)* certs = message->d.sign->cert;
    ASSERT_EQ(sk_X509_num(certs), 3);
    const ossl::X509StorePtr store = trust::NewSignatureStore();
    trust::ChainRequest request;
    request.Leaf = sk_X509_value(certs, 0); // "Certum Timestamp 2025"
    request.Helpers = certs;
    request.When = 1739339637; // 2025-02-12 05:53:57 UTC, the token's time
    request.Purpose = "1.3.6.1.5.5.7.3.8";
    const auto top = [](const trust::BuiltChain& chain) {
        char line[256] = {};
        X509_NAME_oneline(X509_get_subject_name(sk_X509_value(chain.Certificates.get(), chain.Count() - 1)), line,
                          sizeof line);
        return std::string(line);
    };

    const trust::BuiltChain through = trust::BuildChain(store.get(), request);
    ASSERT_TRUE(through.EndsInTrustedRoot());
    EXPECT_EQ(through.Root, trust::RootVerdict::Trusted);
    EXPECT_EQ(through.Count(), 4);
    EXPECT_NE(top(through).find("CN=Certum Trusted Network CA"), std::string::npos);
    EXPECT_EQ(top(through).find("CN=Certum Trusted Network CA 2"), std::string::npos) << top(through);

    // Without the cross-certificate, the chain ends in the refused root, and says so.
    const X509StackPtr withoutCross(sk_X509_new_null());
    sk_X509_push(withoutCross.get(), sk_X509_value(certs, 0));
    sk_X509_push(withoutCross.get(), sk_X509_value(certs, 1));
    request.Helpers = withoutCross.get();
    const trust::BuiltChain refused = trust::BuildChain(store.get(), request);
    ASSERT_TRUE(refused.EndsInTrustedRoot());
    EXPECT_EQ(refused.Root, trust::RootVerdict::NotValidForUsage);
    EXPECT_NE(top(refused).find("CN=Certum Trusted Network CA 2"), std::string::npos) << top(refused);
}
