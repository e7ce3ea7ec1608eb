#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace vantorel {

// The JSON Schema words docs/vantorel.schema.json uses, checked: $ref (within
// the file), type, enum, required, properties, additionalProperties and
// unevaluatedProperties (false), allOf, oneOf, items, minimum, maximum,
// minItems, maxItems. A word it does not know fails the check, so a schema
// grown past this reader cannot pass by being skipped.
class JsonSchema {
public:
    // The project's schema (docs/vantorel.schema.json).
    static const JsonSchema &project();
    explicit JsonSchema(const QJsonObject &root) : root_(root) {}

    // What is wrong with 'value' against the definition named 'def' ("runReport"), or
    // against the whole schema when 'def' is empty; empty when nothing.
    QStringList problems(const QJsonValue &value, const QString &def = QString()) const;

private:
    void check(const QJsonValue &v, const QJsonObject &schema, const QString &at, QStringList &out,
               QStringList *evaluated = nullptr) const;
    QJsonObject resolve(const QJsonObject &schema) const;
    QJsonObject root_;
};

} // namespace vantorel
