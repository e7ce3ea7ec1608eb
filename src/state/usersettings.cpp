#include "state/usersettings.h"

#include "platform/fault.h"

#include <QSettings>

namespace vantorel {

UserSettings UserSettings::read(const QString &path)
{
    QSettings ini(path, QSettings::IniFormat);
    UserSettings s;
    s.fastAnswers = ini.value(QStringLiteral("Line/FastAnswers"), false).toBool();
    s.lastHexFile = ini.value(QStringLiteral("Files/LastHexFile")).toString();
    s.browseFolder = ini.value(QStringLiteral("Files/BrowseFolder")).toString();
    s.resultsDatabase = ini.value(QStringLiteral("Results/Database")).toString();
    s.station = ini.value(QStringLiteral("Results/Station")).toString();
    ini.beginGroup(QStringLiteral("Windows"));
    for (const QString &key : ini.childKeys())
        s.windowGeometry.insert(key, ini.value(key).toByteArray());
    ini.endGroup();
    return s;
}

void UserSettings::save(const QString &path) const
{
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.setValue(QStringLiteral("Line/FastAnswers"), fastAnswers);
    ini.setValue(QStringLiteral("Files/LastHexFile"), lastHexFile);
    ini.setValue(QStringLiteral("Files/BrowseFolder"), browseFolder);
    if (!resultsDatabase.isEmpty())
        ini.setValue(QStringLiteral("Results/Database"), resultsDatabase);
    if (!station.isEmpty())
        ini.setValue(QStringLiteral("Results/Station"), station);
    for (auto it = windowGeometry.cbegin(); it != windowGeometry.cend(); ++it)
        ini.setValue(QStringLiteral("Windows/") + it.key(), it.value());
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(" (") + path
                                               + QStringLiteral(": the settings could not be written)"));
}

} // namespace vantorel
