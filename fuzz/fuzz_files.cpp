// The files the tool and the simulator read from a folder a user fills:
// Flash.cfg, Boot.ini, Ports.ini and the simulated line's description. The
// first byte chooses the reader; none may crash or hang on any content.
#include "state/config.h"
#include "state/mainstate.h"
#include "platform/fault.h"
#include "platform/portnames.h"
#include "platform/serialport.h"
#include "sim/lineconfig.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

using namespace vantorel;

namespace {
void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    static QTemporaryDir dir;
    const QByteArray content(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));
    switch (data[0] % 4) {
    case 0: {
        write(dir.filePath(QStringLiteral("Flash.cfg")), content);
        MainState state;
        ReadConfig(state, dir.filePath(QStringLiteral("Flash.cfg")));
        break;
    }
    case 1: {
        write(dir.filePath(QStringLiteral("Boot.ini")), content);
        try {
            parseLineSettings(bootSettings(dir.path()));
        } catch (const Fault &) {
        }
        break;
    }
    case 2: {
        write(dir.filePath(QStringLiteral("Ports.ini")), content);
        for (const char *name : {"COM 3", "3", "COM 99", "COM 0", "/dev/ttyUSB0", ""}) {
            try {
                resolvePortName(QString::fromLatin1(name), dir.path() + QLatin1Char('/'));
            } catch (const Fault &) {
            }
        }
        break;
    }
    default:
        try {
            sim::parseLineConfig(content, QStringLiteral("fuzz"), dir.path());
        } catch (const std::exception &) {
        }
        break;
    }
    return 0;
}
