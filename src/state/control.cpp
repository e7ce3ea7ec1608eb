#include "state/control.h"

namespace vantorel {

void Control::setText(const QString &text)
{
    if (text == text_)
        return;
    text_ = text;
    updated();
    changed();
}

void Control::setValue(int value)
{
    if (value == value_)
        return;
    value_ = value;
    updated();
    changed();
}

void Control::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    updated();
}

void Control::setVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    updated();
}

void Control::setToolTip(const QString &toolTip)
{
    if (toolTip == toolTip_)
        return;
    toolTip_ = toolTip;
    updated();
}

void Control::setItems(const QStringList &items)
{
    items_ = items;
    updated();
}

int Control::onUpdate(Listener l)
{
    views_.emplace_back(nextKey_, std::move(l));
    return nextKey_++;
}

int Control::onFocusRequest(Listener l)
{
    focusViews_.emplace_back(nextKey_, std::move(l));
    return nextKey_++;
}

void Control::removeView(int key)
{
    std::erase_if(views_, [key](const auto &v) { return v.first == key; });
    std::erase_if(focusViews_, [key](const auto &v) { return v.first == key; });
}

void Control::requestFocus()
{
    const auto views = focusViews_;
    for (const auto &v : views)
        v.second();
}

void Control::changed()
{
    // Copy: a reaction may add listeners.
    const auto reactions = reactions_;
    for (const auto &l : reactions)
        l();
}

void Control::updated()
{
    const auto views = views_;
    for (const auto &v : views)
        v.second();
}

} // namespace vantorel
