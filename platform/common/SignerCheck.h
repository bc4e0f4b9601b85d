// The check of one PKCS #7 SignerInfo, shared by the signature checks of the trust provider and
// of crypt32's messages: the messageDigest attribute against the content, and the signature over
// the attributes (or over the content when there are none).
#pragma once

#include "platform/common/OsslPtr.h"

#include <cstdint>
#include <span>

namespace signercheck {

// The digests signatures on Windows name: MD5 (old files), SHA-1, SHA-256, SHA-384, SHA-512. Null
// for anything else.
[[nodiscard]] const EVP_MD* DigestOf(const ASN1_OBJECT* algorithm);

enum class Outcome {
    Holds,
    Fails,
    OutOfMemory,
};

// Checks a SignerInfo made by cert over content (for a content type other than id-data: the
// content's value without its tag and length, as PKCS #7 digests it). An RSA signature over the
// bare digest (no DigestInfo, as old time-stamp services made them) holds too. Leaves OpenSSL's
// error queue empty.
[[nodiscard]] Outcome Check(PKCS7_SIGNER_INFO* signer, X509* cert, std::span<const uint8_t> content);

} // namespace signercheck
