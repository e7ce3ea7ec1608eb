#include "state/mainstate.h"
#include "state/run.h"

#include "platform/fault.h"

#include <cmath>

namespace vantorel {

MainState::MainState()
{
    QStringList ports;
    for (int n = 1; n <= 99; ++n)
        ports << QStringLiteral("COM ") + QString::number(n);
    ComPort.setItems(ports);
    // The speed flags are indicators: say so where a technician will look.
    for (Control *flag : {&V4800, &V9600, &V19200, &V38400}) {
        flag->setToolTip(QStringLiteral("Ticked when ") + flag->caption().mid(1)
                         + QStringLiteral(" baud has been tried for the controller in hand. The tool ticks these "
                                          "while it searches the speed a controller answers at; a red \"No Answer\" "
                                          "during that search is not yet the verdict."));
    }
    Vitesse.setItems(speedList());

    Protocol.onChange([this] { protocolChanged(); });
    protocolChanged();
    QRV3.onChange([this] {
        Cmd3to4.setVisible(QRV3.ticked());
        Cmd4to3.setVisible(QRV3.ticked());
    });
    ChkProto.onChange([this] { SameProtocol = ChkProto.ticked(); });
    FileProblem.onChange([this] { FileProblem.setVisible(!FileProblem.text().isEmpty()); });
    FileWarning.onChange([this] { FileWarning.setVisible(!FileWarning.text().isEmpty()); });
    ResultsNote.onChange([this] { ResultsNote.setVisible(!ResultsNote.text().isEmpty()); });
    Protocol.setToolTip(QStringLiteral("The number the protocol character of every frame is made of: the byte whose "
                                       "code is the number plus one, so -1 to 254 (3 gives 04, 63 gives \"@\")."));
    FastAnswers.onChange([this] { fastAnswersChanged(); });
    FastAnswers.setToolTip(QStringLiteral(
        "Ends the wait for an answer as soon as a complete, correct answer is in, instead of always waiting "
        "half a second, and shows a failure for 0.2 s instead of 2 s. Leave it off to keep the original timing, "
        "for example when a controller's answers come late or broken up, or to compare with an older run."));
    fastAnswersChanged();
    KnownSpeedsFirst.setToolTip(QStringLiteral(
        "Starts the speed search of each controller at the speed it last answered at on this port (kept in "
        "Vantorel.ini), then tries the other speeds in the usual order, instead of starting at the Speed box's "
        "speed in hand. Saves the silent tries of a line whose controllers run at different speeds. Leave it off "
        "to search exactly as before."));
}

void MainState::fastAnswersChanged()
{
    // What 0 does follows from the two timings of the wait for an answer.
    const QString zero =
        FastAnswers.ticked()
            ? QStringLiteral("With Fast answers on, 0 ends that wait at once: only an answer already arriving when the "
                             "frame has gone out is taken, so in practice every controller shows \"No Answer\".")
            : QStringLiteral("0 ends that wait at once, but the half-second settle wait that follows still takes an "
                             "answer that begins within it.");
    Text1.setToolTip(QStringLiteral("How long to wait for the first byte of each answer, in milliseconds (0 or more). ")
                     + zero);
}

void MainState::protocolChanged()
{
    const bool haveProtocol = !Protocol.text().isEmpty();
    const bool canDownload = haveProtocol && !FileCheksum.text().isEmpty() && FileProblem.text().isEmpty();
    ComLoad.setEnabled(canDownload);
    ComLoad00.setEnabled(canDownload);
    Auto.setEnabled(haveProtocol);
    ComInfo.setEnabled(haveProtocol);
    ComBoot.setEnabled(haveProtocol);
    ProtocolHint.setText(haveProtocol ? QString()
                                      : QStringLiteral("The operation buttons wait for a number in the Protocol box: "
                                                       "type the controllers' protocol, for example 3."));
    ProtocolHint.setVisible(!haveProtocol);
}

// A loop of their own: the operations' ControllerIndex must never be moved by a click.
void MainState::selectAll()
{
    for (Control &c : C)
        c.setValue(1);
}

void MainState::selectNone()
{
    for (Control &c : C)
        c.setValue(0);
}

QList<int> MainState::selectedControllers() const
{
    QList<int> out;
    for (int i = 0; i < kControllers; ++i) {
        if (C[i].ticked())
            out << i;
    }
    return out;
}

SettingsForm formOf(const MainState &m)
{
    SettingsForm f;
    f.timeOut = m.Text1.text();
    f.waitingDelay = m.Text2.text();
    f.speed = m.Vitesse.text();
    f.protocol = m.Protocol.text();
    f.comPort = m.ComPort.text();
    f.fastAnswers = m.FastAnswers.ticked();
    f.knownSpeedsFirst = m.KnownSpeedsFirst.ticked();
    f.prot4Plus = m.Protocol4Plus.ticked();
    f.sendP4First = m.QRV3.ticked();
    f.sameProtocol = m.SameProtocol;
    f.bootSettings = m.BootSettings;
    f.bootIniProblem = m.BootIniProblem;
    f.appDir = m.AppDir;
    f.fileName = m.FileName.text();
    f.fileChecksum = m.FileCheksum.text();
    f.ticked = m.selectedControllers();
    return f;
}

} // namespace vantorel
