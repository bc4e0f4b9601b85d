// PFXImportCertStore on arbitrary bytes with a fixed password: MAC, key derivation and decryption
// within their bounds, and every certificate of what imports enumerated.
#include "platform/include/win/wincrypt.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
    if (HCERTSTORE store = PFXImportCertStore(&blob, u"tessera", 0)) {
        for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c;
             c = CertEnumCertificatesInStore(store, c)) {
        }
        CertCloseStore(store, 0);
    }
    return 0;
}
