#include "support/linebench.h"

#include "support/hexbuilder.h"

#include <QFile>

namespace vantorel {

double SilenceSkippingClock::seconds() const
{
    // Far beyond the few milliseconds a loaded kernel takes to pass bytes on.
    constexpr double kGrace = 0.05;
    const double now = real_.seconds();
    const auto [bytesIn, quiet] = line_.activity();
    // A lost line found here is thrown to the tool, as its own look would have.
    const bool idle = skipSilence && quiet && bytesIn == port_.written && (!port_.isOpen() || port_.bytesWaiting() == 0);
    if (!idle)
        idleSince_ = -1;
    else if (idleSince_ < 0)
        idleSince_ = now;
    else if (now - idleSince_ >= kGrace)
        skipped_ += 3600; // ends any wait at its next look
    return now + skipped_;
}

LineBench::LineBench(const sim::LineConfig &config, const sim::LineOptions &options)
    : line(std::make_unique<sim::Line>(config, options)), clock(*line, port)
{
    port.line = line.get();
    session = std::make_unique<Session>(port, desk, clock);
    session->startUp(home.path());
    Context &c = ctx();
    c.message.Label1.onChange([this] {
        if (!ctx().message.Label1.text().isEmpty()) {
            labels << ctx().message.Label1.text();
            runLines << ctx().message.runLine();
        }
    });
    c.timings.settleDelay = 1.0;
    c.timings.failureHold = 0.0;
    c.timings.detectionTimeOutMs = 5000;
    MainState &s = m();
    s.ComPort.setText(line->slavePath());
    s.Vitesse.setText(QStringLiteral("9600"));
    s.Text1.setText(QStringLiteral("5000"));
    s.Text2.setText(QStringLiteral("5"));
    s.Protocol.setText(QStringLiteral("3"));
    s.Check1.setValue(0);
}

LineBench::~LineBench()
{
    session->shutDown();
    session.reset();
    line->stop();
}

Context &LineBench::ctx() { return session->context(); }
MainState &LineBench::m() { return session->main(); }

Run &LineBench::run()
{
    if (!view)
        view = std::make_unique<WindowView>(ctx());
    run_ = runFromWindow(ctx(), *view);
    return *run_;
}

void LineBench::select(const QList<int> &controllers)
{
    for (int i = 0; i < 32; ++i)
        m().C[i].setValue(controllers.contains(i) ? 1 : 0);
}

QStringList LineBench::log() const
{
    QFile f(home.filePath(QStringLiteral("Log.txt")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromLatin1(f.readAll());
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    return text.isEmpty() ? QStringList() : text.split(QStringLiteral("\r\n"));
}

void LineBench::settle() const
{
    line->waitForReceived(port.written, 10000);
}

QList<QByteArray> LineBench::framesSent() const
{
    settle();
    QList<QByteArray> out;
    for (const sim::FrameRecord &f : line->frames())
        out << f.bytes;
    return out;
}

QByteArray LineBench::bytesSent() const
{
    QByteArray out;
    for (const auto &[speed, bytes] : sentWithSpeed(*this))
        out += bytes;
    return out;
}

QString LineBench::useImage(const QByteArray &hexText, const QString &name)
{
    const QString path = home.filePath(name);
    writeFile(path, hexText);
    session->dropFile(path);
    return path;
}

std::array<ModeRun, 2> runInBothModes(const sim::LineConfig &config, const sim::LineOptions &options,
                                      Session::Operation op, const std::function<void(LineBench &)> &setup)
{
    std::array<ModeRun, 2> runs;
    for (const bool fast : {false, true}) {
        sim::LineOptions paced = options;
        paced.pace = true;
        LineBench b(config, paced);
        setup(b);
        b.m().FastAnswers.setValue(fast ? 1 : 0);
        b.session->run(op);
        ModeRun &r = runs[fast ? 1 : 0];
        r.sent = sentWithSpeed(b);
        r.log = b.log();
        const InfoState &info = b.ctx().info;
        r.table << info.caption() + QLatin1Char('|') + info.Titre();
        for (int n = 0; n < InfoState::kControllers; ++n) {
            for (const ResultBox *box : {&info.verView(n), &info.ckSumView(n)})
                r.table << QStringLiteral("%1 %2 %3/%4/%5").arg(n).arg(box->text).arg(box->foreground).arg(box->background).arg(int(box->bold));
        }
        for (const RecordingDesk::Box &box : b.desk.boxes)
            r.boxes << box.title + QLatin1Char('|') + box.text;
        r.allWell = info.summaryAllWell();
    }
    return runs;
}

sim::ControllerConfig controller(int number, int speed, std::uint8_t protocolChar)
{
    sim::ControllerConfig c;
    c.number = number;
    c.speed = speed;
    c.protocolChar = protocolChar;
    return c;
}

sim::LineConfig lineOf(std::initializer_list<sim::ControllerConfig> controllers) { return {controllers}; }

sim::LineConfig lineAtOneSpeed(int count, int speed)
{
    sim::LineConfig line;
    for (int n = 0; n < count; ++n) {
        sim::ControllerConfig c = controller(n, speed);
        c.bootSpeed = speed;
        line.controllers.push_back(c);
    }
    return line;
}

void programAtSpeed(LineBench &b, int speed)
{
    b.clock.skipSilence = false;
    writeFile(b.home.filePath("Boot.ini"), QByteArray::number(speed) + "\r\n");
    b.m().BootSettings = QString::number(speed) + ",N,8,2";
    b.ctx().timings = Timings{};
}

std::unique_ptr<sim::Line> jsonLineOf(const QByteArrayList &controllers, const QString &folder)
{
    QByteArrayList json;
    for (const QByteArray &c : controllers)
        json << R"({"protocolChar": "0x04", "number": )" + c + "}";
    return std::make_unique<sim::Line>(
        sim::parseLineConfig(R"({"controllers": [)" + json.join(", ") + "]}", "test line", folder));
}

QList<QPair<int, QByteArray>> sentWithSpeed(const sim::Line &line)
{
    QList<QPair<int, QByteArray>> out;
    for (const sim::TrafficEntry &t : line.traffic()) {
        if (!t.fromTool)
            continue;
        if (!out.isEmpty() && out.last().first == t.signal.baud)
            out.last().second += t.bytes;
        else
            out.append({t.signal.baud, t.bytes});
    }
    return out;
}

} // namespace vantorel
