// The inspection of a file as one JSON object, for programs: what the report shows, in forms that
// need no parsing (kinds as words, results as numbers and names, times in ISO 8601 UTC, usages
// as lists). docs/report.schema.json describes it.
#pragma once

#include "app/Inspection.h"

#include <QJsonObject>

// The verdict of --check on a file: OK (a valid primary signature), ERROR, not signed, or not
// supported (a file that is neither an executable nor a compound file).
struct TCheckVerdict {
    enum class Status { Ok, Error, NotSigned, NotSupported } State = Status::NotSupported;
    QString Text; // the publisher (OK) or the error's text (ERROR)

    [[nodiscard]] bool Passed() const { return State == Status::Ok; }
    // "OK Publisher", "ERROR text", "not signed", "not supported".
    [[nodiscard]] QString Line() const;
};

[[nodiscard]] TCheckVerdict CheckVerdictOf(const TInspectionRecord& record);

// The record as JSON; path is the name as given to the program.
[[nodiscard]] QJsonObject InspectionToJson(const TInspectionRecord& record, const QString& path);
// A file whose inspection stopped with an error.
[[nodiscard]] QJsonObject InspectionErrorToJson(const QString& path, const QString& error);
// Adds the --check verdict to a file's object.
void AddCheckVerdict(QJsonObject& object, const TCheckVerdict& verdict);
