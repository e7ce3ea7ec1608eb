#pragma once

#include "support/hexbuilder.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

namespace vantorel {

// A throwaway PostgreSQL cluster in a temporary folder, reached only through a socket there. As root it runs as
// 'nobody' (the server refuses root). Stopped however the test ends.
class PgServer {
public:
    static constexpr int kPatienceMs = 180000; // a bound for its programs, never reached when they work
    static constexpr const char *Bin = "/usr/lib/postgresql/15/bin/";
    static bool available() { return QFileInfo(QString(Bin) + "pg_ctl").isExecutable(); }

    PgServer()
    {
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
                return;
            asUser = {"setpriv", QString("--reuid=%1").arg(nobody->pw_uid), QString("--regid=%1").arg(nobody->pw_gid), "--clear-groups"};
        }
        // A password is asked for, so that the ways of giving one without the command line are tried for real.
        const QString pwfile = dir.filePath("pw");
        ok = writeFile(pwfile, QByteArray(Password) + "\n")
             && tool("initdb", {"-D", data(), "-U", "vantorel", "--auth=scram-sha-256", "--pwfile=" + pwfile, "--no-sync", "-E", "UTF8"})
             && start();
    }
    ~PgServer() { stop(); }
    bool start()
    {
        return tool("pg_ctl", {"-D", data(), "-l", dir.filePath("server.log"), "-w", "-t", "120", "-o",
                               "-k " + dir.path() + " -c listen_addresses= -c fsync=off", "start"});
    }
    bool stop() { return !QFileInfo::exists(data() + "/postmaster.pid") || tool("pg_ctl", {"-D", data(), "-m", "fast", "-w", "-t", "120", "stop"}); }
    static constexpr const char *Password = "s3cret-pw";
    // With the password in it, for the tests to see it is never shown.
    QString url(const QString &database = "postgres") const { return QString("postgresql://vantorel:%1@localhost/%2?host=%3").arg(Password, database, dir.path()); }
    QString urlWithoutPassword(const QString &database = "postgres") const { return QString("postgresql://vantorel@localhost/%1?host=%2").arg(database, dir.path()); }
    bool createDatabase(const QString &name) { return tool("createdb", {"-h", dir.path(), "-U", "vantorel", name}); }
    QString folder() const { return dir.path(); }
    bool ok = false;

private:
    QString data() const { return dir.filePath("data"); }
    bool tool(const QString &name, const QStringList &args)
    {
        QProcess p;
        p.setEnvironment(QProcess::systemEnvironment() << QString("PGPASSWORD=") + Password);
        const QStringList command = asUser + QStringList{QString(Bin) + name} + args;
        p.start(command.first(), command.mid(1));
        const bool done = p.waitForFinished(kPatienceMs) && p.exitCode() == 0;
        if (!done)
            qWarning("%s: %s", qPrintable(name), p.readAllStandardError().constData());
        return done;
    }
    QTemporaryDir dir;
    QStringList asUser;
};

} // namespace vantorel

// scripts/test installs PostgreSQL and asks for its tests: there a missing server is a failure, not a skip.
#define skipOrFail(why)                                       \
    do {                                                      \
        if (qEnvironmentVariableIsSet("VANTOREL_NEED_POSTGRES")) \
            QFAIL(why);                                       \
        QSKIP(why);                                           \
    } while (false)
