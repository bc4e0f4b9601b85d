#include "storage/KavexSS.h"

#include "cert/KavexCert.h"
#include "support/AnsiText.h"
#include "support/ComPtr.h"
#include "support/Exceptions.h"
#include "support/WinString.h"

#include <QLocale>

#include <cmath>
#include <cstring>

namespace {

bool SameNameIgnoringCase(const QString& a, const QString& b)
{
    // Only the letters a-z fold, as the storage compares names.
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - u'a' + u'A');
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - u'a' + u'A');
        if (x != y)
            return false;
    }
    return true;
}

ComPtr<IPropertySetStorage> PropertySetStorageOf(IStorage* storage)
{
    ComPtr<IPropertySetStorage> sets;
    OleCheck(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Out())));
    return sets;
}

// Opens a file's root storage; a failure raises.
ComPtr<IStorage> OpenRootStorage(const QString& fileName)
{
    ComPtr<IStorage> root;
    OleCheck(StgOpenStorage(WStr(fileName), nullptr, StorageReadMode, nullptr, 0, root.Out()));
    return root;
}

bool IsCompoundFile(const QString& fileName)
{
    return StgIsStorageFile(WStr(fileName)) == S_OK;
}

// Frees the objects handed out by this unit.
struct StreamDeleter {
    void operator()(TStorageStream* s) const { delete s; }
};
using StreamPtr = std::unique_ptr<TStorageStream, StreamDeleter>;
struct StorageFreer {
    void operator()(TStructuredStorage* s) const { s->Free(); }
};
using SubStoragePtr = std::unique_ptr<TStructuredStorage, StorageFreer>;

} // namespace

// ---------------------------------------------------------------------------------------------
// TStructuredStorage

TStructuredStorage::TStructuredStorage(TStructuredStorage* AParent, IStorage* AStorage)
    : FStorage(AStorage), FParent(AParent), FAutoFree(AParent != nullptr)
{
    if (FStorage)
        FStorage->AddRef();
    if (FParent)
        FParent->AddLock();
    try {
        ReadElements();
        ReadPropSets();
    } catch (...) {
        // The object never existed for the caller: undo what the constructor took.
        if (FStorage)
            FStorage->Release();
        if (FParent)
            FParent->Close();
        throw;
    }
}

TStructuredStorage::~TStructuredStorage()
{
    Commit();
    FElements.clear();
    FPropSets.clear();
    if (FStorage)
        FStorage->Release();
    FStorage = nullptr;
    if (FParent)
        FParent->Close();
}

void TStructuredStorage::Commit()
{
    if (FStorage)
        FStorage->Commit(STGC_ONLYIFCURRENT);
}

void TStructuredStorage::Close()
{
    if (FLockCount > 0)
        --FLockCount;
    if (FLockCount > 0)
        return;
    Commit();
    if (FAutoFree)
        delete this;
}

void TStructuredStorage::ReadElements()
{
    FElements.clear();
    if (!FStorage)
        return;
    ComPtr<IEnumSTATSTG> elements;
    OleCheck(FStorage->EnumElements(0, nullptr, 0, elements.Out()));
    constexpr ULONG BatchSize = 10;
    ULONG fetched = 0;
    do {
        STATSTG batch[BatchSize] = {};
        fetched = 0;
        elements->Next(BatchSize, batch, &fetched);
        for (ULONG i = 0; i < fetched && i < BatchSize; ++i) {
            TElement element;
            element.Name = FromWStr(batch[i].pwcsName);
            element.Props = batch[i];
            element.Props.pwcsName = nullptr;
            CoTaskMemFree(batch[i].pwcsName);
            FElements.push_back(std::move(element));
        }
    } while (fetched == BatchSize);
}

void TStructuredStorage::ReadPropSets()
{
    FPropSets.clear();
    if (!FStorage)
        return;
    ComPtr<IPropertySetStorage> sets = PropertySetStorageOf(FStorage);
    ComPtr<IEnumSTATPROPSETSTG> entries;
    OleCheck(sets->Enum(entries.Out()));
    STATPROPSETSTG entry{};
    ULONG fetched = 0;
    while (entries->Next(1, &entry, &fetched) == S_OK && fetched == 1) {
        ComPtr<IPropertyStorage> set;
        if (FAILED(sets->Open(entry.fmtid, StorageReadMode, set.Out())) || !set)
            continue;
        TPropSet propSet;
        propSet.Props = entry;
        const PROPID dictionary = PID_DICTIONARY;
        LPOLESTR name = nullptr;
        set->ReadPropertyNames(1, &dictionary, &name);
        propSet.Name = FromWStr(name);
        CoTaskMemFree(name);
        FPropSets.push_back(std::move(propSet));
    }
}

bool TStructuredStorage::ElementExists(const QString& AName) const
{
    for (const TElement& e : FElements)
        if (SameNameIgnoringCase(e.Name, AName))
            return true;
    return false;
}

TElement TStructuredStorage::GetElementByName(const QString& Name) const
{
    for (const TElement& e : FElements)
        if (e.Name == Name)
            return e;
    return {};
}

TStructuredStorage* TStructuredStorage::OpenPath(const QStringList& storageNames, DWORD AMode)
{
    TStructuredStorage* current = this;
    for (const QString& name : storageNames) {
        ComPtr<IStorage> storage;
        const HRESULT hr = current->FStorage->OpenStorage(WStr(name), nullptr, AMode, nullptr, 0, storage.Out());
        if (FAILED(hr)) {
            if (current != this)
                current->Close();
            throw EOleSysError(hr);
        }
        TStructuredStorage* child = nullptr;
        try {
            child = new TStructuredStorage(current, storage.Get());
        } catch (...) {
            if (current != this)
                current->Close();
            throw;
        }
        // The child now keeps its parent alive.
        if (current != this)
            current->Close();
        current = child;
    }
    return current;
}

TStorageStream* TStructuredStorage::OpenStream(const QString& AName, DWORD AMode, bool CanCreate)
{
    if (AName.isEmpty() || !FStorage)
        return nullptr;
    QString finalName;
    QStringList storageNames;
    SplitStoragePath(AName, finalName, storageNames);
    if (storageNames.isEmpty()) {
        ComPtr<IStream> stream;
        if (FAILED(FStorage->OpenStream(WStr(finalName), nullptr, AMode, 0, stream.Out())) || !stream)
            return nullptr;
        return new TStorageStream(stream.Get(), this);
    }
    TStructuredStorage* last = OpenPath(storageNames, AMode);
    TStorageStream* result = nullptr;
    if (last->ElementExists(finalName)) {
        ComPtr<IStream> stream;
        if (SUCCEEDED(last->FStorage->OpenStream(WStr(finalName), nullptr, AMode, 0, stream.Out())) && stream)
            result = new TStorageStream(stream.Get(), last);
    }
    // From here on the stream alone keeps the chain of storages alive.
    last->Close();
    return result;
}

TStructuredStorage* TStructuredStorage::OpenSubStorage(const QString& AName, DWORD AMode, bool CanCreate)
{
    if (AName.isEmpty() || !FStorage)
        return nullptr;
    QString finalName;
    QStringList storageNames;
    SplitStoragePath(AName, finalName, storageNames);
    TStructuredStorage* last = OpenPath(storageNames, AMode);
    TStructuredStorage* result = nullptr;
    if (last->ElementExists(finalName)) {
        ComPtr<IStorage> storage;
        const HRESULT hr = last->FStorage->OpenStorage(WStr(finalName), nullptr, AMode, nullptr, 0, storage.Out());
        if (SUCCEEDED(hr) && storage) {
            try {
                result = new TStructuredStorage(last, storage.Get());
            } catch (...) {
                if (last != this)
                    last->Close();
                throw;
            }
        }
    }
    if (last != this)
        last->Close();
    return result;
}

TStoragePropertySet* TStructuredStorage::OpenPropertySet(const FMTID& FmtID, DWORD AMode, const QString& AName,
                                                         bool CanCreate)
{
    if (!FStorage)
        return nullptr;
    ComPtr<IPropertySetStorage> sets = PropertySetStorageOf(FStorage);
    ComPtr<IPropertyStorage> set;
    sets->Open(FmtID, AMode, set.Out());
    TStoragePropertySet* result = set ? new TStoragePropertySet(set.Get(), this) : nullptr;
    ReadElements();
    return result;
}

// ---------------------------------------------------------------------------------------------
// TStorageStream, TStoragePropertySet

TStorageStream::TStorageStream(IStream* Stream, TStructuredStorage* Storage) : FStream(Stream), FParent(Storage)
{
    if (FStream)
        FStream->AddRef();
    if (FParent)
        FParent->AddLock();
}

TStorageStream::~TStorageStream()
{
    if (FStream) {
        FStream->Commit(STGC_ONLYIFCURRENT);
        FStream->Release();
    }
    if (FParent)
        FParent->Close();
}

int64_t TStorageStream::GetSize()
{
    if (!FStream)
        return 0;
    STATSTG stat{};
    OleCheck(FStream->Stat(&stat, STATFLAG_NONAME));
    return static_cast<int64_t>(stat.cbSize.QuadPart);
}

void TStorageStream::SetSize(int64_t newSize)
{
    if (!FStream)
        return;
    ULARGE_INTEGER size{};
    size.QuadPart = static_cast<ULONGLONG>(newSize);
    OleCheck(FStream->SetSize(size));
}

int64_t TStorageStream::Read(void* buffer, int64_t count)
{
    if (!FStream || count <= 0)
        return 0;
    int64_t total = 0;
    auto* out = static_cast<char*>(buffer);
    // The platform reads at most 4 GiB - 1 at a time.
    while (total < count) {
        const auto chunk = static_cast<ULONG>(std::min<int64_t>(count - total, 0x7FFFFFFF));
        ULONG read = 0;
        OleCheck(FStream->Read(out + total, chunk, &read));
        total += read;
        if (read < chunk)
            break;
    }
    return total;
}

int64_t TStorageStream::Write(const void* buffer, int64_t count)
{
    if (!FStream || count <= 0)
        return 0;
    ULONG written = 0;
    OleCheck(FStream->Write(buffer, static_cast<ULONG>(std::min<int64_t>(count, 0x7FFFFFFF)), &written));
    return written;
}

int64_t TStorageStream::Seek(int64_t offset, TSeekOrigin origin)
{
    if (!FStream)
        return 0;
    LARGE_INTEGER move{};
    move.QuadPart = offset;
    ULARGE_INTEGER position{};
    OleCheck(FStream->Seek(move, static_cast<DWORD>(origin), &position));
    return static_cast<int64_t>(position.QuadPart);
}

TStoragePropertySet::TStoragePropertySet(IPropertyStorage* PropertyStorage, TStructuredStorage* Storage)
    : FPropertyStorage(PropertyStorage), FParent(Storage)
{
    if (FPropertyStorage)
        FPropertyStorage->AddRef();
    if (FParent)
        FParent->AddLock();
}

TStoragePropertySet::~TStoragePropertySet()
{
    if (FPropertyStorage) {
        FPropertyStorage->Commit(STGC_ONLYIFCURRENT);
        FPropertyStorage->Release();
    }
    if (FParent)
        FParent->Close();
}

// ---------------------------------------------------------------------------------------------
// Routines

void SplitStoragePath(const QString& Path, QString& FinalName, QStringList& StorageNames)
{
    FinalName.clear();
    StorageNames.clear();
    if (Path.isEmpty())
        return;
    QString rest = Path.startsWith(u'\\') ? Path.mid(1) : Path;
    qsizetype slash;
    while ((slash = rest.indexOf(u'\\')) >= 0) {
        StorageNames.append(rest.left(slash));
        rest = rest.mid(slash + 1);
    }
    FinalName = rest;
}

bool StorageStreamExists(const QString& FileName, const QString& StreamName)
{
    if (!IsCompoundFile(FileName))
        return false;
    ComPtr<IStorage> platformRoot = OpenRootStorage(FileName);
    TStructuredStorage root(nullptr, platformRoot.Get());
    StreamPtr stream;
    try {
        stream.reset(root.OpenStream(StreamName, StorageReadMode, false));
    } catch (const EOleSysError&) {
        // A path that cannot be opened means there is no such stream.
    }
    return stream != nullptr;
}

void ReadStorageStream(const QString& FileName, const QString& StoragePath, const QString& StreamName,
                       const TStreamConverter& Converter, TStream& Target)
{
    Target.SetSize(0);
    Target.SetPosition(0);
    if (!IsCompoundFile(FileName))
        return;
    ComPtr<IStorage> platformRoot = OpenRootStorage(FileName);
    TStructuredStorage root(nullptr, platformRoot.Get());
    SubStoragePtr subStorage;
    TStructuredStorage* storage = &root;
    if (!StoragePath.isEmpty() && StoragePath != u"\\") {
        QString path = StoragePath;
        if (path.endsWith(u'\\'))
            path.chop(1);
        try {
            subStorage.reset(root.OpenSubStorage(path, StorageReadMode, false));
        } catch (const EOleSysError&) {
        }
        storage = subStorage.get();
    }
    if (storage && storage->ElementExists(StreamName)) {
        StreamPtr stream(storage->OpenStream(StreamName, StorageReadMode, false));
        if (stream) {
            CopyStorageStream(*stream, Target, Converter);
            Target.SetPosition(0);
        }
    }
}

void CopyStorageStream(TStream& Source, TStream& Target, const TStreamConverter& Converter)
{
    if (Source.Size() == 0)
        return;
    Target.SetPosition(0);
    Target.SetSize(0);
    Source.SetPosition(0);
    bool copied = false;
    if (Converter) {
        try {
            Converter(Source, Target);
            copied = true;
        } catch (const std::exception&) {
            Target.SetSize(0);
            Target.SetPosition(0);
            Source.SetPosition(0);
        }
    }
    if (!copied)
        Target.CopyFrom(Source, Source.Size());
    Target.SetPosition(0);
}

// ---------------------------------------------------------------------------------------------
// Names and texts of property values

namespace {

struct NamedProperty {
    PROPID Id;
    const char16_t* Name;
};

constexpr NamedProperty SummaryNames[] = {
    {2, u"Title"},
    {3, u"Subject"},
    {4, u"Author"},
    {5, u"Keywords"},
    {6, u"Comments"},
    {7, u"Template"},
    {8, u"Last saved by"},
    {9, u"Revision number"},
    {10, u"Total editing time"},
    {11, u"Last printed"},
    {12, u"Create time/date"},
    {13, u"Last saved time/date"},
    {14, u"Number of pages"},
    {15, u"Number of words"},
    {16, u"Number of characters"},
    {17, u"Thumbnail"},
    {18, u"Name of creating application"},
    {19, u"Security"},
};

constexpr NamedProperty DocSummaryNames[] = {
    {2, u"Category"},
    {3, u"Presentation target"},
    {4, u"Bytes"},
    {5, u"Lines"},
    {6, u"Paragraphs"},
    {7, u"Slides"},
    {8, u"Notes"},
    {9, u"Hidden slides"},
    {10, u"MM Clips"},
    {11, u"Scale crop"},
    {12, u"Heading pairs"},
    {13, u"Titlesoft parts"},
    {14, u"Manager"},
    {15, u"Company"},
    {16, u"Links up to date"},
};

constexpr NamedProperty ImageSummaryNames[] = {
    {5, u"Image Res X"},
    {6, u"Image Res Y"},
    {13, u"Image Dimensions"},
};

template <size_t N>
QString Lookup(const NamedProperty (&table)[N], PROPID id)
{
    for (const NamedProperty& p : table)
        if (p.Id == id)
            return QString::fromUtf16(p.Name);
    return {};
}

} // namespace

QString PropertyName(const FMTID& FmtID, PROPID PropID)
{
    if (FmtID == FMTID_SummaryInformation)
        return Lookup(SummaryNames, PropID);
    if (FmtID == FMTID_DocSummaryInformation)
        return Lookup(DocSummaryNames, PropID);
    if (FmtID == FMTID_ImageSummaryInformation)
        return Lookup(ImageSummaryNames, PropID);
    return {};
}

QString GuidToString(const GUID& guid)
{
    return QStringLiteral("{%1-%2-%3-%4%5-%6%7%8%9%10%11}")
        .arg(guid.Data1, 8, 16, QLatin1Char('0'))
        .arg(guid.Data2, 4, 16, QLatin1Char('0'))
        .arg(guid.Data3, 4, 16, QLatin1Char('0'))
        .arg(guid.Data4[0], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[1], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[2], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[3], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[4], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[5], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[6], 2, 16, QLatin1Char('0'))
        .arg(guid.Data4[7], 2, 16, QLatin1Char('0'))
        .toUpper();
}

QString FloatToText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    const QString decimalPoint = QLocale::system().decimalPoint();
    if (value == 0)
        return QStringLiteral("0");
    // Fifteen significant digits: d.dddddddddddddde±x, rounded once.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    const char* e = std::strchr(buffer, 'e');
    QString digits = QString::fromLatin1(buffer, e - buffer).remove(u'.');
    const int exponent = std::atoi(e + 1);
    while (digits.size() > 1 && digits.endsWith(u'0'))
        digits.chop(1);
    const QString sign = value < 0 ? QStringLiteral("-") : QString();

    if (exponent + 1 <= 15 && std::fabs(value) >= 0.00001) {
        QString text;
        if (exponent >= 0) {
            QString whole = digits.left(exponent + 1);
            whole += QString(std::max<qsizetype>(0, exponent + 1 - digits.size()), u'0');
            const QString fraction = digits.mid(exponent + 1);
            text = fraction.isEmpty() ? whole : whole + decimalPoint + fraction;
        } else {
            text = QStringLiteral("0") + decimalPoint + QString(-exponent - 1, u'0') + digits;
        }
        return sign + text;
    }
    QString mantissa = digits.left(1);
    if (digits.size() > 1)
        mantissa += decimalPoint + digits.mid(1);
    return sign + mantissa + u'E' + QString::number(exponent);
}

void PropVariantToText(const PROPVARIANT& Value, QString& Text)
{
    switch (Value.vt) {
    case VT_EMPTY: Text.clear(); break;
    case VT_NULL: Text = QStringLiteral("(null)"); break;
    case VT_I2: Text = QString::number(Value.iVal); break;
    case VT_I4: Text = QString::number(Value.lVal); break;
    case VT_R4: Text = FloatToText(static_cast<double>(Value.fltVal)); break;
    case VT_R8: Text = FloatToText(Value.dblVal); break;
    case VT_CY: Text = QLocale::system().toCurrencyString(static_cast<double>(Value.cyVal.int64) / 10000.0); break;
    case VT_DATE: Text = DateTimeToText(Value.date); break;
    case VT_BSTR: Text = FromWStr(Value.bstrVal); break;
    case VT_DISPATCH: Text = QStringLiteral("(IDispatch)"); break;
    case VT_ERROR: Text = QString::number(Value.scode); break;
    case VT_BOOL: Text = QString::number(Value.boolVal); break;
    case VT_VARIANT: Text = QStringLiteral("(VARIANT FAR*)"); break;
    case VT_UNKNOWN: Text = QStringLiteral("(IUnknown FAR*)"); break;
    case VT_DECIMAL: {
        // The low 32 bits of the 96-bit integer; scale and sign are not applied.
        int32_t low = 0;
        std::memcpy(&low, reinterpret_cast<const BYTE*>(&Value) + 8, sizeof low);
        Text = QString::number(low);
        break;
    }
    case VT_I1: Text = QString::number(static_cast<unsigned char>(Value.cVal)); break;
    case VT_UI1: Text = QString::number(Value.bVal); break;
    case VT_UI2: Text = QString::number(Value.uiVal); break;
    case VT_UI4: Text = QString::number(Value.ulVal); break;
    case VT_I8: Text = QString::number(Value.hVal.QuadPart); break;
    case VT_UI8: Text = QString::number(static_cast<qint64>(Value.uhVal.QuadPart)); break;
    case VT_INT: Text = QString::number(Value.intVal); break;
    case VT_UINT: Text = QString::number(Value.uintVal); break;
    case VT_VOID: Text = QStringLiteral("(C style void)"); break;
    case VT_HRESULT: Text = QString::number(static_cast<uint32_t>(Value.scode)); break;
    case VT_PTR: Text = QStringLiteral("(pointer type)"); break;
    case VT_SAFEARRAY: Text = QStringLiteral("(SAFEARRAY*)"); break;
    case VT_CARRAY: Text = QStringLiteral("(C style array)"); break;
    case VT_USERDEFINED: Text = QStringLiteral("(user defined type)"); break;
    case VT_LPSTR: Text = Value.pszVal ? AnsiToString(Value.pszVal) : QString(); break;
    case VT_LPWSTR: Text = FromWStr(Value.pwszVal); break;
    case VT_INT_PTR: Text = QStringLiteral("(signed machine register size width)"); break;
    case VT_UINT_PTR: Text = QStringLiteral("(unsigned machine register size width)"); break;
    case VT_FILETIME: Text = DateTimeToText(ConvertFileTime(Value.filetime, false)); break;
    case VT_BLOB: Text = QStringLiteral("(Length prefixed bytes)"); break;
    case VT_STREAM: Text = QStringLiteral("(Stream)"); break;
    case VT_STORAGE: Text = QStringLiteral("(Storage)"); break;
    case VT_STREAMED_OBJECT: Text = QStringLiteral("(Stream contains an object)"); break;
    case VT_STORED_OBJECT: Text = QStringLiteral("(Storage contains an object)"); break;
    case VT_BLOB_OBJECT: Text = QStringLiteral("(Blob contains an object)"); break;
    case VT_CF: Text = QStringLiteral("(Clipboard format)"); break;
    case VT_CLSID: Text = Value.puuid ? GuidToString(*Value.puuid) : QString(); break;
    case VT_VECTOR: Text = QStringLiteral("(Simple counted array)"); break;
    case VT_ARRAY: Text = QStringLiteral("(SAFEARRAY*)"); break;
    case VT_BYREF: Text = QStringLiteral("(BYREF)"); break;
    default: break;
    }
}
