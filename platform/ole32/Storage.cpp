#include "platform/ole32/Storage.h"

#include "platform/common/WinStr.h"

#include <filesystem>
#include <vector>

namespace ole32 {
namespace {

constexpr DWORD AccessMask = 0x3;
constexpr DWORD ShareMask = 0x70;
constexpr DWORD STGM_CONVERT_ = 0x00020000;
constexpr DWORD STGM_NOSCRATCH_ = 0x00100000;
constexpr DWORD STGM_NOSNAPSHOT_ = 0x00200000;
constexpr DWORD STGM_DIRECT_SWMR_ = 0x00400000;
constexpr DWORD STGM_DELETEONRELEASE_ = 0x04000000;
constexpr DWORD STGM_SIMPLE_ = 0x08000000;
constexpr DWORD KnownModeFlags = AccessMask | ShareMask | STGM_PRIORITY | STGM_CREATE | STGM_CONVERT_ |
                                 STGM_TRANSACTED | STGM_NOSCRATCH_ | STGM_NOSNAPSHOT_ | STGM_DIRECT_SWMR_ |
                                 STGM_DELETEONRELEASE_ | STGM_SIMPLE_;
// Element names are at most 31 characters.
constexpr size_t MaxNameLength = 31;
constexpr size_t CopyChunk = size_t{64} * 1024;

// Flags that make no sense in any mode, or that ask to create, convert or delete.
HRESULT CheckCommonMode(DWORD mode)
{
    const DWORD share = mode & ShareMask;
    if ((mode & ~KnownModeFlags) || (mode & AccessMask) == AccessMask || share > STGM_SHARE_DENY_NONE)
        return STG_E_INVALIDFLAG;
    if (mode & (STGM_CREATE | STGM_CONVERT_ | STGM_DELETEONRELEASE_))
        return STG_E_INVALIDFLAG;
    return S_OK;
}

HRESULT CheckRootMode(DWORD mode)
{
    const HRESULT hr = CheckCommonMode(mode);
    if (FAILED(hr))
        return hr;
    if ((mode & AccessMask) != STGM_READ)
        return STG_E_ACCESSDENIED;
    return S_OK;
}

class StreamObject final : public ComObject<IStream, IID_ISequentialStream, IID_IStream> {
public:
    StreamObject(ComPtr<StorageObject> parent, const cfb::Entry& entry, std::shared_ptr<const cfb::StreamReader> reader,
                 DWORD mode, uint64_t position)
        : FParent(std::move(parent)), FEntry(entry), FReader(std::move(reader)), FMode(mode), FPosition(position)
    {
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        size_t got = 0;
        const HRESULT hr = FReader->ReadAt(FPosition, pv, cb, &got);
        FPosition += got;
        if (pcbRead)
            *pcbRead = static_cast<ULONG>(got);
        return hr;
    }
    HRESULT Write(const void*, ULONG, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override
    {
        uint64_t base = 0;
        switch (dwOrigin) {
        case STREAM_SEEK_SET:
            // From the start the move is unsigned.
            FPosition = static_cast<uint64_t>(dlibMove.QuadPart);
            if (plibNewPosition)
                plibNewPosition->QuadPart = FPosition;
            return S_OK;
        case STREAM_SEEK_CUR: base = FPosition; break;
        case STREAM_SEEK_END: base = FReader->size(); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        const int64_t move = dlibMove.QuadPart;
        uint64_t target = 0;
        if (move < 0) {
            const uint64_t back = static_cast<uint64_t>(-(move + 1)) + 1;
            if (back > base)
                return STG_E_INVALIDFUNCTION; // before the start
            target = base - back;
        } else {
            if (static_cast<uint64_t>(move) > UINT64_MAX - base)
                return STG_E_INVALIDFUNCTION;
            target = base + static_cast<uint64_t>(move);
        }
        // Seeking past the end is allowed; reads there return nothing.
        FPosition = target;
        if (plibNewPosition)
            plibNewPosition->QuadPart = FPosition;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override
    {
        if (pcbRead)
            pcbRead->QuadPart = 0;
        if (pcbWritten)
            pcbWritten->QuadPart = 0;
        if (!pstm)
            return STG_E_INVALIDPOINTER;
        std::vector<uint8_t> buffer(CopyChunk);
        uint64_t left = cb.QuadPart;
        uint64_t read = 0;
        uint64_t written = 0;
        HRESULT hr = S_OK;
        while (left > 0) {
            const ULONG want = static_cast<ULONG>(std::min<uint64_t>(left, buffer.size()));
            ULONG got = 0;
            hr = Read(buffer.data(), want, &got);
            read += got;
            if (FAILED(hr) || got == 0)
                break;
            ULONG put = 0;
            hr = pstm->Write(buffer.data(), got, &put);
            written += put;
            if (FAILED(hr))
                break;
            left -= got;
        }
        if (pcbRead)
            pcbRead->QuadPart = read;
        if (pcbWritten)
            pcbWritten->QuadPart = written;
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    // Compound-file streams do not lock ranges.
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        return FillStat(FEntry, FEntry.Name, FMode, grfStatFlag, *pstatstg);
    }
    HRESULT Clone(IStream** ppstm) override
    {
        if (!ppstm)
            return STG_E_INVALIDPOINTER;
        *ppstm = MakeObject<StreamObject>(FParent, FEntry, FReader, FMode, FPosition);
        return S_OK;
    }

private:
    ~StreamObject() override = default;

    ComPtr<StorageObject> FParent;
    const cfb::Entry& FEntry;
    std::shared_ptr<const cfb::StreamReader> FReader;
    DWORD FMode;
    uint64_t FPosition;
};

class EnumElementsObject final : public ComObject<IEnumSTATSTG, IID_IEnumSTATSTG> {
public:
    EnumElementsObject(ComPtr<StorageObject> storage, size_t position)
        : FStorage(std::move(storage)), FPosition(position)
    {
    }

    HRESULT Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) override
    {
        if (pceltFetched)
            *pceltFetched = 0;
        if (!rgelt)
            return STG_E_INVALIDPOINTER;
        if (celt > 1 && !pceltFetched)
            return STG_E_INVALIDPARAMETER;
        const auto& children = FStorage->entry().Children;
        ULONG fetched = 0;
        while (fetched < celt && FPosition < children.size()) {
            const cfb::Entry& child = *FStorage->file().EntryById(children[FPosition]);
            const HRESULT hr = FillStat(child, child.Name, 0, STATFLAG_DEFAULT, rgelt[fetched]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < fetched; ++i) {
                    CoTaskMemFree(rgelt[i].pwcsName);
                    rgelt[i].pwcsName = nullptr;
                }
                FPosition -= fetched;
                return hr;
            }
            ++fetched;
            ++FPosition;
        }
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override
    {
        const size_t count = FStorage->entry().Children.size();
        const size_t left = count - std::min(FPosition, count);
        FPosition += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        FPosition = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumSTATSTG** ppenum) override
    {
        if (!ppenum)
            return STG_E_INVALIDPOINTER;
        *ppenum = MakeObject<EnumElementsObject>(FStorage, FPosition);
        return S_OK;
    }

private:
    ~EnumElementsObject() override = default;

    ComPtr<StorageObject> FStorage;
    size_t FPosition;
};

} // namespace

HRESULT CheckElementMode(DWORD mode)
{
    const HRESULT hr = CheckCommonMode(mode);
    if (FAILED(hr))
        return hr;
    if (mode & STGM_PRIORITY)
        return STG_E_INVALIDFLAG;
    if ((mode & AccessMask) != STGM_READ)
        return STG_E_ACCESSDENIED;
    // Elements inside a compound file are opened exclusively.
    if ((mode & ShareMask) != STGM_SHARE_EXCLUSIVE)
        return STG_E_INVALIDFLAG;
    return S_OK;
}

HRESULT FillStat(const cfb::Entry& entry, std::u16string_view name, DWORD mode, DWORD flags, STATSTG& stat)
{
    if (flags != STATFLAG_DEFAULT && flags != STATFLAG_NONAME)
        return STG_E_INVALIDFLAG;
    stat = STATSTG{};
    if (flags != STATFLAG_NONAME) {
        stat.pwcsName = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
        if (!stat.pwcsName)
            return STG_E_INSUFFICIENTMEMORY;
        winstr::CopyTo(name, stat.pwcsName, name.size() + 1);
    }
    stat.type = entry.IsStorage() ? STGTY_STORAGE : STGTY_STREAM;
    stat.cbSize.QuadPart = entry.IsStorage() ? 0 : entry.Size;
    stat.mtime = entry.Modified;
    stat.ctime = entry.Created;
    stat.grfMode = mode;
    stat.clsid = entry.Clsid;
    stat.grfStateBits = entry.StateBits;
    return S_OK;
}

StorageObject::StorageObject(std::shared_ptr<const cfb::CompoundFile> file, const cfb::Entry& entry,
                             ComPtr<StorageObject> parent, DWORD mode, std::u16string statName)
    : FFile(std::move(file)), FEntry(entry), FParent(std::move(parent)), FMode(mode), FStatName(std::move(statName))
{
}

HRESULT StorageObject::QueryInterface(REFIID riid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (riid == IID_IUnknown || riid == IID_IStorage)
        *ppvObject = static_cast<IStorage*>(this);
    else if (riid == IID_IPropertySetStorage)
        *ppvObject = static_cast<IPropertySetStorage*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG StorageObject::AddRef() { return FRefs.Add(); }

ULONG StorageObject::Release()
{
    const ULONG n = FRefs.Drop();
    if (n == 0)
        delete this;
    return n;
}

HRESULT StorageObject::FindChild(const OLECHAR* name, const cfb::Entry*& child) const
{
    child = nullptr;
    if (!name)
        return STG_E_INVALIDNAME;
    const std::u16string_view view = winstr::View(name);
    if (view.empty() || view.size() > MaxNameLength)
        return STG_E_INVALIDNAME;
    child = FFile->FindChild(FEntry, view);
    return child ? S_OK : STG_E_FILENOTFOUND;
}

HRESULT StorageObject::OpenChildStream(std::u16string_view name, IStream** stream)
{
    const cfb::Entry* child = FFile->FindChild(FEntry, name);
    if (!child || child->IsStorage())
        return STG_E_FILENOTFOUND;
    auto reader = std::make_shared<cfb::StreamReader>();
    const HRESULT hr = FFile->OpenStream(*child, *reader);
    if (FAILED(hr))
        return hr;
    *stream = MakeObject<StreamObject>(ComPtr<StorageObject>::Share(this), *child, std::move(reader),
                                       STGM_READ | STGM_SHARE_EXCLUSIVE, 0);
    return S_OK;
}

HRESULT StorageObject::OpenChildStorage(std::u16string_view name, IStorage** storage)
{
    const cfb::Entry* child = FFile->FindChild(FEntry, name);
    if (!child || !child->IsStorage())
        return STG_E_FILENOTFOUND;
    *storage = MakeObject<StorageObject>(FFile, *child, ComPtr<StorageObject>::Share(this),
                                         STGM_READ | STGM_SHARE_EXCLUSIVE, child->Name);
    return S_OK;
}

HRESULT StorageObject::OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                                  IStream** ppstm)
{
    if (!ppstm)
        return STG_E_INVALIDPOINTER;
    *ppstm = nullptr;
    if (reserved1 || reserved2)
        return STG_E_INVALIDPARAMETER;
    const HRESULT mode = CheckElementMode(grfMode);
    if (FAILED(mode))
        return mode;
    if (grfMode & STGM_TRANSACTED)
        return STG_E_INVALIDFUNCTION; // streams are never transacted
    const cfb::Entry* child = nullptr;
    const HRESULT hr = FindChild(pwcsName, child);
    if (FAILED(hr))
        return hr;
    return OpenChildStream(child->Name, ppstm);
}

HRESULT StorageObject::OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude,
                                   DWORD reserved, IStorage** ppstg)
{
    if (!ppstg)
        return STG_E_INVALIDPOINTER;
    *ppstg = nullptr;
    if (pstgPriority || snbExclude || reserved)
        return STG_E_INVALIDPARAMETER;
    const HRESULT mode = CheckElementMode(grfMode);
    if (FAILED(mode))
        return mode;
    const cfb::Entry* child = nullptr;
    const HRESULT hr = FindChild(pwcsName, child);
    if (FAILED(hr))
        return hr;
    if (!child->IsStorage())
        return STG_E_FILENOTFOUND;
    *ppstg = MakeObject<StorageObject>(FFile, *child, ComPtr<StorageObject>::Share(this), grfMode, child->Name);
    return S_OK;
}

HRESULT StorageObject::CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest)
{
    if (!pstgDest)
        return STG_E_INVALIDPOINTER;
    if (ciidExclude && !rgiidExclude)
        return STG_E_INVALIDPOINTER;
    bool skipStreams = false;
    bool skipStorages = false;
    for (DWORD i = 0; i < ciidExclude; ++i) {
        skipStreams |= rgiidExclude[i] == IID_IStream;
        skipStorages |= rgiidExclude[i] == IID_IStorage;
    }
    const auto excluded = [snbExclude](const std::u16string& name) {
        for (SNB n = snbExclude; n && *n; ++n)
            if (cfb::NamesEqual(winstr::View(*n), name))
                return true;
        return false;
    };
    HRESULT hr = pstgDest->SetClass(FEntry.Clsid);
    if (FAILED(hr))
        return hr;
    for (const uint32_t id : FEntry.Children) {
        const cfb::Entry& child = *FFile->EntryById(id);
        if (excluded(child.Name) || (child.IsStorage() ? skipStorages : skipStreams))
            continue;
        const DWORD createMode = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;
        if (child.IsStorage()) {
            ComPtr<IStorage> source;
            ComPtr<IStorage> target;
            hr = OpenChildStorage(child.Name, source.Put());
            if (SUCCEEDED(hr))
                hr = pstgDest->CreateStorage(child.Name.c_str(), createMode, 0, 0, target.Put());
            if (SUCCEEDED(hr))
                hr = source->CopyTo(0, nullptr, nullptr, target.get());
        } else {
            ComPtr<IStream> source;
            ComPtr<IStream> target;
            hr = OpenChildStream(child.Name, source.Put());
            if (SUCCEEDED(hr))
                hr = pstgDest->CreateStream(child.Name.c_str(), createMode, 0, 0, target.Put());
            if (SUCCEEDED(hr)) {
                ULARGE_INTEGER all{};
                all.QuadPart = UINT64_MAX;
                hr = source->CopyTo(target.get(), all, nullptr, nullptr);
            }
        }
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT StorageObject::EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum)
{
    if (!ppenum)
        return STG_E_INVALIDPOINTER;
    *ppenum = nullptr;
    if (reserved1 || reserved2 || reserved3)
        return STG_E_INVALIDPARAMETER;
    *ppenum = MakeObject<EnumElementsObject>(ComPtr<StorageObject>::Share(this), 0);
    return S_OK;
}

HRESULT StorageObject::Stat(STATSTG* pstatstg, DWORD grfStatFlag)
{
    if (!pstatstg)
        return STG_E_INVALIDPOINTER;
    return FillStat(FEntry, FStatName, FMode, grfStatFlag, *pstatstg);
}

HRESULT StorageObject::Commit(DWORD) { return S_OK; }
HRESULT StorageObject::Revert() { return S_OK; }

// Nothing here writes: the file is open for reading only.
HRESULT StorageObject::CreateStream(const OLECHAR*, DWORD, DWORD, DWORD, IStream** ppstm)
{
    if (ppstm)
        *ppstm = nullptr;
    return STG_E_ACCESSDENIED;
}
HRESULT StorageObject::CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage** ppstg)
{
    if (ppstg)
        *ppstg = nullptr;
    return STG_E_ACCESSDENIED;
}
HRESULT StorageObject::MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) { return STG_E_ACCESSDENIED; }
HRESULT StorageObject::DestroyElement(const OLECHAR*) { return STG_E_ACCESSDENIED; }
HRESULT StorageObject::RenameElement(const OLECHAR*, const OLECHAR*) { return STG_E_ACCESSDENIED; }
HRESULT StorageObject::SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*)
{
    return STG_E_ACCESSDENIED;
}
HRESULT StorageObject::SetClass(REFCLSID) { return STG_E_ACCESSDENIED; }
HRESULT StorageObject::SetStateBits(DWORD, DWORD) { return STG_E_ACCESSDENIED; }

} // namespace ole32

extern "C" HRESULT WINAPI StgOpenStorage(const WCHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode,
                                         SNB snbExclude, DWORD reserved, IStorage** ppstgOpen)
{
    using namespace ole32;
    if (!ppstgOpen)
        return STG_E_INVALIDPOINTER;
    *ppstgOpen = nullptr;
    if (!pwcsName || pwcsName[0] == 0)
        return STG_E_INVALIDNAME;
    if (pstgPriority || snbExclude || reserved)
        return STG_E_INVALIDPARAMETER;
    HRESULT hr = CheckRootMode(grfMode);
    if (FAILED(hr))
        return hr;
    const std::string path = winstr::ToFileSystem(winstr::View(pwcsName));
    std::shared_ptr<const cfb::CompoundFile> file;
    hr = cfb::CompoundFile::Open(path, file);
    if (FAILED(hr))
        return hr;
    // Stat names the root after the file's full path, as Windows does.
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    const std::u16string statName = winstr::FromUtf8(error ? path : full.string());
    const cfb::Entry& root = file->Root();
    *ppstgOpen = MakeObject<StorageObject>(std::move(file), root, ComPtr<StorageObject>(), grfMode, statName);
    return S_OK;
}
