// WinVerifyTrustEx's verdicts: every signed fixture, the trust store that decides, the files that
// carry no signature, and the request itself.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include "platform/common/FileSource.h"
#include "platform/common/PeImage.h"
#include "platform/common/WinStr.h"
#include "platform/ole32/CompoundFile.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace wintrusttest;
using testsupport::Fixture;

namespace {

TEST(VerifyTest, SignedFixturesGiveWindowsResults)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    for (const Expected& fixture : SignedFixtures()) {
        // Its verdict depends on whether its CRL was served (and kept): see RevocationTest.
        if (std::string_view(fixture.File) == "revoked.exe")
            continue;
        const HRESULT expected = fixture.Result;
        const Verification verification(Signed(fixture.File));
        EXPECT_EQ(Hex(verification.result()), Hex(expected)) << fixture.File;
        // A signature that could be examined leaves its state, whatever the verdict.
        ASSERT_NE(verification.data(), nullptr) << fixture.File;
        EXPECT_EQ(verification.data()->csSigners, 1u) << fixture.File;
        EXPECT_EQ(Hex(static_cast<HRESULT>(verification.data()->dwFinalError)), Hex(expected)) << fixture.File;
    }
}

struct TrustCase {
    const char* File;
    Anchors Trusted;
    HRESULT Result;
};

TEST(VerifyTest, TrustStoreDecides)
{
    const TrustCase cases[] = {
        // Nothing trusted: the root the signature carries is not enough.
        {"valid.exe", Anchors::None, CERT_E_UNTRUSTEDROOT},
        {"msi-dse-ts.msi", Anchors::None, CERT_E_UNTRUSTEDROOT},
        {"no-intermediate.exe", Anchors::None, CERT_E_CHAINING},
        // A time stamp whose authority is not trusted cannot vouch for its time, but is not broken:
        // the signer is judged now.
        {"ts-rfc3161.exe", Anchors::Root, S_OK},
        {"ts-legacy.exe", Anchors::Root, S_OK},
        {"expired-ts-rfc3161.exe", Anchors::Root, CERT_E_EXPIRED},
        {"expired-ts-legacy.exe", Anchors::Root, CERT_E_EXPIRED},
        // The same for a time stamp under a root without basicConstraints that is not trusted.
        {"expired-ts-old-root.exe", Anchors::Root, CERT_E_EXPIRED},
        {"ts-legacy-bare-digest.exe", Anchors::Root, S_OK},
        // Without a valid time stamp the expired signer is judged now.
        {"valid.exe", Anchors::Root, S_OK},
        {"msi-dse-sha1.msi", Anchors::Root, S_OK},
        // A bad digest is reported before any question of trust.
        {"bad-digest.exe", Anchors::None, TRUST_E_BAD_DIGEST},
        {"msi-bad-digest.msi", Anchors::None, TRUST_E_BAD_DIGEST},
    };
    for (const TrustCase& c : cases) {
        const TrustAnchors anchors(c.Trusted);
        const Verification verification(Signed(c.File));
        EXPECT_EQ(Hex(verification.result()), Hex(c.Result)) << c.File << " anchors " << static_cast<int>(c.Trusted);
    }
}

TEST(VerifyTest, FilesWithoutSignature)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    const struct {
        const char* File;
        HRESULT Result;
    } cases[] = {
        {"pe/gui.exe", TRUST_E_NOSIGNATURE},                 // a PE without certificate table
        {"pe/console64.exe", TRUST_E_NOSIGNATURE},
        {"pe/cert-table-past-end.exe", TRUST_E_NOSIGNATURE}, // a table that cannot be read
        {"pe/cert-entry-too-long.exe", TRUST_E_NOSIGNATURE},
        {"pe/trunc-optional.exe", TRUST_E_NOSIGNATURE},      // a PE header cut short
        {"compound/one-file.msi", TRUST_E_NOSIGNATURE},      // an unsigned installer package
        {"compound/full-v4.cfb", TRUST_E_NOSIGNATURE},
        {"pe/text.txt", TRUST_E_SUBJECT_FORM_UNKNOWN},       // neither PE nor compound file
        {"pe/dos.exe", TRUST_E_SUBJECT_FORM_UNKNOWN},        // MZ without a PE header
        {"certs/root.cer", TRUST_E_SUBJECT_FORM_UNKNOWN},
        {"pe/signed-multi.exe", CERT_E_UNTRUSTEDROOT},       // only its first entry counts
        {"pe/signed.exe", CERT_E_UNTRUSTEDROOT},             // a self-signed signer
    };
    for (const auto& c : cases) {
        const Verification verification(Fixture(c.File));
        EXPECT_EQ(Hex(verification.result()), Hex(c.Result)) << c.File;
    }
}

TEST(VerifyTest, PathAndHandleAgree)
{
    const TrustAnchors anchors(Anchors::RootAndTsa);
    for (const char* file : {"valid.exe", "bad-digest.exe", "msi-dse-ts.msi", "expired.exe"}) {
        const Verification byHandle(Signed(file), Open::Handle);
        const Verification byPath(Signed(file), Open::Path);
        EXPECT_EQ(Hex(byPath.result()), Hex(byHandle.result())) << file;
    }
    const Verification missing(Fixture("signed/does-not-exist.exe"), Open::Handle);
    EXPECT_EQ(Hex(missing.result()), Hex(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
}

// Where the largest stream of a package starts in the file (it lies in regular sectors).
size_t LargestStreamOffset(const std::filesystem::path& package)
{
    std::shared_ptr<const cfb::CompoundFile> file;
    if (FAILED(cfb::CompoundFile::Open(package.string(), file)))
        return 0;
    const cfb::Entry* largest = nullptr;
    for (const uint32_t id : file->Root().Children) {
        const cfb::Entry* entry = file->EntryById(id);
        if (entry && !entry->IsStorage() && (!largest || entry->Size > largest->Size))
            largest = entry;
    }
    return largest ? (static_cast<size_t>(largest->StartSector) + 1) * file->SectorSize() : 0;
}

TEST(VerifyTest, EveryDigestAlgorithm)
{
    // Signed here for each algorithm Authenticode names (the committed fixtures use SHA-1 and
    // SHA-256), an executable and a package with the metadata digest; then one byte changed.
    const auto peer = FindProgram("osslsigncode");
    ASSERT_FALSE(peer.empty()) << "the peer comes with the osslsigncode package";
    const TrustAnchors anchors(Anchors::Root);
    const testsupport::TempDir dir;
    for (const char* algorithm : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
        for (const char* base : {"pe/console64.exe", "compound/one-file.msi"}) {
            const bool package = std::string_view(base).ends_with(".msi");
            const auto out = dir / (std::string(algorithm) + (package ? ".msi" : ".exe"));
            std::vector<std::string> args = {"sign", "-certs", Fixture("certs/codesign-chain.pem").string(), "-key",
                                             Fixture("certs/codesign.key").string(), "-h", algorithm};
            if (package)
                args.push_back("-add-msi-dse");
            args.insert(args.end(), {"-in", Fixture(base).string(), "-out", out.string()});
            const testsupport::RunResult signing = testsupport::RunProgram(peer, args);
            ASSERT_EQ(signing.ExitCode, 0) << algorithm << " " << base << ": " << signing.Err;
            const Verification verification(out);
            EXPECT_EQ(Hex(verification.result()), Hex(S_OK)) << algorithm << " " << base;

            // A byte of the image's DOS stub, or of the package's largest stream.
            Bytes bytes = testsupport::ReadBytes(out);
            bytes[package ? LargestStreamOffset(out) + 10 : 0x50] ^= 0x10;
            EXPECT_EQ(Hex(VerifyBytes(bytes, package ? "changed.msi" : "changed.exe")), Hex(TRUST_E_BAD_DIGEST))
                << algorithm << " " << base;
        }
    }
}

// Signers hash an image flat: every byte but the CheckSum, the certificate table's directory
// entry and the table, each once and wherever it lies. Headers that overlap the first section,
// bytes between sections, data after the last one and data appended after the table are all
// covered; the CheckSum is not.
TEST(VerifyTest, TheImageIsHashedFlat)
{
    const TrustAnchors anchors(Anchors::Root);
    enum class At { Offset, CheckSum, Appended };
    const struct {
        const char* File;
        const char* What;
        At Where;
        size_t Offset;
        HRESULT Result;
    } cases[] = {
        {"layout-overlap.exe", "the DOS stub", At::Offset, 0x50, TRUST_E_BAD_DIGEST},
        {"layout-overlap.exe", "headers and .text at once", At::Offset, 0x800, TRUST_E_BAD_DIGEST},
        {"layout-overlap.exe", ".data after the headers", At::Offset, 0x1200, TRUST_E_BAD_DIGEST},
        {"layout-gaps.exe", "the gap after .text", At::Offset, 0x700, TRUST_E_BAD_DIGEST},
        {"layout-gaps.exe", "the gap after .data", At::Offset, 0xB00, TRUST_E_BAD_DIGEST},
        {"layout-overlay.exe", "the data after the last section", At::Offset, 0x700, TRUST_E_BAD_DIGEST},
        {"layout-overlay.exe", "data appended after the certificate table", At::Appended, 0, TRUST_E_BAD_DIGEST},
        {"layout-overlap.exe", "the CheckSum", At::CheckSum, 0, S_OK},
        {"layout-gaps.exe", "the CheckSum", At::CheckSum, 3, S_OK},
    };
    for (const auto& c : cases) {
        const auto path = Signed(c.File);
        const auto file = OwnedFile::Open(path.string());
        ASSERT_TRUE(file) << c.File;
        const auto image = pe::PeImage::Load(file->source());
        ASSERT_TRUE(image) << c.File;
        const auto table = image->CertificateTable();
        ASSERT_TRUE(table && table->Length > 0) << c.File;
        EXPECT_EQ(Hex(Verification(path).result()), Hex(S_OK)) << c.File;

        Bytes bytes = testsupport::ReadBytes(path);
        switch (c.Where) {
        case At::Offset:
            ASSERT_LT(c.Offset, table->Offset) << c.File;
            bytes[c.Offset] ^= 0x20;
            break;
        case At::CheckSum: bytes[image->CheckSumOffset() + c.Offset] ^= 0x20; break;
        case At::Appended: bytes.insert(bytes.end(), {'m', 'o', 'r', 'e', ' ', 'd', 'a', 't', 'a', '!'}); break;
        }
        EXPECT_EQ(Hex(VerifyBytes(bytes, "changed.exe")), Hex(c.Result)) << c.File << ": " << c.What;
    }
}

GUID Action()
{
    return WINTRUST_ACTION_GENERIC_VERIFY_V2;
}

// A complete request for a fixture, opened by path, that a test then spoils.
struct Request {
    explicit Request(const std::string& fixture) : Path(winstr::FromUtf8(Signed(fixture).string()))
    {
        File.cbStruct = sizeof File;
        File.pcwszFilePath = Path.c_str();
        File.hFile = INVALID_HANDLE_VALUE;
        Data.cbStruct = sizeof Data;
        Data.dwUIChoice = WTD_UI_NONE;
        Data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        Data.dwUnionChoice = WTD_CHOICE_FILE;
        Data.pFile = &File;
        Data.dwStateAction = WTD_STATEACTION_VERIFY;
        Data.dwProvFlags = WTD_SAFER_FLAG;
    }
    ~Request()
    {
        Data.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = Action();
        WinVerifyTrustEx(nullptr, &action, &Data);
    }
    std::u16string Path;
    WINTRUST_FILE_INFO File{};
    WINTRUST_DATA Data{};
};

TEST(RequestTest, UnknownActionIsRefusedWithoutState)
{
    Request request("valid.exe");
    GUID other = Action();
    other.Data4[7] ^= 0xFF;
    EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &other, &request.Data)), Hex(TRUST_E_ACTION_UNKNOWN));
    EXPECT_EQ(request.Data.hWVTStateData, nullptr);
    EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, nullptr, &request.Data)), Hex(TRUST_E_ACTION_UNKNOWN));
    EXPECT_EQ(static_cast<HRESULT>(GetLastError()), TRUST_E_ACTION_UNKNOWN);
}

TEST(RequestTest, MalformedRequestsAreRefused)
{
    GUID action = Action();
    EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, nullptr)), Hex(E_INVALIDARG));
    {
        Request request("valid.exe");
        request.Data.cbStruct = 8; // too short to hold the state handle
        EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &request.Data)), Hex(E_INVALIDARG));
    }
    {
        Request request("valid.exe");
        request.File.cbStruct = 4;
        EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &request.Data)), Hex(E_INVALIDARG));
    }
    {
        Request request("valid.exe");
        request.Data.dwUnionChoice = WTD_CHOICE_BLOB;
        EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &request.Data)), Hex(TRUST_E_SUBJECT_FORM_UNKNOWN));
        EXPECT_EQ(request.Data.hWVTStateData, nullptr);
    }
    {
        // A file's information where the catalog choice wants a catalog's: too short for it.
        Request request("valid.exe");
        request.Data.dwUnionChoice = WTD_CHOICE_CATALOG;
        EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &request.Data)), Hex(E_INVALIDARG));
        EXPECT_EQ(request.Data.hWVTStateData, nullptr);
    }
    {
        Request request("valid.exe");
        request.File.pcwszFilePath = nullptr; // and no handle either
        EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &request.Data)), Hex(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)));
    }
}

TEST(RequestTest, WinVerifyTrustAnswersAsTheExtendedForm)
{
    const TrustAnchors anchors(Anchors::Root);
    for (const char* file : {"valid.exe", "expired.exe", "bad-digest.exe"}) {
        Request request(file);
        GUID action = Action();
        const LONG result = WinVerifyTrust(nullptr, &action, &request.Data);
        const Verification reference(Signed(file));
        EXPECT_EQ(Hex(result), Hex(reference.result())) << file;
        EXPECT_NE(request.Data.hWVTStateData, nullptr) << file;
    }
}

TEST(RequestTest, IgnoreActionKeepsNoState)
{
    const TrustAnchors anchors(Anchors::Root);
    Request request("valid.exe");
    request.Data.dwStateAction = WTD_STATEACTION_IGNORE;
    GUID action = Action();
    EXPECT_EQ(Hex(WinVerifyTrustEx(nullptr, &action, &request.Data)), Hex(S_OK));
    EXPECT_EQ(request.Data.hWVTStateData, nullptr);
}

} // namespace
