#include "platform/cryptui/SignerInfo.h"

#include "platform/cryptui/CertificateInfo.h"
#include "platform/cryptui/Text.h"

#include "platform/common/SignatureTrust.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace cryptui {

namespace {

constexpr char OidContentType[] = "1.2.840.113549.1.9.3";
constexpr char OidMessageDigest[] = "1.2.840.113549.1.9.4";

// Attributes crypt32 has no name for.
struct AttributeName {
    std::string_view Oid;
    const char* Name;
};
constexpr AttributeName AttributeNames[] = {
    {"1.3.6.1.4.1.311.3.3.1", "RFC 3161 Time Stamp"},
    {"1.3.6.1.4.1.311.2.1.12", "Publisher Information"},
    {"1.3.6.1.4.1.311.2.1.11", "Statement Type"},
    {"1.3.6.1.4.1.311.2.4.1", "Nested Signature"},
};

bool IsOid(LPCSTR oid, std::string_view expected)
{
    return oid && std::string_view(oid) == expected;
}

std::span<const uint8_t> Span(const CRYPTOAPI_BLOB& blob)
{
    if (!blob.pbData || blob.cbData == 0)
        return {};
    return {blob.pbData, blob.cbData};
}

QString AttributeTitle(LPCSTR oid)
{
    const QString text = QString::fromLatin1(oid ? oid : "");
    for (const AttributeName& a : AttributeNames)
        if (IsOid(oid, a.Oid))
            return QLatin1String(a.Name);
    return OidName(text, CRYPT_EXT_OR_ATTR_OID_GROUP_ID);
}

std::optional<QDateTime> SigningTimeOf(const CRYPT_ATTRIBUTES& attributes)
{
    for (DWORD i = 0; i < attributes.cAttr && attributes.rgAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        if (!IsOid(attribute.pszObjId, szOID_RSA_signingTime) || attribute.cValue == 0 || !attribute.rgValue)
            continue;
        FlatBuffer time;
        if (DecodeObject(szOID_RSA_signingTime, Span(attribute.rgValue[0]), time))
            return TimeOf(*time.As<FILETIME>());
    }
    return std::nullopt;
}

// A DER INTEGER kept least significant byte first, as crypt32 keeps serial numbers.
QString SerialText(const CRYPT_INTEGER_BLOB& serial)
{
    std::vector<uint8_t> bytes(Span(serial).begin(), Span(serial).end());
    std::reverse(bytes.begin(), bytes.end());
    return Hex(bytes, false);
}

// A certificate by issuer and serial number, from the first store that has it.
CertContextPtr FindCertificate(const CMSG_SIGNER_INFO& signer, const std::vector<HCERTSTORE>& stores)
{
    CERT_INFO id{};
    id.Issuer = signer.Issuer;
    id.SerialNumber = signer.SerialNumber;
    for (HCERTSTORE store : stores)
        if (store)
            if (PCCERT_CONTEXT found = CertFindCertificateInStore(store, Encoding, 0, CERT_FIND_SUBJECT_CERT, &id, nullptr))
                return CertContextPtr(found);
    return nullptr;
}

QString NameOf(PCCERT_CONTEXT context, DWORD type)
{
    if (!context)
        return {};
    const DWORD length = CertGetNameStringW(context, type, 0, nullptr, nullptr, 0);
    if (length <= 1)
        return {};
    std::vector<WCHAR> buffer(length);
    if (CertGetNameStringW(context, type, 0, nullptr, buffer.data(), length) <= 1)
        return {};
    return Clip(FromWide(buffer.data()), MaxListValueLength);
}

// The time-stamp token's genTime. crypt32 gives the content either as the TSTInfo itself or as the
// OCTET STRING around it.
std::optional<QDateTime> GenTimeOf(HCRYPTMSG token)
{
    FlatBuffer content;
    DWORD size = 0;
    if (!MessageParam(token, CMSG_CONTENT_PARAM, 0, content, &size))
        return std::nullopt;
    const std::span<const uint8_t> der(static_cast<const uint8_t*>(content.As<void>()), size);
    auto info = DecodeWhole<TS_TST_INFO, d2i_TS_TST_INFO, TS_TST_INFO_free>(der);
    if (!info) {
        const auto octets = DecodeWhole<ASN1_OCTET_STRING, d2i_ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>(der);
        if (octets && ASN1_STRING_length(octets.get()) > 0)
            info = DecodeWhole<TS_TST_INFO, d2i_TS_TST_INFO, TS_TST_INFO_free>(
                {ASN1_STRING_get0_data(octets.get()), static_cast<size_t>(ASN1_STRING_length(octets.get()))});
    }
    return info ? TimeOf(TS_TST_INFO_get_time(info.get())) : std::nullopt;
}

std::shared_ptr<SignerSource> LegacyCounterSigner(const std::shared_ptr<const SignerSource>& parent,
                                                  const CRYPT_ATTR_BLOB& value)
{
    auto source = std::make_shared<SignerSource>();
    if (!DecodeObject(StructTypeSignerInfo, Span(value), source->Buffer))
        return nullptr;
    source->Info = source->Buffer.As<CMSG_SIGNER_INFO>();
    // Its certificate travels with the signed message.
    source->Message = parent->Message;
    source->Stores = parent->Stores;
    source->Parent = parent;
    return source;
}

std::shared_ptr<SignerSource> TimeStampSigner(const std::shared_ptr<const SignerSource>& parent,
                                              const CRYPT_ATTR_BLOB& value)
{
    const std::span<const uint8_t> token = Span(value);
    if (token.empty())
        return nullptr;
    auto source = std::make_shared<SignerSource>();
    source->OwnedMessage.reset(CryptMsgOpenToDecode(Encoding, 0, 0, 0, nullptr, nullptr));
    if (!source->OwnedMessage ||
        !CryptMsgUpdate(source->OwnedMessage.get(), token.data(), static_cast<DWORD>(token.size()), TRUE) ||
        !MessageParam(source->OwnedMessage.get(), CMSG_SIGNER_INFO_PARAM, 0, source->Buffer))
        return nullptr;
    source->Info = source->Buffer.As<CMSG_SIGNER_INFO>();
    source->Message = source->OwnedMessage.get();
    source->Stores = parent->Stores;
    // The token's certificates are in the token; the signed message's may hold them as well.
    source->Parent = parent;
    return source;
}

bool SameBlob(const CRYPTOAPI_BLOB& a, const CRYPTOAPI_BLOB& b)
{
    return a.cbData == b.cbData && (a.cbData == 0 || (a.pbData && b.pbData && std::memcmp(a.pbData, b.pbData, a.cbData) == 0));
}

// The counter-signer among the judged signer's that is the one info describes (same issuer and
// serial number); null when the trust service did not judge it.
const CRYPT_PROVIDER_SGNR* JudgedCounterSigner(const CRYPT_PROVIDER_SGNR& signer, const CMSG_SIGNER_INFO& info)
{
    for (DWORD i = 0; i < signer.csCounterSigners && signer.pasCounterSigners; ++i) {
        const CMSG_SIGNER_INFO* judged = signer.pasCounterSigners[i].psSigner;
        if (judged && SameBlob(judged->Issuer, info.Issuer) && SameBlob(judged->SerialNumber, info.SerialNumber))
            return &signer.pasCounterSigners[i];
    }
    return nullptr;
}

// The signer's certificate, as the signature's status.
QString SignerStatusText(CertStatus status)
{
    switch (status) {
    case CertStatus::Ok: return QStringLiteral("The signer's certificate is OK.");
    case CertStatus::Expired:
        return QStringLiteral("The signer's certificate or one in its chain has expired or is not yet valid.");
    case CertStatus::UntrustedRoot:
        return QStringLiteral("The signer's certificate cannot be verified up to a trusted root: the root certificate "
                              "of its chain is not trusted.");
    case CertStatus::IssuerNotFound:
        return QStringLiteral("The signer's certificate cannot be verified up to a trusted root: the issuer of a "
                              "certificate in its chain could not be found.");
    case CertStatus::BadSignature:
        return QStringLiteral("The signer's certificate or one in its chain has an invalid digital signature.");
    case CertStatus::Invalid: return QStringLiteral("The signer's certificate or one in its chain is not valid.");
    case CertStatus::WrongUsage:
        return QStringLiteral("The root certificate of the signer's chain is not trusted for code signing.");
    case CertStatus::Distrusted:
        return QStringLiteral("The root certificate of the signer's chain is no longer trusted: Windows' root program "
                              "has withdrawn its trust.");
    case CertStatus::Revoked:
        return QStringLiteral("The signer's certificate or one in its chain has been revoked by its certification "
                              "authority.");
    }
    return {};
}

Field AttributeField(const CRYPT_ATTRIBUTE& attribute, FieldKind kind)
{
    const QString title = AttributeTitle(attribute.pszObjId);
    QStringList lines;
    for (DWORD v = 0; v < attribute.cValue && attribute.rgValue; ++v) {
        const std::span<const uint8_t> value = Span(attribute.rgValue[v]);
        if (IsOid(attribute.pszObjId, OidContentType)) {
            if (const auto oid = DecodeWhole<ASN1_OBJECT, d2i_ASN1_OBJECT, ASN1_OBJECT_free>(value)) {
                lines.append(OidNameWithNumber(OidText(oid.get()), 0));
                continue;
            }
        } else if (IsOid(attribute.pszObjId, OidMessageDigest)) {
            if (const auto digest = DecodeWhole<ASN1_OCTET_STRING, d2i_ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>(value)) {
                lines.append(Hex({ASN1_STRING_get0_data(digest.get()), static_cast<size_t>(ASN1_STRING_length(digest.get()))}));
                continue;
            }
        } else if (IsOid(attribute.pszObjId, szOID_RSA_signingTime)) {
            FlatBuffer time;
            if (DecodeObject(szOID_RSA_signingTime, value, time)) {
                if (const auto when = TimeOf(*time.As<FILETIME>())) {
                    lines.append(LongDateTime(*when));
                    continue;
                }
            }
        } else if (IsOid(attribute.pszObjId, SPC_SP_OPUS_INFO_OBJID)) {
            FlatBuffer opus;
            if (DecodeObject(SPC_SP_OPUS_INFO_OBJID, value, opus)) {
                const auto* info = opus.As<SPC_SP_OPUS_INFO>();
                const auto link = [](const SPC_LINK* l) {
                    if (!l)
                        return QString();
                    if (l->dwLinkChoice == SPC_URL_LINK_CHOICE)
                        return FromWide(l->pwszUrl);
                    if (l->dwLinkChoice == SPC_FILE_LINK_CHOICE)
                        return FromWide(l->pwszFile);
                    return QString();
                };
                if (info->pwszProgramName)
                    lines.append(QStringLiteral("Program Name=") + FromWide(info->pwszProgramName));
                if (const QString more = link(info->pMoreInfo); !more.isEmpty())
                    lines.append(QStringLiteral("More Info=") + more);
                if (const QString publisher = link(info->pPublisherInfo); !publisher.isEmpty())
                    lines.append(QStringLiteral("Publisher=") + publisher);
                continue;
            }
        }
        lines.append(HexDump(value));
    }
    Field field = LinesField(title, lines, kind);
    if (!lines.isEmpty() && lines.size() == 1 && lines.front().contains(QLatin1Char('\n')))
        field.Value = Clip(Hex(Span(attribute.rgValue[0])), MaxListValueLength);
    return field;
}

} // namespace

SignerInfo SignerInfo::Read(std::shared_ptr<const SignerSource> source)
{
    SignerInfo result;
    result.FSource = source;
    if (!source || !source->Info)
        return result;
    const CMSG_SIGNER_INFO& signer = *source->Info;

    const StorePtr messageStore(source->Message ? CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, source->Message)
                                                : nullptr);
    // A counter-signer's certificate may also travel in the message it counter-signs.
    std::vector<StorePtr> parentStores;
    for (const SignerSource* up = source->Parent.get(); up; up = up->Parent.get())
        if (up->Message && up->Message != source->Message)
            parentStores.emplace_back(CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, up->Message));
    std::vector<HCERTSTORE> searched{messageStore.get()};
    for (const StorePtr& store : parentStores)
        searched.push_back(store.get());
    searched.insert(searched.end(), source->Stores.begin(), source->Stores.end());

    const CertContextPtr certificate = FindCertificate(signer, searched);
    if (certificate && certificate->pbCertEncoded) {
        result.FCertificateDer.assign(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
        result.FName = NameOf(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE);
        result.FEmail = NameOf(certificate.get(), CERT_NAME_EMAIL_TYPE);
    }
    for (HCERTSTORE store : searched)
        CollectCertificates(store, result.FOthers, MaxOtherCertificates);

    if (signer.HashAlgorithm.pszObjId)
        result.FDigestAlgorithm = OidName(QString::fromLatin1(signer.HashAlgorithm.pszObjId), CRYPT_HASH_ALG_OID_GROUP_ID);

    // Counter-signers: PKCS #9 counter-signatures and RFC 3161 time-stamp tokens.
    const CRYPT_ATTRIBUTES& unauthenticated = signer.UnauthAttrs;
    for (DWORD i = 0; i < unauthenticated.cAttr && unauthenticated.rgAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = unauthenticated.rgAttr[i];
        const bool legacy = IsOid(attribute.pszObjId, szOID_RSA_counterSign);
        const bool rfc3161 = IsOid(attribute.pszObjId, szOID_RFC3161_counterSign);
        if (!legacy && !rfc3161)
            continue;
        for (DWORD v = 0; v < attribute.cValue && attribute.rgValue; ++v) {
            if (result.FCounterSigners.size() >= MaxCounterSigners)
                break;
            auto counter = legacy ? LegacyCounterSigner(source, attribute.rgValue[v])
                                  : TimeStampSigner(source, attribute.rgValue[v]);
            if (!counter)
                continue;
            CounterSigner entry;
            entry.Kind = legacy ? CounterSignatureKind::Legacy : CounterSignatureKind::Rfc3161;
            const StorePtr counterStore(counter->Message != source->Message
                                            ? CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, counter->Message)
                                            : nullptr);
            std::vector<HCERTSTORE> counterSearched{counterStore.get()};
            counterSearched.insert(counterSearched.end(), searched.begin(), searched.end());
            const CertContextPtr found = FindCertificate(*counter->Info, counterSearched);
            entry.Name = NameOf(found.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE);
            entry.Email = NameOf(found.get(), CERT_NAME_EMAIL_TYPE);
            entry.Time = legacy ? SigningTimeOf(counter->Info->AuthAttrs) : GenTimeOf(counter->Message);
            if (!entry.Time && rfc3161)
                entry.Time = SigningTimeOf(counter->Info->AuthAttrs);
            if (source->Judged)
                counter->Judged = JudgedCounterSigner(*source->Judged, *counter->Info);
            entry.Source = std::move(counter);
            result.FCounterSigners.push_back(std::move(entry));
        }
    }
    for (const CounterSigner& counter : result.FCounterSigners) {
        if (counter.Time) {
            result.FSigningTime = counter.Time;
            break;
        }
    }
    // Without a time stamp, the time the signer gave itself.
    if (!result.FSigningTime)
        result.FSigningTime = SigningTimeOf(signer.AuthAttrs);

    if (source->Judged && source->Judged->pChainContext) {
        // As the trust service judged it: at the moment it chose, revocation included.
        auto judged = std::make_shared<CertificateChain>(ChainOfContext(*source->Judged->pChainContext));
        result.FStatusText = SignerStatusText(judged->Status);
        result.FJudgedAt = TimeOf(source->Judged->sftVerifyAsOf);
        result.FJudgedChain = std::move(judged);
    } else if (result.FCertificateDer.empty()) {
        result.FStatusText = QStringLiteral("The signer's certificate is not in the signature.");
    } else if (const X509Ptr x509 = DecodeCertificate(result.FCertificateDer)) {
        // A time stamp vouches for the time the signature was made: the chain is judged then,
        // unless the certificate's signatures end with it (Lifetime Signing).
        std::optional<time_t> at;
        for (const CounterSigner& counter : result.FCounterSigners)
            if (counter.Time && !trust::HasLifetimeSigning(x509.get())) {
                at = counter.Time->toSecsSinceEpoch();
                break;
            }
        result.FStatusText = SignerStatusText(BuildChain(x509.get(), result.FOthers, at, szOID_PKIX_KP_CODE_SIGNING).Status);
    }

    Fields& fields = result.FDetails;
    fields.push_back(SimpleField(QStringLiteral("Version"), QStringLiteral("V%1").arg(signer.dwVersion)));
    {
        const std::span<const uint8_t> issuer = Span(signer.Issuer);
        const X509NamePtr name = DecodeWhole<X509_NAME, d2i_X509_NAME, X509_NAME_free>(issuer);
        Field field = name ? LinesField(QStringLiteral("Issuer"), NameLines(name.get())) : SimpleField(QStringLiteral("Issuer"), Hex(issuer));
        if (name)
            field.Value = Clip(NameLine(name.get()), MaxListValueLength);
        fields.push_back(field);
    }
    fields.push_back(SimpleField(QStringLiteral("Serial number"), SerialText(signer.SerialNumber)));
    fields.push_back(SimpleField(QStringLiteral("Digest algorithm"), result.FDigestAlgorithm));
    if (signer.HashEncryptionAlgorithm.pszObjId)
        fields.push_back(SimpleField(QStringLiteral("Digest encryption algorithm"),
                                     OidName(QString::fromLatin1(signer.HashEncryptionAlgorithm.pszObjId), 0)));
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr && signer.AuthAttrs.rgAttr && fields.size() < MaxSignerFields; ++i)
        fields.push_back(AttributeField(signer.AuthAttrs.rgAttr[i], FieldKind::Extension));
    for (DWORD i = 0; i < unauthenticated.cAttr && unauthenticated.rgAttr && fields.size() < MaxSignerFields; ++i) {
        fields.push_back(AttributeField(unauthenticated.rgAttr[i], FieldKind::Property));
        fields.back().Name += QStringLiteral(" (unauthenticated)");
    }
    {
        const std::span<const uint8_t> digest = Span(signer.EncryptedHash);
        Field field = SimpleField(QStringLiteral("Encrypted digest"), Hex(digest));
        field.Detail = HexDump(digest);
        fields.push_back(field);
    }
    return result;
}

} // namespace cryptui
