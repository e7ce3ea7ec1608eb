#include "image/fileselection.h"

#include "app/context.h"
#include "image/batchreader.h"
#include "image/hexfile.h"
#include "platform/desk.h"
#include "platform/fault.h"

#include <QDir>
#include <QFileInfo>

namespace vantorel {

QString ReadHexFile(Context &ctx)
{
    const QString path = ctx.main.FileName.text();
    try {
        return readHexChecksum(path, ctx.image);
    } catch (const Fault &fault) {
        if (fault.code() == FaultCode::FileNotFound) {
            ctx.desk.message(QString::fromLatin1(kDefaultTitle), QStringLiteral("File not Found!"));
        } else {
            ctx.desk.message(QStringLiteral("Flash Error"),
                             faultBoxText(fault) + QStringLiteral("\rPlease, Check your HEX file !"));
        }
    }
    return QString();
}

void FileNameChanged(Context &ctx)
{
    MainState &m = ctx.main;
    if (m.FileName.text().isEmpty()) {
        m.ComLoad.setEnabled(false);
        m.ComLoad00.setEnabled(false);
        m.FileCheksum.setText(QString());
        m.FileName.setToolTip(QString());
        return;
    }
    ctx.desk.setBusy(true);
    ctx.desk.processEvents();
    QString checksum = ReadHexFile(ctx);
    ctx.imageBatches = 0;
    if (!checksum.isEmpty()) {
        try {
            ctx.imageBatches = BatchReader::countBatches(m.FileName.text());
        } catch (const Fault &) {
            // Read once already without fault; a file changing under us only loses the bar.
        }
    }
    if (checksum.size() > 4)
        checksum = checksum.right(4);
    m.FileCheksum.setText(checksum);
    if (!checksum.isEmpty() && !m.Protocol.text().isEmpty()) {
        m.ComLoad.setEnabled(true);
        m.ComLoad00.setEnabled(true);
        m.ComLoad.requestFocus();
    }
    ctx.desk.processEvents();
    m.FileName.setToolTip(imageToolTip(ctx.image));
    ctx.desk.setBusy(false);
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
        ctx.main.FileName.setText(chosen);
}

void attachFileSelection(Context &ctx)
{
    ctx.main.FileName.onChange([&ctx] { FileNameChanged(ctx); });
}

} // namespace vantorel
