// The program's binding of "wintrust.dll": wrappers under the platform functions' own names
// (declared in wintrust.h), bound on first call. Without the library or the export,
// WinVerifyTrustEx answers TRUST_E_PROVIDER_UNKNOWN and the helpers answer null.
#pragma once

#include "platform/include/win/wintrust.h"

namespace Kavex_WinTrust {
void BindFunction(LPCSTR functionName, FARPROC& slot);
} // namespace Kavex_WinTrust
