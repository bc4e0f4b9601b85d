// Everything a reader of a compound file may do with it: open it, walk every storage, read
// every stream and every property set with every value. Shared by the fuzz target and the
// test that replays its findings; any crash, hang or leak here is a bug in the stand-in.
#pragma once

#include "platform/include/win/propidl.h"

#include <cstdint>
#include <vector>

namespace ole32walk {

// The walk stops descending this deep; the reader itself bounds the tree, this bounds the time.
inline constexpr int MaxDepth = 16;

inline void ReadStream(IStream* stream)
{
    uint8_t buffer[4096];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0) {
    }
    STATSTG stat;
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_DEFAULT)))
        CoTaskMemFree(stat.pwcsName);
}

inline void ReadPropertySets(IStorage* storage)
{
    IPropertySetStorage* sets = nullptr;
    if (FAILED(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets))))
        return;
    IEnumSTATPROPSETSTG* listed = nullptr;
    if (SUCCEEDED(sets->Enum(&listed))) {
        STATPROPSETSTG setStat;
        while (listed->Next(1, &setStat, nullptr) == S_OK) {
            IPropertyStorage* set = nullptr;
            if (FAILED(sets->Open(setStat.fmtid, STGM_READ | STGM_SHARE_EXCLUSIVE, &set)))
                continue;
            IEnumSTATPROPSTG* properties = nullptr;
            if (SUCCEEDED(set->Enum(&properties))) {
                STATPROPSTG stat;
                while (properties->Next(1, &stat, nullptr) == S_OK) {
                    CoTaskMemFree(stat.lpwstrName);
                    PROPSPEC key{};
                    key.ulKind = PRSPEC_PROPID;
                    key.propid = stat.propid;
                    PROPVARIANT value{};
                    if (SUCCEEDED(set->ReadMultiple(1, &key, &value)) && (value.vt == VT_STREAM || value.vt == VT_STREAMED_OBJECT))
                        ReadStream(value.pStream);
                    PropVariantClear(&value);
                    LPOLESTR name = nullptr;
                    if (SUCCEEDED(set->ReadPropertyNames(1, &stat.propid, &name)))
                        CoTaskMemFree(name);
                }
                properties->Release();
            }
            set->Release();
        }
        listed->Release();
    }
    sets->Release();
}

inline void WalkStorage(IStorage* storage, int depth)
{
    ReadPropertySets(storage);
    IEnumSTATSTG* elements = nullptr;
    if (FAILED(storage->EnumElements(0, nullptr, 0, &elements)))
        return;
    STATSTG batch[10];
    ULONG fetched = 0;
    while (SUCCEEDED(elements->Next(10, batch, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            if (batch[i].type == STGTY_STREAM) {
                IStream* stream = nullptr;
                if (SUCCEEDED(storage->OpenStream(batch[i].pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream))) {
                    ReadStream(stream);
                    stream->Release();
                }
            } else if (depth < MaxDepth) {
                IStorage* child = nullptr;
                if (SUCCEEDED(storage->OpenStorage(batch[i].pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                                   &child))) {
                    WalkStorage(child, depth + 1);
                    child->Release();
                }
            }
            CoTaskMemFree(batch[i].pwcsName);
        }
    }
    elements->Release();
}

// The result of opening the file.
inline HRESULT WalkFile(const WCHAR* path)
{
    IStorage* root = nullptr;
    const HRESULT hr = StgOpenStorage(path, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root);
    if (FAILED(hr))
        return hr;
    WalkStorage(root, 0);
    STATSTG stat;
    if (SUCCEEDED(root->Stat(&stat, STATFLAG_DEFAULT)))
        CoTaskMemFree(stat.pwcsName);
    root->Release();
    return hr;
}

} // namespace ole32walk
