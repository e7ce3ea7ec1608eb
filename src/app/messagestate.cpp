#include "app/messagestate.h"

namespace vantorel {

MessageState::MessageState()
{
    Inquiet.setVisible(false);
    Stop.setVisible(false);
    Jumelle.setVisible(false);
}

void MessageState::touch()
{
    if (exists_)
        return;
    exists_ = true;
    shown_ = false;
    Label1.setText(QString());
    Inquiet.setVisible(false);
    Stop.setVisible(false);
    Jumelle.setVisible(false);
    batchesTotal = 0;
    batchesSent = 0;
    controllerInHand.clear();
    updated();
}

void MessageState::show()
{
    touch();
    if (shown_)
        return;
    shown_ = true;
    updated();
}

void MessageState::close()
{
    if (!exists_)
        return;
    exists_ = false;
    shown_ = false;
    updated();
}

void MessageState::cancel()
{
    if (onCancel)
        onCancel();
    close();
}

void MessageState::showOnly(Control &picture)
{
    touch();
    Inquiet.setVisible(&picture == &Inquiet);
    Stop.setVisible(&picture == &Stop);
    Jumelle.setVisible(&picture == &Jumelle);
}

void MessageState::setProgress(int sent, int total)
{
    touch();
    batchesSent = sent;
    batchesTotal = total;
    updated();
}

int MessageState::onUpdate(Control::Listener l)
{
    views_.emplace_back(nextKey_, std::move(l));
    return nextKey_++;
}

void MessageState::removeView(int key)
{
    std::erase_if(views_, [key](const auto &v) { return v.first == key; });
}

void MessageState::updated()
{
    const auto views = views_;
    for (const auto &v : views)
        v.second();
}

} // namespace vantorel
