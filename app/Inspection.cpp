#include "app/Inspection.h"

#include "app/ReportExplain.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "fileinfo/KavexRoutines.h"
#include "platform/include/win/mssip.h"
#include "platform/include/win/objidl.h"
#include "platform/include/win/winbase.h"
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

TDateTime NowUtc()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return ConvertFileTime(now, false);
}

// The verdict's lines: the error, or the signer's details; executables and the signed
// containers also name the program and its links.
void WriteVerdict(const TSignatureVerdict& verdict, IReportSink& report, bool programInfo)
{
    if (verdict.Result != 0) {
        report.AddLine(QStringLiteral("ERROR: ") + TrustErrorText(verdict.Result));
        return;
    }
    report.AddLine(QStringLiteral("Publisher: ") + verdict.Publisher);
    if (programInfo) {
        report.AddLine(QStringLiteral("Program name: ") + verdict.ProgramName);
        report.AddLine(QStringLiteral("Publisher link: ") + verdict.PublisherLink);
        report.AddLine(QStringLiteral("More info link: ") + verdict.MoreInfoLink);
    }
    if (verdict.SigningDate > 0)
        report.AddLine(QStringLiteral("Signing date: ") + DateTimeToText(verdict.SigningDate));
}

// Why the verdict is what it is, indented under it, when asked for.
void WriteExplanation(const TSignatureVerdict& verdict, IReportSink& report, const TInspectionOptions& options)
{
    if (options.Explain && verdict.Account)
        for (const QString& line : ExplainSignature(*verdict.Account, NowUtc()))
            report.AddLine(line);
}

// The verdict on the file's signature, and the signer's details when it holds. With every
// signature asked for, each nested one follows.
void WriteSignature(const QString& fileName, IReportSink& report, bool programInfo, const TInspectionOptions& options)
{
    std::vector<TSignatureVerdict> verdicts =
        VerifyFileSignatures(fileName, options.AllSignatures, options.Explain || options.Accounts);
    WriteVerdict(verdicts.front(), report, programInfo);
    WriteExplanation(verdicts.front(), report, options);
    report.AddBlank();
    for (size_t i = 1; i < verdicts.size(); ++i) {
        const TSignatureVerdict& nested = verdicts[i];
        report.AddLine(QStringLiteral("Nested signature %1: %2").arg(nested.Index).arg(nested.DigestAlgorithm));
        if (nested.Result != 0)
            report.AddLine(QStringLiteral("ERROR: ") + TrustErrorText(nested.Result));
        else
            report.AddLine(QStringLiteral("Publisher: ") + nested.Publisher);
        if (nested.SigningDate > 0)
            report.AddLine(QStringLiteral("Signing date: ") + DateTimeToText(nested.SigningDate));
        if (!nested.TimeStampKind.isEmpty())
            report.AddLine(QStringLiteral("Time stamp: ") + nested.TimeStampKind);
        WriteExplanation(nested, report, options);
        report.AddBlank();
    }
    if (options.Record)
        options.Record->Signatures = std::move(verdicts);
}

// A file without a signature of its own that a catalog lists, as Windows judges the files of a
// driver package: the catalog's verdict, then the catalog's name, and the catalog's certificates
// in the store. False (nothing written) when no catalog lists it.
bool WriteCatalogSignature(const QString& fileName, IReportSink& report, HCERTSTORE& store, bool programInfo,
                           const TInspectionOptions& options)
{
    TSignatureVerdict verdict;
    if (!VerifyCatalogSignature(fileName, CatalogsFor(fileName, options.Catalogs), verdict, NoOwnerWindow,
                                options.Explain || options.Accounts))
        return false;
    WriteVerdict(verdict, report, programInfo);
    report.AddLine(QStringLiteral("Catalog: ") + DisplayFileName(ExtractFileName(verdict.Catalog)));
    WriteExplanation(verdict, report, options);
    report.AddBlank();
    OpenSubjectSignatureStore(verdict.Catalog, store);
    if (options.Record)
        options.Record->Signatures = {std::move(verdict)};
    return true;
}

// A signable file's verdict: its own signature's when its store could be opened, else, for a file
// that carries none (no store was left either), a catalog's, else none.
void WriteSignatureOrCatalog(const QString& fileName, IReportSink& report, HCERTSTORE& store, bool ownSignature,
                             bool programInfo, const TInspectionOptions& options)
{
    if (ownSignature && store)
        WriteSignature(fileName, report, programInfo, options);
    else if (store || !WriteCatalogSignature(fileName, report, store, programInfo, options))
        report.AddLineAndBlank(QStringLiteral("File is not signed"));
}

void WriteCompoundFile(const QString& fileName, IReportSink& report, HCERTSTORE& store, const TInspectionOptions& options)
{
    ListSummaryInformation(fileName, report, options.Record ? &options.Record->Summary : nullptr);
    report.AddBlank();
    const bool signature = OpenCompoundSignatureStore(fileName, store);
    WriteSignatureOrCatalog(fileName, report, store, signature, false, options);
}

void WriteExecutable(const QString& fileName, IReportSink& report, HCERTSTORE& store, const TInspectionOptions& options)
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
    if (options.Record)
        options.Record->Version = version;
    const bool signature = OpenSignedFileStore(fileName, store);
    WriteSignatureOrCatalog(fileName, report, store, signature, true, options);
}

// A file that a subject interface package of the trust service claims: the kind of signed
// container, and the package's subject type.
struct TSignedContainer {
    TInspectedKind Kind;
    GUID Subject;
};

std::optional<TSignedContainer> SignedContainerOf(const QString& fileName)
{
    GUID subject{};
    if (!FileSubjectType(fileName, subject))
        return std::nullopt;
    if (subject == CRYPT_SUBJTYPE_CABINET_IMAGE)
        return TSignedContainer{TInspectedKind::Cabinet, subject};
    if (subject == CRYPT_SUBJTYPE_CATALOG_IMAGE)
        return TSignedContainer{TInspectedKind::Catalog, subject};
    if (subject == SUBJTYPE_APPX_PACKAGE || subject == SUBJTYPE_APPX_BUNDLE)
        return TSignedContainer{TInspectedKind::AppPackage, subject};
    if (subject == SUBJTYPE_POWERSHELL_SCRIPT)
        return TSignedContainer{TInspectedKind::Script, subject};
    return std::nullopt;
}

// A signed container: the executable's report without its version block. A catalog is not signed
// by catalogs, and lists its members for programs.
void WriteSignedContainer(const QString& fileName, const TSignedContainer& container, IReportSink& report,
                          HCERTSTORE& store, const TInspectionOptions& options)
{
    const bool signature = OpenSubjectSignatureStore(fileName, store, &container.Subject);
    if (container.Kind != TInspectedKind::Catalog) {
        WriteSignatureOrCatalog(fileName, report, store, signature, true, options);
        return;
    }
    if (signature && store)
        WriteSignature(fileName, report, true, options);
    else
        report.AddLineAndBlank(QStringLiteral("File is not signed"));
    if (TInspectionRecord* record = options.Record)
        ListCatalogMembers(fileName, MaxListedCatalogMembers, record->CatalogMembers, record->CatalogMemberCount);
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

void InspectFile(const QString& fileName, QString& password, IReportSink& report, IInspectionHost& host,
                 const TInspectionOptions& options)
{
    password.clear();
    TInspectionRecord* record = options.Record;
    if (record) {
        *record = TInspectionRecord();
        record->FileName = fileName;
    }
    // The report's own line when there is nothing else to show.
    const auto say = [&](const QString& line) {
        report.AddLine(line);
        if (record)
            record->Message = line;
    };
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
    if (record)
        record->TypeName = fileInfo.FileType;
    StoreGuard store;
    const QString extension = InspectedExtension(fileName);
    const auto kind = [&](TInspectedKind k) {
        if (record) {
            record->Kind = k;
            record->Signable = k != TInspectedKind::Certificates && k != TInspectedKind::KeyContainer &&
                               k != TInspectedKind::Unsupported;
        }
    };

    if (StgIsStorageFile(WStr(fileName)) == S_OK) {
        kind(TInspectedKind::Compound);
        WriteCompoundFile(fileName, report, store.Store, options);
    } else if (IsExecutableFile(fileName)) {
        kind(TInspectedKind::Executable);
        WriteExecutable(fileName, report, store.Store, options);
    } else if (IsListedExtension(extension, CertificateFileExtensions)) {
        kind(TInspectedKind::Certificates);
        if (!OpenCertificateFileStore(fileName, store.Store) || !store.Store) {
            say(QStringLiteral("File contains no certificate"));
            return;
        }
    } else if (IsListedExtension(extension, KeyContainerExtensions)) {
        kind(TInspectedKind::KeyContainer);
        // A cancelled prompt writes nothing and opens nothing.
        DWORD importError = 0;
        const bool confirmed = host.PromptPassword(password);
        if (record)
            record->Cancelled = !confirmed;
        if (confirmed && (!OpenPfxFileStore(fileName, password, store.Store, &importError) || !store.Store)) {
            // A container refused for the work it asks for is not one whose password is wrong.
            say(importError == PfxProtectionOutOfBounds
                    ? QStringLiteral("ERROR: The key container's protection is out of bounds (too many "
                                     "key-derivation iterations)")
                    : QStringLiteral("File contains no certificate or password is not valid"));
            return;
        }
    } else if (const std::optional<TSignedContainer> container = SignedContainerOf(fileName)) {
        kind(container->Kind);
        WriteSignedContainer(fileName, *container, report, store.Store, options);
    } else if (WriteCatalogSignature(fileName, report, store.Store, true, options)) {
        // Any file a catalog lists is signed by it: a driver package's setup information too.
        kind(TInspectedKind::CatalogMember);
    } else {
        kind(TInspectedKind::Unsupported);
        say(QStringLiteral("File type is not supported"));
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
        if (record)
            record->Certificates = std::move(certificates);
    }
    report.CaretToTop();
}

HCERTSTORE OpenInspectedFileStore(const QString& fileName, const QString& password, const QStringList& catalogs)
{
    HCERTSTORE store = nullptr;
    const QString extension = InspectedExtension(fileName);
    bool signable = true;
    if (StgIsStorageFile(WStr(fileName)) == S_OK) {
        OpenCompoundSignatureStore(fileName, store);
    } else if (IsExecutableFile(fileName)) {
        OpenSignedFileStore(fileName, store); // a store left without certificates still counts
    } else if (IsListedExtension(extension, CertificateFileExtensions)) {
        OpenCertificateFileStore(fileName, store);
        signable = false;
    } else if (IsListedExtension(extension, KeyContainerExtensions)) {
        OpenPfxFileStore(fileName, password, store);
        signable = false;
    } else if (const auto container = SignedContainerOf(fileName)) {
        OpenSubjectSignatureStore(fileName, store, &container->Subject);
        signable = container->Kind != TInspectedKind::Catalog;
    }
    // Without a signature of its own, the certificates of the catalog that signs the file.
    TSignatureVerdict verdict;
    if (!store && signable && VerifyCatalogSignature(fileName, CatalogsFor(fileName, catalogs), verdict, NoOwnerWindow))
        OpenSubjectSignatureStore(verdict.Catalog, store);
    return store;
}

bool IsSignedContainer(const QString& fileName)
{
    return SignedContainerOf(fileName).has_value();
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

void ListSummaryInformation(const QString& fileName, IReportSink& lines, std::vector<TSummaryProperty>* found)
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
        if (found)
            found->push_back({property.propid, name, text});
    }
}
