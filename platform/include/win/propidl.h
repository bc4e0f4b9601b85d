// ole32: property sets ([MS-OLEPS]) and tagged values.
#pragma once

#include "objidl.h"

using PROPID = ULONG;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DATE = double;
using BSTR = OLECHAR*;

inline constexpr IID IID_IPropertyStorage = {0x00000138, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumSTATPROPSTG = {0x00000139, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPropertySetStorage = {0x0000013A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumSTATPROPSETSTG = {0x0000013B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
inline constexpr FMTID FMTID_SummaryInformation = {
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
// {D5CDD502-2E9C-101B-9397-08002B2CF9AE}
inline constexpr FMTID FMTID_DocSummaryInformation = {
    0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
// {D5CDD505-2E9C-101B-9397-08002B2CF9AE}
inline constexpr FMTID FMTID_UserDefinedProperties = {
    0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
// {6444048F-4C8B-11D1-8B70-080036B11A03}
inline constexpr FMTID FMTID_ImageSummaryInformation = {
    0x6444048F, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_RECORD = 36,
    VT_INT_PTR = 37,
    VT_UINT_PTR = 38,
    VT_FILETIME = 64,
    VT_BLOB = 65,
    VT_STREAM = 66,
    VT_STORAGE = 67,
    VT_STREAMED_OBJECT = 68,
    VT_STORED_OBJECT = 69,
    VT_BLOB_OBJECT = 70,
    VT_CF = 71,
    VT_CLSID = 72,
    VT_VERSIONED_STREAM = 73,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

union CY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
};

struct DECIMAL {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
};

struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};

struct CLIPDATA {
    ULONG cbSize; // size of ulClipFmt plus the data
    LONG ulClipFmt;
    BYTE* pClipData;
};

struct BSTRBLOB {
    ULONG cbSize;
    BYTE* pData;
};

struct PROPVARIANT;

// A VT_VERSIONED_STREAM value: the stream and the version of its format.
// A SAFEARRAY of a VT_ARRAY value: cDims bounds (the last dimension first), elements of
// cbElements bytes each in pvData. fFeatures says what its elements own (FADF_BSTR, FADF_VARIANT).
struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_VARIANT = 0x0800;

struct VERSIONEDSTREAM {
    GUID guidVersion;
    IStream* pStream;
};
using LPVERSIONEDSTREAM = VERSIONEDSTREAM*;

// Counted arrays of VT_VECTOR values; the elements belong to the PROPVARIANT.
template <typename T>
struct CountedArray {
    ULONG cElems;
    T* pElems;
};
using CAC = CountedArray<CHAR>;
using CAUB = CountedArray<UCHAR>;
using CAI = CountedArray<SHORT>;
using CAUI = CountedArray<USHORT>;
using CAL = CountedArray<LONG>;
using CAUL = CountedArray<ULONG>;
using CAH = CountedArray<LARGE_INTEGER>;
using CAUH = CountedArray<ULARGE_INTEGER>;
using CAFLT = CountedArray<FLOAT>;
using CADBL = CountedArray<DOUBLE>;
using CABOOL = CountedArray<VARIANT_BOOL>;
using CASCODE = CountedArray<SCODE>;
using CACY = CountedArray<CY>;
using CADATE = CountedArray<DATE>;
using CAFILETIME = CountedArray<FILETIME>;
using CACLSID = CountedArray<CLSID>;
using CACLIPDATA = CountedArray<CLIPDATA>;
using CABSTR = CountedArray<BSTR>;
using CALPSTR = CountedArray<LPSTR>;
using CALPWSTR = CountedArray<LPWSTR>;
using CAPROPVARIANT = CountedArray<PROPVARIANT>;

struct PROPVARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                CHAR cVal;
                UCHAR bVal;
                SHORT iVal;
                USHORT uiVal;
                LONG lVal;
                ULONG ulVal;
                INT intVal;
                UINT uintVal;
                LARGE_INTEGER hVal;
                ULARGE_INTEGER uhVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                FILETIME filetime;
                CLSID* puuid;
                CLIPDATA* pclipdata;
                BSTR bstrVal;
                BSTRBLOB bstrblobVal;
                BLOB blob;
                LPSTR pszVal;
                LPWSTR pwszVal;
                IUnknown* punkVal;
                IStream* pStream;
                IStorage* pStorage;
                LPVERSIONEDSTREAM pVersionedStream;
                LPSAFEARRAY parray;
                CAC cac;
                CAUB caub;
                CAI cai;
                CAUI caui;
                CAL cal;
                CAUL caul;
                CAH cah;
                CAUH cauh;
                CAFLT caflt;
                CADBL cadbl;
                CABOOL cabool;
                CASCODE cascode;
                CACY cacy;
                CADATE cadate;
                CAFILETIME cafiletime;
                CACLSID cauuid;
                CACLIPDATA caclipdata;
                CABSTR cabstr;
                CALPSTR calpstr;
                CALPWSTR calpwstr;
                CAPROPVARIANT capropvar;
            };
        };
        DECIMAL decVal;
    };
};

inline constexpr ULONG PRSPEC_LPWSTR = 0;
inline constexpr ULONG PRSPEC_PROPID = 1;

inline constexpr PROPID PID_DICTIONARY = 0;
inline constexpr PROPID PID_CODEPAGE = 1;
inline constexpr PROPID PID_LOCALE = 0x80000000;

inline constexpr DWORD PROPSETFLAG_DEFAULT = 0;
inline constexpr DWORD PROPSETFLAG_NONSIMPLE = 1;
inline constexpr DWORD PROPSETFLAG_ANSI = 2;

struct PROPSPEC {
    ULONG ulKind;
    union {
        PROPID propid;
        LPOLESTR lpwstr;
    };
};

struct STATPROPSTG {
    LPOLESTR lpwstrName; // CoTaskMemAlloc'ed, or null when the property has no name
    PROPID propid;
    VARTYPE vt;
};

struct STATPROPSETSTG {
    FMTID fmtid;
    CLSID clsid;
    DWORD grfFlags;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD dwOSVersion;
};

struct IEnumSTATPROPSTG : IUnknown {
    virtual HRESULT Next(ULONG celt, STATPROPSTG* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATPROPSTG** ppenum) = 0;

protected:
    ~IEnumSTATPROPSTG() = default;
};

struct IEnumSTATPROPSETSTG : IUnknown {
    virtual HRESULT Next(ULONG celt, STATPROPSETSTG* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATPROPSETSTG** ppenum) = 0;

protected:
    ~IEnumSTATPROPSETSTG() = default;
};

struct IPropertyStorage : IUnknown {
    virtual HRESULT ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) = 0;
    virtual HRESULT WriteMultiple(ULONG cpspec, const PROPSPEC rgpspec[], const PROPVARIANT rgpropvar[],
                                  PROPID propidNameFirst) = 0;
    virtual HRESULT DeleteMultiple(ULONG cpspec, const PROPSPEC rgpspec[]) = 0;
    virtual HRESULT ReadPropertyNames(ULONG cpropid, const PROPID rgpropid[], LPOLESTR rglpwstrName[]) = 0;
    virtual HRESULT WritePropertyNames(ULONG cpropid, const PROPID rgpropid[], const LPOLESTR rglpwstrName[]) = 0;
    virtual HRESULT DeletePropertyNames(ULONG cpropid, const PROPID rgpropid[]) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT Enum(IEnumSTATPROPSTG** ppenum) = 0;
    virtual HRESULT SetTimes(const FILETIME* pctime, const FILETIME* patime, const FILETIME* pmtime) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT Stat(STATPROPSETSTG* pstatpsstg) = 0;

protected:
    ~IPropertyStorage() = default;
};

struct IPropertySetStorage : IUnknown {
    virtual HRESULT Create(REFFMTID rfmtid, const CLSID* pclsid, DWORD grfFlags, DWORD grfMode,
                           IPropertyStorage** ppprstg) = 0;
    virtual HRESULT Open(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) = 0;
    virtual HRESULT Delete(REFFMTID rfmtid) = 0;
    virtual HRESULT Enum(IEnumSTATPROPSETSTG** ppenum) = 0;

protected:
    ~IPropertySetStorage() = default;
};

extern "C" {

HRESULT WINAPI PropVariantClear(PROPVARIANT* pvar);
HRESULT WINAPI FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars);

} // extern "C"
