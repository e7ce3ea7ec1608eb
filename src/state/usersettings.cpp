#include "state/usersettings.h"

#include "platform/fault.h"

#include <QFile>
#include <QSettings>
#include <QUrl>

namespace vantorel {

namespace {
const QString kKnownSpeeds = QStringLiteral("KnownSpeeds");
const QString kDevice = QStringLiteral("Device");

// One entry a device: its path, then "C<number>=<speed>" for each controller.
// A device path is no key: its slashes would become groups.
void writeKnownSpeeds(QSettings &ini, const QMap<QString, QMap<int, int>> &known)
{
    ini.remove(kKnownSpeeds);
    ini.beginWriteArray(kKnownSpeeds);
    int index = 0;
    for (auto device = known.cbegin(); device != known.cend(); ++device) {
        if (device->isEmpty())
            continue;
        ini.setArrayIndex(index++);
        ini.setValue(kDevice, device.key());
        for (auto c = device->cbegin(); c != device->cend(); ++c)
            ini.setValue(QStringLiteral("C") + QString::number(c.key()), c.value());
    }
    ini.endArray();
}

// A hand-edited entry that makes no sense is left out, not guessed at.
QMap<QString, QMap<int, int>> readKnownSpeeds(QSettings &ini)
{
    QMap<QString, QMap<int, int>> known;
    const int devices = ini.beginReadArray(kKnownSpeeds);
    for (int d = 0; d < devices; ++d) {
        ini.setArrayIndex(d);
        const QString device = ini.value(kDevice).toString();
        for (const QString &key : ini.childKeys()) {
            bool numbered = false, isSpeed = false;
            const int n = key.mid(1).toInt(&numbered);
            const int speed = ini.value(key).toInt(&isSpeed);
            if (!device.isEmpty() && key.startsWith(QLatin1Char('C')) && numbered && n >= 0 && n < 32 && isSpeed && speed > 0)
                known[device][n] = speed;
        }
    }
    ini.endArray();
    return known;
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
        throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(" (") + path
                                               + QStringLiteral(": the settings could not be written)"));
    keepPrivate(path, database);
}
} // namespace

UserSettings UserSettings::read(const QString &path)
{
    QSettings ini(path, QSettings::IniFormat);
    UserSettings s;
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
    s.knownSpeeds = readKnownSpeeds(ini);
    keepPrivate(path, s.resultsDatabase);
    return s;
}

void UserSettings::save(const QString &path) const
{
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
    writeKnownSpeeds(ini, knownSpeeds);
    written(ini, path, resultsDatabase);
}

void UserSettings::rememberSpeed(const QString &device, int controller, int speed)
{
    int &known = knownSpeeds[device][controller];
    knownSpeedsChanged = knownSpeedsChanged || known != speed;
    known = speed;
}

void UserSettings::saveKnownSpeeds(const QString &path) const
{
    QSettings ini(path, QSettings::IniFormat);
    writeKnownSpeeds(ini, knownSpeeds);
    written(ini, path, ini.value(QStringLiteral("Results/Database")).toString());
}

} // namespace vantorel
