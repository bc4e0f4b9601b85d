// The program's binding of "wintrust.dll": wrappers under the platform functions' own names
// (declared in wintrust.h and mssip.h), bound on first call. Without the library or the export,
// WinVerifyTrustEx answers TRUST_E_PROVIDER_UNKNOWN, the helpers null, and the subject interface
// and catalog functions FALSE, null or INVALID_HANDLE_VALUE.
#pragma once

#include "platform/include/win/mscat.h"
#include "platform/include/win/mssip.h"
#include "platform/include/win/wintrust.h"

namespace Kavex_WinTrust {
void BindFunction(LPCSTR functionName, FARPROC& slot);
} // namespace Kavex_WinTrust
