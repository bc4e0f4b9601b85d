// A trust library that has WinVerifyTrustEx and nothing else, for the binding tests.
#include "platform/include/win/wintrust.h"

extern "C" __attribute__((visibility("default"))) HRESULT WinVerifyTrustEx(HWND, GUID*, WINTRUST_DATA*)
{
    return static_cast<HRESULT>(0x12345678);
}
