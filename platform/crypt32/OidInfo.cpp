// CryptFindOIDInfo over a table of our own, with the friendly names Windows shows.
#include "platform/crypt32/Ossl.h"

#include "platform/common/WinStr.h"

#include <cstring>
#include <string_view>

namespace {

constexpr ALG_ID CalgMd2 = 0x8001;
constexpr ALG_ID CalgMd4 = 0x8002;
constexpr ALG_ID CalgRsaKeyx = 0xA400;
constexpr ALG_ID CalgDssSign = 0x2200;
constexpr ALG_ID CalgDhSf = 0xAA01;
constexpr ALG_ID CalgRc2 = 0x6602;
constexpr ALG_ID CalgRc4 = 0x6801;
constexpr ALG_ID CalgDes = 0x6601;
constexpr ALG_ID Calg3Des = 0x6603;
constexpr ALG_ID CalgAes128 = 0x660E;
constexpr ALG_ID CalgAes192 = 0x660F;
constexpr ALG_ID CalgAes256 = 0x6610;

constexpr DWORD Hash = CRYPT_HASH_ALG_OID_GROUP_ID;
constexpr DWORD Encrypt = CRYPT_ENCRYPT_ALG_OID_GROUP_ID;
constexpr DWORD PublicKey = CRYPT_PUBKEY_ALG_OID_GROUP_ID;
constexpr DWORD Sign = CRYPT_SIGN_ALG_OID_GROUP_ID;
constexpr DWORD Rdn = CRYPT_RDN_ATTR_OID_GROUP_ID;
constexpr DWORD ExtOrAttr = CRYPT_EXT_OR_ATTR_OID_GROUP_ID;
constexpr DWORD Usage = CRYPT_ENHKEY_USAGE_OID_GROUP_ID;
constexpr DWORD Policy = CRYPT_POLICY_OID_GROUP_ID;

constexpr CRYPT_OID_INFO Entry(LPCSTR oid, LPCWSTR name, DWORD group, ALG_ID algid = 0)
{
    CRYPT_OID_INFO info{};
    info.cbSize = sizeof(CRYPT_OID_INFO);
    info.pszOID = oid;
    info.pwszName = name;
    info.dwGroupId = group;
    info.Algid = algid;
    return info;
}

// Hash algorithms come first, so that a look-up by ALG_ID in any group finds the hash.
constexpr CRYPT_OID_INFO Table[] = {
    Entry("1.2.840.113549.2.5", u"md5", Hash, CALG_MD5),
    Entry("1.3.14.3.2.26", u"sha1", Hash, CALG_SHA1),
    Entry("2.16.840.1.101.3.4.2.1", u"sha256", Hash, CALG_SHA_256),
    Entry("2.16.840.1.101.3.4.2.2", u"sha384", Hash, CALG_SHA_384),
    Entry("2.16.840.1.101.3.4.2.3", u"sha512", Hash, CALG_SHA_512),
    Entry("1.2.840.113549.2.2", u"md2", Hash, CalgMd2),
    Entry("1.2.840.113549.2.4", u"md4", Hash, CalgMd4),

    Entry("1.2.840.113549.3.2", u"rc2", Encrypt, CalgRc2),
    Entry("1.2.840.113549.3.4", u"rc4", Encrypt, CalgRc4),
    Entry("1.3.14.3.2.7", u"des", Encrypt, CalgDes),
    Entry("1.2.840.113549.3.7", u"3des", Encrypt, Calg3Des),
    Entry("2.16.840.1.101.3.4.1.2", u"aes128", Encrypt, CalgAes128),
    Entry("2.16.840.1.101.3.4.1.22", u"aes192", Encrypt, CalgAes192),
    Entry("2.16.840.1.101.3.4.1.42", u"aes256", Encrypt, CalgAes256),

    Entry("1.2.840.113549.1.1.1", u"RSA", PublicKey, CalgRsaKeyx),
    Entry("1.2.840.10040.4.1", u"DSA", PublicKey, CalgDssSign),
    Entry("1.3.14.3.2.12", u"DSA", PublicKey, CalgDssSign),
    Entry("1.2.840.10046.2.1", u"DH", PublicKey, CalgDhSf),
    Entry("1.2.840.113549.1.3.1", u"DH", PublicKey, CalgDhSf),
    Entry("1.2.840.10045.2.1", u"ECC", PublicKey),
    Entry("1.3.132.1.12", u"ECDH", PublicKey),
    Entry("1.2.840.113549.1.1.7", u"RSAES-OAEP", PublicKey),
    Entry("1.3.14.3.2.22", u"RSA_KEYX", PublicKey, CalgRsaKeyx),

    Entry("1.2.840.113549.1.1.4", u"md5RSA", Sign, CALG_MD5),
    Entry("1.2.840.113549.1.1.5", u"sha1RSA", Sign, CALG_SHA1),
    Entry("1.2.840.113549.1.1.11", u"sha256RSA", Sign, CALG_SHA_256),
    Entry("1.2.840.113549.1.1.12", u"sha384RSA", Sign, CALG_SHA_384),
    Entry("1.2.840.113549.1.1.13", u"sha512RSA", Sign, CALG_SHA_512),
    Entry("1.2.840.113549.1.1.10", u"RSASSA-PSS", Sign),
    Entry("1.2.840.113549.1.1.2", u"md2RSA", Sign, CalgMd2),
    Entry("1.2.840.113549.1.1.3", u"md4RSA", Sign, CalgMd4),
    Entry("1.3.14.3.2.29", u"sha1RSA", Sign, CALG_SHA1),
    Entry("1.3.14.3.2.3", u"md5RSA", Sign, CALG_MD5),
    Entry("1.2.840.10040.4.3", u"sha1DSA", Sign, CALG_SHA1),
    Entry("1.3.14.3.2.27", u"dsaSHA1", Sign, CALG_SHA1),
    Entry("1.2.840.10045.4.1", u"sha1ECDSA", Sign, CALG_SHA1),
    Entry("1.2.840.10045.4.3.2", u"sha256ECDSA", Sign, CALG_SHA_256),
    Entry("1.2.840.10045.4.3.3", u"sha384ECDSA", Sign, CALG_SHA_384),
    Entry("1.2.840.10045.4.3.4", u"sha512ECDSA", Sign, CALG_SHA_512),
    Entry("1.2.840.10045.4.3", u"specifiedECDSA", Sign),

    Entry("2.5.4.3", u"CN", Rdn),
    Entry("2.5.4.7", u"L", Rdn),
    Entry("2.5.4.10", u"O", Rdn),
    Entry("2.5.4.11", u"OU", Rdn),
    Entry("1.2.840.113549.1.9.1", u"E", Rdn),
    Entry("2.5.4.6", u"C", Rdn),
    Entry("2.5.4.8", u"S", Rdn),
    Entry("2.5.4.9", u"STREET", Rdn),
    Entry("2.5.4.12", u"T", Rdn),
    Entry("2.5.4.42", u"G", Rdn),
    Entry("2.5.4.43", u"I", Rdn),
    Entry("2.5.4.4", u"SN", Rdn),
    Entry("0.9.2342.19200300.100.1.25", u"DC", Rdn),
    Entry("2.5.4.5", u"SERIALNUMBER", Rdn),
    Entry("2.5.4.13", u"Description", Rdn),
    Entry("2.5.4.17", u"PostalCode", Rdn),
    Entry("2.5.4.18", u"POBox", Rdn),
    Entry("2.5.4.20", u"Phone", Rdn),
    Entry("2.5.4.24", u"X21Address", Rdn),
    Entry("2.5.4.46", u"dnQualifier", Rdn),

    Entry("2.5.29.14", u"Subject Key Identifier", ExtOrAttr),
    Entry("2.5.29.15", u"Key Usage", ExtOrAttr),
    Entry("2.5.29.17", u"Subject Alternative Name", ExtOrAttr),
    Entry("2.5.29.18", u"Issuer Alternative Name", ExtOrAttr),
    Entry("2.5.29.19", u"Basic Constraints", ExtOrAttr),
    Entry("2.5.29.20", u"CRL Number", ExtOrAttr),
    Entry("2.5.29.21", u"CRL Reason Code", ExtOrAttr),
    Entry("2.5.29.27", u"Delta CRL Indicator", ExtOrAttr),
    Entry("2.5.29.28", u"Issuing Distribution Point", ExtOrAttr),
    Entry("2.5.29.30", u"Name Constraints", ExtOrAttr),
    Entry("2.5.29.31", u"CRL Distribution Points", ExtOrAttr),
    Entry("2.5.29.32", u"Certificate Policies", ExtOrAttr),
    Entry("2.5.29.33", u"Policy Mappings", ExtOrAttr),
    Entry("2.5.29.35", u"Authority Key Identifier", ExtOrAttr),
    Entry("2.5.29.36", u"Policy Constraints", ExtOrAttr),
    Entry("2.5.29.37", u"Enhanced Key Usage", ExtOrAttr),
    Entry("2.5.29.46", u"Freshest CRL", ExtOrAttr),
    Entry("2.5.29.1", u"Authority Key Identifier", ExtOrAttr),
    Entry("2.5.29.7", u"Subject Alternative Name", ExtOrAttr),
    Entry("2.5.29.8", u"Issuer Alternative Name", ExtOrAttr),
    Entry("2.5.29.10", u"Basic Constraints", ExtOrAttr),
    Entry("1.3.6.1.5.5.7.1.1", u"Authority Information Access", ExtOrAttr),
    Entry("1.3.6.1.5.5.7.1.11", u"Subject Information Access", ExtOrAttr),
    Entry("1.3.6.1.4.1.11129.2.4.2", u"SCT List", ExtOrAttr),
    Entry("1.3.6.1.5.5.7.48.1.5", u"OCSP No Revocation Checking", ExtOrAttr),
    Entry("1.3.6.1.4.1.311.20.2", u"Certificate Template Name", ExtOrAttr),
    Entry("1.3.6.1.4.1.311.21.7", u"Certificate Template Information", ExtOrAttr),
    Entry("1.3.6.1.4.1.311.21.10", u"Application Policies", ExtOrAttr),
    Entry("1.3.6.1.4.1.311.21.1", u"CA Version", ExtOrAttr),
    Entry("1.3.6.1.4.1.311.21.2", u"Previous CA Certificate Hash", ExtOrAttr),
    Entry("2.16.840.1.113730.1.1", u"Netscape Cert Type", ExtOrAttr),
    Entry("2.16.840.1.113730.1.13", u"Netscape Comment", ExtOrAttr),
    Entry("1.2.840.113549.1.9.3", u"Content Type", ExtOrAttr),
    Entry("1.2.840.113549.1.9.4", u"Message Digest", ExtOrAttr),
    Entry("1.2.840.113549.1.9.5", u"Signing Time", ExtOrAttr),
    Entry("1.2.840.113549.1.9.6", u"Counter Signature", ExtOrAttr),
    Entry("1.2.840.113549.1.9.15", u"SMIME Capabilities", ExtOrAttr),

    Entry("1.3.6.1.5.5.7.3.1", u"Server Authentication", Usage),
    Entry("1.3.6.1.5.5.7.3.2", u"Client Authentication", Usage),
    Entry("1.3.6.1.5.5.7.3.3", u"Code Signing", Usage),
    Entry("1.3.6.1.5.5.7.3.4", u"Secure Email", Usage),
    Entry("1.3.6.1.5.5.7.3.5", u"IP security end system", Usage),
    Entry("1.3.6.1.5.5.7.3.6", u"IP security tunnel termination", Usage),
    Entry("1.3.6.1.5.5.7.3.7", u"IP security user", Usage),
    Entry("1.3.6.1.5.5.7.3.8", u"Time Stamping", Usage),
    Entry("1.3.6.1.5.5.7.3.9", u"OCSP Signing", Usage),
    Entry("1.3.6.1.5.5.8.2.2", u"IP security IKE intermediate", Usage),
    Entry("1.3.6.1.5.2.3.5", u"KDC Authentication", Usage),
    Entry("2.5.29.37.0", u"Any Purpose", Usage),
    Entry("1.3.6.1.4.1.311.10.3.1", u"Microsoft Trust List Signing", Usage),
    Entry("1.3.6.1.4.1.311.10.3.2", u"Microsoft Time Stamping", Usage),
    Entry("1.3.6.1.4.1.311.10.3.3", u"Microsoft Server Gated Crypto", Usage),
    Entry("1.3.6.1.4.1.311.10.3.4", u"Encrypting File System", Usage),
    Entry("1.3.6.1.4.1.311.10.3.4.1", u"File Recovery", Usage),
    Entry("1.3.6.1.4.1.311.10.3.5", u"Windows Hardware Driver Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.5.1", u"Windows Hardware Driver Attested Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.6", u"Windows System Component Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.7", u"OEM Windows System Component Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.8", u"Embedded Windows System Component Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.9", u"Root List Signer", Usage),
    Entry("1.3.6.1.4.1.311.10.3.10", u"Qualified Subordination", Usage),
    Entry("1.3.6.1.4.1.311.10.3.11", u"Key Recovery", Usage),
    Entry("1.3.6.1.4.1.311.10.3.12", u"Document Signing", Usage),
    Entry("1.3.6.1.4.1.311.10.3.13", u"Lifetime Signing", Usage),
    Entry("1.3.6.1.4.1.311.10.3.19", u"Revoked List Signer", Usage),
    Entry("1.3.6.1.4.1.311.10.3.20", u"Windows Kits Component", Usage),
    Entry("1.3.6.1.4.1.311.10.3.21", u"Windows RT Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.22", u"Protected Process Light Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.23", u"Windows TCB Component", Usage),
    Entry("1.3.6.1.4.1.311.10.3.24", u"Protected Process Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.25", u"Windows Third Party Application Component", Usage),
    Entry("1.3.6.1.4.1.311.10.3.26", u"Windows Software Extension Verification", Usage),
    Entry("1.3.6.1.4.1.311.10.3.27", u"Preview Build Signing", Usage),
    Entry("1.3.6.1.4.1.311.10.5.1", u"Digital Rights", Usage),
    Entry("1.3.6.1.4.1.311.10.6.1", u"Key Pack Licenses", Usage),
    Entry("1.3.6.1.4.1.311.10.6.2", u"License Server Verification", Usage),
    Entry("1.3.6.1.4.1.311.20.2.1", u"Certificate Request Agent", Usage),
    Entry("1.3.6.1.4.1.311.20.2.2", u"Smart Card Logon", Usage),
    Entry("1.3.6.1.4.1.311.21.5", u"Private Key Archival", Usage),
    Entry("1.3.6.1.4.1.311.21.6", u"Key Recovery Agent", Usage),
    Entry("1.3.6.1.4.1.311.21.19", u"Directory Service Email Replication", Usage),
    Entry("1.3.6.1.4.1.311.61.1.1", u"Kernel Mode Code Signing", Usage),
    Entry("1.3.6.1.4.1.311.61.4.1", u"Early Launch Antimalware Driver", Usage),
    Entry("1.3.6.1.4.1.311.61.5.1", u"HAL Extension", Usage),
    Entry("1.3.6.1.4.1.311.64.1.1", u"Domain Name System (DNS) Server Trust", Usage),
    Entry("1.3.6.1.4.1.311.76.3.1", u"Windows Store", Usage),
    Entry("1.3.6.1.4.1.311.76.5.1", u"Dynamic Code Generator", Usage),
    Entry("1.3.6.1.4.1.311.76.6.1", u"Windows Update", Usage),
    Entry("1.3.6.1.4.1.311.76.8.1", u"Microsoft Publisher", Usage),
    Entry("1.3.6.1.4.1.311.80.1", u"Document Encryption", Usage),
    Entry("1.3.6.1.4.1.311.10.12.1", u"Any Application Policy", Usage),
    Entry("1.3.6.1.4.1.311.47.1.1", u"System Health Authentication", Usage),

    Entry("2.5.29.32.0", u"All issuance policies", Policy),
};

bool InGroup(const CRYPT_OID_INFO& info, DWORD group) { return group == 0 || info.dwGroupId == group; }

} // namespace

extern "C" {

WINAPI_EXPORT PCCRYPT_OID_INFO WINAPI CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId)
{
    // The high bits carry key-length and preference flags that do not select entries here.
    const DWORD group = dwGroupId & 0xFFFF;
    if (!pvKey)
        return nullptr;
    for (const CRYPT_OID_INFO& info : Table) {
        if (!InGroup(info, group))
            continue;
        switch (dwKeyType) {
        case CRYPT_OID_INFO_OID_KEY:
            if (std::strcmp(info.pszOID, static_cast<const char*>(pvKey)) == 0)
                return &info;
            break;
        case CRYPT_OID_INFO_NAME_KEY:
            if (winstr::EqualsIgnoreAsciiCase(std::u16string_view(info.pwszName),
                                              winstr::View(static_cast<LPCWSTR>(pvKey))))
                return &info;
            break;
        case CRYPT_OID_INFO_ALGID_KEY:
            if (info.Algid != 0 && info.Algid == *static_cast<const ALG_ID*>(pvKey))
                return &info;
            break;
        default: return nullptr;
        }
    }
    return nullptr;
}

} // extern "C"
