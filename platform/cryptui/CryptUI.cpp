// CryptUIDlgViewCertificateW and CryptUIDlgViewSignerInfoW: modal Qt dialogs, shown from the GUI
// thread of a running QApplication. hwndParent is a QWidget* (null or INVALID_HANDLE_VALUE: no owner).
#include "platform/cryptui/CertificateDialog.h"
#include "platform/cryptui/Crypto.h"
#include "platform/cryptui/SignerDialog.h"
#include "platform/cryptui/Text.h"

#include <QApplication>
#include <QThread>
#include <QWidget>

#include <cstring>

using namespace cryptui;

namespace {

// Dialogs need a QApplication and its thread; anywhere else there is nothing to show them with.
bool CanShowDialogs()
{
    const auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    return application && QThread::currentThread() == application->thread();
}

// The owner's window, when the handle names a widget that is still alive; a stale or foreign
// handle is never dereferenced.
QWidget* OwnerOf(HWND handle)
{
    auto* const candidate = reinterpret_cast<QWidget*>(handle);
    if (!handle || reinterpret_cast<HANDLE>(handle) == INVALID_HANDLE_VALUE)
        return nullptr;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets)
        if (widget == candidate)
            return widget->window();
    return nullptr;
}

QString FriendlyNameOf(PCCERT_CONTEXT context)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size) || size < sizeof(WCHAR))
        return {};
    std::vector<WCHAR> name(size / sizeof(WCHAR) + 1, 0);
    if (!CertGetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, name.data(), &size))
        return {};
    return Clip(FromWide(name.data()), MaxListValueLength);
}

// The signer of data that info describes: the one whose signer information it is, or else the
// one with its issuer and serial number; null when there is none.
const CRYPT_PROVIDER_SGNR* JudgedSigner(const CRYPT_PROVIDER_DATA* data, const CMSG_SIGNER_INFO& info)
{
    if (!data || !data->pasSigners)
        return nullptr;
    const auto same = [](const CRYPTOAPI_BLOB& a, const CRYPTOAPI_BLOB& b) {
        return a.cbData == b.cbData && (a.cbData == 0 || (a.pbData && b.pbData && std::memcmp(a.pbData, b.pbData, a.cbData) == 0));
    };
    for (DWORD i = 0; i < data->csSigners; ++i)
        if (data->pasSigners[i].psSigner == &info)
            return &data->pasSigners[i];
    for (DWORD i = 0; i < data->csSigners; ++i) {
        const CMSG_SIGNER_INFO* judged = data->pasSigners[i].psSigner;
        if (judged && same(judged->Issuer, info.Issuer) && same(judged->SerialNumber, info.SerialNumber))
            return &data->pasSigners[i];
    }
    return nullptr;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" {

WINAPI_EXPORT BOOL WINAPI CryptUIDlgViewCertificateW(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW pCertViewInfo,
                                                     BOOL* pfPropertiesChanged)
{
    if (pfPropertiesChanged)
        *pfPropertiesChanged = FALSE;
    if (!pCertViewInfo || pCertViewInfo->dwSize != sizeof(CRYPTUI_VIEWCERTIFICATE_STRUCTW))
        return Fail(static_cast<DWORD>(E_INVALIDARG));
    const CRYPTUI_VIEWCERTIFICATE_STRUCTW& view = *pCertViewInfo;
    PCCERT_CONTEXT context = view.pCertContext;
    if (!context || !context->pbCertEncoded || context->cbCertEncoded == 0 || (view.cStores > 0 && !view.rghStores))
        return Fail(static_cast<DWORD>(E_INVALIDARG));
    if (!CanShowDialogs())
        return Fail(ERROR_NOT_SUPPORTED);

    // Only a context that holds a certificate is asked for its store and properties.
    const std::span<const uint8_t> der(context->pbCertEncoded, context->cbCertEncoded);
    if (!DecodeCertificate(der))
        return Fail(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));

    // The path is built from the certificate's own store, the stores given and the trust store.
    auto others = std::make_shared<std::vector<X509Ptr>>();
    CollectCertificates(context->hCertStore, *others, MaxOtherCertificates);
    for (DWORD i = 0; i < view.cStores; ++i)
        CollectCertificates(view.rghStores[i], *others, MaxOtherCertificates);

    CertificateRequest request;
    request.Der = der;
    request.Others = std::move(others);
    request.Title = FromWide(view.szTitle);
    request.FriendlyName = FriendlyNameOf(context);
    request.Flags = view.dwFlags;
    request.StartPage = view.nStartPage;
    if (!ShowCertificateDialog(OwnerOf(view.hwndParent), request))
        return Fail(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CryptUIDlgViewSignerInfoW(PCCRYPTUI_VIEWSIGNERINFO_STRUCTW pcvsi)
{
    if (!pcvsi || pcvsi->dwSize != sizeof(CRYPTUI_VIEWSIGNERINFO_STRUCTW) || !pcvsi->pSignerInfo ||
        (pcvsi->cStores > 0 && !pcvsi->rghStores))
        return Fail(static_cast<DWORD>(E_INVALIDARG));
    if (!CanShowDialogs())
        return Fail(ERROR_NOT_SUPPORTED);

    auto source = std::make_shared<SignerSource>();
    source->Info = pcvsi->pSignerInfo;
    source->Message = pcvsi->hMsg;
    source->Stores.assign(pcvsi->rghStores, pcvsi->rghStores + pcvsi->cStores);
    if ((pcvsi->dwFlags & CRYPTUI_TESSERA_SIGNER_PROVIDER_DATA) != 0)
        source->Judged = JudgedSigner(reinterpret_cast<const CRYPT_PROVIDER_DATA*>(pcvsi->dwReserved), *pcvsi->pSignerInfo);
    ShowSignerDialog(OwnerOf(pcvsi->hwndParent), std::move(source), FromWide(pcvsi->szTitle));
    return TRUE;
}

} // extern "C"
