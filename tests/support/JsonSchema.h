// A JSON Schema validator for the keywords the project's schemas use (draft 2020-12): type, enum,
// properties, required, additionalProperties (true or false), items, pattern, minimum, maximum
// and $ref to "#/$defs/...". A schema keyword outside these is itself reported, so that a schema
// never says more than is checked.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

namespace testsupport {

// The ways value breaks schema, each "path: what"; empty when it conforms.
[[nodiscard]] QStringList ValidateJson(const QJsonValue& value, const QJsonObject& schema);

// The schema in a file of the repository.
[[nodiscard]] QJsonObject LoadJsonSchema(const std::string& relativePath);

} // namespace testsupport
