// The inspection of one file and the report it writes. The main window and tessera-report both
// drive it; it writes through a report sink and reaches its host only through a small interface,
// so it needs no window system.
#pragma once

#include "cert/KavexCert.h"
#include "fileinfo/KavexRoutines.h"
#include "platform/include/win/wincrypt.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The report: a list of lines. Everything is written between BeginBatch and EndBatch.
class IReportSink {
public:
    virtual ~IReportSink() = default;
    virtual void Clear() = 0;
    virtual void BeginBatch() = 0;
    virtual void EndBatch() = 0;
    virtual void AddLine(const QString& line) = 0;
    // Puts the caret at the very beginning, so that the first lines show.
    virtual void CaretToTop() = 0;

    // Ends a block of the report.
    void AddLineAndBlank(const QString& line)
    {
        AddLine(line);
        AddBlank();
    }
    void AddBlank() { AddLine(QString()); }
};

// What the inspection needs of the window (or the terminal) it runs in.
class IInspectionHost {
public:
    virtual ~IInspectionHost() = default;
    virtual void ShowFileName(const QString& fileName) = 0;
    virtual void ShowFileType(const QString& typeName) = 0;
    virtual void EnablePropertiesCommand(bool enabled) = 0;
    // View and Export, which need a certificate store.
    virtual void EnableStoreCommands(bool enabled) = 0;
    // Asks for a key container's password: true and the password when the user confirms; false and
    // an empty password otherwise.
    virtual bool PromptPassword(QString& password) = 0;
};

// One property of a compound file's summary information.
struct TSummaryProperty {
    uint32_t Id = 0;
    QString Name;
    QString Text;
};

// What kind of file the inspection took a file for. Cabinets, catalogs, app packages and scripts
// are the signed containers that a subject interface package of the trust service claims.
enum class TInspectedKind {
    Compound,
    Executable,
    Certificates,
    KeyContainer,
    Cabinet,
    Catalog,
    AppPackage,
    Script,
    CatalogMember, // of no other kind, and signed by a catalog that lists it
    Unsupported
};

// Everything the report shows of a file, for programs that read it rather than a person.
struct TInspectionRecord {
    QString FileName;
    TInspectedKind Kind = TInspectedKind::Unsupported;
    QString TypeName;
    std::vector<TSummaryProperty> Summary;   // compound files
    std::optional<TVersionInfo> Version;     // executables
    bool Signable = false;                   // compound files, executables and signed containers
    // The primary signature first, then the nested ones when they were asked for; empty for a
    // signable file without a signature.
    std::vector<TSignatureVerdict> Signatures;
    QString Message;                         // the report's line when there is nothing else to show
    bool Cancelled = false;                  // the password prompt was cancelled
    TCertStoreInfo Certificates;
    std::vector<TCatalogMember> CatalogMembers; // catalogs: the first members
    size_t CatalogMemberCount = 0;              // and how many it lists in all
};

// Members of a catalog listed for programs at most; the count says how many there are.
inline constexpr size_t MaxListedCatalogMembers = 100000;

struct TInspectionOptions {
    // Judges the signatures nested in the primary one too, and adds each to the report.
    bool AllSignatures = false;
    // Writes after each verdict why it is what it is (the chain as judged, the moment, the time
    // stamp, revocation, the digest).
    bool Explain = false;
    // Keeps each verdict's account in the record (for programs), without writing it.
    bool Accounts = false;
    // The catalogs that may sign a file without a signature of its own; when none are given, the
    // catalogs in the file's folder (the layout of a driver package).
    QStringList Catalogs;
    // Filled as the report is written, when given.
    TInspectionRecord* Record = nullptr;
};

// Inspects the file and writes its report. The password entered for a key container is left in
// `password` (emptied first). Raises only what the structured-storage access raises.
void InspectFile(const QString& fileName, QString& password, IReportSink& report, IInspectionHost& host,
                 const TInspectionOptions& options = {});

// The extension lists are searched as whole texts: every leading part of a listed extension counts.
inline constexpr char16_t CertificateFileExtensions[] = u".pem.p7c.p7b.cer.crt.der";
inline constexpr char16_t KeyContainerExtensions[] = u".pfx.p12";
[[nodiscard]] bool IsListedExtension(const QString& extension, const char16_t* list);
// The lower-cased extension of a file name's last component.
[[nodiscard]] QString InspectedExtension(const QString& fileName);

// The store of a file, decided as the inspection decides but without a prompt or a report line:
// the signature of a compound file, an executable or a signed container (or of the catalog that
// signs it, among catalogs as the inspection's option), a certificate file, or a key container
// opened with the password given. Null when there is none; the caller closes it.
[[nodiscard]] HCERTSTORE OpenInspectedFileStore(const QString& fileName, const QString& password,
                                                const QStringList& catalogs = {});

// A cabinet, catalog, app package or script: a file that a subject interface package claims.
[[nodiscard]] bool IsSignedContainer(const QString& fileName);

// The compound file's signature stream as a certificate store; the store is null first.
bool OpenCompoundSignatureStore(const QString& fileName, HCERTSTORE& store);
// Appends one line per property of the compound file's summary information, and each property to
// found when given.
void ListSummaryInformation(const QString& fileName, IReportSink& lines, std::vector<TSummaryProperty>* found = nullptr);
