#include "cli/commands.h"

#include <QStringList>

namespace vantorel {

namespace {
using Op = Session::Operation;
const Command kCommands[] = {
    {.name = "flash-info", .operation = Op::FlashInfo},
    {.name = "boot-info", .operation = Op::BootInfo},
    {.name = "auto", .operation = Op::Auto, .judged = Judged::RanToEnd, .wholeLine = true},
    {.name = "download-serial", .operation = Op::DownloadSerial, .download = true},
    {.name = "download-parallel", .operation = Op::DownloadParallel, .download = true},
    {.name = "to-p4", .operation = Op::To4},
    {.name = "to-p3", .operation = Op::To3},
    {.name = "checksum", .operation = std::nullopt, .keepsRecord = false},
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
