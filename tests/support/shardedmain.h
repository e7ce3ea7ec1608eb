#pragma once

#include <QCoreApplication>
#include <QMetaMethod>
#include <QTest>

// A test main that runs every k-th test function when VANTOREL_SHARD is
// "k/N", so CTest can run the slow end-to-end suites in parallel pieces.
// Without the variable it runs them all; no function can fall out of a list.
namespace vantorel {

inline int runShard(QObject &suite, int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString shard = qEnvironmentVariable("VANTOREL_SHARD");
    const QStringList parts = shard.split(QLatin1Char('/'));
    if (parts.size() == 2 && args.size() == 1) {
        const int k = parts[0].toInt();
        const int n = parts[1].toInt();
        const QMetaObject *mo = suite.metaObject();
        int index = 0;
        for (int m = mo->methodOffset(); m < mo->methodCount(); ++m) {
            const QMetaMethod method = mo->method(m);
            const QString name = QString::fromLatin1(method.name());
            if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private
                || name.endsWith(QLatin1String("_data")) || name == QLatin1String("initTestCase")
                || name == QLatin1String("cleanupTestCase") || name == QLatin1String("init")
                || name == QLatin1String("cleanup"))
                continue;
            if (n > 0 && index++ % n == k)
                args << name;
        }
    }
    return QTest::qExec(&suite, args);
}

} // namespace vantorel

#define VANTOREL_SHARDED_MAIN(Suite)                                                                                   \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        QCoreApplication app(argc, argv);                                                                              \
        Suite suite;                                                                                                   \
        return vantorel::runShard(suite, argc, argv);                                                                  \
    }
