// The read-only COM surface over a compound file: storages (which are also property-set
// storages), streams and the element enumerator. Every object holds the file, and children hold
// their parent storage, so the file stays open while any object of it lives.
#pragma once

#include "platform/ole32/ComObject.h"
#include "platform/ole32/CompoundFile.h"
#include "platform/include/win/propidl.h"

#include <memory>
#include <string>

namespace ole32 {

// Checks the mode of an element opened below a storage: read access, exclusive sharing.
// STG_E_INVALIDFLAG for unknown or unsupported flags, STG_E_ACCESSDENIED for writing.
[[nodiscard]] HRESULT CheckElementMode(DWORD mode);
// Fills a STATSTG for an entry; the name only when asked for (CoTaskMemAlloc'ed).
[[nodiscard]] HRESULT FillStat(const cfb::Entry& entry, std::u16string_view name, DWORD mode, DWORD flags,
                               STATSTG& stat);

class StorageObject final : public IStorage, public IPropertySetStorage {
public:
    // statName: what Stat names the storage (the path for the root, else the element's name).
    StorageObject(std::shared_ptr<const cfb::CompoundFile> file, const cfb::Entry& entry,
                  ComPtr<StorageObject> parent, DWORD mode, std::u16string statName);

    [[nodiscard]] const cfb::CompoundFile& file() const { return *FFile; }
    [[nodiscard]] const cfb::Entry& entry() const { return FEntry; }

    // Opens a direct child by name (read-only, share-exclusive).
    HRESULT OpenChildStream(std::u16string_view name, IStream** stream);
    HRESULT OpenChildStorage(std::u16string_view name, IStorage** storage);

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IStorage
    HRESULT CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                         IStream** ppstm) override;
    HRESULT OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                       IStream** ppstm) override;
    HRESULT CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                          IStorage** ppstg) override;
    HRESULT OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude,
                        DWORD reserved, IStorage** ppstg) override;
    HRESULT CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest) override;
    HRESULT MoveElementTo(const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName,
                          DWORD grfFlags) override;
    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Revert() override;
    HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) override;
    HRESULT DestroyElement(const OLECHAR* pwcsName) override;
    HRESULT RenameElement(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) override;
    HRESULT SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
                            const FILETIME* pmtime) override;
    HRESULT SetClass(REFCLSID clsid) override;
    HRESULT SetStateBits(DWORD grfStateBits, DWORD grfMask) override;
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;

    // IPropertySetStorage (PropertyStorage.cpp)
    HRESULT Create(REFFMTID rfmtid, const CLSID* pclsid, DWORD grfFlags, DWORD grfMode,
                   IPropertyStorage** ppprstg) override;
    HRESULT Open(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) override;
    HRESULT Delete(REFFMTID rfmtid) override;
    HRESULT Enum(IEnumSTATPROPSETSTG** ppenum) override;

private:
    ~StorageObject() = default;
    HRESULT FindChild(const OLECHAR* name, const cfb::Entry*& child) const;

    RefCount FRefs;
    std::shared_ptr<const cfb::CompoundFile> FFile;
    const cfb::Entry& FEntry;
    ComPtr<StorageObject> FParent;
    DWORD FMode;
    std::u16string FStatName;
};

} // namespace ole32
