// Shared by the crypt32 tests: fixture stores, OpenSSL as the reference, small DER builders.
#pragma once

// OpenSSL before wincrypt.h, whose X509_NAME and PKCS7_SIGNER_INFO macros are OpenSSL type names.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/include/win/winbase.h"
#include "platform/include/win/wincrypt.h"
#include "tests/support/TestSupport.h"

#undef X509_NAME
#undef PKCS7_SIGNER_INFO
// The structure type PKCS7_SIGNER_INFO names on Windows, under a name that does not clash.
#define PKCS7_SIGNER_INFO_TYPE (reinterpret_cast<LPCSTR>(500))

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace crypt32test {

using Bytes = std::vector<uint8_t>;

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;
struct ContextFree {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using ContextPtr = std::unique_ptr<const CERT_CONTEXT, ContextFree>;
struct MsgCloser {
    void operator()(void* message) const { CryptMsgClose(message); }
};
using MsgPtr = std::unique_ptr<void, MsgCloser>;

[[nodiscard]] std::u16string U16(const std::string& text);
[[nodiscard]] std::string Narrow(std::u16string_view text);
[[nodiscard]] std::filesystem::path CertFixture(const std::string& name);
// CertOpenStore(CERT_STORE_PROV_FILENAME_W, ..., OPEN_EXISTING | READONLY, path).
[[nodiscard]] StorePtr OpenFileStore(const std::filesystem::path& path);
[[nodiscard]] ContextPtr LoadCert(const std::string& fixture); // the first certificate of a fixture file
[[nodiscard]] std::vector<Bytes> StoreCertificates(HCERTSTORE store);
[[nodiscard]] const CERT_EXTENSION* FindExtension(const CERT_INFO* info, const char* oid);

// OpenSSL's view: the DER of every certificate of a PEM file, in order.
[[nodiscard]] std::vector<Bytes> PemCertificates(const std::filesystem::path& path);
[[nodiscard]] std::string Sha1Hex(const Bytes& bytes);
[[nodiscard]] std::string Hex(const BYTE* data, size_t size);
[[nodiscard]] uint64_t Ticks(const FILETIME& time);
// FILETIME ticks of a UTC calendar time.
[[nodiscard]] uint64_t TicksOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// One DER element (short or long definite length).
[[nodiscard]] Bytes Der(uint8_t tag, const Bytes& content);
[[nodiscard]] Bytes Cat(std::initializer_list<Bytes> parts);
[[nodiscard]] Bytes Ascii(const std::string& text);

} // namespace crypt32test
