// Why a signature got its verdict, read from the verification the way a Windows program reads it:
// the chain each signer's CERT_CHAIN_CONTEXT holds with every element's trust status and
// revocation answer, the moment the chain was judged at and why, the time stamp's counter-signer
// with its own chain, and the digest check the trust provider keeps as its private data.
#pragma once

#include "platform/include/win/wintrust.h"
#include "support/DateTime.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// What revocation checking found for one certificate.
struct TRevocationAccount {
    // S_OK (its issuer's list does not name it), CRYPT_E_REVOKED, CRYPT_E_NO_REVOCATION_CHECK (it
    // names no list) or CRYPT_E_REVOCATION_OFFLINE (no list could be had).
    HRESULT Result = S_OK;
    TDateTime RevokedAtUtc = 0; // when revoked, with its reason (a CRLReason, 0 when none is given)
    DWORD Reason = 0;
};

struct TCertAccount {
    QString Subject; // simple display names
    QString Issuer;
    QString Sha1; // thumbprints, lower-case hex
    QString Sha256;
    TDateTime NotBeforeUtc = 0;
    TDateTime NotAfterUtc = 0;
    DWORD Source = 0; // where it was found: TESSERA_CERT_SOURCE_*
    bool TrustedRoot = false;
    CERT_TRUST_STATUS Status{};
    std::optional<TRevocationAccount> Revocation; // none when revocation was not checked for it
};

struct TChainAccount {
    std::vector<TCertAccount> Elements; // the signer's certificate first
    CERT_TRUST_STATUS Status{};         // the chain's: its elements' and what only a chain has
};

// Why the chain was judged at its moment.
enum class TJudgedAtReason {
    TimeStamp,       // the time stamp's time
    NoTimeStamp,     // now: the signature has no time stamp
    TimeStampFailed, // now: the time stamp was refused
    LifetimeSigning, // now: the signer's certificate ends its signatures with it
};

struct TTimeStampAccount {
    QString Kind;   // "RFC 3161" or "Authenticode"
    QString Signer; // the time-stamp authority's certificate, by its display name
    TDateTime TimeUtc = 0;
    HRESULT Result = S_OK; // the counter-signer's verdict
    TChainAccount Chain;
};

struct TDigestAccount {
    QString Algorithm; // "sha256"
    QString File;      // lower-case hex
    QString Signed;
    bool Match = false;
};

struct TSignatureAccount {
    TChainAccount Chain;
    TDateTime JudgedAtUtc = 0;
    TJudgedAtReason JudgedAtReason = TJudgedAtReason::NoTimeStamp;
    std::optional<TTimeStampAccount> TimeStamp;
    std::optional<TDigestAccount> Digest;
    // The signer's own verdict: its signature, then its time stamp, then its chain.
    HRESULT SignerResult = S_OK;
};

// The account of the first signer of a verification's state; none when it has no signer. kind is
// the time stamp's kind as the signature carries it.
[[nodiscard]] std::optional<TSignatureAccount> ReadSignatureAccount(HANDLE state, const QString& timeStampKind);

// The chain engine's names of the flags set in errorStatus ("CERT_TRUST_IS_NOT_TIME_VALID", ...),
// from the lowest bit up; an unnamed one as its hex value.
[[nodiscard]] QStringList ChainStatusNames(DWORD errorStatus);
