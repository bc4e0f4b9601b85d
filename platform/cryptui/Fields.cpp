#include "platform/cryptui/Fields.h"

#include "platform/cryptui/Text.h"

namespace cryptui {

QString JoinLines(const QStringList& lines)
{
    QString joined;
    for (const QString& line : lines) {
        const QString part = line.trimmed();
        if (part.isEmpty())
            continue;
        if (!joined.isEmpty())
            joined.append(joined.endsWith(QLatin1Char(':')) ? QStringLiteral(" ") : QStringLiteral(", "));
        joined.append(part);
        if (joined.size() > MaxListValueLength)
            break;
    }
    return Clip(joined, MaxListValueLength);
}

Field SimpleField(const QString& name, const QString& value, FieldKind kind)
{
    return {name, Clip(value, MaxListValueLength), Clip(value, MaxTextLength), kind, false};
}

Field LinesField(const QString& name, const QStringList& lines, FieldKind kind)
{
    return {name, JoinLines(lines), Clip(lines.join(QLatin1Char('\n')), MaxTextLength), kind, false};
}

} // namespace cryptui
