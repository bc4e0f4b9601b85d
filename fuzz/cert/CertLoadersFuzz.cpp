// The certificate loaders and the description of what they load, on arbitrary file bytes: as a
// certificate file (the file store), as a ".pem" (with the armoured-text fallback), as a key
// container with a fixed password, and as text.
#include "fuzz/common/FuzzFolder.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string Folder()
{
    static const FuzzFolder folder("cert");
    return folder.Path();
}

QString WriteInput(const char* name, const uint8_t* data, size_t size)
{
    const std::string path = Folder() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return QString::fromStdString(path);
}

void Describe(HCERTSTORE store)
{
    if (!store)
        return;
    TCertStoreInfo info;
    DescribeCertStore(store, info);
    CertCloseStore(store, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    HCERTSTORE store = nullptr;
    OpenCertificateFileStore(WriteInput("input.cer", data, size), store);
    Describe(store);
    OpenCertificateFileStore(WriteInput("input.pem", data, size), store);
    Describe(store);
    OpenPfxFileStore(WriteInput("input.pfx", data, size), QStringLiteral("tessera"), store);
    Describe(store);

    PCCERT_CONTEXT certificate = nullptr;
    CertificateFromText(QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                        certificate);
    if (certificate) {
        TCertContextInfo info;
        DescribeCertificate(certificate, info);
        CertFreeCertificateContext(certificate);
    }
    return 0;
}
