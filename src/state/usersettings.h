#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace vantorel {

// Settings that Flash.cfg has no line for. They live in Vantorel.ini beside
// it, so Flash.cfg keeps its 40 lines for whatever else reads it.
struct UserSettings {
    bool fastAnswers = false;   // end waits as soon as an answer is complete
    QString lastHexFile;        // reopened at start when it still exists
    QString browseFolder;       // where Browse opens
    // Where each run's records go: a postgresql:// URL or a SQLite file; empty: Results.db in the program folder.
    QString resultsDatabase;
    // The station's name in the records; empty: the host name (two stations on one computer set their own).
    QString station;
    QMap<QString, QByteArray> windowGeometry; // by window name

    // Missing file or keys give the defaults above.
    static UserSettings read(const QString &path);
    // Throws Fault(FileAccess) when the file cannot be written.
    void save(const QString &path) const;
};

} // namespace vantorel
