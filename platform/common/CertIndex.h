// Certificates found by their subject and decoded only when a chain asks for that subject: the
// root program's roots (the built-in pack or a roots.pem beside a dropped-in list) and the
// system's trust file. Decoding a certificate costs most in its public key, and a trust file of a
// few hundred roots costs many times what judging one signature does; an index of their subjects
// costs a small part of it.
#pragma once

#include "platform/common/OsslPtr.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trust {

using Sha1 = std::array<uint8_t, 20>;

class CertIndex {
public:
    struct Entry {
        uint32_t SubjectHash = 0; // X509_NAME_hash_ex of the subject
        std::span<const uint8_t> Der;
        Sha1 Thumbprint{};
        bool Aux = false; // a "TRUSTED CERTIFICATE": DER followed by OpenSSL's trust settings
    };

    // The root program's pack (platform/common/RootPack.h): the index it carries, and its list in
    // list. Null when the pack is malformed.
    [[nodiscard]] static std::unique_ptr<CertIndex> FromPack(std::span<const uint8_t> pack, std::span<const uint8_t>& list);
    // The certificates of PEM text ("CERTIFICATE", "X509 CERTIFICATE" and "TRUSTED CERTIFICATE"
    // blocks); the CRLs it holds are kept in crls when given.
    [[nodiscard]] static std::unique_ptr<CertIndex> FromPem(std::string_view text, std::vector<ossl::X509CrlPtr>* crls = nullptr);
    // The same of a file; null when it cannot be read.
    [[nodiscard]] static std::unique_ptr<CertIndex> FromPemFile(const std::string& path,
                                                                std::vector<ossl::X509CrlPtr>* crls = nullptr);

    [[nodiscard]] const std::vector<Entry>& Entries() const { return FEntries; }
    // The certificates whose subject is name (and that accept passes, when given), decoded on
    // first use; they live as long as the index.
    [[nodiscard]] std::vector<X509*> Named(const X509_NAME* name,
                                           const std::function<bool(const Entry&)>& accept = {}) const;
    [[nodiscard]] ossl::X509Ptr ByThumbprint(const Sha1& thumbprint) const;

private:
    CertIndex() = default;
    void Sort();
    [[nodiscard]] X509* At(size_t position) const;

    std::vector<Entry> FEntries; // sorted by SubjectHash
    std::vector<uint8_t> FOwned; // the DER the entries point into, unless it is the pack's
    mutable std::mutex FLock;
    mutable std::map<size_t, ossl::X509Ptr> FDecoded;
};

// The subject hash as the index keeps it; nullopt when OpenSSL cannot compute it.
[[nodiscard]] std::optional<uint32_t> SubjectHash(const X509_NAME* name);

} // namespace trust
