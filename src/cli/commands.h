#pragma once

#include "session/session.h"

#include <QString>

#include <optional>
#include <span>

namespace vantorel {

// One command of vantorel-cli: what it runs and what it takes. The one list
// that dispatch, --help and the refusals read.
struct Command {
    const char *name;
    // The operation it runs on the line; none: it only reads the HEX file or the results database.
    std::optional<Session::Operation> operation;
    // Reads the results database, not the line.
    bool history = false;
    // Needs --file; the image must be sound, and --strict refuses wrong record checksums.
    bool download = false;
    // Works on every address of the line, whatever is ticked (no --controllers needed).
    bool wholeLine = false;
    // Prints csv and appends to --results.
    bool keepsRecord = true;

    QString text() const { return QString::fromLatin1(name); }
};

std::span<const Command> commands();
// Null for a name that is no command.
const Command *findCommand(const QString &name);
// "flash-info | boot-info | ...", as --help and the refusal list them.
QString commandNames();

} // namespace vantorel
