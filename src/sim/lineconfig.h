#pragma once

#include "sim/hexreading.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace vantorel::sim {

// A refused batch: the batch with this number (from 1, counted from the last
// erase) is refused `times` times before it is taken.
struct BatchRefusal {
    int batch = 1;
    int times = 1;
};

// Ways a controller misbehaves. All off by default.
struct Faults {
    bool silent = false;        // takes no notice of anything
    int refuseErase = 0;        // the first N erase commands are refused
    std::vector<BatchRefusal> refuseBatches;
    int refuseChecksum = 0;     // the first N full-checksum commands are refused
    int refuseReturn = 0;       // the first N return commands (to protocol 3) are refused
    double dropAnswers = 0;     // fraction of answers never sent
    double corruptAnswers = 0;  // fraction of answers with one bit flipped
    std::uint32_t seed = 1;     // makes the fractions and noise repeatable
    int wrongLength = 0;        // bytes added to (or, negative, cut from) every answer
    int noiseBefore = 0;        // random bytes sent ahead of every answer
    int noiseAfter = 0;         // random bytes sent after every answer
    int stopAfterFrames = -1;   // from frame N+1 on it takes no notice; -1: never
    int unplugAfterFrames = -1; // frame N+1 pulls the line's plug; -1: never
    // Its firmware reports a flash checksum one above what the flash holds, as
    // when flash cells gave way after the boot program accepted the image.
    bool damagedFlash = false;
    // Its boot program starts the firmware even after refusing the full
    // checksum, so a later flash check answers as if all went well.
    bool runsRefusedImage = false;
    // Its answers name this controller number instead of its own (a board
    // set to the wrong number); -1: its own.
    int answerAs = -1;
    int dropEraseAnswers = 0; // the first N erases are done, their answers never sent
};

struct ControllerConfig {
    int number = 0;
    int speed = 9600;
    std::uint8_t protocolChar = '@';
    bool prot4Plus = false;
    int protocol = 4; // 3 or 4 when its firmware starts
    std::array<std::uint8_t, 3> version{1, 0, 0};
    std::array<std::uint8_t, 3> bootVersion{1, 0, 0};
    std::uint16_t bootChecksum = 0;
    int bootSpeed = 9600;
    bool startInBoot = false; // waits in its boot program, as after a broken-off download
    // The address of its first flash byte: the flash holds kFlashBytes from there.
    int flashStart = 0;
    QByteArray flash;         // kFlashBytes; empty: erased
    QString flashSource;      // where the flash came from, for the state output
    int answerDelayMs = 0;
    // Answers leave in this many pieces with a pause between two, as a USB
    // adapter hands them over.
    int answerPieces = 1;
    int pieceGapMs = 0;
    // Its answer leaves only when the tool's next byte has reached the line:
    // as late as an answer can be and still meet the tool's next question, on
    // a fast machine or a starved one alike.
    bool answerWithNextWrite = false;
    Faults faults;
};

struct LineConfig {
    std::vector<ControllerConfig> controllers;
    // The line's own wishes, added to what the command line asks of every
    // line: in a station one line can be paced or echo while the others do not.
    bool echo = false;
    bool pace = false;
};

// One-line, user-facing: names the file, the place in it and what to do.
class ConfigError : public std::runtime_error {
public:
    explicit ConfigError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

// Four controllers at mixed speeds, for trying the tool without a file.
LineConfig defaultLine();

// An Intel HEX image every controller of defaultLine() takes: a little code
// and a configuration record that keeps each controller's speed and protocol
// character 0x04. Small, so that a demonstration download is quick.
QByteArray sampleImage();

// Reads a line description (JSON). A relative flash file name is taken from
// the description's folder. Throws ConfigError.
LineConfig readLineConfig(const QString &path);
// The same, from text; `origin` names it in messages and `folder` resolves
// relative flash file names.
LineConfig parseLineConfig(const QByteArray &json, const QString &origin, const QString &folder);

// The flash a download of this HEX file leaves: the data of every line at its
// address in erased flash. Throws ConfigError.
QByteArray flashFromHexFile(const QString &path, int flashStart = 0);

} // namespace vantorel::sim
