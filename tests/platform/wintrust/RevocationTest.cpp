// Revocation of the whole chain: a CRL fetched from the distribution point the revoked signer
// names (a loopback server this test runs), or carried in the signature.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

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
        const LoopbackServer server(CrlPort, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'C', 'R', 'L'});
        ASSERT_TRUE(server.listening()) << "loopback port " << CrlPort << " is taken";
        const Verification verification(revoked);
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK)) << "an unreadable list fails nothing";
        EXPECT_EQ(server.requests(), 1);
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

// Offline, or with a list server that never answers, a verification waits for one fetch's time
// and then fetches nothing more: the verdict is the one without revocation.
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
    // Another file judged soon after: the server that did not answer is not asked again.
    const Verification again(Signed("crl-silent.exe"));
    EXPECT_EQ(Hex(again.result()), Hex(S_OK));
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
