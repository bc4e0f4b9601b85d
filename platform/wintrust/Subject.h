// The files a signature can be embedded in, and how their Authenticode digest is computed:
// portable executables (the first attribute certificate; the image less its checksum, its
// certificate-table entry and the table) and compound files such as installer packages (the
// "\005DigitalSignature" stream; every other stream's content and every storage's class id in a
// fixed order, after a digest of the entries' metadata when "\005MsiDigitalSignatureEx" exists).
//
// Files are read by range, never whole: memory stays at one read buffer whatever the file's size.
#pragma once

#include "platform/wintrust/Ossl.h"

#include "platform/common/FileSource.h"

#include <memory>

namespace wintrust {

// A signature larger than this is not read: no real one comes near it.
inline constexpr size_t MaxSignatureSize = 16u * 1024 * 1024;

class Subject {
public:
    virtual ~Subject() = default;
    // The signature's DER bytes (a PKCS #7 ContentInfo, possibly followed by padding): S_OK;
    // TRUST_E_NOSIGNATURE when the file carries none; DIGSIG_E_DECODE when it is too large.
    [[nodiscard]] virtual HRESULT Signature(Bytes& der) const = 0;
    // The file's Authenticode digest computed with md: S_OK; TRUST_E_BAD_DIGEST when the file
    // cannot be read as the digest needs (a damaged layout or a read error).
    [[nodiscard]] virtual HRESULT Digest(const EVP_MD* md, Bytes& digest) const = 0;
};

// Recognises the file: S_OK and a PE or compound-file subject; TRUST_E_SUBJECT_FORM_UNKNOWN for
// any other file; TRUST_E_NOSIGNATURE for an image or compound file too damaged to carry a
// signature.
[[nodiscard]] HRESULT OpenSubject(const FileSource& file, std::unique_ptr<Subject>& subject);

} // namespace wintrust
