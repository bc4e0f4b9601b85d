// Catalogs for their readers and the catalog administrator (mscat.h): CryptCATOpen and its member
// enumeration, and the administrator context whose database is the catalogs added to it, which
// computes a file's hash as catalogs hold it and finds the catalogs that list a hash.
//
// Handles are addresses of objects kept in tables; a handle that is not in its table is refused,
// never followed.
#include "platform/wintrust/CatalogSip.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/mscat.h"
#include "platform/kernel32/Handles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using namespace wintrust;

namespace {

// The file a handle or a name stands for: the handle when it is a readable file, else the name.
class NamedFile {
public:
    bool Open(HANDLE handle, LPCWSTR name)
    {
        const int fd = kernel32::DescriptorFromHandle(handle);
        if (fd >= 0)
            FSource = FileSource::FromDescriptor(fd);
        if (!FSource && name && *name) {
            if (auto opened = OwnedFile::Open(winstr::ToFileSystem(winstr::View(name)))) {
                FOwned.emplace(std::move(*opened));
                FSource = FOwned->source();
            }
        }
        return FSource.has_value();
    }
    [[nodiscard]] const FileSource& source() const { return *FSource; }

private:
    std::optional<OwnedFile> FOwned;
    std::optional<FileSource> FSource;
};

// ---------------------------------------------------------------------------------------------
// An opened catalog and the members handed out from it, which live as long as it does.

struct MemberSlot {
    size_t Index = 0;
    CatalogMember Member;
    std::u16string Tag; // NUL-terminated copies the structures point into
    std::u16string FileName;
    std::string DataType;
    std::string DigestOid;
    SIP_INDIRECT_DATA Indirect{};
    CRYPTCATMEMBER Struct{};
    std::vector<std::u16string> AttributeNames;
    std::vector<CRYPTCATATTRIBUTE> Attributes;
};

class OpenedCatalog {
public:
    explicit OpenedCatalog(std::unique_ptr<Catalog> catalog) : FCatalog(std::move(catalog)) {}

    // The member after `previous` (the first for null), or null.
    CRYPTCATMEMBER* Next(const CRYPTCATMEMBER* previous)
    {
        size_t index = 0;
        if (previous) {
            const MemberSlot* slot = SlotOf(previous);
            if (!slot)
                return nullptr;
            index = slot->Index + 1;
        }
        for (; index < FCatalog->MemberCount(); ++index)
            if (MemberSlot* slot = SlotAt(index))
                return &slot->Struct;
        return nullptr;
    }

    CRYPTCATATTRIBUTE* Attribute(const CRYPTCATMEMBER* member, std::u16string_view name)
    {
        MemberSlot* slot = SlotOf(member);
        if (!slot)
            return nullptr;
        for (size_t i = 0; i < slot->Attributes.size(); ++i)
            if (slot->AttributeNames[i] == name)
                return &slot->Attributes[i];
        return nullptr;
    }

private:
    MemberSlot* SlotOf(const CRYPTCATMEMBER* member)
    {
        const auto found = FByStruct.find(member);
        return found == FByStruct.end() ? nullptr : found->second;
    }

    MemberSlot* SlotAt(size_t index)
    {
        if (const auto found = FSlots.find(index); found != FSlots.end())
            return found->second.get();
        auto slot = std::make_unique<MemberSlot>();
        if (!FCatalog->Member(index, slot->Member))
            return nullptr;
        slot->Index = index;
        slot->Tag = slot->Member.Tag;
        slot->FileName = slot->Member.FileName;
        slot->DataType = slot->Member.Indirect.DataType;
        slot->DigestOid = slot->Member.Indirect.DigestOid;
        slot->Indirect.Data.pszObjId = slot->DataType.data();
        slot->Indirect.DigestAlgorithm.pszObjId = slot->DigestOid.data();
        slot->Indirect.Digest.cbData = static_cast<DWORD>(slot->Member.Indirect.Digest.size());
        slot->Indirect.Digest.pbData = slot->Member.Indirect.Digest.data();
        CRYPTCATMEMBER& s = slot->Struct;
        s.cbStruct = sizeof s;
        s.pwszReferenceTag = slot->Tag.data();
        s.pwszFileName = slot->FileName.empty() ? nullptr : slot->FileName.data();
        s.gSubjectType = slot->Member.SubjectType;
        s.pIndirectData = &slot->Indirect;
        s.sEncodedIndirectData.cbData = static_cast<DWORD>(slot->Member.EncodedIndirectData.size());
        s.sEncodedIndirectData.pbData = slot->Member.EncodedIndirectData.data();
        s.sEncodedMemberInfo.cbData = static_cast<DWORD>(slot->Member.EncodedMemberInfo.size());
        s.sEncodedMemberInfo.pbData = slot->Member.EncodedMemberInfo.data();
        // Sized before any address is taken.
        slot->AttributeNames.reserve(slot->Member.Attributes.size());
        slot->Attributes.reserve(slot->Member.Attributes.size());
        for (CatalogNameValue& named : slot->Member.Attributes) {
            slot->AttributeNames.push_back(named.Name);
            CRYPTCATATTRIBUTE attribute{};
            attribute.cbStruct = sizeof attribute;
            attribute.pwszReferenceTag = slot->AttributeNames.back().data();
            attribute.dwAttrTypeAndAction = named.Flags;
            attribute.cbValue = static_cast<DWORD>(named.Value.size());
            attribute.pbValue = named.Value.data();
            slot->Attributes.push_back(attribute);
        }
        MemberSlot* result = slot.get();
        FByStruct.emplace(&result->Struct, result);
        FSlots.emplace(index, std::move(slot));
        return result;
    }

    std::unique_ptr<Catalog> FCatalog;
    std::map<size_t, std::unique_ptr<MemberSlot>> FSlots;
    std::map<const CRYPTCATMEMBER*, MemberSlot*> FByStruct;
};

// ---------------------------------------------------------------------------------------------
// The hashes a catalog's members hold, by algorithm, sorted for the look-up. A catalog is read
// once while it stays the same file: a driver package's files each ask for the catalogs beside
// them, and Windows too keeps its catalog database indexed rather than reading catalogs per file.

struct CatalogIndex {
    std::map<int, std::vector<Bytes>> HashesByAlgorithm; // by the digest's OpenSSL type
};

std::shared_ptr<const CatalogIndex> IndexCatalog(const FileSource& file)
{
    struct Key {
        dev_t Device;
        ino_t Inode;
        off_t Size;
        int64_t Modified;
        bool operator<(const Key& o) const
        {
            return std::tie(Device, Inode, Size, Modified) < std::tie(o.Device, o.Inode, o.Size, o.Modified);
        }
    };
    // A scan of a folder of catalogs keeps what it reads; more than this and it starts over.
    constexpr size_t MaxIndexed = 256;
    static std::mutex lock;
    static std::map<Key, std::shared_ptr<const CatalogIndex>> indexes;

    struct stat info {};
    if (fstat(file.descriptor(), &info) != 0)
        return nullptr;
    const Key key{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec * 1000000000ll + info.st_mtim.tv_nsec};
    {
        const std::lock_guard guard(lock);
        if (const auto found = indexes.find(key); found != indexes.end())
            return found->second;
    }
    const std::shared_ptr<const Catalog> catalog = Catalog::Open(file);
    if (!catalog)
        return nullptr;
    auto index = std::make_shared<CatalogIndex>();
    IndirectData indirect;
    for (size_t i = 0; i < catalog->MemberCount(); ++i)
        if (catalog->MemberDigest(i, indirect) && indirect.Md)
            index->HashesByAlgorithm[EVP_MD_get_type(indirect.Md)].push_back(std::move(indirect.Digest));
    for (auto& [algorithm, hashes] : index->HashesByAlgorithm)
        std::sort(hashes.begin(), hashes.end());
    const std::lock_guard guard(lock);
    if (indexes.size() >= MaxIndexed)
        indexes.clear();
    indexes[key] = index;
    return index;
}

// ---------------------------------------------------------------------------------------------
// The administrator: its algorithm and its database, the catalogs added to it.

struct CatalogRecord {
    std::u16string Path;
    std::shared_ptr<const CatalogIndex> Index;
};

struct CatalogInfo;

struct Administrator {
    const EVP_MD* Md = nullptr;
    std::vector<CatalogRecord> Database;
    std::set<CatalogInfo*> Infos;
};

struct CatalogInfo {
    Administrator* Admin;
    size_t Index;
};

struct Tables {
    std::mutex Lock;
    std::map<OpenedCatalog*, std::unique_ptr<OpenedCatalog>> Catalogs;
    std::map<Administrator*, std::unique_ptr<Administrator>> Admins;
    std::map<CatalogInfo*, std::unique_ptr<CatalogInfo>> Infos;
};

Tables& TheTables()
{
    static Tables tables;
    return tables;
}

template <typename Key, typename Value> Value* Live(std::map<Key*, std::unique_ptr<Value>>& table, void* handle)
{
    const auto found = table.find(static_cast<Key*>(handle));
    return found == table.end() ? nullptr : found->second.get();
}

template <typename T> T Fail(DWORD error, T result)
{
    SetLastError(error);
    return result;
}

CatalogInfo* NewInfo(Tables& tables, Administrator& admin, size_t index)
{
    auto info = std::make_unique<CatalogInfo>(CatalogInfo{&admin, index});
    CatalogInfo* handle = info.get();
    admin.Infos.insert(handle);
    tables.Infos.emplace(handle, std::move(info));
    return handle;
}

void ReleaseInfo(Tables& tables, CatalogInfo* info)
{
    info->Admin->Infos.erase(info);
    tables.Infos.erase(info);
}

} // namespace

extern "C" {

WINAPI_EXPORT HANDLE WINAPI CryptCATOpen(LPCWSTR pwszFileName, DWORD, ULONG_PTR, DWORD, DWORD)
{
    NamedFile file;
    if (!pwszFileName || !file.Open(INVALID_HANDLE_VALUE, pwszFileName))
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::unique_ptr<Catalog> catalog = Catalog::Read(file.source());
    if (!catalog)
        return Fail(static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN), INVALID_HANDLE_VALUE);
    auto opened = std::make_unique<OpenedCatalog>(std::move(catalog));
    OpenedCatalog* handle = opened.get();
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    tables.Catalogs.emplace(handle, std::move(opened));
    return handle;
}

WINAPI_EXPORT BOOL WINAPI CryptCATClose(HANDLE hCatalog)
{
    std::unique_ptr<OpenedCatalog> doomed;
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    const auto found = tables.Catalogs.find(static_cast<OpenedCatalog*>(hCatalog));
    if (found == tables.Catalogs.end())
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    doomed = std::move(found->second);
    tables.Catalogs.erase(found);
    return TRUE;
}

WINAPI_EXPORT CRYPTCATMEMBER* WINAPI CryptCATEnumerateMember(HANDLE hCatalog, CRYPTCATMEMBER* pPrevMember)
{
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    OpenedCatalog* catalog = Live(tables.Catalogs, hCatalog);
    if (!catalog)
        return Fail<CRYPTCATMEMBER*>(ERROR_INVALID_HANDLE, nullptr);
    return catalog->Next(pPrevMember);
}

WINAPI_EXPORT CRYPTCATATTRIBUTE* WINAPI CryptCATGetAttrInfo(HANDLE hCatalog, CRYPTCATMEMBER* pCatMember,
                                                            LPCWSTR pwszReferenceTag)
{
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    OpenedCatalog* catalog = Live(tables.Catalogs, hCatalog);
    if (!catalog || !pwszReferenceTag)
        return Fail<CRYPTCATATTRIBUTE*>(ERROR_INVALID_PARAMETER, nullptr);
    CRYPTCATATTRIBUTE* attribute = catalog->Attribute(pCatMember, winstr::View(pwszReferenceTag));
    return attribute ? attribute : Fail<CRYPTCATATTRIBUTE*>(ERROR_NOT_FOUND, nullptr);
}

WINAPI_EXPORT BOOL WINAPI CryptCATAdminAcquireContext2(HCATADMIN* phCatAdmin, const GUID*, LPCWSTR pwszHashAlgorithm,
                                                       const void*, DWORD)
{
    if (!phCatAdmin)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *phCatAdmin = nullptr;
    const std::u16string_view algorithm = winstr::View(pwszHashAlgorithm);
    const EVP_MD* md = algorithm.empty() || winstr::EqualsIgnoreAsciiCase(algorithm, u"SHA1") ? EVP_sha1()
                       : winstr::EqualsIgnoreAsciiCase(algorithm, u"SHA256")                  ? EVP_sha256()
                                                                                              : nullptr;
    if (!md)
        return Fail(static_cast<DWORD>(NTE_BAD_ALGID), FALSE);
    auto admin = std::make_unique<Administrator>();
    admin->Md = md;
    Administrator* handle = admin.get();
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    tables.Admins.emplace(handle, std::move(admin));
    *phCatAdmin = handle;
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CryptCATAdminReleaseContext(HCATADMIN hCatAdmin, DWORD)
{
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    Administrator* admin = Live(tables.Admins, hCatAdmin);
    if (!admin)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    for (CatalogInfo* info : std::set<CatalogInfo*>(admin->Infos))
        ReleaseInfo(tables, info);
    tables.Admins.erase(admin);
    return TRUE;
}

WINAPI_EXPORT HCATINFO WINAPI CryptCATAdminAddCatalog(HCATADMIN hCatAdmin, LPCWSTR pwszCatalogFile, LPCWSTR, DWORD)
{
    {
        Tables& tables = TheTables();
        const std::lock_guard guard(tables.Lock);
        if (!Live(tables.Admins, hCatAdmin))
            return Fail<HCATINFO>(ERROR_INVALID_HANDLE, nullptr);
    }
    // Read outside the lock: a large catalog takes a while.
    NamedFile file;
    if (!pwszCatalogFile || !file.Open(INVALID_HANDLE_VALUE, pwszCatalogFile))
        return Fail<HCATINFO>(ERROR_FILE_NOT_FOUND, nullptr);
    CatalogRecord record;
    record.Index = IndexCatalog(file.source());
    if (!record.Index)
        return Fail<HCATINFO>(static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN), nullptr);
    record.Path = winstr::View(pwszCatalogFile);

    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    Administrator* admin = Live(tables.Admins, hCatAdmin);
    if (!admin)
        return Fail<HCATINFO>(ERROR_INVALID_HANDLE, nullptr);
    admin->Database.push_back(std::move(record));
    return NewInfo(tables, *admin, admin->Database.size() - 1);
}

WINAPI_EXPORT BOOL WINAPI CryptCATAdminCalcHashFromFileHandle2(HCATADMIN hCatAdmin, HANDLE hFile, DWORD* pcbHash,
                                                               BYTE* pbHash, DWORD)
{
    const EVP_MD* md = nullptr;
    {
        Tables& tables = TheTables();
        const std::lock_guard guard(tables.Lock);
        Administrator* admin = Live(tables.Admins, hCatAdmin);
        if (!admin || !pcbHash)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        md = admin->Md;
    }
    const auto size = static_cast<DWORD>(EVP_MD_get_size(md));
    if (!pbHash) {
        *pcbHash = size;
        return TRUE;
    }
    if (*pcbHash < size) {
        *pcbHash = size;
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    NamedFile file;
    if (!file.Open(hFile, nullptr))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    Bytes hash;
    if (FAILED(CatalogFileHash(file.source(), md, hash)) || hash.size() != size)
        return Fail(static_cast<DWORD>(TRUST_E_BAD_DIGEST), FALSE);
    std::copy(hash.begin(), hash.end(), pbHash);
    *pcbHash = size;
    return TRUE;
}

WINAPI_EXPORT HCATINFO WINAPI CryptCATAdminEnumCatalogFromHash(HCATADMIN hCatAdmin, const BYTE* pbHash, DWORD cbHash,
                                                               DWORD, HCATINFO* phPrevCatInfo)
{
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    Administrator* admin = Live(tables.Admins, hCatAdmin);
    if (!admin || (!pbHash && cbHash > 0))
        return Fail<HCATINFO>(ERROR_INVALID_PARAMETER, nullptr);
    size_t start = 0;
    if (phPrevCatInfo && *phPrevCatInfo) {
        CatalogInfo* previous = Live(tables.Infos, *phPrevCatInfo);
        if (!previous || previous->Admin != admin)
            return Fail<HCATINFO>(ERROR_INVALID_HANDLE, nullptr);
        start = previous->Index + 1;
        ReleaseInfo(tables, previous);
        *phPrevCatInfo = nullptr;
    }
    const Bytes hash(pbHash, pbHash + cbHash);
    const int algorithm = EVP_MD_get_type(admin->Md);
    for (size_t i = start; i < admin->Database.size(); ++i) {
        const auto& byAlgorithm = admin->Database[i].Index->HashesByAlgorithm;
        const auto hashes = byAlgorithm.find(algorithm);
        if (hashes != byAlgorithm.end() && std::binary_search(hashes->second.begin(), hashes->second.end(), hash))
            return NewInfo(tables, *admin, i);
    }
    return Fail<HCATINFO>(ERROR_NOT_FOUND, nullptr);
}

WINAPI_EXPORT BOOL WINAPI CryptCATCatalogInfoFromContext(HCATINFO hCatInfo, CATALOG_INFO* psCatInfo, DWORD)
{
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    CatalogInfo* info = Live(tables.Infos, hCatInfo);
    if (!info || !psCatInfo || psCatInfo->cbStruct < sizeof(CATALOG_INFO))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!winstr::CopyTo(info->Admin->Database[info->Index].Path, psCatInfo->wszCatalogFile, CATALOG_PATH_MAX))
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CryptCATAdminReleaseCatalogContext(HCATADMIN hCatAdmin, HCATINFO hCatInfo, DWORD)
{
    Tables& tables = TheTables();
    const std::lock_guard guard(tables.Lock);
    CatalogInfo* info = Live(tables.Infos, hCatInfo);
    if (!info || info->Admin != Live(tables.Admins, hCatAdmin))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    ReleaseInfo(tables, info);
    return TRUE;
}

} // extern "C"
