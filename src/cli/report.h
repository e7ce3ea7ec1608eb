#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace vantorel {

class Context;

// What one controller's row says after an operation.
struct ControllerReport {
    int id = 0;
    QString ver;
    QString cksum;
    bool marked = false;
    QString result; // "ok", "mismatch" or "failed"
};

struct RunReport {
    QString operation;
    QString fileChecksum;
    QString speed;
    QString protocol;
    bool prot4Plus = false;
    QList<int> selected;
    QList<ControllerReport> controllers;

    bool allOk() const;
    QJsonObject toJson() const;
    QString toText() const;
};

// Reads the result table for the controllers listed (ticked at the start).
RunReport makeReport(const Context &ctx, const QString &operation, const QList<int> &listed);

} // namespace vantorel
