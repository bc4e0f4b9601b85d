// A report sink and an inspection host that record what the inspection does with them.
#pragma once

#include "app/Inspection.h"

#include <QStringList>

#include <optional>

namespace testsupport {

class RecordingSink final : public IReportSink {
public:
    void Clear() override
    {
        Lines.clear();
        ++Clears;
    }
    void BeginBatch() override { ++Depth, ++Batches; }
    void EndBatch() override { --Depth; }
    void AddLine(const QString& line) override { Lines.append(line); }
    void CaretToTop() override { CaretAtTop = true; }

    // The report as tessera-report prints it: every line ended by a line feed.
    [[nodiscard]] std::string Text() const
    {
        std::string text;
        for (const QString& line : Lines)
            text += line.toStdString() + "\n";
        return text;
    }

    QStringList Lines;
    int Clears = 0;
    int Batches = 0;
    int Depth = 0;
    bool CaretAtTop = false;
};

class RecordingHost final : public IInspectionHost {
public:
    void ShowFileName(const QString& fileName) override { FileName = fileName; }
    void ShowFileType(const QString& typeName) override { FileType = typeName; }
    void EnablePropertiesCommand(bool enabled) override { Properties = enabled; }
    void EnableStoreCommands(bool enabled) override { StoreCommands = enabled; }
    bool PromptPassword(QString& password) override
    {
        ++Prompts;
        password.clear();
        if (!Answer)
            return false;
        password = *Answer;
        return true;
    }

    QString FileName;
    QString FileType;
    bool Properties = false;
    bool StoreCommands = false;
    int Prompts = 0;
    // The password the user types; nothing means Cancel.
    std::optional<QString> Answer;
};

} // namespace testsupport
