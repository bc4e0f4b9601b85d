// Shared by the wintrust tests: one verification with its state, the trust anchors the tests
// set, a loopback HTTP server for CRLs, and the signed fixtures with their expected results.
#pragma once

#include "platform/include/win/winbase.h"
#include "platform/include/win/wintrust.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace wintrusttest {

using Bytes = std::vector<uint8_t>;

// The port the revoked signer's CRL distribution point names (tests/fixtures/signed).
inline constexpr uint16_t CrlPort = 48111;
inline constexpr char CrlPath[] = "/tessera-intermediate.crl";
// The two ports crl-silent.exe's distribution points name.
inline constexpr uint16_t SilentCrlPorts[] = {48112, 48113};
// The ports crl-silent-nested.exe's ten signers name, one each.
inline constexpr uint16_t NestedSilentCrlPorts[] = {48120, 48121, 48122, 48123, 48124,
                                                    48125, 48126, 48127, 48128, 48129};

[[nodiscard]] std::filesystem::path Signed(const std::string& name);
[[nodiscard]] std::string Hex(HRESULT hr);

// Which roots the verification trusts, written to a file that SSL_CERT_FILE names while the
// object lives (the previous value comes back afterwards).
enum class Anchors {
    None,       // an empty file
    Root,       // the test root
    RootAndTsa, // the test root, the time-stamp authority's root and real-world-roots.pem
};
class TrustAnchors {
public:
    explicit TrustAnchors(Anchors anchors);
    ~TrustAnchors();
    TrustAnchors(const TrustAnchors&) = delete;
    TrustAnchors& operator=(const TrustAnchors&) = delete;
    [[nodiscard]] const std::filesystem::path& file() const { return FFile; }

private:
    testsupport::TempDir FDir;
    std::filesystem::path FFile;
    std::string FPrevious;
    bool FHadPrevious = false;
};

enum class Open {
    Handle, // the file opened with CreateFileW and handed over as hFile
    Path,   // hFile = INVALID_HANDLE_VALUE: the stand-in opens the path
};

// One verification as the program makes it; the state is closed when the object goes.
class Verification {
public:
    explicit Verification(const std::filesystem::path& file, Open open = Open::Handle,
                          DWORD revocation = WTD_REVOKE_WHOLECHAIN, DWORD provFlags = WTD_SAFER_FLAG);
    ~Verification();
    Verification(const Verification&) = delete;
    Verification& operator=(const Verification&) = delete;

    [[nodiscard]] HRESULT result() const { return FResult; }
    [[nodiscard]] HANDLE state() const { return FData.hWVTStateData; }
    [[nodiscard]] CRYPT_PROVIDER_DATA* data() const { return WTHelperProvDataFromStateData(FData.hWVTStateData); }
    // The first signer, or null.
    [[nodiscard]] CRYPT_PROVIDER_SGNR* signer() const;
    // The close action; afterwards state() is null. Safe to call twice.
    HRESULT Close();
    [[nodiscard]] WINTRUST_DATA& request() { return FData; }

private:
    std::u16string FPath;
    HANDLE FFile = INVALID_HANDLE_VALUE;
    WINTRUST_FILE_INFO FFileInfo{};
    WINTRUST_DATA FData{};
    GUID FAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HRESULT FResult = E_FAIL;
};

// A file judged by a catalog as programs do it: the administrator finds whether the catalog lists
// the file's hash (SHA-256, else SHA-1), then WinVerifyTrust judges the member; TRUST_E_NOSIGNATURE
// when the catalog lists no such hash.
[[nodiscard]] HRESULT VerifyByCatalog(const std::filesystem::path& catalog, const std::filesystem::path& file);

// Verifies bytes written to a temporary file (by path); the state is closed at once.
[[nodiscard]] HRESULT VerifyBytes(const Bytes& bytes, const std::string& name = "subject.bin");

// A minimal HTTP/1.0 server on 127.0.0.1:port answering every GET with one body, or, without a
// body, accepting every connection and never answering.
class LoopbackServer {
public:
    LoopbackServer(uint16_t port, Bytes body);
    explicit LoopbackServer(uint16_t port);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    [[nodiscard]] bool listening() const { return FSocket >= 0; }
    // Connections accepted so far.
    [[nodiscard]] int requests() const { return FRequests.load(); }

private:
    LoopbackServer(uint16_t port, std::optional<Bytes> body);
    void Serve();
    int FSocket = -1;
    std::optional<Bytes> FBody;
    std::vector<int> FSilent; // the serving thread's own
    std::atomic<bool> FStop{false};
    std::atomic<int> FRequests{0};
    std::thread FThread;
};

// The signed fixtures and the results Windows' policy gives them with Anchors::RootAndTsa
// (revoked.exe: with its CRL served, see the revocation tests).
struct Expected {
    const char* File;
    HRESULT Result;
};
[[nodiscard]] const std::vector<Expected>& SignedFixtures();

// A program on PATH; empty when there is none.
[[nodiscard]] std::filesystem::path FindProgram(const std::string& name);

// The version of the osslsigncode installed, major * 100 + minor (2.9: 209); 0 when it is missing
// or says no version. Its verdicts depend on it: the peer tests compare what the version says.
[[nodiscard]] int PeerVersion();

[[nodiscard]] std::string Narrow(std::u16string_view text);
[[nodiscard]] uint64_t Ticks(const FILETIME& time);
[[nodiscard]] uint64_t TicksOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

} // namespace wintrusttest
