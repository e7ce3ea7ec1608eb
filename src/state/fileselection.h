#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace vantorel {

class Context;
struct ImageDescription;

// What the main window shows of a chosen file, as the HEX reading made it.
struct ChosenFile {
    QString checksum;       // full file checksum, hex without leading zeros
    QByteArray contentHash; // of the file's bytes: a download refuses a file changed since
    int batches = 0;        // programming batches it is cut into
    QString problem;        // why it cannot be downloaded; empty when it can
    QString warning;        // what the user should know of a file that can be downloaded

    bool sound() const { return problem.isEmpty(); }
};

// Reads the file at 'path', updating 'description' as a reading does (it keeps
// what the lines before a fault set); throws the reading faults. HEX reading
// lies above the window states, so the session hands it in.
using ChosenFileReader = std::function<ChosenFile(const QString &path, ImageDescription &description)>;

// The reaction to every change of FileName: checksum display, tooltip and the
// download buttons.
void FileNameChanged(Context &ctx);

// A file chosen (Browse, a drop, the command line): read even when the name
// is the one already shown.
void chooseFile(Context &ctx, const QString &path);

// "&Browse ..." pressed.
void Command1Click(Context &ctx);

// Installs the FileName reaction on the context's state, reading with 'read'.
void attachFileSelection(Context &ctx, ChosenFileReader read);

} // namespace vantorel
