#include "cert/KavexCryptUI.h"

#include "cert/LazyBinding.h"

using lazybinding::Forward;

namespace {
constexpr LPCWSTR Module = u"Cryptui.dll";
}

void Kavex_CryptUI::BindFunction(LPCSTR functionName, FARPROC& slot)
{
    lazybinding::Bind(Module, functionName, slot);
}

extern "C" {

BOOL WINAPI CryptUIDlgViewSignerInfoW(PCCRYPTUI_VIEWSIGNERINFO_STRUCTW a)
{
    return Forward<&CryptUIDlgViewSignerInfoW, BOOL>(Module, "CryptUIDlgViewSignerInfoW", FALSE, a);
}

BOOL WINAPI CryptUIDlgViewCertificateW(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW a, BOOL* b)
{
    return Forward<&CryptUIDlgViewCertificateW, BOOL>(Module, "CryptUIDlgViewCertificateW", FALSE, a, b);
}

} // extern "C"
