#pragma once

#include "state/control.h"
#include "state/linksettings.h"

#include <array>

namespace vantorel {

struct SettingsForm;

// The main window as the operations see it: every control by its own name,
// and the state the window holds besides its controls.
class MainState {
public:
    MainState();
    MainState(const MainState &) = delete;
    MainState &operator=(const MainState &) = delete;

    static constexpr int kControllers = 32;

    Control FileName{QStringLiteral("File to download :")};
    Control Command1{QStringLiteral("&Browse ...")};
    Control FileCheksum{QStringLiteral("File Cheksum")};
    // Why the chosen file cannot be downloaded; empty when it can.
    Control FileProblem{QString(), true, false};
    // What the user should know of a file that can be downloaded; empty when nothing.
    Control FileWarning{QString(), true, false};
    // What became of the last run's record when it did not simply reach the results database.
    Control ResultsNote{QString(), true, false};
    // Said while the Protocol box is empty: every operation button waits for it.
    Control ProtocolHint{QString(), true, false};
    std::array<Control, kControllers> C;
    Control ALL{QStringLiteral("All")};
    Control NONE{QStringLiteral("None")};
    Control ComPort{QStringLiteral("Com Port:")};
    Control Vitesse{QStringLiteral("Speed:")};
    Control Auto{QStringLiteral("Auto"), false};
    Control Text1{QStringLiteral("Time Out:")};
    Control Text2{QStringLiteral("Parallel Waiting Delay:")};
    Control Protocol{QStringLiteral("Protocol:")};
    Control QRV3{QStringLiteral("Prot 3")};
    Control Protocol4Plus{QStringLiteral("Prot 4+")};
    Control ChkProto{QStringLiteral("All Controllers same protocol"), true, false};
    Control Cmd3to4{QStringLiteral("3 -> 4"), true, false};
    Control Cmd4to3{QStringLiteral("4 -> 3"), true, false};
    Control V4800{QStringLiteral("V4800")};
    Control V9600{QStringLiteral("V9600")};
    Control V19200{QStringLiteral("V19200")};
    Control V38400{QStringLiteral("V38400")};
    Control Check1{QStringLiteral("Save configuration on exit")};
    // Kept in Vantorel.ini (the context's user settings), not in Flash.cfg.
    Control FastAnswers{QStringLiteral("Fast answers")};
    Control KnownSpeedsFirst{QStringLiteral("Known speeds first")};
    Control ComBoot{QStringLiteral("&Boot Info"), false};
    Control ComInfo{QStringLiteral("&Flash Info"), false};
    Control ComLoad00{QStringLiteral("Download (Serial)"), false};
    Control ComLoad{QStringLiteral("&Download (Parallel)"), false};
    Control ComClose{QStringLiteral("&Exit")};

    // Window title, set at start-up.
    QString title;

    QString AppDir;       // ends in a separator
    QString BootSettings; // e.g. "9600,N,8,2"
    QString BootIniProblem; // why Boot.ini cannot be used; empty when it can
    bool SameProtocol = false;
    qint16 ControllerIndex = 0;

    // ALL and NONE pressed.
    void selectAll();
    void selectNone();
    // Shift+F12 released.
    void revealSameProtocol() { ChkProto.setVisible(true); }

    // The controllers ticked now, in index order.
    QList<int> selectedControllers() const;

private:
    void protocolChanged();
    void fastAnswersChanged();
};


// The boxes as they stand, as a run's settings (no file hash, no batch count: those are the Context's).
SettingsForm formOf(const MainState &m);

} // namespace vantorel
