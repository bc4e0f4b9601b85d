// Access tokens of the process and the security identifiers of their groups. A token is a
// descriptor of the process's own /proc entry, so that kernel32's CloseHandle closes it; what it
// says is read from the process's credentials when it is asked.
#include "platform/include/win/securitybaseapi.h"

#include "platform/include/win/winerror.h"
#include "platform/kernel32/Handles.h"

#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

constexpr BYTE SidRevision = 1;
constexpr BYTE MaxSubAuthorities = 15;

// A SID's bytes: revision, sub-authority count, the 6-byte authority, the sub-authorities.
std::vector<uint8_t> MakeSid(const SID_IDENTIFIER_AUTHORITY& authority, std::span<const DWORD> rids)
{
    std::vector<uint8_t> sid(8 + rids.size() * 4);
    sid[0] = SidRevision;
    sid[1] = static_cast<uint8_t>(rids.size());
    std::memcpy(sid.data() + 2, authority.Value, sizeof authority.Value);
    for (size_t r = 0; r < rids.size(); ++r)
        for (size_t i = 0; i < 4; ++i)
            sid[8 + r * 4 + i] = static_cast<uint8_t>(rids[r] >> (8 * i));
    return sid;
}

std::vector<uint8_t> MakeSid(const SID_IDENTIFIER_AUTHORITY& authority, std::initializer_list<DWORD> rids)
{
    return MakeSid(authority, std::span<const DWORD>(rids.begin(), rids.size()));
}

size_t SidLength(const uint8_t* sid)
{
    return 8 + size_t{sid[1]} * 4;
}

// Root, and the members of the groups that grant administration on Linux, whatever the
// privileges the process runs with.
bool IsAdministratorsMember()
{
    if (geteuid() == 0)
        return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) < 0)
        groups.clear();
    groups.push_back(getegid());
    for (const char* name : {"sudo", "wheel", "admin"})
        if (const group* entry = getgrnam(name))
            for (const gid_t gid : groups)
                if (gid == entry->gr_gid)
                    return true;
    return false;
}

struct Group {
    std::vector<uint8_t> Sid;
    DWORD Attributes;
};

std::vector<Group> TokenGroupList()
{
    constexpr DWORD Enabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    std::vector<Group> groups = {
        {MakeSid(SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}), Enabled},
        {MakeSid(SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}), Enabled},
    };
    // A member who does not run as root holds the group as an unelevated administrator does: for
    // denying only.
    if (IsAdministratorsMember())
        groups.push_back({MakeSid(SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}),
                          geteuid() == 0 ? Enabled : SE_GROUP_USE_FOR_DENY_ONLY});
    return groups;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" {

BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, HANDLE* TokenHandle)
{
    if (TokenHandle)
        *TokenHandle = nullptr;
    return Fail(ERROR_NO_TOKEN);
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle)
{
    if (!TokenHandle)
        return Fail(ERROR_INVALID_PARAMETER);
    *TokenHandle = nullptr;
    if (ProcessHandle != GetCurrentProcess())
        return Fail(ERROR_ACCESS_DENIED);
    const int fd = open("/proc/self", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Fail(ERROR_ACCESS_DENIED);
    *TokenHandle = kernel32::HandleFromDescriptor(fd);
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength)
{
    if (kernel32::DescriptorFromHandle(TokenHandle) < 0)
        return Fail(ERROR_INVALID_HANDLE);
    if (!ReturnLength)
        return Fail(ERROR_INVALID_PARAMETER);
    if (TokenInformationClass != TokenGroups)
        return Fail(ERROR_INVALID_PARAMETER);
    // TOKEN_GROUPS with its array, then the identifiers it points at.
    const std::vector<Group> groups = TokenGroupList();
    const size_t head = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    size_t size = head;
    for (const Group& g : groups)
        size += g.Sid.size();
    *ReturnLength = static_cast<DWORD>(size);
    if (!TokenInformation || TokenInformationLength < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* out = static_cast<TOKEN_GROUPS*>(TokenInformation);
    auto* sids = static_cast<uint8_t*>(TokenInformation) + head;
    out->GroupCount = static_cast<DWORD>(groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        std::memcpy(sids, groups[i].Sid.data(), groups[i].Sid.size());
        out->Groups[i].Sid = sids;
        out->Groups[i].Attributes = groups[i].Attributes;
        sids += groups[i].Sid.size();
    }
    return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                     DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                     DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid)
{
    if (!pSid || !pIdentifierAuthority || nSubAuthorityCount > 8)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD all[] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                         nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    const std::vector<uint8_t> sid = MakeSid(*pIdentifierAuthority, std::span<const DWORD>(all, nSubAuthorityCount));
    auto* copy = static_cast<uint8_t*>(std::malloc(sid.size()));
    if (!copy)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(copy, sid.data(), sid.size());
    *pSid = copy;
    return TRUE;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2)
{
    const auto* a = static_cast<const uint8_t*>(pSid1);
    const auto* b = static_cast<const uint8_t*>(pSid2);
    if (!a || !b || a[0] != SidRevision || b[0] != SidRevision || a[1] > MaxSubAuthorities ||
        b[1] > MaxSubAuthorities) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return SidLength(a) == SidLength(b) && std::memcmp(a, b, SidLength(a)) == 0;
}

PVOID WINAPI FreeSid(PSID pSid)
{
    std::free(pSid);
    return nullptr;
}

} // extern "C"
