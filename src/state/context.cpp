#include "state/context.h"

#include "state/config.h"
#include "platform/desk.h"
#include "platform/fault.h"

#include <QFileInfo>
#include <algorithm>

namespace vantorel {

Context::Context(SerialPort &p, Desk &d, const Clock &c) : port(p), desk(d), clock(c)
{
    message.onCancel = [this] {
        if (!stoppedAt)
            stoppedAt = main.ControllerIndex;
        StopRequested = true;
    };
    message.clock = &clock;
    log.onProblem = [this](const QString &text) { desk.message(QString::fromLatin1(kDefaultTitle), text); };
    // The check box and Vantorel.ini's setting are one: whoever changes the box.
    main.FastAnswers.onChange([this] { user.fastAnswers = main.FastAnswers.ticked(); });
    main.KnownSpeedsFirst.onChange([this] { user.knownSpeedsFirst = main.KnownSpeedsFirst.ticked(); });
}

double failureHoldSeconds(const Context &ctx) { return failureHoldSeconds(ctx.timings, ctx.link.fastAnswers); }


void startUp(Context &ctx, const QString &appDir, const QString &logName)
{
    MainState &m = ctx.main;
    m.AppDir = appDir;
    if (!m.AppDir.endsWith(QLatin1Char('/')) && !m.AppDir.endsWith(QLatin1Char('\\')))
        m.AppDir += QLatin1Char('/');
    try {
        m.BootSettings = bootSettings(appDir);
        m.BootIniProblem.clear();
    } catch (const Fault &fault) {
        // Told when a download needs it: the queries never use it.
        m.BootSettings.clear();
        m.BootIniProblem = fault.description();
    }
    m.title = QStringLiteral(" Vantorel version ") + programVersion();
    ctx.log.open(m.AppDir + logName + QStringLiteral(".txt"), m.AppDir + logName + QStringLiteral(".old.txt"));
    const QString configProblem = ReadConfig(m, m.AppDir + QStringLiteral("Flash.cfg"));
    if (!configProblem.isEmpty())
        ctx.desk.message(QString::fromLatin1(kDefaultTitle), configProblem);
    ctx.user = UserSettings::read(m.AppDir + QStringLiteral("Vantorel.ini"));
    for (const QString &told : {ctx.user.problem, ctx.user.note})
        if (!told.isEmpty())
            ctx.desk.message(QString::fromLatin1(kDefaultTitle), told);
    m.FastAnswers.setValue(ctx.user.fastAnswers ? 1 : 0);
    m.KnownSpeedsFirst.setValue(ctx.user.knownSpeedsFirst ? 1 : 0);
    m.SameProtocol = m.ChkProto.ticked();
    m.Check1.setValue(1);
}

void reopenLastHexFile(Context &ctx)
{
    const QString path = ctx.user.lastHexFile;
    if (!path.isEmpty() && QFileInfo(path).isFile())
        ctx.main.FileName.setText(path);
}

bool shutDown(Context &ctx)
{
    ctx.log.close();
    if (!ctx.main.Check1.ticked()) {
        // The speeds the line told are kept for the option that uses them,
        // even when the settings are not.
        if (!ctx.main.KnownSpeedsFirst.ticked() || !ctx.user.knownSpeedsChanged)
            return true;
        try {
            ctx.user.saveKnownSpeeds(ctx.main.AppDir + QStringLiteral("Vantorel.ini"));
        } catch (const Fault &fault) {
            ctx.desk.message(QString::fromLatin1(kDefaultTitle),
                             fault.description() + QStringLiteral("\rThe speeds found are not kept: the next run "
                                                                  "searches them again."));
        }
        return true;
    }
    // A file that could not be read is not worth reopening; its folder still is.
    const QString file = ctx.main.FileName.text();
    if (!file.isEmpty()) {
        if (!ctx.main.FileCheksum.text().isEmpty())
            ctx.user.lastHexFile = QFileInfo(file).absoluteFilePath();
        ctx.user.browseFolder = QFileInfo(file).absolutePath();
    }
    try {
        SaveConfig(ctx.main, ctx.main.AppDir + QStringLiteral("Flash.cfg"));
    } catch (const Fault &fault) {
        ctx.desk.message(QStringLiteral("Flash Error"),
                         faultBoxText(fault) + QStringLiteral("\rThe settings were not saved; the previous Flash.cfg is unchanged."));
        return false;
    }
    try {
        ctx.user.save(ctx.main.AppDir + QStringLiteral("Vantorel.ini"));
    } catch (const Fault &fault) {
        ctx.desk.message(QStringLiteral("Flash Error"),
                         faultBoxText(fault) + QStringLiteral("\rFlash.cfg was saved; the settings kept in Vantorel.ini "
                                                              "(fast answers, known speeds, window places) were not."));
        return false;
    }
    return true;
}

} // namespace vantorel
