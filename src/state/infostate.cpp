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
    changed();
}

void InfoState::setSummary(const QString &line, bool allWell)
{
    touch();
    summary_ = line;
    summaryAllWell_ = allWell;
    changed();
}

void InfoState::close()
{
    if (!exists_)
        return;
    exists_ = false;
    shown_ = false;
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
