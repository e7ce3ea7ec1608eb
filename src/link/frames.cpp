#include "link/frames.h"

namespace vantorel {

namespace {
QByteArray head(const QByteArray &protocolChar, int ctrl, int count)
{
    QByteArray body = protocolChar;
    body += static_cast<char>(ctrl);
    body += static_cast<char>(count);
    return body;
}
} // namespace

QByteArray flashCheckFrame(const QByteArray &protocolChar, int ctrl, CheckKind kind)
{
    return sealFrame(head(protocolChar, ctrl, 1) + 's', kind);
}

QByteArray bootInfoFrame(const QByteArray &protocolChar, int ctrl, CheckKind kind)
{
    return sealFrame(head(protocolChar, ctrl, 4) + 'u' + QByteArray::fromHex("AA5550"), kind);
}


QByteArray eraseFrame(const QByteArray &protocolChar, int ctrl, CheckKind kind)
{
    return sealFrame(head(protocolChar, ctrl, 4) + 't' + QByteArray::fromHex("55AAF0"), kind);
}

QByteArray programmingFrame(int address, const QByteArray &addressBytes, const QByteArray &data)
{
    QByteArray body = head(QByteArrayLiteral("@"), address, static_cast<int>(data.size()) + 6);
    body += 'u';
    body += QByteArray::fromHex("AA5510");
    body += addressBytes;
    body += data;
    return sealFrame(body, CheckKind::Crc);
}

QByteArray fullChecksumFrame(int ctrl, const QByteArray &checksum3)
{
    return sealFrame(head(QByteArrayLiteral("@"), ctrl, 7) + 'u' + QByteArray::fromHex("AA550F") + checksum3,
                     CheckKind::Crc);
}

QByteArray switchToP4Command(int ctrl) { return QByteArrayLiteral("@") + QByteArray::number(ctrl) + "p400:4/"; }

QByteArray returnToP3Frame(int ctrl, CheckKind kind)
{
    QByteArray body = QByteArrayLiteral("@");
    body += static_cast<char>(ctrl);
    body += '\x37';
    return sealFrame(body, kind);
}

std::optional<VersionAnswer> decodeVersionAnswer(const QString &answerHex)
{
    constexpr int kWholeAnswerDigits = 26; // 13 bytes
    if (answerHex.size() != kWholeAnswerDigits)
        return std::nullopt;
    return VersionAnswer{answerHex.mid(10, 2) + QLatin1Char('/') + answerHex.mid(12, 2) + QLatin1Char('/')
                             + answerHex.mid(14, 2),
                         answerHex.mid(16, 4)};
}

} // namespace vantorel
