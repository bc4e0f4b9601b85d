// A viewer library that shows nothing and writes down what it was asked to show, for the tests of
// which certificate or signer the program hands to the dialogs. The file is named by
// TESSERA_FAKE_VIEW_OUT: the certificate's DER, or "signer" and whether a message came with it.
#include "platform/include/win/cryptuiapi.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Record(const void* bytes, size_t size)
{
    const char* path = std::getenv("TESSERA_FAKE_VIEW_OUT");
    if (!path)
        return;
    if (FILE* f = std::fopen(path, "wb")) {
        std::fwrite(bytes, 1, size, f);
        std::fclose(f);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) BOOL WINAPI
CryptUIDlgViewCertificateW(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW view, BOOL* changed)
{
    if (!view || view->dwSize != sizeof *view || !view->pCertContext)
        return FALSE;
    Record(view->pCertContext->pbCertEncoded, view->pCertContext->cbCertEncoded);
    return TRUE;
}

extern "C" __attribute__((visibility("default"))) BOOL WINAPI CryptUIDlgViewSignerInfoW(PCCRYPTUI_VIEWSIGNERINFO_STRUCTW view)
{
    if (!view || view->dwSize != sizeof *view)
        return FALSE;
    char text[64];
    const int n = std::snprintf(text, sizeof text, "signer %s %s %s", view->pSignerInfo ? "info" : "none",
                                view->hMsg ? "message" : "none", view->pszOID ? view->pszOID : "none");
    Record(text, static_cast<size_t>(n));
    return TRUE;
}
