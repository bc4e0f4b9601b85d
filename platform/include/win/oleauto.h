// oleaut32: BSTRs, the length-prefixed strings of VT_BSTR values, and the SAFEARRAYs of
// VT_ARRAY values. Implemented by the ole32 stand-in, which hands them out in property values.
#pragma once

#include "propidl.h"

extern "C" {

BSTR WINAPI SysAllocString(const OLECHAR* psz);
BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
void WINAPI SysFreeString(BSTR bstrString);
UINT WINAPI SysStringLen(BSTR pbstr);
UINT WINAPI SysStringByteLen(BSTR bstr);

// Frees an array, its elements' strings and values (as its features say), and its bounds.
HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa);

} // extern "C"
