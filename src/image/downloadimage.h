#pragma once

#include "state/fileselection.h"
#include "state/imagedescription.h"
#include "image/batchreader.h"

#include <QList>
#include <QString>

namespace vantorel {

// A HEX file taken once into memory: what the reading rules make of it and
// the batches it is cut into. A download programs from this, never from the
// file on disk again, so a file changed during a run changes nothing in it.
struct DownloadImage {
    QString path;
    QString checksum; // full file checksum, hex without leading zeros
    QByteArray contentHash; // of the file's bytes: tells a changed file even when its checksum is the same
    ImageDescription description;
    QList<Batch> batches;
    // Why it cannot be downloaded ("line 7: ..."); empty for a sound image.
    QString problem;
    // What a download need not be refused for but the user should know
    // (wrong record checksums, a short configuration record), each part
    // saying what it means and what to do; empty when nothing.
    QString warning;

    bool sound() const { return problem.isEmpty(); }
};

// Reads the file once. 'description' is updated as a reading updates it (it
// keeps what the lines before a fault set). Throws the reading faults
// (FileNotFound, FileAccess, InvalidArgument, Overflow); an image that reads
// but is not sound comes back with its problem.
DownloadImage readDownloadImage(const QString &path, ImageDescription &description);
// The same for bytes already read.
DownloadImage downloadImageFrom(const QByteArray &content, ImageDescription &description);

// The file read for the main window, which shows what a reading made of it.
// Throws the reading faults as readDownloadImage does.
ChosenFile readChosenFile(const QString &path, ImageDescription &description);

// The image of a download, taken at its check: throws Fault(ImageUnsound) for
// an image that is not sound, and when the file on disk is no longer the one
// the user chose (its bytes no longer give 'chosenHash').
DownloadImage takeDownloadImage(const QString &path, const QByteArray &chosenHash);

// Why the bytes of a readable file cannot be programmed, judged on its lines
// and on the batches they are cut into; empty when they can. 'warning', when
// given, receives the warnings about a file whose records all read: the first
// wrong record checksum, a configuration record of fewer than 4 data bytes.
QString imageProblem(const QByteArray &content, const QList<Batch> &batches, QString *warning = nullptr);

} // namespace vantorel
