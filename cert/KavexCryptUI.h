// The program's binding of "Cryptui.dll": the certificate and signer dialogs, bound on first call;
// without the library or the export no dialog is shown and the wrappers answer FALSE.
#pragma once

#include "platform/include/win/cryptuiapi.h"

namespace Kavex_CryptUI {
void BindFunction(LPCSTR functionName, FARPROC& slot);
} // namespace Kavex_CryptUI
