#include "platform/cryptui/Crypto.h"

#include <openssl/err.h>

namespace cryptui {

QString TakeOpenSslError()
{
    const unsigned long first = ERR_peek_error();
    QString text;
    if (first != 0) {
        char buffer[256] = {};
        ERR_error_string_n(first, buffer, sizeof buffer);
        text = QString::fromUtf8(buffer);
    }
    ERR_clear_error();
    return text;
}

X509Ptr DecodeCertificate(std::span<const uint8_t> der)
{
    return DecodeWhole<X509, d2i_X509, X509_free>(der);
}

void CollectCertificates(HCERTSTORE store, std::vector<X509Ptr>& out, size_t limit)
{
    if (!store)
        return;
    PCCERT_CONTEXT context = nullptr;
    while (out.size() < limit && (context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        if (!context->pbCertEncoded)
            continue;
        if (X509Ptr certificate = DecodeCertificate({context->pbCertEncoded, context->cbCertEncoded}))
            out.push_back(std::move(certificate));
    }
    if (context)
        CertFreeCertificateContext(context);
}

std::vector<uint8_t> DerOf(X509* certificate)
{
    const int length = certificate ? i2d_X509(certificate, nullptr) : -1;
    if (length <= 0) {
        TakeOpenSslError();
        return {};
    }
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* p = der.data();
    if (i2d_X509(certificate, &p) != length) {
        TakeOpenSslError();
        return {};
    }
    return der;
}

CertContextPtr ContextFor(X509* certificate)
{
    const std::vector<uint8_t> der = DerOf(certificate);
    if (der.empty())
        return nullptr;
    return CertContextPtr(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

bool DecodeObject(LPCSTR structType, std::span<const uint8_t> der, FlatBuffer& out)
{
    if (der.empty() || der.size() > UINT32_MAX)
        return false;
    const auto size = static_cast<DWORD>(der.size());
    DWORD needed = 0;
    if (!CryptDecodeObject(Encoding, structType, der.data(), size, 0, nullptr, &needed) || needed == 0)
        return false;
    out.Resize(needed);
    DWORD given = out.Size();
    return CryptDecodeObject(Encoding, structType, der.data(), size, 0, out.Data(), &given) != FALSE;
}

bool MessageParam(HCRYPTMSG message, DWORD param, DWORD index, FlatBuffer& out, DWORD* size)
{
    DWORD needed = 0;
    if (!message || !CryptMsgGetParam(message, param, index, nullptr, &needed) || needed == 0)
        return false;
    out.Resize(needed);
    DWORD given = out.Size();
    if (!CryptMsgGetParam(message, param, index, out.Data(), &given))
        return false;
    if (size)
        *size = given;
    return true;
}

} // namespace cryptui
