#include "state/config.h"

#include "state/mainstate.h"
#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <limits>

namespace vantorel {

QString checkStateText(int value) { return QLatin1Char(' ') + QString::number(value) + QLatin1Char(' '); }

void SaveConfig(MainState &s, const QString &path)
{
    QStringList lines;
    lines << s.Text1.text() << s.ComPort.text() << s.Vitesse.text();
    for (const Control &c : s.C)
        lines << checkStateText(c.value());
    lines << s.Text2.text() << s.Protocol.text() << checkStateText(s.ChkProto.value())
          << checkStateText(s.QRV3.value()) << checkStateText(s.Protocol4Plus.value());

    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + "\r\n";

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(": ")
                                               + QDir::toNativeSeparators(path) + QStringLiteral(" (")
                                               + file.errorString() + QStringLiteral(")"));
}

namespace {

// Reads lines one by one; at the end of the file (or with no file) the buffer
// keeps the last line read.
class ConfigLines {
public:
    explicit ConfigLines(const QString &path)
    {
        try {
            data_ = readWholeFile(path, kSettingsFileLimit, QStringLiteral("Flash.cfg"),
                                  QStringLiteral("the saved settings were not read and the boxes start empty; "
                                                 "remove it, and the tool writes a new Flash.cfg when it closes with "
                                                 "\"Save configuration on exit\" ticked"));
        } catch (const Fault &fault) {
            if (fault.code() != FaultCode::FileNotFound)
                problem_ = fault.description();
        }
    }
    const QString &problem() const { return problem_; }
    const QString &next()
    {
        if (pos_ < data_.size()) {
            qsizetype end = pos_;
            while (end < data_.size() && data_[end] != '\r' && data_[end] != '\n')
                ++end;
            buffer_ = QString::fromLatin1(data_.mid(pos_, end - pos_));
            pos_ = end;
            if (pos_ < data_.size() && data_[pos_] == '\r')
                ++pos_;
            if (pos_ < data_.size() && data_[pos_] == '\n')
                ++pos_;
        }
        return buffer_;
    }

private:
    QString problem_;
    QByteArray data_;
    qsizetype pos_ = 0;
    QString buffer_;
};

// A state line as a 16-bit whole number; only 0 and 1 are states a box takes.
void giveState(Control &box, const QString &line)
{
    bool ok = false;
    const int v = line.trimmed().toInt(&ok);
    if (!ok || v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max())
        return;
    if (v == 0 || v == 1)
        box.setValue(v);
}

} // namespace

QString ReadConfig(MainState &s, const QString &path)
{
    ConfigLines lines(path);
    s.Text1.setText(lines.next());
    s.ComPort.setText(lines.next());
    s.Vitesse.setText(lines.next());
    for (Control &c : s.C)
        giveState(c, lines.next());
    s.Text2.setText(lines.next());
    s.Protocol.setText(lines.next());
    giveState(s.ChkProto, lines.next());
    giveState(s.QRV3, lines.next());
    giveState(s.Protocol4Plus, lines.next());
    if (s.ChkProto.ticked())
        s.ChkProto.setVisible(true);
    return lines.problem();
}

QString bootSettings(const QString &appDir)
{
    const QDir dir(appDir);
    // Whatever bears the name counts, so that a pipe or a folder called
    // Boot.ini is refused rather than passed over for 9600.
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (name.compare(QLatin1String("Boot.ini"), Qt::CaseInsensitive) != 0)
            continue;
        QByteArray line;
        try {
            line = readWholeFile(dir.filePath(name), kSettingsFileLimit, QStringLiteral("Boot.ini"),
                                 QStringLiteral("make it a plain text file holding only the boot line speed, "
                                                "for example 9600, or remove it for 9600"));
        } catch (const Fault &fault) {
            if (fault.code() == FaultCode::FileNotFound) // gone since it was listed
                continue;
            throw;
        }
        const qsizetype cr = line.indexOf('\r');
        const qsizetype lf = line.indexOf('\n');
        qsizetype end = line.size();
        if (cr >= 0)
            end = cr;
        if (lf >= 0 && lf < end)
            end = lf;
        line.truncate(end);
        return QString::fromLatin1(line) + QStringLiteral(",N,8,2");
    }
    return QStringLiteral("9600,N,8,2");
}

QString findAppDir()
{
    auto withSeparator = [](QString dir) {
        dir = QDir::cleanPath(dir);
        if (!dir.endsWith(QLatin1Char('/')))
            dir += QLatin1Char('/');
        return dir;
    };
    const QString home = qEnvironmentVariable("VANTOREL_HOME");
    if (!home.isEmpty()) {
        QDir().mkpath(home);
        return withSeparator(QFileInfo(home).absoluteFilePath());
    }
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (!exeDir.isEmpty() && QFileInfo(exeDir).isWritable())
        return withSeparator(exeDir);
    QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.vantorel");
    QDir().mkpath(data);
    return withSeparator(data);
}

SettingsForm savedSettings(const QString &appDir)
{
    MainState saved;
    ReadConfig(saved, QDir(appDir).filePath(QStringLiteral("Flash.cfg")));
    return formOf(saved);
}

} // namespace vantorel
