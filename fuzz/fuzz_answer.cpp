// The judging of received bytes: nothing may crash, and fast answers may end
// the wait only on bytes that the written rule accepts, so both modes give
// the same verdicts. Stray answers set aside are whole, sound answers of
// another controller, and nothing is lost or added in setting them aside.
#include "link/checkcode.h"
#include "link/exchange.h"

#include <cstdint>
#include <algorithm>
#include <cstdlib>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // First byte: flags and where the frame ends; the frame, then what came back.
    const AnswerFlags flags{(data[0] & 1) != 0, (data[0] & 2) != 0};
    const std::size_t frameSize = std::min<std::size_t>(data[1], size - 2);
    const QByteArray frame(reinterpret_cast<const char *>(data) + 2, static_cast<qsizetype>(frameSize));
    const QByteArray received(reinterpret_cast<const char *>(data) + 2 + frameSize,
                              static_cast<qsizetype>(size - 2 - frameSize));
    const AnswerJudgement judged = judgeAnswer(received, frame, flags);
    if (answerComplete(received, frame, flags) && judged.verdict != AnswerVerdict::Accepted
        && judged.verdict != AnswerVerdict::Accepted682F)
        std::abort(); // fast answers would stop on bytes the written rule refuses
    if (judged.verdict == AnswerVerdict::Accepted) {
        const QByteArray &a = judged.answer;
        if (a.size() < 3)
            std::abort();
        const QByteArray body = a.left(a.size() - 3);
        const QByteArray carried = a.mid(a.size() - 3, 2);
        // Accepted means checked: a CRC, or with Prot 4+ a byte sum.
        if (carried != CalcCRC(body) && !(flags.prot4Plus && carried == CalcSum(body)))
            std::abort();
    }
    // The frame's own second byte is the controller asked.
    const int ctrl = frame.size() >= 2 ? quint8(frame[1]) : 0;
    const StraySplit split = splitStray(received, frame, ctrl, flags);
    if (split.stray + split.rest != received)
        std::abort();
    for (QByteArray stray = split.stray; !stray.isEmpty();) {
        const qsizetype whole = quint8(stray.size() > 2 ? stray[2] : 0) + 6;
        if (stray.size() < whole || quint8(stray[1]) == ctrl || stray[whole - 1] != '\x04'
            || judgeAnswer(stray.left(whole), QByteArray(), flags).verdict != AnswerVerdict::Accepted)
            std::abort();
        stray.remove(0, whole);
    }
    return 0;
}
