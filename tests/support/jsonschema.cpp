#include "support/jsonschema.h"

#include <QFile>
#include <QJsonArray>
#include <QSet>

namespace vantorel {

const JsonSchema &JsonSchema::project()
{
    static const JsonSchema schema = [] {
        QFile f(QStringLiteral(VANTOREL_SCHEMA));
        if (!f.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", VANTOREL_SCHEMA);
        return JsonSchema(QJsonDocument::fromJson(f.readAll()).object());
    }();
    return schema;
}

QStringList JsonSchema::problems(const QJsonValue &value, const QString &def) const
{
    QStringList out;
    const QJsonObject schema = def.isEmpty() ? root_ : root_.value(QStringLiteral("$defs"))[def].toObject();
    if (schema.isEmpty())
        return {QStringLiteral("no definition ") + def};
    check(value, schema, QStringLiteral("$"), out);
    return out;
}

QJsonObject JsonSchema::resolve(const QJsonObject &schema) const
{
    const QString ref = schema.value(QStringLiteral("$ref")).toString();
    if (ref.isEmpty())
        return schema;
    const QString prefix = QStringLiteral("#/$defs/");
    if (!ref.startsWith(prefix))
        qFatal("unsupported $ref %s", qPrintable(ref));
    return resolve(root_.value(QStringLiteral("$defs"))[ref.mid(prefix.size())].toObject());
}

namespace {
bool hasType(const QJsonValue &v, const QString &type)
{
    if (type == QLatin1String("integer"))
        return v.isDouble() && v.toDouble() == double(v.toInteger());
    static const QHash<QString, QJsonValue::Type> types = {
        {QStringLiteral("string"), QJsonValue::String}, {QStringLiteral("number"), QJsonValue::Double},
        {QStringLiteral("boolean"), QJsonValue::Bool},  {QStringLiteral("object"), QJsonValue::Object},
        {QStringLiteral("array"), QJsonValue::Array},   {QStringLiteral("null"), QJsonValue::Null}};
    return types.value(type, QJsonValue::Undefined) == v.type();
}
} // namespace

void JsonSchema::check(const QJsonValue &v, const QJsonObject &given, const QString &at, QStringList &out,
                       QStringList *evaluated) const
{
    const QJsonObject schema = resolve(given);
    static const QSet<QString> known = {"$schema", "$id", "$defs", "$ref", "title", "description", "type", "enum",
                                        "required", "properties", "additionalProperties", "unevaluatedProperties",
                                        "allOf", "oneOf", "items", "minimum", "maximum", "minItems", "maxItems"};
    for (const QString &word : schema.keys()) {
        if (!known.contains(word))
            out << at + QStringLiteral(": the schema word ") + word + QStringLiteral(" is not checked here");
    }
    if (schema.contains(QStringLiteral("type"))) {
        const QJsonValue t = schema.value(QStringLiteral("type"));
        const QJsonArray types = t.isArray() ? t.toArray() : QJsonArray{t};
        if (std::none_of(types.begin(), types.end(), [&](const QJsonValue &type) { return hasType(v, type.toString()); }))
            return out << at + QStringLiteral(": not of type ") + QJsonDocument(QJsonArray(types)).toJson(QJsonDocument::Compact), void();
    }
    if (schema.contains(QStringLiteral("enum")) && !schema.value(QStringLiteral("enum")).toArray().contains(v))
        out << at + QStringLiteral(": ") + v.toVariant().toString() + QStringLiteral(" is not one of the values allowed");
    if (v.isDouble() && schema.contains(QStringLiteral("minimum")) && v.toDouble() < schema.value(QStringLiteral("minimum")).toDouble())
        out << at + QStringLiteral(": below its minimum");
    if (v.isDouble() && schema.contains(QStringLiteral("maximum")) && v.toDouble() > schema.value(QStringLiteral("maximum")).toDouble())
        out << at + QStringLiteral(": above its maximum");
    QStringList seen; // the keys this schema and its allOf parts speak of
    for (const QJsonValue &part : schema.value(QStringLiteral("allOf")).toArray())
        check(v, part.toObject(), at, out, &seen);
    if (schema.contains(QStringLiteral("oneOf"))) {
        int fits = 0;
        for (const QJsonValue &part : schema.value(QStringLiteral("oneOf")).toArray()) {
            QStringList mine;
            check(v, part.toObject(), at, mine);
            fits += mine.isEmpty();
        }
        if (fits != 1)
            out << at + QStringLiteral(": fits %1 of the oneOf choices, not exactly one").arg(fits);
    }
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        for (const QJsonValue &key : schema.value(QStringLiteral("required")).toArray()) {
            if (!o.contains(key.toString()))
                out << at + QStringLiteral(": lacks ") + key.toString();
        }
        const QJsonObject properties = schema.value(QStringLiteral("properties")).toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (properties.contains(it.key())) {
                seen << it.key();
                check(it.value(), properties.value(it.key()).toObject(), at + QLatin1Char('.') + it.key(), out);
            } else if (schema.value(QStringLiteral("additionalProperties")) == QJsonValue(false)) {
                out << at + QStringLiteral(": the key ") + it.key() + QStringLiteral(" is not in the schema");
            }
        }
        if (schema.value(QStringLiteral("unevaluatedProperties")) == QJsonValue(false)) {
            for (const QString &key : o.keys()) {
                if (!seen.contains(key))
                    out << at + QStringLiteral(": the key ") + key + QStringLiteral(" is not in the schema");
            }
        }
        if (evaluated)
            *evaluated << seen;
    }
    if (v.isArray()) {
        const QJsonArray a = v.toArray();
        if (schema.contains(QStringLiteral("minItems")) && a.size() < schema.value(QStringLiteral("minItems")).toInt())
            out << at + QStringLiteral(": too few items");
        if (schema.contains(QStringLiteral("maxItems")) && a.size() > schema.value(QStringLiteral("maxItems")).toInt())
            out << at + QStringLiteral(": too many items");
        for (int i = 0; i < a.size() && schema.contains(QStringLiteral("items")); ++i)
            check(a[i], schema.value(QStringLiteral("items")).toObject(), at + QStringLiteral("[%1]").arg(i), out);
    }
}

} // namespace vantorel
