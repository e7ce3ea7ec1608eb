#include "state/fileselection.h"

#include "state/context.h"
#include "state/imagedescription.h"
#include "platform/desk.h"
#include "platform/fault.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <utility>

namespace vantorel {

namespace {

// The file named in FileName, read once; nothing after telling the user why
// it could not be read.
std::optional<ChosenFile> readChosenFile(Context &ctx)
{
    try {
        return ctx.readChosenFile(ctx.main.FileName.text(), ctx.image);
    } catch (const Fault &fault) {
        if (fault.code() == FaultCode::FileNotFound) {
            ctx.desk.message(QString::fromLatin1(kDefaultTitle), QStringLiteral("File not Found!"));
        } else {
            ctx.desk.message(QStringLiteral("Flash Error"),
                             faultBoxText(fault) + QStringLiteral("\rPlease, Check your HEX file !"));
        }
    }
    return std::nullopt;
}

} // namespace

void FileNameChanged(Context &ctx)
{
    MainState &m = ctx.main;
    ctx.chosenFileHash.clear();
    ctx.imageBatches = 0;
    m.FileProblem.setText(QString());
    m.FileWarning.setText(QString());
    if (m.FileName.text().isEmpty()) {
        m.ComLoad.setEnabled(false);
        m.ComLoad00.setEnabled(false);
        m.FileCheksum.setText(QString());
        m.FileName.setToolTip(QString());
        return;
    }
    ctx.desk.setBusy(true);
    ctx.desk.processEvents();
    const std::optional<ChosenFile> image = readChosenFile(ctx);
    QString checksum;
    if (image) {
        checksum = image->checksum;
        ctx.chosenFileHash = image->contentHash;
        ctx.imageBatches = image->batches;
        if (!image->sound())
            m.FileProblem.setText(QStringLiteral("Cannot be downloaded: ") + image->problem);
        else if (!image->warning.isEmpty())
            m.FileWarning.setText(QStringLiteral("Warning: ") + image->warning + QStringLiteral(" It can be downloaded."));
    }
    checksum = shownChecksum(checksum);
    m.FileCheksum.setText(checksum);
    if (!checksum.isEmpty() && !m.Protocol.text().isEmpty() && image->sound()) {
        m.ComLoad.setEnabled(true);
        m.ComLoad00.setEnabled(true);
        m.ComLoad.requestFocus();
    } else if (!image || !image->sound()) {
        // A file that cannot be downloaded must not leave the buttons of an
        // earlier good file enabled: they would erase controllers for nothing.
        m.ComLoad.setEnabled(false);
        m.ComLoad00.setEnabled(false);
    }
    ctx.desk.processEvents();
    m.FileName.setToolTip(imageToolTip(ctx.image));
    ctx.desk.setBusy(false);
}

void chooseFile(Context &ctx, const QString &path)
{
    if (ctx.main.FileName.text() == path)
        FileNameChanged(ctx); // the same name again: the file may have been rewritten
    else
        ctx.main.FileName.setText(path);
}

void Command1Click(Context &ctx)
{
    // The current file's folder, else the one of the last run.
    const QFileInfo current(ctx.main.FileName.text());
    const QString folder = !ctx.main.FileName.text().isEmpty() && current.absoluteDir().exists()
                               ? current.absolutePath()
                               : ctx.user.browseFolder;
    const QString chosen = ctx.desk.openFile(QStringLiteral("Select a Hex file"),
                                             QStringLiteral("Hexadecimal Files (*.hex)|*.hex"), folder);
    if (!chosen.isEmpty())
        chooseFile(ctx, chosen);
}

void attachFileSelection(Context &ctx, ChosenFileReader read)
{
    ctx.readChosenFile = std::move(read);
    ctx.main.FileName.onChange([&ctx] { FileNameChanged(ctx); });
}

} // namespace vantorel
