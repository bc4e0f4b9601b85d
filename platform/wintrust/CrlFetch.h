// Certificate revocation lists fetched from the HTTP distribution points that certificates name.
// A list that arrived is kept for the rest of the process, as Windows keeps its URL cache. A
// server that ran out of time or whose name did not resolve is left alone for two minutes, and
// all of them are when a name lookup or connection off this machine ran out of time (the network
// is down); one that refused or answered without a list is tried again next time. A list that
// cannot be had never fails anything.
#pragma once

#include "platform/wintrust/Ossl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace wintrust {

// How long one fetch may take, name lookup and connecting included. A list server that answers
// at all answers well within it; offline, every second here is a second the user waits.
inline constexpr long CrlFetchTimeoutMs = 1500;

// What one verification may spend on fetching, across all the chains it judges: a hostile
// signature naming many slow servers, or a machine without network, must not hold the caller
// for long.
class FetchBudget {
public:
    FetchBudget(size_t fetches, long milliseconds);
    // The time the next fetch may take (at most CrlFetchTimeoutMs), and one fetch taken from
    // the budget; 0 when the budget is spent.
    [[nodiscard]] long Take();
    // A fetch ran out of time: the network is not answering, and the rest of this verification
    // fetches nothing more.
    void Stop() { FFetchesLeft = 0; }

private:
    size_t FFetchesLeft;
    int64_t FDeadlineMs;
};

// A list larger than this is abandoned while it arrives.
inline constexpr size_t MaxCrlSize = 16u * 1024 * 1024;

// The CRL at url (DER, or PEM as some servers send), or null. A list that is already kept is
// answered at once; otherwise, unless budget is null or the server is being left alone, it is
// fetched within what budget allows, and a fetch that runs out of time stops the budget.
[[nodiscard]] X509CrlPtr FetchCrl(const std::string& url, FetchBudget* budget);

// The HTTP URLs of a certificate's CRL distribution points, in the certificate's order.
[[nodiscard]] std::vector<std::string> CrlDistributionUrls(X509* cert);

} // namespace wintrust
