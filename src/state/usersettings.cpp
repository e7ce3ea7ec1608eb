#include "state/usersettings.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSettings>
#include <QUrl>

#include <memory>

namespace vantorel {

namespace {
const QString kKnownSpeeds = QStringLiteral("KnownSpeeds");
const QString kDevice = QStringLiteral("Device");
const QString kTodo = QStringLiteral("remove it, or make it a plain text file (its [KnownSpeeds] section may go); "
                                     "until then the tool uses its default settings and leaves the file alone");

// QSettings would wait for ever on a pipe and read a device or a huge file
// without end: the file is judged before it touches it. False when there is none.
bool judged(const QString &path)
{
    try {
        checkWholeFile(path, kUserSettingsLimit, QStringLiteral("Vantorel.ini"), kTodo);
    } catch (const Fault &f) {
        if (f.code() == FaultCode::FileNotFound)
            return false;
        throw;
    }
    return true;
}

// Written only over a file that was read, and is still fit to be.
void admit(const UserSettings &s, const QString &path)
{
    if (!s.problem.isEmpty())
        throw Fault(FaultCode::FileAccess, s.problem);
    judged(path);
}

// One entry a device: its path, then "C<number>=<speed>" for each controller.
// A device path is no key: its slashes would become groups.
// In the order they last answered, the latest last: the order they give way in.
void writeKnownSpeeds(QSettings &ini, const UserSettings &s)
{
    QStringList order = s.knownDevices;
    for (auto device = s.knownSpeeds.cbegin(); device != s.knownSpeeds.cend(); ++device)
        if (!order.contains(device.key()))
            order.prepend(device.key());
    ini.remove(kKnownSpeeds);
    ini.beginWriteArray(kKnownSpeeds);
    int index = 0;
    for (const QString &device : order) {
        const QMap<int, int> speeds = s.knownSpeeds.value(device);
        if (speeds.isEmpty())
            continue;
        ini.setArrayIndex(index++);
        ini.setValue(kDevice, device);
        for (auto c = speeds.cbegin(); c != speeds.cend(); ++c)
            ini.setValue(QStringLiteral("C") + QString::number(c.key()), c.value());
    }
    ini.endArray();
}

// A hand-edited entry that makes no sense is left out, not guessed at.
void readKnownSpeeds(QSettings &ini, UserSettings &s)
{
    const int devices = ini.beginReadArray(kKnownSpeeds);
    for (int d = 0; d < devices; ++d) {
        ini.setArrayIndex(d);
        const QString device = ini.value(kDevice).toString();
        for (const QString &key : ini.childKeys()) {
            bool numbered = false, isSpeed = false;
            const int n = key.mid(1).toInt(&numbered);
            const int speed = ini.value(key).toInt(&isSpeed);
            if (!device.isEmpty() && key.startsWith(QLatin1Char('C')) && numbered && n >= 0 && n < 32 && isSpeed && speed > 0)
                s.knownSpeeds[device][n] = speed;
        }
        if (s.knownSpeeds.contains(device)) {
            s.knownDevices.removeOne(device);
            s.knownDevices.append(device);
        }
    }
    ini.endArray();
    const qsizetype held = s.knownDevices.size();
    if (held > kKnownSpeedDevices) {
        while (s.knownDevices.size() > kKnownSpeedDevices)
            s.knownSpeeds.remove(s.knownDevices.takeFirst());
        s.knownSpeedsChanged = true; // the shorter section is written back
        s.note = QStringLiteral("Vantorel.ini held the known speeds of %1 devices: only the %2 that answered last are "
                                "kept, the others are searched again.").arg(held).arg(kKnownSpeedDevices);
    }
}

// A database password in the file is for its owner's eyes only, however the file was made.
void keepPrivate(const QString &path, const QString &database)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (database.contains(QLatin1String("://")) && !QUrl(database.trimmed()).password().isEmpty()
        && QFile::exists(path) && (QFile::permissions(path) & others))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void written(QSettings &ini, const QString &path, const QString &database)
{
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(" (")
                                               + QDir::toNativeSeparators(path)
                                               + QStringLiteral(": the settings could not be written)"));
    keepPrivate(path, database);
}
} // namespace

UserSettings UserSettings::read(const QString &path)
{
    UserSettings s;
    try {
        if (!judged(path))
            return s;
    } catch (const Fault &f) {
        s.problem = f.description();
        return s;
    }
    QSettings ini(path, QSettings::IniFormat);
    s.fastAnswers = ini.value(QStringLiteral("Line/FastAnswers"), false).toBool();
    s.knownSpeedsFirst = ini.value(QStringLiteral("Line/KnownSpeedsFirst"), false).toBool();
    s.lastHexFile = ini.value(QStringLiteral("Files/LastHexFile")).toString();
    s.browseFolder = ini.value(QStringLiteral("Files/BrowseFolder")).toString();
    s.resultsDatabase = ini.value(QStringLiteral("Results/Database")).toString();
    s.station = ini.value(QStringLiteral("Results/Station")).toString();
    ini.beginGroup(QStringLiteral("Windows"));
    for (const QString &key : ini.childKeys())
        s.windowGeometry.insert(key, ini.value(key).toByteArray());
    ini.endGroup();
    readKnownSpeeds(ini, s);
    keepPrivate(path, s.resultsDatabase);
    return s;
}

namespace {

// Held while a saver reads Vantorel.ini's known speeds and writes its own in. Not
// QSettings' own lock file: its sync takes that one.
std::unique_ptr<QLockFile> lockKnownSpeeds(const QString &path)
{
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".speeds.lock"));
    lock->setStaleLockTime(10000);
    if (!lock->tryLock(10000))
        throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(" (")
                                               + QDir::toNativeSeparators(path)
                                               + QStringLiteral(": another program kept it locked)"));
    return lock;
}

// The known speeds on disk, where another line or window may have saved since
// 'mine' read them, with only the devices that answered 'mine' put in: no saver
// wipes another's newer speeds.
UserSettings mergedKnownSpeeds(const QString &path, const UserSettings &mine)
{
    UserSettings now;
    {
        QSettings onDisk(path, QSettings::IniFormat);
        readKnownSpeeds(onDisk, now);
    }
    for (const QString &device : mine.knownDevices) { // in the order they answered
        if (!mine.devicesAnswered.contains(device))
            continue;
        now.knownSpeeds[device] = mine.knownSpeeds.value(device);
        now.knownDevices.removeOne(device);
        now.knownDevices.append(device);
    }
    while (now.knownDevices.size() > kKnownSpeedDevices)
        now.knownSpeeds.remove(now.knownDevices.takeFirst());
    return now;
}

} // namespace

void UserSettings::save(const QString &path) const
{
    admit(*this, path);
    const auto lock = lockKnownSpeeds(path);
    const UserSettings speeds = mergedKnownSpeeds(path, *this);
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.setValue(QStringLiteral("Line/FastAnswers"), fastAnswers);
    ini.setValue(QStringLiteral("Line/KnownSpeedsFirst"), knownSpeedsFirst);
    ini.setValue(QStringLiteral("Files/LastHexFile"), lastHexFile);
    ini.setValue(QStringLiteral("Files/BrowseFolder"), browseFolder);
    if (!resultsDatabase.isEmpty())
        ini.setValue(QStringLiteral("Results/Database"), resultsDatabase);
    if (!station.isEmpty())
        ini.setValue(QStringLiteral("Results/Station"), station);
    for (auto it = windowGeometry.cbegin(); it != windowGeometry.cend(); ++it)
        ini.setValue(QStringLiteral("Windows/") + it.key(), it.value());
    writeKnownSpeeds(ini, speeds);
    written(ini, path, resultsDatabase);
}

void UserSettings::rememberSpeed(const QString &device, int controller, int speed)
{
    int &known = knownSpeeds[device][controller];
    if (!devicesAnswered.contains(device))
        devicesAnswered << device;
    knownSpeedsChanged = knownSpeedsChanged || known != speed;
    known = speed;
    if (knownDevices.isEmpty() || knownDevices.last() != device) {
        knownDevices.removeOne(device);
        knownDevices.append(device);
        knownSpeedsChanged = true; // the order they give way in
    }
    while (knownDevices.size() > kKnownSpeedDevices)
        knownSpeeds.remove(knownDevices.takeFirst());
}

void UserSettings::saveKnownSpeeds(const QString &path) const
{
    admit(*this, path);
    const auto lock = lockKnownSpeeds(path);
    const UserSettings speeds = mergedKnownSpeeds(path, *this);
    QSettings ini(path, QSettings::IniFormat);
    writeKnownSpeeds(ini, speeds);
    written(ini, path, ini.value(QStringLiteral("Results/Database")).toString());
}

} // namespace vantorel
