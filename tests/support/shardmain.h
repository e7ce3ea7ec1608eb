#pragma once

#include <QMetaMethod>
#include <QSet>
#include <QTest>

namespace vantorel {

// VANTOREL_SHARD=i/n runs only the test functions whose place in the class is
// i modulo n, so one slow program runs as n CTest entries that wait on their
// lines side by side. Without it, or with functions named on the command line,
// the program runs as QTest always does.
inline int execShard(QObject *test, int argc, char **argv)
{
    const QByteArray shard = qgetenv("VANTOREL_SHARD");
    const qsizetype slash = shard.indexOf('/');
    if (slash < 0 || argc > 1)
        return QTest::qExec(test, argc, argv);
    const int part = shard.left(slash).toInt(), parts = shard.mid(slash + 1).toInt();
    static const QSet<QByteArray> fixtures = {"initTestCase", "cleanupTestCase", "init", "cleanup"};
    QStringList args{QString::fromLocal8Bit(argv[0])};
    const QMetaObject *meta = test->metaObject();
    int place = 0;
    for (int m = meta->methodOffset(); m < meta->methodCount(); ++m) {
        const QMetaMethod method = meta->method(m);
        const QByteArray name = method.name();
        if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private
            || method.parameterCount() != 0 || fixtures.contains(name) || name.endsWith("_data"))
            continue;
        if (place++ % parts == part)
            args << QString::fromLatin1(name);
    }
    // A shard left without a function has nothing to run (QTest would run them all).
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
