#pragma once

#include "state/outcome.h"

#include <QString>

namespace vantorel {

class Run;
struct VersionAnswer;

// "Controller n : " and what happens to it, as every progress line says it.
QString controllerLine(int n, const QString &what);

// A running message in the progress window; 'shortForm' leaves out the speed.
void ShowProgress(Run &run, const QString &message, bool shortForm);
// A failure message, held for the failure hold while events run.
void ShowFailure(Run &run, const QString &message);
// Marks controller n's result boxes with a failure (None clears them; the four
// of an exchange or a switch back mark them in red bold, record the failure and
// show it; other failures have no mark and do nothing).
void ShowCtrlStatus(Run &run, int n, Failure code);
// The same marks without the failure message.
void MarkCtrlStatus(Run &run, int n, Failure code);
// The failure an exchange's result code marks; None for ComOk.
Failure failureOf(int comResult);
// Back to normal letters; the texts stay.
void ResetCtrlStatus(Run &run, int n);
// Back to normal letters, and the texts gone: what the controller held is no more.
void ClearCtrlStatus(Run &run, int n);
// Controller n's answered version and checksum in its row and its outcome; a
// checksum that is not the file's is marked white on red, with a beep.
void ShowVersion(Run &run, int n, const VersionAnswer &answer, bool mismatch);

} // namespace vantorel
