#include "tests/platform/wintrust/WinTrustTestSupport.h"

#include "platform/common/Calendar.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/mscat.h"
#include "platform/kernel32/Handles.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace wintrusttest {

fs::path Signed(const std::string& name)
{
    return testsupport::Fixture("signed/" + name);
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

fs::path FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir) / name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

int PeerVersion()
{
    const fs::path peer = FindProgram("osslsigncode");
    if (peer.empty())
        return 0;
    // "osslsigncode 2.9, using:" on its first line.
    const std::string out = testsupport::RunProgram(peer, {"--version"}).Out;
    int major = 0;
    int minor = 0;
    if (std::sscanf(out.c_str(), "osslsigncode %d.%d", &major, &minor) != 2)
        return 0;
    return major * 100 + minor;
}

std::string Narrow(std::u16string_view text)
{
    return winstr::ToUtf8(text);
}

uint64_t Ticks(const FILETIME& time)
{
    return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t TicksOf(int year, int month, int day, int hour, int minute, int second)
{
    const int64_t days = calendar::DaysFromCivil(year, month, day) - calendar::DaysFromCivil(1601, 1, 1);
    return static_cast<uint64_t>(days * 86400 + hour * 3600 + minute * 60 + second) * 10'000'000u;
}

// ---------------------------------------------------------------------------------------------

TrustAnchors::TrustAnchors(Anchors anchors) : FFile(FDir / "anchors.pem")
{
    std::string pem;
    if (anchors != Anchors::None)
        pem += testsupport::ReadText(testsupport::Fixture("certs/root.pem"));
    if (anchors == Anchors::RootAndTsa) {
        pem += testsupport::ReadText(Signed("tsa-root.pem"));
        pem += testsupport::ReadText(Signed("real-world-roots.pem"));
    }
    testsupport::WriteText(FFile, pem);
    if (const char* previous = std::getenv("SSL_CERT_FILE")) {
        FPrevious = previous;
        FHadPrevious = true;
    }
    setenv("SSL_CERT_FILE", FFile.c_str(), 1);
}

TrustAnchors::~TrustAnchors()
{
    if (FHadPrevious)
        setenv("SSL_CERT_FILE", FPrevious.c_str(), 1);
    else
        unsetenv("SSL_CERT_FILE");
}

// ---------------------------------------------------------------------------------------------

Verification::Verification(const fs::path& file, Open open, DWORD revocation, DWORD provFlags)
    : FPath(winstr::FromUtf8(file.string()))
{
    if (open == Open::Handle)
        FFile = CreateFileW(FPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    FFileInfo.cbStruct = sizeof FFileInfo;
    FFileInfo.pcwszFilePath = FPath.c_str();
    FFileInfo.hFile = FFile;
    FData.cbStruct = sizeof FData;
    FData.dwUIChoice = WTD_UI_NONE;
    FData.fdwRevocationChecks = revocation;
    FData.dwUnionChoice = WTD_CHOICE_FILE;
    FData.pFile = &FFileInfo;
    FData.dwStateAction = WTD_STATEACTION_VERIFY;
    FData.dwProvFlags = provFlags;
    FResult = WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &FAction, &FData);
}

Verification::~Verification()
{
    Close();
    if (FFile != INVALID_HANDLE_VALUE)
        CloseHandle(FFile);
}

CRYPT_PROVIDER_SGNR* Verification::signer() const
{
    CRYPT_PROVIDER_DATA* provider = data();
    return provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
}

HRESULT Verification::Close()
{
    FData.dwStateAction = WTD_STATEACTION_CLOSE;
    return WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &FAction, &FData);
}

HRESULT VerifyByCatalog(const fs::path& catalog, const fs::path& file)
{
    const std::u16string catalogName = winstr::FromFileSystem(catalog.string());
    const std::u16string fileName = winstr::FromFileSystem(file.string());
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const HANDLE handle = kernel32::HandleFromDescriptor(fd);
    HRESULT result = TRUST_E_NOSIGNATURE;
    for (const char16_t* algorithm : {u"SHA256", u"SHA1"}) {
        HCATADMIN admin = nullptr;
        if (!CryptCATAdminAcquireContext2(&admin, nullptr, algorithm, nullptr, 0))
            continue;
        if (HCATINFO added = CryptCATAdminAddCatalog(admin, catalogName.c_str(), nullptr, 0))
            CryptCATAdminReleaseCatalogContext(admin, added, 0);
        BYTE hash[64] = {};
        DWORD size = sizeof hash;
        HCATINFO found = nullptr;
        if (CryptCATAdminCalcHashFromFileHandle2(admin, handle, &size, hash, 0))
            found = CryptCATAdminEnumCatalogFromHash(admin, hash, size, 0, nullptr);
        if (found) {
            CryptCATAdminReleaseCatalogContext(admin, found, 0);
            WINTRUST_CATALOG_INFO info{};
            info.cbStruct = sizeof info;
            info.pcwszCatalogFilePath = catalogName.c_str();
            info.pcwszMemberFilePath = fileName.c_str();
            info.hMemberFile = handle;
            info.pbCalculatedFileHash = hash;
            info.cbCalculatedFileHash = size;
            info.hCatAdmin = admin;
            WINTRUST_DATA request{};
            request.cbStruct = sizeof request;
            request.dwUIChoice = WTD_UI_NONE;
            request.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
            request.dwUnionChoice = WTD_CHOICE_CATALOG;
            request.pCatalog = &info;
            request.dwStateAction = WTD_STATEACTION_IGNORE;
            GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
            result = WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
        }
        CryptCATAdminReleaseContext(admin, 0);
        if (found)
            break;
    }
    if (fd >= 0)
        close(fd);
    return result;
}

HRESULT VerifyBytes(const Bytes& bytes, const std::string& name)
{
    const testsupport::TempDir dir;
    testsupport::WriteBytes(dir / name, bytes);
    const Verification verification(dir / name, Open::Path);
    return verification.result();
}

// ---------------------------------------------------------------------------------------------

LoopbackServer::LoopbackServer(uint16_t port) : LoopbackServer(port, std::nullopt) {}

LoopbackServer::LoopbackServer(uint16_t port, Bytes body) : LoopbackServer(port, std::optional<Bytes>(std::move(body)))
{
}

LoopbackServer::LoopbackServer(uint16_t port, std::optional<Bytes> body) : FBody(std::move(body))
{
    FSocket = testsupport::ListenOnLoopback(port, 8);
    if (FSocket < 0)
        return;
    FThread = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FSocket >= 0)
        close(FSocket);
}

void LoopbackServer::Serve()
{
    while (!FStop) {
        pollfd waiting{FSocket, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0)
            continue;
        const int client = accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        if (!FBody) {
            // Accepted and never answered, as a server behind a dead link: the client waits.
            ++FRequests;
            FSilent.push_back(client);
            continue;
        }
        // The request up to its blank line; its contents do not matter.
        std::string request;
        char chunk[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd readable{client, POLLIN, 0};
            if (poll(&readable, 1, 2000) <= 0)
                break;
            const ssize_t n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            request.append(chunk, static_cast<size_t>(n));
        }
        ++FRequests;
        std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: application/pkix-crl\r\nContent-Length: " +
                            std::to_string(FBody->size()) + "\r\nConnection: close\r\n\r\n";
        reply.append(FBody->begin(), FBody->end());
        size_t sent = 0;
        while (sent < reply.size()) {
            const ssize_t n = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        close(client);
    }
    for (const int client : FSilent)
        close(client);
}

// ---------------------------------------------------------------------------------------------

const std::vector<Expected>& SignedFixtures()
{
    static const std::vector<Expected> fixtures = {
        {"valid.exe", S_OK},
        {"valid-sha1.exe", S_OK},
        {"valid64.exe", S_OK},
        {"no-opus.exe", S_OK},
        {"opus-urls.exe", S_OK},
        {"opus-file.exe", S_OK},
        {"ts-legacy.exe", S_OK},
        {"ts-rfc3161.exe", S_OK},
        {"ts-rfc3161-64.exe", S_OK},
        {"ts-rfc3161-attrcert.exe", S_OK},
        {"expired.exe", CERT_E_EXPIRED},
        {"expired-ts-rfc3161.exe", S_OK},
        {"expired-ts-legacy.exe", S_OK},
        {"untrusted-root.exe", CERT_E_UNTRUSTEDROOT},
        {"nested.exe", CERT_E_UNTRUSTEDROOT},
        {"no-intermediate.exe", CERT_E_CHAINING},
        {"bad-digest.exe", TRUST_E_BAD_DIGEST},
        {"bad-digest64.exe", TRUST_E_BAD_DIGEST},
        {"bad-signature.exe", TRUST_E_BAD_DIGEST},
        {"no-signer-cert.exe", TRUST_E_NO_SIGNER_CERT},
        {"wrong-usage.exe", CERT_E_WRONG_USAGE},
        {"revoked.exe", CERT_E_REVOKED},
        {"revoked-crl-in-message.exe", CERT_E_REVOKED},
        {"ts-legacy-broken.exe", TRUST_E_COUNTER_SIGNER},
        {"ts-rfc3161-broken.exe", TRUST_E_TIME_STAMP},
        {"msi-ts.msi", S_OK},
        {"msi-dse-ts.msi", S_OK},
        {"msi-dse-sha1.msi", S_OK},
        {"msi-bad-digest.msi", TRUST_E_BAD_DIGEST},
        {"msi-meta-changed.msi", S_OK},
        {"msi-dse-meta-changed.msi", TRUST_E_BAD_DIGEST},
        // Shapes of real files (make_real_world_fixtures.py).
        {"layout-overlap.exe", S_OK},
        {"layout-gaps.exe", S_OK},
        {"layout-overlay.exe", S_OK},
        {"ts-legacy-bare-digest.exe", S_OK},
        {"ts-legacy-bare-digest-changed.exe", TRUST_E_COUNTER_SIGNER},
        {"expired-ts-old-root.exe", S_OK},
        {"intermediate-no-bc.exe", TRUST_E_BASIC_CONSTRAINTS},
        {"lifetime-ts.exe", S_OK},
        {"lifetime-expired-ts.exe", CERT_E_EXPIRED},
        {"ec-valid.exe", S_OK},
        {"ec-spoof.exe", CERT_E_UNTRUSTEDROOT},
        {"crl-silent.exe", S_OK}, // nothing listens at its distribution points: revocation offline
    };
    return fixtures;
}

} // namespace wintrusttest
