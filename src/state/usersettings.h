#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace vantorel {

// Vantorel.ini holds a few short settings, window places and the known speeds
// of at most kKnownSpeedDevices devices (a few hundred bytes each): 256 KiB is
// far past any the tool writes, and still quick to read.
inline constexpr qint64 kUserSettingsLimit = 256 * 1024;
// A station has a few lines, but device paths come and go with adapters: the
// speeds of the devices that answered last are kept, the oldest give way.
inline constexpr int kKnownSpeedDevices = 128;

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
    QStringList knownDevices; // those of knownSpeeds, the one that answered last at the end
    bool knownSpeedsChanged = false; // since they were read
    QStringList devicesAnswered; // the devices a controller answered on since they were read
    // Why Vantorel.ini was not read: the defaults are used and the file is
    // never written over (it holds settings this start never saw). Empty when
    // it was read or is not there.
    QString problem;
    // Said once after reading: known speeds of older devices were dropped.
    QString note;

    // The speed a controller answered at on a device.
    void rememberSpeed(const QString &device, int controller, int speed);
    // 0 when none is known.
    int knownSpeed(const QString &device, int controller) const { return knownSpeeds.value(device).value(controller); }

    // Missing file or keys give the defaults above; so does a file that is
    // refused ('problem' then says why). A file holding a database password is
    // made readable by its owner only, here as when it is saved.
    static UserSettings read(const QString &path);
    // Throws Fault(FileAccess) when the file cannot be written or was refused.
    void save(const QString &path) const;
    // Only the known speeds, the rest of the file as it is: they are what the
    // line told, kept even when the settings are not saved. The speeds of the
    // devices that answered in this run go over those the file holds now, so
    // the lines of a station that save at once all keep theirs.
    void saveKnownSpeeds(const QString &path) const;
};

} // namespace vantorel
