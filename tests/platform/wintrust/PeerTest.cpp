// Agreement with a peer: osslsigncode, given the same trust anchors, reaches the same verdict
// (success or failure) on every signed fixture, except where its policy is knowingly not
// Windows' own.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

using namespace wintrusttest;

namespace {

TEST(PeerTest, OsslsigncodeReachesTheSameVerdict)
{
    const std::filesystem::path peer = FindProgram("osslsigncode");
    ASSERT_FALSE(peer.empty()) << "the peer comes with the osslsigncode package";
    const int version = PeerVersion();
    ASSERT_GT(version, 0) << "osslsigncode --version names no version";
    // Where osslsigncode's policy is not Windows': it accepts a file when any of its signatures
    // verifies (Windows looks at the first only); it treats a time stamp that does not verify as
    // absent (Windows fails the file); it takes a root without basicConstraints for no CA and knows
    // nothing of lifetime signing. From 2.8 on it also fails a file whose revocation lists cannot
    // be fetched (Debian 12 has 2.5, which fetches none; its backports have 2.9).
    std::set<std::string_view> knownDifferences = {"nested.exe",
                                                   "ts-legacy-broken.exe",
                                                   "ts-rfc3161-broken.exe",
                                                   "ts-legacy-bare-digest-changed.exe",
                                                   "expired-ts-old-root.exe",
                                                   "lifetime-expired-ts.exe"};
    if (version >= 208)
        knownDifferences.insert("crl-silent.exe");
    const TrustAnchors anchors(Anchors::RootAndTsa);
    const std::string trusted = anchors.file().string();
    for (const Expected& fixture : SignedFixtures()) {
        // Its CRL needs the loopback server: compared in RevocationTest.
        if (std::string_view(fixture.File) == "revoked.exe")
            continue;
        const Verification ours(Signed(fixture.File));
        const testsupport::RunResult theirs = testsupport::RunProgram(
            peer, {"verify", "-CAfile", trusted, "-TSA-CAfile", trusted, "-in", Signed(fixture.File).string()});
        const bool weAccept = ours.result() == S_OK;
        const bool theyAccept = theirs.ExitCode == 0;
        if (knownDifferences.count(fixture.File))
            EXPECT_NE(weAccept, theyAccept)
                << fixture.File << ": the known difference is gone (osslsigncode " << version << ")";
        else
            EXPECT_EQ(weAccept, theyAccept)
                << fixture.File << " ours " << Hex(ours.result()) << ", osslsigncode " << version << "\n"
                << theirs.Out;
    }
}

} // namespace
