#pragma once

#include "link/frames.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vantorel {

class ProtocolCharacter;
class Run;

// A controller whose accepted answers are never whole (13 bytes with version
// and checksum) is asked again, but not for ever: at most this often at one speed.
inline constexpr int kMaxAsksAtOneSpeed = 10;

// Counts one answer that was not whole. True while the controller may be
// asked again; after the last ask it logs why, marks the controller with the
// status of a failed check and returns false.
bool askAgain(Run &run, int ctrl, int &asked);

// A query answered with version and checksum (the flash check, the boot info).
struct VersionQuery {
    QByteArray (*frame)(const QByteArray &protocolChar, int ctrl, CheckKind kind);
    QString doing;   // the progress step, after "Controller n : "
    QString message; // the log line before the frame
};

// What one ask came to.
enum class Asked {
    Answered, // with version and checksum
    Again,    // ask again at this speed: the "@" character, or an answer that was not whole
    GiveUp,   // nothing more at this speed
};

// One ask of controller ctrl with the character in use: its progress, its log
// lines and the mark of what failed; the "@" switch and the ask-again budget
// decide whether another ask follows. On Answered, 'answer' holds it.
Asked askVersion(Run &run, int ctrl, const VersionQuery &query, ProtocolCharacter &character, int &asked,
                 std::optional<VersionAnswer> &answer);

} // namespace vantorel
