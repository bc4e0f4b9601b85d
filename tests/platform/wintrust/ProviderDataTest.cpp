// What a verification leaves for the program: the provider data, its message handle, the first
// signer with its CMSG_SIGNER_INFO and chain, the time stamps as counter-signers, and how long
// all of it lives.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include "platform/common/WinStr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>

using namespace wintrusttest;

namespace {

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string DisplayName(PCCERT_CONTEXT cert)
{
    const DWORD length = CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::u16string name(length, u'\0');
    CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
    if (!name.empty())
        name.pop_back();
    return Narrow(name);
}

bool SameBlob(const CRYPTOAPI_BLOB& a, const CRYPTOAPI_BLOB& b)
{
    return a.cbData == b.cbData && (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

const CRYPT_ATTRIBUTE* FindAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i)
        if (std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
            return &attributes.rgAttr[i];
    return nullptr;
}

// The signer info names exactly the certificate the chain starts with.
void ExpectIssuedBy(const CMSG_SIGNER_INFO* info, const CRYPT_PROVIDER_CERT& cert)
{
    ASSERT_NE(info, nullptr);
    ASSERT_NE(cert.pCert, nullptr);
    EXPECT_TRUE(SameBlob(info->Issuer, cert.pCert->pCertInfo->Issuer));
    EXPECT_TRUE(SameBlob(info->SerialNumber, cert.pCert->pCertInfo->SerialNumber));
}

struct Opus {
    std::string Program;
    std::optional<std::pair<DWORD, std::string>> MoreInfo;
    std::optional<std::pair<DWORD, std::string>> Publisher;
};

std::optional<std::pair<DWORD, std::string>> LinkOf(const SPC_LINK* link)
{
    if (!link)
        return std::nullopt;
    if (link->dwLinkChoice == SPC_URL_LINK_CHOICE)
        return std::make_pair(link->dwLinkChoice, Narrow(winstr::View(link->pwszUrl)));
    if (link->dwLinkChoice == SPC_FILE_LINK_CHOICE)
        return std::make_pair(link->dwLinkChoice, Narrow(winstr::View(link->pwszFile)));
    return std::make_pair(link->dwLinkChoice, std::string());
}

// The opus attribute decoded as the program decodes it; std::nullopt when there is none.
std::optional<Opus> OpusOf(const CMSG_SIGNER_INFO* info)
{
    const CRYPT_ATTRIBUTE* attribute = FindAttribute(info->AuthAttrs, SPC_SP_OPUS_INFO_OBJID);
    if (!attribute || attribute->cValue == 0)
        return std::nullopt;
    DWORD size = 0;
    const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
    if (!CryptDecodeObject(Encoding, SPC_SP_OPUS_INFO_OBJID, value.pbData, value.cbData, 0, nullptr, &size))
        return std::nullopt;
    std::vector<uint64_t> buffer((size + 7) / 8);
    if (!CryptDecodeObject(Encoding, SPC_SP_OPUS_INFO_OBJID, value.pbData, value.cbData, 0, buffer.data(), &size))
        return std::nullopt;
    const auto* opus = reinterpret_cast<const SPC_SP_OPUS_INFO*>(buffer.data());
    return Opus{Narrow(winstr::View(opus->pwszProgramName)), LinkOf(opus->pMoreInfo), LinkOf(opus->pPublisherInfo)};
}

std::optional<uint64_t> SigningTimeOf(const CMSG_SIGNER_INFO* info)
{
    const CRYPT_ATTRIBUTE* attribute = FindAttribute(info->AuthAttrs, szOID_RSA_signingTime);
    if (!attribute || attribute->cValue == 0)
        return std::nullopt;
    FILETIME time{};
    DWORD size = sizeof time;
    const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
    if (!CryptDecodeObject(Encoding, szOID_RSA_signingTime, value.pbData, value.cbData, 0, &time, &size))
        return std::nullopt;
    return Ticks(time);
}

uint64_t NowTicks()
{
    return (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ULL) * 10'000'000ULL;
}

TEST(ProviderDataTest, SignedExecutable)
{
    const TrustAnchors anchors(Anchors::Root);
    const Verification verification(Signed("valid.exe"));
    ASSERT_EQ(Hex(verification.result()), Hex(S_OK));
    CRYPT_PROVIDER_DATA* data = verification.data();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->cbStruct, sizeof(CRYPT_PROVIDER_DATA));
    ASSERT_NE(data->pgActionID, nullptr);
    EXPECT_TRUE(*data->pgActionID == WINTRUST_ACTION_GENERIC_VERIFY_V2);

    // The message handle is a crypt32 message of the signature.
    ASSERT_NE(data->hMsg, nullptr);
    DWORD signers = 0;
    DWORD size = sizeof signers;
    ASSERT_TRUE(CryptMsgGetParam(data->hMsg, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size));
    EXPECT_EQ(signers, 1u);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, data->hMsg);
    ASSERT_NE(store, nullptr);
    std::vector<std::string> names;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert;
         cert = CertEnumCertificatesInStore(store, cert))
        names.push_back(DisplayName(cert));
    CertCloseStore(store, 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Tessera Test Code Signing", "Tessera Test Intermediate CA",
                                               "Tessera Test Root CA"}));

    CRYPT_PROVIDER_SGNR* signer = verification.signer();
    ASSERT_NE(signer, nullptr);
    EXPECT_EQ(signer, &data->pasSigners[0]);
    EXPECT_EQ(signer->dwSignerType, 0u);
    EXPECT_EQ(signer->dwError, 0u);
    ASSERT_NE(signer->psSigner, nullptr);
    EXPECT_STREQ(signer->psSigner->HashAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
    EXPECT_EQ(signer->psSigner->UnauthAttrs.cAttr, 0u);

    // The signer's own certificate first, then the chain up to the trusted root.
    ASSERT_EQ(signer->csCertChain, 3u);
    const CRYPT_PROVIDER_CERT* leaf = WTHelperGetProvCertFromChain(signer, 0);
    ASSERT_EQ(leaf, &signer->pasCertChain[0]);
    EXPECT_EQ(DisplayName(leaf->pCert), "Tessera Test Code Signing");
    ExpectIssuedBy(signer->psSigner, *leaf);
    EXPECT_EQ(DisplayName(signer->pasCertChain[1].pCert), "Tessera Test Intermediate CA");
    const CRYPT_PROVIDER_CERT& root = signer->pasCertChain[2];
    EXPECT_EQ(DisplayName(root.pCert), "Tessera Test Root CA");
    EXPECT_TRUE(root.fTrustedRoot);
    EXPECT_TRUE(root.fSelfSigned);
    EXPECT_FALSE(leaf->fTrustedRoot);
    EXPECT_FALSE(leaf->fSelfSigned);
    for (DWORD i = 0; i < signer->csCertChain; ++i)
        EXPECT_EQ(signer->pasCertChain[i].dwError, 0u) << i;
    EXPECT_EQ(WTHelperGetProvCertFromChain(signer, 3), nullptr);

    // Without a time stamp the signer is judged now, and there are no counter-signers.
    const uint64_t asOf = Ticks(signer->sftVerifyAsOf);
    EXPECT_LE(asOf, NowTicks() + 10'000'000ULL);
    EXPECT_GE(asOf + 600 * 10'000'000ULL, NowTicks());
    EXPECT_EQ(signer->csCounterSigners, 0u);
    EXPECT_EQ(WTHelperGetProvSignerFromChain(data, 0, TRUE, 0), nullptr);
    EXPECT_EQ(WTHelperGetProvSignerFromChain(data, 1, FALSE, 0), nullptr);
}

TEST(ProviderDataTest, OpusInformationIsInTheSignerInfo)
{
    const TrustAnchors anchors(Anchors::Root);
    const auto url = [](const char* text) { return std::make_pair(SPC_URL_LINK_CHOICE, std::string(text)); };
    const struct {
        const char* File;
        std::optional<Opus> Expected;
    } cases[] = {
        {"valid.exe", Opus{"Tessera Test Program", url("https://tessera.example/info"), std::nullopt}},
        {"opus-urls.exe", Opus{"Tessera Ünïcode Program", url("https://tessera.example/more"),
                               url("https://tessera.example/publisher")}},
        {"opus-file.exe", Opus{"Tessera File Link",
                               std::make_pair(SPC_FILE_LINK_CHOICE, std::string("\\\\server\\share\\about.txt")),
                               std::nullopt}},
        {"no-opus.exe", std::nullopt},
        {"msi-dse-ts.msi", Opus{"Tessera Test Program", url("https://tessera.example/info"), std::nullopt}},
    };
    for (const auto& c : cases) {
        const Verification verification(Signed(c.File));
        ASSERT_NE(verification.signer(), nullptr) << c.File;
        const std::optional<Opus> opus = OpusOf(verification.signer()->psSigner);
        ASSERT_EQ(opus.has_value(), c.Expected.has_value()) << c.File;
        if (!opus)
            continue;
        EXPECT_EQ(opus->Program, c.Expected->Program) << c.File;
        EXPECT_EQ(opus->MoreInfo, c.Expected->MoreInfo) << c.File;
        EXPECT_EQ(opus->Publisher, c.Expected->Publisher) << c.File;
    }
}

TEST(ProviderDataTest, TimeStampsAreCounterSigners)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    const uint64_t past = TicksOf(2020, 6, 1, 12, 0, 0);
    const struct {
        const char* File;
        std::optional<uint64_t> Time; // known when it was stamped "in the past"
    } cases[] = {
        {"ts-legacy.exe", std::nullopt},
        {"ts-rfc3161.exe", std::nullopt},
        {"ts-rfc3161-attrcert.exe", std::nullopt},
        {"expired-ts-legacy.exe", past},
        {"expired-ts-rfc3161.exe", past},
        {"msi-ts.msi", std::nullopt},
    };
    for (const auto& c : cases) {
        const Verification verification(Signed(c.File));
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK)) << c.File;
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr) << c.File;
        ASSERT_EQ(signer->csCounterSigners, 1u) << c.File;
        CRYPT_PROVIDER_SGNR* counter = WTHelperGetProvSignerFromChain(verification.data(), 0, TRUE, 0);
        ASSERT_EQ(counter, &signer->pasCounterSigners[0]) << c.File;
        EXPECT_EQ(WTHelperGetProvSignerFromChain(verification.data(), 0, TRUE, 1), nullptr) << c.File;
        EXPECT_EQ(counter->cbStruct, sizeof(CRYPT_PROVIDER_SGNR));
        EXPECT_EQ(counter->dwSignerType, SGNR_TYPE_TIMESTAMP) << c.File;
        EXPECT_EQ(counter->dwError, 0u) << c.File;
        ASSERT_EQ(counter->csCertChain, 2u) << c.File;
        const CRYPT_PROVIDER_CERT* stamper = WTHelperGetProvCertFromChain(counter, 0);
        ASSERT_NE(stamper, nullptr) << c.File;
        EXPECT_EQ(DisplayName(stamper->pCert), "Test Time-Stamp Signer") << c.File;
        ExpectIssuedBy(counter->psSigner, *stamper);
        EXPECT_TRUE(counter->pasCertChain[1].fTrustedRoot) << c.File;

        // The time stamp's time is the counter-signer's, and the one the signer is judged at; the
        // counter-signer's signing-time attribute (which the program reads) says the same.
        const uint64_t stamped = Ticks(counter->sftVerifyAsOf);
        EXPECT_EQ(Ticks(signer->sftVerifyAsOf), stamped) << c.File;
        EXPECT_EQ(SigningTimeOf(counter->psSigner), stamped) << c.File;
        if (c.Time)
            EXPECT_EQ(stamped, *c.Time) << c.File;
        else
            EXPECT_GT(stamped, TicksOf(2024, 1, 1)) << c.File;
    }
}

TEST(ProviderDataTest, ErrorsAreKeptWhereTheyArise)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    {
        const Verification verification(Signed("expired.exe"));
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        ASSERT_EQ(signer->csCertChain, 3u);
        EXPECT_EQ(Hex(static_cast<HRESULT>(signer->pasCertChain[0].dwError)), Hex(CERT_E_EXPIRED));
        EXPECT_EQ(signer->pasCertChain[1].dwError, 0u);
        EXPECT_EQ(Hex(static_cast<HRESULT>(signer->dwError)), Hex(CERT_E_EXPIRED));
    }
    {
        const Verification verification(Signed("untrusted-root.exe"));
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        ASSERT_EQ(signer->csCertChain, 2u);
        const CRYPT_PROVIDER_CERT& top = signer->pasCertChain[1];
        EXPECT_TRUE(top.fSelfSigned);
        EXPECT_FALSE(top.fTrustedRoot);
        EXPECT_EQ(Hex(static_cast<HRESULT>(top.dwError)), Hex(CERT_E_UNTRUSTEDROOT));
    }
    {
        const Verification verification(Signed("no-intermediate.exe"));
        ASSERT_NE(verification.signer(), nullptr);
        ASSERT_EQ(verification.signer()->csCertChain, 1u);
        EXPECT_EQ(DisplayName(verification.signer()->pasCertChain[0].pCert), "Tessera Test Code Signing");
    }
    {
        // No certificate to show, but the signer info is there.
        const Verification verification(Signed("no-signer-cert.exe"));
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        EXPECT_NE(signer->psSigner, nullptr);
        EXPECT_EQ(signer->csCertChain, 0u);
        EXPECT_EQ(WTHelperGetProvCertFromChain(signer, 0), nullptr);
    }
    {
        const Verification verification(Signed("wrong-usage.exe"));
        ASSERT_NE(verification.signer(), nullptr);
        EXPECT_EQ(Hex(static_cast<HRESULT>(verification.signer()->pasCertChain[0].dwError)), Hex(CERT_E_WRONG_USAGE));
    }
    {
        // A spoofed root: the chain takes the carried root whose key verifies the signer's
        // certificate, not the trusted namesake; its explicit curve parameters are refused.
        const Verification verification(Signed("ec-spoof.exe"));
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        ASSERT_EQ(signer->csCertChain, 2u);
        EXPECT_EQ(signer->pasCertChain[0].dwError, 0u);
        const CRYPT_PROVIDER_CERT& top = signer->pasCertChain[1];
        EXPECT_EQ(DisplayName(top.pCert), "Tessera EC Root");
        EXPECT_TRUE(top.fSelfSigned);
        EXPECT_FALSE(top.fTrustedRoot);
        EXPECT_EQ(Hex(static_cast<HRESULT>(top.dwError)), Hex(TRUST_E_EXPLICIT_DISTRUST));
        EXPECT_EQ(Hex(static_cast<HRESULT>(signer->dwError)), Hex(CERT_E_UNTRUSTEDROOT));
    }
    {
        // A trusted root without basicConstraints is a CA; an intermediate without them is not.
        const Verification verification(Signed("intermediate-no-bc.exe"));
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        ASSERT_EQ(signer->csCertChain, 3u);
        EXPECT_EQ(Hex(static_cast<HRESULT>(signer->pasCertChain[1].dwError)), Hex(TRUST_E_BASIC_CONSTRAINTS));
        EXPECT_TRUE(signer->pasCertChain[2].fTrustedRoot);
        EXPECT_EQ(signer->pasCertChain[2].dwError, 0u);
    }
    {
        // The signer's details stay readable when its time stamp is broken.
        const Verification verification(Signed("ts-rfc3161-broken.exe"));
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        EXPECT_EQ(signer->csCertChain, 3u);
        ASSERT_EQ(signer->csCounterSigners, 1u);
        EXPECT_EQ(Hex(static_cast<HRESULT>(signer->pasCounterSigners[0].dwError)), Hex(TRUST_E_TIME_STAMP));
        EXPECT_NE(signer->pasCounterSigners[0].psSigner, nullptr);
    }
}

TEST(ProviderDataTest, UnsignedFileLeavesAnEmptyState)
{
    const Verification verification(testsupport::Fixture("pe/gui.exe"));
    EXPECT_EQ(Hex(verification.result()), Hex(TRUST_E_NOSIGNATURE));
    ASSERT_NE(verification.data(), nullptr);
    EXPECT_EQ(verification.data()->csSigners, 0u);
    EXPECT_EQ(verification.data()->hMsg, nullptr);
    EXPECT_EQ(verification.signer(), nullptr);
}

TEST(ProviderDataTest, StateLivesUntilTheCloseAction)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    Verification first(Signed("ts-rfc3161.exe"));
    Verification second(Signed("msi-dse-ts.msi"));
    ASSERT_NE(first.state(), nullptr);
    ASSERT_NE(second.state(), nullptr);
    ASSERT_NE(second.state(), first.state());
    CRYPT_PROVIDER_DATA* firstData = first.data();
    CRYPT_PROVIDER_SGNR* firstSigner = first.signer();
    ASSERT_NE(firstSigner, nullptr);
    const HANDLE firstState = first.state();

    EXPECT_EQ(Hex(first.Close()), Hex(S_OK));
    EXPECT_EQ(first.request().hWVTStateData, nullptr);
    // Once closed, nothing of it is answered any more; the other state is untouched.
    EXPECT_EQ(WTHelperProvDataFromStateData(firstState), nullptr);
    EXPECT_EQ(WTHelperGetProvSignerFromChain(firstData, 0, FALSE, 0), nullptr);
    EXPECT_EQ(WTHelperGetProvCertFromChain(firstSigner, 0), nullptr);
    CRYPT_PROVIDER_SGNR* signer = second.signer();
    ASSERT_NE(signer, nullptr);
    ASSERT_GE(signer->csCertChain, 1u);
    EXPECT_EQ(DisplayName(signer->pasCertChain[0].pCert), "Tessera Test Code Signing");
    ASSERT_EQ(signer->csCounterSigners, 1u);
    EXPECT_EQ(DisplayName(signer->pasCounterSigners[0].pasCertChain[0].pCert), "Test Time-Stamp Signer");

    // Closing again, or closing nothing, is harmless.
    EXPECT_EQ(Hex(first.Close()), Hex(S_OK));
    WINTRUST_DATA none{};
    none.cbStruct = sizeof none;
    none.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &none)), Hex(S_OK));
    none.hWVTStateData = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &none)), Hex(S_OK));
}

TEST(ProviderDataTest, HelpersRefusePointersTheyDidNotHandOut)
{
    EXPECT_EQ(WTHelperProvDataFromStateData(nullptr), nullptr);
    EXPECT_EQ(WTHelperProvDataFromStateData(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234))), nullptr);
    EXPECT_EQ(WTHelperGetProvSignerFromChain(nullptr, 0, FALSE, 0), nullptr);
    CRYPT_PROVIDER_DATA foreign{};
    EXPECT_EQ(WTHelperGetProvSignerFromChain(&foreign, 0, FALSE, 0), nullptr);
    CRYPT_PROVIDER_SGNR stranger{};
    EXPECT_EQ(WTHelperGetProvCertFromChain(&stranger, 0), nullptr);
    EXPECT_EQ(WTHelperGetProvCertFromChain(nullptr, 0), nullptr);
}

} // namespace
