#include "image/downloadimage.h"

#include "image/hexfile.h"
#include "image/hexlines.h"
#include "platform/fault.h"

#include <QCryptographicHash>
#include <QStringList>

#include <algorithm>

namespace vantorel {

namespace {

constexpr int kMaxBatchData = 255 - 6; // the count byte holds data + 6

QString hex4(int v) { return QString::number(v, 16).toUpper().rightJustified(4, QLatin1Char('0')); }
QString hex2(int v) { return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0')); }
QString onLine(qint64 line) { return QStringLiteral("line ") + QString::number(line) + QStringLiteral(": "); }

struct Span {
    int start;
    int end; // one past the last byte
    qint64 line;
};

// A record checksum that disagrees with its record, or empty. The reading
// never uses it and the controller's full checksum proves what was
// programmed, so it only warns: mostly a byte edited by hand.
QString checksumWarning(const HexRecord &r, int type)
{
    const int ll = r.count();
    const int checksumByte = r.byteAt(10 + 2 * ll);
    int sum = ll + r.byteAt(4) + r.byteAt(6) + type + checksumByte;
    for (int i = 1; i <= ll; ++i)
        sum += r.dataByte(i);
    if ((sum & 0xFF) == 0)
        return QString();
    return QStringLiteral("the record checksum is ") + hex2(checksumByte) + QStringLiteral(" where the record needs ")
        + hex2((checksumByte - sum) & 0xFF);
}

// A configuration record (the one the reading takes at 2020) of fewer than
// four data bytes, or empty. The reading takes D0 to D3 by their place in the
// line, so it reads the record checksum or nothing for the missing ones; a
// controller reads the erased flash there, FF.
QString shortConfigurationWarning(const HexRecord &r)
{
    const int ll = r.count();
    if (r.text(4, 4) != "2020" || ll >= 4)
        return QString();
    static const char *const meaning[] = {"speed and Prot 4+ flag", "unused byte", "protocol character",
                                          "controller type"};
    QStringList held, missing, meanings;
    for (int i = 1; i <= ll; ++i)
        held << hex2(r.dataByte(i));
    for (int i = ll; i < 4; ++i) {
        missing << QStringLiteral("D") + QString::number(i);
        if (i != 1)
            meanings << QString::fromLatin1(meaning[i]);
    }
    const auto list = [](const QStringList &items) {
        return items.size() < 2 ? items.join(QString()) : items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + items.last();
    };
    QString text = QStringLiteral("the configuration record at 2020 holds %1 data byte%2%3, not 4: a controller reads FF "
                                  "(erased flash) for the missing %4 (its %5), where this tool reads the record "
                                  "checksum or nothing in their place")
                       .arg(ll)
                       .arg(ll == 1 ? QString() : QStringLiteral("s"))
                       .arg(ll == 0 ? QString() : QStringLiteral(" (") + held.join(QLatin1Char(' ')) + QLatin1Char(')'))
                       .arg(list(missing), list(meanings));
    if (ll <= 2) {
        const QByteArray toolD2 = r.line().mid(13, 2);
        text += QStringLiteral(", so after a download this tool uses %1 where the controller uses FF, and every "
                               "exchange pays an \"@\" fallback")
                    .arg(toolD2.size() == 2 ? QStringLiteral("protocol character ") + QString::fromLatin1(toolD2)
                                            : QStringLiteral("no protocol character"));
    }
    return text + QStringLiteral(". Fix the image's configuration record so that it holds all 4 bytes.");
}

// The problem of one record, or empty.
QString recordProblem(const HexRecord &r, int type)
{
    const int ll = r.count();
    // Without its two checksum digits a record is most likely where a copy
    // was cut short: the full checksum would then prove a half image.
    try {
        r.byteAt(10 + 2 * ll);
    } catch (const Fault &) {
        return QStringLiteral("the record checksum is missing or not upper-case hex: the file looks cut short or "
                              "damaged; copy or produce it again");
    }
    // Two records run together when a line end was lost: the second would never be
    // sent, and the full checksum, read the same way, would still prove the image.
    if (!r.line().mid(11 + 2 * ll).trimmed().isEmpty())
        return QStringLiteral("there is more on the line after the record's checksum (two records on one line?): the "
                              "file looks damaged; copy or produce it again");
    if (type != 0x00 && type != 0x01)
        return QStringLiteral("record type ") + hex2(type)
            + QStringLiteral(" is not supported: only data (00) and end-of-file (01) records can be programmed; produce "
                             "the file with 16-bit addresses and no extended-address or start records");
    if (type == 0x01 && ll != 0)
        return QStringLiteral("the end-of-file record carries data; produce the file again");
    if (type == 0x00 && r.address() + ll > 0x10000)
        return QStringLiteral("the record at ") + hex4(r.address()) + QStringLiteral(" with ") + QString::number(ll)
            + QStringLiteral(" bytes ends beyond address FFFF: produce the file with 16-bit addresses");
    return QString();
}

} // namespace

QString imageProblem(const QByteArray &content, const QList<Batch> &batches, QString *warning)
{
    HexLines lines(content);
    std::vector<Span> spans;
    qint64 endLine = 0;
    qint64 dataBytes = 0;
    QString firstWrong, shortConfiguration;
    int moreWrong = 0;
    while (!lines.atEnd()) {
        QByteArray text = lines.next();
        if (endLine != 0) {
            if (!text.isEmpty())
                return onLine(lines.lineNumber()) + QStringLiteral("there is more after the end-of-file record of line ")
                    + QString::number(endLine) + QStringLiteral("; remove it or produce the file again");
            continue;
        }
        const HexRecord r(std::move(text), lines.lineNumber());
        const int type = r.byteAt(8);
        const QString problem = recordProblem(r, type);
        if (!problem.isEmpty())
            return onLine(r.lineNumber()) + problem;
        if (const QString wrong = checksumWarning(r, type); !wrong.isEmpty()) {
            if (firstWrong.isEmpty())
                firstWrong = onLine(r.lineNumber()) + wrong;
            else
                ++moreWrong;
        }
        if (const QString tooShort = shortConfigurationWarning(r); !tooShort.isEmpty())
            shortConfiguration = onLine(r.lineNumber()) + tooShort;
        if (type == 0x01) {
            endLine = r.lineNumber();
        } else if (r.count() > 0) {
            dataBytes += r.count();
            spans.push_back({r.address(), r.address() + r.count(), r.lineNumber()});
        }
    }
    if (warning) {
        QStringList warnings;
        if (!firstWrong.isEmpty())
            warnings << firstWrong + (moreWrong ? QStringLiteral(" (%1 lines in all)").arg(moreWrong + 1) : QString())
                    + QStringLiteral("; edited by hand? The controller's full checksum still proves what was programmed.");
        if (!shortConfiguration.isEmpty())
            warnings << shortConfiguration;
        *warning = warnings.join(QLatin1Char(' '));
    }
    if (dataBytes == 0)
        return QStringLiteral("the file holds no data to program; choose the firmware file");

    std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.start < b.start; });
    // Where the controllers' flash begins is theirs to know; an image no
    // 57342-byte flash can hold is refused wherever it lies.
    const auto last = std::max_element(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.end < b.end; });
    if (last->end - spans.front().start > kFlashSize)
        return onLine(last->line) + QStringLiteral("the image spans ") + hex4(spans.front().start) + QStringLiteral(" (line ")
            + QString::number(spans.front().line) + QStringLiteral(") to ") + hex4(last->end - 1)
            + QStringLiteral(", more than the 57342 bytes of the flash: the image does not fit the controller");
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start < spans[i - 1].end) {
            const Span &later = spans[i].line > spans[i - 1].line ? spans[i] : spans[i - 1];
            const Span &earlier = spans[i].line > spans[i - 1].line ? spans[i - 1] : spans[i];
            return onLine(later.line) + QStringLiteral("the record at ") + hex4(later.start)
                + QStringLiteral(" overlaps the record at ") + hex4(earlier.start) + QStringLiteral(" of line ")
                + QString::number(earlier.line) + QStringLiteral("; each flash byte may be given once");
        }
    }
    for (const Batch &b : batches) {
        if (b.data.size() > kMaxBatchData)
            return onLine(b.line) + QStringLiteral("the records from address ") + hex4(b.address)
                + QStringLiteral(" make a batch of ") + QString::number(b.data.size())
                + QStringLiteral(" bytes, more than the 249 one frame carries; produce the file with records of at most "
                                 "32 bytes");
    }
    return QString();
}

DownloadImage readDownloadImage(const QString &path, ImageDescription &description)
{
    DownloadImage image = downloadImageFrom(readHexText(path), description);
    image.path = path;
    return image;
}

ChosenFile readChosenFile(const QString &path, ImageDescription &description)
{
    const DownloadImage image = readDownloadImage(path, description);
    return ChosenFile{image.checksum, image.contentHash, int(image.batches.size()), image.problem, image.warning};
}

DownloadImage downloadImageFrom(const QByteArray &content, ImageDescription &description)
{
    DownloadImage image;
    image.contentHash = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
    image.checksum = readHexChecksum(content, description);
    image.description = description;
    BatchReader reader(content);
    while (!reader.atEnd())
        image.batches << reader.next();
    image.problem = imageProblem(content, image.batches, &image.warning);
    return image;
}

DownloadImage takeDownloadImage(const QString &path, const QByteArray &chosenHash)
{
    if (path.isEmpty())
        throw Fault(FaultCode::ImageUnsound, faultDescription(FaultCode::ImageUnsound)
                                                 + QStringLiteral(": no HEX file is chosen; choose one with Browse"));
    ImageDescription description;
    DownloadImage image;
    try {
        image = readDownloadImage(path, description);
    } catch (const Fault &fault) {
        throw Fault(fault.code(), fault.description() + QStringLiteral("\rPlease, Check your HEX file !"));
    }
    if (!image.sound())
        throw Fault(FaultCode::ImageUnsound,
                    faultDescription(FaultCode::ImageUnsound) + QStringLiteral(" (") + path + QStringLiteral("): ")
                        + image.problem);
    if (image.contentHash != chosenHash)
        throw Fault(FaultCode::ImageUnsound,
                    faultDescription(FaultCode::ImageUnsound) + QStringLiteral(" (") + path
                        + QStringLiteral("): the file changed on disk since it was chosen (its checksum is now ")
                        + shownChecksum(image.checksum) + QStringLiteral("); choose it again to see and download the new file"));
    return image;
}

} // namespace vantorel
