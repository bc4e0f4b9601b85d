// Agreement with a peer: osslsigncode, given the same trust anchors, reaches the same verdict
// (success or failure) on every signed fixture, except where its policy is knowingly not
// Windows' own.
#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string_view>
#include <vector>

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

// The installed osslsigncode's version as major * 100 + minor; 0 when it does not say.
int PeerVersion(const std::filesystem::path& peer)
{
    const testsupport::RunResult r = testsupport::RunProgram(peer, {"--version"});
    std::smatch match;
    const std::string text = r.Out + r.Err;
    if (!std::regex_search(text, match, std::regex(R"(osslsigncode (\d+)\.(\d+))")))
        return 0;
    return std::stoi(match[1]) * 100 + std::stoi(match[2]);
}

TEST(PeerTest, OsslsigncodeAgreesOnContainers)
{
    const std::filesystem::path peer = FindProgram("osslsigncode");
    ASSERT_FALSE(peer.empty()) << "the peer comes with the osslsigncode package";
    // The fixtures were made with osslsigncode 2.9. Older releases verify fewer formats: app
    // packages since 2.7 (cabinet signing was mended then too), scripts and catalogs since 2.8;
    // Debian 12's own 2.5 knows none of these, and their rows are not compared.
    const int version = PeerVersion(peer);
    struct Row {
        const char* File; // under tests/fixtures/containers
        int Since;
        bool WindowsDiffers; // osslsigncode's verdict is knowingly not Windows'
    };
    const Row rows[] = {
        {"cab/valid.cab", 207, false},          {"cab/ts.cab", 207, false},
        {"cab/nested.cab", 207, false},         {"cab/bad-digest.cab", 207, false},
        {"cab/unsigned.cab", 207, false},       {"script/valid.ps1", 208, false},
        {"script/ts.ps1", 208, false},          {"script/nested.ps1", 208, false},
        {"script/utf16.ps1", 208, false},       {"script/module.psm1", 208, false},
        {"script/types.ps1xml", 208, false},    {"script/bad-digest.ps1", 208, false},
        {"script/unsigned.ps1", 208, false},    {"appx/valid.msix", 207, false},
        {"appx/ts.msix", 207, false},           {"appx/code-integrity.msix", 207, false},
        {"appx/valid.msixbundle", 207, false},  {"appx/bad-digest.msix", 207, false},
        {"appx/unsigned.msix", 207, false},
        // Text after the signature block is covered by no digest: Windows does not run it as
        // signed, osslsigncode checks only what precedes the block.
        {"script/text-after.ps1", 208, true},
        // osslsigncode checks the block map's own hash but not the blocks it lists.
        {"appx/block-map-lies.msix", 207, true},
    };
    // Catalogs since 2.8 (their own signature, and the files they list with -catalog).
    const Row catalogs[] = {
        {"catalog/valid.cat", 208, false},      {"catalog/bad-digest.cat", 208, false},
        {"catalog/unsigned.cat", 208, false},   {"driver/tessera.cat", 208, false},
        {"driver-sha1/tessera-sha1.cat", 208, false},
    };
    struct Member {
        const char* Catalog;
        const char* File;
    };
    const Member members[] = {
        {"driver/tessera.cat", "driver/tessera.sys"},
        {"driver/tessera.cat", "driver/tessera.dll"},
        {"driver/tessera.cat", "driver-changed/tessera.sys"},
        {"driver/tessera.cat", "driver-changed/tessera.dll"},
        {"driver-sha1/tessera-sha1.cat", "driver-sha1/tessera.sys"},
        {"driver-sha1/tessera-sha1.cat", "driver/tessera.dll"},
    };
    const TrustAnchors anchors(Anchors::Root);
    const std::string trusted = anchors.file().string();
    int compared = 0;
    const auto container = [](const char* name) { return testsupport::Fixture(std::string("containers/") + name); };
    if (version >= 208) {
        for (const Member& m : members) {
            ++compared;
            const HRESULT ours = VerifyByCatalog(container(m.Catalog), container(m.File));
            const testsupport::RunResult theirs = testsupport::RunProgram(
                peer, {"verify", "-CAfile", trusted, "-TSA-CAfile", trusted, "-catalog", container(m.Catalog).string(),
                       "-in", container(m.File).string()});
            EXPECT_EQ(ours == S_OK, theirs.ExitCode == 0)
                << m.File << " in " << m.Catalog << " ours " << Hex(ours) << "\n" << theirs.Out;
        }
    }
    std::vector<Row> all(std::begin(rows), std::end(rows));
    all.insert(all.end(), std::begin(catalogs), std::end(catalogs));
    for (const Row& row : all) {
        if (version < row.Since)
            continue;
        ++compared;
        const std::filesystem::path file = container(row.File);
        const Verification ours(file);
        const testsupport::RunResult theirs =
            testsupport::RunProgram(peer, {"verify", "-CAfile", trusted, "-TSA-CAfile", trusted, "-in", file.string()});
        const bool weAccept = ours.result() == S_OK;
        const bool theyAccept = theirs.ExitCode == 0;
        if (row.WindowsDiffers)
            EXPECT_NE(weAccept, theyAccept) << row.File << ": the known difference is gone";
        else
            EXPECT_EQ(weAccept, theyAccept) << row.File << " ours " << Hex(ours.result()) << "\n" << theirs.Out;
    }
    if (compared == 0)
        GTEST_SKIP() << "osslsigncode " << version / 100 << "." << version % 100
                     << " verifies none of these formats (2.7 and later do)";
}

} // namespace
