#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include "platform/common/Calendar.h"
#include "platform/common/WinStr.h"

#include <openssl/bio.h>
#include <openssl/evp.h>

namespace crypt32test {

std::u16string U16(const std::string& text) { return winstr::FromUtf8(text); }
std::string Narrow(std::u16string_view text) { return winstr::ToUtf8(text); }

std::filesystem::path CertFixture(const std::string& name) { return testsupport::Fixture("certs/" + name); }

StorePtr OpenFileStore(const std::filesystem::path& path)
{
    const std::u16string wide = U16(path.string());
    return StorePtr(CertOpenStore(CERT_STORE_PROV_FILENAME_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                  CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, wide.c_str()));
}

ContextPtr LoadCert(const std::string& fixture)
{
    const StorePtr store = OpenFileStore(CertFixture(fixture));
    if (!store)
        return nullptr;
    return ContextPtr(CertEnumCertificatesInStore(store.get(), nullptr));
}

std::vector<Bytes> StoreCertificates(HCERTSTORE store)
{
    std::vector<Bytes> out;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c;
         c = CertEnumCertificatesInStore(store, c))
        out.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
    return out;
}

const CERT_EXTENSION* FindExtension(const CERT_INFO* info, const char* oid)
{
    for (DWORD i = 0; i < info->cExtension; ++i)
        if (std::string_view(info->rgExtension[i].pszObjId) == oid)
            return &info->rgExtension[i];
    return nullptr;
}

std::vector<Bytes> PemCertificates(const std::filesystem::path& path)
{
    std::vector<Bytes> out;
    BIO* bio = BIO_new_file(path.string().c_str(), "r");
    if (!bio)
        return out;
    while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        unsigned char* der = nullptr;
        const int len = i2d_X509(x, &der);
        out.emplace_back(der, der + len);
        OPENSSL_free(der);
        X509_free(x);
    }
    BIO_free(bio);
    return out;
}

std::string Hex(const BYTE* data, size_t size)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += Digits[data[i] >> 4];
        text += Digits[data[i] & 0xF];
    }
    return text;
}

std::string Sha1Hex(const Bytes& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_sha1(), nullptr);
    return Hex(digest, len);
}

uint64_t Ticks(const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

uint64_t TicksOf(int year, int month, int day, int hour, int minute, int second)
{
    const int64_t days = calendar::DaysFromCivil(year, month, day) - calendar::DaysFromCivil(1601, 1, 1);
    return static_cast<uint64_t>(days * 86400 + hour * 3600 + minute * 60 + second) * 10'000'000u;
}

Bytes Der(uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n <= 0xFF) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(static_cast<uint8_t>(n & 0xFF));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

} // namespace crypt32test
