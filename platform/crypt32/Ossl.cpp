#include "platform/crypt32/Ossl.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <mutex>

namespace crypt32 {

namespace {

// Not in winerror.h: what Windows reports for a PKCS #12 password that does not open the container.
constexpr DWORD ErrorInvalidPassword = 86;

OSSL_LIB_CTX* LegacyContext()
{
    // Made once and kept for the life of the process: objects decoded under it refer to it.
    static OSSL_LIB_CTX* const Context = [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (ctx && (!OSSL_PROVIDER_load(ctx, "default") || !OSSL_PROVIDER_load(ctx, "legacy"))) {
            // Without the legacy provider modern containers still open in the default context.
            OSSL_LIB_CTX_free(ctx);
            ctx = nullptr;
        }
        ERR_clear_error();
        return ctx;
    }();
    return Context;
}

} // namespace

DWORD TakeOpenSslError(DWORD fallback)
{
    DWORD result = fallback;
    const unsigned long first = ERR_peek_error();
    if (first != 0) {
        const int lib = ERR_GET_LIB(first);
        const int reason = ERR_GET_REASON(first);
        if (reason == ERR_R_MALLOC_FAILURE)
            result = ERROR_NOT_ENOUGH_MEMORY;
        else if (lib == ERR_LIB_PKCS12 && reason == PKCS12_R_MAC_VERIFY_FAILURE)
            result = ErrorInvalidPassword;
        else if (lib == ERR_LIB_ASN1)
            result = ErrorCode(CRYPT_E_ASN1_BADTAG);
    }
    ERR_clear_error();
    return result;
}

LegacyContextScope::LegacyContextScope()
{
    if (OSSL_LIB_CTX* ctx = LegacyContext()) {
        FPrevious = OSSL_LIB_CTX_set0_default(ctx);
        FActive = FPrevious != nullptr;
    }
}

LegacyContextScope::~LegacyContextScope()
{
    if (FActive)
        OSSL_LIB_CTX_set0_default(FPrevious);
}

} // namespace crypt32
