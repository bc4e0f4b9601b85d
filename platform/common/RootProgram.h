// Windows' root program: the roots Microsoft lists for Windows to trust, each with the purposes it
// is trusted for and the dates from which it is not, as Windows receives them in the signed
// certificate trust list authroot.stl. The list is read through crypt32's CTL functions, its
// signature and its signer's chain (to Microsoft Root Certificate Authority 2010, for the
// root-list-signer purpose) checked before anything of it is used.
//
// The list and its roots are built into the program (platform/common/authroot). A newer list can
// be dropped in without a rebuild: the file TESSERA_AUTHROOT names, or
// /var/lib/tessera/authroot.stl, each with the roots in roots.pem beside it, is used instead when
// it verifies and its sequence number is higher. Two roots Windows carries in its own store
// rather than in the list (Microsoft Authenticode(tm) Root Authority and Microsoft Time Stamping
// Service Root) are built in beside it, trusted for code signing and time stamping.
#pragma once

#include "platform/common/CertIndex.h"
#include "platform/common/OsslPtr.h"

#include "platform/include/win/wincrypt.h"

#undef X509_NAME
#undef PKCS7_SIGNER_INFO

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trust {

// When set, names a root (a PEM file) that root lists may be signed under besides Microsoft Root
// Certificate Authority 2010. A test aid, so that tests sign lists of their own.
inline constexpr char ListSigningRootVariable[] = "TESSERA_AUTHROOT_SIGNING_ROOT";
// A newer list to use instead of the built-in one, with roots.pem beside it.
inline constexpr char ListFileVariable[] = "TESSERA_AUTHROOT";

// What the root program says of one root, read from the certificate properties of its entry.
struct RootRules {
    std::u16string FriendlyName;                             // CERT_FRIENDLY_NAME_PROP_ID
    std::optional<std::vector<std::string>> Purposes;        // CERT_ENHKEY_USAGE_PROP_ID; none: every purpose
    std::optional<int64_t> DisallowedFrom;                   // CERT_DISALLOWED_FILETIME_PROP_ID, Unix seconds
    std::optional<std::vector<std::string>> DisallowedPurposes; // CERT_DISALLOWED_ENHKEY_USAGE_PROP_ID
    std::optional<int64_t> NotBeforeFrom;                    // CERT_NOT_BEFORE_FILETIME_PROP_ID, Unix seconds
    std::optional<std::vector<std::string>> NotBeforePurposes; // CERT_NOT_BEFORE_ENHKEY_USAGE_PROP_ID
};

enum class RootVerdict {
    Trusted,
    NotValidForUsage, // the root is not trusted for the purpose (CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
    Distrusted,       // the root program withdrew its trust (CERT_TRUST_IS_EXPLICIT_DISTRUST)
};

// How a chain ending in a root with these rules is judged: for purpose (a usage OID; empty when
// the chain is for no purpose in particular, as in the certificate viewer), at the moment when
// (Unix seconds), with endNotBefore the notBefore of the chain's end certificate.
[[nodiscard]] RootVerdict Judge(const RootRules& rules, std::string_view purpose, int64_t when, int64_t endNotBefore);

class RootProgram {
public:
    // The root program in force: the built-in list, or a newer one dropped in, and the roots built
    // in beside it. Read once, when first asked for, and again only when what names the
    // dropped-in lists changes. Null when built-in trust is turned off; without a list that
    // verifies, it holds the roots built in beside the list only.
    [[nodiscard]] static std::shared_ptr<const RootProgram> Current();

    ~RootProgram();
    RootProgram(const RootProgram&) = delete;
    RootProgram& operator=(const RootProgram&) = delete;

    // The list's entry of the root with this SHA-1 thumbprint (for
    // CertSetCertificateContextPropertiesFromCTLEntry); null when it is not listed.
    [[nodiscard]] PCTL_ENTRY EntryOf(const Sha1& thumbprint) const;
    [[nodiscard]] PCTL_ENTRY EntryOf(X509* cert) const;
    // The rules for cert when it ends a chain: its entry's, those of a root built in beside the
    // list, or null when the root program says nothing of it.
    [[nodiscard]] const RootRules* RulesOf(X509* cert) const;
    // The roots (listed, or built in beside the list) whose subject is name, decoded when first
    // asked for; they live as long as the program.
    [[nodiscard]] std::vector<X509*> RootsNamed(const X509_NAME* name) const;

    [[nodiscard]] PCCTL_CONTEXT List() const { return FList; }
    // Whether cert, one of RootsNamed, is a root of a list dropped in rather than built in.
    [[nodiscard]] bool FromDroppedInList(X509* cert) const;

private:
    RootProgram() = default;
    static std::shared_ptr<const RootProgram> Load();

    PCCTL_CONTEXT FList = nullptr;
    std::vector<uint8_t> FListBytes; // a dropped-in list's bytes (the built-in one is in the program)
    std::map<Sha1, PCTL_ENTRY> FEntries;
    std::unique_ptr<CertIndex> FRoots; // the built-in pack's, or the roots.pem beside the list
    std::vector<ossl::X509Ptr> FOwnRoots; // built in beside the list
    RootRules FOwnRules;
    mutable std::mutex FLock;
    mutable std::map<Sha1, std::optional<RootRules>> FRules;
};

} // namespace trust
