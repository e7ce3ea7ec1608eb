#pragma once

#include "state/run.h"

#include <QString>

namespace vantorel {

class MainState;

// Writes the 40 lines of Flash.cfg from the controls. The file is written
// whole beside the old one and renamed over it, so a crash or a full disk
// never leaves a truncated Flash.cfg. Throws Fault(FileAccess).
void SaveConfig(MainState &state, const QString &path);

// Reads Flash.cfg into the controls, skipping whatever fails: a missing or
// short file or a bad line never stops start-up. Returns, for a Flash.cfg
// that is there but cannot be read (not a regular file, far too large,
// unreadable), what to tell the user; empty otherwise. Its controls then get
// what a missing file gives them.
QString ReadConfig(MainState &state, const QString &path);

// The settings Flash.cfg in 'appDir' keeps (those of a missing file when it
// cannot be read).
SettingsForm savedSettings(const QString &appDir);

// The first line of Boot.ini (found whatever the case of its name) followed by
// ",N,8,2"; "9600,N,8,2" without one. Throws Fault(FileAccess) for a Boot.ini
// that is there but cannot be read: programming at a speed other than the one
// it gives would fail every controller after erasing it.
QString bootSettings(const QString &appDir);

// The program folder, ending in a separator: VANTOREL_HOME when set, else the
// executable's folder when writable, else the user's application-data folder.
QString findAppDir();

// A check-box state as Flash.cfg holds it: " 0 " or " 1 ".
QString checkStateText(int value);

} // namespace vantorel
