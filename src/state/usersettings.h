#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace vantorel {

// Settings that Flash.cfg has no line for. They live in Vantorel.ini beside
// it, so Flash.cfg keeps its 40 lines for whatever else reads it.
struct UserSettings {
    bool fastAnswers = false;   // end waits as soon as an answer is complete
    bool knownSpeedsFirst = false; // a speed search starts at the speed the controller last answered at
    QString lastHexFile;        // reopened at start when it still exists
    QString browseFolder;       // where Browse opens
    // Where each run's records go: a postgresql:// URL or a SQLite file; empty: Results.db in the program folder.
    QString resultsDatabase;
    // The station's name in the records; empty: the host name (two stations on one computer set their own).
    QString station;
    QMap<QString, QByteArray> windowGeometry; // by window name
    // The speed each controller last answered at, by device path, then
    // controller number. Kept whether or not they are used.
    QMap<QString, QMap<int, int>> knownSpeeds;
    bool knownSpeedsChanged = false; // since they were read

    // The speed a controller answered at on a device.
    void rememberSpeed(const QString &device, int controller, int speed);
    // 0 when none is known.
    int knownSpeed(const QString &device, int controller) const { return knownSpeeds.value(device).value(controller); }

    // Missing file or keys give the defaults above. A file holding a database password is
    // made readable by its owner only, here as when it is saved.
    static UserSettings read(const QString &path);
    // Throws Fault(FileAccess) when the file cannot be written.
    void save(const QString &path) const;
    // Only the known speeds, the rest of the file as it is: they are what the
    // line told, kept even when the settings are not saved.
    void saveKnownSpeeds(const QString &path) const;
};

} // namespace vantorel
