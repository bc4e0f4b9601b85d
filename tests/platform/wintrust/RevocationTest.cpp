// Revocation of the whole chain: a CRL fetched from the distribution point the revoked signer
// names (a loopback server this test runs), or carried in the signature.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include "platform/common/WinStr.h"
#include "platform/include/win/winbase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

using namespace wintrusttest;

namespace {

TEST(RevocationTest, CrlFromTheDistributionPoint)
{
    const TrustAnchors anchors(Anchors::Root);
    const auto revoked = Signed("revoked.exe");
    // The steps run in this order in one process: a list that arrived is kept for the rest of it.
    {
        // Nobody answers: revocation is offline, which fails nothing.
        const Verification verification(revoked);
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK));
    }
    {
        const LoopbackServer server(CrlPort, testsupport::ReadBytes(Signed("tessera-intermediate.crl")));
        ASSERT_TRUE(server.listening());
        {
            // Revocation not asked for: the list is not even fetched.
            const Verification verification(revoked, Open::Handle, WTD_REVOKE_NONE);
            EXPECT_EQ(Hex(verification.result()), Hex(S_OK));
            EXPECT_EQ(server.requests(), 0);
        }
        {
            // Only what is cached, and nothing is yet.
            const Verification verification(revoked, Open::Handle, WTD_REVOKE_WHOLECHAIN,
                                             WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL);
            EXPECT_EQ(Hex(verification.result()), Hex(S_OK));
            EXPECT_EQ(server.requests(), 0);
        }
        const Verification verification(revoked);
        EXPECT_EQ(Hex(verification.result()), Hex(CERT_E_REVOKED));
        EXPECT_EQ(server.requests(), 1);
        CRYPT_PROVIDER_SGNR* signer = verification.signer();
        ASSERT_NE(signer, nullptr);
        ASSERT_EQ(signer->csCertChain, 3u);
        EXPECT_EQ(Hex(static_cast<HRESULT>(signer->pasCertChain[0].dwError)), Hex(CERT_E_REVOKED));
        EXPECT_EQ(signer->pasCertChain[0].dwRevokedReason, 1u); // keyCompromise
        EXPECT_EQ(signer->pasCertChain[1].dwError, 0u);

        // The peer, with the same list served, agrees from 2.6 on, which fetches the lists that
        // certificates name; before, it fetches none and accepts the file.
        if (const auto peer = FindProgram("osslsigncode"); !peer.empty()) {
            const int version = PeerVersion();
            const testsupport::RunResult theirs = testsupport::RunProgram(
                peer, {"verify", "-CAfile", testsupport::Fixture("certs/root.pem").string(), "-in", revoked.string()});
            EXPECT_EQ(theirs.ExitCode != 0, version >= 206) << "osslsigncode " << version << "\n" << theirs.Out;
        }
    }
    {
        // The server is gone; the list it gave is remembered, also for cache-only requests.
        const Verification again(revoked);
        EXPECT_EQ(Hex(again.result()), Hex(CERT_E_REVOKED));
        const Verification cached(revoked, Open::Handle, WTD_REVOKE_WHOLECHAIN,
                                  WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL);
        EXPECT_EQ(Hex(cached.result()), Hex(CERT_E_REVOKED));
    }
}

// A server that answers with something that is no list fails nothing, and is not asked again for
// a while: a fast server of junk would otherwise be read anew for every file.
TEST(RevocationTest, AnAnswerThatIsNoListIsNotAskedForAgain)
{
    const TrustAnchors anchors(Anchors::Root);
    const LoopbackServer server(CrlPort, Bytes(1024 * 1024, 'x'));
    ASSERT_TRUE(server.listening()) << "loopback port " << CrlPort << " is taken";
    for (const char* file : {"revoked.exe", "revoked.exe", "ts-rfc3161.exe"}) {
        const Verification verification(Signed(file));
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK)) << file << ": an unreadable list fails nothing";
    }
    EXPECT_EQ(server.requests(), 1);
}

// A file whose signatures each name another server that never answers: however many signatures
// are judged, their fetches share one bound, and the file is not held for each of them.
TEST(RevocationTest, EverySignatureOfAFileSharesOneBound)
{
    const TrustAnchors anchors(Anchors::Root);
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (const uint16_t port : NestedSilentCrlPorts) {
        servers.push_back(std::make_unique<LoopbackServer>(port));
        ASSERT_TRUE(servers.back()->listening()) << "loopback port " << port << " is taken";
    }
    const auto file = Signed("crl-silent-nested.exe");
    const HANDLE handle = CreateFileW(winstr::FromUtf8(file.string()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const std::u16string path = winstr::FromUtf8(file.string());
    const auto start = std::chrono::steady_clock::now();
    DWORD judged = 0;
    for (DWORD index = 0; index < 10; ++index) {
        WINTRUST_FILE_INFO info{};
        info.cbStruct = sizeof info;
        info.pcwszFilePath = path.c_str();
        info.hFile = handle;
        WINTRUST_SIGNATURE_SETTINGS settings{};
        settings.cbStruct = sizeof settings;
        settings.dwIndex = index;
        settings.dwFlags = WSS_VERIFY_SPECIFIC;
        WINTRUST_DATA request{};
        request.cbStruct = sizeof request;
        request.dwUIChoice = WTD_UI_NONE;
        request.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        request.dwUnionChoice = WTD_CHOICE_FILE;
        request.pFile = &info;
        request.dwStateAction = WTD_STATEACTION_IGNORE;
        request.dwProvFlags = WTD_SAFER_FLAG;
        request.pSignatureSettings = &settings;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        EXPECT_EQ(Hex(WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request)), Hex(S_OK))
            << "signature " << index;
        judged += settings.dwVerifiedSigIndex == index ? 1 : 0;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    CloseHandle(handle);
    EXPECT_EQ(judged, 10u);
    // One bound of three seconds for the file, not a second and a half for each signature (15 s);
    // the margin is for a loaded machine.
    EXPECT_LT(waited, std::chrono::milliseconds(6000));
    int asked = 0;
    for (const auto& server : servers)
        asked += server->requests();
    EXPECT_GE(asked, 1);
    EXPECT_LE(asked, 3) << "servers were asked after the file's time was up";
}

// Offline, or with a list server that never answers, a file's verification waits for one fetch's
// time and then fetches nothing more: the verdict is the one without revocation.
TEST(RevocationTest, ListsThatNeverComeAreWaitedForOnce)
{
    const TrustAnchors anchors(Anchors::Root);
    const LoopbackServer first(SilentCrlPorts[0]);
    const LoopbackServer second(SilentCrlPorts[1]);
    ASSERT_TRUE(first.listening() && second.listening()) << "loopback ports 48112 and 48113 are taken";
    const auto start = std::chrono::steady_clock::now();
    const Verification verification(Signed("crl-silent.exe"));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Hex(verification.result()), Hex(S_OK));
    EXPECT_EQ(first.requests(), 1);
    EXPECT_EQ(second.requests(), 0) << "a second list was tried after the first ran out of time";
    EXPECT_GE(waited, std::chrono::milliseconds(1000)) << "the first list was not waited for";
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    // The same file judged again soon after shares the bound, which the first wait used up.
    const Verification same(Signed("crl-silent.exe"));
    EXPECT_EQ(Hex(same.result()), Hex(S_OK));
    EXPECT_EQ(first.requests() + second.requests(), 1);
    // Another file soon after (a copy): the server that did not answer is not asked again, the
    // other one is.
    const testsupport::TempDir dir;
    std::filesystem::copy_file(Signed("crl-silent.exe"), dir / "copy.exe");
    const Verification other(dir / "copy.exe");
    EXPECT_EQ(Hex(other.result()), Hex(S_OK));
    EXPECT_EQ(first.requests(), 1);
    EXPECT_EQ(second.requests(), 1) << "the second server was never silent: it is asked now";
}

TEST(RevocationTest, CrlCarriedInTheSignature)
{
    const TrustAnchors anchors(Anchors::Root);
    const Verification verification(Signed("revoked-crl-in-message.exe"));
    EXPECT_EQ(Hex(verification.result()), Hex(CERT_E_REVOKED));
    const Verification unchecked(Signed("revoked-crl-in-message.exe"), Open::Handle, WTD_REVOKE_NONE);
    EXPECT_EQ(Hex(unchecked.result()), Hex(S_OK));
    const Verification switchedOff(Signed("revoked-crl-in-message.exe"), Open::Handle, WTD_REVOKE_WHOLECHAIN,
                                   WTD_SAFER_FLAG | WTD_REVOCATION_CHECK_NONE);
    EXPECT_EQ(Hex(switchedOff.result()), Hex(S_OK));
}

} // namespace
