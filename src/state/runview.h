#pragma once

#include "platform/serialport.h"

#include <QList>
#include <QString>

#include <optional>

namespace vantorel {

// Seconds as "1:05" or "1:02:05", rounded: how the progress shows a time.
QString clockText(double seconds);

// Colours as 0xRRGGBB.
inline constexpr unsigned kBlack = 0x000000;
inline constexpr unsigned kRed = 0xFF0000;
inline constexpr unsigned kWhite = 0xFFFFFF;
inline constexpr unsigned kGrey = 0x808080;
inline constexpr int kDefaultBackground = -1;

// One result box of the Info window.
struct ResultBox {
    QString text;
    unsigned foreground = kBlack;
    int background = kDefaultBackground; // 0xRRGGBB, or the window's default
    bool bold = false;

    bool marked() const { return foreground != kBlack || background != kDefaultBackground; }
};

// What a download's time left is reckoned from: the bytes still to cross the
// line at its speed and the answered exchanges still to come, each costing its
// bytes and a known wait. Never from the time spent so far.
struct LinePlan {
    LineSettings line;         // of the erases and checks
    LineSettings bootLine;     // of the batches and full checksums
    QList<int> batchBytes;     // each programming frame
    int batchAnswerBytes = 7;  // the 61 after a batch
    int eraseBytes = 0;        // frame and answer of one erase
    int checksumBytes = 0;     // frame and answer of one full checksum
    int checkBytes = 0;        // frame and answer of one flash check
    double answerWait = 0;     // what an answered exchange waits beyond its bytes
    double broadcastDelay = 0; // the pause after the line has carried each broadcast batch
    // The erases' speed search: what a speed that does not answer costs, how
    // long into a speed its silence is certain (its first try's whole wait),
    // and how many such speeds each controller of the run is expected to meet.
    double silentSpeed = 0;
    double silenceSure = 0;
    QList<double> silentSpeeds;
    QList<double> silentChecks; // the same for a broadcast's checks
};

// Where the erase search of the controller in hand stands, at each speed it tries.
struct SearchOutlook {
    int controller = -1;
    double silentHere = 0;  // speeds expected not to answer, the one in hand included
    double silentAfter = 0; // the same once the one in hand has not answered
    bool last = false;      // no speed is left after the one in hand
    bool bootTry = false;   // when none answered: one more speed's try in the boot program
    bool endsRun = false;   // a controller not found ends the run
    bool checking = false;  // a broadcast's check, not an erase
    QList<double> later;    // expected silent speeds of each controller after it, now where it starts is known
};

// What becomes of one result box: what is not given stays as it is.
struct BoxPaint {
    std::optional<QString> text;
    std::optional<unsigned> foreground;
    std::optional<int> background;
    std::optional<bool> bold;
};

// What becomes of a row of the result window: its version and checksum boxes.
struct RowPaint {
    BoxPaint ver, ckSum;
};

// The picture beside a progress message.
enum class Picture { Working, Stop, Searching };

// What a run tells the program around it while it goes on. The window paints
// it into its controls and windows; nothing a run decides is read back from them.
class RunView {
public:
    virtual ~RunView() = default;

    // The controllers' ticks stay live while a run goes on: one cleared
    // before its turn is passed over.
    virtual bool ticked(int controller) const = 0;

    // The main window.
    virtual void speedInHand(int speed, const QList<int> &tried) = 0;
    virtual void controllerInHand(int controller) = 0;
    virtual void protocolTakenOn(const QString &protocol) = 0;
    virtual void prot4PlusTakenOn(bool on) = 0;
    // The automatic detection: its time-out shown while it searches, and
    // whether each controller answered.
    virtual void detecting(bool on, int timeOutMs) = 0;
    virtual void detected(int controller, bool answered) = 0;

    // The result window.
    virtual void prepareResults(const QString &title, const QString &fileChecksum) = 0;
    virtual void paintRow(int controller, const RowPaint &paint) = 0;
    // The summary line of a query or download, from the run's outcomes.
    virtual void summarize(const QString &operation, bool download, const QList<int> &ticked) = 0;

    // The progress window.
    virtual void message(Picture picture, const QString &text) = 0;
    virtual void startRun(const QList<int> &controllers, int batches, bool broadcast) = 0;
    // A run that sends no image: no batches to count.
    void startRun(const QList<int> &controllers) { startRun(controllers, 0, false); }
    virtual void planLine(const LinePlan &plan) = 0;
    virtual void searching(const SearchOutlook &outlook) = 0;
    virtual void atController(int controller) = 0;
    virtual void leaveOut(int controller) = 0;
    virtual void batchesSent(int sent, int total) = 0;
    virtual void closeProgress() = 0;
    virtual void endRun() = 0;
};

} // namespace vantorel
