#pragma once

#include "store/runrecord.h"

#include <QString>

namespace vantorel {

class ResultsStore;

// Runs the results database could not take, kept in the program folder one
// JSON object a line, exactly as they would have been written, until a run
// reaches the database again.
class PendingRecords {
public:
    explicit PendingRecords(const QString &appDir);

    QString path() const { return path_; }
    // The runs waiting (damaged lines included: they are kept, not dropped).
    int count() const;
    // Appends one run and puts it on disk; false with 'error' set.
    bool append(const RunRecord &record, QString &error);
    // Writes the waiting runs to 'store', oldest first; those it took leave
    // the file. 'replayed': how many it took. False with 'error' set when some
    // are still waiting.
    bool replay(ResultsStore &store, int &replayed, QString &error);

private:
    QString path_;
};

} // namespace vantorel
