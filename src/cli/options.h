#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantorel {

class Fault;
class Session;
struct Command;

// A refusal: the run does not happen. Those before start-up keep the Log.txt
// of the last run.
struct Usage {
    QString reason;
    std::optional<int> fault = std::nullopt; // the number of the fault that made the file unusable
};

// The options of vantorel-cli, in the order --help lists them.
class Options {
public:
    Options();
    Options(const Options &) = delete;
    Options &operator=(const Options &) = delete;

    // False with 'error' set (the line for standard error) when the arguments cannot be read.
    bool parse(const QStringList &arguments, QString &error);
    bool helpAsked() const;
    bool versionAsked() const;
    // The parser's help, then the exit statuses and examples.
    QByteArray helpText() const;
    // Prints the version and ends the program.
    [[noreturn]] void showVersion();

    bool isSet(const QCommandLineOption &o) const { return parser_.isSet(o); }
    QString value(const QCommandLineOption &o) const { return parser_.value(o); }
    QStringList values(const QCommandLineOption &o) const { return parser_.values(o); }
    QStringList positionalArguments() const { return parser_.positionalArguments(); }
    // --dir, else the program folder the window would use.
    QString appDir() const;

    const QCommandLineOption dir, port, speed, timeout, delay, protocol, file, prot3, noProt3, prot4Plus, noProt4Plus,
        sameProtocol, noSameProtocol, controllers, settle, hold, fast, noFast, knownSpeeds, noKnownSpeeds, strict, save,
        format, listPorts, results, logCopy, unit, stationRun, resultsDb, controller, image, since, station, status, notImage,
        line, stationWorker;
    // Every option, in the order --help lists them.
    QList<const QCommandLineOption *> all() const;
    // The options only `history` reads.
    QList<const QCommandLineOption *> historyOptions() const;

private:
    QCommandLineParser parser_;
};

// What the checks before start-up found, for the run to use.
struct RunSettings {
    QString appDir;
    QList<int> ticked;  // --controllers as a list
    int settleMs = -1;  // -1: not given
    int holdMs = -1;
    QStringList warnings; // what did not stop the run but goes into its report
    QMap<int, QString> units; // --unit: controller → unit or serial number
    QString stationRun;       // --station-run; empty: none
};

// One line on standard error.
void errorLine(const QString &line);

// 0 to 31: what a command on the whole line lists.
QList<int> everyController();

// "0,3,5-7", "all", "none" → the ticked controllers; false on a malformed list.
bool parseControllers(const QString &text, QList<int> &out);

// The one COMMAND given, with a --format it can print; refused otherwise.
const Command &chosenCommand(const Options &o);
// A fault reading the HEX file, as the refusal that names the file.
Usage cannotRead(const QString &path, const Fault &f);
// --station-run's ID, checked; empty when not given.
QString stationRunOf(const Options &o);
// The options a command that only reads the file refuses.
void refuseFileOnly(const Options &o, const Command &command);
// Everything a mistyped option can get wrong is refused here, before start-up
// empties Log.txt and long before a controller is erased. A warning about the
// HEX file is told on standard error at once.
RunSettings refuseBeforeStartUp(const Options &o, const Command &command);
// Last of the refusals, once the run's files are open: neither --port nor a port saved in Flash.cfg.
void refuseWithoutPort(const Options &o, const RunSettings &s);
// The options put into the session's state after its start-up, as a user
// would set them in the window; refused when the file or protocol left is unusable.
void applyOptions(const Options &o, const RunSettings &settings, Session &session);
// The refusal of a download without a readable HEX file.
Usage noHexFile();
// --port as the Com Port box takes it: "COM 3", "3" or a device path; on Unix a
// bare device name ("ttyUSB0") is taken under /dev when it is there, as a user
// who leaves out /dev/ means, else refused.
QString portFromOption(const QString &text);

} // namespace vantorel
