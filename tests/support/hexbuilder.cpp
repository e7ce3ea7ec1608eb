#include "support/hexbuilder.h"

#include <QFile>

namespace vantorel {

QByteArray hexRecord(int address, const QByteArray &data, int type)
{
    QByteArray raw;
    raw += static_cast<char>(data.size());
    raw += static_cast<char>((address >> 8) & 0xFF);
    raw += static_cast<char>(address & 0xFF);
    raw += static_cast<char>(type);
    raw += data;
    unsigned sum = 0;
    for (const char c : raw)
        sum += static_cast<unsigned char>(c);
    raw += static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
    return ':' + raw.toHex().toUpper();
}

QByteArray hexEndRecord() { return QByteArrayLiteral(":00000001FF"); }

QByteArray hexImage(int address, const QByteArray &data, int recordSize, const QByteArray &eol, bool endRecord)
{
    QByteArray out;
    for (qsizetype at = 0; at < data.size(); at += recordSize)
        out += hexRecord(address + static_cast<int>(at), data.mid(at, recordSize)) + eol;
    if (endRecord)
        out += hexEndRecord() + eol;
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray patternedImage(int kib)
{
    QByteArray code(kib * 1024 - 64, '\0');
    for (int i = 0; i < code.size(); ++i)
        code[i] = char((i * 31 + 7) & 0xFF);
    const QByteArray configuration = QByteArray::fromHex("70000402");
    if (code.size() >= 0x2020 + configuration.size()) {
        code.replace(0x2020, configuration.size(), configuration);
        return hexImage(0x0000, code, 16);
    }
    // Code that ends before the configuration's place: its record follows the code.
    return hexImage(0x0000, code, 16, "\r\n", false) + hexRecord(0x2020, configuration) + "\r\n" + hexEndRecord() + "\r\n";
}

QByteArray sampleCode()
{
    QByteArray c(1024, '\0');
    for (int i = 0; i < c.size(); ++i)
        c[i] = char((i * 13 + 5) & 0xFF);
    return c;
}

QByteArray sampleImage(const char *configuration)
{
    return hexImage(0x0000, sampleCode(), 16, "\r\n", false) + hexRecord(0x2020, QByteArray::fromHex(configuration))
        + "\r\n" + hexEndRecord() + "\r\n";
}

QByteArray sampleFlash()
{
    QByteArray want(0xDFFE, char(0xFF));
    want.replace(0, 1024, sampleCode());
    want.replace(0x2020, 4, QByteArray::fromHex("70000402"));
    return want;
}

} // namespace vantorel
