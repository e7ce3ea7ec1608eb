#include "cli/options.h"

#include "cli/commands.h"
#include "image/downloadimage.h"
#include "platform/fault.h"
#include "run/runcheck.h"
#include "session/session.h"
#include "state/config.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace vantorel {

namespace {

const char *const kHelpEnd = R"(
Exit status, and "status" with --format json:
  0  ok         every selected controller ok (auto: the search ran to its end)
  1  failed     the operation ran and some controller did not pass
  2  error      bad usage or setting (no --port, --speed, --timeout, --delay,
                --controllers, Boot.ini ...), a HEX file that cannot be read
                or is not sound (with --strict also one the image check warns
                about), a --results or --log file that cannot be opened;
                refused before anything is sent
  3  error      the port cannot be opened, or the line was lost during the run
  4  cancelled  Ctrl-C
  5  error      another fault stopped the operation during the run; or the run
                ended ok or failed, but then the results database could not be
                reached (the records wait in Results-pending.jsonl in the
                program folder and go to the database at the next run that
                reaches it), or its --results file or (--save) Flash.cfg could
                not be written: the report still holds every controller's
                result, its error says what was lost; history: the database
                could not be read

The --log copy: each line after its ISO 8601 time stamp; the run's traffic
between two lines of the command line's own, each one line of key=value
fields (a value with a blank or quote in double quotes, \" and \\ inside):
  vantorel-cli start: operation= controllers= units= file= file_checksum=
      port= device= speed= protocol= timeout= delay= prot3= prot4plus=
      same_protocol= fast= settle_ms= hold_ms= version=
  vantorel-cli end: status= cancelled=yes|no c0=ok c1="failed: No Answer" ...
A start line without an end line: the program was ended before the run's end.

Examples:
  vantorel-cli --port /dev/ttyUSB0 --speed 9600 --protocol 3 --timeout 1000 --fast \
      --controllers 0-3 --file fw.hex --results line3.csv --format json download-serial
  vantorel-cli --port "COM 3" --speed 9600 --protocol 3 --timeout 1000 --fast \
      --controllers all --file fw.hex flash-info || echo "exit $?"
  vantorel-cli --port /dev/ttyUSB0 --speed 9600 --protocol 3 --timeout 1000 --fast \
      --controllers 5 --unit 5=SN1234 --file fw.hex --results line3.csv \
      --log line3.log download-serial
  vantorel-cli --not-image fw.hex --format csv history
  vantorel-cli --unit SN1234 history
)";

QCommandLineOption flag(const char *name, const QString &description)
{
    return QCommandLineOption(QLatin1String(name), description);
}

// An option the program gives itself, not one for users.
QCommandLineOption hiddenFlag(const char *name, const QString &description)
{
    QCommandLineOption o = flag(name, description);
    o.setFlags(QCommandLineOption::HiddenFromHelp);
    return o;
}

QCommandLineOption valued(const char *name, const QString &description, const char *valueName)
{
    return QCommandLineOption(QLatin1String(name), description, QLatin1String(valueName));
}

bool isText(const QString &value, std::initializer_list<const char *> allowed)
{
    return std::any_of(allowed.begin(), allowed.end(), [&](const char *a) { return value == QLatin1String(a); });
}

// A whole number of 0 or more.
int number(const Options &o, const QCommandLineOption &option, const char *what)
{
    bool ok = false;
    const int v = o.value(option).toInt(&ok);
    if (!ok || v < 0)
        throw Usage{QStringLiteral("--") + option.names().first() + QStringLiteral(" takes ") + QLatin1String(what)};
    return v;
}

// The window's own rules and words for an option that fills one of its boxes.
void sameRule(const QString &option, const std::function<void()> &check)
{
    try {
        check();
    } catch (const Fault &f) {
        throw Usage{option + QStringLiteral(": ") + f.phrase(), f.number()};
    }
}

Usage unsound(const QString &path, const QString &why)
{
    return Usage{faultDescription(FaultCode::ImageUnsound) + QStringLiteral(" (") + path + QStringLiteral("): ") + why,
                 static_cast<int>(FaultCode::ImageUnsound)};
}

// The HEX file read as the run will read it. A download refuses one that is
// not sound; what the image check warns about only warns, unless --strict.
QStringList checkImage(const Options &o, const Command &command)
{
    const QString path = o.value(o.file);
    ImageDescription unused;
    DownloadImage image;
    try {
        image = readDownloadImage(path, unused);
    } catch (const Fault &f) {
        throw cannotRead(path, f);
    }
    if (command.download && !image.sound())
        throw unsound(path, image.problem);
    if (image.warning.isEmpty())
        return {};
    if (command.download && o.isSet(o.strict))
        throw unsound(path, image.warning
                                + QStringLiteral(" Refused by --strict; correct the file or produce it again"));
    const QString warning = path + QStringLiteral(": ") + image.warning;
    errorLine(QStringLiteral("vantorel-cli: warning: ") + warning
              + QStringLiteral(" The file is used all the same (--strict refuses such a file for a download)."));
    return {warning};
}

const QString kNoProtocol = QStringLiteral("no protocol: give --protocol N (or save one in Flash.cfg)");

// What the run would take from Flash.cfg where no option gives it. Returns
// the controllers the run will list.
QList<int> refuseMissingSettings(const Options &o, const Command &command, const RunSettings &s)
{
    const SettingsForm saved = savedSettings(s.appDir);
    if ((o.isSet(o.protocol) ? o.value(o.protocol) : saved.protocol).trimmed().isEmpty())
        throw Usage{kNoProtocol};
    const QString speedText = o.isSet(o.speed) ? o.value(o.speed).trimmed() : saved.speed.trimmed();
    if (speedText.isEmpty())
        throw Usage{QStringLiteral("no speed: give --speed N (or save one in Flash.cfg)")};
    sameRule(QStringLiteral("--speed"), [&] { checkSpeed(speedText); });
    // A box left empty or wrong in Flash.cfg is the option's to give, not a failure of every controller.
    const QString timeOut = o.isSet(o.timeout) ? o.value(o.timeout) : saved.timeOut;
    if (timeOut.trimmed().isEmpty())
        throw Usage{QStringLiteral("no answer time-out: give --timeout MS, e.g. --timeout 1000 (or save one in Flash.cfg)")};
    sameRule(QStringLiteral("--timeout"), [&] { checkTimeOut(timeOut, o.isSet(o.fast)); });
    if (command.operation == Session::Operation::DownloadParallel) {
        const QString delay = o.isSet(o.delay) ? o.value(o.delay) : saved.waitingDelay;
        if (delay.trimmed().isEmpty())
            throw Usage{QStringLiteral("no waiting delay: give --delay MS, e.g. --delay 10 (or save one in Flash.cfg)")};
        sameRule(QStringLiteral("--delay"), [&] { waitingDelayMs(delay); });
    }
    if (command.wholeLine)
        return everyController();
    const QList<int> selected = o.isSet(o.controllers) ? s.ticked : saved.ticked;
    if (selected.isEmpty())
        throw Usage{QStringLiteral("no controller selected for ") + command.text()
                    + QStringLiteral(": give --controllers, e.g. 0,3,5-7 or all")};
    return selected;
}

// What an ID written into the records as it is given may not hold: it would shift a CSV reader's columns or split a
// line. Refused, rather than quoted for scripts that split on commas.
bool breaksRecords(QChar c) { return c == u',' || c == u'"' || c.category() == QChar::Other_Control; }

// --unit N=ID, one per controller the run lists.
QMap<int, QString> units(const Options &o, const QList<int> &listed)
{
    QMap<int, QString> out;
    for (const QString &given : o.values(o.unit)) {
        const QString said = QStringLiteral("--unit ") + given + QStringLiteral(": ");
        const qsizetype equals = given.indexOf(QLatin1Char('='));
        bool ok = false;
        const int n = given.left(equals).trimmed().toInt(&ok);
        const QString id = given.mid(equals + 1);
        if (equals < 0 || !ok)
            throw Usage{said + QStringLiteral("give the controller number, '=' and the unit's ID, e.g. --unit 5=SN1234")};
        if (n < 0 || n >= kControllers)
            throw Usage{said + QStringLiteral("the controller number must be 0 to 31")};
        if (id.isEmpty())
            throw Usage{said + QStringLiteral("the ID after '=' is empty")};
        if (std::any_of(id.begin(), id.end(), breaksRecords))
            throw Usage{said + QStringLiteral("an ID may not hold a comma, a quote or a line break (they would shift the "
                                              "columns of the records); leave them out")};
        if (out.contains(n))
            throw Usage{said + QStringLiteral("controller %1 has a unit already (%1=%2): give each controller one --unit")
                                   .arg(n).arg(out[n])};
        if (!listed.contains(n))
            throw Usage{said + QStringLiteral("controller %1 is not selected for this run: add it to --controllers or "
                                              "leave out its --unit").arg(n)};
        out.insert(n, id);
    }
    return out;
}

// A tick box given as --x or --no-x; neither leaves it as it is.
std::optional<bool> tick(const Options &o, const QCommandLineOption &on, const QCommandLineOption &off)
{
    if (o.isSet(on) || o.isSet(off))
        return o.isSet(on);
    return std::nullopt;
}

std::optional<QString> text(const Options &o, const QCommandLineOption &option)
{
    return o.isSet(option) ? std::optional<QString>(o.value(option)) : std::nullopt;
}

} // namespace

Options::Options()
    : dir(valued("dir", QStringLiteral("Program folder (Flash.cfg, Boot.ini, Ports.ini, Log.txt)."), "DIR"))
    , port(valued("port", QStringLiteral("\"COM 3\", \"3\" or a device path."), "P"))
    , speed(valued("speed", QStringLiteral("Line speed (the Speed box)."), "N"))
    , timeout(valued("timeout", QStringLiteral("Answer time-out in ms (Time Out)."), "MS"))
    , delay(valued("delay", QStringLiteral("Parallel waiting delay in ms."), "MS"))
    , protocol(valued("protocol", QStringLiteral("The Protocol number."), "N"))
    , file(valued("file", QStringLiteral("HEX file."), "HEX"))
    , prot3(flag("prot3", QStringLiteral("Tick Prot 3: the controllers speak protocol 3.")))
    , noProt3(flag("no-prot3", QStringLiteral("Clear Prot 3.")))
    , prot4Plus(flag("prot4plus", QStringLiteral("Tick Prot 4+: frames carry the byte-sum check code.")))
    , noProt4Plus(flag("no-prot4plus", QStringLiteral("Clear Prot 4+ (the CRC).")))
    , sameProtocol(flag("same-protocol", QStringLiteral("Tick All Controllers same protocol.")))
    , noSameProtocol(flag("no-same-protocol", QStringLiteral("Clear All Controllers same protocol.")))
    , controllers(valued("controllers", QStringLiteral("e.g. 0,3,5-7 | all | none."), "LIST"))
    , settle(valued("settle-ms", QStringLiteral("Settle wait after the first answer byte (default 500)."), "N"))
    , hold(valued("hold-ms", QStringLiteral("How long a failure message is held (default 2000)."), "N"))
    , fast(flag("fast", QStringLiteral("Tick Fast answers: end each wait as soon as the answer is complete; hold "
                                       "failures 0.2 s.")))
    , noFast(flag("no-fast", QStringLiteral("Clear Fast answers (the full settle wait and failure hold).")))
    , knownSpeeds(flag("known-speeds", QStringLiteral("Tick Known speeds first: start each controller's speed search at "
                                                      "the speed it last answered at on this port (kept in Vantorel.ini, "
                                                      "also without --save).")))
    , noKnownSpeeds(flag("no-known-speeds", QStringLiteral("Clear Known speeds first (each search starts at the speed "
                                                           "in hand).")))
    , strict(flag("strict", QStringLiteral("Refuse to download a HEX file the image check warns about (wrong "
                                           "record checksums, a short configuration record); without it such a file "
                                           "is downloaded with a warning.")))
    , save(flag("save", QStringLiteral("Write the settings back to Flash.cfg at the end.")))
    , format(QStringLiteral("format"), QStringLiteral("text, json or csv (default text)."), QStringLiteral("F"),
             QStringLiteral("text"))
    , listPorts(flag("list-ports", QStringLiteral("List the COM items whose device is present, then the present "
                                                  "devices no COM item reaches, and end.")))
    , results(valued("results", QStringLiteral("Append one CSV row per controller to FILE (with a header when it is "
                                               "new), whatever --format is."), "FILE"))
    , logCopy(valued("log", QStringLiteral("Also append the traffic log to FILE, each line after an ISO 8601 time "
                                           "stamp, between a start and an end line (see below)."), "FILE"))
    , unit(valued("unit", QStringLiteral("The unit or serial number of controller N, for its row in the records "
                                         "(repeatable: one per controller), e.g. --unit 5=SN1234. No comma, quote or "
                                         "line break in ID. history: --unit ID finds that board's records, the latest "
                                         "run first."), "N=ID"))
    , stationRun(valued("station-run", QStringLiteral("The station run this run is one line of: ID goes into the run's "
                                                      "record, the same for every line of the station run. No comma, "
                                                      "quote, blank or line break in ID. history: the records of that "
                                                      "station run, every line of it."), "ID"))
    , resultsDb(valued("results-db", QStringLiteral("Results database: postgresql://user@host[:port]/database "
                                                    "or a SQLite file (default: Vantorel.ini's Results/Database, else "
                                                    "Results.db in the program folder). Give a password in PGPASSWORD "
                                                    "or ~/.pgpass, not here: others can read a command line."), "URL"))
    , controller(valued("controller", QStringLiteral("history: of this controller only."), "N"))
    , image(valued("image", QStringLiteral("history: runs with this image (its SHA-256, its checksum as shown, or the "
                                           "HEX file)."), "X"))
    , since(valued("since", QStringLiteral("history: from this UTC date or time on (2026-12-01 or "
                                           "2026-12-01T08:00)."), "DATE"))
    , station(valued("station", QStringLiteral("history: of this station (host name) only."), "NAME"))
    , status(valued("status", QStringLiteral("history: controllers that came out so (ok, mismatch, failed, "
                                             "erased-not-programmed, erase-unconfirmed, cancelled)."),
                            "OUTCOME"))
    , notImage(valued("not-image", QStringLiteral("history: each controller's latest flash record on each station "
                                                  "that does not show it holding this image."), "X"))
    , line(valued("line", QStringLiteral("A serial line of a station, in place of --port: PORT, or PORT:LIST with the "
                                         "line's own controllers (e.g. /dev/ttyUSB0:0-7). Give it once per line: the "
                                         "lines run at once, each in its own worker, and one report names each row's "
                                         "line. --unit then takes PORT:N=ID."), "PORT[:LIST]"))
    , stationWorker(hiddenFlag("station-worker", QStringLiteral("Set by a station run for each of its lines.")))
{
    parser_.setApplicationDescription(QStringLiteral("Runs one operation of the tool without a window.\nCOMMAND: ")
                                      + commandNames());
    parser_.addHelpOption();
    parser_.addVersionOption();
    for (const QCommandLineOption *o : all())
        parser_.addOption(*o);
    parser_.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("The operation to run."));
}

bool Options::parse(const QStringList &arguments, QString &error)
{
    if (parser_.parse(arguments))
        return true;
    error = parser_.errorText();
    if (error.endsWith(QLatin1Char('.')))
        error.chop(1);
    error = QStringLiteral("vantorel-cli: ") + error + QStringLiteral("; see --help");
    return false;
}

bool Options::helpAsked() const { return parser_.isSet(QStringLiteral("help")); }

bool Options::versionAsked() const { return parser_.isSet(QStringLiteral("version")); }

QByteArray Options::helpText() const { return parser_.helpText().toLocal8Bit() + kHelpEnd; }

void Options::showVersion() { parser_.showVersion(); }

QList<const QCommandLineOption *> Options::all() const
{
    return {&dir,        &port,          &speed,    &timeout,     &delay,          &protocol,       &file,
            &prot3,      &noProt3,       &prot4Plus, &noProt4Plus, &sameProtocol,   &noSameProtocol, &controllers,
            &settle,     &hold,          &fast,     &noFast,      &knownSpeeds,    &noKnownSpeeds,  &strict,
            &save,       &format,        &listPorts, &results,     &logCopy,        &unit,           &stationRun,
            &resultsDb,  &controller,    &image,    &since,       &station,        &status,         &notImage,
            &line,       &stationWorker};
}

QList<const QCommandLineOption *> Options::historyOptions() const
{
    return {&controller, &image, &since, &station, &status, &notImage};
}

QString Options::appDir() const { return isSet(dir) ? value(dir) : findAppDir(); }

QList<int> everyController()
{
    QList<int> all;
    for (int i = 0; i < kControllers; ++i)
        all << i;
    return all;
}

void errorLine(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool parseControllers(const QString &text, QList<int> &out)
{
    out.clear();
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("none"))
        return true;
    if (t == QLatin1String("all")) {
        for (int i = 0; i < 32; ++i)
            out << i;
        return true;
    }
    for (const QString &part : t.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false;
        bool ok2 = true;
        const int from = ends.value(0).trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : from;
        if (!ok1 || !ok2 || ends.size() > 2 || from < 0 || to > 31 || from > to)
            return false;
        for (int i = from; i <= to; ++i) {
            if (!out.contains(i))
                out << i;
        }
    }
    std::sort(out.begin(), out.end());
    return !out.isEmpty();
}

const Command &chosenCommand(const Options &o)
{
    const QStringList args = o.positionalArguments();
    const Command *command = args.size() == 1 ? findCommand(args[0]) : nullptr;
    if (!command && args.size() == 1)
        throw Usage{QStringLiteral("unknown command: ") + args[0] + QStringLiteral("; the commands: ") + commandNames()};
    if (!command)
        throw Usage{QStringLiteral("give one COMMAND: ") + commandNames()};
    if (!isText(o.value(o.format), {"text", "json", "csv"}))
        throw Usage{QStringLiteral("--format takes text, json or csv")};
    // A --controller meant as --controllers must not leave a download to Flash.cfg's ticks.
    for (const QCommandLineOption *h : o.historyOptions()) {
        if (!command->history && o.isSet(*h))
            throw Usage{QStringLiteral("--%1 filters history only; %2 chooses its controllers with --controllers")
                            .arg(h->names().first(), command->text())};
    }
    return *command;
}

Usage cannotRead(const QString &path, const Fault &f)
{
    return Usage{QStringLiteral("cannot read ") + path + QStringLiteral(": ") + f.description(), f.number()};
}

QString stationRunOf(const Options &o)
{
    if (!o.isSet(o.stationRun))
        return {};
    const QString id = o.value(o.stationRun);
    const QString said = QStringLiteral("--station-run ") + id + QStringLiteral(": ");
    if (o.values(o.stationRun).size() > 1)
        throw Usage{QStringLiteral("--station-run: give it once; a run is one line of one station run")};
    if (id.isEmpty())
        throw Usage{said + QStringLiteral("give the station run's ID, e.g. --station-run line3-0815")};
    // A blank too: the ID stays one word where scripts pass it on to the next worker or to history.
    if (std::any_of(id.begin(), id.end(), [](QChar c) { return breaksRecords(c) || c.isSpace(); }))
        throw Usage{said + QStringLiteral("an ID may not hold a comma, a quote, a blank or a line break; give letters, "
                                          "digits, '-' or '_', e.g. --station-run line3-0815")};
    return id;
}

void refuseFileOnly(const Options &o, const Command &command)
{
    if (!o.isSet(o.file))
        throw Usage{command.text() + QStringLiteral(" needs --file HEX")};
    if (!command.keepsRecord
        && (o.value(o.format) == QLatin1String("csv") || o.isSet(o.results) || o.isSet(o.unit) || o.isSet(o.stationRun)))
        throw Usage{command.text() + QStringLiteral(" prints text or json and keeps no record")};
}

RunSettings refuseBeforeStartUp(const Options &o, const Command &command)
{
    RunSettings s;
    if (o.isSet(o.dir) && !QFileInfo(o.value(o.dir)).isDir())
        throw Usage{QStringLiteral("--dir ") + o.value(o.dir) + QStringLiteral(" is not a folder")};
    if (o.isSet(o.controllers) && !parseControllers(o.value(o.controllers), s.ticked))
        throw Usage{QStringLiteral("--controllers takes a list such as 0,3,5-7, or all, or none")};
    s.settleMs = o.isSet(o.settle) ? number(o, o.settle, "milliseconds") : -1;
    s.holdMs = o.isSet(o.hold) ? number(o, o.hold, "milliseconds") : -1;
    if (o.isSet(o.port))
        portFromOption(o.value(o.port));
    if (o.isSet(o.timeout))
        sameRule(QStringLiteral("--timeout"), [&] { checkTimeOut(o.value(o.timeout), o.isSet(o.fast)); });
    if (o.isSet(o.delay))
        sameRule(QStringLiteral("--delay"), [&] { waitingDelayMs(o.value(o.delay)); });
    // Flash.cfg keeps no file name: a download always needs --file.
    if (command.download && !o.isSet(o.file))
        throw noHexFile();
    if (o.isSet(o.file))
        s.warnings = checkImage(o, command);
    s.appDir = o.appDir();
    s.units = units(o, refuseMissingSettings(o, command, s));
    s.stationRun = stationRunOf(o);
    return s;
}

void refuseWithoutPort(const Options &o, const RunSettings &s)
{
    if (o.isSet(o.port))
        return;
    // Nothing can be sent: a setting to give, not a port that failed to open.
    if (savedSettings(s.appDir).comPort.trimmed().isEmpty())
        throw Usage{QStringLiteral("no port: give --port, e.g. --port /dev/ttyUSB0 or --port \"COM 3\" (or save one in "
                                   "Flash.cfg)")};
}

void applyOptions(const Options &o, const RunSettings &settings, Session &session)
{
    FormEdits e;
    e.saveSettings = o.isSet(o.save);
    if (o.isSet(o.port))
        e.comPort = portFromOption(o.value(o.port));
    e.speed = text(o, o.speed);
    e.timeOut = text(o, o.timeout);
    e.waitingDelay = text(o, o.delay);
    e.protocol = text(o, o.protocol);
    e.sendP4First = tick(o, o.prot3, o.noProt3);
    e.prot4Plus = tick(o, o.prot4Plus, o.noProt4Plus);
    e.sameProtocol = tick(o, o.sameProtocol, o.noSameProtocol);
    e.fastAnswers = tick(o, o.fast, o.noFast);
    e.knownSpeedsFirst = tick(o, o.knownSpeeds, o.noKnownSpeeds);
    if (o.isSet(o.controllers))
        e.ticked = settings.ticked;
    if (settings.settleMs >= 0)
        e.settleDelay = settings.settleMs / 1000.0;
    if (settings.holdMs >= 0)
        e.failureHold = settings.holdMs / 1000.0;
    session.edit(e);
    if (o.isSet(o.file)) {
        session.dropFile(QFileInfo(o.value(o.file)).absoluteFilePath());
        if (session.form().fileChecksum.isEmpty())
            throw Usage{QStringLiteral("the HEX file ") + o.value(o.file) + QStringLiteral(" cannot be read")};
    }
    if (session.form().protocol.isEmpty())
        throw Usage{kNoProtocol};
}

Usage noHexFile() { return Usage{QStringLiteral("a download needs a readable HEX file: give --file HEX")}; }

QString portFromOption(const QString &text)
{
#ifdef Q_OS_UNIX
    static const QRegularExpression comItem(QStringLiteral("^\\s*(COM\\s*)?\\d+\\s*$"), QRegularExpression::CaseInsensitiveOption);
    if (text.startsWith(QLatin1Char('/')) || comItem.match(text).hasMatch())
        return text;
    if (QFileInfo::exists(QStringLiteral("/dev/") + text))
        return QStringLiteral("/dev/") + text;
    throw Usage{QStringLiteral("--port ") + text + QStringLiteral(": there is no /dev/") + text
                + QStringLiteral("; give a device path (e.g. /dev/ttyUSB0) or a COM item such as \"COM 3\" or 3 "
                                 "(--list-ports lists those present)")};
#else
    return text;
#endif
}

} // namespace vantorel
