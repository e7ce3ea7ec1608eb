#pragma once

#include <QString>

namespace vantorel {

class Context;

// Reads the file named in FileName: the full file checksum as hex text, or
// the empty text after telling the user why it could not be read. Updates
// the context's image description.
QString ReadHexFile(Context &ctx);

// The reaction to every change of FileName: checksum display, tooltip and the
// download buttons.
void FileNameChanged(Context &ctx);

// A file chosen (Browse, a drop, the command line): read even when the name
// is the one already shown.
void chooseFile(Context &ctx, const QString &path);

// "&Browse ..." pressed.
void Command1Click(Context &ctx);

// Installs the FileName reaction on the context's state.
void attachFileSelection(Context &ctx);

} // namespace vantorel
