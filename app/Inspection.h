// The inspection of one file and the report it writes. The main window and tessera-report both
// drive it; it writes through a report sink and reaches its host only through a small interface,
// so it needs no window system.
#pragma once

#include "platform/include/win/wincrypt.h"

#include <QString>

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

// Inspects the file and writes its report. The password entered for a key container is left in
// `password` (emptied first). Raises only what the structured-storage access raises.
void InspectFile(const QString& fileName, QString& password, IReportSink& report, IInspectionHost& host);

// The extension lists are searched as whole texts: every leading part of a listed extension counts.
inline constexpr char16_t CertificateFileExtensions[] = u".pem.p7c.p7b.cer.crt.der";
inline constexpr char16_t KeyContainerExtensions[] = u".pfx.p12";
[[nodiscard]] bool IsListedExtension(const QString& extension, const char16_t* list);
// The lower-cased extension of a file name's last component.
[[nodiscard]] QString InspectedExtension(const QString& fileName);

// The store of a file, decided as the inspection decides but without a prompt or a report line:
// the signature of a compound file or an executable, a certificate file, or a key container opened
// with the password given. Null when there is none; the caller closes it.
[[nodiscard]] HCERTSTORE OpenInspectedFileStore(const QString& fileName, const QString& password);

// The compound file's signature stream as a certificate store; the store is null first.
bool OpenCompoundSignatureStore(const QString& fileName, HCERTSTORE& store);
// Appends one line per property of the compound file's summary information.
void ListSummaryInformation(const QString& fileName, IReportSink& lines);
