#include "platform/ole32/PropertyStorage.h"

#include "platform/common/CodePage.h"
#include "platform/ole32/ComObject.h"
#include "platform/ole32/PropVariant.h"
#include "platform/ole32/PropertySet.h"
#include "platform/ole32/Storage.h"
#include "platform/common/WinStr.h"

#include <cstring>
#include <memory>
#include <vector>

namespace ole32 {
namespace {

constexpr char16_t SummaryInformationName[] = u"\u0005SummaryInformation";
constexpr char16_t DocSummaryInformationName[] = u"\u0005DocumentSummaryInformation";
constexpr char16_t ContentsName[] = u"CONTENTS";

bool Excluded(PROPID id)
{
    // The dictionary, code page, locale and behaviour describe the set, not its contents.
    return id == PID_DICTIONARY || id == PID_CODEPAGE || id == PID_LOCALE || id == propset::PidBehavior;
}

// Everything one open property set needs, shared by the property storage and its enumerators.
struct OpenSet {
    ComPtr<StorageObject> Owner;       // keeps the storage (and the file) alive
    ComPtr<StorageObject> SetStorage;  // nonsimple sets: the set's own storage
    propset::Section Section;
    STATPROPSETSTG Stat{};
};

class Opener final : public propset::IndirectOpener {
public:
    explicit Opener(StorageObject* storage) : FStorage(storage) {}
    HRESULT OpenStream(std::u16string_view name, IStream** stream) override
    {
        return FStorage->OpenChildStream(name, stream);
    }
    HRESULT OpenStorage(std::u16string_view name, IStorage** storage) override
    {
        return FStorage->OpenChildStorage(name, storage);
    }

private:
    StorageObject* FStorage;
};

class EnumPropertiesObject final : public ComObject<IEnumSTATPROPSTG, IID_IEnumSTATPROPSTG> {
public:
    EnumPropertiesObject(std::shared_ptr<const OpenSet> set, size_t position) : FSet(std::move(set)), FPosition(position)
    {
        for (const propset::Property& p : FSet->Section.Properties)
            if (!Excluded(p.Id))
                FListed.push_back(&p);
    }

    HRESULT Next(ULONG celt, STATPROPSTG* rgelt, ULONG* pceltFetched) override
    {
        if (pceltFetched)
            *pceltFetched = 0;
        if (!rgelt)
            return STG_E_INVALIDPOINTER;
        if (celt > 1 && !pceltFetched)
            return STG_E_INVALIDPARAMETER;
        ULONG fetched = 0;
        while (fetched < celt && FPosition < FListed.size()) {
            const propset::Property& p = *FListed[FPosition];
            STATPROPSTG& out = rgelt[fetched];
            out = STATPROPSTG{nullptr, p.Id, p.Type};
            if (const std::u16string* name = FSet->Section.NameOf(p.Id)) {
                out.lpwstrName = AllocWide(*name);
                if (!out.lpwstrName) {
                    for (ULONG i = 0; i < fetched; ++i) {
                        CoTaskMemFree(rgelt[i].lpwstrName);
                        rgelt[i].lpwstrName = nullptr;
                    }
                    FPosition -= fetched;
                    return STG_E_INSUFFICIENTMEMORY;
                }
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
        const size_t left = FListed.size() - std::min(FPosition, FListed.size());
        FPosition += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        FPosition = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumSTATPROPSTG** ppenum) override
    {
        if (!ppenum)
            return STG_E_INVALIDPOINTER;
        *ppenum = MakeObject<EnumPropertiesObject>(FSet, FPosition);
        return S_OK;
    }

private:
    ~EnumPropertiesObject() override = default;

    std::shared_ptr<const OpenSet> FSet;
    std::vector<const propset::Property*> FListed;
    size_t FPosition;
};

class PropertyStorageObject final : public ComObject<IPropertyStorage, IID_IPropertyStorage> {
public:
    explicit PropertyStorageObject(std::shared_ptr<const OpenSet> set) : FSet(std::move(set)) {}

    HRESULT ReadMultiple(ULONG count, const PROPSPEC keys[], PROPVARIANT rgpropvar[]) override
    {
        if (count == 0)
            return S_FALSE;
        if (!keys || !rgpropvar)
            return STG_E_INVALIDPOINTER;
        for (ULONG i = 0; i < count; ++i)
            std::memset(&rgpropvar[i], 0, sizeof(PROPVARIANT));
        const propset::Section& section = FSet->Section;
        Opener opener(FSet->SetStorage.get());
        bool found = false;
        for (ULONG i = 0; i < count; ++i) {
            std::optional<PROPID> id;
            if (keys[i].ulKind == PRSPEC_PROPID)
                id = keys[i].propid;
            else if (keys[i].ulKind == PRSPEC_LPWSTR && keys[i].lpwstr)
                id = section.IdOf(winstr::View(keys[i].lpwstr));
            else
                return Fail(count, rgpropvar, STG_E_INVALIDPARAMETER);
            // The dictionary is no value.
            const propset::Property* property = id && *id != PID_DICTIONARY ? section.Find(*id) : nullptr;
            if (!property)
                continue;
            const HRESULT hr = propset::ReadValue(section, *property, FSet->SetStorage ? &opener : nullptr, rgpropvar[i]);
            if (FAILED(hr))
                return Fail(count, rgpropvar, hr);
            found = true;
        }
        return found ? S_OK : S_FALSE;
    }

    HRESULT ReadPropertyNames(ULONG cpropid, const PROPID rgpropid[], LPOLESTR rglpwstrName[]) override
    {
        if (cpropid == 0)
            return S_FALSE;
        if (!rgpropid || !rglpwstrName)
            return STG_E_INVALIDPOINTER;
        bool found = false;
        for (ULONG i = 0; i < cpropid; ++i) {
            rglpwstrName[i] = nullptr;
            if (const std::u16string* name = FSet->Section.NameOf(rgpropid[i])) {
                rglpwstrName[i] = AllocWide(*name);
                if (!rglpwstrName[i]) {
                    for (ULONG k = 0; k < i; ++k) {
                        CoTaskMemFree(rglpwstrName[k]);
                        rglpwstrName[k] = nullptr;
                    }
                    return STG_E_INSUFFICIENTMEMORY;
                }
                found = true;
            }
        }
        return found ? S_OK : S_FALSE;
    }

    HRESULT Enum(IEnumSTATPROPSTG** ppenum) override
    {
        if (!ppenum)
            return STG_E_INVALIDPOINTER;
        *ppenum = MakeObject<EnumPropertiesObject>(FSet, 0);
        return S_OK;
    }

    HRESULT Stat(STATPROPSETSTG* pstatpsstg) override
    {
        if (!pstatpsstg)
            return STG_E_INVALIDPOINTER;
        *pstatpsstg = FSet->Stat;
        return S_OK;
    }

    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    // The set was opened for reading.
    HRESULT WriteMultiple(ULONG, const PROPSPEC[], const PROPVARIANT[], PROPID) override { return STG_E_ACCESSDENIED; }
    HRESULT DeleteMultiple(ULONG, const PROPSPEC[]) override { return STG_E_ACCESSDENIED; }
    HRESULT WritePropertyNames(ULONG, const PROPID[], const LPOLESTR[]) override { return STG_E_ACCESSDENIED; }
    HRESULT DeletePropertyNames(ULONG, const PROPID[]) override { return STG_E_ACCESSDENIED; }
    HRESULT SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) override { return STG_E_ACCESSDENIED; }
    HRESULT SetClass(REFCLSID) override { return STG_E_ACCESSDENIED; }

private:
    ~PropertyStorageObject() override = default;

    // On any error no value is handed out.
    static HRESULT Fail(ULONG count, PROPVARIANT values[], HRESULT hr)
    {
        FreePropVariantArray(count, values);
        return hr;
    }

    std::shared_ptr<const OpenSet> FSet;
};

class EnumSetsObject final : public ComObject<IEnumSTATPROPSETSTG, IID_IEnumSTATPROPSETSTG> {
public:
    EnumSetsObject(ComPtr<StorageObject> storage, std::shared_ptr<const std::vector<STATPROPSETSTG>> sets, size_t position)
        : FStorage(std::move(storage)), FSets(std::move(sets)), FPosition(position)
    {
    }

    HRESULT Next(ULONG celt, STATPROPSETSTG* rgelt, ULONG* pceltFetched) override
    {
        if (pceltFetched)
            *pceltFetched = 0;
        if (!rgelt)
            return STG_E_INVALIDPOINTER;
        if (celt > 1 && !pceltFetched)
            return STG_E_INVALIDPARAMETER;
        ULONG fetched = 0;
        while (fetched < celt && FPosition < FSets->size())
            rgelt[fetched++] = (*FSets)[FPosition++];
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override
    {
        const size_t left = FSets->size() - std::min(FPosition, FSets->size());
        FPosition += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        FPosition = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumSTATPROPSETSTG** ppenum) override
    {
        if (!ppenum)
            return STG_E_INVALIDPOINTER;
        *ppenum = MakeObject<EnumSetsObject>(FStorage, FSets, FPosition);
        return S_OK;
    }

private:
    ~EnumSetsObject() override = default;

    ComPtr<StorageObject> FStorage;
    std::shared_ptr<const std::vector<STATPROPSETSTG>> FSets;
    size_t FPosition;
};

// The property-set stream of an element: the element itself (simple) or its CONTENTS stream
// (nonsimple, then setStorage is the element opened as a storage).
HRESULT OpenSetStream(StorageObject& storage, const cfb::Entry& element, ComPtr<StorageObject>& setStorage,
                      const cfb::Entry*& streamEntry, cfb::StreamReader& reader)
{
    const cfb::CompoundFile& file = storage.file();
    streamEntry = &element;
    if (element.IsStorage()) {
        ComPtr<IStorage> opened;
        HRESULT hr = storage.OpenChildStorage(element.Name, opened.Put());
        if (FAILED(hr))
            return hr;
        setStorage = ComPtr<StorageObject>::Share(static_cast<StorageObject*>(opened.get()));
        streamEntry = file.FindChild(element, ContentsName);
        if (!streamEntry || streamEntry->IsStorage())
            return STG_E_FILENOTFOUND;
    }
    return file.OpenStream(*streamEntry, reader);
}

STATPROPSETSTG StatOf(const propset::Header& header, const propset::Section& section, const cfb::Entry& element)
{
    STATPROPSETSTG stat{};
    stat.fmtid = section.Fmtid;
    stat.clsid = header.Clsid;
    stat.grfFlags = (element.IsStorage() ? PROPSETFLAG_NONSIMPLE : 0) |
                    (section.CodePage == codepage::Unicode ? 0 : PROPSETFLAG_ANSI);
    stat.mtime = element.Modified;
    stat.ctime = element.Created;
    stat.dwOSVersion = header.SystemIdentifier;
    return stat;
}

} // namespace

std::u16string PropertySetName(REFFMTID fmtid)
{
    if (fmtid == FMTID_SummaryInformation)
        return SummaryInformationName;
    if (fmtid == FMTID_DocSummaryInformation || fmtid == FMTID_UserDefinedProperties)
        return DocSummaryInformationName;
    // The FMTID's 128 bits in memory order, least significant bit first, five at a time.
    uint8_t bytes[16];
    bytes[0] = static_cast<uint8_t>(fmtid.Data1);
    bytes[1] = static_cast<uint8_t>(fmtid.Data1 >> 8);
    bytes[2] = static_cast<uint8_t>(fmtid.Data1 >> 16);
    bytes[3] = static_cast<uint8_t>(fmtid.Data1 >> 24);
    bytes[4] = static_cast<uint8_t>(fmtid.Data2);
    bytes[5] = static_cast<uint8_t>(fmtid.Data2 >> 8);
    bytes[6] = static_cast<uint8_t>(fmtid.Data3);
    bytes[7] = static_cast<uint8_t>(fmtid.Data3 >> 8);
    std::memcpy(bytes + 8, fmtid.Data4, 8);
    constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyz012345";
    std::u16string name(1, u'\u0005');
    for (unsigned group = 0; group < 26; ++group) {
        unsigned value = 0;
        for (unsigned bit = 0; bit < 5; ++bit) {
            const unsigned index = group * 5 + bit;
            if (index < 128 && (bytes[index / 8] >> (index % 8)) & 1)
                value |= 1u << bit;
        }
        name += static_cast<char16_t>(Alphabet[value]);
    }
    return name;
}

HRESULT StorageObject::Open(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg)
{
    if (!ppprstg)
        return STG_E_INVALIDPOINTER;
    *ppprstg = nullptr;
    HRESULT hr = CheckElementMode(grfMode);
    if (FAILED(hr))
        return hr;
    const cfb::Entry* element = FFile->FindChild(FEntry, PropertySetName(rfmtid));
    if (!element)
        return STG_E_FILENOTFOUND;

    auto set = std::make_shared<OpenSet>();
    set->Owner = ComPtr<StorageObject>::Share(this);
    const cfb::Entry* streamEntry = nullptr;
    cfb::StreamReader reader;
    hr = OpenSetStream(*this, *element, set->SetStorage, streamEntry, reader);
    if (FAILED(hr))
        return hr;
    propset::Header header;
    hr = propset::ReadHeader(reader, header);
    if (FAILED(hr))
        return hr;
    // The user-defined properties are the second section of the document summary.
    size_t index = 0;
    if (rfmtid == FMTID_UserDefinedProperties) {
        if (header.Sections.size() < 2 || !(header.Sections[1].first == FMTID_UserDefinedProperties))
            return STG_E_FILENOTFOUND;
        index = 1;
    }
    hr = propset::ReadSection(reader, header, index, set->Section);
    if (FAILED(hr))
        return hr;
    set->Stat = StatOf(header, set->Section, *element);
    set->Stat.fmtid = rfmtid;
    *ppprstg = MakeObject<PropertyStorageObject>(std::move(set));
    return S_OK;
}

HRESULT StorageObject::Enum(IEnumSTATPROPSETSTG** ppenum)
{
    if (!ppenum)
        return STG_E_INVALIDPOINTER;
    *ppenum = nullptr;
    auto sets = std::make_shared<std::vector<STATPROPSETSTG>>();
    for (const uint32_t id : FEntry.Children) {
        const cfb::Entry& element = *FFile->EntryById(id);
        if (element.Name.empty() || element.Name[0] != u'\u0005')
            continue;
        // Elements that do not open or parse as property sets are not listed.
        ComPtr<StorageObject> setStorage;
        const cfb::Entry* streamEntry = nullptr;
        cfb::StreamReader reader;
        propset::Header header;
        if (FAILED(OpenSetStream(*this, element, setStorage, streamEntry, reader)) ||
            FAILED(propset::ReadHeader(reader, header)))
            continue;
        for (size_t i = 0; i < header.Sections.size(); ++i) {
            // Only the document summary has a second section: the user-defined properties.
            if (i == 1 && !(header.Sections[1].first == FMTID_UserDefinedProperties))
                break;
            propset::Section section;
            if (FAILED(propset::ReadSection(reader, header, i, section)))
                break;
            sets->push_back(StatOf(header, section, element));
        }
    }
    *ppenum = MakeObject<EnumSetsObject>(ComPtr<StorageObject>::Share(this), std::move(sets), 0);
    return S_OK;
}

HRESULT StorageObject::Create(REFFMTID, const CLSID*, DWORD, DWORD, IPropertyStorage** ppprstg)
{
    if (ppprstg)
        *ppprstg = nullptr;
    return STG_E_ACCESSDENIED;
}

HRESULT StorageObject::Delete(REFFMTID) { return STG_E_ACCESSDENIED; }

} // namespace ole32
