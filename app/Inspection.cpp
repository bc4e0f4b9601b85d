#include "app/Inspection.h"

#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "fileinfo/KavexRoutines.h"
#include "platform/include/win/objidl.h"
#include "platform/include/win/shellapi.h"
#include "storage/KavexSS.h"
#include "support/ComPtr.h"
#include "support/FileName.h"
#include "support/WinString.h"

#include <memory>

namespace {

class BatchGuard {
public:
    explicit BatchGuard(IReportSink& report) : FReport(report) { FReport.BeginBatch(); }
    ~BatchGuard() { FReport.EndBatch(); }
    BatchGuard(const BatchGuard&) = delete;
    BatchGuard& operator=(const BatchGuard&) = delete;

private:
    IReportSink& FReport;
};

// Closes a store that an early end of the inspection leaves open.
class StoreGuard {
public:
    ~StoreGuard()
    {
        if (Store)
            CertCloseStore(Store, 0);
    }
    HCERTSTORE Release()
    {
        HCERTSTORE store = Store;
        Store = nullptr;
        return store;
    }
    HCERTSTORE Store = nullptr;
};

struct SignerDetails {
    QString Publisher;
    QString ProgramName;
    QString PublisherLink;
    QString MoreInfoLink;
    TDateTime SigningDate = 0;
};

// The verdict on the file's signature, and the signer's details when it holds; executables also
// name the program and its links.
void WriteSignature(const QString& fileName, IReportSink& report, bool programInfo)
{
    SignerDetails signer;
    const HRESULT result = VerifyFileSignature(fileName, signer.Publisher, signer.SigningDate, signer.ProgramName,
                                               signer.PublisherLink, signer.MoreInfoLink, NoOwnerWindow);
    if (result != 0) {
        report.AddLineAndBlank(QStringLiteral("ERROR: ") + TrustErrorText(result));
        return;
    }
    report.AddLine(QStringLiteral("Publisher: ") + signer.Publisher);
    if (programInfo) {
        report.AddLine(QStringLiteral("Program name: ") + signer.ProgramName);
        report.AddLine(QStringLiteral("Publisher link: ") + signer.PublisherLink);
        report.AddLine(QStringLiteral("More info link: ") + signer.MoreInfoLink);
    }
    if (signer.SigningDate > 0)
        report.AddLine(QStringLiteral("Signing date: ") + DateTimeToText(signer.SigningDate));
    report.AddBlank();
}

void WriteCompoundFile(const QString& fileName, IReportSink& report, HCERTSTORE& store)
{
    ListSummaryInformation(fileName, report);
    report.AddBlank();
    if (OpenCompoundSignatureStore(fileName, store) && store)
        WriteSignature(fileName, report, false);
    else
        report.AddLineAndBlank(QStringLiteral("File is not signed"));
}

void WriteExecutable(const QString& fileName, IReportSink& report, HCERTSTORE& store)
{
    TVersionInfo version;
    ReadVersionInfo(fileName, version);
    report.AddLine(QStringLiteral("Company: ") + version.CompanyName);
    report.AddLine(QStringLiteral("Description: ") + version.Description);
    report.AddLine(QStringLiteral("Product: ") + version.ProductName);
    report.AddLine(QStringLiteral("Prod version: ") + version.ProductVersion);
    report.AddLine(QStringLiteral("File version: ") + version.FileVersion);
    report.AddLine(QStringLiteral("Copyright: ") + version.Copyright);
    report.AddBlank();
    if (OpenSignedFileStore(fileName, store) && store)
        WriteSignature(fileName, report, true);
    else
        report.AddLineAndBlank(QStringLiteral("File is not signed"));
}

void WriteCertificateBlock(const TCertContextInfo& c, IReportSink& report)
{
    report.AddLine(QStringLiteral("Certificate %1 version %2").arg(c.Encoding).arg(c.Version));
    report.AddLine(QStringLiteral("Issuer: ") + c.Issuer);
    report.AddLine(QStringLiteral("Subject: ") + c.Subject);
    report.AddLine(QStringLiteral("Serial: ") + c.Serial);
    report.AddLine(QStringLiteral("SignatureAlgorithm: ") + c.SignatureAlgorithm);
    report.AddLine(QStringLiteral("PublicKeyAlgorithm: ") + c.PublicKeyAlgorithm);
    report.AddLine(QStringLiteral("PublicKeyBits: %1").arg(c.PublicKeyBits));
    report.AddLine(QStringLiteral("ValidFrom: ") + DateTimeToText(c.ValidFrom));
    report.AddLine(QStringLiteral("ValidTo: ") + DateTimeToText(c.ValidTo));
    report.AddLine(QStringLiteral("Key usage: ") + c.KeyUsage);
    report.AddLine(QStringLiteral("Enhanced key usage: ") + c.EnhancedKeyUsage);
    report.AddLine(QStringLiteral("Thumbprint: ") + c.Thumbprint);
    report.AddBlank();
}

} // namespace

bool IsListedExtension(const QString& extension, const char16_t* list)
{
    return !extension.isEmpty() && QString::fromUtf16(list).contains(extension);
}

QString InspectedExtension(const QString& fileName)
{
    return ExtractFileExt(fileName).toLower();
}

void InspectFile(const QString& fileName, QString& password, IReportSink& report, IInspectionHost& host)
{
    password.clear();
    host.EnablePropertiesCommand(true);
    report.Clear();
    const BatchGuard batch(report);

    host.EnableStoreCommands(false);
    host.ShowFileName(fileName);
    TFileInfo fileInfo;
    GetFileInfo(fileName, fileInfo, false);
    if (fileInfo.IconHandle)
        DestroyIcon(fileInfo.IconHandle);
    host.ShowFileType(fileInfo.FileType);
    StoreGuard store;
    const QString extension = InspectedExtension(fileName);

    if (StgIsStorageFile(WStr(fileName)) == S_OK) {
        WriteCompoundFile(fileName, report, store.Store);
    } else if (IsExecutableFile(fileName)) {
        WriteExecutable(fileName, report, store.Store);
    } else if (IsListedExtension(extension, CertificateFileExtensions)) {
        if (!OpenCertificateFileStore(fileName, store.Store) || !store.Store) {
            report.AddLine(QStringLiteral("File contains no certificate"));
            return;
        }
    } else if (IsListedExtension(extension, KeyContainerExtensions)) {
        // A cancelled prompt writes nothing and opens nothing.
        DWORD importError = 0;
        if (host.PromptPassword(password) &&
            (!OpenPfxFileStore(fileName, password, store.Store, &importError) || !store.Store)) {
            // A container refused for the work it asks for is not one whose password is wrong.
            report.AddLine(importError == PfxProtectionOutOfBounds
                               ? QStringLiteral("ERROR: The key container's protection is out of bounds (too many "
                                                "key-derivation iterations)")
                               : QStringLiteral("File contains no certificate or password is not valid"));
            return;
        }
    } else {
        report.AddLine(QStringLiteral("File type is not supported"));
    }

    // A loader may leave a store although it reported failure; its certificates are listed too.
    if (store.Store) {
        host.EnableStoreCommands(true);
        TCertStoreInfo certificates;
        DescribeCertStore(store.Store, certificates);
        // Everything the blocks need is in the array now.
        CertCloseStore(store.Release(), 0);
        for (const TCertContextInfo& certificate : certificates)
            WriteCertificateBlock(certificate, report);
    }
    report.CaretToTop();
}

HCERTSTORE OpenInspectedFileStore(const QString& fileName, const QString& password)
{
    HCERTSTORE store = nullptr;
    const QString extension = InspectedExtension(fileName);
    if (StgIsStorageFile(WStr(fileName)) == S_OK)
        OpenCompoundSignatureStore(fileName, store);
    else if (IsExecutableFile(fileName))
        OpenSignedFileStore(fileName, store); // a store left without certificates still counts
    else if (IsListedExtension(extension, CertificateFileExtensions))
        OpenCertificateFileStore(fileName, store);
    else if (IsListedExtension(extension, KeyContainerExtensions))
        OpenPfxFileStore(fileName, password, store);
    return store;
}

bool OpenCompoundSignatureStore(const QString& fileName, HCERTSTORE& store)
{
    store = nullptr;
    const QString streamName = QStringLiteral("\u0005DigitalSignature");
    if (!StorageStreamExists(fileName, streamName))
        return false;
    TMemoryStream signature;
    ReadStorageStream(fileName, QString(), streamName, nullptr, signature);
    return OpenSignatureStreamStore(signature, store);
}

void ListSummaryInformation(const QString& fileName, IReportSink& lines)
{
    if (StgIsStorageFile(WStr(fileName)) != S_OK ||
        !StorageStreamExists(fileName, QStringLiteral("\u0005SummaryInformation")))
        return;
    ComPtr<IStorage> platformRoot;
    if (FAILED(StgOpenStorage(WStr(fileName), nullptr, StorageReadMode, nullptr, 0, platformRoot.Out())))
        return;
    TStructuredStorage root(nullptr, platformRoot.Get());
    const std::unique_ptr<TStoragePropertySet> set(
        root.OpenPropertySet(FMTID_SummaryInformation, StorageReadMode, QString(), false));
    if (!set || !set->FPS())
        return;
    ComPtr<IEnumSTATPROPSTG> properties;
    if (FAILED(set->FPS()->Enum(properties.Out())) || !properties)
        return;
    STATPROPSTG property{};
    ULONG fetched = 0;
    while (properties->Next(1, &property, &fetched) == S_OK) {
        PROPSPEC spec{};
        spec.ulKind = PRSPEC_PROPID;
        spec.propid = property.propid;
        PROPVARIANT value{};
        if (FAILED(set->FPS()->ReadMultiple(1, &spec, &value))) {
            CoTaskMemFree(property.lpwstrName);
            break;
        }
        QString name;
        if (property.lpwstrName) {
            name = FromWStr(property.lpwstrName);
            CoTaskMemFree(property.lpwstrName);
        } else {
            name = PropertyName(FMTID_SummaryInformation, property.propid);
        }
        // A value without a text form leaves nothing after the colon.
        QString text;
        PropVariantToText(value, text);
        PropVariantClear(&value);
        lines.AddLine(name + QStringLiteral(": ") + text);
    }
}
