#pragma once

#include "support/jsonschema.h"

#include <QTest>

namespace vantorel {

// A program's standard output as JSON, its object checked against the schema: a
// document that breaks it fails the test in hand (and is still handed back).
// Output that is no JSON object (text, CSV) is not checked.
inline QJsonObject schemaChecked(const QByteArray &out, const QString &def = QString())
{
    const QJsonDocument doc = QJsonDocument::fromJson(out);
    if (doc.isObject()) {
        const QStringList wrong = JsonSchema::project().problems(doc.object(), def);
        if (!wrong.isEmpty())
            QTest::qFail(qPrintable(QStringLiteral("not as the schema says: ") + wrong.join(QStringLiteral("; "))
                                    + QStringLiteral("\n") + QString::fromUtf8(out.left(2000))),
                         __FILE__, __LINE__);
    }
    return doc.object();
}

} // namespace vantorel
