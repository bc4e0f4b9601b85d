// Base64 through OpenSSL's encoder, shared by the text conversions and the certificate-file reader.
#pragma once

#include "platform/crypt32/Asn1.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace crypt32 {

// Base64 with white space anywhere ignored; nullopt for any other character or a bad length.
[[nodiscard]] std::optional<Bytes> Base64Decode(std::string_view text);
[[nodiscard]] std::optional<Bytes> Base64Decode(std::u16string_view text);
// One unbroken line of Base64.
[[nodiscard]] std::string Base64Encode(std::span<const uint8_t> bytes);

} // namespace crypt32
