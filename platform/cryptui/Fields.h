// One row of a details list: a field's name, its value in one line for the list and in full for
// the box below it.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace cryptui {

enum class FieldKind {
    Field,     // a field of the version 1 certificate (or of the signer information)
    Extension, // a certificate extension, or a signed attribute
    Property,  // something that is not part of the signed bytes (thumbprint, friendly name)
};

struct Field {
    QString Name;
    QString Value;  // one line
    QString Detail; // the whole value
    FieldKind Kind = FieldKind::Field;
    bool Critical = false;
};

// A field whose value is the same in the list and below it.
[[nodiscard]] Field SimpleField(const QString& name, const QString& value, FieldKind kind = FieldKind::Field);
// A field whose value takes several lines: the list shows them joined.
[[nodiscard]] Field LinesField(const QString& name, const QStringList& lines, FieldKind kind = FieldKind::Field);
// The one-line form of several lines.
[[nodiscard]] QString JoinLines(const QStringList& lines);

using Fields = std::vector<Field>;

} // namespace cryptui
