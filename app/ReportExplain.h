// Why a signature got its verdict, in plain words for a person: the chain as it was judged, one
// certificate a line with its status, the moment it was judged at and why, the time stamp, the
// revocation answers and the digest check. tessera-report --explain writes it after each verdict.
#pragma once

#include "cert/KavexTrustAccount.h"

#include <QStringList>

// The account's lines, indented to stand under the verdict. nowUtc is the moment the account is
// written at, against which a certificate that expired since the judged moment is told apart.
[[nodiscard]] QStringList ExplainSignature(const TSignatureAccount& account, TDateTime nowUtc);
