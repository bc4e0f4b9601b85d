// Feeds one input to every crypt32 entry point that parses untrusted bytes: certificate files
// (through a memory file), PKCS #7 blobs, single certificates, PKCS #12 with a fixed password,
// Base64/hex text, CryptDecodeObject's structures, names, CryptMsg* and certificate trust lists.
#include "platform/include/win/winbase.h"
#include "platform/include/win/wincrypt.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Walk(HCERTSTORE store)
{
    if (!store)
        return;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c)) {
        CertGetPublicKeyLength(X509_ASN_ENCODING, &c->pCertInfo->SubjectPublicKeyInfo);
        WCHAR name[64];
        CertGetNameStringW(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 64);
        CertNameToStrW(X509_ASN_ENCODING, &c->pCertInfo->Issuer, CERT_X500_NAME_STR, name, 64);
        DWORD size = 0;
        CertGetEnhancedKeyUsage(c, 0, nullptr, &size);
        BYTE usage[2];
        CertGetIntendedKeyUsage(X509_ASN_ENCODING, c->pCertInfo, usage, sizeof usage);
    }
    for (PCCRL_CONTEXT c = CertEnumCRLsInStore(store, nullptr); c; c = CertEnumCRLsInStore(store, c)) {
    }
    CertCloseStore(store, 0);
}

void FileStore(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("crypt32-fuzz", MFD_CLOEXEC);
    if (fd < 0)
        return;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const std::u16string wide(path.begin(), path.end());
        Walk(CertOpenStore(CERT_STORE_PROV_FILENAME_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                           CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, wide.c_str()));
    }
    close(fd);
}

void Decoders(const uint8_t* data, DWORD size)
{
    static const LPCSTR Types[] = {SPC_SP_OPUS_INFO_OBJID, szOID_RSA_signingTime, PKCS_UTC_TIME,
                                   reinterpret_cast<LPCSTR>(500), X509_ENHANCED_KEY_USAGE, szOID_KEY_USAGE};
    for (const LPCSTR type : Types) {
        DWORD needed = 0;
        if (!CryptDecodeObject(X509_ASN_ENCODING, type, data, size, 0, nullptr, &needed))
            continue;
        std::vector<uint64_t> buffer(needed / 8 + 1);
        CryptDecodeObject(X509_ASN_ENCODING, type, data, size, 0, buffer.data(), &needed);
    }
    CERT_NAME_BLOB name{size, const_cast<BYTE*>(data)};
    CertNameToStrW(X509_ASN_ENCODING, &name, CERT_SIMPLE_NAME_STR, nullptr, 0);
}

void Message(const uint8_t* data, DWORD size)
{
    HCRYPTMSG message = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    if (CryptMsgUpdate(message, data, size, TRUE)) {
        static const DWORD Params[] = {CMSG_TYPE_PARAM,          CMSG_CONTENT_PARAM,   CMSG_INNER_CONTENT_TYPE_PARAM,
                                       CMSG_SIGNER_COUNT_PARAM,  CMSG_SIGNER_INFO_PARAM, CMSG_SIGNER_CERT_INFO_PARAM,
                                       CMSG_CERT_COUNT_PARAM,    CMSG_CERT_PARAM,      CMSG_CRL_COUNT_PARAM,
                                       CMSG_CRL_PARAM,           CMSG_ENCODED_MESSAGE};
        for (const DWORD param : Params) {
            DWORD needed = 0;
            if (!CryptMsgGetParam(message, param, 0, nullptr, &needed))
                continue;
            std::vector<uint64_t> buffer(needed / 8 + 1);
            CryptMsgGetParam(message, param, 0, buffer.data(), &needed);
        }
        Walk(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, message));
        PCCERT_CONTEXT signer = nullptr;
        if (CryptMsgGetAndVerifySigner(message, 0, nullptr, 0, &signer, nullptr))
            CertFreeCertificateContext(signer);
    }
    CryptMsgClose(message);
}

// A certificate trust list (a root list or a catalog): every subject looked up again by its
// identifier, and the first one's attributes taken as properties.
void TrustList(const uint8_t* data, DWORD size)
{
    PCCTL_CONTEXT list = CertCreateCTLContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, data, size);
    if (!list)
        return;
    const CTL_INFO& info = *list->pCtlInfo;
    for (DWORD i = 0; i < info.cCTLEntry && i < 64; ++i) {
        CTL_ANY_SUBJECT_INFO subject{};
        subject.SubjectIdentifier = info.rgCTLEntry[i].SubjectIdentifier;
        CertFindSubjectInCTL(X509_ASN_ENCODING, CTL_ANY_SUBJECT_TYPE, &subject, list, 0);
    }
    if (info.cCTLEntry > 0 && list->hCertStore) {
        if (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(list->hCertStore, nullptr)) {
            CertSetCertificateContextPropertiesFromCTLEntry(cert, &info.rgCTLEntry[0], 0);
            DWORD needed = 0;
            CertGetCertificateContextProperty(cert, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &needed);
            CertFreeCertificateContext(cert);
        }
    }
    CertFreeCTLContext(list);
}

void Text(const uint8_t* data, size_t size)
{
    std::u16string text(data, data + size);
    for (const DWORD flags : {CRYPT_STRING_BASE64_ANY, CRYPT_STRING_HEX_ANY, CRYPT_STRING_ANY}) {
        DWORD needed = 0;
        if (CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), flags, nullptr, &needed, nullptr,
                                 nullptr)) {
            std::vector<BYTE> out(needed);
            DWORD skip = 0;
            CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), flags, out.data(), &needed, &skip,
                                 nullptr);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const auto dwSize = static_cast<DWORD>(size);
    FileStore(data, size);
    CRYPT_DATA_BLOB blob{dwSize, const_cast<BYTE*>(data)};
    Walk(CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, &blob));
    if (PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, data, dwSize))
        CertFreeCertificateContext(cert);
    if (size > 0)
        Walk(PFXImportCertStore(&blob, u"tessera", 0));
    Decoders(data, dwSize);
    Message(data, dwSize);
    TrustList(data, dwSize);
    Text(data, size);
    return 0;
}
