// What one verification leaves behind for its caller (the provider data, its signers,
// counter-signers, certificates and the message handle) and the table of live states that the
// WTHelper functions look pointers up in. Everything lives until the close action.
#pragma once

#include "platform/wintrust/Chain.h"
#include "platform/wintrust/Ossl.h"

#include "platform/include/win/wintrust.h"

#include <array>
#include <memory>
#include <vector>

namespace wintrust {

// A CMSG_SIGNER_INFO in one flat, suitably aligned block (its pointers point into the block).
using SignerInfoBlock = std::vector<uint64_t>;

// The signer info of signer `index` of a crypt32 message; empty when there is none.
[[nodiscard]] SignerInfoBlock SignerInfoOfMessage(HCRYPTMSG message, DWORD index);
// The signer info decoded from a SignerInfo's DER (a legacy counter-signature).
[[nodiscard]] SignerInfoBlock SignerInfoOfDer(std::span<const uint8_t> der);
// The first signer's info of a ContentInfo's DER (an RFC 3161 time-stamp token).
[[nodiscard]] SignerInfoBlock SignerInfoOfToken(std::span<const uint8_t> der);

// One signer or counter-signer as the policy found it, before it becomes a CRYPT_PROVIDER_SGNR.
struct SignerFinding {
    SignerInfoBlock SignerInfo;
    FILETIME VerifyAsOf{};
    DWORD SignerType = 0;
    HRESULT Error = S_OK;
    std::vector<ChainElement> Chain;
    CERT_TRUST_STATUS ChainStatus{};
    std::vector<SignerFinding> CounterSigners; // one level only
};

class ProviderState {
public:
    ProviderState(WINTRUST_DATA* request, const GUID& action);
    ~ProviderState();
    ProviderState(const ProviderState&) = delete;
    ProviderState& operator=(const ProviderState&) = delete;

    [[nodiscard]] CRYPT_PROVIDER_DATA* Data() { return &FData; }
    // Takes the signature's crypt32 message (closed with the state) and opens a store on it.
    void AdoptMessage(HCRYPTMSG message);
    void SetSigners(std::vector<SignerFinding> signers);
    void SetResult(HRESULT result) { FData.dwFinalError = static_cast<DWORD>(result); }

    [[nodiscard]] bool Owns(const CRYPT_PROVIDER_SGNR* signer) const;

private:
    // A signer's chain context and everything its elements point to.
    struct ChainBlock {
        CERT_CHAIN_CONTEXT Context{};
        CERT_SIMPLE_CHAIN Simple{};
        PCERT_SIMPLE_CHAIN SimplePointer = nullptr;
        // Sized once, before anything points into them.
        std::vector<CERT_CHAIN_ELEMENT> Elements;
        std::vector<PCERT_CHAIN_ELEMENT> ElementPointers;
        std::vector<CERT_REVOCATION_INFO> Revocations;
        std::vector<CERT_REVOCATION_CRL_INFO> CrlInfos;
        std::vector<CRL_ENTRY> CrlEntries;
        std::vector<CERT_EXTENSION> ReasonExtensions;
        std::vector<std::array<BYTE, 3>> ReasonValues; // DER ENUMERATED
    };
    struct SignerSlot {
        SignerInfoBlock SignerInfo;
        std::unique_ptr<ChainBlock> Chain;
        std::vector<CRYPT_PROVIDER_CERT> Certs;
        std::vector<CRYPT_PROVIDER_SGNR> CounterSigners; // contiguous, as callers index them
        std::vector<SignerSlot> CounterSlots;            // parallel to CounterSigners
    };
    static void Fill(CRYPT_PROVIDER_SGNR& signer, SignerSlot& slot, SignerFinding finding);
    static void FillChain(CRYPT_PROVIDER_SGNR& signer, SignerSlot& slot, const SignerFinding& finding);
    static void FreeCertificates(SignerSlot& slot);

    GUID FAction;
    CRYPT_PROVIDER_DATA FData{};
    HCERTSTORE FMessageStore = nullptr;
    std::vector<CRYPT_PROVIDER_SGNR> FSigners; // contiguous
    std::vector<SignerSlot> FSlots;            // parallel to FSigners
};

// The table of live states. A handle is the state's address; pointers that are not in the
// table are answered with null, never followed.
[[nodiscard]] HANDLE RegisterState(std::unique_ptr<ProviderState> state);
// Frees the state; false (and nothing done) for a handle that is not live.
bool CloseState(HANDLE handle);
[[nodiscard]] CRYPT_PROVIDER_DATA* ProviderDataOf(HANDLE handle);
[[nodiscard]] CRYPT_PROVIDER_SGNR* SignerOf(CRYPT_PROVIDER_DATA* data, DWORD index, bool counterSigner,
                                            DWORD counterIndex);
[[nodiscard]] CRYPT_PROVIDER_CERT* CertificateOf(CRYPT_PROVIDER_SGNR* signer, DWORD index);

} // namespace wintrust
