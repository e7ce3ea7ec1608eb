#include "session/session.h"

#include "app/config.h"
#include "image/fileselection.h"

namespace vantorel {

Session::Session(SerialPort &port, Desk &desk, const Clock &clock) : ctx_(port, desk, clock)
{
    attachFileSelection(ctx_);
}

void Session::startUp(const QString &appDir)
{
    vantorel::startUp(ctx_, appDir.isEmpty() ? findAppDir() : appDir);
}

bool Session::shutDown() { return vantorel::shutDown(ctx_); }

void Session::browse() { Command1Click(ctx_); }

void Session::dropFile(const QString &path) { ctx_.main.FileName.setText(path); }

} // namespace vantorel
