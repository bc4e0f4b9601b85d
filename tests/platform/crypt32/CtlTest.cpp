// Certificate trust lists: CertCreateCTLContext decodes a list as Windows does (the project's own
// test list and the root program's real one), its subjects are found by certificate or identifier,
// an entry's attributes become certificate properties, and the list's signer is found and checked.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace crypt32test;

namespace {

struct CtlFree {
    void operator()(PCCTL_CONTEXT ctl) const { CertFreeCTLContext(ctl); }
};
using CtlPtr = std::unique_ptr<const CTL_CONTEXT, CtlFree>;

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

CtlPtr OpenList(const Bytes& der)
{
    return CtlPtr(CertCreateCTLContext(Encoding, der.data(), static_cast<DWORD>(der.size())));
}

Bytes ListFixture(const std::string& name)
{
    return testsupport::ReadBytes(testsupport::Fixture("authroot/" + name));
}

ContextPtr Certificate(const Bytes& der)
{
    return ContextPtr(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

Bytes Property(PCCERT_CONTEXT cert, DWORD id)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, id, nullptr, &size))
        return {};
    Bytes value(size);
    EXPECT_TRUE(CertGetCertificateContextProperty(cert, id, value.data(), &size));
    return value;
}

Bytes Blob(const CRYPTOAPI_BLOB& blob) { return Bytes(blob.pbData, blob.pbData + blob.cbData); }

} // namespace

TEST(Ctl, TheTestListDecodes)
{
    const Bytes der = ListFixture("authroot.stl");
    const CtlPtr list = OpenList(der);
    ASSERT_TRUE(list) << std::hex << GetLastError();
    EXPECT_EQ(list->dwMsgAndCertEncodingType, Encoding);
    EXPECT_EQ(Bytes(list->pbCtlEncoded, list->pbCtlEncoded + list->cbCtlEncoded), der);
    const CTL_INFO& info = *list->pCtlInfo;
    EXPECT_EQ(info.dwVersion, CTL_V1);
    ASSERT_EQ(info.SubjectUsage.cUsageIdentifier, 1u);
    EXPECT_STREQ(info.SubjectUsage.rgpszUsageIdentifier[0], szOID_ROOT_LIST_SIGNER);
    EXPECT_EQ(info.ListIdentifier.cbData, 0u);
    // 7F00000000000000000000, least significant byte first.
    Bytes sequence(11, 0);
    sequence.back() = 0x7F;
    EXPECT_EQ(Blob(info.SequenceNumber), sequence);
    EXPECT_EQ(Ticks(info.ThisUpdate), TicksOf(2026, 12, 1));
    EXPECT_EQ(Ticks(info.NextUpdate), 0u);
    EXPECT_STREQ(info.SubjectAlgorithm.pszObjId, szOID_OIWSEC_sha1);
    EXPECT_EQ(info.cExtension, 0u);

    // One entry per root of roots.pem, identified by its SHA-1 thumbprint, in that order.
    const std::vector<Bytes> roots = PemCertificates(testsupport::Fixture("authroot/roots.pem"));
    ASSERT_EQ(info.cCTLEntry, roots.size());
    for (size_t i = 0; i < roots.size(); ++i) {
        const CTL_ENTRY& entry = info.rgCTLEntry[i];
        EXPECT_EQ(Hex(entry.SubjectIdentifier.pbData, entry.SubjectIdentifier.cbData), Sha1Hex(roots[i])) << i;
        ASSERT_GE(entry.cAttribute, 2u) << i;
        for (DWORD a = 0; a < entry.cAttribute; ++a) {
            EXPECT_EQ(std::strncmp(entry.rgAttribute[a].pszObjId, szOID_CERT_PROP_ID_PREFIX,
                                   std::strlen(szOID_CERT_PROP_ID_PREFIX)),
                      0);
            EXPECT_EQ(entry.rgAttribute[a].cValue, 1u);
        }
    }
    // The content is the list itself; the message's certificates are its store's.
    ASSERT_GT(list->cbCtlContent, 2u);
    EXPECT_EQ(list->pbCtlContent[0], 0x30);
    EXPECT_EQ(StoreCertificates(list->hCertStore).size(), 1u);
}

TEST(Ctl, SubjectsAreFoundAndTheirAttributesBecomeProperties)
{
    const CtlPtr list = OpenList(ListFixture("authroot.stl"));
    ASSERT_TRUE(list);
    const std::vector<Bytes> roots = PemCertificates(testsupport::Fixture("authroot/roots.pem"));
    ASSERT_EQ(roots.size(), 3u);

    const ContextPtr restricted = Certificate(roots[0]);
    ASSERT_TRUE(restricted);
    PCTL_ENTRY entry = CertFindSubjectInCTL(Encoding, CTL_CERT_SUBJECT_TYPE, const_cast<CERT_CONTEXT*>(restricted.get()),
                                            list.get(), 0);
    ASSERT_EQ(entry, &list->pCtlInfo->rgCTLEntry[0]);
    ASSERT_TRUE(CertSetCertificateContextPropertiesFromCTLEntry(restricted.get(), entry, 0));
    const std::u16string name = u"Listed Server Auth Root";
    Bytes friendly(reinterpret_cast<const BYTE*>(name.c_str()), reinterpret_cast<const BYTE*>(name.c_str() + name.size() + 1));
    EXPECT_EQ(Property(restricted.get(), CERT_FRIENDLY_NAME_PROP_ID), friendly);
    // The purposes as DER, serverAuth alone.
    EXPECT_EQ(Hex(Property(restricted.get(), CERT_ENHKEY_USAGE_PROP_ID).data(), 12), "300a06082b06010505070301");

    const ContextPtr disallowed = Certificate(roots[1]);
    CTL_ANY_SUBJECT_INFO any{};
    any.SubjectIdentifier = list->pCtlInfo->rgCTLEntry[1].SubjectIdentifier;
    entry = CertFindSubjectInCTL(Encoding, CTL_ANY_SUBJECT_TYPE, &any, list.get(), 0);
    ASSERT_EQ(entry, &list->pCtlInfo->rgCTLEntry[1]);
    ASSERT_TRUE(CertSetCertificateContextPropertiesFromCTLEntry(disallowed.get(), entry, 0));
    const Bytes time = Property(disallowed.get(), CERT_DISALLOWED_FILETIME_PROP_ID);
    ASSERT_EQ(time.size(), sizeof(FILETIME));
    FILETIME disallowedFrom{};
    std::memcpy(&disallowedFrom, time.data(), sizeof disallowedFrom);
    EXPECT_EQ(Ticks(disallowedFrom), TicksOf(2024, 1, 1));

    // A certificate the list does not name.
    const ContextPtr other = LoadCert("v3-ku-eku.pem");
    EXPECT_EQ(CertFindSubjectInCTL(Encoding, CTL_CERT_SUBJECT_TYPE, const_cast<CERT_CONTEXT*>(other.get()), list.get(), 0),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

TEST(Ctl, TheSignerIsFoundAndItsSignatureChecked)
{
    const CtlPtr list = OpenList(ListFixture("authroot.stl"));
    ASSERT_TRUE(list);
    PCCERT_CONTEXT signer = nullptr;
    DWORD index = 99;
    ASSERT_TRUE(CryptMsgGetAndVerifySigner(list->hCryptMsg, 0, nullptr, 0, &signer, &index)) << std::hex << GetLastError();
    const ContextPtr owned(signer);
    EXPECT_EQ(index, 0u);
    std::vector<char16_t> text(128);
    CertGetNameStringW(signer, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text.data(), static_cast<DWORD>(text.size()));
    EXPECT_EQ(Narrow(text.data()), "Tessera Test Root List Signer");

    // A signer that only the given stores may supply is not found among the message's own.
    EXPECT_FALSE(CryptMsgGetAndVerifySigner(list->hCryptMsg, 0, nullptr, CMSG_TRUSTED_SIGNER_FLAG, &signer, nullptr));
    EXPECT_EQ(signer, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_SIGNER_NOT_FOUND));

    const CtlPtr spoilt = OpenList(ListFixture("authroot-bad-signature.stl"));
    ASSERT_TRUE(spoilt);
    EXPECT_FALSE(CryptMsgGetAndVerifySigner(spoilt->hCryptMsg, 0, nullptr, 0, &signer, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NO_TRUSTED_SIGNER));
    // Asked for the signer only, it is found all the same.
    ASSERT_TRUE(CryptMsgGetAndVerifySigner(spoilt->hCryptMsg, 0, nullptr, CMSG_SIGNER_ONLY_FLAG, &signer, nullptr));
    CertFreeCertificateContext(signer);
}

TEST(Ctl, TheRootProgramsOwnListDecodesAndVerifies)
{
    const Bytes der = testsupport::ReadBytes(std::filesystem::path(TESSERA_SOURCE_DIR) / "platform/common/authroot/authroot.stl");
    const CtlPtr list = OpenList(der);
    ASSERT_TRUE(list);
    EXPECT_GT(list->pCtlInfo->cCTLEntry, 400u);
    EXPECT_STREQ(list->pCtlInfo->SubjectUsage.rgpszUsageIdentifier[0], szOID_ROOT_LIST_SIGNER);
    PCCERT_CONTEXT signer = nullptr;
    ASSERT_TRUE(CryptMsgGetAndVerifySigner(list->hCryptMsg, 0, nullptr, 0, &signer, nullptr));
    CertFreeCertificateContext(signer);
}

TEST(Ctl, WhatIsNotAListIsRefused)
{
    // A SignedData of other content, a list cut short, nothing at all.
    const Bytes data = testsupport::ReadBytes(CertFixture("signed-data.p7"));
    EXPECT_FALSE(OpenList(data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
    const Bytes list = ListFixture("authroot.stl");
    for (const size_t cut : {size_t{2}, size_t{60}, size_t{200}, list.size() - 1})
        EXPECT_FALSE(OpenList(Bytes(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(cut)))) << cut;
    EXPECT_EQ(CertCreateCTLContext(Encoding, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    // A list whose subjects are not what a list holds: the identifier of the first is no OCTET STRING.
    Bytes bent = list;
    const uint8_t identifier[] = {0x04, 0x14};
    const auto found = std::search(bent.begin(), bent.end(), std::begin(identifier), std::end(identifier));
    ASSERT_NE(found, bent.end());
    *found = 0x05;
    EXPECT_FALSE(OpenList(bent));
}

TEST(Ctl, ContextsAreCountedAndFreedSafely)
{
    const CtlPtr list = OpenList(ListFixture("authroot.stl"));
    ASSERT_TRUE(list);
    PCCTL_CONTEXT copy = CertDuplicateCTLContext(list.get());
    EXPECT_EQ(copy, list.get());
    EXPECT_TRUE(CertFreeCTLContext(copy));
    EXPECT_GT(list->pCtlInfo->cCTLEntry, 0u); // still alive
    EXPECT_TRUE(CertFreeCTLContext(nullptr));
    EXPECT_EQ(CertDuplicateCTLContext(nullptr), nullptr);
}
