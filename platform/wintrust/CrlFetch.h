// Certificate revocation lists fetched from the HTTP distribution points that certificates name.
// A list that arrived is kept for the rest of the process, as Windows keeps its URL cache. A
// server that ran out of time, whose name did not resolve, or that answered with something that is
// not a list is left alone for two minutes, and all of them are when a name lookup or connection
// off this machine ran out of time (the network is down); one that refused the connection is tried
// again next time. A list that cannot be had never fails anything.
#pragma once

#include "platform/wintrust/Ossl.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wintrust {

// How long one fetch may take, name lookup and connecting included. A list server that answers
// at all answers well within it; offline, every second here is a second the user waits.
inline constexpr long CrlFetchTimeoutMs = 1500;

// What fetching may spend for one file, across all the chains judged for it (its nested
// signatures are judged one after another): a hostile signature naming many slow servers, or a
// machine without network, must not hold the caller for long. The time counted is the time spent
// waiting for servers.
class FetchBudget {
public:
    FetchBudget(size_t fetches, long milliseconds);
    // The time the next fetch may take (at most CrlFetchTimeoutMs), and one fetch taken from
    // the budget; 0 when the budget is spent.
    [[nodiscard]] long Take();
    // What a fetch took.
    void Spend(int64_t milliseconds);
    // A fetch ran out of time: the network is not answering, and the rest of this file's
    // verifications fetch nothing more.
    void Stop();
    // When it was last taken from or spent, for how long it is kept (steady clock, ms).
    [[nodiscard]] int64_t LastUsedMs() const;

private:
    mutable std::mutex FLock;
    size_t FFetchesLeft;
    int64_t FMillisecondsLeft;
    int64_t FLastUsedMs;
};

// The budget of the file open on fd, shared by the verifications of that file that follow each
// other, so that each does not get the whole budget anew. A budget of its own when the file cannot
// be told apart from others.
[[nodiscard]] std::shared_ptr<FetchBudget> FileFetchBudget(int fd, size_t fetches, long milliseconds);

// A list larger than this is abandoned while it arrives.
inline constexpr size_t MaxCrlSize = 16u * 1024 * 1024;

// The CRL at url (DER, or PEM as some servers send), or null. A list that is already kept is
// answered at once; otherwise, unless budget is null or the server is being left alone, it is
// fetched within what budget allows, and a fetch that runs out of time stops the budget.
[[nodiscard]] X509CrlPtr FetchCrl(const std::string& url, FetchBudget* budget);

// The HTTP URLs of a certificate's CRL distribution points, in the certificate's order.
[[nodiscard]] std::vector<std::string> CrlDistributionUrls(X509* cert);

} // namespace wintrust
