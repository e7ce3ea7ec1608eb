#pragma once

#include "image/hexlines.h"

#include <QByteArray>
#include <optional>

namespace vantorel {

// One programming batch: records at contiguous addresses.
struct Batch {
    int number = 0;          // from 1
    int address = 0;         // address field of its first record
    qint64 line = 0;         // file line of its first record
    QByteArray addressBytes; // high, low
    QByteArray data;         // data bytes in file order
    // The file ended while further records were being gathered.
    bool fileEndedWhileGathering = false;
    // A batch of an end record alone carries nothing: one by one, it is not
    // sent. (A broadcast sends it, as it always has.)
    bool endsEmpty() const { return fileEndedWhileGathering && data.isEmpty(); }
};

// Cuts a HEX file into programming batches, the one rule both programming
// procedures share. Gathering goes on while the batch holds at most 112 data
// bytes (tested before each further record), so a batch holds at most 112
// bytes plus one record. A record that does not continue the batch is kept
// and opens the next one.
class BatchReader {
public:
    static constexpr int kGatherLimit = 112;

    // Throws Fault(FileNotFound / FileAccess).
    explicit BatchReader(const QString &path);
    explicit BatchReader(const QByteArray &content);

    // True when no further batch would carry anything: the file is exhausted
    // and the record kept back, if any, holds no data (an end record).
    bool atEnd();
    // Throws Fault(InvalidArgument) on a malformed line.
    Batch next();

    // Counts the batches of a file (for progress display). Throws as next().
    static int countBatches(const QString &path);

private:
    HexLines lines_;
    std::optional<HexRecord> pending_;
    int number_ = 0;
};

} // namespace vantorel
