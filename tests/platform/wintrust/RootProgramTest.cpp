// Windows' root program in chain building: a list of the project's own (tests/fixtures/authroot)
// restricts its roots as Windows restricts the roots of its list, whichever source supplies the
// root; a list that does not verify, or is older than the built-in one, is not used.
#include "platform/common/RootProgram.h"
#include "platform/common/SignatureTrust.h"

#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include <openssl/pem.h>

#include <gtest/gtest.h>

using namespace wintrusttest;
using testsupport::ScopedVariable;

namespace {

std::filesystem::path RootListFixture(const std::string& name)
{
    return testsupport::Fixture("authroot/" + name);
}

// The roots the test list restricts, trusted by the system's store as an administrator would,
// and the time-stamp authority's root (which no list names).
class SystemRoots {
public:
    explicit SystemRoots(bool listRoots)
    {
        std::string pem = testsupport::ReadText(RootListFixture("tsa-root.pem"));
        if (listRoots)
            pem += testsupport::ReadText(RootListFixture("roots.pem"));
        testsupport::WriteText(FDir / "roots.pem", pem);
        FFile.emplace("SSL_CERT_FILE", (FDir / "roots.pem").string());
    }

private:
    testsupport::TempDir FDir;
    std::optional<ScopedVariable> FFile;
};

// The test list in force, signed under the test's own list-signing root.
class TestList {
public:
    explicit TestList(const std::string& name)
        : FSigningRoot(trust::ListSigningRootVariable, RootListFixture("list-root.pem").string()),
          FList(trust::ListFileVariable, RootListFixture(name).string())
    {
    }

private:
    ScopedVariable FSigningRoot;
    ScopedVariable FList;
};

struct Case {
    const char* File;
    HRESULT Result;
};

// The verdicts under the test list: the purposes a root is trusted for, the date from which it is
// distrusted (judged at the time stamp's time, else now), and the date from which certificates it
// issued are distrusted (judged by the end certificate's notBefore).
const Case ListRules[] = {
    {"restricted.exe", CERT_E_WRONG_USAGE},
    {"disallowed.exe", TRUST_E_EXPLICIT_DISTRUST},
    {"disallowed-ts-before.exe", S_OK},
    {"disallowed-ts-after.exe", TRUST_E_EXPLICIT_DISTRUST},
    {"notbefore-early.exe", S_OK},
    {"notbefore-late.exe", TRUST_E_EXPLICIT_DISTRUST},
};

} // namespace

TEST(RootProgramTest, ARootOfTheListIsHeldToItsRulesWhicheverSourceSuppliesIt)
{
    const TestList list("authroot.stl");
    for (const bool fromSystem : {true, false}) {
        // From the system's store, or only from the roots.pem beside the list.
        const SystemRoots roots(fromSystem);
        for (const Case& c : ListRules) {
            const Verification verification(RootListFixture(c.File));
            EXPECT_EQ(Hex(verification.result()), Hex(c.Result)) << c.File << (fromSystem ? " (system store)" : " (list)");
        }
    }
}

TEST(RootProgramTest, RootsTheListDoesNotNameKeepTheirTrust)
{
    // The built-in list names none of the test roots: as an administrator's own roots, they are
    // trusted for everything.
    const SystemRoots roots(true);
    for (const Case& c : ListRules) {
        const Verification verification(RootListFixture(c.File));
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK)) << c.File;
    }
}

TEST(RootProgramTest, AListThatDoesNotVerifyOrIsNotNewerIsNotUsed)
{
    const SystemRoots roots(true);
    for (const char* name : {"authroot-bad-signature.stl", "authroot-older.stl"}) {
        const TestList list(name);
        const auto program = trust::RootProgram::Current();
        ASSERT_TRUE(program && program->List()) << name;
        // The built-in list stays in force.
        EXPECT_GT(program->List()->pCtlInfo->cCTLEntry, 400u) << name;
        const Verification verification(RootListFixture("restricted.exe"));
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK)) << name;
    }
    {
        // Without the test's own signing root, the test list is not signed by anyone trusted.
        const ScopedVariable list(trust::ListFileVariable, RootListFixture("authroot.stl").string());
        const Verification verification(RootListFixture("restricted.exe"));
        EXPECT_EQ(Hex(verification.result()), Hex(S_OK));
    }
}

TEST(RootProgramTest, TheRootsPropertiesComeFromItsEntry)
{
    const TestList list("authroot.stl");
    const auto program = trust::RootProgram::Current();
    ASSERT_TRUE(program && program->List());
    EXPECT_EQ(program->List()->pCtlInfo->cCTLEntry, 3u);

    const auto pem = testsupport::ReadText(RootListFixture("roots.pem"));
    const std::unique_ptr<BIO, ossl::OsslFree<BIO_free>> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    std::vector<ossl::X509Ptr> certs;
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        certs.emplace_back(cert);
    ASSERT_EQ(certs.size(), 3u);

    const trust::RootRules* restricted = program->RulesOf(certs[0].get());
    ASSERT_TRUE(restricted);
    EXPECT_EQ(restricted->FriendlyName, u"Listed Server Auth Root");
    EXPECT_EQ(restricted->Purposes, std::vector<std::string>{"1.3.6.1.5.5.7.3.1"});
    EXPECT_FALSE(restricted->DisallowedFrom);

    const trust::RootRules* disallowed = program->RulesOf(certs[1].get());
    ASSERT_TRUE(disallowed);
    EXPECT_EQ(disallowed->DisallowedFrom, 1704067200); // 2024-01-01 00:00:00 UTC
    EXPECT_FALSE(disallowed->NotBeforeFrom);

    const trust::RootRules* notBefore = program->RulesOf(certs[2].get());
    ASSERT_TRUE(notBefore);
    EXPECT_EQ(notBefore->NotBeforeFrom, 1704067200);
    // The list's roots are found by their subject, as chains ask for them.
    const std::vector<X509*> named = program->RootsNamed(X509_get_subject_name(certs[2].get()));
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(X509_cmp(named[0], certs[2].get()), 0);
}

TEST(RootProgramTest, TheRulesAsWindowsAppliesThem)
{
    const int64_t cutoff = 1704067200;
    const std::string codeSigning = "1.3.6.1.5.5.7.3.3";
    const std::string timeStamping = "1.3.6.1.5.5.7.3.8";
    struct Rule {
        const char* What;
        trust::RootRules Rules;
        std::string Purpose;
        int64_t When;
        int64_t EndNotBefore;
        trust::RootVerdict Verdict;
    };
    trust::RootRules purposes;
    purposes.Purposes = std::vector<std::string>{timeStamping};
    trust::RootRules disallowed;
    disallowed.DisallowedFrom = cutoff;
    trust::RootRules disallowedForCodeSigning = disallowed;
    disallowedForCodeSigning.DisallowedPurposes = std::vector<std::string>{codeSigning};
    trust::RootRules disallowedAlways;
    disallowedAlways.DisallowedPurposes = std::vector<std::string>{codeSigning};
    trust::RootRules notBefore;
    notBefore.NotBeforeFrom = cutoff;
    trust::RootRules notBeforeForTimeStamping = notBefore;
    notBeforeForTimeStamping.NotBeforePurposes = std::vector<std::string>{timeStamping};
    const Rule rules[] = {
        {"a purpose not listed", purposes, codeSigning, 0, 0, trust::RootVerdict::NotValidForUsage},
        {"a purpose listed", purposes, timeStamping, 0, 0, trust::RootVerdict::Trusted},
        {"no purpose in particular", purposes, "", 0, 0, trust::RootVerdict::Trusted},
        {"judged before the date", disallowed, codeSigning, cutoff - 1, 0, trust::RootVerdict::Trusted},
        {"judged on the date", disallowed, codeSigning, cutoff, 0, trust::RootVerdict::Distrusted},
        {"every purpose, none asked", disallowed, "", cutoff + 1, 0, trust::RootVerdict::Distrusted},
        {"disallowed for another purpose", disallowedForCodeSigning, timeStamping, cutoff + 1, 0,
         trust::RootVerdict::Trusted},
        {"disallowed for this purpose", disallowedForCodeSigning, codeSigning, cutoff + 1, 0,
         trust::RootVerdict::Distrusted},
        {"disallowed purposes without a date", disallowedAlways, codeSigning, 0, 0, trust::RootVerdict::Distrusted},
        {"issued before the date", notBefore, codeSigning, cutoff + 1, cutoff - 1, trust::RootVerdict::Trusted},
        {"issued on the date", notBefore, codeSigning, 0, cutoff, trust::RootVerdict::Distrusted},
        {"issued after, another purpose", notBeforeForTimeStamping, codeSigning, 0, cutoff + 1,
         trust::RootVerdict::Trusted},
        {"issued after, this purpose", notBeforeForTimeStamping, timeStamping, 0, cutoff + 1,
         trust::RootVerdict::Distrusted},
    };
    for (const Rule& rule : rules)
        EXPECT_EQ(trust::Judge(rule.Rules, rule.Purpose, rule.When, rule.EndNotBefore), rule.Verdict) << rule.What;
}

TEST(RootProgramTest, BuiltInTrustOffMeansNoList)
{
    const TestList list("authroot.stl");
    const ScopedVariable off(trust::SystemOnlyVariable, "1");
    EXPECT_FALSE(trust::RootProgram::Current());
    const SystemRoots roots(true);
    const Verification verification(RootListFixture("restricted.exe"));
    EXPECT_EQ(Hex(verification.result()), Hex(S_OK));
}
