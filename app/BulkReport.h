// tessera-report over many files: the files named and those found in folders, inspected by
// several threads of one process, with the output in the order of the arguments. Each file's
// output is text (its report under a "==> FILE <==" line), a --check line, or one JSON line.
#pragma once

#include "app/Inspection.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

struct TBulkOptions {
    QStringList Operands;   // as given
    bool Recursive = false; // folders are walked
    int Jobs = 1;           // files inspected at once
    bool Json = false;
    bool Check = false;
    bool AllSignatures = false;
    bool Headers = false;     // "==> FILE <==" before each text report
    QString Password;         // for key containers, when HavePassword
    bool HavePassword = false;
    // Without a password given: asks for a key container's (false: cancelled); unset, the prompt
    // is cancelled. For one file only: it may read standard input.
    std::function<bool(QString& password)> AskPassword;
};

// A host without a window: a key container gets the password given, or the one asked for, or its
// prompt is cancelled.
class TUnattendedHost final : public IInspectionHost {
public:
    TUnattendedHost(const QString& password, bool havePassword, std::function<bool(QString& password)> ask = nullptr)
        : FPassword(password), FHave(havePassword), FAsk(std::move(ask))
    {
    }
    void ShowFileName(const QString&) override {}
    void ShowFileType(const QString&) override {}
    void EnablePropertiesCommand(bool) override {}
    void EnableStoreCommands(bool) override {}
    bool PromptPassword(QString& password) override
    {
        password = FHave ? FPassword : QString();
        if (!FHave && FAsk)
            return FAsk(password);
        return FHave;
    }

private:
    QString FPassword;
    bool FHave;
    std::function<bool(QString& password)> FAsk;
};

// Runs the inspections and writes their output; the exit status: with Check, 0 when every file
// carries a valid signature and 1 otherwise; without, 0 unless an inspection stopped with an
// error (1). Standard output that cannot be written makes it 1 too.
[[nodiscard]] int RunBulkReport(const TBulkOptions& options);

// The files the operands stand for, in order: folders walked (their entries sorted by name, links
// to folders not followed) when recursive; a folder met otherwise, and everything else, stands
// for itself. What cannot be read while walking is named on standard error and left out.
[[nodiscard]] QStringList ExpandOperands(const QStringList& operands, bool recursive);
