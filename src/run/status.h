#pragma once

#include <QString>

namespace vantorel {

class Context;
struct VersionAnswer;

// "Controller n : " and what happens to it, as every progress line says it.
QString controllerLine(int n, const QString &what);

// A running message in the progress window; 'shortForm' leaves out the speed.
void ShowProgress(Context &ctx, const QString &message, bool shortForm);
// A failure message, held for the failure hold while events run.
void ShowFailure(Context &ctx, const QString &message);
// Marks controller n's result boxes with a result code (0 clears them; 1..4
// mark them in red bold and show the failure; other codes do nothing).
void ShowCtrlStatus(Context &ctx, int n, int code);
// The same marks without the failure message.
void MarkCtrlStatus(Context &ctx, int n, int code);
// What a result code 1..4 records as the failure, in the words of the marks
// ("No Answer"); empty for any other code.
QString failureWords(int code);
// Back to normal letters; the texts stay.
void ResetCtrlStatus(Context &ctx, int n);
// Controller n's answered version and checksum in its row and its outcome; a
// checksum that is not the file's is marked white on red, with a beep.
void ShowVersion(Context &ctx, int n, const VersionAnswer &answer, bool mismatch);

} // namespace vantorel
