#include "platform/common/CertIndex.h"

#include "platform/common/ByteReader.h"
#include "platform/common/Der.h"
#include "platform/common/Pem.h"
#include "platform/common/RootPack.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace trust {

namespace {

using EncodeCtxPtr = std::unique_ptr<EVP_ENCODE_CTX, ossl::OsslFree<EVP_ENCODE_CTX_free>>;

// A trust file of the system's is a few hundred kilobytes; one far larger is not read.
constexpr off_t MaxFileSize = 64 * 1024 * 1024;

std::vector<uint8_t> Base64(std::string_view body)
{
    std::vector<uint8_t> out(body.size() / 4 * 3 + 3);
    const EncodeCtxPtr ctx(EVP_ENCODE_CTX_new());
    int length = 0;
    int last = 0;
    if (!ctx || body.size() > static_cast<size_t>(INT32_MAX))
        return {};
    EVP_DecodeInit(ctx.get());
    if (EVP_DecodeUpdate(ctx.get(), out.data(), &length, reinterpret_cast<const unsigned char*>(body.data()),
                         static_cast<int>(body.size())) < 0 ||
        EVP_DecodeFinal(ctx.get(), out.data() + length, &last) != 1) {
        ERR_clear_error();
        return {};
    }
    out.resize(static_cast<size_t>(length + last));
    return out;
}

// The subject of a Certificate's DER: SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL,
// serialNumber, signature, issuer, validity, subject, ... }, ... }.
std::optional<std::span<const uint8_t>> SubjectDer(const ByteReader& certificate)
{
    const auto outer = der::ReadTlv(certificate, 0);
    const auto tbs = outer ? der::ReadTlv(outer->Content, 0) : std::nullopt;
    if (!tbs)
        return std::nullopt;
    size_t off = 0;
    int field = 0;
    for (; off < tbs->Content.size(); ++field) {
        const auto tlv = der::ReadTlv(tbs->Content, off);
        if (!tlv)
            return std::nullopt;
        // Without the version field, the subject is the fifth field rather than the sixth.
        if (field == 0 && !(tlv->Class == V_ASN1_CONTEXT_SPECIFIC && tlv->Tag == 0))
            ++field;
        if (field == 5)
            return tlv->Whole.span();
        off += tlv->Whole.size();
    }
    return std::nullopt;
}

} // namespace

std::optional<uint32_t> SubjectHash(const X509_NAME* name)
{
    int ok = 0;
    const unsigned long hash = X509_NAME_hash_ex(name, nullptr, nullptr, &ok);
    if (ok != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return static_cast<uint32_t>(hash);
}

void CertIndex::Sort()
{
    std::stable_sort(FEntries.begin(), FEntries.end(),
                     [](const Entry& a, const Entry& b) { return a.SubjectHash < b.SubjectHash; });
}

std::unique_ptr<CertIndex> CertIndex::FromPack(std::span<const uint8_t> pack, std::span<const uint8_t>& list)
{
    const ByteReader reader(pack);
    const auto magic = reader.Bytes(0, 4);
    const auto version = reader.U32(4);
    const auto listSize = reader.U32(8);
    if (!magic || !std::equal(magic->begin(), magic->end(), rootpack::Magic) || version != rootpack::Version || !listSize)
        return nullptr;
    const auto listBytes = reader.Bytes(rootpack::HeaderSize, *listSize);
    const size_t countAt = rootpack::HeaderSize + *listSize;
    const auto count = reader.U32(countAt);
    if (!listBytes || !count || *count > reader.size() / rootpack::IndexEntrySize)
        return nullptr;
    std::unique_ptr<CertIndex> index(new CertIndex());
    index->FEntries.reserve(*count);
    for (uint32_t i = 0; i < *count; ++i) {
        const size_t at = countAt + 4 + static_cast<size_t>(i) * rootpack::IndexEntrySize;
        const auto hash = reader.U32(at);
        const auto offset = reader.U32(at + 4);
        const auto size = reader.U32(at + 8);
        const auto thumbprint = reader.Bytes(at + 12, 20);
        const auto der = offset && size ? reader.Bytes(*offset, *size) : std::nullopt;
        if (!hash || !der || !thumbprint)
            return nullptr;
        Entry entry{*hash, *der, {}, false};
        std::copy(thumbprint->begin(), thumbprint->end(), entry.Thumbprint.begin());
        index->FEntries.push_back(entry);
    }
    if (!std::is_sorted(index->FEntries.begin(), index->FEntries.end(),
                        [](const Entry& a, const Entry& b) { return a.SubjectHash < b.SubjectHash; }))
        return nullptr;
    list = *listBytes;
    return index;
}

std::unique_ptr<CertIndex> CertIndex::FromPem(std::string_view text, std::vector<ossl::X509CrlPtr>* crls)
{
    std::unique_ptr<CertIndex> index(new CertIndex());
    struct Found {
        size_t Offset;
        size_t Size;
        uint32_t Hash;
        bool Aux;
    };
    std::vector<Found> found;
    pem::ForEachBlock(text, [&](const pem::Block& block) {
        const bool aux = block.Label == "TRUSTED CERTIFICATE";
        const bool cert = aux || block.Label == "CERTIFICATE" || block.Label == "X509 CERTIFICATE";
        if (!cert && !(crls && block.Label == "X509 CRL"))
            return;
        const std::vector<uint8_t> der = Base64(block.Body);
        if (der.empty())
            return;
        if (!cert) {
            const unsigned char* p = der.data();
            if (X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())))
                crls->emplace_back(crl);
            ERR_clear_error();
            return;
        }
        const auto whole = der::ReadTlv(ByteReader(der), 0);
        const auto subject = whole ? SubjectDer(whole->Whole) : std::nullopt;
        if (!subject || (!aux && whole->Whole.size() != der.size()))
            return;
        const unsigned char* p = subject->data();
        const ossl::X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(subject->size())));
        const auto hash = name ? SubjectHash(name.get()) : std::nullopt;
        ERR_clear_error();
        if (!hash)
            return;
        found.push_back({index->FOwned.size(), der.size(), *hash, aux});
        index->FOwned.insert(index->FOwned.end(), der.begin(), der.end());
    });
    const std::span<const uint8_t> owned(index->FOwned);
    for (const Found& f : found) {
        Entry entry{f.Hash, owned.subspan(f.Offset, f.Size), {}, f.Aux};
        // The thumbprint is the certificate's own, without the trust settings that may follow it.
        const auto cert = der::ReadTlv(ByteReader(entry.Der), 0);
        unsigned int length = 0;
        if (!cert || EVP_Digest(cert->Whole.data(), cert->Whole.size(), entry.Thumbprint.data(), &length, EVP_sha1(),
                                nullptr) != 1) {
            ERR_clear_error();
            continue;
        }
        index->FEntries.push_back(entry);
    }
    index->Sort();
    return index;
}

std::unique_ptr<CertIndex> CertIndex::FromPemFile(const std::string& path, std::vector<ossl::X509CrlPtr>* crls)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxFileSize)
        return nullptr;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return nullptr;
    return FromPem(text, crls);
}

X509* CertIndex::At(size_t position) const
{
    const std::lock_guard guard(FLock);
    ossl::X509Ptr& slot = FDecoded[position];
    if (!slot) {
        const Entry& entry = FEntries[position];
        const unsigned char* p = entry.Der.data();
        slot.reset(entry.Aux ? d2i_X509_AUX(nullptr, &p, static_cast<long>(entry.Der.size()))
                             : d2i_X509(nullptr, &p, static_cast<long>(entry.Der.size())));
        ERR_clear_error();
    }
    return slot.get();
}

std::vector<X509*> CertIndex::Named(const X509_NAME* name, const std::function<bool(const Entry&)>& accept) const
{
    std::vector<X509*> found;
    const auto hash = SubjectHash(name);
    if (!hash)
        return found;
    auto it = std::lower_bound(FEntries.begin(), FEntries.end(), *hash,
                               [](const Entry& entry, uint32_t value) { return entry.SubjectHash < value; });
    for (; it != FEntries.end() && it->SubjectHash == *hash; ++it) {
        if (accept && !accept(*it))
            continue;
        X509* cert = At(static_cast<size_t>(it - FEntries.begin()));
        if (cert && X509_NAME_cmp(X509_get_subject_name(cert), name) == 0)
            found.push_back(cert);
    }
    return found;
}

ossl::X509Ptr CertIndex::ByThumbprint(const Sha1& thumbprint) const
{
    for (size_t i = 0; i < FEntries.size(); ++i) {
        if (FEntries[i].Thumbprint != thumbprint)
            continue;
        X509* cert = At(i);
        if (cert && X509_up_ref(cert) == 1)
            return ossl::X509Ptr(cert);
    }
    return nullptr;
}

} // namespace trust
