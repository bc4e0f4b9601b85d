// The subject interface packages: the files a signature can be embedded in, how each finds its
// signature and how it checks that the file is what was signed. Portable executables (the first
// attribute certificate; the image less its checksum, its certificate-table entry and the table)
// and compound files such as installer packages (the "\005DigitalSignature" stream; every other
// stream's content and every storage's class id in a fixed order, after a digest of the entries'
// metadata when "\005MsiDigitalSignatureEx" exists) are here; cabinets, scripts, app packages and
// catalogs have units of their own.
//
// A package only finds the signature and checks the digest: what the signature is worth (its
// signer, time stamps, chain, revocation) is judged the same way for all of them.
//
// Files are read by range, never whole: memory stays at one read buffer whatever the file's size.
#pragma once

#include "platform/wintrust/Authenticode.h"
#include "platform/wintrust/Ossl.h"

#include "platform/common/FileSource.h"
#include "platform/include/win/mssip.h"

#include <memory>
#include <string>
#include <string_view>

namespace wintrust {

// A signature larger than this is not read: no real one comes near it.
inline constexpr size_t MaxSignatureSize = 16u * 1024 * 1024;
// Files are hashed through one buffer of this size.
inline constexpr size_t ReadChunk = 1024 * 1024;

// What a digest check compared, kept for those who ask why a verdict is what it is: the
// algorithm's OID, the file's digest as computed (empty when it could not be) and the signed one.
struct DigestCheck {
    std::string AlgorithmOid;
    Bytes File;
    Bytes Signed;
};

// The OID of a digest algorithm, as CryptoAPI names algorithms.
[[nodiscard]] std::string DigestAlgorithmOid(const EVP_MD* md);

class Subject {
public:
    virtual ~Subject() = default;
    [[nodiscard]] virtual const GUID& Type() const = 0;
    // The signature's DER bytes (a PKCS #7 ContentInfo, possibly followed by padding): S_OK;
    // TRUST_E_NOSIGNATURE when the file carries none; DIGSIG_E_DECODE when it is too large or
    // cannot be taken out.
    [[nodiscard]] virtual HRESULT Signature(Bytes& der) const = 0;
    // Whether the file is what the signature's content says: S_OK, or TRUST_E_BAD_DIGEST; check
    // gets what was compared, as far as the package compares digests.
    [[nodiscard]] virtual HRESULT CheckDigest(const SignedMessage& message, DigestCheck& check) const = 0;
    // A catalog's signature signs a trust list rather than a digest of the file.
    [[nodiscard]] virtual bool SignsTrustList() const { return false; }
};

// A package whose signature holds one digest of the file, computed with the signature's
// algorithm.
class DigestSubject : public Subject {
public:
    // The file's digest computed with md: S_OK; TRUST_E_BAD_DIGEST when the file cannot be read
    // as the digest needs (a damaged layout or a read error).
    [[nodiscard]] virtual HRESULT Digest(const EVP_MD* md, Bytes& digest) const = 0;
    [[nodiscard]] HRESULT CheckDigest(const SignedMessage& message, DigestCheck& check) const override;
};

// One digest over ranges and pieces of a file, through one buffer.
class DigestContext {
public:
    explicit DigestContext(const EVP_MD* md);
    void Update(std::span<const uint8_t> bytes);
    // length bytes of file at offset; false when they cannot be read.
    [[nodiscard]] bool UpdateFromFile(const FileSource& file, uint64_t offset, uint64_t length);
    [[nodiscard]] HRESULT Final(Bytes& digest);

private:
    EvpMdCtxPtr FCtx;
    bool FOk = false;
    Bytes FBuffer;
};

// Recognises the file by its first bytes and, for the packages that claim files by name, by
// the extension of path: S_OK and its subject; TRUST_E_SUBJECT_FORM_UNKNOWN for any other file;
// TRUST_E_NOSIGNATURE for an image or compound file too damaged to carry a signature.
[[nodiscard]] HRESULT OpenSubject(const FileSource& file, std::u16string_view path, std::unique_ptr<Subject>& subject);

// The lower-cased extension of the last component of path, its dot included; empty without one.
[[nodiscard]] std::u16string ExtensionOf(std::u16string_view path);

} // namespace wintrust
