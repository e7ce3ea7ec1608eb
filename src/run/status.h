#pragma once

#include "state/outcome.h"

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
// Marks controller n's result boxes with a failure (None clears them; the four
// of an exchange or a switch back mark them in red bold, record the failure and
// show it; other failures have no mark and do nothing).
void ShowCtrlStatus(Context &ctx, int n, Failure code);
// The same marks without the failure message.
void MarkCtrlStatus(Context &ctx, int n, Failure code);
// The failure an exchange's result code marks; None for ComOk.
Failure failureOf(int comResult);
// Back to normal letters; the texts stay.
void ResetCtrlStatus(Context &ctx, int n);
// Controller n's answered version and checksum in its row and its outcome; a
// checksum that is not the file's is marked white on red, with a beep.
void ShowVersion(Context &ctx, int n, const VersionAnswer &answer, bool mismatch);

} // namespace vantorel
