// The catalog subject interface package, and catalogs as lists of the files they sign. A catalog
// is a PKCS #7 SignedData whose content is a certificate trust list of subject usage "catalog
// list" (1.3.6.1.4.1.311.12.1.1), decoded by crypt32: its signature signs the list itself, and
// each member of the list names a file by the hash of it that its indirect data holds, with a tag
// (the hash in hex, for members added by hash) and attributes such as the file's name.
//
// Catalogs are read whole, up to a size no real one comes near; members are decoded when asked
// for, so that a list of a million costs its entries' index and no more.
#pragma once

#include "platform/wintrust/Subject.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wintrust {

// A catalog larger than this is not read: the largest of Windows' own are a few tens of megabytes.
inline constexpr uint64_t MaxCatalogSize = 64ull * 1024 * 1024;

// A member's attribute that has a name ("File", "OSAttr", ...): its value's bytes as the catalog
// holds them (UTF-16LE text for the names of files).
struct CatalogNameValue {
    std::u16string Name;
    DWORD Flags = 0;
    Bytes Value;
};

struct CatalogMember {
    std::u16string Tag;
    std::vector<CatalogNameValue> Attributes;
    std::u16string FileName; // from its "File" name-value attribute; empty without
    GUID SubjectType{};      // from its member info; zero without
    IndirectData Indirect;   // the file's hash and the algorithm that made it
    Bytes EncodedIndirectData;
    Bytes EncodedMemberInfo;
};

class Catalog {
    struct Key {
        explicit Key() = default;
    };

public:
    explicit Catalog(Key) {}
    ~Catalog();
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;

    // The catalog that file holds, or null for a file that is no catalog (or too large to be one).
    [[nodiscard]] static std::unique_ptr<Catalog> Read(const FileSource& file);
    // The same, shared: a small catalog is decoded once while it stays the same file, since one
    // inspection asks for it several times (its kind, its signature, its verdict) and every file
    // of a driver package for the catalog beside it.
    [[nodiscard]] static std::shared_ptr<const Catalog> Open(const FileSource& file);
    // The same from its bytes.
    [[nodiscard]] static std::unique_ptr<Catalog> FromBytes(std::span<const uint8_t> der);

    // The signed message, as crypt32 decoded it.
    [[nodiscard]] std::span<const uint8_t> Message() const;
    [[nodiscard]] bool Signed() const;
    [[nodiscard]] size_t MemberCount() const;
    // The member at index; false when its entry is no member (it has no indirect data).
    [[nodiscard]] bool Member(size_t index, CatalogMember& member) const;
    // The first member with this tag (ASCII case ignored), or with this hash.
    [[nodiscard]] std::optional<size_t> FindByTag(std::u16string_view tag) const;
    [[nodiscard]] std::optional<size_t> FindByDigest(std::span<const uint8_t> digest) const;
    // The hash a member's indirect data holds, without decoding the rest; false for none.
    [[nodiscard]] bool MemberDigest(size_t index, IndirectData& indirect) const;

private:
    PCCTL_CONTEXT FContext = nullptr;
    bool FSigned = false; // read once: a shared catalog is only read from then on
};

[[nodiscard]] bool IsCatalogExtension(std::u16string_view extension);
// The catalog package's subject for the file, or null when the file is no catalog.
[[nodiscard]] std::unique_ptr<Subject> OpenCatalogSubject(const FileSource& file);

// The hash of a file as catalogs hold it, made with md: an executable's Authenticode digest, any
// other file's digest. S_OK, or TRUST_E_BAD_DIGEST when the file cannot be read.
[[nodiscard]] HRESULT CatalogFileHash(const FileSource& file, const EVP_MD* md, Bytes& hash);

// A tag as catalogs write it for a member added by its hash: the hash in upper-case hex.
[[nodiscard]] std::u16string HashTag(std::span<const uint8_t> hash);

} // namespace wintrust
