#include "image/batchreader.h"

namespace vantorel {

BatchReader::BatchReader(const QString &path) : lines_(path) {}

BatchReader::BatchReader(const QByteArray &content) : lines_(content) {}

bool BatchReader::atEnd()
{
    if (!lines_.atEnd())
        return false;
    // A data record kept back when the file ended is still sent: dropping it
    // would leave the controller with part of its firmware missing.
    return !pending_ || pending_->count() == 0;
}

Batch BatchReader::next()
{
    Batch batch;
    batch.number = ++number_;

    std::optional<HexRecord> first;
    if (pending_) {
        first.swap(pending_);
    } else {
        QByteArray line = lines_.next();
        first.emplace(std::move(line), lines_.lineNumber());
    }
    const HexRecord &r = *first;
    batch.address = r.address();
    batch.line = r.lineNumber();
    batch.addressBytes += static_cast<char>(r.byteAt(4));
    batch.addressBytes += static_cast<char>(r.byteAt(6));
    for (int i = 1; i <= r.count(); ++i)
        batch.data += static_cast<char>(r.dataByte(i));

    while (batch.data.size() <= kGatherLimit) {
        if (lines_.atEnd()) {
            batch.fileEndedWhileGathering = true;
            break;
        }
        QByteArray line = lines_.next();
        HexRecord next(std::move(line), lines_.lineNumber());
        const int count = next.count();
        if (next.address() == batch.address + batch.data.size()) {
            for (int i = 1; i <= count; ++i)
                batch.data += static_cast<char>(next.dataByte(i));
        } else {
            pending_.emplace(std::move(next));
            break;
        }
    }
    return batch;
}

int BatchReader::countBatches(const QString &path)
{
    BatchReader reader(path);
    int n = 0;
    while (!reader.atEnd()) {
        reader.next();
        ++n;
    }
    return n;
}

} // namespace vantorel
