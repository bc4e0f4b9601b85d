// crypt32: certificates, stores, messages, names, OIDs, encodings. Provided by libtessera-crypt32.so.
#pragma once

#include "windef.h"

using ALG_ID = unsigned int;
using HCRYPTPROV_LEGACY = ULONG_PTR;
using HCERTSTORE = void*;
using HCRYPTMSG = void*;

inline constexpr DWORD X509_ASN_ENCODING = 0x00000001;
inline constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;
inline constexpr DWORD CERT_ENCODING_TYPE_MASK = 0x0000FFFF;
inline constexpr DWORD CMSG_ENCODING_TYPE_MASK = 0xFFFF0000;

inline constexpr ALG_ID CALG_MD5 = 0x8003;
inline constexpr ALG_ID CALG_SHA1 = 0x8004;
inline constexpr ALG_ID CALG_SHA_256 = 0x800C;
inline constexpr ALG_ID CALG_SHA_384 = 0x800D;
inline constexpr ALG_ID CALG_SHA_512 = 0x800E;

struct CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_UINT_BLOB = CRYPTOAPI_BLOB;
using CRYPT_OBJID_BLOB = CRYPTOAPI_BLOB;
using CERT_NAME_BLOB = CRYPTOAPI_BLOB;
using CERT_RDN_VALUE_BLOB = CRYPTOAPI_BLOB;
using CERT_BLOB = CRYPTOAPI_BLOB;
using CRL_BLOB = CRYPTOAPI_BLOB;
using DATA_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DATA_BLOB = CRYPTOAPI_BLOB;
using CRYPT_HASH_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DIGEST_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_ATTR_BLOB = CRYPTOAPI_BLOB;
using PCRYPT_DATA_BLOB = CRYPT_DATA_BLOB*;
using PCERT_NAME_BLOB = CERT_NAME_BLOB*;
using PCRYPT_ATTR_BLOB = CRYPT_ATTR_BLOB*;

struct CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
};

struct CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
};

struct CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
};

struct CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
};
using PCERT_EXTENSION = CERT_EXTENSION*;

inline constexpr DWORD CERT_V1 = 0;
inline constexpr DWORD CERT_V2 = 1;
inline constexpr DWORD CERT_V3 = 2;

struct CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber; // least significant byte first
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
};
using PCERT_INFO = CERT_INFO*;

struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
};
using PCERT_CONTEXT = CERT_CONTEXT*;
using PCCERT_CONTEXT = const CERT_CONTEXT*;

struct CRL_INFO;
struct CRL_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCrlEncoded;
    DWORD cbCrlEncoded;
    CRL_INFO* pCrlInfo;
    HCERTSTORE hCertStore;
};
using PCCRL_CONTEXT = const CRL_CONTEXT*;

struct CRYPT_ATTRIBUTE {
    LPSTR pszObjId;
    DWORD cValue;
    PCRYPT_ATTR_BLOB rgValue;
};
using PCRYPT_ATTRIBUTE = CRYPT_ATTRIBUTE*;

struct CRYPT_ATTRIBUTES {
    DWORD cAttr;
    PCRYPT_ATTRIBUTE rgAttr;
};

struct CMSG_SIGNER_INFO {
    DWORD dwVersion;
    CERT_NAME_BLOB Issuer;
    CRYPT_INTEGER_BLOB SerialNumber; // least significant byte first
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
    CRYPT_DATA_BLOB EncryptedHash;
    CRYPT_ATTRIBUTES AuthAttrs;
    CRYPT_ATTRIBUTES UnauthAttrs;
};
using PCMSG_SIGNER_INFO = CMSG_SIGNER_INFO*;

struct CTL_USAGE {
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
};
using CERT_ENHKEY_USAGE = CTL_USAGE;
using PCERT_ENHKEY_USAGE = CERT_ENHKEY_USAGE*;

struct CRYPT_OID_INFO {
    DWORD cbSize;
    LPCSTR pszOID;
    LPCWSTR pwszName;
    DWORD dwGroupId;
    union {
        DWORD dwValue;
        ALG_ID Algid;
        DWORD dwLength;
    };
    CRYPT_DATA_BLOB ExtraInfo;
};
using PCCRYPT_OID_INFO = const CRYPT_OID_INFO*;

// Certificate trust lists: a SignedData whose content (szOID_CTL) lists subjects, each with
// attributes. Windows' root program (authroot.stl) and catalog files are such lists.
struct CTL_ENTRY {
    CRYPT_DATA_BLOB SubjectIdentifier; // a certificate's hash, or a catalog member's tag
    DWORD cAttribute;
    PCRYPT_ATTRIBUTE rgAttribute;
};
using PCTL_ENTRY = CTL_ENTRY*;

inline constexpr DWORD CTL_V1 = 0;

struct CTL_INFO {
    DWORD dwVersion;
    CTL_USAGE SubjectUsage;
    CRYPT_DATA_BLOB ListIdentifier;
    CRYPT_INTEGER_BLOB SequenceNumber; // least significant byte first
    FILETIME ThisUpdate;
    FILETIME NextUpdate; // zero when absent
    CRYPT_ALGORITHM_IDENTIFIER SubjectAlgorithm;
    DWORD cCTLEntry;
    PCTL_ENTRY rgCTLEntry;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
};
using PCTL_INFO = CTL_INFO*;

struct CTL_CONTEXT {
    DWORD dwMsgAndCertEncodingType;
    BYTE* pbCtlEncoded;
    DWORD cbCtlEncoded;
    PCTL_INFO pCtlInfo;
    HCERTSTORE hCertStore; // the certificates the message carries
    HCRYPTMSG hCryptMsg;
    BYTE* pbCtlContent; // the encoded CTL_INFO
    DWORD cbCtlContent;
};
using PCCTL_CONTEXT = const CTL_CONTEXT*;

// CertFindSubjectInCTL's subject types.
inline constexpr DWORD CTL_ANY_SUBJECT_TYPE = 1;
inline constexpr DWORD CTL_CERT_SUBJECT_TYPE = 2;
struct CTL_ANY_SUBJECT_INFO {
    CRYPT_ALGORITHM_IDENTIFIER SubjectAlgorithm;
    CRYPT_DATA_BLOB SubjectIdentifier;
};

inline constexpr char szOID_CTL[] = "1.3.6.1.4.1.311.10.1";
inline constexpr char szOID_ROOT_LIST_SIGNER[] = "1.3.6.1.4.1.311.10.3.9";
inline constexpr char szOID_CERT_PROP_ID_PREFIX[] = "1.3.6.1.4.1.311.10.11.";
inline constexpr char szOID_CATALOG_LIST[] = "1.3.6.1.4.1.311.12.1.1";
inline constexpr char szOID_OIWSEC_sha1[] = "1.3.14.3.2.26";
inline constexpr char szOID_PKIX_KP_TIMESTAMP_SIGNING[] = "1.3.6.1.5.5.7.3.8";

// Authenticode's SpcSpOpusInfo and links.
inline constexpr DWORD SPC_URL_LINK_CHOICE = 1;
inline constexpr DWORD SPC_MONIKER_LINK_CHOICE = 2;
inline constexpr DWORD SPC_FILE_LINK_CHOICE = 3;

struct SPC_SERIALIZED_OBJECT {
    BYTE ClassId[16];
    CRYPT_DATA_BLOB SerializedData;
};

struct SPC_LINK {
    DWORD dwLinkChoice;
    union {
        LPWSTR pwszUrl;
        SPC_SERIALIZED_OBJECT Moniker;
        LPWSTR pwszFile;
    };
};
using PSPC_LINK = SPC_LINK*;

struct SPC_SP_OPUS_INFO {
    LPCWSTR pwszProgramName;
    PSPC_LINK pMoreInfo;
    PSPC_LINK pPublisherInfo;
};

// Store providers (numbers disguised as strings, as on Windows).
#define CERT_STORE_PROV_MSG (reinterpret_cast<LPCSTR>(1))
#define CERT_STORE_PROV_MEMORY (reinterpret_cast<LPCSTR>(2))
#define CERT_STORE_PROV_PKCS7 (reinterpret_cast<LPCSTR>(5))
#define CERT_STORE_PROV_FILENAME_W (reinterpret_cast<LPCSTR>(8))

inline constexpr DWORD CERT_STORE_NO_CRYPT_RELEASE_FLAG = 0x00000001;
inline constexpr DWORD CERT_STORE_MAXIMUM_ALLOWED_FLAG = 0x00001000;
inline constexpr DWORD CERT_STORE_CREATE_NEW_FLAG = 0x00002000;
inline constexpr DWORD CERT_STORE_OPEN_EXISTING_FLAG = 0x00004000;
inline constexpr DWORD CERT_STORE_READONLY_FLAG = 0x00008000;

inline constexpr DWORD CERT_CLOSE_STORE_FORCE_FLAG = 0x1;
inline constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 0x2;

inline constexpr DWORD CERT_STORE_ADD_NEW = 1;
inline constexpr DWORD CERT_STORE_ADD_USE_EXISTING = 2;
inline constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING = 3;
inline constexpr DWORD CERT_STORE_ADD_ALWAYS = 4;

inline constexpr DWORD CERT_STORE_SAVE_AS_STORE = 1;
inline constexpr DWORD CERT_STORE_SAVE_AS_PKCS7 = 2;
inline constexpr DWORD CERT_STORE_SAVE_TO_MEMORY = 2;
inline constexpr DWORD CERT_STORE_SAVE_TO_FILENAME_W = 4;

inline constexpr DWORD CERT_COMPARE_SHIFT = 16;
inline constexpr DWORD CERT_FIND_ANY = 0;
inline constexpr DWORD CERT_FIND_SHA1_HASH = 1u << CERT_COMPARE_SHIFT;
inline constexpr DWORD CERT_FIND_SUBJECT_CERT = 11u << CERT_COMPARE_SHIFT;
inline constexpr DWORD CERT_FIND_EXISTING = 13u << CERT_COMPARE_SHIFT;
inline constexpr DWORD CERT_FIND_HAS_PRIVATE_KEY = 21u << CERT_COMPARE_SHIFT;

inline constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
inline constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
inline constexpr DWORD CERT_HASH_PROP_ID = CERT_SHA1_HASH_PROP_ID;
inline constexpr DWORD CERT_KEY_CONTEXT_PROP_ID = 5;
inline constexpr DWORD CERT_ENHKEY_USAGE_PROP_ID = 9;
inline constexpr DWORD CERT_FRIENDLY_NAME_PROP_ID = 11;
// Windows' root program: from when a root is distrusted (for the purposes of the second), and
// for certificates issued from when (for the purposes of the fourth).
inline constexpr DWORD CERT_DISALLOWED_FILETIME_PROP_ID = 104;
inline constexpr DWORD CERT_DISALLOWED_ENHKEY_USAGE_PROP_ID = 122;
inline constexpr DWORD CERT_NOT_BEFORE_FILETIME_PROP_ID = 126;
inline constexpr DWORD CERT_NOT_BEFORE_ENHKEY_USAGE_PROP_ID = 127;

inline constexpr DWORD CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG = 0x2;
inline constexpr DWORD CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG = 0x4;

// CertNameToStr.
inline constexpr DWORD CERT_SIMPLE_NAME_STR = 1;
inline constexpr DWORD CERT_OID_NAME_STR = 2;
inline constexpr DWORD CERT_X500_NAME_STR = 3;
inline constexpr DWORD CERT_NAME_STR_SEMICOLON_FLAG = 0x40000000;
inline constexpr DWORD CERT_NAME_STR_NO_PLUS_FLAG = 0x20000000;
inline constexpr DWORD CERT_NAME_STR_NO_QUOTING_FLAG = 0x10000000;
inline constexpr DWORD CERT_NAME_STR_CRLF_FLAG = 0x08000000;
inline constexpr DWORD CERT_NAME_STR_COMMA_FLAG = 0x04000000;
inline constexpr DWORD CERT_NAME_STR_REVERSE_FLAG = 0x02000000;

// CertGetNameString.
inline constexpr DWORD CERT_NAME_EMAIL_TYPE = 1;
inline constexpr DWORD CERT_NAME_RDN_TYPE = 2;
inline constexpr DWORD CERT_NAME_ATTR_TYPE = 3;
inline constexpr DWORD CERT_NAME_SIMPLE_DISPLAY_TYPE = 4;
inline constexpr DWORD CERT_NAME_FRIENDLY_DISPLAY_TYPE = 5;
inline constexpr DWORD CERT_NAME_DNS_TYPE = 6;
inline constexpr DWORD CERT_NAME_URL_TYPE = 7;
inline constexpr DWORD CERT_NAME_UPN_TYPE = 8;
inline constexpr DWORD CERT_NAME_ISSUER_FLAG = 0x1;

// CryptFindOIDInfo.
inline constexpr DWORD CRYPT_OID_INFO_OID_KEY = 1;
inline constexpr DWORD CRYPT_OID_INFO_NAME_KEY = 2;
inline constexpr DWORD CRYPT_OID_INFO_ALGID_KEY = 3;
inline constexpr DWORD CRYPT_HASH_ALG_OID_GROUP_ID = 1;
inline constexpr DWORD CRYPT_ENCRYPT_ALG_OID_GROUP_ID = 2;
inline constexpr DWORD CRYPT_PUBKEY_ALG_OID_GROUP_ID = 3;
inline constexpr DWORD CRYPT_SIGN_ALG_OID_GROUP_ID = 4;
inline constexpr DWORD CRYPT_RDN_ATTR_OID_GROUP_ID = 5;
inline constexpr DWORD CRYPT_EXT_OR_ATTR_OID_GROUP_ID = 6;
inline constexpr DWORD CRYPT_ENHKEY_USAGE_OID_GROUP_ID = 7;
inline constexpr DWORD CRYPT_POLICY_OID_GROUP_ID = 8;

// Key usage bits (first byte; decipher-only is the top bit of the second byte).
inline constexpr BYTE CERT_DIGITAL_SIGNATURE_KEY_USAGE = 0x80;
inline constexpr BYTE CERT_NON_REPUDIATION_KEY_USAGE = 0x40;
inline constexpr BYTE CERT_KEY_ENCIPHERMENT_KEY_USAGE = 0x20;
inline constexpr BYTE CERT_DATA_ENCIPHERMENT_KEY_USAGE = 0x10;
inline constexpr BYTE CERT_KEY_AGREEMENT_KEY_USAGE = 0x08;
inline constexpr BYTE CERT_KEY_CERT_SIGN_KEY_USAGE = 0x04;
inline constexpr BYTE CERT_OFFLINE_CRL_SIGN_KEY_USAGE = 0x02;
inline constexpr BYTE CERT_CRL_SIGN_KEY_USAGE = 0x02;
inline constexpr BYTE CERT_ENCIPHER_ONLY_KEY_USAGE = 0x01;
inline constexpr BYTE CERT_DECIPHER_ONLY_KEY_USAGE = 0x80;

// CryptBinaryToString / CryptStringToBinary.
inline constexpr DWORD CRYPT_STRING_BASE64HEADER = 0x0;
inline constexpr DWORD CRYPT_STRING_BASE64 = 0x1;
inline constexpr DWORD CRYPT_STRING_BINARY = 0x2;
inline constexpr DWORD CRYPT_STRING_HEX = 0x4;
inline constexpr DWORD CRYPT_STRING_BASE64_ANY = 0x6;
inline constexpr DWORD CRYPT_STRING_ANY = 0x7;
inline constexpr DWORD CRYPT_STRING_HEX_ANY = 0x8;
inline constexpr DWORD CRYPT_STRING_HEXRAW = 0xC;
inline constexpr DWORD CRYPT_STRING_NOCRLF = 0x40000000;
inline constexpr DWORD CRYPT_STRING_NOCR = 0x80000000;

// Structure types of CryptDecodeObject given as numbers; OID texts are accepted as well.
#define X509_NAME (reinterpret_cast<LPCSTR>(7))
#define PKCS_UTC_TIME (reinterpret_cast<LPCSTR>(17))
#define X509_ENHANCED_KEY_USAGE (reinterpret_cast<LPCSTR>(36))
#define PKCS7_SIGNER_INFO (reinterpret_cast<LPCSTR>(500))

inline constexpr char szOID_RSA_signingTime[] = "1.2.840.113549.1.9.5";
inline constexpr char szOID_RSA_counterSign[] = "1.2.840.113549.1.9.6";
inline constexpr char SPC_SP_OPUS_INFO_OBJID[] = "1.3.6.1.4.1.311.2.1.12";
inline constexpr char szOID_RFC3161_counterSign[] = "1.3.6.1.4.1.311.3.3.1";
inline constexpr char szOID_PKIX_KP_CODE_SIGNING[] = "1.3.6.1.5.5.7.3.3";
inline constexpr char szOID_ENHANCED_KEY_USAGE[] = "2.5.29.37";
inline constexpr char szOID_KEY_USAGE[] = "2.5.29.15";
inline constexpr char szOID_KEY_ATTRIBUTES[] = "2.5.29.2";

// Messages.
inline constexpr DWORD CMSG_SIGNED = 2;
inline constexpr DWORD CMSG_TYPE_PARAM = 1;
inline constexpr DWORD CMSG_CONTENT_PARAM = 2;
inline constexpr DWORD CMSG_INNER_CONTENT_TYPE_PARAM = 4;
inline constexpr DWORD CMSG_SIGNER_COUNT_PARAM = 5;
inline constexpr DWORD CMSG_SIGNER_INFO_PARAM = 6;
inline constexpr DWORD CMSG_SIGNER_CERT_INFO_PARAM = 7;
inline constexpr DWORD CMSG_CERT_COUNT_PARAM = 11;
inline constexpr DWORD CMSG_CERT_PARAM = 12;
inline constexpr DWORD CMSG_CRL_COUNT_PARAM = 13;
inline constexpr DWORD CMSG_CRL_PARAM = 14;
inline constexpr DWORD CMSG_ENCODED_MESSAGE = 29;

// CryptMsgGetAndVerifySigner.
inline constexpr DWORD CMSG_TRUSTED_SIGNER_FLAG = 0x1;
inline constexpr DWORD CMSG_SIGNER_ONLY_FLAG = 0x2;
inline constexpr DWORD CMSG_USE_SIGNER_INDEX_FLAG = 0x4;

// Certificate chains as the chain engine judged them. An element's and a chain's trust status:
// what is wrong (dwErrorStatus) and what is known (dwInfoStatus).
struct CERT_TRUST_STATUS {
    DWORD dwErrorStatus;
    DWORD dwInfoStatus;
};
using PCERT_TRUST_STATUS = CERT_TRUST_STATUS*;

inline constexpr DWORD CERT_TRUST_NO_ERROR = 0x00000000;
inline constexpr DWORD CERT_TRUST_IS_NOT_TIME_VALID = 0x00000001;
inline constexpr DWORD CERT_TRUST_IS_NOT_TIME_NESTED = 0x00000002;
inline constexpr DWORD CERT_TRUST_IS_REVOKED = 0x00000004;
inline constexpr DWORD CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x00000008;
inline constexpr DWORD CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x00000010;
inline constexpr DWORD CERT_TRUST_IS_UNTRUSTED_ROOT = 0x00000020;
inline constexpr DWORD CERT_TRUST_REVOCATION_STATUS_UNKNOWN = 0x00000040;
inline constexpr DWORD CERT_TRUST_IS_CYCLIC = 0x00000080;
inline constexpr DWORD CERT_TRUST_INVALID_EXTENSION = 0x00000100;
inline constexpr DWORD CERT_TRUST_INVALID_POLICY_CONSTRAINTS = 0x00000200;
inline constexpr DWORD CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x00000400;
inline constexpr DWORD CERT_TRUST_INVALID_NAME_CONSTRAINTS = 0x00000800;
inline constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT = 0x00001000;
inline constexpr DWORD CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT = 0x00002000;
inline constexpr DWORD CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT = 0x00004000;
inline constexpr DWORD CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT = 0x00008000;
// Of chains only, never of an element.
inline constexpr DWORD CERT_TRUST_IS_PARTIAL_CHAIN = 0x00010000;
inline constexpr DWORD CERT_TRUST_CTL_IS_NOT_TIME_VALID = 0x00020000;
inline constexpr DWORD CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID = 0x00040000;
inline constexpr DWORD CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE = 0x00080000;
inline constexpr DWORD CERT_TRUST_HAS_WEAK_SIGNATURE = 0x00100000;
inline constexpr DWORD CERT_TRUST_IS_OFFLINE_REVOCATION = 0x01000000;
inline constexpr DWORD CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY = 0x02000000;
inline constexpr DWORD CERT_TRUST_IS_EXPLICIT_DISTRUST = 0x04000000;
inline constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT = 0x08000000;

inline constexpr DWORD CERT_TRUST_HAS_EXACT_MATCH_ISSUER = 0x00000001;
inline constexpr DWORD CERT_TRUST_HAS_KEY_MATCH_ISSUER = 0x00000002;
inline constexpr DWORD CERT_TRUST_HAS_NAME_MATCH_ISSUER = 0x00000004;
inline constexpr DWORD CERT_TRUST_IS_SELF_SIGNED = 0x00000008;
inline constexpr DWORD CERT_TRUST_HAS_PREFERRED_ISSUER = 0x00000100;
inline constexpr DWORD CERT_TRUST_HAS_ISSUANCE_CHAIN_POLICY = 0x00000200;
inline constexpr DWORD CERT_TRUST_HAS_VALID_NAME_CONSTRAINTS = 0x00000400;
inline constexpr DWORD CERT_TRUST_IS_PEER_TRUSTED = 0x00000800;
inline constexpr DWORD CERT_TRUST_HAS_CRL_VALIDITY_EXTENDED = 0x00001000;
inline constexpr DWORD CERT_TRUST_IS_FROM_EXCLUSIVE_TRUST_STORE = 0x00002000;
inline constexpr DWORD CERT_TRUST_IS_CA_TRUSTED = 0x00004000;
inline constexpr DWORD CERT_TRUST_IS_COMPLEX_CHAIN = 0x00010000;

// A revoked certificate's entry in its issuer's list.
struct CRL_ENTRY {
    CRYPT_INTEGER_BLOB SerialNumber; // least significant byte first
    FILETIME RevocationDate;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension; // the reason among them (szOID_CRL_REASON_CODE)
};
using PCRL_ENTRY = CRL_ENTRY*;

inline constexpr char szOID_CRL_REASON_CODE[] = "2.5.29.21";

struct CERT_REVOCATION_CRL_INFO {
    DWORD cbSize;
    PCCRL_CONTEXT pBaseCrlContext;
    PCCRL_CONTEXT pDeltaCrlContext;
    PCRL_ENTRY pCrlEntry; // the certificate's entry when it is revoked
    BOOL fDeltaCrlEntry;
};
using PCERT_REVOCATION_CRL_INFO = CERT_REVOCATION_CRL_INFO*;

struct CERT_REVOCATION_INFO {
    DWORD cbSize;
    // ERROR_SUCCESS (checked, not revoked), CRYPT_E_REVOKED, CRYPT_E_NO_REVOCATION_CHECK (the
    // certificate names nowhere to ask) or CRYPT_E_REVOCATION_OFFLINE (no list could be had).
    DWORD dwRevocationResult;
    LPCSTR pszRevocationOid;
    LPVOID pvOidSpecificInfo;
    BOOL fHasFreshnessTime;
    DWORD dwFreshnessTime;
    PCERT_REVOCATION_CRL_INFO pCrlInfo;
};
using PCERT_REVOCATION_INFO = CERT_REVOCATION_INFO*;

struct CERT_CHAIN_ELEMENT {
    DWORD cbSize;
    PCCERT_CONTEXT pCertContext;
    CERT_TRUST_STATUS TrustStatus;
    PCERT_REVOCATION_INFO pRevocationInfo; // null when revocation was not checked
    PCERT_ENHKEY_USAGE pIssuanceUsage;
    PCERT_ENHKEY_USAGE pApplicationUsage;
    LPCWSTR pwszExtendedErrorInfo;
};
using PCERT_CHAIN_ELEMENT = CERT_CHAIN_ELEMENT*;

struct CERT_TRUST_LIST_INFO;

struct CERT_SIMPLE_CHAIN {
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cElement;
    PCERT_CHAIN_ELEMENT* rgpElement; // the end certificate first
    CERT_TRUST_LIST_INFO* pTrustListInfo;
    BOOL fHasRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
};
using PCERT_SIMPLE_CHAIN = CERT_SIMPLE_CHAIN*;

struct CERT_CHAIN_CONTEXT;
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;
struct CERT_CHAIN_CONTEXT {
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cChain;
    PCERT_SIMPLE_CHAIN* rgpChain;
    DWORD cLowerQualityChainContext;
    PCCERT_CHAIN_CONTEXT* rgpLowerQualityChainContext;
    BOOL fHasRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
    DWORD dwCreateFlags;
    GUID ChainId;
};

// Where the chain engine found a certificate of a chain: a DWORD property of the contexts that
// wintrust hands out. Windows has no such property; this one is in the range left to
// applications.
inline constexpr DWORD CERT_FIRST_USER_PROP_ID = 0x00008000;
inline constexpr DWORD TESSERA_CERT_SOURCE_PROP_ID = CERT_FIRST_USER_PROP_ID + 1;
inline constexpr DWORD TESSERA_CERT_SOURCE_SIGNATURE = 1;     // the certificates the signature carries
inline constexpr DWORD TESSERA_CERT_SOURCE_SYSTEM_STORE = 2;  // the system's trust store
inline constexpr DWORD TESSERA_CERT_SOURCE_CERT_FILE = 3;     // the file SSL_CERT_FILE names
inline constexpr DWORD TESSERA_CERT_SOURCE_CERT_DIR = 4;      // the folders SSL_CERT_DIR names
inline constexpr DWORD TESSERA_CERT_SOURCE_BUILT_IN = 5;      // the roots built into the program
inline constexpr DWORD TESSERA_CERT_SOURCE_ROOT_LIST = 6;     // the roots of a root list dropped in

extern "C" {

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                                DWORD dwFlags, const void* pvPara);
BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                 DWORD dwFindFlags, DWORD dwFindType, const void* pvFindPara,
                                                 PCCERT_CONTEXT pPrevCertContext);
PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                   DWORD cbCertEncoded);
PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                             DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                             const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                             DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext);
PCCRL_CONTEXT WINAPI CertEnumCRLsInStore(HCERTSTORE hCertStore, PCCRL_CONTEXT pPrevCrlContext);
BOOL WINAPI CertFreeCRLContext(PCCRL_CONTEXT pCrlContext);
BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                              DWORD* pcbData);
BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                              const void* pvData);
BOOL WINAPI CertCompareCertificate(DWORD dwCertEncodingType, PCERT_INFO pCertId1, PCERT_INFO pCertId2);

HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags);
BOOL WINAPI CertSaveStore(HCERTSTORE hCertStore, DWORD dwEncodingType, DWORD dwSaveAs, DWORD dwSaveTo,
                          void* pvSaveToPara, DWORD dwFlags);

DWORD WINAPI CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPWSTR psz,
                            DWORD csz);
DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, void* pvTypePara,
                                LPWSTR pszNameString, DWORD cchNameString);
PCCRYPT_OID_INFO WINAPI CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId);
BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo, BYTE* pbKeyUsage,
                                    DWORD cbKeyUsage);
BOOL WINAPI CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags, PCERT_ENHKEY_USAGE pUsage,
                                    DWORD* pcbUsage);
// The key's size in bits: RSA modulus bits, the curve's size for EC keys, 255/448 for Ed25519/Ed448,
// DSA prime bits; 0 when the key cannot be read.
DWORD WINAPI CertGetPublicKeyLength(DWORD dwCertEncodingType, CERT_PUBLIC_KEY_INFO* pPublicKey);
BOOL WINAPI CryptHashCertificate(HCRYPTPROV_LEGACY hCryptProv, ALG_ID Algid, DWORD dwFlags, const BYTE* pbEncoded,
                                 DWORD cbEncoded, BYTE* pbComputedHash, DWORD* pcbComputedHash);
BOOL WINAPI CryptBinaryToStringW(const BYTE* pbBinary, DWORD cbBinary, DWORD dwFlags, LPWSTR pszString,
                                 DWORD* pcchString);
BOOL WINAPI CryptStringToBinaryW(LPCWSTR pszString, DWORD cchString, DWORD dwFlags, BYTE* pbBinary,
                                 DWORD* pcbBinary, DWORD* pdwSkip, DWORD* pdwFlags);
BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                              DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);

HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                      HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo, void* pStreamInfo);
BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal);
BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData, DWORD* pcbData);
HCRYPTMSG WINAPI CryptMsgDuplicate(HCRYPTMSG hCryptMsg);
BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg);
// The signer whose signature over the content holds, found among the message's certificates and
// the stores given (only the stores with CMSG_TRUSTED_SIGNER_FLAG); the caller frees *ppSigner.
BOOL WINAPI CryptMsgGetAndVerifySigner(HCRYPTMSG hCryptMsg, DWORD cSignerStore, HCERTSTORE* rghSignerStore,
                                       DWORD dwFlags, PCCERT_CONTEXT* ppSigner, DWORD* pdwSignerIndex);

PCCTL_CONTEXT WINAPI CertCreateCTLContext(DWORD dwMsgAndCertEncodingType, const BYTE* pbCtlEncoded,
                                          DWORD cbCtlEncoded);
PCCTL_CONTEXT WINAPI CertDuplicateCTLContext(PCCTL_CONTEXT pCtlContext);
BOOL WINAPI CertFreeCTLContext(PCCTL_CONTEXT pCtlContext);
PCTL_ENTRY WINAPI CertFindSubjectInCTL(DWORD dwEncodingType, DWORD dwSubjectType, void* pvSubject,
                                       PCCTL_CONTEXT pCtlContext, DWORD dwFlags);
// Each attribute of the entry named szOID_CERT_PROP_ID_PREFIX + a property id becomes that
// property of the certificate, its value the content of the attribute's OCTET STRING.
BOOL WINAPI CertSetCertificateContextPropertiesFromCTLEntry(PCCERT_CONTEXT pCertContext, PCTL_ENTRY pCtlEntry,
                                                            DWORD dwFlags);

} // extern "C"
