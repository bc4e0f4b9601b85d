#include "platform/ole32/PropVariant.h"

#include "platform/include/win/oleauto.h"
#include "platform/common/WinStr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace ole32 {
namespace {

// A BSTR is preceded by its length in bytes and followed by a terminator.
constexpr size_t BstrPrefix = sizeof(UINT);

BSTR AllocBstrBytes(const void* data, size_t bytes)
{
    if (bytes > std::numeric_limits<UINT>::max() - 16)
        return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(BstrPrefix + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const UINT length = static_cast<UINT>(bytes);
    std::memcpy(block, &length, BstrPrefix);
    if (bytes)
        std::memcpy(block + BstrPrefix, data, bytes);
    std::memset(block + BstrPrefix + bytes, 0, sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + BstrPrefix);
}

template <typename T>
void FreeEach(CountedArray<T>& array, void (*free)(T&))
{
    if (array.pElems)
        for (ULONG i = 0; i < array.cElems; ++i)
            free(array.pElems[i]);
    CoTaskMemFree(array.pElems);
}

void FreeBstr(BSTR& s) { SysFreeString(s); }
void FreeNarrow(LPSTR& s) { CoTaskMemFree(s); }
void FreeWide(LPWSTR& s) { CoTaskMemFree(s); }
void FreeClip(CLIPDATA& c) { CoTaskMemFree(c.pClipData); }
void FreeVariant(PROPVARIANT& v) { PropVariantClear(&v); }

bool IsKnownVectorElement(VARTYPE base)
{
    switch (base) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL: case VT_I4: case VT_UI4: case VT_R4:
    case VT_ERROR: case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: case VT_FILETIME:
    case VT_CLSID: case VT_CF: case VT_BSTR: case VT_LPSTR: case VT_LPWSTR: case VT_VARIANT:
        return true;
    default:
        return false;
    }
}

} // namespace

BSTR AllocBstr(std::u16string_view text) { return AllocBstrBytes(text.data(), text.size() * sizeof(OLECHAR)); }

LPWSTR AllocWide(std::u16string_view text)
{
    auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!out)
        return nullptr;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = 0;
    return out;
}

LPSTR AllocNarrow(std::string_view text)
{
    auto* out = static_cast<LPSTR>(CoTaskMemAlloc(text.size() + 1));
    if (!out)
        return nullptr;
    if (!text.empty())
        std::memcpy(out, text.data(), text.size());
    out[text.size()] = 0;
    return out;
}

} // namespace ole32

using namespace ole32;

extern "C" {

BSTR WINAPI SysAllocString(const OLECHAR* psz)
{
    return psz ? AllocBstr(winstr::View(psz)) : nullptr;
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui)
{
    if (static_cast<uint64_t>(ui) * sizeof(OLECHAR) > std::numeric_limits<UINT>::max() - 16)
        return nullptr;
    BSTR s = AllocBstrBytes(strIn, strIn ? ui * sizeof(OLECHAR) : 0);
    if (s && !strIn) {
        // Uninitialised on Windows; zeroed here.
        SysFreeString(s);
        std::u16string zeros(ui, u'\0');
        s = AllocBstr(zeros);
    }
    return s;
}

void WINAPI SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(reinterpret_cast<uint8_t*>(bstrString) - BstrPrefix);
}

UINT WINAPI SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    UINT length = 0;
    std::memcpy(&length, reinterpret_cast<uint8_t*>(bstr) - BstrPrefix, BstrPrefix);
    return length;
}

UINT WINAPI SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa)
{
    if (!psa)
        return S_OK;
    if (psa->pvData) {
        uint64_t count = psa->cDims ? 1 : 0;
        for (USHORT d = 0; d < psa->cDims; ++d)
            count *= psa->rgsabound[d].cElements;
        if (psa->fFeatures & FADF_BSTR)
            for (uint64_t i = 0; i < count; ++i)
                SysFreeString(static_cast<BSTR*>(psa->pvData)[i]);
        if (psa->fFeatures & FADF_VARIANT)
            for (uint64_t i = 0; i < count; ++i)
                PropVariantClear(&static_cast<PROPVARIANT*>(psa->pvData)[i]);
        CoTaskMemFree(psa->pvData);
    }
    CoTaskMemFree(psa);
    return S_OK;
}

HRESULT WINAPI PropVariantClear(PROPVARIANT* pvar)
{
    if (!pvar)
        return S_OK;
    const VARTYPE vt = pvar->vt;
    if ((vt & VT_ARRAY) && !(vt & (VT_VECTOR | VT_BYREF))) {
        SafeArrayDestroy(pvar->parray);
    } else if (vt & VT_VECTOR) {
        const VARTYPE base = vt & ~VT_VECTOR;
        if ((vt & (VT_ARRAY | VT_BYREF)) || !IsKnownVectorElement(base))
            return STG_E_INVALIDPARAMETER;
        switch (base) {
        case VT_BSTR: FreeEach(pvar->cabstr, FreeBstr); break;
        case VT_LPSTR: FreeEach(pvar->calpstr, FreeNarrow); break;
        case VT_LPWSTR: FreeEach(pvar->calpwstr, FreeWide); break;
        case VT_CF: FreeEach(pvar->caclipdata, FreeClip); break;
        case VT_VARIANT: FreeEach(pvar->capropvar, FreeVariant); break;
        default: CoTaskMemFree(pvar->cal.pElems); break;
        }
    } else {
        switch (vt) {
        case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
        case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
        case VT_ERROR: case VT_BOOL: case VT_DECIMAL: case VT_FILETIME:
            break;
        case VT_BSTR: SysFreeString(pvar->bstrVal); break;
        case VT_LPSTR: CoTaskMemFree(pvar->pszVal); break;
        case VT_LPWSTR: CoTaskMemFree(pvar->pwszVal); break;
        case VT_CLSID: CoTaskMemFree(pvar->puuid); break;
        case VT_BLOB:
        case VT_BLOB_OBJECT: CoTaskMemFree(pvar->blob.pBlobData); break;
        case VT_CF:
            if (pvar->pclipdata)
                CoTaskMemFree(pvar->pclipdata->pClipData);
            CoTaskMemFree(pvar->pclipdata);
            break;
        case VT_STREAM:
        case VT_STREAMED_OBJECT:
            if (pvar->pStream)
                pvar->pStream->Release();
            break;
        case VT_STORAGE:
        case VT_STORED_OBJECT:
            if (pvar->pStorage)
                pvar->pStorage->Release();
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (pvar->punkVal)
                pvar->punkVal->Release();
            break;
        case VT_VERSIONED_STREAM:
            if (pvar->pVersionedStream) {
                if (pvar->pVersionedStream->pStream)
                    pvar->pVersionedStream->pStream->Release();
                CoTaskMemFree(pvar->pVersionedStream);
            }
            break;
        default:
            return STG_E_INVALIDPARAMETER;
        }
    }
    std::memset(pvar, 0, sizeof *pvar);
    return S_OK;
}

HRESULT WINAPI FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars)
{
    if (!rgvars)
        return cVariants == 0 ? S_OK : E_INVALIDARG;
    HRESULT result = S_OK;
    for (ULONG i = 0; i < cVariants; ++i) {
        const HRESULT hr = PropVariantClear(&rgvars[i]);
        if (FAILED(hr)) {
            // Windows frees what it can and leaves the unknown types as they are.
            result = hr;
        }
    }
    return result;
}

} // extern "C"
