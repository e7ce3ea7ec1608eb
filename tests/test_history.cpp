// The History window over a results database written by real runs of the tool on a simulated line: its rows, its
// filters and its chart, on SQLite and on a PostgreSQL server of the test's own; and what it says when it cannot read.
#include "store/resultsstore.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "support/shardmain.h"
#include "support/pgserver.h"
#include "ui/historywindow.h"
#include "ui/mainwindow.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QStackedBarSeries>
#include <QSqlDatabase>
#include <QTcpServer>
#include <QTest>
#include <QtWidgets>

using namespace vantorel;

namespace {

constexpr int kPatienceMs = 60000; // a bound for the database's answer, never reached when it works

// The main window on a line of four controllers, each run's record kept to compare with what the window lists.
struct Station {
    LineBench bench;
    std::unique_ptr<MainWindow> window;
    QList<RunRecord> runs;

    // 1 takes the image; 2 is silent; 3 refuses its first batch until the download gives up on it; 4 holds other firmware.
    static sim::LineConfig line()
    {
        sim::ControllerConfig silent = controller(2), refusing = controller(3);
        silent.faults.silent = true;
        refusing.faults.refuseBatches = {{1, 4}};
        return lineOf({controller(1), silent, refusing, controller(4)});
    }
    explicit Station(const QString &database) : bench(line())
    {
        if (!database.isEmpty())
            bench.session->setResultsDatabase(database);
        bench.useImage(sampleImage());
        window = std::make_unique<MainWindow>(*bench.session);
        window->show();
    }
    void run(const QString &station, Session::Operation op, const QList<int> &ticked, const QMap<int, QString> &units = {})
    {
        bench.ctx().user.station = station;
        bench.session->units = units;
        bench.select(ticked);
        bench.session->run(op);
        runs << bench.session->lastRecord();
    }
    HistoryWindow *history()
    {
        auto *h = window->findChild<HistoryWindow *>("History");
        if (!h) {
            QTest::mouseClick(window->findChild<QWidget *>("HistoryButton"), Qt::LeftButton);
            h = window->findChild<HistoryWindow *>("History");
        }
        return h;
    }
    template <typename W> W *find(const char *name) { return history()->findChild<W *>(name); }
    // Waits for the read the filters asked for; false when it did not end.
    bool settled()
    {
        return QTest::qWaitFor([this] { return !history()->reading(); }, kPatienceMs);
    }
    void clearFilters()
    {
        find<QComboBox>("HistoryController")->setCurrentIndex(0);
        find<QComboBox>("HistoryStatus")->setCurrentIndex(0);
        for (const char *edit : {"HistoryUnit", "HistoryImage", "HistoryStation"})
            find<QLineEdit>(edit)->clear();
        find<QCheckBox>("HistorySinceOn")->setChecked(false);
        find<QCheckBox>("HistoryNotImage")->setChecked(false);
    }
    // "station operation controller outcome unit" of each listed row, sorted.
    QStringList listed()
    {
        const QAbstractItemModel *m = find<QTableView>("HistoryTable")->model();
        QStringList rows;
        for (int r = 0; r < m->rowCount(); ++r)
            rows << QStringList{m->index(r, 1).data().toString(), m->index(r, 2).data().toString(), m->index(r, 3).data().toString(),
                                m->index(r, 6).data().toString(), m->index(r, 4).data().toString()}.join(' ');
        rows.sort();
        return rows;
    }
    // The same of the runs' own records that 'keep' keeps.
    QStringList recorded(const std::function<bool(const RunRecord &, const ControllerRecord &)> &keep) const
    {
        QStringList rows;
        for (const RunRecord &r : runs)
            for (const ControllerRecord &c : r.controllers)
                if (keep(r, c))
                    rows << QStringList{r.station, r.operation, QString::number(c.number), c.outcome, c.unit}.join(' ');
        rows.sort();
        return rows;
    }
    // The chart's bars added up over its days: ok, failed, erased.
    QList<int> charted()
    {
        QList<int> sums;
        const auto *series = qobject_cast<QStackedBarSeries *>(find<QChartView>("HistoryChart")->chart()->series().value(0));
        for (const QBarSet *set : series ? series->barSets() : QList<QBarSet *>()) {
            int sum = 0;
            for (int i = 0; i < set->count(); ++i)
                sum += int(set->at(i));
            sums << sum;
        }
        return sums;
    }
    QStringList chartDays()
    {
        const QList<QAbstractAxis *> axes = find<QChartView>("HistoryChart")->chart()->axes(Qt::Horizontal);
        auto *x = axes.isEmpty() ? nullptr : qobject_cast<QBarCategoryAxis *>(axes.first());
        return x ? x->categories() : QStringList();
    }
};

using Keep = std::function<bool(const RunRecord &, const ControllerRecord &)>;

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void rowsFiltersAndChartShowWhatTheRunsRecorded_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("SQLite") << false;
        QTest::newRow("PostgreSQL") << true;
    }
    void rowsFiltersAndChartShowWhatTheRunsRecorded()
    {
        QFETCH(bool, postgres);
        std::unique_ptr<PgServer> server;
        if (postgres) {
            if (!PgServer::available() || !QSqlDatabase::isDriverAvailable("QPSQL"))
                skipOrFail("PostgreSQL's server programs or Qt's driver are not installed; scripts/setup installs them");
            server = std::make_unique<PgServer>();
            QVERIFY(server->ok);
        }
        Station s(postgres ? server->url() : QString());
        s.run("line3-a", Session::Operation::DownloadSerial, {1, 3}, {{1, "SN-1"}});
        s.run("line3-b", Session::Operation::FlashInfo, {1, 2, 4});
        const QString sum = s.bench.m().FileCheksum.text();
        QVERIFY2(s.recorded([](auto &, auto &c) { return c.outcome != "ok"; })
                     == QStringList({"line3-a download-serial 3 erased-not-programmed ", "line3-b flash-info 2 failed ",
                                     "line3-b flash-info 4 mismatch "})
                     && s.bench.session->lastKept().stored,
                 qPrintable(s.recorded([](auto &, auto &) { return true; }).join('\n') + s.bench.session->lastKept().note()));

        QVERIFY(s.history() && s.settled());
        const QString state = s.find<QLabel>("HistoryState")->text();
        QVERIFY2(state.startsWith("5 record(s) in ") && !state.contains(PgServer::Password), qPrintable(state));
        struct Filter { const char *name; std::function<void(Station &)> set; Keep keep; };
        const Filter filters[] = {
            {"none", [](Station &) {}, [](auto &, auto &) { return true; }},
            {"controller 1", [](Station &s) { s.find<QComboBox>("HistoryController")->setCurrentText("1"); },
             [](auto &, auto &c) { return c.number == 1; }},
            {"status failed", [](Station &s) { s.find<QComboBox>("HistoryStatus")->setCurrentText("failed"); },
             [](auto &, auto &c) { return c.outcome == "failed"; }},
            {"station and status", [](Station &s) {
                 s.find<QLineEdit>("HistoryStation")->setText("line3-a");
                 s.find<QComboBox>("HistoryStatus")->setCurrentText("erased-not-programmed"); },
             [](auto &r, auto &c) { return r.station == "line3-a" && c.outcome == "erased-not-programmed"; }},
            {"unit", [](Station &s) { s.find<QLineEdit>("HistoryUnit")->setText("SN-1"); },
             [](auto &, auto &c) { return c.unit == "SN-1"; }},
            {"image", [&](Station &s) { s.find<QLineEdit>("HistoryImage")->setText(sum.toLower()); },
             [&](auto &r, auto &) { return r.fileChecksum == sum; }},
            // Each controller is on one station once: its record is its latest.
            {"not image", [](Station &s) { s.find<QCheckBox>("HistoryNotImage")->setChecked(true); },
             [&](auto &, auto &c) { return !(c.outcome == "ok" && c.checksum == sum); }},
            {"since tomorrow", [](Station &s) {
                 s.find<QCheckBox>("HistorySinceOn")->setChecked(true);
                 s.find<QDateEdit>("HistorySince")->setDate(QDateTime::currentDateTimeUtc().date().addDays(1)); },
             [](auto &, auto &) { return false; }},
        };
        for (const Filter &f : filters) {
            s.clearFilters();
            f.set(s);
            QVERIFY2(s.settled(), f.name);
            QVERIFY2(s.listed() == s.recorded(f.keep), qPrintable(QString(f.name) + ":\n" + s.listed().join('\n')));
        }

        // Ok, failed (a mismatch too) and erased-not-programmed, per day, for all stations and for each.
        s.clearFilters();
        QVERIFY(s.settled());
        QStringList days;
        for (const RunRecord &r : s.runs)
            days << r.timeUtc.date().toString(Qt::ISODate);
        days.removeDuplicates();
        QCOMPARE(s.chartDays(), days);
        auto *station = s.find<QComboBox>("ChartStation");
        const std::pair<QString, QList<int>> counts[] = {
            {"All stations", {2, 2, 1}}, {"line3-a", {1, 0, 1}}, {"line3-b", {1, 2, 0}}};
        for (const auto &[name, expected] : counts) {
            station->setCurrentText(name);
            QCOMPARE(station->currentText(), name);
            QCOMPARE(s.charted(), expected);
        }
    }

    // What it says when it cannot read, with what to do; the window is served while the database keeps it waiting.
    void saysWhyItCannotRead()
    {
        if (!QSqlDatabase::isDriverAvailable("QPSQL"))
            skipOrFail("Qt's PostgreSQL driver is not installed (Debian: libqt6sql6-psql); scripts/setup installs it");
        QTcpServer mute; // the system takes connections for it; nothing reads them
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        Station s{QString()};
        const QString missing = s.bench.home.filePath("Elsewhere.db");
        struct Case { const char *name; QString database; std::function<void(Station &)> set; QStringList said; };
        const Case cases[] = {
            {"no file yet", missing, [](Station &) {},
             {"The results cannot be read: there is no results database at " + missing + " yet",
              "Database= names under [Results] in " + s.bench.home.filePath("Vantorel.ini")}},
            {"no image key", QString(), [](Station &s) { s.find<QLineEdit>("HistoryImage")->setText("fw.hex"); },
             {"Image: \"fw.hex\" is no SHA-256 (64 hex digits) nor a checksum as shown"}},
            {"a server that does not answer", QString("postgresql://station@127.0.0.1:%1/records").arg(mute.serverPort()), {},
             {QString("The results cannot be read: the results database postgresql://station@127.0.0.1:%1/records cannot be reached").arg(mute.serverPort()),
              "Database= names under [Results]"}},
        };
        s.run("line3-a", Session::Operation::FlashInfo, {1});
        QVERIFY(s.history() && s.settled() && !s.listed().isEmpty());
        for (const Case &c : cases) {
            s.bench.session->setResultsDatabase(c.database);
            s.clearFilters();
            if (c.set)
                c.set(s);
            int served = 0; // the event loop goes on meanwhile
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] { ++served; });
            tick.start(50);
            s.history()->readNow();
            const bool waits = s.history()->reading();
            QVERIFY2(s.settled(), c.name);
            const QString said = s.find<QLabel>("HistoryState")->text();
            for (const QString &part : c.said)
                QVERIFY2(said.contains(part), qPrintable(QString(c.name) + ": " + said));
            // Nothing earlier stays listed as if it answered this; a file that was not there is not made.
            QVERIFY2(s.listed().isEmpty() && s.charted() == QList<int>({0, 0, 0}) && !QFileInfo::exists(missing), c.name);
            if (c.database.startsWith("postgresql"))
                QVERIFY2(waits && served > 10, qPrintable(QString::number(served)));
        }
    }
};

VANTOREL_TEST_MAIN(TestHistory, QApplication)
#include "test_history.moc"
