#include "tests/support/JsonSchema.h"

#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

namespace testsupport {

namespace {

const QStringList Known = {
    QStringLiteral("$schema"), QStringLiteral("$id"), QStringLiteral("$defs"), QStringLiteral("$ref"),
    QStringLiteral("title"), QStringLiteral("description"), QStringLiteral("type"), QStringLiteral("enum"),
    QStringLiteral("properties"), QStringLiteral("required"), QStringLiteral("additionalProperties"),
    QStringLiteral("items"), QStringLiteral("pattern"), QStringLiteral("minimum"), QStringLiteral("maximum"),
};

bool IsType(const QJsonValue& value, const QString& type)
{
    if (type == u"object")
        return value.isObject();
    if (type == u"array")
        return value.isArray();
    if (type == u"string")
        return value.isString();
    if (type == u"boolean")
        return value.isBool();
    if (type == u"null")
        return value.isNull();
    if (type == u"number")
        return value.isDouble();
    if (type == u"integer")
        return value.isDouble() && std::floor(value.toDouble()) == value.toDouble();
    return false;
}

class Validator {
public:
    explicit Validator(const QJsonObject& root) : FRoot(root) {}

    void Check(const QJsonValue& value, const QJsonObject& schema, const QString& path)
    {
        for (const QString& keyword : schema.keys())
            if (!Known.contains(keyword))
                Fail(path, QStringLiteral("the schema uses '%1', which is not checked").arg(keyword));
        if (schema.contains(u"$ref")) {
            const QString ref = schema.value(u"$ref").toString();
            const QString prefix = QStringLiteral("#/$defs/");
            const QJsonObject target = FRoot.value(u"$defs").toObject().value(ref.mid(prefix.size())).toObject();
            if (!ref.startsWith(prefix) || target.isEmpty())
                Fail(path, QStringLiteral("unresolved reference ") + ref);
            else
                Check(value, target, path);
        }
        if (schema.contains(u"type")) {
            const QJsonValue type = schema.value(u"type");
            QStringList types;
            if (type.isArray())
                for (const QJsonValue& t : type.toArray())
                    types.append(t.toString());
            else
                types.append(type.toString());
            bool matched = false;
            for (const QString& t : types)
                matched = matched || IsType(value, t);
            if (!matched) {
                Fail(path, QStringLiteral("is not of type ") + types.join(u'|'));
                return;
            }
        }
        if (schema.contains(u"enum") && !schema.value(u"enum").toArray().contains(value))
            Fail(path, QStringLiteral("is none of the enumerated values"));
        if (value.isString() && schema.contains(u"pattern")) {
            const QRegularExpression pattern(schema.value(u"pattern").toString());
            if (!pattern.match(value.toString()).hasMatch())
                Fail(path, QStringLiteral("does not match ") + pattern.pattern());
        }
        if (value.isDouble() && schema.contains(u"minimum") && value.toDouble() < schema.value(u"minimum").toDouble())
            Fail(path, QStringLiteral("is below the minimum"));
        if (value.isDouble() && schema.contains(u"maximum") && value.toDouble() > schema.value(u"maximum").toDouble())
            Fail(path, QStringLiteral("is above the maximum"));
        if (value.isObject()) {
            const QJsonObject object = value.toObject();
            const QJsonObject properties = schema.value(u"properties").toObject();
            for (const QJsonValue& name : schema.value(u"required").toArray())
                if (!object.contains(name.toString()))
                    Fail(path, QStringLiteral("lacks the required '%1'").arg(name.toString()));
            for (auto it = object.begin(); it != object.end(); ++it) {
                if (properties.contains(it.key()))
                    Check(it.value(), properties.value(it.key()).toObject(), path + u'.' + it.key());
                else if (schema.value(u"additionalProperties") == QJsonValue(false))
                    Fail(path, QStringLiteral("has '%1', which the schema does not allow").arg(it.key()));
            }
        }
        if (value.isArray() && schema.contains(u"items")) {
            const QJsonArray array = value.toArray();
            for (qsizetype i = 0; i < array.size(); ++i)
                Check(array[i], schema.value(u"items").toObject(), path + QStringLiteral("[%1]").arg(i));
        }
    }

    QStringList Problems;

private:
    void Fail(const QString& path, const QString& what) { Problems.append(path + QStringLiteral(": ") + what); }

    QJsonObject FRoot;
};

} // namespace

QStringList ValidateJson(const QJsonValue& value, const QJsonObject& schema)
{
    Validator validator(schema);
    validator.Check(value, schema, QStringLiteral("$"));
    return validator.Problems;
}

QJsonObject LoadJsonSchema(const std::string& relativePath)
{
    const std::string text = ReadText(std::filesystem::path(TESSERA_SOURCE_DIR) / relativePath);
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

} // namespace testsupport
