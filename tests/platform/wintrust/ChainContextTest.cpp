// The chain a verification judged, as the program reads it the Windows way: each signer's
// CERT_CHAIN_CONTEXT, its elements' trust status and revocation answer, and where each
// certificate was found.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace wintrusttest;

namespace {

std::string FlagNames(DWORD flags)
{
    static const std::vector<std::pair<DWORD, const char*>> Names = {
        {CERT_TRUST_IS_NOT_TIME_VALID, "NOT_TIME_VALID"},
        {CERT_TRUST_IS_REVOKED, "REVOKED"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "NOT_SIGNATURE_VALID"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "NOT_VALID_FOR_USAGE"},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, "UNTRUSTED_ROOT"},
        {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, "REVOCATION_STATUS_UNKNOWN"},
        {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "INVALID_BASIC_CONSTRAINTS"},
        {CERT_TRUST_IS_PARTIAL_CHAIN, "PARTIAL_CHAIN"},
        {CERT_TRUST_IS_OFFLINE_REVOCATION, "OFFLINE_REVOCATION"},
        {CERT_TRUST_IS_EXPLICIT_DISTRUST, "EXPLICIT_DISTRUST"},
    };
    std::string text;
    for (const auto& [flag, name] : Names)
        if ((flags & flag) != 0)
            text += (text.empty() ? "" : " ") + std::string(name);
    if ((flags & ~[] {
            DWORD all = 0;
            for (const auto& named : Names)
                all |= named.first;
            return all;
        }()) != 0)
        text += " (more)";
    return text.empty() ? "ok" : text;
}

std::string RevocationName(const CERT_REVOCATION_INFO* info)
{
    if (!info)
        return "unchecked";
    switch (static_cast<HRESULT>(info->dwRevocationResult)) {
    case S_OK: return "good";
    case CRYPT_E_REVOKED: return "revoked";
    case CRYPT_E_NO_REVOCATION_CHECK: return "no-check";
    case CRYPT_E_REVOCATION_OFFLINE: return "offline";
    default: return Hex(static_cast<HRESULT>(info->dwRevocationResult));
    }
}

std::string SourceName(PCCERT_CONTEXT cert)
{
    DWORD source = 0;
    DWORD size = sizeof(source);
    if (!CertGetCertificateContextProperty(cert, TESSERA_CERT_SOURCE_PROP_ID, &source, &size))
        return "none";
    switch (source) {
    case TESSERA_CERT_SOURCE_SIGNATURE: return "signature";
    case TESSERA_CERT_SOURCE_SYSTEM_STORE: return "system";
    case TESSERA_CERT_SOURCE_CERT_FILE: return "cert-file";
    case TESSERA_CERT_SOURCE_CERT_DIR: return "cert-dir";
    case TESSERA_CERT_SOURCE_BUILT_IN: return "built-in";
    case TESSERA_CERT_SOURCE_ROOT_LIST: return "root-list";
    default: return std::to_string(source);
    }
}

// "chain flags | element flags, revocation, source | ...", checking on the way that the chain
// context is the one pasCertChain shows.
std::string Describe(const CRYPT_PROVIDER_SGNR& signer)
{
    const CERT_CHAIN_CONTEXT* context = signer.pChainContext;
    if (!context)
        return "no chain";
    EXPECT_EQ(context->cChain, 1u);
    const CERT_SIMPLE_CHAIN* chain = context->rgpChain[0];
    EXPECT_EQ(chain->cElement, signer.csCertChain);
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, context->TrustStatus.dwErrorStatus);
    std::string text = FlagNames(context->TrustStatus.dwErrorStatus);
    DWORD elementsTogether = 0;
    for (DWORD i = 0; i < chain->cElement; ++i) {
        const CERT_CHAIN_ELEMENT* element = chain->rgpElement[i];
        EXPECT_EQ(signer.pasCertChain[i].pChainElement, element);
        EXPECT_EQ(element->pCertContext, signer.pasCertChain[i].pCert);
        elementsTogether |= element->TrustStatus.dwErrorStatus;
        text += " | " + FlagNames(element->TrustStatus.dwErrorStatus) + ", " +
                RevocationName(element->pRevocationInfo) + ", " + SourceName(element->pCertContext);
    }
    // The chain's status is its elements' put together, and what only a chain has.
    EXPECT_EQ(context->TrustStatus.dwErrorStatus & ~CERT_TRUST_IS_PARTIAL_CHAIN, elementsTogether);
    return text;
}

TEST(ChainContextTest, EachElementCarriesWhatTheChainEngineFoundOfIt)
{
    // Nothing listens at revoked.exe's and crl-silent.exe's distribution points; the other
    // fixtures' certificates name none.
    struct Case {
        const char* File;
        const char* Chain;
    };
    const std::vector<Case> cases = {
        {"valid.exe", "REVOCATION_STATUS_UNKNOWN | REVOCATION_STATUS_UNKNOWN, no-check, signature | "
                      "REVOCATION_STATUS_UNKNOWN, no-check, signature | ok, unchecked, cert-file"},
        {"expired.exe", "NOT_TIME_VALID REVOCATION_STATUS_UNKNOWN | NOT_TIME_VALID REVOCATION_STATUS_UNKNOWN, "
                        "no-check, signature | REVOCATION_STATUS_UNKNOWN, no-check, signature | ok, unchecked, cert-file"},
        {"untrusted-root.exe", "UNTRUSTED_ROOT REVOCATION_STATUS_UNKNOWN | REVOCATION_STATUS_UNKNOWN, no-check, "
                               "signature | UNTRUSTED_ROOT, unchecked, signature"},
        {"no-intermediate.exe", "REVOCATION_STATUS_UNKNOWN PARTIAL_CHAIN | REVOCATION_STATUS_UNKNOWN, no-check, signature"},
        {"wrong-usage.exe", "NOT_VALID_FOR_USAGE REVOCATION_STATUS_UNKNOWN | NOT_VALID_FOR_USAGE "
                            "REVOCATION_STATUS_UNKNOWN, no-check, signature | REVOCATION_STATUS_UNKNOWN, no-check, "
                            "signature | ok, unchecked, cert-file"},
        {"intermediate-no-bc.exe", "REVOCATION_STATUS_UNKNOWN INVALID_BASIC_CONSTRAINTS | REVOCATION_STATUS_UNKNOWN, "
                                   "no-check, signature | REVOCATION_STATUS_UNKNOWN INVALID_BASIC_CONSTRAINTS, "
                                   "no-check, signature | ok, unchecked, cert-file"},
        {"ec-spoof.exe", "UNTRUSTED_ROOT REVOCATION_STATUS_UNKNOWN EXPLICIT_DISTRUST | REVOCATION_STATUS_UNKNOWN, "
                         "no-check, signature | UNTRUSTED_ROOT EXPLICIT_DISTRUST, unchecked, signature"},
        {"revoked-crl-in-message.exe", "REVOKED REVOCATION_STATUS_UNKNOWN | REVOKED, revoked, signature | "
                                       "REVOCATION_STATUS_UNKNOWN, no-check, signature | ok, unchecked, cert-file"},
        {"revoked.exe", "REVOCATION_STATUS_UNKNOWN OFFLINE_REVOCATION | REVOCATION_STATUS_UNKNOWN "
                        "OFFLINE_REVOCATION, offline, signature | REVOCATION_STATUS_UNKNOWN, no-check, signature | "
                        "ok, unchecked, cert-file"},
    };
    const TrustAnchors anchors(Anchors::RootAndTsa);
    for (const Case& c : cases) {
        const Verification verification(Signed(c.File));
        ASSERT_NE(verification.signer(), nullptr) << c.File;
        EXPECT_EQ(Describe(*verification.signer()), c.Chain) << c.File;
    }

    // A time stamp's counter-signer has a chain of its own.
    const Verification stamped(Signed("ts-rfc3161.exe"));
    ASSERT_NE(stamped.signer(), nullptr);
    ASSERT_EQ(stamped.signer()->csCounterSigners, 1u);
    EXPECT_EQ(Describe(stamped.signer()->pasCounterSigners[0]),
              "REVOCATION_STATUS_UNKNOWN | REVOCATION_STATUS_UNKNOWN, no-check, signature | ok, unchecked, cert-file");

    // Revocation not asked for: no element has an answer.
    const Verification unchecked(Signed("valid.exe"), Open::Handle, WTD_REVOKE_NONE);
    ASSERT_NE(unchecked.signer(), nullptr);
    EXPECT_EQ(Describe(*unchecked.signer()), "ok | ok, unchecked, signature | ok, unchecked, signature | ok, unchecked, cert-file");
}

TEST(ChainContextTest, ARevokedCertificateCarriesItsEntryInTheList)
{
    const TrustAnchors anchors(Anchors::Root);
    const LoopbackServer server(CrlPort, testsupport::ReadBytes(Signed("tessera-intermediate.crl")));
    ASSERT_TRUE(server.listening());
    const Verification verification(Signed("revoked.exe"));
    ASSERT_EQ(Hex(verification.result()), Hex(CERT_E_REVOKED));
    const CRYPT_PROVIDER_SGNR* signer = verification.signer();
    ASSERT_NE(signer, nullptr);
    EXPECT_EQ(Describe(*signer), "REVOKED REVOCATION_STATUS_UNKNOWN | REVOKED, revoked, signature | "
                                 "REVOCATION_STATUS_UNKNOWN, no-check, signature | ok, unchecked, cert-file");
    const CERT_REVOCATION_INFO* info = signer->pasCertChain[0].pChainElement->pRevocationInfo;
    ASSERT_NE(info, nullptr);
    ASSERT_NE(info->pCrlInfo, nullptr);
    const CRL_ENTRY* entry = info->pCrlInfo->pCrlEntry;
    ASSERT_NE(entry, nullptr);
    // The list says: serial 1302, revoked 2026-12-10 02:02:37 for key compromise.
    EXPECT_EQ(Ticks(entry->RevocationDate), TicksOf(2026, 12, 10, 2, 2, 37));
    ASSERT_EQ(entry->SerialNumber.cbData, 2u);
    EXPECT_EQ(entry->SerialNumber.pbData[0], 0x02);
    EXPECT_EQ(entry->SerialNumber.pbData[1], 0x13);
    ASSERT_EQ(entry->cExtension, 1u);
    EXPECT_STREQ(entry->rgExtension[0].pszObjId, szOID_CRL_REASON_CODE);
    // ENUMERATED 1, keyCompromise.
    const CRYPT_OBJID_BLOB& value = entry->rgExtension[0].Value;
    EXPECT_EQ(Bytes(value.pbData, value.pbData + value.cbData), (Bytes{0x0A, 0x01, 0x01}));
    EXPECT_EQ(signer->pasCertChain[0].dwRevokedReason, 1u);
}

} // namespace
