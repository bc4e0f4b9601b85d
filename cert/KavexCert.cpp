#include "cert/KavexCert.h"

#include "cert/KavexCryptUI.h"
#include "cert/KavexWinCrypt.h"
#include "cert/KavexWinTrust.h"
#include "platform/include/win/winbase.h"
#include "support/AnsiText.h"
#include "support/FileName.h"
#include "support/OptionalFunctions.h"
#include "support/WinString.h"

#include <array>
#include <cstring>
#include <memory>

namespace {

// Files this unit reads whole (a single armoured certificate, key containers) are small; a larger
// one is refused rather than copied into memory (its text would be held twice more). The same
// bound as the file stores' keeps any certificate file within 64 MiB.
constexpr int64_t WholeFileLimit = 4LL * 1024 * 1024;

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;

struct ContextFreer {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using ContextPtr = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : FHandle(handle) {}
    ~FileHandle()
    {
        if (valid())
            CloseHandle(FHandle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    [[nodiscard]] bool valid() const { return FHandle != INVALID_HANDLE_VALUE; }
    [[nodiscard]] HANDLE get() const { return FHandle; }

private:
    HANDLE FHandle;
};

bool ReadWholeFile(const QString& fileName, QByteArray& bytes)
{
    bytes.clear();
    FileHandle file(CreateFileW(WStr(fileName), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file.valid())
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > WholeFileLimit)
        return false;
    bytes.resize(static_cast<qsizetype>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        return false;
    bytes.resize(read);
    return true;
}

// White space and control characters at both ends go.
QStringView TrimControls(QStringView text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] <= u' ')
        ++first;
    while (last > first && text[last - 1] <= u' ')
        --last;
    return text.sliced(first, last - first);
}

// The length asked first, then the text; the NUL the length counts is dropped.
QString NameToText(CERT_NAME_BLOB& name, DWORD style)
{
    const DWORD length = CertNameToStrW(CertEncoding, &name, style, nullptr, 0);
    if (length == 0)
        return {};
    std::vector<WCHAR> buffer(length);
    const DWORD written = CertNameToStrW(CertEncoding, &name, style, buffer.data(), length);
    return written > 0 ? FromWStr(buffer.data(), written - 1) : QString();
}

// The link's text: its URL or its file name; a moniker has none.
QString LinkText(const SPC_LINK* link)
{
    if (!link)
        return {};
    switch (link->dwLinkChoice) {
    case SPC_URL_LINK_CHOICE: return FromWStr(link->pwszUrl);
    case SPC_FILE_LINK_CHOICE: return FromWStr(link->pwszFile);
    default: return {};
    }
}

// The first signer of a verification state, with its provider data.
CRYPT_PROVIDER_SGNR* FirstSigner(HANDLE state, CRYPT_PROVIDER_DATA** providerData = nullptr)
{
    CRYPT_PROVIDER_DATA* data = WTHelperProvDataFromStateData(state);
    if (providerData)
        *providerData = data;
    return data ? WTHelperGetProvSignerFromChain(data, 0, FALSE, 0) : nullptr;
}

bool IsFileTimeZero(const FILETIME& t)
{
    return t.dwLowDateTime == 0 && t.dwHighDateTime == 0;
}

// One WinVerifyTrust request on a file for the generic Authenticode action, with revocation of
// the whole chain and no user interface; its state is closed when the request goes.
class TrustRequest {
public:
    TrustRequest(const QString& fileName, HANDLE file, WINTRUST_SIGNATURE_SETTINGS* settings = nullptr)
    {
        FFile.cbStruct = sizeof FFile;
        FFile.pcwszFilePath = WStr(fileName);
        FFile.hFile = file;
        FData.cbStruct = sizeof FData;
        FData.dwUIChoice = WTD_UI_NONE;
        FData.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        FData.dwUnionChoice = WTD_CHOICE_FILE;
        FData.pFile = &FFile;
        FData.dwStateAction = WTD_STATEACTION_VERIFY;
        FData.dwProvFlags = WTD_SAFER_FLAG;
        FData.pSignatureSettings = settings;
    }
    ~TrustRequest()
    {
        try {
            FData.dwStateAction = WTD_STATEACTION_CLOSE;
            WinVerifyTrustEx(NoWindow(), &FAction, &FData);
        } catch (const std::exception&) {
        }
    }
    TrustRequest(const TrustRequest&) = delete;
    TrustRequest& operator=(const TrustRequest&) = delete;

    // The trust service's answer. An error while the signature is examined must never read as a
    // valid signature: it is a general failure then.
    HRESULT Verify()
    {
        try {
            return WinVerifyTrustEx(NoWindow(), &FAction, &FData);
        } catch (const std::exception&) {
            return TRUST_E_FAIL;
        }
    }
    [[nodiscard]] HANDLE State() const { return FData.hWVTStateData; }

private:
    static HWND NoWindow() { return reinterpret_cast<HWND>(INVALID_HANDLE_VALUE); }

    WINTRUST_FILE_INFO FFile{};
    WINTRUST_DATA FData{};
    GUID FAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;
};

void ShowCertificate(HWND ownerWindow, PCCERT_CONTEXT certificate)
{
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view{};
    view.dwSize = sizeof view;
    view.hwndParent = ownerWindow;
    view.pCertContext = certificate;
    BOOL propertiesChanged = FALSE;
    CryptUIDlgViewCertificateW(&view, &propertiesChanged);
}

using TzSpecificLocalTime = decltype(&::SystemTimeToTzSpecificLocalTime);

// Looked up once at program start, as the platform's own time-zone conversion.
const TzSpecificLocalTime SystemTimeToTzSpecificLocalTimeProc = [] {
    HMODULE kernel32 = GetModuleHandleW(u"Kernel32.dll");
    return kernel32 ? reinterpret_cast<TzSpecificLocalTime>(GetProcAddress(kernel32, "SystemTimeToTzSpecificLocalTime"))
                    : nullptr;
}();

struct KeyUsageText {
    uint16_t Bit;
    const char16_t* Text;
};

// The order of the report, not the order of the bits.
constexpr KeyUsageText KeyUsageTexts[] = {
    {0x10, u"Data Encipherment, "}, {0x80, u"Digital Signature, "}, {0x08, u"Key Agreement, "},
    {0x04, u"Certificate Signing, "}, {0x20, u"Key Encipherment, "}, {0x40, u"Non Repundation, "},
    {0x02, u"Offline CLR Signing, "},
};

struct TrustMessage {
    HRESULT Code;
    const char16_t* Text;
};

constexpr TrustMessage TrustMessages[] = {
    {TRUST_E_PROVIDER_UNKNOWN, u"The trust provider is not recognized on this system"},
    {TRUST_E_ACTION_UNKNOWN,
     u"The trust verification action specified is not supported by the specified trust provider"},
    {TRUST_E_SUBJECT_FORM_UNKNOWN,
     u"The form specified for the subject is not one supported or known by the specified trust provider"},
    {TRUST_E_SUBJECT_NOT_TRUSTED, u"The subject is not trusted for the specified action"},
    {DIGSIG_E_ENCODE, u"Error due to problem in ASN.1 encoding process"},
    {DIGSIG_E_DECODE, u"Error due to problem in ASN.1 decoding process"},
    {DIGSIG_E_EXTENSIBILITY, u"Reading / writing Extensions where Attributes are appropriate, and visa versa"},
    {DIGSIG_E_CRYPTO, u"Unspecified cryptographic failure"},
    {PERSIST_E_SIZEDEFINITE, u"The size of the data could not be determined"},
    {PERSIST_E_SIZEINDEFINITE, u"The size of the indefinite-sized data could not be determined"},
    {PERSIST_E_NOTSELFSIZING, u"This object does not read and write self-sizing data"},
    {TRUST_E_NOSIGNATURE, u"No signature was present in the subject"},
    {CERT_E_EXPIRED, u"A required certificate is not within its validity period"},
    {CERT_E_VALIDITYPERIODNESTING, u"The validity periods of the certification chain do not nest correctly"},
    {CERT_E_ROLE, u"A certificate that can only be used as an end-entity is being used as a CA or visa versa"},
    {CERT_E_PATHLENCONST, u"A path length constraint in the certification chain has been violated"},
    {CERT_E_CRITICAL, u"An extension of unknown type that is labeled 'critical' is present in a certificate"},
    {CERT_E_PURPOSE, u"A certificate is being used for a purpose other than that for which it is permitted"},
    {CERT_E_ISSUERCHAINING, u"A parent of a given certificate in fact did not issue that child certificate"},
    {CERT_E_MALFORMED,
     u"A certificate is missing or has an empty value for an important field, such as a subject or issuer name"},
    {CERT_E_UNTRUSTEDROOT, u"A certification chain processed correctly, but terminated in a root certificate "
                           u"which isn't trusted by the trust provider"},
    {CERT_E_CHAINING, u"A chain of certs didn't chain as they should in a certain application of chaining"},
};

struct TrustErrorNaming {
    HRESULT Code;
    const char* Name;
};

constexpr TrustErrorNaming TrustErrorNames[] = {
    {S_OK, "S_OK"},
    {E_FAIL, "E_FAIL"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_ACCESSDENIED, "E_ACCESSDENIED"},
    {E_HANDLE, "E_HANDLE"},
    {TRUST_E_PROVIDER_UNKNOWN, "TRUST_E_PROVIDER_UNKNOWN"},
    {TRUST_E_ACTION_UNKNOWN, "TRUST_E_ACTION_UNKNOWN"},
    {TRUST_E_SUBJECT_FORM_UNKNOWN, "TRUST_E_SUBJECT_FORM_UNKNOWN"},
    {TRUST_E_SUBJECT_NOT_TRUSTED, "TRUST_E_SUBJECT_NOT_TRUSTED"},
    {DIGSIG_E_ENCODE, "DIGSIG_E_ENCODE"},
    {DIGSIG_E_DECODE, "DIGSIG_E_DECODE"},
    {DIGSIG_E_EXTENSIBILITY, "DIGSIG_E_EXTENSIBILITY"},
    {DIGSIG_E_CRYPTO, "DIGSIG_E_CRYPTO"},
    {PERSIST_E_SIZEDEFINITE, "PERSIST_E_SIZEDEFINITE"},
    {PERSIST_E_SIZEINDEFINITE, "PERSIST_E_SIZEINDEFINITE"},
    {PERSIST_E_NOTSELFSIZING, "PERSIST_E_NOTSELFSIZING"},
    {TRUST_E_NOSIGNATURE, "TRUST_E_NOSIGNATURE"},
    {CERT_E_EXPIRED, "CERT_E_EXPIRED"},
    {CERT_E_VALIDITYPERIODNESTING, "CERT_E_VALIDITYPERIODNESTING"},
    {CERT_E_ROLE, "CERT_E_ROLE"},
    {CERT_E_PATHLENCONST, "CERT_E_PATHLENCONST"},
    {CERT_E_CRITICAL, "CERT_E_CRITICAL"},
    {CERT_E_PURPOSE, "CERT_E_PURPOSE"},
    {CERT_E_ISSUERCHAINING, "CERT_E_ISSUERCHAINING"},
    {CERT_E_MALFORMED, "CERT_E_MALFORMED"},
    {CERT_E_UNTRUSTEDROOT, "CERT_E_UNTRUSTEDROOT"},
    {CERT_E_CHAINING, "CERT_E_CHAINING"},
    {TRUST_E_FAIL, "TRUST_E_FAIL"},
    {CERT_E_REVOKED, "CERT_E_REVOKED"},
    {CERT_E_UNTRUSTEDTESTROOT, "CERT_E_UNTRUSTEDTESTROOT"},
    {CERT_E_REVOCATION_FAILURE, "CERT_E_REVOCATION_FAILURE"},
    {CERT_E_CN_NO_MATCH, "CERT_E_CN_NO_MATCH"},
    {CERT_E_WRONG_USAGE, "CERT_E_WRONG_USAGE"},
    {TRUST_E_EXPLICIT_DISTRUST, "TRUST_E_EXPLICIT_DISTRUST"},
    {TRUST_E_SYSTEM_ERROR, "TRUST_E_SYSTEM_ERROR"},
    {TRUST_E_NO_SIGNER_CERT, "TRUST_E_NO_SIGNER_CERT"},
    {TRUST_E_COUNTER_SIGNER, "TRUST_E_COUNTER_SIGNER"},
    {TRUST_E_CERT_SIGNATURE, "TRUST_E_CERT_SIGNATURE"},
    {TRUST_E_TIME_STAMP, "TRUST_E_TIME_STAMP"},
    {TRUST_E_BAD_DIGEST, "TRUST_E_BAD_DIGEST"},
    {TRUST_E_BASIC_CONSTRAINTS, "TRUST_E_BASIC_CONSTRAINTS"},
    {TRUST_E_FINANCIAL_CRITERIA, "TRUST_E_FINANCIAL_CRITERIA"},
    {NTE_BAD_DATA, "NTE_BAD_DATA"},
    {NTE_BAD_SIGNATURE, "NTE_BAD_SIGNATURE"},
    {NTE_BAD_ALGID, "NTE_BAD_ALGID"},
    {CRYPT_E_MSG_ERROR, "CRYPT_E_MSG_ERROR"},
    {CRYPT_E_UNKNOWN_ALGO, "CRYPT_E_UNKNOWN_ALGO"},
    {CRYPT_E_HASH_VALUE, "CRYPT_E_HASH_VALUE"},
    {CRYPT_E_NOT_FOUND, "CRYPT_E_NOT_FOUND"},
    {CRYPT_E_BAD_ENCODE, "CRYPT_E_BAD_ENCODE"},
    {CRYPT_E_FILE_ERROR, "CRYPT_E_FILE_ERROR"},
    {CRYPT_E_ASN1_BADTAG, "CRYPT_E_ASN1_BADTAG"},
    {CRYPT_E_BAD_MSG, "CRYPT_E_BAD_MSG"},
    {CRYPT_E_NO_SIGNER, "CRYPT_E_NO_SIGNER"},
    {CRYPT_E_REVOKED, "CRYPT_E_REVOKED"},
    {CRYPT_E_NO_REVOCATION_CHECK, "CRYPT_E_NO_REVOCATION_CHECK"},
    {CRYPT_E_REVOCATION_OFFLINE, "CRYPT_E_REVOCATION_OFFLINE"},
    {CRYPT_E_SECURITY_SETTINGS, "CRYPT_E_SECURITY_SETTINGS"},
    {CRYPT_E_ASN1_ERROR, "CRYPT_E_ASN1_ERROR"},
    {CRYPT_E_ASN1_EOD, "CRYPT_E_ASN1_EOD"},
    {CRYPT_E_ASN1_CORRUPT, "CRYPT_E_ASN1_CORRUPT"},
    {CRYPT_E_ASN1_LARGE, "CRYPT_E_ASN1_LARGE"},
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Loading

bool OpenCertificateFileStore(const QString& fileName, HCERTSTORE& store)
{
    store = CertOpenStore(CERT_STORE_PROV_FILENAME_W, CertEncoding, 0,
                          CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, WStr(fileName));
    // A single armoured certificate the file store refuses gets a second chance, for ".pem" only.
    if (!store && ExtractFileExt(fileName).compare(u".pem", Qt::CaseInsensitive) == 0)
        OpenPemFileStore(fileName, store);
    return store != nullptr;
}

bool OpenPemFileStore(const QString& fileName, HCERTSTORE& store)
{
    store = nullptr;
    PCCERT_CONTEXT loaded = nullptr;
    if (!LoadCertificateFromPemFile(fileName, loaded))
        return false;
    const ContextPtr certificate(loaded);
    store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    bool added = false;
    if (store)
        added = CertAddCertificateContextToStore(store, certificate.get(), CERT_STORE_ADD_NEW, nullptr);
    return store && added;
}

bool LoadCertificateFromPemFile(const QString& fileName, PCCERT_CONTEXT& certificate)
{
    certificate = nullptr;
    QByteArray bytes;
    if (!ReadWholeFile(fileName, bytes))
        return false;
    // The text ends at the first zero byte. The bytes go once they are text: a large file is
    // held once, not twice.
    const qsizetype end = bytes.indexOf('\0');
    const QString text = AnsiToString(std::string_view(bytes.constData(), static_cast<size_t>(end < 0 ? bytes.size() : end)));
    bytes = QByteArray();
    return CertificateFromText(text, certificate);
}

bool CertificateFromText(const QString& text, PCCERT_CONTEXT& certificate)
{
    certificate = nullptr;
    if (!text.startsWith(u"-----BEGIN")) {
        // Not armoured: the text's own UTF-16 code units are taken as the certificate's bytes.
        certificate = CertCreateCertificateContext(CertEncoding, reinterpret_cast<const BYTE*>(text.utf16()),
                                                   static_cast<DWORD>(text.size() * 2));
        return certificate != nullptr;
    }
    const qsizetype length = text.size();
    QStringView body;
    if (const qsizetype a = text.indexOf(u"-----BEGIN CERTIFICATE-----"); a >= 0) {
        // Everything after the begin marker except the last 27 characters, which are taken to be
        // the end marker and a two-character line end.
        body = QStringView(text).sliced(a + 27, std::max<qsizetype>(length - a - 54, 0));
    } else if (const qsizetype b = text.indexOf(u"-----BEGIN PKCS7-----"); b >= 0) {
        body = QStringView(text).sliced(b + 21, std::max<qsizetype>(length - b - 42, 0));
    } else {
        return false;
    }
    body = TrimControls(body);
    const auto* wide = reinterpret_cast<LPCWSTR>(body.utf16());
    DWORD count = 0;
    if (!CryptStringToBinaryW(wide, static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64_ANY, nullptr, &count,
                              nullptr, nullptr))
        count = 0;
    QByteArray bytes(count, Qt::Uninitialized);
    if (count > 0 && !CryptStringToBinaryW(wide, static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64_ANY,
                                           reinterpret_cast<BYTE*>(bytes.data()), &count, nullptr, nullptr))
        count = 0;
    bytes.resize(count);
    certificate = CertCreateCertificateContext(CertEncoding, reinterpret_cast<const BYTE*>(bytes.constData()),
                                               static_cast<DWORD>(bytes.size()));
    return certificate != nullptr;
}

bool OpenPfxFileStore(const QString& fileName, const QString& password, HCERTSTORE& store, DWORD* importError)
{
    store = nullptr;
    if (importError)
        *importError = 0;
    QByteArray bytes;
    if (!ReadWholeFile(fileName, bytes))
        return false;
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    // An empty password is an empty text, never null.
    store = PFXImportCertStore(&blob, password.isNull() ? u"" : WStr(password), 0);
    if (!store && importError)
        *importError = GetLastError();
    return store != nullptr;
}

bool FindPfxCertificate(const QString& fileName, const QString& password, PCCERT_CONTEXT& certificate)
{
    certificate = nullptr;
    HCERTSTORE opened = nullptr;
    if (!OpenPfxFileStore(fileName, password, opened))
        return false;
    const StorePtr store(opened);
    certificate = CertFindCertificateInStore(store.get(), CertEncoding, 0, CERT_FIND_HAS_PRIVATE_KEY, nullptr, nullptr);
    if (!certificate)
        certificate = CertFindCertificateInStore(store.get(), CertEncoding, 0, CERT_FIND_ANY, nullptr, nullptr);
    return certificate != nullptr;
}

bool OpenSignedFileStore(const QString& fileName, HCERTSTORE& store)
{
    store = nullptr;
    const FileHandle file(CreateFileW(WStr(fileName), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return false;
    if (!OptionalFunctions::ImageEnumerateCertificates)
        return false;
    DWORD count = 0;
    std::array<DWORD, 128> indices{};
    if (!OptionalFunctions::ImageEnumerateCertificates(file.get(), CERT_SECTION_TYPE_ANY, &count, indices.data(),
                                                       static_cast<DWORD>(indices.size())))
        return false;
    if (!OptionalFunctions::ImageGetCertificateData)
        return false;
    // Only the first entry of the attribute-certificate table counts.
    DWORD size = 0;
    OptionalFunctions::ImageGetCertificateData(file.get(), indices[0], nullptr, &size);
    std::vector<BYTE> entry(size);
    if (!OptionalFunctions::ImageGetCertificateData(file.get(), indices[0],
                                                    reinterpret_cast<LPWIN_CERTIFICATE>(entry.data()), &size))
        return false;
    // The 8-byte WIN_CERTIFICATE header is skipped unexamined; the rest is the PKCS #7 message.
    constexpr DWORD HeaderSize = 8;
    if (size < HeaderSize || size > entry.size())
        return false;
    CRYPT_DATA_BLOB message{size - HeaderSize, entry.data() + HeaderSize};
    store = CertOpenStore(CERT_STORE_PROV_PKCS7, CertEncoding, 0, 0, &message);
    if (!store)
        return false;
    const ContextPtr first(CertEnumCertificatesInStore(store, nullptr));
    return first != nullptr;
}

bool OpenSignatureStreamStore(TStream& stream, HCERTSTORE& store)
{
    store = nullptr;
    QByteArray bytes(static_cast<qsizetype>(stream.Size()), '\0');
    stream.SetPosition(0);
    stream.ReadBuffer(bytes.data(), bytes.size());
    return OpenPkcs7Store(bytes, store);
}

bool OpenPkcs7Store(const QByteArray& bytes, HCERTSTORE& store)
{
    CRYPT_DATA_BLOB message{static_cast<DWORD>(bytes.size()),
                            reinterpret_cast<BYTE*>(const_cast<char*>(bytes.constData()))};
    store = CertOpenStore(CERT_STORE_PROV_PKCS7, CertEncoding, 0, 0, &message);
    return store != nullptr;
}

bool GetFirstFileCertificate(const QString& fileName, PCCERT_CONTEXT& certificate)
{
    certificate = nullptr;
    const StorePtr store(CertOpenStore(CERT_STORE_PROV_FILENAME_W, CertEncoding, 0,
                                       CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, WStr(fileName)));
    if (store)
        certificate = CertEnumCertificatesInStore(store.get(), nullptr);
    return certificate != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Description

void DescribeCertStore(HCERTSTORE store, TCertStoreInfo& info)
{
    info.clear();
    if (!store)
        return;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        TCertContextInfo certificate;
        DescribeCertificate(context, certificate);
        info.push_back(std::move(certificate));
    }
}

void DescribeCertificate(PCCERT_CONTEXT certificate, TCertContextInfo& info)
{
    info = TCertContextInfo();
    if (!certificate || !certificate->pCertInfo)
        return;
    CERT_INFO& cert = *certificate->pCertInfo;

    info.EncodingType = certificate->dwCertEncodingType;
    if (info.EncodingType & X509_ASN_ENCODING)
        info.Encoding += u"X509|";
    if (info.EncodingType & PKCS_7_ASN_ENCODING)
        info.Encoding += u"PKCS7|";
    info.Encoding.chop(1);

    info.Version = static_cast<int32_t>(cert.dwVersion) + 1;

    info.Issuer = NameToText(cert.Issuer, CERT_SIMPLE_NAME_STR);
    info.QIssuer = NameToText(cert.Issuer, CERT_X500_NAME_STR);
    info.Subject = NameToText(cert.Subject, CERT_SIMPLE_NAME_STR);
    info.QSubject = NameToText(cert.Subject, CERT_X500_NAME_STR);

    info.SignatureAlgorithm = OidToName(QString::fromLatin1(cert.SignatureAlgorithm.pszObjId));
    info.PublicKeyAlgorithm = OidToName(QString::fromLatin1(cert.SubjectPublicKeyInfo.Algorithm.pszObjId));

    // The key's real size, as the platform measures it.
    info.PublicKeyBits =
        static_cast<int32_t>(CertGetPublicKeyLength(certificate->dwCertEncodingType, &cert.SubjectPublicKeyInfo));

    // The platform keeps the serial number least significant byte first.
    info.Serial = ReverseHexBytes(FormatHexText(cert.SerialNumber.pbData, cert.SerialNumber.cbData));

    info.ValidFrom = ConvertFileTime(cert.NotBefore, true);
    info.ValidTo = ConvertFileTime(cert.NotAfter, true);
    info.ValidFromUtc = ConvertFileTime(cert.NotBefore, false);
    info.ValidToUtc = ConvertFileTime(cert.NotAfter, false);

    std::array<BYTE, 2> usage{};
    if (CertGetIntendedKeyUsage(certificate->dwCertEncodingType, &cert, usage.data(), 2)) {
        info.KeyUsageFlags = static_cast<uint16_t>(usage[0] | (usage[1] << 8));
        for (const KeyUsageText& u : KeyUsageTexts)
            if (info.KeyUsageFlags & u.Bit) {
                const QString text = QString::fromUtf16(u.Text);
                info.KeyUsage += text;
                // The first byte's bits, most significant first, are bits 0 to 7 of the BIT STRING.
                info.KeyUsages.push_back({text.chopped(2), 7 - std::countr_zero(static_cast<unsigned>(u.Bit))});
            }
        info.KeyUsage.chop(2);
    }

    DWORD size = 0;
    if (CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size)) {
        // Pointer-aligned storage for the structure the platform lays out in it.
        std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
        auto* usages = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
        if (CertGetEnhancedKeyUsage(certificate, 0, usages, &size)) {
            for (DWORD i = 0; i < usages->cUsageIdentifier; ++i) {
                const QString oid = QString::fromLatin1(usages->rgpszUsageIdentifier[i]);
                info.EnhancedKeyUsage += OidToName(oid);
                info.EnhancedKeyUsage += u", ";
                info.EnhancedKeyUsages.push_back({OidToName(oid), oid});
            }
            info.EnhancedKeyUsage.chop(2);
        }
    }

    DWORD hashSize = 0;
    if (CryptHashCertificate(0, CALG_SHA1, 0, certificate->pbCertEncoded, certificate->cbCertEncoded, nullptr,
                             &hashSize)) {
        std::vector<BYTE> hash(hashSize);
        if (CryptHashCertificate(0, CALG_SHA1, 0, certificate->pbCertEncoded, certificate->cbCertEncoded, hash.data(),
                                 &hashSize))
            info.Thumbprint = BytesToHex(hash.data(), hashSize).toLower();
    }
    std::array<BYTE, 32> sha256{};
    DWORD sha256Size = sha256.size();
    if (CryptHashCertificate(0, CALG_SHA_256, 0, certificate->pbCertEncoded, certificate->cbCertEncoded, sha256.data(),
                             &sha256Size))
        info.Sha256Thumbprint = BytesToHex(sha256.data(), sha256Size).toLower();
}

QString OidToName(const QString& oid)
{
    QByteArray key = StringToAnsi(oid);
    if (PCCRYPT_OID_INFO entry = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, key.data(), 0))
        return FromWStr(entry->pwszName);
    return oid;
}

TDateTime ConvertFileTime(const FILETIME& fileTime, bool toLocal)
{
    SYSTEMTIME time{};
    if (!FileTimeToSystemTime(&fileTime, &time) || time.wYear > 9999)
        return 0;
    const TDateTime value = SystemTimeToDateTime(time);
    return toLocal ? UtcToLocalDateTime(value) : value;
}

TDateTime UtcToLocalDateTime(TDateTime value)
{
    TIME_ZONE_INFORMATION zone{};
    if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID)
        return value;
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTimeProc || !DateTimeToSystemTime(value, utc) ||
        !SystemTimeToTzSpecificLocalTimeProc(&zone, &utc, &local))
        return value;
    // A moment the calendar holds in UTC may lie past its end in local time (RFC 5280's "no
    // expiry", 9999-12-31 23:59:59 UTC, east of Greenwich): its last moment stands for it.
    if (local.wYear > 9999)
        return EncodeDateTime({9999, 12, 31, 23, 59, 59, 999});
    return SystemTimeToDateTime(local);
}

QString FormatHexText(const BYTE* bytes, DWORD count)
{
    DWORD length = 0;
    if (!CryptBinaryToStringW(bytes, count, CRYPT_STRING_HEX, nullptr, &length) || length == 0)
        return {};
    std::vector<WCHAR> buffer(length);
    if (!CryptBinaryToStringW(bytes, count, CRYPT_STRING_HEX, buffer.data(), &length))
        return {};
    QString text = FromWStr(buffer.data(), std::min<qsizetype>(length, static_cast<qsizetype>(buffer.size())));
    text.remove(u' ').remove(QChar(0x00A0)).remove(u'\r').remove(u'\n');
    return text;
}

QString ReverseHexBytes(const QString& hex)
{
    QString result;
    result.reserve(hex.size());
    for (qsizetype i = hex.size() - 2; i > -2; i -= 2)
        result += hex.mid(std::max<qsizetype>(i, 0), i < 0 ? 1 : 2);
    return result;
}

QString BytesToHex(const BYTE* bytes, DWORD count)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), count).toHex().toUpper();
}

// ---------------------------------------------------------------------------------------------
// Verification

HRESULT VerifyFileSignature(const QString& fileName, QString& publisher, TDateTime& signingDate, QString& programName,
                            QString& publisherLink, QString& moreInfoLink, HWND ownerWindow)
{
    publisher.clear();
    programName.clear();
    publisherLink.clear();
    moreInfoLink.clear();
    signingDate = 0;

    const FileHandle file(CreateFileW(WStr(fileName), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    TrustRequest request(fileName, file.get());
    const HRESULT result = request.Verify();
    try {
        if (request.State()) {
            publisher = GetSignerName(request.State());
            signingDate = GetSigningTime(request.State());
            GetSignerProgramInfo(request.State(), programName, publisherLink, moreInfoLink);
        }
        if (ownerWindow != NoOwnerWindow)
            ShowSignerInfoDialog(ownerWindow, request.State());
    } catch (const std::exception&) {
    }
    return result;
}

QString GetSignerName(HANDLE state)
{
    CRYPT_PROVIDER_SGNR* signer = FirstSigner(state);
    CRYPT_PROVIDER_CERT* certificate = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!certificate || !certificate->pCert)
        return {};
    const DWORD length = CertGetNameStringW(certificate->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length == 0)
        return {};
    std::vector<WCHAR> buffer(length);
    CertGetNameStringW(certificate->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer.data(), length);
    return TrimControls(FromWStr(buffer.data(), length)).toString();
}

namespace {

// The name of the trusted root the first signer's chain ends in (its friendly name in Windows'
// root program, else its display name); empty when the chain reaches no trusted root.
QString RootNameOf(HANDLE state)
{
    CRYPT_PROVIDER_SGNR* signer = FirstSigner(state);
    if (!signer || signer->csCertChain == 0)
        return {};
    CRYPT_PROVIDER_CERT* root = WTHelperGetProvCertFromChain(signer, signer->csCertChain - 1);
    if (!root || !root->pCert || !root->fTrustedRoot)
        return {};
    const DWORD length = CertGetNameStringW(root->pCert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length == 0)
        return {};
    std::vector<WCHAR> buffer(length);
    CertGetNameStringW(root->pCert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, buffer.data(), length);
    return TrimControls(FromWStr(buffer.data(), length)).toString();
}

// The time the first time stamp vouches for, in UTC; false without one.
bool SigningFileTime(HANDLE state, FILETIME& result)
{
    CRYPT_PROVIDER_SGNR* signer = FirstSigner(state);
    if (!signer || signer->csCounterSigners == 0 || !signer->pasCounterSigners)
        return false;
    const CRYPT_PROVIDER_SGNR& counterSigner = signer->pasCounterSigners[0];
    bool found = false;
    if (const CMSG_SIGNER_INFO* info = counterSigner.psSigner) {
        // Every signing-time attribute is read; the last one that decodes wins.
        for (DWORD i = 0; i < info->AuthAttrs.cAttr; ++i) {
            const CRYPT_ATTRIBUTE& attribute = info->AuthAttrs.rgAttr[i];
            if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, szOID_RSA_signingTime) != 0 ||
                attribute.cValue == 0)
                continue;
            FILETIME time{};
            DWORD size = sizeof time;
            if (CryptDecodeObject(CertEncoding, szOID_RSA_signingTime, attribute.rgValue[0].pbData,
                                  attribute.rgValue[0].cbData, 0, &time, &size)) {
                result = time;
                found = true;
            }
        }
    }
    // An RFC 3161 time stamp's signer carries no signing-time attribute: its time is the time stamp's
    // own, which the trust provider gives as the counter-signer's verification time.
    if (!found && !IsFileTimeZero(counterSigner.sftVerifyAsOf)) {
        result = counterSigner.sftVerifyAsOf;
        found = true;
    }
    return found;
}

// The kind of the signer's first time stamp, by the attribute that carries it.
QString TimeStampKindOf(HANDLE state)
{
    CRYPT_PROVIDER_SGNR* signer = FirstSigner(state);
    if (!signer || !signer->psSigner)
        return {};
    const CRYPT_ATTRIBUTES& attributes = signer->psSigner->UnauthAttrs;
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const char* oid = attributes.rgAttr[i].pszObjId;
        if (oid && std::strcmp(oid, szOID_RSA_counterSign) == 0)
            return QStringLiteral("Authenticode");
        if (oid && std::strcmp(oid, szOID_RFC3161_counterSign) == 0)
            return QStringLiteral("RFC 3161");
    }
    return {};
}

// One WinVerifyTrust call on the signature of the given index; the state is closed again. Its
// count of nested signatures goes to secondary when asked for.
TSignatureVerdict VerifyOneSignature(const QString& fileName, HANDLE file, DWORD index, DWORD* secondary)
{
    TSignatureVerdict verdict;
    verdict.Index = index;
    WINTRUST_SIGNATURE_SETTINGS settings{};
    settings.cbStruct = sizeof settings;
    settings.dwIndex = index;
    settings.dwFlags = WSS_VERIFY_SPECIFIC | (secondary ? WSS_GET_SECONDARY_SIG_COUNT : 0);
    TrustRequest request(fileName, file, &settings);
    verdict.Result = request.Verify();
    if (secondary)
        *secondary = settings.cSecondarySigs;
    const HANDLE state = request.State();
    if (!state)
        return verdict;
    try {
        verdict.Publisher = GetSignerName(state);
        FILETIME signedAt{};
        if (SigningFileTime(state, signedAt)) {
            verdict.SigningDate = ConvertFileTime(signedAt, true);
            verdict.SigningDateUtc = ConvertFileTime(signedAt, false);
        }
        GetSignerProgramInfo(state, verdict.ProgramName, verdict.PublisherLink, verdict.MoreInfoLink);
        verdict.TimeStampKind = TimeStampKindOf(state);
        verdict.RootName = RootNameOf(state);
        if (CRYPT_PROVIDER_SGNR* signer = FirstSigner(state);
            signer && signer->psSigner && signer->psSigner->HashAlgorithm.pszObjId) {
            verdict.DigestAlgorithmOid = QString::fromLatin1(signer->psSigner->HashAlgorithm.pszObjId);
            verdict.DigestAlgorithm = OidToName(verdict.DigestAlgorithmOid);
        }
    } catch (const std::exception&) {
        verdict.Result = TRUST_E_FAIL;
    }
    return verdict;
}

} // namespace

TDateTime GetSigningTime(HANDLE state)
{
    FILETIME time{};
    return SigningFileTime(state, time) ? ConvertFileTime(time, true) : 0;
}

std::vector<TSignatureVerdict> VerifyFileSignatures(const QString& fileName, bool nested)
{
    const FileHandle file(CreateFileW(WStr(fileName), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD secondary = 0;
    std::vector<TSignatureVerdict> verdicts;
    verdicts.push_back(VerifyOneSignature(fileName, file.get(), 0, nested ? &secondary : nullptr));
    for (DWORD index = 1; nested && index <= secondary; ++index)
        verdicts.push_back(VerifyOneSignature(fileName, file.get(), index, nullptr));
    return verdicts;
}

void GetSignerProgramInfo(HANDLE state, QString& programName, QString& publisherLink, QString& moreInfoLink)
{
    programName.clear();
    publisherLink.clear();
    moreInfoLink.clear();
    CRYPT_PROVIDER_SGNR* signer = FirstSigner(state);
    if (!signer || !signer->psSigner)
        return;
    const CRYPT_ATTRIBUTES& attributes = signer->psSigner->AuthAttrs;
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        if (!attribute.pszObjId ||
            QString::fromLatin1(attribute.pszObjId).compare(QLatin1String(SPC_SP_OPUS_INFO_OBJID), Qt::CaseInsensitive) != 0)
            continue;
        if (attribute.cValue == 0)
            return;
        DWORD size = 0;
        if (!CryptDecodeObject(CertEncoding, SPC_SP_OPUS_INFO_OBJID, attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData, 0, nullptr, &size))
            return;
        std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
        if (!CryptDecodeObject(CertEncoding, SPC_SP_OPUS_INFO_OBJID, attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData, 0, buffer.data(), &size))
            return;
        const auto* opus = reinterpret_cast<const SPC_SP_OPUS_INFO*>(buffer.data());
        programName = FromWStr(opus->pwszProgramName);
        moreInfoLink = LinkText(opus->pMoreInfo);
        publisherLink = LinkText(opus->pPublisherInfo);
        return;
    }
}

void ShowSignerInfoDialog(HWND ownerWindow, HANDLE state)
{
    CRYPT_PROVIDER_DATA* providerData = nullptr;
    CRYPT_PROVIDER_SGNR* signer = FirstSigner(state, &providerData);
    if (!providerData || !signer)
        return;
    static constexpr char CodeSigning[] = "1.3.6.1.5.5.7.3.3";
    CRYPTUI_VIEWSIGNERINFO_STRUCTW view{};
    view.dwSize = sizeof view;
    view.hwndParent = ownerWindow;
    view.pSignerInfo = signer->psSigner;
    view.hMsg = providerData->hMsg;
    view.pszOID = CodeSigning;
    // The dialog shows the chain as the verification judged it, revocation and moment included.
    view.dwFlags = CRYPTUI_TESSERA_SIGNER_PROVIDER_DATA;
    view.dwReserved = reinterpret_cast<DWORD_PTR>(providerData);
    CryptUIDlgViewSignerInfoW(&view);
}

QString TrustErrorName(HRESULT code)
{
    for (const TrustErrorNaming& n : TrustErrorNames)
        if (n.Code == code)
            return QString::fromLatin1(n.Name);
    return {};
}

QString TrustErrorText(HRESULT code)
{
    for (const TrustMessage& m : TrustMessages)
        if (m.Code == code)
            return QString::fromUtf16(m.Text);
    return QStringLiteral("Error ") + QString::number(static_cast<uint32_t>(code), 16).rightJustified(8, u'0').toUpper();
}

// ---------------------------------------------------------------------------------------------
// Export and viewing

bool SaveStoreToStream(HCERTSTORE store, TMemoryStream& stream)
{
    stream.Clear();
    CRYPT_DATA_BLOB blob{0, nullptr};
    if (!CertSaveStore(store, CertEncoding, CERT_STORE_SAVE_AS_PKCS7, CERT_STORE_SAVE_TO_MEMORY, &blob, 0))
        return false;
    std::vector<BYTE> bytes(blob.cbData);
    blob.pbData = bytes.data();
    if (!CertSaveStore(store, CertEncoding, CERT_STORE_SAVE_AS_PKCS7, CERT_STORE_SAVE_TO_MEMORY, &blob, 0))
        return false;
    stream.WriteBuffer(bytes.data(), std::min<int64_t>(blob.cbData, static_cast<int64_t>(bytes.size())));
    stream.SetPosition(0);
    return stream.Size() > 0;
}

bool SaveStoreToPemStream(HCERTSTORE store, TMemoryStream& stream)
{
    stream.Clear();
    TMemoryStream encoded;
    SaveStoreToStream(store, encoded);
    const QByteArray base64 =
        QByteArray(reinterpret_cast<const char*>(encoded.Memory()), static_cast<qsizetype>(encoded.Size())).toBase64();
    QByteArray text = "-----BEGIN CERTIFICATE-----\r\n";
    for (qsizetype i = 0; i < base64.size(); i += 64) {
        text += base64.mid(i, 64);
        text += "\r\n";
    }
    text += "-----END CERTIFICATE-----\r\n";
    stream.WriteBuffer(text.constData(), text.size());
    stream.SetPosition(0);
    return stream.Size() > 0;
}

bool ExportStoreToPemFile(HCERTSTORE store, const QString& fileName)
{
    TMemoryStream stream;
    const bool result = SaveStoreToPemStream(store, stream);
    stream.SaveToFile(fileName);
    return result;
}

bool ExportStoreToDerFile(HCERTSTORE store, const QString& fileName)
{
    return CertSaveStore(store, CertEncoding, CERT_STORE_SAVE_AS_PKCS7, CERT_STORE_SAVE_TO_FILENAME_W,
                         const_cast<WCHAR*>(WStr(fileName)), 0);
}

HRESULT ViewFileSigner(const QString& fileName, HWND ownerWindow)
{
    QString publisher, programName, publisherLink, moreInfoLink;
    TDateTime signingDate = 0;
    return VerifyFileSignature(fileName, publisher, signingDate, programName, publisherLink, moreInfoLink,
                               ownerWindow);
}

void ViewCertificateFile(HWND ownerWindow, const QString& fileName)
{
    PCCERT_CONTEXT loaded = nullptr;
    if (!GetFirstFileCertificate(fileName, loaded) &&
        ExtractFileExt(fileName).compare(u".pem", Qt::CaseInsensitive) == 0)
        LoadCertificateFromPemFile(fileName, loaded);
    const ContextPtr certificate(loaded);
    if (certificate)
        ShowCertificate(ownerWindow, certificate.get());
}

void ViewPfxCertificate(HWND ownerWindow, const QString& fileName, const QString& password)
{
    PCCERT_CONTEXT found = nullptr;
    FindPfxCertificate(fileName, password, found);
    const ContextPtr certificate(found);
    if (certificate)
        ShowCertificate(ownerWindow, certificate.get());
}
