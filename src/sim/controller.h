#pragma once

#include "sim/frame.h"
#include "sim/lineconfig.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <random>

namespace vantorel::sim {

enum class Mode { Firmware, Boot };

struct ControllerState {
    int number = 0;
    Mode mode = Mode::Firmware;
    int speed = 0;
    std::uint8_t protocolChar = 0;
    bool prot4Plus = false;
    int protocol = 4;
    std::uint32_t flashChecksum = 0; // 24-bit byte sum of the whole flash
    std::array<std::uint8_t, 3> version{};
    qint64 framesHeard = 0;
    qint64 answersSent = 0;
    bool stopped = false; // a stop fault has struck: it takes no notice any more
    QString flashSource;
};

// What a controller does about one frame.
struct Reaction {
    bool heard = false;
    QByteArray answer;     // empty: nothing goes back
    int answerDelayMs = 0;
    int answerPieces = 1;
    int pieceGapMs = 0;
    bool withNextWrite = false; // held until the tool's next byte has reached the line
    bool unplug = false;   // pull the line's plug now, instead of answering
};

// One controller: its flash, its boot program and its firmware's settings.
// Not thread-safe; the line serialises all access.
class Controller {
public:
    static constexpr std::uint8_t kAccepted = 0x61;
    static constexpr std::uint8_t kRefused = 0xE1;
    static constexpr std::uint8_t kBroadcast = 0x5F;

    explicit Controller(const ControllerConfig &config);

    // Every frame on the line is offered; most are not for this controller.
    Reaction hear(const Frame &frame);

    // Whether a frame starting with these two bytes could be for this controller.
    bool mightBeAddressed(std::uint8_t first, std::uint8_t address) const;

    int number() const { return config_.number; }
    ControllerState state() const;
    const QByteArray &flash() const { return flash_; }
    std::uint32_t flashChecksum() const;

private:
    enum class Check { None, Crc, Sum };

    bool hearsAtThisSpeed(const LineSignal &signal) const;
    Check checkOf(const QByteArray &frame) const;
    bool checkUnderstood(Check check) const;
    // Null when it does not understand the command: it then keeps silent.
    QByteArray act(const Frame &frame, bool broadcast);

    QByteArray answerFrame(std::uint8_t code, const QByteArray &data = {}) const;
    QByteArray withWrongLength(QByteArray bytes) const;
    QByteArray erase();
    QByteArray program(const QByteArray &frame, bool broadcast);
    QByteArray fullChecksum(const QByteArray &frame);
    void leaveBoot();
    QByteArray withFaults(QByteArray answer, bool framed);

    ControllerConfig config_;
    QByteArray flash_;
    std::uint32_t checksum_ = 0; // kept up to date: snapshots ask for it often
    Mode mode_;
    int speed_;
    std::uint8_t protocolChar_;
    bool prot4Plus_;
    int protocol_;
    // What the firmware ran at before an erase: kept where the new image
    // leaves a setting open.
    int firmwareSpeed_;
    std::uint8_t firmwareChar_;
    bool firmwareProt4Plus_;

    int batchesTaken_ = 0; // since the last erase; names the next batch
    std::map<int, int> batchRefusalsLeft_;
    int eraseRefusalsLeft_;
    int eraseAnswerDropsLeft_;
    int checksumRefusalsLeft_;
    int returnRefusalsLeft_;
    qint64 framesHeard_ = 0;
    qint64 answersSent_ = 0;
    bool stopped_ = false;
    std::mt19937 random_;
};

} // namespace vantorel::sim
