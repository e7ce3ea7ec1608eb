#include "programming/flashcheck.h"

#include "state/run.h"
#include "link/protocolchar.h"
#include "run/askagain.h"
#include "run/status.h"

namespace vantorel {

bool FlashCheck(Run &run, int ctrl)
{
    const VersionQuery query{flashCheckFrame, QStringLiteral("Checking Flash "), QStringLiteral("Message : $73  - Checking Flash")};
    ProtocolCharacter character(run.link);
    int asked = 0;
    std::optional<VersionAnswer> answer;
    Asked asks = Asked::Again;
    while (asks == Asked::Again)
        asks = askVersion(run, ctrl, query, character, asked, answer);
    if (asks == Asked::Answered) {
        const QString fileSum = run.form.fileChecksum;
        ShowVersion(run, ctrl, *answer, !fileSum.isEmpty() && !isFileChecksum(answer->checksum, fileSum));
    }
    run.view.closeProgress();
    return asks == Asked::Answered;
}

} // namespace vantorel
