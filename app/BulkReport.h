// tessera-report over many files: the files named and those found in folders, inspected by
// several threads of one process, with the output in the order of the arguments. Each file's
// output is text (its report under a "==> FILE <==" line), a --check line, or one JSON line.
#pragma once

#include "app/Inspection.h"

#include <QString>
#include <QStringList>

struct TBulkOptions {
    QStringList Operands;   // as given
    bool Recursive = false; // folders are walked
    int Jobs = 1;           // files inspected at once
    bool Json = false;
    bool Check = false;
    bool AllSignatures = false;
    QStringList Catalogs;     // judge files without a signature by these; none: by those beside them
    bool Headers = false;     // "==> FILE <==" before each text report
    QString Password;         // for key containers, when HavePassword
    bool HavePassword = false;
};

// A host without a terminal: a key container gets the password given, or its prompt is
// cancelled; standard input is never read.
class TUnattendedHost final : public IInspectionHost {
public:
    TUnattendedHost(const QString& password, bool havePassword) : FPassword(password), FHave(havePassword) {}
    void ShowFileName(const QString&) override {}
    void ShowFileType(const QString&) override {}
    void EnablePropertiesCommand(bool) override {}
    void EnableStoreCommands(bool) override {}
    bool PromptPassword(QString& password) override
    {
        password = FHave ? FPassword : QString();
        return FHave;
    }

private:
    QString FPassword;
    bool FHave;
};

// Runs the inspections and writes their output; the exit status: with Check, 0 when every file
// carries a valid signature and 1 otherwise; without, 0 unless an inspection stopped with an
// error (1). Standard output that cannot be written makes it 1 too.
[[nodiscard]] int RunBulkReport(const TBulkOptions& options);

// The files the operands stand for, in order: folders walked (their entries sorted by name, links
// to folders not followed) when recursive; a folder met otherwise, and everything else, stands
// for itself. What cannot be read while walking is named on standard error and left out.
[[nodiscard]] QStringList ExpandOperands(const QStringList& operands, bool recursive);
