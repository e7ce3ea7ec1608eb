#include "cli/commands.h"

#include <QStringList>

namespace vantorel {

namespace {
using Op = Session::Operation;
// The names of the line's commands are the records' names of their operations.
const Command kCommands[] = {
    {.name = operationName(Op::FlashInfo), .operation = Op::FlashInfo},
    {.name = operationName(Op::BootInfo), .operation = Op::BootInfo},
    {.name = operationName(Op::Auto), .operation = Op::Auto, .wholeLine = worksOnWholeLine(Op::Auto)},
    {.name = operationName(Op::DownloadSerial), .operation = Op::DownloadSerial, .download = true},
    {.name = operationName(Op::DownloadParallel), .operation = Op::DownloadParallel, .download = true},
    {.name = operationName(Op::To4), .operation = Op::To4},
    {.name = operationName(Op::To3), .operation = Op::To3},
    {.name = "checksum", .operation = std::nullopt, .keepsRecord = false},
    {.name = "history", .operation = std::nullopt, .history = true},
};
} // namespace

std::span<const Command> commands() { return kCommands; }

const Command *findCommand(const QString &name)
{
    for (const Command &c : kCommands) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

QString commandNames()
{
    QStringList names;
    for (const Command &c : kCommands)
        names << c.text();
    return names.join(QStringLiteral(" | "));
}

} // namespace vantorel
