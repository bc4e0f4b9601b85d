// Read-only access to compound documents through the platform's structured-storage interfaces,
// and the names and texts of property-set values.
//
// A storage object stays alive while anything opened from it lives: its lock count is 1 for the
// object itself plus 1 for every stream, property set and child storage opened from it and not yet
// freed. A child storage frees itself when its count drops to 0; a root is freed by its owner.
// Errors of the platform become EOleSysError at the points documented below.
#pragma once

#include "platform/include/win/objidl.h"
#include "platform/include/win/propidl.h"
#include "support/Streams.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// Every storage, stream and property set is opened so.
inline constexpr DWORD StorageReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;

struct TElement {
    QString Name;
    STATSTG Props{}; // its name pointer is not used: the name is in Name
};
using TElements = std::vector<TElement>;

struct TPropSet {
    QString Name; // the name stored under property ID 0, or empty
    STATPROPSETSTG Props{};
};
using TPropSets = std::vector<TPropSet>;

class TStorageStream;
class TStoragePropertySet;

class TStructuredStorage {
public:
    // Takes a reference of the platform storage. Raises when its elements or property sets cannot
    // be enumerated.
    TStructuredStorage(TStructuredStorage* AParent, IStorage* AStorage);
    ~TStructuredStorage();
    TStructuredStorage(const TStructuredStorage&) = delete;
    TStructuredStorage& operator=(const TStructuredStorage&) = delete;

    // Releases one lock; at none, an auto-freeing storage frees itself.
    void Close();
    // Frees an object handed out by OpenSubStorage.
    void Free() { delete this; }

    // Compared ignoring the case of the letters a-z.
    [[nodiscard]] bool ElementExists(const QString& AName) const;
    [[nodiscard]] int GetElementCount() const { return static_cast<int>(FElements.size()); }
    [[nodiscard]] const TElement& GetElement(int Index) const { return FElements.at(static_cast<size_t>(Index)); }
    // An all-zero record when there is no such element.
    [[nodiscard]] TElement GetElementByName(const QString& Name) const;
    [[nodiscard]] const TPropSets& PropSets() const { return FPropSets; }

    // A stream of this storage or of a path of storages below it ("A\B\S"), or null. Raises when an
    // intermediate storage of the path cannot be opened; the stream's own open failing gives null.
    [[nodiscard]] TStorageStream* OpenStream(const QString& AName, DWORD AMode, bool CanCreate);
    // A child storage (freed by Free), or null.
    [[nodiscard]] TStructuredStorage* OpenSubStorage(const QString& AName, DWORD AMode, bool CanCreate);
    [[nodiscard]] TStoragePropertySet* OpenPropertySet(const FMTID& FmtID, DWORD AMode, const QString& AName,
                                                       bool CanCreate);

    [[nodiscard]] IStorage* Storage() const { return FStorage; }
    [[nodiscard]] int LockCount() const { return FLockCount; }
    [[nodiscard]] bool AutoFree() const { return FAutoFree; }

private:
    friend class TStorageStream;
    friend class TStoragePropertySet;

    void AddLock() { ++FLockCount; }
    void Commit();
    void ReadElements();
    void ReadPropSets();
    // Opens the storages of a path one below the other; the last one holds one lock of its own.
    TStructuredStorage* OpenPath(const QStringList& storageNames, DWORD AMode);

    int FLockCount = 1;
    IStorage* FStorage = nullptr;
    TStructuredStorage* FParent = nullptr;
    bool FAutoFree = false;
    TElements FElements;
    TPropSets FPropSets;
};

class TStorageStream final : public TStream {
public:
    TStorageStream(IStream* Stream, TStructuredStorage* Storage);
    ~TStorageStream() override;

    [[nodiscard]] int64_t GetSize() override;
    void SetSize(int64_t newSize) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

private:
    IStream* FStream;
    TStructuredStorage* FParent;
};

class TStoragePropertySet {
public:
    TStoragePropertySet(IPropertyStorage* PropertyStorage, TStructuredStorage* Storage);
    ~TStoragePropertySet();
    TStoragePropertySet(const TStoragePropertySet&) = delete;
    TStoragePropertySet& operator=(const TStoragePropertySet&) = delete;

    [[nodiscard]] IPropertyStorage* FPS() const { return FPropertyStorage; }

private:
    IPropertyStorage* FPropertyStorage;
    TStructuredStorage* FParent;
};

// Called with the source and the target of a copy; an error it raises makes the copy plain.
using TStreamConverter = std::function<void(TStream& source, TStream& target)>;

// False for files that are not compound files; raises when a compound file cannot be opened.
bool StorageStreamExists(const QString& FileName, const QString& StreamName);
// The whole stream copied into the target (left empty when there is none); raises when a compound
// file cannot be opened.
void ReadStorageStream(const QString& FileName, const QString& StoragePath, const QString& StreamName,
                       const TStreamConverter& Converter, TStream& Target);
void CopyStorageStream(TStream& Source, TStream& Target, const TStreamConverter& Converter);
// "\A\B\S" gives the storages A and B and the final name S.
void SplitStoragePath(const QString& Path, QString& FinalName, QStringList& StorageNames);

// The display name of a property of the summary, document summary or image summary information;
// empty for anything else.
[[nodiscard]] QString PropertyName(const FMTID& FmtID, PROPID PropID);
// The value's text; for a type with no text the text is left as it was.
void PropVariantToText(const PROPVARIANT& Value, QString& Text);
// Floating-point text: 15 significant digits, fixed or scientific as the magnitude asks.
[[nodiscard]] QString FloatToText(double value);
// A GUID in registry form: braces, upper-case hex digits, groups 8-4-4-4-12.
[[nodiscard]] QString GuidToString(const GUID& guid);
