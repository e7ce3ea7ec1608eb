#pragma once

#include <QProcess>
#include <QTest>

namespace vantorel {

// VANTOREL_SHARD=i/n runs only the tests whose place in the program is i
// modulo n, so one slow program runs as n CTest entries that wait on their
// lines side by side. A test is a row of a function with rows, or a function:
// a function's slow rows then spread over the entries too. Without it, or
// with functions named on the command line, the program runs as QTest always does.
inline int execShard(QObject *test, int argc, char **argv)
{
    const QByteArray shard = qgetenv("VANTOREL_SHARD");
    const qsizetype slash = shard.indexOf('/');
    if (slash < 0 || argc > 1)
        return QTest::qExec(test, argc, argv);
    const int part = shard.left(slash).toInt(), parts = shard.mid(slash + 1).toInt();
    // QTest itself lists them, "Class function [row]", one a line.
    QProcess lister;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VANTOREL_SHARD"));
    lister.setProcessEnvironment(env);
    lister.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("-datatags")});
    if (!lister.waitForFinished(60000) || lister.exitCode() != 0) {
        qCritical("%s -datatags did not list the tests", argv[0]);
        return 1;
    }
    QStringList args{QString::fromLocal8Bit(argv[0])};
    int place = 0;
    for (const QByteArray &line : lister.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2 || fields[0] != test->metaObject()->className())
            continue;
        const QByteArray tag = line.mid(fields[0].size() + fields[1].size() + 2);
        if (place++ % parts == part)
            args << QString::fromUtf8(tag.isEmpty() ? fields[1] : fields[1] + ':' + tag);
    }
    // A shard left without a test has nothing to run (QTest would run them all).
    return args.size() > 1 ? QTest::qExec(test, args) : 0;
}

} // namespace vantorel

#define VANTOREL_TEST_MAIN(TestObject, Application)                                                                    \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        Application app(argc, argv);                                                                                   \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return vantorel::execShard(&test, argc, argv);                                                                 \
    }
