// StgOpenStorage, IStorage, IStream and IEnumSTATSTG over the fixtures.
#include "platform/include/win/objidl.h"

#include "tests/platform/ole32/Ole32TestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ole32test;

namespace {

struct OpenCase {
    const char* Name;
    std::string Path; // relative to tests/fixtures/compound, or absolute
    DWORD Mode;
    HRESULT Expected;
};

TEST(StgOpenStorage, Results)
{
    testsupport::TempDir dir;
    const OpenCase cases[] = {
        {"v3", "full-v3.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE, S_OK},
        {"v4", "full-v4.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE, S_OK},
        {"deny write", "full-v3.cfb", STGM_READ | STGM_SHARE_DENY_WRITE, S_OK},
        {"transacted", "full-v3.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED, S_OK},
        {"msi", "one-file.msi", STGM_READ | STGM_SHARE_EXCLUSIVE, S_OK},
        {"missing", "no-such-file.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE, STG_E_FILENOTFOUND},
        {"missing folder", "no-such-folder/x.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE, STG_E_PATHNOTFOUND},
        {"text file", "malformed/not-compound.bin", STGM_READ | STGM_SHARE_EXCLUSIVE, STG_E_FILEALREADYEXISTS},
        {"empty file", "malformed/empty.bin", STGM_READ | STGM_SHARE_EXCLUSIVE, STG_E_FILEALREADYEXISTS},
        {"folder", dir.path().string(), STGM_READ | STGM_SHARE_EXCLUSIVE, STG_E_ACCESSDENIED},
        {"read-write", "full-v3.cfb", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STG_E_ACCESSDENIED},
        {"write", "full-v3.cfb", STGM_WRITE | STGM_SHARE_EXCLUSIVE, STG_E_ACCESSDENIED},
        {"create", "full-v3.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE | STGM_CREATE, STG_E_INVALIDFLAG},
        {"bad access", "full-v3.cfb", 3 | STGM_SHARE_EXCLUSIVE, STG_E_INVALIDFLAG},
        {"bad share", "full-v3.cfb", STGM_READ | 0x50, STG_E_INVALIDFLAG},
        {"unknown flag", "full-v3.cfb", STGM_READ | STGM_SHARE_EXCLUSIVE | 0x80000000, STG_E_INVALIDFLAG},
    };
    for (const OpenCase& c : cases) {
        const std::filesystem::path path = c.Path.front() == '/' ? std::filesystem::path(c.Path) : CompoundFixture(c.Path);
        Com<IStorage> storage;
        const std::u16string name = WidePath(path);
        EXPECT_EQ(StgOpenStorage(name.c_str(), nullptr, c.Mode, nullptr, 0, storage.Put()), c.Expected) << c.Name;
        EXPECT_EQ(bool(storage), c.Expected == S_OK) << c.Name;
    }
    Com<IStorage> storage;
    EXPECT_EQ(StgOpenStorage(nullptr, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, storage.Put()),
              STG_E_INVALIDNAME);
    const std::u16string name = WidePath(CompoundFixture("full-v3.cfb"));
    EXPECT_EQ(StgOpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, nullptr),
              STG_E_INVALIDPOINTER);
}

class StorageVersions : public testing::TestWithParam<int> {
protected:
    Com<IStorage> Root = OpenRoot(CompoundFixture("full-v" + std::to_string(GetParam()) + ".cfb"));

    Com<IStorage> Child(const char* name)
    {
        Com<IStorage> child;
        EXPECT_EQ(Root->OpenStorage(U16(name).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, child.Put()),
                  S_OK)
            << name;
        return child;
    }
};

// Enumerates in batches of 10, as the program does, and checks the S_OK / S_FALSE protocol.
TEST_P(StorageVersions, EnumerationInBatchesOfTen)
{
    struct Case {
        const char* Storage;
        std::vector<ULONG> Batches;
    };
    const Case cases[] = {{"Ten", {10, 0}}, {"Twenty", {10, 10, 0}}, {"TwentyFive", {10, 10, 5}}};
    for (const Case& c : cases) {
        Com<IStorage> storage = Child(c.Storage);
        ASSERT_TRUE(storage);
        Com<IEnumSTATSTG> elements;
        ASSERT_EQ(storage->EnumElements(0, nullptr, 0, elements.Put()), S_OK);
        std::vector<std::string> names;
        for (const ULONG expected : c.Batches) {
            STATSTG batch[10];
            ULONG fetched = 99;
            const HRESULT hr = elements->Next(10, batch, &fetched);
            EXPECT_EQ(hr, expected == 10 ? S_OK : S_FALSE) << c.Storage;
            ASSERT_EQ(fetched, expected) << c.Storage;
            for (ULONG i = 0; i < fetched; ++i) {
                names.push_back(U8(batch[i].pwcsName));
                const bool isDir = names.back().rfind("Dir", 0) == 0;
                EXPECT_EQ(batch[i].type, isDir ? STGTY_STORAGE : STGTY_STREAM) << names.back();
                CoTaskMemFree(batch[i].pwcsName);
            }
        }
        EXPECT_EQ(names.size(), c.Storage == std::string("Ten") ? 10u : c.Storage == std::string("Twenty") ? 20u : 25u);
    }
    Com<IStorage> ten = Child("Ten");
    Com<IEnumSTATSTG> elements;
    ASSERT_EQ(ten->EnumElements(0, nullptr, 0, elements.Put()), S_OK);
    STATSTG stat;
    ULONG fetched = 0;
    ASSERT_EQ(elements->Next(1, &stat, &fetched), S_OK);
    EXPECT_EQ(U8(stat.pwcsName), "S00");
    EXPECT_EQ(stat.cbSize.QuadPart, 0u);
    CoTaskMemFree(stat.pwcsName);
    EXPECT_EQ(elements->Skip(7), S_OK);
    Com<IEnumSTATSTG> clone;
    ASSERT_EQ(elements->Clone(clone.Put()), S_OK);
    ASSERT_EQ(clone->Next(1, &stat, nullptr), S_OK);
    EXPECT_EQ(U8(stat.pwcsName), "S08");
    EXPECT_EQ(stat.cbSize.QuadPart, 8u);
    CoTaskMemFree(stat.pwcsName);
    EXPECT_EQ(elements->Skip(5), S_FALSE); // only two were left
    EXPECT_EQ(elements->Next(1, &stat, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(elements->Reset(), S_OK);
    ASSERT_EQ(elements->Next(1, &stat, &fetched), S_OK);
    EXPECT_EQ(U8(stat.pwcsName), "S00");
    CoTaskMemFree(stat.pwcsName);
    STATSTG many[2];
    EXPECT_EQ(elements->Next(2, many, nullptr), STG_E_INVALIDPARAMETER);
}

TEST_P(StorageVersions, OpenStreamLooksUpNamesIgnoringCase)
{
    for (const char* name : {"MixedCaseName", "mixedcasename", "MIXEDCASENAME"}) {
        HRESULT hr = E_FAIL;
        Com<IStream> stream = OpenStreamPath(Root.get(), name, &hr);
        ASSERT_EQ(hr, S_OK) << name;
        STATSTG stat;
        ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
        EXPECT_EQ(U8(stat.pwcsName), "MixedCaseName");
        CoTaskMemFree(stat.pwcsName);
        EXPECT_EQ(ReadAll(stream.get()), Pattern(77, 5));
    }
}

TEST_P(StorageVersions, OpenResults)
{
    struct Case {
        const char* Name;
        const char* Element;
        DWORD Mode;
        HRESULT Stream;
        HRESULT Storage;
    };
    const DWORD read = STGM_READ | STGM_SHARE_EXCLUSIVE;
    const Case cases[] = {
        {"stream", "Large", read, S_OK, STG_E_FILENOTFOUND},
        {"storage", "Sub", read, STG_E_FILENOTFOUND, S_OK},
        {"absent", "Nothing", read, STG_E_FILENOTFOUND, STG_E_FILENOTFOUND},
        {"grandchild", "Inner", read, STG_E_FILENOTFOUND, STG_E_FILENOTFOUND},
        {"empty name", "", read, STG_E_INVALIDNAME, STG_E_INVALIDNAME},
        {"too long", "ThisNameIsLongerThanThirtyOneChars", read, STG_E_INVALIDNAME, STG_E_INVALIDNAME},
        {"shared", "Large", STGM_READ | STGM_SHARE_DENY_NONE, STG_E_INVALIDFLAG, STG_E_INVALIDFLAG},
        {"write", "Large", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STG_E_ACCESSDENIED, STG_E_ACCESSDENIED},
        {"create", "Large", read | STGM_CREATE, STG_E_INVALIDFLAG, STG_E_INVALIDFLAG},
    };
    for (const Case& c : cases) {
        const std::u16string name = U16(c.Element);
        Com<IStream> stream;
        EXPECT_EQ(Root->OpenStream(name.c_str(), nullptr, c.Mode, 0, stream.Put()), c.Stream) << c.Name;
        EXPECT_EQ(bool(stream), c.Stream == S_OK) << c.Name;
        Com<IStorage> storage;
        EXPECT_EQ(Root->OpenStorage(name.c_str(), nullptr, c.Mode, nullptr, 0, storage.Put()), c.Storage) << c.Name;
        EXPECT_EQ(bool(storage), c.Storage == S_OK) << c.Name;
    }
}

TEST_P(StorageVersions, SeekAndRead)
{
    Com<IStream> stream = OpenStreamPath(Root.get(), "Large");
    ASSERT_TRUE(stream);
    const std::vector<uint8_t> all = Pattern(10000, 2);
    struct Step {
        int64_t Move;
        DWORD Origin;
        HRESULT Expected;
        uint64_t Position; // after the step
    };
    const Step steps[] = {
        {4000, STREAM_SEEK_SET, S_OK, 4000},
        {-1000, STREAM_SEEK_CUR, S_OK, 3000},
        {0, STREAM_SEEK_END, S_OK, 10000},
        {-1, STREAM_SEEK_END, S_OK, 9999},
        {-10000, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 9999}, // before the start: no move
        {-10000, STREAM_SEEK_END, S_OK, 0},
        {5, STREAM_SEEK_END, S_OK, 10005}, // past the end is allowed
        {int64_t(0x100000000), STREAM_SEEK_SET, S_OK, 0x100000000},
        {1, 3, STG_E_INVALIDFUNCTION, 0x100000000},
    };
    for (const Step& s : steps) {
        LARGE_INTEGER move;
        move.QuadPart = s.Move;
        ULARGE_INTEGER position;
        position.QuadPart = 12345;
        EXPECT_EQ(stream->Seek(move, s.Origin, &position), s.Expected) << s.Move << " from " << s.Origin;
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        ASSERT_EQ(stream->Seek(zero, STREAM_SEEK_CUR, &position), S_OK);
        EXPECT_EQ(position.QuadPart, s.Position) << s.Move << " from " << s.Origin;
    }
    // Reading past the end gives nothing and succeeds.
    uint8_t buffer[700];
    ULONG got = 99;
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 0u);
    // A read across a sector boundary from the middle.
    LARGE_INTEGER move;
    move.QuadPart = 9500;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &got), S_OK);
    ASSERT_EQ(got, 500u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + got), std::vector<uint8_t>(all.begin() + 9500, all.end()));
}

TEST_P(StorageVersions, CloneHasItsOwnPosition)
{
    Com<IStream> stream = OpenStreamPath(Root.get(), "Sub/Inner");
    ASSERT_TRUE(stream);
    uint8_t buffer[100];
    ULONG got = 0;
    ASSERT_EQ(stream->Read(buffer, 100, &got), S_OK);
    Com<IStream> clone;
    ASSERT_EQ(stream->Clone(clone.Put()), S_OK);
    ASSERT_EQ(clone->Read(buffer, 100, &got), S_OK);
    const std::vector<uint8_t> all = Pattern(5000, 7);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 100), std::vector<uint8_t>(all.begin() + 100, all.begin() + 200));
    ASSERT_EQ(stream->Read(buffer, 100, &got), S_OK);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 100), std::vector<uint8_t>(all.begin() + 100, all.begin() + 200));
}

TEST_P(StorageVersions, Stat)
{
    STATSTG stat;
    ASSERT_EQ(Root->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(U8(stat.pwcsName), CompoundFixture("full-v" + std::to_string(GetParam()) + ".cfb").string());
    EXPECT_EQ(stat.type, STGTY_STORAGE);
    EXPECT_EQ(stat.grfMode, STGM_READ | STGM_SHARE_EXCLUSIVE);
    EXPECT_EQ(stat.clsid, Guid("000C1084-0000-0000-C000-000000000046"));
    CoTaskMemFree(stat.pwcsName);

    Com<IStorage> sub = Child("sub");
    ASSERT_EQ(sub->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.type, STGTY_STORAGE);
    EXPECT_EQ(stat.clsid, Guid("12345678-9ABC-4DEF-8123-456789ABCDEF"));
    EXPECT_EQ(stat.grfStateBits, 0x1234u);
    EXPECT_EQ(Ticks(stat.ctime), 131908718450000000u);
    EXPECT_EQ(Ticks(stat.mtime), 133170047980000000u);
    EXPECT_EQ(Ticks(stat.atime), 0u);

    Com<IStream> empty = OpenStreamPath(Root.get(), "Empty");
    ASSERT_TRUE(empty);
    ASSERT_EQ(empty->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(U8(stat.pwcsName), "Empty");
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.cbSize.QuadPart, 0u);
    CoTaskMemFree(stat.pwcsName);
    EXPECT_TRUE(ReadAll(empty.get()).empty());
    EXPECT_EQ(empty->Stat(&stat, 7), STG_E_INVALIDFLAG);
}

TEST_P(StorageVersions, ReadOnlySurface)
{
    const std::u16string name = u"Large";
    Com<IStream> created;
    EXPECT_EQ(Root->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, created.Put()),
              STG_E_ACCESSDENIED);
    EXPECT_FALSE(created);
    EXPECT_EQ(Root->DestroyElement(name.c_str()), STG_E_ACCESSDENIED);
    EXPECT_EQ(Root->RenameElement(name.c_str(), u"Other"), STG_E_ACCESSDENIED);
    EXPECT_EQ(Root->SetClass(IID_IStorage), STG_E_ACCESSDENIED);
    EXPECT_EQ(Root->SetStateBits(1, 1), STG_E_ACCESSDENIED);
    EXPECT_EQ(Root->Commit(STGC_DEFAULT), S_OK);
    Com<IStream> stream = OpenStreamPath(Root.get(), "Large");
    ULONG written = 7;
    EXPECT_EQ(stream->Write("x", 1, &written), STG_E_ACCESSDENIED);
    EXPECT_EQ(written, 0u);
    ULARGE_INTEGER size;
    size.QuadPart = 1;
    EXPECT_EQ(stream->SetSize(size), STG_E_ACCESSDENIED);
    EXPECT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
    // Copying to another read-only storage fails at its first write.
    Com<IStorage> other = OpenRoot(CompoundFixture("no-suminfo.cfb"));
    EXPECT_EQ(Root->CopyTo(0, nullptr, nullptr, other.get()), STG_E_ACCESSDENIED);
}

TEST_P(StorageVersions, Interfaces)
{
    Com<IPropertySetStorage> sets;
    ASSERT_EQ(Root->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Put())), S_OK);
    Com<IStorage> back;
    ASSERT_EQ(sets->QueryInterface(IID_IStorage, reinterpret_cast<void**>(back.Put())), S_OK);
    EXPECT_EQ(back.get(), Root.get());
    Com<IUnknown> a;
    Com<IUnknown> b;
    ASSERT_EQ(Root->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(a.Put())), S_OK);
    ASSERT_EQ(sets->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(b.Put())), S_OK);
    EXPECT_EQ(a.get(), b.get()); // one identity
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(Root->QueryInterface(IID_IStream, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    Com<IStream> stream = OpenStreamPath(Root.get(), "Small");
    Com<ISequentialStream> sequential;
    EXPECT_EQ(stream->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(sequential.Put())), S_OK);
}

TEST_P(StorageVersions, ChildrenOutliveTheirParents)
{
    Com<IStream> leaf = OpenStreamPath(Root.get(), "Sub/Deeper/Leaf");
    ASSERT_TRUE(leaf);
    Com<IEnumSTATSTG> elements;
    ASSERT_EQ(Child("Ten")->EnumElements(0, nullptr, 0, elements.Put()), S_OK);
    Root = Com<IStorage>(); // the last reference the test holds to the root
    EXPECT_EQ(ReadAll(leaf.get()), Pattern(10, 9));
    STATSTG stat;
    ASSERT_EQ(elements->Next(1, &stat, nullptr), S_OK);
    EXPECT_EQ(U8(stat.pwcsName), "S00");
    CoTaskMemFree(stat.pwcsName);
}

// A sink for IStream::CopyTo.
class MemoryStream final : public IStream {
public:
    std::vector<uint8_t> Bytes;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        const auto* p = static_cast<const uint8_t*>(pv);
        Bytes.insert(Bytes.end(), p, p + cb);
        if (pcbWritten)
            *pcbWritten = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

TEST_P(StorageVersions, StreamCopyTo)
{
    Com<IStream> stream = OpenStreamPath(Root.get(), "Exactly4096");
    ASSERT_TRUE(stream);
    LARGE_INTEGER move;
    move.QuadPart = 96;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
    MemoryStream sink;
    ULARGE_INTEGER count;
    count.QuadPart = 3000;
    ULARGE_INTEGER read;
    ULARGE_INTEGER written;
    ASSERT_EQ(stream->CopyTo(&sink, count, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 3000u);
    EXPECT_EQ(written.QuadPart, 3000u);
    const std::vector<uint8_t> all = Pattern(4096, 3);
    EXPECT_EQ(sink.Bytes, std::vector<uint8_t>(all.begin() + 96, all.begin() + 3096));
    count.QuadPart = UINT64_MAX; // the rest
    ASSERT_EQ(stream->CopyTo(&sink, count, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 1000u);
    EXPECT_EQ(sink.Bytes, std::vector<uint8_t>(all.begin() + 96, all.end()));
}

INSTANTIATE_TEST_SUITE_P(V, StorageVersions, testing::Values(3, 4));

TEST(Storage, MsiPackagesReadCompletely)
{
    // Installer packages name their streams with characters far outside ASCII.
    for (const char* name : {"empty-package.msi", "one-file.msi"}) {
        Com<IStorage> root = OpenRoot(CompoundFixture(name));
        ASSERT_TRUE(root) << name;
        Com<IEnumSTATSTG> elements;
        ASSERT_EQ(root->EnumElements(0, nullptr, 0, elements.Put()), S_OK);
        STATSTG stat;
        size_t streams = 0;
        uint64_t largest = 0;
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            if (stat.type == STGTY_STREAM) {
                Com<IStream> stream;
                ASSERT_EQ(root->OpenStream(stat.pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put()), S_OK);
                EXPECT_EQ(ReadAll(stream.get()).size(), stat.cbSize.QuadPart);
                largest = std::max(largest, stat.cbSize.QuadPart);
                ++streams;
            }
            CoTaskMemFree(stat.pwcsName);
        }
        EXPECT_GT(streams, 5u) << name;
        if (std::string(name) == "one-file.msi") {
            EXPECT_GT(largest, 4096u); // the cabinet, out of the mini stream
        }
    }
}

} // namespace
