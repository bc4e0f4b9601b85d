// The process's access token: which groups it lists, with what attributes, for which users.
#include "platform/include/win/securitybaseapi.h"

#include "platform/include/win/winbase.h"
#include "platform/include/win/winerror.h"
#include "tests/support/OtherIdentity.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The groups of the process's token as "S-1-5-32-544:attributes" lines.
std::string TokenGroupsText()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "no token";
    DWORD size = 0;
    std::string text;
    if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        text += "size query did not ask for a buffer; ";
    std::vector<uint64_t> buffer(size / 8 + 1);
    DWORD returned = 0;
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), size, &returned) || returned != size) {
        CloseHandle(token);
        return text + "no groups";
    }
    CloseHandle(token);
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const auto* sid = static_cast<const uint8_t*>(groups->Groups[i].Sid);
        text += "S-" + std::to_string(sid[0]) + "-" + std::to_string(sid[7]);
        for (int r = 0; r < sid[1]; ++r) {
            const uint8_t* p = sid + 8 + 4 * r;
            text += "-" + std::to_string(p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24);
        }
        text += ":" + std::to_string(groups->Groups[i].Attributes) + "\n";
    }
    return text;
}

// Everyone and Users, enabled; 7 = mandatory, enabled by default, enabled; 16 = deny only.
constexpr char Common[] = "S-1-1-0:7\nS-1-5-32-545:7\n";

TEST(Token, ListsAdministratorsForRootEnabledAndForOtherMembersForDenyingOnly)
{
    if (const std::string why = CannotRunAs(Identity::Nobody); !why.empty())
        GTEST_SKIP() << why;
    if (const std::string why = CannotRunAs(Identity::AdministratorsMember); !why.empty())
        GTEST_SKIP() << why;
    // The test program's own user: root, as CI runs it, holds the group enabled.
    if (geteuid() == 0) {
        EXPECT_EQ(TokenGroupsText(), std::string(Common) + "S-1-5-32-544:7\n");
    }
    const IdentityRun nobody = RunAs(Identity::Nobody, TokenGroupsText);
    ASSERT_TRUE(nobody.Ran) << nobody.Output;
    EXPECT_EQ(nobody.Output, Common);
    const IdentityRun member = RunAs(Identity::AdministratorsMember, TokenGroupsText);
    ASSERT_TRUE(member.Ran) << member.Output;
    EXPECT_EQ(member.Output, std::string(Common) + "S-1-5-32-544:16\n");
}

TEST(Token, ThreadsHaveNoTokenOfTheirOwnAndOtherProcessesNoneForUs)
{
    HANDLE token = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);
    EXPECT_EQ(token, nullptr);
    EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(1234), TOKEN_QUERY, &token));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GetTokenInformation(nullptr, TokenGroups, nullptr, 0, nullptr));
}

TEST(Token, IdentifiersCompareByEveryPart)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID admins = nullptr, admins2 = nullptr, users = nullptr, shorter = nullptr, worldAdmins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &admins));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &admins2));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 545, 0, 0, 0, 0, 0, 0, &users));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, 32, 0, 0, 0, 0, 0, 0, 0, &shorter));
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 2, 32, 544, 0, 0, 0, 0, 0, 0, &worldAdmins));
    EXPECT_TRUE(EqualSid(admins, admins2));
    EXPECT_FALSE(EqualSid(admins, users));
    EXPECT_FALSE(EqualSid(admins, shorter));
    EXPECT_FALSE(EqualSid(admins, worldAdmins));
    PSID tooMany = nullptr;
    EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &tooMany));
    for (PSID sid : {admins, admins2, users, shorter, worldAdmins})
        EXPECT_EQ(FreeSid(sid), nullptr);
}

} // namespace
