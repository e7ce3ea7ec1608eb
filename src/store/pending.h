#pragma once

#include "store/runrecord.h"

#include <QMap>
#include <QString>

namespace vantorel {

class ResultsStore;

// Runs the results database could not take, kept in the program folder one
// JSON object a line, exactly as they would have been written, with the
// database each was meant for (never a password), until a run reaches that
// database again.
class PendingRecords {
public:
    // 'legacyTarget': the database a line kept without one is taken to be
    // meant for (the program folder's own, as it was before lines named it).
    PendingRecords(const QString &appDir, const QString &legacyTarget);

    QString path() const { return path_; }
    // The runs waiting (damaged lines included: they are kept, not dropped).
    int count() const;
    // The runs waiting, by the database each is meant for (StoreTarget::identity());
    // damaged lines under an empty name.
    QMap<QString, int> waiting() const;
    // Appends one run meant for 'target' and puts it on disk; false with 'error' set.
    bool append(const RunRecord &record, const QString &target, QString &error);
    // Writes the runs meant for 'store' to it, oldest first; those it took
    // leave the file, those meant for another database stay ('elsewhere': how
    // many, by database). 'replayed': how many it took. False with 'error' set
    // when some meant for 'store' are still waiting.
    bool replay(ResultsStore &store, int &replayed, QMap<QString, int> &elsewhere, QString &error);

private:
    // The file holding only 'left'.
    bool rewrite(const QList<QByteArray> &left) const;

    QString path_;
    QString legacyTarget_;
};

} // namespace vantorel
