// imagehlp: the attribute-certificate table of portable executables. Provided by libtessera-imagehlp.so.
#pragma once

#include "windef.h"

inline constexpr WORD CERT_SECTION_TYPE_ANY = 0xFF;
inline constexpr WORD WIN_CERT_REVISION_1_0 = 0x0100;
inline constexpr WORD WIN_CERT_REVISION_2_0 = 0x0200;
inline constexpr WORD WIN_CERT_TYPE_X509 = 0x0001;
inline constexpr WORD WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002;

// An entry as the file holds it: 8-byte header, then the certificate data.
struct WIN_CERTIFICATE {
    DWORD dwLength;
    WORD wRevision;
    WORD wCertificateType;
    BYTE bCertificate[1];
};
using LPWIN_CERTIFICATE = WIN_CERTIFICATE*;

extern "C" {

BOOL WINAPI ImageEnumerateCertificates(HANDLE FileHandle, WORD TypeFilter, PDWORD CertificateCount,
                                       PDWORD Indices, DWORD IndexCount);
BOOL WINAPI ImageGetCertificateData(HANDLE FileHandle, DWORD CertificateIndex, LPWIN_CERTIFICATE Certificate,
                                    PDWORD RequiredLength);

} // extern "C"
