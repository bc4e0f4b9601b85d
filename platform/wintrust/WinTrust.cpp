// WinVerifyTrust for the generic Authenticode action, and the helpers that read its state.
//
// The policy, in the order its verdicts take precedence:
//   1. the file is a PE image or a compound file, and carries a signature that decodes;
//   2. the file's digest is the one the signature claims (TRUST_E_BAD_DIGEST);
//   3. the signer's certificate is in the message (TRUST_E_NO_SIGNER_CERT) and its signature
//      over the authenticated attributes holds, with a messageDigest that matches
//      (TRUST_E_BAD_DIGEST);
//   4. every time stamp verifies (TRUST_E_COUNTER_SIGNER for a legacy one, TRUST_E_TIME_STAMP for
//      an RFC 3161 token); one whose own chain does not reach a trusted root for time stamping is
//      not broken but of no use: it cannot vouch for its time;
//   5. the signer's chain, judged at the time of the first time stamp that verifies and is
//      trusted, or else now (always now for a certificate with Lifetime Signing), for code
//      signing, with revocation of the whole chain (CERT_E_*).
// Every step runs whatever the earlier ones found, so the state always shows all there is.
// The signature judged is the primary one, or the one nested in it that the caller's signature
// settings name (WSS_VERIFY_SPECIFIC); each is judged in full, as a signature of its own.
#include "platform/wintrust/Authenticode.h"
#include "platform/wintrust/Chain.h"
#include "platform/wintrust/Provider.h"
#include "platform/wintrust/Subject.h"

#include "platform/common/FileSource.h"
#include "platform/common/SignatureTrust.h"
#include "platform/common/WinStr.h"
#include "platform/kernel32/Handles.h"

#include <cerrno>
#include <cstddef>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

using namespace wintrust;

namespace {

// Time stamps looked at in one signature at most; further ones are ignored.
constexpr size_t MaxTimeStamps = 8;
// Signatures nested in the primary one that are counted and can be judged; further ones are not.
constexpr size_t MaxNestedSignatures = 32;
// What the verifications of one file may spend fetching CRLs: a few lists, three seconds in all.
constexpr size_t MaxCrlFetches = 8;
constexpr long CrlFetchBudgetMs = 3000;

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A member is inside the caller's structure when the declared size reaches its end.
constexpr bool Holds(DWORD cbStruct, size_t memberOffset, size_t memberSize)
{
    return cbStruct >= memberOffset + memberSize;
}
constexpr size_t StateHandleEnd = offsetof(WINTRUST_DATA, hWVTStateData) + sizeof(HANDLE);

struct MessageCloser {
    void operator()(void* message) const { CryptMsgClose(message); }
};
using MessagePtr = std::unique_ptr<void, MessageCloser>;

// The file the request names: its handle when that is a readable file, else its path.
class RequestFile {
public:
    HRESULT Open(const WINTRUST_FILE_INFO& info)
    {
        const int fd = kernel32::DescriptorFromHandle(info.hFile);
        if (fd >= 0)
            FSource = FileSource::FromDescriptor(fd);
        if (FSource)
            return S_OK;
        if (!info.pcwszFilePath || *info.pcwszFilePath == 0)
            return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
        errno = 0;
        auto opened = OwnedFile::Open(winstr::ToFileSystem(winstr::View(info.pcwszFilePath)));
        if (!opened)
            return HRESULT_FROM_WIN32(kernel32::ErrorFromErrno(errno != 0 ? errno : EACCES));
        FOwned.emplace(std::move(*opened));
        FSource = FOwned->source();
        return S_OK;
    }
    [[nodiscard]] const FileSource& source() const { return *FSource; }

private:
    std::optional<OwnedFile> FOwned;
    std::optional<FileSource> FSource;
};

HRESULT FirstFailure(std::initializer_list<HRESULT> results)
{
    for (const HRESULT hr : results)
        if (FAILED(hr))
            return hr;
    return S_OK;
}

// The counter-signer of one time stamp; `trusted` tells whether its time may be relied on.
SignerFinding TimeStampFinding(const SignedMessage& message, TimeStamp& stamp, const TrustStore& store,
                               const RevocationPolicy& revocation, int64_t now, bool& trusted)
{
    SignerFinding finding;
    finding.SignerType = SGNR_TYPE_TIMESTAMP;
    finding.SignerInfo = stamp.Kind == TimeStampKind::Legacy ? SignerInfoOfDer(stamp.Der) : SignerInfoOfToken(stamp.Der);
    const int64_t when = stamp.Time.value_or(now);
    finding.VerifyAsOf = FileTimeOfUnix(when);
    finding.Error = stamp.Error;
    trusted = SUCCEEDED(stamp.Error) && stamp.SignerCert;
    if (stamp.SignerCert) {
        ChainResult chain = store.Verify(stamp.SignerCert.get(), stamp.Helpers.get(), message.Crls(), when,
                                         Usage::TimeStamping, revocation);
        finding.Chain = std::move(chain.Elements);
        finding.ChainStatus = chain.Status;
        if (FAILED(chain.Error)) {
            trusted = false;
            if (SUCCEEDED(finding.Error))
                finding.Error = chain.Error;
        }
    }
    return finding;
}

// The caller's signature settings, when its structure reaches them.
WINTRUST_SIGNATURE_SETTINGS* SignatureSettingsOf(const WINTRUST_DATA& request)
{
    if (!Holds(request.cbStruct, offsetof(WINTRUST_DATA, pSignatureSettings), sizeof(void*)))
        return nullptr;
    WINTRUST_SIGNATURE_SETTINGS* settings = request.pSignatureSettings;
    if (!settings || !Holds(settings->cbStruct, offsetof(WINTRUST_SIGNATURE_SETTINGS, dwVerifiedSigIndex), sizeof(DWORD)))
        return nullptr;
    return settings;
}

HRESULT VerifyFile(const WINTRUST_DATA& request, ProviderState& state)
{
    RequestFile file;
    HRESULT hr = file.Open(*request.pFile);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<Subject> subject;
    hr = OpenSubject(file.source(), subject);
    if (FAILED(hr))
        return hr;
    Bytes der;
    hr = subject->Signature(der);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<SignedMessage> message;
    hr = SignedMessage::Decode(der, message);
    if (FAILED(hr))
        return hr;
    der.clear();

    // The primary signature, or the nested one the caller names: each is judged on its own, as a
    // whole signature over the same file.
    if (WINTRUST_SIGNATURE_SETTINGS* settings = SignatureSettingsOf(request)) {
        const std::vector<Bytes> nested = NestedSignatures(message->Signer(0), MaxNestedSignatures);
        if (settings->dwFlags & WSS_GET_SECONDARY_SIG_COUNT)
            settings->cSecondarySigs = static_cast<DWORD>(nested.size());
        const DWORD index = (settings->dwFlags & WSS_VERIFY_SPECIFIC) ? settings->dwIndex : 0;
        if (index > nested.size())
            return TRUST_E_NOSIGNATURE;
        settings->dwVerifiedSigIndex = index;
        if (index > 0) {
            std::unique_ptr<SignedMessage> chosen;
            hr = SignedMessage::Decode(nested[index - 1], chosen);
            if (FAILED(hr))
                return hr;
            message = std::move(chosen);
        }
    }

    MessagePtr handle(CryptMsgOpenToDecode(Encoding, 0, 0, 0, nullptr, nullptr));
    if (!handle || !CryptMsgUpdate(handle.get(), message->Der().data(), static_cast<DWORD>(message->Der().size()), TRUE))
        return DIGSIG_E_DECODE;
    state.AdoptMessage(handle.release());
    // Only the first signer of the signature counts, as on Windows.
    PKCS7_SIGNER_INFO* signer = message->Signer(0);
    if (!signer)
        return TRUST_E_NOSIGNATURE;

    SignerFinding finding;
    finding.SignerInfo = SignerInfoOfMessage(state.Data()->hMsg, 0);

    HRESULT digestResult = TRUST_E_BAD_DIGEST;
    if (const EVP_MD* md = message->FileDigestAlgorithm()) {
        Bytes digest;
        if (SUCCEEDED(subject->Digest(md, digest)) && digest == message->FileDigest())
            digestResult = S_OK;
    }

    X509* cert = FindSignerCertificate(signer, message->Certificates());
    const HRESULT signerResult = cert ? VerifySignerInfo(signer, cert, message->SignedContent()) : TRUST_E_NO_SIGNER_CERT;

    const TrustStore store;
    const std::shared_ptr<FetchBudget> budget =
        FileFetchBudget(file.source().descriptor(), MaxCrlFetches, CrlFetchBudgetMs);
    RevocationPolicy revocation;
    revocation.Check = request.fdwRevocationChecks == WTD_REVOKE_WHOLECHAIN;
    revocation.Budget = budget.get();
    if (Holds(request.cbStruct, offsetof(WINTRUST_DATA, dwProvFlags), sizeof(DWORD))) {
        if ((request.dwProvFlags & WTD_REVOCATION_CHECK_NONE) != 0)
            revocation.Check = false;
        if ((request.dwProvFlags & WTD_CACHE_ONLY_URL_RETRIEVAL) != 0)
            revocation.Budget = nullptr;
    }
    const int64_t now = static_cast<int64_t>(std::time(nullptr));

    // A valid time stamp moves the judgement of the signer's chain to the time it was made.
    HRESULT stampResult = S_OK;
    std::optional<int64_t> stampTime;
    std::vector<TimeStamp> stamps = ReadTimeStamps(*message, signer, MaxTimeStamps);
    for (TimeStamp& stamp : stamps) {
        bool trusted = false;
        finding.CounterSigners.push_back(TimeStampFinding(*message, stamp, store, revocation, now, trusted));
        if (trusted && !stampTime)
            stampTime = stamp.Time;
        if (FAILED(stamp.Error) && stampResult == S_OK)
            stampResult = stamp.Error;
    }

    // A lifetime-signing certificate's signatures end with it: no time stamp extends it.
    const int64_t when = trust::HasLifetimeSigning(cert) ? now : stampTime.value_or(now);
    finding.VerifyAsOf = FileTimeOfUnix(when);
    HRESULT chainResult = S_OK;
    if (cert) {
        ChainResult chain = store.Verify(cert, message->Certificates(), message->Crls(), when, Usage::CodeSigning, revocation);
        chainResult = chain.Error;
        finding.Chain = std::move(chain.Elements);
        finding.ChainStatus = chain.Status;
    }
    finding.Error = FirstFailure({signerResult, stampResult, chainResult});

    std::vector<SignerFinding> signers;
    signers.push_back(std::move(finding));
    state.SetSigners(std::move(signers));
    return FirstFailure({digestResult, signerResult, stampResult, chainResult});
}

HRESULT Dispatch(HWND hwnd, GUID* action, WINTRUST_DATA* request)
{
    if (!request || request->cbStruct < sizeof(DWORD))
        return E_INVALIDARG;
    if (Holds(request->cbStruct, offsetof(WINTRUST_DATA, dwStateAction), sizeof(DWORD)) &&
        request->dwStateAction == WTD_STATEACTION_CLOSE) {
        // Closing a state that is not (or no longer) ours, or none, is harmless.
        if (Holds(request->cbStruct, StateHandleEnd, 0)) {
            CloseState(request->hWVTStateData);
            request->hWVTStateData = nullptr;
        }
        return S_OK;
    }
    if (!action || !(*action == WINTRUST_ACTION_GENERIC_VERIFY_V2))
        return TRUST_E_ACTION_UNKNOWN;
    if (!Holds(request->cbStruct, StateHandleEnd, 0))
        return E_INVALIDARG;
    if (request->dwUnionChoice != WTD_CHOICE_FILE)
        return TRUST_E_SUBJECT_FORM_UNKNOWN;
    if (!request->pFile || !Holds(request->pFile->cbStruct, offsetof(WINTRUST_FILE_INFO, hFile), sizeof(HANDLE)))
        return E_INVALIDARG;

    auto state = std::make_unique<ProviderState>(request, *action);
    const HRESULT result = VerifyFile(*request, *state);
    state->SetResult(result);
    if (request->dwStateAction == WTD_STATEACTION_VERIFY)
        request->hWVTStateData = RegisterState(std::move(state));
    return result;
}

} // namespace

extern "C" {

WINAPI_EXPORT HRESULT WINAPI WinVerifyTrustEx(HWND hwnd, GUID* pgActionID, WINTRUST_DATA* pWinTrustData)
{
    const HRESULT result = Dispatch(hwnd, pgActionID, pWinTrustData);
    SetLastError(static_cast<DWORD>(result));
    return result;
}

WINAPI_EXPORT LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData)
{
    return WinVerifyTrustEx(hwnd, pgActionID, static_cast<WINTRUST_DATA*>(pWVTData));
}

WINAPI_EXPORT CRYPT_PROVIDER_DATA* WINAPI WTHelperProvDataFromStateData(HANDLE hStateData)
{
    return ProviderDataOf(hStateData);
}

WINAPI_EXPORT CRYPT_PROVIDER_SGNR* WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData,
                                                                         DWORD idxSigner, BOOL fCounterSigner,
                                                                         DWORD idxCounterSigner)
{
    return SignerOf(pProvData, idxSigner, fCounterSigner != FALSE, idxCounterSigner);
}

WINAPI_EXPORT CRYPT_PROVIDER_CERT* WINAPI WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* pSgnr, DWORD idxCert)
{
    return CertificateOf(pSgnr, idxCert);
}

} // extern "C"
