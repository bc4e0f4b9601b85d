#include "platform/wintrust/Ossl.h"

#include "platform/common/SignerCheck.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <array>

namespace wintrust {

HRESULT TakeOpenSslError(HRESULT fallback)
{
    HRESULT result = fallback;
    const unsigned long first = ERR_peek_error();
    if (first != 0 && ERR_GET_REASON(first) == ERR_R_MALLOC_FAILURE)
        result = E_OUTOFMEMORY;
    ERR_clear_error();
    return result;
}

std::string OidText(const ASN1_OBJECT* oid)
{
    if (!oid)
        return {};
    std::array<char, 128> text{};
    const int length = OBJ_obj2txt(text.data(), static_cast<int>(text.size()), oid, 1);
    if (length <= 0 || static_cast<size_t>(length) >= text.size()) {
        ERR_clear_error();
        return {};
    }
    return std::string(text.data(), static_cast<size_t>(length));
}

std::span<const uint8_t> StringBytes(const ASN1_STRING* s)
{
    if (!s || ASN1_STRING_length(s) <= 0)
        return {};
    return {ASN1_STRING_get0_data(s), static_cast<size_t>(ASN1_STRING_length(s))};
}

std::optional<int64_t> UnixTimeOf(const ASN1_TIME* time)
{
    if (!time)
        return std::nullopt;
    int days = 0;
    int seconds = 0;
    // The difference from the epoch, computed by OpenSSL without the C library's time_t limits.
    const Asn1TimePtr epoch(ASN1_TIME_set(nullptr, 0));
    if (!epoch || ASN1_TIME_diff(&days, &seconds, epoch.get(), time) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return static_cast<int64_t>(days) * 86400 + seconds;
}

FILETIME FileTimeOfUnix(int64_t seconds)
{
    // 1601-01-01 to 1970-01-01 is 11644473600 seconds; FILETIME counts 100 ns.
    const int64_t since1601 = seconds + 11644473600LL;
    const uint64_t ticks = since1601 <= 0 ? 0 : static_cast<uint64_t>(since1601) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

const EVP_MD* AuthenticodeDigest(const ASN1_OBJECT* algorithm)
{
    return signercheck::DigestOf(algorithm);
}

} // namespace wintrust
