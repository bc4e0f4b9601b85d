// Certificate services: loading stores and certificates from files, key containers, signed
// executables and signature streams; describing certificates as text; verifying signatures and
// reading signer details; exporting stores and showing the viewers.
//
// None of these routines raises or writes report text: they answer true or false (or a result
// code) and hand back a handle through an out parameter that they first set to null. A store or
// context handed back belongs to the caller (CertCloseStore / CertFreeCertificateContext).
#pragma once

#include "platform/include/win/wincrypt.h"
#include "support/DateTime.h"
#include "support/Streams.h"

#include <QByteArray>
#include <QString>

#include <vector>

// One certificate's details, every text as the report shows it.
struct TCertContextInfo {
    DWORD EncodingType = 0;
    QString Encoding;
    int32_t Version = 0;
    QString Issuer;
    QString QIssuer;
    QString Subject;
    QString QSubject;
    QString Serial;
    QString SignatureAlgorithm;
    QString PublicKeyAlgorithm;
    int32_t PublicKeyBits = 0;
    TDateTime ValidFrom = 0;
    TDateTime ValidTo = 0;
    uint16_t KeyUsageFlags = 0;
    QString KeyUsage;
    QString EnhancedKeyUsage;
    QString Thumbprint;
    // Declared for signer details; the description leaves them empty.
    QString ProgramName;
    QString PublisherLink;
    QString MoreInfoLink;

    // The same facts for programs that read them (tessera-report --json): lists instead of
    // texts, times in UTC, and the SHA-256 thumbprint.
    QString Sha256Thumbprint;
    TDateTime ValidFromUtc = 0;
    TDateTime ValidToUtc = 0;
    struct KeyUsageName {
        QString Name;
        int Bit; // the bit of the keyUsage BIT STRING, 0 for digitalSignature
    };
    std::vector<KeyUsageName> KeyUsages;
    struct EnhancedKeyUsageName {
        QString Name;
        QString Oid;
    };
    std::vector<EnhancedKeyUsageName> EnhancedKeyUsages;
};

// The certificates of a store, in the store's order.
using TCertStoreInfo = std::vector<TCertContextInfo>;

// Every encoding-type argument passed to the certificate services.
inline constexpr DWORD CertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Loading.
bool OpenCertificateFileStore(const QString& fileName, HCERTSTORE& store);
bool OpenPemFileStore(const QString& fileName, HCERTSTORE& store);
// importError, when given, receives why the import failed (the platform's error), or 0: a
// container whose protection asks for too much work is not one with a wrong password.
bool OpenPfxFileStore(const QString& fileName, const QString& password, HCERTSTORE& store,
                      DWORD* importError = nullptr);
// The import error of a container whose key derivation asks for more work than is allowed.
inline constexpr DWORD PfxProtectionOutOfBounds = static_cast<DWORD>(CRYPT_E_SECURITY_SETTINGS);
// The store may be handed back even when the answer is false.
bool OpenSignedFileStore(const QString& fileName, HCERTSTORE& store);
bool OpenSignatureStreamStore(TStream& stream, HCERTSTORE& store);
bool OpenPkcs7Store(const QByteArray& bytes, HCERTSTORE& store);
bool GetFirstFileCertificate(const QString& fileName, PCCERT_CONTEXT& certificate);
bool FindPfxCertificate(const QString& fileName, const QString& password, PCCERT_CONTEXT& certificate);
bool LoadCertificateFromPemFile(const QString& fileName, PCCERT_CONTEXT& certificate);
bool CertificateFromText(const QString& text, PCCERT_CONTEXT& certificate);

// Description.
void DescribeCertStore(HCERTSTORE store, TCertStoreInfo& info);
void DescribeCertificate(PCCERT_CONTEXT certificate, TCertContextInfo& info);
[[nodiscard]] QString OidToName(const QString& oid);
[[nodiscard]] TDateTime ConvertFileTime(const FILETIME& fileTime, bool toLocal);
[[nodiscard]] TDateTime UtcToLocalDateTime(TDateTime value);
// Hex of bytes as the platform formats it, with blanks and line breaks removed: two lower-case
// digits a byte.
[[nodiscard]] QString FormatHexText(const BYTE* bytes, DWORD count);
// The byte pairs of a hex text in reverse order.
[[nodiscard]] QString ReverseHexBytes(const QString& hex);
// Two upper-case hex digits a byte, no separators.
[[nodiscard]] QString BytesToHex(const BYTE* bytes, DWORD count);

// Verification: owner window INVALID_HANDLE_VALUE means no dialog; any other window owns the
// signer dialog, shown before the call returns.
inline const HWND NoOwnerWindow = reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
HRESULT VerifyFileSignature(const QString& fileName, QString& publisher, TDateTime& signingDate, QString& programName,
                            QString& publisherLink, QString& moreInfoLink, HWND ownerWindow);
[[nodiscard]] QString GetSignerName(HANDLE state);
[[nodiscard]] TDateTime GetSigningTime(HANDLE state);
void GetSignerProgramInfo(HANDLE state, QString& programName, QString& publisherLink, QString& moreInfoLink);
void ShowSignerInfoDialog(HWND ownerWindow, HANDLE state);
[[nodiscard]] QString TrustErrorText(HRESULT code);
// The Windows name of a trust or certificate error (CERT_E_UNTRUSTEDROOT, TRUST_E_NOSIGNATURE,
// ...); empty for a code without one.
[[nodiscard]] QString TrustErrorName(HRESULT code);

// One signature of a file as the trust service judged it.
struct TSignatureVerdict {
    DWORD Index = 0; // 0: the primary signature, which is the file's verdict; 1 and up: nested in it
    HRESULT Result = TRUST_E_FAIL;
    QString Publisher;
    QString ProgramName;
    QString PublisherLink;
    QString MoreInfoLink;
    TDateTime SigningDate = 0;    // local time, as the report shows it; 0 without a time stamp
    TDateTime SigningDateUtc = 0; // the same moment in UTC
    QString TimeStampKind;        // "RFC 3161", "Authenticode" or empty
    QString DigestAlgorithm;      // the signer's digest algorithm ("sha256") and its OID
    QString DigestAlgorithmOid;
    QString RootName; // the trusted root the chain ends in, by its friendly name; empty without one
};
// The file's primary signature and, when nested is true, each signature nested in it, judged one
// by one as WinVerifyTrust judges them. The primary's verdict comes first, even for a file
// without any signature.
[[nodiscard]] std::vector<TSignatureVerdict> VerifyFileSignatures(const QString& fileName, bool nested);

// Export and viewing.
bool SaveStoreToStream(HCERTSTORE store, TMemoryStream& stream);
bool SaveStoreToPemStream(HCERTSTORE store, TMemoryStream& stream);
// Raises EFCreateError when the file cannot be created.
bool ExportStoreToPemFile(HCERTSTORE store, const QString& fileName);
bool ExportStoreToDerFile(HCERTSTORE store, const QString& fileName);
HRESULT ViewFileSigner(const QString& fileName, HWND ownerWindow);
void ViewCertificateFile(HWND ownerWindow, const QString& fileName);
void ViewPfxCertificate(HWND ownerWindow, const QString& fileName, const QString& password);
