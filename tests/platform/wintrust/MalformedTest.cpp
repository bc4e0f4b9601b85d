// Hostile input: damaged signatures, certificate tables and packages give clean results, never a
// crash or a hang; inputs the fuzzers once found are replayed. Also the digest of a file larger
// than one read buffer.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace wintrusttest;
using testsupport::Fixture;
using testsupport::ReadBytes;

namespace {

uint32_t U32(const Bytes& b, size_t off)
{
    return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 | uint32_t(b[off + 3]) << 24;
}

void PutU32(Bytes& b, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where a (well-formed) PE keeps data directory 4 and its certificate table.
struct Table {
    size_t Entry;
    size_t Offset;
    size_t Size;
};

Table CertificateTable(const Bytes& image)
{
    const size_t optional = U32(image, 0x3C) + 24;
    const bool pe32 = image[optional] == 0x0B && image[optional + 1] == 0x01;
    const size_t entry = optional + (pe32 ? 96 : 112) + 4 * 8;
    return {entry, U32(image, entry), U32(image, entry + 4)};
}

// The image with its one certificate entry holding these bytes (the table ends the file).
Bytes WithSignature(Bytes image, const Bytes& signature, uint16_t type = 2)
{
    const Table table = CertificateTable(image);
    image.resize(table.Offset);
    Bytes entry(8);
    const size_t padded = (signature.size() + 7) / 8 * 8;
    PutU32(entry, 0, static_cast<uint32_t>(8 + padded));
    entry[4] = 0x00;
    entry[5] = 0x02;
    entry[6] = static_cast<uint8_t>(type);
    entry[7] = 0;
    image.insert(image.end(), entry.begin(), entry.end());
    image.insert(image.end(), signature.begin(), signature.end());
    image.resize(table.Offset + 8 + padded);
    PutU32(image, table.Entry + 4, static_cast<uint32_t>(8 + padded));
    return image;
}

Bytes SignatureOf(const Bytes& image)
{
    const Table table = CertificateTable(image);
    const uint32_t length = U32(image, table.Offset);
    return Bytes(image.begin() + table.Offset + 8, image.begin() + table.Offset + length);
}

// Every result a damaged file may give.
bool IsCleanResult(HRESULT hr)
{
    static const std::set<HRESULT> clean = {
        S_OK, TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN, DIGSIG_E_DECODE, TRUST_E_BAD_DIGEST,
        TRUST_E_NO_SIGNER_CERT, TRUST_E_COUNTER_SIGNER, TRUST_E_TIME_STAMP, TRUST_E_CERT_SIGNATURE, TRUST_E_FAIL,
        TRUST_E_BASIC_CONSTRAINTS, CERT_E_EXPIRED, CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING, CERT_E_REVOKED,
        CERT_E_WRONG_USAGE, CERT_E_PATHLENCONST, CERT_E_CRITICAL};
    return clean.count(hr) != 0;
}

TEST(MalformedTest, DamagedSignatures)
{
    const TrustAnchors anchors(Anchors::Root);
    const Bytes valid = ReadBytes(Signed("valid.exe"));
    ASSERT_EQ(Hex(VerifyBytes(valid, "valid.exe")), Hex(S_OK));
    const Bytes signature = SignatureOf(valid);

    Bytes garbage(signature.size());
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    // The outer SEQUENCE claims four gigabytes.
    Bytes huge = signature;
    huge[1] = 0x84;
    huge[2] = huge[3] = huge[4] = huge[5] = 0xFF;
    const struct {
        const char* What;
        Bytes Image;
        HRESULT Result;
    } cases[] = {
        {"garbage", WithSignature(valid, garbage), DIGSIG_E_DECODE},
        {"length beyond the data", WithSignature(valid, huge), DIGSIG_E_DECODE},
        {"cut in half", WithSignature(valid, Bytes(signature.begin(), signature.begin() + signature.size() / 2)),
         DIGSIG_E_DECODE},
        {"S/MIME SignedData", WithSignature(valid, ReadBytes(Fixture("certs/signed-data.p7"))), DIGSIG_E_DECODE},
        {"content is not SpcIndirectDataContent",
         WithSignature(valid, ReadBytes(Fixture("certs/signed-other-type.p7"))), DIGSIG_E_DECODE},
        {"certificates without signers", WithSignature(valid, ReadBytes(Fixture("certs/three.p7b"))), DIGSIG_E_DECODE},
        {"an X.509 entry first", WithSignature(valid, signature, 1), TRUST_E_NOSIGNATURE},
        {"an empty entry", WithSignature(valid, {}), TRUST_E_NOSIGNATURE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(VerifyBytes(c.Image, "damaged.exe")), Hex(c.Result)) << c.What;
}

TEST(MalformedTest, EveryTruncationFailsCleanly)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    for (const char* file : {"ts-rfc3161.exe", "msi-dse-ts.msi"}) {
        const Bytes whole = ReadBytes(Signed(file));
        const size_t step = std::max<size_t>(1, whole.size() / 400);
        for (size_t length = 0; length < whole.size(); length += step) {
            const HRESULT hr = VerifyBytes(Bytes(whole.begin(), whole.begin() + length), file);
            EXPECT_NE(hr, S_OK) << file << " cut at " << length;
            EXPECT_TRUE(IsCleanResult(hr)) << file << " cut at " << length << ": " << Hex(hr);
        }
    }
}

TEST(MalformedTest, DamagedPackagesAndImagesFromOtherSuites)
{
    // The compound-file and PE readers' own damaged fixtures: a clean refusal each.
    for (const char* folder : {"compound/malformed", "pe"}) {
        for (const auto& entry : std::filesystem::directory_iterator(Fixture(folder))) {
            if (!entry.is_regular_file() || entry.path().extension() == ".md" || entry.path().extension() == ".py")
                continue;
            const Verification verification(entry.path());
            EXPECT_TRUE(IsCleanResult(verification.result())) << entry.path() << ": " << Hex(verification.result());
        }
    }
}

TEST(MalformedTest, FuzzerFindingsAreHandled)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    const struct {
        const char* File;
        HRESULT Result;
    } findings[] = {
        {"pe-cert-signature.exe", TRUST_E_CERT_SIGNATURE}, {"pe-decode.exe", DIGSIG_E_DECODE},
        {"pe-token.exe", TRUST_E_TIME_STAMP},              {"msi-cert-signature.msi", TRUST_E_CERT_SIGNATURE},
        {"msi-decode.msi", DIGSIG_E_DECODE},               {"msi-token.msi", TRUST_E_TIME_STAMP},
    };
    for (const auto& finding : findings) {
        const Verification verification(Fixture("malformed/wintrust/" + std::string(finding.File)), Open::Path,
                                        WTD_REVOKE_WHOLECHAIN, WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL);
        EXPECT_EQ(Hex(verification.result()), Hex(finding.Result)) << finding.File;
    }
    // Whatever else lands in the folder is at least handled cleanly.
    for (const auto& entry : std::filesystem::directory_iterator(Fixture("malformed/wintrust"))) {
        if (entry.path().extension() == ".md")
            continue;
        const Verification verification(entry.path(), Open::Path, WTD_REVOKE_WHOLECHAIN,
                                        WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL);
        EXPECT_TRUE(IsCleanResult(verification.result())) << entry.path() << ": " << Hex(verification.result());
    }
}

TEST(LargeFileTest, DigestSpansManyReads)
{
    // Signed here, as a large fixture would not be committed: an image with 3 MiB of data after
    // its sections, more than the stand-in reads at once.
    const auto peer = FindProgram("osslsigncode");
    ASSERT_FALSE(peer.empty()) << "the peer comes with the osslsigncode package";
    const TrustAnchors anchors(Anchors::Root);
    const testsupport::TempDir dir;
    Bytes image = ReadBytes(Fixture("pe/console.exe"));
    for (size_t i = 0; i < 3u * 1024 * 1024; ++i)
        image.push_back(static_cast<uint8_t>((i * 131) >> 7));
    testsupport::WriteBytes(dir / "large.exe", image);
    const testsupport::RunResult signing = testsupport::RunProgram(
        peer, {"sign", "-certs", Fixture("certs/codesign-chain.pem").string(), "-key",
               Fixture("certs/codesign.key").string(), "-h", "sha256", "-in", (dir / "large.exe").string(), "-out",
               (dir / "signed.exe").string()});
    ASSERT_EQ(signing.ExitCode, 0) << signing.Err;
    const Verification verification(dir / "signed.exe");
    EXPECT_EQ(Hex(verification.result()), Hex(S_OK));

    // One byte in the last megabyte changed.
    Bytes changed = ReadBytes(dir / "signed.exe");
    changed[image.size() - 1000] ^= 0x40;
    EXPECT_EQ(Hex(VerifyBytes(changed, "changed.exe")), Hex(TRUST_E_BAD_DIGEST));
}

} // namespace
