#include "state/infostate.h"

namespace vantorel {

void InfoState::touch()
{
    if (exists_)
        return;
    exists_ = true;
    shown_ = false;
    ver_.fill(ResultBox{});
    ckSum_.fill(ResultBox{});
    ended_.fill(std::nullopt);
    caption_ = QStringLiteral("Flash Info");
    titre_ = QStringLiteral("Flash Info");
    label41Visible_ = true;
    fileCheksum_.clear();
    summary_.clear();
}

ResultBox &InfoState::Ver(int i)
{
    touch();
    return ver_.at(static_cast<size_t>(i));
}

ResultBox &InfoState::CkSum(int i)
{
    touch();
    return ckSum_.at(static_cast<size_t>(i));
}

void InfoState::prepare(const QString &title, const QString &fileChecksum)
{
    touch();
    fileCheksum_ = fileChecksum;
    caption_ = title;
    titre_ = title;
    label41Visible_ = title == QLatin1String("Flash Info");
    shown_ = true;
    summary_.clear();
    ended_.fill(std::nullopt);
    ++preparations_;
    running_ = true;
    closedInRun_ = false;
    changed();
}

namespace {
// The words of a row whose boxes do not tell how the run left it; none where
// the run itself wrote its outcome into the boxes.
std::optional<std::pair<ResultBox, ResultBox>> endWords(const ControllerOutcome &o, const ResultBox &ver, const ResultBox &ckSum)
{
    const auto grey = [](const char *text) { return ResultBox{QString::fromLatin1(text), kGrey, kDefaultBackground, false}; };
    const auto red = [](const char *text) { return ResultBox{QString::fromLatin1(text), kRed, kDefaultBackground, true}; };
    switch (o.outcome) {
    case Outcome::ErasedNotProgrammed: return std::pair{red("Erased"), red("No Firmware")};
    case Outcome::EraseUnconfirmed: return std::pair{red("May be"), red("erased")};
    case Outcome::Cancelled: return std::pair{grey("Cancelled"), grey("untouched")};
    case Outcome::NotReached: return std::pair{grey("Not"), grey("reached")};
    case Outcome::Failed:
        // Programmed, and Cancel came before its check: its erase emptied the boxes.
        if (o.programmed && ver.text.isEmpty() && ckSum.text.isEmpty())
            return std::pair{red("Not"), red("verified")};
        break;
    case Outcome::Ok:
    case Outcome::Mismatch: break;
    }
    return std::nullopt;
}
} // namespace

std::pair<ResultBox, ResultBox> InfoState::shownRow(int i) const
{
    const size_t k = static_cast<size_t>(i);
    if (const auto &ended = ended_.at(k))
        return *ended;
    return {ver_.at(k), ckSum_.at(k)};
}

void InfoState::endRow(int i, const ControllerOutcome &outcome)
{
    touch();
    const size_t k = static_cast<size_t>(i);
    ended_.at(k) = endWords(outcome, ver_.at(k), ckSum_.at(k));
}

void InfoState::setSummary(const QString &line, bool allWell)
{
    touch();
    summary_ = line;
    summaryAllWell_ = allWell;
    if (running_ && closedInRun_)
        shown_ = true;
    running_ = closedInRun_ = false;
    changed();
}

void InfoState::close()
{
    if (!exists_)
        return;
    shown_ = false;
    if (running_)
        closedInRun_ = true;
    else
        exists_ = false;
    changed();
}

void InfoState::changed()
{
    const auto views = views_;
    for (const auto &v : views)
        v.second();
}

int InfoState::onUpdate(std::function<void()> l)
{
    views_.emplace_back(nextKey_, std::move(l));
    return nextKey_++;
}

void InfoState::removeView(int key)
{
    std::erase_if(views_, [key](const auto &v) { return v.first == key; });
}

} // namespace vantorel
