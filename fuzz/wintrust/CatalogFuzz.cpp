// libFuzzer target for catalogs: the input read as a catalog the three ways a program reads one.
// CryptCATOpen and every member with its attributes; an administrator context that adds it and
// looks up the first member's hash; and WinVerifyTrust on a small executable as the catalog's first
// member, so that the catalog's signature is judged too. Seeds: tests/fixtures/containers/catalog
// and the driver packages' catalogs.
#include "platform/include/win/mscat.h"
#include "platform/include/win/winbase.h"
#include "platform/include/win/wintrust.h"
#include "platform/kernel32/Handles.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile uint8_t Sink = 0;

void Touch(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        Sink = Sink + bytes[i];
}

std::u16string Utf16(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("SSL_CERT_FILE", TESSERA_FUZZ_ANCHORS, 1);
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("fuzz-catalog", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::u16string path = Utf16("/proc/self/fd/" + std::to_string(fd));

    std::vector<BYTE> firstHash;
    std::u16string firstTag;
    const HANDLE catalog = CryptCATOpen(path.c_str(), 0, 0, 0, 0);
    if (catalog != INVALID_HANDLE_VALUE) {
        for (CRYPTCATMEMBER* member = CryptCATEnumerateMember(catalog, nullptr); member;
             member = CryptCATEnumerateMember(catalog, member)) {
            for (const WCHAR* p = member->pwszReferenceTag; p && *p; ++p)
                Sink = Sink + static_cast<uint8_t>(*p);
            if (const CRYPTCATATTRIBUTE* file = CryptCATGetAttrInfo(catalog, member, u"File"))
                Touch(file->pbValue, file->cbValue);
            if (member->pIndirectData) {
                Touch(member->pIndirectData->Digest.pbData, member->pIndirectData->Digest.cbData);
                if (firstHash.empty() && member->pIndirectData->Digest.cbData > 0) {
                    firstHash.assign(member->pIndirectData->Digest.pbData,
                                     member->pIndirectData->Digest.pbData + member->pIndirectData->Digest.cbData);
                    firstTag = member->pwszReferenceTag ? member->pwszReferenceTag : u"";
                }
            }
        }
        CryptCATClose(catalog);
    }

    for (const char16_t* algorithm : {u"SHA256", u"SHA1"}) {
        HCATADMIN admin = nullptr;
        if (!CryptCATAdminAcquireContext2(&admin, nullptr, algorithm, nullptr, 0))
            continue;
        if (HCATINFO added = CryptCATAdminAddCatalog(admin, path.c_str(), nullptr, 0))
            CryptCATAdminReleaseCatalogContext(admin, added, 0);
        if (!firstHash.empty()) {
            HCATINFO found = CryptCATAdminEnumCatalogFromHash(admin, firstHash.data(),
                                                              static_cast<DWORD>(firstHash.size()), 0, nullptr);
            if (found) {
                auto info = std::make_unique<CATALOG_INFO>();
                info->cbStruct = sizeof(CATALOG_INFO);
                Sink = Sink + static_cast<uint8_t>(CryptCATCatalogInfoFromContext(found, info.get(), 0));
                CryptCATAdminReleaseCatalogContext(admin, found, 0);
            }
        }
        CryptCATAdminReleaseContext(admin, 0);
    }

    // The catalog's first member as the file it names, with its own hash: the signature is judged.
    if (!firstHash.empty()) {
        WINTRUST_CATALOG_INFO info{};
        info.cbStruct = sizeof info;
        info.pcwszCatalogFilePath = path.c_str();
        info.pcwszMemberTag = firstTag.c_str();
        info.pcwszMemberFilePath = u"/nonexistent/member";
        info.hMemberFile = INVALID_HANDLE_VALUE;
        info.pbCalculatedFileHash = firstHash.data();
        info.cbCalculatedFileHash = static_cast<DWORD>(firstHash.size());
        WINTRUST_DATA request{};
        request.cbStruct = sizeof request;
        request.dwUIChoice = WTD_UI_NONE;
        request.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        request.dwUnionChoice = WTD_CHOICE_CATALOG;
        request.pCatalog = &info;
        request.dwStateAction = WTD_STATEACTION_VERIFY;
        request.dwProvFlags = WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        Sink = Sink +
               static_cast<uint8_t>(WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request));
        request.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
    }
    close(fd);
    return 0;
}
