#include "platform/wintrust/Provider.h"

#include <map>
#include <mutex>

namespace wintrust {

namespace {

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// CryptDecodeObject's structure type PKCS7_SIGNER_INFO, a number disguised as a string.
const LPCSTR StructSignerInfo = reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(500));

SignerInfoBlock BlockOfSize(DWORD size)
{
    return SignerInfoBlock((static_cast<size_t>(size) + sizeof(uint64_t) - 1) / sizeof(uint64_t));
}

struct MessageCloser {
    void operator()(void* message) const { CryptMsgClose(message); }
};
using MessagePtr = std::unique_ptr<void, MessageCloser>;

struct Registry {
    std::mutex Lock;
    std::map<HANDLE, std::unique_ptr<ProviderState>> Live;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

SignerInfoBlock SignerInfoOfMessage(HCRYPTMSG message, DWORD index)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size) || size == 0)
        return {};
    SignerInfoBlock block = BlockOfSize(size);
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, block.data(), &size))
        return {};
    return block;
}

SignerInfoBlock SignerInfoOfDer(std::span<const uint8_t> der)
{
    DWORD size = 0;
    const auto length = static_cast<DWORD>(der.size());
    if (der.empty() || !CryptDecodeObject(Encoding, StructSignerInfo, der.data(), length, 0, nullptr, &size) ||
        size == 0)
        return {};
    SignerInfoBlock block = BlockOfSize(size);
    if (!CryptDecodeObject(Encoding, StructSignerInfo, der.data(), length, 0, block.data(), &size))
        return {};
    return block;
}

SignerInfoBlock SignerInfoOfToken(std::span<const uint8_t> der)
{
    const MessagePtr message(CryptMsgOpenToDecode(Encoding, 0, 0, 0, nullptr, nullptr));
    if (!message || der.empty() ||
        !CryptMsgUpdate(message.get(), der.data(), static_cast<DWORD>(der.size()), TRUE))
        return {};
    return SignerInfoOfMessage(message.get(), 0);
}

// ---------------------------------------------------------------------------------------------

ProviderState::ProviderState(WINTRUST_DATA* request, const GUID& action) : FAction(action)
{
    FData.cbStruct = sizeof(CRYPT_PROVIDER_DATA);
    FData.pWintrustData = request;
    FData.pgActionID = &FAction;
    FData.dwEncoding = Encoding;
}

ProviderState::~ProviderState()
{
    for (SignerSlot& slot : FSlots)
        FreeCertificates(slot);
    if (FMessageStore)
        CertCloseStore(FMessageStore, 0);
    if (FData.hMsg)
        CryptMsgClose(FData.hMsg);
}

void ProviderState::FreeCertificates(SignerSlot& slot)
{
    for (CRYPT_PROVIDER_CERT& cert : slot.Certs)
        if (cert.pCert)
            CertFreeCertificateContext(cert.pCert);
    slot.Certs.clear();
    for (SignerSlot& counter : slot.CounterSlots)
        FreeCertificates(counter);
}

void ProviderState::AdoptMessage(HCRYPTMSG message)
{
    FData.hMsg = message;
    FMessageStore = CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, message);
    if (FMessageStore) {
        FData.chStores = 1;
        FData.pahStores = &FMessageStore;
    }
}

void ProviderState::Fill(CRYPT_PROVIDER_SGNR& signer, SignerSlot& slot, SignerFinding finding)
{
    signer.cbStruct = sizeof(CRYPT_PROVIDER_SGNR);
    signer.sftVerifyAsOf = finding.VerifyAsOf;
    signer.dwSignerType = finding.SignerType;
    signer.dwError = static_cast<DWORD>(finding.Error);

    slot.SignerInfo = std::move(finding.SignerInfo);
    signer.psSigner = slot.SignerInfo.empty() ? nullptr : reinterpret_cast<CMSG_SIGNER_INFO*>(slot.SignerInfo.data());

    for (const ChainElement& element : finding.Chain) {
        const Bytes der = Encode(element.Cert.get(), i2d_X509);
        PCCERT_CONTEXT context =
            der.empty() ? nullptr : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        if (!context)
            break; // the chain as far as it can be shown
        // A root of Windows' root program carries its properties, its friendly name among them.
        if (element.RootEntry)
            CertSetCertificateContextPropertiesFromCTLEntry(context, element.RootEntry, 0);
        CRYPT_PROVIDER_CERT cert{};
        cert.cbStruct = sizeof(CRYPT_PROVIDER_CERT);
        if (element.Source != 0) {
            CRYPT_DATA_BLOB source{sizeof(DWORD), reinterpret_cast<BYTE*>(const_cast<DWORD*>(&element.Source))};
            CertSetCertificateContextProperty(context, TESSERA_CERT_SOURCE_PROP_ID, 0, &source);
        }
        cert.pCert = context;
        cert.fTrustedRoot = element.TrustedRoot ? TRUE : FALSE;
        cert.fSelfSigned = element.SelfSigned ? TRUE : FALSE;
        cert.dwRevokedReason = element.RevokedReason;
        cert.dwConfidence = element.Confidence;
        cert.dwError = static_cast<DWORD>(element.Error);
        slot.Certs.push_back(cert);
    }
    signer.csCertChain = static_cast<DWORD>(slot.Certs.size());
    signer.pasCertChain = slot.Certs.empty() ? nullptr : slot.Certs.data();
    FillChain(signer, slot, finding);

    slot.CounterSigners.resize(finding.CounterSigners.size());
    slot.CounterSlots.resize(finding.CounterSigners.size());
    for (size_t i = 0; i < finding.CounterSigners.size(); ++i) {
        finding.CounterSigners[i].CounterSigners.clear();
        Fill(slot.CounterSigners[i], slot.CounterSlots[i], std::move(finding.CounterSigners[i]));
    }
    signer.csCounterSigners = static_cast<DWORD>(slot.CounterSigners.size());
    signer.pasCounterSigners = slot.CounterSigners.empty() ? nullptr : slot.CounterSigners.data();
}

void ProviderState::FillChain(CRYPT_PROVIDER_SGNR& signer, SignerSlot& slot, const SignerFinding& finding)
{
    const size_t count = slot.Certs.size();
    if (count == 0)
        return;
    auto block = std::make_unique<ChainBlock>();
    block->Elements.resize(count);
    block->ElementPointers.resize(count);
    block->Revocations.resize(count);
    block->CrlInfos.resize(count);
    block->CrlEntries.resize(count);
    block->ReasonExtensions.resize(count);
    block->ReasonValues.resize(count);
    CERT_TRUST_STATUS summary = finding.ChainStatus;
    for (size_t i = 0; i < count; ++i) {
        const ChainElement& from = finding.Chain[i];
        CERT_CHAIN_ELEMENT& element = block->Elements[i];
        element.cbSize = sizeof(CERT_CHAIN_ELEMENT);
        element.pCertContext = slot.Certs[i].pCert;
        element.TrustStatus = from.Status;
        summary.dwErrorStatus |= from.Status.dwErrorStatus;
        if (from.Revocation) {
            CERT_REVOCATION_INFO& info = block->Revocations[i];
            info.cbSize = sizeof(CERT_REVOCATION_INFO);
            info.dwRevocationResult = static_cast<DWORD>(from.Revocation->Result);
            if (from.Revocation->Result == CRYPT_E_REVOKED) {
                CRL_ENTRY& entry = block->CrlEntries[i];
                entry.SerialNumber = element.pCertContext->pCertInfo->SerialNumber;
                entry.RevocationDate = FileTimeOfUnix(from.Revocation->RevokedAt);
                if (from.RevokedReason != 0 && from.RevokedReason < 0x80) {
                    block->ReasonValues[i] = {0x0A, 0x01, static_cast<BYTE>(from.RevokedReason)};
                    CERT_EXTENSION& reason = block->ReasonExtensions[i];
                    reason.pszObjId = const_cast<LPSTR>(szOID_CRL_REASON_CODE);
                    reason.fCritical = FALSE;
                    reason.Value = {3, block->ReasonValues[i].data()};
                    entry.cExtension = 1;
                    entry.rgExtension = &reason;
                }
                CERT_REVOCATION_CRL_INFO& crl = block->CrlInfos[i];
                crl.cbSize = sizeof(CERT_REVOCATION_CRL_INFO);
                crl.pCrlEntry = &entry;
                info.pCrlInfo = &crl;
            }
            element.pRevocationInfo = &info;
        }
        block->ElementPointers[i] = &element;
        slot.Certs[i].pChainElement = &element;
    }
    block->Simple.cbSize = sizeof(CERT_SIMPLE_CHAIN);
    block->Simple.TrustStatus = summary;
    block->Simple.cElement = static_cast<DWORD>(count);
    block->Simple.rgpElement = block->ElementPointers.data();
    block->SimplePointer = &block->Simple;
    block->Context.cbSize = sizeof(CERT_CHAIN_CONTEXT);
    block->Context.TrustStatus = summary;
    block->Context.cChain = 1;
    block->Context.rgpChain = &block->SimplePointer;
    signer.pChainContext = &block->Context;
    slot.Chain = std::move(block);
}

void ProviderState::SetSigners(std::vector<SignerFinding> signers)
{
    for (SignerSlot& slot : FSlots)
        FreeCertificates(slot);
    // Sized once, so that every pointer handed out stays where it is.
    FSigners.assign(signers.size(), CRYPT_PROVIDER_SGNR{});
    FSlots.clear();
    FSlots.resize(signers.size());
    for (size_t i = 0; i < signers.size(); ++i)
        Fill(FSigners[i], FSlots[i], std::move(signers[i]));
    FData.csSigners = static_cast<DWORD>(FSigners.size());
    FData.pasSigners = FSigners.empty() ? nullptr : FSigners.data();
}

bool ProviderState::Owns(const CRYPT_PROVIDER_SGNR* signer) const
{
    for (size_t i = 0; i < FSigners.size(); ++i) {
        if (&FSigners[i] == signer)
            return true;
        for (const CRYPT_PROVIDER_SGNR& counter : FSlots[i].CounterSigners)
            if (&counter == signer)
                return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------

HANDLE RegisterState(std::unique_ptr<ProviderState> state)
{
    Registry& registry = TheRegistry();
    const HANDLE handle = state.get();
    const std::lock_guard lock(registry.Lock);
    registry.Live.emplace(handle, std::move(state));
    return handle;
}

bool CloseState(HANDLE handle)
{
    std::unique_ptr<ProviderState> doomed;
    {
        Registry& registry = TheRegistry();
        const std::lock_guard lock(registry.Lock);
        const auto found = registry.Live.find(handle);
        if (found == registry.Live.end())
            return false;
        doomed = std::move(found->second);
        registry.Live.erase(found);
    }
    // Freed outside the lock: closing contexts and messages calls into crypt32.
    return true;
}

CRYPT_PROVIDER_DATA* ProviderDataOf(HANDLE handle)
{
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.Lock);
    const auto found = registry.Live.find(handle);
    return found == registry.Live.end() ? nullptr : found->second->Data();
}

CRYPT_PROVIDER_SGNR* SignerOf(CRYPT_PROVIDER_DATA* data, DWORD index, bool counterSigner, DWORD counterIndex)
{
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.Lock);
    for (auto& [handle, state] : registry.Live) {
        if (state->Data() != data)
            continue;
        if (index >= data->csSigners)
            return nullptr;
        CRYPT_PROVIDER_SGNR* signer = &data->pasSigners[index];
        if (!counterSigner)
            return signer;
        return counterIndex < signer->csCounterSigners ? &signer->pasCounterSigners[counterIndex] : nullptr;
    }
    return nullptr;
}

CRYPT_PROVIDER_CERT* CertificateOf(CRYPT_PROVIDER_SGNR* signer, DWORD index)
{
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.Lock);
    for (auto& [handle, state] : registry.Live)
        if (state->Owns(signer))
            return index < signer->csCertChain ? &signer->pasCertChain[index] : nullptr;
    return nullptr;
}

} // namespace wintrust
