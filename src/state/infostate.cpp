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
    ++preparations_;
    running_ = true;
    closedInRun_ = false;
    changed();
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
